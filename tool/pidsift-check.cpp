// pidsift-check: reports how whole MPEG-2 transport stream recordings are, as text for a person,
// JSON for a script, and an SVG picture of the recording over time.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "display_width.h"
#include "front_end.h"

namespace {

constexpr char kTool[] = "pidsift-check";
constexpr int kExitErrorsFound = 1;
constexpr int kExitUnreadable = 3;

const char kHelp[] = "Usage: pidsift-check [--json] [--quiet] [--charset auto|dvb|arib] [--svg FILE.svg] FILE...\n"
                     "\n"
                     "Reads each MPEG-2 transport stream recording once and reports how whole it is:\n"
                     "  - the file: size, unit size, packets, bytes skipped while hunting for sync and the times\n"
                     "    sync was lost, duration and mean bitrate from the program clock reference (PCR), the\n"
                     "    network's name from the NIT;\n"
                     "  - the programs of the last PAT (the table of programs): the PIDs of each program's PMT\n"
                     "    (its table of streams), PCR and ECM (its keys), its streams, whether it was scrambled;\n"
                     "  - each program's service: its name, provider and type from the SDT;\n"
                     "  - one line per PID (packet identifier): packets, continuity breaks (drop), packets\n"
                     "    marked damaged (error), scrambled packets, PCRs, sections whose CRC_32 failed, role;\n"
                     "  - the first-priority checks, each with its count and the first packet where it failed.\n"
                     "\n"
                     "Options:\n"
                     "  --json           one JSON object per file on standard output, one line each\n"
                     "  --quiet          report only the files in which errors were found\n"
                     "  --charset auto|dvb|arib\n"
                     "                   how the names of the SDT and NIT are coded: as in DVB broadcasts, as in\n"
                     "                   ISDB ones (ARIB), or auto (the default): ARIB when the recording carries\n"
                     "                   something only ISDB broadcasts carry, else DVB\n"
                     "  --svg FILE.svg   also draw the recording: each program's bitrate over time, and a mark\n"
                     "                   at each continuity break, transport error and scrambled stretch on its\n"
                     "                   PID's row (one FILE only)\n"
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
                     "  pidsift-check --svg recording.svg --json recording.ts > recording.json\n"
                     "\n"
                     "Exit status: 0 when nothing was found; 1 when a recording has errors (a check counted\n"
                     "something); 2 for a usage error; 3 when a file cannot be opened, read or written. With\n"
                     "several files, the highest.\n";

int UsageError(const std::string &message)
{
    fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", kTool, message.c_str(), kTool);
    return front_end::kExitUsage;
}

std::string Format(const char *format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char *format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    va_list again;
    va_copy(again, arguments);
    const int length = vsnprintf(nullptr, 0, format, arguments);
    va_end(arguments);
    std::string text(length > 0 ? size_t(length) : 0, '\0');
    if (length > 0)
        vsnprintf(text.data(), text.size() + 1, format, again);
    va_end(again);
    return text;
}

std::string Hex(u16 pid) { return Format("0x%04X", pid); }

// ---------------------------------------------------------------------------------------------
// Names
// ---------------------------------------------------------------------------------------------

// What the abbreviations of the reports stand for, in the order the key lists them.
struct KeyEntry {
    const char *abbreviation;
    const char *meaning;
};

constexpr KeyEntry kKey[] = {
    {"PID", "packet identifier: the 13-bit number that tells which stream a packet belongs to"},
    {"PAT", "Program Association Table: the programs and the PIDs of their PMTs (PID 0x0000)"},
    {"PMT", "Program Map Table: a program's streams, its PCR PID and its ECM PID"},
    {"PCR", "Program Clock Reference: the 27 MHz clock that times a program"},
    {"CAT", "Conditional Access Table: the EMM PID (PID 0x0001)"},
    {"ECM", "Entitlement Control Message: the keys of a scrambled program"},
    {"EMM", "Entitlement Management Message: the rights of the viewers' cards"},
    {"CRC", "cyclic redundancy check: the CRC_32 checksum at the end of a table section"},
    {"NIT", "Network Information Table: the networks and their transport streams"},
    {"SDT", "Service Description Table: the names of the services"},
    {"ARIB", "Association of Radio Industries and Businesses: the text coding of ISDB broadcasts"},
    {"DVB", "Digital Video Broadcasting: the text coding of European broadcasts"},
    {"BAT", "Bouquet Association Table: services grouped by provider"},
    {"EIT", "Event Information Table: the programme guide"},
    {"RST", "Running Status Table: which events are running"},
    {"TDT", "Time and Date Table: the current time"},
    {"TOT", "Time Offset Table: the current time and the local time offset"},
    {"DIT", "Discontinuity Information Table: where a partial recording was cut"},
    {"SIT", "Selection Information Table: what a partial recording keeps"},
    {"TSDT", "Transport Stream Description Table"},
    {"IPMP", "Intellectual Property Management and Protection"},
    {"LIT", "Local event Information Table"},
    {"ERT", "Event Relation Table"},
    {"PCAT", "Partial Content Announcement Table"},
    {"SDTT", "Software Download Trigger Table"},
    {"BIT", "Broadcaster Information Table"},
    {"NBIT", "Network Board Information Table"},
    {"LDT", "Linked Description Table"},
    {"CDT", "Common Data Table: logos and other data shared by the services"},
    {"ISO/IEC", "International Organization for Standardization / International Electrotechnical Commission"},
    {"PES", "Packetized Elementary Stream: audio, video or data cut into packets"},
    {"AVC", "Advanced Video Coding (H.264)"},
    {"SVC", "Scalable Video Coding"},
    {"MVC", "Multiview Video Coding"},
    {"MHEG", "Multimedia and Hypermedia Experts Group: interactive pages"},
    {"DSM CC", "Digital Storage Media Command and Control: data carousels"},
    {"SL", "Sync Layer of MPEG-4 systems"},
    {"AMD", "amendment"},
    {"MPEG", "Moving Picture Experts Group: the video and audio codings of ISO/IEC 11172, 13818, 14496"},
    {"HEVC", "High Efficiency Video Coding (H.265)"},
    {"HD", "high definition"},
    {"SD", "standard definition"},
    {"NVOD", "near video on demand: one programme started at several times"},
    {"FM", "frequency modulation: a radio service of the analogue kind"},
    {"SRM", "System Renewability Message"},
    {"RCS", "Return Channel via Satellite"},
    {"FLS", "Forward Link Signalling"},
    {"MHP", "Multimedia Home Platform: interactive applications"},
};

// The tables that the PIDs 0x0002 to 0x002F are reserved for, by number.
struct ReservedPID {
    u16 pid;
    const char *name;
};

constexpr ReservedPID kReservedPIDs[] = {
    {0x0002, "TSDT"}, {0x0003, "IPMP"},    {0x0010, "NIT"},  {0x0011, "SDT/BAT"}, {0x0012, "EIT"},
    {0x0013, "RST"},  {0x0014, "TDT/TOT"}, {0x001E, "DIT"},  {0x001F, "SIT"},     {0x0020, "LIT"},
    {0x0021, "ERT"},  {0x0022, "PCAT"},    {0x0023, "SDTT"}, {0x0024, "BIT"},     {0x0025, "NBIT/LDT"},
    {0x0026, "EIT"},  {0x0027, "EIT"},     {0x0028, "SDTT"}, {0x0029, "CDT"},
};

// The abbreviations a text uses, for the key.
class Abbreviations {
public:
    // Notes each abbreviation that stands in text as a word of its own (a plural 's' allowed).
    void Note(const std::string &text)
    {
        for (const KeyEntry &entry : kKey) {
            const std::string word = entry.abbreviation;
            for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
                size_t end = at + word.size();
                if (end < text.size() && text[end] == 's')
                    ++end;
                const bool alone = (at == 0 || !std::isalnum((unsigned char)text[at - 1])) &&
                                   (end == text.size() || !std::isalnum((unsigned char)text[end]));
                if (alone) {
                    m_used.insert(entry.abbreviation);
                    break;
                }
            }
        }
    }
    bool Empty() const { return m_used.empty(); }
    bool Has(const char *abbreviation) const { return m_used.count(abbreviation) != 0; }

private:
    std::set<std::string> m_used;
};

