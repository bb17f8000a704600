// pidsift-check: reports how whole MPEG-2 transport stream recordings are, as text for a person,
// JSON for a script, and an SVG picture of the recording over time. The report comes from the
// library (<pidsift/check.h>); its renderers are in check/.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <pidsift/check.h>

#include "check/renderers.h"
#include "front_end.h"

namespace {

constexpr char kTool[] = "pidsift-check";
constexpr int kExitErrorsFound = 1;
constexpr int kExitUnreadable = 3;

const char kHelp[] =
    "Usage: pidsift-check [--json] [--quiet] [--strict] [--summary] [-j N] [--charset auto|dvb|arib]\n"
    "                     [--svg FILE.svg] FILE...\n"
    "\n"
    "Reads each MPEG-2 transport stream recording once and reports how whole it is:\n"
    "  - the file: size, unit size, packets, bytes in no packet, a packet cut short at the end,\n"
    "    the times sync was lost, duration and mean bitrate from the program clock reference\n"
    "    (PCR), the network's name from the NIT, and the broadcast's clock from its first and last\n"
    "    TDT or TOT (with the TOT's local time offset);\n"
    "  - the programs of the last PAT (the table of programs): the PIDs of each program's PMT\n"
    "    (its table of streams), PCR and ECM (its keys), its streams (codec, kind, language),\n"
    "    whether it was scrambled; apart, the programs the PAT lists whose PMT never came (absent\n"
    "    from the recording);\n"
    "  - each program's service: its name, provider and type from the SDT;\n"
    "  - what was on: each program's present and following events (title, start to end, genre)\n"
    "    from the first EIT present/following of its service, and from the last when they changed;\n"
    "  - one line per PID (packet identifier): packets, continuity breaks (drop), packets\n"
    "    marked damaged (error), scrambled packets, PCRs, sections whose CRC_32 failed, role;\n"
    "  - the first-priority checks, each with its count and the first packet where it failed\n"
    "    (and its time by the PCR, and on the broadcast's clock when the recording carries it);\n"
    "  - each scrambled program: it cannot be played without descrambling.\n"
    "\n"
    "Options:\n"
    "  --json           one JSON object per file on standard output, one line each\n"
    "  --quiet          report only the files in which errors were found\n"
    "  --strict         count the PMT of each program absent from the recording as missing\n"
    "                   (a PMT error, as TR 101 290 reads it); without, absent programs are\n"
    "                   listed apart and are no error\n"
    "  --summary        one line per file: duration, verdict (ok, errors, unreadable), programs,\n"
    "                   scrambled or clear, the checks that counted something, the name; with\n"
    "                   --json, one object per file with those fields\n"
    "  -j, --jobs N     check N files at a time, each on a thread of its own (default: the\n"
    "                   number of processors; 1: one after the other); the reports come in the\n"
    "                   order of the FILEs all the same\n"
    "  --charset auto|dvb|arib\n"
    "                   how the names of the SDT, NIT and EIT are coded: as in DVB broadcasts, as in\n"
    "                   ISDB ones (ARIB), or auto (the default): ARIB when the recording carries\n"
    "                   something only ISDB broadcasts carry, else DVB\n"
    "  --svg FILE.svg   also draw the recording: each program's bitrate over time, and a mark\n"
    "                   at each continuity break, transport error and scrambled stretch on its\n"
    "                   PID's row, and each loss of sync on the time axis (one FILE only)\n"
    "  -h, --help       show this help and exit\n"
    "  -V, --version    show the version and exit\n"
    "\n"
    "A FILE given as - is read from standard input. Intervals (the PAT and each PMT at least\n"
    "every 0.5 s, PCR, video and audio PIDs at least every 5 s) are timed by the PCR; a\n"
    "recording without one is not timed.\n"
    "\n"
    "Examples:\n"
    "  pidsift-check recording.ts\n"
    "  pidsift-check --quiet /srv/tv/*.ts\n"
    "  pidsift-check --summary -j 4 /srv/tv/*.ts\n"
    "  pidsift-check --svg recording.svg --json recording.ts > recording.json\n"
    "\n"
    "Exit status: 0 when nothing was found; 1 when a recording has errors (a check counted\n"
    "something, no packet was found, or the recording ends inside a packet; scrambling is no\n"
    "error); 2 for a usage error; 3 when a file cannot be opened, read or written. With\n"
    "several files, the highest of theirs (the worst).\n";

int UsageError(const std::string &message)
{
    fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", kTool, message.c_str(), kTool);
    return front_end::kExitUsage;
}

bool WriteWhole(const char *path, const std::string &text)
{
    FILE *file = fopen(path, "w");
    if (file == nullptr) {
        fprintf(stderr, "%s: cannot create %s: %s\n", kTool, path, strerror(errno));
        return false;
    }
    const bool written = fwrite(text.data(), 1, text.size(), file) == text.size();
    const int error = errno;
    if (fclose(file) != 0 || !written) {
        fprintf(stderr, "%s: cannot write %s: %s\n", kTool, path, strerror(written ? errno : error));
        return false;
    }
    return true;
}

struct Options {
    bool json = false;
    bool quiet = false;
    bool strict = false;
    bool summary = false;
    unsigned jobs = 0;  // 0: one per processor
    int text_family = TS_TEXT_AUTO;
    const char *svg = nullptr;
    std::vector<const char *> files;
};

// What checking one file gave: the report as it is to be printed, its abbreviations, its exit
// status.
struct FileResult {
    std::string printed;
    check_tool::Abbreviations used;
    int status = front_end::kExitSuccess;
};

// The text report of the file, as PrintText writes it.
std::string TextOf(const char *name, const pidsift::CheckReport &report, bool strict, check_tool::Abbreviations *used)
{
    char *buffer = nullptr;
    size_t size = 0;
    FILE *out = open_memstream(&buffer, &size);
    if (out == nullptr)
        return "";
    check_tool::PrintText(name, report, strict, used, out);
    fputc('\n', out);
    fclose(out);
    std::string text(buffer, size);
    free(buffer);
    return text;
}

// Checks one file with settings of its own, and keeps what is to be printed of it.
FileResult CheckOne(const char *argument, const Options &options, bool show_progress)
{
    FileResult outcome;
    const char *path = front_end::InputPath(argument);
    pidsift::RunSettings settings;
    settings.text_family = options.text_family;
    settings.message = [](int failure, const char *failed, int error_number) {
        front_end::PrintFailure(failure, failed, error_number, kTool);
    };
    check_tool::Timeline timeline;
    if (options.svg != nullptr)
        settings.check_event = [&timeline](const pidsift::CheckEvent &event) { timeline.Add(event); };
    front_end::Progress progress(show_progress, &settings);
    pidsift::CheckReport report;
    const int result = pidsift::Check(path, settings, &report);
    progress.Finish();
    if (result == -2) {
        outcome.status = kExitUnreadable;  // the message hook has said why
        return outcome;
    }
    const bool errors = report.HasErrors(options.strict);
    // A read error leaves a report of what came before it, worth showing when something came.
    if (result == 0 || report.bytes > 0) {
        const std::string name = front_end::DisplayName(path);
        if (!options.quiet || errors) {
            if (options.summary)
                outcome.printed = (options.json ? check_tool::SummaryJsonLine(name.c_str(), report, result == 0, options.strict)
                                                : check_tool::SummaryLine(name.c_str(), report, result == 0, options.strict)) +
                                  "\n";
            else if (options.json)
                outcome.printed = check_tool::JsonLine(name.c_str(), report, options.strict) + "\n";
            else
                outcome.printed = TextOf(name.c_str(), report, options.strict, &outcome.used);
        }
        if (options.svg != nullptr && !WriteWhole(options.svg, check_tool::Picture(name.c_str(), report, timeline)))
            outcome.status = kExitUnreadable;
    }
    if (result != 0)
        outcome.status = kExitUnreadable;
    else if (outcome.status == front_end::kExitSuccess && errors)
        outcome.status = kExitErrorsFound;
    return outcome;
}

// Checks the files on jobs threads, and hands each result to print in the order of the files,
// as soon as it and those before it are done.
template <typename Print> void CheckAll(const Options &options, unsigned jobs, Print print)
{
    const size_t count = options.files.size();
    if (jobs <= 1 || count <= 1) {
        for (const char *file : options.files)
            print(CheckOne(file, options, true));
        return;
    }
    std::vector<FileResult> results(count);
    std::vector<bool> done(count, false);
    std::mutex lock;
    std::condition_variable finished;
    std::atomic<size_t> next{0};
    std::vector<std::thread> workers;
    for (unsigned j = 0; j < std::min<size_t>(jobs, count); ++j)
        workers.emplace_back([&] {
            for (size_t i; (i = next++) < count;) {
                FileResult result = CheckOne(options.files[i], options, false);
                const std::lock_guard<std::mutex> guard(lock);
                results[i] = std::move(result);
                done[i] = true;
                finished.notify_all();
            }
        });
    for (size_t i = 0; i < count; ++i) {
        std::unique_lock<std::mutex> guard(lock);
        finished.wait(guard, [&] { return bool(done[i]); });
        FileResult result = std::move(results[i]);
        guard.unlock();
        print(std::move(result));
    }
    for (std::thread &worker : workers)
        worker.join();
}

}  // namespace

