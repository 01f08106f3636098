#include "app/save_link.h"

#include <string.h>

#include "fs/directory_tree.h"
#include "platform/platform.h"

// Both suffixes begin with a separator and go straight after the roaming
// application-data folder. They differ only in the final "O".
static const WCHAR kLinkSuffix[] = WIDE("\\Milestone\\Corvandelhurst Rally EV\\Saves");
static const WCHAR kTargetSuffix[] = WIDE("\\Milestone\\Corvandelhurst Rally EVO\\Saves");
static const WCHAR kLeafName[] = WIDE("\\Saves");
static const char kFixedMessage[] = "saves fixed!!!!!!!!!!!!!!!!!!!\n";
static const char kPauseCommand[] = "pause";

#define LINK_SUFFIX_LENGTH (sizeof kLinkSuffix / sizeof(WCHAR) - 1)
#define TARGET_SUFFIX_LENGTH (sizeof kTargetSuffix / sizeof(WCHAR) - 1)
#define LEAF_NAME_LENGTH (sizeof kLeafName / sizeof(WCHAR) - 1)
#define MESSAGE_CAPACITY 2048
#define DESCRIPTION_CAPACITY 512

// CreateDirectoryW takes a folder path of at most MAX_PATH - 12 units with
// its terminator: room must stay for an 8.3 file name inside it.
#define FOLDER_PATH_CAPACITY (MAX_PATH - 12)

// A folder just removed may keep its name while another program (Explorer
// showing it, the search indexer) still holds it open; making the link
// then fails with access denied for a moment.
#define LINK_RETRIES 20
#define LINK_RETRY_MILLISECONDS 100

// Units before the terminator, or capacity when there is none.
static size_t WideLength(const WCHAR* text, size_t capacity)
{
    size_t length = 0;
    while (length < capacity && text[length] != 0)
        ++length;
    return length;
}

// Appends at most count units of text, and only when they and the
// terminator fit.
static int AppendUnits(WCHAR* buffer, size_t capacity, const WCHAR* text, size_t count)
{
    size_t used = WideLength(buffer, capacity);
    if (used + count + 1 > capacity)
        return 0;
    memcpy(buffer + used, text, count * sizeof(WCHAR));
    buffer[used + count] = 0;
    return 1;
}

static int AppendWide(WCHAR* buffer, size_t capacity, const WCHAR* text)
{
    return AppendUnits(buffer, capacity, text, WideLength(text, capacity));
}

// Why a run ended without both names leading to one folder.
enum Cause {
    CAUSE_SHELL_NOT_LOADED,
    CAUSE_NO_ROAMING_FOLDER,
    CAUSE_PATHS_TOO_LONG,
    CAUSE_LINK_HOLDS_FILES,
    CAUSE_LINK_LEADS_TO_FILES,
    CAUSE_LINK_NOT_FOLDER,
    CAUSE_LINK_NOT_REPLACED,
    CAUSE_TARGET_NOT_FOLDER,
    CAUSE_PATH_NOT_FOLDER,
    CAUSE_FOLDER_NOT_MADE,
    CAUSE_JUNCTION_CANNOT_LEAD,
    CAUSE_LINK_NOT_MADE,
    CAUSE_LINK_NOT_CONFIRMED
};

// What became of the link path when no link could be made.
enum LinkPathState {
    LINK_PATH_UNCHANGED,
    LINK_PATH_FOLDER_PUT_BACK,
    LINK_PATH_FOLDER_GONE,
    LINK_PATH_OLD_LINK_REMOVED
};

// Everything a failure message may name.
struct Failure {
    enum Cause cause;
    DWORD error;
    enum LinkPathState state;
    const WCHAR* basePath;
    const WCHAR* linkPath;
    const WCHAR* targetPath;
    WCHAR otherPath[MAX_PATH];  // the obstacle, or where a player's link leads
};

