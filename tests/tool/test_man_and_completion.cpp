// What comes with the tools besides the programs: the man pages render without warnings and
// document the options each tool's --help lists; the bash completion offers the commands,
// options, files and folders each position takes; cmake --install puts them where man and
// bash-completion look, and pidsift.pc gives the flags that build the README's program.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iostream>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "capture.h"
#include "recording.h"

namespace {

using namespace testsupport;
using Words = std::vector<std::string>;

const char *const kTools[] = {"pidsift", "pidsift-dump", "pidsift-split", "pidsift-check"};

std::string SourceFile(const std::string &relative) { return std::string(PIDSIFT_SOURCE_DIR) + "/" + relative; }
std::string ManPage(const std::string &tool) { return SourceFile("man/" + tool + ".1"); }
bool Have(const std::string &command) { return RunCommand("command -v " + command).status == 0; }
bool Executable(const std::string &path) { return access(path.c_str(), X_OK) == 0; }

// The option words of a text: tokens such as -o, --crc or --mask that start a word (after a
// space, a bracket, a comma or a bar), up to the first character that cannot be part of one.
std::set<std::string> OptionWords(const std::string &text)
{
    static const std::regex option("(?:^|[\\s\\[(,|'])(--?[A-Za-z][A-Za-z0-9-]*)");
    std::set<std::string> words;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), option); it != std::sregex_iterator(); ++it)
        words.insert((*it)[1]);
    return words;
}

// Whether word stands in text as a word of its own: --pat in "--pat --pmt" but not in "--pats"
// or "pidsift-dump --patterns", -d in "-d DIR" but not in "pidsift-dump".
bool HasWord(const std::string &text, const std::string &word)
{
    const auto part = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_'; };
    for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
        const size_t end = at + word.size();
        if ((at == 0 || !part(text[at - 1])) && (end == text.size() || !part(text[end])))
            return true;
    }
    return false;
}

// The page as plain ASCII text on long lines, unhyphenated, so that words can be looked for.
std::string RenderedPage(const std::string &tool)
{
    const CommandResult result =
        RunCommand("GROFF_NO_SGR=1 groff -man -Tascii -P-bou -rLL=300n -rHY=0 " + Quote(ManPage(tool)));
    EXPECT_EQ(result.status, 0) << result.err;
    return result.out;
}

// The part of a rendered page from the section heading to the next one.
std::string Section(const std::string &page, const std::string &heading)
{
    const size_t start = page.find("\n" + heading + "\n");
    if (start == std::string::npos)
        return "";
    static const std::regex next_heading("\n[A-Z][A-Z ]+\n");
    std::smatch match;
    const std::string rest = page.substr(start + heading.size() + 2);
    return std::regex_search(rest, match, next_heading) ? rest.substr(0, match.position(0)) : rest;
}

// The option words of a tool's live --help, or an empty set with why in reason.
std::set<std::string> HelpOptions(const std::string &tool, std::string *reason)
{
    const std::string binary = ToolBinary(tool);
    if (!Executable(binary)) {
        *reason = binary + " is not built";
        return {};
    }
    const CommandResult help = RunCommand(Quote(binary) + " --help");
    std::set<std::string> options = OptionWords(help.out + help.err);
    if (help.status != 0 || options.empty()) {
        *reason = tool + " --help lists no option (status " + std::to_string(help.status) + ")";
        return {};
    }
    return options;
}

// ---- Man pages ---------------------------------------------------------------------------------

TEST(ManPages, RenderWithoutWarnings)
{
    if (!Have("groff"))
        GTEST_SKIP() << "groff is not installed";
    for (const char *tool : kTools) {
        SCOPED_TRACE(tool);
        const CommandResult groff = RunCommand("groff -man -ww -z " + Quote(ManPage(tool)));
        EXPECT_EQ(groff.status, 0);
        EXPECT_EQ(groff.err, "");
        if (Have("man")) {
            const CommandResult man =
                RunCommand("LC_ALL=C.UTF-8 MANWIDTH=80 man -l --warnings=all " + Quote(ManPage(tool)));
            EXPECT_EQ(man.status, 0);
            EXPECT_EQ(man.err, "");
            EXPECT_TRUE(HasWord(man.out, tool));
        }
    }
}

