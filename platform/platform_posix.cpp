// The platform operations over POSIX, for building and testing away from
// Windows. Paths arrive as UTF-16 with '\' separators and leave as UTF-8
// with '/'; failures leave a Windows-style code for GetLastError().
#include "platform/platform.h"

#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <dirent.h>
#include <sys/stat.h>
#include <time.h>
#include <termios.h>
#include <unistd.h>

static DWORD g_lastError = ERROR_SUCCESS;

DWORD GetLastError(void)
{
    return g_lastError;
}

void SetLastError(DWORD code)
{
    g_lastError = code;
}

// The one place where POSIX errors become the codes the program knows.
static DWORD ErrorFromErrno(int number)
{
    switch (number) {
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case ENOENT: return ERROR_PATH_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case EACCES: return ERROR_ACCESS_DENIED;
    case EPERM: return ERROR_ACCESS_DENIED;
    case EROFS: return ERROR_WRITE_PROTECT;
    case ENOSPC: return ERROR_DISK_FULL;
    case EDQUOT: return ERROR_DISK_FULL;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case ELOOP: return ERROR_CANT_RESOLVE_FILENAME;
    case EBUSY: return ERROR_BUSY;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    default: return ERROR_GEN_FAILURE;
    }
}

static int FailWith(DWORD code)
{
    g_lastError = code;
    return 0;
}

static int FailWithErrno(void)
{
    return FailWith(ErrorFromErrno(errno));
}

