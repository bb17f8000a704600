// The recording check: one pass that counts, per PID and for the whole file, what a damaged or
// incomplete recording shows (lost sync, continuity breaks, transport errors, scrambling, bad
// CRC_32, late tables, streams that do not come), times the recording by its PCRs, and reports
// the programs of the last PAT.
#include <bit>
#include <cstring>
#include <type_traits>

#include "common/crc.h"
#include "common/hook.h"
#include "drivers/driver.h"
#include "drivers/text_family.h"

namespace {

// ---------------------------------------------------------------------------------------------
// Sections on the checked PIDs
// ---------------------------------------------------------------------------------------------

// section_length has 12 bits: a section is at most 3 + 4,095 bytes long.
constexpr u32 kSectionMax = 3 + 0xFFF;

// One PID's section in progress. Unlike the drivers' importers, this collector takes the tail
// of a section that stands between pointer_field and the next section, and every section that
// follows in the packet, as SI tables are packed back to back: each complete section is checked
// once.
struct TS_CheckSection {
    u16 u16Length;  // 3 + section_length, 0 while the first three bytes are not all in
    u16 u16Collected;
    u8 u8Counter;  // continuity_counter of the last packet with payload; 0xFF before any
    u8 u8Busy;     // a section is in progress
    u8 lu8Bytes[kSectionMax];
};

// Appends up to count bytes to the section in progress and returns how many it took. A section
// that completes is handed to on_section and the collector is idle again.
template <class OnSection>
u32 TS_CheckSection_Take(TS_CheckSection *section, const u8 *bytes, u32 count, OnSection &on_section)
{
    u32 used = 0;
    if (section->u16Length == 0) {
        const u32 wanted = 3u - section->u16Collected;
        const u32 header = count < wanted ? count : wanted;
        std::memcpy(section->lu8Bytes + section->u16Collected, bytes, header);
        section->u16Collected = u16(section->u16Collected + header);
        used = header;
        if (section->u16Collected < 3)
            return used;
        section->u16Length = u16(3 + TS_Read12(section->lu8Bytes + 1));
    }
    const u32 remaining = u32(section->u16Length - section->u16Collected);
    const u32 take = count - used < remaining ? count - used : remaining;
    std::memcpy(section->lu8Bytes + section->u16Collected, bytes + used, take);
    section->u16Collected = u16(section->u16Collected + take);
    used += take;
    if (section->u16Collected == section->u16Length) {
        section->u8Busy = 0;
        on_section(section->lu8Bytes, u32(section->u16Length));
    }
    return used;
}

void TS_CheckSection_Begin(TS_CheckSection *section)
{
    section->u8Busy = 1;
    section->u16Length = 0;
    section->u16Collected = 0;
}

// Takes one packet of the collector's PID. A packet that repeats the last counter is a
// duplicate and adds nothing; any other break of the counter drops the section in progress.
template <class OnSection> void TS_CheckSection_Feed(TS_CheckSection *section, const u8 *packet, OnSection &&on_section)
{
    const u8 control = packet[3];
    if ((control & 0x10) == 0)
        return;  // no payload
    u32 at = 4;
    if (control & 0x20)
        at += 1u + packet[4];
    if (at >= TS_PACKET_SIZE)
        return;
    const u8 counter = control & 0x0F;
    if (counter == section->u8Counter)
        return;
    const bool follows = section->u8Counter != 0xFF && counter == ((section->u8Counter + 1) & 0x0F);
    section->u8Counter = counter;
    if (!follows)
        section->u8Busy = 0;
    const u8 *payload = packet + at;
    u32 count = TS_PACKET_SIZE - at;
    if ((packet[1] & 0x40) == 0) {
        // No section starts here: what follows the end of one is stuffing.
        if (section->u8Busy)
            TS_CheckSection_Take(section, payload, count, on_section);
        return;
    }
    const u32 pointer = payload[0];
    ++payload;
    --count;
    if (pointer > count) {
        section->u8Busy = 0;
        return;
    }
    // The bytes before the first new section end the one in progress, or were stuffing.
    if (section->u8Busy)
        TS_CheckSection_Take(section, payload, pointer, on_section);
    section->u8Busy = 0;
    payload += pointer;
    count -= pointer;
    // Sections back to back, until stuffing (table_id 0xFF) or the end of the packet.
    while (count > 0 && payload[0] != 0xFF) {
        TS_CheckSection_Begin(section);
        const u32 used = TS_CheckSection_Take(section, payload, count, on_section);
        if (section->u8Busy)
            break;  // continues in the next packet
        payload += used;
        count -= used;
    }
}

// ---------------------------------------------------------------------------------------------
// Clocks
// ---------------------------------------------------------------------------------------------

constexpr u64 kPCRWrap = (u64(1) << 33) * 300;  // the 27 MHz value wraps with the 33-bit base
constexpr u64 kTicksPerSecond = 27000000;
// How often the PIDs' silences of 5 s are looked at (the tables' are looked at when due).
constexpr u64 kPIDScanInterval = kTicksPerSecond / 2;

// The PCRs of one PID, laid end to end.
struct TS_CheckClock {
    u16 u16PID;
    u64 u64Last;     // the last PCR, in 27 MHz ticks
    u64 u64Elapsed;  // ticks since the first, jumps left out
    u64 u64Count;
    u64 u64FirstPacket;
    u64 u64LastPacket;
    u64 u64Jumps;
    // While another PID is the check's clock: this clock's elapsed at its first PCR after the
    // other's last, and the other's PCR count then.
    u64 u64Anchor;
    u64 u64SeenCount;
};

// Clocks are kept for this many PCR PIDs; the PCRs of further ones are only counted.
constexpr u32 kClocks = 32;

// A table or PID that must come again within a limit.
struct TS_CheckWatch {
    u64 u64Last;  // time of the last arrival (or of the start of the watch)
    u8 u8Late;    // the present silence has been counted
};

// ---------------------------------------------------------------------------------------------
// The run
// ---------------------------------------------------------------------------------------------

// What a PID's packets are handed to besides the counters.
constexpr u8 kKindPAT = 0x01;
constexpr u8 kKindCAT = 0x02;
constexpr u8 kKindPMT = 0x04;
constexpr u8 kKindSections = 0x08;  // sections checked for their CRC_32 only
constexpr u8 kKindSDT = 0x10;       // the actual SDT is decoded for the service names
constexpr u8 kKindNIT = 0x20;       // the actual NIT is decoded for the network name
constexpr u8 kKindFamily = 0x40;    // section starts looked at for the text family (ARIB tables)

// Bits of TS_CheckHot::u8State.
constexpr u8 kCounterBits = 0x0F;
constexpr u8 kSeen = 0x10;       // a packet with payload came: the counter bits are its counter
constexpr u8 kRepeated = 0x20;   // the last counter has been repeated once already
constexpr u8 kScrambled = 0x40;  // the last packet was scrambled

// What each packet reads and writes of its PID, in one place.
struct TS_CheckHot {
    u64 u64Packets;
    u8 u8State;   // kCounterBits, kSeen, kRepeated, kScrambled
    u8 u8Kind;    // what the PID's sections are collected for, 0 for nothing
    u8 u8Slot;    // 1 + the collector of the PID, 0 for none yet
    u8 u8Clock;   // 1 + the clock of the PID, 0 for none yet
    u32 u32PCRs;  // at 25 a second, 5 years of them
};

// Sections are collected on this many PIDs; further PIDs are not checked.
constexpr u32 kSlots = 64;

// PIDs whose sections are checked by their number: PAT, CAT, NIT, SDT/BAT, EIT, RST, TDT/TOT,
// DIT and SIT.
constexpr u16 kFixedSectionPIDs[] = {0x0010, 0x0011, 0x0012, 0x0013, 0x0014, 0x001E, 0x001F};

struct TS_Check {
    TS_CheckReport *pReport;
    TS_Sync tSync;
    u64 u64Index;  // index of the packet in hand off the common path; the packet count at the end
    u64 u64SeenLosses;

