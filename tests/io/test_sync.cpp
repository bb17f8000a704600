// Stream buffering and packet sync: which packets the drivers' loop visits.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <random>

#include "io/io.h"
#include "io/mapped_input.h"
#include "stream_builder.h"

namespace {

using namespace testsupport;

// What the drivers' read loop did with an input: the offsets of the packets it visited (checked
// against the packet bytes found there) and the sync's tallies.
struct Visit {
    std::vector<u64> offsets;
    TS_Sync sync;
};

Visit Visited(const Bytes &bytes)
{
    TempDir dir;
    const std::string path = dir.File("in.ts");
    EXPECT_TRUE(WriteFile(path, bytes));
    const int fd = TS_Input_Open(path.c_str());
    EXPECT_GE(fd, 0);
    TS_SimpleData *state = &g_tSimpleData;
    TS_InitialiseSimple(state);
    Visit visit = {};
    std::vector<Packet> visited;
    TS_Stream_Run(&visit.sync, fd, path.c_str(), state->lu8Stream, &state->u64Size, &state->u64Pos,
                  [&](const u8 *packet) {
                      Packet copy;
                      std::memcpy(copy.data(), packet, 188);
                      visited.push_back(copy);
                      return true;
                  });
    TS_Input_Close(fd);
    // Locate each visited packet in the input, in order.
    u64 from = 0;
    for (const Packet &packet : visited) {
        auto at = std::search(bytes.begin() + long(from), bytes.end(), packet.begin(), packet.end());
        EXPECT_NE(at, bytes.end());
        visit.offsets.push_back(u64(at - bytes.begin()));
        from = visit.offsets.back() + 1;
    }
    return visit;
}

std::vector<u64> VisitedOffsets(const Bytes &bytes) { return Visited(bytes).offsets; }

// Distinct packets, so that every visited packet can be told apart.
std::vector<Packet> DistinctPackets(size_t count, u16 pid = 0x100)
{
    PacketBuilder builder;
    std::vector<Packet> packets;
    for (size_t i = 0; i < count; ++i) {
        Packet packet = builder.Payload(pid, 0x00);
        for (int b = 4; b < 188; ++b)
            packet[b] = u8((i * 31 + b) & 0x3F);  // never 0x47
        packet[4] = u8(i);
        packet[5] = u8(i >> 8);
        packets.push_back(packet);
    }
    return packets;
}

TEST(StreamState, InitialiseAndAppend)
{
    TS_SimpleData *state = &g_tSimpleData;
    EXPECT_EQ(TS_InitialiseSimple(nullptr), -1);
    EXPECT_EQ(TS_Initialise(nullptr), -1);
    ASSERT_EQ(TS_InitialiseSimple(state), 0);
    EXPECT_EQ(state->tPATSection.u8Complete, 1);
    EXPECT_EQ(state->tPMTSection.u8LastCounter, 255);
    EXPECT_EQ(state->tPAT.u8Valid, 0);

    const u8 chunk[] = {1, 2, 3, 4, 5};
    EXPECT_EQ(TS_AddStreamSimple(nullptr, chunk, 5), -1);
    EXPECT_EQ(TS_AddStreamSimple(state, nullptr, 5), -1);
    ASSERT_EQ(TS_AddStreamSimple(state, chunk, 5), 0);
    state->u64Pos = 3;  // two bytes not yet consumed
    ASSERT_EQ(TS_AddStreamSimple(state, chunk, 2), 0);
    EXPECT_EQ(state->u64Size, 4u);
    EXPECT_EQ(state->u64Pos, 0u);
    EXPECT_EQ(std::memcmp(state->lu8Stream, "\x04\x05\x01\x02", 4), 0);
    // A chunk that would not fit behind the tail is refused and changes nothing.
    EXPECT_EQ(TS_AddStreamSimple(state, g_lu8Buffer, TS_STREAM_CAPACITY - 3), -2);
    EXPECT_EQ(state->u64Size, 4u);
    // A full chunk behind a tail of 187 bytes fits.
    state->u64Pos = 0;
    state->u64Size = 187;
    EXPECT_EQ(TS_AddStreamSimple(state, g_lu8Buffer, TS_READ_CHUNK), 0);

    TS_Data *data = &g_tData;
    ASSERT_EQ(TS_Initialise(data), 0);
    EXPECT_EQ(data->ltPMTSection[15].u8Complete, 1);
    EXPECT_EQ(data->tEMMSection.u8LastCounter, 255);
    ASSERT_EQ(TS_AddStream(data, chunk, 5), 0);
    data->u64Pos = 5;
    ASSERT_EQ(TS_AddStream(data, chunk, 0), 0);
    EXPECT_EQ(data->u64Size, 0u);
    EXPECT_EQ(TS_AddStream(nullptr, chunk, 1), -1);
}

TEST(PacketSync, CleanStreamAndPartialEnds)
{
    const std::vector<Packet> packets = DistinctPackets(10);
    Bytes bytes = Flatten(packets);
    std::vector<u64> expected;
    for (u64 i = 0; i < 10; ++i)
        expected.push_back(i * 188);
    EXPECT_EQ(VisitedOffsets(bytes), expected);

    // A trailing partial packet is dropped; a single packet file yields one packet.
    Bytes truncated = bytes;
    truncated.resize(bytes.size() - 100);
    expected.pop_back();
    EXPECT_EQ(VisitedOffsets(truncated), expected);
    EXPECT_EQ(VisitedOffsets(Bytes(bytes.begin(), bytes.begin() + 188)), std::vector<u64>{0});
    EXPECT_TRUE(VisitedOffsets(Bytes(bytes.begin(), bytes.begin() + 187)).empty());
    EXPECT_TRUE(VisitedOffsets(Bytes(5000, 0x00)).empty());
    EXPECT_TRUE(VisitedOffsets(Bytes()).empty());
}

TEST(PacketSync, GarbageBeforeAndBetweenPackets)
{
    const std::vector<Packet> packets = DistinctPackets(6);
    Bytes bytes(13, 0x00);
    bytes[5] = 0x47;  // a lone sync byte in the garbage: not confirmed by the next packet
    std::vector<u64> expected;
    for (size_t i = 0; i < packets.size(); ++i) {
        if (i == 3) {
            Bytes garbage = {0x00, 0x47, 0x12, 0x47, 0x00};
            bytes.insert(bytes.end(), garbage.begin(), garbage.end());
        }
        expected.push_back(bytes.size());
        Append(&bytes, packets[i]);
    }
    EXPECT_EQ(VisitedOffsets(bytes), expected);
}

TEST(PacketSync, TimestampedUnitsWithSyncBytesInTheirPrefix)
{
    // 192-byte units whose 4-byte prefix often holds 0x47: a byte-wise resync would take the
    // prefix for a packet start.
    const std::vector<Packet> packets = DistinctPackets(40);
    Bytes bytes;
    std::vector<u64> expected;
    for (size_t i = 0; i < packets.size(); ++i) {
        const u8 prefix[4] = {0x47, 0x47, u8(i), 0x47};
        bytes.insert(bytes.end(), prefix, prefix + 4);
        expected.push_back(bytes.size());
        Append(&bytes, packets[i]);
    }
    EXPECT_EQ(VisitedOffsets(bytes), expected);

    // 204-byte packets carry 16 parity bytes after each packet.
    bytes.clear();
    expected.clear();
    for (const Packet &packet : packets) {
        expected.push_back(bytes.size());
        Append(&bytes, packet);
        Bytes parity(16, 0x47);
        bytes.insert(bytes.end(), parity.begin(), parity.end());
    }
    EXPECT_EQ(VisitedOffsets(bytes), expected);
}

// A long run of garbage with a single 0x47 that no packet spacing confirms, far from the
// packets: exactly the packets of the recording are visited.
TEST(PacketSync, LoneSyncByteFarInsideLeadingGarbage)
{
    const std::vector<Packet> packets = DistinctPackets(50);
    for (const size_t lone : {size_t(7), size_t(1000), size_t(2900)}) {
        SCOPED_TRACE(lone);
        Bytes bytes(3001, 0x00);
        for (size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = u8((i * 7) % 0x40);  // never 0x47
        bytes[lone] = 0x47;
        std::vector<u64> expected;
        for (const Packet &packet : packets) {
            expected.push_back(bytes.size());
            Append(&bytes, packet);
        }
        EXPECT_EQ(VisitedOffsets(bytes), expected);
    }
}

// A unit that lost its timestamp prefix (or a packet its parity) puts the next packet right at
// the end of the last one: the search starts there, so no packet is lost.
TEST(PacketSync, UnitShortenedToItsPacketLosesNothing)
{
    const std::vector<Packet> packets = DistinctPackets(60);
    for (const size_t extra : {size_t(4), size_t(16)}) {
        SCOPED_TRACE(extra);
        Bytes bytes;
        std::vector<u64> expected;
        for (size_t i = 0; i < packets.size(); ++i) {
            expected.push_back(bytes.size());
            Append(&bytes, packets[i]);
            if (i != 30) {
                const Bytes trailer(extra, 0x11);
                bytes.insert(bytes.end(), trailer.begin(), trailer.end());
            }
        }
        EXPECT_EQ(VisitedOffsets(bytes), expected);
    }
}

// The last unit of the input lost its sync byte and ends exactly where the input ends: it is
// due on the spacing and complete, so the sync is lost once and its 188 bytes are skipped; every
// packet before it is visited. Once in the input's only read, once behind several reads.
TEST(PacketSync, LastUnitWithoutItsSyncByteAtTheEndOfTheInput)
{
    for (const size_t count : {size_t(10), size_t(2000)}) {
        SCOPED_TRACE(count);
        Bytes bytes = Flatten(DistinctPackets(count));
        bytes[(count - 1) * 188] = 0x00;
        const Visit visit = Visited(bytes);
        std::vector<u64> expected;
        for (u64 i = 0; i + 1 < count; ++i)
            expected.push_back(i * 188);
        EXPECT_EQ(visit.offsets, expected);
        EXPECT_EQ(visit.sync.u64Losses, 1u);
        EXPECT_EQ(visit.sync.u64Skipped, 188u);
        EXPECT_EQ(visit.sync.u64BadSyncBytes, 1u);
        EXPECT_EQ(visit.sync.u64BytesRead, bytes.size());
    }
}

// 192-byte units whose timestamp prefix holds a 0x47 in its first byte only: the prefixes stand
// at the packet spacing as well as the packets, four bytes before them. The sync locks on the
// packets: each visited once, nothing skipped, the lock never lost.
TEST(PacketSync, TimestampPrefixWithASyncByteInItsFirstByteOnly)
{
    const std::vector<Packet> packets = DistinctPackets(300);
    Bytes bytes;
    std::vector<u64> expected;
    for (size_t i = 0; i < packets.size(); ++i) {
        const u8 prefix[4] = {0x47, u8(i & 0x3F), 0x00, u8(i >> 6)};
        bytes.insert(bytes.end(), prefix, prefix + 4);
        expected.push_back(bytes.size());
        Append(&bytes, packets[i]);
    }
    const Visit visit = Visited(bytes);
    EXPECT_EQ(visit.offsets, expected);
    EXPECT_EQ(visit.sync.u32Unit, 192u);
    EXPECT_EQ(visit.sync.u64Skipped, 0u);
    EXPECT_EQ(visit.sync.u64Losses, 0u);
    EXPECT_EQ(visit.sync.u64BadSyncBytes, 0u);
}

TEST(PacketSync, SyncByteInsidePayloadAfterLossOfSync)
{
    std::vector<Packet> packets = DistinctPackets(8);
    packets[4][100] = 0x47;  // inside the payload
    Bytes bytes;
    std::vector<u64> expected;
    for (size_t i = 0; i < packets.size(); ++i) {
        if (i == 4) {
            // Half a packet lost: the next bytes are the second half of packet 4's payload area
            // up to its 0x47, then the real packets follow.
            Bytes lost(packets[4].begin() + 40, packets[4].end());
            bytes.insert(bytes.end(), lost.begin(), lost.end());
            continue;
        }
        expected.push_back(bytes.size());
        Append(&bytes, packets[i]);
    }
    EXPECT_EQ(VisitedOffsets(bytes), expected);
}

TEST(PacketSync, PacketStraddlingTheReadChunkBoundary)
{
    // 32 MiB is not a multiple of 188: some packet straddles the first chunk's end. Put garbage
    // so that a sync candidate also waits at the boundary.
    const size_t count = TS_READ_CHUNK / 188 + 3;
    Bytes bytes;
    bytes.reserve(count * 188 + 200);
    PacketBuilder builder;
    std::vector<u64> expected;
    for (size_t i = 0; i < count; ++i) {
        if (i == count - 4) {
            const Bytes garbage(7, 0x11);
            bytes.insert(bytes.end(), garbage.begin(), garbage.end());
        }
        Packet packet = builder.Payload(u16(0x100 + i % 64), u8(i));
        packet[4] = u8(i);
        packet[5] = u8(i >> 8);
        packet[6] = u8(i >> 16);
        for (int b = 7; b < 188; ++b)
            packet[b] = 0;
        expected.push_back(bytes.size());
        Append(&bytes, packet);
    }
    const std::vector<u64> visited = VisitedOffsets(bytes);
    ASSERT_EQ(visited.size(), expected.size());
    EXPECT_EQ(visited, expected);
}

TEST(PacketSync, RandomBytesNeverCrash)
{
    std::mt19937 random(7);
    for (int round = 0; round < 20; ++round) {
        Bytes bytes(1000 + random() % 5000);
        for (u8 &b : bytes)
            b = random() % 3 == 0 ? 0x47 : u8(random());
        for (u64 offset : VisitedOffsets(bytes))
            EXPECT_EQ(bytes[offset], 0x47);
    }
    // All sync bytes: every 188th byte is a packet start.
    const std::vector<u64> visited = VisitedOffsets(Bytes(188 * 5, 0x47));
    EXPECT_EQ(visited.size(), 5u);
}

}  // namespace
