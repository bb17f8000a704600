// The check's silence watches.
#include "drivers/check/watches.h"

#include "drivers/check/roles.h"

namespace pidsift {

namespace {

constexpr u8 kWatched = 1;
constexpr u8 kNamedNow = 2;  // while the watched PIDs are gathered again

void Start(SilenceWatch *watch, u64 now)
{
    watch->u64Last = now;
    watch->bLate = false;
}

}  // namespace

CheckWatches::CheckWatches(CheckFindings *findings)
    : m_pFindings(findings), m_lu8Watched(new u8[8192]()), m_lu64Count(new u64[8192]()),
      m_ltPID(new SilenceWatch[8192]())
{
}

// The tables' silences are looked at once the earliest of them may have passed its limit.
void CheckWatches::TableDue(const SilenceWatch &watch)
{
    if (watch.u64Last + TS_CHECK_TABLE_INTERVAL < m_u64TableDue)
        m_u64TableDue = watch.u64Last + TS_CHECK_TABLE_INTERVAL;
}

void CheckWatches::Arrive(SilenceWatch *watch, u64 now, bool timed, int which)
{
    if (timed && !watch->bLate && now - watch->u64Last > TS_CHECK_TABLE_INTERVAL)
        m_pFindings->Count(which);
    const bool was_late = watch->bLate;
    Start(watch, now);
    if (was_late)
        TableDue(*watch);  // a late watch had left the earliest limit
}

void CheckWatches::Wait(SilenceWatch *watch, u64 now, u64 limit, int which)
{
    if (!watch->bLate && now - watch->u64Last > limit) {
        m_pFindings->Count(which);
        watch->bLate = true;
    }
}

void CheckWatches::PATArrived(u64 now, bool timed) { Arrive(&m_tPAT, now, timed, TS_CHECK_PAT); }

void CheckWatches::PMTArrived(u32 program, u64 now, bool timed)
{
    if (program >= m_lPMT.size())
        return;
    ProgramWatch &watch = m_lPMT[program];
    if (!watch.bSeen) {
        // The first PMT: the silence before it was a late PMT, not an absent one.
        if (timed && !watch.tWatch.bLate && now - watch.tWatch.u64Last > TS_CHECK_TABLE_INTERVAL)
            Aside(&watch.tUnseen);
        watch.bSeen = true;
        if (watch.tUnseen.count != 0)
            m_pFindings->Join(TS_CHECK_PMT, watch.tUnseen);
        watch.tUnseen = {};
        Arrive(&watch.tWatch, now, false, TS_CHECK_PMT);
        return;
    }
    Arrive(&watch.tWatch, now, timed, TS_CHECK_PMT);
}

void CheckWatches::Aside(CheckFinding *finding)
{
    if (finding->count++ == 0)
        m_pFindings->Note(finding);
}

void CheckWatches::WaitPMT(ProgramWatch *program, u64 now)
{
    SilenceWatch &watch = program->tWatch;
    if (program->bSeen) {
        Wait(&watch, now, TS_CHECK_TABLE_INTERVAL, TS_CHECK_PMT);
    } else if (!watch.bLate && now - watch.u64Last > TS_CHECK_TABLE_INTERVAL) {
        Aside(&program->tUnseen);
        watch.bLate = true;
    }
}

void CheckWatches::Finish()
{
    for (ProgramWatch &program : m_lPMT)
        if (!program.bSeen && program.tUnseen.count != 0)
            m_pFindings->Join(CheckFindings::kAbsentPMT, program.tUnseen);
    m_lPMT.clear();
}

void CheckWatches::ProgramsChanged(const std::vector<ProgramTrack> &programs, u64 now)
{
    std::vector<ProgramWatch> watches;
    watches.reserve(programs.size());
    for (const ProgramTrack &track : programs) {
        ProgramWatch watch = {track.u16ProgramNumber, track.u16PMTPID, {}, false, {}};
        bool kept = false;
        for (ProgramWatch &old : m_lPMT)
            if (old.u16ProgramNumber == track.u16ProgramNumber && old.u16PMTPID == track.u16PMTPID) {
                watch.tWatch = old.tWatch;
                watch.bSeen = old.bSeen;
                watch.tUnseen = old.tUnseen;
                old.u16ProgramNumber = 0;  // taken: a program listed twice takes each watch once
                old.u16PMTPID = TS_NO_PID;
                kept = true;
                break;
            }
        if (!kept) {
            Start(&watch.tWatch, now);
            TableDue(watch.tWatch);
        }
        watches.push_back(watch);
    }
    // A program the PAT no longer lists whose PMT never came was absent while it was listed.
    for (const ProgramWatch &old : m_lPMT)
        if (old.u16PMTPID != TS_NO_PID && !old.bSeen && old.tUnseen.count != 0)
            m_pFindings->Join(CheckFindings::kAbsentPMT, old.tUnseen);
    m_lPMT = std::move(watches);
}

void CheckWatches::StreamsChanged(const std::vector<ProgramTrack> &programs, const CheckPidState *states, u64 now)
{
    std::vector<u16> watched;
    auto watch = [&](u16 pid) {
        pid &= 0x1FFF;
        if (pid == 0x0000 || pid == 0x1FFF || m_lu8Watched[pid] == kNamedNow)
            return;
        if (m_lu8Watched[pid] == 0) {
            m_lu64Count[pid] = states[pid].u64Packets;
            Start(&m_ltPID[pid], now);
        }
        m_lu8Watched[pid] = kNamedNow;
        watched.push_back(pid);
    };
    for (const ProgramTrack &track : programs) {
        if (!track.pPMT)
            continue;
        watch(track.pPMT->pcr_pid);
        for (const PmtStream &stream : track.pPMT->streams)
            if (IsWatchedStream(stream))
                watch(stream.elementary_pid);
    }
    for (u16 pid : m_lu16Watched)
        if (m_lu8Watched[pid] == kWatched)
            m_lu8Watched[pid] = 0;  // no longer named
    for (u16 pid : watched)
        m_lu8Watched[pid] = kWatched;
    m_lu16Watched = std::move(watched);
}

// Looks at the silences of the PAT and of each program's PMT, and finds the next limit.
void CheckWatches::ScanTables(u64 now)
{
    m_u64TableDue = ~u64(0);
    auto look = [&](SilenceWatch *watch, int which) {
        Wait(watch, now, TS_CHECK_TABLE_INTERVAL, which);
        if (!watch->bLate)
            TableDue(*watch);
    };
    look(&m_tPAT, TS_CHECK_PAT);
    for (ProgramWatch &program : m_lPMT) {
        WaitPMT(&program, now);
        if (!program.tWatch.bLate)
            TableDue(program.tWatch);
    }
}

// Looks at the watched PIDs: a packet count that moved ends a silence.
void CheckWatches::ScanPIDs(u64 now, const CheckPidState *states)
{
    for (u16 pid : m_lu16Watched) {
        const u64 packets = states[pid].u64Packets;
        if (packets != m_lu64Count[pid]) {
            m_lu64Count[pid] = packets;
            Start(&m_ltPID[pid], now);
        } else {
            Wait(&m_ltPID[pid], now, TS_CHECK_PID_INTERVAL, TS_CHECK_PID);
        }
    }
}

}  // namespace pidsift
