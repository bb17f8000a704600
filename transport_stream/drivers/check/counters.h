// The check's per-PID counters: what each packet reads and writes of its PID kept together in
// one small record, and the tallies that only the rare packets (damaged, scrambled, a break)
// touch kept apart.
#ifndef PIDSIFT_TRANSPORT_STREAM_DRIVERS_CHECK_COUNTERS_H
#define PIDSIFT_TRANSPORT_STREAM_DRIVERS_CHECK_COUNTERS_H

#include <memory>

#include <pidsift/check.h>
#include <pidsift/ts.h>

namespace pidsift {

// Bits of CheckPidState::u8State.
constexpr u8 kCounterBits = 0x0F;
constexpr u8 kCounterSeen = 0x10;  // a packet with payload came: the counter bits are its counter
constexpr u8 kRepeated = 0x20;     // the last counter has been repeated once already
constexpr u8 kScrambled = 0x40;    // the last packet was scrambled

// What each packet reads and writes of its PID: 16 bytes.
struct CheckPidState {
    u64 u64Packets;
    u32 u32PCRs;      // at 25 a second, 5 years of them
    u16 u16Timeline;  // of the check's clock (CheckClock), 0 for none yet
    u8 u8State;       // kCounterBits, kCounterSeen, kRepeated, kScrambled
};

struct CheckPidTallies {
    u64 u64ContinuityErrors;
    u64 u64TransportErrors;
    u64 u64Scrambled;
    u64 u64CRCErrors;
};

struct CheckCounters {
    CheckCounters() : ltState(new CheckPidState[8192]()), ltTallies(new CheckPidTallies[8192]()) {}

    std::unique_ptr<CheckPidState[]> ltState;
    std::unique_ptr<CheckPidTallies[]> ltTallies;
};

// Where the findings of the checks are counted (TS_CHECK_...): by the run, which knows the packet
// in hand.
class CheckFindings {
public:
    virtual void Count(int which) = 0;
    // A finding kept aside (a program's PMT silences before its first PMT) counted once one is
    // due: here, the packet in hand is its place.
    virtual void Note(CheckFinding *aside) const = 0;
    // A finding kept aside joins a check's (TS_CHECK_...), or the absent programs' PMT silences
    // (kAbsentPMT).
    virtual void Join(int which, const CheckFinding &aside) = 0;
    static constexpr int kAbsentPMT = TS_CHECK_COUNT;

protected:
    ~CheckFindings() = default;
};

}  // namespace pidsift

#endif  // PIDSIFT_TRANSPORT_STREAM_DRIVERS_CHECK_COUNTERS_H
