// The operations of our own on Windows. The Win32 calls the program makes
// directly (CreateDirectoryW, RemoveDirectoryW, CreateSymbolicLinkW,
// GetLastError, Sleep) are the platform's; SHGetSpecialFolderPathW is
// shell32's, reached through the copy loaded from System32.
#include "platform/platform.h"
#include "platform/folder_identity.h"
#include "platform/junction_data.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <winioctl.h>

typedef BOOL(WINAPI* SpecialFolderPathFunction)(HWND, LPWSTR, int, BOOL);

static SpecialFolderPathFunction g_specialFolderPath = NULL;
static DWORD g_shellError = ERROR_MOD_NOT_FOUND;

void LoadSystemLibraries(void)
{
    HMODULE shell;
    // Every later load, shell32's own dependencies and delay loads
    // included, then comes from System32 and never from the program's folder.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    shell = LoadLibraryExW(L"shell32.dll", NULL, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (shell == NULL) {
        g_shellError = GetLastError();
        return;
    }
    // Through void (*)(void): the one cast of a function pointer that
    // compilers take as deliberate.
    g_specialFolderPath = (SpecialFolderPathFunction)(void (*)(void))GetProcAddress(shell, "SHGetSpecialFolderPathW");
    if (g_specialFolderPath == NULL)
        g_shellError = GetLastError();
}

BOOL SHGetSpecialFolderPathW(HWND owner, WCHAR* path, int folder, BOOL create)
{
    if (g_specialFolderPath == NULL) {
        SetLastError(g_shellError);
        return FALSE;
    }
    return g_specialFolderPath(owner, path, folder, create);
}

// Read attributes is the least access that answers the questions below;
// anyone who may list a folder has it. Backup semantics are what let
// CreateFileW open a folder at all.
static HANDLE OpenForQuery(const WCHAR* path, DWORD flags)
{
    return CreateFileW(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags, NULL);
}

