#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/save_link.h"
#include "tests/fake_platform.h"
#include "tests/save_paths.h"

namespace {

// A roaming folder that exists, on a Windows 10 account with Developer Mode,
// unless a test says otherwise.
class SaveLinkRun : public testing::Test {
protected:
    void SetUp() override
    {
        fake::Reset();
        fake::g.roaming = kRoaming;
        fake::AddFolder(kRoaming);
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

TEST_F(SaveLinkRun, ALinkThatLedElsewhereIsReplacedAndWhatItLedToIsKept)
{
    const std::u16string other = u"C:\\Backup\\Saves";
    fake::AddFile(other + u"\\old.sav");
    fake::AddLink(kLink, other);
    ExpectFixed(RunSaveLink());
    EXPECT_TRUE(fake::IsFile(other + u"\\old.sav"));
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
    fake::Reset();
    fake::g.roaming = kRoaming;
    fake::AddFolder(kRoaming);
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

// The target path is the longer one: 41 units of suffix and a terminator
// leave 218 units for the roaming folder.
TEST_F(SaveLinkRun, ARoamingFolderTooLongForThePathsChangesNothing)
{
    struct {
        size_t length;
        int status;
    } cases[] = {{218, 0}, {219, 1}, {259, 1}};
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
