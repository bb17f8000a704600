#include "reference_filter.h"

#include <algorithm>
#include <map>

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

// One PID's sections, as ISO/IEC 13818-1 lays them out: continuity is kept per PID (a repeated
// counter is a copy that adds nothing, any other break drops the section in progress), the
// bytes before pointer_field end the section in progress, sections follow each other back to
// back until a table_id of 0xFF, and a section is as long as section_length says.
class Sections {
public:
    struct Done {
        std::vector<uint8_t> bytes;
        bool carried;  // it began in an earlier packet
    };
    struct Fed {
        bool taken = false;      // the payload went in
        bool duplicate = false;  // the last counter again
        bool carried_ended = false;
        std::vector<Done> done;
    };

    Fed Feed(const Packet &p)
    {
        Fed fed;
        const size_t payload = PayloadStart(p);
        if (payload >= 188)
            return fed;
        const int counter = p[3] & 0x0F;
        if (counter == m_counter) {
            fed.duplicate = true;
            return fed;
        }
        fed.taken = true;
        const bool follows = m_counter >= 0 && counter == (m_counter + 1) % 16;
        m_counter = counter;
        const bool carried = m_busy;
        if (!follows)
            m_busy = false;
        size_t at = payload;
        if (!UnitStart(p)) {
            if (m_busy)
                Add(p, at, 188, true, &fed);
            fed.carried_ended = carried && !m_busy;
            return fed;
        }
        const size_t pointer = p[at];
        ++at;
        if (at + pointer > 188) {
            m_busy = false;
            fed.carried_ended = carried;
            return fed;
        }
        if (m_busy)
            Add(p, at, at + pointer, true, &fed);
        m_busy = false;
        fed.carried_ended = carried;
        at += pointer;
        while (at < 188 && p[at] != 0xFF) {
            m_busy = true;
            m_bytes.clear();
            at = Add(p, at, 188, false, &fed);
            if (m_busy)
                break;
        }
        return fed;
    }

    bool busy() const { return m_busy; }
    const std::vector<uint8_t> &bytes() const { return m_bytes; }
    // Gives the section in progress up; the counter stays, so a copy is still known as one.
    void Drop() { m_busy = false; }

private:
    // Takes bytes from..to into the section in progress; returns where it stopped.
    size_t Add(const Packet &p, size_t from, size_t to, bool carried, Fed *fed)
    {
        size_t at = from;
        for (; at < to; ++at) {
            m_bytes.push_back(p[at]);
            if (m_bytes.size() >= 3 && m_bytes.size() == 3 + size_t(Field12(&m_bytes[1]))) {
                ++at;
                m_busy = false;
                fed->done.push_back({m_bytes, carried});
                return at;
            }
        }
        return at;
    }

    int m_counter = -1;
    bool m_busy = false;
    std::vector<uint8_t> m_bytes;
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
// descriptor of the program loop, and the elementary_PID of every stream; never 0x0000 or
// 0x1FFF.
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
    while (at < info_end) {
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
    const size_t loop_end = section_length > 1 ? section_length - 1 : 0;
    const size_t streams_end = loop_end < size ? loop_end : size;
    while (at < streams_end && at + 5 <= size) {
        selected[Field13(&s[at + 1])] = true;
        at += 5 + Field12(&s[at + 3]);
    }
    selected[0x0000] = false;
    selected[0x1FFF] = false;
    return selected;
}

// Once a PID has delivered a section with a good CRC_32, its sections with a bad one are
// ignored; until then every section is used as it is. A section has a CRC_32 in the long form,
// and as a PAT, CAT, PMT or TOT whatever its indicator says.
class CrcGate {
public:
    bool Use(const std::vector<uint8_t> &section)
    {
        const bool long_form = (section[1] & 0x80) != 0;
        const bool has_crc = section.size() >= (long_form ? 12u : 7u) &&
                             (long_form || section[0] <= 0x02 || section[0] == 0x73);
        if (!has_crc)
            return true;
        const bool good = Crc32(section.data(), section.size()) == 0;
        if (good)
            m_good_seen = true;
        return good || !m_good_seen;
    }

private:
    bool m_good_seen = false;
};

// A program of the PAT: told apart from an earlier entry of the same number by its rank.
struct Entry {
    uint16_t number;
    uint16_t pid;
    int rank;
};

// The followed program's wait behind a PMT section whose owner is not known yet (its header cut
// by the packet end on a PMT PID that another program of the PAT shares): the section's packets
// that the program did not get when they came, and the program's packets that came after them.
// When the wait ends, they go out in input order: the section's own only when it turned out to
// be the program's.
class Waiting {
public:
    explicit Waiting(std::vector<size_t> *written) : m_written(written) {}