std::string ReservedName(u16 pid)
{
    for (const ReservedPID &entry : kReservedPIDs)
        if (entry.pid == pid)
            return entry.name;
    return "reserved for tables";
}

std::string RoleText(u16 pid, const TS_CheckPID &entry)
{
    std::string role;
    switch (entry.u8Role) {
    case TS_ROLE_PAT:
        return "PAT";
    case TS_ROLE_CAT:
        return "CAT";
    case TS_ROLE_EMM:
        return "EMM";
    case TS_ROLE_NIT:
        return "NIT";
    case TS_ROLE_SI:
        return ReservedName(pid);
    case TS_ROLE_NULL:
        return "null";
    case TS_ROLE_PMT:
        role = "PMT";
        break;
    case TS_ROLE_VIDEO:
        role = "video";
        break;
    case TS_ROLE_AUDIO:
        role = "audio";
        break;
    case TS_ROLE_DATA:
        role = "data";
        break;
    case TS_ROLE_PCR:
        role = "PCR";
        break;
    case TS_ROLE_ECM:
        role = "ECM";
        break;
    default:
        return "unreferenced";
    }
    role += " of " + std::to_string(entry.u16Program);
    if (entry.u16OtherPrograms == 1)
        role += " and 1 more program";
    else if (entry.u16OtherPrograms > 1)
        role += " and " + std::to_string(entry.u16OtherPrograms) + " more programs";
    return role;
}

// PIDs a table names are listed even without a packet: a stream that never came shows.
bool Listed(const TS_CheckPID &entry)
{
    if (entry.u64Packets != 0)
        return true;
    return entry.u8Role >= TS_ROLE_PMT && entry.u8Role <= TS_ROLE_NIT;
}

std::string StreamTypeName(u8 stream_type)
{
    char name[256];
    TS_Header_StreamTypeToString(name, stream_type);
    return name;
}

// ---------------------------------------------------------------------------------------------
// The checks
// ---------------------------------------------------------------------------------------------

struct CheckInfo {
    const char *title;  // in the text
    const char *json;   // key of the JSON object
    const char *what;   // what is counted
    bool timed;         // needs the PCR for its intervals
};

constexpr CheckInfo kChecks[TS_CHECK_COUNT] = {
    {"Sync loss", "sync_loss", "the packet spacing was lost and hunted for", false},
    {"Sync byte error", "sync_byte_error", "a packet due without its sync byte 0x47", false},
    {"PAT error", "pat_error", "no PAT for 0.5 s, or PID 0x0000 scrambled or not a PAT", true},
    {"Continuity count error", "cc_error", "a packet lost, repeated twice or out of order", false},
    {"PMT error", "pmt_error", "no PMT of a program for 0.5 s, or a PMT scrambled", true},
    {"PID error", "pid_error", "a PCR, video or audio PID of a PMT silent for 5 s", true},
    {"Transport error", "transport_error", "a packet marked as damaged on the way", false},
    {"CRC error", "crc_error", "a table section whose CRC_32 failed", false},
};

bool HasErrors(const TS_CheckReport &report)
{
    for (const TS_CheckCount &count : report.ltCheck)
        if (count.u64Count != 0)
            return true;
    return false;
}

// ---------------------------------------------------------------------------------------------
// Text
// ---------------------------------------------------------------------------------------------

