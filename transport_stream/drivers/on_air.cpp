// What a program had on air when its recording started, for the names of the files it is cut
// into: a first pass that reads up to the first complete present/following pair of its service,
// and the file name a template makes of it.
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <ctime>

#include <pidsift/demux.h>

#include "demux/demux_core.h"
#include "drivers/guide.h"

namespace pidsift {

namespace {

// After the pair, how far the pass reads on for the service's name in the SDT, which broadcasts
// repeat about every two seconds: some ten seconds of a broadcast of 16 Mbit/s.
constexpr u64 kServiceLookAhead = 24ull << 20;

// The first pass: the PAT names the program, the EIT its events, the SDT its service.
class OnAirPass {
public:
    OnAirPass(DemuxCore *core, u16 pmt_pid, u16 program_number, ProgramOnAir *out)
        : m_pCore(core), m_u16PMTPID(pmt_pid), m_u16Program(program_number), m_pOut(out)
    {
        // The PMTs vote on the text family too (ARIB's descriptors), as in the dump and the check.
        core->KeepPMTs();
        core->KeepServices(out->family);
        core->CollectSections(kEitPid);
        core->lOnPAT.push_back([this](const Pat &pat, const u8 *, bool) { OnPAT(pat); });
        core->lOnSectionTaken.push_back(
            [this](const Section &section, const u8 *packet) { OnSection(section, packet); });
    }
    bool OnTapped(const u8 *, u16) { return true; }
    bool OnProgramPacket(u32, const u8 *, u8) { return true; }
    // What the pass found, once it ended.
    void Finish()
    {
        m_pOut->family = m_pCore->TextFamily();
        NoteService();
    }

private:
    void OnPAT(const Pat &pat)
    {
        if (m_pOut->program_number != 0)
            return;
        for (const PatEntry &entry : pat.entries)
            if (entry.program_number != 0 && (m_u16PMTPID != TS_NO_PID ? (entry.pid & 0x1FFF) == m_u16PMTPID
                                                                       : entry.program_number == m_u16Program)) {
                m_pOut->program_number = entry.program_number;
                m_iTransportStream = pat.transport_stream_id();
                return;
            }
    }
    void OnSection(const Section &section, const u8 *packet)
    {
        if (m_pOut->program_number == 0)
            return;
        // The SDT and the EIT come every few seconds: one of them tells when to give up the
        // service's name.
        if (m_bPairFound) {
            if ((section.pid == 0x0011 && NoteService()) ||
                m_pCore->Offset(packet) - m_u64PairOffset > kServiceLookAhead)
                m_pCore->Stop();
            return;
        }
        if (section.pid != kEitPid)
            return;
        const ServiceEvents *completed = m_tGuide.Take(section, m_iTransportStream);
        if (completed == nullptr || completed->service_id != m_pOut->program_number)
            return;
        m_bPairFound = true;
        m_pOut->has_event = completed->first->present.has_value();
        if (m_pOut->has_event)
            m_pOut->event = *completed->first->present;
        m_u64PairOffset = m_pCore->Offset(packet);
        if (NoteService())
            m_pCore->Stop();
    }
    // True once the SDT named the service.
    bool NoteService()
    {
        if (m_pOut->has_service)
            return true;
        for (const Service &service : m_pCore->ServiceList())
            if (service.service_id == m_pOut->program_number && service.has_service_descriptor) {
                m_pOut->has_service = true;
                m_pOut->service = service.name;
                m_pOut->provider = service.provider_name;
                return true;
            }
        return false;
    }

