// The reparse data of a directory junction, built byte for byte so that the
// same code can be checked on any host.
#ifndef SAVELINK_JUNCTION_DATA_H
#define SAVELINK_JUNCTION_DATA_H

#include <stddef.h>

#include "platform/platform.h"

// IO_REPARSE_TAG_MOUNT_POINT, the tag Windows gives a junction.
#define JUNCTION_REPARSE_TAG 0xA0000003u

// Room for the data of any target savelink builds: the fixed part and two
// names of at most MAX_PATH units each, with the "\??\" prefix and NULs.
#define JUNCTION_DATA_CAPACITY (16 + (2 * MAX_PATH + 8) * 2)

// Writes into buffer the mount-point reparse data that makes a folder a
// junction to target, a local drive path such as "C:\Users\Pat\Saves".
// Returns the number of bytes to hand to FSCTL_SET_REPARSE_POINT, header
// included, or 0 when the target cannot be a junction's (empty, not of the
// form "X:\...") or the data does not fit capacity. Writes nothing past
// capacity. Multi-byte fields are little-endian on every host.
size_t BuildJunctionData(const WCHAR* target, unsigned char* buffer, size_t capacity);

#ifdef _WIN32
// The same for the full path of target, as GetFullPathNameW gives it: a
// doubled separator or a "." or ".." becomes the path Windows means. Sets
// ERROR_INVALID_REPARSE_DATA when that path cannot be a junction's.
size_t BuildJunctionDataForFolder(const WCHAR* target, unsigned char* buffer, size_t capacity);
#endif

#endif  // SAVELINK_JUNCTION_DATA_H
