// pidsift-dump: prints the packets, tables and clock references of an MPEG-2 transport stream
// file as text, or as JSON Lines.
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include <pidsift/demux.h>

#include "front_end.h"

namespace {

const char kHelp[] = "Usage: pidsift-dump [SELECTION...] [--changes] [--json] [--charset auto|dvb|arib] FILE\n"
                     "\n"
                     "Prints what an MPEG-2 transport stream recording carries, as text on standard output:\n"
                     "packet headers, the program tables, clock references, conditional-access sections and the\n"
                     "PIDs met. Every packet that prints something is preceded by a line of 40 '=' signs; a table\n"
                     "is printed when its last packet arrives, under the header line of that packet.\n"
                     "\n"
                     "Selection (any number of them; without one: --pat --cat --pmt --pids):\n"
                     "  --packets    every packet's header line                                    (0x001)\n"
                     "  --pat        every PAT, the Program Association Table: the programs and\n"
                     "               the PIDs of their PMTs                                        (0x002)\n"
                     "  --cat        every CAT, the Conditional Access Table: the EMM PID          (0x004)\n"
                     "  --pmt        every PMT, a program's Program Map Table: its streams, its\n"
                     "               PCR PID and its ECM PID                                       (0x008)\n"
                     "  --ecm        every section on the ECM PID that a PMT names                 (0x010)\n"
                     "  --emm        every section on the EMM PID that the CAT names, with its\n"
                     "               card ID                                                       (0x020)\n"
                     "  --es         every packet of a program's audio, video and data streams     (0x040)\n"
                     "  --pids       at the end, every PID met, in the order first met             (0x080)\n"
                     "  --pcr        every program clock reference (PCR), as a time of day         (0x100)\n"
                     "  --all        all of the above\n"
                     "  --mask N     the numbers above added up, in hexadecimal (0x10A) or decimal (266)\n"
                     "  --sdt        every SDT, the Service Description Table: the services of a\n"
                     "               transport stream with their names                             (0x400)\n"
                     "  --nit        every NIT, the Network Information Table: the network's name and\n"
                     "               its transport streams                                         (0x800)\n"
                     "  --programs   at the end, each program of the last PAT with its PMT PID and the\n"
                     "               name of its service in the SDT and of the event on air (EIT) (0x4000)\n"
                     "  --eit        every EIT, the Event Information Table: the programme guide's\n"
                     "               events with their names, times, genres and descriptions      (0x8000)\n"
                     "  --eit-pf     the EIT's present/following sections only: the event on air and\n"
                     "               the next one, of this transport stream and of others        (0x10000)\n"
                     "  --tdt        every TDT and TOT, the broadcast's clock and its local time\n"
                     "               offsets                                                     (0x20000)\n"
                     "\n"
                     "  --changes    print a table only when its section differs from the last one printed\n"
                     "               on its PID (for the SDT, NIT and EIT: of its table and section number);\n"
                     "               broadcasts repeat their tables every tenth of a second. The end says\n"
                     "               how many repeats were left out\n"
                     "  --json       the same as JSON Lines: one object on a line for each block of text\n"
                     "  --charset auto|dvb|arib\n"
                     "               how the names of the SDT, NIT and EIT are coded: as in DVB broadcasts,\n"
                     "               as in ISDB ones (ARIB), or auto (the default): ARIB once the recording\n"
                     "               has shown something only ISDB broadcasts carry, else DVB. The family\n"
                     "               also sets the clock: DVB times are UTC, ISDB ones Japan time (+09:00)\n"
                     "\n"
                     "  -h, --help     show this help and exit\n"
                     "  -V, --version  show the version and exit\n"
                     "\n"
                     "FILE '-' reads standard input. PMTs, PCRs, ECMs and stream packets are known only once a PAT\n"
                     "has named their programs, so nothing of them is printed before the first PAT.\n"
                     "\n"
                     "Examples:\n"
                     "  pidsift-dump recording.ts                  the tables and the PID list\n"
                     "  pidsift-dump --pcr --pmt recording.ts      clock references and PMTs\n"
                     "  pidsift-dump --changes recording.ts        the tables each time they change\n"
                     "  pidsift-dump --mask 0x1FF recording.ts     as --all: not the SDT, NIT or programs\n"
                     "  pidsift-dump --pmt --json recording.ts     each PMT as one line of JSON\n"
                     "  pidsift-dump --programs recording.ts       the programs, their services and events\n"
                     "  pidsift-dump --eit-pf --changes recording.ts  what is on, each time it changes\n"
                     "  pidsift-dump --tdt --json recording.ts     the broadcast's clock as JSON Lines\n"
                     "\n"
                     "Exit status: 0 when the whole file was read; 1 when it could not be opened or read, or the\n"
                     "text could not be written; 2 for a usage error.\n";

constexpr int kDefaultMask = TS_PRINT_PAT | TS_PRINT_CAT | TS_PRINT_PMT | TS_PRINT_PIDS;
constexpr int kAllMask = 0x1FF;
// What --mask takes: the selections of --all, the SDT, the NIT and the program list.
constexpr int kMaskBits =
    kAllMask | TS_PRINT_SDT | TS_PRINT_NIT | TS_PRINT_PROGRAMS | TS_PRINT_EIT | TS_PRINT_EIT_PF | TS_PRINT_TDT;

int UsageError(const char *format, const char *value)
{
    fputs("pidsift-dump: ", stderr);
    fprintf(stderr, format, value);
    fputs("\nTry 'pidsift-dump --help' for more information.\n", stderr);
    return front_end::kExitUsage;
}

// A mask in decimal, or in hexadecimal after 0x or 0X; only the defined bits are accepted.
bool ParseMask(const char *text, int *mask)
{
    const char *digits = front_end::SkipHexPrefix(text);
    u64 value = 0;
    if (!front_end::ParseNumber(digits, digits == text ? 10 : 16, kMaskBits, &value) || (value & ~u64(kMaskBits)) != 0)
        return false;
    *mask = int(value);
    return true;
}

struct Option {
    const char *name;
    int bits;
};

constexpr Option kOptions[] = {
    {"--packets", TS_PRINT_PACKETS},
    {"--pat", TS_PRINT_PAT},
    {"--cat", TS_PRINT_CAT},
    {"--pmt", TS_PRINT_PMT},
    {"--ecm", TS_PRINT_ECM},
    {"--emm", TS_PRINT_EMM},
    {"--es", TS_PRINT_ES},
    {"--pids", TS_PRINT_PIDS},
    {"--pcr", TS_PRINT_PCR},
    {"--all", kAllMask},
    {"--sdt", TS_PRINT_SDT},
    {"--nit", TS_PRINT_NIT},
    {"--programs", TS_PRINT_PROGRAMS},
    {"--eit", TS_PRINT_EIT},
    {"--eit-pf", TS_PRINT_EIT_PF},
    {"--tdt", TS_PRINT_TDT},
};

}  // namespace

