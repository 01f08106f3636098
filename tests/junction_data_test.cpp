// The reparse data of a junction against bytes worked out by hand from the
// documented mount-point layout: tag, data length, reserved, then offset and
// length of the substitute name ("\??\" + target) and of the print name
// (target), then both names, each followed by a NUL its length leaves out.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "platform/junction_data.h"

namespace {

typedef std::vector<unsigned char> Bytes;

// The platform's WCHAR is char16_t here and wchar_t on Windows.
std::basic_string<WCHAR> Wide(const std::u16string& text)
{
    return std::basic_string<WCHAR>(text.begin(), text.end());
}

Bytes Build(const std::u16string& target, size_t capacity = JUNCTION_DATA_CAPACITY)
{
    // Guard bytes past capacity catch any write beyond it.
    Bytes buffer(capacity + 16, 0xEE);
    size_t size = BuildJunctionData(Wide(target).c_str(), buffer.data(), capacity);
    for (size_t i = capacity; i < buffer.size(); ++i)
        EXPECT_EQ(buffer[i], 0xEE) << "written past capacity at " << i;
    buffer.resize(size);
    return buffer;
}

struct Golden {
    const char* name;
    std::u16string target;
    Bytes bytes;
};

const Golden kGolden[] = {
    {"Ascii",
     u"C:\\A",
     {0x03, 0x00, 0x00, 0xA0,  // IO_REPARSE_TAG_MOUNT_POINT
      0x24, 0x00,              // data length 36
      0x00, 0x00,              // reserved
      0x00, 0x00, 0x10, 0x00,  // substitute name at 0, 16 bytes
      0x12, 0x00, 0x08, 0x00,  // print name at 18, 8 bytes
      0x5C, 0x00, 0x3F, 0x00, 0x3F, 0x00, 0x5C, 0x00, 0x43, 0x00, 0x3A, 0x00, 0x5C, 0x00, 0x41, 0x00,
      0x00, 0x00,
      0x43, 0x00, 0x3A, 0x00, 0x5C, 0x00, 0x41, 0x00,
      0x00, 0x00}},
    {"LettersOutsideAscii",
     u"D:\\Zo\u00eb",
     {0x03, 0x00, 0x00, 0xA0,
      0x2C, 0x00,              // data length 44
      0x00, 0x00,
      0x00, 0x00, 0x14, 0x00,  // substitute name at 0, 20 bytes
      0x16, 0x00, 0x0C, 0x00,  // print name at 22, 12 bytes
      0x5C, 0x00, 0x3F, 0x00, 0x3F, 0x00, 0x5C, 0x00, 0x44, 0x00, 0x3A, 0x00, 0x5C, 0x00, 0x5A, 0x00,
      0x6F, 0x00, 0xEB, 0x00,
      0x00, 0x00,
      0x44, 0x00, 0x3A, 0x00, 0x5C, 0x00, 0x5A, 0x00, 0x6F, 0x00, 0xEB, 0x00,
      0x00, 0x00}},
    {"CharacterOutsideTheBmp",
     u"c:\\\U0001F3CE",
     {0x03, 0x00, 0x00, 0xA0,
      0x28, 0x00,              // data length 40
      0x00, 0x00,
      0x00, 0x00, 0x12, 0x00,  // substitute name at 0, 18 bytes
      0x14, 0x00, 0x0A, 0x00,  // print name at 20, 10 bytes
      0x5C, 0x00, 0x3F, 0x00, 0x3F, 0x00, 0x5C, 0x00, 0x63, 0x00, 0x3A, 0x00, 0x5C, 0x00,
      0x3C, 0xD8, 0xCE, 0xDF,  // U+1F3CE as a surrogate pair, each unit little-endian
      0x00, 0x00,
      0x63, 0x00, 0x3A, 0x00, 0x5C, 0x00, 0x3C, 0xD8, 0xCE, 0xDF,
      0x00, 0x00}},
};

TEST(JunctionData, MatchesTheDocumentedLayoutByteForByte)
{
    for (const Golden& golden : kGolden) {
        EXPECT_EQ(Build(golden.target), golden.bytes) << golden.name;
        // Exactly enough room is enough; one byte less is refused untouched.
        EXPECT_EQ(Build(golden.target, golden.bytes.size()), golden.bytes) << golden.name;
        EXPECT_EQ(Build(golden.target, golden.bytes.size() - 1), Bytes()) << golden.name;
    }
}

TEST(JunctionData, RefusesTargetsAJunctionCannotLeadTo)
{
    const std::u16string refused[] = {
        u"",
        u"C",
        u"C:",
        u"C:relative\\Saves",
        u"C:/Users/Pat/Saves",
        u"Saves",
        u"..\\Saves",
        u"\\Users\\Pat\\Saves",
        u"\\\\server\\share\\Saves",
        u"\\\\?\\C:\\Users\\Pat\\Saves",
        u"1:\\Saves",
    };
    for (const std::u16string& target : refused)
        EXPECT_EQ(Build(target), Bytes()) << std::string(target.begin(), target.end());
    unsigned char buffer[8];
    EXPECT_EQ(BuildJunctionData(nullptr, buffer, sizeof buffer), 0u);
    EXPECT_EQ(BuildJunctionData(WIDE("C:\\A"), nullptr, 64), 0u);
}

// Windows takes at most 16 KiB of reparse data: 28 bytes and 4 per unit
// of the target reach that at 4089 units.
TEST(JunctionData, RefusesATargetTooLongForReparseData)
{
    std::u16string longest = u"C:\\" + std::u16string(4089 - 3, u'x');
    std::u16string tooLong = longest + u"x";
    Bytes room(20000);
    EXPECT_EQ(BuildJunctionData(Wide(longest).c_str(), room.data(), room.size()), 16384u);
    EXPECT_EQ(BuildJunctionData(Wide(tooLong).c_str(), room.data(), room.size()), 0u);
}

}  // namespace
