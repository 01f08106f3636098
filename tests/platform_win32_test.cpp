// The Win32 layer, run as a Windows program (on Wine here). The folder
// given in SAVELINK_TEST_FOLDER holds "folder", "file" and "unix-link", a
// symbolic link made from the Linux side that Wine shows as the folder it
// leads to; run_on_wine.py makes them.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "platform/junction_data.h"
#include "platform/platform.h"

namespace {

std::wstring Folder()
{
    const wchar_t* folder = _wgetenv(L"SAVELINK_TEST_FOLDER");
    return folder != nullptr ? folder : L"";
}

class Win32Layer : public testing::Test {
protected:
    std::wstring root;

    void SetUp() override
    {
        root = Folder();
        if (root.empty())
            GTEST_SKIP() << "SAVELINK_TEST_FOLDER is not set; run through run_on_wine.py";
    }

    std::wstring At(const std::wstring& name) const { return root + L"\\" + name; }

    bool Exists(const std::wstring& name) const
    {
        return GetFileAttributesW(At(name).c_str()) != INVALID_FILE_ATTRIBUTES;
    }
};

TEST_F(Win32Layer, QueriesTellFoldersFromFilesAndMissingPaths)
{
    struct {
        const wchar_t* name;
        int existingFolder;
        int directoryLink;
        int sameAsFolder;
    } cases[] = {
        {L"folder", 1, 0, 1},
        {L"file", 0, 0, 0},
        {L"missing", 0, 0, 0},
        {L"missing\\below", 0, 0, 0},
        {L"other", 1, 0, 0},
        // Wine shows a Unix link as the folder it leads to: not a link, and
        // the same folder as its target.
        {L"unix-link", 1, 0, 1},
    };
    for (const auto& c : cases) {
        std::wstring path = At(c.name);
        std::string label(c.name, c.name + wcslen(c.name));
        EXPECT_EQ(IsExistingFolder(path.c_str()), c.existingFolder) << label;
        EXPECT_EQ(IsDirectoryLink(path.c_str()), c.directoryLink) << label;
        EXPECT_EQ(IsSameFolder(path.c_str(), At(L"folder").c_str()), c.sameAsFolder) << label;
        EXPECT_EQ(IsSameFolder(At(L"folder").c_str(), path.c_str()), c.sameAsFolder) << label;
    }
}

// Wine implements no reparse points: the call must fail with a reason and
// take away the folder it made for the junction.
TEST_F(Win32Layer, AJunctionThatCannotBeMadeLeavesNoFolderBehind)
{
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(CreateDirectoryJunction(At(L"junction").c_str(), At(L"folder").c_str()), 0);
    EXPECT_NE(GetLastError(), DWORD(ERROR_SUCCESS));
    EXPECT_FALSE(Exists(L"junction"));
}

TEST_F(Win32Layer, AJunctionCannotLeadToANetworkShare)
{
    const wchar_t* targets[] = {L"\\\\server\\share\\Saves", L"\\\\?\\UNC\\server\\share\\Saves"};
    for (const wchar_t* target : targets) {
        EXPECT_EQ(CreateDirectoryJunction(At(L"junction").c_str(), target), 0);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_REPARSE_DATA));
        EXPECT_FALSE(Exists(L"junction"));
    }
}

// A junction's substitute name is not normalised by Windows: the data must
// be built from the path Windows means.
TEST_F(Win32Layer, AJunctionIsBuiltFromTheFullNormalisedPath)
{
    std::wstring plain = At(L"folder\\Milestone");
    struct {
        std::wstring given;
        std::wstring meant;
    } cases[] = {
        {At(L"folder\\\\Milestone"), plain},
        {At(L"other\\..\\folder\\.\\Milestone"), plain},
    };
    for (const auto& c : cases) {
        unsigned char built[JUNCTION_DATA_CAPACITY];
        unsigned char expected[JUNCTION_DATA_CAPACITY];
        size_t size = BuildJunctionDataForFolder(c.given.c_str(), built, sizeof built);
        size_t expectedSize = BuildJunctionData(c.meant.c_str(), expected, sizeof expected);
        ASSERT_NE(expectedSize, 0u);
        ASSERT_EQ(size, expectedSize);
        EXPECT_EQ(memcmp(built, expected, size), 0);
    }
}

