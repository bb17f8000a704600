// Regular files scanned through mapped windows (TS_Stream_RunMapped): the packets, their offsets,
// the sync's tallies and the rest at the end are the read loop's, whatever the window's size and
// wherever the descriptor stands; a file that grows or shrinks under the run; a run stopped inside
// a window; and the check and the dump on files against the same bytes through a FIFO.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <pidsift/check.h>
#include <pidsift/demux.h>

#include "capture.h"
#include "io/mapped_input.h"
#include "recording.h"

#ifdef PIDSIFT_SANITIZED
// A lost page of a window raises SIGBUS, for the library's handler. AddressSanitizer lets a
// program install its own handler and then leaves SIGBUS to it: its defaults, set here so that
// the test of a file truncated under its window does not rest on them.
extern "C" const char *__asan_default_options() { return "allow_user_segv_handler=1:handle_sigbus=1"; }
#endif

namespace {

using namespace testsupport;

// The demux's stream buffer: a read block and the carried tail.
constexpr u64 kCapacity = TS_READ_BLOCK + 64 * 1024;
const u64 kPage = TS_Map_PageSize();

// ---- Recordings ----------------------------------------------------------------------------

// A broadcast's packets, made once: three programs with their PMTs on 0x01F0, 0x01F1 and 0x01F8,
// the PCR on the video PID, an ECM and an EMM PID, the SDT, NIT and guide between them.
const std::vector<Packet> &Broadcast()
{
    static const std::vector<Packet> packets = Generate(SampleBroadcast(54000)).packets;
    return packets;
}

std::vector<Packet> BroadcastPackets(size_t count)
{
    return std::vector<Packet>(Broadcast().begin(), Broadcast().begin() + long(count));
}

// A stretch of the recording in one kind of unit: 188-byte packets, 192-byte units (a 4-byte
// arrival time before each packet) or 204-byte packets (16 parity bytes after each).
struct Stretch {
    u32 unit;
    size_t packets;
};

// A recording as a damaged capture holds it, and where its whole packets stand.
struct Damaged {
    Bytes bytes;
    std::vector<u64> offsets;  // the sync byte of every whole packet, in order
    u64 garbage = 0;           // bytes of the bursts
    size_t bursts = 0;
    std::vector<size_t> after_bursts;  // the index of the whole packet after each burst
};

// The packets laid out in the stretches of the plan, with a burst of garbage between every two
// stretches and now and then between packets (one packet in burst_every on average); the last
// packet of the plan is cut by the end of the file. The bursts hold stray sync bytes that no
// spacing confirms (none where the next packet was due after the last one), so that the sync
// finds every packet of the layout and nothing else.
Damaged Damage(const std::vector<Packet> &packets, const std::vector<Stretch> &plan, u32 burst_every, u32 seed)
{
    Damaged damaged;
    std::mt19937 random(seed);
    std::vector<size_t> strays;
    const auto burst = [&] {
        const size_t at = damaged.bytes.size();
        const size_t length = 24 + random() % 700;
        for (size_t i = 0; i < length; ++i) {
            const u8 byte = u8(random());
            damaged.bytes.push_back(byte == TS_SYNC_BYTE ? 0x00 : byte);
        }
        for (int k = 0; k < 3; ++k) {
            const size_t stray = at + 20 + random() % (length - 20);
            damaged.bytes[stray] = TS_SYNC_BYTE;
            strays.push_back(stray);
        }
        damaged.garbage += length;
        ++damaged.bursts;
        damaged.after_bursts.push_back(damaged.offsets.size());
    };
    size_t index = 0;
    u32 clock = 0;
    for (size_t s = 0; s < plan.size(); ++s) {
        if (s > 0)
            burst();
        const u32 unit = plan[s].unit;
        for (size_t n = 0; n < plan[s].packets; ++n, ++index) {
            if (n > 0 && random() % burst_every == 0)
                burst();
            const size_t unit_start = damaged.bytes.size();
            if (unit == 192) {
                clock += 1400 + random() % 300;  // the copy-control bits 00: the first byte is below 0x40
                damaged.bytes.insert(damaged.bytes.end(),
                                     {u8((clock >> 24) & 0x3F), u8(clock >> 16), u8(clock >> 8), u8(clock)});
            }
            const u64 offset = damaged.bytes.size();
            Append(&damaged.bytes, packets.at(index));
            if (unit == 204)
                for (int i = 0; i < 16; ++i)
                    damaged.bytes.push_back(u8(random()));
            if (s + 1 == plan.size() && n + 1 == plan[s].packets)
                damaged.bytes.resize(unit_start + (unit == 192 ? 4 : 0) + 1 + random() % 187);
            else
                damaged.offsets.push_back(offset);
        }
    }
    for (size_t stray : strays)
        for (u32 spacing : {188u, 192u, 204u})
            if (stray + spacing < damaged.bytes.size() && damaged.bytes[stray + spacing] == TS_SYNC_BYTE)
                damaged.bytes[stray] = 0x00;
    return damaged;
}

// ---- Runs ----------------------------------------------------------------------------------

// A window met during a mapped run: its first byte's offset in the file, and its length.
struct Window {
    u64 start;
    u64 length;
    bool operator==(const Window &) const = default;
};

// What one run visited and left.
struct Seen {
    int mapped = -1;  // what TS_Stream_RunMapped returned; -1: the read loop alone
    int result = 0;
    std::vector<u64> offsets;  // of the packets, from the descriptor's position, as the demux counts them
    Bytes packets;             // the packets visited, back to back
    std::vector<bool> from_window;
    std::vector<Window> windows;  // in the order met (the windows that held a packet)
    TS_Sync sync = {};
    Bytes rest;              // from pos to size at the end
    u64 rest_offset = 0;     // where the rest starts, by the bytes read
    bool in_stream = false;  // the bytes in hand are the stream buffer's at the end
    size_t misplaced = 0;    // packets that are not the file's bytes at their offset
    off_t descriptor = 0;    // the descriptor's position at the end
};

// Called at every packet with what the run has seen so far (the packet's offset last); false
// stops the run.
using Hook = std::function<bool(const Seen &seen)>;

// The packets of fd from its position (start), through windows of window bytes (0: through the
// read loop alone, as for a pipe), each checked against file (when given) at its offset.
Seen Run(int fd, const char *path, u64 window, u64 start = 0, const Bytes *file = nullptr, const Hook &hook = {},
         const TS_Reporter &reporter = {})
{
    Seen seen;
    std::unique_ptr<u8[]> stream(new u8[kCapacity]);
    const u8 *bytes = stream.get();
    u64 size = 0;
    u64 pos = 0;
    const auto visit = [&](const u8 *packet) {
        const u64 offset = seen.sync.u64BytesRead - size + u64(packet - bytes);
        const bool mapped = bytes != stream.get();
        if (mapped) {
            const Window met = {start + seen.sync.u64BytesRead - size, size};
            if (seen.windows.empty() || !(seen.windows.back() == met))
                seen.windows.push_back(met);
        }
        if (packet < bytes || packet + TS_PACKET_SIZE > bytes + size ||
            (file != nullptr && (start + offset + TS_PACKET_SIZE > file->size() ||
                                 std::memcmp(packet, file->data() + start + offset, TS_PACKET_SIZE) != 0)))
            ++seen.misplaced;
        seen.offsets.push_back(offset);
        seen.packets.insert(seen.packets.end(), packet, packet + TS_PACKET_SIZE);
        seen.from_window.push_back(mapped);
        return !hook || hook(seen);
    };
    if (window != 0)
        seen.mapped = TS_Stream_RunMapped(&seen.sync, fd, path, stream.get(), &bytes, &size, &pos, visit, kCapacity,
                                          reporter, &seen.result, window);
    if (seen.mapped != 1) {
        bytes = stream.get();
        seen.result = TS_Stream_Run(&seen.sync, fd, path, stream.get(), &size, &pos, visit, kCapacity, reporter);
    }
    seen.rest.assign(bytes + pos, bytes + size);
    seen.rest_offset = seen.sync.u64BytesRead - size + pos;
    seen.in_stream = bytes == stream.get();
    seen.descriptor = lseek(fd, 0, SEEK_CUR);
    return seen;
}

// The run of a file from position start.
Seen RunFile(const std::string &path, u64 window, u64 start = 0, const Bytes *file = nullptr, const Hook &hook = {},
             const TS_Reporter &reporter = {})
{
    const int fd = TS_Input_Open(path.c_str());
    EXPECT_GE(fd, 0);
    EXPECT_EQ(lseek(fd, off_t(start), SEEK_SET), off_t(start));
    Seen seen = Run(fd, path.c_str(), window, start, file, hook, reporter);
    TS_Input_Close(fd);
    return seen;
}

// The packets, offsets, tallies, rest and result of a mapped run are the read loop's.
void ExpectSameAsReadLoop(const Seen &mapped, const Seen &read)
{
    EXPECT_EQ(mapped.mapped, 1);
    EXPECT_EQ(mapped.result, read.result);
    EXPECT_EQ(mapped.misplaced, 0u);
    ASSERT_EQ(mapped.offsets.size(), read.offsets.size());
    EXPECT_EQ(mapped.offsets, read.offsets);
    EXPECT_TRUE(mapped.packets == read.packets);
    EXPECT_EQ(mapped.sync.u64BytesRead, read.sync.u64BytesRead);
    EXPECT_EQ(mapped.sync.u64Skipped, read.sync.u64Skipped);
    EXPECT_EQ(mapped.sync.u64Losses, read.sync.u64Losses);
    EXPECT_EQ(mapped.sync.u64BadSyncBytes, read.sync.u64BadSyncBytes);
    EXPECT_EQ(mapped.sync.u64Hunted, read.sync.u64Hunted);
    EXPECT_EQ(mapped.sync.u32Unit, read.sync.u32Unit);
    EXPECT_EQ(mapped.sync.u32Spacing, read.sync.u32Spacing);
    EXPECT_EQ(mapped.sync.u32LostSpacing, read.sync.u32LostSpacing);
    EXPECT_TRUE(mapped.rest == read.rest) << mapped.rest.size() << " bytes left against " << read.rest.size();
    EXPECT_EQ(mapped.rest_offset, read.rest_offset);
    EXPECT_EQ(mapped.descriptor, read.descriptor);
}

// The windows of a run over a file of file_size bytes from start (those that held a packet), as
// TS_Stream_RunMapped lays them: on page boundaries from the page of start on, each starting
// on the page that holds the tail the one before left and reaching past it, window bytes long
// (two pages at least) or up to the end of the file; when the tail fills that much (a hunt's
// candidate waits with the 33 units of 204 bytes after it), a window's size past the end of the
// one before. The windows reach the end of the file: only packets of its last 33 units (those a
// hunt there waits for) come from the stream buffer.
void ExpectWindows(const Seen &seen, u64 window, u64 start, u64 file_size)
{
    const std::vector<Window> &windows = seen.windows;
    ASSERT_FALSE(windows.empty());
    const u64 length = std::max(window, 2 * kPage);
    EXPECT_GE(windows.front().start, start / kPage * kPage);
    u64 longer = 0;
    for (size_t i = 0; i < windows.size(); ++i) {
        SCOPED_TRACE("window " + std::to_string(i));
        const Window &at = windows[i];
        EXPECT_EQ(at.start % kPage, 0u);
        EXPECT_LE(at.length, file_size - at.start);
        if (at.length != std::min(length, file_size - at.start)) {
            EXPECT_GT(at.length, length);
            EXPECT_LE(at.length, length + 33 * 204 + kPage);
            ++longer;
        }
        if (i > 0) {
            const u64 end = windows[i - 1].start + windows[i - 1].length;
            EXPECT_LE(at.start, end);
            EXPECT_GT(at.start + at.length, end);
        }
    }
    // Only a window too small for the hunt's wait is ever made longer.
    if (length >= 20 * 1024) {
        EXPECT_EQ(longer, 0u);
    }
    size_t read = 0;
    for (size_t i = 0; i < seen.offsets.size(); ++i)
        if (!seen.from_window[i] && start + seen.offsets[i] < file_size - 33 * 204)
            ++read;
    EXPECT_EQ(read, 0u) << "packets read before the last units of the file";
}

// The lines of /proc/self/maps that map path.
size_t Mappings(const std::string &path)
{
    std::string maps;
    EXPECT_TRUE(ReadFile("/proc/self/maps", &maps));
    return Occurrences(maps, path + "\n");
}

// ---- The same packets as the read loop --------------------------------------------------------

const u64 kWindows[] = {8 * 1024, 20 * 1024, 100000, TS_MAP_WINDOW};

class MappedInput : public ::testing::Test {
protected:
    std::string Write(const std::string &name, const Bytes &bytes)
    {
        const std::string path = dir.File(name);
        EXPECT_TRUE(WriteFile(path, bytes));
        return path;
    }
    TempDir dir;
};

// Three damaged captures past 4 MiB: 188-byte packets with bursts of garbage, stretches of
// 192-byte units and 204-byte packets between 188-byte ones, and 192-byte units throughout;
// each ends in a cut packet. The read loop finds the layout's packets; every window size finds
// what the read loop finds, from windows laid out as the run lays them.
TEST_F(MappedInput, DamagedCapturesGiveTheReadLoopsPacketsAtEveryWindowSize)
{
    const std::vector<Packet> packets = BroadcastPackets(24000);
    const struct {
        const char *name;
        std::vector<Stretch> plan;
    } captures[] = {
        {"188", {{188, 24000}}},
        {"mixed", {{188, 6000}, {192, 6000}, {204, 6000}, {188, 6000}}},
        {"192", {{192, 24000}}},
    };
    for (const auto &capture : captures) {
        SCOPED_TRACE(capture.name);
        const Damaged damaged = Damage(packets, capture.plan, 300, 11);
        ASSERT_GT(damaged.bytes.size(), TS_MAP_WINDOW + TS_MAP_WINDOW / 16);
        const std::string path = Write(std::string(capture.name) + ".ts", damaged.bytes);

        const Seen read = RunFile(path, 0, 0, &damaged.bytes);
        ASSERT_EQ(read.result, 0);
        EXPECT_EQ(read.offsets, damaged.offsets);
        EXPECT_EQ(read.misplaced, 0u);
        EXPECT_EQ(read.sync.u64BytesRead, damaged.bytes.size());
        const u64 last_end = damaged.offsets.back() + TS_PACKET_SIZE;
        EXPECT_TRUE(read.rest == Bytes(damaged.bytes.begin() + long(last_end), damaged.bytes.end()));
        if (std::string(capture.name) == "188") {
            EXPECT_EQ(read.sync.u64Losses, damaged.bursts);
            EXPECT_EQ(read.sync.u64Skipped, damaged.garbage);
        }

        for (const u64 window : kWindows) {
            SCOPED_TRACE("window " + std::to_string(window));
            const Seen mapped = RunFile(path, window, 0, &damaged.bytes);
            ExpectSameAsReadLoop(mapped, read);
            ExpectWindows(mapped, window, 0, damaged.bytes.size());
            EXPECT_TRUE(mapped.in_stream);
        }
    }
}

// A window smaller than two pages is made two pages long, and one that is no multiple of the
// page size keeps its length: it ends inside a page, and the next starts on the page of the
// tail.
TEST_F(MappedInput, WindowSizesAreTakenAsGivenDownToTwoPages)
{
    const Damaged damaged = Damage(BroadcastPackets(6000), {{188, 3000}, {192, 3000}}, 200, 5);
    const std::string path = Write("in.ts", damaged.bytes);
    const Seen read = RunFile(path, 0);
    for (const u64 window : {u64(1), kPage, 2 * kPage - 1, u64(100000)}) {
        SCOPED_TRACE(window);
        const Seen mapped = RunFile(path, window, 0, &damaged.bytes);
        ExpectSameAsReadLoop(mapped, read);
        ExpectWindows(mapped, window, 0, damaged.bytes.size());
        EXPECT_EQ(mapped.windows.front().length, std::max(window, 2 * kPage));
        EXPECT_GT(mapped.windows.size(), damaged.bytes.size() / std::max(window, 2 * kPage));
    }
}

// The run starts where the descriptor stands, as a read would: inside the first packet, just
// before a page's end, past it, on a packet's start; at the end of the file nothing is mapped
// and the read loop finds nothing.
TEST_F(MappedInput, StartsAtTheDescriptorsPosition)
{
    const Damaged damaged = Damage(BroadcastPackets(3000), {{188, 1500}, {192, 1500}}, 150, 6);
    const std::string path = Write("in.ts", damaged.bytes);
    ASSERT_EQ(damaged.offsets[30], 5640u);  // no burst before it
    ASSERT_EQ(damaged.offsets[31], 5828u);
    for (const u64 start : {u64(1), u64(4095), u64(5000), u64(5640)}) {
        SCOPED_TRACE("from " + std::to_string(start));
        // The read loop finds the layout's packets from one of the first after start on.
        const Seen read = RunFile(path, 0, start, &damaged.bytes);
        ASSERT_FALSE(read.offsets.empty());
        const auto first = std::find(damaged.offsets.begin(), damaged.offsets.end(), start + read.offsets.front());
        ASSERT_NE(first, damaged.offsets.end());
        EXPECT_LT(*first, start + 3 * 188);
        std::vector<u64> from_start;
        for (auto at = first; at != damaged.offsets.end(); ++at)
            from_start.push_back(*at - start);
        EXPECT_EQ(read.offsets, from_start);
        for (const u64 window : kWindows) {
            SCOPED_TRACE("window " + std::to_string(window));
            const Seen mapped = RunFile(path, window, start, &damaged.bytes);
            ExpectSameAsReadLoop(mapped, read);
            ExpectWindows(mapped, window, start, damaged.bytes.size());
            // A window of 20 KiB holds the first packet and the units that confirm it.
            if (window >= 20 * 1024) {
                EXPECT_EQ(mapped.windows.front().start, start / kPage * kPage);
            }
        }
    }

    const Seen at_end = RunFile(path, 8192, damaged.bytes.size());
    EXPECT_EQ(at_end.mapped, 0);
    EXPECT_EQ(at_end.result, 0);
    EXPECT_TRUE(at_end.offsets.empty());
    EXPECT_EQ(at_end.sync.u64BytesRead, 0u);
    EXPECT_TRUE(at_end.rest.empty());
    EXPECT_EQ(at_end.descriptor, off_t(damaged.bytes.size()));
}

// ---- Files that change under the run -----------------------------------------------------------

// A recording still being written: the bytes appended after the run began (the rest of the
// packet the old end cut, more packets) come through the read loop behind the last window.
TEST_F(MappedInput, FileGrowingDuringTheRunGivesEveryPacket)
{
    const std::vector<Packet> packets = BroadcastPackets(600);
    const Bytes whole = Flatten(packets);
    const u64 old_size = 300 * 188 + 100;
    for (const u64 window : {u64(8192), TS_MAP_WINDOW}) {
        SCOPED_TRACE(window);
        const std::string path = Write("growing.ts", Bytes(whole.begin(), whole.begin() + long(old_size)));
        const Hook append = [&](const Seen &sofar) {
            if (sofar.offsets.size() == 1) {
                const int out = open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
                EXPECT_GE(out, 0);
                EXPECT_EQ(write(out, whole.data() + old_size, whole.size() - old_size),
                          ssize_t(whole.size() - old_size));
                close(out);
            }
            return true;
        };
        const Seen seen = RunFile(path, window, 0, &whole, append);
        EXPECT_EQ(seen.mapped, 1);
        EXPECT_EQ(seen.result, 0);
        ASSERT_EQ(seen.offsets.size(), packets.size());
        for (size_t i = 0; i < packets.size(); ++i)
            ASSERT_EQ(seen.offsets[i], 188 * i) << i;
        EXPECT_EQ(seen.misplaced, 0u);
        EXPECT_TRUE(seen.packets == whole);
        // The windows ended at the size the file had; the packet it cut came from the stream buffer.
        EXPECT_EQ(seen.windows.back().start + seen.windows.back().length, old_size);
        EXPECT_TRUE(seen.from_window[299]);
        EXPECT_FALSE(seen.from_window[300]);
        EXPECT_EQ(seen.sync.u64BytesRead, whole.size());
        EXPECT_TRUE(seen.rest.empty());
        EXPECT_EQ(seen.sync.u64Losses, 0u);
    }
}

// A file cut to 8192 bytes while its first window is in use: the lost pages read as zeros, so
// the packet that straddles the new end ends in zeros and the sync is lost once after it; the
// run ends as a failed read, told once. The same file read again ends cleanly at its new end.
TEST_F(MappedInput, FileTruncatedUnderTheWindowEndsAsAFailedRead)
{
    const std::vector<Packet> packets = BroadcastPackets(200);
    const Bytes whole = Flatten(packets);
    for (const u64 window : {u64(16384), TS_MAP_WINDOW}) {
        SCOPED_TRACE(window);
        const std::string path = Write("shrinking.ts", whole);
        std::vector<std::tuple<int, std::string, int>> messages;
        pidsift::RunSettings settings;
        settings.message = [&](int failure, const char *failed, int error_number) {
            messages.emplace_back(failure, failed, error_number);
        };
        const Hook truncate = [&](const Seen &sofar) {
            if (sofar.offsets.size() == 1) {
                const int out = open(path.c_str(), O_WRONLY | O_CLOEXEC);
                EXPECT_EQ(ftruncate(out, 8192), 0);
                close(out);
            }
            return true;
        };
        const Seen seen = RunFile(path, window, 0, nullptr, truncate, TS_Reporter{&settings});
        EXPECT_EQ(seen.mapped, 1);
        EXPECT_EQ(seen.result, -5);
        ASSERT_EQ(seen.offsets.size(), 44u);
        for (size_t i = 0; i < 44; ++i)
            EXPECT_EQ(seen.offsets[i], 188 * i);
        // 43 whole packets, then the 44th's 108 bytes before the new end and 80 zeros.
        EXPECT_TRUE(Bytes(seen.packets.begin(), seen.packets.begin() + 43 * 188 + 108) ==
                    Bytes(whole.begin(), whole.begin() + 8192));
        EXPECT_TRUE(Bytes(seen.packets.begin() + 8192, seen.packets.end()) == Bytes(80, 0x00));
        EXPECT_EQ(seen.sync.u64Losses, 1u);
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0], std::make_tuple(int(TS_FAILED_READ), path, EIO));

