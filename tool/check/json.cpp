// pidsift-check's JSON: the report of each file as one object on one line, for scripts, written
// with the library's JSON writer (text/json.h) as the dump writes its JSON Lines.
#include <cmath>
#include <optional>
#include <string_view>
#include <utility>

#include "psi/si.h"
#include "renderers.h"
#include "text/json.h"

namespace check_tool {

namespace {

void NumberOrNull(TS_Json *json, const char *key, bool has, u64 value)
{
    TS_Json_Key(json, key);
    if (has)
        TS_Json_Number(json, value);
    else
        TS_Json_Null(json);
}

void StringOrNull(TS_Json *json, const char *key, bool has, const std::string &text)
{
    TS_Json_Key(json, key);
    if (has)
        TS_Json_StringBytes(json, reinterpret_cast<const u8 *>(text.data()), text.size());
    else
        TS_Json_Null(json);
}

// 27 MHz ticks as seconds, to the microsecond.
double SecondsOf(u64 ticks) { return std::round(double(ticks) / 27.0) / 1e6; }

// The input: its size, packets, sync, duration and bitrate, and the network's name.
void WriteInput(TS_Json *json, const char *name, const pidsift::CheckReport &report)
{
    TS_Json_StringField(json, "file", name);
    TS_Json_NumberField(json, "bytes", report.bytes);
    NumberOrNull(json, "unit_size", report.unit_size != 0, report.unit_size);
    TS_Json_NumberField(json, "packets", report.packets);
    TS_Json_NumberField(json, "skipped_bytes", report.skipped_bytes);
    TS_Json_NumberField(json, "trailing_bytes", report.trailing_bytes);
    TS_Json_NumberField(json, "sync_losses", report.sync_losses);
    if (report.timed) {
        TS_Json_DoubleField(json, "duration_s", SecondsOf(report.duration));
        TS_Json_NumberField(json, "bitrate_bps", report.bit_rate);
    } else {
        TS_Json_NullField(json, "duration_s");
        TS_Json_NullField(json, "bitrate_bps");
    }
    StringOrNull(json, "network_name", report.has_network_name, report.network_name);
}

// A stream's identity: a named value gives its name, null when the descriptors say nothing, and
// the number as broadcast for a value without a name.
void NamedOrNull(TS_Json *json, const char *key, std::string_view name, unsigned value, bool known)
{
    TS_Json_Key(json, key);
    if (!known)
        TS_Json_Null(json);
    else if (name.empty())
        TS_Json_Number(json, value);
    else
        TS_Json_StringBytes(json, reinterpret_cast<const u8 *>(name.data()), name.size());
}

void WriteStream(TS_Json *json, const pidsift::CheckStream &stream)
{
    const pidsift::StreamIdentity &identity = stream.identity;
    TS_Json_NumberField(json, "pid", stream.pid);
    TS_Json_NumberField(json, "stream_type", stream.stream_type);
    StringOrNull(json, "codec", !identity.codec.empty(), std::string(identity.codec));
    NamedOrNull(json, "kind", pidsift::StreamKindName(identity.kind), 0, true);
    TS_Json_Key(json, "language");
    TS_Json_ArrayBegin(json);
    for (const std::string &language : identity.languages)
        TS_Json_StringBytes(json, reinterpret_cast<const u8 *>(language.data()), language.size());
    TS_Json_ArrayEnd(json);
    NamedOrNull(json, "audio_type", pidsift::AudioTypeName(identity.audio_type), unsigned(identity.audio_type),
                identity.audio_type != pidsift::AudioType::Undefined);
    NamedOrNull(json, "channel_layout", pidsift::ChannelLayoutName(identity.channel_layout), 0,
                identity.channel_layout != pidsift::ChannelLayout::Unknown);
    NamedOrNull(json, "subtitle_type", pidsift::SubtitleTypeName(identity.subtitle_type), 0,
                identity.subtitle_type != pidsift::SubtitleType::Unknown);
    TS_Json_ObjectArrayField(json, "teletext_pages", u32(identity.teletext_pages.size()), [&](u32 i) {
        const pidsift::TeletextPage &page = identity.teletext_pages[i];
        TS_Json_StringField(json, "page", page.Number().c_str());
        NamedOrNull(json, "type", pidsift::TeletextTypeName(page.type), unsigned(page.type), true);
        StringOrNull(json, "language", !page.language.empty(), page.language);
    });
    TS_Json_BoolField(json, "superimposed", identity.superimposed);
}

void WriteProgram(TS_Json *json, const pidsift::CheckProgram &program)
{
    TS_Json_NumberField(json, "program_number", program.program_number);
    TS_Json_NumberField(json, "pmt_pid", program.pmt_pid);
    TS_Json_BoolField(json, "present", program.has_pmt);
    NumberOrNull(json, "pcr_pid", program.has_pmt, program.pcr_pid);
    NumberOrNull(json, "ecm_pid", program.ecm_pid != TS_NO_PID, program.ecm_pid);
    TS_Json_BoolField(json, "scrambled", program.scrambled);
    TS_Json_NumberField(json, "scrambled_packets", program.scrambled_packets);
    TS_Json_ObjectArrayField(json, "streams", u32(program.streams.size()),
                             [&](u32 i) { WriteStream(json, program.streams[i]); });
    const pidsift::Service &service = program.service;
    const bool named = program.has_service && service.has_service_descriptor;
    StringOrNull(json, "service_name", named, service.name);
    StringOrNull(json, "provider_name", named, service.provider_name);
    NumberOrNull(json, "service_type", named, service.service_type);
}

// {"present", "following"}: the events of a present/following pair, each null when absent;
// null without a pair.
void WriteEventPair(TS_Json *json, const char *key, bool has, const std::optional<pidsift::EitEvent> &present,
                    const std::optional<pidsift::EitEvent> &following, int family)
{
    TS_Json_Key(json, key);
    if (!has) {
        TS_Json_Null(json);
        return;
    }
    TS_Json_ObjectBegin(json);
    for (const auto &[name, event] : {std::pair{"present", &present}, std::pair{"following", &following}}) {
        TS_Json_Key(json, name);
        if (event->has_value())
            pidsift::PrintEventJSON(json, **event, family);
        else
            TS_Json_Null(json);
    }
    TS_Json_ObjectEnd(json);
}

// What the program had on air: the first pair of its EIT present/following, and the last one
// when it changed.
void WriteProgramEvents(TS_Json *json, const pidsift::CheckProgram &program, int family)
{
    WriteEventPair(json, "events", program.has_events, program.present, program.following, family);
    WriteEventPair(json, "events_at_end", program.has_events_at_end, program.present_at_end, program.following_at_end,
                   family);
}

void WritePrograms(TS_Json *json, const pidsift::CheckReport &report)
{
    TS_Json_ObjectArrayField(json, "programs", u32(report.programs.size()), [&](u32 i) {
        WriteProgram(json, report.programs[i]);
        WriteProgramEvents(json, report.programs[i], report.text_family);
    });
}

// {"first", "last", "local_time_offset"}: the clock of the first and last TDT or TOT, and the
// TOT's local time offset ("+01:00", null without); null without a TDT or TOT.
void WriteBroadcastTime(TS_Json *json, const pidsift::CheckReport &report)
{
    TS_Json_Key(json, "broadcast_time");
    if (!report.has_broadcast_time) {
        TS_Json_Null(json);
        return;
    }
    TS_Json_ObjectBegin(json);
    const int family = report.text_family;
    TS_Json_StringField(json, "first", pidsift::FormatTime(report.broadcast_first, family).c_str());
    TS_Json_StringField(json, "last", pidsift::FormatTime(report.broadcast_last, family).c_str());
    StringOrNull(json, "local_time_offset", report.has_local_time_offset,
                 pidsift::FormatOffset(report.local_time_offset_minutes));
    TS_Json_ObjectEnd(json);
}

// A finding's first time on the broadcast's clock, or null.
void WriteFindingBroadcastTime(TS_Json *json, const pidsift::CheckFinding &finding, int family)
{
    StringOrNull(json, "broadcast_time", finding.first_broadcast_timed,
                 pidsift::FormatTime(finding.first_broadcast_time, family));
}

void WritePids(TS_Json *json, const pidsift::CheckReport &report)
{
    TS_Json_ObjectArrayField(json, "pids", u32(report.pids.size()), [&](u32 i) {
        const pidsift::CheckPid &entry = report.pids[i];
        TS_Json_NumberField(json, "pid", entry.pid);
        TS_Json_NumberField(json, "packets", entry.packets);
        TS_Json_NumberField(json, "cc_errors", entry.continuity_errors);
        TS_Json_NumberField(json, "tei", entry.transport_errors);
        TS_Json_NumberField(json, "scrambled", entry.scrambled);
        TS_Json_NumberField(json, "pcr", entry.pcrs);
        TS_Json_NumberField(json, "crc_errors", entry.crc_errors);
        const std::string role = pidsift::RoleText(entry);
        TS_Json_StringField(json, "role", role.c_str());
    });
}

void WriteChecks(TS_Json *json, const pidsift::CheckReport &report, bool strict)
{
    TS_Json_Key(json, "checks");
    TS_Json_ObjectBegin(json);
    for (int i = 0; i < TS_CHECK_COUNT; ++i)
        TS_Json_NumberField(json, kChecks[i].json, report.Finding(i, strict).count);
    TS_Json_ObjectEnd(json);
}

// Where each check that counted something failed first: the packet's index, the offset of its
// sync byte, and its time (null before the first PCR).
void WriteFirstErrors(TS_Json *json, const pidsift::CheckReport &report, bool strict)
{
    TS_Json_Key(json, "first_errors");
    TS_Json_ObjectBegin(json);
    for (int i = 0; i < TS_CHECK_COUNT; ++i) {
        const pidsift::CheckFinding finding = report.Finding(i, strict);
        if (finding.count == 0)
            continue;
        TS_Json_Key(json, kChecks[i].json);
        TS_Json_ObjectBegin(json);
        TS_Json_NumberField(json, "packet", finding.first_packet);
        TS_Json_NumberField(json, "byte_offset", finding.first_byte_offset);
        if (finding.first_timed)
            TS_Json_DoubleField(json, "time_s", SecondsOf(finding.first_time));
        else
            TS_Json_NullField(json, "time_s");
        WriteFindingBroadcastTime(json, finding, report.text_family);
        TS_Json_ObjectEnd(json);
    }
    TS_Json_ObjectEnd(json);
}

// The programs that cannot be played without descrambling, with their scrambled packets.
void WriteScrambledPrograms(TS_Json *json, const pidsift::CheckReport &report)
{
    TS_Json_Key(json, "scrambled_programs");
    TS_Json_ArrayBegin(json);
    for (const pidsift::CheckProgram &program : report.programs) {
        if (!program.scrambled)
            continue;
        TS_Json_ObjectBegin(json);
        TS_Json_NumberField(json, "program_number", program.program_number);
        TS_Json_NumberField(json, "packets", program.scrambled_packets);
        TS_Json_ObjectEnd(json);
    }
    TS_Json_ArrayEnd(json);
}

}  // namespace

std::string JsonLine(const char *name, const pidsift::CheckReport &report, bool strict)
{
    std::string line;
    {
        TS_Sink out(&line);
        TS_Json json;
        TS_Json_Start(&json, &out, TS_JSON_TEXT);
        TS_Json_ObjectBegin(&json);
        WriteInput(&json, name, report);
        WriteBroadcastTime(&json, report);
        WritePrograms(&json, report);
        WritePids(&json, report);
        WriteChecks(&json, report, strict);
        WriteFirstErrors(&json, report, strict);
        WriteScrambledPrograms(&json, report);
        TS_Json_BoolField(&json, "strict", strict);
        TS_Json_BoolField(&json, "ok", !report.HasErrors(strict));
        TS_Json_ObjectEnd(&json);
    }
    return line;
}

}  // namespace check_tool