TEST(ManPages, HaveTheirSectionsAndNameTheirTool)
{
    if (!Have("groff"))
        GTEST_SKIP() << "groff is not installed";
    for (const char *tool : kTools) {
        SCOPED_TRACE(tool);
        const std::string page = RenderedPage(tool);
        for (const char *heading :
             {"NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "EXIT STATUS", "EXAMPLES", "SEE ALSO"})
            EXPECT_NE(Section(page, heading), "") << heading;
        EXPECT_EQ(Section(page, "NAME").find(std::string(tool) + " - "), Section(page, "NAME").find_first_not_of(' '));
        EXPECT_TRUE(HasWord(Section(page, "SYNOPSIS"), tool));
        // Every page leads to the three others, and to no page that is not there.
        const std::string see_also = Section(page, "SEE ALSO");
        for (const char *other : kTools)
            EXPECT_TRUE(std::string(other) == tool || see_also.find(std::string(other) + "(1)") != std::string::npos)
                << other;
        static const std::regex reference("([a-z-]+)\\(1\\)");
        for (auto it = std::sregex_iterator(see_also.begin(), see_also.end(), reference); it != std::sregex_iterator();
             ++it)
            EXPECT_EQ(access(ManPage((*it)[1]).c_str(), R_OK), 0) << (*it)[0];
    }
}

// The pages follow the tools: every option that --help lists is explained, and the OPTIONS
// section explains no option that --help does not list.
TEST(ManPages, DocumentTheOptionsTheToolsList)
{
    if (!Have("groff"))
        GTEST_SKIP() << "groff is not installed";
    std::string skipped;
    size_t compared = 0;
    for (const char *tool : kTools) {
        SCOPED_TRACE(tool);
        std::string reason;
        const std::set<std::string> listed = HelpOptions(tool, &reason);
        if (listed.empty()) {
            // A tool that is not built, or a pidsift from before its --help: nothing to compare.
            skipped += reason + "; ";
            continue;
        }
        ++compared;
        const std::string page = RenderedPage(tool);
        for (const std::string &option : listed)
            EXPECT_TRUE(HasWord(page, option)) << option << " is not in the man page";
        for (const std::string &option : OptionWords(Section(page, "OPTIONS")))
            EXPECT_TRUE(listed.count(option)) << option << " is in the man page but not in --help";
    }
    if (compared == 0)
        GTEST_SKIP() << skipped;
    if (!skipped.empty())
        std::cout << "[ NOTE     ] not compared: " << skipped << "\n";
}

// ---- Bash completion ---------------------------------------------------------------------------

class Completion : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!Have("bash"))
            GTEST_SKIP() << "bash is not installed";
        // Runs the function that completion/pidsift.bash registers for the command (the first
        // word), with the cursor at the end of the last word, in the folder given first.
        std::ofstream(m_script)
            << "source \"$1\" || exit 3\n"
               "cd \"$2\" || exit 3\n"
               "shift 2\n"
               "registration=$(complete -p \"$1\") || exit 4\n"
               "function=${registration#*-F }\n"
               "function=${function%% *}\n"
               "COMP_WORDS=(\"$@\")\n"
               "COMP_CWORD=$(($# - 1))\n"
               "COMP_LINE=\"$*\"\n"
               "COMP_POINT=${#COMP_LINE}\n"
               "COMPREPLY=()\n"
               "\"$function\" \"$1\" \"${COMP_WORDS[COMP_CWORD]}\" \"${COMP_WORDS[COMP_CWORD - 1]}\" || exit 5\n"
               "((${#COMPREPLY[@]} == 0)) || printf '%s\\n' \"${COMPREPLY[@]}\"\n";
        // Files of every kind a FILE may be, one with a space in its name.
        for (const char *file : {"rec one.ts", "rec2.ts", "notes.svg", "-dash.ts"})
            std::ofstream(files.File(file)) << "x";
        mkdir(files.File("recordings").c_str(), 0755);
    }

    // The words offered for the last of words, sorted.
    Words Complete(const Words &words)
    {
        std::string command = "bash --norc --noprofile " + Quote(m_script) + " " +
                              Quote(SourceFile("completion/pidsift.bash")) + " " + Quote(files.path());
        for (const std::string &word : words)
            command += " " + Quote(word);
        const CommandResult result = RunCommand(command);
        EXPECT_EQ(result.status, 0) << command << "\n" << result.err;
        Words offered;
        for (size_t start = 0, end; (end = result.out.find('\n', start)) != std::string::npos; start = end + 1)
            offered.push_back(result.out.substr(start, end - start));
        std::sort(offered.begin(), offered.end());
        return offered;
    }

    TempDir scratch;
    TempDir files;

