// The stream-buffer loop fed in chunks of fuzzer-chosen sizes. The input's last two bytes seed
// the chunk sizes; the bytes before them are the stream. Each chunk arrives as one message of a
// sequenced-packet socket, so that every read returns exactly that chunk. The packets visited
// must be the same, in the same order, as when the whole stream arrives in one read, and every
// packet handed out must lie inside the stream buffer and start with the sync byte.
// The stream is also a file (in memory), scanned from a position the seed chooses through mapped
// windows of the smallest size and through the read loop: the same packets at the same offsets,
// the same tallies and result, the same bytes left at the end.
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "support.h"
#include "common/bytes.h"
#include "io/io.h"
#include "io/mapped_input.h"

using fuzzsupport::Check;

namespace {

TS_SimpleData g_tState;

// Sends the stream as messages of the given sizes, then ends the stream.
void Send(int fd, const u8 *data, const std::vector<size_t> &chunks)
{
    size_t at = 0;
    for (size_t chunk : chunks) {
        if (send(fd, data + at, chunk, MSG_NOSIGNAL) != ssize_t(chunk))
            break;
        at += chunk;
    }
    shutdown(fd, SHUT_WR);
}

// Runs the loop over the stream delivered in chunks; returns the packets visited, back to back,
// and the PAT sections completed on the way.
std::vector<u8> Visit(const u8 *data, size_t size, const std::vector<size_t> &chunks, int *pats)
{
    int sockets[2];
    Check(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, sockets) == 0, "socket pair");
    std::thread sender(Send, sockets[0], data, chunks);

    TS_SimpleData_Reset(&g_tState);
    std::vector<u8> visited;
    *pats = 0;
    const u8 *stream = g_tState.lu8Stream;
    const int result = TS_Stream_Run(sockets[1], "chunks", g_tState.lu8Stream, &g_tState.u64Size, &g_tState.u64Pos,
                                     [&](const u8 *packet) {
        Check(packet >= stream && packet + TS_PACKET_SIZE <= stream + g_tState.u64Size, "packet inside the buffer");
        Check(packet[0] == TS_SYNC_BYTE, "packet starts with the sync byte");
        Check(g_tState.u64Pos <= g_tState.u64Size, "position within the buffer");
        visited.insert(visited.end(), packet, packet + TS_PACKET_SIZE);
        if (TS_Read13(packet + 1) == 0 && TS_PAT_ImportPreSection(&g_tState.tPATSection, packet) >= 0 &&
            g_tState.tPATSection.u8Complete) {
            TS_PAT_FromPreSection(&g_tState.tPAT, &g_tState.tPATSection);
            ++*pats;
        }
        return true;
    });
    sender.join();
    close(sockets[0]);
    close(sockets[1]);
    Check(result == 0, "the loop ends at the end of the stream");
    Check(visited.size() <= size, "no byte visited twice");
    return visited;
}

// The demux's stream buffer: a read block and the carried tail.
constexpr u64 kFileCapacity = TS_READ_BLOCK + 64 * 1024;

// What a run over the file visited and left: the packets back to back, their offsets as the
// demux counts them, the sync's tallies, the rest at the end and where the bytes read put it.
struct FileVisit {
    std::vector<u8> packets;
    std::vector<u64> offsets;
    u64 read_from = ~u64(0);  // the offset of the first packet visited in the stream buffer
    TS_Sync sync = {};
    std::vector<u8> rest;
    u64 rest_offset = 0;
    int result = 0;
    int mapped = 0;
};

FileVisit VisitFile(int fd, u64 start, bool mapped)
{
    static const std::unique_ptr<u8[]> stream(new u8[kFileCapacity]);
    Check(lseek(fd, off_t(start), SEEK_SET) == off_t(start), "the file's position");
    FileVisit visit;
    const u8 *bytes = stream.get();
    u64 size = 0;
    u64 pos = 0;
    const auto on_packet = [&](const u8 *packet) {
        Check(packet >= bytes && packet + TS_PACKET_SIZE <= bytes + size, "packet inside the bytes in hand");
        Check(packet[0] == TS_SYNC_BYTE, "packet starts with the sync byte");
        visit.offsets.push_back(visit.sync.u64BytesRead - size + u64(packet - bytes));
        if (bytes == stream.get() && visit.read_from == ~u64(0))
            visit.read_from = visit.offsets.back();
        visit.packets.insert(visit.packets.end(), packet, packet + TS_PACKET_SIZE);
        return true;
    };
    if (mapped)
        visit.mapped = TS_Stream_RunMapped(&visit.sync, fd, "file", stream.get(), &bytes, &size, &pos, on_packet,
                                           kFileCapacity, TS_Reporter{}, &visit.result, 2 * TS_Map_PageSize());
    if (visit.mapped == 0) {
        bytes = stream.get();
        visit.result = TS_Stream_Run(&visit.sync, fd, "file", stream.get(), &size, &pos, on_packet, kFileCapacity);
    }
    Check(pos <= size, "position within the bytes in hand");
    visit.rest.assign(bytes + pos, bytes + size);
    visit.rest_offset = visit.sync.u64BytesRead - size + pos;
    return visit;
}