// Columns padded to their widest cell, two spaces apart; numbers right-aligned.
class Table {
public:
    explicit Table(std::vector<bool> right) : m_right(std::move(right)) {}
    void Add(std::vector<std::string> row) { m_rows.push_back(std::move(row)); }
    std::vector<std::string> Lines(const char *indent) const
    {
        std::vector<size_t> widths(m_right.size(), 0);
        for (const auto &row : m_rows)
            for (size_t i = 0; i < row.size() && i < widths.size(); ++i)
                widths[i] = std::max(widths[i], front_end::DisplayWidth(row[i]));
        std::vector<std::string> lines;
        for (const auto &row : m_rows) {
            std::string line = indent;
            for (size_t i = 0; i < row.size() && i < widths.size(); ++i) {
                const std::string pad(widths[i] - front_end::DisplayWidth(row[i]), ' ');
                const bool last = i + 1 == row.size();
                line += m_right[i] ? pad + row[i] : (last ? row[i] : row[i] + pad);
                if (!last)
                    line += "  ";
            }
            lines.push_back(line);
        }
        return lines;
    }

private:
    std::vector<bool> m_right;
    std::vector<std::vector<std::string>> m_rows;
};

std::string Seconds(u64 ticks) { return Format("%.3f s", double(ticks) / 27e6); }

std::string ClockTime(u64 ticks)
{
    const u64 milliseconds = (ticks + 13500) / 27000;
    return Format("%02llu:%02llu:%02llu.%03llu", (unsigned long long)(milliseconds / 3600000),
                  (unsigned long long)(milliseconds / 60000 % 60), (unsigned long long)(milliseconds / 1000 % 60),
                  (unsigned long long)(milliseconds % 1000));
}

std::string BitRate(u64 bits_per_second)
{
    if (bits_per_second >= 1000000)
        return Format("%.3f Mbit/s", double(bits_per_second) / 1e6);
    return Format("%.3f kbit/s", double(bits_per_second) / 1e3);
}

// A name of the SDT or NIT as UTF-8, decoded in the recording's text family.
std::string NameText(const u8 *bytes, u8 count, int family)
{
    char text[4 * TS_MAX_NAME_BYTES + 1];
    if (TS_Text_ToUTF8(text, int(sizeof text), bytes, count, family) < 0)
        return "";
    return text;
}

// The same for a line of text: control characters (line breaks) as spaces, and a name that is
// empty shown as such.
std::string NameCell(const u8 *bytes, u8 count, int family)
{
    std::string text = NameText(bytes, count, family);
    for (char &c : text)
        if ((unsigned char)c < 0x20 || c == 0x7F)
            c = ' ';
    return text.empty() ? "(empty)" : text;
}

std::string ServiceTypeText(u8 service_type, int family)
{
    char name[256];
    TS_ServiceTypeToString(name, service_type, family);
    return Format("0x%02X ", service_type) + name;
}

std::string UnitText(u32 unit)
{
    switch (unit) {
    case 188:
        return "188 bytes (plain packets)";
    case 192:
        return "192 bytes (a 4-byte timestamp before each packet)";
    case 204:
        return "204 bytes (16 bytes of parity after each packet)";
    default:
        return "none: no packet found";
    }
}

