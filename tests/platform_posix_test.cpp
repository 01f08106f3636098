// The POSIX platform layer on a real file system, in a fresh temporary folder.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/platform.h"

namespace {

std::u16string Wide(const std::string& ascii)
{
    return std::u16string(ascii.begin(), ascii.end());
}

class PosixPlatform : public testing::Test {
protected:
    std::string root;

    void SetUp() override
    {
        char pattern[] = "/tmp/savelink-platform-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root = pattern;
        SetLastError(ERROR_SUCCESS);
    }

    void TearDown() override
    {
        std::string command = "rm -rf '" + root + "'";
        ASSERT_EQ(system(command.c_str()), 0);
    }

    std::string At(const std::string& name) const { return root + "/" + name; }

    // The path as the program builds it: '\' between the names it adds.
    std::u16string WideAt(const std::string& name) const { return Wide(root) + u"\\" + Wide(name); }

    void MakeFile(const std::string& name) const
    {
        int descriptor = open(At(name).c_str(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(descriptor, 0);
        ASSERT_EQ(write(descriptor, "save", 4), 4);
        close(descriptor);
    }

    bool IsDir(const std::string& name) const
    {
        struct stat info;
        return lstat(At(name).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    }

    bool IsSymlink(const std::string& name) const
    {
        struct stat info;
        return lstat(At(name).c_str(), &info) == 0 && S_ISLNK(info.st_mode);
    }

    bool Exists(const std::string& name) const
    {
        struct stat info;
        return lstat(At(name).c_str(), &info) == 0;
    }
};

TEST_F(PosixPlatform, CreateDirectoryMakesOneFolderAndFailsOnAnythingInTheWay)
{
    EXPECT_TRUE(CreateDirectoryW(WideAt("a").c_str(), nullptr));
    EXPECT_TRUE(IsDir("a"));

    MakeFile("file");
    ASSERT_EQ(symlink(At("nowhere").c_str(), At("dangling").c_str()), 0);
    for (const char* name : {"a", "file", "dangling"}) {
        EXPECT_FALSE(CreateDirectoryW(WideAt(name).c_str(), nullptr)) << name;
        EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS)) << name;
    }
    EXPECT_FALSE(CreateDirectoryW(WideAt("missing\\b").c_str(), nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(Exists("missing"));
}

struct RemoveCase {
    const char* name;
    void (*arrange)(const std::string& root);
    bool removed;
    DWORD error;
    const char* survivor;  // a file that must still hold "save" afterwards
};

void Run(const std::string& command)
{
    ASSERT_EQ(system(command.c_str()), 0) << command;
}

void PrintTo(const RemoveCase& c, std::ostream* out)
{
    *out << c.name;
}

class RemoveCases : public PosixPlatform, public testing::WithParamInterface<RemoveCase> {};

// A link goes itself, never what it leads to; a folder goes only when empty.
TEST_P(RemoveCases, RemovesOnlyAnEmptyFolderOrALink)
{
    const RemoveCase& c = GetParam();
    c.arrange(root);

    BOOL removed = RemoveDirectoryW(WideAt("x").c_str());

    EXPECT_EQ(bool(removed), c.removed);
    if (c.removed) {
        EXPECT_FALSE(Exists("x"));
    } else {
        EXPECT_EQ(GetLastError(), c.error);
        EXPECT_EQ(Exists("x"), c.error != ERROR_PATH_NOT_FOUND);
    }
    if (c.survivor != nullptr) {
        std::string command = "grep -qx save '" + At(c.survivor) + "'";
        EXPECT_EQ(system(command.c_str()), 0) << c.survivor;
    }
}

INSTANTIATE_TEST_SUITE_P(
    WhatStandsThere, RemoveCases,
    testing::Values(
        RemoveCase{"EmptyFolder", [](const std::string& r) { Run("mkdir '" + r + "/x'"); }, true, 0, nullptr},
        RemoveCase{"FolderWithFile",
                   [](const std::string& r) { Run("mkdir '" + r + "/x' && echo save > '" + r + "/x/f'"); },
                   false, ERROR_DIR_NOT_EMPTY, "x/f"},
        RemoveCase{"LinkToFolderWithFile",
                   [](const std::string& r) {
                       Run("mkdir '" + r + "/t' && echo save > '" + r + "/t/f' && ln -s '" + r + "/t' '" + r +
                           "/x'");
                   },
                   true, 0, "t/f"},
        RemoveCase{"DanglingLink", [](const std::string& r) { Run("ln -s '" + r + "/gone' '" + r + "/x'"); },
                   true, 0, nullptr},
        RemoveCase{"LinkToFile",
                   [](const std::string& r) {
                       Run("echo save > '" + r + "/f' && ln -s '" + r + "/f' '" + r + "/x'");
                   },
                   false, ERROR_DIRECTORY, "f"},
        RemoveCase{"File", [](const std::string& r) { Run("echo save > '" + r + "/x'"); }, false, ERROR_DIRECTORY,
                   "x"},
        RemoveCase{"Nothing", [](const std::string&) {}, false, ERROR_PATH_NOT_FOUND, nullptr}),
    [](const testing::TestParamInfo<RemoveCase>& p) { return std::string(p.param.name); });

TEST(PosixRemove, NothingThereStillSaysNothingWasRemoved)
{
    EXPECT_FALSE(RemoveDirectoryW(u"/nonexistent-savelink-test\\x"));
}

TEST_F(PosixPlatform, SymbolicLinkStoresTheTargetAsGivenWithSlashes)
{
    ASSERT_TRUE(CreateDirectoryW(WideAt("target").c_str(), nullptr));

    EXPECT_TRUE(CreateSymbolicLinkW(WideAt("link").c_str(), WideAt("target").c_str(),
                                    SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE));

    char stored[PATH_MAX] = {0};
    ASSERT_GT(readlink(At("link").c_str(), stored, sizeof stored - 1), 0);
    EXPECT_EQ(std::string(stored), At("target"));
    EXPECT_TRUE(IsDirectoryLink(WideAt("link").c_str()));
    EXPECT_TRUE(IsSameFolder(WideAt("link").c_str(), WideAt("target").c_str()));
    EXPECT_FALSE(IsDirectoryLink(WideAt("target").c_str()));
}

TEST_F(PosixPlatform, SymbolicLinkRefusesUnknownFlags)
{
    EXPECT_FALSE(CreateSymbolicLinkW(WideAt("link").c_str(), WideAt("target").c_str(), 0x4));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(Exists("link"));
}

TEST_F(PosixPlatform, FolderQueriesTellFoldersFromFilesAndLinks)
{
    ASSERT_TRUE(CreateDirectoryW(WideAt("a").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(WideAt("b").c_str(), nullptr));
    MakeFile("f");
    ASSERT_EQ(symlink(At("f").c_str(), At("fl").c_str()), 0);

    EXPECT_TRUE(IsExistingFolder(WideAt("a").c_str()));
    EXPECT_FALSE(IsExistingFolder(WideAt("f").c_str()));
    EXPECT_FALSE(IsExistingFolder(WideAt("none").c_str()));
    EXPECT_FALSE(IsSameFolder(WideAt("a").c_str(), WideAt("b").c_str()));
    EXPECT_TRUE(IsSameFolder(WideAt("a").c_str(), WideAt("a").c_str()));
    EXPECT_FALSE(IsSameFolder(WideAt("f").c_str(), WideAt("fl").c_str())) << "files are no folders";
}

TEST_F(PosixPlatform, JunctionsAreNotSupportedAndLeaveNothing)
{
    EXPECT_FALSE(CreateDirectoryJunction(WideAt("j").c_str(), WideAt("t").c_str()));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_SUPPORTED));
    EXPECT_FALSE(Exists("j"));
}

TEST_F(PosixPlatform, PathsAreUtf8AndAnUnpairedSurrogateMakesNothing)
{
    // "Zoë" and a racing car, beyond the basic plane.
    std::u16string name = u"Zo\u00eb \U0001F3CE";
    EXPECT_TRUE(CreateDirectoryW((Wide(root) + u"\\" + name).c_str(), nullptr));
    EXPECT_TRUE(IsDir("Zo\xc3\xab \xf0\x9f\x8f\x8e"));

    for (char16_t lone : {char16_t(0xD83C), char16_t(0xDFCE)}) {
        std::u16string broken = Wide(root) + u"\\bad" + lone;
        EXPECT_FALSE(CreateDirectoryW(broken.c_str(), nullptr));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_NAME));
    }
    EXPECT_EQ(system(("test $(ls '" + root + "' | wc -l) -eq 1").c_str()), 0);
}

TEST_F(PosixPlatform, APathLongerThanTheSystemTakesFailsCleanly)
{
    std::u16string longPath = Wide(root) + u"\\" + std::u16string(PATH_MAX, u'a');
    EXPECT_FALSE(CreateDirectoryW(longPath.c_str(), nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILENAME_EXCED_RANGE));
}

class RoamingFolder : public testing::Test {
protected:
    void SetUp() override
    {
        SaveVariable("HOME", &home, &hadHome);
        SaveVariable("XDG_CONFIG_HOME", &config, &hadConfig);
    }
    void TearDown() override
    {
        RestoreVariable("HOME", home, hadHome);
        RestoreVariable("XDG_CONFIG_HOME", config, hadConfig);
    }