private:
    std::string m_script = scratch.File("complete.sh");
};

TEST_F(Completion, CommandsAndOptions)
{
    const struct {
        Words words;
        Words offered;
    } cases[] = {
        {{"pidsift-split", ""}, {"pmt", "pmt-list", "program", "programs"}},
        {{"pidsift-split", "pr"}, {"program", "programs"}},
        {{"pidsift-split", "pmt"}, {"pmt", "pmt-list"}},
        {{"pidsift-split", "--"}, {"--help", "--version"}},
        {{"pidsift-split", "programs", "in.ts", "-"}, {"--directory", "-d"}},
        {{"pidsift-split", "program", "in.ts", "--"},
         {"--charset", "--directory", "--force", "--name-template", "--output", "--program", "--streams"}},
        {{"pidsift-split", "program", "in.ts", "1f0", "-"},
         {"--charset", "--directory", "--force", "--name-template", "--output", "--program", "--streams", "-d",
          "-o"}},
        {{"pidsift-split", "program", "in.ts", "1f0", "--name-template", ""}, {}},
        {{"pidsift-split", "program", "in.ts", "1f0", "--charset", "a"}, {"arib", "auto"}},
        {{"pidsift-split", "program", "in.ts", "1f0", "--streams", "su"}, {"subtitles"}},
        {{"pidsift-split", "pmt", "in.ts", "--streams", ""}, {}},  // not an option of pmt
        {{"pidsift-split", "pmt", "in.ts", "-"}, {"--crc", "--directory", "--output", "-d", "-o"}},
        {{"pidsift-split", "pmt-list", "in.ts", "-"}, {}},
        {{"pidsift-split", "pmt", "in.ts", "--crc", ""}, {}},  // a CRC_32, nothing to offer
        {{"pidsift-split", "split", "in.ts", "-"}, {}},        // no such command
        {{"pidsift-dump", "--ch"}, {"--changes", "--charset"}},
        {{"pidsift-dump", "--p"}, {"--packets", "--pat", "--pcr", "--pids", "--pmt", "--programs"}},
        {{"pidsift-dump", "--charset", ""}, {"arib", "auto", "dvb"}},
        {{"pidsift-dump", "--charset", "=", "a"}, {"arib", "auto"}},  // --charset=a, as bash splits it
        {{"pidsift-dump", "--charset", "dvb", "--s"}, {"--sdt"}},
        {{"pidsift-dump", "--pat", "--e"}, {"--ecm", "--eit", "--eit-pf", "--emm", "--es"}},
        {{"pidsift-dump", "--t"}, {"--tdt"}},
        {{"pidsift-dump", "--mask", ""}, {}},
        {{"pidsift-dump", "--mask", "-"}, {}},
        {{"pidsift-dump", "--mask", "=", ""}, {}},
        {{"pidsift-check", "--"},
         {"--charset", "--help", "--jobs", "--json", "--quiet", "--strict", "--summary", "--svg", "--version"}},
        {{"pidsift-check", "-j", ""}, {"1", "2", "4", "8"}},
        {{"pidsift-check", "--charset", "d"}, {"dvb"}},
        {{"pidsift-check", "in.ts", "--q"}, {"--quiet"}},
        {{"pidsift", "--"}, {"--help", "--version"}},
        {{"pidsift", "in.ts", ""}, {}},  // the PMT PID
    };
    for (const auto &c : cases) {
        std::string line;
        for (const std::string &word : c.words)
            line += "[" + word + "]";
        EXPECT_EQ(Complete(c.words), c.offered) << line;
    }
}

