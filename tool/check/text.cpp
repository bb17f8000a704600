// pidsift-check's text: the report of each file as a person reads it, in aligned tables, and the
// key of the abbreviations the reports used.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <optional>

#include "../display_width.h"
#include "renderers.h"

namespace check_tool {

namespace {

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

// Columns padded to their widest cell, two spaces apart; numbers right-aligned.
class Table {
public:
    explicit Table(std::vector<bool> right) : m_right(std::move(right)) {}
    void Add(std::vector<std::string> row) { m_rows.push_back(std::move(row)); }
    size_t Rows() const { return m_rows.size(); }
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

// A name of the SDT or NIT on a line of text: control characters (line breaks) as spaces, and a
// name that is empty shown as such.
std::string NameCell(std::string text)
{
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

// The programs whose PMT came, with their streams.
template <class TableFn, class LineFn>
void PrintPresentPrograms(const pidsift::CheckReport &report, TableFn &&table, LineFn &&line)
{
    line("Programs of the last PAT");
    Table programs({true, false, false, false, false, false, false, false, false, false, false});
    programs.Add({"Program", "PMT PID", "PCR PID", "ECM PID", "Scrambled", "Stream PID", "Type", "Codec", "Kind",
                  "Language", "Details"});
    for (const pidsift::CheckProgram &program : report.programs) {
        if (!program.has_pmt)
            continue;
        std::vector<std::string> row = {std::to_string(program.program_number), Hex(program.pmt_pid)};
        row.push_back(program.pcr_pid == 0x1FFF ? "none" : Hex(program.pcr_pid));
        row.push_back(program.ecm_pid == TS_NO_PID ? "none" : Hex(program.ecm_pid));
        row.push_back(program.scrambled ? "yes" : "no");
        if (program.streams.empty()) {
            row.insert(row.end(), {"-", "no streams"});
            programs.Add(row);
        }
        for (size_t s = 0; s < program.streams.size(); ++s) {
            const pidsift::CheckStream &stream = program.streams[s];
            if (s > 0)
                row = {"", "", "", "", ""};
            row.push_back(Hex(stream.pid));
            row.push_back(Format("0x%02X", stream.stream_type));
            const std::vector<std::string> identity = StreamCells(stream.identity);
            row.insert(row.end(), identity.begin(), identity.end());
            programs.Add(row);
        }
    }
    table(programs);
}

// The programs the PAT lists whose PMT never came: a recorder kept other services of the
// multiplex. Their PMT silences are PMT errors only in the strict reading.
template <class TableFn, class LineFn>
void PrintAbsentPrograms(const pidsift::CheckReport &report, bool strict, FILE *out, TableFn &&table,
                         LineFn &&line)
{
    Table absent({true, false});
    absent.Add({"Program", "PMT PID"});
    for (const pidsift::CheckProgram &program : report.programs)
        if (!program.has_pmt)
            absent.Add({std::to_string(program.program_number), Hex(program.pmt_pid)});
    if (absent.Rows() == 1)
        return;
    if (report.programs.size() + 1 != absent.Rows())
        fputc('\n', out);
    line("Programs listed by the PAT but absent from the recording (no PMT came)");
    table(absent);
    const unsigned long long missing = report.absent_pmt.count;
    if (missing != 0)
        line(Format(strict ? "  --strict: their missing PMTs count as %llu PMT error%s"
                           : "  Not errors: with --strict their missing PMTs would count as %llu PMT error%s",
                    missing, missing == 1 ? "" : "s"));
}

// "2019-06-12T20:59:35+09:00 to 2019-06-12T21:00:23+09:00 (local offset +00:00)": the clock of
// the first and the last TDT or TOT.
std::string BroadcastTimeText(const pidsift::CheckReport &report)
{
    const int family = report.text_family;
    std::string text = pidsift::FormatTime(report.broadcast_first, family);
    if (!(report.broadcast_last == report.broadcast_first))
        text += " to " + pidsift::FormatTime(report.broadcast_last, family);
    if (report.has_local_time_offset)
        text += " (local offset " + pidsift::FormatOffset(report.local_time_offset_minutes) + ")";
    return text;
}

// An event's start and end on the broadcast's clock: "2019-06-12T20:45:00+09:00 to 21:15:00",
// the end's date written when it is another day.
std::string EventTimeText(const pidsift::EitEvent &event, int family)
{
    if (!event.start_time.defined)
        return "start undefined";
    const std::string start = pidsift::FormatTime(event.start_time, family);
    if (!event.duration.defined)
        return start + " to ?";
    const std::string end = pidsift::FormatTime(event.start_time.seconds + event.duration.seconds, family);
    // Both "YYYY-MM-DDThh:mm:ss" and an offset: the same date leaves the time of day alone.
    return start + " to " + (end.compare(0, 11, start, 0, 11) == 0 ? end.substr(11, 8) : end);
}

std::string GenreText(const pidsift::EitEvent &event, int family)
{
    std::string text;
    for (const pidsift::ContentEntry &genre : pidsift::EventGenres(event)) {
        const char *level_1 = pidsift::ContentLevel1Name(genre.content_nibble_level_1, family);
        const char *level_2 =
            pidsift::ContentLevel2Name(genre.content_nibble_level_1, genre.content_nibble_level_2, family);
        if (!text.empty())
            text += ", ";
        text += level_1 != nullptr ? level_1 : Format("0x%X", genre.content_nibble_level_1);
        if (level_2 != nullptr)
            text += std::string(": ") + level_2;
    }
    return text.empty() ? "-" : text;
}

// What each program had on air: the present and following events of the first pair of its EIT,
// and of the last when they changed. The titles go to names: a broadcaster's words.
template <class TableFn, class LineFn>
void PrintProgramEvents(const pidsift::CheckReport &report, std::vector<std::string> *names, TableFn &&table,
                        LineFn &&line)
{
    const int family = report.text_family;
    line("What is on (the EIT present/following of each service: first, and last when it changed)");
    Table events({true, false, false, false, false});
    events.Add({"Program", "Event", "Title", "Start to end", "Genre"});
    auto add = [&](const std::string &number, const char *which, const std::optional<pidsift::EitEvent> &event) {
        if (!event) {
            events.Add({number, which, "-", "none announced", "-"});
            return;
        }
        const pidsift::ShortEventDescriptor *short_event = pidsift::FindShortEvent(*event);
        const std::string title =
            short_event != nullptr ? NameCell(pidsift::SiText(short_event->event_name, family)) : std::string("-");
        names->push_back(title);
        events.Add({number, which, title, EventTimeText(*event, family), GenreText(*event, family)});
    };
    for (const pidsift::CheckProgram &program : report.programs) {
        const std::string number = std::to_string(program.program_number);
        if (!program.has_events) {
            events.Add({number, "-", "-", "no EIT present/following", "-"});
            continue;
        }
        add(number, "present", program.present);
        add("", "following", program.following);
        if (program.has_events_at_end) {
            add("", "present at end", program.present_at_end);
            add("", "following at end", program.following_at_end);
        }
    }
    table(events);
}

// " (2019-06-12T21:00:05+09:00)": where a finding's first time stands on the broadcast's clock.
std::string FindingBroadcastText(const pidsift::CheckFinding &finding, int family)
{
    return finding.first_broadcast_timed ? " (" + pidsift::FormatTime(finding.first_broadcast_time, family) + ")" : "";
}

}  // namespace

void Abbreviations::Merge(const Abbreviations &other) { m_used.insert(other.m_used.begin(), other.m_used.end()); }

void Abbreviations::Note(const std::string &text)
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

void PrintText(const char *name, const pidsift::CheckReport &report, bool strict, Abbreviations *used, FILE *out)
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
        fprintf(out, "%s\n", text.c_str());
    };
    auto table = [&](const Table &table) {
        for (const std::string &text : table.Lines("  "))
            line(text);
    };
    line(std::string("File ") + name);
    Table facts({false, false});
    facts.Add({"Bytes", std::to_string(report.bytes)});
    facts.Add({"Unit size", UnitText(report.unit_size)});
    facts.Add({"Packets", std::to_string(report.packets)});
    facts.Add({"Skipped", std::to_string(report.skipped_bytes) + " bytes in no packet"});
    if (report.trailing_bytes != 0)
        facts.Add({"Cut short", std::to_string(report.trailing_bytes) + " bytes of a packet at the end"});
    facts.Add({"Sync lost", std::to_string(report.sync_losses) + (report.sync_losses == 1 ? " time" : " times")});
    if (report.timed) {
        std::string source = report.clock_program != 0
                                 ? "from the PCRs of program " + std::to_string(report.clock_program) + " on PID " +
                                       Hex(report.clock_pid)
                                 : "from the PCRs on PID " + Hex(report.clock_pid);
        if (report.clock_jumps != 0)
            source += Format(", %llu jump%s of the clock left out", (unsigned long long)report.clock_jumps,
                             report.clock_jumps == 1 ? "" : "s");
        facts.Add({"Duration", ClockTime(report.duration) + " (" + Seconds(report.duration) + "), " + source});
        facts.Add({"Bitrate", BitRate(report.bit_rate) + " mean (" + std::to_string(report.bit_rate) + " bit/s)"});
    } else {
        const char *why = report.intervals_timed ? "unknown: no PID carried two PCRs" : "unknown: no PCR";
        facts.Add({"Duration", why});
        facts.Add({"Bitrate", why});
    }
    const int family = report.text_family;
    if (report.has_network_name) {
        names.push_back(NameCell(report.network_name));
        facts.Add({"Network", names.back() + " (network_id " + std::to_string(report.network_id) + ")"});
    } else
        facts.Add({"Network", "unknown: no NIT with a network name"});
    // Only a recording that carries the clock has the line (nor is its absence an error).
    if (report.has_broadcast_time)
        facts.Add({"Broadcast time", BroadcastTimeText(report)});
    table(facts);
    if (report.packets == 0) {
        fputc('\n', out);
        line("Result: no transport stream packets found");
        return;
    }

