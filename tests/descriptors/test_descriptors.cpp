// Descriptor decoding and printing: the printed form of every kind against golden files, the
// dispatch by tag, foreign tags and null pointers, short descriptors, and descriptor loops that
// run past their section (these read from exactly sized heap buffers, so that the sanitizer
// build catches any byte read beyond them).
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "capture.h"
#include "descriptors/descriptors.h"

namespace {

// Bytes on the heap in a block of exactly their size.
struct ExactBytes {
    explicit ExactBytes(const std::vector<u8> &bytes) : u32Size(u32(bytes.size())), lu8Data(new u8[bytes.size()])
    {
        std::memcpy(lu8Data.get(), bytes.data(), bytes.size());
    }
    const u8 *begin() const { return lu8Data.get(); }
    const u8 *end() const { return lu8Data.get() + u32Size; }
    u32 u32Size;
    std::unique_ptr<u8[]> lu8Data;
};

std::unique_ptr<TS_Descriptor> Filled(u8 fill)
{
    auto descriptor = std::make_unique<TS_Descriptor>();
    std::memset(descriptor.get(), fill, sizeof *descriptor);
    return descriptor;
}

std::string Printed(TS_DescriptorPrinter print, const TS_Descriptor *descriptor)
{
    return testsupport::Printed([&](TS_Sink *out) { print(out, descriptor); });
}

// Decodes bytes through the dispatch and returns what the dispatch prints for the record.
std::string DecodeAndPrint(const std::vector<u8> &bytes)
{
    const ExactBytes exact(bytes);
    auto descriptor = Filled(0);
    EXPECT_EQ(TS_GetDescriptor(descriptor.get(), exact.begin()), 0);
    EXPECT_EQ(descriptor->descriptor_length, bytes[1]);
    return Printed(TS_Descriptor_Print, descriptor.get());
}

std::vector<u8> Counting(u8 tag, u8 length, u8 first)
{
    std::vector<u8> bytes = {tag, length};
    for (u8 i = 0; i < length; ++i)
        bytes.push_back(u8(first + i));
    return bytes;
}

// The raw kind stands for every tag without a kind of its own.
bool IsRaw(u8 tag) { return &TS_DescriptorKind_For(tag) == &TS_DESCRIPTOR_RAW_KIND; }

struct GoldenCase {
    const char *strName;
    std::vector<u8> lu8Bytes;
};

std::vector<GoldenCase> GoldenCases()
{
    std::vector<u8> registration17 = {0x05, 21, 0x48, 0x44, 0x4D, 0x56};
    for (u8 i = 0; i < 17; ++i)
        registration17.push_back(u8(0xA0 + i));
    return {
        // MPEG_1_only_flag set: the MPEG-2 fields are absent and not printed.
        {"video_stream_mpeg1", {0x02, 0x01, 0x8D}},  // MFRF 1, frame_rate_code 1, MPEG_1_only 1, CPF 0, SPF 1
        {"video_stream_mpeg2",
         {0x02, 0x03,
          0x48,                                // MFRF 0, frame_rate_code 9, MPEG_1_only 0, CPF 0, SPF 0
          0x04,                                // profile_and_level_indication
          0x5F}},                              // chroma_format 1, frame_rate_extension_flag 0, reserved 31
        {"audio_stream", {0x03, 0x01, 0xDD}},  // free_format 1, ID 1, layer 1, variable_rate 1, reserved 5
        {"hierarchy",
         {0x04, 0x04,
          0xF3,    // reserved 15, hierarchy_type 3
          0xC5,    // reserved 3, hierarchy_layer_index 5
          0x87,    // reserved 2, hierarchy_embedded_layer_index 7
          0x7F}},  // reserved 1, hierarchy_channel 63
        {"registration_no_extra", {0x05, 0x04, 0x48, 0x44, 0x4D, 0x56}},  // "HDMV"
        {"registration_17_extra", registration17},
        {"registration_negative", {0x05, 0x04, 0x80, 0x00, 0x00, 0x00}},
        // Too short for the format_identifier: the fixed bytes are read, nothing is dumped.
        {"registration_short", {0x05, 0x02, 0x01, 0x02, 0x03, 0x04}},
        {"data_stream_alignment", {0x06, 0x01, 0x02}},
        {"target_background_grid", {0x07, 0x04, 0x0F, 0x00, 0x21, 0xC3}},  // 960 x 540, ARI 3
        {"video_window",
         {0x08, 0x04,
          0x1D,    // horizontal_offset bits 13-6
          0xFC,    // horizontal_offset bits 5-0, vertical_offset bits 13-12
          0x43,    // vertical_offset bits 11-4
          0x75}},  // vertical_offset bits 3-0, window_priority 5
        {"conditional_access",
         {0x09, 0x04, 0x00, 0x05,  // CA_system_ID
          0xE9, 0x01}},            // reserved 7, CA_PID 0x0901
        {"conditional_access_private", {0x09, 0x07, 0x4A, 0x60, 0x1F, 0xFE, 0x01, 0x02, 0x03}},
        // Shorter than its fixed fields: empty private data.
        {"conditional_access_short", {0x09, 0x02, 0x00, 0x05, 0xE9, 0x01}},
        {"iso639_length0", {0x0A, 0x00}},
        {"iso639_length4", {0x0A, 0x04, 0x6A, 0x70, 0x6E, 0x03}},  // "jpn", audio_type 3
        {"iso639_length6", {0x0A, 0x06, 0x6A, 0x70, 0x6E, 0x03, 0x65, 0x6E}},
        {"iso639_length8", {0x0A, 0x08, 0x6A, 0x70, 0x6E, 0x03, 0x65, 0x6E, 0x67, 0x01}},
        {"system_clock",
         {0x0B, 0x02,
          0xC5,    // external_clock_reference 1, reserved 1, accuracy_integer 5
          0x7F}},  // accuracy_exponent 3, reserved 31
        {"multiplex_buffer_utilization",
         {0x0C, 0x04, 0x80, 0x10,  // bound_valid 1, lower bound 16
          0xFF, 0xFF}},            // reserved 1, upper bound 32767
        {"copyright", {0x0D, 0x06, 0x12, 0x34, 0x56, 0x78, 0xAB, 0xCD}},
        {"copyright_negative", {0x0D, 0x04, 0xFF, 0xFF, 0xFF, 0xFE}},
        {"copyright_short", {0x0D, 0x00, 0x00, 0x00, 0x00, 0x01}},
        {"maximum_bitrate", {0x0E, 0x03, 0xFF, 0xFF, 0xFF}},  // reserved 3, maximum_bitrate 0x3FFFFF
        {"private_data_indicator_negative", {0x0F, 0x04, 0x80, 0x00, 0x00, 0x00}},
        {"smoothing_buffer",
         {0x10, 0x06, 0xC0, 0x00, 0x10,     // reserved 3, sb_leak_rate 16
          0xC0, 0x02, 0x00}},               // reserved 3, sb_size 512
        {"std", {0x11, 0x01, 0xFF}},        // reserved bits kept in place: 254, leak_valid 1
        {"ibp", {0x12, 0x02, 0xBF, 0xFF}},  // closed_gop 1, identical_gop 0, max_gop_length 16383
        {"raw_length0", {0xC1, 0x00}},
        {"raw_length16", Counting(0x52, 16, 0x00)},
        {"raw_length20", Counting(0xC1, 20, 0xF0)},
        {"raw_unnamed_tag", {0x00, 0x02, 0xAB, 0xCD}},
        {"raw_tag_extension", {0xDF, 0x03, 0x01, 0x02, 0x03}},
    };
}

// Appends a 12-bit length field under four reserved bits set to 1.
void PutReserved12(std::vector<u8> *bytes, u32 value)
{
    bytes->push_back(u8(0xF0 | ((value >> 8) & 0x0F)));
    bytes->push_back(u8(value));
}

// A PMT section for program 0x0400 with PCR_PID 0x01FF; section_length and a CRC_32 (never
// checked by the decoder) are filled in around the given loops.
std::vector<u8> PMTSection(const std::vector<u8> &program_info, const std::vector<u8> &streams)
{
    std::vector<u8> section = {
        0x02,        // table_id
        0xB0, 0x00,  // section_syntax_indicator 1, '0', reserved, section_length (below)
        0x04, 0x00,  // program_number
        0xCB,        // reserved, version_number 5, current_next_indicator 1
        0x00,        // section_number
        0x00,        // last_section_number
        0xE1, 0xFF,  // reserved, PCR_PID 0x01FF
    };
    PutReserved12(&section, u32(program_info.size()));
    section.insert(section.end(), program_info.begin(), program_info.end());
    section.insert(section.end(), streams.begin(), streams.end());
    section.insert(section.end(), {0x12, 0x34, 0x56, 0x78});  // CRC_32
    const u32 section_length = u32(section.size() - 3);
    section[1] = u8(0xB0 | (section_length >> 8));
    section[2] = u8(section_length);
    return section;
}

// One elementary stream entry with its descriptor loop.
void PutStream(std::vector<u8> *streams, u8 stream_type, u16 pid, const std::vector<u8> &info)
{
    streams->push_back(stream_type);
    streams->push_back(u8(0xE0 | (pid >> 8)));  // reserved, elementary_PID
    streams->push_back(u8(pid));
    PutReserved12(streams, u32(info.size()));
    streams->insert(streams->end(), info.begin(), info.end());
}

}  // namespace