// The texts of every failure. In them %L is the link path, %T the target
// path, %P the other path, %B the roaming folder, %R the system's reason,
// %S what became of the link path and %A the advice for the error.
// Running savelink as an administrator is never advised: a standard user
// who elevates types another account's password and fixes that account.
static const struct {
    enum Cause cause;
    const WCHAR* text;
} kFailureTexts[] = {
    {CAUSE_SHELL_NOT_LOADED,
     WIDE("the Windows shell (shell32.dll in System32) could not be loaded (%R), so your roaming "
          "application-data folder could not be found and nothing was changed.")},
    {CAUSE_NO_ROAMING_FOLDER,
     WIDE("your roaming application-data folder could not be found (%R), so nothing was changed. "
          "Run savelink as the user who plays the game.")},
    {CAUSE_PATHS_TOO_LONG,
     WIDE("the save folders under %B would be longer than Windows allows, so nothing was changed. "
          "Link the two Saves folders by hand.")},
    {CAUSE_LINK_HOLDS_FILES,
     WIDE("%L holds files, so it was left as it is. Move them into %T and run savelink again.")},
    {CAUSE_LINK_LEADS_TO_FILES,
     WIDE("%L is a link to %P, which holds files, so it was left as it is. Move them into %T and run "
          "savelink again.")},
    {CAUSE_LINK_NOT_FOLDER,
     WIDE("%L is not a folder, so it was left as it is. Move or rename it and run savelink again.")},
    {CAUSE_LINK_NOT_REPLACED, WIDE("%L could not be replaced (%R), so it was left as it is. %A")},
    {CAUSE_TARGET_NOT_FOLDER,
     WIDE("%T is not a folder, so no link to it was made at %L and %S. Move or rename it and run "
          "savelink again.")},
    {CAUSE_PATH_NOT_FOLDER,
     WIDE("%P is not a folder, so the save folders below it could not be made, no link was made at %L "
          "and %S. Move or rename it and run savelink again.")},
    {CAUSE_FOLDER_NOT_MADE, WIDE("the folder %P could not be made (%R), so no link was made at %L and %S. %A")},
    {CAUSE_JUNCTION_CANNOT_LEAD,
     WIDE("no link could be made at %L: a junction cannot lead to %T, which is not on a local drive, "
          "and %S. Turn on Developer Mode in the Windows settings (For developers) so that savelink "
          "can make a symbolic link there instead, then run it again.")},
    {CAUSE_LINK_NOT_MADE, WIDE("no link could be made at %L (%R), and %S. %A")},
    {CAUSE_LINK_NOT_CONFIRMED,
     WIDE("the system reported a link made at %L, but it does not lead to %T, and %S. This drive may "
          "not support links; link the two Saves folders by hand.")},
};

static const WCHAR kFolderInUse[] = WIDE("Close the game and any window showing that folder, then run savelink again.");
static const WCHAR kNoLinksOnDrive[] = WIDE("The drive keeps no links (a FAT or exFAT drive, or a network "
                                            "share), so the two Saves folders must be joined by hand.");

// What to do about a system error, for the texts that end in %A.
static const struct {
    DWORD error;
    const WCHAR* text;
} kAdvice[] = {
    {ERROR_ACCESS_DENIED,
     WIDE("Close the game and any window showing that folder, then run savelink again. If it fails "
          "again, your account may not change that folder.")},
    {ERROR_SHARING_VIOLATION, kFolderInUse},
    {ERROR_BUSY, kFolderInUse},
    {ERROR_INVALID_FUNCTION, kNoLinksOnDrive},
    {ERROR_NOT_SUPPORTED, kNoLinksOnDrive},
    {ERROR_WRITE_PROTECT, WIDE("The drive is read-only, so the two Saves folders must be joined by hand.")},
    {ERROR_DISK_FULL, WIDE("Make room on the drive, then run savelink again.")},
};

static const WCHAR kDefaultAdvice[] = WIDE("Check that you may write there, then run savelink again.");

static const WCHAR* const kStateTexts[] = {
    WIDE("nothing there was changed"),
    WIDE("the empty folder there was put back"),
    WIDE("the empty folder that stood there could not be put back"),
    WIDE("the old link that stood there was removed"),
};

static const WCHAR* FailureText(enum Cause cause)
{
    size_t i;
    for (i = 0; i < sizeof kFailureTexts / sizeof kFailureTexts[0]; ++i)
        if (kFailureTexts[i].cause == cause)
            return kFailureTexts[i].text;
    return WIDE("%L could not be linked to %T.");
}

static const WCHAR* AdviceFor(DWORD error)
{
    size_t i;
    for (i = 0; i < sizeof kAdvice / sizeof kAdvice[0]; ++i)
        if (kAdvice[i].error == error)
            return kAdvice[i].text;
    return kDefaultAdvice;
}

// Writes "savelink: " and the cause's text, its marks filled in, as one
// line on standard error.
static void ReportFailure(const struct Failure* failure)
{
    WCHAR message[MESSAGE_CAPACITY];
    WCHAR reason[DESCRIPTION_CAPACITY];
    const WCHAR* text = FailureText(failure->cause);
    const WCHAR* plain = text;

    memset(message, 0, sizeof message);
    DescribeError(failure->error, reason, DESCRIPTION_CAPACITY);
    AppendWide(message, MESSAGE_CAPACITY, WIDE("savelink: "));
    for (; *text != 0; ++text) {
        const WCHAR* value = NULL;
        if (*text != '%' || text[1] == 0)
            continue;
        switch (text[1]) {
        case 'L': value = failure->linkPath; break;
        case 'T': value = failure->targetPath; break;
        case 'P': value = failure->otherPath; break;
        case 'B': value = failure->basePath; break;
        case 'R': value = reason; break;
        case 'S': value = kStateTexts[failure->state]; break;
        case 'A': value = AdviceFor(failure->error); break;
        default: continue;
        }
        AppendUnits(message, MESSAGE_CAPACITY, plain, (size_t)(text - plain));
        AppendWide(message, MESSAGE_CAPACITY, value);
        ++text;
        plain = text + 1;
    }
    AppendWide(message, MESSAGE_CAPACITY, plain);
    AppendWide(message, MESSAGE_CAPACITY, WIDE("\n"));
    WriteErrorText(message);
}

