// Name tables: every range boundary, the values that fall back to "?", the null buffer, and
// that a call writes the name and its NUL and nothing else.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include <pidsift/ts.h>

namespace {

using NameFn = int (*)(char *, u8);

struct Expected {
    unsigned uValue;
    const char *strName;
};

// Calls a name function into a fresh 256-byte buffer and returns the text it wrote.
std::string NameOf(NameFn function, u8 value)
{
    char buffer[256];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(function(buffer, value), 0);
    return std::string(buffer, strnlen(buffer, sizeof buffer));
}

std::string PIDName(u16 pid)
{
    char buffer[256];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(TS_Header_PIDToString(buffer, pid), 0);
    return std::string(buffer, strnlen(buffer, sizeof buffer));
}

void ExpectNames(NameFn function, const std::vector<Expected> &expected)
{
    for (const Expected &entry : expected)
        EXPECT_EQ(NameOf(function, u8(entry.uValue)), entry.strName)
            << "value 0x" << std::hex << entry.uValue;
}

// True when value lies in one of the inclusive ranges.
bool InRanges(unsigned value, const std::vector<std::pair<unsigned, unsigned>> &ranges)
{
    for (const auto &range : ranges)
        if (value >= range.first && value <= range.second)
            return true;
    return false;
}

// Over all 256 values, "?" comes out exactly for the values in the unnamed ranges.
void ExpectUnnamedExactly(NameFn function, const std::vector<std::pair<unsigned, unsigned>> &unnamed)
{
    for (unsigned value = 0; value < 256; ++value) {
        const bool unknown = NameOf(function, u8(value)) == "?";
        EXPECT_EQ(unknown, InRanges(value, unnamed)) << "value 0x" << std::hex << value;
    }
}

// Every value writes its name and NUL and leaves the rest of the buffer as it was.
void ExpectWritesOnlyNameAndNul(NameFn function)
{
    for (unsigned value = 0; value < 256; ++value) {
        char buffer[256];
        std::memset(buffer, 0x5A, sizeof buffer);
        function(buffer, u8(value));
        const size_t length = strnlen(buffer, sizeof buffer);
        ASSERT_GT(length, 0u) << "value 0x" << std::hex << value;
        ASSERT_LT(length, sizeof buffer);
        for (size_t i = length + 1; i < sizeof buffer; ++i)
            ASSERT_EQ(buffer[i], 0x5A) << "value 0x" << std::hex << value << " byte " << i;
    }
}

const NameFn kByteNameFunctions[] = {TS_Section_TagToString, TS_Section_TagToString_ISO,
                                     TS_Header_StreamTypeToString, TS_DescriptorTagToString};

}  // namespace

// Range ends and their named neighbours; the "?" values are checked over all 256 values.
TEST(TableIdNames, RangeBoundaries)
{
    ExpectNames(TS_Section_TagToString, {
        {0x00, "PAT"}, {0x01, "CAT"}, {0x02, "maybe PMT"},
        {0x3A, "DSM-CC Section"}, {0x3F, "DSM-CC Section"}, {0x40, "NIT Self"},
        {0x41, "NIT Other"}, {0x42, "SDT Self"}, {0x46, "SDT Other"}, {0x4A, "BAT"},
        {0x4E, "EIT Self"}, {0x4F, "EIT Other"},
        {0x50, "EIT Self Scedule"}, {0x5F, "EIT Self Scedule"},
        {0x60, "EIT Other Scedule"}, {0x6F, "EIT Other Scedule"},
        {0x70, "TDT"}, {0x72, "ST"}, {0x74, "AIT"}, {0x7E, "DIT"}, {0x7F, "SIT"},
        {0x82, "ECM ECM-S"}, {0x83, "ECM ECM-S"}, {0x84, "EMM EMM-S"}, {0x85, "EMM EMM-S"},
        {0x90, "<Carrier Definition>"}, {0xBF, "<Carrier Definition>"},
        {0xC0, "DCT"}, {0xC5, "NBIT Board"}, {0xC6, "NBIT Reference"}, {0xC8, "CDT"},
        {0xD0, "LIT"}, {0xD2, "ITT"},
    });
    ExpectUnnamedExactly(TS_Section_TagToString,
                         {{0x03, 0x39}, {0x43, 0x45}, {0x47, 0x49}, {0x4B, 0x4D}, {0x75, 0x7D},
                          {0x80, 0x81}, {0x86, 0x8F}, {0xC9, 0xCF}, {0xD3, 0xFF}});
}

TEST(TableIdNames, ISOAssignmentCoversEveryValue)
{
    ExpectNames(TS_Section_TagToString_ISO, {
        {0x00, "program_association_section"}, {0x01, "conditional_access_section"},
        {0x02, "TS_program_map_section"}, {0x03, "<reserved>"}, {0x3F, "<reserved>"},
        {0x40, "<User private>"}, {0xFE, "<User private>"}, {0xFF, "forbidden"},
    });
    ExpectUnnamedExactly(TS_Section_TagToString_ISO, {});
}