    TS_CheckHot ltHot[8192];
    u32 u32Slots;
    TS_CheckSection ltSlot[kSlots];

    u32 u32Clocks;
    TS_CheckClock ltClock[kClocks];
    TS_CheckClock *pReference;  // the clock that times the checks, null before the first PCR
    u64 u64Base;                // time at which the reference took over
    u64 u64RefAnchor;           // the reference's elapsed then
    u64 u64Now;
    u64 u64TableDue;  // the earliest limit of the tables' silences
    u64 u64PIDScan;

    // The tables in force.
    TS_SectionGate tGate;
    TS_PAT tPAT;
    TS_PMT ltPMT[TS_MAX_PROGRAMS];  // element k: the PMT of PAT position k
    u32 lu32PMTCRC[TS_MAX_PROGRAMS];
    TS_PIDMap tMap;
    u16 u16EMMPID;
    u16 u16NetworkPID;
    u16 u16Dynamic;  // PIDs given a kind by the tables
    u16 lu16Dynamic[TS_MAX_PROGRAMS * 2 + 2];

    TS_CheckWatch tPATWatch;
    TS_CheckWatch ltPMTWatch[TS_MAX_PROGRAMS];
    // PCR, video and audio PIDs of the PMTs in force, each with its packet count at the last
    // look and the watch over its silences.
    u16 u16Watched;
    u16 lu16Watched[TS_MAX_PROGRAMS * (1 + TS_MAX_STREAMS)];
    u8 lu8Watched[8192];
    u64 lu64WatchCount[8192];
    TS_CheckWatch ltPIDWatch[8192];

    // Events.
    TS_CheckEvent tEvent;
    u8 lu8Entry[TS_MAX_PROGRAMS];  // the event entry of each PAT position
    u64 u64NextSecond;
    // The entries' packets at the last tick of the clock: the packets after it have no time.
    u16 u16AtTick;
    u64 lu64AtTick[2 * TS_MAX_PROGRAMS];

    // Decoding.
    TS_PreSection tSection;
    TS_PAT tNewPAT;
    TS_CAT tCAT;