        messages.clear();
        const Bytes shorter(whole.begin(), whole.begin() + 8192);
        const Seen again = RunFile(path, window, 0, &shorter, {}, TS_Reporter{&settings});
        EXPECT_EQ(again.mapped, 1);
        EXPECT_EQ(again.result, 0);
        EXPECT_EQ(again.offsets.size(), 43u);
        EXPECT_EQ(again.misplaced, 0u);
        EXPECT_EQ(again.sync.u64Losses, 0u);
        EXPECT_TRUE(again.rest == Bytes(whole.begin() + 43 * 188, whole.begin() + 8192));
        EXPECT_TRUE(messages.empty());
    }
}

// ---- A stopped run -----------------------------------------------------------------------------

// The visitor stops the run at a packet inside a window (in the middle of the second window of
// 20 KiB; far from the end of a window of 4 MiB, more than the stream buffer holds before it):
// the run ends cleanly with the window gone, and the stream buffer holds the stopped packet's
// unit first, at the offset the bytes read give it. At every packet, a hunt's too, the mapped
// run stops as the read loop does.
TEST_F(MappedInput, StoppedRunKeepsTheStoppedUnitInTheStreamBuffer)
{
    const Damaged damaged = Damage(BroadcastPackets(24000), {{192, 24000}}, 400, 7);
    const std::string path = Write("units.ts", damaged.bytes);
    const struct {
        u64 window;
        size_t windows;  // the window the stop falls in
        u64 from;        // its bytes from its start up to the stop
    } stops[] = {{20 * 1024, 2, 10 * 1024}, {TS_MAP_WINDOW, 1, 1000 * 192}};
    for (const auto &stop : stops) {
        SCOPED_TRACE(stop.window);
        u64 stopped = ~u64(0);
        size_t mapped_while_stopping = 0;
        const Hook stop_there = [&](const Seen &sofar) {
            const size_t count = sofar.offsets.size();
            const u64 offset = sofar.offsets.back();
            // A packet of the locked spacing, one unit after the last.
            if (sofar.windows.size() < stop.windows || offset < sofar.windows.back().start + stop.from || count < 2 ||
                offset - sofar.offsets[count - 2] != 192)
                return true;
            stopped = offset;
            mapped_while_stopping = Mappings(path);
            return false;
        };
        const Seen seen = RunFile(path, stop.window, 0, &damaged.bytes, stop_there);
        ASSERT_NE(stopped, ~u64(0));
        EXPECT_EQ(seen.mapped, 1);
        EXPECT_EQ(seen.result, 0);
        EXPECT_EQ(seen.windows.size(), stop.windows);
        EXPECT_EQ(seen.offsets.back(), stopped);
        EXPECT_EQ(mapped_while_stopping, 1u);
        EXPECT_EQ(Mappings(path), 0u);
        EXPECT_TRUE(seen.in_stream);
        // The unit: its arrival time, then the packet.
        const u64 unit = stopped - 4;
        ASSERT_GE(seen.rest.size(), 192u);
        EXPECT_LE(seen.rest.size(), kCapacity);
        EXPECT_TRUE(seen.rest ==
                    Bytes(damaged.bytes.begin() + long(unit), damaged.bytes.begin() + long(unit + seen.rest.size())));
        EXPECT_EQ(seen.rest_offset, unit);
    }

    for (const size_t at : {size_t(0), size_t(10), damaged.after_bursts[0], damaged.after_bursts[1] + 1, size_t(5000),
                            damaged.after_bursts[20], size_t(23990)}) {
        SCOPED_TRACE(at);
        const Hook stop = [&](const Seen &sofar) { return sofar.offsets.size() != at + 1; };
        const Seen read = RunFile(path, 0, 0, &damaged.bytes, stop);
        ASSERT_EQ(read.offsets.size(), at + 1);
        for (const u64 window : {u64(20 * 1024), TS_MAP_WINDOW}) {
            SCOPED_TRACE(window);
            const Seen mapped = RunFile(path, window, 0, &damaged.bytes, stop);
            EXPECT_EQ(mapped.result, 0);
            EXPECT_EQ(mapped.offsets, read.offsets);
            EXPECT_EQ(mapped.rest_offset, read.rest_offset);
            const size_t common = std::min(read.rest.size(), mapped.rest.size());
            EXPECT_GE(common, 188u);
            EXPECT_TRUE(Bytes(read.rest.begin(), read.rest.begin() + long(common)) ==
                        Bytes(mapped.rest.begin(), mapped.rest.begin() + long(common)));
        }
    }
}