    fputc('\n', out);
    const bool any_present = std::any_of(report.programs.begin(), report.programs.end(),
                                         [](const pidsift::CheckProgram &program) { return program.has_pmt; });
    if (report.programs.empty()) {
        line("Programs: none (no PAT, or a PAT without programs)");
    } else {
        if (any_present)
            PrintPresentPrograms(report, table, line);
        PrintAbsentPrograms(report, strict, out, table, line);

        fputc('\n', out);
        const std::string coding = family == TS_TEXT_ARIB ? "ARIB" : "DVB";
        if (!report.has_sdt) {
            line("Services: unknown (no SDT of transport stream " + std::to_string(report.transport_stream_id) + ")");
        } else {
            line("Services of the SDT (transport stream " + std::to_string(report.transport_stream_id) + ", " + coding +
                 " text)");
            Table services({true, false, false, false});
            services.Add({"Program", "Service", "Provider", "Service type"});
            for (const pidsift::CheckProgram &program : report.programs) {
                const pidsift::Service &service = program.service;
                const std::string number = std::to_string(program.program_number);
                if (!program.has_service)
                    services.Add({number, "-", "-", "not in the SDT"});
                else if (!service.has_service_descriptor)
                    services.Add({number, "-", "-", "no service descriptor"});
                else
                    services.Add({number, NameCell(service.name), NameCell(service.provider_name),
                                  ServiceTypeText(service.service_type, family)});
                if (program.has_service && service.has_service_descriptor) {
                    names.push_back(NameCell(service.name));
                    names.push_back(NameCell(service.provider_name));
                }
            }
            table(services);
        }
        // Only a recording that carries the guide has its events.
        if (std::any_of(report.programs.begin(), report.programs.end(),
                        [](const pidsift::CheckProgram &program) { return program.has_events; })) {
            fputc('\n', out);
            PrintProgramEvents(report, &names, table, line);
        }
    }