// A symbolic link needs a right that ordinary accounts lack, unless
// Developer Mode is on and the unprivileged flag is given; Windows before
// 10 1703 rejects that flag as an invalid parameter. A junction does the
// same job for a local folder and needs no right at all.
static int CreateDirectoryLink(const WCHAR* linkPath, const WCHAR* targetPath, int* symbolic)
{
    *symbolic = 1;
    if (CreateSymbolicLinkW(linkPath, targetPath,
                            SYMBOLIC_LINK_FLAG_DIRECTORY |
                                SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE))
        return 1;
    if (GetLastError() == ERROR_INVALID_PARAMETER &&
        CreateSymbolicLinkW(linkPath, targetPath, SYMBOLIC_LINK_FLAG_DIRECTORY))
        return 1;
    if (GetLastError() != ERROR_PRIVILEGE_NOT_HELD)
        return 0;
    *symbolic = 0;
    return CreateDirectoryJunction(linkPath, targetPath);
}

// Both names lead to one folder exactly when the link path is a link and
// opens the same folder as the target path.
static int IsLinkToTarget(const WCHAR* linkPath, const WCHAR* targetPath)
{
    return IsDirectoryLink(linkPath) && IsSameFolder(linkPath, targetPath);
}

// Finds the first folder on the way to path, from the prefix of length
// from up to the one of length to, that is not there and cannot be made:
// names it in obstacle and gives ERROR_ALREADY_EXISTS when something other
// than a folder stands there, else the system's reason. Returns 0 when
// every folder on the way stands.
static int FindTreeObstacle(const WCHAR* path, size_t from, size_t to, WCHAR* obstacle, DWORD* error)
{
    size_t length;
    for (length = from; length <= to; ++length) {
        if (length != to && path[length] != '\\')
            continue;
        memset(obstacle, 0, MAX_PATH * sizeof(WCHAR));
        AppendUnits(obstacle, MAX_PATH, path, length);
        if (IsExistingFolder(obstacle) || CreateDirectoryW(obstacle, NULL))
            continue;
        *error = GetLastError();
        return 1;
    }
    return 0;
}

// Names the first folder of path's tree, up to the prefix of length to,
// that is not there, and why. Leaves the failure as it was when every
// folder on the way stands after all.
static void ExplainMissingTree(struct Failure* failure, const WCHAR* path, size_t from, size_t to, int isTarget)
{
    DWORD error = ERROR_SUCCESS;
    WCHAR obstacle[MAX_PATH];
    if (!FindTreeObstacle(path, from, to, obstacle, &error))
        return;
    memcpy(failure->otherPath, obstacle, sizeof obstacle);
    failure->error = error;
    if (error != ERROR_ALREADY_EXISTS)
        failure->cause = CAUSE_FOLDER_NOT_MADE;
    else if (isTarget && WideLength(obstacle, MAX_PATH) == to)
        failure->cause = CAUSE_TARGET_NOT_FOLDER;
    else
        failure->cause = CAUSE_PATH_NOT_FOLDER;
}

// The removal of what stands at the link path failed: why.
static enum Cause CauseOfRemovalFailure(DWORD error)
{
    if (error == ERROR_DIR_NOT_EMPTY)
        return CAUSE_LINK_HOLDS_FILES;
    if (error == ERROR_DIRECTORY)
        return CAUSE_LINK_NOT_FOLDER;
    return CAUSE_LINK_NOT_REPLACED;
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
    struct Failure failure;
    const WCHAR* targetPath = basePath;
    BOOL found;
    size_t baseLength;
    size_t linkLength;
    int alreadyOneFolder;
    int linkWasThere = 0;
    int removed = 0;
    int linkPathClear = 0;
    int linkMade = 0;
    int symbolic = 0;
    int tries;
    DWORD removeError = ERROR_SUCCESS;

    memset(basePath, 0, sizeof basePath);
    memset(linkPath, 0, sizeof linkPath);
    memset(&failure, 0, sizeof failure);
    failure.basePath = basePath;
    failure.linkPath = linkPath;
    failure.targetPath = targetPath;
    failure.cause = CAUSE_LINK_NOT_CONFIRMED;
    failure.state = LINK_PATH_UNCHANGED;

