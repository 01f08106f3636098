// The POSIX platform layer on a real file system, in a fresh temporary folder.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "platform/platform.h"

namespace fs = std::filesystem;

namespace {

std::u16string Wide(const std::string& ascii)
{
    return std::u16string(ascii.begin(), ascii.end());
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class PosixPlatform : public testing::Test {
protected:
    std::string root;

    void SetUp() override
    {
        root = (fs::temp_directory_path() / ("savelink-platform-" + std::to_string(std::random_device()()))).string();
        ASSERT_TRUE(fs::create_directory(root));
        SetLastError(ERROR_SUCCESS);
    }

    void TearDown() override { fs::remove_all(root); }

    std::string At(const std::string& name) const { return root + "/" + name; }

    // The path as the program builds it: '\' between the names it adds.
    std::u16string WideAt(const std::string& name) const { return Wide(root) + u"\\" + Wide(name); }

    void MakeFile(const std::string& name) const { std::ofstream(At(name), std::ios::binary) << "save"; }

    bool IsDir(const std::string& name) const { return fs::is_directory(fs::symlink_status(At(name))); }

    bool Exists(const std::string& name) const { return fs::exists(fs::symlink_status(At(name))); }
};

TEST_F(PosixPlatform, CreateDirectoryMakesOneFolderAndFailsOnAnythingInTheWay)
{
    EXPECT_TRUE(CreateDirectoryW(WideAt("a").c_str(), nullptr));
    EXPECT_TRUE(IsDir("a"));

    MakeFile("file");
    fs::create_symlink(At("nowhere"), At("dangling"));
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

void PrintTo(const RemoveCase& c, std::ostream* out)
{
    *out << c.name;
}

void WriteSave(const std::string& path)
{
    std::ofstream(path, std::ios::binary) << "save";
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
        EXPECT_EQ(ReadFile(At(c.survivor)), "save") << c.survivor;
    }
}

INSTANTIATE_TEST_SUITE_P(
    WhatStandsThere, RemoveCases,
    testing::Values(
        RemoveCase{"EmptyFolder", [](const std::string& r) { fs::create_directory(r + "/x"); }, true, 0, nullptr},
        RemoveCase{"FolderWithFile",
                   [](const std::string& r) {
                       fs::create_directory(r + "/x");
                       WriteSave(r + "/x/f");
                   },
                   false, ERROR_DIR_NOT_EMPTY, "x/f"},
        RemoveCase{"LinkToFolderWithFile",
                   [](const std::string& r) {
                       fs::create_directory(r + "/t");
                       WriteSave(r + "/t/f");
                       fs::create_directory_symlink(r + "/t", r + "/x");
                   },
                   true, 0, "t/f"},
        RemoveCase{"DanglingLink", [](const std::string& r) { fs::create_symlink(r + "/gone", r + "/x"); }, true, 0,
                   nullptr},
        RemoveCase{"LinkToFile",
                   [](const std::string& r) {
                       WriteSave(r + "/f");
                       fs::create_symlink(r + "/f", r + "/x");
                   },
                   false, ERROR_DIRECTORY, "f"},
        RemoveCase{"File", [](const std::string& r) { WriteSave(r + "/x"); }, false, ERROR_DIRECTORY, "x"},
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

    EXPECT_EQ(fs::read_symlink(At("link")).string(), At("target"));
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
    fs::create_symlink(At("f"), At("fl"));

    EXPECT_TRUE(IsExistingFolder(WideAt("a").c_str()));
    EXPECT_FALSE(IsExistingFolder(WideAt("f").c_str()));
    EXPECT_FALSE(IsExistingFolder(WideAt("none").c_str()));
    EXPECT_FALSE(IsSameFolder(WideAt("a").c_str(), WideAt("b").c_str()));
    EXPECT_TRUE(IsSameFolder(WideAt("a").c_str(), WideAt("a").c_str()));
    EXPECT_FALSE(IsSameFolder(WideAt("f").c_str(), WideAt("fl").c_str())) << "files are no folders";
}

TEST_F(PosixPlatform, EmptyFoldersAndWhereALinkLeads)
{
    fs::create_directories(At("full/inner"));
    fs::create_directory(At("empty"));
    MakeFile("f");
    fs::create_directory_symlink(At("full"), At("link"));
    EXPECT_TRUE(IsEmptyFolder(WideAt("empty").c_str()));
    for (const char* name : {"full", "link", "f", "none"})
        EXPECT_FALSE(IsEmptyFolder(WideAt(name).c_str())) << name;

    WCHAR destination[MAX_PATH];
    ASSERT_TRUE(GetLinkDestination(WideAt("link").c_str(), destination, MAX_PATH));
    EXPECT_EQ(std::u16string(destination), Wide(fs::canonical(At("full")).string()));
    EXPECT_FALSE(GetLinkDestination(WideAt("none").c_str(), destination, MAX_PATH));
    EXPECT_FALSE(GetLinkDestination(WideAt("link").c_str(), destination, 4));
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
    EXPECT_EQ(std::distance(fs::directory_iterator(root), fs::directory_iterator()), 1);
}

TEST_F(PosixPlatform, APathLongerThanTheSystemTakesFailsCleanly)
{
    std::u16string longPath = Wide(root) + u"\\" + std::u16string(4096, u'a');
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