TEST(DescriptorGolden, EveryKindPrintsAsExpected)
{
    for (const GoldenCase &test : GoldenCases()) {
        const std::string printed = DecodeAndPrint(test.lu8Bytes);
        const std::string name = std::string("descriptor_") + test.strName;
        EXPECT_EQ(testsupport::CompareWithGolden(name, printed), "") << name;
    }
}

// The JSON form of every golden case, a line each behind the case's name, against one golden
// file: every kind's field names, their order, the fields left out, and the bytes behind them.
TEST(DescriptorGolden, EveryKindWritesItsJSONAsExpected)
{
    std::string lines;
    for (const GoldenCase &test : GoldenCases()) {
        const ExactBytes exact(test.lu8Bytes);
        auto descriptor = Filled(0);
        ASSERT_EQ(TS_GetDescriptor(descriptor.get(), exact.begin()), 0);
        lines += std::string(test.strName) + " " + testsupport::Printed([&](TS_Sink *out) {
                     TS_Json json;
                     TS_Json_Start(&json, out);
                     TS_Descriptor_PrintJSON(&json, descriptor.get());
                     TS_Json_EndLine(&json);
                 });
    }
    EXPECT_EQ(testsupport::CompareWithGolden("descriptor_kinds_json", lines), "");
}

TEST(DescriptorDecode, MPEG1OnlyVideoLeavesTheMPEG2FieldsAlone)
{
    auto descriptor = Filled(0x77);
    const u8 bytes[] = {0x02, 0x01, 0x8D};
    ASSERT_EQ(TS_Descriptor_GetVideoStream(descriptor.get(), bytes), 0);
    const TS_VideoStreamDescriptor &video = descriptor->tVideoStream;
    EXPECT_EQ(video.MPEG_1_only_flag, 1);
    EXPECT_EQ(video.profile_and_level_indication, 0x77);
    EXPECT_EQ(video.chroma_format, 0x77);
    EXPECT_EQ(video.frame_rate_extension_flag, 0x77);
    EXPECT_EQ(video.reserved, 0x77);
}

