#include "fs/directory_tree.h"

#include <string.h>

int CreateDirectoryTree(const WCHAR* path)
{
    WCHAR working[TREE_PATH_CAPACITY];
    WCHAR prefix[TREE_PATH_CAPACITY];
    size_t length = 0;
    size_t i;

    memset(working, 0, sizeof working);
    memset(prefix, 0, sizeof prefix);

    if (path == NULL)
        return 0;
    // Never read past what the working copy could hold.
    while (length < TREE_PATH_CAPACITY && path[length] != 0)
        ++length;
    if (length < 2 || length >= TREE_PATH_CAPACITY)
        return 0;

    for (i = 0; i <= length; ++i)
        working[i] = path[i] == '/' ? WCHAR('\\') : path[i];

    // When only the last folder is missing this one call is all the work.
    if (CreateDirectoryW(working, NULL))
        return 1;

    // Indexes 0 and 1 are skipped: a separator there belongs to a root
    // ("\\server" or "\dir") and yields no folder to create.
    for (i = 2; working[i] != 0; ++i) {
        if (working[i] != '\\')
            continue;
        memcpy(prefix, working, i * sizeof(WCHAR));
        prefix[i] = 0;
        // Existing folders and drive or server names fail here; that is fine.
        CreateDirectoryW(prefix, NULL);
    }
    return CreateDirectoryW(working, NULL) ? 1 : 0;
}