void PrintText(const char *name, const TS_CheckReport &report, Abbreviations *used)
{
    // The names of the services and the network are the broadcasters' words, not the report's:
    // their capitals are no abbreviations for the key.
    std::vector<std::string> names;
    auto line = [&](const std::string &text) {
        std::string words = text;
        for (const std::string &name : names)
            for (size_t at = words.find(name); !name.empty() && at != std::string::npos; at = words.find(name, at))
                words.replace(at, name.size(), std::string(name.size(), ' '));
        used->Note(words);
        puts(text.c_str());
    };
    auto table = [&](const Table &table) {
        for (const std::string &text : table.Lines("  "))
            line(text);
    };
    line(std::string("File ") + name);
    Table facts({false, false});
    facts.Add({"Bytes", std::to_string(report.u64Bytes)});
    facts.Add({"Unit size", UnitText(report.u32UnitSize)});
    facts.Add({"Packets", std::to_string(report.u64Packets)});
    facts.Add({"Skipped", std::to_string(report.u64SkippedBytes) + " bytes while hunting for sync"});
    facts.Add({"Sync lost", std::to_string(report.u64SyncLosses) + (report.u64SyncLosses == 1 ? " time" : " times")});
    if (report.u8Timed) {
        std::string source = report.u16ClockProgram != 0
                                 ? "from the PCRs of program " + std::to_string(report.u16ClockProgram) + " on PID " +
                                       Hex(report.u16ClockPID)
                                 : "from the PCRs on PID " + Hex(report.u16ClockPID);
        if (report.u64ClockJumps != 0)
            source += Format(", %llu jump%s of the clock left out", (unsigned long long)report.u64ClockJumps,
                             report.u64ClockJumps == 1 ? "" : "s");
        facts.Add({"Duration", ClockTime(report.u64Duration) + " (" + Seconds(report.u64Duration) + "), " + source});
        facts.Add({"Bitrate", BitRate(report.u64BitRate) + " mean (" + std::to_string(report.u64BitRate) + " bit/s)"});
    } else {
        const char *why = report.u8IntervalsTimed ? "unknown: no PID carried two PCRs" : "unknown: no PCR";
        facts.Add({"Duration", why});
        facts.Add({"Bitrate", why});
    }
    const int family = report.s32TextFamily;
    if (report.u8HasNetworkName) {
        names.push_back(NameCell(report.lu8NetworkName, report.u8NetworkNameCount, family));
        facts.Add({"Network", names.back() + " (network_id " + std::to_string(report.u16NetworkID) + ")"});
    } else
        facts.Add({"Network", "unknown: no NIT with a network name"});
    table(facts);

    puts("");
    if (report.u16ProgramCount == 0) {
        line("Programs: none (no PAT, or a PAT without programs)");
    } else {
        line("Programs of the last PAT");
        Table programs({true, false, false, false, false, false, false});
        programs.Add({"Program", "PMT PID", "PCR PID", "ECM PID", "Scrambled", "Stream PID", "Stream type"});
        for (u16 i = 0; i < report.u16ProgramCount; ++i) {
            const TS_CheckProgram &program = report.ltProgram[i];
            std::vector<std::string> row = {std::to_string(program.u16ProgramNumber), Hex(program.u16PMTPID)};
            if (!program.u8HasPMT) {
                row.insert(row.end(), {"-", "-", program.u8Scrambled ? "yes" : "no", "-", "no PMT received"});
                programs.Add(row);
                continue;
            }
            row.push_back(program.u16PCRPID == 0x1FFF ? "none" : Hex(program.u16PCRPID));
            row.push_back(program.u16ECMPID == TS_NO_PID ? "none" : Hex(program.u16ECMPID));
            row.push_back(program.u8Scrambled ? "yes" : "no");
            if (program.u16StreamCount == 0) {
                row.insert(row.end(), {"-", "no streams"});
                programs.Add(row);
            }
            for (u16 s = 0; s < program.u16StreamCount; ++s) {
                const TS_CheckStream &stream = program.ltStream[s];
                if (s > 0)
                    row = {"", "", "", "", ""};
                row.push_back(Hex(stream.u16PID));
                row.push_back(Format("0x%02X ", stream.u8StreamType) + StreamTypeName(stream.u8StreamType));
                programs.Add(row);
            }
        }
        table(programs);

        puts("");
        const std::string coding = family == TS_TEXT_ARIB ? "ARIB" : "DVB";
        if (!report.u8HasSDT) {
            line("Services: unknown (no SDT of transport stream " + std::to_string(report.u16TransportStreamID) + ")");
        } else {
            line("Services of the SDT (transport stream " + std::to_string(report.u16TransportStreamID) + ", " +
                 coding + " text)");
            Table services({true, false, false, false});
            services.Add({"Program", "Service", "Provider", "Service type"});
            for (u16 i = 0; i < report.u16ProgramCount; ++i) {
                const TS_CheckProgram &program = report.ltProgram[i];
                const TS_SDTService &service = program.tService;
                const std::string number = std::to_string(program.u16ProgramNumber);
                if (!program.u8HasService)
                    services.Add({number, "-", "-", "not in the SDT"});
                else if (!service.u8HasServiceDescriptor)
                    services.Add({number, "-", "-", "no service descriptor"});
                else
                    services.Add({number, NameCell(service.lu8ServiceName, service.u8ServiceNameCount, family),
                                  NameCell(service.lu8ProviderName, service.u8ProviderNameCount, family),
                                  ServiceTypeText(service.service_type, family)});
                if (program.u8HasService && service.u8HasServiceDescriptor) {
                    names.push_back(NameCell(service.lu8ServiceName, service.u8ServiceNameCount, family));
                    names.push_back(NameCell(service.lu8ProviderName, service.u8ProviderNameCount, family));
                }
            }
            table(services);
        }
    }

    puts("");
    line("PIDs (drop: continuity breaks; error: packets marked damaged)");
    Table pids({false, true, true, true, true, true, true, false});
    pids.Add({"PID", "Packets", "Drop", "Error", "Scrambled", "PCR", "CRC fail", "Role"});
    for (u32 pid = 0; pid < 8192; ++pid) {
        const TS_CheckPID &entry = report.ltPID[pid];
        if (!Listed(entry))
            continue;
        const std::string role = RoleText(u16(pid), entry);
        pids.Add({Hex(u16(pid)), std::to_string(entry.u64Packets), std::to_string(entry.u64ContinuityErrors),
                  std::to_string(entry.u64TransportErrors), std::to_string(entry.u64Scrambled),
                  std::to_string(entry.u64PCRs), std::to_string(entry.u64CRCErrors), role});
    }
    table(pids);

    puts("");
    line("First-priority checks");
    Table checks({false, true, true, false});
    checks.Add({"Check", "Count", "First at packet", "What it counts"});
    for (int i = 0; i < TS_CHECK_COUNT; ++i) {
        const TS_CheckCount &count = report.ltCheck[i];
        const std::string what =
            std::string(kChecks[i].what) + (kChecks[i].timed && !report.u8IntervalsTimed ? " *" : "");
        checks.Add({kChecks[i].title, std::to_string(count.u64Count),
                    count.u64Count != 0 ? std::to_string(count.u64FirstPacket) : "-", what});
    }
    table(checks);
    if (!report.u8IntervalsTimed)
        line("  * not timed: without a PCR no interval is measured, only the rest is counted");
    line(HasErrors(report) ? "Result: errors found" : "Result: no errors found");
}

void PrintKey(const Abbreviations &used)
{
    puts("Key");
    Table key({false, false});
    for (const KeyEntry &entry : kKey)
        if (used.Has(entry.abbreviation))
            key.Add({entry.abbreviation, entry.meaning});
    for (const std::string &text : key.Lines("  "))
        puts(text.c_str());
}

// ---------------------------------------------------------------------------------------------
// JSON
// ---------------------------------------------------------------------------------------------

using Json = nlohmann::ordered_json;

