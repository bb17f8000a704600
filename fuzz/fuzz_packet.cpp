// Packet header and adaptation field: TS_Packet_Get on one 188-byte packet (the input, cut or
// padded with 0xFF), then every text form of it and the PCR read from where the stream dump
// reads it.
#include <cstring>
#include <vector>

#include "support.h"

using fuzzsupport::Check;

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzsupport::SilenceStdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Exactly one packet on the heap, so that a read past its end is caught.
    std::vector<u8> bytes(TS_PACKET_SIZE, 0xFF);
    std::memcpy(bytes.data(), data, size < TS_PACKET_SIZE ? size : TS_PACKET_SIZE);

    TS_Packet packet;
    std::memset(&packet, 0xA5, sizeof packet);
    const int result = TS_Packet_Get(&packet, bytes.data());
    if (bytes[0] != TS_SYNC_BYTE) {
        Check(result == -2, "a packet without sync byte is refused");
        return 0;
    }
    Check(result == 0, "a packet with a sync byte decodes");
    Check(packet.PID == (((bytes[1] & 0x1F) << 8) | bytes[2]), "PID is the 13 header bits");
    Check(packet.adaptation_field_control == ((bytes[3] >> 4) & 3), "adaptation_field_control");

    if (packet.adaptation_field_control & 0x02) {
        const TS_AdaptationField &field = packet.adaptation_field;
        Check(field.adaptation_field_length == bytes[4], "adaptation_field_length as read");
        if (field.adaptation_field_length > 0) {
            // What the flags announced and what was decoded must fit the field, which itself
            // ends at the packet's end.
            const u32 length = field.adaptation_field_length < 183 ? field.adaptation_field_length : 183;
            u32 parts = 1 + 6u * field.PCR_flag + 6u * field.OPCR_flag + field.splicing_point_flag;
            if (field.transport_private_data_flag)
                parts += 1u + field.transport_private_data_length;
            if (field.adaptation_field_extension_flag)
                parts += 1;
            Check(parts + field.stuffing_length <= length, "adaptation field parts fit its length");
            if (field.adaptation_field_extension_flag) {
                u32 extension = 0;
                if (field.ltw_flag || field.piecewise_rate_flag || field.seamless_splice_flag ||
                    field.extension_reserved_length > 0 || field.extension_reserved != 0)
                    extension = 1 + 2u * field.ltw_flag + 3u * field.piecewise_rate_flag + 5u * field.seamless_splice_flag +
                                field.extension_reserved_length;
                Check(parts + extension + field.stuffing_length <= length, "extension fits the field");
            }
        }
        TS_AdaptationField again;
        Check(TS_Packet_GetAdaptationField(&again, &packet, bytes.data()) == 0, "adaptation field decodes again");
    } else {
        TS_AdaptationField none;
        Check(TS_Packet_GetAdaptationField(&none, &packet, bytes.data()) == -2, "no adaptation field announced");
    }

    TS_Packet_PrintHeader(&packet);
    TS_Packet_Print(&packet);
    TS_Packet_Print_RAW(bytes.data());
    char name[256];
    TS_Header_PIDToString(name, packet.PID);
    Check(std::strlen(name) < sizeof name, "PID name is terminated");

    TS_PCR pcr;
    TS_PCR_Import(&pcr, bytes.data() + 5);
    Check(pcr.program_clock_reference_base < (u64(1) << 33), "PCR base has 33 bits");
    Check(pcr.program_clock_reference_extension < 512, "PCR extension has 9 bits");
    TS_PCR_Print(&pcr);
    return 0;
}
