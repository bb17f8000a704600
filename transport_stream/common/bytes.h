// Reading the big-endian fields of packets and sections.
#ifndef PIDSIFT_TRANSPORT_STREAM_COMMON_BYTES_H
#define PIDSIFT_TRANSPORT_STREAM_COMMON_BYTES_H

#include <pidsift/ts.h>

// Big-endian field readers. Callers have checked that the bytes lie inside their buffer.
inline u16 TS_Read16(const u8 *bytes) { return u16((bytes[0] << 8) | bytes[1]); }
inline u32 TS_Read32(const u8 *bytes)
{
    return (u32(bytes[0]) << 24) | (u32(bytes[1]) << 16) | (u32(bytes[2]) << 8) | u32(bytes[3]);
}
// The 12-bit length that follows a table_id or stands in a loop header.
inline u16 TS_Read12(const u8 *bytes) { return u16(((bytes[0] & 0x0F) << 8) | bytes[1]); }
// The 13-bit PID of a PID field.
inline u16 TS_Read13(const u8 *bytes) { return u16(((bytes[0] & 0x1F) << 8) | bytes[1]); }

// A cursor over a span of bytes that checks every read against the span's end, for decoders
// that walk fields and loops whose lengths come from the stream. A read that does not fit
// returns 0, moves the cursor to the end and sets a flag that stays set: a decoder may read a
// run of fields and look at the flag once. A part taken from the span never reaches past it.
class TS_ByteReader {
public:
    TS_ByteReader() = default;
    TS_ByteReader(const u8 *data, u32 size) : m_pu8Data(data), m_u32Size(size) {}

    u8 Read8()
    {
        const u8 *at = Advance(1);
        return at != nullptr ? at[0] : 0;
    }
    u16 Read16()
    {
        const u8 *at = Advance(2);
        return at != nullptr ? TS_Read16(at) : 0;
    }
    // Two bytes whose top four bits are flags or reserved: a section or loop length.
    u16 Read12() { return u16(Read16() & 0x0FFF); }
    // Two bytes whose top three bits are flags or reserved: a PID.
    u16 Read13() { return u16(Read16() & 0x1FFF); }
    u32 Read32()
    {
        const u8 *at = Advance(4);
        return at != nullptr ? TS_Read32(at) : 0;
    }

    // Steps over count bytes; past the end it stops there and sets the flag.
    void Skip(u32 count) { Advance(count); }

    // The next count bytes as a span of their own, and the cursor behind them. When fewer are
    // left, the part holds what is left and this reader's flag is set: declared lengths that
    // overrun are cut to the bytes that exist.
    TS_ByteReader Take(u32 count)
    {
        const TS_ByteReader part(Here(), count < Remaining() ? count : Remaining());
        Advance(count);
        return part;
    }

    u32 Size() const { return m_u32Size; }
    u32 Offset() const { return m_u32Position; }
    u32 Remaining() const { return m_u32Size - m_u32Position; }
    bool Failed() const { return m_bFailed; }
    const u8 *Begin() const { return m_pu8Data; }
    const u8 *Here() const { return m_pu8Data + m_u32Position; }
    const u8 *End() const { return m_pu8Data + m_u32Size; }

private:
    // The bytes of a read of count bytes, or nullptr (cursor at the end, flag set) when they
    // do not all lie in the span.
    const u8 *Advance(u32 count)
    {
        if (count > Remaining()) {
            m_u32Position = m_u32Size;
            m_bFailed = true;
            return nullptr;
        }
        const u8 *at = Here();
        m_u32Position += count;
        return at;
    }

    const u8 *m_pu8Data = nullptr;
    u32 m_u32Size = 0;
    u32 m_u32Position = 0;
    bool m_bFailed = false;
};

#endif  // PIDSIFT_TRANSPORT_STREAM_COMMON_BYTES_H