    fputc('\n', out);
    line("PIDs (drop: continuity breaks; error: packets marked damaged)");
    Table pids({false, true, true, true, true, true, true, false});
    pids.Add({"PID", "Packets", "Drop", "Error", "Scrambled", "PCR", "CRC fail", "Role"});
    for (const pidsift::CheckPid &entry : report.pids)
        pids.Add({Hex(entry.pid), std::to_string(entry.packets), std::to_string(entry.continuity_errors),
                  std::to_string(entry.transport_errors), std::to_string(entry.scrambled), std::to_string(entry.pcrs),
                  std::to_string(entry.crc_errors), pidsift::RoleText(entry)});
    table(pids);

    fputc('\n', out);
    line("First-priority checks");
    Table checks({false, true, true, false});
    checks.Add({"Check", "Count", "First at packet", "What it counts"});
    for (int i = 0; i < TS_CHECK_COUNT; ++i) {
        const pidsift::CheckFinding finding = report.Finding(i, strict);
        const std::string what =
            std::string(kChecks[i].what) + (kChecks[i].timed && !report.intervals_timed ? " *" : "");
        std::string first = "-";
        if (finding.count != 0)
            first = std::to_string(finding.first_packet) +
                    (finding.first_timed ? " at " + Seconds(finding.first_time) : "") +
                    FindingBroadcastText(finding, family);
        checks.Add({kChecks[i].title, std::to_string(finding.count), first, what});
    }
    table(checks);
    if (!report.intervals_timed)
        line("  * not timed: without a PCR no interval is measured, only the rest is counted");
    if (report.trailing_bytes != 0)
        line(Format("The recording ends inside a packet: its last %llu bytes are the start of one",
                    (unsigned long long)report.trailing_bytes));
    line(report.HasErrors(strict) ? "Result: errors found" : "Result: no errors found");
    for (const pidsift::CheckProgram &program : report.programs)
        if (program.scrambled)
            line(Format("Scrambled: program %u (%llu packets); it cannot be played without descrambling",
                        unsigned(program.program_number), (unsigned long long)program.scrambled_packets));
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

}  // namespace check_tool
