// A decoded PAT written back into one transport packet (ISO/IEC 13818-1 2.4.4.3): the splits
// give each program's file a PAT that lists that program alone.
#include <cstring>

#include <pidsift/ts.h>

// Writes header, pointer_field 0, the PAT section with a freshly computed CRC_32 and 0xFF
// stuffing into the 188 bytes at packet. section_length is written as the record holds it.
int TS_PAT_ToPacket(u8 *packet, const TS_Packet *header, const TS_PAT *pat)
{
    if (packet == nullptr || header == nullptr || pat == nullptr)
        return -1;
    std::memset(packet, 0xFF, TS_PACKET_SIZE);

    packet[0] = header->sync_byte;
    packet[1] = u8((header->transport_error_indicator << 7) | ((header->payload_unit_start_indicator & 1) << 6) |
                   ((header->transport_priority & 1) << 5) | ((header->PID >> 8) & 0x1F));
    packet[2] = u8(header->PID & 0xFF);
    packet[3] = u8((header->transport_scrambling_control << 6) | ((header->adaptation_field_control & 0x03) << 4) |
                   (header->continuity_counter & 0x0F));
    packet[4] = 0x00;  // pointer_field: the section starts right after it

    u8 *section = packet + 5;
    section[0] = pat->table_id;
    // Bit 6 is the '0' bit of the PAT.
    section[1] =
        u8((pat->section_syntax_indicator << 7) | ((pat->reserved1 & 0x03) << 4) | ((pat->section_length >> 8) & 0x0F));
    section[2] = u8(pat->section_length & 0xFF);
    section[3] = u8(pat->transport_stream_id >> 8);
    section[4] = u8(pat->transport_stream_id & 0xFF);
    section[5] = u8((pat->reserved2 << 6) | ((pat->version_number & 0x1F) << 1) | (pat->current_next_indicator & 0x01));
    section[6] = pat->section_number;
    section[7] = pat->last_section_number;

    // At most the record's 16 programs: 8 + 64 + 4 bytes fit the packet with room to spare.
    const u16 count = pat->u16ProgramCount < TS_MAX_PROGRAMS ? pat->u16ProgramCount : TS_MAX_PROGRAMS;
    u8 *entry = section + 8;
    for (u16 i = 0; i < count; ++i, entry += 4) {
        const TS_PATProgram *program = &pat->ltProgram[i];
        entry[0] = u8(program->program_number >> 8);
        entry[1] = u8(program->program_number & 0xFF);
        entry[2] = u8((program->reserved << 5) | ((program->PID >> 8) & 0x1F));
        entry[3] = u8(program->PID & 0xFF);
    }

    const u32 crc = GetCRC32(0xFFFFFFFF, section, size_t(entry - section));
    entry[0] = u8(crc >> 24);
    entry[1] = u8(crc >> 16);
    entry[2] = u8(crc >> 8);
    entry[3] = u8(crc);
    return 0;
}
