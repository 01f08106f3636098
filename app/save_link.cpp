#include "app/save_link.h"

#include <string.h>

#include "fs/directory_tree.h"
#include "platform/platform.h"

// Both suffixes begin with a separator and go straight after the roaming
// application-data folder. They differ only in the final "O".
static const WCHAR kLinkSuffix[] = WIDE("\\Milestone\\Corvandelhurst Rally EV\\Saves");
static const WCHAR kTargetSuffix[] = WIDE("\\Milestone\\Corvandelhurst Rally EVO\\Saves");
static const char kFixedMessage[] = "saves fixed!!!!!!!!!!!!!!!!!!!\n";
static const char kPauseCommand[] = "pause";

#define LINK_SUFFIX_LENGTH (sizeof kLinkSuffix / sizeof(WCHAR) - 1)
#define TARGET_SUFFIX_LENGTH (sizeof kTargetSuffix / sizeof(WCHAR) - 1)
#define MESSAGE_CAPACITY 2048
#define DESCRIPTION_CAPACITY 512

// Units before the terminator, or capacity when there is none.
static size_t WideLength(const WCHAR* text, size_t capacity)
{
    size_t length = 0;
    while (length < capacity && text[length] != 0)
        ++length;
    return length;
}

// Appends text only when all of it and the terminator fit.
static int AppendWide(WCHAR* buffer, size_t capacity, const WCHAR* text)
{
    size_t used = WideLength(buffer, capacity);
    size_t extra = WideLength(text, capacity);
    if (used + extra + 1 > capacity)
        return 0;
    memcpy(buffer + used, text, (extra + 1) * sizeof(WCHAR));
    return 1;
}

// Writes "savelink: " and the NULL-ended parts as one line on standard error.
static void ReportError(const WCHAR* const* parts)
{
    WCHAR message[MESSAGE_CAPACITY];
    memset(message, 0, sizeof message);
    AppendWide(message, MESSAGE_CAPACITY, WIDE("savelink: "));
    for (; *parts != NULL; ++parts)
        AppendWide(message, MESSAGE_CAPACITY, *parts);
    AppendWide(message, MESSAGE_CAPACITY, WIDE("\n"));
    WriteErrorText(message);
}

// A symbolic link needs a right that ordinary accounts lack, unless
// Developer Mode is on and the unprivileged flag is given; Windows before
// 10 1703 rejects that flag as an invalid parameter. A junction does the
// same job for a local folder and needs no right at all.
static int CreateDirectoryLink(const WCHAR* linkPath, const WCHAR* targetPath)
{
    if (CreateSymbolicLinkW(linkPath, targetPath,
                            SYMBOLIC_LINK_FLAG_DIRECTORY |
                                SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE))
        return 1;
    if (GetLastError() == ERROR_INVALID_PARAMETER &&
        CreateSymbolicLinkW(linkPath, targetPath, SYMBOLIC_LINK_FLAG_DIRECTORY))
        return 1;
    if (GetLastError() == ERROR_PRIVILEGE_NOT_HELD)
        return CreateDirectoryJunction(linkPath, targetPath);
    return 0;
}

// Both names lead to one folder exactly when the link path is a link and
// opens the same folder as the target path.
static int IsLinkToTarget(const WCHAR* linkPath, const WCHAR* targetPath)
{
    return IsDirectoryLink(linkPath) && IsSameFolder(linkPath, targetPath);
}

// Why a run ended without both names leading to one folder.
enum Obstacle {
    OBSTACLE_LINK_PATH_TAKEN,   // the folder at the link path could not go
    OBSTACLE_TARGET_NOT_FOLDER, // no folder to link to
    OBSTACLE_LINK_NOT_MADE,     // every way of making a link failed
    OBSTACLE_LINK_NOT_CONFIRMED // the platform said yes, the disk says no
};

