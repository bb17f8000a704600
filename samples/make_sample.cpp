// Writes the bundled sample recording: a three-program multiplex with a network entry, one
// scrambled program with its ECM, a CAT with an EMM PID, SI and null packets, and a PMT change
// half-way through.
#include <cstdio>
#include <cstdlib>

#include "stream_builder.h"

int main(int argc, char **argv)
{
    if (argc != 2 && argc != 3) {
        fprintf(stderr, "usage: make_sample OUTPUT.ts [PACKETS]\n");
        return 2;
    }
    const u64 packets = argc == 3 ? strtoull(argv[2], nullptr, 10) : 6000;
    FILE *out = fopen(argv[1], "wb");
    if (out == nullptr) {
        perror(argv[1]);
        return 1;
    }
    testsupport::GenerateBroadcast(testsupport::SampleBroadcast(packets),
                                   [&](const testsupport::Packet &packet, u16) { fwrite(packet.data(), 1, packet.size(), out); });
    return fclose(out) == 0 ? 0 : 1;
}
