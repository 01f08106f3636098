#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/save_link.h"
#include "tests/fake_platform.h"
#include "tests/save_paths.h"

namespace {

// A fresh fake disk on which the roaming folder exists.
void ResetWithRoamingFolder()
{
    fake::Reset();
    fake::g.roaming = kRoaming;
    fake::AddFolder(kRoaming);
}

// A roaming folder that exists, on a Windows 10 account with Developer Mode,
// unless a test says otherwise.
class SaveLinkRun : public testing::Test {
protected:
    void SetUp() override
    {
        ResetWithRoamingFolder();
        fake::g.rules.developerMode = true;
    }

    // The calls that change the disk or speak to the user, in order.
    static std::vector<std::string> Steps()
    {
        std::vector<std::string> steps;
        for (const std::string& call : fake::g.calls)
            if (call.rfind("Is", 0) != 0)
                steps.push_back(call);
        return steps;
    }

    static void ExpectFixed(int status)
    {
        EXPECT_EQ(status, 0);
        EXPECT_EQ(fake::g.output, kFixed);
        EXPECT_EQ(fake::g.errorOutput, "");
        EXPECT_TRUE(fake::IsLinkTo(kLink, kTarget));
        EXPECT_TRUE(fake::IsFolder(kTarget));
        EXPECT_EQ(fake::g.calls.back(), "RunCommandLine pause");
    }

