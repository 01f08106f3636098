#include "platform/folder_identity.h"

#include <string.h>

static int IsZeroId(const struct FolderIdentity* identity)
{
    size_t i;
    for (i = 0; i < sizeof identity->id; ++i)
        if (identity->id[i] != 0)
            return 0;
    return 1;
}

int IsSameFolderIdentity(const struct FolderIdentity* first, const struct FolderIdentity* second)
{
    return !IsZeroId(first) && !IsZeroId(second) && first->volume == second->volume &&
           memcmp(first->id, second->id, sizeof first->id) == 0;
}
