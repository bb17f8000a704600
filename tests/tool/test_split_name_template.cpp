// A program cut into a file named after what it had on air: the first pass that finds the event
// (the first complete present/following pair of the program's service), the template's fields,
// the characters a file name cannot hold, and pidsift-split's refusal to replace a file.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>

#include <pidsift/demux.h>

#include "capture.h"
#include "recording.h"

namespace {

using namespace testsupport;

class NameTemplate : public ::testing::Test {
protected:
    pidsift::ProgramOnAir OnAir(const Recording &recording, u16 pmt_pid, int expected = 0)
    {
        const std::string path = dir.File("on_air.ts");
        EXPECT_TRUE(WriteFile(path, recording.bytes()));
        pidsift::ProgramOnAir on_air;
        EXPECT_EQ(pidsift::FindProgramOnAir(path.c_str(), pmt_pid, 0, &on_air), expected);
        return on_air;
    }
    static std::string Expand(const std::string &name_template, const pidsift::ProgramOnAir &on_air)
    {
        std::string name;
        std::string error;
        if (!pidsift::ExpandNameTemplate(name_template, on_air, &name, &error))
            return "error: " + error;
        return name;
    }
    CommandResult Split(const std::string &arguments)
    {
        return RunCommand(Quote(ToolBinary("pidsift-split")) + " " + arguments);
    }

    TempDir dir;
};

// The sample's guide: the first program's news on air from 20:45 JST, the third's film until
// 21:00:00, when its pair changes half-way through the recording.
TEST_F(NameTemplate, TheEventOnAirAtTheStart)
{
    const Recording recording = Generate(SampleBroadcast(6000));
    const pidsift::ProgramOnAir news = OnAir(recording, 0x01F0);
    EXPECT_EQ(news.program_number, 0x0400);
    EXPECT_EQ(news.family, TS_TEXT_ARIB);
    EXPECT_EQ(news.service, "見本テレビ１");
    EXPECT_EQ(news.provider, "見本放送");
    EXPECT_EQ(Expand("{start:%Y%m%d-%H%M} {service} {title}.ts", news), "20190612-2045 見本テレビ１ 夜のニュース.ts");
    EXPECT_EQ(Expand("{program}_{genre}_{provider}_{start}_{start:%a %j %H:%M:%S %z}.ts", news),
              "1024_ニュース／報道_見本放送_20190612-2045_Wed 163 20:45:00 +0900.ts");

    // The film, not the news that follows it once the clock passes 21:00.
    EXPECT_EQ(Expand("{title}.ts", OnAir(recording, 0x01F8)), "アニメ映画.ts");
    OnAir(recording, 0x0100, -4);

    // Without SDT and NIT names, the ARIB descriptors of the PMTs tell how the title is coded.
    BroadcastSpec unnamed = SampleBroadcast(1500);
    unnamed.services.clear();
    unnamed.network_descriptors.clear();
    const pidsift::ProgramOnAir untitled = OnAir(Generate(unnamed), 0x01F0);
    EXPECT_EQ(untitled.family, TS_TEXT_ARIB);
    EXPECT_FALSE(untitled.has_service);
    EXPECT_EQ(Expand("{service} {title}.ts", untitled), "夜のニュース.ts");
}

TEST_F(NameTemplate, WithoutAGuideTheFieldsAreEmpty)
{
    // A multiplex without EIT and SDT (the filler sections stand in their place).
    BroadcastSpec mux = SampleBroadcast(1500);
    mux.guide = false;
    mux.services.clear();
    const pidsift::ProgramOnAir bare = OnAir(Generate(mux), 0x01F1);
    EXPECT_EQ(bare.program_number, 0x0401);
    EXPECT_FALSE(bare.has_event);
    EXPECT_FALSE(bare.has_service);
    EXPECT_EQ(Expand("{start} {service} {title} ({genre}).ts", bare), "().ts");
    EXPECT_EQ(Expand("{start}  {service} - {title}.ts", bare), "-.ts");
    EXPECT_EQ(Expand("{program} {title}.ts", bare), "1025.ts");
    EXPECT_EQ(Expand("{title}", bare), "error: the template gives no usable file name ('')");
}

TEST_F(NameTemplate, UnfitCharactersBracesAndLength)
{
    pidsift::ProgramOnAir on_air;
    on_air.program_number = 7;
    on_air.family = TS_TEXT_DVB;
    on_air.service = "A/B\tC";
    on_air.has_event = true;
    // A DVB title with a line break (0x8A, the coding's CR/LF) and a slash.
    on_air.event.descriptors.push_back({});
    pidsift::ShortEventDescriptor short_event;
    short_event.event_name = {'1', '/', '2', 0x8A, 'x'};
    on_air.event.descriptors.back().decoded = short_event;
    EXPECT_EQ(Expand("{service} {title}.ts", on_air), "A_B_C 1_2_x.ts");
    EXPECT_EQ(Expand("{{{program}}}/x.ts", on_air), "{7}_x.ts");
    EXPECT_EQ(Expand("{start}.ts", on_air), "error: the template gives no usable file name ('.ts')");
    EXPECT_EQ(Expand("{name}.ts", on_air),
              "error: unknown field '{name}': service, provider, program, title, start[:FORMAT], genre");
    EXPECT_EQ(Expand("{title:%Y}.ts", on_air),
              "error: unknown field '{title:%Y}': service, provider, program, title, start[:FORMAT], genre");
    EXPECT_EQ(Expand("{title.ts", on_air), "error: a '{' without its '}' (write '{{' for the character itself)");
    EXPECT_EQ(Expand("title}.ts", on_air), "error: a '}' without its '{' (write '}}' for the character itself)");
    // 300 bytes of three-byte characters: cut to whole characters, the extension kept.
    std::string long_service;
    for (int i = 0; i < 100; ++i)
        long_service += "見";
    on_air.service = long_service;
    const std::string cut = Expand("{service}.ts", on_air);
    EXPECT_EQ(cut.size(), 252u + 3u);
    EXPECT_EQ(cut.substr(cut.size() - 6), "見.ts");
}

TEST_F(NameTemplate, SplitWritesTheNamedFileOnceUnlessForced)
{
    const std::string input = dir.File("rec.ts");
    ASSERT_TRUE(WriteFile(input, Generate(SampleBroadcast(3000)).bytes()));
    const std::string folder = dir.File("out");
    const std::string named = folder + "/20190612-2045 見本テレビ１ 夜のニュース.ts";
    const std::string arguments = "program " + Quote(input) +
                                  " 0x1F0 --name-template '{start:%Y%m%d-%H%M} {service} {title}.ts' -d " +
                                  Quote(folder);
    CommandResult result = Split(arguments);
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find(named + "\n"), std::string::npos) << result.out;
    // The same bytes as the program written under a name of its own.
    ASSERT_EQ(Split("program " + Quote(input) + " 0x1F0 -o " + Quote(dir.File("plain.ts"))).status, 0);
    EXPECT_EQ(ReadBytes(named), ReadBytes(dir.File("plain.ts")));