int main(int argc, char **argv)
{
    Options options;
    bool options_done = false;
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        if (options_done || arg[0] != '-' || arg[1] == '\0') {
            options.files.push_back(arg);
        } else if (std::strcmp(arg, "--") == 0) {
            options_done = true;
        } else if (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0) {
            fputs(kHelp, stdout);
            return front_end::FinishStandardOutput() ? front_end::kExitSuccess : kExitUnreadable;
        } else if (std::strcmp(arg, "-V") == 0 || std::strcmp(arg, "--version") == 0) {
            fputs("pidsift-check " PIDSIFT_VERSION "\n", stdout);
            return front_end::FinishStandardOutput() ? front_end::kExitSuccess : kExitUnreadable;
        } else if (std::strcmp(arg, "--json") == 0) {
            options.json = true;
        } else if (std::strcmp(arg, "--quiet") == 0) {
            options.quiet = true;
        } else if (std::strcmp(arg, "--strict") == 0) {
            options.strict = true;
        } else if (std::strcmp(arg, "--summary") == 0) {
            options.summary = true;
        } else if (std::strcmp(arg, "-j") == 0 || std::strcmp(arg, "--jobs") == 0 ||
                   std::strncmp(arg, "--jobs=", 7) == 0 || (std::strncmp(arg, "-j", 2) == 0 && arg[2] != '\0')) {
            const char *value = arg[1] == 'j' ? (arg[2] != '\0' ? arg + 2 : (i + 1 < argc ? argv[++i] : nullptr))
                                              : front_end::OptionValue(argc, argv, &i, 6);
            u64 jobs = 0;
            if (value == nullptr || !front_end::ParseNumber(value, 10, 1024, &jobs) || jobs == 0)
                return UsageError(std::string("-j needs a number of files at a time, 1 to 1024"));
            options.jobs = unsigned(jobs);
        } else if (std::strcmp(arg, "--charset") == 0 || std::strncmp(arg, "--charset=", 10) == 0) {
            const char *value = front_end::OptionValue(argc, argv, &i, 9);
            if (value == nullptr)
                return UsageError("--charset needs auto, dvb or arib");
            if (!front_end::ParseTextFamily(value, &options.text_family))
                return UsageError(std::string("invalid --charset '") + value + "': auto, dvb or arib");
        } else if (std::strcmp(arg, "--svg") == 0 || std::strncmp(arg, "--svg=", 6) == 0) {
            const char *value = arg[5] == '=' ? arg + 6 : (i + 1 < argc ? argv[++i] : nullptr);
            if (value == nullptr || *value == '\0')
                return UsageError("--svg needs the name of the picture to write");
            options.svg = value;
        } else {
            return UsageError(std::string("unknown option '") + arg + "'");
        }
    }
    if (options.files.empty())
        return UsageError("no FILE given");
    if (options.svg != nullptr && options.files.size() > 1)
        return UsageError("--svg draws one FILE; " + std::to_string(options.files.size()) + " were given");
    if (options.svg != nullptr && front_end::IsSameFile(front_end::InputPath(options.files[0]), options.svg))
        return UsageError(std::string("will not write the picture over the recording ") + options.svg);

    int status = front_end::kExitSuccess;
    check_tool::Abbreviations used;
    const unsigned jobs = options.jobs != 0 ? options.jobs : std::max(1u, std::thread::hardware_concurrency());
    CheckAll(options, jobs, [&](FileResult result) {
        status = std::max(status, result.status);
        used.Merge(result.used);
        fwrite(result.printed.data(), 1, result.printed.size(), stdout);
        // What has been printed goes out before the next file is read.
        fflush(stdout);
    });
    if (!options.json && !options.summary && !used.Empty())
        check_tool::PrintKey(used);
    if (!front_end::FinishStandardOutput())
        status = std::max(status, kExitUnreadable);
    return status;
}
