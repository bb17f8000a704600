// The whole-stream drivers on the input written to a file: the dump with every selection bit,
// as text and as JSON Lines, the per-program split, the PMT-change check and split in both
// modes, and the recording check with and without its events. Outputs go to the scratch folder
// beside the input and are removed after each input.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include <pidsift/check.h>
#include <pidsift/demux.h>

#include "support.h"

using fuzzsupport::Check;

namespace {

TS_PMTSplitList g_tSegments;

// Output files of the splits in the scratch folder, and the bytes they hold.
void CheckOutputs(int *files)
{
    *files = 0;
    DIR *dir = opendir(fuzzsupport::ScratchDir().c_str());
    if (dir == nullptr)
        return;
    while (const dirent *entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == ".." || name == "rec.ts")
            continue;
        ++*files;
        const long long size = fuzzsupport::FileSize(fuzzsupport::ScratchFile(name));
        Check(size >= 0 && size % TS_PACKET_SIZE == 0, "split outputs hold whole packets");
    }
    closedir(dir);
}

// Each file of the per-program split holds its rebuilt PATs and packets of the input in input
// order, each once: its packets of other PIDs than 0 stand in the input at rising offsets.
void CheckProgramFiles(const u8 *data, size_t size)
{
    DIR *dir = opendir(fuzzsupport::ScratchDir().c_str());
    if (dir == nullptr)
        return;
    while (const dirent *entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.rfind("rec_", 0) != 0)
            continue;
        std::ifstream in(fuzzsupport::ScratchFile(name), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        size_t from = 0;
        for (size_t at = 0; at + TS_PACKET_SIZE <= bytes.size(); at += TS_PACKET_SIZE) {
            const u8 *packet = reinterpret_cast<const u8 *>(bytes.data()) + at;
            if (((packet[1] & 0x1F) << 8 | packet[2]) == 0)
                continue;
            const void *found = from < size ? memmem(data + from, size - from, packet, TS_PACKET_SIZE) : nullptr;
            Check(found != nullptr, "a program's file holds packets of the input in input order, each once");
            from = size_t(static_cast<const u8 *>(found) - data) + 1;
        }
    }
    closedir(dir);
}

// Runs the dump (as pidsift-dump does) into a string, and returns what it printed.
std::string CapturedDump(const std::string &input, int mask)
{
    std::string text;
    pidsift::RunSettings settings;
    settings.printed.text = &text;
    Check(pidsift::Dump(input.c_str(), mask, settings) == 0, "the dump reads the whole file");
    return text;
}

// The JSON dump prints one valid object a line for each block of the text dump, and each block
// of a packet names a packet of the input: a sync byte at its offset, in input order.
void CheckJSONDump(const std::string &input, const uint8_t *data, size_t size)
{
    const std::string text = CapturedDump(input, 0x1FF);
    const std::string lines = CapturedDump(input, 0x1FF | TS_PRINT_JSON);
    const std::pair<const char *, const char *> kBlocks[] = {
        {"packet", "[TS Packet] "}, {"pat", "[PAT] "}, {"cat", "[CAT] "}, {"pmt", "[PMT] "},
        {"ecm", "[Private] "},      {"emm", "[EMM] "}, {"pcr", "[PCR] "}, {"pids", "PID List:"}};
    std::map<std::string, size_t> text_blocks, json_blocks;
    std::istringstream text_lines(text);
    for (std::string line; std::getline(text_lines, line);)
        for (const auto &block : kBlocks)
            text_blocks[block.first] += line.rfind(block.second, 0) == 0;
    std::istringstream json_lines(lines);
    bool seen = false;
    u64 last_index = 0, last_offset = 0;
    for (std::string line; std::getline(json_lines, line);) {
        const nlohmann::json object = nlohmann::json::parse(line, nullptr, false);
        Check(object.is_object() && object.contains("type") && object["type"].is_string(), "a JSON object a line");
        ++json_blocks[object["type"].get<std::string>()];
        if (!object.contains("byte_offset"))
            continue;
        const u64 index = object["packet_index"].get<u64>(), offset = object["byte_offset"].get<u64>();
        Check(offset + TS_PACKET_SIZE <= size && data[offset] == TS_SYNC_BYTE, "a block's offset is a packet's");
        Check(!seen || (index > last_index ? offset > last_offset : index == last_index && offset == last_offset),
              "blocks in input order");
        Check(offset >= index * TS_PACKET_SIZE, "an index is never ahead of its offset");
        seen = true;
        last_index = index;
        last_offset = offset;
    }
    for (const auto &block : kBlocks)
        Check(text_blocks[block.first] == json_blocks[block.first], "as many JSON blocks as text blocks");
}

}  // namespace

