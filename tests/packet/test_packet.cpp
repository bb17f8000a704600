// Packet header and adaptation field decoding.
#include <gtest/gtest.h>

#include <cstring>

#include "stream_builder.h"
#include <pidsift/ts.h>

namespace {

using testsupport::Packet;

Packet MakePacket(std::initializer_list<u8> head, u8 fill = 0xFF)
{
    Packet packet;
    packet.fill(fill);
    std::copy(head.begin(), head.end(), packet.begin());
    return packet;
}

TEST(PacketHeader, DecodesEveryHeaderField)
{
    TS_Packet packet = {};
    const Packet bytes = MakePacket({0x47, 0x41, 0x00, 0x10});
    ASSERT_EQ(TS_Packet_Get(&packet, bytes.data()), 0);
    EXPECT_EQ(packet.sync_byte, 0x47);
    EXPECT_EQ(packet.PID, 0x100);
    EXPECT_EQ(packet.payload_unit_start_indicator, 1);
    EXPECT_EQ(packet.transport_error_indicator, 0);
    EXPECT_EQ(packet.transport_priority, 0);
    EXPECT_EQ(packet.transport_scrambling_control, 0);
    EXPECT_EQ(packet.adaptation_field_control, 1);
    EXPECT_EQ(packet.continuity_counter, 0);

    const Packet all_set = MakePacket({0x47, 0xFF, 0xFF, 0xDF});
    ASSERT_EQ(TS_Packet_Get(&packet, all_set.data()), 0);
    EXPECT_EQ(packet.PID, 0x1FFF);
    EXPECT_EQ(packet.transport_error_indicator, 1);
    EXPECT_EQ(packet.transport_priority, 1);
    EXPECT_EQ(packet.transport_scrambling_control, 3);
    EXPECT_EQ(packet.adaptation_field_control, 1);
    EXPECT_EQ(packet.continuity_counter, 15);
}

TEST(PacketHeader, RefusesNullAndMissingSyncByte)
{
    TS_Packet packet;
    std::memset(&packet, 0xAB, sizeof packet);
    const Packet bytes = MakePacket({0x46, 0x41, 0x00, 0x10});
    EXPECT_EQ(TS_Packet_Get(&packet, bytes.data()), -2);
    EXPECT_EQ(packet.sync_byte, 0xAB);  // untouched
    EXPECT_EQ(TS_Packet_Get(nullptr, bytes.data()), -1);
    EXPECT_EQ(TS_Packet_Get(&packet, nullptr), -1);
    EXPECT_EQ(TS_Packet_GetAdaptationField(nullptr, &packet, bytes.data()), -1);
}

TEST(AdaptationField, OnlyFlagsByteLeavesTheRestAsStuffing)
{
    TS_Packet packet = {};
    const Packet bytes = MakePacket({0x47, 0x01, 0x00, 0x20, 183, 0x00});
    ASSERT_EQ(TS_Packet_Get(&packet, bytes.data()), 0);
    EXPECT_EQ(packet.adaptation_field.adaptation_field_length, 183);
    EXPECT_EQ(packet.adaptation_field.PCR_flag, 0);
    EXPECT_EQ(packet.adaptation_field.stuffing_length, 182);
    EXPECT_EQ(packet.adaptation_field.stuffing_byte[181], 0xFF);
}

TEST(AdaptationField, ZeroLengthIsASingleStuffingByte)
{
    TS_Packet packet = {};
    // Byte 5 holds flags that must not be read: the field is its length byte alone.
    const Packet bytes = MakePacket({0x47, 0x01, 0x00, 0x30, 0x00, 0xFF});
    ASSERT_EQ(TS_Packet_Get(&packet, bytes.data()), 0);
    EXPECT_EQ(packet.adaptation_field.PCR_flag, 0);
    EXPECT_EQ(packet.adaptation_field.adaptation_field_extension_flag, 0);
    EXPECT_EQ(packet.adaptation_field.stuffing_length, 0);
}

TEST(AdaptationField, ProgramClockReferences)
{
    TS_Packet packet = {};
    Packet bytes = MakePacket({0x47, 0x01, 0x00, 0x30, 13, 0x18, 0x00, 0x00, 0x00, 0x00, 0x7E, 0x00,
                               0x00, 0x00, 0x00, 0x00, 0x81, 0x2C});
    ASSERT_EQ(TS_Packet_Get(&packet, bytes.data()), 0);
    const TS_AdaptationField &field = packet.adaptation_field;
    EXPECT_EQ(field.program_clock_reference_base, 0u);
    EXPECT_EQ(field.PCR_reserved, 63);
    EXPECT_EQ(field.program_clock_reference_extension, 0);
    EXPECT_EQ(field.original_program_clock_reference_base, 1u);
    EXPECT_EQ(field.OPCR_reserved, 0);
    EXPECT_EQ(field.original_program_clock_reference_extension, 300);
    EXPECT_EQ(field.stuffing_length, 0);  // 13 - 1 flags byte - 2 x 6

    // All 33 bits of the base.
    bytes = MakePacket({0x47, 0x01, 0x00, 0x20, 20, 0x10, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
    ASSERT_EQ(TS_Packet_Get(&packet, bytes.data()), 0);
    EXPECT_EQ(field.program_clock_reference_base, 0x1FFFFFFFFull);
    EXPECT_EQ(field.program_clock_reference_extension, 0x1FF);
    EXPECT_EQ(field.stuffing_length, 20 - 7);
}

TEST(AdaptationField, SpliceCountdownPrivateDataAndExtension)
{
    TS_Packet packet = {};
    // splicing_point, private data (3 bytes), extension with ltw, piecewise and seamless splice.
    const Packet bytes = MakePacket({0x47, 0x01, 0x00, 0x30, 30, 0x07,
                                     0xFE,                          // splice_countdown -2
                                     3, 0xA1, 0xA2, 0xA3,           // private data
                                     11, 0xE0 | 0x1F,               // extension length, flags
                                     0x80 | 0x12, 0x34,             // ltw
                                     0xC0 | 0x01, 0x02, 0x03,       // piecewise
                                     0x2F, 0xFF, 0xFF, 0xFF, 0xFF,  // seamless splice
                                     0x00, 0x00, 0x00});
    ASSERT_EQ(TS_Packet_Get(&packet, bytes.data()), 0);
    const TS_AdaptationField &field = packet.adaptation_field;
    EXPECT_EQ(field.splice_countdown, -2);
    EXPECT_EQ(field.transport_private_data_length, 3);
    EXPECT_EQ(field.private_data_byte[2], 0xA3);
    EXPECT_EQ(field.adaptation_field_extension_length, 11);
    EXPECT_EQ(field.extension_reserved, 0x1F);
    EXPECT_EQ(field.ltw_valid_flag, 1);
    EXPECT_EQ(field.ltw_offset, 0x1234);
    EXPECT_EQ(field.piecewise_reserved, 3);
    EXPECT_EQ(field.piecewise_rate, 0x010203u);
    EXPECT_EQ(field.splice_type, 2);
    EXPECT_EQ(field.DTS_next_AU, 0x1FFFFFFFFull);
    EXPECT_EQ(field.marker_bit[0], 1);
    EXPECT_EQ(field.marker_bit[1], 1);
    EXPECT_EQ(field.marker_bit[2], 1);
    EXPECT_EQ(field.extension_reserved_length, 0);
    // 30 - flags(1) - countdown(1) - private(4) - extension(12)
    EXPECT_EQ(field.stuffing_length, 12);
}

TEST(AdaptationField, PacketWithoutFieldKeepsThePreviousOne)
{
    TS_Packet packet = {};
    const Packet with_field = MakePacket({0x47, 0x01, 0x00, 0x30, 7, 0x10, 0, 0, 0, 1, 0x00, 0x00});
    const Packet without = MakePacket({0x47, 0x01, 0x00, 0x11});
    ASSERT_EQ(TS_Packet_Get(&packet, with_field.data()), 0);
    ASSERT_EQ(TS_Packet_Get(&packet, without.data()), 0);
    EXPECT_EQ(packet.adaptation_field.PCR_flag, 1);
    EXPECT_EQ(packet.adaptation_field.program_clock_reference_base, 2u);
    EXPECT_EQ(TS_Packet_GetAdaptationField(&packet.adaptation_field, &packet, without.data()), -2);
}

// Flags that announce more than the field holds must not make the decoder read past the packet
// or leave a negative count behind.
TEST(AdaptationField, MalformedLengthsStayInsideThePacket)
{
    TS_Packet packet = {};
    // Length 255 claims more than the packet holds; every flag set.
    Packet bytes = MakePacket({0x47, 0x01, 0x00, 0x30, 255, 0xFF}, 0xFF);
    ASSERT_EQ(TS_Packet_Get(&packet, bytes.data()), 0);
    EXPECT_LE(packet.adaptation_field.stuffing_length, 182);
    EXPECT_LE(packet.adaptation_field.transport_private_data_length, 182);

    // Length 2 with PCR, OPCR, private data and extension flagged: only the private data length
    // byte fits, and its 0x99 bytes are cut to none.
    bytes = MakePacket({0x47, 0x01, 0x00, 0x30, 2, 0x1B, 0x99}, 0x00);
    ASSERT_EQ(TS_Packet_Get(&packet, bytes.data()), 0);
    EXPECT_EQ(packet.adaptation_field.transport_private_data_length, 0);
    EXPECT_EQ(packet.adaptation_field.stuffing_length, 0);

    // Private data length reaching past the field is cut to the field.
    bytes = MakePacket({0x47, 0x01, 0x00, 0x30, 5, 0x02, 200, 1, 2, 3}, 0x00);
    ASSERT_EQ(TS_Packet_Get(&packet, bytes.data()), 0);
    EXPECT_EQ(packet.adaptation_field.transport_private_data_length, 3);
    EXPECT_EQ(packet.adaptation_field.stuffing_length, 0);

    // Every adaptation_field_length with every flag byte value: nothing may overrun.
    for (int length = 0; length < 256; length += 3)
        for (int flags = 0; flags < 256; flags += 7) {
            bytes = MakePacket({0x47, 0x01, 0x00, 0x30, u8(length), u8(flags)}, u8(length ^ flags));
            ASSERT_EQ(TS_Packet_Get(&packet, bytes.data()), 0);
            // The parts present are disjoint pieces of the field (flags byte excluded).
            const TS_AdaptationField &field = packet.adaptation_field;
            int used = field.stuffing_length;
            if (length > 0 && field.transport_private_data_flag)
                used += field.transport_private_data_length;
            if (length > 0 && field.adaptation_field_extension_flag)
                used += field.extension_reserved_length;
            ASSERT_LE(used, 182) << length << " " << flags;
        }
}

}  // namespace