TEST(DescriptorDecode, VariablePartsFillToTheirCapacity)
{
    // length 255: 63 whole language entries, the last three bytes ignored.
    std::vector<u8> language = Counting(0x0A, 255, 0x00);
    auto descriptor = Filled(0);
    ASSERT_EQ(TS_Descriptor_GetISO639Language(descriptor.get(), ExactBytes(language).begin()), 0);
    const TS_ISO639LanguageEntry &last = descriptor->tISO639Language.ltEntry[62];
    EXPECT_EQ(last.ISO_639_language_code, (248u << 16) | (249u << 8) | 250u);
    EXPECT_EQ(last.audio_type, 251);
    const std::string printed = Printed(TS_Descriptor_PrintISO639Language, descriptor.get());
    EXPECT_NE(printed.find("  <62> ILC:16316922 AT:251\n"), std::string::npos);
    EXPECT_EQ(printed.find("<63>"), std::string::npos);

    // length 255: 251 bytes after the identifier, the whole array.
    for (u8 tag : {u8(0x05), u8(0x0D)}) {
        std::vector<u8> bytes = Counting(tag, 255, 0x00);
        auto filled = Filled(0);
        ASSERT_EQ(TS_GetDescriptor(filled.get(), ExactBytes(bytes).begin()), 0);
        const u8 *array = tag == 0x05 ? filled->tRegistration.additional_identification_info
                                      : filled->tCopyright.additional_copyright_info;
        EXPECT_EQ(array[0], 4);
        EXPECT_EQ(array[250], 254);
    }
}