Json MakeJson(const char *name, const TS_CheckReport &report)
{
    Json json;
    json["file"] = name;
    json["bytes"] = report.u64Bytes;
    json["unit_size"] = report.u32UnitSize != 0 ? Json(report.u32UnitSize) : Json(nullptr);
    json["packets"] = report.u64Packets;
    json["skipped_bytes"] = report.u64SkippedBytes;
    json["sync_losses"] = report.u64SyncLosses;
    if (report.u8Timed) {
        json["duration_s"] = std::round(double(report.u64Duration) / 27.0) / 1e6;
        json["bitrate_bps"] = report.u64BitRate;
    } else {
        json["duration_s"] = nullptr;
        json["bitrate_bps"] = nullptr;
    }
    const int family = report.s32TextFamily;
    json["network_name"] = report.u8HasNetworkName
                               ? Json(NameText(report.lu8NetworkName, report.u8NetworkNameCount, family))
                               : Json(nullptr);
    Json programs = Json::array();
    for (u16 i = 0; i < report.u16ProgramCount; ++i) {
        const TS_CheckProgram &program = report.ltProgram[i];
        Json streams = Json::array();
        for (u16 s = 0; s < program.u16StreamCount; ++s)
            streams.push_back({{"pid", program.ltStream[s].u16PID}, {"stream_type", program.ltStream[s].u8StreamType}});
        const TS_SDTService &service = program.tService;
        const bool named = program.u8HasService && service.u8HasServiceDescriptor;
        programs.push_back({
            {"program_number", program.u16ProgramNumber},
            {"pmt_pid", program.u16PMTPID},
            {"pcr_pid", program.u8HasPMT ? Json(program.u16PCRPID) : Json(nullptr)},
            {"ecm_pid", program.u16ECMPID != TS_NO_PID ? Json(program.u16ECMPID) : Json(nullptr)},
            {"scrambled", program.u8Scrambled != 0},
            {"streams", streams},
            {"service_name",
             named ? Json(NameText(service.lu8ServiceName, service.u8ServiceNameCount, family)) : Json(nullptr)},
            {"provider_name",
             named ? Json(NameText(service.lu8ProviderName, service.u8ProviderNameCount, family)) : Json(nullptr)},
            {"service_type", named ? Json(service.service_type) : Json(nullptr)},
        });
    }
    json["programs"] = programs;
    Json pids = Json::array();
    for (u32 pid = 0; pid < 8192; ++pid) {
        const TS_CheckPID &entry = report.ltPID[pid];
        if (!Listed(entry))
            continue;
        pids.push_back({
            {"pid", pid},
            {"packets", entry.u64Packets},
            {"cc_errors", entry.u64ContinuityErrors},
            {"tei", entry.u64TransportErrors},
            {"scrambled", entry.u64Scrambled},
            {"pcr", entry.u64PCRs},
            {"crc_errors", entry.u64CRCErrors},
            {"role", RoleText(u16(pid), entry)},
        });
    }
    json["pids"] = pids;
    Json checks = Json::object();
    for (int i = 0; i < TS_CHECK_COUNT; ++i)
        checks[kChecks[i].json] = report.ltCheck[i].u64Count;
    json["checks"] = checks;
    json["ok"] = !HasErrors(report);
    return json;
}

// ---------------------------------------------------------------------------------------------
// The picture
// ---------------------------------------------------------------------------------------------

// What the check met over time, collected from its events.
struct Timeline {
    struct Mark {
        u16 pid;
        u64 packet;
        u64 time;
    };
    struct Stretch {
        u16 pid;
        u64 start_packet, start_time, end_packet, end_time;
    };
    struct Second {
        u64 time;
        std::vector<std::pair<u16, u64>> programs;
    };
    // Marks drawn of each kind at most; the count of the others is written under the picture.
    static constexpr size_t kMaxMarks = 50000;

    std::vector<Mark> continuity, transport;
    u64 continuity_total = 0, transport_total = 0;
    std::vector<Stretch> scrambled;
    std::map<u16, size_t> open;  // PID -> its stretch in progress
    std::vector<Second> seconds;
};

void OnCheckEvent(const TS_CheckEvent *event, void *context)
{
    Timeline &timeline = *static_cast<Timeline *>(context);
    const Timeline::Mark mark = {event->u16PID, event->u64Packet, event->u64Time};
    switch (event->u8Kind) {
    case TS_CHECK_EVENT_CONTINUITY:
        if (timeline.continuity_total++ < Timeline::kMaxMarks)
            timeline.continuity.push_back(mark);
        break;
    case TS_CHECK_EVENT_TRANSPORT:
        if (timeline.transport_total++ < Timeline::kMaxMarks)
            timeline.transport.push_back(mark);
        break;
    case TS_CHECK_EVENT_SCRAMBLED:
        if (timeline.scrambled.size() < Timeline::kMaxMarks) {
            timeline.open[event->u16PID] = timeline.scrambled.size();
            timeline.scrambled.push_back(
                {event->u16PID, event->u64Packet, event->u64Time, event->u64Packet, event->u64Time});
        }
        break;
    case TS_CHECK_EVENT_CLEAR: {
        const auto open = timeline.open.find(event->u16PID);
        if (open != timeline.open.end()) {
            timeline.scrambled[open->second].end_packet = event->u64Packet;
            timeline.scrambled[open->second].end_time = event->u64Time;
            timeline.open.erase(open);
        }
        break;
    }
    case TS_CHECK_EVENT_SECOND: {
        Timeline::Second second = {event->u64Time, {}};
        for (u16 i = 0; i < event->u16ProgramCount; ++i)
            second.programs.emplace_back(event->lu16ProgramNumber[i], event->lu64ProgramPackets[i]);
        timeline.seconds.push_back(std::move(second));
        break;
    }
    default:
        break;
    }
}

// Text for XML: the five special characters escaped, bytes that are not UTF-8 replaced.
std::string XmlText(const std::string &text)
{
    std::string out;
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = (unsigned char)text[i];
        size_t length = c < 0x80 ? 1 : (c >> 5) == 0x06 ? 2 : (c >> 4) == 0x0E ? 3 : (c >> 3) == 0x1E ? 4 : 0;
        bool valid = length != 0 && i + length <= text.size();
        for (size_t k = 1; valid && k < length; ++k)
            valid = ((unsigned char)text[i + k] >> 6) == 0x02;
        if (!valid || (c < 0x20 && c != '\t')) {
            out += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&apos;";
            break;
        default:
            out.append(text, i, length);
        }
        i += length;
    }
    return out;
}