int main(int argc, char **argv)
{
    int mask = 0;
    int family = TS_TEXT_AUTO;
    bool selected = false;
    bool changes_only = false;
    bool json = false;
    const char *file = nullptr;
    bool options_done = false;
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        if (options_done || arg[0] != '-' || arg[1] == '\0') {
            if (file != nullptr)
                return UsageError("one FILE only; '%s' is a second one", arg);
            file = arg;
            continue;
        }
        if (std::strcmp(arg, "--") == 0) {
            options_done = true;
        } else if (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0) {
            fputs(kHelp, stdout);
            return front_end::FinishStandardOutput() ? front_end::kExitSuccess : front_end::kExitFailure;
        } else if (std::strcmp(arg, "-V") == 0 || std::strcmp(arg, "--version") == 0) {
            fputs("pidsift-dump " PIDSIFT_VERSION "\n", stdout);
            return front_end::FinishStandardOutput() ? front_end::kExitSuccess : front_end::kExitFailure;
        } else if (std::strcmp(arg, "--mask") == 0 || std::strncmp(arg, "--mask=", 7) == 0) {
            const char *value = arg[6] == '=' ? arg + 7 : (i + 1 < argc ? argv[++i] : nullptr);
            if (value == nullptr)
                return UsageError("%s needs a number", "--mask");
            int bits = 0;
            if (!ParseMask(value, &bits))
                return UsageError("invalid mask '%s': the bits 0x001 to 0x100, 0x400, 0x800 and 0x4000 to 0x20000",
                                  value);
            mask |= bits;
            selected = true;
        } else if (std::strcmp(arg, "--charset") == 0 || std::strncmp(arg, "--charset=", 10) == 0) {
            const char *value = front_end::OptionValue(argc, argv, &i, 9);
            if (value == nullptr)
                return UsageError("%s needs auto, dvb or arib", "--charset");
            if (!front_end::ParseTextFamily(value, &family))
                return UsageError("invalid --charset '%s': auto, dvb or arib", value);
        } else {
            const Option *found = nullptr;
            for (const Option &option : kOptions)
                if (std::strcmp(arg, option.name) == 0)
                    found = &option;
            if (std::strcmp(arg, "--changes") == 0) {
                changes_only = true;
                continue;
            }
            if (std::strcmp(arg, "--json") == 0) {
                json = true;
                continue;
            }
            if (found == nullptr)
                return UsageError("unknown option '%s'", arg);
            mask |= found->bits;
            selected = true;
        }
    }
    if (file == nullptr)
        return UsageError("%s", "no FILE given");
    if (!selected)
        mask = kDefaultMask;
    if (changes_only)
        mask |= TS_PRINT_CHANGES;
    if (json)
        mask |= TS_PRINT_JSON;

    // A dump of a long recording is megabytes of text: hand it to the system in large pieces.
    static char output_buffer[1 << 20];
    if (!isatty(STDOUT_FILENO))
        setvbuf(stdout, output_buffer, _IOFBF, sizeof output_buffer);
    // The progress line would be torn up by the text when both go to one terminal.
    pidsift::RunSettings settings;
    settings.text_family = family;
    settings.message = front_end::FailureMessagesOf("pidsift-dump");
    front_end::Progress progress(!isatty(STDOUT_FILENO), &settings);
    const int result = pidsift::Dump(front_end::InputPath(file), mask, settings);
    progress.Finish();
    const bool written = front_end::FinishStandardOutput();
    return result == 0 && written ? front_end::kExitSuccess : front_end::kExitFailure;
}