TEST(DescriptorDecode, ShortConditionalAccessCopiesNoPrivateData)
{
    auto descriptor = Filled(0x33);
    const u8 bytes[] = {0x09, 0x03, 0x00, 0x05, 0xE9, 0x01};
    ASSERT_EQ(TS_Descriptor_GetConditionalAccess(descriptor.get(), bytes), 0);
    EXPECT_EQ(descriptor->descriptor_length, 3);
    EXPECT_EQ(descriptor->tConditionalAccess.CA_PID, 0x0901);
    for (u8 byte : descriptor->tConditionalAccess.private_data_byte)
        ASSERT_EQ(byte, 0x33);
}

TEST(DescriptorDispatch, EveryTagGoesToItsOwnDecoderAndPrinter)
{
    // Whatever the tag, the dispatch must give the record and the text that the kind's own
    // operations give, and the caller's step (2 + length) must be readable from the record.
    for (unsigned tag = 0; tag < 256; ++tag) {
        const std::vector<u8> bytes = Counting(u8(tag), 12, 0x81);
        const ExactBytes exact(bytes);
        // Only the tags from 0x02 to 0x12 have a kind of their own.
        EXPECT_EQ(IsRaw(u8(tag)), tag < 0x02 || tag > 0x12) << "tag " << tag;
        const TS_DescriptorKind &kind = TS_DescriptorKind_For(u8(tag));
        const TS_DescriptorDecoder get = kind.pfnGet;
        const TS_DescriptorPrinter print = kind.pfnPrint;

        auto dispatched = Filled(0x5A);
        auto direct = Filled(0x5A);
        ASSERT_EQ(TS_GetDescriptor(dispatched.get(), exact.begin()), 0);
        ASSERT_EQ(get(direct.get(), exact.begin()), 0) << "tag " << tag;
        EXPECT_EQ(std::memcmp(dispatched.get(), direct.get(), sizeof(TS_Descriptor)), 0) << "tag " << tag;
        EXPECT_EQ(dispatched->descriptor_tag, tag);
        EXPECT_EQ(dispatched->descriptor_length, 12);

        std::string through_dispatch;
        through_dispatch = testsupport::CaptureStdout([&] { EXPECT_EQ(TS_Descriptor_Print(dispatched.get()), 0); });
        EXPECT_EQ(through_dispatch, Printed(print, direct.get())) << "tag " << tag;
        EXPECT_EQ(through_dispatch.rfind("[D ", 0), 0u) << "tag " << tag;
    }
}

TEST(DescriptorDispatch, RawDecoderKeepsAnyTagAsItStands)
{
    for (u8 tag : {u8(0x00), u8(0x01), u8(0x13), u8(0xFF)}) {
        const std::vector<u8> bytes = Counting(tag, 255, 0x01);
        auto descriptor = Filled(0);
        ASSERT_EQ(TS_GetDescriptor(descriptor.get(), ExactBytes(bytes).begin()), 0);
        EXPECT_EQ(descriptor->descriptor_length, 255);
        EXPECT_EQ(std::memcmp(descriptor->lu8Raw, bytes.data() + 2, 255), 0);
    }
    // The raw operations take any tag, decoded kinds included.
    const u8 ibp[] = {0x12, 0x02, 0xBF, 0xFF};
    auto descriptor = Filled(0);
    EXPECT_EQ(TS_Descriptor_GetRAW(descriptor.get(), ibp), 0);
    EXPECT_EQ(Printed(TS_Descriptor_PrintRAW, descriptor.get()), "[D ?] T:0x12 L:2\n  0xBF, 0xFF, \n");
}