    // Again: the file stays as it is.
    ASSERT_TRUE(WriteFile(named, {'k', 'e', 'p', 't'}));
    result = Split(arguments);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err,
              "pidsift-split: will not overwrite " + named + ": it exists (--force replaces it); no file written\n");
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(ReadBytes(named), (Bytes{'k', 'e', 'p', 't'}));
    result = Split(arguments + " --force");
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(ReadBytes(named), ReadBytes(dir.File("plain.ts")));

    // Next to FILE without -d.
    result = Split("program " + Quote(input) + " --program 1025 --name-template '{program} {title}.ts'");
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(ReadBytes(dir.File("1025 映画「見本」.ts")).size() % 188, 0u);
    EXPECT_FALSE(ReadBytes(dir.File("1025 映画「見本」.ts")).empty());
}

TEST_F(NameTemplate, SplitUsageErrors)
{
    const std::string input = dir.File("rec.ts");
    ASSERT_TRUE(WriteFile(input, Generate(SampleBroadcast(600)).bytes()));
    const struct {
        std::string arguments;
        int status;
        std::string err;
    } cases[] = {
        {"program " + Quote(input) + " 0x1F0 --name-template '{title}.ts' -o x.ts", 2,
         "pidsift-split: -o and --name-template both name the file: give one of them\n"},
        {"program - 0x1F0 --name-template '{title}.ts'", 2,
         "pidsift-split: --name-template reads the recording twice: it needs a FILE, not standard input\n"},
        {"program " + Quote(input) + " 0x1F0 --force", 2,
         "pidsift-split: --force and --charset go with --name-template\n"},
        {"program " + Quote(input) + " 0x1F0 --name-template '{when}.ts'", 2,
         "pidsift-split: --name-template: unknown field '{when}': service, provider, program, title, start[:FORMAT], "
         "genre\n"},
        {"program " + Quote(input) + " 0x1F5 --name-template '{title}.ts'", 1,
         "pidsift-split: no file written: no PAT of " + input + " lists a program on PMT PID 0x01F5\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.arguments);
        const CommandResult result = Split(c.arguments);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.err.substr(0, result.err.find("Try ")), c.err);
    }
}

}  // namespace