// What the recording check's events add up to.
struct CheckEvents {
    u64 u64Breaks = 0;
    u64 u64Damaged = 0;
    u64 u64Scrambled = 0;
    u64 u64Clear = 0;
    u64 u64Seconds = 0;
    u64 u64SyncLosses = 0;
    u64 u64LastTime = 0;
    bool bOrdered = true;

    void Count(const pidsift::CheckEvent &event)
    {
        switch (event.kind) {
        case pidsift::CheckEventKind::Continuity:
            ++u64Breaks;
            break;
        case pidsift::CheckEventKind::Transport:
            ++u64Damaged;
            break;
        case pidsift::CheckEventKind::Scrambled:
            ++u64Scrambled;
            break;
        case pidsift::CheckEventKind::Clear:
            ++u64Clear;
            break;
        case pidsift::CheckEventKind::Second:
            ++u64Seconds;
            bOrdered = bOrdered && event.time >= u64LastTime;
            u64LastTime = event.time;
            break;
        case pidsift::CheckEventKind::SyncLoss:
            ++u64SyncLosses;
            break;
        default:
            Check(false, "a known event kind");
            break;
        }
    }
};

TS_CheckReport g_tCheckReport;

// The recording check: its counts agree with each other and with the input, the fixed record
// holds the first entries of the full report, and the events change nothing in the report and
// match its counts.
void CheckTheCheck(const std::string &input, size_t size)
{
    TS_CheckReport &report = g_tCheckReport;
    Check(TS_CheckFile(&report, input.c_str()) == 0, "the check reads the whole file");
    Check(report.u64Bytes == size, "the check counts every byte read");
    Check(report.u64Packets * TS_PACKET_SIZE + report.u64SkippedBytes <= size,
          "packets and skipped bytes fit the file");
    Check(report.u32UnitSize == 0 || report.u32UnitSize == 188 || report.u32UnitSize == 192 ||
              report.u32UnitSize == 204,
          "a unit size of the three");
    Check(report.u64SyncLosses == report.ltCheck[TS_CHECK_SYNC_LOSS].u64Count, "sync losses counted once");
    Check(report.ltCheck[TS_CHECK_SYNC_BYTE].u64Count >= report.u64SyncLosses, "a loss has a bad sync byte");
    u64 packets = 0, breaks = 0, damaged = 0, crc = 0;
    for (const TS_CheckPID &pid : report.ltPID) {
        packets += pid.u64Packets;
        breaks += pid.u64ContinuityErrors;
        damaged += pid.u64TransportErrors;
        crc += pid.u64CRCErrors;
        Check(pid.u64ContinuityErrors <= pid.u64Packets && pid.u64TransportErrors <= pid.u64Packets &&
                  pid.u64Scrambled <= pid.u64Packets && pid.u64PCRs <= pid.u64Packets,
              "per-PID counts within its packets");
        Check(pid.u8Role <= TS_ROLE_NULL, "a known role");
    }
    Check(packets == report.u64Packets, "every packet on one PID");
    Check(breaks == report.ltCheck[TS_CHECK_CONTINUITY].u64Count, "continuity check is the PIDs' sum");
    Check(damaged == report.ltCheck[TS_CHECK_TRANSPORT].u64Count, "transport check is the PIDs' sum");
    Check(crc == report.ltCheck[TS_CHECK_CRC].u64Count, "CRC check is the PIDs' sum");
    for (const TS_CheckCount &count : report.ltCheck)
        Check(count.u64Count == 0 || count.u64FirstPacket <= report.u64Packets, "first packet within the file");
    Check(report.u16ProgramCount <= TS_MAX_PROGRAMS, "programs within their capacity");
    for (u16 i = 0; i < report.u16ProgramCount; ++i)
        Check(report.ltProgram[i].u16StreamCount <= TS_MAX_STREAMS, "streams within their capacity");
    if (report.u8Timed) {
        Check(report.u16ClockPID < 8192 && report.u64Duration > 0, "a clock that ran");
        // Steps over a second are left out: the duration never exceeds a second a PCR.
        Check(report.u64Duration <= report.ltPID[report.u16ClockPID].u64PCRs * 27000000ull, "duration within its PCRs");
    }

    // The full report: every program and stream, of which the fixed record keeps the first.
    CheckEvents events;
    pidsift::RunSettings settings;
    settings.check_event = [&events](const pidsift::CheckEvent &event) { events.Count(event); };
    pidsift::CheckReport full;
    Check(pidsift::Check(input.c_str(), settings, &full) == 0, "the check with events reads the whole file");
    Check(full.packets == report.u64Packets && full.bytes == report.u64Bytes, "the same input read");
    Check(std::min<size_t>(full.programs.size(), TS_MAX_PROGRAMS) == report.u16ProgramCount,
          "the fixed record keeps the first programs");
    for (u16 i = 0; i < report.u16ProgramCount; ++i)
        Check(full.programs[i].program_number == report.ltProgram[i].u16ProgramNumber &&
                  std::min<size_t>(full.programs[i].streams.size(), TS_MAX_STREAMS) ==
                      report.ltProgram[i].u16StreamCount,
              "the same programs in the same order");
    // The fixed record counts the PMT silences of absent programs too.
    for (int i = 0; i < TS_CHECK_COUNT; ++i)
        Check(full.Finding(i, true).count == report.ltCheck[i].u64Count &&
                  full.Finding(i, true).first_packet == report.ltCheck[i].u64FirstPacket,
              "events change no count");
    u64 listed = 0;
    for (const pidsift::CheckPid &pid : full.pids) {
        const TS_CheckPID &fixed = report.ltPID[pid.pid];
        Check(pid.packets == fixed.u64Packets && pid.continuity_errors == fixed.u64ContinuityErrors &&
                  pid.crc_errors == fixed.u64CRCErrors && pid.role == fixed.u8Role && pid.program == fixed.u16Program,
              "a listed PID as the fixed record has it");
        listed += pid.packets;
    }
    Check(listed == full.packets, "every PID that carried a packet is listed");
    for (const pidsift::CheckFinding &finding : full.checks)
        Check(finding.count == 0 || (finding.first_packet <= full.packets && finding.first_byte_offset <= size),
              "a finding's first place within the file");
    Check(events.u64Breaks == breaks && events.u64Damaged == damaged, "an event for each break and damaged packet");
    Check(events.u64Scrambled == events.u64Clear, "every scrambled stretch ends");
    Check(events.u64Seconds >= 1 && events.bOrdered, "seconds in order, one at the end");
    Check(events.u64SyncLosses <= full.sync_losses && (events.u64SyncLosses != 0) == (full.sync_losses != 0),
          "a sync loss event where sync was lost");
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzsupport::SilenceStdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string input = fuzzsupport::ScratchFile("rec.ts");
    Check(fuzzsupport::WriteWhole(input, data, size), "input written");

    CheckJSONDump(input, data, size);
    Check(g_tData.u16PIDCount <= 256, "PID list within its capacity");

    CheckTheCheck(input, size);

    const int split = TS_ProgramSplitFile(input.c_str());
    Check(split == 0, "the per-program split reads the whole file");
    Check(g_tPNSplitData.u16Count <= 16, "split table within its capacity");
    int files = 0;
    CheckOutputs(&files);
    Check(files <= 16 * 65536, "split files");
    CheckProgramFiles(data, size);
    fuzzsupport::ClearScratch();
    Check(fuzzsupport::WriteWhole(input, data, size), "input written");

    const int checked = TS_CheckPMTSplit(&g_tSegments, input.c_str());
    Check(checked == 0 || checked == -3, "PMT check result");
    Check(g_tSegments.u16Count <= 256, "segment list within its capacity");
    for (u16 i = 0; i < g_tSegments.u16Count; ++i)
        Check(g_tSegments.ltSplit[i].u64Bytes % TS_PACKET_SIZE == 0, "segments count whole packets");

    const int all = TS_PMTSplitFile(input.c_str(), 1, 0, nullptr);
    Check(all == checked, "the split stops where the check stops");
    CheckOutputs(&files);
    Check(files <= 256, "at most one file per distinct PMT");
    fuzzsupport::ClearScratch();
    Check(fuzzsupport::WriteWhole(input, data, size), "input written");

    if (checked == 0 && g_tSegments.u16Count > 0 && g_tSegments.u16Count < 256) {
        // The single-mode file of a PMT holds exactly what the check counted for its segments.
        const u32 crc = g_tSegments.ltSplit[g_tSegments.u16Count - 1].u32CRC;
        u64 expected = 0;
        for (u16 i = 0; i < g_tSegments.u16Count; ++i)
            if (g_tSegments.ltSplit[i].u32CRC == crc)
                expected += g_tSegments.ltSplit[i].u64Bytes;
        const std::string single = fuzzsupport::ScratchFile("single.ts");
        Check(TS_PMTSplitFile(input.c_str(), 0, crc, single.c_str()) == 0, "single-mode split");
        Check(fuzzsupport::FileSize(single) == (long long)expected, "single-mode file size is what the check counted");
    }
    fuzzsupport::ClearScratch();
    return 0;
}
