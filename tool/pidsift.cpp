// pidsift: lists the programs of an MPEG-2 transport stream file, or copies one program's
// packets, byte for byte, into a new file.
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

#include "ts.h"

namespace {

constexpr int kExitInvalidPID = -1;  // the shell sees 255
constexpr int kExitFailure = 1;

void PrintUsage()
{
    static const char kUsage[] =
        "=== Pidsift === v1.00\n"
        "Filt to one program from multi-program MPEG-2 TS file and output file.\n"
        "Usage: pidsift <input TS filename> [<PID> <output TS filename>]\n"
        "To check PID, <input TS filename> only to parameter.\n";
    fwrite(kUsage, 1, sizeof kUsage - 1, stderr);
}

// Parses a PID in hexadecimal with an optional 0x or 0X; only the last four digits count.
bool ParsePID(const char *text, u16 *pid)
{
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        text += 2;
    u16 value = 0;
    for (; *text != '\0'; ++text) {
        const char c = *text;
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return false;
        value = u16(value * 16 + digit);
    }
    *pid = value;
    return true;
}

bool IsListedPMTPID(const TS_ProgramList &list, u16 pid)
{
    for (u16 i = 0; i < list.u16Count; ++i)
        if (list.lu16PID[i] == pid)
            return true;
    return false;
}

// True when output names the input file itself: writing it would destroy the recording.
bool IsSameFile(const char *input, const char *output)
{
    struct stat input_status, output_status;
    return stat(input, &input_status) == 0 && stat(output, &output_status) == 0 &&
           input_status.st_dev == output_status.st_dev && input_status.st_ino == output_status.st_ino;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 2 && argc != 4) {
        PrintUsage();
        return 0;
    }
    const char *input = argv[1];
    TS_ProgramList list = {};
    const int listed = TS_GetProgramList(&list, input);

    if (argc == 2) {
        for (u16 i = 0; i < list.u16Count; ++i)
            fprintf(stderr, "ProgramNumber:%d PID:0x%04X\n", list.lu16ProgramNumber[i], list.lu16PID[i]);
        return listed == 0 ? 0 : kExitFailure;
    }

    if (listed == -5)
        return kExitFailure;
    u16 pid = 0;
    if (!ParsePID(argv[2], &pid) || !IsListedPMTPID(list, pid)) {
        fwrite("Error: invalid PID.\n", 1, 20, stderr);
        return kExitInvalidPID;
    }
    const char *output = argv[3];
    if (IsSameFile(input, output)) {
        fprintf(stderr, "Error: %s is the input file.\n", output);
        return kExitFailure;
    }
    return TS_ProgramSplitStream(output, input, pid) == 0 ? 0 : kExitFailure;
}