    bool active() const { return !m_entries.empty(); }
    bool full() const { return m_entries.size() >= 128; }
    void AddSection(size_t index) { m_entries.push_back({index, true}); }
    void AddOutput(size_t index) { m_entries.push_back({index, false}); }
    void End(bool the_programs)
    {
        for (const Entry &e : m_entries)
            if (!e.section || the_programs)
                m_written->push_back(e.index);
        m_entries.clear();
    }

private:
    struct Entry {
        size_t index;
        bool section;
    };
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
    Sections pat;
    Sections pmt;
    CrcGate pat_gate;
    CrcGate pmt_gate;
    std::vector<uint8_t> pat_in_force;
    std::vector<Entry> programs;      // of the PAT in force
    int followed = -1;                // index in programs
    // The PMT sections decoded for each program (number, rank), kept while PATs list it.
    std::map<std::pair<uint16_t, int>, std::vector<uint8_t>> pmts;
    Waiting waiting(&result.written);
    std::vector<int> last_owners;
    const bool trackable = pmt_pid != 0x0000 && pmt_pid != 0x1FFF;
    // Before the first PAT: the last PMT section of each PID (64 PIDs at most) that a packet
    // holds whole, behind its pointer_field, with a good CRC_32. The first PAT gives it to the
    // first program listed on its PID under its number that has no PMT yet; the followed program
    // then gets its packet as if it came after the PAT.
    struct EarlyPMT {
        uint16_t pid;
        size_t index;
        std::vector<uint8_t> section;
    };
    std::vector<EarlyPMT> early;
    auto note_early = [&](const Packet &p, size_t index) {
        const uint16_t pid = Pid(p);
        if ((p[1] & 0xC0) != 0x40 || !(p[3] & 0x10) || pid < 0x0010 || pid == 0x1FFF)
            return;
        size_t at = 4;
        if (p[3] & 0x20)
            at += 1u + p[4];
        if (at >= 188)
            return;
        at += 1u + p[at];
        if (at + 3 > 188 || p[at] != 0x02)
            return;
        const size_t length = 3u + Field12(&p[at + 1]);
        if (length < 16 || at + length > 188 || Crc32(&p[at], length) != 0)
            return;
        auto kept = std::find_if(early.begin(), early.end(), [&](const EarlyPMT &e) { return e.pid == pid; });
        if (kept == early.end()) {
            if (early.size() == 64)
                return;
            kept = early.insert(early.end(), EarlyPMT{pid, 0, {}});
        }
        kept->index = index;
        kept->section.assign(&p[at], &p[at] + length);
    };

    auto on_pid = [&]() {
        std::vector<int> on;
        for (size_t k = 0; k < programs.size(); ++k)
            if (programs[k].pid == pmt_pid)
                on.push_back(int(k));
        return on;
    };
    // The section that the program waits on is given up: it is read no further.
    auto give_up = [&] {
        if (!waiting.active())
            return;
        pmt.Drop();
        waiting.End(false);
    };
    // A packet of the program: written, or put behind the section's while the program waits.
    auto put = [&](size_t index) {
        if (waiting.active()) {
            if (!waiting.full()) {
                waiting.AddOutput(index);
                return;
            }
            give_up();
        }
        result.written.push_back(index);
    };

