// Lists the programs of a recording read from standard input: a pipe, a socket, a file.
#include <cstdio>
#include <unistd.h>

#include <pidsift/demux.h>

int main()
{
    pidsift::Demux demux;
    demux.KeepPmts();
    unsigned char buffer[65536];
    ssize_t got;
    while ((got = read(0, buffer, sizeof buffer)) > 0)
        demux.Feed(buffer, size_t(got));
    demux.Finish();
    for (const pidsift::Program &program : demux.Programs()) {
        printf("program %u: PMT PID 0x%04X", program.program_number, program.pmt_pid);
        if (program.pmt != nullptr)
            printf(", PCR PID 0x%04X, %zu streams", program.pmt->pcr_pid, program.pmt->streams.size());
        printf("\n");
    }
    return got < 0 ? 1 : 0;
}
