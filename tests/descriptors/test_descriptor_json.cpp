// The JSON form of every descriptor kind: fields worked out by hand from the descriptor's bytes,
// decoded through the dispatch and read back by a JSON parser; foreign tags and null pointers.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cstring>
#include <memory>
#include <set>
#include <vector>

#include "capture.h"
#include "descriptors/descriptors.h"

namespace {

using nlohmann::json;
using testsupport::CaptureStdout;

std::unique_ptr<TS_Descriptor> Decoded(const std::vector<u8> &bytes)
{
    auto descriptor = std::make_unique<TS_Descriptor>();
    std::memset(descriptor.get(), 0, sizeof *descriptor);
    EXPECT_EQ(TS_GetDescriptor(descriptor.get(), bytes.data()), 0);
    return descriptor;
}

std::string Written(TS_DescriptorJSON form, const TS_Descriptor *descriptor, int *result)
{
    TS_Json writer;
    TS_Json_Start(&writer);
    return CaptureStdout([&] { *result = form(&writer, descriptor); });
}

TEST(DescriptorJson, EveryKindWritesItsFields)
{
    const struct {
        std::vector<u8> bytes;
        json expected;
    } cases[] = {
        {{0x02, 3, 0x5A, 0x48, 0x5F},
         {{"tag", 2},
          {"length", 3},
          {"name", "Video stream"},
          {"multiple_frame_rate_flag", 0},
          {"frame_rate_code", 11},
          {"mpeg_1_only_flag", 0},
          {"constrained_parameter_flag", 1},
          {"still_picture_flag", 0},
          {"profile_and_level_indication", 72},
          {"chroma_format", 1},
          {"frame_rate_extension_flag", 0}}},
        // MPEG_1_only_flag set: no MPEG-2 fields.
        {{0x02, 1, 0x8D},
         {{"tag", 2},
          {"length", 1},
          {"name", "Video stream"},
          {"multiple_frame_rate_flag", 1},
          {"frame_rate_code", 1},
          {"mpeg_1_only_flag", 1},
          {"constrained_parameter_flag", 0},
          {"still_picture_flag", 1}}},
        {{0x03, 1, 0xE8},
         {{"tag", 3},
          {"length", 1},
          {"name", "Audio stream"},
          {"free_format_flag", 1},
          {"id", 1},
          {"layer", 2},
          {"variable_rate_audio_indicator", 1}}},
        {{0x04, 4, 0xF3, 0xC5, 0x82, 0x7F},
         {{"tag", 4},
          {"length", 4},
          {"name", "Hierarchy"},
          {"hierarchy_type", 3},
          {"hierarchy_layer_index", 5},
          {"hierarchy_embedded_layer_index", 2},
          {"hierarchy_channel", 63}}},
        {{0x05, 6, 'H', 'D', 'M', 'V', 0xAB, 0xCD},
         {{"tag", 5},
          {"length", 6},
          {"name", "Registration"},
          {"format_identifier", 0x48444D56},
          {"additional_identification_info", "abcd"}}},
        {{0x06, 1, 0x02}, {{"tag", 6}, {"length", 1}, {"name", "Data stream alignment"}, {"alignment_type", 2}}},
        {{0x07, 4, 0x1E, 0x00, 0x43, 0x83},
         {{"tag", 7},
          {"length", 4},
          {"name", "Target background grid"},
          {"horizontal_size", 1920},
          {"vertical_size", 1080},
          {"aspect_ratio_information", 3}}},
        {{0x08, 4, 0x01, 0x02, 0x03, 0x0F},
         {{"tag", 8},
          {"length", 4},
          {"name", "Video window"},
          {"horizontal_offset", 64},
          {"vertical_offset", 8240},
          {"window_priority", 15}}},
        {{0x09, 6, 0x00, 0x05, 0xE1, 0x30, 0x01, 0x02},
         {{"tag", 9},
          {"length", 6},
          {"name", "Conditional access"},
          {"ca_system_id", 5},
          {"ca_pid", 0x0130},
          {"private_data_byte", "0102"}}},
        // A language code outside ASCII reads as ISO 8859-1; the two bytes short of an entry are left out.
        {{0x0A, 10, 'j', 'p', 'n', 0, 'd', 0xFC, 't', 3, 'x', 'x'},
         {{"tag", 10},
          {"length", 10},
          {"name", "ISO 639 language"},
          {"languages", json::array({{{"iso_639_language_code", "jpn"}, {"audio_type", 0}},
                                     {{"iso_639_language_code", "d\xc3\xbct"}, {"audio_type", 3}}})}}},
        {{0x0B, 2, 0x85, 0x60},
         {{"tag", 11},
          {"length", 2},
          {"name", "System clock"},
          {"external_clock_reference_indicator", 1},
          {"clock_accuracy_integer", 5},
          {"clock_accuracy_exponent", 3}}},
        {{0x0C, 4, 0x80, 0x10, 0x7F, 0xFF},
         {{"tag", 12},
          {"length", 4},
          {"name", "Multiplex buffer utilization"},
          {"bound_valid_flag", 1},
          {"ltw_offset_lower_bound", 16},
          {"ltw_offset_upper_bound", 32767}}},
        {{0x0D, 4, 0x00, 0x00, 0x00, 0x2A},
         {{"tag", 13},
          {"length", 4},
          {"name", "Copyright"},
          {"copyright_identifier", 42},
          {"additional_copyright_info", ""}}},
        {{0x0E, 3, 0xC1, 0x00, 0x00},
         {{"tag", 14}, {"length", 3}, {"name", "Maximum bitrate"}, {"maximum_bitrate", 65536}}},
        {{0x0F, 4, 0xFF, 0xFF, 0xFF, 0xFF},
         {{"tag", 15}, {"length", 4}, {"name", "Private data indicator"}, {"private_data_indicator", 4294967295u}}},
        {{0x10, 6, 0xC0, 0x01, 0x00, 0x3F, 0xFF, 0xFF},
         {{"tag", 16}, {"length", 6}, {"name", "Smoothing buffer"}, {"sb_leak_rate", 256}, {"sb_size", 4194303}}},
        {{0x11, 1, 0xFF}, {{"tag", 17}, {"length", 1}, {"name", "STD"}, {"leak_valid_flag", 1}}},
        {{0x12, 2, 0x9F, 0xFF},
         {{"tag", 18},
          {"length", 2},
          {"name", "IBP"},
          {"closed_gop_flag", 1},
          {"identical_gop_flag", 0},
          {"max_gop_length", 8191}}},
        // Raw: named from the table of tags, or null for a tag it does not name.
        {{0xC1, 2, 0x84, 0xFF}, {{"tag", 0xC1}, {"length", 2}, {"name", "Digital Copy Control"}, {"bytes", "84ff"}}},
        {{0x60, 0}, {{"tag", 0x60}, {"length", 0}, {"name", nullptr}, {"bytes", ""}}},
    };
    std::set<u8> covered;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.expected.dump());
        covered.insert(c.bytes[0]);
        const auto descriptor = Decoded(c.bytes);
        int result = 1;
        const std::string text = Written(TS_Descriptor_PrintJSON, descriptor.get(), &result);
        EXPECT_EQ(result, 0);
        const json parsed = json::parse(text);
        EXPECT_EQ(parsed, c.expected);
        // Fields come in the order of the syntax, after tag, length and name.
        EXPECT_EQ(text.rfind(R"({"tag":)", 0), 0u);
    }
    for (const TS_DescriptorKind &kind : TS_DESCRIPTOR_KINDS)
        EXPECT_TRUE(covered.count(kind.u8Tag)) << "no case for tag " << int(kind.u8Tag);
}

TEST(DescriptorJson, AKindWritesNothingForAnotherKindOrANullPointer)
{
    const auto other = Decoded({0x60, 1, 0x00});
    const auto video = Decoded({0x02, 1, 0x8D});
    TS_Json writer;
    TS_Json_Start(&writer);
    for (const TS_DescriptorKind &kind : TS_DESCRIPTOR_KINDS) {
        SCOPED_TRACE(int(kind.u8Tag));
        int result = 0;
        EXPECT_EQ(Written(kind.pfnJSON, kind.u8Tag == 0x02 ? other.get() : video.get(), &result), "");
        EXPECT_EQ(result, -2);
        EXPECT_EQ(kind.pfnJSON(&writer, nullptr), -1);
        EXPECT_EQ(kind.pfnJSON(nullptr, video.get()), -1);
    }
    EXPECT_EQ(TS_Descriptor_PrintJSON(&writer, nullptr), -1);
    EXPECT_EQ(TS_DESCRIPTOR_RAW_KIND.pfnJSON(nullptr, other.get()), -1);
}

}  // namespace
