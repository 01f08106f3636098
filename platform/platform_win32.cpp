// The operations of our own on Windows. The Win32 calls the program makes
// directly (SHGetSpecialFolderPathW, CreateDirectoryW, RemoveDirectoryW,
// CreateSymbolicLinkW, GetLastError) are the platform's.
#include "platform/platform.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <winioctl.h>

// Opens whatever path leads to, through any links, as the folder it is.
static int GetFolderInformation(const WCHAR* path, BY_HANDLE_FILE_INFORMATION* information)
{
    // Backup semantics are what let CreateFileW open a folder at all.
    HANDLE handle = CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
    int ok;
    if (handle == INVALID_HANDLE_VALUE)
        return 0;
    ok = GetFileInformationByHandle(handle, information) &&
         (information->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    CloseHandle(handle);
    return ok;
}

int IsExistingFolder(const WCHAR* path)
{
    BY_HANDLE_FILE_INFORMATION information;
    return GetFolderInformation(path, &information);
}

// The volume serial number and file index name a folder however it is reached.
int IsSameFolder(const WCHAR* first, const WCHAR* second)
{
    BY_HANDLE_FILE_INFORMATION a;
    BY_HANDLE_FILE_INFORMATION b;
    return GetFolderInformation(first, &a) && GetFolderInformation(second, &b) &&
           a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

// FindFirstFileW reports the entry itself, not what it leads to, and gives
// its reparse tag in dwReserved0.
int IsDirectoryLink(const WCHAR* path)
{
    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileW(path, &data);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    FindClose(search);
    return (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
           (data.dwReserved0 == IO_REPARSE_TAG_SYMLINK || data.dwReserved0 == IO_REPARSE_TAG_MOUNT_POINT);
}

// The mount-point form of the reparse data a junction carries. The SDK keeps
// this layout in a driver header, so it is spelled out here.
struct JunctionData {
    DWORD reparseTag;
    WORD reparseDataLength;
    WORD reserved;
    WORD substituteNameOffset;
    WORD substituteNameLength;
    WORD printNameOffset;
    WORD printNameLength;
    WCHAR pathBuffer[2 * MAX_PATH + 8];
};

#define JUNCTION_HEADER_SIZE 8  // tag, data length, reserved

int CreateDirectoryJunction(const WCHAR* link, const WCHAR* target)
{
    static const WCHAR kNtPrefix[] = L"\\??\\";
    const size_t prefixLength = sizeof kNtPrefix / sizeof(WCHAR) - 1;
    struct JunctionData data;
    size_t targetLength = wcslen(target);
    size_t substituteLength = prefixLength + targetLength;
    DWORD returned = 0;
    DWORD error;
    HANDLE handle;
    BOOL ok;

    if (targetLength >= MAX_PATH) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    // Substitute name "\??\target", then print name "target", each ending in NUL.
    memset(&data, 0, sizeof data);
    memcpy(data.pathBuffer, kNtPrefix, prefixLength * sizeof(WCHAR));
    memcpy(data.pathBuffer + prefixLength, target, targetLength * sizeof(WCHAR));
    memcpy(data.pathBuffer + substituteLength + 1, target, targetLength * sizeof(WCHAR));
    data.reparseTag = IO_REPARSE_TAG_MOUNT_POINT;
    data.substituteNameOffset = 0;
    data.substituteNameLength = (WORD)(substituteLength * sizeof(WCHAR));
    data.printNameOffset = (WORD)((substituteLength + 1) * sizeof(WCHAR));
    data.printNameLength = (WORD)(targetLength * sizeof(WCHAR));
    data.reparseDataLength =
        (WORD)(4 * sizeof(WORD) + (substituteLength + 1 + targetLength + 1) * sizeof(WCHAR));

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
    ok = DeviceIoControl(handle, FSCTL_SET_REPARSE_POINT, &data,
                         (DWORD)(JUNCTION_HEADER_SIZE + data.reparseDataLength), NULL, 0, &returned, NULL);
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

// "error 1234", for a code the system has no text for.
static void DescribeUnknownError(DWORD code, WCHAR* text, size_t capacity)
{
    WCHAR digits[16];
    size_t count = 0;
    size_t used = 0;
    const WCHAR* lead = L"error ";
    do {
        digits[count++] = (WCHAR)(L'0' + code % 10);
        code /= 10;
    } while (code != 0);
    while (*lead != 0 && used + 1 < capacity)
        text[used++] = *lead++;
    while (count > 0 && used + 1 < capacity)
        text[used++] = digits[--count];
    text[used] = 0;
}

void DescribeError(DWORD code, WCHAR* text, size_t capacity)
{
    DWORD length;
    if (capacity == 0)
        return;
    length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, code, 0,
                            text, (DWORD)capacity, NULL);
    if (length == 0 || length >= capacity) {
        DescribeUnknownError(code, text, capacity);
        return;
    }
    // System texts end in ".\r\n"; the message goes on after them.
    while (length > 0 && (text[length - 1] == L'\r' || text[length - 1] == L'\n' ||
                          text[length - 1] == L' ' || text[length - 1] == L'.'))
        --length;
    text[length] = 0;
}

void WriteStandardOutput(const char* text, size_t length)
{
    fwrite(text, 1, length, stdout);
    fflush(stdout);
}

// A console shows wide text as it is; a pipe or a file gets UTF-8, which a
// console's code page would otherwise mangle.
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
        char bytes[2048];
        size_t chunk = length < 512 ? length : 512;
        int count;
        // Never split a surrogate pair between two chunks.
        if (chunk < length && text[chunk - 1] >= 0xD800 && text[chunk - 1] <= 0xDBFF)
            --chunk;
        count = WideCharToMultiByte(CP_UTF8, 0, text, (int)chunk, bytes, (int)sizeof bytes, NULL, NULL);
        if (count > 0)
            WriteFile(handle, bytes, (DWORD)count, &written, NULL);
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
