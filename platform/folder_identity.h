// What names a folder however it is reached, and when two such names are
// one folder. Kept apart from the Win32 calls that read it so that the
// comparison is tested on every host.
#ifndef SAVELINK_FOLDER_IDENTITY_H
#define SAVELINK_FOLDER_IDENTITY_H

struct FolderIdentity {
    unsigned long long volume;  // the volume serial number
    unsigned char id[16];       // the 128-bit file id, or the 64-bit index and zeros
};

// Nonzero when both name the same folder. An all-zero id, which some
// redirected drives give for every folder, never matches anything.
int IsSameFolderIdentity(const struct FolderIdentity* first, const struct FolderIdentity* second);

#endif  // SAVELINK_FOLDER_IDENTITY_H
