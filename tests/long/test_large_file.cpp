// Recordings larger than 4 GiB: byte counts, offsets and the stream buffer positions must not
// wrap at 32 bits. A generated stream of 4.3 GiB goes through the filter and the PMT check by
// way of named pipes (nothing touches the disk), and a sparse file whose second PAT lies past
// 4 GiB is listed and filtered.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include <pidsift/demux.h>

#include "stream_builder.h"

namespace {

using namespace testsupport;

constexpr u64 k4GiB = u64(1) << 32;

// One cycle of a single-program broadcast: PAT, PMT, then video with a PCR every eighth packet,
// audio, and a null packet; 5,584 packets (about 1 MiB). The continuity counters run on across
// cycles because every PID has a multiple of 16 packets in a cycle.
struct Cycle {
    Bytes bytes;
    u64 u64ProgramBytes = 0;  // what the filter writes of one cycle
};

Cycle MakeCycle(PacketBuilder *builder)
{
    Cycle cycle;
    const Bytes pat = PATSection(0x7FE0, 0, {{0, 0x0010}, {0x0400, 0x01F0}});
    const Bytes pmt = PMTSection(0x0400, 0, 0x0111, {}, {{0x02, 0x0111, {}}, {0x0F, 0x0112, {}}});
    for (int psi = 0; psi < 16; ++psi) {
        Append(&cycle.bytes, builder->Section(0x0000, pat));
        Append(&cycle.bytes, builder->Section(0x01F0, pmt));
        cycle.u64ProgramBytes += 188;  // the PMT packet
    }
    const u64 media = 5584 - 32 - 16 * 16;  // video and audio, then 256 null packets
    for (u64 i = 0; i < media; ++i) {
        const bool audio = i % 8 == 7;
        Append(&cycle.bytes, audio ? builder->Payload(0x0112, u8(i)) : (i % 8 == 0 ? builder->PCR(0x0111, i * 300, 0, true) : builder->Payload(0x0111, u8(i))));
        cycle.u64ProgramBytes += 188;
    }
    for (int n = 0; n < 256; ++n)
        Append(&cycle.bytes, PacketBuilder::Null());
    return cycle;
}

// Writes count copies of bytes into the named pipe at path, in large writes.
void Feed(const std::string &path, const Bytes &bytes, u64 count)
{
    const int fd = open(path.c_str(), O_WRONLY);
    if (fd < 0)
        return;
    fcntl(fd, F_SETPIPE_SZ, 1 << 20);
    for (u64 i = 0; i < count; ++i) {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t written = write(fd, bytes.data() + done, bytes.size() - done);
            if (written <= 0) {
                close(fd);
                return;
            }
            done += size_t(written);
        }
    }
    close(fd);
}

// Reads the named pipe at path to its end; counts the bytes and checks that they are packets.
void Drain(const std::string &path, std::atomic<u64> *total, std::atomic<u64> *misaligned)
{
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0)
        return;
    fcntl(fd, F_SETPIPE_SZ, 1 << 20);
    std::vector<u8> buffer(1 << 20);
    u64 count = 0;
    ssize_t got;
    while ((got = read(fd, buffer.data(), buffer.size())) > 0) {
        // Packets are written whole and in order, so every 188th byte of the output is a sync byte.
        for (ssize_t i = 0; i < got; ++i)
            if ((count + u64(i)) % 188 == 0 && buffer[size_t(i)] != 0x47)
                ++*misaligned;
        count += u64(got);
    }
    close(fd);
    *total = count;
}

class LargeFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        PacketBuilder builder;
        cycle = MakeCycle(&builder);
        ASSERT_EQ(cycle.bytes.size(), 5584u * 188);
        cycles = k4GiB / cycle.bytes.size() + 300;  // about 300 MiB past 4 GiB
        input = dir.File("in.ts");
        output = dir.File("out.ts");
        ASSERT_EQ(mkfifo(input.c_str(), 0600), 0);
        ASSERT_EQ(mkfifo(output.c_str(), 0600), 0);
    }

    TempDir dir;
    Cycle cycle;
    u64 cycles = 0;
    std::string input;
    std::string output;
};