TEST(StreamTypeNames, RangeBoundaries)
{
    ExpectNames(TS_Header_StreamTypeToString, {
        {0x00, "<ISO/IEC Reserved>"}, {0x01, "ISO/IEC 11172 Video"},
        {0x02, "ISO/IEC 13818-2 Video"}, {0x0F, "ISO/IEC 13818-7 Audio"},
        {0x11, "ISO/IEC 14496-3 / AMD 1"},
        {0x19, "Metadata by ISO/IEC 13818-6 Sync download protocol"},
        {0x1B, "ISO/IEC 14496-10 AVC Video"}, {0x20, "IEC 14496-10 MVC Video sub bit"},
        {0x21, "<ISO/IEC 13818-1 Reserved>"}, {0x7E, "<ISO/IEC 13818-1 Reserved>"},
        {0x7F, "IPMP"}, {0x80, "<User define>"}, {0xFF, "<User define>"},
    });
    ExpectUnnamedExactly(TS_Header_StreamTypeToString, {});
}

TEST(DescriptorTagNames, RangeBoundaries)
{
    ExpectNames(TS_DescriptorTagToString, {
        {0x09, "Conditional Access"}, {0x0D, "Copyright"}, {0x13, "Carousel Identifier"},
        {0x15, "Deferred Association tags"}, {0x1C, "MPEG-4 Audio"}, {0x28, "AVC Video"},
        {0x2A, "AVC timing and HRD"}, {0x2E, "Extended MPEG-4 Audio"},
        {0x40, "Network Name"}, {0x44, "Wired Delivery System"}, {0x47, "Bouquet Name"},
        {0x52, "Stream Identifier"}, {0x55, "Parental Rating"}, {0x58, "Local Time Offset"},
        {0x63, "Partial Transport Stream"},
        {0x80, "<Carrier Definition>"}, {0xBF, "<Carrier Definition>"},
        {0xC0, "Hierarchical Transmission"}, {0xC1, "Digital Copy Control"},
        {0xC3, "Partial Transport Stream Time"}, {0xC8, "Video Decode Control"},
        {0xDC, "LDT linkage"}, {0xDE, "Content Availability"}, {0xDF, "<Tag Extention>"},
        {0xE0, "Service Group"}, {0xF7, "Carousel Compatible Composite"},
        {0xFD, "Data Component"}, {0xFE, "System Management"},
    });
    ExpectUnnamedExactly(TS_DescriptorTagToString,
                         {{0x00, 0x08}, {0x0A, 0x0C}, {0x0E, 0x12}, {0x16, 0x1B}, {0x1D, 0x27},
                          {0x29, 0x29}, {0x2B, 0x2D}, {0x2F, 0x3F}, {0x45, 0x46}, {0x56, 0x57},
                          {0x59, 0x62}, {0x64, 0x7F}, {0xE1, 0xF6}, {0xFF, 0xFF}});
}

TEST(PIDNames, RangeBoundaries)
{
    EXPECT_EQ(PIDName(0x0000), "Program Association Table");
    EXPECT_EQ(PIDName(0x0001), "Conditional Access Table");
    EXPECT_EQ(PIDName(0x0002), "<reserved>");
    EXPECT_EQ(PIDName(0x000F), "<reserved>");
    EXPECT_EQ(PIDName(0x0010), "<assigned>");
    EXPECT_EQ(PIDName(0x1FFE), "<assigned>");
    EXPECT_EQ(PIDName(0x1FFF), "Null packet");
    EXPECT_EQ(PIDName(0x2000), "?");
    EXPECT_EQ(PIDName(0xFFFF), "?");
}

TEST(Names, NullBufferGivesMinusOneForEveryValue)
{
    for (NameFn function : kByteNameFunctions)
        for (unsigned value = 0; value < 256; ++value)
            ASSERT_EQ(function(nullptr, u8(value)), -1) << "value 0x" << std::hex << value;
    for (u16 pid : {0x0000, 0x0001, 0x0010, 0x1FFF, 0x2000})
        EXPECT_EQ(TS_Header_PIDToString(nullptr, pid), -1);
}

TEST(Names, CallWritesOnlyTheNameAndItsNul)
{
    for (NameFn function : kByteNameFunctions)
        ExpectWritesOnlyNameAndNul(function);
    for (u16 pid : {0x0000, 0x0001, 0x0005, 0x0100, 0x1FFF, 0x2000}) {
        char buffer[256];
        std::memset(buffer, 0x5A, sizeof buffer);
        TS_Header_PIDToString(buffer, pid);
        const size_t length = std::strlen(buffer);
        for (size_t i = length + 1; i < sizeof buffer; ++i)
            ASSERT_EQ(buffer[i], 0x5A) << "pid " << pid << " byte " << i;
    }
}
