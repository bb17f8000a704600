// The recording check: each fault a recording can carry, built into a broadcast-like multiplex,
// must be counted exactly, on the right PID, from the right packet.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <pidsift/check.h>

#include "recording.h"

namespace {

using namespace testsupport;

constexpr u64 kWrap = (u64(1) << 33) * 300;

std::unique_ptr<TS_CheckReport> Check(const Bytes &bytes, int *result = nullptr)
{
    TempDir dir;
    const std::string path = dir.File("rec.ts");
    EXPECT_TRUE(WriteFile(path, bytes));
    auto report = std::make_unique<TS_CheckReport>();
    const int got = TS_CheckFile(report.get(), path.c_str());
    if (result != nullptr)
        *result = got;
    else
        EXPECT_EQ(got, 0);
    return report;
}

std::unique_ptr<TS_CheckReport> Check(const std::vector<Packet> &packets) { return Check(Flatten(packets)); }

bool HasPCR(const Packet &packet) { return (packet[3] & 0x20) && packet[4] >= 7 && (packet[5] & 0x10); }

u64 PCRValue(const Packet &packet)
{
    const u64 base = (u64(packet[6]) << 25) | (u64(packet[7]) << 17) | (u64(packet[8]) << 9) | (u64(packet[9]) << 1) |
                     (packet[10] >> 7);
    return base * 300 + (((packet[10] & 1) << 8) | packet[11]);
}

void SetPCRValue(Packet *packet, u64 value)
{
    const u64 base = value / 300;
    const u16 extension = u16(value % 300);
    (*packet)[6] = u8(base >> 25);
    (*packet)[7] = u8(base >> 17);
    (*packet)[8] = u8(base >> 9);
    (*packet)[9] = u8(base >> 1);
    (*packet)[10] = u8(((base & 1) << 7) | 0x7E | (extension >> 8));
    (*packet)[11] = u8(extension);
}

// The three-program sample multiplex: PAT and PMTs about every 0.48 s of the PCR on 0x0111.
Recording Broadcast(u64 packets = 3000) { return Generate(SampleBroadcast(packets)); }

size_t CountPID(const std::vector<Packet> &packets, u16 pid)
{
    return size_t(std::count_if(packets.begin(), packets.end(), [&](const Packet &p) { return PacketPID(p) == pid; }));
}

// Index of the n-th packet (from 0) of pid that carries a PCR.
size_t NthPCR(const std::vector<Packet> &packets, u16 pid, size_t n)
{
    for (size_t i = 0; i < packets.size(); ++i)
        if (PacketPID(packets[i]) == pid && HasPCR(packets[i]) && n-- == 0)
            return i;
    ADD_FAILURE() << "no such PCR";
    return 0;
}

// Continuity breaks of a recording whose packets carry no duplicates and no discontinuity.
u64 Breaks(const std::vector<Packet> &packets)
{
    std::vector<int> last(8192, -1);
    u64 breaks = 0;
    for (const Packet &packet : packets) {
        const u16 pid = PacketPID(packet);
        if (pid == 0x1FFF || !(packet[3] & 0x10))
            continue;
        const int counter = packet[3] & 0x0F;
        breaks += last[pid] >= 0 && counter != ((last[pid] + 1) & 0x0F);
        last[pid] = counter;
    }
    return breaks;
}

// Index of the n-th packet (from 0) of pid.
size_t NthOf(const std::vector<Packet> &packets, u16 pid, size_t n)
{
    for (size_t i = 0; i < packets.size(); ++i)
        if (PacketPID(packets[i]) == pid && n-- == 0)
            return i;
    ADD_FAILURE() << "no such packet";
    return 0;
}

void ExpectNoErrors(const TS_CheckReport &report)
{
    for (int i = 0; i < TS_CHECK_COUNT; ++i)
        EXPECT_EQ(report.ltCheck[i].u64Count, 0u) << "check " << i;
}

// The duration the PCRs of pid give, every step under a second added up.
u64 PCRDuration(const std::vector<Packet> &packets, u16 pid, u64 *jumps = nullptr)
{
    bool first = true;
    u64 last = 0, total = 0;
    for (const Packet &packet : packets) {
        if (PacketPID(packet) != pid || !HasPCR(packet))
            continue;
        const u64 value = PCRValue(packet);
        if (!first) {
            const u64 step = (value + kWrap - last) % kWrap;
            if (step <= 27000000)
                total += step;
            else if (jumps != nullptr)
                ++*jumps;
        }
        first = false;
        last = value;
    }
    return total;
}

TEST(CheckFile, CleanBroadcastCountsEveryPacketAndFindsNothing)
{
    const Recording recording = Broadcast(3000);
    const auto report = Check(recording.packets);
    ExpectNoErrors(*report);
    EXPECT_EQ(report->u64Bytes, 3000u * 188);
    EXPECT_EQ(report->u32UnitSize, 188u);
    EXPECT_EQ(report->u64Packets, 3000u);
    EXPECT_EQ(report->u64SkippedBytes, 0u);
    EXPECT_EQ(report->u64SyncLosses, 0u);
    EXPECT_EQ(report->u8IntervalsTimed, 1);
    for (u16 pid : {0x0000, 0x0001, 0x0011, 0x0012, 0x0111, 0x0112, 0x0121, 0x0130, 0x01F0, 0x01FF, 0x0901, 0x1FFF})
        EXPECT_EQ(report->ltPID[pid].u64Packets, CountPID(recording.packets, pid)) << pid;
    u64 pcrs = 0;
    for (const Packet &packet : recording.packets)
        pcrs += PacketPID(packet) == 0x0111 && HasPCR(packet);
    EXPECT_EQ(report->ltPID[0x0111].u64PCRs, pcrs);
    EXPECT_EQ(report->ltPID[0x01FF].u64PCRs, CountPID(recording.packets, 0x01FF));

    // Time from the video PCRs of program 1024, the first of the PAT.
    ASSERT_EQ(report->u8Timed, 1);
    EXPECT_EQ(report->u16ClockPID, 0x0111);
    EXPECT_EQ(report->u16ClockProgram, 0x0400);
    EXPECT_EQ(report->u64Duration, PCRDuration(recording.packets, 0x0111));
    EXPECT_EQ(report->u64ClockJumps, 0u);
    const size_t first = NthOf(recording.packets, 0x0111, 0);
    size_t last = first;
    for (size_t i = 0; i < recording.packets.size(); ++i)
        if (PacketPID(recording.packets[i]) == 0x0111 && HasPCR(recording.packets[i]))
            last = i;
    const double expected = double(last - first) * 188 * 8 * 27e6 / double(report->u64Duration);
    EXPECT_NEAR(double(report->u64BitRate), expected, 0.5);

    // The programs of the last PAT, after the PMT change: each with its third stream.
    ASSERT_EQ(report->u16ProgramCount, 3);
    const TS_CheckProgram &scrambled = report->ltProgram[1];
    EXPECT_EQ(scrambled.u16ProgramNumber, 0x0401);
    EXPECT_EQ(scrambled.u16PMTPID, 0x01F1);
    EXPECT_EQ(scrambled.u8HasPMT, 1);
    EXPECT_EQ(scrambled.u16PCRPID, 0x0121);
    EXPECT_EQ(scrambled.u16ECMPID, 0x0130);
    EXPECT_EQ(scrambled.u8Scrambled, 0);  // an ECM, but no packet has its scrambling bits set
    ASSERT_EQ(scrambled.u16StreamCount, 3);
    EXPECT_EQ(scrambled.ltStream[0].u16PID, 0x0121);
    EXPECT_EQ(scrambled.ltStream[0].u8StreamType, 0x02);
    EXPECT_EQ(scrambled.ltStream[2].u16PID, 0x0124);
    EXPECT_EQ(scrambled.ltStream[2].u8StreamType, 0x06);
    EXPECT_EQ(report->ltProgram[2].u16PCRPID, 0x01FF);
    EXPECT_EQ(report->ltProgram[0].u16ECMPID, TS_NO_PID);
    EXPECT_EQ(report->u16NetworkPID, 0x0010);
    EXPECT_EQ(report->u16EMMPID, 0x0901);
}

TEST(CheckFile, RolesFollowTheLastTables)
{
    Recording recording = Broadcast(1500);
    PacketBuilder extra;
    recording.Add(extra.Payload(0x0777, 0x00));  // named by no table
    const auto report = Check(recording.packets);
    const struct {
        u16 pid;
        u8 role;
        u16 program;
    } expected[] = {
        {0x0000, TS_ROLE_PAT, 0},        {0x0001, TS_ROLE_CAT, 0},          {0x0010, TS_ROLE_NIT, 0},
        {0x0011, TS_ROLE_SI, 0},         {0x0012, TS_ROLE_SI, 0},           {0x01F0, TS_ROLE_PMT, 0x0400},
        {0x0111, TS_ROLE_VIDEO, 0x0400}, {0x0112, TS_ROLE_AUDIO, 0x0400},   {0x0114, TS_ROLE_DATA, 0x0400},
        {0x0130, TS_ROLE_ECM, 0x0401},   {0x01FF, TS_ROLE_PCR, 0x0408},     {0x0901, TS_ROLE_EMM, 0},
        {0x1FFF, TS_ROLE_NULL, 0},       {0x0777, TS_ROLE_UNREFERENCED, 0},
    };
    for (const auto &each : expected) {
        SCOPED_TRACE(each.pid);
        EXPECT_EQ(report->ltPID[each.pid].u8Role, each.role);
        EXPECT_EQ(report->ltPID[each.pid].u16Program, each.program);
        EXPECT_EQ(report->ltPID[each.pid].u16OtherPrograms, 0);
    }
    EXPECT_EQ(report->ltPID[0x0111].u8StreamType, 0x02);
    EXPECT_EQ(report->ltPID[0x0112].u8StreamType, 0x0F);
}

TEST(CheckFile, PacketsRemovedOnOnePIDAreEachOneBreak)
{
    std::vector<Packet> packets = Broadcast(3000).packets;
    // Three video packets of program 1025, far apart, and two in a row elsewhere: four breaks.
    std::vector<size_t> removed = {NthOf(packets, 0x0121, 100), NthOf(packets, 0x0121, 300),
                                   NthOf(packets, 0x0121, 500), NthOf(packets, 0x0121, 501)};
    std::sort(removed.rbegin(), removed.rend());
    for (size_t at : removed)
        packets.erase(packets.begin() + long(at));
    const auto report = Check(packets);
    EXPECT_EQ(report->ltCheck[TS_CHECK_CONTINUITY].u64Count, 3u);
    EXPECT_EQ(report->ltPID[0x0121].u64ContinuityErrors, 3u);
    // The first break shows on the packet that took the place of the first removed one.
    EXPECT_EQ(report->ltCheck[TS_CHECK_CONTINUITY].u64FirstPacket, NthOf(packets, 0x0121, 100));
    for (u16 pid : {0x0000, 0x0111, 0x0122, 0x01F1, 0x1FFF})
        EXPECT_EQ(report->ltPID[pid].u64ContinuityErrors, 0u) << pid;
    EXPECT_EQ(report->ltPID[0x0121].u64Packets, CountPID(packets, 0x0121));
}

// Packets of one PID with the counters given; a negative counter is a packet without payload.
std::vector<Packet> CounterRun(u16 pid, const std::vector<int> &counters)
{
    std::vector<Packet> packets;
    for (int counter : counters) {
        Packet packet;
        packet.fill(0xAA);
        packet[0] = 0x47;
        packet[1] = u8(pid >> 8);
        packet[2] = u8(pid);
        if (counter < 0) {
            packet[3] = u8(0x20 | (-counter - 1));
            packet[4] = 183;
            packet[5] = 0x00;
        } else {
            packet[3] = u8(0x10 | counter);
        }
        packets.push_back(packet);
    }
    return packets;
}

TEST(CheckFile, ContinuityCounterRules)
{
    const struct {
        const char *name;
        std::vector<int> counters;
        u64 breaks;
        u64 first;
    } cases[] = {
        {"in order, across the wrap", {13, 14, 15, 0, 1, 2}, 0, 0},
        {"one duplicate is allowed", {3, 4, 4, 5, 6}, 0, 0},
        {"a second duplicate is a break", {3, 4, 4, 4, 5}, 1, 3},
        {"duplicates of different packets", {3, 3, 4, 4, 5, 5}, 0, 0},
        {"one lost", {3, 4, 6, 7}, 1, 2},
        {"out of order", {3, 5, 4, 6}, 3, 1},
        {"adaptation-only packets carry any counter", {3, -10, 4, -1, -16, 5}, 0, 0},
        {"a lost packet behind an adaptation-only one", {3, -4, 5}, 1, 2},
    };
    for (const auto &each : cases) {
        SCOPED_TRACE(each.name);
        const auto report = Check(CounterRun(0x0100, each.counters));
        EXPECT_EQ(report->ltPID[0x0100].u64ContinuityErrors, each.breaks);
        EXPECT_EQ(report->ltCheck[TS_CHECK_CONTINUITY].u64Count, each.breaks);
        EXPECT_EQ(report->ltCheck[TS_CHECK_CONTINUITY].u64FirstPacket, each.first);
    }

    // A discontinuity_indicator lets the counter start afresh.
    std::vector<Packet> packets = CounterRun(0x0100, {3, 4, 9, 10});
    packets[2][3] |= 0x20;
    packets[2][4] = 1;
    packets[2][5] = 0x80;
    EXPECT_EQ(Check(packets)->ltPID[0x0100].u64ContinuityErrors, 0u);
    // Without it the same jump is a break; the null PID's counter is never looked at.
    EXPECT_EQ(Check(CounterRun(0x0100, {3, 4, 9, 10}))->ltPID[0x0100].u64ContinuityErrors, 1u);
    const auto nulls = Check(CounterRun(0x1FFF, {0, 0, 0, 7, 2}));
    EXPECT_EQ(nulls->ltPID[0x1FFF].u64ContinuityErrors, 0u);
    EXPECT_EQ(nulls->ltPID[0x1FFF].u64Packets, 5u);
}

TEST(CheckFile, TransportErrorsAreCountedOnTheirPIDs)
{
    std::vector<Packet> packets = Broadcast(3000).packets;
    const std::vector<size_t> flagged = {NthOf(packets, 0x0112, 10), NthOf(packets, 0x0112, 11),
                                         NthOf(packets, 0x0112, 90), NthOf(packets, 0x0181, 5),
                                         NthOf(packets, 0x0181, 400)};
    for (size_t at : flagged)
        packets[at][1] |= 0x80;
    const auto report = Check(packets);
    EXPECT_EQ(report->ltCheck[TS_CHECK_TRANSPORT].u64Count, 5u);
    EXPECT_EQ(report->ltCheck[TS_CHECK_TRANSPORT].u64FirstPacket, *std::min_element(flagged.begin(), flagged.end()));
    EXPECT_EQ(report->ltPID[0x0112].u64TransportErrors, 3u);
    EXPECT_EQ(report->ltPID[0x0181].u64TransportErrors, 2u);
    EXPECT_EQ(report->ltPID[0x0111].u64TransportErrors, 0u);
    EXPECT_EQ(report->ltCheck[TS_CHECK_CONTINUITY].u64Count, 0u);
}

TEST(CheckFile, ScrambledPacketsAreNoErrorButOnPSIPIDs)
{
    std::vector<Packet> packets = Broadcast(3000).packets;
    u64 scrambled = 0;
    for (size_t i = 1000; i < 2000; ++i)
        if (PacketPID(packets[i]) == 0x0121 || PacketPID(packets[i]) == 0x0122) {
            // The even key, and on every other packet '01', which is user-defined but still
            // scrambled (ISO/IEC 13818-1 Table 2-4).
            packets[i][3] = u8((packets[i][3] & 0x3F) | (scrambled % 2 == 0 ? 0x80 : 0x40));
            ++scrambled;
        }
    auto report = Check(packets);
    ExpectNoErrors(*report);
    EXPECT_EQ(report->ltPID[0x0121].u64Scrambled + report->ltPID[0x0122].u64Scrambled, scrambled);
    EXPECT_EQ(report->ltProgram[1].u8Scrambled, 1);
    EXPECT_EQ(report->ltProgram[0].u8Scrambled, 0);
    EXPECT_EQ(report->ltProgram[2].u8Scrambled, 0);

    // A scrambled PAT packet and a scrambled PMT packet are errors of those tables.
    packets[NthOf(packets, 0x0000, 3)][3] |= 0xC0;
    packets[NthOf(packets, 0x01F8, 5)][3] |= 0x40;
    report = Check(packets);
    EXPECT_EQ(report->ltCheck[TS_CHECK_PAT].u64Count, 1u);
    EXPECT_EQ(report->ltCheck[TS_CHECK_PAT].u64FirstPacket, NthOf(packets, 0x0000, 3));
    EXPECT_EQ(report->ltCheck[TS_CHECK_PMT].u64Count, 1u);
    EXPECT_EQ(report->ltCheck[TS_CHECK_PMT].u64FirstPacket, NthOf(packets, 0x01F8, 5));
    EXPECT_EQ(report->ltPID[0x0000].u64Scrambled, 1u);
}

TEST(CheckFile, BrokenPATAfterGoodOnesIsACRCErrorAndIsNotUsed)
{
    std::vector<Packet> packets = Broadcast(3000).packets;
    // The fifth PAT moves program 1024 to another PMT PID, with a CRC_32 that no longer fits.
    const size_t at = NthOf(packets, 0x0000, 5);
    packets[at][5 + 8 + 4 + 3] ^= 0x0F;  // the PID of the second entry
    const auto report = Check(packets);
    EXPECT_EQ(report->ltCheck[TS_CHECK_CRC].u64Count, 1u);
    EXPECT_EQ(report->ltCheck[TS_CHECK_CRC].u64FirstPacket, at);
    EXPECT_EQ(report->ltPID[0x0000].u64CRCErrors, 1u);
    // Without the damaged PAT, two intervals of 0.48 s pass without one: one PAT error.
    EXPECT_EQ(report->ltCheck[TS_CHECK_PAT].u64Count, 1u);
    EXPECT_GT(report->ltCheck[TS_CHECK_PAT].u64FirstPacket, at);
    EXPECT_LE(report->ltCheck[TS_CHECK_PAT].u64FirstPacket, NthOf(packets, 0x0000, 6));
    // The programs stay those of the good PATs.
    ASSERT_EQ(report->u16ProgramCount, 3);
    EXPECT_EQ(report->ltProgram[0].u16PMTPID, 0x01F0);
    EXPECT_EQ(report->ltCheck[TS_CHECK_PMT].u64Count, 0u);
}

// Index of the first packet of the reference clock (the PCRs of pid) more than limit ticks
// after the clock's time at packet index since.
size_t FirstPastLimit(const std::vector<Packet> &packets, u16 pid, size_t since, u64 limit)
{
    u64 elapsed = 0, last = 0, at_since = 0;
    bool first = true, started = false;
    for (size_t i = 0; i < packets.size(); ++i) {
        if (i == since)
            started = true, at_since = elapsed;
        if (PacketPID(packets[i]) != pid || !HasPCR(packets[i]))
            continue;
        const u64 value = PCRValue(packets[i]);
        if (!first)
            elapsed += (value + kWrap - last) % kWrap;
        first = false;
        last = value;
        if (started && elapsed - at_since > limit)
            return i;
    }
    return packets.size();
}

TEST(CheckFile, PMTThatStopsRepeatingIsOneError)
{
    std::vector<Packet> packets = Broadcast(3000).packets;
    // Program 1032's PMT is sent for the last time about a third into the recording.
    const size_t last_pmt = NthOf(packets, 0x01F8, 20);
    std::vector<Packet> kept;
    for (size_t i = 0; i < packets.size(); ++i)
        if (!(PacketPID(packets[i]) == 0x01F8 && i > last_pmt))
            kept.push_back(packets[i]);
    const auto report = Check(kept);
    EXPECT_EQ(report->ltCheck[TS_CHECK_PMT].u64Count, 1u);
    EXPECT_EQ(report->ltCheck[TS_CHECK_PMT].u64FirstPacket,
              FirstPastLimit(kept, 0x0111, last_pmt, TS_CHECK_TABLE_INTERVAL));
    EXPECT_EQ(report->ltCheck[TS_CHECK_PAT].u64Count, 0u);
    // The program's streams still come: no PID error.
    EXPECT_EQ(report->ltCheck[TS_CHECK_PID].u64Count, 0u);
    EXPECT_EQ(report->ltProgram[2].u8HasPMT, 1);
}

TEST(CheckFile, PATThatStopsIsOneErrorPerSilence)
{
    std::vector<Packet> packets = Broadcast(3000).packets;
    // Two silences of the PAT: from its 10th to its 20th and after its 40th.
    std::vector<Packet> kept;
    size_t pats = 0;
    for (const Packet &packet : packets) {
        if (PacketPID(packet) == 0x0000) {
            ++pats;
            if ((pats > 10 && pats < 20) || pats > 40)
                continue;
        }
        kept.push_back(packet);
    }
    const auto report = Check(kept);
    EXPECT_EQ(report->ltCheck[TS_CHECK_PAT].u64Count, 2u);
    EXPECT_EQ(report->ltCheck[TS_CHECK_PAT].u64FirstPacket,
              FirstPastLimit(kept, 0x0111, NthOf(kept, 0x0000, 9), TS_CHECK_TABLE_INTERVAL));
}

// The PAT and the PMT come again exactly 0.5 s later by the PCR: in time. One 27 MHz tick later,
// each has been silent too long, once.
TEST(CheckFile, TablesDueEveryHalfSecondToTheTick)
{
    const Bytes pat = PATSection(0x7FE0, 0, {{0, 0x0010}, {0x0400, 0x01F0}});
    const Bytes pmt = PMTSection(0x0400, 0, 0x0111, {}, {{0x02, 0x0111, {}}});
    for (const u64 gap : {TS_CHECK_TABLE_INTERVAL, TS_CHECK_TABLE_INTERVAL + 1}) {
        SCOPED_TRACE(gap);
        PacketBuilder builder;
        std::vector<Packet> packets;
        const u64 start = 27000000;
        for (u64 time : {start, start + gap}) {
            packets.push_back(builder.PCR(0x0111, time / 300, u16(time % 300), true, 0x11));
            packets.push_back(builder.Section(0x0000, pat)[0]);
            packets.push_back(builder.Section(0x01F0, pmt)[0]);
            packets.push_back(PacketBuilder::Null());
        }
        const auto report = Check(packets);
        const u64 late = gap > TS_CHECK_TABLE_INTERVAL ? 1 : 0;
        EXPECT_EQ(report->ltCheck[TS_CHECK_PAT].u64Count, late);
        EXPECT_EQ(report->ltCheck[TS_CHECK_PMT].u64Count, late);
        EXPECT_EQ(report->ltCheck[TS_CHECK_PAT].u64FirstPacket, late * 4);
        EXPECT_EQ(report->ltCheck[TS_CHECK_PMT].u64FirstPacket, late * 4);
        EXPECT_EQ(report->u8IntervalsTimed, 1);
    }
}

// Replaces the PMT sections of pid by section (one packet), keeping the packets' headers.
void ReplacePMT(std::vector<Packet> *packets, u16 pid, const Bytes &section)
{
    ASSERT_LE(section.size(), 183u);
    for (Packet &packet : *packets) {
        if (PacketPID(packet) != pid)
            continue;
        std::fill(packet.begin() + 5, packet.end(), 0xFF);
        std::copy(section.begin(), section.end(), packet.begin() + 5);
    }
}

TEST(CheckFile, StreamListedButAbsentIsAPIDError)
{
    std::vector<Packet> packets = Broadcast(3000).packets;
    // Program 1024's PMT names a second audio stream, 0x0115, that never comes.
    ReplacePMT(&packets, 0x01F0,
               PMTSection(0x0400, 0, 0x0111, {}, {{0x02, 0x0111, {}}, {0x0F, 0x0112, {}}, {0x0F, 0x0115, {}}}));
    const auto report = Check(packets);
    EXPECT_EQ(report->ltCheck[TS_CHECK_PID].u64Count, 1u);
    // Found at a look at the silences, at most half a second after it passed 5 s.
    const size_t first_pmt = NthOf(packets, 0x01F0, 0);
    const size_t earliest = FirstPastLimit(packets, 0x0111, first_pmt, TS_CHECK_PID_INTERVAL);
    const size_t latest =
        FirstPastLimit(packets, 0x0111, first_pmt, TS_CHECK_PID_INTERVAL + 27000000 / 2 + 27000000 / 8);
    EXPECT_GE(report->ltCheck[TS_CHECK_PID].u64FirstPacket, earliest);
    EXPECT_LE(report->ltCheck[TS_CHECK_PID].u64FirstPacket, latest);
    // Listed with no packet, with the role its PMT gives it.
    EXPECT_EQ(report->ltPID[0x0115].u64Packets, 0u);
    EXPECT_EQ(report->ltPID[0x0115].u8Role, TS_ROLE_AUDIO);
    EXPECT_EQ(report->ltPID[0x0115].u16Program, 0x0400);
    ASSERT_EQ(report->ltProgram[0].u16StreamCount, 3);
    EXPECT_EQ(report->ltProgram[0].ltStream[2].u16PID, 0x0115);
    EXPECT_EQ(report->ltCheck[TS_CHECK_PMT].u64Count, 0u);

    // A stream that stops for good after a third of the recording: one error too.
    std::vector<Packet> silent = Broadcast(3000).packets;
    const size_t stop = silent.size() / 3;
    silent.erase(std::remove_if(silent.begin() + long(stop), silent.end(),
                                [](const Packet &p) { return PacketPID(p) == 0x0182; }),
                 silent.end());
    EXPECT_EQ(Check(silent)->ltCheck[TS_CHECK_PID].u64Count, 1u);
}

// The streams of program 0x0103 in LargeMultiplex: its video and audio, then 18 subtitle and
// data streams that never come.
std::vector<PMTStreamSpec> WideProgramStreams()
{
    std::vector<PMTStreamSpec> streams = {{0x02, 0x020C, {}}, {0x0F, 0x020D, {}}};
    for (u16 i = 0; i < 18; ++i)
        streams.push_back({0x06, u16(0x0300 + i), {}});
    return streams;
}

// A multiplex of 40 programs (0x0101 to 0x0128, PMTs on 0x1001 to 0x1028), each named by the
// SDT ("Ch 01" ...), program 0x0103's PMT listing 20 streams.
std::vector<Packet> LargeMultiplex()
{
    std::vector<Packet> packets = Generate(LargeBroadcast(40, 20000)).packets;
    ReplacePMT(&packets, 0x1003, PMTSection(0x0103, 0, 0x020C, {}, WideProgramStreams()));
    return packets;
}

// The report has every program, stream and service; the fixed record keeps the first 16 of each.
TEST(CheckFile, EveryProgramAndStreamOfALargeMultiplex)
{
    const std::vector<Packet> packets = LargeMultiplex();
    const std::vector<PMTStreamSpec> streams = WideProgramStreams();
    TempDir dir;
    const std::string path = dir.File("large.ts");
    ASSERT_TRUE(WriteFile(path, Flatten(packets)));
    pidsift::CheckReport report;
    ASSERT_EQ(pidsift::Check(path.c_str(), pidsift::RunSettings{}, &report), 0);
    EXPECT_FALSE(report.HasErrors());
    EXPECT_TRUE(report.has_sdt);
    EXPECT_EQ(report.services.size(), 40u);
    ASSERT_EQ(report.programs.size(), 40u);
    for (u16 n = 1; n <= 40; ++n) {
        SCOPED_TRACE(n);
        const pidsift::CheckProgram &program = report.programs[n - 1];
        EXPECT_EQ(program.program_number, 0x0100 + n);
        EXPECT_EQ(program.pmt_pid, 0x1000 + n);
        EXPECT_TRUE(program.has_pmt);
        ASSERT_TRUE(program.has_service);
        char name[16];
        snprintf(name, sizeof name, "Ch %02u", unsigned(n));
        EXPECT_EQ(program.service.name, name);
        EXPECT_EQ(program.service.provider_name, "Net");
        EXPECT_EQ(program.streams.size(), n == 3 ? 20u : 2u);
    }
    const pidsift::CheckProgram &wide = report.programs[2];
    for (size_t i = 0; i < streams.size(); ++i) {
        EXPECT_EQ(wide.streams[i].pid, streams[i].pid) << i;
        EXPECT_EQ(wide.streams[i].stream_type, streams[i].stream_type) << i;
    }
    // Every stream that never came is listed, with the program that names it.
    const pidsift::CheckPid absent = report.Pid(0x0311);
    EXPECT_EQ(absent.packets, 0u);
    EXPECT_EQ(absent.role, TS_ROLE_DATA);
    EXPECT_EQ(absent.program, 0x0103);
    // The 40th program, 0x0128.
    EXPECT_EQ(pidsift::RoleText(report.Pid(0x1028)), "PMT of 296");
    EXPECT_EQ(pidsift::RoleText(report.Pid(0x02A0)), "video of 296");

    // The fixed record: the first 16 programs, the first 16 streams, every PID.
    const auto fixed = Check(packets);
    ASSERT_EQ(fixed->u16ProgramCount, TS_MAX_PROGRAMS);
    for (u16 k = 0; k < TS_MAX_PROGRAMS; ++k) {
        EXPECT_EQ(fixed->ltProgram[k].u16ProgramNumber, 0x0101 + k);
        ASSERT_EQ(fixed->ltProgram[k].u8HasService, 1);
        EXPECT_EQ(
            std::string(fixed->ltProgram[k].tService.lu8ServiceName,
                        fixed->ltProgram[k].tService.lu8ServiceName + fixed->ltProgram[k].tService.u8ServiceNameCount),
            report.programs[k].service.name);
    }
    ASSERT_EQ(fixed->ltProgram[2].u16StreamCount, TS_MAX_STREAMS);
    EXPECT_EQ(fixed->ltProgram[2].ltStream[15].u16PID, streams[15].pid);
    EXPECT_EQ(fixed->ltPID[0x0311].u8Role, TS_ROLE_DATA);
    EXPECT_EQ(fixed->ltPID[0x02A0].u16Program, 0x0128);
    EXPECT_EQ(fixed->ltPID[0x02A0].u64Packets, CountPID(packets, 0x02A0));
}

TEST(CheckFile, PCRWrapKeepsTheDuration)
{
    const std::vector<Packet> plain = Broadcast(3000).packets;
    // Every clock shifted so that program 1024's wraps past 2^33 * 300 half-way.
    std::vector<Packet> packets = plain;
    const size_t middle = NthPCR(packets, 0x0111, 200);
    const u64 offset = kWrap - PCRValue(packets[middle]) + 1000;
    for (Packet &packet : packets)
        if (HasPCR(packet))
            SetPCRValue(&packet, (PCRValue(packet) + offset) % kWrap);
    ASSERT_LT(PCRValue(packets[middle]), PCRValue(packets[NthOf(packets, 0x0111, 0)]));
    const auto wrapped = Check(packets);
    const auto reference = Check(plain);
    ASSERT_EQ(wrapped->u8Timed, 1);
    EXPECT_EQ(wrapped->u64Duration, reference->u64Duration);
    EXPECT_EQ(wrapped->u64BitRate, reference->u64BitRate);
    EXPECT_EQ(wrapped->u64ClockJumps, 0u);
    ExpectNoErrors(*wrapped);
}

TEST(CheckFile, PCRJumpsAreLeftOutOfTheDuration)
{
    std::vector<Packet> packets = Broadcast(3000).packets;
    // Back by 100 s at the 60th PCR of 0x0111, then forward by 120 s at its 120th.
    size_t seen = 0;
    u64 shift = 0;
    for (Packet &packet : packets) {
        if (PacketPID(packet) != 0x0111 || !HasPCR(packet))
            continue;
        if (seen == 60)
            shift = kWrap - 100 * 27000000ull;
        if (seen == 120)
            shift = (shift + 120 * 27000000ull) % kWrap;
        SetPCRValue(&packet, (PCRValue(packet) + shift) % kWrap);
        ++seen;
    }
    u64 jumps = 0;
    const u64 expected = PCRDuration(packets, 0x0111, &jumps);
    ASSERT_EQ(jumps, 2u);
    const auto report = Check(packets);
    ASSERT_EQ(report->u8Timed, 1);
    EXPECT_EQ(report->u64Duration, expected);
    EXPECT_EQ(report->u64ClockJumps, 2u);
    EXPECT_LT(report->u64Duration, 120 * 27000000ull);  // never the size of a jump
    // A discontinuity_indicator on a PCR packet also starts a new segment.
    std::vector<Packet> announced = Broadcast(3000).packets;
    const size_t at = NthPCR(announced, 0x0111, 100);
    announced[at][5] |= 0x80;
    EXPECT_EQ(Check(announced)->u64ClockJumps, 1u);
}

TEST(CheckFile, SyncLostInTheMiddle)
{
    const std::vector<Packet> packets = Broadcast(2000).packets;
    // 100 bytes of noise between packets 999 and 1000.
    Bytes bytes = Flatten(std::vector<Packet>(packets.begin(), packets.begin() + 1000));
    for (int i = 0; i < 100; ++i)
        bytes.push_back(u8(i * 7 + 1) == 0x47 ? 0x48 : u8(i * 7 + 1));
    Append(&bytes, std::vector<Packet>(packets.begin() + 1000, packets.end()));
    auto report = Check(bytes);
    EXPECT_EQ(report->u64Packets, 2000u);
    EXPECT_EQ(report->u64SkippedBytes, 100u);
    EXPECT_EQ(report->u64SyncLosses, 1u);
    EXPECT_EQ(report->ltCheck[TS_CHECK_SYNC_LOSS].u64Count, 1u);
    EXPECT_EQ(report->ltCheck[TS_CHECK_SYNC_LOSS].u64FirstPacket, 1000u);
    EXPECT_EQ(report->ltCheck[TS_CHECK_SYNC_BYTE].u64Count, 1u);
    EXPECT_EQ(report->ltCheck[TS_CHECK_SYNC_BYTE].u64FirstPacket, 1000u);
    EXPECT_EQ(report->ltCheck[TS_CHECK_CONTINUITY].u64Count, 0u);
    EXPECT_EQ(report->u64Bytes, bytes.size());

    // Three packets whose sync bytes are damaged: the spacing is found again three units on,
    // and each packet lost is a break of its PID's counter.
    std::vector<Packet> damaged = packets;
    for (size_t i : {700, 701, 702})
        damaged[i][0] = 0x00;
    std::vector<Packet> survivors = packets;
    survivors.erase(survivors.begin() + 700, survivors.begin() + 703);
    const u64 breaks = Breaks(survivors);
    ASSERT_GT(breaks, 0u);
    report = Check(damaged);
    EXPECT_EQ(report->u64Packets, 1997u);
    EXPECT_EQ(report->u64SkippedBytes, 3u * 188);
    EXPECT_EQ(report->ltCheck[TS_CHECK_SYNC_LOSS].u64Count, 1u);
    EXPECT_EQ(report->ltCheck[TS_CHECK_SYNC_BYTE].u64Count, 3u);
    EXPECT_EQ(report->ltCheck[TS_CHECK_SYNC_BYTE].u64FirstPacket, 700u);
    EXPECT_EQ(report->ltCheck[TS_CHECK_CONTINUITY].u64Count, breaks);
}

// bytes as units of spacing: a 4-byte prefix before each packet (192) or 16 bytes after (204).
Bytes Units(const std::vector<Packet> &packets, u32 spacing)
{
    Bytes bytes;
    for (size_t i = 0; i < packets.size(); ++i) {
        if (spacing == 192)
            for (int b = 0; b < 4; ++b)
                bytes.push_back(u8((i + b) & 0x3F));  // a timestamp that holds no 0x47
        Append(&bytes, packets[i]);
        if (spacing == 204)
            bytes.insert(bytes.end(), 16, u8(0xA0 + i % 16));
    }
    return bytes;
}

TEST(CheckFile, UnitSizesAndNoiseAtTheEnds)
{
    const std::vector<Packet> packets = Broadcast(1200).packets;
    for (u32 spacing : {192u, 204u}) {
        SCOPED_TRACE(spacing);
        const auto report = Check(Units(packets, spacing));
        EXPECT_EQ(report->u32UnitSize, spacing);
        EXPECT_EQ(report->u64Packets, 1200u);
        EXPECT_EQ(report->u64SkippedBytes, 0u);
        EXPECT_EQ(report->u64SyncLosses, 0u);
        ExpectNoErrors(*report);

        // 50 bytes of noise between two units are skipped, and nothing of the units.
        Bytes noisy = Units(std::vector<Packet>(packets.begin(), packets.begin() + 600), spacing);
        noisy.insert(noisy.end(), 50, 0x00);
        const Bytes rest = Units(std::vector<Packet>(packets.begin() + 600, packets.end()), spacing);
        noisy.insert(noisy.end(), rest.begin(), rest.end());
        const auto lost = Check(noisy);
        EXPECT_EQ(lost->u64SkippedBytes, 50u);
        EXPECT_EQ(lost->u64SyncLosses, 1u);
        EXPECT_EQ(lost->u64Packets, 1200u);
    }
    // Leading noise is skipped without a loss; a cut last packet is neither, but bytes of a
    // packet that the end cut short.
    Bytes bytes(77, 0x00);
    Append(&bytes, packets);
    bytes.resize(bytes.size() - 100);
    const auto report = Check(bytes);
    EXPECT_EQ(report->u64SkippedBytes, 77u);
    EXPECT_EQ(report->u64SyncLosses, 0u);
    EXPECT_EQ(report->u64Packets, 1199u);
    for (u32 spacing : {188u, 192u, 204u}) {
        SCOPED_TRACE(spacing);
        const Bytes units = Units(packets, spacing);
        pidsift::CheckReport full;
        // The last unit cut 34 bytes into its packet: its prefix (192) and those 34 bytes.
        const u32 prefix = spacing == 192 ? 4 : 0;
        TempDir dir;
        const std::string path = dir.File("cut.ts");
        ASSERT_TRUE(WriteFile(path, Bytes(units.begin(), units.end() - spacing + prefix + 34)));
        ASSERT_EQ(pidsift::Check(path.c_str(), pidsift::RunSettings{}, &full), 0);
        EXPECT_EQ(full.packets, 1199u);
        EXPECT_EQ(full.trailing_bytes, prefix + 34);
        EXPECT_EQ(full.skipped_bytes, 0u);
        EXPECT_TRUE(full.HasErrors());
        // Whole units, and stray bytes after them shorter than a unit: skipped, no error.
        Bytes padded = units;
        padded.insert(padded.end(), 100, 0x00);
        ASSERT_TRUE(WriteFile(path, padded));
        ASSERT_EQ(pidsift::Check(path.c_str(), pidsift::RunSettings{}, &full), 0);
        EXPECT_EQ(full.packets, 1200u);
        EXPECT_EQ(full.trailing_bytes, 0u);
        EXPECT_EQ(full.skipped_bytes, 100u);
        EXPECT_FALSE(full.HasErrors());
    }
    // Noise after the last packet loses the spacing and is skipped whole.
    Bytes tail = Flatten(packets);
    tail.insert(tail.end(), 500, 0x11);
    const auto trailing = Check(tail);
    EXPECT_EQ(trailing->u64SyncLosses, 1u);
    EXPECT_EQ(trailing->u64SkippedBytes, 500u);
    EXPECT_EQ(trailing->ltCheck[TS_CHECK_SYNC_LOSS].u64FirstPacket, 1200u);  // at the end
}

// sections back to back on pid, cut into packets: a packet in which a section starts has
// payload_unit_start_indicator set and pointer_field giving where the first such section starts.
std::vector<Packet> PackedSections(PacketBuilder *builder, u16 pid, const std::vector<Bytes> &sections)
{
    Bytes data;
    std::vector<size_t> starts;
    for (const Bytes &section : sections) {
        starts.push_back(data.size());
        data.insert(data.end(), section.begin(), section.end());
    }
    std::vector<Packet> packets;
    for (size_t at = 0; at < data.size();) {
        const auto start =
            std::find_if(starts.begin(), starts.end(), [&](size_t s) { return s >= at && s < at + 183; });
        const bool unit_start = start != starts.end();
        EXPECT_TRUE(unit_start || std::none_of(starts.begin(), starts.end(), [&](size_t s) { return s == at + 183; }));
        Packet packet;
        packet.fill(0xFF);
        packet[0] = 0x47;
        packet[1] = u8((unit_start ? 0x40 : 0x00) | (pid >> 8));
        packet[2] = u8(pid);
        packet[3] = u8(0x10 | builder->NextCounter(pid));
        size_t offset = 4;
        if (unit_start)
            packet[offset++] = u8(*start - at);
        const size_t take = std::min(data.size() - at, size_t(188) - offset);
        std::copy(data.begin() + long(at), data.begin() + long(at + take), packet.begin() + long(offset));
        at += take;
        packets.push_back(packet);
    }
    return packets;
}

TEST(CheckFile, EverySectionOfPackedSIIsChecked)
{
    // Three SDT sections back to back over two packets; the second crosses the packet border.
    const std::vector<Bytes> sections = {LongSection(0x42, 1, 0, Bytes(60, 0x11)),
                                         LongSection(0x42, 2, 0, Bytes(120, 0x22)),
                                         LongSection(0x46, 3, 0, Bytes(40, 0x33))};
    for (size_t damaged = 0; damaged <= sections.size(); ++damaged) {
        SCOPED_TRACE(damaged);
        std::vector<Bytes> sent = sections;
        if (damaged < sent.size())
            sent[damaged][20] ^= 0x01;
        // The SI goes after the broadcast, its counter carried on from the broadcast's SDT.
        std::vector<Packet> packets = Broadcast(400).packets;
        PacketBuilder builder;
        u8 counter = 0;
        for (const Packet &packet : packets)
            if (PacketPID(packet) == 0x0011)
                counter = u8((packet[3] + 1) & 0x0F);
        for (int i = 0; i < counter; ++i)
            builder.NextCounter(0x0011);
        for (const Packet &packet : PackedSections(&builder, 0x0011, sent))
            packets.push_back(packet);
        const auto report = Check(packets);
        EXPECT_EQ(report->ltPID[0x0011].u64CRCErrors, damaged < sections.size() ? 1u : 0u);
        EXPECT_EQ(report->ltCheck[TS_CHECK_CRC].u64Count, damaged < sections.size() ? 1u : 0u);
        EXPECT_EQ(report->ltCheck[TS_CHECK_CONTINUITY].u64Count, 0u);
    }
    // A section whose tail stands behind the pointer_field of the packet that starts the next
    // (were that tail dropped, the first section would never be checked), and the section after.
    const Bytes first = LongSection(0x4E, 7, 0, Bytes(250, 0x44));
    const Bytes second = LongSection(0x4E, 8, 0, Bytes(30, 0x55));
    for (int damaged = 0; damaged < 3; ++damaged) {
        SCOPED_TRACE(damaged);
        Bytes one = first, two = second;
        if (damaged == 1)
            one[100] ^= 0x80;
        if (damaged == 2)
            two[12] ^= 0x01;
        PacketBuilder builder;
        std::vector<Packet> packets = PackedSections(&builder, 0x0012, {one});
        ASSERT_EQ(packets.size(), 2u);
        const size_t tail = one.size() - 183;  // the first packet took 183 bytes after pointer_field
        Packet &start = packets[1];
        std::fill(start.begin() + 4, start.end(), 0xFF);
        start[1] |= 0x40;
        start[4] = u8(tail);
        std::copy(one.end() - long(tail), one.end(), start.begin() + 5);
        std::copy(two.begin(), two.end(), start.begin() + 5 + long(tail));
        EXPECT_EQ(Check(packets)->ltPID[0x0012].u64CRCErrors, damaged != 0 ? 1u : 0u);
    }
}

// A two-packet section whose continuity_counter goes from 15 to 0 between its packets is
// reassembled and checked like any other: a good CRC_32 passes, a damaged one is counted.
TEST(CheckFile, SectionAcrossTheCounterWrapIsChecked)
{
    for (const bool damaged : {false, true}) {
        SCOPED_TRACE(damaged);
        Bytes sdt = SDTSection(0x42, 0x7FE0, 0x7FE0, 0, {{0x0400, Descriptor(0xC0, Bytes(240, 0x31))}});
        if (damaged)
            sdt[100] ^= 0x04;
        PacketBuilder builder;
        std::vector<Packet> packets = {builder.Section(0x0000, PATSection(0x7FE0, 0, {{0, 0x0010}}))[0]};
        for (int i = 0; i < 15; ++i)
            builder.NextCounter(0x0011);
        const std::vector<Packet> halves = builder.Section(0x0011, sdt);
        ASSERT_EQ(halves.size(), 2u);
        ASSERT_EQ(halves[0][3] & 0x0F, 15);
        ASSERT_EQ(halves[1][3] & 0x0F, 0);
        packets.push_back(halves[0]);
        packets.push_back(PacketBuilder::Null());
        packets.push_back(halves[1]);
        const auto report = Check(packets);
        EXPECT_EQ(report->ltPID[0x0011].u64CRCErrors, damaged ? 1u : 0u);
        EXPECT_EQ(report->ltCheck[TS_CHECK_CRC].u64Count, damaged ? 1u : 0u);
        EXPECT_EQ(report->ltCheck[TS_CHECK_CRC].u64FirstPacket, damaged ? 3u : 0u);
        EXPECT_EQ(report->ltCheck[TS_CHECK_CONTINUITY].u64Count, 0u);
    }
}

TEST(CheckFile, NoPCRMeansNoTimeAndNoIntervals)
{
    // The broadcast without its clocks (the PCR-only PID dropped, the PCR flags cleared) and with
    // its PAT sent only once: nothing can be timed, so nothing is late.
    std::vector<Packet> packets;
    size_t pats = 0;
    for (Packet packet : Broadcast(2000).packets) {
        if (PacketPID(packet) == 0x01FF || (PacketPID(packet) == 0x0000 && pats++ > 0))
            continue;
        if (HasPCR(packet))
            packet[5] &= u8(~0x10);
        packets.push_back(packet);
    }
    const auto report = Check(packets);
    EXPECT_EQ(report->u8Timed, 0);
    EXPECT_EQ(report->u8IntervalsTimed, 0);
    EXPECT_EQ(report->u64Duration, 0u);
    EXPECT_EQ(report->u16ClockPID, TS_NO_PID);
    ExpectNoErrors(*report);
}

// The C++ check with an event callback: the report of the path, and the events it told.
int CheckWithEvents(const std::string &path, const std::function<void(const pidsift::CheckEvent &)> &on_event,
                    pidsift::CheckReport *report)
{
    pidsift::RunSettings settings;
    settings.check_event = on_event;
    return pidsift::Check(path.c_str(), settings, report);
}

TEST(CheckFile, EventsMatchTheCounts)
{
    struct Seen {
        u64 breaks = 0, damaged = 0, scrambled = 0, clear = 0, sync_losses = 0;
        std::vector<u16> break_pids;
        std::vector<u64> second_times;
        std::vector<std::pair<u16, u64>> programs;  // summed per program
    } seen;
    const auto on_event = [&seen](const pidsift::CheckEvent &event) {
        switch (event.kind) {
        case pidsift::CheckEventKind::Continuity:
            ++seen.breaks;
            seen.break_pids.push_back(event.pid);
            break;
        case pidsift::CheckEventKind::Transport:
            ++seen.damaged;
            break;
        case pidsift::CheckEventKind::Scrambled:
            ++seen.scrambled;
            break;
        case pidsift::CheckEventKind::Clear:
            ++seen.clear;
            break;
        case pidsift::CheckEventKind::SyncLoss:
            ++seen.sync_losses;
            break;
        case pidsift::CheckEventKind::Second:
            seen.second_times.push_back(event.time);
            for (const pidsift::CheckProgramPackets &program : event.programs) {
                auto found = std::find_if(seen.programs.begin(), seen.programs.end(),
                                          [&](const auto &p) { return p.first == program.program_number; });
                if (found == seen.programs.end())
                    seen.programs.emplace_back(program.program_number, program.packets);
                else
                    found->second += program.packets;
            }
            break;
        }
    };
    Recording recording = Broadcast(3000);
    std::vector<Packet> &packets = recording.packets;
    packets[NthOf(packets, 0x0112, 7)][1] |= 0x80;
    packets[NthOf(packets, 0x0112, 8)][1] |= 0x80;
    for (size_t n = 50; n < 60; ++n)  // one stretch of ten scrambled packets
        packets[NthOf(packets, 0x0181, n)][3] |= 0x80;
    packets[NthOf(packets, 0x0122, 100)][3] ^= 0x05;  // a wrong counter: two breaks

    TempDir dir;
    const std::string path = dir.File("rec.ts");
    ASSERT_TRUE(WriteFile(path, Flatten(packets)));
    pidsift::CheckReport report;
    ASSERT_EQ(CheckWithEvents(path, on_event, &report), 0);
    EXPECT_EQ(seen.breaks, report.checks[TS_CHECK_CONTINUITY].count);
    EXPECT_EQ(seen.breaks, 2u);
    EXPECT_EQ(seen.break_pids, (std::vector<u16>{0x0122, 0x0122}));
    EXPECT_EQ(seen.damaged, 2u);
    EXPECT_EQ(seen.scrambled, 1u);
    EXPECT_EQ(seen.clear, 1u);
    EXPECT_EQ(seen.sync_losses, 0u);
    // One event a second of the clock, and one at the end.
    ASSERT_GE(seen.second_times.size(), 2u);
    EXPECT_EQ(seen.second_times.size(), size_t(report.duration / 27000000) + 1);
    EXPECT_TRUE(std::is_sorted(seen.second_times.begin(), seen.second_times.end()));
    // Each program's packets, up to the last PCR of the clock.
    size_t last_tick = 0;
    for (size_t i = 0; i < packets.size(); ++i)
        if (PacketPID(packets[i]) == 0x0111 && HasPCR(packets[i]))
            last_tick = i;
    for (u16 program : {0x0400, 0x0401, 0x0408}) {
        SCOPED_TRACE(program);
        u64 expected = 0;
        for (size_t i = 0; i < last_tick; ++i)
            expected += recording.owners[i] == program;
        auto found =
            std::find_if(seen.programs.begin(), seen.programs.end(), [&](const auto &p) { return p.first == program; });
        ASSERT_NE(found, seen.programs.end());
        EXPECT_EQ(found->second, expected);
    }
    // Without events, the same counts.
    const auto quiet = Check(packets);
    EXPECT_EQ(quiet->ltCheck[TS_CHECK_CONTINUITY].u64Count, 2u);
}

// Where each check first failed: the packet's index, the offset of its sync byte in the input
// (here behind the 4-byte prefix of 192-byte units) and the time on the clock then. The run's own
// message hook hears of a file that cannot be opened.
TEST(CheckFile, WhereEachCheckFirstFailedAndTheRunsMessages)
{
    std::vector<Packet> packets = Broadcast(3000).packets;
    packets.erase(packets.begin() + long(NthOf(packets, 0x0121, 200)));
    const size_t at = NthOf(packets, 0x0121, 200);  // the packet after the lost one
    packets[NthOf(packets, 0x0112, 100)][1] |= 0x80;
    const size_t damaged = NthOf(packets, 0x0112, 100);
    TempDir dir;
    const std::string path = dir.File("units.ts");
    ASSERT_TRUE(WriteFile(path, Units(packets, 192)));
    pidsift::CheckReport report;
    ASSERT_EQ(pidsift::Check(path.c_str(), pidsift::RunSettings{}, &report), 0);
    const pidsift::CheckFinding &breaks = report.checks[TS_CHECK_CONTINUITY];
    EXPECT_EQ(breaks.count, 1u);
    EXPECT_EQ(breaks.first_packet, at);
    EXPECT_EQ(breaks.first_byte_offset, at * 192 + 4);
    EXPECT_TRUE(breaks.first_timed);
    EXPECT_EQ(breaks.first_time,
              PCRDuration(std::vector<Packet>(packets.begin(), packets.begin() + long(at) + 1), 0x0111));
    const pidsift::CheckFinding &transport = report.checks[TS_CHECK_TRANSPORT];
    EXPECT_EQ(transport.first_packet, damaged);
    EXPECT_EQ(transport.first_byte_offset, damaged * 192 + 4);
    EXPECT_EQ(report.checks[TS_CHECK_CRC], pidsift::CheckFinding{});
    // Noise after the last packet: the loss is found at the end, past every byte.
    Bytes tail = Flatten(packets);
    tail.insert(tail.end(), 300, 0x11);
    ASSERT_TRUE(WriteFile(path, tail));
    ASSERT_EQ(pidsift::Check(path.c_str(), pidsift::RunSettings{}, &report), 0);
    EXPECT_EQ(report.checks[TS_CHECK_SYNC_LOSS].first_packet, packets.size());
    EXPECT_EQ(report.checks[TS_CHECK_SYNC_LOSS].first_byte_offset, tail.size());

    std::vector<std::string> messages;
    pidsift::RunSettings settings;
    settings.message = [&](int failure, const char *failed, int error_number) {
        messages.push_back(std::to_string(failure) + " " + failed + " " + std::to_string(error_number));
    };
    testing::internal::CaptureStderr();
    EXPECT_EQ(pidsift::Check(dir.File("missing.ts").c_str(), settings, &report), -2);
    EXPECT_EQ(pidsift::Check(dir.path().c_str(), settings, &report), -5);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(messages, (std::vector<std::string>{std::to_string(TS_FAILED_OPEN) + " " + dir.File("missing.ts") + " 2",
                                                  std::to_string(TS_FAILED_READ) + " " + dir.path() + " 21"}));
    EXPECT_EQ(pidsift::Check(nullptr, settings, &report), -1);
    EXPECT_EQ(pidsift::Check(path.c_str(), settings, nullptr), -1);
}

// Two checks on two threads of one process, one of them with events: each report (and each event)
// is what the same check gives alone.
TEST(CheckFile, TwoChecksAtOnceGiveWhatEachGivesAlone)
{
    std::vector<Packet> damaged = Broadcast(3000).packets;
    for (size_t n = 20; n < 40; ++n)
        damaged[NthOf(damaged, 0x0181, n)][3] |= 0x80;
    damaged[NthOf(damaged, 0x0112, 7)][1] |= 0x80;
    damaged.erase(damaged.begin() + long(NthOf(damaged, 0x0121, 50)));
    TempDir dir;
    const std::string paths[2] = {dir.File("damaged.ts"), dir.File("large.ts")};
    ASSERT_TRUE(WriteFile(paths[0], Flatten(damaged)));
    ASSERT_TRUE(WriteFile(paths[1], Flatten(LargeMultiplex())));

    struct Outcome {
        int result = -1;
        pidsift::CheckReport report;
        std::vector<std::pair<int, u64>> events;  // kind and packet
        u64 progress = 0;
    };
    const auto run = [&](int which, Outcome *outcome) {
        pidsift::RunSettings settings;
        settings.progress = [outcome](u64 bytes_read, u64) { outcome->progress = bytes_read; };
        if (which == 0)
            settings.check_event = [outcome](const pidsift::CheckEvent &event) {
                outcome->events.emplace_back(int(event.kind), event.packet);
            };
        outcome->result = pidsift::Check(paths[which].c_str(), settings, &outcome->report);
    };
    Outcome alone[2], together[2];
    run(0, &alone[0]);
    run(1, &alone[1]);
    std::thread first(run, 0, &together[0]);
    std::thread second(run, 1, &together[1]);
    first.join();
    second.join();
    for (int which : {0, 1}) {
        SCOPED_TRACE(which);
        EXPECT_EQ(together[which].result, 0);
        EXPECT_TRUE(together[which].report == alone[which].report);
        EXPECT_EQ(together[which].events, alone[which].events);
        EXPECT_EQ(together[which].progress, together[which].report.bytes);
    }
    EXPECT_EQ(alone[0].report.checks[TS_CHECK_CONTINUITY].count, 1u);
    EXPECT_EQ(alone[0].report.checks[TS_CHECK_TRANSPORT].count, 1u);
    EXPECT_GE(alone[0].events.size(), 4u);
    EXPECT_TRUE(alone[1].events.empty());
    EXPECT_EQ(alone[1].report.programs.size(), 40u);
}

TEST(CheckFile, FailuresAndNullArguments)
{
    auto report = std::make_unique<TS_CheckReport>();
    EXPECT_EQ(TS_CheckFile(nullptr, "x"), -1);
    EXPECT_EQ(TS_CheckFile(report.get(), nullptr), -1);
    TempDir dir;
    testing::internal::CaptureStderr();
    EXPECT_EQ(TS_CheckFile(report.get(), dir.File("missing.ts").c_str()), -2);
    EXPECT_EQ(TS_CheckFile(report.get(), dir.path().c_str()), -5);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(report->u64Packets, 0u);
    EXPECT_EQ(report->u16ProgramCount, 0);
    // An empty file is checked: nothing in it, nothing wrong.
    int result = 1;
    report = Check(Bytes{}, &result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(report->u32UnitSize, 0u);
    EXPECT_EQ(report->u8Timed, 0);
    ExpectNoErrors(*report);
}

}  // namespace
