// pidsift-check's JSON: the report of each file as one object on one line, for scripts.
#include <cmath>

#include <nlohmann/json.hpp>

#include "renderers.h"

namespace check_tool {

namespace {

using Json = nlohmann::ordered_json;

// A stream's identity: the fields of a named value are its name, null when the descriptors say
// nothing, and the number as broadcast for a value without a name.
Json StreamJson(const pidsift::CheckStream &stream)
{
    const pidsift::StreamIdentity &identity = stream.identity;
    auto named = [](std::string_view name, unsigned value, bool known) {
        return !known ? Json(nullptr) : name.empty() ? Json(value) : Json(name);
    };
    Json pages = Json::array();
    for (const pidsift::TeletextPage &page : identity.teletext_pages)
        pages.push_back({{"page", page.Number()},
                         {"type", named(pidsift::TeletextTypeName(page.type), unsigned(page.type), true)},
                         {"language", page.language.empty() ? Json(nullptr) : Json(page.language)}});
    return {
        {"pid", stream.pid},
        {"stream_type", stream.stream_type},
        {"codec", identity.codec.empty() ? Json(nullptr) : Json(identity.codec)},
        {"kind", pidsift::StreamKindName(identity.kind)},
        {"language", identity.languages},
        {"audio_type", named(pidsift::AudioTypeName(identity.audio_type), unsigned(identity.audio_type),
                             identity.audio_type != pidsift::AudioType::Undefined)},
        {"channel_layout", named(pidsift::ChannelLayoutName(identity.channel_layout), 0,
                                 identity.channel_layout != pidsift::ChannelLayout::Unknown)},
        {"subtitle_type", named(pidsift::SubtitleTypeName(identity.subtitle_type), 0,
                                identity.subtitle_type != pidsift::SubtitleType::Unknown)},
        {"teletext_pages", pages},
        {"superimposed", identity.superimposed},
    };
}

Json MakeJson(const char *name, const pidsift::CheckReport &report)
{
    Json json;
    json["file"] = name;
    json["bytes"] = report.bytes;
    json["unit_size"] = report.unit_size != 0 ? Json(report.unit_size) : Json(nullptr);
    json["packets"] = report.packets;
    json["skipped_bytes"] = report.skipped_bytes;
    json["sync_losses"] = report.sync_losses;
    if (report.timed) {
        json["duration_s"] = std::round(double(report.duration) / 27.0) / 1e6;
        json["bitrate_bps"] = report.bit_rate;
    } else {
        json["duration_s"] = nullptr;
        json["bitrate_bps"] = nullptr;
    }
    json["network_name"] = report.has_network_name ? Json(report.network_name) : Json(nullptr);
    Json programs = Json::array();
    for (const pidsift::CheckProgram &program : report.programs) {
        Json streams = Json::array();
        for (const pidsift::CheckStream &stream : program.streams)
            streams.push_back(StreamJson(stream));
        const pidsift::Service &service = program.service;
        const bool named = program.has_service && service.has_service_descriptor;
        programs.push_back({
            {"program_number", program.program_number},
            {"pmt_pid", program.pmt_pid},
            {"pcr_pid", program.has_pmt ? Json(program.pcr_pid) : Json(nullptr)},
            {"ecm_pid", program.ecm_pid != TS_NO_PID ? Json(program.ecm_pid) : Json(nullptr)},
            {"scrambled", program.scrambled},
            {"streams", streams},
            {"service_name", named ? Json(service.name) : Json(nullptr)},
            {"provider_name", named ? Json(service.provider_name) : Json(nullptr)},
            {"service_type", named ? Json(service.service_type) : Json(nullptr)},
        });
    }
    json["programs"] = programs;
    Json pids = Json::array();
    for (const pidsift::CheckPid &entry : report.pids)
        pids.push_back({
            {"pid", u32(entry.pid)},
            {"packets", entry.packets},
            {"cc_errors", entry.continuity_errors},
            {"tei", entry.transport_errors},
            {"scrambled", entry.scrambled},
            {"pcr", entry.pcrs},
            {"crc_errors", entry.crc_errors},
            {"role", pidsift::RoleText(entry)},
        });
    json["pids"] = pids;
    Json checks = Json::object();
    for (int i = 0; i < TS_CHECK_COUNT; ++i)
        checks[kChecks[i].json] = report.checks[size_t(i)].count;
    json["checks"] = checks;
    json["ok"] = !report.HasErrors();
    return json;
}

}  // namespace

std::string JsonLine(const char *name, const pidsift::CheckReport &report)
{
    return MakeJson(name, report).dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace check_tool
