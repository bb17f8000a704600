// The JSON writer: exact text for strings of every kind of byte, numbers across the whole u64
// range and nested containers, each document read back by an independent JSON parser.
#include <gtest/gtest.h>

#include <cmath>

#include <nlohmann/json.hpp>

#include <string>

#include "capture.h"
#include "text/json.h"

namespace {

using nlohmann::json;
using testsupport::CaptureStdout;

// What the writer prints for one string value made of bytes.
std::string Quoted(const std::string &bytes)
{
    return testsupport::Printed([&](TS_Sink *out) {
        TS_Json writer;
        TS_Json_Start(&writer, out);
        TS_Json_StringBytes(&writer, reinterpret_cast<const u8 *>(bytes.data()), bytes.size());
    });
}

TEST(JsonWriter, StringsAreEscapedAndReadBack)
{
    const struct {
        std::string bytes;
        std::string written;
        std::string read;  // as a parser gives it back, in UTF-8
    } cases[] = {
        {"", "\"\"", ""},
        {"jpn", "\"jpn\"", "jpn"},
        {"a\"b\\c/d", R"("a\"b\\c/d")", "a\"b\\c/d"},
        {std::string("\x00\x01\t\n\r\x1f\x20\x7f", 8),
         R"("\u0000\u0001\u0009\u000a\u000d\u001f )"
         "\x7f\"",
         std::string("\x00\x01\t\n\r\x1f\x20\x7f", 8)},
        // Valid UTF-8 passes as it stands, up to U+10FFFF.
        {"\xe6\x97\xa5\xe6\x9c\xac \xc3\xa9 \xf0\x9f\x93\xba \xf4\x8f\xbf\xbf",
         "\"\xe6\x97\xa5\xe6\x9c\xac \xc3\xa9 \xf0\x9f\x93\xba \xf4\x8f\xbf\xbf\"",
         "\xe6\x97\xa5\xe6\x9c\xac \xc3\xa9 \xf0\x9f\x93\xba \xf4\x8f\xbf\xbf"},
        // Bytes outside valid UTF-8 become the code point of their value (their ISO 8859-1
        // reading); what follows them is judged afresh.
        {"d\xfct", R"("d\u00fct")", "d\xc3\xbct"},
        {"\x80\xbf", R"("\u0080\u00bf")", "\xc2\x80\xc2\xbf"},  // stray continuations
        {"\xc0\xaf\xc1\x81", R"("\u00c0\u00af\u00c1\u0081")", "\xc3\x80\xc2\xaf\xc3\x81\xc2\x81"},  // overlong
        {"\xe0\x80\x80", R"("\u00e0\u0080\u0080")", "\xc3\xa0\xc2\x80\xc2\x80"},                    // overlong, 3 bytes
        {"\xed\xa0\x80", R"("\u00ed\u00a0\u0080")", "\xc3\xad\xc2\xa0\xc2\x80"},                    // a surrogate
        {"\xf4\x90\x80\x80", R"("\u00f4\u0090\u0080\u0080")", "\xc3\xb4\xc2\x90\xc2\x80\xc2\x80"},  // past U+10FFFF
        {"\xf5\xff", R"("\u00f5\u00ff")", "\xc3\xb5\xc3\xbf"},
        {"\xc3"
         "A\xe6\x97",
         R"("\u00c3A\u00e6\u0097")",
         "\xc3\x83"
         "A\xc3\xa6\xc2\x97"},  // cut short
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.written);
        const std::string written = Quoted(c.bytes);
        EXPECT_EQ(written, c.written);
        EXPECT_EQ(json::parse(written).get<std::string>(), c.read);
    }
}

TEST(JsonWriter, NumbersAndHexCoverTheirWholeRange)
{
    const u8 bytes[] = {0x00, 0x0f, 0xa5, 0xff};
    const std::string text = testsupport::Printed([&](TS_Sink *out) {
        TS_Json writer;
        TS_Json_Start(&writer, out);
        TS_Json_ArrayBegin(&writer);
        for (u64 value : {u64(0), u64(9), u64(10), u64(4294967296), ~u64(0)})
            TS_Json_Number(&writer, value);
        TS_Json_Hex(&writer, bytes, sizeof bytes);
        TS_Json_Hex(&writer, nullptr, 0);
        TS_Json_Bool(&writer, true);
        TS_Json_Bool(&writer, false);
        TS_Json_Null(&writer);
        TS_Json_ArrayEnd(&writer);
    });
    EXPECT_EQ(text, R"([0,9,10,4294967296,18446744073709551615,"000fa5ff","",true,false,null])");
    EXPECT_EQ(json::parse(text)[4].get<u64>(), 18446744073709551615u);
}

