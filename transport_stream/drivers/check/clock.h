// The check's clock: the PCRs of each PID laid end to end, their jumps left out, and one of them
// the reference that times the recording. The first PID that carries a PCR is the reference; when
// it falls silent for a second of another PID's PCRs, that PID takes over where it stopped.
#ifndef PIDSIFT_TRANSPORT_STREAM_DRIVERS_CHECK_CLOCK_H
#define PIDSIFT_TRANSPORT_STREAM_DRIVERS_CHECK_CLOCK_H

#include <vector>

#include <pidsift/ts.h>

namespace pidsift {

constexpr u64 kTicksPerSecond = 27000000;

// The PCRs of one PID, laid end to end.
struct PCRTimeline {
    u16 u16PID = 0;
    u64 u64Last = 0;     // the last PCR, in 27 MHz ticks
    u64 u64Elapsed = 0;  // ticks since the first, jumps left out
    u64 u64Count = 0;
    u64 u64FirstPacket = 0;
    u64 u64LastPacket = 0;
    u64 u64Jumps = 0;
    // While another PID is the reference: this timeline's elapsed at its first PCR after the
    // reference's last, and the reference's PCR count then.
    u64 u64Anchor = 0;
    u64 u64SeenCount = 0;
};

class CheckClock {
public:
    static constexpr u16 kNoTimeline = 0;

    // A PCR in packet (of index packet_index): its timeline is *timeline (1 + its index; 0 for
    // none yet, then set). The PCR of a packet that arrived damaged is not used: its value may be
    // wrong. True when the check's time moved on with it (Now() is the packet's time).
    inline bool OnPCR(u16 pid, u16 *timeline, const u8 *packet, u64 packet_index);

    // Whether a PCR has come: before, nothing is timed.
    bool Started() const { return m_u32Reference != kNone; }
    // The time of the packet in hand, in 27 MHz ticks from the reference's first PCR; it stands
    // at the last PCR until the next.
    u64 Now() const { return m_u64Now; }

    const std::vector<PCRTimeline> &Timelines() const { return m_lTimelines; }
    // The timeline of 1 + index, or null.
    const PCRTimeline *Timeline(u16 timeline) const
    {
        return timeline == kNoTimeline ? nullptr : &m_lTimelines[timeline - 1u];
    }

private:
    static constexpr u32 kNone = 0xFFFFFFFF;
    static constexpr u64 kPCRWrap = (u64(1) << 33) * 300;  // the 27 MHz value wraps with the 33-bit base

    // A timeline for pid's first PCR: its number (1 + its index).
    u16 NewTimeline(u16 pid);
    // The first PCR of all: its timeline is the reference, and the time starts.
    bool Start(u32 index);

    std::vector<PCRTimeline> m_lTimelines;
    u32 m_u32Reference = kNone;  // the timeline that times the checks
    u64 m_u64Base = 0;           // time at which the reference took over
    u64 m_u64RefAnchor = 0;      // the reference's elapsed then
    u64 m_u64Now = 0;
};

// ISO/IEC 13818-1 2.4.3.5: a 33-bit base at 90 kHz and a 9-bit extension that counts 300 ticks
// of 27 MHz. PCRs step by the time between them; a step backwards (which wraps to a huge one),
// one over a second, or one announced by discontinuity_indicator starts a new segment.
inline bool CheckClock::OnPCR(u16 pid, u16 *timeline, const u8 *packet, u64 packet_index)
{
    if (packet[1] & 0x80)
        return false;
    if (*timeline == kNoTimeline)
        *timeline = NewTimeline(pid);
    const u32 index = *timeline - 1u;
    PCRTimeline &clock = m_lTimelines[index];
    const u64 base = (u64(packet[6]) << 25) | (u64(packet[7]) << 17) | (u64(packet[8]) << 9) | (u64(packet[9]) << 1) |
                     (packet[10] >> 7);
    u64 pcr = base * 300 + ((u64(packet[10] & 0x01) << 8) | packet[11]);
    if (pcr >= kPCRWrap)
        pcr -= kPCRWrap;  // an extension over 299 on the last base value
    if (clock.u64Count == 0) {
        clock.u64FirstPacket = packet_index;
    } else {
        const u64 step = pcr >= clock.u64Last ? pcr - clock.u64Last : pcr + kPCRWrap - clock.u64Last;
        if ((packet[5] & 0x80) != 0 || step > kTicksPerSecond)
            ++clock.u64Jumps;
        else
            clock.u64Elapsed += step;
    }
    clock.u64Last = pcr;
    ++clock.u64Count;
    clock.u64LastPacket = packet_index;

    if (m_u32Reference != index) {
        if (m_u32Reference == kNone)
            return Start(index);
        // Another PID is the reference: this one takes over once the reference has been silent
        // for a second of this one's PCRs.
        const u64 seen = m_lTimelines[m_u32Reference].u64Count;
        if (clock.u64SeenCount != seen) {
            clock.u64SeenCount = seen;
            clock.u64Anchor = clock.u64Elapsed;
            return false;
        }
        if (clock.u64Elapsed - clock.u64Anchor <= kTicksPerSecond)
            return false;
        m_u64Base = m_u64Now + (clock.u64Elapsed - clock.u64Anchor);
        m_u64RefAnchor = clock.u64Elapsed;
        m_u32Reference = index;
    }
    m_u64Now = m_u64Base + (clock.u64Elapsed - m_u64RefAnchor);
    return true;
}

}  // namespace pidsift

#endif  // PIDSIFT_TRANSPORT_STREAM_DRIVERS_CHECK_CLOCK_H
