#include "reference_filter.h"

namespace reference_filter {

namespace {

using std::size_t;
using std::uint16_t;
using std::uint8_t;

uint16_t Pid(const Packet &p) { return uint16_t((p[1] & 0x1F) << 8 | p[2]); }
bool UnitStart(const Packet &p) { return (p[1] & 0x40) != 0; }
uint16_t Field16(const uint8_t *b) { return uint16_t(b[0] << 8 | b[1]); }
uint16_t Field13(const uint8_t *b) { return uint16_t((b[0] & 0x1F) << 8 | b[1]); }
uint16_t Field12(const uint8_t *b) { return uint16_t((b[0] & 0x0F) << 8 | b[1]); }

// Where the payload starts, or 188 when the packet carries none.
size_t PayloadStart(const Packet &p)
{
    const int control = (p[3] >> 4) & 3;
    if (control == 0 || control == 2)
        return 188;
    size_t at = 4;
    if (control == 3)
        at += 1 + size_t(p[4]);
    return at < 188 ? at : 188;
}

// One PID's section reassembly.
class Reassembly {
public:
    enum Outcome {
        kNothing,   // the packet brought nothing: no payload, or no section in progress
        kDropped,   // the section in progress (or the one the packet started) was given up
        kGrowing,   // bytes were added; the section is not complete
        kComplete,  // the section is complete: bytes() holds it
    };

    explicit Reassembly(size_t min_section_length) : m_min(min_section_length) {}

    void Reset()
    {
        m_active = false;
        m_bytes.clear();
        m_total = 0;
    }

    Outcome Feed(const Packet &p)
    {
        const size_t payload = PayloadStart(p);
        if (payload >= 188)
            return kNothing;
        const int counter = p[3] & 0x0F;
        size_t from;
        if (UnitStart(p)) {
            from = payload + 1 + p[payload];
            if (from >= 188) {
                Reset();
                return kDropped;
            }
            Reset();
            m_active = true;
        } else {
            if (!m_active)
                return kNothing;
            if (counter != (m_counter + 1) % 16) {
                Reset();
                return kDropped;
            }
            from = payload;
        }
        m_counter = counter;
        for (size_t i = from; i < 188; ++i) {
            if (m_total != 0 && m_bytes.size() == m_total)
                break;
            m_bytes.push_back(p[i]);
            if (m_total == 0 && m_bytes.size() == 3) {
                const size_t section_length = Field12(&m_bytes[1]);
                if (section_length < m_min || section_length + 3 > 2928) {
                    Reset();
                    return kDropped;
                }
                m_total = section_length + 3;
            }
        }
        if (m_total != 0 && m_bytes.size() == m_total) {
            m_active = false;
            return kComplete;
        }
        return kGrowing;
    }