    static void ExpectFailed(int status)
    {
        EXPECT_EQ(status, 1);
        EXPECT_EQ(fake::g.output, "");
        EXPECT_NE(fake::g.errorOutput, "");
        EXPECT_EQ(fake::g.calls.back(), "RunCommandLine pause");
        EXPECT_EQ(fake::CallsStartingWith("WriteErrorText").size(), 1u);
    }
};

std::string U(const std::u16string& text)
{
    return fake::Utf8(text);
}

TEST_F(SaveLinkRun, FirstRunMakesBothTreesThenTheLinkThenReportsAndPauses)
{
    int status = RunSaveLink();

    ExpectFixed(status);
    EXPECT_TRUE(fake::IsFolder(kLinkProduct));
    EXPECT_EQ(fake::g.output.size(), 31u);
    EXPECT_EQ(std::count(fake::g.output.begin(), fake::g.output.end(), '!'), 19);
    EXPECT_EQ(Steps(), (std::vector<std::string>{
                           "SHGetSpecialFolderPathW 26 nocreate",
                           // the link path's tree
                           "CreateDirectoryW " + U(kLink),
                           "CreateDirectoryW C:",
                           "CreateDirectoryW C:\\Users",
                           "CreateDirectoryW C:\\Users\\Pat",
                           "CreateDirectoryW C:\\Users\\Pat\\AppData",
                           "CreateDirectoryW " + U(kRoaming),
                           "CreateDirectoryW " + U(kMilestone),
                           "CreateDirectoryW " + U(kLinkProduct),
                           "CreateDirectoryW " + U(kLink),
                           // its leaf goes
                           "RemoveDirectoryW " + U(kLink),
                           // the target path's tree
                           "CreateDirectoryW " + U(kTarget),
                           "CreateDirectoryW C:",
                           "CreateDirectoryW C:\\Users",
                           "CreateDirectoryW C:\\Users\\Pat",
                           "CreateDirectoryW C:\\Users\\Pat\\AppData",
                           "CreateDirectoryW " + U(kRoaming),
                           "CreateDirectoryW " + U(kMilestone),
                           "CreateDirectoryW " + U(kTargetProduct),
                           "CreateDirectoryW " + U(kTarget),
                           "CreateSymbolicLinkW " + U(kLink) + " -> " + U(kTarget) + " 3",
                           "WriteStandardOutput",
                           "RunCommandLine pause",
                       }));
}

TEST_F(SaveLinkRun, SecondRunLeavesTheWorkingLinkStanding)
{
    ASSERT_EQ(RunSaveLink(), 0);
    fake::g.calls.clear();
    fake::g.output.clear();
    // An account that cannot make links must not lose the one that works.
    fake::g.rules.developerMode = false;
    fake::g.rules.junctions = false;

    int status = RunSaveLink();

    ExpectFixed(status);
    EXPECT_TRUE(fake::CallsStartingWith("RemoveDirectoryW").empty());
    EXPECT_TRUE(fake::CallsStartingWith("CreateSymbolicLinkW").empty());
}

TEST_F(SaveLinkRun, AJunctionFromAnEarlierRunCountsAsFixed)
{
    fake::AddFolder(kTarget);
    fake::AddLink(kLink, kTarget, true);
    ExpectFixed(RunSaveLink());
    EXPECT_TRUE(fake::CallsStartingWith("RemoveDirectoryW").empty());
}

// The player linked the names the other way round: both already lead to
// one folder, so the folder holding the saves must not be touched.
TEST_F(SaveLinkRun, NamesLinkedTheOtherWayRoundCountAsFixed)
{
    fake::AddFolder(kLink);
    fake::AddLink(kTarget, kLink);
    for (bool withSaves : {false, true}) {
        if (withSaves)
            fake::AddFile(kLink + u"\\slot1.sav");
        fake::g.calls.clear();
        fake::g.output.clear();

        EXPECT_EQ(RunSaveLink(), 0);
        EXPECT_EQ(fake::g.output, kFixed);
        EXPECT_TRUE(fake::IsFolder(kLink));
        EXPECT_TRUE(fake::IsLinkTo(kTarget, kLink));
        EXPECT_TRUE(fake::CallsStartingWith("RemoveDirectoryW").empty());
        EXPECT_TRUE(fake::CallsStartingWith("CreateSymbolicLinkW").empty());
    }
}

TEST_F(SaveLinkRun, SavesInTheTargetStayAndShowThroughTheLink)
{
    fake::AddFile(kTarget + u"\\slot1.sav");
    ExpectFixed(RunSaveLink());
    EXPECT_TRUE(fake::IsFile(kTarget + u"\\slot1.sav"));
}

TEST_F(SaveLinkRun, SavesAtTheLinkPathAreLeftAloneAndTheErrorSaysWhatToDo)
{
    fake::AddFile(kLink + u"\\slot1.sav");

    int status = RunSaveLink();

    ExpectFailed(status);
    EXPECT_TRUE(fake::IsFile(kLink + u"\\slot1.sav"));
    EXPECT_TRUE(fake::IsFolder(kLink));
    EXPECT_TRUE(fake::CallsStartingWith("CreateSymbolicLinkW").empty());
    EXPECT_EQ(fake::g.errorOutput, "savelink: " + U(kLink) + " holds files, so it was left as it is. Move them into " +
                                       U(kTarget) + " and run savelink again.\n");
}

TEST_F(SaveLinkRun, AFileAtTheLinkPathIsLeftAlone)
{
    fake::AddFile(kLink);
    ExpectFailed(RunSaveLink());
    EXPECT_TRUE(fake::IsFile(kLink));
    EXPECT_NE(fake::g.errorOutput.find(U(kLink) + " is not a folder"), std::string::npos);
}

TEST_F(SaveLinkRun, AFileAtTheTargetPathGetsNoLinkAndTheLinkFolderComesBack)
{
    fake::AddFile(kTarget);
    ExpectFailed(RunSaveLink());
    EXPECT_TRUE(fake::IsFile(kTarget));
    EXPECT_TRUE(fake::IsFolder(kLink));
    EXPECT_TRUE(fake::CallsStartingWith("CreateSymbolicLinkW").empty());
    EXPECT_NE(fake::g.errorOutput.find(U(kTarget) + " is not a folder"), std::string::npos);
}

// For the game, a link to a folder that holds saves holds saves: it is the
// player's and stays. One to an empty folder is replaced.
TEST_F(SaveLinkRun, ALinkToAnotherFolderWithSavesIsLeftAndOneToAnEmptyFolderIsReplaced)
{
    const std::u16string other = u"C:\\Backup\\Saves";
    fake::AddFile(other + u"\\old.sav");
    fake::AddLink(kLink, other);

    ExpectFailed(RunSaveLink());
    EXPECT_TRUE(fake::IsLinkTo(kLink, other));
    EXPECT_TRUE(fake::IsFile(other + u"\\old.sav"));
    EXPECT_TRUE(fake::CallsStartingWith("RemoveDirectoryW").empty());
    EXPECT_EQ(fake::g.errorOutput, "savelink: " + U(kLink) + " is a link to " + U(other) +
                                       ", which holds files, so it was left as it is. Move them into " +
                                       U(kTarget) + " and run savelink again.\n");

    SetUp();
    fake::AddFolder(other);
    fake::AddLink(kLink, other);
    ExpectFixed(RunSaveLink());
    EXPECT_TRUE(fake::IsFolder(other));
}

TEST_F(SaveLinkRun, ADanglingLinkIsReplaced)
{
    fake::AddLink(kLink, u"C:\\Gone\\Saves");
    ExpectFixed(RunSaveLink());
}

TEST_F(SaveLinkRun, AnOldLinkThatCannotBeReplacedIsReportedAsGone)
{
    fake::AddLink(kLink, u"C:\\Gone\\Saves");
    fake::g.rules.developerMode = false;
    fake::g.rules.junctions = false;
    ExpectFailed(RunSaveLink());
    EXPECT_FALSE(fake::Exists(kLink));
    EXPECT_NE(fake::g.errorOutput.find("the old link that stood there"), std::string::npos);
}

struct LinkCase {
    const char* name;
    fake::LinkRules rules;
    std::vector<std::string> linkCalls;  // after "CreateSymbolicLinkW link -> target " / junction
    int status;
};

fake::LinkRules Rules(bool knowsFlag, bool developerMode, bool privileged, bool junctions)
{
    fake::LinkRules rules;
    rules.knowsUnprivilegedFlag = knowsFlag;
    rules.developerMode = developerMode;
    rules.privileged = privileged;
    rules.junctions = junctions;
    return rules;
}

void PrintTo(const LinkCase& c, std::ostream* out)
{
    *out << c.name;
}

class LinkCases : public testing::TestWithParam<LinkCase> {};

// Which calls make the link, for each kind of Windows and account.
TEST_P(LinkCases, TriesTheUnprivilegedFlagThenTheDirectoryFlagThenAJunction)
{
    const LinkCase& c = GetParam();
    ResetWithRoamingFolder();
    fake::g.rules = c.rules;

    int status = RunSaveLink();

    std::vector<std::string> calls;
    for (const std::string& call : fake::g.calls) {
        if (call.rfind("CreateSymbolicLinkW", 0) == 0)
            calls.push_back("symlink " + call.substr(call.rfind(' ') + 1));
        else if (call.rfind("CreateDirectoryJunction", 0) == 0)
            calls.push_back("junction");
    }
    EXPECT_EQ(calls, c.linkCalls);
    EXPECT_EQ(status, c.status);
    if (c.status == 0) {
        EXPECT_TRUE(fake::IsLinkTo(kLink, kTarget));
        EXPECT_EQ(fake::g.output, kFixed);
    } else {
        // Nothing half-done: the empty folder stands where it stood.
        EXPECT_TRUE(fake::IsFolder(kLink));
        EXPECT_EQ(fake::g.output, "");
        EXPECT_NE(fake::g.errorOutput.find("the empty folder there was put back"), std::string::npos);
    }
    EXPECT_TRUE(fake::IsFolder(kTarget));
}

INSTANTIATE_TEST_SUITE_P(
    WindowsAndAccounts, LinkCases,
    testing::Values(
        LinkCase{"DeveloperMode", Rules(true, true, false, true), {"symlink 3"}, 0},
        LinkCase{"Administrator", Rules(true, false, true, true), {"symlink 3"}, 0},
        LinkCase{"AdministratorOnOldWindows", Rules(false, false, true, true), {"symlink 3", "symlink 1"}, 0},
        LinkCase{"OrdinaryUser", Rules(true, false, false, true), {"symlink 3", "junction"}, 0},
        LinkCase{"OrdinaryUserOnOldWindows",
                 Rules(false, false, false, true),
                 {"symlink 3", "symlink 1", "junction"},
                 0},
        LinkCase{"OrdinaryUserWithoutJunctions", Rules(true, false, false, false), {"symlink 3", "junction"}, 1}),
    [](const testing::TestParamInfo<LinkCase>& p) { return std::string(p.param.name); });

TEST_F(SaveLinkRun, ALinkTheSystemReportsButDidNotMakeIsNotCalledFixed)
{
    fake::g.rules.symlinkReportsSuccessButMakesNothing = true;
    ExpectFailed(RunSaveLink());
    EXPECT_TRUE(fake::IsFolder(kLink));
    EXPECT_NE(fake::g.errorOutput.find("does not lead to " + U(kTarget)), std::string::npos);
}

TEST_F(SaveLinkRun, AnOtherLinkFailureIsNotRetriedAsAJunction)
{
    fake::g.failures.push_back({"CreateSymbolicLinkW", 0, ERROR_ACCESS_DENIED});
    ExpectFailed(RunSaveLink());
    EXPECT_TRUE(fake::CallsStartingWith("CreateDirectoryJunction").empty());
    EXPECT_TRUE(fake::IsFolder(kLink));
}

TEST_F(SaveLinkRun, WithoutARoamingFolderNothingIsTouched)
{
    for (bool lookupFails : {true, false}) {
        SetUp();
        fake::g.roamingLookupFails = lookupFails;
        fake::g.roaming = u"";  // the empty path, when the lookup "succeeds"

        ExpectFailed(RunSaveLink());
        EXPECT_EQ(Steps(), (std::vector<std::string>{"SHGetSpecialFolderPathW 26 nocreate", "WriteErrorText",
                                                     "RunCommandLine pause"}));
        EXPECT_NE(fake::g.errorOutput.find("roaming application-data folder could not be found"),
                  std::string::npos);
    }
}

// The target path is the longer one: a folder path may have 247 units
// (MAX_PATH less room for an 8.3 name and the terminator), and 41 units
// of suffix leave 206 for the roaming folder.
TEST_F(SaveLinkRun, ARoamingFolderTooLongForThePathsChangesNothing)
{
    struct {
        size_t length;
        int status;
    } cases[] = {{206, 0}, {207, 1}, {218, 1}, {219, 1}, {259, 1}};
    for (const auto& c : cases) {
        SetUp();
        std::u16string roaming = u"C:\\" + std::u16string(c.length - 3, u'r');
        fake::g.roaming = roaming;
        fake::AddFolder(roaming);

        int status = RunSaveLink();

        EXPECT_EQ(status, c.status) << c.length;
        if (c.status == 0)
            continue;
        EXPECT_EQ(Steps(), (std::vector<std::string>{"SHGetSpecialFolderPathW 26 nocreate", "WriteErrorText",
                                                     "RunCommandLine pause"}))
            << c.length;
        EXPECT_NE(fake::g.errorOutput.find("nothing was changed"), std::string::npos);
    }
}

TEST_F(SaveLinkRun, PathsInMessagesKeepCharactersOutsideAscii)
{
    const std::u16string roaming = u"C:\\Users\\Zo\u00eb \U0001F3CE\\AppData\\Roaming";
    const std::u16string link = roaming + u"\\Milestone\\Corvandelhurst Rally EV\\Saves";
    fake::g.roaming = roaming;
    fake::AddFolder(roaming);
    fake::AddFile(link + u"\\slot1.sav");

    ExpectFailed(RunSaveLink());
    EXPECT_NE(fake::g.errorOutput.find("Zo\xc3\xab \xf0\x9f\x8f\x8e"), std::string::npos);
}

}  // namespace

