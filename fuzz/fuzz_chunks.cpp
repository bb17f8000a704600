// The stream-buffer loop fed in chunks of fuzzer-chosen sizes. The input's last two bytes seed
// the chunk sizes; the bytes before them are the stream. Each chunk arrives as one message of a
// sequenced-packet socket, so that every read returns exactly that chunk. The packets visited
// must be the same, in the same order, as when the whole stream arrives in one read, and every
// packet handed out must lie inside the stream buffer and start with the sync byte.
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <thread>
#include <vector>

#include "support.h"
#include "common/bytes.h"
#include "io/io.h"

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
    return 0;
}