    static void Set(const char* name, const char* value)
    {
        if (value == nullptr)
            unsetenv(name);
        else
            setenv(name, value, 1);
    }

private:
    static void SaveVariable(const char* name, std::string* value, bool* had)
    {
        const char* current = getenv(name);
        *had = current != nullptr;
        if (*had)
            *value = current;
    }
    static void RestoreVariable(const char* name, const std::string& value, bool had)
    {
        Set(name, had ? value.c_str() : nullptr);
    }
    std::string home, config;
    bool hadHome = false, hadConfig = false;
};

TEST_F(RoamingFolder, ComesFromTheConfigFolderVariablesWhenAbsolute)
{
    struct {
        const char* home;
        const char* config;
        const char16_t* expected;  // nullptr: the lookup fails
    } cases[] = {
        {"/home/pat", "/data/config", u"/data/config"},
        {"/home/pat", nullptr, u"/home/pat/.config"},
        {"/home/pat", "", u"/home/pat/.config"},
        {"/home/pat", "relative/config", u"/home/pat/.config"},
        {"/home/pat/", nullptr, u"/home/pat/.config"},
        {"/home/Zo\xc3\xab", nullptr, u"/home/Zo\u00eb/.config"},
        {"/", nullptr, u"/.config"},
        {"/data/config//", "/data/config//", u"/data/config"},
        {nullptr, nullptr, nullptr},
        {"", nullptr, nullptr},
        {"home/pat", nullptr, nullptr},
        {"/home/\xff", nullptr, nullptr},  // not UTF-8
    };
    for (const auto& c : cases) {
        Set("HOME", c.home);
        Set("XDG_CONFIG_HOME", c.config);
        WCHAR path[MAX_PATH];
        for (WCHAR& unit : path)
            unit = u'#';
        BOOL found = SHGetSpecialFolderPathW(nullptr, path, CSIDL_APPDATA, FALSE);
        std::string label = std::string(c.home ? c.home : "(unset)") + " / " + (c.config ? c.config : "(unset)");
        if (c.expected == nullptr) {
            EXPECT_FALSE(found) << label;
        } else {
            EXPECT_TRUE(found) << label;
            EXPECT_EQ(std::u16string(path), std::u16string(c.expected)) << label;
        }
    }
}

TEST_F(RoamingFolder, AFolderThatDoesNotFitTheBufferIsNotReturned)
{
    std::string tooLong = "/" + std::string(MAX_PATH, 'a');
    Set("XDG_CONFIG_HOME", tooLong.c_str());
    WCHAR path[MAX_PATH];
    EXPECT_FALSE(SHGetSpecialFolderPathW(nullptr, path, CSIDL_APPDATA, FALSE));

    std::string fits = "/" + std::string(MAX_PATH - 2, 'a');
    Set("XDG_CONFIG_HOME", fits.c_str());
    EXPECT_TRUE(SHGetSpecialFolderPathW(nullptr, path, CSIDL_APPDATA, FALSE));
    EXPECT_EQ(std::u16string(path).size(), size_t(MAX_PATH - 1));
}

TEST(PosixCommandLine, KnowsOnlyPause)
{
    EXPECT_EQ(RunCommandLine("dir"), -1);
}

}  // namespace
