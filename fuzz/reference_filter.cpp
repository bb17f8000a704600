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

// Packets waiting while the program number of a PMT section is not known: the first packets of
// the section (on a PMT PID that another program of the PAT shares, a section header cut by the
// packet end), and the program's packets that came after them, so that everything goes out in
// input order. A section's packets that are dropped keep their room until the next release; a
// packet that finds the 128 places taken gives the section up.
class Waiting {
public:
    explicit Waiting(std::vector<size_t> *written) : m_written(written) {}

    bool ForSection() const
    {
        for (const Entry &e : m_entries)
            if (e.kind == kSection)
                return true;
        return false;
    }
    bool Full() const { return m_entries.size() >= 128; }
    void AddSection(size_t index) { m_entries.push_back({index, kSection}); }
    void AddOutput(size_t index) { m_entries.push_back({index, kOutput}); }
    // The section turned out to be the program's: its packets go out with the others.
    void Confirm() { Settle(kOutput); }
    // The section is given up, or another program's: its packets are dropped.
    void Drop() { Settle(kDropped); }
    // Everything up to the first packet of a section still waiting goes out, but what was dropped.
    void Release()
    {
        size_t n = 0;
        for (; n < m_entries.size() && m_entries[n].kind != kSection; ++n)
            if (m_entries[n].kind == kOutput)
                m_written->push_back(m_entries[n].index);
        m_entries.erase(m_entries.begin(), m_entries.begin() + long(n));
    }

private:
    enum Kind { kSection, kOutput, kDropped };
    struct Entry {
        size_t index;
        Kind kind;
    };
    void Settle(Kind to)
    {
        for (Entry &e : m_entries)
            if (e.kind == kSection)
                e.kind = to;
    }
    std::vector<size_t> *m_written;
    std::vector<Entry> m_entries;
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
    bool shared = false;
    uint16_t program = 0;
    Waiting waiting(&result.written);
    bool have_pmt = false;
    std::vector<bool> selected(8192, false);

    // Gives up the section whose packets wait, and lets the others go.
    const auto give_up = [&] {
        if (waiting.ForSection()) {
            waiting.Drop();
            pmt.Reset();
        }
        waiting.Release();
    };
    // A packet of the program: written, or put behind the section's packets while they wait.
    const auto put = [&](size_t index) {
        if (waiting.ForSection()) {
            if (!waiting.Full()) {
                waiting.AddOutput(index);
                return;
            }
            give_up();
        }
        waiting.Release();
        result.written.push_back(index);
    };

    for (size_t index = 0; index < packets.size(); ++index) {
        const Packet &p = packets[index];
        const uint16_t pid = Pid(p);

        if (pid == 0x0000) {
            if (pat.Feed(p) != Reassembly::kComplete || !pat_gate.Use(pat.bytes()))
                continue;
            // A PAT ends any wait for a program number.
            give_up();
            const std::vector<uint8_t> &s = pat.bytes();
            const int loop_length = int(Field12(&s[1])) - 9;
            int entries = 0;
            for (int offset = 0; offset < loop_length && entries < 16; offset += 4)
                ++entries;
            int found = -1;
            for (int k = 0; k < entries && found < 0; ++k) {
                const uint8_t *entry = &s[8 + size_t(4 * k)];
                if (Field16(entry) != 0 && Field13(entry + 2) == pmt_pid)
                    found = k;
            }
            if (found < 0) {
                if (result.opened) {
                    result.ended = true;
                    break;
                }
                continue;
            }
            const uint16_t number = Field16(&s[8 + size_t(4 * found)]);
            if (!following || number != program)
                pmt.Reset();
            shared = false;
            for (int k = 0; k < entries; ++k) {
                const uint8_t *entry = &s[8 + size_t(4 * k)];
                shared = shared || (k != found && Field16(entry) != 0 && Field13(entry + 2) == pmt_pid);
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
                waiting.Drop();
            if (outcome == Reassembly::kGrowing || outcome == Reassembly::kComplete) {
                const std::vector<uint8_t> &s = pmt.bytes();
                if (s.size() >= 5 && Field16(&s[3]) != program) {
                    waiting.Drop();
                } else if (s.size() < 5 && shared && !through_selection) {
                    // Only the program number can tell whose section this is: it waits.
                    if (waiting.Full()) {
                        waiting.Drop();
                        pmt.Reset();
                    } else {
                        waiting.AddSection(index);
                    }
                    waiting.Release();
                    continue;
                } else {
                    if (s.size() >= 5)
                        waiting.Confirm();
                    waiting.Release();
                    put(index);
                    if (outcome == Reassembly::kComplete && pmt_gate.Use(s)) {
                        selected = Selection(s);
                        have_pmt = true;
                    }
                    continue;
                }
            }
            waiting.Release();
        }
        if (through_selection)
            put(index);
    }
    if (!result.ended)
        give_up();
    return result;
}

}  // namespace reference_filter