TEST(DescriptorErrors, ForeignTagsAreRefusedWithoutEffect)
{
    for (const TS_DescriptorKind &kind : TS_DESCRIPTOR_KINDS) {
        // Another kind's bytes: -2, the record untouched.
        const u8 other = kind.u8Tag == 0x12 ? 0x02 : u8(kind.u8Tag + 1);
        const std::vector<u8> bytes = Counting(other, 8, 0x10);
        auto descriptor = Filled(0x5A);
        auto untouched = Filled(0x5A);
        EXPECT_EQ(kind.pfnGet(descriptor.get(), bytes.data()), -2) << "tag " << int(kind.u8Tag);
        EXPECT_EQ(std::memcmp(descriptor.get(), untouched.get(), sizeof(TS_Descriptor)), 0);

        // A record of another kind or a raw one: -2, nothing printed.
        for (u8 foreign : {other, u8(0x52), u8(0x00)}) {
            auto record = Filled(0);
            ASSERT_EQ(TS_GetDescriptor(record.get(), Counting(foreign, 8, 0x10).data()), 0);
            int result = 0;
            const std::string printed =
                testsupport::Printed([&](TS_Sink *out) { result = kind.pfnPrint(out, record.get()); });
            EXPECT_EQ(result, -2) << "tag " << int(kind.u8Tag) << " record " << int(foreign);
            EXPECT_EQ(printed, "");
        }
    }
}

TEST(DescriptorErrors, NullPointersGiveMinusOne)
{
    const u8 bytes[] = {0x52, 0x01, 0x00, 0, 0, 0, 0, 0, 0, 0};
    TS_Descriptor descriptor{};
    for (const TS_DescriptorKind &kind : TS_DESCRIPTOR_KINDS) {
        EXPECT_EQ(kind.pfnGet(nullptr, bytes), -1);
        EXPECT_EQ(kind.pfnGet(&descriptor, nullptr), -1);
        TS_Sink out(stdout);
        EXPECT_EQ(kind.pfnPrint(&out, nullptr), -1);
    }
    EXPECT_EQ(TS_GetDescriptor(nullptr, bytes), -1);
    EXPECT_EQ(TS_GetDescriptor(&descriptor, nullptr), -1);
    EXPECT_EQ(TS_Descriptor_GetRAW(nullptr, bytes), -1);
    EXPECT_EQ(TS_Descriptor_GetRAW(&descriptor, nullptr), -1);
    const std::string printed = testsupport::CaptureStdout([] {
        EXPECT_EQ(TS_Descriptor_Print(nullptr), -1);
        EXPECT_EQ(TS_Descriptor_PrintRAW(nullptr), -1);
    });
    EXPECT_EQ(printed, "");
}

TEST(DescriptorBounds, FixedBodyAtTheSectionEndIsReadInsideIt)
{
    // Each kind with the shortest length that holds its whole fixed body, ending exactly at the
    // section end: decoded, and no byte past it read.
    const std::vector<std::vector<u8>> whole = {
        {0x02, 0x01, 0x8D},
        {0x02, 0x03, 0x48, 0x04, 0x5F},
        {0x03, 0x01, 0xDD},
        {0x04, 0x04, 1, 2, 3, 4},
        {0x05, 0x04, 1, 2, 3, 4},
        {0x06, 0x01, 1},
        {0x07, 0x04, 1, 2, 3, 4},
        {0x08, 0x04, 1, 2, 3, 4},
        {0x09, 0x04, 1, 2, 3, 4},
        {0x0A, 0x00},
        {0x0A, 0x04, 1, 2, 3, 4},
        {0x0B, 0x02, 1, 2},
        {0x0C, 0x04, 1, 2, 3, 4},
        {0x0D, 0x04, 1, 2, 3, 4},
        {0x0E, 0x03, 1, 2, 3},
        {0x0F, 0x04, 1, 2, 3, 4},
        {0x10, 0x06, 1, 2, 3, 4, 5, 6},
        {0x11, 0x01, 1},
        {0x12, 0x02, 1, 2},
    };
    for (const std::vector<u8> &bytes : whole) {
        const ExactBytes exact(bytes);
        TS_Descriptor descriptor{};
        EXPECT_EQ(TS_Descriptor_GetWithin(&descriptor, exact.begin(), exact.end()), int(bytes.size()))
            << "tag " << int(bytes[0]);
        EXPECT_EQ(descriptor.descriptor_tag, bytes[0]);

        // One byte less of section: the descriptor no longer fits and is not decoded.
        const ExactBytes cut(std::vector<u8>(bytes.begin(), bytes.end() - 1));
        if (cut.u32Size >= 2) {
            TS_Descriptor untouched{};
            EXPECT_EQ(TS_Descriptor_GetWithin(&untouched, cut.begin(), cut.end()), -4) << "tag " << int(bytes[0]);
            EXPECT_EQ(untouched.descriptor_tag, 0);
        }
    }
}