// A row of the picture: a program's band or one PID's row.
struct Row {
    u16 pid;
    std::string label;
    double top;
};

class Picture {
public:
    Picture(const char *name, const TS_CheckReport &report, const Timeline &timeline)
        : m_name(name), m_report(report), m_timeline(timeline)
    {
        // Time across from the PCR; without one, packets across.
        m_timed = report.u8IntervalsTimed && !timeline.seconds.empty() && timeline.seconds.back().time > 0;
        m_span = m_timed ? double(timeline.seconds.back().time) : double(std::max<u64>(report.u64Packets, 1));
    }

    std::string Draw()
    {
        Layout();
        IndexRows();
        DrawMarks();
        std::string svg;
        svg += Format("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" viewBox=\"0 0 %d %d\" "
                      "font-family=\"sans-serif\" font-size=\"12\">\n",
                      kWidth, int(m_height), kWidth, int(m_height));
        svg += "<style>\n"
               "  .cc-error { stroke: #d62728; stroke-width: 1.5; }\n"
               "  .transport-error { fill: #7b2cbf; }\n"
               "  .scrambled { fill: #8c8c8c; fill-opacity: 0.55; }\n"
               "  .bitrate { fill: #9ecae1; stroke: #3182bd; stroke-width: 1; }\n"
               "  .row { fill: #f4f4f4; }\n"
               "  .axis { stroke: #999; stroke-width: 1; }\n"
               "  .label { fill: #222; }\n"
               "  .note { fill: #555; font-size: 11px; }\n"
               "</style>\n";
        svg += "<rect width=\"100%\" height=\"100%\" fill=\"#fff\"/>\n";
        svg += Format("<text x=\"10\" y=\"22\" font-size=\"16\" class=\"label\">%s</text>\n", XmlText(m_name).c_str());
        svg += Format("<text x=\"10\" y=\"40\" class=\"note\">%s</text>\n", XmlText(Summary()).c_str());
        svg += Legend();
        svg += Axis();
        for (const Band &band : m_bands)
            svg += DrawBand(band);
        if (!m_others.empty()) {
            svg += Format("<g class=\"other-pids\">\n<text x=\"10\" y=\"%.1f\" class=\"label\" font-weight=\"bold\">"
                          "PIDs of no program</text>\n",
                          m_others.front().top - 6);
            for (const Row &row : m_others)
                svg += DrawRow(row);
            svg += "</g>\n";
        }
        svg += Footnote();
        svg += "</svg>\n";
        return svg;
    }

private:
    static constexpr int kWidth = 1200;
    static constexpr double kLeft = 190;  // where the plot starts: labels to its left
    static constexpr double kRight = 1180;
    static constexpr double kBandHeight = 56;
    static constexpr double kRowHeight = 14;
    static constexpr size_t kMaxOtherRows = 200;

    struct Band {
        u16 program;
        double top;
        std::vector<Row> rows;
    };

    double X(u64 time, u64 packet) const
    {
        const double value = m_timed ? double(time) : double(packet);
        return kLeft + (kRight - kLeft) * std::min(1.0, value / m_span);
    }

    std::string Summary() const
    {
        std::string text = std::to_string(m_report.u64Packets) + " packets";
        if (m_report.u8Timed)
            text += ", " + ClockTime(m_report.u64Duration) + ", " + BitRate(m_report.u64BitRate) + " mean";
        if (!m_timed)
            text += "; no PCR: packets across instead of time";
        return text;
    }

    // One band per program of the last PAT, then a row per PID of no program that has a mark.
    void Layout()
    {
        std::set<u16> placed;
        double y = 110;
        for (u16 i = 0; i < m_report.u16ProgramCount; ++i) {
            const TS_CheckProgram &program = m_report.ltProgram[i];
            Band band = {program.u16ProgramNumber, y, {}};
            y += kBandHeight + 6;
            auto add = [&](u16 pid, const std::string &what) {
                if (pid >= 0x1FFF)
                    return;
                for (const Row &row : band.rows)
                    if (row.pid == pid)
                        return;
                band.rows.push_back({pid, Hex(pid) + " " + what, y});
                placed.insert(pid);
                y += kRowHeight + 2;
            };
            add(program.u16PMTPID, "PMT");
            if (program.u8HasPMT) {
                for (u16 s = 0; s < program.u16StreamCount; ++s) {
                    const u16 pid = program.ltStream[s].u16PID;
                    const std::string role = RoleText(pid, m_report.ltPID[pid]);
                    add(pid, role.substr(0, role.find(" of ")));
                }
                add(program.u16PCRPID, "PCR");
                if (program.u16ECMPID != TS_NO_PID)
                    add(program.u16ECMPID, "ECM");
            }
            m_bands.push_back(std::move(band));
            y += 14;
        }
        std::set<u16> marked;
        for (const auto &mark : m_timeline.continuity)
            marked.insert(mark.pid);
        for (const auto &mark : m_timeline.transport)
            marked.insert(mark.pid);
        for (const auto &stretch : m_timeline.scrambled)
            marked.insert(stretch.pid);
        y += 16;
        for (u16 pid : marked) {
            if (placed.count(pid) != 0)
                continue;
            if (m_others.size() == kMaxOtherRows) {
                m_others.push_back({0xFFFF, "further PIDs", y});
                y += kRowHeight + 2;
                break;
            }
            m_others.push_back({pid, Hex(pid) + " " + RoleText(pid, m_report.ltPID[pid]), y});
            y += kRowHeight + 2;
        }
        m_height = y + 40;
    }