// ---- End to end ----------------------------------------------------------------------------

// What the check reports of a damaged recording of about 10 MB, and the events it meets, from
// the file (mapped) and from the same bytes through a FIFO (the read loop).
TEST_F(MappedInput, CheckReportsTheSameFromTheFileAsFromAFifo)
{
    const Damaged damaged = Damage(Broadcast(), {{188, 20000}, {192, 14000}, {188, 20000}}, 500, 23);
    ASSERT_GT(damaged.bytes.size(), 10'000'000u);
    const std::string path = Write("capture.ts", damaged.bytes);
    const std::string fifo = dir.File("capture.fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);

    using Event = std::tuple<int, u16, u64, u64, std::vector<std::pair<u16, u64>>>;
    // At each loss of sync: whether the file was mapped then.
    std::vector<size_t> mapped;
    const auto check = [&](const std::string &input, pidsift::CheckReport *report, std::vector<Event> *events) {
        pidsift::RunSettings settings;
        settings.check_event = [&](const pidsift::CheckEvent &event) {
            if (event.kind == pidsift::CheckEventKind::SyncLoss)
                mapped.push_back(Mappings(path));
            std::vector<std::pair<u16, u64>> programs;
            for (const pidsift::CheckProgramPackets &program : event.programs)
                programs.emplace_back(program.program_number, program.packets);
            events->emplace_back(int(event.kind), event.pid, event.packet, event.time, programs);
        };
        return pidsift::Check(input.c_str(), settings, report);
    };
    pidsift::CheckReport from_file;
    std::vector<Event> file_events;
    ASSERT_EQ(check(path, &from_file, &file_events), 0);
    EXPECT_GT(std::count(mapped.begin(), mapped.end(), 1u), 0);
    mapped.clear();

    std::thread writer([&] {
        const int out = open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
        size_t at = 0;
        while (out >= 0 && at < damaged.bytes.size()) {
            const ssize_t wrote =
                write(out, damaged.bytes.data() + at, std::min<size_t>(65536, damaged.bytes.size() - at));
            if (wrote <= 0)
                break;
            at += size_t(wrote);
        }
        close(out);
    });
    pidsift::CheckReport from_fifo;
    std::vector<Event> fifo_events;
    const int fifo_result = check(fifo, &from_fifo, &fifo_events);
    writer.join();
    ASSERT_EQ(fifo_result, 0);
    EXPECT_EQ(std::count(mapped.begin(), mapped.end(), 0u), long(mapped.size()));

    EXPECT_TRUE(from_file == from_fifo);
    EXPECT_EQ(from_file.bytes, from_fifo.bytes);
    EXPECT_EQ(from_file.packets, from_fifo.packets);
    EXPECT_EQ(from_file.skipped_bytes, from_fifo.skipped_bytes);
    EXPECT_EQ(from_file.trailing_bytes, from_fifo.trailing_bytes);
    for (int which = 0; which < TS_CHECK_COUNT; ++which) {
        SCOPED_TRACE(which);
        EXPECT_TRUE(from_file.checks[which] == from_fifo.checks[which]);
    }
    EXPECT_TRUE(file_events == fifo_events);
    // The damage shows: the bursts lost the sync, the end cut a packet.
    EXPECT_EQ(from_file.bytes, damaged.bytes.size());
    EXPECT_EQ(from_file.packets, damaged.offsets.size());
    EXPECT_EQ(from_file.sync_losses, damaged.bursts);
    EXPECT_EQ(from_file.skipped_bytes, damaged.garbage);
    EXPECT_EQ(from_file.trailing_bytes, damaged.bytes.size() - damaged.offsets.back() - TS_PACKET_SIZE);
    const pidsift::CheckFinding &loss = from_file.checks[TS_CHECK_SYNC_LOSS];
    EXPECT_EQ(loss.first_packet, damaged.after_bursts[0]);
    EXPECT_EQ(loss.first_byte_offset, damaged.offsets[damaged.after_bursts[0]]);
    std::vector<size_t> losses;
    for (const Event &event : file_events)
        if (std::get<0>(event) == int(pidsift::CheckEventKind::SyncLoss))
            losses.push_back(std::get<2>(event));
    EXPECT_EQ(losses, damaged.after_bursts);
}

// The dump's byte_offset of every packet of a recording of 192-byte units past 4 MiB: units that
// straddle the end of the first window, and a burst of garbage whose hunt waits across it.
TEST_F(MappedInput, DumpOffsetsAcrossTheEndOfAWindow)
{
    const std::vector<Packet> packets = BroadcastPackets(23000);
    Bytes bytes;
    std::vector<u64> offsets;
    for (size_t i = 0; i < packets.size(); ++i) {
        if (i == 21820) {
            // Garbage up to 2000 bytes before the end of the first window: the hunt's candidate
            // there waits for more than the window holds.
            while (bytes.size() < TS_MAP_WINDOW - 2000)
                bytes.push_back(u8(0x10 + bytes.size() % 0x30));
        }
        bytes.insert(bytes.end(), {0x00, u8(i >> 16), u8(i >> 8), u8(i)});
        offsets.push_back(bytes.size());
        Append(&bytes, packets[i]);
    }
    // A unit straddles the window's end.
    const auto straddling = std::find_if(offsets.begin(), offsets.end(),
                                         [](u64 offset) { return offset + TS_PACKET_SIZE > TS_MAP_WINDOW; });
    ASSERT_NE(straddling, offsets.end());
    ASSERT_LT(*straddling, TS_MAP_WINDOW);

    const std::string path = Write("units.ts", bytes);
    std::string text;
    pidsift::RunSettings settings;
    settings.printed.text = &text;
    ASSERT_EQ(pidsift::Dump(path.c_str(), TS_PRINT_PACKETS | TS_PRINT_JSON, settings), 0);
    std::vector<u64> dumped;
    size_t start = 0;
    size_t index = 0;
    while (start < text.size()) {
        const size_t end = text.find('\n', start);
        ASSERT_NE(end, std::string::npos);
        const nlohmann::json line = nlohmann::json::parse(text.substr(start, end - start));
        ASSERT_EQ(line["packet_index"], index++);
        dumped.push_back(line["byte_offset"]);
        start = end + 1;
    }
    EXPECT_EQ(dumped, offsets);
}

}  // namespace