// Decodes one code point at text[*index], advancing the index. Returns -1
// for a surrogate without its partner.
static long NextCodePoint(const WCHAR* text, size_t* index)
{
    unsigned long unit = text[*index];
    *index += 1;
    if (unit >= 0xD800 && unit <= 0xDBFF) {
        unsigned long low = text[*index];
        if (low < 0xDC00 || low > 0xDFFF)
            return -1;
        *index += 1;
        return (long)(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
    }
    if (unit >= 0xDC00 && unit <= 0xDFFF)
        return -1;
    return (long)unit;
}

// Encodes a code point; returns its length, or 0 when capacity is short.
static size_t EncodeUtf8(unsigned long point, char* out, size_t capacity)
{
    if (point < 0x80 && capacity >= 1) {
        out[0] = (char)point;
        return 1;
    }
    if (point < 0x800 && capacity >= 2) {
        out[0] = (char)(0xC0 | (point >> 6));
        out[1] = (char)(0x80 | (point & 0x3F));
        return 2;
    }
    if (point >= 0x800 && point < 0x10000 && capacity >= 3) {
        out[0] = (char)(0xE0 | (point >> 12));
        out[1] = (char)(0x80 | ((point >> 6) & 0x3F));
        out[2] = (char)(0x80 | (point & 0x3F));
        return 3;
    }
    if (point >= 0x10000 && capacity >= 4) {
        out[0] = (char)(0xF0 | (point >> 18));
        out[1] = (char)(0x80 | ((point >> 12) & 0x3F));
        out[2] = (char)(0x80 | ((point >> 6) & 0x3F));
        out[3] = (char)(0x80 | (point & 0x3F));
        return 4;
    }
    return 0;
}

// A path as this system names it: UTF-8 with '/' for '\'. Fails, with the
// reason set, on an unpaired surrogate or when it does not fit.
static int NativePath(const WCHAR* path, char* out, size_t capacity)
{
    size_t index = 0;
    size_t used = 0;
    while (path[index] != 0) {
        long point = NextCodePoint(path, &index);
        size_t written;
        if (point < 0)
            return FailWith(ERROR_INVALID_NAME);
        if (point == '\\')
            point = '/';
        written = EncodeUtf8((unsigned long)point, out + used, capacity - used - 1);
        if (written == 0)
            return FailWith(ERROR_FILENAME_EXCED_RANGE);
        used += written;
    }
    out[used] = 0;
    return 1;
}

// Decodes strict UTF-8 into UTF-16; fails on malformed input or no room.
static int WidePath(const char* text, WCHAR* out, size_t capacity)
{
    const unsigned char* in = (const unsigned char*)text;
    size_t used = 0;
    while (*in != 0) {
        unsigned long point;
        size_t extra;
        size_t k;
        if (*in < 0x80) {
            point = *in;
            extra = 0;
        } else if ((*in & 0xE0) == 0xC0) {
            point = *in & 0x1F;
            extra = 1;
        } else if ((*in & 0xF0) == 0xE0) {
            point = *in & 0x0F;
            extra = 2;
        } else if ((*in & 0xF8) == 0xF0) {
            point = *in & 0x07;
            extra = 3;
        } else {
            return FailWith(ERROR_INVALID_NAME);
        }
        for (k = 1; k <= extra; ++k) {
            if ((in[k] & 0xC0) != 0x80)
                return FailWith(ERROR_INVALID_NAME);
            point = (point << 6) | (in[k] & 0x3F);
        }
        if ((extra == 1 && point < 0x80) || (extra == 2 && point < 0x800) ||
            (extra == 3 && point < 0x10000) || point > 0x10FFFF ||
            (point >= 0xD800 && point <= 0xDFFF))
            return FailWith(ERROR_INVALID_NAME);
        in += extra + 1;
        if (point >= 0x10000) {
            if (used + 3 > capacity)
                return FailWith(ERROR_FILENAME_EXCED_RANGE);
            out[used++] = (WCHAR)(0xD800 + ((point - 0x10000) >> 10));
            out[used++] = (WCHAR)(0xDC00 + ((point - 0x10000) & 0x3FF));
        } else {
            if (used + 2 > capacity)
                return FailWith(ERROR_FILENAME_EXCED_RANGE);
            out[used++] = (WCHAR)point;
        }
    }
    out[used] = 0;
    return 1;
}

// The roaming application-data folder of this system is the user's
// configuration folder: $XDG_CONFIG_HOME, else $HOME/.config. Relative
// values are ignored, as the XDG rules say; there is no other fallback.
BOOL SHGetSpecialFolderPathW(HWND, WCHAR* path, int folder, BOOL)
{
    char native[PATH_MAX];
    const char* config = getenv("XDG_CONFIG_HOME");
    const char* home = getenv("HOME");
    size_t length;

    if (folder != CSIDL_APPDATA)
        return FailWith(ERROR_INVALID_PARAMETER);
    if (config != NULL && config[0] == '/') {
        if (strlen(config) >= sizeof native)
            return FailWith(ERROR_FILENAME_EXCED_RANGE);
        strcpy(native, config);
    } else if (home != NULL && home[0] == '/') {
        length = strlen(home);
        while (length > 0 && home[length - 1] == '/')
            --length;
        if (length + strlen("/.config") >= sizeof native)
            return FailWith(ERROR_FILENAME_EXCED_RANGE);
        memcpy(native, home, length);
        strcpy(native + length, "/.config");
    } else {
        return FailWith(ERROR_PATH_NOT_FOUND);
    }
    // "/home/p/" and "/home/p" are one folder; keep the root itself.
    length = strlen(native);
    while (length > 1 && native[length - 1] == '/')
        native[--length] = 0;
    return WidePath(native, path, MAX_PATH);
}

BOOL CreateDirectoryW(const WCHAR* path, LPSECURITY_ATTRIBUTES)
{
    char native[PATH_MAX];
    if (!NativePath(path, native, sizeof native))
        return FALSE;
    // mkdir fails on anything standing there, a dangling link included.
    if (mkdir(native, 0777) != 0)
        return FailWithErrno();
    return TRUE;
}

// Like Windows: a link (to a folder or to nothing) goes itself and is never
// followed; a folder goes only when empty; anything else stays.
BOOL RemoveDirectoryW(const WCHAR* path)
{
    char native[PATH_MAX];
    struct stat own;
    struct stat reached;

    if (!NativePath(path, native, sizeof native))
        return FALSE;
    if (lstat(native, &own) != 0)
        return FailWithErrno();
    if (S_ISLNK(own.st_mode)) {
        if (stat(native, &reached) == 0 && !S_ISDIR(reached.st_mode))
            return FailWith(ERROR_DIRECTORY);
        if (unlink(native) != 0)
            return FailWithErrno();
        return TRUE;
    }
    if (!S_ISDIR(own.st_mode))
        return FailWith(ERROR_DIRECTORY);
    if (rmdir(native) != 0) {
        // POSIX lets rmdir say EEXIST for a folder that is not empty.
        return FailWith(errno == EEXIST ? (DWORD)ERROR_DIR_NOT_EMPTY : ErrorFromErrno(errno));
    }
    return TRUE;
}

// The link stores the target exactly as given; this system needs no right
// for it, so both flags are accepted and the unprivileged one changes nothing.
BOOLEAN CreateSymbolicLinkW(const WCHAR* link, const WCHAR* target, DWORD flags)
{
    char nativeLink[PATH_MAX];
    char nativeTarget[PATH_MAX];
    if ((flags & ~(DWORD)(SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE)) != 0)
        return FailWith(ERROR_INVALID_PARAMETER);
    if (!NativePath(link, nativeLink, sizeof nativeLink) ||
        !NativePath(target, nativeTarget, sizeof nativeTarget))
        return FALSE;
    if (symlink(nativeTarget, nativeLink) != 0)
        return FailWithErrno();
    return TRUE;
}

int IsExistingFolder(const WCHAR* path)
{
    char native[PATH_MAX];
    struct stat reached;
    return NativePath(path, native, sizeof native) && stat(native, &reached) == 0 &&
           S_ISDIR(reached.st_mode);
}

int IsDirectoryLink(const WCHAR* path)
{
    char native[PATH_MAX];
    struct stat own;
    return NativePath(path, native, sizeof native) && lstat(native, &own) == 0 &&
           S_ISLNK(own.st_mode);
}

int IsSameFolder(const WCHAR* first, const WCHAR* second)
{
    char nativeFirst[PATH_MAX];
    char nativeSecond[PATH_MAX];
    struct stat a;
    struct stat b;
    if (!NativePath(first, nativeFirst, sizeof nativeFirst) ||
        !NativePath(second, nativeSecond, sizeof nativeSecond))
        return 0;
    if (stat(nativeFirst, &a) != 0 || stat(nativeSecond, &b) != 0)
        return 0;
    return S_ISDIR(a.st_mode) && S_ISDIR(b.st_mode) && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

int IsEmptyFolder(const WCHAR* path)
{
    char native[PATH_MAX];
    DIR* folder;
    struct dirent* entry;
    int empty = 1;
    if (!NativePath(path, native, sizeof native) || (folder = opendir(native)) == NULL)
        return 0;
    errno = 0;
    while (empty && (entry = readdir(folder)) != NULL)
        empty = strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0;
    // A listing cut short by an error proves nothing.
    if (errno != 0)
        empty = 0;
    closedir(folder);
    return empty;
}

int GetLinkDestination(const WCHAR* path, WCHAR* destination, size_t capacity)
{
    char native[PATH_MAX];
    char reached[PATH_MAX];
    if (!NativePath(path, native, sizeof native))
        return 0;
    if (realpath(native, reached) == NULL)
        return FailWithErrno();
    return WidePath(reached, destination, capacity);
}

void Sleep(DWORD milliseconds)
{
    struct timespec wait;
    wait.tv_sec = (time_t)(milliseconds / 1000);
    wait.tv_nsec = (long)(milliseconds % 1000) * 1000000L;
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
}

// Junctions are an NTFS feature; this system has none.
int CreateDirectoryJunction(const WCHAR*, const WCHAR*)
{
    return FailWith(ERROR_NOT_SUPPORTED);
}

static const char* ErrorText(DWORD code)
{
    switch (code) {
    case ERROR_SUCCESS: return "no error";
    case ERROR_FILE_NOT_FOUND: return "nothing is there";
    case ERROR_PATH_NOT_FOUND: return "a folder on the way is missing or is not a folder";
    case ERROR_ACCESS_DENIED: return "access is denied";
    case ERROR_WRITE_PROTECT: return "the drive is read-only";
    case ERROR_NOT_SUPPORTED: return "this file system does not support it";
    case ERROR_INVALID_PARAMETER: return "the request is not supported here";
    case ERROR_DISK_FULL: return "the disk is full";
    case ERROR_INVALID_NAME: return "the name is not valid";
    case ERROR_DIR_NOT_EMPTY: return "the folder is not empty";
    case ERROR_BUSY: return "the folder is in use";
    case ERROR_ALREADY_EXISTS: return "something of that name already exists";
    case ERROR_FILENAME_EXCED_RANGE: return "the path is too long";
    case ERROR_DIRECTORY: return "it is not a folder";
    case ERROR_PRIVILEGE_NOT_HELD: return "this account lacks the right to do it";
    case ERROR_CANT_RESOLVE_FILENAME: return "too many links lead in a circle";
    case ERROR_NOT_ENOUGH_MEMORY: return "there is not enough memory";
    default: return NULL;
    }
}

void DescribeError(DWORD code, WCHAR* text, size_t capacity)
{
    char bytes[64];
    const char* known = ErrorText(code);
    size_t i;
    if (capacity == 0)
        return;
    if (known == NULL) {
        snprintf(bytes, sizeof bytes, "error %u", (unsigned)code);
        known = bytes;
    }
    // The texts are ASCII, so each byte is one unit.
    for (i = 0; known[i] != 0 && i + 1 < capacity; ++i)
        text[i] = (WCHAR)known[i];
    text[i] = 0;
}

void WriteStandardOutput(const char* text, size_t length)
{
    fwrite(text, 1, length, stdout);
    fflush(stdout);
}

static void WriteAll(int descriptor, const char* bytes, size_t length)
{
    while (length > 0) {
        ssize_t written = write(descriptor, bytes, length);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        bytes += written;
        length -= (size_t)written;
    }
}

// Paths in messages are written with '\' between names, as the program
// builds them; here they show with '/', as this system names them. Unpaired
// surrogates show as U+FFFD rather than cut the message short.
void WriteErrorText(const WCHAR* text)
{
    char bytes[1024];
    size_t used = 0;
    size_t index = 0;
    fflush(stdout);
    while (text[index] != 0) {
        long point = NextCodePoint(text, &index);
        if (point < 0)
            point = 0xFFFD;
        else if (point == '\\')
            point = '/';
        if (used + 4 > sizeof bytes) {
            WriteAll(2, bytes, used);
            used = 0;
        }
        used += EncodeUtf8((unsigned long)point, bytes + used, sizeof bytes - used);
    }
    WriteAll(2, bytes, used);
}

// The command processor's "pause": a prompt, then one key press, taken
// without Enter. Without a terminal there is nobody to press a key, so it
// returns at once rather than hang.
static void Pause(void)
{
    struct termios saved;
    struct termios raw;
    char key;

    fputs("Press any key to continue . . . ", stdout);
    fflush(stdout);
    if (isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &saved) == 0) {
        raw = saved;
        // ISIG off too: Ctrl+C is a key press here, and the settings are
        // always put back.
        raw.c_lflag &= ~(tcflag_t)(ICANON | ECHO | ISIG);
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0) {
            while (read(STDIN_FILENO, &key, 1) < 0 && errno == EINTR) {
            }
            tcsetattr(STDIN_FILENO, TCSANOW, &saved);
        }
    }
    fputs("\n", stdout);
    fflush(stdout);
}

// Only "pause" is known here; savelink needs nothing else.
int RunCommandLine(const char* commandLine)
{
    if (strcmp(commandLine, "pause") != 0)
        return -1;
    Pause();
    return 0;
}
