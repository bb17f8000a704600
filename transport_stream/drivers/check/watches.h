// The check's silence watches: the PAT and each program's PMT must come again within 0.5 s
// (TS_CHECK_TABLE_INTERVAL), the PCR, video and audio PIDs of the PMTs in force within 5 s
// (TS_CHECK_PID_INTERVAL), on the check's clock. Each silence counts once, when it passes its
// limit.
#ifndef PIDSIFT_TRANSPORT_STREAM_DRIVERS_CHECK_WATCHES_H
#define PIDSIFT_TRANSPORT_STREAM_DRIVERS_CHECK_WATCHES_H

#include <memory>
#include <vector>

#include "demux/demux_core.h"
#include "drivers/check/counters.h"

namespace pidsift {

// A table or PID that must come again within a limit.
struct SilenceWatch {
    u64 u64Last = 0;     // time of the last arrival (or of the start of the watch)
    bool bLate = false;  // the present silence has been counted
};

class CheckWatches {
public:
    explicit CheckWatches(CheckFindings *findings);

    // Arrivals of a PAT and of a program's PMT (its index among the programs of the PAT in force)
    // at time now; timed: the clock has started (without, no silence is measured).
    void PATArrived(u64 now, bool timed);
    void PMTArrived(u32 program, u64 now, bool timed);
    // The programs of the PAT changed: those still listed with the same PMT PID keep their
    // watches, the others are awaited from now.
    void ProgramsChanged(const std::vector<ProgramTrack> &programs, u64 now);
    // The PMTs in force changed: the PIDs to watch follow. Those watched before keep their
    // silence, new ones start theirs now.
    void StreamsChanged(const std::vector<ProgramTrack> &programs, const CheckPidState *states, u64 now);
    // The run ended: the silences of programs whose PMT never came are the absent programs'.
    void Finish();
    // The clock moved on to now: the silences past their limits are counted.
    void Tick(u64 now, const CheckPidState *states)
    {
        if (now > m_u64TableDue)
            ScanTables(now);
        if (now - m_u64PIDScan >= kPIDScanInterval) {
            m_u64PIDScan = now;
            ScanPIDs(now, states);
        }
    }

private:
    // How often the PIDs' silences of 5 s are looked at (the tables' are looked at when due).
    static constexpr u64 kPIDScanInterval = 27000000 / 2;

    struct ProgramWatch {
        u16 u16ProgramNumber;
        u16 u16PMTPID;
        SilenceWatch tWatch;
        // Until the program's first PMT, its silences are kept aside: a program whose PMT never
        // comes is absent from the recording, not late.
        bool bSeen;
        CheckFinding tUnseen;
    };

    void TableDue(const SilenceWatch &watch);
    void Arrive(SilenceWatch *watch, u64 now, bool timed, int which);
    void Wait(SilenceWatch *watch, u64 now, u64 limit, int which);
    void ScanTables(u64 now);
    void WaitPMT(ProgramWatch *program, u64 now);
    void Aside(CheckFinding *finding);
    void ScanPIDs(u64 now, const CheckPidState *states);

    CheckFindings *m_pFindings;
    u64 m_u64TableDue = TS_CHECK_TABLE_INTERVAL;  // the earliest limit of the tables' silences
    u64 m_u64PIDScan = 0;
    SilenceWatch m_tPAT;
    std::vector<ProgramWatch> m_lPMT;  // of each program of the PAT in force
    // The PCR, video and audio PIDs of the PMTs in force, each with its packet count at the last
    // look and the watch over its silences.
    std::vector<u16> m_lu16Watched;
    std::unique_ptr<u8[]> m_lu8Watched;  // by PID: 1 watched
    std::unique_ptr<u64[]> m_lu64Count;
    std::unique_ptr<SilenceWatch[]> m_ltPID;
};

}  // namespace pidsift

#endif  // PIDSIFT_TRANSPORT_STREAM_DRIVERS_CHECK_WATCHES_H
