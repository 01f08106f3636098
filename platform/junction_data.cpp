#include "platform/junction_data.h"

#include <string.h>

// Fixed part: tag (4), data length (2), reserved (2), then the offset and
// length of each name (4 x 2).
#define JUNCTION_HEADER_SIZE 8
#define JUNCTION_NAMES_SIZE 8

// The reparse data length is a 16-bit field, and Windows takes no more
// than 16 KiB of reparse data in all.
#define JUNCTION_DATA_LIMIT (16 * 1024)

static const WCHAR kNtPrefix[] = WIDE("\\??\\");
#define NT_PREFIX_LENGTH (sizeof kNtPrefix / sizeof(WCHAR) - 1)

static void PutWord(unsigned char* at, size_t value)
{
    at[0] = (unsigned char)(value & 0xFF);
    at[1] = (unsigned char)((value >> 8) & 0xFF);
}

static void PutUnits(unsigned char* at, const WCHAR* units, size_t count)
{
    size_t i;
    for (i = 0; i < count; ++i)
        PutWord(at + 2 * i, (size_t)units[i]);
}

// A junction's substitute name is an NT path, taken as it stands: only a
// drive letter path can become one by the "\??\" prefix. Network paths,
// "\\?\" paths and relative or rootless paths cannot.
static int IsDrivePath(const WCHAR* target)
{
    WCHAR letter = target[0];
    return ((letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z')) && target[1] == ':' &&
           target[2] == '\\';
}

size_t BuildJunctionData(const WCHAR* target, unsigned char* buffer, size_t capacity)
{
    size_t targetLength = 0;
    size_t substituteBytes;
    size_t printBytes;
    size_t dataLength;
    size_t total;
    unsigned char* names;

    if (target == NULL || buffer == NULL || !IsDrivePath(target))
        return 0;
    // Bounded, so that an unterminated target is never read far.
    while (targetLength < JUNCTION_DATA_LIMIT && target[targetLength] != 0)
        ++targetLength;

    substituteBytes = (NT_PREFIX_LENGTH + targetLength) * sizeof(WCHAR);
    printBytes = targetLength * sizeof(WCHAR);
    // Each name is followed by a NUL that its length does not count.
    dataLength = JUNCTION_NAMES_SIZE + substituteBytes + 2 + printBytes + 2;
    total = JUNCTION_HEADER_SIZE + dataLength;
    if (total > JUNCTION_DATA_LIMIT || total > capacity)
        return 0;

    memset(buffer, 0, total);
    buffer[0] = (unsigned char)(JUNCTION_REPARSE_TAG & 0xFF);
    buffer[1] = (unsigned char)((JUNCTION_REPARSE_TAG >> 8) & 0xFF);
    buffer[2] = (unsigned char)((JUNCTION_REPARSE_TAG >> 16) & 0xFF);
    buffer[3] = (unsigned char)((JUNCTION_REPARSE_TAG >> 24) & 0xFF);
    PutWord(buffer + 4, dataLength);
    PutWord(buffer + 6, 0);
    PutWord(buffer + 8, 0);                    // substitute name offset
    PutWord(buffer + 10, substituteBytes);     // substitute name length
    PutWord(buffer + 12, substituteBytes + 2); // print name offset, past the NUL
    PutWord(buffer + 14, printBytes);          // print name length

    names = buffer + JUNCTION_HEADER_SIZE + JUNCTION_NAMES_SIZE;
    PutUnits(names, kNtPrefix, NT_PREFIX_LENGTH);
    PutUnits(names + NT_PREFIX_LENGTH * sizeof(WCHAR), target, targetLength);
    PutUnits(names + substituteBytes + 2, target, targetLength);
    return total;
}