TEST_F(Completion, FilesWhereAFileGoesAndFoldersAfterD)
{
    const Words recordings = {"rec one.ts", "rec2.ts", "recordings"};
    const struct {
        Words words;
        Words offered;
    } cases[] = {
        {{"pidsift", "rec"}, recordings},
        {{"pidsift", "rec2.ts", "0x1F0", "rec"}, recordings},  // the output
        {{"pidsift", "rec2.ts", "0x1F0", "out.ts", ""}, {}},
        {{"pidsift-dump", "rec"}, recordings},
        {{"pidsift-dump", "--pcr", "--mask", "3", "rec"}, recordings},
        {{"pidsift-dump", "--mask", "=", "3", "rec"}, recordings},  // --mask=3, as bash splits it
        {{"pidsift-dump", "rec2.ts", ""}, {}},                      // one FILE only
        {{"pidsift-dump", "--charset", "arib", "rec"}, recordings},  // the value is no FILE
        {{"pidsift-check", "--charset", "arib", "rec"}, recordings},
        {{"pidsift-dump", "--", "-d"}, {"-dash.ts"}},
        {{"pidsift-split", "programs", "rec"}, recordings},
        {{"pidsift-split", "programs", "-d", "rec"}, {"recordings"}},
        {{"pidsift-split", "programs", "rec2.ts", "--directory", ""}, {"recordings"}},
        {{"pidsift-split", "programs", "rec2.ts", ""}, {}},
        {{"pidsift-split", "program", "--directory", "recordings", "rec"}, recordings},  // FILE after DIR
        {{"pidsift-split", "program", "rec2.ts", ""}, {}},                               // the PMT PID
        {{"pidsift-split", "program", "rec2.ts", "--program", "1024", "-o", "n"}, {"notes.svg"}},
        {{"pidsift-split", "pmt", "rec2.ts", "--crc", "1A2B3C4D", "--output", "rec2"}, {"rec2.ts"}},
        {{"pidsift-split", "pmt-list", "rec"}, recordings},
        {{"pidsift-split", "pmt-list", "rec2.ts", "-d", ""}, {}},  // pmt-list writes no file
        {{"pidsift-check", "rec"}, recordings},
        {{"pidsift-check", "rec2.ts", "rec one.ts", "rec"}, recordings},  // any number of files
        {{"pidsift-check", "--svg", ""}, {"notes.svg", "recordings"}},
    };
    for (const auto &c : cases) {
        std::string line;
        for (const std::string &word : c.words)
            line += "[" + word + "]";
        EXPECT_EQ(Complete(c.words), c.offered) << line;
    }
}

// The completion follows the tools: it offers every option that --help lists, and none that it
// does not (pidsift-split's options are gathered over its commands).
TEST_F(Completion, OffersTheOptionsTheToolsList)
{
    std::string skipped;
    size_t compared = 0;
    for (const char *tool : kTools) {
        SCOPED_TRACE(tool);
        std::string reason;
        const std::set<std::string> listed = HelpOptions(tool, &reason);
        if (listed.empty()) {
            skipped += reason + "; ";
            continue;
        }
        ++compared;
        std::set<std::string> offered;
        std::vector<Words> positions = {{tool, "-"}};
        if (std::string(tool) == "pidsift-split")
            for (const char *command : {"programs", "program", "pmt-list", "pmt"})
                positions.push_back({tool, command, "in.ts", "-"});
        for (const Words &words : positions)
            for (const std::string &option : Complete(words))
                offered.insert(option);
        EXPECT_EQ(offered, listed);
    }
    if (compared == 0)
        GTEST_SKIP() << skipped;
    if (!skipped.empty())
        std::cout << "[ NOTE     ] not compared: " << skipped << "\n";
}

// ---- Installing --------------------------------------------------------------------------------

