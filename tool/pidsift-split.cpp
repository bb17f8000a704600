// pidsift-split: cuts an MPEG-2 transport stream file into one file per program, one program
// into a file that plays on its own, or a single-program file at the changes of its PMT.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <pidsift/stream_selection.h>

#include "front_end.h"

namespace {

const char kHelp[] = "Usage: pidsift-split programs FILE [-d DIR]\n"
                     "       pidsift-split program FILE PID [--streams LIST] [-o OUT] [-d DIR]\n"
                     "       pidsift-split program FILE --program N [--streams LIST] [-o OUT] [-d DIR]\n"
                     "       pidsift-split program FILE PID --name-template TEMPLATE [--force] [--streams LIST]\n"
                     "                     [-d DIR]\n"
                     "       pidsift-split pmt-list FILE\n"
                     "       pidsift-split pmt FILE [--crc CRC] [-o OUT] [-d DIR]\n"
                     "\n"
                     "Cuts an MPEG-2 transport stream recording into smaller recordings, copying packets as they\n"
                     "are; the only packets added are PATs, as each command says. The new files go next to FILE,\n"
                     "or into DIR with -d, and are named after it: BASE below is FILE without its extension\n"
                     "(recording.ts gives recording). FILE '-' reads standard input; the files are then named\n"
                     "stdin_... in the current folder (or DIR). Files of the same names are replaced.\n"
                     "\n"
                     "Commands:\n"
                     "  programs   One file per program that the PAT (the table of programs) lists, named\n"
                     "             BASE_<program number>_<n>_<k>.ts. Each holds a PAT that lists only its\n"
                     "             program, then the program's PMT, clock (PCR), ECM and stream packets.\n"
                     "             <n> is 0, or 1, 2... when the PAT lists one program number several times;\n"
                     "             <k> is 0, and grows when a program leaves the PAT and later comes back into\n"
                     "             a new file. A program whose PMT never comes gets no file, and is named on\n"
                     "             standard error.\n"
                     "  program    One program, chosen by the PID of its PMT (hexadecimal, 0x optional, as\n"
                     "             pidsift lists it) or by its number with --program, into one file that\n"
                     "             players take: a PAT that lists only that program comes first and again at\n"
                     "             each PAT of the input, then the program's packets as pidsift copies them.\n"
                     "             Named BASE_<program number>_0_0.ts unless -o names it; not written when the\n"
                     "             program's PMT never comes.\n"
                     "  pmt-list   For a recording of one program whose PMT (its list of streams) changes, lists\n"
                     "             the segments: each run of one PMT, with its position in the list, the CRC_32\n"
                     "             that tells that PMT apart, its index (0 the first time a PMT occurs, 1 when\n"
                     "             it comes back, ...) and the bytes 'pmt' writes for it.\n"
                     "  pmt        For such a recording, one file per distinct PMT, BASE_<CRC_32>.ts; a PMT\n"
                     "             that comes back continues its file. With --crc, one file only, with every\n"
                     "             part of the recording under that PMT. Each part starts with the last PAT\n"
                     "             before it, so that it plays on its own.\n"
                     "\n"
                     "Options:\n"
                     "  -d, --directory DIR  put the files in DIR (programs, program, pmt)\n"
                     "  --program N          program: the program with program number N (decimal)\n"
                     "  --streams LIST       program: only these streams, a comma list of kinds (video, audio,\n"
                     "                       subtitles, teletext, captions, data, cue), each with an optional\n"
                     "                       :language (audio:fra), and PIDs (0x0101, 257); the PMT is\n"
                     "                       rewritten to list them alone, the PCR and ECM PIDs stay\n"
                     "  --crc CRC            pmt: the PMT to keep, its CRC_32 as pmt-list shows it (0x optional)\n"
                     "  -o, --output OUT     program, and pmt with --crc: write to OUT instead; for program, '-'\n"
                     "                       is standard output\n"
                     "  --name-template TEMPLATE\n"
                     "                       program: name the file after what was on air when the recording\n"
                     "                       started, the present event of the program's first complete\n"
                     "                       EIT present/following. Fields: {service}, {provider}, {program}\n"
                     "                       (its number), {title}, {start} or {start:FORMAT} (strftime; on the\n"
                     "                       broadcast's clock: UTC for DVB, Japan time for ISDB; %Y%m%d-%H%M by\n"
                     "                       default), {genre}; '{{' and '}}' are braces. A field without a\n"
                     "                       value is left empty and the spaces around it tidied; '/' and control\n"
                     "                       characters become '_'. An existing file is not replaced\n"
                     "  --force              program with --name-template: replace an existing file\n"
                     "  --charset auto|dvb|arib\n"
                     "                       program with --name-template: how the names and times of the\n"
                     "                       service and event are coded (auto: as the recording shows)\n"
                     "\n"
                     "  -h, --help     show this help and exit\n"
                     "  -V, --version  show the version and exit\n"
                     "\n"
                     "programs, program and pmt list the files written, with their sizes, on standard output.\n"
                     "pmt-list and pmt take recordings whose PAT lists a single program (with or without the\n"
                     "network PID), such as every file that programs and program write. An interrupted split\n"
                     "(Ctrl-C, SIGTERM, SIGHUP) removes the files it had not finished; those it had finished stay.\n"
                     "\n"
                     "Examples:\n"
                     "  pidsift-split programs recording.ts -d parts\n"
                     "  pidsift-split program recording.ts 0x1F0 -o news.ts\n"
                     "  pidsift-split program recording.ts --program 1025 -o - | player -\n"
                     "  pidsift-split program recording.ts 0x1F0 --name-template '{start} {service} {title}.ts'\n"
                     "  pidsift-split program recording.ts 0x1F0 --streams video,audio:fra,subtitles:fra\n"
                     "  pidsift-split pmt-list channel.ts\n"
                     "  pidsift-split pmt channel.ts --crc 1A2B3C4D -o main-part.ts\n"
                     "\n"
                     "Exit status: 0 on success; 1 when the input cannot be opened or read, an output cannot be\n"
                     "created or written, nothing was found to write (no PAT lists a program, or the chosen one;\n"
                     "no PMT; the PMT given with --crc never occurs), the file a name template gives exists\n"
                     "(without --force), or the recording has more than one program (pmt-list, pmt); 2 for a\n"
                     "usage error, and when --streams selects no stream of the program's first PMT.\n";

constexpr char kTool[] = "pidsift-split";

int UsageError(const std::string &message)
{
    fprintf(stderr, "%s: %s\nTry 'pidsift-split --help' for more information.\n", kTool, message.c_str());
    return front_end::kExitUsage;
}

int Failure(const std::string &message)
{
    fprintf(stderr, "%s: %s\n", kTool, message.c_str());
    return front_end::kExitFailure;
}

// A CRC_32 of one to eight hexadecimal digits, with an optional 0x or 0X.
bool ParseCRC(const char *text, u32 *crc)
{
    const char *digits = front_end::SkipHexPrefix(text);
    u64 value = 0;
    if (std::strlen(digits) > 8 || !front_end::ParseNumber(digits, 16, 0xFFFFFFFF, &value))
        return false;
    *crc = u32(value);
    return true;
}

// ---- Files being written, and what an interruption does to them ------------------------------

// Files the library has opened and not yet finished, kept where a signal handler may read them:
// fixed slots, each a path and a state that is written last. Only a file that this run made
// is removed on an interruption; one that was there before (now cut short) stays, and so does
// whatever standard output leads to.
constexpr int kSlots = 256;
constexpr size_t kPathCapacity = 4096;
enum : sig_atomic_t { kFree = 0, kWasThere = 1, kMadeHere = 2 };
char g_lstrPath[kSlots][kPathCapacity];
volatile sig_atomic_t g_ls32Unfinished[kSlots];
// The recording goes to standard output and is not finished yet.
volatile sig_atomic_t g_s32StandardOutputUnfinished;
// Standard error is a terminal, where a progress line may stand: the handler erases it first.
volatile sig_atomic_t g_s32EraseProgressLine;

// A file opened, and whether its open made it: it is unfinished until done. The state is written
// after the path, so that the handler never reads a path being written.
void OnOutputOpened(const char *path, bool created)
{
    if (std::strlen(path) >= kPathCapacity)
        return;
    for (int i = 0; i < kSlots; ++i) {
        if (g_ls32Unfinished[i] == kFree) {
            std::memcpy(g_lstrPath[i], path, std::strlen(path) + 1);
            g_ls32Unfinished[i] = created ? kMadeHere : kWasThere;
            return;
        }
    }
}

void OnOutputDone(const char *path)
{
    g_s32StandardOutputUnfinished = 0;
    for (int i = 0; i < kSlots; ++i)
        if (g_ls32Unfinished[i] != kFree && std::strcmp(g_lstrPath[i], path) == 0)
            g_ls32Unfinished[i] = kFree;
}

void WriteToStandardError(const char *text) { (void)!write(STDERR_FILENO, text, std::strlen(text)); }

// Runs on SIGINT, SIGTERM and SIGHUP: removes the unfinished files that the run made, says
// what it left, and ends the process by the signal. Only async-signal-safe calls.
void RemoveUnfinishedOnSignal(int signal_number)
{
    if (g_s32EraseProgressLine)
        WriteToStandardError("\r\033[K");
    if (g_s32StandardOutputUnfinished)
        WriteToStandardError("pidsift-split: interrupted: the output written to standard output is incomplete\n");
    for (int i = 0; i < kSlots; ++i) {
        if (g_ls32Unfinished[i] == kFree)
            continue;
        if (g_ls32Unfinished[i] == kMadeHere) {
            unlink(g_lstrPath[i]);
            WriteToStandardError("pidsift-split: interrupted: removed the unfinished ");
            WriteToStandardError(g_lstrPath[i]);
            WriteToStandardError("\n");
        } else {
            WriteToStandardError("pidsift-split: interrupted: left the unfinished ");
            WriteToStandardError(g_lstrPath[i]);
            WriteToStandardError(" in place: it existed before the split\n");
        }
    }
    std::signal(signal_number, SIG_DFL);
    raise(signal_number);
}

// Follows the files of one run through its settings: reports them, and deals with the
// unfinished ones on a signal.
class OutputWatch {
public:
    OutputWatch(pidsift::RunSettings *settings, bool standard_output = false) : m_pSettings(settings)
    {
        g_s32EraseProgressLine = isatty(STDERR_FILENO);
        settings->output_opened = [this, standard_output](const char *path, bool created) {
            m_lstrWritten.push_back(path);
            if (standard_output)
                g_s32StandardOutputUnfinished = 1;
            else
                OnOutputOpened(path, created);
        };
        settings->output_done = OnOutputDone;
        for (int signal_number : {SIGINT, SIGTERM, SIGHUP})
            std::signal(signal_number, RemoveUnfinishedOnSignal);
    }
    ~OutputWatch()
    {
        m_pSettings->output_opened = nullptr;
        m_pSettings->output_done = nullptr;
    }
    OutputWatch(const OutputWatch &) = delete;
    OutputWatch &operator=(const OutputWatch &) = delete;
    // Every file opened, in order, for the report.
    const std::vector<std::string> &Files() const { return m_lstrWritten; }

private:
    pidsift::RunSettings *m_pSettings;
    std::vector<std::string> m_lstrWritten;
};

// The files the library created, with their sizes as they stand now.
void PrintFiles(const std::vector<std::string> &files)
{
    printf("Wrote %zu file%s:\n", files.size(), files.size() == 1 ? "" : "s");
    for (const std::string &file : files) {
        struct stat status;
        const unsigned long long size = stat(file.c_str(), &status) == 0 ? (unsigned long long)status.st_size : 0;
        printf("%14llu  %s\n", size, file.c_str());
    }
}

int Finish(int result, const std::vector<std::string> &files)
{
    if (!files.empty())
        PrintFiles(files);
    const bool written = front_end::FinishStandardOutput();
    return result == 0 && written ? front_end::kExitSuccess : front_end::kExitFailure;
}

int MoreThanOneProgram(const char *file)
{
    return Failure(std::string("the PAT of ") + front_end::DisplayName(file) +
                   " lists more than one program; split it with 'pidsift-split programs' first");
}

int NoProgram(const char *file)
{
    return Failure(std::string("no file written: no PAT of ") + front_end::DisplayName(file) + " lists a program");
}

// ---- Commands ----------------------------------------------------------------------------

// "program 5", "programs 5 and 7", "programs 5, 7 and 9".
std::string ProgramsText(const std::vector<u16> &programs)
{
    std::string text = programs.size() == 1 ? "program " : "programs ";
    for (size_t i = 0; i < programs.size(); ++i) {
        if (i > 0)
            text += i + 1 == programs.size() ? " and " : ", ";
        text += std::to_string(programs[i]);
    }
    return text;
}

int RunPrograms(const char *file, pidsift::RunSettings *settings)
{
    OutputWatch watch(settings);
    front_end::Progress progress(true, settings);
    std::vector<u16> without_pmt;
    const int result = pidsift::SplitPrograms(file, *settings, &without_pmt);
    progress.Finish();
    // A program whose PMT never came has no file: a PAT alone plays nothing.
    if (!without_pmt.empty() && result == 0) {
        const std::string which = ProgramsText(without_pmt);
        if (watch.Files().empty())
            return Failure("no file written: no PMT came for " + which + " of " + front_end::DisplayName(file));
        fprintf(stderr, "%s: no file for %s: no PMT came\n", kTool, which.c_str());
    }
    if (watch.Files().empty() && result == 0)
        return NoProgram(file);
    return Finish(result, watch.Files());
}

// The program asked for, in words: by its PMT PID, or by its number.
std::string ChosenProgram(u16 pid, u16 program_number)
{
    char chosen[64];
    if (pid != TS_NO_PID)
        snprintf(chosen, sizeof chosen, "a program on PMT PID 0x%04X", pid);
    else
        snprintf(chosen, sizeof chosen, "program %u", unsigned(program_number));
    return chosen;
}

int ProgramNotListed(const char *file, u16 pid, u16 program_number)
{
    return Failure(std::string("no file written: no PAT of ") + front_end::DisplayName(file) + " lists " +
                   ChosenProgram(pid, program_number));
}

int RunProgram(const char *file, u16 pid, u16 program_number, const char *output, pidsift::RunSettings *settings,
               const pidsift::StreamSelection *streams, const char *streams_text)
{
    const bool to_standard_output = output != nullptr && std::strcmp(output, "-") == 0;
    if (output != nullptr && !to_standard_output && front_end::IsSameFile(file, output))
        return Failure(std::string("will not write ") + output + ": it is the input file");
    OutputWatch watch(settings, to_standard_output);
    front_end::Progress progress(true, settings);
    const char *destination = to_standard_output ? "/dev/stdout" : output;
    const int result = streams != nullptr
                           ? pidsift::ExtractProgramStreams(file, pid, program_number, *streams, destination, *settings)
                           : pidsift::ExtractProgram(file, pid, program_number, destination, *settings);
    progress.Finish();
    if (result == -8) {
        // Nothing worth keeping was written: the file goes.
        if (!to_standard_output)
            for (const std::string &written : watch.Files())
                unlink(written.c_str());
        return UsageError(std::string("--streams '") + streams_text + "' selects no stream of the program's PMT");
    }
    if (result == -4)
        return ProgramNotListed(file, pid, program_number);
    if (result == -7)
        return Failure(std::string("no file written: no PMT of ") + ChosenProgram(pid, program_number) + " came in " +
                       front_end::DisplayName(file));
    // The recording itself went to standard output: no report there.
    return to_standard_output ? (result == 0 ? front_end::kExitSuccess : front_end::kExitFailure)
                              : Finish(result, watch.Files());
}

// The program into a file named after what it had on air: a first pass finds the event, then the
// copy goes into a file named by the template, next to FILE or in DIR.
int RunProgramNamed(const char *file, const char *input, u16 pid, u16 program_number, const char *name_template,
                    bool force, const char *directory, pidsift::RunSettings *settings,
                    const pidsift::StreamSelection *streams, const char *streams_text)
{
    pidsift::ProgramOnAir on_air;
    int result = 0;
    {
        front_end::Progress progress(true, settings);
        result = pidsift::FindProgramOnAir(input, pid, program_number, &on_air, *settings);
        progress.Finish();
    }
    if (result == -4)
        return ProgramNotListed(input, pid, program_number);
    if (result != 0)
        return front_end::kExitFailure;
    std::string name;
    std::string error;
    if (!pidsift::ExpandNameTemplate(name_template, on_air, &name, &error))
        return UsageError("--name-template: " + error);
    std::string folder = ".";
    if (directory != nullptr) {
        folder = directory;
    } else {
        const char *slash = std::strrchr(file, '/');
        if (slash != nullptr)
            folder = std::string(file, size_t(slash - file) + (slash == file ? 1 : 0));
    }
    const std::string path =
        folder == "." && directory == nullptr ? name : folder + (folder.back() == '/' ? "" : "/") + name;
    struct stat status;
    if (stat(path.c_str(), &status) == 0 && !force)
        return Failure("will not overwrite " + path + ": it exists (--force replaces it); no file written");
    return RunProgram(input, pid, u16(on_air.program_number), path.c_str(), settings, streams, streams_text);
}

int RunPMTList(const char *file, pidsift::RunSettings *settings)
{
    std::vector<pidsift::PmtSegment> segments;
    front_end::Progress progress(true, settings);
    const int result = pidsift::ListPmtSegments(file, &segments, *settings);
    progress.Finish();
    if (result == -3)
        return MoreThanOneProgram(file);
    if (result != 0)
        return front_end::kExitFailure;
    if (segments.empty())
        return Failure(std::string("no PMT found: ") + front_end::DisplayName(file) +
                       " has no PAT that lists a program, or its PMT never comes");
    printf("Position  CRC_32      Index  Bytes\n");
    for (size_t i = 0; i < segments.size(); ++i)
        printf("%8zu  0x%08X  %5u  %llu\n", i, segments[i].crc, unsigned(segments[i].index),
               (unsigned long long)segments[i].bytes);
    return front_end::FinishStandardOutput() ? front_end::kExitSuccess : front_end::kExitFailure;
}

int RunPMT(const char *file, bool single, u32 crc, const char *output, pidsift::RunSettings *settings)
{
    if (output != nullptr && front_end::IsSameFile(file, output))
        return Failure(std::string("will not write ") + output + ": it is the input file");
    OutputWatch watch(settings);
    front_end::Progress progress(true, settings);
    const int result = single ? pidsift::SplitPmt(file, crc, output, *settings) : pidsift::SplitPmt(file, *settings);
    progress.Finish();
    if (result == -3)
        return MoreThanOneProgram(file);
    if (watch.Files().empty() && result == 0) {
        if (single) {
            char text[32];
            snprintf(text, sizeof text, "0x%08X", crc);
            return Failure(std::string("no file written: no PMT with CRC_32 ") + text + " in " +
                           front_end::DisplayName(file));
        }
        return Failure(std::string("no file written: ") + front_end::DisplayName(file) +
                       " has no PAT that lists a program, or its PMT never comes");
    }
    return Finish(result, watch.Files());
}

// Makes folder and the folders above it that are missing, as mkdir -p does. false, with errno
// and the folder that could not be made in *failed, on failure.
bool MakeFolders(const std::string &folder, std::string *failed)
{
    for (size_t end = folder.find('/', 1);; end = folder.find('/', end + 1)) {
        const std::string part = folder.substr(0, end);
        if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) {
            *failed = part;
            return false;
        }
        if (end == std::string::npos)
            return true;
    }
}

