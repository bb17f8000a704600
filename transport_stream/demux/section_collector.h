// One PID's sections, collected from the payloads of its packets as ISO/IEC 13818-1 2.4.4 lays
// them out: a section may start anywhere in a payload and run over any number of packets, the
// bytes between pointer_field and the first new section end the section in progress, sections
// follow each other back to back, and the first 0xFF where a table_id is due starts the
// stuffing that fills the rest of the packet.
#ifndef PIDSIFT_TRANSPORT_STREAM_DEMUX_SECTION_COLLECTOR_H
#define PIDSIFT_TRANSPORT_STREAM_DEMUX_SECTION_COLLECTOR_H

#include <cstring>

#include <pidsift/demux.h>

#include "common/bytes.h"
#include "common/crc.h"

namespace pidsift {

// section_length has 12 bits: a section is at most 3 + 4,095 bytes long, and the buffer holds
// that much, so no declared length can overflow it. The standard allows 1,021 for the PSI tables
// and 4,093 for private sections; a section declaring more is collected all the same and
// delivered whole, for its CRC_32 to judge.
constexpr u32 kSectionCapacity = 3 + 0xFFF;

// Whether a complete section carries a CRC_32, and whether it checks: the long form does, and
// so do the PAT, CAT and PMT whatever their indicator says, and the TOT (table_id 0x73).
void Section_JudgeCRC(Section *section);

// What one packet did to the collector, for those who follow which packets carried a section.
struct FeedOutcome {
    bool bTaken;         // its payload went to the collector (false: no payload, or a duplicate)
    bool bDuplicate;     // it repeated the last counter of the PID: a copy, which adds nothing
    bool bCarriedEnded;  // the section in progress before it was completed or dropped by it
};

class SectionCollector {
public:
    explicit SectionCollector(u16 pid = 0) : m_u16PID(pid) {}

    // Forgets the section in progress and the last counter.
    void Reset()
    {
        m_bBusy = false;
        m_u8Counter = kNoCounter;
    }

    // Gives up the section in progress and keeps the last counter: the packets that continue it
    // are passed over, and a copy of the last packet is still known as one.
    void Drop() { m_bBusy = false; }

    // Takes one 188-byte packet of the PID. on_section(const Section &, bool carried) is called
    // for each section it completes, in order; carried: the section began in an earlier packet.
    // A packet that repeats the last counter is a duplicate and adds nothing; any other break of
    // the counter drops the section in progress. A pointer_field past the payload drops it too.
    template <class OnSection> FeedOutcome Feed(const u8 *packet, OnSection &&on_section)
    {
        FeedOutcome outcome = {};
        const u8 control = packet[3];
        if ((control & 0x10) == 0)
            return outcome;  // no payload
        u32 at = 4;
        if (control & 0x20)
            at += 1u + packet[4];
        if (at >= TS_PACKET_SIZE)
            return outcome;
        const u8 counter = control & 0x0F;
        if (counter == m_u8Counter) {
            outcome.bDuplicate = true;
            return outcome;
        }
        outcome.bTaken = true;
        const bool follows = m_u8Counter != kNoCounter && counter == ((m_u8Counter + 1) & 0x0F);
        m_u8Counter = counter;
        const bool carried = m_bBusy;
        if (!follows)
            m_bBusy = false;
        const u8 *payload = packet + at;
        u32 count = TS_PACKET_SIZE - at;
        if ((packet[1] & 0x40) == 0) {
            // No section starts here: what follows the end of one is stuffing.
            if (m_bBusy)
                Take(payload, count, true, on_section);
            outcome.bCarriedEnded = carried && !m_bBusy;
            return outcome;
        }
        const u32 pointer = payload[0];
        ++payload;
        --count;
        if (pointer > count) {
            m_bBusy = false;
            outcome.bCarriedEnded = carried;
            return outcome;
        }
        // The bytes before the first new section end the one in progress, or were stuffing.
        if (m_bBusy)
            Take(payload, pointer, true, on_section);
        m_bBusy = false;
        outcome.bCarriedEnded = carried;
        payload += pointer;
        count -= pointer;
        // Sections back to back, until stuffing (table_id 0xFF) or the end of the packet.
        while (count > 0 && payload[0] != 0xFF) {
            m_bBusy = true;
            m_u16Length = 0;
            m_u16Collected = 0;
            const u32 used = Take(payload, count, false, on_section);
            if (m_bBusy)
                break;  // continues in the next packet
            payload += used;
            count -= used;
        }
        return outcome;
    }

    u16 PID() const { return m_u16PID; }
    // A section is in progress: it continues in the next packet.
    bool Busy() const { return m_bBusy; }
    // Bytes of the section in progress collected so far, and the bytes themselves.
    u32 Collected() const { return m_bBusy ? m_u16Collected : 0; }
    const u8 *Bytes() const { return m_lu8Bytes; }

private:
    static constexpr u8 kNoCounter = 0xFF;

    // Appends up to count bytes to the section in progress and returns how many it took. A
    // section that completes is handed to on_section and the collector is idle again.
    template <class OnSection> u32 Take(const u8 *bytes, u32 count, bool carried, OnSection &on_section)
    {
        u32 used = 0;
        if (m_u16Length == 0) {
            const u32 wanted = 3u - m_u16Collected;
            const u32 header = count < wanted ? count : wanted;
            std::memcpy(m_lu8Bytes + m_u16Collected, bytes, header);
            m_u16Collected = u16(m_u16Collected + header);
            used = header;
            if (m_u16Collected < 3)
                return used;
            m_u16Length = u16(3 + TS_Read12(m_lu8Bytes + 1));
        }
        const u32 remaining = u32(m_u16Length - m_u16Collected);
        const u32 take = count - used < remaining ? count - used : remaining;
        std::memcpy(m_lu8Bytes + m_u16Collected, bytes + used, take);
        m_u16Collected = u16(m_u16Collected + take);
        used += take;
        if (m_u16Collected == m_u16Length) {
            m_bBusy = false;
            Section section;
            section.pid = m_u16PID;
            section.bytes = m_lu8Bytes;
            section.length = m_u16Length;
            Section_JudgeCRC(&section);
            on_section(static_cast<const Section &>(section), carried);
        }
        return used;
    }

    u16 m_u16PID;
    u16 m_u16Length = 0;  // 3 + section_length, 0 while the first three bytes are not all in
    u16 m_u16Collected = 0;
    u8 m_u8Counter = kNoCounter;  // continuity_counter of the last packet with payload
    bool m_bBusy = false;
    u8 m_lu8Bytes[kSectionCapacity];
};

}  // namespace pidsift

#endif  // PIDSIFT_TRANSPORT_STREAM_DEMUX_SECTION_COLLECTOR_H