namespace {

// The calls of one kind, without their arguments.
size_t Count(const std::string& operation)
{
    return fake::CallsStartingWith(operation).size();
}

// Group policy can turn off the evaluation of local symbolic links: the
// link is made but cannot be opened. A junction is followed regardless.
TEST_F(SaveLinkRun, ASymbolicLinkWindowsWillNotFollowIsReplacedByAJunction)
{
    fake::g.rules.followsSymbolicLinks = false;

    ExpectFixed(RunSaveLink());
    EXPECT_TRUE(fake::g.entries[kLink].junction);
    std::vector<std::string> steps;
    for (const std::string& call : Steps())
        if (call.rfind("CreateSymbolicLinkW", 0) == 0 || call.rfind("CreateDirectoryJunction", 0) == 0 ||
            call.rfind("RemoveDirectoryW", 0) == 0)
            steps.push_back(call.substr(0, call.find(' ')));
    EXPECT_EQ(steps, (std::vector<std::string>{"RemoveDirectoryW", "CreateSymbolicLinkW", "RemoveDirectoryW",
                                               "CreateDirectoryJunction"}));

    // Without junctions either, nothing of ours stays and the folder is back.
    SetUp();
    fake::g.rules.followsSymbolicLinks = false;
    fake::g.rules.junctions = false;
    ExpectFailed(RunSaveLink());
    EXPECT_TRUE(fake::IsFolder(kLink));
    EXPECT_NE(fake::g.errorOutput.find("the empty folder there was put back"), std::string::npos);
}

// A folder removed while another program holds it open keeps its name
// until that program lets go; making the link meanwhile is access denied.
TEST_F(SaveLinkRun, MakingTheLinkIsRetriedForAWhileAfterTheFolderWasRemoved)
{
    fake::g.failures.push_back({"CreateSymbolicLinkW", 1, ERROR_ACCESS_DENIED});
    fake::g.failures.push_back({"CreateSymbolicLinkW", 2, ERROR_ACCESS_DENIED});
    ExpectFixed(RunSaveLink());
    EXPECT_EQ(fake::CallsStartingWith("Sleep"), (std::vector<std::string>{"Sleep 100", "Sleep 100"}));

    // About two seconds, then the honest error.
    SetUp();
    fake::g.failures.push_back({"CreateSymbolicLinkW", 0, ERROR_ACCESS_DENIED});
    ExpectFailed(RunSaveLink());
    EXPECT_EQ(Count("Sleep"), 20u);
    EXPECT_EQ(Count("CreateSymbolicLinkW"), 21u);
    EXPECT_TRUE(fake::IsFolder(kLink));
    EXPECT_NE(fake::g.errorOutput.find("Close the game and any window showing that folder"), std::string::npos);

    // Nothing was removed: nothing to wait for.
    SetUp();
    fake::g.failures.push_back({"RemoveDirectoryW", 1, ERROR_FILE_NOT_FOUND});
    fake::g.failures.push_back({"CreateSymbolicLinkW", 0, ERROR_ACCESS_DENIED});
    ExpectFailed(RunSaveLink());
    EXPECT_EQ(Count("Sleep"), 0u);
}

// The advice fits the cause, names Developer Mode only where it helps, and
// never asks for an administrator: elevating as a standard user runs
// savelink for another account.
struct AdviceCase {
    const char* name;
    void (*arrange)();
    const char* says;
    bool developerMode;
};

void PrintTo(const AdviceCase& c, std::ostream* out)
{
    *out << c.name;
}

class Advice : public testing::TestWithParam<AdviceCase> {};

TEST_P(Advice, FitsTheCause)
{
    const AdviceCase& c = GetParam();
    ResetWithRoamingFolder();
    c.arrange();

    EXPECT_EQ(RunSaveLink(), 1);
    const std::string& message = fake::g.errorOutput;
    EXPECT_NE(message.find(c.says), std::string::npos) << message;
    EXPECT_EQ(message.find("Developer Mode") != std::string::npos, c.developerMode) << message;
    EXPECT_EQ(message.find("administrator"), std::string::npos) << message;
}

const std::u16string kShareRoaming = u"\\\\server\\profiles\\Pat\\AppData\\Roaming";

INSTANTIATE_TEST_SUITE_P(
    Causes, Advice,
    testing::Values(
        AdviceCase{"DriveWithoutLinks", [] { fake::g.rules.junctions = false; },
                   "The drive keeps no links (a FAT or exFAT drive, or a network share), so the two Saves "
                   "folders must be joined by hand.",
                   false},
        AdviceCase{"RoamingFolderOnAShare",
                   [] {
                       fake::g.roaming = kShareRoaming;
                       fake::AddFolder(kShareRoaming);
                   },
                   "a junction cannot lead to \\\\server\\profiles\\Pat\\AppData\\Roaming\\Milestone\\"
                   "Corvandelhurst Rally EVO\\Saves, which is not on a local drive, and the empty folder "
                   "there was put back. Turn on Developer Mode",
                   true},
        AdviceCase{"FolderInUse",
                   [] {
                       fake::AddFolder(kLink);
                       fake::g.failures.push_back({"RemoveDirectoryW", 0, ERROR_SHARING_VIOLATION});
                   },
                   " could not be replaced (error 32), so it was left as it is. Close the game and any "
                   "window showing that folder, then run savelink again.",
                   false},
        AdviceCase{"NoRightToWrite",
                   [] { fake::g.refusedFolders[kMilestone] = ERROR_ACCESS_DENIED; },
                   "your account may not change that folder", false},
        AdviceCase{"ShellNotLoaded",
                   [] {
                       fake::g.failures.push_back({"SHGetSpecialFolderPathW", 0, ERROR_MOD_NOT_FOUND});
                   },
                   "savelink: the Windows shell (shell32.dll in System32) could not be loaded (error 126), so "
                   "your roaming application-data folder could not be found and nothing was changed.\n",
                   false}),
    [](const testing::TestParamInfo<AdviceCase>& p) { return std::string(p.param.name); });

// When a folder of either tree cannot be made, the message names the first
// path on the way that is not a folder or that refused, with the reason.
TEST_F(SaveLinkRun, AFolderThatCannotBeMadeIsNamedWithTheRealObstacle)
{
    fake::AddFile(kMilestone);
    ExpectFailed(RunSaveLink());
    EXPECT_TRUE(fake::IsFile(kMilestone));
    EXPECT_EQ(fake::g.errorOutput,
              "savelink: " + U(kMilestone) + " is not a folder, so the save folders below it could not be made, "
              "no link was made at " + U(kLink) + " and nothing there was changed. Move or rename it and run "
              "savelink again.\n");

    // Only the link side's product folder is in the way.
    SetUp();
    fake::AddFile(kLinkProduct);
    ExpectFailed(RunSaveLink());
    EXPECT_TRUE(fake::IsFolder(kTarget));
    EXPECT_EQ(fake::g.errorOutput.rfind("savelink: " + U(kLinkProduct) + " is not a folder, so", 0), 0u)
        << fake::g.errorOutput;

    // A folder the system refuses, with its reason.
    SetUp();
    fake::g.refusedFolders[kTargetProduct] = ERROR_DISK_FULL;
    ExpectFailed(RunSaveLink());
    EXPECT_EQ(fake::g.errorOutput.rfind("savelink: the folder " + U(kTargetProduct) +
                                            " could not be made (error 112), so no link was made at " + U(kLink) +
                                            " and the empty folder there was put back. Make room on the drive",
                                        0),
              0u)
        << fake::g.errorOutput;
}

}  // namespace
