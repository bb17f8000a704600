// Keeping some streams of a program: the PMT rewrite and the layout of a run of PMT packets.
// Byte 0 chooses the selection, byte 1 the program_number's low byte (its high byte is 0x01);
// the rest is read twice: as one section for SelectPmtStreams, and as a run of 188-byte packets
// of one PMT PID for StreamKeeper::RewriteRun. A rewritten section is whole (its lengths hold
// together, its CRC_32 checks) and rewriting it again changes nothing; a run laid out again keeps
// every packet's header bytes but payload_unit_start_indicator, and its adaptation field, and
// laying it out again gives the same bytes.
#include <cstring>
#include <vector>

#include "common/crc.h"
#include "drivers/stream_keeper.h"
#include "support.h"

using fuzzsupport::Check;

namespace {

constexpr const char *kSelections[] = {"video", "audio", "audio:fra,subtitles", "teletext,0x0101", "data,cue", "257"};

void CheckSection(const u8 *data, size_t size, const pidsift::StreamSelection &selection)
{
    std::vector<u16> kept;
    const std::vector<u8> rewritten = pidsift::SelectPmtStreams(data, size, selection, &kept);
    if (rewritten.empty())
        return;
    Check(rewritten.size() <= size, "a rewritten PMT is no longer than the broadcast one");
    Check(rewritten.size() == 3 + size_t(((rewritten[1] & 0x0F) << 8) | rewritten[2]), "section_length holds");
    Check(TS_CRC32(rewritten.data(), rewritten.size()) == 0, "the CRC_32 checks");
    Check(std::memcmp(rewritten.data() + 3, data + 3, 9) == 0, "the header behind section_length stays");
    std::vector<u16> again;
    Check(pidsift::SelectPmtStreams(rewritten.data(), rewritten.size(), selection, &again) == rewritten,
          "rewriting a rewritten PMT changes nothing");
    Check(again == kept, "the same streams are kept");
}

void CheckRun(const u8 *data, size_t size, u16 program_number, const pidsift::StreamSelection &selection)
{
    std::vector<pidsift::PacketBytes> run(size / TS_PACKET_SIZE);
    for (size_t i = 0; i < run.size(); ++i)
        std::memcpy(run[i].data(), data + i * TS_PACKET_SIZE, TS_PACKET_SIZE);
    const std::vector<pidsift::PacketBytes> before = run;
    std::vector<pidsift::PacketBytes *> pointers;
    for (pidsift::PacketBytes &packet : run)
        pointers.push_back(&packet);
    if (!pidsift::StreamKeeper::RewriteRun(pointers, program_number, selection)) {
        Check(run == before, "a run that is not rewritten stays as it came");
        return;
    }
    for (size_t i = 0; i < run.size(); ++i) {
        Check(run[i][0] == before[i][0] && (run[i][1] & 0xBF) == (before[i][1] & 0xBF) && run[i][2] == before[i][2] &&
                  run[i][3] == before[i][3],
              "a packet keeps its header but payload_unit_start_indicator");
        if (before[i][3] & 0x20) {
            const size_t field = std::min<size_t>(1 + before[i][4], TS_PACKET_SIZE - 4);
            Check(std::memcmp(run[i].data() + 4, before[i].data() + 4, field) == 0, "the adaptation field stays");
        }
    }
    const std::vector<pidsift::PacketBytes> laid = run;
    Check(pidsift::StreamKeeper::RewriteRun(pointers, program_number, selection) && run == laid,
          "laying a rewritten run out again changes nothing");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    pidsift::StreamSelection selection;
    std::string error;
    Check(pidsift::ParseStreamSelection(kSelections[data[0] % std::size(kSelections)], &selection, &error),
          "the selections parse");
    const u16 program_number = u16(0x0100 | data[1]);
    CheckSection(data + 2, size - 2, selection);
    CheckRun(data + 2, size - 2, program_number, selection);
    return 0;
}
