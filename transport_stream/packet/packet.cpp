// Packet header and adaptation field decoding (ISO/IEC 13818-1 section 2.4.3).
#include <cstring>

#include "packet/clock_reference.h"

namespace {

// Copies the bytes left in part into a record's array and returns how many there were. part
// lies inside the packet's 188 bytes, which every such array can hold.
u8 TS_AdaptationField_CopyRest(u8 *array, const TS_ByteReader &part)
{
    std::memcpy(array, part.Here(), part.Remaining());
    return u8(part.Remaining());
}

// Decodes the adaptation_field_extension whose length byte the reader stands at. The extension
// cannot reach past the adaptation field that holds it; a part that its flags announce but
// that does not fit is not decoded and its flag is cleared.
void TS_AdaptationField_ReadExtension(TS_AdaptationField *field, TS_ByteReader *reader)
{
    field->adaptation_field_extension_length = reader->Read8();
    TS_ByteReader extension = reader->Take(field->adaptation_field_extension_length);
    if (extension.Remaining() == 0) {
        field->ltw_flag = field->piecewise_rate_flag = field->seamless_splice_flag = 0;
        field->extension_reserved = 0;
        field->extension_reserved_length = 0;
        return;
    }
    const u8 flags = extension.Read8();
    field->ltw_flag = (flags >> 7) & 1;
    field->piecewise_rate_flag = (flags >> 6) & 1;
    field->seamless_splice_flag = (flags >> 5) & 1;
    field->extension_reserved = flags & 0x1F;
    field->ltw_flag &= extension.Remaining() >= 2;
    if (field->ltw_flag) {
        const u16 ltw = extension.Read16();
        field->ltw_valid_flag = u8(ltw >> 15);
        field->ltw_offset = u16(ltw & 0x7FFF);
    }
    field->piecewise_rate_flag &= extension.Remaining() >= 3;
    if (field->piecewise_rate_flag) {
        const u8 first = extension.Read8();
        field->piecewise_reserved = first >> 6;
        field->piecewise_rate = (u32(first & 0x3F) << 16) | extension.Read16();
    }
    field->seamless_splice_flag &= extension.Remaining() >= 5;
    if (field->seamless_splice_flag) {
        // splice_type, then DTS_next_AU in pieces of 3, 15 and 15 bits, each closed by a marker bit.
        const u8 first = extension.Read8();
        const u16 middle = extension.Read16();
        const u16 last = extension.Read16();
        field->splice_type = first >> 4;
        field->DTS_next_AU = (u64((first >> 1) & 0x07) << 30) | (u64(middle >> 1) << 15) | (last >> 1);
        field->marker_bit[0] = first & 1;
        field->marker_bit[1] = middle & 1;
        field->marker_bit[2] = last & 1;
    }
    field->extension_reserved_length = TS_AdaptationField_CopyRest(field->extension_reserved_byte, extension);
}

}  // namespace

// Decodes the 4-byte header and, when present, the adaptation field.
int TS_Packet_Get(TS_Packet *packet, const u8 *bytes)
{
    if (packet == nullptr || bytes == nullptr)
        return -1;
    if (bytes[0] != TS_SYNC_BYTE)
        return -2;
    TS_ByteReader reader(bytes, TS_PACKET_SIZE);
    packet->sync_byte = reader.Read8();
    const u16 flags_and_pid = reader.Read16();
    packet->transport_error_indicator = (flags_and_pid >> 15) & 1;
    packet->payload_unit_start_indicator = (flags_and_pid >> 14) & 1;
    packet->transport_priority = (flags_and_pid >> 13) & 1;
    packet->PID = flags_and_pid & 0x1FFF;
    const u8 control = reader.Read8();
    packet->transport_scrambling_control = (control >> 6) & 0x03;
    packet->adaptation_field_control = (control >> 4) & 0x03;
    packet->continuity_counter = control & 0x0F;
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
    TS_ByteReader reader(bytes, TS_PACKET_SIZE);
    reader.Skip(4);
    field->adaptation_field_length = reader.Read8();
    if (field->adaptation_field_length == 0) {
        field->discontinuity_indicator = field->random_access_indicator = 0;
        field->elementary_stream_priority_indicator = 0;
        field->PCR_flag = field->OPCR_flag = field->splicing_point_flag = 0;
        field->transport_private_data_flag = field->adaptation_field_extension_flag = 0;
        field->stuffing_length = 0;
        return 0;
    }
    // adaptation_field_length counts the bytes after itself; the 183 left in the packet at most.
    TS_ByteReader adaptation = reader.Take(field->adaptation_field_length);
    const u8 flags = adaptation.Read8();
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
    field->PCR_flag &= adaptation.Remaining() >= 6;
    if (field->PCR_flag)
        TS_ClockReference_Read(&adaptation, &field->program_clock_reference_base, &field->PCR_reserved,
                               &field->program_clock_reference_extension);
    field->OPCR_flag &= adaptation.Remaining() >= 6;
    if (field->OPCR_flag)
        TS_ClockReference_Read(&adaptation, &field->original_program_clock_reference_base, &field->OPCR_reserved,
                               &field->original_program_clock_reference_extension);
    field->splicing_point_flag &= adaptation.Remaining() >= 1;
    if (field->splicing_point_flag)
        field->splice_countdown = i8(adaptation.Read8());
    field->transport_private_data_flag &= adaptation.Remaining() >= 1;
    if (field->transport_private_data_flag) {
        // A length that overruns the field is cut to the bytes left in it.
        const u8 length = adaptation.Read8();
        field->transport_private_data_length =
            TS_AdaptationField_CopyRest(field->private_data_byte, adaptation.Take(length));
    }
    field->adaptation_field_extension_flag &= adaptation.Remaining() >= 1;
    if (field->adaptation_field_extension_flag)
        TS_AdaptationField_ReadExtension(field, &adaptation);

    field->stuffing_length = TS_AdaptationField_CopyRest(field->stuffing_byte, adaptation);
    return 0;
}