    const std::vector<uint8_t> &bytes() const { return m_bytes; }

private:
    size_t m_min;
    bool m_active = false;
    int m_counter = 0;
    std::vector<uint8_t> m_bytes;
    size_t m_total = 0;  // section_length + 3 once the first three bytes are in
};

// Bytes a descriptor's decoder reads whatever its descriptor_length says; one whose fixed part
// reaches past the section is not decoded, and the loop stops there.
size_t FixedPart(const uint8_t *d, size_t room)
{
    switch (d[0]) {
    case 0x02: return room >= 3 && (d[2] & 0x04) ? 3 : 5;
    case 0x03: return 3;
    case 0x04: return 6;
    case 0x05: return 6;
    case 0x06: return 3;
    case 0x07: return 6;
    case 0x08: return 6;
    case 0x09: return 6;
    case 0x0A: return 2;
    case 0x0B: return 4;
    case 0x0C: return 6;
    case 0x0D: return 6;
    case 0x0E: return 5;
    case 0x0F: return 6;
    case 0x10: return 8;
    case 0x11: return 3;
    case 0x12: return 4;
    default: return 2;
    }
}

// The PIDs a complete PMT section names: PCR_PID, the CA_PID of the first conditional-access
// descriptor of the program loop, and the elementary_PID of the first 16 streams; never 0x0000
// or 0x1FFF.
std::vector<bool> Selection(const std::vector<uint8_t> &s)
{
    std::vector<bool> selected(8192, false);
    const size_t size = s.size();
    const size_t section_length = Field12(&s[1]);
    selected[Field13(&s[8])] = true;

    const size_t info_length = Field12(&s[10]);
    const size_t info_end = 12 + info_length < size ? 12 + info_length : size;
    size_t at = 12;
    bool have_ca = false;
    for (int count = 0; at < info_end && count < 32; ++count) {
        const size_t room = size - at;
        if (room < 2)
            break;
        const size_t span = 2 + size_t(s[at + 1]);
        if (span > room || FixedPart(&s[at], room) > room)
            break;
        if (s[at] == 0x09 && !have_ca) {
            selected[Field13(&s[at + 4])] = true;
            have_ca = true;
        }
        at += span;
    }

    at = 12 + info_length;
    const size_t streams_end = section_length > 1 ? section_length - 1 : 0;
    for (int count = 0; count < 16 && at < streams_end && at + 5 <= size; ++count) {
        selected[Field13(&s[at + 1])] = true;
        at += 5 + Field12(&s[at + 3]);
    }
    selected[0x0000] = false;
    selected[0x1FFF] = false;
    return selected;
}

// Once a PID has delivered a section with a good CRC_32, its sections with a bad one are
// ignored; until then every section is used as it is.
class CrcGate {
public:
    bool Use(const std::vector<uint8_t> &section)
    {
        const bool good = Crc32(section.data(), section.size()) == 0;
        if (good)
            m_good_seen = true;
        return good || !m_good_seen;
    }

private:
    bool m_good_seen = false;
};

struct Held {
    size_t index;
    bool written;  // written through the selection when it arrived
};

}  // namespace

std::uint32_t Crc32(const std::uint8_t *data, std::size_t length)
{
    std::uint32_t crc = 0xFFFFFFFF;
    for (std::size_t i = 0; i < length; ++i) {
        crc ^= std::uint32_t(data[i]) << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80000000) ? (crc << 1) ^ 0x04C11DB7 : crc << 1;
    }
    return crc;
}

Result Run(const std::vector<Packet> &packets, std::uint16_t pmt_pid)
{
    Result result;
    Reassembly pat(9);
    Reassembly pmt(13);
    CrcGate pat_gate;
    CrcGate pmt_gate;
    bool following = false;
    uint16_t program = 0;
    std::vector<Held> held;
    bool have_pmt = false;
    std::vector<bool> selected(8192, false);

    for (size_t index = 0; index < packets.size(); ++index) {
        const Packet &p = packets[index];
        const uint16_t pid = Pid(p);

        if (pid == 0x0000) {
            if (pat.Feed(p) != Reassembly::kComplete || !pat_gate.Use(pat.bytes()))
                continue;
            const std::vector<uint8_t> &s = pat.bytes();
            const int loop_length = int(Field12(&s[1])) - 9;
            bool found = false;
            uint16_t number = 0;
            for (int offset = 0, count = 0; offset < loop_length && count < 16 && !found; offset += 4, ++count) {
                number = Field16(&s[8 + size_t(offset)]);
                found = number != 0 && Field13(&s[8 + size_t(offset) + 2]) == pmt_pid;
            }
            if (!found) {
                if (result.opened) {
                    result.ended = true;
                    break;
                }
                continue;
            }
            if (!following || number != program) {
                pmt.Reset();
                held.clear();
            }
            following = true;
            program = number;
            result.opened = true;
            continue;
        }

        if (!result.opened)
            continue;
        const bool through_selection = have_pmt && selected[pid];

        if (pid == pmt_pid) {
            const Reassembly::Outcome outcome = pmt.Feed(p);
            if (outcome == Reassembly::kDropped || (outcome != Reassembly::kNothing && UnitStart(p)))
                held.clear();
            if (outcome == Reassembly::kGrowing || outcome == Reassembly::kComplete) {
                const std::vector<uint8_t> &s = pmt.bytes();
                if (s.size() < 5) {
                    held.push_back({index, through_selection});
                } else if (Field16(&s[3]) != program) {
                    held.clear();
                } else {
                    for (const Held &h : held)
                        if (!h.written)
                            result.written.push_back(h.index);
                    held.clear();
                    result.written.push_back(index);
                    if (outcome == Reassembly::kComplete && pmt_gate.Use(s)) {
                        selected = Selection(s);
                        have_pmt = true;
                    }
                    continue;
                }
            }
        }
        if (through_selection)
            result.written.push_back(index);
    }
    return result;
}

}  // namespace reference_filter
