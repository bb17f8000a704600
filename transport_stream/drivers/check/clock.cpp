// The check's clock: the timelines of the PCR PIDs, and the reference among them.
#include "drivers/check/clock.h"

namespace pidsift {

u16 CheckClock::NewTimeline(u16 pid)
{
    m_lTimelines.emplace_back();
    m_lTimelines.back().u16PID = pid;
    return u16(m_lTimelines.size());
}

bool CheckClock::Start(u32 index)
{
    m_u32Reference = index;
    m_u64Base = 0;
    m_u64RefAnchor = m_lTimelines[index].u64Elapsed;
    m_u64Now = 0;
    return true;
}

}  // namespace pidsift
