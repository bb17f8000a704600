// The programme guide and the broadcast clock in the check's report.
#include "drivers/check/guide.h"

#include "drivers/check/clock.h"

namespace pidsift {

void CheckGuide::OnSection(const Section &section, u64 now, bool started, int transport_stream_id)
{
    if (section.pid == kEitPid) {
        m_tEvents.Take(section, transport_stream_id);
        return;
    }
    if (section.pid != kTimePid || !TakeClockSection(&m_tClock, section))
        return;
    // A reading before the first PCR has no place on the check's clock.
    m_tLast = {started, m_tClock.last.seconds, now};
    if (started && !m_tFirst.valid)
        m_tFirst = m_tLast;
}

namespace {

// seconds + (now - then) in whole seconds, rounded down, either way.
std::int64_t CarriedSeconds(std::int64_t seconds, u64 then, u64 now)
{
    const std::int64_t ticks = now >= then ? std::int64_t(now - then) : -std::int64_t(then - now);
    const std::int64_t whole = ticks >= 0
                                   ? ticks / std::int64_t(kTicksPerSecond)
                                   : -((-ticks + std::int64_t(kTicksPerSecond) - 1) / std::int64_t(kTicksPerSecond));
    return seconds + whole;
}

}  // namespace

bool CheckGuide::BroadcastTimeAt(u64 now, bool started, std::int64_t *seconds) const
{
    if (!started || !m_tLast.valid)
        return false;
    *seconds = CarriedSeconds(m_tLast.seconds, m_tLast.now, now);
    return true;
}

void CheckGuide::TimeEarlyFinding(CheckFinding *finding) const
{
    if (!m_tFirst.valid || finding->count == 0 || !finding->first_timed || finding->first_broadcast_timed)
        return;
    finding->first_broadcast_timed = true;
    finding->first_broadcast_time = CarriedSeconds(m_tFirst.seconds, m_tFirst.now, finding->first_time);
}

void CheckGuide::Fill(CheckReport *report) const
{
    report->has_broadcast_time = m_tClock.seen;
    if (m_tClock.seen) {
        report->broadcast_first = m_tClock.first;
        report->broadcast_last = m_tClock.last;
    }
    report->has_local_time_offset = m_tClock.has_offset;
    report->local_time_offset_minutes = m_tClock.offset_minutes;
    report->local_time_offset_country = m_tClock.country_code;
    for (CheckProgram &program : report->programs) {
        const ServiceEvents *service = m_tEvents.Find(program.program_number);
        if (service == nullptr || !service->first)
            continue;
        program.has_events = true;
        program.present = service->first->present;
        program.following = service->first->following;
        if (!SameEvents(*service->first, *service->last)) {
            program.has_events_at_end = true;
            program.present_at_end = service->last->present;
            program.following_at_end = service->last->following;
        }
    }
}

}  // namespace pidsift
