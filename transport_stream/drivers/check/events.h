// The check's events for a caller that draws the recording: the marks (continuity breaks,
// transport errors, scrambled stretches) as they come, and once a second of the clock each
// program's packets since the second before.
#ifndef PIDSIFT_TRANSPORT_STREAM_DRIVERS_CHECK_EVENTS_H
#define PIDSIFT_TRANSPORT_STREAM_DRIVERS_CHECK_EVENTS_H

#include <functional>
#include <vector>

#include <pidsift/check.h>

#include "demux/demux_core.h"
#include "drivers/check/clock.h"

namespace pidsift {

class CheckEvents {
public:
    // callback: the run's (RunSettings::check_event); empty, nothing is emitted.
    explicit CheckEvents(const std::function<void(const CheckEvent &)> &callback);

    bool Wanted() const { return bool(m_fnCallback); }

    void Mark(CheckEventKind kind, u16 pid, u64 packet, u64 time);
    // A packet of a program (its index among the programs of the PAT in force).
    void CountForProgram(u32 program)
    {
        const u32 entry = program < m_lu32Entry.size() ? m_lu32Entry[program] : kNoEntry;
        if (entry != kNoEntry)
            ++m_tSecond.programs[entry].packets;
    }
    // The programs of the PAT in force changed: each is counted under its program_number.
    void ProgramsChanged(const std::vector<ProgramTrack> &programs);
    // The clock moved on to now, at packet: a whole second passed is told.
    void Tick(u64 now, u64 packet);
    // The file ended at packet: the last second, up to the last tick of the clock when it ran.
    void Finish(u64 packet, u64 now, bool timed);

private:
    static constexpr u32 kNoEntry = 0xFFFFFFFF;

    u32 Entry(u16 program_number);
    void EmitSecond(u64 packet, u64 time);

    const std::function<void(const CheckEvent &)> &m_fnCallback;
    CheckEvent m_tMark;
    CheckEvent m_tSecond;             // its programs since the last second
    std::vector<u16> m_lu16Programs;  // the program_numbers of the PAT in force, in its order
    std::vector<u32> m_lu32Entry;     // of each of them in m_tSecond.programs
    u64 m_u64NextSecond = kTicksPerSecond;
    // The entries' packets at the last tick of the clock: the packets after it have no time.
    std::vector<u64> m_lu64AtTick;
};

}  // namespace pidsift

#endif  // PIDSIFT_TRANSPORT_STREAM_DRIVERS_CHECK_EVENTS_H
