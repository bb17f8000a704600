// The check's events.
#include "drivers/check/events.h"

namespace pidsift {

CheckEvents::CheckEvents(const std::function<void(const CheckEvent &)> &callback) : m_fnCallback(callback) {}

void CheckEvents::Mark(CheckEventKind kind, u16 pid, u64 packet, u64 time)
{
    if (!m_fnCallback)
        return;
    m_tMark.kind = kind;
    m_tMark.pid = pid;
    m_tMark.packet = packet;
    m_tMark.time = time;
    m_fnCallback(m_tMark);
}

// The entry of program_number, added when it is not there yet: programs that share a number
// share an entry.
u32 CheckEvents::Entry(u16 program_number)
{
    std::vector<CheckProgramPackets> &entries = m_tSecond.programs;
    for (u32 i = 0; i < entries.size(); ++i)
        if (entries[i].program_number == program_number)
            return i;
    entries.push_back({program_number, 0});
    return u32(entries.size() - 1);
}

void CheckEvents::ProgramsChanged(const std::vector<ProgramTrack> &programs)
{
    m_lu16Programs.clear();
    m_lu32Entry.clear();
    for (const ProgramTrack &track : programs) {
        m_lu16Programs.push_back(track.u16ProgramNumber);
        m_lu32Entry.push_back(Entry(track.u16ProgramNumber));
    }
}

void CheckEvents::EmitSecond(u64 packet, u64 time)
{
    m_tSecond.kind = CheckEventKind::Second;
    m_tSecond.pid = TS_NO_PID;
    m_tSecond.packet = packet;
    m_tSecond.time = time;
    m_fnCallback(m_tSecond);
    // The next second starts with the programs of the PAT in force.
    m_tSecond.programs.clear();
    m_lu32Entry.clear();
    for (u16 program_number : m_lu16Programs)
        m_lu32Entry.push_back(Entry(program_number));
}

void CheckEvents::Tick(u64 now, u64 packet)
{
    if (now >= m_u64NextSecond) {
        EmitSecond(packet, now);
        m_u64NextSecond = (now / kTicksPerSecond + 1) * kTicksPerSecond;
    }
    m_lu64AtTick.resize(m_tSecond.programs.size());
    for (size_t i = 0; i < m_lu64AtTick.size(); ++i)
        m_lu64AtTick[i] = m_tSecond.programs[i].packets;
}

void CheckEvents::Finish(u64 packet, u64 now, bool timed)
{
    if (!m_fnCallback)
        return;
    // With a clock, the last second ends at its last tick, with the packets up to it.
    if (timed)
        for (size_t i = 0; i < m_tSecond.programs.size(); ++i)
            m_tSecond.programs[i].packets = i < m_lu64AtTick.size() ? m_lu64AtTick[i] : 0;
    EmitSecond(packet, now);
}

}  // namespace pidsift
