#include <gtest/gtest.h>

#include <string.h>

#include "platform/folder_identity.h"

namespace {

FolderIdentity Identity(unsigned long long volume, unsigned char first, unsigned char last)
{
    FolderIdentity identity;
    memset(&identity, 0, sizeof identity);
    identity.volume = volume;
    identity.id[0] = first;
    identity.id[15] = last;
    return identity;
}

TEST(FolderIdentity, OneFolderOnlyWhenVolumeAndWholeIdAgree)
{
    struct {
        FolderIdentity first;
        FolderIdentity second;
        int same;
    } cases[] = {
        {Identity(7, 1, 0), Identity(7, 1, 0), 1},
        {Identity(7, 1, 9), Identity(7, 1, 9), 1},
        {Identity(7, 1, 0), Identity(8, 1, 0), 0},
        // ReFS ids that share their low 64 bits are still two folders.
        {Identity(7, 1, 0), Identity(7, 1, 9), 0},
        // A drive that reports no ids cannot tell two folders apart.
        {Identity(7, 0, 0), Identity(7, 0, 0), 0},
        {Identity(0, 0, 0), Identity(0, 0, 0), 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsSameFolderIdentity(&c.first, &c.second), c.same);
        EXPECT_EQ(IsSameFolderIdentity(&c.second, &c.first), c.same);
    }
}

}  // namespace
