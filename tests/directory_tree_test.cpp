#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fs/directory_tree.h"
#include "tests/fake_platform.h"

namespace {

std::vector<std::string> Attempts()
{
    return fake::CallsStartingWith("CreateDirectoryW");
}

struct TreeCase {
    const char* name;
    std::vector<std::u16string> existing;
    std::u16string path;
    std::vector<std::string> attempts;  // the folders, in order
    int result;                         // -1: whatever the disk makes of it
    std::vector<std::u16string> madeFolders;
};

void PrintTo(const TreeCase& c, std::ostream* out)
{
    *out << c.name;
}

class TreeCases : public testing::TestWithParam<TreeCase> {};

TEST_P(TreeCases, AttemptsEachPrefixFromIndexTwoThenTheWholePath)
{
    const TreeCase& c = GetParam();
    fake::Reset();
    for (const std::u16string& folder : c.existing)
        fake::AddFolder(folder);
    fake::WideText callerText = fake::Wide(c.path);

    int result = CreateDirectoryTree(callerText.c_str());

    std::vector<std::string> expected;
    for (const std::string& folder : c.attempts)
        expected.push_back("CreateDirectoryW " + folder);
    EXPECT_EQ(Attempts(), expected);
    if (c.result >= 0) {
        EXPECT_EQ(result, c.result);
    }
    for (const std::u16string& folder : c.madeFolders)
        EXPECT_TRUE(fake::IsFolder(folder)) << fake::Utf8(folder);
    EXPECT_EQ(fake::Text(callerText.c_str()), c.path) << "the caller's text was written";
}

INSTANTIATE_TEST_SUITE_P(
    Paths, TreeCases,
    testing::Values(
        TreeCase{"OnlyLastFolderMissing", {u"C:\\a"}, u"C:\\a\\b", {"C:\\a\\b"}, 1, {u"C:\\a\\b"}},
        TreeCase{"TwoFoldersMissing",
                 {u"C:\\a"},
                 u"C:\\a\\b\\c",
                 {"C:\\a\\b\\c", "C:", "C:\\a", "C:\\a\\b", "C:\\a\\b\\c"},
                 1,
                 {u"C:\\a\\b", u"C:\\a\\b\\c"}},
        TreeCase{"AlreadyThereReportsFailure",
                 {u"C:\\a\\b"},
                 u"C:\\a\\b",
                 {"C:\\a\\b", "C:", "C:\\a", "C:\\a\\b"},
                 0,
                 {u"C:\\a\\b"}},
        TreeCase{"ForwardSlashesBecomeBackslashes",
                 {},
                 u"C:/a/b",
                 {"C:\\a\\b", "C:", "C:\\a", "C:\\a\\b"},
                 1,
                 {u"C:\\a", u"C:\\a\\b"}},
        TreeCase{"NetworkPathSkipsTheLeadingSeparators",
                 {u"\\\\server\\share"},
                 u"\\\\server\\share\\a\\b",
                 {"\\\\server\\share\\a\\b", "\\\\server", "\\\\server\\share", "\\\\server\\share\\a",
                  "\\\\server\\share\\a\\b"},
                 1,
                 {u"\\\\server\\share\\a", u"\\\\server\\share\\a\\b"}},
        TreeCase{"DoubledSeparatorGivesAPrefixEndingInOne",
                 {},
                 u"C:\\a\\\\b",
                 {"C:\\a\\\\b", "C:", "C:\\a", "C:\\a\\", "C:\\a\\\\b"},
                 -1,
                 {u"C:\\a"}},
        TreeCase{"TrailingSeparatorGivesThePathWithoutIt",
                 {},
                 u"C:\\a\\b\\",
                 {"C:\\a\\b\\", "C:", "C:\\a", "C:\\a\\b", "C:\\a\\b\\"},
                 -1,
                 {u"C:\\a", u"C:\\a\\b"}},
        TreeCase{"TwoUnitsAreEnough", {}, u"\\\\", {"\\\\", "\\\\"}, 0, {}}),
    [](const testing::TestParamInfo<TreeCase>& p) { return std::string(p.param.name); });

TEST(CreateDirectoryTree, RejectsNullAndTooShortPathsWithoutAnyCall)
{
    const WCHAR empty[] = {0};
    const WCHAR one[] = {'a', 0};
    const WCHAR* paths[] = {nullptr, empty, one};
    for (const WCHAR* path : paths) {
        fake::Reset();
        EXPECT_EQ(CreateDirectoryTree(path), 0);
        EXPECT_TRUE(fake::g.calls.empty());
    }
}

TEST(CreateDirectoryTree, LongestPathThatFitsIsWorkedOnAndOneMoreUnitIsRefused)
{
    fake::Reset();
    std::u16string fits = u"C:\\" + std::u16string(TREE_PATH_CAPACITY - 1 - 3, u'a');
    EXPECT_EQ(CreateDirectoryTree(fake::Wide(fits).c_str()), 1);
    EXPECT_EQ(Attempts().size(), 1u);

    fake::Reset();
    std::u16string tooLong = fits + u"a";
    EXPECT_EQ(CreateDirectoryTree(fake::Wide(tooLong).c_str()), 0);
    EXPECT_TRUE(fake::g.calls.empty());
}

// The routine must stop counting at its capacity: this text has no
// terminator within its 4096 units, and an address sanitizer build would
// catch a read past them.
TEST(CreateDirectoryTree, NeverReadsPastItsCapacity)
{
    fake::Reset();
    std::vector<WCHAR> unterminated(TREE_PATH_CAPACITY, WCHAR('a'));
    EXPECT_EQ(CreateDirectoryTree(unterminated.data()), 0);
    EXPECT_TRUE(fake::g.calls.empty());
}

TEST(CreateDirectoryTree, GoesOnWhenEveryCallFails)
{
    fake::Reset();
    fake::g.failures.push_back({"CreateDirectoryW", 0, ERROR_ACCESS_DENIED});
    EXPECT_EQ(CreateDirectoryTree(WIDE("C:\\a\\b")), 0);
    EXPECT_EQ(Attempts(), (std::vector<std::string>{"CreateDirectoryW C:\\a\\b", "CreateDirectoryW C:",
                                                    "CreateDirectoryW C:\\a", "CreateDirectoryW C:\\a\\b"}));
    EXPECT_FALSE(fake::Exists(u"C:\\a"));
}

}  // namespace