    // Each PID's row; marks of a PID without one go to the row of further PIDs, if any.
    void IndexRows()
    {
        for (const Band &band : m_bands)
            for (const Row &row : band.rows)
                m_rowOf.emplace(row.pid, &row);
        for (const Row &row : m_others) {
            if (row.pid == 0xFFFF)
                m_further = &row;
            else
                m_rowOf.emplace(row.pid, &row);
        }
    }

    const Row *RowOf(u16 pid) const
    {
        const auto found = m_rowOf.find(pid);
        return found != m_rowOf.end() ? found->second : m_further;
    }

    // The marks of every row, drawn once each.
    void DrawMarks()
    {
        for (const auto &stretch : m_timeline.scrambled) {
            const Row *row = RowOf(stretch.pid);
            if (row == nullptr)
                continue;
            const double x1 = X(stretch.start_time, stretch.start_packet);
            const double x2 = std::max(X(stretch.end_time, stretch.end_packet), x1 + 1);
            m_marks[row] += Format("<rect class=\"scrambled\" data-pid=\"%u\" x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" "
                                   "height=\"%.1f\"/>\n",
                                   unsigned(stretch.pid), x1, row->top, x2 - x1, kRowHeight);
        }
        for (const auto &mark : m_timeline.continuity) {
            const Row *row = RowOf(mark.pid);
            if (row == nullptr)
                continue;
            const double x = X(mark.time, mark.packet);
            m_marks[row] += Format("<line class=\"cc-error\" data-pid=\"%u\" x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" "
                                   "y2=\"%.1f\"/>\n",
                                   unsigned(mark.pid), x, row->top, x, row->top + kRowHeight);
        }
        for (const auto &mark : m_timeline.transport) {
            const Row *row = RowOf(mark.pid);
            if (row == nullptr)
                continue;
            const double x = X(mark.time, mark.packet);
            m_marks[row] +=
                Format("<path class=\"transport-error\" data-pid=\"%u\" d=\"M %.1f %.1f l 4 10 l -8 0 z\"/>\n",
                       unsigned(mark.pid), x, row->top + 2);
        }
    }

    std::string Legend() const
    {
        std::string svg = "<g class=\"legend\" transform=\"translate(620,14)\">\n";
        svg += "<rect x=\"0\" y=\"0\" width=\"18\" height=\"10\" fill=\"#9ecae1\" stroke=\"#3182bd\"/>"
               "<text x=\"24\" y=\"10\">bitrate per second</text>\n";
        svg += "<line x1=\"150\" y1=\"0\" x2=\"150\" y2=\"12\" stroke=\"#d62728\" stroke-width=\"1.5\"/>"
               "<text x=\"158\" y=\"10\">continuity break (drop)</text>\n";
        svg += "<path d=\"M 310 0 l 4 10 l -8 0 z\" fill=\"#7b2cbf\"/>"
               "<text x=\"320\" y=\"10\">transport error</text>\n";
        svg += "<rect x=\"430\" y=\"1\" width=\"18\" height=\"10\" fill=\"#8c8c8c\" fill-opacity=\"0.55\"/>"
               "<text x=\"454\" y=\"10\">scrambled</text>\n";
        svg += "</g>\n";
        return svg;
    }

    // Ticks at a round step that gives about eight of them.
    std::string Axis() const
    {
        std::string svg = "<g class=\"time-axis\">\n";
        const double top = 80;
        svg +=
            Format("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" class=\"axis\"/>\n", kLeft, top, kRight, top);
        const double units = m_timed ? m_span / 27e6 : m_span;
        // 1, 2 or 5 times a power of ten: the smallest that gives at most eight steps.
        double step = 1;
        for (double scale = 1; units / step > 8 && scale < 1e15; scale *= 10)
            for (const double candidate : {1.0, 2.0, 5.0})
                if (units / step > 8)
                    step = candidate * scale;
        for (double value = 0; value <= units + 1e-9; value += step) {
            const double x = kLeft + (kRight - kLeft) * (units > 0 ? value / units : 0);
            const std::string label = m_timed ? ClockTime(u64(value * 27e6)).substr(0, 8) : Format("%.0f", value);
            svg += Format("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" class=\"axis\"/>"
                          "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\" class=\"note\">%s</text>\n",
                          x, top, x, top + 5, x, top - 4, label.c_str());
        }
        svg += Format("<text x=\"10\" y=\"%.1f\" class=\"note\">%s</text>\n", top + 4,
                      m_timed ? "time from the PCR" : "packet number");
        svg += "</g>\n";
        return svg;
    }

    // The program's packets per second over the clock, as a stepped area.
    std::string BitratePath(const Band &band, double *peak_out) const
    {
        struct Step {
            u64 from, to, packets;
        };
        std::vector<Step> steps;
        u64 previous = 0;
        for (const Timeline::Second &second : m_timeline.seconds) {
            u64 packets = 0;
            for (const auto &[program, count] : second.programs)
                if (program == band.program)
                    packets += count;
            if (second.time > previous)
                steps.push_back({previous, second.time, packets});
            else if (!steps.empty())
                steps.back().packets += packets;
            previous = std::max(previous, second.time);
        }
        // At most one step per pixel: neighbours are merged.
        const size_t group = steps.size() / size_t(kRight - kLeft) + 1;
        std::vector<Step> merged;
        for (size_t i = 0; i < steps.size(); i += group) {
            Step step = {steps[i].from, steps[i].to, 0};
            for (size_t k = i; k < steps.size() && k < i + group; ++k) {
                step.to = steps[k].to;
                step.packets += steps[k].packets;
            }
            merged.push_back(step);
        }
        double peak = 0;
        for (const Step &step : merged)
            peak = std::max(peak, double(step.packets) * 188 * 8 * 27e6 / double(step.to - step.from));
        *peak_out = peak;
        if (merged.empty() || peak <= 0)
            return "";
        const double base = band.top + kBandHeight;
        std::string d = Format("M %.1f %.1f", X(merged.front().from, 0), base);
        for (const Step &step : merged) {
            const double rate = double(step.packets) * 188 * 8 * 27e6 / double(step.to - step.from);
            const double y = base - (kBandHeight - 4) * rate / peak;
            d += Format(" L %.1f %.1f L %.1f %.1f", X(step.from, 0), y, X(step.to, 0), y);
        }
        d += Format(" L %.1f %.1f Z", X(merged.back().to, 0), base);
        return "<path class=\"bitrate\" d=\"" + d + "\"/>\n";
    }

