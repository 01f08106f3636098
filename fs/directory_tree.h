#ifndef SAVELINK_DIRECTORY_TREE_H
#define SAVELINK_DIRECTORY_TREE_H

#include "platform/platform.h"

// Capacity, in UTF-16 units with the terminator, of the paths that
// CreateDirectoryTree works on.
#define TREE_PATH_CAPACITY 4096

// Creates the folder at path and every missing folder above it. Accepts '/'
// as well as '\'. Returns 1 when the first attempt on the whole path made it,
// otherwise the result of the final attempt on the whole path (0 when the
// folder was already there). Returns 0 with no platform call for a null
// path, one shorter than 2 units, or one that does not fit the capacity.
// Never writes through path.
int CreateDirectoryTree(const WCHAR* path);

#endif  // SAVELINK_DIRECTORY_TREE_H
