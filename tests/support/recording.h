// A generated recording kept packet by packet with the program each packet belongs to, so that
// tests can compute what a driver must write for a program.
#ifndef PIDSIFT_TESTS_SUPPORT_RECORDING_H
#define PIDSIFT_TESTS_SUPPORT_RECORDING_H

#include <vector>

#include "stream_builder.h"

namespace testsupport {

struct Recording {
    std::vector<Packet> packets;
    std::vector<u16> owners;  // program_number, 0 for packets of no program

    Bytes bytes() const { return Flatten(packets); }
    // The packets of one program, in stream order: what extracting it must write.
    Bytes ProgramBytes(u16 program_number) const
    {
        Bytes bytes;
        for (size_t i = 0; i < packets.size(); ++i)
            if (owners[i] == program_number)
                Append(&bytes, packets[i]);
        return bytes;
    }
    void Add(const Packet &packet, u16 owner = 0)
    {
        packets.push_back(packet);
        owners.push_back(owner);
    }
    void Add(const std::vector<Packet> &more, u16 owner = 0)
    {
        for (const Packet &packet : more)
            Add(packet, owner);
    }
};

inline Recording Generate(const BroadcastSpec &mux)
{
    Recording recording;
    GenerateBroadcast(mux, [&](const Packet &packet, u16 owner) { recording.Add(packet, owner); });
    return recording;
}

inline u16 PacketPID(const Packet &packet) { return u16(((packet[1] & 0x1F) << 8) | packet[2]); }

// Splits bytes into 188-byte packets (a trailing remainder is dropped).
inline std::vector<Packet> Packets(const Bytes &bytes)
{
    std::vector<Packet> packets(bytes.size() / 188);
    for (size_t i = 0; i < packets.size(); ++i)
        std::copy(bytes.begin() + long(i * 188), bytes.begin() + long(i * 188 + 188), packets[i].begin());
    return packets;
}

}  // namespace testsupport

#endif
