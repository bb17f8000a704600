// The check's report.
#include "drivers/check/report.h"

#include <algorithm>
#include <cstring>

#include "demux/demux_core.h"
#include "drivers/check/check_run.h"
#include "drivers/check/roles.h"

namespace pidsift {

namespace {

// The PIDs of a program that its scrambled packets are counted on: its PMT's, and with a PMT its
// PCR, ECM and stream PIDs (0x0000 and 0x1FFF belong to no program), each once.
std::vector<u16> ProgramPIDs(const ProgramTrack &track)
{
    std::vector<u16> pids = {u16(track.u16PMTPID & 0x1FFF)};
    auto add = [&](u16 pid) {
        pid &= 0x1FFF;
        if (pid != 0x0000 && pid != 0x1FFF && std::find(pids.begin(), pids.end(), pid) == pids.end())
            pids.push_back(pid);
    };
    if (track.pPMT) {
        add(track.pPMT->pcr_pid);
        const u16 ecm_pid = track.pPMT->EcmPid();
        if (ecm_pid != TS_NO_PID)
            add(ecm_pid);
        for (const PmtStream &stream : track.pPMT->streams)
            add(stream.elementary_pid);
    }
    return pids;
}

void BuildPrograms(const DemuxCore &core, const CheckCounters &counters, CheckReport *report)
{
    for (const ProgramTrack &track : core.Programs()) {
        CheckProgram program;
        program.program_number = track.u16ProgramNumber;
        program.pmt_pid = track.u16PMTPID & 0x1FFF;
        if (report->has_sdt)
            for (const Service &service : report->services)
                if (service.service_id == program.program_number) {
                    program.has_service = true;
                    program.service = service;
                    break;
                }
        for (u16 pid : ProgramPIDs(track))
            program.scrambled_packets += counters.ltTallies[pid].u64Scrambled;
        program.scrambled = program.scrambled_packets != 0;
        if (track.pPMT) {
            const Pmt &pmt = *track.pPMT;
            program.has_pmt = true;
            program.pcr_pid = pmt.pcr_pid & 0x1FFF;
            program.ecm_pid = pmt.EcmPid();
            for (const PmtStream &stream : pmt.streams)
                program.streams.push_back(
                    {u16(stream.elementary_pid & 0x1FFF), stream.stream_type, IdentifyStream(stream)});
        }
        report->programs.push_back(std::move(program));
    }
}

// Duration and bitrate from the first program of the last PAT whose PCR PID has a timeline of
// two PCRs or more, else from the first PID that had one.
void BuildDuration(const CheckRun &run, CheckReport *report)
{
    const CheckClock &clock = run.Clock();
    const PCRTimeline *chosen = nullptr;
    for (const CheckProgram &program : report->programs) {
        if (!program.has_pmt || program.pcr_pid == 0x1FFF)
            continue;
        const PCRTimeline *timeline = clock.Timeline(run.Counters().ltState[program.pcr_pid].u16Timeline);
        if (timeline != nullptr && timeline->u64Count >= 2) {
            chosen = timeline;
            report->clock_program = program.program_number;
            break;
        }
    }
    for (const PCRTimeline &timeline : clock.Timelines()) {
        if (chosen != nullptr)
            break;
        if (timeline.u64Count >= 2)
            chosen = &timeline;
    }
    if (chosen == nullptr || chosen->u64Elapsed == 0)
        return;
    report->timed = true;
    report->clock_pid = chosen->u16PID;
    report->duration = chosen->u64Elapsed;
    report->clock_jumps = chosen->u64Jumps;
    const double bits = double(chosen->u64LastPacket - chosen->u64FirstPacket) * TS_PACKET_SIZE * 8;
    report->bit_rate = u64(bits * double(kTicksPerSecond) / double(chosen->u64Elapsed) + 0.5);
}

// The bytes the input ended with that no packet took: the start of a packet cut short when
// its sync byte stands where the next packet was due, else stray bytes.
void BuildRest(const DemuxCore &core, CheckReport *report)
{
    u64 count = 0;
    const u8 *rest = core.Rest(&count);
    if (count == 0)
        return;
    const TS_Sync &sync = core.Sync();
    if (report->packets == 0) {
        report->skipped_bytes += count;
        return;
    }
    if (sync.u32Spacing == 0) {
        // The hunt stopped at a sync byte with too few bytes after it for a packet.
        report->trailing_bytes = count;
        return;
    }
    // Locked: a 204-byte unit's parity follows its packet; a 192-byte unit's timestamp comes
    // before the next packet.
    const u64 parity = sync.u32Spacing == 204 ? std::min<u64>(count, sync.u32Gap) : 0;
    const u64 after = count - parity;
    if (after == 0)
        return;
    const u64 sync_at = parity + (sync.u32Spacing == 192 ? sync.u32Gap : 0);
    if (sync_at >= count || rest[sync_at] == TS_SYNC_BYTE)
        report->trailing_bytes = after;
    else
        report->skipped_bytes += after;
}

}  // namespace

void CheckReport_Build(const DemuxCore &core, const CheckRun &run, CheckReport *report)
{
    *report = CheckReport{};
    const TS_Sync &sync = core.Sync();
    report->bytes = sync.u64BytesRead;
    report->unit_size = sync.u32Unit;
    report->packets = run.Packets();
    report->skipped_bytes = sync.u64Skipped + sync.u64Hunted;
    report->sync_losses = sync.u64Losses;
    BuildRest(core, report);
    report->checks = run.Findings();
    report->absent_pmt = run.AbsentPMT();
    report->checks[TS_CHECK_SYNC_LOSS].count = sync.u64Losses;
    report->checks[TS_CHECK_SYNC_BYTE].count = sync.u64BadSyncBytes;
    report->intervals_timed = run.Clock().Started();

    if (const Pat *pat = core.PAT()) {
        report->transport_stream_id = pat->transport_stream_id();
        for (const PatEntry &entry : pat->entries)
            if (entry.program_number == 0) {
                report->network_pid = entry.pid & 0x1FFF;
                break;
            }
    }
    report->emm_pid = core.EMMPID();
    report->text_family = core.TextFamily();
    report->has_sdt = core.Services() != nullptr;
    report->services = core.ServiceList();
    report->has_network_name = core.HasNetworkName();
    if (report->has_network_name) {
        report->network_id = core.NetworkID();
        report->network_name_bytes = core.NetworkName();
        report->network_name = core.NetworkNameText();
    }
    BuildPrograms(core, run.Counters(), report);
    run.Guide().Fill(report);
    for (CheckFinding &finding : report->checks)
        run.Guide().TimeEarlyFinding(&finding);
    run.Guide().TimeEarlyFinding(&report->absent_pmt);

    // The PIDs that carried a packet, and those a table names.
    const CheckRoles roles(core);
    const CheckCounters &counters = run.Counters();
    constexpr u16 kNamed = u16(~(kRolePAT | kRoleCAT | kRoleSI | kRoleNull));
    for (u32 pid = 0; pid < 8192; ++pid) {
        const CheckPidState &state = counters.ltState[pid];
        if (state.u64Packets == 0 && (core.Roles(u16(pid)) & kNamed) == 0)
            continue;
        const CheckPidTallies &tallies = counters.ltTallies[pid];
        CheckPid entry;
        entry.pid = u16(pid);
        entry.packets = state.u64Packets;
        entry.pcrs = state.u32PCRs;
        entry.continuity_errors = tallies.u64ContinuityErrors;
        entry.transport_errors = tallies.u64TransportErrors;
        entry.scrambled = tallies.u64Scrambled;
        entry.crc_errors = tallies.u64CRCErrors;
        roles.Fill(&entry);
        if (CheckRoles_Listed(entry))
            report->pids.push_back(entry);
    }
    BuildDuration(run, report);
}

void CheckReport_Clear(TS_CheckReport *fixed)
{
    std::memset(fixed, 0, sizeof *fixed);
    fixed->u16NetworkPID = TS_NO_PID;
    fixed->u16EMMPID = TS_NO_PID;
    fixed->u16ClockPID = TS_NO_PID;
}

void CheckReport_Fill(const CheckReport &report, const DemuxCore &core, TS_CheckReport *fixed)
{
    CheckReport_Clear(fixed);
    fixed->u64Bytes = report.bytes;
    fixed->u32UnitSize = report.unit_size;
    fixed->u64Packets = report.packets;
    fixed->u64SkippedBytes = report.skipped_bytes;
    fixed->u64SyncLosses = report.sync_losses;
    fixed->u8Timed = report.timed;
    fixed->u16ClockPID = report.clock_pid;
    fixed->u16ClockProgram = report.clock_program;
    fixed->u64Duration = report.duration;
    fixed->u64BitRate = report.bit_rate;
    fixed->u64ClockJumps = report.clock_jumps;
    fixed->u8IntervalsTimed = report.intervals_timed;
    fixed->u16NetworkPID = report.network_pid;
    fixed->u16EMMPID = report.emm_pid;
    fixed->s32TextFamily = report.text_family;
    fixed->u16TransportStreamID = report.transport_stream_id;
    fixed->u8HasSDT = report.has_sdt;
    fixed->u8HasNetworkName = report.has_network_name;
    fixed->u16NetworkID = report.network_id;
    const size_t name_bytes = std::min<size_t>(report.network_name_bytes.size(), TS_MAX_NAME_BYTES);
    fixed->u8NetworkNameCount = u8(name_bytes);
    std::copy_n(report.network_name_bytes.begin(), name_bytes, fixed->lu8NetworkName);

    const TS_SDTServices *services = core.Services();
    for (const CheckProgram &program : report.programs) {
        if (fixed->u16ProgramCount >= TS_MAX_PROGRAMS)
            break;
        TS_CheckProgram &entry = fixed->ltProgram[fixed->u16ProgramCount++];
        entry.u16ProgramNumber = program.program_number;
        entry.u16PMTPID = program.pmt_pid;
        entry.u8HasPMT = program.has_pmt;
        entry.u8Scrambled = program.scrambled;
        entry.u16PCRPID = program.pcr_pid;
        entry.u16ECMPID = program.ecm_pid;
        for (const CheckStream &stream : program.streams) {
            if (entry.u16StreamCount >= TS_MAX_STREAMS)
                break;
            entry.ltStream[entry.u16StreamCount++] = {stream.pid, stream.stream_type};
        }
        const TS_SDTService *service =
            program.has_service ? TS_SDTServices_Find(services, program.program_number) : nullptr;
        if (service != nullptr) {
            entry.u8HasService = 1;
            entry.tService = *service;
        }
    }
    // The fixed record counts as TR 101 290 does: the absent programs' PMT silences too.
    for (int i = 0; i < TS_CHECK_COUNT; ++i) {
        const CheckFinding finding = report.Finding(i, true);
        fixed->ltCheck[i].u64Count = finding.count;
        fixed->ltCheck[i].u64FirstPacket = finding.first_packet;
    }
    for (u32 pid = 0; pid < 8192; ++pid) {
        const CheckPid entry = report.Pid(u16(pid));
        TS_CheckPID &out = fixed->ltPID[pid];
        out.u64Packets = entry.packets;
        out.u64ContinuityErrors = entry.continuity_errors;
        out.u64TransportErrors = entry.transport_errors;
        out.u64Scrambled = entry.scrambled;
        out.u64PCRs = entry.pcrs;
        out.u64CRCErrors = entry.crc_errors;
        out.u8Role = entry.role;
        out.u8StreamType = entry.stream_type;
        out.u16Program = entry.program;
        out.u16OtherPrograms = u16(std::min<u32>(entry.other_programs, 0xFFFF));
    }
}

bool CheckReport::HasErrors(bool strict) const
{
    return packets == 0 || trailing_bytes != 0 || (strict && absent_pmt.count != 0) ||
           std::any_of(checks.begin(), checks.end(), [](const CheckFinding &finding) { return finding.count != 0; });
}

CheckFinding CheckFinding_Join(const CheckFinding &finding, const CheckFinding &more)
{
    if (more.count == 0)
        return finding;
    CheckFinding joined = finding.count == 0 || more.first_packet < finding.first_packet ? more : finding;
    joined.count = finding.count + more.count;
    return joined;
}

CheckFinding CheckReport::Finding(int which, bool strict) const
{
    const CheckFinding &finding = checks[size_t(which)];
    return strict && which == TS_CHECK_PMT ? CheckFinding_Join(finding, absent_pmt) : finding;
}

CheckPid CheckReport::Pid(u16 pid) const
{
    const auto found = std::lower_bound(pids.begin(), pids.end(), pid,
                                        [](const CheckPid &entry, u16 wanted) { return entry.pid < wanted; });
    if (found != pids.end() && found->pid == pid)
        return *found;
    // A PID not listed has no packet and no role a table gives: only its number says what it is.
    CheckPid entry;
    entry.pid = pid;
    entry.role = pid == 0x0000   ? TS_ROLE_PAT
                 : pid == 0x0001 ? TS_ROLE_CAT
                 : pid <= 0x002F ? TS_ROLE_SI
                 : pid == 0x1FFF ? TS_ROLE_NULL
                                 : TS_ROLE_UNREFERENCED;
    return entry;
}

}  // namespace pidsift
