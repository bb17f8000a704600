// The recording check as a driver of the demux: every packet is tapped for the per-PID counters
// and the clock; the sections of the table PIDs come from the demux's collectors (the same
// sections every driver sees) with their CRC_32 judged once; the tables in force, the roles and
// the names are the demux's. The subsystems are parts of their own: the clock (clock.h), the
// silence watches (watches.h), the events (events.h), the roles (roles.h) and the report
// (report.h).
#ifndef PIDSIFT_TRANSPORT_STREAM_DRIVERS_CHECK_CHECK_RUN_H
#define PIDSIFT_TRANSPORT_STREAM_DRIVERS_CHECK_CHECK_RUN_H

#include <array>
#include <memory>
#include <vector>

#include <pidsift/check.h>

#include "demux/demux_core.h"
#include "drivers/check/clock.h"
#include "drivers/check/counters.h"
#include "drivers/check/events.h"
#include "drivers/check/guide.h"
#include "drivers/check/watches.h"

namespace pidsift {

class CheckRun final : public CheckFindings {
public:
    CheckRun(DemuxCore *core, const RunSettings &settings);
    CheckRun(const CheckRun &) = delete;
    CheckRun &operator=(const CheckRun &) = delete;

    // ---- The demux's driver calls ------------------------------------------------------------
    bool OnTapped(const u8 *packet, u16 pid);
    // Only with events: a packet of a program, for its packets per second.
    bool OnProgramPacket(u32 program, const u8 *, u8)
    {
        m_tEvents.CountForProgram(program);
        return true;
    }

    // The input ended (or failed): what is found at the end of the file.
    void Finish();

    void Count(int which) override;
    void Note(CheckFinding *aside) const override { Place(aside); }
    void Join(int which, const CheckFinding &aside) override;

    // ---- What the report is made of ------------------------------------------------------------
    u64 Packets() const { return m_u64Packets; }
    const CheckCounters &Counters() const { return m_tCounters; }
    const CheckClock &Clock() const { return m_tClock; }
    const std::array<CheckFinding, TS_CHECK_COUNT> &Findings() const { return m_ltFindings; }
    const CheckFinding &AbsentPMT() const { return m_tAbsentPMT; }
    const CheckGuide &Guide() const { return m_tGuide; }

private:
    // The paths off the common one, which may count a finding: each is told the packet in hand.
    // False: the packet is marked damaged, and nothing more of its header is read.
    bool OnRareState(const u8 *packet, u16 pid, u8 header1, u8 control, u8 *state);
    u8 OnCounter(const u8 *packet, u16 pid, u8 state, u8 counter, bool discontinuity);
    // The check's time moved on with a PCR: the silences and the seconds are looked at.
    void OnTick(const u8 *packet);
    void OnSyncLoss(const u8 *packet);
    void OnSection(const Section &section);
    void TablesChanged();
    void CollectTablePIDs();
    // Where the packet in hand is, for a finding's first place.
    void Place(CheckFinding *finding) const;

    DemuxCore *m_pCore;
    const TS_Sync *m_pSync;
    bool m_bEvents;
    CheckCounters m_tCounters;
    CheckClock m_tClock;
    CheckWatches m_tWatches;
    CheckEvents m_tEvents;
    CheckGuide m_tGuide;
    std::array<CheckFinding, TS_CHECK_COUNT> m_ltFindings = {};
    CheckFinding m_tAbsentPMT;
    u64 m_u64Packets = 0;  // so far: the packet in hand is the last of them
    // The packet in hand when a finding may be counted; null at the end of the file.
    const u8 *m_pu8Packet = nullptr;
    u64 m_u64SeenLosses = 0;
    std::vector<u16> m_lu16TablePIDs;  // collected for the tables in force, beyond the fixed ones
    // With events: each PID's last scrambled packet and its time, where a stretch that the end of
    // the file finds open ends.
    struct LastScrambled {
        u64 u64Packet;
        u64 u64Time;
    };
    std::unique_ptr<LastScrambled[]> m_ltLastScrambled;
};

// ---------------------------------------------------------------------------------------------

// Inlined into the demux's packet loop: it sees every packet of the recording.
[[gnu::always_inline]] inline bool CheckRun::OnTapped(const u8 *packet, u16 pid)
{
    ++m_u64Packets;
    const u8 header1 = packet[1];
    const u8 control = packet[3];
    CheckPidState &hot = m_tCounters.ltState[pid];
    ++hot.u64Packets;
    u8 state = hot.u8State;
    if (((header1 & 0x80) | (control & 0xC0) | (state & kScrambled)) != 0 &&
        !OnRareState(packet, pid, header1, control, &state)) {
        hot.u8State = state;
        if (m_pSync->u64Losses != m_u64SeenLosses)
            OnSyncLoss(packet);
        return true;
    }

    bool discontinuity = false;
    if ((control & 0x20) && packet[4] != 0) {
        const u8 flags = packet[5];
        discontinuity = (flags & 0x80) != 0;
        if ((flags & 0x10) && packet[4] >= 7) {
            ++hot.u32PCRs;
            if (m_tClock.OnPCR(pid, &hot.u16Timeline, packet, m_u64Packets - 1))
                OnTick(packet);
        }
    }

    // The counter steps by one on every packet with payload; the null PID's means nothing.
    if ((control & 0x10) && pid != 0x1FFF) {
        const u8 counter = control & kCounterBits;
        if (counter != ((state + 1) & kCounterBits) && (state & kCounterSeen))
            state = OnCounter(packet, pid, state, counter, discontinuity);
        else
            state = u8((state & kScrambled) | kCounterSeen | counter);
    }
    hot.u8State = state;

    if (m_pSync->u64Losses != m_u64SeenLosses)
        OnSyncLoss(packet);
    return true;
}

}  // namespace pidsift

#endif  // PIDSIFT_TRANSPORT_STREAM_DRIVERS_CHECK_CHECK_RUN_H
