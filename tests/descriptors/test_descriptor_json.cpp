// The JSON form of the descriptor kinds: fields worked out by hand from the descriptor's bytes,
// decoded through the dispatch and read back by a JSON parser; foreign tags and null pointers.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cstring>
#include <memory>
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
    return testsupport::Printed([&](TS_Sink *out) {
        TS_Json writer;
        TS_Json_Start(&writer, out);
        *result = form(&writer, descriptor);
    });
}

// The kinds whose JSON form does more than name its fields: fields present or not, bytes behind
// an identifier, a list of language entries, names from the table of tags.
TEST(DescriptorJson, KindsWriteTheirFields)
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
        {{0x09, 6, 0x00, 0x05, 0xE1, 0x30, 0x01, 0x02},
         {{"tag", 9},
          {"length", 6},
          {"name", "Conditional access"},
          {"ca_system_id", 5},
          {"ca_pid", 0x0130},
          {"private_data_byte", "0102"}}},
        // Too short for its identifier: no bytes behind it.
        {{0x05, 2, 'H', 'D', 'M', 'V'},
         {{"tag", 5},
          {"length", 2},
          {"name", "Registration"},
          {"format_identifier", 0x48444D56},
          {"additional_identification_info", ""}}},
        // A code outside ASCII reads as ISO 8859-1; the two bytes short of an entry are left out.
        {{0x0A, 10, 'j', 'p', 'n', 0, 'd', 0xFC, 't', 3, 'x', 'x'},
         {{"tag", 10},
          {"length", 10},
          {"name", "ISO 639 language"},
          {"languages", json::array({{{"iso_639_language_code", "jpn"}, {"audio_type", 0}},
                                     {{"iso_639_language_code", "d\xc3\xbct"}, {"audio_type", 3}}})}}},
        {{0x0C, 4, 0x80, 0x10, 0x7F, 0xFF},
         {{"tag", 12},
          {"length", 4},
          {"name", "Multiplex buffer utilization"},
          {"bound_valid_flag", 1},
          {"ltw_offset_lower_bound", 16},
          {"ltw_offset_upper_bound", 32767}}},
        {{0xC1, 2, 0x84, 0xFF}, {{"tag", 0xC1}, {"length", 2}, {"name", "Digital Copy Control"}, {"bytes", "84ff"}}},
        {{0x60, 0}, {{"tag", 0x60}, {"length", 0}, {"name", nullptr}, {"bytes", ""}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.expected.dump());
        const auto descriptor = Decoded(c.bytes);
        int result = 1;
        const std::string text = Written(TS_Descriptor_PrintJSON, descriptor.get(), &result);
        EXPECT_EQ(result, 0);
        EXPECT_EQ(json::parse(text), c.expected);
    }
}

// Every kind, decoded from bytes of its fixed size: one object opening with tag, length and its
// own name, and a field of its own after them.
TEST(DescriptorJson, EveryKindWritesOneNamedObject)
{
    for (const TS_DescriptorKind &kind : TS_DESCRIPTOR_KINDS) {
        SCOPED_TRACE(int(kind.u8Tag));
        std::vector<u8> bytes = {kind.u8Tag, u8(kind.u8FixedSize - 2)};
        for (u8 i = 2; i < kind.u8FixedSize; ++i)
            bytes.push_back(u8(0x11 * i));
        const auto descriptor = Decoded(bytes);
        int result = 1;
        const std::string text = Written(TS_Descriptor_PrintJSON, descriptor.get(), &result);
        const std::string head = "{\"tag\":" + std::to_string(kind.u8Tag) +
                                 ",\"length\":" + std::to_string(kind.u8FixedSize - 2) + ",\"name\":\"";
        EXPECT_EQ(text.rfind(head, 0), 0u) << text;
        const json parsed = json::parse(text);
        EXPECT_GE(parsed.size(), 4u);
        EXPECT_EQ(text.find("\"bytes\""), std::string::npos);  // not the raw form
    }
}

TEST(DescriptorJson, AKindWritesNothingForAnotherKindOrANullPointer)
{
    const auto other = Decoded({0x60, 1, 0x00});
    const auto video = Decoded({0x02, 1, 0x8D});
    std::string written;
    TS_Sink out(&written);
    TS_Json writer;
    TS_Json_Start(&writer, &out);
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
