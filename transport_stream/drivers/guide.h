// The programme guide and the broadcast clock as the drivers follow them through a recording:
// the present and following events of each service from the EIT present/following of the
// actual transport stream (table_id 0x4E on PID 0x0012: section 0 holds the event on air,
// section 1 the next one), and the clock of the TDT and TOT on PID 0x0014.
#ifndef PIDSIFT_TRANSPORT_STREAM_DRIVERS_GUIDE_H
#define PIDSIFT_TRANSPORT_STREAM_DRIVERS_GUIDE_H

#include <optional>
#include <vector>

#include <pidsift/demux.h>
#include <pidsift/si_tables.h>

namespace pidsift {

constexpr u16 kEitPid = 0x0012;
// ISDB sends the EIT for the lower reception layers on these too (the p/f and schedule of the
// medium- and low-rate EIT).
constexpr u16 kEitPidMedium = 0x0026;
constexpr u16 kEitPidLow = 0x0027;
constexpr u16 kTimePid = 0x0014;

constexpr u8 kEitPresentFollowingActual = 0x4E;
constexpr u8 kEitPresentFollowingOther = 0x4F;

// The events of one version of a service's present/following: section 0's first event (on air)
// and section 1's (next). An empty event loop leaves its event out.
struct EventPair {
    u8 version_number = 0;
    std::optional<EitEvent> present;
    std::optional<EitEvent> following;
};

// Whether two pairs name the same events (event_id, start and duration): a new version that only
// changes a running_status or a description is the same pair.
bool SameEvents(const EventPair &a, const EventPair &b);

struct ServiceEvents {
    u16 service_id = 0;
    std::optional<EventPair> first;  // the first complete pair of the recording
    std::optional<EventPair> last;   // the last one
    // The last present event seen, from a section 0 alone as well.
    std::optional<EitEvent> latest_present;
    // The halves of the pair in progress: sections 0 and 1 as they came, and their bytes, which
    // tell a repeat (a broadcast sends the same sections every few seconds) without decoding it.
    std::optional<Eit> half[2];
    std::vector<u8> half_bytes[2];
};

// The present/following of every service of the actual transport stream.
class EventGuide {
public:
    // A section of PID 0x0012: an EIT p/f actual whose CRC_32 checks, of the transport stream
    // transport_stream_id (any with -1), joins its service's pair. Returns the service when its
    // pair completed with this section, else nullptr.
    const ServiceEvents *Take(const Section &section, int transport_stream_id = -1);
    const ServiceEvents *Find(u16 service_id) const;

private:
    std::vector<ServiceEvents> m_lServices;
};

// The clock of the broadcast: the first and last TDT or TOT whose time is defined (a TOT only
// when its CRC_32 checks), and the local time offset of the last TOT that carried one.
struct BroadcastClock {
    bool seen = false;
    SiTime first;
    SiTime last;
    bool has_offset = false;
    int offset_minutes = 0;  // local time ahead of the clock
    u32 country_code = 0;    // of the entry the offset is from
};

// A section of PID 0x0014 into the clock. True when it gave a time.
bool TakeClockSection(BroadcastClock *clock, const Section &section);

}  // namespace pidsift

#endif  // PIDSIFT_TRANSPORT_STREAM_DRIVERS_GUIDE_H