    // Names: the services of the actual SDT, the last network name, and the text family.
    TS_SDT tSDT;
    TS_SDTServices tServices;
    TS_NIT tNIT;
    TS_FamilyVote tFamily;
};

TS_Check g_tCheck;
TS_Hook<TS_CheckHook> g_tCheckHook;

void TS_Check_Count(TS_Check *check, int which, u64 packet)
{
    TS_CheckCount &count = check->pReport->ltCheck[which];
    if (count.u64Count++ == 0)
        count.u64FirstPacket = packet;
}

void TS_Check_Emit(TS_Check *check, u8 kind, u16 pid, u64 packet)
{
    if (!g_tCheckHook)
        return;
    TS_CheckEvent &event = check->tEvent;
    event.u8Kind = kind;
    event.u16PID = pid;
    event.u64Packet = packet;
    event.u64Time = check->u64Now;
    g_tCheckHook(static_cast<const TS_CheckEvent *>(&event));
}

bool TS_Check_IsVideo(u8 stream_type)
{
    switch (stream_type) {
    case 0x01:
    case 0x02:
    case 0x10:
    case 0x1B:
    case 0x1E:
    case 0x1F:
    case 0x20:
    case 0x21:
    case 0x24:
    case 0x25:
        return true;
    default:
        return false;
    }
}

bool TS_Check_IsAudio(u8 stream_type)
{
    switch (stream_type) {
    case 0x03:
    case 0x04:
    case 0x0F:
    case 0x11:
    case 0x1C:
    case 0x2D:
    case 0x2E:
    case 0x81:
    case 0x87:
        return true;
    default:
        return false;
    }
}

// ---- Silences ------------------------------------------------------------------------------

// The tables' silences are looked at once the earliest of them may have passed its limit.
void TS_Check_TableDue(TS_Check *check, const TS_CheckWatch *watch)
{
    if (watch->u64Last + TS_CHECK_TABLE_INTERVAL < check->u64TableDue)
        check->u64TableDue = watch->u64Last + TS_CHECK_TABLE_INTERVAL;
}

// An arrival of what the watch waits for. Without a clock nothing is timed.
void TS_Check_Arrive(TS_Check *check, TS_CheckWatch *watch, u64 limit, int which)
{
    if (check->pReference != nullptr && !watch->u8Late && check->u64Now - watch->u64Last > limit)
        TS_Check_Count(check, which, check->u64Index);
    const bool was_late = watch->u8Late;
    watch->u64Last = check->u64Now;
    watch->u8Late = 0;
    if (was_late)
        TS_Check_TableDue(check, watch);  // a late watch had left the earliest limit
}

void TS_Check_Wait(TS_Check *check, TS_CheckWatch *watch, u64 limit, int which)
{
    if (!watch->u8Late && check->u64Now - watch->u64Last > limit) {
        TS_Check_Count(check, which, check->u64Index);
        watch->u8Late = 1;
    }
}

void TS_Check_StartWatch(TS_Check *check, TS_CheckWatch *watch)
{
    watch->u64Last = check->u64Now;
    watch->u8Late = 0;
}

void TS_Check_StartTableWatch(TS_Check *check, TS_CheckWatch *watch)
{
    TS_Check_StartWatch(check, watch);
    TS_Check_TableDue(check, watch);
}

// Looks at the silences of the PAT and of each program's PMT, and finds the next limit.
void TS_Check_ScanTables(TS_Check *check)
{
    check->u64TableDue = ~u64(0);
    auto look = [&](TS_CheckWatch *watch, int which) {
        TS_Check_Wait(check, watch, TS_CHECK_TABLE_INTERVAL, which);
        if (!watch->u8Late)
            TS_Check_TableDue(check, watch);
    };
    look(&check->tPATWatch, TS_CHECK_PAT);
    const TS_PAT &pat = check->tPAT;
    const u16 programs =
        pat.u8Valid ? (pat.u16ProgramCount < TS_MAX_PROGRAMS ? pat.u16ProgramCount : TS_MAX_PROGRAMS) : 0;
    for (u16 k = 0; k < programs; ++k)
        if (pat.ltProgram[k].program_number != 0)
            look(&check->ltPMTWatch[k], TS_CHECK_PMT);
}

// Looks at the watched PIDs: a packet count that moved ends a silence.
void TS_Check_ScanPIDs(TS_Check *check)
{
    for (u16 i = 0; i < check->u16Watched; ++i) {
        const u16 pid = check->lu16Watched[i];
        const u64 packets = check->ltHot[pid].u64Packets;
        if (packets != check->lu64WatchCount[pid]) {
            check->lu64WatchCount[pid] = packets;
            TS_Check_StartWatch(check, &check->ltPIDWatch[pid]);
        } else {
            TS_Check_Wait(check, &check->ltPIDWatch[pid], TS_CHECK_PID_INTERVAL, TS_CHECK_PID);
        }
    }
}

// ---- Per-program packets for the events ------------------------------------------------------

// The event entry of program_number, added when it is not there yet.
u8 TS_Check_Entry(TS_Check *check, u16 program_number)
{
    TS_CheckEvent &event = check->tEvent;
    for (u16 i = 0; i < event.u16ProgramCount; ++i)
        if (event.lu16ProgramNumber[i] == program_number)
            return u8(i);
    if (event.u16ProgramCount >= 2 * TS_MAX_PROGRAMS)
        return 0xFF;
    event.lu16ProgramNumber[event.u16ProgramCount] = program_number;
    event.lu64ProgramPackets[event.u16ProgramCount] = 0;
    return u8(event.u16ProgramCount++);
}

// Points each position of the PAT in force at its program's entry.
void TS_Check_MapEntries(TS_Check *check)
{
    const TS_PAT &pat = check->tPAT;
    for (u16 k = 0; k < TS_MAX_PROGRAMS; ++k) {
        const bool listed = pat.u8Valid && k < pat.u16ProgramCount && pat.ltProgram[k].program_number != 0;
        check->lu8Entry[k] = listed ? TS_Check_Entry(check, pat.ltProgram[k].program_number) : 0xFF;
    }
}

void TS_Check_EmitSecond(TS_Check *check)
{
    TS_Check_Emit(check, TS_CHECK_EVENT_SECOND, TS_NO_PID, check->u64Index);
    check->tEvent.u16ProgramCount = 0;
    TS_Check_MapEntries(check);
}

inline void TS_Check_CountForPrograms(TS_Check *check, u16 pid)
{
    const TS_PIDRoles &roles = check->tMap.ltRole[pid];
    for (u32 positions = u32(roles.u16PMT | TS_PIDRoles_Members(roles)); positions != 0; positions &= positions - 1) {
        const u8 entry = check->lu8Entry[TS_FirstPosition(positions)];
        if (entry != 0xFF)
            ++check->tEvent.lu64ProgramPackets[entry];
    }
}

// ---- The clock -----------------------------------------------------------------------------

// The check's clock moved on to u64Now.
void TS_Check_Tick(TS_Check *check)
{
    if (g_tCheckHook) {
        if (check->u64Now >= check->u64NextSecond) {
            TS_Check_EmitSecond(check);
            check->u64NextSecond = (check->u64Now / kTicksPerSecond + 1) * kTicksPerSecond;
        }
        const TS_CheckEvent &event = check->tEvent;
        check->u16AtTick = event.u16ProgramCount;
        std::memcpy(check->lu64AtTick, event.lu64ProgramPackets,
                    event.u16ProgramCount * sizeof event.lu64ProgramPackets[0]);
    }
    if (check->u64Now > check->u64TableDue)
        TS_Check_ScanTables(check);
    if (check->u64Now - check->u64PIDScan >= kPIDScanInterval) {
        check->u64PIDScan = check->u64Now;
        TS_Check_ScanPIDs(check);
    }
}

TS_CheckClock *TS_Check_ClockOf(TS_Check *check, u16 pid, TS_CheckHot *hot)
{
    u8 &slot = hot->u8Clock;
    if (slot == 0) {
        if (check->u32Clocks >= kClocks)
            return nullptr;
        TS_CheckClock &clock = check->ltClock[check->u32Clocks];
        std::memset(&clock, 0, sizeof clock);
        clock.u16PID = pid;
        slot = u8(++check->u32Clocks);
    }
    return &check->ltClock[slot - 1];
}

// A PCR of pid. PCRs step by the time between them; a step backwards (which wraps to a huge
// one), one over a second, or one announced by discontinuity_indicator starts a new segment.
// The PCR of a packet that arrived damaged is counted, not used: its clock may be wrong.
void TS_Check_OnPCR(TS_Check *check, u16 pid, TS_CheckHot *hot, const u8 *packet)
{
    ++hot->u32PCRs;
    if (packet[1] & 0x80)
        return;
    TS_CheckClock *clock = TS_Check_ClockOf(check, pid, hot);
    if (clock == nullptr)
        return;
    const u64 base = (u64(packet[6]) << 25) | (u64(packet[7]) << 17) | (u64(packet[8]) << 9) | (u64(packet[9]) << 1) |
                     (packet[10] >> 7);
    u64 pcr = base * 300 + ((u64(packet[10] & 0x01) << 8) | packet[11]);
    if (pcr >= kPCRWrap)
        pcr -= kPCRWrap;  // an extension over 299 on the last base value
    if (clock->u64Count == 0) {
        clock->u64FirstPacket = check->u64Index;
    } else {
        const u64 step = pcr >= clock->u64Last ? pcr - clock->u64Last : pcr + kPCRWrap - clock->u64Last;
        if ((packet[5] & 0x80) != 0 || step > kTicksPerSecond)
            ++clock->u64Jumps;
        else
            clock->u64Elapsed += step;
    }
    clock->u64Last = pcr;
    ++clock->u64Count;
    clock->u64LastPacket = check->u64Index;

    TS_CheckClock *reference = check->pReference;
    if (reference == nullptr) {
        check->pReference = clock;
        check->u64Base = 0;
        check->u64RefAnchor = clock->u64Elapsed;
        check->pReport->u8IntervalsTimed = 1;
    } else if (reference != clock) {
        if (clock->u64SeenCount != reference->u64Count) {
            clock->u64SeenCount = reference->u64Count;
            clock->u64Anchor = clock->u64Elapsed;
            return;
        }
        if (clock->u64Elapsed - clock->u64Anchor <= kTicksPerSecond)
            return;
        // The reference has been silent for a second of this clock: this one takes over.
        check->u64Base = check->u64Now + (clock->u64Elapsed - clock->u64Anchor);
        check->u64RefAnchor = clock->u64Elapsed;
        check->pReference = clock;
    }
    check->u64Now = check->u64Base + (clock->u64Elapsed - check->u64RefAnchor);
    TS_Check_Tick(check);
}

// ---- Tables --------------------------------------------------------------------------------

void TS_Check_SetKind(TS_Check *check, u16 pid, u8 kind)
{
    pid &= 0x1FFF;
    if (pid == 0x0000 || pid == 0x1FFF)
        return;
    if (check->u16Dynamic < sizeof check->lu16Dynamic / sizeof check->lu16Dynamic[0])
        check->lu16Dynamic[check->u16Dynamic++] = pid;
    check->ltHot[pid].u8Kind |= kind;
}

void TS_Check_ResetKinds(TS_Check *check)
{
    for (u16 i = 0; i < check->u16Dynamic; ++i)
        check->ltHot[check->lu16Dynamic[i]].u8Kind = 0;
    check->u16Dynamic = 0;
    check->ltHot[0x0000].u8Kind = kKindPAT;
    check->ltHot[0x0001].u8Kind = kKindCAT;
    for (u16 pid : kFixedSectionPIDs)
        check->ltHot[pid].u8Kind = kKindSections;
    check->ltHot[0x0010].u8Kind |= kKindNIT;
    check->ltHot[0x0011].u8Kind |= kKindSDT;
    for (u16 pid = 0x0020; pid < 0x0030; ++pid)
        if (TS_FamilyVote_WatchesPID(pid))
            check->ltHot[pid].u8Kind |= kKindFamily;
}

// The PAT, PMTs and CAT in force changed: the PID roles, what is collected where, and which
// PIDs are watched follow.
void TS_Check_Rebuild(TS_Check *check)
{
    TS_PIDMap_Build(&check->tMap, &check->tPAT, check->ltPMT);
    TS_Check_ResetKinds(check);
    const TS_PAT &pat = check->tPAT;
    const u16 programs = pat.u16ProgramCount < TS_MAX_PROGRAMS ? pat.u16ProgramCount : TS_MAX_PROGRAMS;
    check->u16NetworkPID = TS_NO_PID;
    for (u16 k = 0; k < programs; ++k) {
        const TS_PATProgram &entry = pat.ltProgram[k];
        if (entry.program_number == 0) {
            if (check->u16NetworkPID == TS_NO_PID)
                check->u16NetworkPID = entry.PID & 0x1FFF;
            TS_Check_SetKind(check, entry.PID, kKindSections | kKindNIT);
        } else {
            TS_Check_SetKind(check, entry.PID, kKindPMT);
        }
        u16 ca_pid = TS_NO_PID;
        if (check->ltPMT[k].u8Valid && TS_GetCAPIDFromPMT(&ca_pid, &check->ltPMT[k]) == 0 && ca_pid != TS_NO_PID)
            TS_Check_SetKind(check, ca_pid, kKindSections);
    }
    if (check->u16EMMPID != TS_NO_PID)
        TS_Check_SetKind(check, check->u16EMMPID, kKindSections);

    // Watched PIDs: those watched before keep their silence, new ones start theirs now.
    u16 count = 0;
    u16 watched[TS_MAX_PROGRAMS * (1 + TS_MAX_STREAMS)];
    auto watch = [&](u16 pid) {
        pid &= 0x1FFF;
        if (pid == 0x0000 || pid == 0x1FFF || check->lu8Watched[pid] == 2)
            return;
        if (check->lu8Watched[pid] == 0) {
            check->lu64WatchCount[pid] = check->ltHot[pid].u64Packets;
            TS_Check_StartWatch(check, &check->ltPIDWatch[pid]);
        }
        check->lu8Watched[pid] = 2;
        watched[count++] = pid;
    };
    for (u16 k = 0; k < programs; ++k) {
        const TS_PMT &pmt = check->ltPMT[k];
        if (pat.ltProgram[k].program_number == 0 || !pmt.u8Valid)
            continue;
        watch(pmt.PCR_PID);
        const u16 streams = pmt.u16StreamCount < TS_MAX_STREAMS ? pmt.u16StreamCount : TS_MAX_STREAMS;
        for (u16 i = 0; i < streams; ++i)
            if (TS_Check_IsVideo(pmt.ltStream[i].stream_type) || TS_Check_IsAudio(pmt.ltStream[i].stream_type))
                watch(pmt.ltStream[i].elementary_PID);
    }
    for (u16 i = 0; i < check->u16Watched; ++i)
        if (check->lu8Watched[check->lu16Watched[i]] == 1)
            check->lu8Watched[check->lu16Watched[i]] = 0;  // no longer named
    for (u16 i = 0; i < count; ++i)
        check->lu8Watched[watched[i]] = 1;
    std::memcpy(check->lu16Watched, watched, count * sizeof watched[0]);
    check->u16Watched = count;
    if (g_tCheckHook)
        TS_Check_MapEntries(check);
}

// Loads a complete section into the decoders' reassembly record; false when it is longer than
// that record holds (no PAT, CAT or PMT is).
bool TS_Check_Load(TS_Check *check, const u8 *bytes, u32 length)
{
    if (length > TS_SECTION_CAPACITY)
        return false;
    TS_PreSection &section = check->tSection;
    std::memcpy(section.lu8Section, bytes, length);
    section.u16Length = u16(length);
    section.u16Collected = u16(length);
    section.u8Complete = 1;
    return true;
}

void TS_Check_OnPAT(TS_Check *check)
{
    TS_PAT &fresh = check->tNewPAT;
    TS_PAT_FromPreSection(&fresh, &check->tSection);
    TS_Check_Arrive(check, &check->tPATWatch, TS_CHECK_TABLE_INTERVAL, TS_CHECK_PAT);
    TS_PAT &pat = check->tPAT;
    const u16 old_count =
        pat.u8Valid ? (pat.u16ProgramCount < TS_MAX_PROGRAMS ? pat.u16ProgramCount : TS_MAX_PROGRAMS) : 0;
    const u16 new_count = fresh.u16ProgramCount < TS_MAX_PROGRAMS ? fresh.u16ProgramCount : TS_MAX_PROGRAMS;
    bool same = pat.u8Valid && old_count == new_count;
    for (u16 k = 0; k < TS_MAX_PROGRAMS; ++k) {
        const bool kept = k < old_count && k < new_count &&
                          pat.ltProgram[k].program_number == fresh.ltProgram[k].program_number &&
                          pat.ltProgram[k].PID == fresh.ltProgram[k].PID;
        same = same && (kept || k >= new_count);
        if (kept)
            continue;
        // Another program, or another PMT PID, at this position: its PMT is awaited afresh.
        check->ltPMT[k].u8Valid = 0;
        check->lu32PMTCRC[k] = 0;
        TS_Check_StartTableWatch(check, &check->ltPMTWatch[k]);
    }
    if (same)
        return;
    std::memcpy(&pat, &fresh, sizeof pat);
    TS_Check_Rebuild(check);
}

void TS_Check_OnCAT(TS_Check *check)
{
    TS_CAT_FromPreSection(&check->tCAT, &check->tSection);
    u16 emm_pid = TS_NO_PID;
    TS_GetCAPIDFromCAT(&emm_pid, &check->tCAT);
    if (emm_pid != TS_NO_PID)
        emm_pid &= 0x1FFF;
    if (emm_pid == check->u16EMMPID)
        return;
    check->u16EMMPID = emm_pid;
    TS_Check_Rebuild(check);
}

// A PMT section on pid: each PAT position that follows this PID and program takes it.
void TS_Check_OnPMT(TS_Check *check, u16 pid, const u8 *bytes, u32 crc)
{
    const u16 program_number = TS_Read16(bytes + 3);
    bool changed = false;
    for (u32 positions = check->tMap.ltRole[pid].u16PMT; positions != 0; positions &= positions - 1) {
        const int k = TS_FirstPosition(positions);
        if (check->tPAT.ltProgram[k].program_number != program_number)
            continue;
        TS_Check_Arrive(check, &check->ltPMTWatch[k], TS_CHECK_TABLE_INTERVAL, TS_CHECK_PMT);
        if (check->ltPMT[k].u8Valid && check->lu32PMTCRC[k] == crc)
            continue;  // the PMT in force, repeated
        TS_PMT_FromPreSection(&check->ltPMT[k], &check->tSection, pid);
        TS_FamilyVote_NotePMT(&check->tFamily, &check->ltPMT[k]);
        check->lu32PMTCRC[k] = crc;
        changed = true;
    }
    if (changed)
        TS_Check_Rebuild(check);
}

// An actual SDT section: its services join those of its sections before.
void TS_Check_OnSDT(TS_Check *check)
{
    TS_SDT_FromPreSection(&check->tSDT, &check->tSection);
    TS_FamilyVote_NoteSDT(&check->tFamily, &check->tSDT);
    TS_SDTServices_Add(&check->tServices, &check->tSDT);
}

// An actual NIT section: the network name, when it carries one.
void TS_Check_OnNIT(TS_Check *check)
{
    TS_NIT &nit = check->tNIT;
    TS_NIT_FromPreSection(&nit, &check->tSection);
    TS_FamilyVote_NoteNIT(&check->tFamily, &nit);
    if (!nit.u8HasNetworkName || !nit.current_next_indicator)
        return;
    TS_CheckReport *report = check->pReport;
    report->u8HasNetworkName = 1;
    report->u16NetworkID = nit.network_id;
    report->u8NetworkNameCount = nit.u8NetworkNameCount;
    std::memcpy(report->lu8NetworkName, nit.lu8NetworkName, nit.u8NetworkNameCount);
}

// A complete section collected on pid.
void TS_Check_OnSection(TS_Check *check, u16 pid, u8 kind, const u8 *bytes, u32 length)
{
    const u8 table_id = bytes[0];
    const bool long_form = (bytes[1] & 0x80) != 0;
    // The PAT, CAT and PMT end in a CRC_32 whatever their indicator says, and so does the TOT.
    const bool has_crc = long_form || table_id <= 0x02 || table_id == 0x73;
    const bool room = length >= 3u + 4u + (long_form ? 5u : 0u);
    const bool checked = has_crc && room;
    const bool intact = !checked || TS_CRC32(bytes, length) == 0;
    if (!intact) {
        ++check->pReport->ltPID[pid].u64CRCErrors;
        TS_Check_Count(check, TS_CHECK_CRC, check->u64Index);
    }
    const bool sdt = (kind & kKindSDT) && table_id == 0x42;
    const bool nit = (kind & kKindNIT) && table_id == 0x40;
    if (kind & kKindPAT) {
        if (table_id != 0x00) {
            TS_Check_Count(check, TS_CHECK_PAT, check->u64Index);
            return;
        }
    } else if (!((kind & kKindCAT) && table_id == 0x01) && !((kind & kKindPMT) && table_id == 0x02) && !sdt && !nit) {
        return;
    }
    // The gate of the other drivers (TS_SectionGate_Accept), on the CRC_32 computed above: once a
    // PID has delivered an intact section, a damaged one is not used.
    u8 &trusted = check->tGate.lu8Trusted[pid];
    if (checked && intact)
        trusted = 1;
    if (!room || (!intact && trusted) || !TS_Check_Load(check, bytes, length))
        return;
    if (sdt)
        TS_Check_OnSDT(check);
    else if (nit)
        TS_Check_OnNIT(check);
    else if (table_id == 0x00)
        TS_Check_OnPAT(check);
    else if (table_id == 0x01)
        TS_Check_OnCAT(check);
    else if (check->tPAT.u8Valid)
        TS_Check_OnPMT(check, pid, bytes, TS_Read32(bytes + length - 4));
}

// A packet on a PID whose sections are collected, or looked at for the text family.
void TS_Check_OnTablePacket(TS_Check *check, u16 pid, u8 kind, const u8 *packet)
{
    if (kind & kKindFamily) {
        TS_FamilyVote_NotePacket(&check->tFamily, packet);
        if ((kind & ~kKindFamily) == 0)
            return;
    }
    if ((packet[3] & 0xC0) != 0) {
        if (kind & kKindPAT)
            TS_Check_Count(check, TS_CHECK_PAT, check->u64Index);
        if (kind & kKindPMT)
            TS_Check_Count(check, TS_CHECK_PMT, check->u64Index);
    }
    u8 &slot = check->ltHot[pid].u8Slot;
    if (slot == 0) {
        if (check->u32Slots >= kSlots)
            return;
        TS_CheckSection &section = check->ltSlot[check->u32Slots];
        section.u8Counter = 0xFF;
        section.u8Busy = 0;
        slot = u8(++check->u32Slots);
    }
    TS_CheckSection_Feed(&check->ltSlot[slot - 1], packet, [&](const u8 *bytes, u32 length) {
        // A section may change what the PID is collected for (a PAT moving a PMT away).
        const u8 now = check->ltHot[pid].u8Kind;
        TS_Check_OnSection(check, pid, now != 0 ? now : kind, bytes, length);
    });
}

// ---- Packets -------------------------------------------------------------------------------

// A packet flagged damaged or scrambled, or the first clear one after scrambled ones.
void TS_Check_OnRareState(TS_Check *check, u16 pid, u8 header1, u8 control, u8 *state)
{
    const u64 index = check->u64Index;
    TS_CheckPID &counts = check->pReport->ltPID[pid];
    if (header1 & 0x80) {
        ++counts.u64TransportErrors;
        TS_Check_Count(check, TS_CHECK_TRANSPORT, index);
        TS_Check_Emit(check, TS_CHECK_EVENT_TRANSPORT, pid, index);
    }
    const bool scrambled = (control & 0xC0) != 0;
    if (scrambled)
        ++counts.u64Scrambled;
    if (scrambled != ((*state & kScrambled) != 0)) {
        *state = u8(*state ^ kScrambled);
        TS_Check_Emit(check, scrambled ? TS_CHECK_EVENT_SCRAMBLED : TS_CHECK_EVENT_CLEAR, pid, index);
    }
}

// A counter other than the next one: a duplicate packet (the last counter once more, allowed
// once), a fresh start announced by discontinuity_indicator, or a break. Returns the PID's new
// state.
u8 TS_Check_OnCounter(TS_Check *check, u16 pid, u64 index, u8 state, u8 counter, bool discontinuity)
{
    if (counter == (state & kCounterBits) && !(state & kRepeated) && !discontinuity)
        return state | kRepeated;
    if (!discontinuity) {
        ++check->pReport->ltPID[pid].u64ContinuityErrors;
        TS_Check_Count(check, TS_CHECK_CONTINUITY, index);
        TS_Check_Emit(check, TS_CHECK_EVENT_CONTINUITY, pid, index);
    }
    return u8((state & kScrambled) | kSeen | counter);
}

// The sync tallies change only between two packets, at a loss and at the hunt after it: the
// first loss shows at the first packet found after it, and so does the first bad sync byte.
void TS_Check_OnSyncLoss(TS_Check *check)
{
    if (check->u64SeenLosses == 0) {
        check->pReport->ltCheck[TS_CHECK_SYNC_LOSS].u64FirstPacket = check->u64Index;
        check->pReport->ltCheck[TS_CHECK_SYNC_BYTE].u64FirstPacket = check->u64Index;
    }
    check->u64SeenLosses = check->tSync.u64Losses;
}

// kEvents: a hook takes events, so each packet also counts for its programs.
// index: the packet's, kept by the caller; the paths off the common one find it in u64Index.
template <bool kEvents> inline void TS_Check_OnPacket(TS_Check *check, const u8 *packet, u64 index)
{
    const u8 header1 = packet[1];
    const u8 control = packet[3];
    const u16 pid = u16(((header1 & 0x1F) << 8) | packet[2]);
    TS_CheckHot &hot = check->ltHot[pid];
    ++hot.u64Packets;
    u8 state = hot.u8State;
    if (((header1 & 0x80) | (control & 0xC0) | (state & kScrambled)) != 0) {
        check->u64Index = index;
        TS_Check_OnRareState(check, pid, header1, control, &state);
    }

    bool discontinuity = false;
    if ((control & 0x20) && packet[4] != 0) {
        const u8 flags = packet[5];
        discontinuity = (flags & 0x80) != 0;
        if ((flags & 0x10) && packet[4] >= 7) {
            check->u64Index = index;
            TS_Check_OnPCR(check, pid, &hot, packet);
        }
    }

    // The counter steps by one on every packet with payload; the null PID's means nothing.
    if ((control & 0x10) && pid != 0x1FFF) {
        const u8 counter = control & kCounterBits;
        if (counter != ((state + 1) & kCounterBits) && (state & kSeen))
            state = TS_Check_OnCounter(check, pid, index, state, counter, discontinuity);
        else
            state = u8((state & kScrambled) | kSeen | counter);
    }
    hot.u8State = state;

    if (hot.u8Kind != 0) {
        check->u64Index = index;
        TS_Check_OnTablePacket(check, pid, hot.u8Kind, packet);
    }
    if (check->tSync.u64Losses != check->u64SeenLosses) {
        check->u64Index = index;
        TS_Check_OnSyncLoss(check);
    }
    if (kEvents)
        TS_Check_CountForPrograms(check, pid);
}

// ---- The report ----------------------------------------------------------------------------

// The roles of the tables in force at the end, then those by number.
void TS_Check_Roles(TS_Check *check)
{
    TS_CheckReport *report = check->pReport;
    const TS_PAT &pat = check->tPAT;
    for (u32 pid = 0; pid < 8192; ++pid) {
        TS_CheckPID &entry = report->ltPID[pid];
        const TS_PIDRoles &roles = check->tMap.ltRole[pid];
        const u32 positions = u32(roles.u16PMT | TS_PIDRoles_Members(roles));
        entry.u8Role = TS_ROLE_UNREFERENCED;
        if (pid == 0x0000) {
            entry.u8Role = TS_ROLE_PAT;
        } else if (pid == 0x0001) {
            entry.u8Role = TS_ROLE_CAT;
        } else if (positions != 0 && pat.u8Valid) {
            // The strongest role it has, for the first program in PAT order that gives it.
            u16 TS_PIDRoles::*const kOrder[] = {&TS_PIDRoles::u16PMT, &TS_PIDRoles::u16Stream, &TS_PIDRoles::u16PCR,
                                                &TS_PIDRoles::u16CA};
            for (u16 TS_PIDRoles::*role : kOrder) {
                if (roles.*role == 0)
                    continue;
                const int k = TS_FirstPosition(roles.*role);
                entry.u16Program = pat.ltProgram[k].program_number;
                if (role == &TS_PIDRoles::u16PMT) {
                    entry.u8Role = TS_ROLE_PMT;
                } else if (role == &TS_PIDRoles::u16PCR) {
                    entry.u8Role = TS_ROLE_PCR;
                } else if (role == &TS_PIDRoles::u16CA) {
                    entry.u8Role = TS_ROLE_ECM;
                } else {
                    const TS_PMT &pmt = check->ltPMT[k];
                    const u16 streams = pmt.u16StreamCount < TS_MAX_STREAMS ? pmt.u16StreamCount : TS_MAX_STREAMS;
                    for (u16 i = 0; i < streams; ++i)
                        if ((pmt.ltStream[i].elementary_PID & 0x1FFF) == pid) {
                            entry.u8StreamType = pmt.ltStream[i].stream_type;
                            break;
                        }
                    entry.u8Role = TS_Check_IsVideo(entry.u8StreamType)   ? TS_ROLE_VIDEO
                                   : TS_Check_IsAudio(entry.u8StreamType) ? TS_ROLE_AUDIO
                                                                          : TS_ROLE_DATA;
                }
                entry.u16OtherPrograms = u16(std::popcount(positions) - 1);
                break;
            }
        } else if (pid == check->u16EMMPID) {
            entry.u8Role = TS_ROLE_EMM;
        } else if (pid == check->u16NetworkPID) {
            entry.u8Role = TS_ROLE_NIT;
        } else if (pid <= 0x002F) {
            entry.u8Role = TS_ROLE_SI;
        } else if (pid == 0x1FFF) {
            entry.u8Role = TS_ROLE_NULL;
        }
    }
}

void TS_Check_Programs(TS_Check *check)
{
    TS_CheckReport *report = check->pReport;
    const TS_PAT &pat = check->tPAT;
    const u16 programs =
        pat.u8Valid ? (pat.u16ProgramCount < TS_MAX_PROGRAMS ? pat.u16ProgramCount : TS_MAX_PROGRAMS) : 0;
    report->u16NetworkPID = check->u16NetworkPID;
    report->u16EMMPID = check->u16EMMPID;
    report->s32TextFamily = TS_FamilyVote_Family(&check->tFamily);
    report->u16TransportStreamID = pat.u8Valid ? pat.transport_stream_id : 0;
    report->u8HasSDT = pat.u8Valid && check->tServices.u8Valid && check->tServices.table_id == 0x42 &&
                       check->tServices.transport_stream_id == pat.transport_stream_id;
    for (u16 k = 0; k < programs; ++k) {
        if (pat.ltProgram[k].program_number == 0)
            continue;
        TS_CheckProgram &program = report->ltProgram[report->u16ProgramCount++];
        program.u16ProgramNumber = pat.ltProgram[k].program_number;
        program.u16PMTPID = pat.ltProgram[k].PID & 0x1FFF;
        program.u16PCRPID = 0x1FFF;
        program.u16ECMPID = TS_NO_PID;
        if (report->u8HasSDT) {
            const TS_SDTService *service = TS_SDTServices_Find(&check->tServices, program.u16ProgramNumber);
            if (service != nullptr) {
                program.u8HasService = 1;
                program.tService = *service;
            }
        }
        program.u8Scrambled = report->ltPID[program.u16PMTPID].u64Scrambled != 0;
        const TS_PMT &pmt = check->ltPMT[k];
        if (!pmt.u8Valid)
            continue;
        program.u8HasPMT = 1;
        program.u16PCRPID = pmt.PCR_PID & 0x1FFF;
        u16 ca_pid = TS_NO_PID;
        if (TS_GetCAPIDFromPMT(&ca_pid, &pmt) == 0 && ca_pid != TS_NO_PID)
            program.u16ECMPID = ca_pid & 0x1FFF;
        const u16 streams = pmt.u16StreamCount < TS_MAX_STREAMS ? pmt.u16StreamCount : TS_MAX_STREAMS;
        for (u16 i = 0; i < streams; ++i) {
            program.ltStream[i].u16PID = pmt.ltStream[i].elementary_PID & 0x1FFF;
            program.ltStream[i].u8StreamType = pmt.ltStream[i].stream_type;
        }
        program.u16StreamCount = streams;
        TS_PMT_ForEachMember(pmt, [&](u16 pid, TS_MemberRole) {
            if (report->ltPID[pid].u64Scrambled != 0)
                program.u8Scrambled = 1;
        });
    }
}

// Duration and bitrate from the first program of the last PAT whose PCR PID has a clock of two
// PCRs or more, else from the first PID that had one.
void TS_Check_Duration(TS_Check *check)
{
    TS_CheckReport *report = check->pReport;
    const TS_CheckClock *chosen = nullptr;
    for (u16 i = 0; i < report->u16ProgramCount && chosen == nullptr; ++i) {
        const TS_CheckProgram &program = report->ltProgram[i];
        const u8 slot = program.u8HasPMT && program.u16PCRPID != 0x1FFF ? check->ltHot[program.u16PCRPID].u8Clock : 0;
        if (slot != 0 && check->ltClock[slot - 1].u64Count >= 2) {
            chosen = &check->ltClock[slot - 1];
            report->u16ClockProgram = program.u16ProgramNumber;
        }
    }
    for (u32 i = 0; i < check->u32Clocks && chosen == nullptr; ++i)
        if (check->ltClock[i].u64Count >= 2)
            chosen = &check->ltClock[i];
    if (chosen == nullptr || chosen->u64Elapsed == 0)
        return;
    report->u8Timed = 1;
    report->u16ClockPID = chosen->u16PID;
    report->u64Duration = chosen->u64Elapsed;
    report->u64ClockJumps = chosen->u64Jumps;
    const double bits = double(chosen->u64LastPacket - chosen->u64FirstPacket) * TS_PACKET_SIZE * 8;
    report->u64BitRate = u64(bits * double(kTicksPerSecond) / double(chosen->u64Elapsed) + 0.5);
}

void TS_Check_Finish(TS_Check *check)
{
    TS_CheckReport *report = check->pReport;
    const TS_Sync &sync = check->tSync;
    report->u64Packets = check->u64Index;
    for (u32 pid = 0; pid < 8192; ++pid) {
        const TS_CheckHot &hot = check->ltHot[pid];
        report->ltPID[pid].u64Packets = hot.u64Packets;
        report->ltPID[pid].u64PCRs = hot.u32PCRs;
    }
    report->u64Bytes = sync.u64BytesRead;
    report->u32UnitSize = sync.u32Unit;
    report->u64SkippedBytes = sync.u64Skipped + sync.u64Hunted;
    report->u64SyncLosses = sync.u64Losses;
    // A loss after the last packet is found at the end of the file.
    if (check->tSync.u64Losses != check->u64SeenLosses)
        TS_Check_OnSyncLoss(check);
    report->ltCheck[TS_CHECK_SYNC_LOSS].u64Count = sync.u64Losses;
    report->ltCheck[TS_CHECK_SYNC_BYTE].u64Count = sync.u64BadSyncBytes;

    if (g_tCheckHook) {
        for (u32 pid = 0; pid < 8192; ++pid)
            if (check->ltHot[pid].u8State & kScrambled)
                TS_Check_Emit(check, TS_CHECK_EVENT_CLEAR, u16(pid), check->u64Index);
        // With a clock, the last second ends at its last tick, with the packets up to it.
        TS_CheckEvent &event = check->tEvent;
        if (check->pReference != nullptr)
            for (u16 i = 0; i < event.u16ProgramCount; ++i)
                event.lu64ProgramPackets[i] = i < check->u16AtTick ? check->lu64AtTick[i] : 0;
        TS_Check_Emit(check, TS_CHECK_EVENT_SECOND, TS_NO_PID, check->u64Index);
    }
    TS_Check_Programs(check);
    TS_Check_Roles(check);
    TS_Check_Duration(check);
}

void TS_Check_Start(TS_Check *check, TS_CheckReport *report)
{
    // The record is large; what a run reads is cleared, the collectors' bytes are not.
    check->pReport = report;
    std::memset(report, 0, sizeof *report);
    check->tSync = TS_Sync{};
    check->u64Index = 0;
    check->u64SeenLosses = 0;
    std::memset(check->ltHot, 0, sizeof check->ltHot);
    check->u32Slots = 0;
    check->u32Clocks = 0;
    check->pReference = nullptr;
    check->u64Base = 0;
    check->u64RefAnchor = 0;
    check->u64Now = 0;
    check->u64TableDue = TS_CHECK_TABLE_INTERVAL;
    check->u64PIDScan = 0;
    TS_SectionGate_Reset(&check->tGate);
    check->tPAT.u8Valid = 0;
    check->tPAT.u16ProgramCount = 0;
    for (u16 k = 0; k < TS_MAX_PROGRAMS; ++k) {
        check->ltPMT[k].u8Valid = 0;
        check->lu32PMTCRC[k] = 0;
        check->ltPMTWatch[k] = TS_CheckWatch{};
    }
    check->tMap.u16Touched = 0;
    std::memset(check->tMap.ltRole, 0, sizeof check->tMap.ltRole);
    check->u16EMMPID = TS_NO_PID;
    check->u16NetworkPID = TS_NO_PID;
    check->u16Dynamic = 0;
    TS_Check_ResetKinds(check);
    TS_SDTServices_Initialise(&check->tServices);
    TS_FamilyVote_Start(&check->tFamily);
    check->tPATWatch = TS_CheckWatch{};
    check->u16Watched = 0;
    std::memset(check->lu8Watched, 0, sizeof check->lu8Watched);
    std::memset(&check->tEvent, 0, sizeof check->tEvent);
    check->u64NextSecond = kTicksPerSecond;
    check->u16AtTick = 0;
    TS_Check_MapEntries(check);
    report->u16NetworkPID = TS_NO_PID;
    report->u16EMMPID = TS_NO_PID;
    report->u16ClockPID = TS_NO_PID;
}

}  // namespace

int TS_SetCheckHook(TS_CheckHook hook, void *context) { return g_tCheckHook.Set(hook, context); }

int TS_CheckFile(TS_CheckReport *report, const char *path)
{
    if (report == nullptr || path == nullptr)
        return -1;
    TS_Check *check = &g_tCheck;
    TS_Check_Start(check, report);
    const int fd = TS_Input_Open(path);
    if (fd < 0)
        return -2;
    TS_SimpleData *state = &g_tSimpleData;
    TS_SimpleData_Reset(state);
    u64 index = 0;
    auto run = [&](auto events) {
        return TS_Stream_Run(&check->tSync, fd, path, state->lu8Stream, &state->u64Size, &state->u64Pos,
                             [&](const u8 *packet) {
                                 TS_Check_OnPacket<decltype(events)::value>(check, packet, index++);
                                 return true;
                             });
    };
    const int result = g_tCheckHook ? run(std::true_type{}) : run(std::false_type{});
    check->u64Index = index;
    TS_Input_Close(fd);
    TS_Check_Finish(check);
    return result;
}