TEST(JsonWriter, CommasFollowTheNestingAndEachLineStandsAlone)
{
    const std::string text = testsupport::Printed([&](TS_Sink *out) {
        TS_Json writer;
        TS_Json_Start(&writer, out);
        TS_Json_ObjectBegin(&writer);
        TS_Json_StringField(&writer, "type", "pmt");
        TS_Json_Key(&writer, "streams");
        TS_Json_ArrayBegin(&writer);
        for (u64 pid : {0x0111, 0x0112}) {
            TS_Json_ObjectBegin(&writer);
            TS_Json_NumberField(&writer, "elementary_pid", pid);
            TS_Json_Key(&writer, "descriptors");
            TS_Json_ArrayBegin(&writer);
            TS_Json_ArrayEnd(&writer);
            TS_Json_ObjectEnd(&writer);
        }
        TS_Json_ArrayEnd(&writer);
        TS_Json_Key(&writer, "empty");
        TS_Json_ObjectBegin(&writer);
        TS_Json_ObjectEnd(&writer);
        TS_Json_BoolField(&writer, "crc_ok", true);
        TS_Json_ObjectEnd(&writer);
        TS_Json_EndLine(&writer);
        // The next line starts without a comma.
        TS_Json_ObjectBegin(&writer);
        TS_Json_NumberField(&writer, "n", 1);
        TS_Json_ObjectEnd(&writer);
        TS_Json_EndLine(&writer);
        // As deep as the writer keeps track of: one array in another, each with a second member.
        for (u32 depth = 0; depth < TS_JSON_MAX_DEPTH; ++depth)
            TS_Json_ArrayBegin(&writer);
        for (u32 depth = 0; depth < TS_JSON_MAX_DEPTH; ++depth) {
            TS_Json_Number(&writer, depth);
            TS_Json_ArrayEnd(&writer);
        }
        TS_Json_EndLine(&writer);
    });
    std::string deep(TS_JSON_MAX_DEPTH, '[');
    for (u32 depth = 0; depth < TS_JSON_MAX_DEPTH; ++depth)
        deep += (depth == 0 ? "" : ",") + std::to_string(depth) + "]";
    EXPECT_EQ(text, R"({"type":"pmt","streams":[{"elementary_pid":273,"descriptors":[]},)"
                    R"({"elementary_pid":274,"descriptors":[]}],"empty":{},"crc_ok":true})"
                    "\n{\"n\":1}\n" +
                        deep + "\n");
    size_t start = 0;
    for (int line = 0; line < 3; ++line) {
        const size_t end = text.find('\n', start);
        EXPECT_TRUE(json::accept(text.substr(start, end - start))) << line;
        start = end + 1;
    }
}

}  // namespace

namespace {

// What the writer writes for one value in the form of texts meant for reading (TS_JSON_TEXT).
template <class Write> std::string Readable(Write &&write)
{
    return testsupport::Printed([&](TS_Sink *out) {
        TS_Json writer;
        TS_Json_Start(&writer, out, TS_JSON_TEXT);
        write(&writer);
    });
}

}  // namespace

// The check's report: strings written as nlohmann's library dumps them (invalid UTF-8 replaced),
// doubles in its layout.
TEST(JsonWriter, ReadableStringsAndDoublesAsTheCommonLibrariesWriteThem)
{
    const std::string strings[] = {
        "plain",       "tab\there",        "line\nbreak\r",    std::string("\b\f\x01\x1f\x7f\0", 6),
        "caf\xC3\xA9", "\xE3\x81",         "\xC3\x41",         "\xE0\x80\x41",
        "\xFF\xFE",    "\xED\xA0\x80",     "\xF4\x90\x80\x80", "\xF0\x9F\x98",
        "q\"b\\",      "\xE6\x97\xA5\x80", "\xC0\xAF",         "\xF1\x80\x80\xF1\x80\x80\x80",
    };
    for (const std::string &text : strings) {
        const std::string ours = Readable(
            [&](TS_Json *json) { TS_Json_StringBytes(json, reinterpret_cast<const u8 *>(text.data()), text.size()); });
        EXPECT_EQ(ours, json(text).dump(-1, ' ', false, json::error_handler_t::replace)) << text;
    }
    std::vector<double> values = {0.0,
                                  -0.0,
                                  1.0,
                                  -1.0,
                                  0.5,
                                  1e-5,
                                  1.5e-5,
                                  0.0001,
                                  0.001,
                                  123.456,
                                  1e15,
                                  1e16,
                                  1.5e16,
                                  1.5e-7,
                                  12.345678,
                                  3600.04,
                                  1e100,
                                  2.5e-300,
                                  1.7976931348623157e308,
                                  4.9e-324,
                                  123456789012345.0,
                                  0.1 + 0.2};
    // Durations as the check writes them: microseconds rounded, in seconds.
    u64 ticks = 1;
    for (int i = 0; i < 2000; ++i, ticks = ticks * 6364136223846793005u + 1442695040888963407u)
        values.push_back(std::round(double(ticks >> (i % 40)) / 27.0) / 1e6);
    // The same layout; the digits the shortest that read back as the value, which nlohmann's
    // Grisu2 sometimes is not (4.8110290000000004 for 4.811029).
    size_t shorter = 0;
    for (double value : values) {
        const std::string ours = Readable([&](TS_Json *json) { TS_Json_Double(json, value); });
        const std::string theirs = json(value).dump();
        EXPECT_EQ(json::parse(ours).get<double>(), value) << ours;
        if (ours.size() < theirs.size())
            ++shorter;
        else
            EXPECT_EQ(ours, theirs) << value;
    }
    EXPECT_LT(shorter, values.size() / 20);
    EXPECT_EQ(Readable([](TS_Json *json) { TS_Json_Double(json, std::nan("")); }), "null");
    EXPECT_EQ(Readable([](TS_Json *json) { TS_Json_Double(json, -HUGE_VAL); }), "null");
}