// What became of the link path when no link could be made.
enum LinkPathState {
    LINK_PATH_UNCHANGED,
    LINK_PATH_FOLDER_PUT_BACK,
    LINK_PATH_FOLDER_GONE,
    LINK_PATH_OLD_LINK_REMOVED
};

static void ReportFailure(Obstacle obstacle, DWORD error, LinkPathState state,
                          const WCHAR* linkPath, const WCHAR* targetPath)
{
    WCHAR description[DESCRIPTION_CAPACITY];
    const WCHAR* stateText = WIDE("nothing there was changed");
    DescribeError(error, description, DESCRIPTION_CAPACITY);
    if (state == LINK_PATH_FOLDER_PUT_BACK)
        stateText = WIDE("the empty folder there was put back");
    else if (state == LINK_PATH_FOLDER_GONE)
        stateText = WIDE("the empty folder that stood there could not be put back");
    else if (state == LINK_PATH_OLD_LINK_REMOVED)
        stateText = WIDE("the old link that stood there was removed");

    if (obstacle == OBSTACLE_LINK_PATH_TAKEN && error == ERROR_DIR_NOT_EMPTY) {
        const WCHAR* parts[] = {linkPath, WIDE(" holds files, so it was left as it is. Move them into "),
                                targetPath, WIDE(" and run savelink again."), NULL};
        ReportError(parts);
    } else if (obstacle == OBSTACLE_LINK_PATH_TAKEN && error == ERROR_DIRECTORY) {
        const WCHAR* parts[] = {linkPath, WIDE(" is not a folder, so it was left as it is. "
                                               "Move or rename it and run savelink again."), NULL};
        ReportError(parts);
    } else if (obstacle == OBSTACLE_LINK_PATH_TAKEN) {
        const WCHAR* parts[] = {linkPath, WIDE(" could not be replaced ("), description,
                                WIDE("), so it was left as it is. Close the game and any program "
                                     "that uses the folder, then run savelink again."), NULL};
        ReportError(parts);
    } else if (obstacle == OBSTACLE_TARGET_NOT_FOLDER && error == ERROR_ALREADY_EXISTS) {
        const WCHAR* parts[] = {targetPath, WIDE(" is not a folder, so no link to it was made at "),
                                linkPath, WIDE(" and "), stateText,
                                WIDE(". Move or rename it and run savelink again."), NULL};
        ReportError(parts);
    } else if (obstacle == OBSTACLE_TARGET_NOT_FOLDER) {
        const WCHAR* parts[] = {WIDE("the folder "), targetPath, WIDE(" could not be made ("), description,
                                WIDE("), so no link to it was made at "), linkPath, WIDE(" and "),
                                stateText, WIDE(". Check that you may write there and run savelink again."),
                                NULL};
        ReportError(parts);
    } else if (obstacle == OBSTACLE_LINK_NOT_MADE) {
        const WCHAR* parts[] = {WIDE("no link could be made at "), linkPath, WIDE(" ("), description,
                                WIDE("), and "), stateText,
                                WIDE(". Turn on Developer Mode in the Windows settings, or run savelink "
                                     "as an administrator, then run it again."), NULL};
        ReportError(parts);
    } else {
        const WCHAR* parts[] = {WIDE("the system reported a link made at "), linkPath,
                                WIDE(", but it does not lead to "), targetPath, WIDE(", and "), stateText,
                                WIDE(". This drive may not support links; link the two Saves folders "
                                     "by hand."), NULL};
        ReportError(parts);
    }
}

// The pause runs whatever happened, so that a window opened by a double
// click stays open to be read.
static int FinishRun(int status)
{
    RunCommandLine(kPauseCommand);
    return status;
}