TEST(DescriptorBounds, AShortLengthDoesNotShortenTheFixedPart)
{
    // The bytes each decoder reads from the tag on, whatever descriptor_length says. With a
    // length of 0 (a damaged or cut descriptor), exactly that many bytes before the section end
    // are decoded and the loop steps on by 2; one byte less is refused and the record untouched.
    struct FixedPart {
        u8 u8Tag;
        u8 u8FirstBodyByte;
        u32 u32Size;
    };
    const FixedPart parts[] = {
        {0x02, 0x04, 3},  // video stream with MPEG_1_only_flag set: the flags byte alone
        {0x02, 0x00, 5},  // video stream: flags, profile and level, chroma format byte
        {0x03, 0, 3},    {0x04, 0, 6}, {0x05, 0, 6}, {0x06, 0, 3}, {0x07, 0, 6}, {0x08, 0, 6},
        {0x09, 0, 6},    {0x0A, 0, 2}, {0x0B, 0, 4}, {0x0C, 0, 6}, {0x0D, 0, 6}, {0x0E, 0, 5},
        {0x0F, 0, 6},    {0x10, 0, 8}, {0x11, 0, 3}, {0x12, 0, 4},
    };
    for (const FixedPart &part : parts) {
        std::vector<u8> bytes(part.u32Size, 0xFF);
        bytes[0] = part.u8Tag;
        bytes[1] = 0x00;
        if (part.u32Size > 2)
            bytes[2] = part.u8FirstBodyByte;
        const ExactBytes exact(bytes);
        auto descriptor = Filled(0x5A);
        EXPECT_EQ(TS_Descriptor_GetWithin(descriptor.get(), exact.begin(), exact.end()), 2)
            << "tag " << int(part.u8Tag) << " size " << part.u32Size;
        EXPECT_EQ(descriptor->descriptor_tag, part.u8Tag);
        EXPECT_EQ(descriptor->descriptor_length, 0);

        if (part.u32Size > 2) {
            const ExactBytes cut(std::vector<u8>(bytes.begin(), bytes.end() - 1));
            auto untouched = Filled(0x5A);
            auto before = Filled(0x5A);
            EXPECT_EQ(TS_Descriptor_GetWithin(untouched.get(), cut.begin(), cut.end()), -4)
                << "tag " << int(part.u8Tag) << " size " << part.u32Size;
            EXPECT_EQ(std::memcmp(untouched.get(), before.get(), sizeof(TS_Descriptor)), 0);
        }
    }
    // A kind added to the table needs its fixed part stated here.
    for (const TS_DescriptorKind &kind : TS_DESCRIPTOR_KINDS) {
        bool stated = false;
        for (const FixedPart &part : parts)
            stated = stated || part.u8Tag == kind.u8Tag;
        EXPECT_TRUE(stated) << "tag " << int(kind.u8Tag);
    }
}

TEST(DescriptorBounds, ZeroLengthAtTheSectionEndIsRefusedWhenTheFixedBodyWouldNotFit)
{
    // A descriptor_length of 0 does not stop a decoder from reading its fixed body; in the last
    // two bytes of a section only the kinds without a fixed body may be decoded.
    for (unsigned tag = 0; tag < 256; ++tag) {
        const ExactBytes exact({u8(tag), 0x00});
        TS_Descriptor descriptor{};
        const int span = TS_Descriptor_GetWithin(&descriptor, exact.begin(), exact.end());
        const bool has_fixed_body = !IsRaw(u8(tag)) && tag != 0x0A;
        EXPECT_EQ(span, has_fixed_body ? -4 : 2) << "tag " << tag;
    }
    // Fewer than two bytes left, or an announced length past the end.
    const ExactBytes one({0xC1});
    const ExactBytes long_raw({0xC1, 0x05, 1, 2, 3});
    TS_Descriptor descriptor{};
    EXPECT_EQ(TS_Descriptor_GetWithin(&descriptor, one.begin(), one.end()), -4);
    EXPECT_EQ(TS_Descriptor_GetWithin(&descriptor, long_raw.begin(), long_raw.end()), -4);
}

