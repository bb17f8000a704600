// What the check reads of the programme guide and the broadcast clock: the EIT present/following
// of the actual transport stream on PID 0x0012 and the TDT and TOT on 0x0014, from the sections
// the demux collects for the check's CRC_32 count. The clock's readings are tied to the check's
// own clock (the PCR), so that a finding gets its time on the broadcast's clock.
#ifndef PIDSIFT_TRANSPORT_STREAM_DRIVERS_CHECK_GUIDE_H
#define PIDSIFT_TRANSPORT_STREAM_DRIVERS_CHECK_GUIDE_H

#include <pidsift/check.h>

#include "drivers/guide.h"

namespace pidsift {

class CheckGuide {
public:
    // A section of PID 0x0012 or 0x0014, with the check's time then (27 MHz ticks; started false
    // before the first PCR) and the transport stream of the PAT in force (-1 without).
    void OnSection(const Section &section, u64 now, bool started, int transport_stream_id);
    // The time on the broadcast's clock of a finding at the check's time now; false without a
    // reading of the clock tied to the check's, before the first PCR, or when the reading in force
    // came before the first PCR.
    bool BroadcastTimeAt(u64 now, bool started, std::int64_t *seconds) const;
    // At the end: a finding that came before the first reading gets its time from it.
    void TimeEarlyFinding(CheckFinding *finding) const;
    // The clock and the events into the report (its programs listed already).
    void Fill(CheckReport *report) const;

private:
    struct Reading {
        bool valid = false;
        std::int64_t seconds = 0;
        u64 now = 0;
    };
    BroadcastClock m_tClock;
    EventGuide m_tEvents;
    Reading m_tFirst;  // the first reading made after the first PCR
    Reading m_tLast;   // the latest one
};

}  // namespace pidsift

#endif  // PIDSIFT_TRANSPORT_STREAM_DRIVERS_CHECK_GUIDE_H
