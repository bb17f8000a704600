// The streams a selection keeps, the PMT section that lists them alone, and the PMT packets of a
// program carrying such sections in place of the broadcast ones.
#include <pidsift/stream_selection.h>

#include <algorithm>
#include <cstring>

#include "common/bytes.h"
#include "common/crc.h"
#include "drivers/stream_keeper.h"

namespace pidsift {

namespace {

// PMT section (ISO/IEC 13818-1 2.4.4.8): the fixed header up to program_info_length, and each
// stream entry's fixed part before its ES_info loop. The rewrite copies entries whole, so it
// reads the loop strictly, where the table walkers of psi/walk.h cut what overruns.
constexpr size_t kPmtHeader = 12;
constexpr size_t kStreamEntry = 5;
constexpr size_t kCrcSize = 4;
// Packets held behind a PMT section at most: a section of 1,021 bytes spans 6 packets, and a
// broadcast repeats its PMT several times a second, so this many means a section that never ends.
constexpr size_t kHoldCapacity = 4096;

bool ParseChoice(const std::string &item, StreamChoice *choice, std::string *error)
{
    if (item.empty()) {
        *error = "an empty item";
        return false;
    }
    if (item[0] >= '0' && item[0] <= '9') {
        const bool hex = item.size() > 2 && item[0] == '0' && (item[1] == 'x' || item[1] == 'X');
        const std::string digits = hex ? item.substr(2) : item;
        unsigned long value = 0;
        for (char c : digits) {
            const int digit = c >= '0' && c <= '9'          ? c - '0'
                              : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                              : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                            : -1;
            if (digit < 0 || (value = value * (hex ? 16 : 10) + unsigned(digit)) > 0x1FFF) {
                *error = "'" + item + "' is no PID (0 to 0x1FFF, 0x for hexadecimal)";
                return false;
            }
        }
        choice->by_pid = true;
        choice->pid = u16(value);
        return true;
    }
    const size_t colon = item.find(':');
    const std::string kind = item.substr(0, colon);
    bool known = false;
    for (u8 k = 0; k <= u8(StreamKind::Cue); ++k)
        if (StreamKindName(StreamKind(k)) == kind) {
            choice->kind = StreamKind(k);
            known = true;
        }
    if (!known) {
        *error = "unknown kind '" + kind + "' (video, audio, subtitles, teletext, captions, data, cue, or a PID)";
        return false;
    }
    if (colon != std::string::npos) {
        std::string language = item.substr(colon + 1);
        bool letters = language.size() == 3;
        for (char &c : language) {
            letters = letters && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'));
            c = char(c | 0x20);
        }
        if (!letters) {
            *error = "'" + item.substr(colon + 1) + "' in '" + item + "' is no language: three letters, as 'fra'";
            return false;
        }
        choice->language = language;
    }
    return true;
}

}  // namespace

bool StreamSelection::Selects(u8 stream_type, u16 pid, const u8 *descriptors, size_t length) const
{
    bool identified = false;
    StreamIdentity identity;
    for (const StreamChoice &choice : choices) {
        if (choice.by_pid) {
            if (choice.pid == pid)
                return true;
            continue;
        }
        if (!identified) {
            identity = IdentifyStream(stream_type, descriptors, length);
            identified = true;
        }
        if (identity.kind == choice.kind &&
            (choice.language.empty() || std::find(identity.languages.begin(), identity.languages.end(),
                                                  choice.language) != identity.languages.end()))
            return true;
    }
    return false;
}

bool ParseStreamSelection(const char *text, StreamSelection *selection, std::string *error)
{
    selection->choices.clear();
    const std::string list = text != nullptr ? text : "";
    for (size_t start = 0;;) {
        const size_t comma = list.find(',', start);
        StreamChoice choice;
        if (!ParseChoice(list.substr(start, comma == std::string::npos ? std::string::npos : comma - start), &choice,
                         error))
            return false;
        selection->choices.push_back(choice);
        if (comma == std::string::npos)
            return true;
        start = comma + 1;
    }
}

std::vector<u8> SelectPmtStreams(const u8 *section, size_t length, const StreamSelection &selection,
                                 std::vector<u16> *kept)
{
    if (section == nullptr || length < kPmtHeader + kCrcSize || section[0] != 0x02 ||
        size_t(3 + TS_Read12(section + 1)) != length)
        return {};
    const size_t loop_end = length - kCrcSize;
    const size_t streams = kPmtHeader + TS_Read12(section + 10);
    if (streams > loop_end)
        return {};
    std::vector<u8> rewritten(section, section + streams);
    std::vector<u16> pids;
    for (size_t at = streams; at < loop_end;) {
        if (at + kStreamEntry > loop_end)
            return {};
        const size_t entry_end = at + kStreamEntry + TS_Read12(section + at + 3);
        if (entry_end > loop_end)
            return {};
        const u16 pid = TS_Read13(section + at + 1);
        if (selection.Selects(section[at], pid, section + at + kStreamEntry, entry_end - at - kStreamEntry)) {
            rewritten.insert(rewritten.end(), section + at, section + entry_end);
            pids.push_back(pid);
        }
        at = entry_end;
    }
    const size_t section_length = rewritten.size() + kCrcSize - 3;
    rewritten[1] = u8((section[1] & 0xF0) | (section_length >> 8));
    rewritten[2] = u8(section_length);
    const u32 crc = TS_CRC32(rewritten.data(), rewritten.size());
    for (int shift = 24; shift >= 0; shift -= 8)
        rewritten.push_back(u8(crc >> shift));
    if (kept != nullptr)
        *kept = std::move(pids);
    return rewritten;
}

// ---- The packets --------------------------------------------------------------------------------

bool StreamKeeper::OnPmt(const Pmt &pmt)
{
    m_u16ProgramNumber = pmt.program_number();
    std::vector<u16> streams;
    if (SelectPmtStreams(pmt.section.data(), pmt.section.size(), m_tSelection, &streams).empty())
        return true;  // a PMT the demux took holds together: not reached
    m_lu16Kept = streams;
    m_lu16Kept.push_back(u16(pmt.pcr_pid & 0x1FFF));
    // The ECMs of the program, and of the kept streams.
    auto add_ca_pids = [this](const std::vector<Descriptor> &descriptors) {
        for (const Descriptor &descriptor : descriptors)
            if (descriptor.tag == 0x09 && descriptor.body.size() >= 4)
                m_lu16Kept.push_back(TS_Read13(descriptor.body.data() + 2));
    };
    add_ca_pids(pmt.descriptors);
    for (const PmtStream &stream : pmt.streams)
        if (std::find(streams.begin(), streams.end(), stream.elementary_pid & 0x1FFF) != streams.end())
            add_ca_pids(stream.descriptors);
    std::sort(m_lu16Kept.begin(), m_lu16Kept.end());
    return !streams.empty();
}

bool StreamKeeper::Kept(u16 pid) const { return std::binary_search(m_lu16Kept.begin(), m_lu16Kept.end(), pid); }

void StreamKeeper::Take(const u8 *packet, u8 flags, std::vector<PacketBytes> *out)
{
    const bool pmt = (flags & kProgramPmtSection) != 0;
    if (!pmt && !Kept(u16(((packet[1] & 0x1F) << 8) | packet[2])))
        return;
    if (!pmt && !m_bHolding) {
        out->emplace_back();
        std::memcpy(out->back().data(), packet, TS_PACKET_SIZE);
        return;
    }
    m_lHeld.push_back({});
    std::memcpy(m_lHeld.back().bytes.data(), packet, TS_PACKET_SIZE);
    m_lHeld.back().pmt = pmt;
    m_bHolding = true;
    if (m_lHeld.size() >= kHoldCapacity) {
        // A section that does not end (its packets lost): what was held goes out as it came.
        Release(out);
    } else if (pmt && (flags & kProgramPmtOpen) == 0) {
        std::vector<PacketBytes *> run;
        for (Held &held : m_lHeld)
            if (held.pmt)
                run.push_back(&held.bytes);
        RewriteRun(run, m_u16ProgramNumber, m_tSelection);
        Release(out);
    }
}

void StreamKeeper::Finish(std::vector<PacketBytes> *out) { Release(out); }

void StreamKeeper::Release(std::vector<PacketBytes> *out)
{
    for (const Held &held : m_lHeld)
        out->push_back(held.bytes);
    m_lHeld.clear();
    m_bHolding = false;
}

bool StreamKeeper::RewriteRun(std::vector<PacketBytes *> &run, u16 program_number, const StreamSelection &selection)
{
    // Where each packet's payload starts and how long it is (0 without one).
    std::vector<size_t> payload_at(run.size()), payload_size(run.size());
    for (size_t i = 0; i < run.size(); ++i) {
        const u8 *packet = run[i]->data();
        size_t at = 4;
        if (packet[3] & 0x20)
            at += 1 + size_t(packet[4]);
        if (at > TS_PACKET_SIZE)
            return false;
        payload_at[i] = at;
        payload_size[i] = (packet[3] & 0x10) ? TS_PACKET_SIZE - at : 0;
    }
    if (run.empty() || payload_size[0] == 0 || !((*run[0])[1] & 0x40))
        return false;

    // The bytes before the first section (the end of a section of another program on the same
    // PID), then the run's section bytes with the pointer_fields taken out; where each later
    // packet's pointer_field says a section starts.
    const u8 *first = run[0]->data() + payload_at[0];
    const size_t pointer = first[0];
    if (1 + pointer > payload_size[0])
        return false;
    const std::vector<u8> prefix(first + 1, first + 1 + pointer);
    std::vector<u8> data(first + 1 + pointer, first + payload_size[0]);
    std::vector<size_t> pointed_starts;
    for (size_t i = 1; i < run.size(); ++i) {
        if (payload_size[i] == 0)
            continue;
        const u8 *payload = run[i]->data() + payload_at[i];
        const bool unit_start = ((*run[i])[1] & 0x40) != 0;
        if (unit_start) {
            if (1 + size_t(payload[0]) > payload_size[i])
                return false;
            pointed_starts.push_back(data.size() + payload[0]);
        }
        data.insert(data.end(), payload + (unit_start ? 1 : 0), payload + payload_size[i]);
    }

    // The sections, the program's PMT sections rewritten; stuffing skipped up to the next start.
    std::vector<std::vector<u8>> sections;
    for (size_t at = 0; at < data.size();) {
        if (data[at] == 0xFF) {
            const auto next = std::upper_bound(pointed_starts.begin(), pointed_starts.end(), at);
            if (next == pointed_starts.end())
                break;
            at = *next;
            continue;
        }
        // A section that a later pointer_field cuts never completed: a decoder drops it, and so
        // does the layout. One that the end of the run cuts goes on beyond it: no layout.
        const auto next = std::upper_bound(pointed_starts.begin(), pointed_starts.end(), at);
        const size_t length = at + 3 <= data.size() ? 3 + size_t(TS_Read12(&data[at + 1])) : data.size() + 1 - at;
        if (next != pointed_starts.end() && at + length > *next) {
            at = *next;
            continue;
        }
        if (at + length > data.size())
            return false;
        const u8 *section = &data[at];
        std::vector<u8> kept;
        if (section[0] == 0x02 && length >= kPmtHeader && TS_Read16(section + 3) == program_number &&
            TS_CRC32(section, length) == 0)
            kept = SelectPmtStreams(section, length, selection);
        sections.push_back(kept.empty() ? std::vector<u8>(section, section + length) : std::move(kept));
        at += length;
    }

    // The new layout, first into copies so that a layout that does not fit changes nothing.
    std::vector<u8> stream;
    std::vector<size_t> starts;
    for (const std::vector<u8> &section : sections) {
        starts.push_back(stream.size());
        stream.insert(stream.end(), section.begin(), section.end());
    }
    std::vector<PacketBytes> laid(run.size());
    size_t cursor = 0;
    for (size_t i = 0; i < run.size(); ++i) {
        PacketBytes &packet = laid[i];
        packet = *run[i];
        if (payload_size[i] == 0)
            continue;
        u8 *payload = packet.data() + payload_at[i];
        size_t room = payload_size[i];
        std::memset(payload, 0xFF, room);
        bool unit_start = false;
        size_t written = 0;
        if (i == 0) {
            unit_start = true;
            payload[0] = u8(prefix.size());
            std::copy(prefix.begin(), prefix.end(), payload + 1);
            written = 1 + prefix.size();
            const size_t count = std::min(room - written, stream.size() - cursor);
            std::copy_n(stream.begin() + long(cursor), count, payload + written);
            cursor += count;
        } else if (cursor < stream.size()) {
            const auto next = std::lower_bound(starts.begin(), starts.end(), cursor);
            const bool starts_here = next != starts.end() && *next + 1 < cursor + room;
            if (starts_here) {
                // A section starts in this packet: the pointer_field says where.
                unit_start = true;
                payload[0] = u8(*next - cursor);
                written = 1;
            } else if (next != starts.end() && *next < cursor + room) {
                // The next section would start in the last byte, where the pointer_field leaves
                // it no room: this packet ends the section before it, stuffing after.
                room = *next - cursor;
            }
            const size_t count = std::min(room - written, stream.size() - cursor);
            std::copy_n(stream.begin() + long(cursor), count, payload + written);
            cursor += count;
        }
        packet[1] = u8(unit_start ? packet[1] | 0x40 : packet[1] & ~0x40);
    }
    if (cursor < stream.size())
        return false;
    for (size_t i = 0; i < run.size(); ++i)
        *run[i] = laid[i];
    return true;
}

}  // namespace pidsift
