// Packet header and adaptation field decoding (ISO/IEC 13818-1 section 2.4.3).
#include <cstring>

#include "common/bytes.h"
#include "text/text.h"

namespace {

// The 33-bit base, 6 reserved bits and 9-bit extension of a PCR or OPCR field (6 bytes).
void TS_ClockReference_Get(const u8 *b, u64 *base, u8 *reserved, u16 *extension)
{
    *base = (u64(b[0]) << 25) | (u64(b[1]) << 17) | (u64(b[2]) << 9) | (u64(b[3]) << 1) | (b[4] >> 7);
    *reserved = u8((b[4] >> 1) & 0x3F);
    *extension = u16(((b[4] & 0x01) << 8) | b[5]);
}

// Decodes the adaptation_field_extension whose length byte stands at offset; end is the end of
// the adaptation field. Returns the offset behind the extension.
u32 TS_AdaptationField_GetExtension(TS_AdaptationField *field, const u8 *bytes, u32 offset, u32 end)
{
    field->adaptation_field_extension_length = bytes[offset];
    // The extension cannot reach past the adaptation field that holds it.
    u32 extension_end = offset + 1 + field->adaptation_field_extension_length;
    if (extension_end > end)
        extension_end = end;
    offset += 1;
    if (offset >= extension_end) {
        field->ltw_flag = field->piecewise_rate_flag = field->seamless_splice_flag = 0;
        field->extension_reserved = 0;
        field->extension_reserved_length = 0;
        return extension_end;
    }
    const u8 flags = bytes[offset++];
    field->ltw_flag = (flags >> 7) & 1;
    field->piecewise_rate_flag = (flags >> 6) & 1;
    field->seamless_splice_flag = (flags >> 5) & 1;
    field->extension_reserved = flags & 0x1F;
    field->ltw_flag &= offset + 2 <= extension_end;
    if (field->ltw_flag) {
        field->ltw_valid_flag = bytes[offset] >> 7;
        field->ltw_offset = u16(((bytes[offset] & 0x7F) << 8) | bytes[offset + 1]);
        offset += 2;
    }
    field->piecewise_rate_flag &= offset + 3 <= extension_end;
    if (field->piecewise_rate_flag) {
        field->piecewise_reserved = bytes[offset] >> 6;
        field->piecewise_rate =
            (u32(bytes[offset] & 0x3F) << 16) | (u32(bytes[offset + 1]) << 8) | bytes[offset + 2];
        offset += 3;
    }
    field->seamless_splice_flag &= offset + 5 <= extension_end;
    if (field->seamless_splice_flag) {
        const u8 *c = bytes + offset;
        field->splice_type = c[0] >> 4;
        field->DTS_next_AU = (u64((c[0] >> 1) & 0x07) << 30) | (u64(c[1]) << 22) |
                             (u64(c[2] >> 1) << 15) | (u64(c[3]) << 7) | (c[4] >> 1);
        field->marker_bit[0] = c[0] & 1;
        field->marker_bit[1] = c[2] & 1;
        field->marker_bit[2] = c[4] & 1;
        offset += 5;
    }
    field->extension_reserved_length = u8(extension_end - offset);
    std::memcpy(field->extension_reserved_byte, bytes + offset, extension_end - offset);
    return extension_end;
}

}  // namespace

// Decodes the 4-byte header and, when present, the adaptation field.
int TS_Packet_Get(TS_Packet *packet, const u8 *bytes)
{
    if (packet == nullptr || bytes == nullptr)
        return -1;
    if (bytes[0] != TS_SYNC_BYTE)
        return -2;
    packet->sync_byte = bytes[0];
    packet->transport_error_indicator = (bytes[1] >> 7) & 1;
    packet->payload_unit_start_indicator = (bytes[1] >> 6) & 1;
    packet->transport_priority = (bytes[1] >> 5) & 1;
    packet->PID = TS_Read13(bytes + 1);
    packet->transport_scrambling_control = (bytes[3] >> 6) & 0x03;
    packet->adaptation_field_control = (bytes[3] >> 4) & 0x03;
    packet->continuity_counter = bytes[3] & 0x0F;
    if (packet->adaptation_field_control & 0x02)
        TS_Packet_GetAdaptationField(&packet->adaptation_field, packet, bytes);
    return 0;
}

// Walks the adaptation field part by part; a part that the flags announce but that would reach
// past adaptation_field_length (or past the packet) is not decoded, and what is left counts as
// stuffing.
int TS_Packet_GetAdaptationField(TS_AdaptationField *field, const TS_Packet *packet, const u8 *bytes)
{
    if (field == nullptr || packet == nullptr || bytes == nullptr)
        return -1;
    if (!(packet->adaptation_field_control & 0x02))
        return -2;
    field->adaptation_field_length = bytes[4];
    if (field->adaptation_field_length == 0) {
        field->discontinuity_indicator = field->random_access_indicator = 0;
        field->elementary_stream_priority_indicator = 0;
        field->PCR_flag = field->OPCR_flag = field->splicing_point_flag = 0;
        field->transport_private_data_flag = field->adaptation_field_extension_flag = 0;
        field->stuffing_length = 0;
        return 0;
    }
    // adaptation_field_length counts the bytes after itself; at most 183 fit in a packet.
    const u32 end = 5 + (field->adaptation_field_length < 183 ? field->adaptation_field_length : 183);
    const u8 flags = bytes[5];
    field->discontinuity_indicator = (flags >> 7) & 1;
    field->random_access_indicator = (flags >> 6) & 1;
    field->elementary_stream_priority_indicator = (flags >> 5) & 1;
    field->PCR_flag = (flags >> 4) & 1;
    field->OPCR_flag = (flags >> 3) & 1;
    field->splicing_point_flag = (flags >> 2) & 1;
    field->transport_private_data_flag = (flags >> 1) & 1;
    field->adaptation_field_extension_flag = flags & 1;

    // A part whose flag is set but that does not fit in the field is not decoded, and its flag
    // is cleared so that no caller reads it.
    u32 offset = 6;
    field->PCR_flag &= offset + 6 <= end;
    if (field->PCR_flag) {
        TS_ClockReference_Get(bytes + offset, &field->program_clock_reference_base,
                              &field->PCR_reserved, &field->program_clock_reference_extension);
        offset += 6;
    }
    field->OPCR_flag &= offset + 6 <= end;
    if (field->OPCR_flag) {
        TS_ClockReference_Get(bytes + offset, &field->original_program_clock_reference_base,
                              &field->OPCR_reserved, &field->original_program_clock_reference_extension);
        offset += 6;
    }
    field->splicing_point_flag &= offset + 1 <= end;
    if (field->splicing_point_flag) {
        field->splice_countdown = i8(bytes[offset]);
        offset += 1;
    }
    field->transport_private_data_flag &= offset + 1 <= end;
    if (field->transport_private_data_flag) {
        u32 length = bytes[offset];
        if (offset + 1 + length > end)
            length = end - offset - 1;
        field->transport_private_data_length = u8(length);
        std::memcpy(field->private_data_byte, bytes + offset + 1, length);
        offset += 1 + length;
    }
    field->adaptation_field_extension_flag &= offset + 1 <= end;
    if (field->adaptation_field_extension_flag)
        offset = TS_AdaptationField_GetExtension(field, bytes, offset, end);

    field->stuffing_length = u8(end - offset);
    std::memcpy(field->stuffing_byte, bytes + offset, end - offset);
    return 0;
}
