// Writes a large broadcast-like recording for the benchmarks: four programs with video and
// audio (PCR on the video PID), one of them scrambled with its ECM, a CAT naming an EMM PID, SI
// (the EIT present/following of each program, a TOT) and null packets, PSI repeated about every
// 100 ms of an 18 Mbit/s multiplex. The program on PMT PID 0x01F0 holds about 30 % of the
// packets.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "stream_builder.h"

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: make_recording OUTPUT.ts SIZE_IN_MB\n");
        return 2;
    }
    const u64 megabytes = strtoull(argv[2], nullptr, 10);
    testsupport::BroadcastSpec mux;
    mux.transport_stream_id = 0x7FE0;
    mux.network_pid = 0x0010;
    mux.emm_pid = 0x0901;
    mux.packet_count = megabytes * 1000000 / 188;
    mux.psi_interval = 1200;
    mux.null_weight = 3;
    mux.si_weight = 2;
    mux.guide = true;  // the EIT present/following of every program and a TOT
    mux.programs = {
        {0x0400, 0x01F0, 0x0111, 0x0112, 0, 0, 12, 2},
        {0x0401, 0x01F1, 0x0121, 0x0122, 0x0130, 0, 10, 2},
        {0x0402, 0x01F2, 0x0131, 0x0132, 0, 0, 8, 2},
        {0x0408, 0x01F8, 0x0181, 0x0182, 0, 0, 6, 1},
    };
    FILE *out = fopen(argv[1], "wb");
    if (out == nullptr) {
        perror(argv[1]);
        return 1;
    }
    static char buffer[1 << 20];
    setvbuf(out, buffer, _IOFBF, sizeof buffer);
    testsupport::GenerateBroadcast(mux,
                                   [&](const testsupport::Packet &packet, u16) { fwrite(packet.data(), 1, 188, out); });
    return fclose(out) == 0 ? 0 : 1;
}
