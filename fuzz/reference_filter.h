// A plain model of what the single-program filter (TS_ProgramSplitStream) writes, for the
// differential check of fuzz_filter. It is written from the description of the filter's
// behaviour, packet by packet and without any of the library's code: the section reassembly,
// the PAT and PMT reading and the CRC_32 are its own. It takes clean streams of 188-byte
// packets only (no resync).
#ifndef PIDSIFT_FUZZ_REFERENCE_FILTER_H
#define PIDSIFT_FUZZ_REFERENCE_FILTER_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace reference_filter {

using Packet = std::array<std::uint8_t, 188>;

// CRC-32/MPEG-2 (generator 0x04C11DB7, register preset to all ones, no reflection, no final
// inversion), bit by bit. A section with a good CRC_32 gives 0 over all its bytes.
std::uint32_t Crc32(const std::uint8_t *data, std::size_t length);

struct Result {
    bool opened = false;              // a PAT listed the PMT PID, so the output was created
    bool ended = false;               // the program left the PAT after that: the scan stopped
    std::vector<std::size_t> written;  // indices of the input packets, in the order written
};

// Runs the model over packets for the PMT PID pmt_pid.
Result Run(const std::vector<Packet> &packets, std::uint16_t pmt_pid);

}  // namespace reference_filter

#endif
