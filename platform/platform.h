// The only surface through which savelink reaches the operating system.
//
// On Windows these are the platform's own calls. Elsewhere (where we build
// and test) the same calls are served by platform_posix.cpp, and the tests
// serve them from a recording fake; the declarations below are ours, written
// in the shape the code expects.
#ifndef SAVELINK_PLATFORM_H
#define SAVELINK_PLATFORM_H

#include <stddef.h>

// SAVELINK_FAKE_PLATFORM: the logic built for Windows over the tests' fake,
// which must see our declarations, not the system's imported ones.
#if defined(_WIN32) && !defined(SAVELINK_FAKE_PLATFORM)

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#define WIDE(text) L##text

// shell32 is not imported: a DLL of that name in the program's folder (a
// Downloads folder) would be loaded before wmain. LoadSystemLibraries
// takes it from System32 alone, and this call goes through it.
#ifndef CSIDL_APPDATA
#define CSIDL_APPDATA 0x001A
#endif
BOOL SHGetSpecialFolderPathW(HWND owner, WCHAR* path, int folder, BOOL create);

// First thing in the process: restricts the DLL search to System32 and
// loads shell32 from there. When that fails, SHGetSpecialFolderPathW fails
// with the loader's error.
void LoadSystemLibraries(void);

// Older SDK headers do not know the Developer Mode flag (Windows 10 1703+).
#ifndef SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE
#define SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE 0x2
#endif

#else  // not _WIN32, or over the fake

// UTF-16 code units, as on Windows.
#ifdef _WIN32
typedef wchar_t WCHAR;
#define WIDE(text) L##text
#else
typedef char16_t WCHAR;
#define WIDE(text) u##text
#endif
typedef int BOOL;
typedef unsigned char BOOLEAN;
typedef unsigned int DWORD;
typedef void* HWND;
typedef void* LPSECURITY_ATTRIBUTES;

#ifndef FALSE
#define FALSE 0
#define TRUE 1
#endif
#ifndef MAX_PATH
#define MAX_PATH 260
#endif
#define CSIDL_APPDATA 0x001A
#define SYMBOLIC_LINK_FLAG_DIRECTORY 0x1
#define SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE 0x2

// Error codes with the values Windows gives them, so that the code that
// explains a failure reads the same on every platform.
#define ERROR_SUCCESS 0
#define ERROR_INVALID_FUNCTION 1
#define ERROR_FILE_NOT_FOUND 2
#define ERROR_PATH_NOT_FOUND 3
#define ERROR_ACCESS_DENIED 5
#define ERROR_NOT_ENOUGH_MEMORY 8
#define ERROR_WRITE_PROTECT 19
#define ERROR_GEN_FAILURE 31
#define ERROR_SHARING_VIOLATION 32
#define ERROR_NOT_SUPPORTED 50
#define ERROR_INVALID_PARAMETER 87
#define ERROR_DISK_FULL 112
#define ERROR_MOD_NOT_FOUND 126
#define ERROR_PROC_NOT_FOUND 127
#define ERROR_INVALID_NAME 123
#define ERROR_DIR_NOT_EMPTY 145
#define ERROR_BUSY 170
#define ERROR_ALREADY_EXISTS 183
#define ERROR_FILENAME_EXCED_RANGE 206
#define ERROR_DIRECTORY 267
#define ERROR_PRIVILEGE_NOT_HELD 1314
#define ERROR_CANT_RESOLVE_FILENAME 1921
#define ERROR_INVALID_REPARSE_DATA 4392

BOOL SHGetSpecialFolderPathW(HWND owner, WCHAR* path, int folder, BOOL create);
BOOL CreateDirectoryW(const WCHAR* path, LPSECURITY_ATTRIBUTES attributes);
BOOL RemoveDirectoryW(const WCHAR* path);
BOOLEAN CreateSymbolicLinkW(const WCHAR* link, const WCHAR* target, DWORD flags);
DWORD GetLastError(void);
void SetLastError(DWORD code);
void Sleep(DWORD milliseconds);

#endif  // _WIN32

// Operations of our own, one implementation per platform.

// Nonzero when a folder (reached through any links) stands at path.
int IsExistingFolder(const WCHAR* path);

// Nonzero when path itself is a symbolic link or a junction; never follows it.
int IsDirectoryLink(const WCHAR* path);

// Nonzero only when path leads to a folder that certainly holds nothing.
int IsEmptyFolder(const WCHAR* path);

// The full path of the folder that path leads to, through any links, in
// destination; 0 when there is none or it does not fit capacity.
int GetLinkDestination(const WCHAR* path, WCHAR* destination, size_t capacity);

// Nonzero when both paths open one and the same folder.
int IsSameFolder(const WCHAR* first, const WCHAR* second);

// Makes a directory junction at link that leads to the absolute path target.
// Leaves nothing behind when it fails; the reason is in GetLastError().
int CreateDirectoryJunction(const WCHAR* link, const WCHAR* target);

// The system's own words for an error code, NUL-terminated, without a final
// full stop or line break; truncated to fit capacity.
void DescribeError(DWORD code, WCHAR* text, size_t capacity);

// Writes bytes to standard output, in one piece, and flushes it.
void WriteStandardOutput(const char* text, size_t length);

// Writes a wide text to standard error so that every character shows:
// as wide text to a console, as UTF-8 anywhere else.
void WriteErrorText(const WCHAR* text);

// Hands a command line to the platform's command processor and waits.
int RunCommandLine(const char* commandLine);

#endif  // SAVELINK_PLATFORM_H