TEST(DescriptorPMT, ARIBAndISODescriptorsDecodeWithTheirKinds)
{
    const std::vector<u8> program_info = {
        0x09, 0x04, 0x00, 0x05, 0xE9, 0x01,  // conditional access, CA_PID 0x0901
        0xC1, 0x03, 0x84, 0x00, 0x3F,        // digital copy control
        0xDE, 0x01, 0x3C,                    // content availability
    };
    std::vector<u8> streams;
    PutStream(&streams, 0x02, 0x0111,
              {
                  0x52, 0x01, 0x00,              // stream identifier
                  0xC8, 0x01, 0x01,              // video decode control
                  0x02, 0x03, 0x48, 0x04, 0x5F,  // video stream
              });
    PutStream(&streams, 0x0F, 0x0112,
              {
                  0x52, 0x01, 0x10,                    // stream identifier
                  0x0A, 0x04, 0x6A, 0x70, 0x6E, 0x00,  // ISO 639 language "jpn"
              });
    PutStream(&streams, 0x0D, 0x0130,
              {
                  0x52, 0x01, 0x30,                    // stream identifier
                  0xFD, 0x03, 0x00, 0x08, 0x3D,        // data component
                  0x05, 0x04, 0x41, 0x52, 0x49, 0x42,  // registration
              });
    const std::vector<u8> bytes = PMTSection(program_info, streams);

    // Through reassembly: one packet whose payload starts the section.
    std::vector<u8> packet(TS_PACKET_SIZE, 0xFF);
    packet[0] = 0x47;
    packet[1] = 0x41;  // payload_unit_start_indicator, PID bits 12-8
    packet[2] = 0xF0;  // PID 0x01F0
    packet[3] = 0x10;  // payload only, continuity_counter 0
    packet[4] = 0x00;  // pointer_field
    ASSERT_LE(bytes.size(), TS_PACKET_SIZE - 5u);
    std::memcpy(packet.data() + 5, bytes.data(), bytes.size());
    auto presection = std::make_unique<TS_PreSection>();
    TS_PreSection_Initialise(presection.get());
    ASSERT_EQ(TS_PMT_ImportPreSection(presection.get(), packet.data()), 0);
    ASSERT_EQ(presection->u8Complete, 1);

    auto pmt = std::make_unique<TS_PMT>();
    ASSERT_EQ(TS_PMT_FromPreSection(pmt.get(), presection.get(), 0x01F0), 0);
    ASSERT_EQ(pmt->u16DescriptorCount, 3);
    EXPECT_EQ(pmt->ltDescriptor[0].descriptor_tag, 0x09);
    EXPECT_EQ(pmt->ltDescriptor[0].tConditionalAccess.CA_PID, 0x0901);
    EXPECT_EQ(pmt->ltDescriptor[1].descriptor_tag, 0xC1);
    EXPECT_EQ(pmt->ltDescriptor[1].descriptor_length, 3);
    EXPECT_EQ(pmt->ltDescriptor[1].lu8Raw[2], 0x3F);
    EXPECT_EQ(pmt->ltDescriptor[2].descriptor_tag, 0xDE);

    ASSERT_EQ(pmt->u16StreamCount, 3);
    const TS_PMTStream &video = pmt->ltStream[0];
    ASSERT_EQ(video.u16DescriptorCount, 3);
    EXPECT_EQ(video.ltDescriptor[1].descriptor_tag, 0xC8);
    EXPECT_EQ(video.ltDescriptor[2].descriptor_tag, 0x02);
    EXPECT_EQ(video.ltDescriptor[2].tVideoStream.frame_rate_code, 9);
    EXPECT_EQ(video.ltDescriptor[2].tVideoStream.profile_and_level_indication, 4);
    const TS_PMTStream &audio = pmt->ltStream[1];
    ASSERT_EQ(audio.u16DescriptorCount, 2);
    EXPECT_EQ(audio.ltDescriptor[0].lu8Raw[0], 0x10);
    EXPECT_EQ(audio.ltDescriptor[1].tISO639Language.ltEntry[0].ISO_639_language_code, 6975598u);
    const TS_PMTStream &data = pmt->ltStream[2];
    ASSERT_EQ(data.u16DescriptorCount, 3);
    EXPECT_EQ(data.ltDescriptor[1].descriptor_tag, 0xFD);
    EXPECT_EQ(data.ltDescriptor[2].tRegistration.format_identifier, 0x41524942u);

    // Every descriptor of the section, printed in loop order.
    const std::string printed = testsupport::Printed([&](TS_Sink *out) {
        for (u16 i = 0; i < pmt->u16DescriptorCount; ++i)
            TS_Descriptor_Print(out, &pmt->ltDescriptor[i]);
        for (u16 s = 0; s < pmt->u16StreamCount; ++s)
            for (u16 i = 0; i < pmt->ltStream[s].u16DescriptorCount; ++i)
                TS_Descriptor_Print(out, &pmt->ltStream[s].ltDescriptor[i]);
    });
    EXPECT_EQ(testsupport::CompareWithGolden("descriptor_pmt_loops", printed), "");
}