int RunSaveLink(void)
{
    WCHAR basePath[MAX_PATH];
    WCHAR linkPath[MAX_PATH];
    const WCHAR* targetPath = basePath;
    size_t baseLength;
    int alreadyOneFolder;
    int linkWasThere = 0;
    int removed = 0;
    int linkPathClear = 0;
    int linkMade = 0;
    DWORD removeError = ERROR_SUCCESS;
    DWORD targetError = ERROR_SUCCESS;
    DWORD error = ERROR_SUCCESS;
    Obstacle obstacle = OBSTACLE_LINK_NOT_CONFIRMED;
    LinkPathState state = LINK_PATH_UNCHANGED;

    memset(basePath, 0, sizeof basePath);
    memset(linkPath, 0, sizeof linkPath);

    // Without the roaming folder the suffixes alone would put both trees at
    // the root of the current drive.
    if (!SHGetSpecialFolderPathW(NULL, basePath, CSIDL_APPDATA, FALSE) || basePath[0] == 0) {
        const WCHAR* parts[] = {WIDE("your roaming application-data folder could not be found, so "
                                     "nothing was changed. Run savelink as the user who plays the game."),
                                NULL};
        ReportError(parts);
        return FinishRun(1);
    }

    // Both paths must fit, terminator included, before anything changes.
    baseLength = WideLength(basePath, MAX_PATH);
    if (baseLength + LINK_SUFFIX_LENGTH >= MAX_PATH || baseLength + TARGET_SUFFIX_LENGTH >= MAX_PATH) {
        const WCHAR* parts[] = {WIDE("the save folders under "), basePath,
                                WIDE(" would be longer than Windows allows, so nothing was changed. "
                                     "Link the two Saves folders by hand."), NULL};
        ReportError(parts);
        return FinishRun(1);
    }

    AppendWide(linkPath, MAX_PATH, basePath);
    AppendWide(linkPath, MAX_PATH, kLinkSuffix);

    CreateDirectoryTree(linkPath);

    AppendWide(basePath, MAX_PATH, kTargetSuffix);

    // Both names may open one folder already: through a link of an earlier
    // run, or one the player made another way. Then nothing is removed:
    // a working setup must not break when no new link can be made.
    alreadyOneFolder = IsSameFolder(linkPath, targetPath);
    if (!alreadyOneFolder) {
        linkWasThere = IsDirectoryLink(linkPath);
        // Removes an empty folder or a link, never anything inside either.
        removed = RemoveDirectoryW(linkPath);
        if (!removed)
            removeError = GetLastError();
        // Nothing there (its tree could not be made) leaves the way clear too.
        linkPathClear = removed || removeError == ERROR_FILE_NOT_FOUND ||
                        removeError == ERROR_PATH_NOT_FOUND;
        if (!linkPathClear) {
            obstacle = OBSTACLE_LINK_PATH_TAKEN;
            error = removeError;
        }
    }

    if (!CreateDirectoryTree(targetPath))
        targetError = GetLastError();

    if (linkPathClear) {
        if (!IsExistingFolder(targetPath)) {
            obstacle = OBSTACLE_TARGET_NOT_FOLDER;
            error = targetError;
        } else {
            linkMade = CreateDirectoryLink(linkPath, targetPath);
            if (!linkMade) {
                error = GetLastError();
                obstacle = OBSTACLE_LINK_NOT_MADE;
            }
        }
    }

    // Trust the disk, not the calls' results: some systems report a link
    // they did not make.
    if (alreadyOneFolder ? IsSameFolder(linkPath, targetPath) : IsLinkToTarget(linkPath, targetPath)) {
        WriteStandardOutput(kFixedMessage, sizeof kFixedMessage - 1);
        return FinishRun(0);
    }

    // Nothing half-done: take away a link of ours that leads nowhere useful
    // and put back the empty folder that was removed for it.
    if (linkMade && IsDirectoryLink(linkPath))
        RemoveDirectoryW(linkPath);
    if (removed && linkWasThere)
        state = LINK_PATH_OLD_LINK_REMOVED;
    else if (removed)
        state = CreateDirectoryW(linkPath, NULL) ? LINK_PATH_FOLDER_PUT_BACK : LINK_PATH_FOLDER_GONE;

    ReportFailure(obstacle, error, state, linkPath, targetPath);
    return FinishRun(1);
}