    // Without the roaming folder the suffixes alone would put both trees at
    // the root of the current drive.
    found = SHGetSpecialFolderPathW(NULL, basePath, CSIDL_APPDATA, FALSE);
    if (!found || basePath[0] == 0) {
        failure.error = found ? (DWORD)ERROR_SUCCESS : GetLastError();
        if (failure.error == ERROR_SUCCESS)
            failure.error = ERROR_PATH_NOT_FOUND;
        failure.cause = failure.error == ERROR_MOD_NOT_FOUND || failure.error == ERROR_PROC_NOT_FOUND
                            ? CAUSE_SHELL_NOT_LOADED
                            : CAUSE_NO_ROAMING_FOLDER;
        ReportFailure(&failure);
        return FinishRun(1);
    }

    // Both paths must be folders Windows will make, before anything
    // changes. The target path is the longer one.
    baseLength = WideLength(basePath, MAX_PATH);
    if (baseLength + TARGET_SUFFIX_LENGTH + 1 > FOLDER_PATH_CAPACITY) {
        failure.cause = CAUSE_PATHS_TOO_LONG;
        ReportFailure(&failure);
        return FinishRun(1);
    }

    AppendWide(linkPath, MAX_PATH, basePath);
    AppendWide(linkPath, MAX_PATH, kLinkSuffix);
    linkLength = baseLength + LINK_SUFFIX_LENGTH;

    CreateDirectoryTree(linkPath);

    AppendWide(basePath, MAX_PATH, kTargetSuffix);

    // Both names may open one folder already: through a link of an earlier
    // run, or one the player made another way. Then nothing is removed:
    // a working setup must not break when no new link can be made.
    alreadyOneFolder = IsSameFolder(linkPath, targetPath);
    if (!alreadyOneFolder) {
        linkWasThere = IsDirectoryLink(linkPath);
        // For the game, a link to a folder that holds anything holds files:
        // replacing it would hide them.
        if (linkWasThere && IsExistingFolder(linkPath) && !IsEmptyFolder(linkPath)) {
            failure.cause = CAUSE_LINK_LEADS_TO_FILES;
            if (!GetLinkDestination(linkPath, failure.otherPath, MAX_PATH))
                AppendWide(failure.otherPath, MAX_PATH, WIDE("another folder"));
        } else {
            // Removes an empty folder or a link, never anything inside either.
            removed = RemoveDirectoryW(linkPath);
            if (!removed)
                removeError = GetLastError();
            // Nothing there (its tree could not be made) leaves the way clear
            // too; a missing tree is explained below.
            linkPathClear = removed || removeError == ERROR_FILE_NOT_FOUND ||
                            removeError == ERROR_PATH_NOT_FOUND;
            if (!linkPathClear) {
                failure.cause = CauseOfRemovalFailure(removeError);
                failure.error = removeError;
            }
        }
    }

    CreateDirectoryTree(targetPath);

    if (linkPathClear) {
        if (!IsExistingFolder(targetPath)) {
            failure.cause = CAUSE_FOLDER_NOT_MADE;
            failure.error = ERROR_PATH_NOT_FOUND;
            AppendWide(failure.otherPath, MAX_PATH, targetPath);
            ExplainMissingTree(&failure, targetPath, baseLength, baseLength + TARGET_SUFFIX_LENGTH, 1);
        } else {
            linkMade = CreateDirectoryLink(linkPath, targetPath, &symbolic);
            for (tries = 0; !linkMade && removed && GetLastError() == ERROR_ACCESS_DENIED && tries < LINK_RETRIES;
                 ++tries) {
                Sleep(LINK_RETRY_MILLISECONDS);
                linkMade = CreateDirectoryLink(linkPath, targetPath, &symbolic);
            }
            // Local symbolic-link evaluation can be turned off by policy: the
            // link stands but cannot be opened. A junction is always followed.
            if (linkMade && symbolic && !IsLinkToTarget(linkPath, targetPath) && IsDirectoryLink(linkPath) &&
                RemoveDirectoryW(linkPath))
                linkMade = CreateDirectoryJunction(linkPath, targetPath);
            if (!linkMade) {
                failure.error = GetLastError();
                failure.cause = failure.error == ERROR_INVALID_REPARSE_DATA ? CAUSE_JUNCTION_CANNOT_LEAD
                                                                           : CAUSE_LINK_NOT_MADE;
                if (failure.error == ERROR_PATH_NOT_FOUND)
                    ExplainMissingTree(&failure, linkPath, baseLength, linkLength - LEAF_NAME_LENGTH, 0);
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
        failure.state = LINK_PATH_OLD_LINK_REMOVED;
    else if (removed)
        failure.state = CreateDirectoryW(linkPath, NULL) ? LINK_PATH_FOLDER_PUT_BACK : LINK_PATH_FOLDER_GONE;

    ReportFailure(&failure);
    return FinishRun(1);
}