TEST(DescriptorPMT, StreamLoopRunningPastTheSectionIsCut)
{
    std::vector<u8> streams;
    PutStream(&streams, 0x02, 0x0111,
              {
                  0x52, 0x01, 0x00,  // stream identifier
                  0xC1, 0x1E,        // digital copy control announcing 30 bytes: only the CRC_32 follows
              });
    std::vector<u8> bytes = PMTSection({}, streams);
    // ES_info_length claims 40 bytes, more than the section holds.
    bytes[12 + 3] = 0xF0;
    bytes[12 + 4] = 40;

    auto presection = std::make_unique<TS_PreSection>();
    TS_PreSection_Initialise(presection.get());
    std::memcpy(presection->lu8Section, bytes.data(), bytes.size());
    presection->u16Length = u16(bytes.size());
    presection->u16Collected = u16(bytes.size());
    auto pmt = std::make_unique<TS_PMT>();
    ASSERT_EQ(TS_PMT_FromPreSection(pmt.get(), presection.get(), 0x01F0), 0);
    ASSERT_EQ(pmt->u16StreamCount, 1);
    EXPECT_EQ(pmt->ltStream[0].u16DescriptorCount, 1);
    EXPECT_EQ(pmt->ltStream[0].ltDescriptor[0].descriptor_tag, 0x52);
}

TEST(DescriptorPMT, ProgramLoopEndingAtTheBufferEndReadsNothingBeyondIt)
{
    // A section that fills the whole reassembly buffer. Its program loop runs into the CRC_32,
    // whose first bytes look like a smoothing buffer descriptor of length 0: decoding it would
    // read six bytes past the buffer, so the loop must stop before it.
    std::vector<u8> program_info;
    for (int i = 0; i < 11; ++i) {
        const std::vector<u8> raw = Counting(0xC1, 255, u8(i));
        program_info.insert(program_info.end(), raw.begin(), raw.end());
    }
    const std::vector<u8> last = Counting(0xDE, 83, 0);
    program_info.insert(program_info.end(), last.begin(), last.end());
    std::vector<u8> bytes = PMTSection(program_info, {});
    ASSERT_EQ(bytes.size(), TS_SECTION_CAPACITY);
    bytes[TS_SECTION_CAPACITY - 4] = 0x10;  // CRC_32 byte 0: smoothing buffer tag
    bytes[TS_SECTION_CAPACITY - 3] = 0x00;  // CRC_32 byte 1: descriptor_length 0
    // program_info_length reaching to the section end, CRC_32 included.
    const u32 program_info_length = TS_SECTION_CAPACITY - 12;
    bytes[10] = u8(0xF0 | (program_info_length >> 8));
    bytes[11] = u8(program_info_length);

    auto presection = std::make_unique<TS_PreSection>();
    std::memcpy(presection->lu8Section, bytes.data(), bytes.size());
    presection->u8Complete = 1;
    presection->u16Length = u16(bytes.size());
    presection->u16Collected = u16(bytes.size());
    auto pmt = std::make_unique<TS_PMT>();
    ASSERT_EQ(TS_PMT_FromPreSection(pmt.get(), presection.get(), 0x01F0), 0);
    EXPECT_EQ(pmt->u16DescriptorCount, 12);
    EXPECT_EQ(pmt->ltDescriptor[11].descriptor_tag, 0xDE);
    EXPECT_EQ(pmt->ltDescriptor[11].descriptor_length, 83);
    EXPECT_EQ(pmt->u16StreamCount, 0);
}