// The base name of the outputs when they do not go next to FILE: in DIR, or in the current
// folder for standard input (empty: next to FILE). false when FILE's name is too long for one.
bool OutputBase(const char *file, const char *directory, std::string *base)
{
    const bool from_standard_input = std::strcmp(file, "-") == 0;
    base->clear();
    if (directory == nullptr && !from_standard_input)
        return true;
    std::string name = "stdin";
    if (!from_standard_input) {
        const char *slash = std::strrchr(file, '/');
        const char *file_name = slash != nullptr ? slash + 1 : file;
        std::string cut(std::strlen(file_name) + 1, '\0');
        if (GetBaseFileName(cut.data(), file_name) != 0)
            return false;
        name = cut.c_str();
    }
    *base = directory != nullptr ? std::string(directory) + "/" + name : name;
    return true;
}

}  // namespace

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0)
            break;
        if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
            fputs(kHelp, stdout);
            return front_end::FinishStandardOutput() ? front_end::kExitSuccess : front_end::kExitFailure;
        }
        if (std::strcmp(argv[i], "-V") == 0 || std::strcmp(argv[i], "--version") == 0) {
            fputs("pidsift-split " PIDSIFT_VERSION "\n", stdout);
            return front_end::FinishStandardOutput() ? front_end::kExitSuccess : front_end::kExitFailure;
        }
    }
    if (argc < 2)
        return UsageError("no command given: programs, program, pmt-list or pmt");
    const std::string command = argv[1];
    if (command != "programs" && command != "program" && command != "pmt-list" && command != "pmt")
        return UsageError("unknown command '" + command + "': programs, program, pmt-list or pmt");

    std::vector<const char *> operands;
    const char *crc_text = nullptr;
    const char *output = nullptr;
    const char *directory = nullptr;
    const char *program_text = nullptr;
    const char *name_template = nullptr;
    bool force = false;
    int family = TS_TEXT_AUTO;
    const char *streams_text = nullptr;
    bool options_done = false;
    for (int i = 2; i < argc; ++i) {
        const char *arg = argv[i];
        const bool option = !options_done && arg[0] == '-' && arg[1] != '\0';
        auto value = [&]() -> const char * { return i + 1 < argc ? argv[++i] : nullptr; };
        if (option && std::strcmp(arg, "--") == 0) {
            options_done = true;
        } else if (option && command == "pmt" && std::strcmp(arg, "--crc") == 0) {
            if ((crc_text = value()) == nullptr)
                return UsageError("--crc needs the CRC_32 of a PMT");
        } else if (option && command == "program" && std::strcmp(arg, "--streams") == 0) {
            if ((streams_text = value()) == nullptr)
                return UsageError("--streams needs a list of streams, such as video,audio:fra");
        } else if (option && command == "program" && std::strcmp(arg, "--program") == 0) {
            if ((program_text = value()) == nullptr)
                return UsageError("--program needs a program number");
        } else if (option && command == "program" && std::strcmp(arg, "--name-template") == 0) {
            if ((name_template = value()) == nullptr)
                return UsageError("--name-template needs a template, such as '{start} {service} {title}.ts'");
        } else if (option && command == "program" && std::strcmp(arg, "--force") == 0) {
            force = true;
        } else if (option && command == "program" && std::strcmp(arg, "--charset") == 0) {
            const char *text = value();
            if (text == nullptr || !front_end::ParseTextFamily(text, &family))
                return UsageError("--charset needs auto, dvb or arib");
        } else if (option && (command == "pmt" || command == "program") &&
                   (std::strcmp(arg, "-o") == 0 || std::strcmp(arg, "--output") == 0)) {
            if ((output = value()) == nullptr)
                return UsageError(std::string(arg) + " needs a file name");
        } else if (option && command != "pmt-list" &&
                   (std::strcmp(arg, "-d") == 0 || std::strcmp(arg, "--directory") == 0)) {
            if ((directory = value()) == nullptr)
                return UsageError(std::string(arg) + " needs a folder");
        } else if (option) {
            return UsageError("unknown option '" + std::string(arg) + "' for " + command);
        } else {
            operands.push_back(arg);
        }
    }
    const size_t wanted = command == "program" && program_text == nullptr ? 2 : 1;
    if (operands.empty())
        return UsageError(command + " needs a FILE");
    if (operands.size() < wanted)
        return UsageError("program needs the PMT PID of the program, or --program N");
    if (operands.size() > wanted)
        return UsageError("one FILE only; '" + std::string(operands[wanted]) + "' is one too many");

    const char *file = operands[0];
    if (directory != nullptr) {
        struct stat status;
        std::string failed;
        if (stat(directory, &status) != 0 && errno == ENOENT && !MakeFolders(directory, &failed)) {
            const int error_number = errno;
            return Failure("cannot create folder " + failed + ": " + strerror(error_number));
        }
        if (stat(directory, &status) != 0)
            return Failure(std::string("cannot use folder ") + directory + ": " + strerror(errno));
        if (!S_ISDIR(status.st_mode))
            return Failure(std::string("cannot use folder ") + directory + ": " + strerror(ENOTDIR));
    }
    pidsift::RunSettings settings;
    if (!OutputBase(file, directory, &settings.split_base))
        return Failure(std::string("cannot name the files of ") + file + ": the name is too long");
    settings.message = front_end::FailureMessagesOf(kTool);
    const char *input = front_end::InputPath(file);

    if (command == "programs")
        return RunPrograms(input, &settings);
    if (command == "pmt-list")
        return RunPMTList(input, &settings);
    if (command == "program") {
        u16 pid = TS_NO_PID;
        u64 number = 0;
        if (program_text != nullptr) {
            if (!front_end::ParseNumber(program_text, 10, 0xFFFF, &number) || number == 0)
                return UsageError("invalid program number '" + std::string(program_text) + "': 1 to 65535");
        } else {
            u64 value = 0;
            if (!front_end::ParseNumber(front_end::SkipHexPrefix(operands[1]), 16, 0x1FFF, &value))
                return UsageError("invalid PID '" + std::string(operands[1]) + "': hexadecimal, 0 to 0x1FFF");
            pid = u16(value);
        }
        pidsift::StreamSelection streams;
        std::string error;
        if (streams_text != nullptr && !pidsift::ParseStreamSelection(streams_text, &streams, &error))
            return UsageError("invalid --streams '" + std::string(streams_text) + "': " + error);
        const pidsift::StreamSelection *selection = streams_text != nullptr ? &streams : nullptr;
        if (name_template != nullptr) {
            if (output != nullptr)
                return UsageError("-o and --name-template both name the file: give one of them");
            if (std::strcmp(file, "-") == 0)
                return UsageError("--name-template reads the recording twice: it needs a FILE, not standard input");
            settings.text_family = family;
            return RunProgramNamed(file, input, pid, u16(number), name_template, force, directory, &settings, selection,
                                   streams_text);
        }
        if (force || family != TS_TEXT_AUTO)
            return UsageError("--force and --charset go with --name-template");
        return RunProgram(input, pid, u16(number), output, &settings, selection, streams_text);
    }
    u32 crc = 0;
    if (crc_text != nullptr && !ParseCRC(crc_text, &crc))
        return UsageError("invalid CRC_32 '" + std::string(crc_text) + "': up to eight hexadecimal digits");
    if (output != nullptr && crc_text == nullptr)
        return UsageError("-o needs --crc: without it every PMT gets a file named after its CRC_32");
    return RunPMT(input, crc_text != nullptr, crc, output, &settings);
}