// The stream as a file in memory, from start: mapped as the read loop reads it. Returns the
// packets visited.
std::vector<u8> CompareFileRuns(const u8 *data, size_t size, u64 start)
{
    static const int fd = memfd_create("fuzz_chunks", MFD_CLOEXEC);
    Check(fd >= 0, "memory file");
    Check(ftruncate(fd, 0) == 0 && pwrite(fd, data, size, 0) == ssize_t(size), "memory file written");
    const FileVisit read = VisitFile(fd, start, false);
    const FileVisit mapped = VisitFile(fd, start, true);
    Check(mapped.mapped == (start < size ? 1 : 0), "a file with bytes left is mapped");
    // Only what a hunt at the end of the file waits for (33 units of 204 bytes) is read.
    Check(mapped.read_from == ~u64(0) || start + mapped.read_from + 33 * 204 >= size,
          "the windows reach the end of the file");
    Check(read.result == 0 && mapped.result == 0, "the runs end at the end of the file");
    Check(mapped.offsets == read.offsets, "mapped windows give the read loop's offsets");
    Check(mapped.packets == read.packets, "mapped windows give the read loop's packets");
    Check(mapped.sync.u64BytesRead == read.sync.u64BytesRead && read.sync.u64BytesRead == size - start,
          "bytes read: the file from the position");
    Check(mapped.sync.u64Skipped == read.sync.u64Skipped && mapped.sync.u64Losses == read.sync.u64Losses &&
              mapped.sync.u64BadSyncBytes == read.sync.u64BadSyncBytes &&
              mapped.sync.u64Hunted == read.sync.u64Hunted && mapped.sync.u32Unit == read.sync.u32Unit &&
              mapped.sync.u32Spacing == read.sync.u32Spacing,
          "mapped windows give the read loop's tallies");
    Check(mapped.rest == read.rest && mapped.rest_offset == read.rest_offset,
          "mapped windows leave the read loop's rest");
    for (size_t i = 0; i < read.offsets.size(); ++i)
        Check(start + read.offsets[i] + TS_PACKET_SIZE <= size &&
                  std::memcmp(read.packets.data() + i * TS_PACKET_SIZE, data + start + read.offsets[i],
                              TS_PACKET_SIZE) == 0,
              "a packet is the file's bytes at its offset");
    Check(read.rest_offset + read.rest.size() == size - start &&
              (read.rest.empty() ||
               std::memcmp(read.rest.data(), data + start + read.rest_offset, read.rest.size()) == 0),
          "the rest is the end of the file");
    return read.packets;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2 || size > 200000)
        return 0;
    u32 seed = u32(data[size - 2] << 8 | data[size - 1]) * 2654435761u + 1;
    const size_t length = size - 2;
    // Chunks from 1 byte up to a limit the seed chooses, but no more than about 600 of them.
    const size_t limit = size_t(2) << (seed >> 28);
    const size_t floor = length / 600 + 1;
    std::vector<size_t> chunks;
    for (size_t at = 0; at < length;) {
        seed ^= seed << 13;
        seed ^= seed >> 17;
        seed ^= seed << 5;
        size_t chunk = seed % limit + 1;
        if (chunk < floor)
            chunk = floor;
        if (chunk > length - at)
            chunk = length - at;
        chunks.push_back(chunk);
        at += chunk;
    }
    int chunked_pats = 0;
    int whole_pats = 0;
    const std::vector<u8> chunked = Visit(data, length, chunks, &chunked_pats);
    const std::vector<size_t> one = length > 0 ? std::vector<size_t>{length} : std::vector<size_t>{};
    const std::vector<u8> whole = Visit(data, length, one, &whole_pats);
    Check(chunked == whole, "chunk boundaries do not change the packets visited");
    Check(chunked_pats == whole_pats, "chunk boundaries do not change the sections completed");
    // From the start of the file for most inputs, from within it for every fourth.
    const u64 start = (seed & 3) == 0 && length > 0 ? seed % length : 0;
    const std::vector<u8> from_file = CompareFileRuns(data, length, start);
    if (start == 0)
        Check(from_file == whole, "the file gives the packets of the stream");
    return 0;
}