    for (size_t index = 0; index < packets.size(); ++index) {
        const Packet &p = packets[index];
        const uint16_t pid = Pid(p);
        if (pat_in_force.empty())
            note_early(p, index);

        if (pid == 0x0000) {
            std::vector<std::pair<size_t, size_t>> applied;  // program, packet of its early PMT
            std::vector<size_t> released;                     // early packets of the followed program
            for (const Sections::Done &done : pat.Feed(p).done) {
                applied.clear();
                const std::vector<uint8_t> &s = done.bytes;
                if (!pat_gate.Use(s) || s[0] != 0x00 || s.size() < 12)
                    continue;
                // Every PAT ends the wait, before anything else it does.
                give_up();
                if (s != pat_in_force) {
                    pat_in_force = s;
                    std::vector<Entry> fresh;
                    const size_t loop_end = std::min<size_t>(Field12(&s[1]) - 1, s.size());
                    for (size_t at = 8; at < loop_end; at += 4) {
                        const uint16_t number = Field16(&s[at]);
                        if (number == 0)
                            continue;
                        int rank = 0;
                        for (const Entry &e : fresh)
                            rank += e.number == number;
                        fresh.push_back({number, Field13(&s[at + 2]), rank});
                    }
                    std::map<std::pair<uint16_t, int>, std::vector<uint8_t>> kept;
                    for (const Entry &e : fresh)
                        if (pmts.count({e.number, e.rank}))
                            kept[{e.number, e.rank}] = pmts[{e.number, e.rank}];
                    pmts = kept;
                    programs = fresh;
                    last_owners.clear();
                    followed = -1;
                    for (size_t k = 0; k < programs.size() && !early.empty(); ++k) {
                        const Entry &e = programs[k];
                        if (pmts.count({e.number, e.rank}))
                            continue;
                        const auto it = std::find_if(early.begin(), early.end(), [&](const EarlyPMT &x) {
                            return x.pid == e.pid && Field16(&x.section[3]) == e.number;
                        });
                        if (it == early.end())
                            continue;
                        pmts[{e.number, e.rank}] = it->section;
                        applied.push_back({k, it->index});
                        early.erase(it);
                    }
                    early.clear();
                }
                if (result.ended)
                    continue;
                int found = -1;
                for (size_t k = 0; k < programs.size() && found < 0; ++k)
                    if (programs[k].pid == pmt_pid)
                        found = int(k);
                if (found < 0) {
                    if (result.opened)
                        result.ended = true;
                    continue;
                }
                followed = found;
                result.opened = true;
                for (const auto &[k, early_index] : applied)
                    if (int(k) == followed)
                        released.push_back(early_index);
            }
            // The early packet reaches the program once the PAT packet's sections are all read:
            // not when a later section of the packet ended the copy.
            if (!result.ended)
                result.written.insert(result.written.end(), released.begin(), released.end());
            if (result.ended)
                break;
            continue;
        }
        if (!result.opened || result.ended || followed < 0)
            continue;
        const Entry program = programs[size_t(followed)];
        std::vector<int> owners;
        bool hold = false;

        if (pid == pmt_pid && trackable) {
            const std::vector<int> sharing = on_pid();
            auto owner_of = [&](uint16_t number) {
                for (int k : sharing)
                    if (programs[size_t(k)].number == number && std::find(owners.begin(), owners.end(), k) == owners.end())
                        owners.push_back(k);
            };
            // The owner of the section the program waits on is known (or never will be).
            auto told = [&](bool pmt_table, uint16_t number) {
                if (waiting.active())
                    waiting.End(pmt_table && number == program.number);
            };
            const Sections::Fed fed = pmt.Feed(p);
            for (const Sections::Done &done : fed.done) {
                const std::vector<uint8_t> &s = done.bytes;
                const bool is_pmt = s[0] == 0x02 && s.size() >= 5;
                const uint16_t number = is_pmt ? Field16(&s[3]) : 0;
                if (done.carried)
                    told(is_pmt, number);
                const bool usable = pmt_gate.Use(s);
                if (!is_pmt)
                    continue;
                owner_of(number);
                if (usable && s.size() >= 16)
                    for (int k : sharing)
                        if (programs[size_t(k)].number == number)
                            pmts[{number, programs[size_t(k)].rank}] = s;
            }
            if (fed.duplicate) {
                owners = last_owners;
                hold = waiting.active();
            } else if (fed.taken) {
                if (fed.carried_ended)
                    told(false, 0);
                if (pmt.busy()) {
                    const std::vector<uint8_t> &s = pmt.bytes();
                    const bool is_pmt = s[0] == 0x02;
                    if (s.size() >= 5) {
                        told(is_pmt, Field16(&s[3]));
                        if (is_pmt)
                            owner_of(Field16(&s[3]));
                    } else if (!is_pmt) {
                        told(false, 0);
                    } else if (sharing.size() == 1) {
                        owner_of(programs[size_t(sharing[0])].number);
                    } else if (!sharing.empty()) {
                        hold = true;
                    }
                }
                last_owners = owners;
            }
        }
        const bool reached = std::find(owners.begin(), owners.end(), followed) != owners.end();
        const auto in_force = pmts.find({program.number, program.rank});
        const bool member = in_force != pmts.end() && Selection(in_force->second)[pid];
        if (hold && !reached && !member) {
            // Only the program number can tell whose section this is: the program waits for it.
            if (waiting.full())
                give_up();
            else
                waiting.AddSection(index);
            continue;
        }
        if (reached || member)
            put(index);
    }
    if (!result.ended)
        give_up();
    return result;
}

}  // namespace reference_filter