    DemuxCore *m_pCore;
    u16 m_u16PMTPID;
    u16 m_u16Program;
    ProgramOnAir *m_pOut;
    int m_iTransportStream = -1;
    EventGuide m_tGuide;
    bool m_bPairFound = false;
    u64 m_u64PairOffset = 0;
};

// A character a file name cannot hold, or had better not: the folder separator, NUL and the
// control characters (an ARIB title's line break).
bool Unfit(unsigned char c) { return c == '/' || c < 0x20 || c == 0x7F; }

// The start on the broadcast's clock through strftime; "" without a start.
std::string FormatStart(const ProgramOnAir &on_air, const std::string &format)
{
    if (!on_air.has_event || !on_air.event.start_time.defined || format.empty())
        return "";
    const SiTime &start = on_air.event.start_time;
    std::tm tm = {};
    tm.tm_year = start.year - 1900;
    tm.tm_mon = start.month - 1;
    tm.tm_mday = start.day;
    tm.tm_hour = start.hour;
    tm.tm_min = start.minute;
    tm.tm_sec = start.second;
    // The weekday and the day of the year, from the days since 1970-01-01 (a Thursday).
    const std::int64_t days = start.seconds >= 0 ? start.seconds / 86400 : (start.seconds - 86399) / 86400;
    tm.tm_wday = int(((days + 4) % 7 + 7) % 7);
    tm.tm_yday = int(DateToMjd(start.year, start.month, start.day) - DateToMjd(start.year, 1, 1));
    tm.tm_gmtoff = long(ClockOffsetMinutes(on_air.family)) * 60;
    tm.tm_zone = on_air.family == TS_TEXT_ARIB ? "JST" : "UTC";
    std::string out(256, '\0');
    const size_t length = std::strftime(out.data(), out.size(), format.c_str(), &tm);
    out.resize(length);
    return out;
}

std::string FieldValue(const std::string &name, const std::string &format, const ProgramOnAir &on_air, bool *known)
{
    *known = true;
    const ShortEventDescriptor *short_event = on_air.has_event ? FindShortEvent(on_air.event) : nullptr;
    if (name == "service")
        return on_air.service;
    if (name == "provider")
        return on_air.provider;
    if (name == "program")
        return std::to_string(on_air.program_number);
    if (name == "title")
        return short_event != nullptr ? SiText(short_event->event_name, on_air.family) : "";
    if (name == "start")
        return FormatStart(on_air, format.empty() ? "%Y%m%d-%H%M" : format);
    if (name == "genre") {
        if (!on_air.has_event)
            return "";
        const std::vector<ContentEntry> genres = EventGenres(on_air.event);
        const char *level_1 =
            genres.empty() ? nullptr : ContentLevel1Name(genres[0].content_nibble_level_1, on_air.family);
        return level_1 != nullptr ? level_1 : "";
    }
    *known = false;
    return "";
}

// Cuts text to at most limit bytes, between whole UTF-8 characters.
void CutUtf8(std::string *text, size_t limit)
{
    if (text->size() <= limit)
        return;
    size_t end = limit;
    while (end > 0 && (static_cast<unsigned char>((*text)[end]) & 0xC0) == 0x80)
        --end;
    text->resize(end);
}

}  // namespace

int FindProgramOnAir(const char *path, u16 pmt_pid, u16 program_number, ProgramOnAir *on_air,
                     const RunSettings &settings)
{
    if (path == nullptr || on_air == nullptr)
        return -1;
    *on_air = ProgramOnAir();
    on_air->family = settings.text_family;
    DemuxCore core;
    core.UseSettings(&settings);
    OnAirPass pass(&core, pmt_pid, program_number, on_air);
    const int result = core.Run(path, pass);
    pass.Finish();
    if (result != 0)
        return result;
    return on_air->program_number != 0 ? 0 : -4;
}

bool ExpandNameTemplate(const std::string &name_template, const ProgramOnAir &on_air, std::string *name,
                        std::string *error)
{
    std::string out;
    for (size_t i = 0; i < name_template.size(); ++i) {
        const char c = name_template[i];
        if ((c == '{' || c == '}') && i + 1 < name_template.size() && name_template[i + 1] == c) {
            out += c;
            ++i;
            continue;
        }
        if (c == '}') {
            *error = "a '}' without its '{' (write '}}' for the character itself)";
            return false;
        }
        if (c != '{') {
            out += c;
            continue;
        }
        const size_t close = name_template.find('}', i);
        if (close == std::string::npos) {
            *error = "a '{' without its '}' (write '{{' for the character itself)";
            return false;
        }
        const std::string field = name_template.substr(i + 1, close - i - 1);
        const size_t colon = field.find(':');
        const std::string field_name = field.substr(0, colon);
        const std::string format = colon == std::string::npos ? "" : field.substr(colon + 1);
        bool known = false;
        std::string value = FieldValue(field_name, format, on_air, &known);
        if (!known || (colon != std::string::npos && field_name != "start")) {
            *error = "unknown field '{" + field + "}': service, provider, program, title, start[:FORMAT], genre";
            return false;
        }
        for (char &v : value)
            if (Unfit(static_cast<unsigned char>(v)))
                v = '_';
        out += value;
        i = close;
    }
    for (char &v : out)
        if (Unfit(static_cast<unsigned char>(v)))
            v = '_';
    // Fields without a value leave their spaces behind: runs of them become one, and none stays
    // at either end of the name or before its extension.
    std::string tidy;
    for (char v : out)
        if (v != ' ' || (!tidy.empty() && tidy.back() != ' '))
            tidy += v;
    while (!tidy.empty() && tidy.back() == ' ')
        tidy.pop_back();
    const size_t dot = tidy.rfind('.');
    if (dot != std::string::npos && dot > 0 && tidy[dot - 1] == ' ')
        tidy.erase(dot - 1, 1);
    // A file name holds 255 bytes: the part before the extension is cut.
    constexpr size_t kNameMax = 255;
    if (tidy.size() > kNameMax) {
        const size_t extension = tidy.rfind('.');
        const std::string tail =
            extension != std::string::npos && tidy.size() - extension <= 16 ? tidy.substr(extension) : "";
        std::string stem = tidy.substr(0, tidy.size() - tail.size());
        CutUtf8(&stem, kNameMax - tail.size());
        tidy = stem + tail;
    }
    if (tidy.empty() || tidy == "." || tidy == ".." || tidy[0] == '.') {
        *error = "the template gives no usable file name ('" + tidy + "')";
        return false;
    }
    *name = tidy;
    return true;
}

}  // namespace pidsift
