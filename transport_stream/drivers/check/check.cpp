// The recording check: one pass that counts, per PID and for the whole file, what a damaged or
// incomplete recording shows, times the recording by its PCRs, and reports the programs of the
// last PAT. Its parts: the run on the demux here, the clock, the silence watches, the events,
// the roles and the report beside it.
#include <pidsift/check.h>

#include <algorithm>

#include "drivers/check/check_run.h"
#include "drivers/check/report.h"
#include "drivers/text_family.h"

namespace pidsift {

namespace {

// PIDs whose sections are checked by their number: PAT, CAT, NIT, SDT/BAT, EIT, RST, TDT/TOT,
// DIT and SIT.
constexpr u16 kFixedTablePIDs[] = {0x0000, 0x0001, 0x0010, 0x0011, 0x0012, 0x0013, 0x0014, 0x001E, 0x001F};

bool IsFixedTablePID(u16 pid)
{
    return std::find(std::begin(kFixedTablePIDs), std::end(kFixedTablePIDs), pid) != std::end(kFixedTablePIDs);
}

}  // namespace

CheckRun::CheckRun(DemuxCore *core, const RunSettings &settings)
    : m_pCore(core), m_pSync(&core->Sync()), m_bEvents(bool(settings.check_event)), m_tWatches(this),
      m_tEvents(settings.check_event)
{
    core->TapAll();
    core->KeepPMTs();
    core->KeepCAT();
    core->KeepServices(settings.text_family);
    core->CollectSections(std::vector<u16>(std::begin(kFixedTablePIDs), std::end(kFixedTablePIDs)));
    // Events count each program's packets: the demux hands them over program by program.
    if (m_bEvents) {
        core->FollowAllPrograms();
        m_ltLastScrambled.reset(new LastScrambled[8192]());
    }

    core->lOnSection.push_back([this](const Section &section) {
        m_pu8Packet = m_pCore->SectionPacket();
        OnSection(section);
    });
    core->lOnPAT.push_back([this](const Pat &, const u8 *packet, bool changed) {
        m_pu8Packet = packet;
        m_tWatches.PATArrived(m_tClock.Now(), m_tClock.Started());
        if (!changed)
            return;
        m_tWatches.ProgramsChanged(m_pCore->Programs(), m_tClock.Now());
        TablesChanged();
    });
    core->lOnPMT.push_back([this](u32 program, const Pmt &, bool changed) {
        m_pu8Packet = m_pCore->SectionPacket();
        m_tWatches.PMTArrived(program, m_tClock.Now(), m_tClock.Started());
        if (changed)
            TablesChanged();
    });
    core->lOnCAT.push_back([this](const Cat &) { TablesChanged(); });
}

void CheckRun::Place(CheckFinding *finding) const
{
    const bool in_hand = m_pu8Packet != nullptr;
    finding->first_packet = in_hand ? m_u64Packets - 1 : m_u64Packets;
    finding->first_byte_offset = in_hand ? m_pCore->Offset(m_pu8Packet) : m_pSync->u64BytesRead;
    finding->first_time = m_tClock.Now();
    finding->first_timed = m_tClock.Started();
    finding->first_broadcast_timed =
        m_tGuide.BroadcastTimeAt(m_tClock.Now(), m_tClock.Started(), &finding->first_broadcast_time);
}

void CheckRun::Count(int which)
{
    CheckFinding &finding = m_ltFindings[size_t(which)];
    if (finding.count++ == 0)
        Place(&finding);
}

void CheckRun::Join(int which, const CheckFinding &aside)
{
    CheckFinding &finding = which == kAbsentPMT ? m_tAbsentPMT : m_ltFindings[size_t(which)];
    finding = CheckFinding_Join(finding, aside);
}

// ---- Packets -------------------------------------------------------------------------------------

// A packet flagged damaged or scrambled, or the first clear one after scrambled ones.
bool CheckRun::OnRareState(const u8 *packet, u16 pid, u8 header1, u8 control, u8 *state)
{
    m_pu8Packet = packet;
    const u64 index = m_u64Packets - 1;
    CheckPidTallies &tallies = m_tCounters.ltTallies[pid];
    // A packet that the demodulator marked damaged has bits that cannot be trusted: its
    // scrambling bits, counter and adaptation field may be the damage itself. The PID's next
    // counter starts afresh: whether this packet was the one due cannot be told.
    if (header1 & 0x80) {
        *state = u8(*state & ~(kCounterSeen | kRepeated));
        ++tallies.u64TransportErrors;
        Count(TS_CHECK_TRANSPORT);
        m_tEvents.Mark(CheckEventKind::Transport, pid, index, m_tClock.Now());
        return false;
    }
    const bool scrambled = (control & 0xC0) != 0;
    if (scrambled) {
        ++tallies.u64Scrambled;
        if (m_bEvents)
            m_ltLastScrambled[pid] = {index, m_tClock.Now()};
        // The tables themselves are never scrambled: a receiver could not read them.
        if (pid == 0x0000)
            Count(TS_CHECK_PAT);
        else if (m_pCore->Roles(pid) & kRolePMT)
            Count(TS_CHECK_PMT);
    }
    if (scrambled != ((*state & kScrambled) != 0)) {
        *state = u8(*state ^ kScrambled);
        m_tEvents.Mark(scrambled ? CheckEventKind::Scrambled : CheckEventKind::Clear, pid, index, m_tClock.Now());
    }
    return true;
}

// A counter other than the next one: a duplicate packet (the last counter once more, allowed
// once), a fresh start announced by discontinuity_indicator, or a break. Returns the PID's new
// state.
u8 CheckRun::OnCounter(const u8 *packet, u16 pid, u8 state, u8 counter, bool discontinuity)
{
    m_pu8Packet = packet;
    if (counter == (state & kCounterBits) && !(state & kRepeated) && !discontinuity)
        return state | kRepeated;
    if (!discontinuity) {
        ++m_tCounters.ltTallies[pid].u64ContinuityErrors;
        Count(TS_CHECK_CONTINUITY);
        m_tEvents.Mark(CheckEventKind::Continuity, pid, m_u64Packets - 1, m_tClock.Now());
    }
    return u8((state & kScrambled) | kCounterSeen | counter);
}

void CheckRun::OnTick(const u8 *packet)
{
    m_pu8Packet = packet;
    const u64 now = m_tClock.Now();
    if (m_bEvents)
        m_tEvents.Tick(now, m_u64Packets - 1);
    m_tWatches.Tick(now, m_tCounters.ltState.get());
}

// The sync tallies change only between two packets, at a loss and at the hunt after it: the
// first loss shows at the first packet found after it, and so does the first bad sync byte.
void CheckRun::OnSyncLoss(const u8 *packet)
{
    m_pu8Packet = packet;
    if (m_u64SeenLosses == 0) {
        Place(&m_ltFindings[TS_CHECK_SYNC_LOSS]);
        Place(&m_ltFindings[TS_CHECK_SYNC_BYTE]);
    }
    m_u64SeenLosses = m_pSync->u64Losses;
    m_tEvents.Mark(CheckEventKind::SyncLoss, TS_NO_PID, packet != nullptr ? m_u64Packets - 1 : m_u64Packets,
                   m_tClock.Now());
}

void CheckRun::Finish()
{
    // A loss after the last packet is found at the end of the file.
    if (m_pSync->u64Losses != m_u64SeenLosses)
        OnSyncLoss(nullptr);
    m_pu8Packet = nullptr;
    m_tWatches.Finish();
    if (!m_bEvents)
        return;
    for (u32 pid = 0; pid < 8192; ++pid)
        if (m_tCounters.ltState[pid].u8State & kScrambled)
            m_tEvents.Mark(CheckEventKind::Clear, u16(pid), m_ltLastScrambled[pid].u64Packet,
                           m_ltLastScrambled[pid].u64Time);
    m_tEvents.Finish(m_u64Packets, m_tClock.Now(), m_tClock.Started());
}

// ---- Tables --------------------------------------------------------------------------------------

// A complete section of a table PID, as the demux's collector delivered it, damaged or not.
void CheckRun::OnSection(const Section &section)
{
    if (section.has_crc && !section.crc_ok) {
        ++m_tCounters.ltTallies[section.pid].u64CRCErrors;
        Count(TS_CHECK_CRC);
    }
    if (section.pid == 0x0000 && section.table_id() != 0x00)
        Count(TS_CHECK_PAT);
    if (section.pid == kEitPid || section.pid == kTimePid) {
        const Pat *pat = m_pCore->PAT();
        m_tGuide.OnSection(section, m_tClock.Now(), m_tClock.Started(),
                           pat != nullptr ? pat->transport_stream_id() : -1);
    }
}

// The PAT, the PMTs or the CAT in force changed: the watched PIDs, the PIDs whose sections are
// checked and the programs of the events follow.
void CheckRun::TablesChanged()
{
    const std::vector<ProgramTrack> &programs = m_pCore->Programs();
    m_tWatches.StreamsChanged(programs, m_tCounters.ltState.get(), m_tClock.Now());
    CollectTablePIDs();
    if (m_bEvents)
        m_tEvents.ProgramsChanged(programs);
}

// The sections of the network PID, the PMT PIDs, and the ECM and EMM PIDs of the tables in force
// are checked besides those of the fixed PIDs.
void CheckRun::CollectTablePIDs()
{
    std::vector<u16> wanted;
    auto want = [&](u16 pid) {
        pid &= 0x1FFF;
        if (pid != 0x0000 && pid != 0x1FFF && std::find(wanted.begin(), wanted.end(), pid) == wanted.end())
            wanted.push_back(pid);
    };
    if (const Pat *pat = m_pCore->PAT())
        for (const PatEntry &entry : pat->entries)
            if (entry.program_number == 0)
                want(entry.pid);
    for (const ProgramTrack &track : m_pCore->Programs()) {
        want(track.u16PMTPID);
        const u16 ecm_pid = track.pPMT ? track.pPMT->EcmPid() : TS_NO_PID;
        if (ecm_pid != TS_NO_PID)
            want(ecm_pid);
    }
    if (m_pCore->EMMPID() != TS_NO_PID)
        want(m_pCore->EMMPID());

    std::vector<u16> dropped;
    for (u16 pid : m_lu16TablePIDs)
        if (!IsFixedTablePID(pid) && std::find(wanted.begin(), wanted.end(), pid) == wanted.end())
            dropped.push_back(pid);
    m_pCore->CollectSections(dropped, false);
    m_pCore->CollectSections(wanted);
    m_lu16TablePIDs = std::move(wanted);
}

// ---- The run ---------------------------------------------------------------------------------------

namespace {

// Checks path and builds the report; fixed, when given, gets the fixed record too.
int RunCheck(const char *path, const RunSettings &settings, CheckReport *report, TS_CheckReport *fixed)
{
    DemuxCore core;
    core.UseSettings(&settings);
    CheckRun run(&core, settings);
    int result;
    if (fixed == nullptr) {
        result = core.Run(path, run);
    } else {
        // The fixed interface opens the path it is given, "-" too.
        const int fd = TS_Input_Open(path, TS_Reporter{&settings});
        result = fd < 0 ? -2 : core.RunDescriptor(fd, path, run);
        TS_Input_Close(fd);
    }
    if (result == -2) {
        *report = CheckReport{};
        if (fixed != nullptr)
            CheckReport_Clear(fixed);
        return result;
    }
    run.Finish();
    CheckReport_Build(core, run, report);
    if (fixed != nullptr)
        CheckReport_Fill(*report, core, fixed);
    return result;
}

}  // namespace

int Check(const char *path, const RunSettings &settings, CheckReport *report)
{
    if (path == nullptr || report == nullptr)
        return -1;
    return RunCheck(path, settings, report, nullptr);
}

}  // namespace pidsift

int TS_CheckFile(TS_CheckReport *report, const char *path)
{
    if (report == nullptr || path == nullptr)
        return -1;
    pidsift::RunSettings settings;
    pidsift::CheckReport full;
    return pidsift::RunCheck(path, settings, &full, report);
}