TEST(Install, ManPagesCompletionAndPkgConfig)
{
    TempDir dir;
    const std::string prefix = dir.File("prefix");
    CommandResult result = RunCommand(Quote(PIDSIFT_CMAKE_COMMAND) + " --install " + Quote(PIDSIFT_BINARY_DIR) +
                                      " --prefix " + Quote(prefix));
    ASSERT_EQ(result.status, 0) << result.out << result.err;

    std::string completion;
    ASSERT_TRUE(ReadFile(SourceFile("completion/pidsift.bash"), &completion));
    for (const char *tool : kTools) {
        SCOPED_TRACE(tool);
        std::string page, installed;
        EXPECT_TRUE(ReadFile(ManPage(tool), &page));
        EXPECT_TRUE(ReadFile(prefix + "/share/man/man1/" + tool + ".1", &installed));
        EXPECT_EQ(installed, page);
        EXPECT_TRUE(ReadFile(prefix + "/share/bash-completion/completions/" + tool, &installed));
        EXPECT_EQ(installed, completion);
    }
    if (Have("man")) {
        // man finds the pages of a prefix whose bin/ is on the PATH.
        result = RunCommand("env -u MANPATH LC_ALL=C.UTF-8 MANWIDTH=80 PATH=" + Quote(prefix + "/bin") +
                            ":\"$PATH\" man pidsift-split");
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_NE(result.out.find("pidsift-split - cut"), std::string::npos);
    }

    if (!Have("pkg-config"))
        GTEST_SKIP() << "pkg-config is not installed";
    const std::string pkg_config = "PKG_CONFIG_PATH=" + Quote(prefix + "/lib/pkgconfig") + " pkg-config ";
    result = RunCommand(pkg_config + "--cflags --libs pidsift");
    ASSERT_EQ(result.status, 0) << result.err;
    // The flags name the prefix installed to, not the one configured; the library writes on a
    // thread of its own.
    EXPECT_EQ(result.out, "-I" + prefix + "/include -L" + prefix + "/lib -ltransport_stream -pthread \n");
    for (const char *header : {"ts.h", "streams.h", "si_tables.h"})
        EXPECT_EQ(access((prefix + "/include/pidsift/" + header).c_str(), R_OK), 0) << header;
    EXPECT_EQ(access((prefix + "/lib/libtransport_stream.a").c_str(), R_OK), 0);
    result = RunCommand(pkg_config + "--modversion pidsift");
    const CommandResult version = RunCommand(Quote(ToolBinary("pidsift-dump")) + " --version");
    EXPECT_EQ("pidsift-dump " + result.out, version.out);

#ifndef PIDSIFT_SANITIZED  // an instrumented library does not link into a program built without the sanitizers
    std::string readme;
    ASSERT_TRUE(ReadFile(SourceFile("README.md"), &readme));
    // The second program: the one of the C-style interface, on a file.
    const size_t start = readme.find("```cpp\n", readme.find("```cpp\n") + 7);
    ASSERT_NE(start, std::string::npos);
    const std::string program = readme.substr(start + 7, readme.find("```", start + 7) - start - 7);
    std::ofstream(dir.File("list_programs.cpp")) << program;
    result = RunCommand(Quote(PIDSIFT_CXX_COMPILER) + " -std=c++20 -Wall -Wextra -Wpedantic -Werror " +
                        Quote(dir.File("list_programs.cpp")) + " -o " + Quote(dir.File("list_programs")) + " $(" +
                        pkg_config + "--cflags --libs pidsift)");
    ASSERT_EQ(result.status, 0) << result.out << result.err;
    const std::string input = dir.File("rec.ts");
    ASSERT_TRUE(WriteFile(input, Generate(SampleBroadcast(500)).bytes()));
    result = RunCommand(Quote(dir.File("list_programs")) + " " + Quote(input));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "program 1024: PMT PID 0x01F0\nprogram 1025: PMT PID 0x01F1\nprogram 1032: PMT PID 0x01F8\n");

    // The C++ records of the programme guide and the clock build from the installed header alone:
    // the TDT of EN 300 468's worked example, on Japan's clock.
    std::ofstream(dir.File("clock.cpp")) << "#include <cstdio>\n"
                                            "#include <pidsift/si_tables.h>\n"
                                            "int main()\n"
                                            "{\n"
                                            "    const u8 tdt[] = {0x70, 0x70, 0x05, 0xC0, 0x79, 0x12, 0x45, 0x00};\n"
                                            "    pidsift::Tdt clock;\n"
                                            "    if (pidsift::DecodeTdt(&clock, tdt, sizeof tdt) != 0)\n"
                                            "        return 1;\n"
                                            "    puts(pidsift::FormatTime(clock.UTC_time, TS_TEXT_ARIB).c_str());\n"
                                            "}\n";
    result = RunCommand(Quote(PIDSIFT_CXX_COMPILER) + " -std=c++20 -Wall -Wextra -Wpedantic -Werror " +
                        Quote(dir.File("clock.cpp")) + " -o " + Quote(dir.File("clock")) + " $(" + pkg_config +
                        "--cflags --libs pidsift)");
    ASSERT_EQ(result.status, 0) << result.out << result.err;
    result = RunCommand(Quote(dir.File("clock")));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "1993-10-13T12:45:00+09:00\n");
#endif
}

}  // namespace