static int IsFolderHandle(HANDLE handle)
{
    FILE_BASIC_INFO basic;
    return GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic) &&
           (basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

int IsExistingFolder(const WCHAR* path)
{
    HANDLE handle = OpenForQuery(path, 0);
    int folder;
    if (handle == INVALID_HANDLE_VALUE)
        return 0;
    folder = IsFolderHandle(handle);
    CloseHandle(handle);
    return folder;
}

int IsEmptyFolder(const WCHAR* path)
{
    WCHAR pattern[MAX_PATH + 2];
    WIN32_FIND_DATAW data;
    HANDLE search;
    size_t length = wcslen(path);
    int empty = 1;

    if (length + 3 > sizeof pattern / sizeof pattern[0])
        return 0;
    memcpy(pattern, path, length * sizeof(WCHAR));
    memcpy(pattern + length, L"\\*", 3 * sizeof(WCHAR));
    // Lists what the path leads to; fails for a file or nothing at all.
    search = FindFirstFileW(pattern, &data);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    do {
        empty = wcscmp(data.cFileName, L".") == 0 || wcscmp(data.cFileName, L"..") == 0;
    } while (empty && FindNextFileW(search, &data));
    // A listing cut short by an error proves nothing.
    if (empty && GetLastError() != ERROR_NO_MORE_FILES)
        empty = 0;
    FindClose(search);
    return empty;
}

// The final path comes as "\\?\C:\..." or "\\?\UNC\server\..."; a
// player reads it without the prefix.
int GetLinkDestination(const WCHAR* path, WCHAR* destination, size_t capacity)
{
    WCHAR final[MAX_PATH + 8];
    const WCHAR* shown = final;
    HANDLE handle = OpenForQuery(path, 0);
    DWORD length;
    size_t shownLength;
    if (handle == INVALID_HANDLE_VALUE)
        return 0;
    length = GetFinalPathNameByHandleW(handle, final, sizeof final / sizeof final[0], FILE_NAME_NORMALIZED);
    CloseHandle(handle);
    if (length == 0 || length >= sizeof final / sizeof final[0])
        return 0;
    if (wcsncmp(final, L"\\\\?\\UNC\\", 8) == 0) {
        shown = final + 6;
        final[6] = L'\\';
    } else if (wcsncmp(final, L"\\\\?\\", 4) == 0) {
        shown = final + 4;
    }
    shownLength = wcslen(shown);
    if (shownLength + 1 > capacity)
        return 0;
    memcpy(destination, shown, (shownLength + 1) * sizeof(WCHAR));
    return 1;
}

// What names a folder however it is reached: the volume serial number and
// the 128-bit file id. The 64-bit index is not unique on ReFS, so it is
// used only where the file system knows no FileIdInfo.
static int GetFolderIdentity(HANDLE handle, struct FolderIdentity* identity)
{
    FILE_ID_INFO idInfo;
    BY_HANDLE_FILE_INFORMATION information;
    DWORD error;

    memset(identity, 0, sizeof *identity);
    if (GetFileInformationByHandleEx(handle, FileIdInfo, &idInfo, sizeof idInfo)) {
        identity->volume = idInfo.VolumeSerialNumber;
        memcpy(identity->id, idInfo.FileId.Identifier, sizeof identity->id);
    } else {
        error = GetLastError();
        if (error != ERROR_INVALID_PARAMETER && error != ERROR_NOT_SUPPORTED &&
            error != ERROR_INVALID_FUNCTION)
            return 0;
        if (!GetFileInformationByHandle(handle, &information))
            return 0;
        identity->volume = information.dwVolumeSerialNumber;
        memcpy(identity->id, &information.nFileIndexLow, sizeof information.nFileIndexLow);
        memcpy(identity->id + 4, &information.nFileIndexHigh, sizeof information.nFileIndexHigh);
    }
    return 1;
}

// Both handles stay open while comparing, so that neither name can be
// given to another folder in between.
int IsSameFolder(const WCHAR* first, const WCHAR* second)
{
    struct FolderIdentity a;
    struct FolderIdentity b;
    HANDLE one = OpenForQuery(first, 0);
    HANDLE two = OpenForQuery(second, 0);
    int same = one != INVALID_HANDLE_VALUE && two != INVALID_HANDLE_VALUE && IsFolderHandle(one) &&
               IsFolderHandle(two) && GetFolderIdentity(one, &a) && GetFolderIdentity(two, &b) &&
               IsSameFolderIdentity(&a, &b);
    if (one != INVALID_HANDLE_VALUE)
        CloseHandle(one);
    if (two != INVALID_HANDLE_VALUE)
        CloseHandle(two);
    return same;
}

// The entry itself, not what it leads to. A directory listing's attributes
// may be out of date on NTFS; the entry's own are not.
int IsDirectoryLink(const WCHAR* path)
{
    FILE_ATTRIBUTE_TAG_INFO tag;
    HANDLE handle = OpenForQuery(path, FILE_FLAG_OPEN_REPARSE_POINT);
    int link;
    if (handle == INVALID_HANDLE_VALUE)
        return 0;
    link = GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag) &&
           (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
           (tag.ReparseTag == IO_REPARSE_TAG_SYMLINK || tag.ReparseTag == IO_REPARSE_TAG_MOUNT_POINT);
    CloseHandle(handle);
    return link;
}

// The substitute name is an NT path and is taken as it stands: Win32 calls
// collapse "D:\\Milestone", a junction would not. The full path has every
// such part resolved.
size_t BuildJunctionDataForFolder(const WCHAR* target, unsigned char* buffer, size_t capacity)
{
    WCHAR fullTarget[MAX_PATH];
    DWORD fullLength = GetFullPathNameW(target, MAX_PATH, fullTarget, NULL);
    size_t size;
    if (fullLength == 0 || fullLength >= MAX_PATH) {
        SetLastError(fullLength == 0 ? GetLastError() : (DWORD)ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    size = BuildJunctionData(fullTarget, buffer, capacity);
    // A network share or any path without a drive letter.
    if (size == 0)
        SetLastError(ERROR_INVALID_REPARSE_DATA);
    return size;
}

int CreateDirectoryJunction(const WCHAR* link, const WCHAR* target)
{
    unsigned char data[JUNCTION_DATA_CAPACITY];
    size_t size = BuildJunctionDataForFolder(target, data, sizeof data);
    DWORD returned = 0;
    DWORD error;
    HANDLE handle;
    BOOL ok;

    if (size == 0)
        return 0;
    if (!CreateDirectoryW(link, NULL))
        return 0;
    handle = CreateFileW(link, GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (handle == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        RemoveDirectoryW(link);
        SetLastError(error);
        return 0;
    }
    ok = DeviceIoControl(handle, FSCTL_SET_REPARSE_POINT, data, (DWORD)size, NULL, 0, &returned, NULL);
    error = GetLastError();
    CloseHandle(handle);
    if (!ok) {
        // The empty folder made for the junction must not stay behind.
        RemoveDirectoryW(link);
        SetLastError(error);
        return 0;
    }
    return 1;
}

#define SYSTEM_TEXT_CAPACITY 512

// "error 1234", for a code the system has no text for.
static size_t DescribeUnknownError(DWORD code, WCHAR* text)
{
    WCHAR digits[16];
    size_t count = 0;
    size_t used = 0;
    const WCHAR* lead = L"error ";
    do {
        digits[count++] = (WCHAR)(L'0' + code % 10);
        code /= 10;
    } while (code != 0);
    while (*lead != 0)
        text[used++] = *lead++;
    while (count > 0)
        text[used++] = digits[--count];
    text[used] = 0;
    return used;
}

void DescribeError(DWORD code, WCHAR* text, size_t capacity)
{
    WCHAR words[SYSTEM_TEXT_CAPACITY];
    size_t length;
    if (capacity == 0)
        return;
    length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, code, 0, words,
                            SYSTEM_TEXT_CAPACITY, NULL);
    if (length == 0 || length >= SYSTEM_TEXT_CAPACITY)
        length = DescribeUnknownError(code, words);
    // System texts end in ".\r\n"; the message goes on after them.
    while (length > 0 && (words[length - 1] == L'\r' || words[length - 1] == L'\n' ||
                          words[length - 1] == L' ' || words[length - 1] == L'.'))
        --length;
    if (length > capacity - 1)
        length = capacity - 1;
    // A cut never leaves half a surrogate pair.
    if (length > 0 && words[length - 1] >= 0xD800 && words[length - 1] <= 0xDBFF)
        --length;
    memcpy(text, words, length * sizeof(WCHAR));
    text[length] = 0;
}

void WriteStandardOutput(const char* text, size_t length)
{
    fwrite(text, 1, length, stdout);
    fflush(stdout);
}

#define ERROR_TEXT_CHUNK 512

// A console shows wide text as it is; a pipe or a file gets UTF-8, which a
// console's code page would otherwise mangle, with CRLF line ends as the C
// runtime gives standard output.
void WriteErrorText(const WCHAR* text)
{
    HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
    size_t length = wcslen(text);
    DWORD mode;
    DWORD written;

    fflush(stdout);
    if (handle == NULL || handle == INVALID_HANDLE_VALUE)
        return;
    if (GetConsoleMode(handle, &mode)) {
        WriteConsoleW(handle, text, (DWORD)length, &written, NULL);
        return;
    }
    while (length > 0) {
        // At most 3 bytes a unit, and one more for a CR.
        char bytes[4 * ERROR_TEXT_CHUNK];
        size_t chunk = length < ERROR_TEXT_CHUNK ? length : ERROR_TEXT_CHUNK;
        size_t used = 0;
        size_t i;
        // Never split a surrogate pair between two chunks.
        if (chunk < length && text[chunk - 1] >= 0xD800 && text[chunk - 1] <= 0xDBFF)
            --chunk;
        for (i = 0; i < chunk; ++i) {
            size_t run = i;
            int count;
            while (run < chunk && text[run] != L'\n')
                ++run;
            count = WideCharToMultiByte(CP_UTF8, 0, text + i, (int)(run - i), bytes + used,
                                        (int)(sizeof bytes - used), NULL, NULL);
            if (count > 0)
                used += (size_t)count;
            if (run < chunk) {
                bytes[used++] = '\r';
                bytes[used++] = '\n';
            }
            i = run;
        }
        if (used > 0)
            WriteFile(handle, bytes, (DWORD)used, &written, NULL);
        text += chunk;
        length -= chunk;
    }
}

int RunCommandLine(const char* commandLine)
{
    // What was printed must stand before the command processor's prompt.
    fflush(stdout);
    return system(commandLine);
}