TEST_F(LargeFile, FilterPassesFourGiBWithoutWrapping)
{
    u64 last_read = 0;
    pidsift::RunSettings settings;
    settings.progress = [&last_read](u64 bytes_read, u64) { last_read = bytes_read; };
    std::atomic<u64> written{0};
    std::atomic<u64> misaligned{0};
    std::thread feeder(Feed, input, std::cref(cycle.bytes), cycles);
    std::thread drainer(Drain, output, &written, &misaligned);
    const int result = pidsift::CopyProgram(input.c_str(), 0x01F0, output.c_str(), settings);
    feeder.join();
    drainer.join();
    EXPECT_EQ(result, 0);
    EXPECT_EQ(last_read, cycles * cycle.bytes.size());
    EXPECT_GT(last_read, k4GiB);
    EXPECT_EQ(written.load(), cycles * cycle.u64ProgramBytes);
    EXPECT_GT(written.load(), k4GiB);
    EXPECT_EQ(misaligned.load(), 0u);
}

TEST_F(LargeFile, PMTCheckCountsPastFourGiB)
{
    std::thread feeder(Feed, input, std::cref(cycle.bytes), cycles);
    TS_PMTSplitList list;
    const int result = TS_CheckPMTSplit(&list, input.c_str());
    feeder.join();
    EXPECT_EQ(result, 0);
    ASSERT_EQ(list.u16Count, 1);
    // Each PMT section is counted with the PAT packet written before it.
    EXPECT_EQ(list.ltSplit[0].u64Bytes, cycles * (cycle.u64ProgramBytes + 16 * 188));
    EXPECT_GT(list.ltSplit[0].u64Bytes, k4GiB);
}

TEST_F(LargeFile, SparseFileWithItsLastPATPastFourGiB)
{
    // Program 0x0400 at the start; 4 GiB of zeros (a hole, no packet in it); then a PAT that lists
    // program 0x0401 instead, its PMT and its video.
    const std::string sparse = dir.File("sparse.ts");
    PacketBuilder builder;
    Bytes head;
    Append(&head, builder.Section(0x0000, PATSection(1, 0, {{0, 0x10}, {0x0400, 0x01F0}})));
    Append(&head, builder.Section(0x01F0, PMTSection(0x0400, 0, 0x0111, {}, {{0x02, 0x0111, {}}})));
    Bytes tail;
    Append(&tail, builder.Section(0x0000, PATSection(1, 1, {{0, 0x10}, {0x0401, 0x01F1}})));
    Bytes program;
    Append(&program, builder.Section(0x01F1, PMTSection(0x0401, 0, 0x0121, {}, {{0x02, 0x0121, {}}})));
    for (int i = 0; i < 100; ++i)
        Append(&program, builder.PCR(0x0121, u64(i) * 3000, 0, true, 0x21));
    tail.insert(tail.end(), program.begin(), program.end());
    ASSERT_TRUE(WriteFile(sparse, head));
    const off_t tail_at = off_t(k4GiB + 1000);
    {
        const int fd = open(sparse.c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(pwrite(fd, tail.data(), tail.size(), tail_at), ssize_t(tail.size()));
        close(fd);
    }

    TS_ProgramList list = {};
    ASSERT_EQ(TS_GetProgramList(&list, sparse.c_str()), 0);
    ASSERT_EQ(list.u16Count, 1);
    EXPECT_EQ(list.lu16ProgramNumber[0], 0x0401);
    EXPECT_EQ(list.lu16PID[0], 0x01F1);

    const CommandResult result = RunCommand(Quote(PidsiftBinary()) + " " + Quote(sparse) + " 1f1 " + Quote(dir.File("program.ts")));
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(ReadBytes(dir.File("program.ts")) == program);
}

}  // namespace