TEST_F(Win32Layer, EmptyFoldersAndWhereALinkLeads)
{
    EXPECT_TRUE(CreateDirectoryW(At(L"empty").c_str(), nullptr));
    EXPECT_TRUE(CreateDirectoryW(At(L"full").c_str(), nullptr));
    EXPECT_TRUE(CreateDirectoryW(At(L"full\\inner").c_str(), nullptr));
    EXPECT_EQ(IsEmptyFolder(At(L"empty").c_str()), 1);
    EXPECT_EQ(IsEmptyFolder(At(L"full").c_str()), 0);
    EXPECT_EQ(IsEmptyFolder(At(L"file").c_str()), 0);
    EXPECT_EQ(IsEmptyFolder(At(L"missing").c_str()), 0);

    WCHAR destination[MAX_PATH];
    ASSERT_TRUE(GetLinkDestination(At(L"folder").c_str(), destination, MAX_PATH));
    EXPECT_EQ(_wcsicmp(destination, At(L"folder").c_str()), 0) << std::string(destination, destination + wcslen(destination));
    EXPECT_FALSE(GetLinkDestination(At(L"missing").c_str(), destination, MAX_PATH));
    EXPECT_FALSE(GetLinkDestination(At(L"folder").c_str(), destination, 4));
}

std::wstring Describe(DWORD code, size_t capacity)
{
    // Guard units past capacity catch any write beyond it.
    std::vector<WCHAR> text(capacity + 8, L'#');
    DescribeError(code, text.data(), capacity);
    for (size_t i = capacity; i < text.size(); ++i)
        EXPECT_EQ(text[i], L'#') << "written past capacity " << capacity;
    if (capacity == 0)
        return L"";
    const WCHAR* end = static_cast<const WCHAR*>(wmemchr(text.data(), 0, capacity));
    EXPECT_NE(end, nullptr) << "no terminator within capacity " << capacity;
    return end != nullptr ? std::wstring(text.data(), size_t(end - text.data())) : L"";
}

TEST(DescribeError, GivesTheSystemsWordsWithoutTheFinalStopAndLineBreak)
{
    wchar_t raw[512];
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                  ERROR_FILE_NOT_FOUND, 0, raw, 512, nullptr);
    ASSERT_GT(length, 3u);
    std::wstring words = Describe(ERROR_FILE_NOT_FOUND, 512);
    EXPECT_FALSE(words.empty());
    EXPECT_EQ(std::wstring(raw).find(words), 0u) << "not the system's text";
    EXPECT_EQ(std::wstring(L".\r\n ").find(words.back()), std::wstring::npos) << "ends in a stop or a break";
}

TEST(DescribeError, NamesACodeTheSystemHasNoTextFor)
{
    // Bit 29 marks a code of an application's own: the system knows none.
    EXPECT_EQ(Describe(0x20001234, 64), L"error 536875572");
}

TEST(DescribeError, CutsSafelyAtAnyCapacity)
{
    for (DWORD code : {DWORD(ERROR_FILE_NOT_FOUND), DWORD(0x20001234)}) {
        std::wstring full = Describe(code, 512);
        for (size_t capacity = 0; capacity <= full.size() + 2; ++capacity) {
            std::wstring cut = Describe(code, capacity);
            EXPECT_EQ(cut, full.substr(0, capacity == 0 ? 0 : capacity - 1)) << capacity;
        }
    }
}

// Standard error to a pipe, as a launcher or a log would take it.
std::string WriteErrorTextToPipe(const std::wstring& text)
{
    HANDLE readEnd;
    HANDLE writeEnd;
    EXPECT_TRUE(CreatePipe(&readEnd, &writeEnd, nullptr, 1 << 16));
    HANDLE saved = GetStdHandle(STD_ERROR_HANDLE);
    SetStdHandle(STD_ERROR_HANDLE, writeEnd);
    WriteErrorText(text.c_str());
    SetStdHandle(STD_ERROR_HANDLE, saved);
    CloseHandle(writeEnd);
    std::string bytes;
    char buffer[4096];
    DWORD count;
    while (ReadFile(readEnd, buffer, sizeof buffer, &count, nullptr) && count > 0)
        bytes.append(buffer, count);
    CloseHandle(readEnd);
    return bytes;
}

TEST(WriteErrorText, GivesExactUtf8AcrossChunksWithCrlfLineEnds)
{
    // Unit 511 and 512 are one character: the first chunk of 512 units
    // must stop before it.
    std::wstring text = std::wstring(511, L'a') + L"\xD83C\xDFCE";
    std::string expected = std::string(511, 'a') + "\xF0\x9F\x8F\x8E";
    for (int i = 0; i < 600; ++i) {
        text += L"\x00EB\x20AC";
        expected += "\xC3\xAB\xE2\x82\xAC";
    }
    text += L"\n";
    expected += "\r\n";

    EXPECT_EQ(WriteErrorTextToPipe(text), expected);
    EXPECT_EQ(WriteErrorTextToPipe(L"savelink: one line\n"), "savelink: one line\r\n");
}

}  // namespace
