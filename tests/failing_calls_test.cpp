// Every platform call of a run made to fail in turn, with each error it can
// give: no run may claim a fix that is not on disk, and none may remove
// anything but an empty folder or a link.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "app/save_link.h"
#include "tests/fake_platform.h"
#include "tests/save_paths.h"

namespace {

struct StartingState {
    const char* name;
    void (*arrange)();
};

void RoamingFolderOnly()
{
    fake::g.roaming = kRoaming;
    fake::AddFolder(kRoaming);
    fake::g.rules.developerMode = true;
}

const StartingState kStates[] = {
    {"FirstRun", [] { RoamingFolderOnly(); }},
    {"AlreadyLinked",
     [] {
         RoamingFolderOnly();
         fake::AddFile(kTarget + u"\\slot1.sav");
         fake::AddFolder(kLinkProduct);
         fake::AddLink(kLink, kTarget);
     }},
    {"SavesAtTheLinkPath",
     [] {
         RoamingFolderOnly();
         fake::AddFile(kLink + u"\\slot1.sav");
         fake::AddFile(kTarget + u"\\slot2.sav");
     }},
    {"LinkToAnotherFolderWithSaves",
     [] {
         RoamingFolderOnly();
         fake::AddFile(u"C:\\Backup\\slot1.sav");
         fake::AddLink(kLink, u"C:\\Backup");
     }},
    {"OrdinaryUserGetsAJunction",
     [] {
         RoamingFolderOnly();
         fake::g.rules.developerMode = false;
         fake::AddFile(kTarget + u"\\slot1.sav");
     }},
    {"OrdinaryUserOnOldWindows",
     [] {
         RoamingFolderOnly();
         fake::g.rules.developerMode = false;
         fake::g.rules.knowsUnprivilegedFlag = false;
     }},
};

// The errors each call can give; a query or an output that fails simply
// answers no or shows nothing.
std::vector<DWORD> ErrorsOf(const std::string& operation)
{
    static const std::map<std::string, std::vector<DWORD>> errors = {
        {"SHGetSpecialFolderPathW", {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED}},
        {"CreateDirectoryW", {ERROR_ALREADY_EXISTS, ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_DISK_FULL}},
        {"RemoveDirectoryW",
         {ERROR_DIR_NOT_EMPTY, ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION, ERROR_FILE_NOT_FOUND,
          ERROR_DIRECTORY}},
        {"CreateSymbolicLinkW",
         {ERROR_PRIVILEGE_NOT_HELD, ERROR_INVALID_PARAMETER, ERROR_ACCESS_DENIED, ERROR_ALREADY_EXISTS,
          ERROR_PATH_NOT_FOUND}},
        {"CreateDirectoryJunction", {ERROR_ACCESS_DENIED, ERROR_INVALID_FUNCTION, ERROR_NOT_SUPPORTED}},
    };
    auto found = errors.find(operation);
    return found != errors.end() ? found->second : std::vector<DWORD>{ERROR_GEN_FAILURE};
}

// The calls that change the disk can also fail by saying yes and doing
// nothing, as Wine's CreateSymbolicLinkW does.
const DWORD kPretendsSuccess = 0xFFFFFFFF;

std::vector<DWORD> FailuresOf(const std::string& operation)
{
    std::vector<DWORD> failures = ErrorsOf(operation);
    if (operation == "CreateDirectoryW" || operation == "RemoveDirectoryW" || operation == "CreateSymbolicLinkW" ||
        operation == "CreateDirectoryJunction")
        failures.push_back(kPretendsSuccess);
    return failures;
}

std::string OperationOf(const std::string& call)
{
    return call.substr(0, call.find(' '));
}

void PrintTo(const StartingState& state, std::ostream* out)
{
    *out << state.name;
}

class FailingCalls : public testing::TestWithParam<StartingState> {};

TEST_P(FailingCalls, NoRunClaimsAFixThatIsNotThereOrRemovesMoreThanAnEmptyFolderOrALink)
{
    const StartingState& state = GetParam();
    fake::Reset();
    state.arrange();
    const std::map<std::u16string, fake::Entry> before = fake::g.entries;
    RunSaveLink();
    const std::vector<std::string> cleanRun = fake::g.calls;
    ASSERT_FALSE(cleanRun.empty());

    int runs = 0;
    for (size_t n = 1; n <= cleanRun.size(); ++n) {
        const std::string operation = OperationOf(cleanRun[n - 1]);
        for (DWORD error : FailuresOf(operation)) {
            fake::Reset();
            state.arrange();
            fake::g.failCallNumber = int(n);
            fake::g.failCallError = error;
            fake::g.failCallPretends = error == kPretendsSuccess;
            int status = RunSaveLink();
            ++runs;
            const std::string where =
                std::string(state.name) + ": call " + std::to_string(n) + " (" + cleanRun[n - 1] + ") " +
                (error == kPretendsSuccess ? "pretends success" : "fails with " + std::to_string(error));

            // The call that failed is the one the clean run made at that point.
            ASSERT_GE(fake::g.calls.size(), n) << where;
            EXPECT_EQ(fake::g.calls[n - 1], cleanRun[n - 1]) << where;

            // Every file stays where it was: only empty folders and links may go.
            for (const auto& [path, entry] : before) {
                auto now = fake::g.entries.find(path);
                if (entry.kind == fake::Kind::File) {
                    EXPECT_TRUE(now != fake::g.entries.end() && now->second.kind == fake::Kind::File)
                        << where << ": lost " << fake::Utf8(path);
                }
            }

            ASSERT_TRUE(status == 0 || status == 1) << where;
            if (status == 0) {
                EXPECT_TRUE(fake::OpenSameFolder(kLink, kTarget)) << where << ": fixed, but no link";
                EXPECT_TRUE(fake::g.output == kFixed || operation == "WriteStandardOutput") << where;
                EXPECT_TRUE(fake::CallsStartingWith("WriteErrorText").empty()) << where;
            } else {
                EXPECT_EQ(fake::g.output, "") << where;
                EXPECT_EQ(fake::CallsStartingWith("WriteErrorText").size(), 1u) << where;
                EXPECT_TRUE(fake::CallsStartingWith("WriteStandardOutput").empty()) << where;
            }
            EXPECT_EQ(fake::g.calls.back(), "RunCommandLine pause") << where;
            // Elevating as a standard user would run savelink for another account.
            EXPECT_EQ(fake::g.errorOutput.find("administrator"), std::string::npos) << where;
        }
    }
    EXPECT_GT(runs, 0);
}

INSTANTIATE_TEST_SUITE_P(StartingStates, FailingCalls, testing::ValuesIn(kStates),
                         [](const testing::TestParamInfo<StartingState>& p) { return std::string(p.param.name); });

}  // namespace