    std::string DrawBand(const Band &band) const
    {
        std::string svg = Format("<g class=\"program\" data-program=\"%u\">\n", unsigned(band.program));
        svg += Format("<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" class=\"row\"/>\n", kLeft, band.top,
                      kRight - kLeft, kBandHeight);
        double peak = 0;
        const std::string path = m_timed ? BitratePath(band, &peak) : "";
        svg += path;
        svg += Format("<text x=\"10\" y=\"%.1f\" class=\"label\" font-weight=\"bold\">Program %u</text>\n",
                      band.top + 16, unsigned(band.program));
        const std::string scale = !m_timed       ? "bitrate unknown: no PCR"
                                  : path.empty() ? "no packets"
                                                 : "peak " + BitRate(u64(peak));
        svg += Format("<text x=\"10\" y=\"%.1f\" class=\"note\">%s</text>\n", band.top + 32, XmlText(scale).c_str());
        for (const Row &row : band.rows)
            svg += DrawRow(row);
        svg += "</g>\n";
        return svg;
    }

    std::string DrawRow(const Row &row) const
    {
        std::string svg = Format("<g class=\"pid\" data-pid=\"%u\">\n", unsigned(row.pid));
        svg += Format("<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" class=\"row\"/>"
                      "<text x=\"20\" y=\"%.1f\" class=\"label\">%s</text>\n",
                      kLeft, row.top, kRight - kLeft, kRowHeight, row.top + 11, XmlText(row.label).c_str());
        const auto marks = m_marks.find(&row);
        if (marks != m_marks.end())
            svg += marks->second;
        svg += "</g>\n";
        return svg;
    }

    std::string Footnote() const
    {
        std::string text;
        if (m_timeline.continuity_total > m_timeline.continuity.size())
            text += Format("%zu of %llu continuity breaks drawn. ", m_timeline.continuity.size(),
                           (unsigned long long)m_timeline.continuity_total);
        if (m_timeline.transport_total > m_timeline.transport.size())
            text += Format("%zu of %llu transport errors drawn. ", m_timeline.transport.size(),
                           (unsigned long long)m_timeline.transport_total);
        if (text.empty())
            return "";
        return Format("<text x=\"10\" y=\"%.1f\" class=\"note\">%s</text>\n", m_height - 14, text.c_str());
    }

    std::string m_name;
    const TS_CheckReport &m_report;
    const Timeline &m_timeline;
    bool m_timed = false;
    double m_span = 1;
    double m_height = 0;
    std::vector<Band> m_bands;
    std::vector<Row> m_others;
    std::map<u16, const Row *> m_rowOf;
    const Row *m_further = nullptr;
    std::map<const Row *, std::string> m_marks;
};

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

// ---------------------------------------------------------------------------------------------
// main
// ---------------------------------------------------------------------------------------------

struct Options {
    bool json = false;
    bool quiet = false;
    const char *svg = nullptr;
    std::vector<const char *> files;
};

// Checks one file and prints its report; returns its exit status.
int CheckOne(const char *argument, const Options &options, Abbreviations *used)
{
    static TS_CheckReport report;
    const char *path = front_end::InputPath(argument);
    Timeline timeline;
    if (options.svg != nullptr)
        TS_SetCheckHook(OnCheckEvent, &timeline);
    front_end::Progress progress(true);
    const int result = TS_CheckFile(&report, path);
    progress.Finish();
    TS_SetCheckHook(nullptr, nullptr);
    if (result == -2)
        return kExitUnreadable;  // the library's message hook has said why
    const bool errors = HasErrors(report);
    // A read error leaves a report of what came before it, worth showing when something came.
    if (result == 0 || report.u64Bytes > 0) {
        const std::string name = front_end::DisplayName(path);
        if (!options.quiet || errors) {
            if (options.json) {
                puts(MakeJson(name.c_str(), report).dump(-1, ' ', false, Json::error_handler_t::replace).c_str());
            } else {
                PrintText(name.c_str(), report, used);
                puts("");
            }
        }
        if (options.svg != nullptr && !WriteWhole(options.svg, Picture(name.c_str(), report, timeline).Draw()))
            return kExitUnreadable;
    }
    if (result != 0)
        return kExitUnreadable;
    return errors ? kExitErrorsFound : front_end::kExitSuccess;
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
        } else if (std::strcmp(arg, "--charset") == 0 || std::strncmp(arg, "--charset=", 10) == 0) {
            const char *value = front_end::OptionValue(argc, argv, &i, 9);
            int family = TS_TEXT_AUTO;
            if (value == nullptr)
                return UsageError("--charset needs auto, dvb or arib");
            if (!front_end::ParseTextFamily(value, &family))
                return UsageError(std::string("invalid --charset '") + value + "': auto, dvb or arib");
            TS_SetTextFamily(family);
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

    front_end::ReportFailuresAs(kTool);
    int status = front_end::kExitSuccess;
    Abbreviations used;
    for (const char *file : options.files) {
        status = std::max(status, CheckOne(file, options, &used));
        // What has been printed goes out before the next file is read.
        fflush(stdout);
    }
    if (!options.json && !used.Empty())
        PrintKey(used);
    if (!front_end::FinishStandardOutput())
        status = std::max(status, kExitUnreadable);
    return status;
}
