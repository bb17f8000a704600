// The listing and single-program drivers: TS_GetProgramList, TS_ProgramSplitStream and the
// single-pass TS_GetProgramListAndSplit, whose list and output must equal those of the two passes.
//
// An input whose first byte has its top bit clear is taken as it is: a recording, cut, damaged or
// hostile. Any other input is a recipe (the bytes after the first) from which a broadcast-like
// stream of clean 188-byte packets is built; see Recipe and Multiplex below. On such a stream, and
// on a raw input that happens to be a clean packet stream, every output packet is traced back to
// the input packet it copies: none may be written twice, and they go out in input order (the
// output is a subsequence of the input), also where packets wait for the program number of a
// section whose header the packet end cut on a PMT PID that programs share. The output must also
// equal, byte for byte, what the plain model in reference_filter.cpp writes.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <unordered_map>
#include <vector>

#include "reference_filter.h"
#include "support.h"

using fuzzsupport::Check;
using reference_filter::Packet;

namespace {

using Bytes = std::vector<u8>;

// ---------------------------------------------------------------------------------------------
// Recipe: the stream a recipe describes
// ---------------------------------------------------------------------------------------------
//
// Header: one byte (bits 0-1: 1 to 3 programs; bit 2: a network entry in the PAT; bit 3: the
// transport_stream_id; bit 4: a crowd, 17 + bits 5-6 programs in all, see Build), then three bytes
// per program of the first three:
//   a: bits 0-2 PMT PID, bits 3-4 program_number, bits 5-7 ECM
//   b: bits 0-2 PCR_PID, bits 3-5 video PID, bits 6-7 audio PID
//   c: bits 0-2 what version 1 of the PMT changes, bits 3-4 where the CA descriptor stands,
//      bits 5-7 bytes of further descriptors, or their number that makes the section exactly
//      as long as the filter takes, or one byte longer
// (the choices are in ProgramFromRecipe). Then one operation per byte, low four bits the kind,
// until the recipe or the room for packets runs out:
//   0   PAT: bits 4-5 which PAT, bit 6 bad CRC_32, bit 7 layout bytes follow
//   1   PAT 0, plainly laid out
//   2-4 PMT: bits 4-5 program (of a crowd: the first two or the last two), bit 6 version,
//       bit 7 layout bytes follow
//   5   PCR packet: bits 4-5 program, bit 6 adaptation field only
//   6,7 video packets: bits 4-5 program, 1 + bits 6-7 packets; 6 starts a PES packet
//   8   audio packet: bits 4-5 program, bit 6 starts a PES packet
//   9   ECM section: bits 4-5 program
//   10  SI packet: bits 4-6 which (NIT, SDT, EIT, TDT, CAT, EMM, BIT, SDTT)
//   11  null packets: 1 + bits 4-6
//   12  continuity fault on the next payload packet of a PID: bits 4-5 which (the PMT, video or
//       PCR PID of the program in bits 6-7, or PID 0)
//   13  on a program's PMT PID (bits 4-5) a stray continuation packet, or with bit 6 a section
//       start whose pointer_field points past the packet end (bit 7: 255, else 183)
//   14  a PMT section of a program missing from the PAT on a program's PMT PID: bits 4-5
//       program, bit 7 layout bytes follow
//   15  one cycle of a multiplex: PAT, every PMT (bit 4: version), PCR, video, audio, SI, null
// Layout bytes (see ReadLayout): l1 bits 0-2 where the first section starts in its packet
// (0: just behind pointer_field; 1, 2, 3: in the last, second-last, third-last byte; 4: at the
// offset the next byte gives; 5: two sections back to back; 6: behind an adaptation field with
// a PCR; 7: as 4, and two sections), bit 3 reach that place with adaptation-field stuffing
// rather than pointer_field, bits 4-7 faults (see ReadLayout); l2 bits 0-1 adaptation fields of
// the following packets, bits 2-7 other packets put between the first four packets of the
// section (see Between).

constexpr u16 kNoPID = 0xFFFF;
constexpr size_t kMaxPackets = 400;

class Recipe {
public:
    Recipe(const u8 *data, size_t size) : m_data(data), m_size(size) {}
    bool Empty() const { return m_at >= m_size; }
    u8 Byte() { return m_at < m_size ? m_data[m_at++] : 0; }

private:
    const u8 *m_data;
    size_t m_size;
    size_t m_at = 0;
};

struct Program {
    u16 number = 0;
    u16 pmt_pid = 0;
    u16 pcr_pid = 0;
    u16 video_pid = 0;
    u16 audio_pid = kNoPID;
    u16 ecm_pid = kNoPID;
    u16 extra_pid = kNoPID;  // a further stream (captions, data)
    u8 ca_place = 0;         // 0 first, 1 behind another descriptor, 2 two CA descriptors, 3 in the video's loop
    u16 padding = 0;         // bytes of private descriptors
    u16 whole = 0;           // else: padding makes the section this long
};

// PIDs of program i when the recipe picks the usual ones.
u16 Base(size_t i) { return u16(0x0100 + 0x40 * i); }

Program ProgramFromRecipe(size_t i, u8 a, u8 b, u8 c, const std::vector<Program> &earlier)
{
    Program p;
    const Program *first = earlier.empty() ? nullptr : &earlier[0];
    static constexpr u16 kNumbers[] = {0x0400, 0x5C38, 0x0400, 0x0001};
    p.number = u16(kNumbers[(a >> 3) & 3] + ((a >> 3 & 3) == 2 ? 0 : i));
    switch (a & 7) {
    case 2: p.pmt_pid = u16(0x1FC8 + i); break;
    case 3: p.pmt_pid = u16(0x0101 + 0x20 * i); break;
    case 4: p.pmt_pid = first != nullptr ? first->pmt_pid : 0x01F0; break;  // PMTs sharing a PID
    case 6: p.pmt_pid = 0x0010; break;  // the network PID
    case 7: p.pmt_pid = 0x1FFF; break;  // the null PID
    default: p.pmt_pid = u16(0x01F0 + i); break;
    }
    switch ((b >> 3) & 7) {
    case 4:
    case 5: p.video_pid = p.pmt_pid; break;
    case 6: p.video_pid = first != nullptr ? first->video_pid : u16(Base(i) + 0x11); break;
    case 7: p.video_pid = 0x0000; break;
    default: p.video_pid = u16(Base(i) + 0x11); break;
    }
    switch (b >> 6) {
    case 2: p.audio_pid = p.pmt_pid; break;
    case 3: p.audio_pid = kNoPID; break;
    default: p.audio_pid = u16(Base(i) + 0x12); break;
    }
    switch (b & 7) {
    case 0: p.pcr_pid = p.video_pid; break;
    case 4: p.pcr_pid = 0x1FFF; break;
    case 5: p.pcr_pid = u16(Base(i) + 0x1F); break;
    case 6: p.pcr_pid = p.audio_pid != kNoPID ? p.audio_pid : p.video_pid; break;
    default: p.pcr_pid = p.pmt_pid; break;  // a PID of its own for the PCR is rare: often the PMT's
    }
    switch (a >> 5) {
    case 3:
    case 4:
    case 7: p.ecm_pid = u16(Base(i) + 0x30); break;
    case 5: p.ecm_pid = p.pmt_pid; break;
    case 6: p.ecm_pid = p.video_pid; break;
    default: break;
    }
    p.ca_place = (a >> 5) == 7 ? 3 : (c >> 3) & 3;
    // The last two: the longest section the filter takes (section_length 2925), and one byte more.
    static constexpr u16 kPadding[] = {0, 0, 24, 90, 180, 1000, 0, 0};
    p.padding = kPadding[c >> 5];
    p.whole = (c >> 5) == 6 ? 2928 : (c >> 5) == 7 ? 2929 : 0;
    return p;
}

// What version 1 of a program's PMT names instead.
Program Changed(Program p, size_t i, u8 change)
{
    switch (change & 7) {
    case 1: p.pcr_pid = p.pmt_pid; break;
    case 2: p.pcr_pid = p.video_pid; break;
    case 3: p.extra_pid = p.pmt_pid; break;
    case 4: p.audio_pid = kNoPID; break;
    case 5: p.extra_pid = u16(Base(i) + 0x38); break;
    case 6: p.ecm_pid = p.ecm_pid == kNoPID ? u16(Base(i) + 0x30) : kNoPID; break;
    case 7: p.video_pid = u16(Base(i) + 0x21); break;
    default: break;
    }
    return p;
}

void Put16(Bytes *b, u16 value)
{
    b->push_back(u8(value >> 8));
    b->push_back(u8(value));
}

void PutPID(Bytes *b, u16 pid, u8 top = 0xE0)
{
    b->push_back(u8(top | (pid >> 8 & 0x1F)));
    b->push_back(u8(pid));
}

Bytes Concat(Bytes a, const Bytes &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

void PutDescriptor(Bytes *b, u8 tag, const Bytes &body)
{
    b->push_back(tag);
    b->push_back(u8(body.size()));
    b->insert(b->end(), body.begin(), body.end());
}

// A long-form section: header, body, section_length and CRC_32 filled in.
Bytes LongSection(u8 table_id, u16 extension, u8 version, const Bytes &body, u8 syntax = 0xB0)
{
    Bytes s = {table_id, syntax, 0x00, u8(extension >> 8), u8(extension), u8(0xC1 | (version & 0x1F) << 1), 0x00, 0x00};
    s.insert(s.end(), body.begin(), body.end());
    const size_t length = s.size() - 3 + 4;
    s[1] = u8((s[1] & 0xF0) | (length >> 8 & 0x0F));
    s[2] = u8(length);
    const u32 crc = reference_filter::Crc32(s.data(), s.size());
    for (int shift = 24; shift >= 0; shift -= 8)
        s.push_back(u8(crc >> shift));
    return s;
}

// What is wrong with the first section of a run. Those marked sealed keep a good CRC_32.
enum Corruption {
    kIntact,
    kBadCRC,
    kLengthOverLimit,     // section_length 4094
    kLengthTooShort,      // section_length 12, one less than a PMT needs
    kShortest,            // cut to 16 bytes with section_length 13: no descriptor, no stream (sealed)
    kInfoLengthOverrun,   // program_info_length 7 too large, reaching into the stream loop (sealed)
    kShortDescriptor,     // the first descriptor of the program loop says 2 bytes (sealed)
};

// Where the first section of a run starts and what may go wrong on the way.
struct Layout {
    int start = 5;                // packet offset of the first section's first byte (5 to 187)
    bool by_adaptation = false;   // stuffing in an adaptation field moves it there, pointer_field 0
    bool two_sections = false;    // a second section follows the first directly
    int continuation_field = 0;   // 0 none, 1 PCR where the PID carries it, 2 a byte or two of payload, 3 stuffing
    u8 stuffing = 0;              // adaptation_field_length for mode 3
    u8 between = 0;               // two bits per gap after the first four packets: what goes there
    int corrupt = 0;              // see kCorrupt...
    int skip_counter_at = 0;      // packet of the run whose continuity_counter jumps (0: none)
    int keep_packets = 0;         // only this many packets go out (0: all)
};

Layout ReadLayout(Recipe *recipe)
{
    Layout layout;
    const u8 l1 = recipe->Byte();
    const u8 l2 = recipe->Byte();
    switch (l1 & 7) {
    case 1: layout.start = 187; break;
    case 2: layout.start = 186; break;
    case 3: layout.start = 185; break;
    case 4: layout.start = 5 + recipe->Byte() % 183; break;
    case 5: layout.two_sections = true; break;
    case 6: layout.start = 13; layout.by_adaptation = true; break;
    case 7: layout.start = 5 + recipe->Byte() % 183; layout.two_sections = true; break;
    default: break;
    }
    if (l1 & 0x08)
        layout.by_adaptation = true;
    switch (l1 >> 4) {
    case 6: layout.corrupt = kInfoLengthOverrun; break;
    case 7: layout.corrupt = kShortDescriptor; break;
    case 8:
    case 9: layout.corrupt = kBadCRC; break;
    case 10: layout.corrupt = kLengthOverLimit; break;
    case 11: layout.corrupt = kLengthTooShort; break;
    case 12: layout.corrupt = kShortest; break;
    case 13: layout.skip_counter_at = 1; break;
    case 14: layout.skip_counter_at = 2; break;
    case 15: layout.keep_packets = 1; break;
    default: break;
    }
    layout.continuation_field = l2 & 3;
    layout.stuffing = u8(20 + (l2 >> 2) * 2);
    layout.between = u8(l2 >> 2);
    return layout;
}

// A multiplex built from a recipe: packets with continuity counters per PID, each tagged with a
// serial number wherever it has bytes that no reader looks at (stuffing, the bytes a pointer_field
// steps over, payload of streams), so that the packets of a stream differ from each other.
class Multiplex {
public:
    Multiplex(const u8 *data, size_t size) : m_recipe(data, size) {}

    std::vector<Packet> Build();
    // The PMT PIDs of the programs, each once.
    std::vector<u16> PMTPIDs() const;

private:
    Recipe m_recipe;
    bool m_network = false;
    u16 m_transport_stream_id = 0x7FE0;
    std::vector<Program> m_program[2];  // versions 0 and 1
    std::vector<Packet> m_packets;
    std::array<u8, 8192> m_counter{};
    std::array<u8, 8192> m_fault{};  // 1: the next payload packet of the PID skips a counter value
    u32 m_serial = 0;

    bool Full() const { return m_packets.size() >= kMaxPackets; }
    // The program two bits of an operation name: of three or fewer, by number; of a crowd, the
    // first two and the last two, which stand beyond the sixteen entries a PAT record keeps.
    size_t IndexOf(u8 bits) const
    {
        const size_t count = m_program[0].size();
        bits &= 3;
        return count <= 3 ? bits % count : bits < 2 ? bits : count - 4 + bits;
    }
    const Program &ProgramAt(u8 bits, int version = 0) const { return m_program[version][IndexOf(bits)]; }
    void Tag(u8 *bytes, size_t room);
    Bytes AdaptationBody(size_t length, bool pcr);
    void Put(u16 pid, bool unit_start, int adaptation_length, bool pcr, const Bytes &payload);
    void PCRPacket(const Program &p, bool field_only);
    void StreamPacket(u16 pid, bool unit_start, u8 stream_id, bool pcr);
    void ShortSection(u16 pid, const Bytes &section);
    void Null();
    void SIPacket(int which);
    void Between(int what, const Program *owner);
    void Sections(u16 pid, std::vector<Bytes> sections, const Layout &layout, const Program *owner);
    Bytes PATSection(int variant, bool bad_crc);
    Bytes PMTSection(const Program &p, int version, u16 number);
    void PAT(int variant, bool bad_crc, const Layout &layout);
    void PMT(size_t index, int version, const Layout &layout);
    void Cycle(int version);
};

void Multiplex::Tag(u8 *bytes, size_t room)
{
    const u32 serial = ++m_serial;
    if (room >= 3) {
        bytes[0] = u8(serial >> 16);
        bytes[1] = u8(serial >> 8);
        bytes[2] = u8(serial);
    }
}

// adaptation_field_length bytes: the flags, a PCR when asked and there is room, stuffing.
Bytes Multiplex::AdaptationBody(size_t length, bool pcr)
{
    Bytes body(length, 0xFF);
    if (length == 0)
        return body;
    pcr = pcr && length >= 7;
    body[0] = pcr ? 0x50 : 0x00;
    size_t at = 1;
    if (pcr) {
        const u64 base = 0x12345678ULL + m_packets.size() * 3000;
        body[1] = u8(base >> 25);
        body[2] = u8(base >> 17);
        body[3] = u8(base >> 9);
        body[4] = u8(base >> 1);
        body[5] = u8((base & 1) << 7 | 0x7E);
        body[6] = u8(m_packets.size());
        at = 7;
    }
    Tag(body.data() + at, length - at);
    return body;
}

// One packet; adaptation_length -1 for none. The payload is cut or stuffed with 0xFF (and a
// tag) to what remains.
void Multiplex::Put(u16 pid, bool unit_start, int adaptation_length, bool pcr, const Bytes &payload)
{
    pid &= 0x1FFF;
    Packet p;
    p.fill(0xFF);
    p[0] = 0x47;
    p[1] = u8((unit_start ? 0x40 : 0x00) | (pid >> 8 & 0x1F));
    p[2] = u8(pid);
    size_t at = 4;
    if (adaptation_length >= 0) {
        p[4] = u8(adaptation_length);
        const Bytes body = AdaptationBody(size_t(adaptation_length), pcr);
        std::copy(body.begin(), body.end(), p.begin() + 5);
        at = 5 + body.size();
    }
    const bool has_payload = at < 188;
    u8 &counter = m_counter[pid];
    if (has_payload) {
        counter = u8((counter + (m_fault[pid] ? 2 : 1)) & 0x0F);
        m_fault[pid] = 0;
    }
    p[3] = u8((adaptation_length >= 0 ? 0x20 : 0x00) | (has_payload ? 0x10 : 0x00) | counter);
    const size_t take = payload.size() < 188 - at ? payload.size() : 188 - at;
    if (take > 0)
        std::memcpy(p.data() + at, payload.data(), take);
    if (at + take < 188)
        Tag(p.data() + at + take, 188 - at - take);
    m_packets.push_back(p);
}

void Multiplex::PCRPacket(const Program &p, bool field_only)
{
    if (p.pcr_pid == 0x1FFF || p.pcr_pid == 0x0000)
        return;
    if (field_only)
        Put(p.pcr_pid, false, 183, true, {});
    else
        StreamPacket(p.pcr_pid, false, 0xE0, true);
}

// A packet of a PES stream: the start of a PES packet, or the middle of one.
void Multiplex::StreamPacket(u16 pid, bool unit_start, u8 stream_id, bool pcr)
{
    Bytes payload;
    if (unit_start) {
        const u64 pts = m_packets.size() * 1501;
        payload = {0x00, 0x00, 0x01, stream_id, 0x00, 0x00, 0x80, 0x80, 0x05,
                   u8(0x21 | (pts >> 29 & 0x0E)), u8(pts >> 22), u8(pts >> 14 | 1), u8(pts >> 7), u8(pts << 1 | 1)};
    }
    const size_t at = payload.size();
    payload.resize(184, u8(stream_id ^ m_serial));
    Tag(payload.data() + at, 3);
    Put(pid, unit_start, pcr ? 7 : -1, pcr, payload);
}

// A section that fits in one packet, from its first payload byte.
void Multiplex::ShortSection(u16 pid, const Bytes &section)
{
    Bytes payload = {0x00};
    payload.insert(payload.end(), section.begin(), section.end());
    Put(pid, true, -1, false, payload);
}

void Multiplex::Null()
{
    Packet p;
    p.fill(0xFF);
    p[0] = 0x47;
    p[1] = 0x1F;
    p[2] = 0xFF;
    p[3] = 0x10;
    Tag(p.data() + 4, 184);
    m_packets.push_back(p);
}

void Multiplex::SIPacket(int which)
{
    Bytes body;
    Put16(&body, u16(m_serial));
    switch (which & 7) {
    case 0: ShortSection(0x0010, LongSection(0x40, 0x7FE0, 0, Concat(body, {0xF0, 0x00, 0xF0, 0x00}), 0xF0)); break;
    case 1: ShortSection(0x0011, LongSection(0x42, m_transport_stream_id, 0, Concat(body, {0x7F, 0xE0, 0xFF}), 0xF0)); break;
    case 2: ShortSection(0x0012, LongSection(0x4E, 0x0400, 0, Concat(body, {0x7F, 0xE0, 0x7F, 0xE0, 0x01, 0x4E}), 0xF0)); break;
    case 3: ShortSection(0x0014, {0x70, 0x70, 0x05, 0xE8, 0x12, 0x12, 0x34, 0x56}); break;  // TDT
    case 4: {
        Bytes ca = {0x00, 0x05};
        PutPID(&ca, 0x0901);
        Bytes loop;
        PutDescriptor(&loop, 0x09, ca);
        ShortSection(0x0001, LongSection(0x01, 0xFFFF, 0, loop));
        break;
    }
    case 5: {
        Bytes emm = {0x00, 0x00, 0x00, 0x00, 0x01, 0x23};
        emm.resize(40, u8(m_serial));
        ShortSection(0x0901, LongSection(0x84, 0x0001, 0, emm, 0xF0));
        break;
    }
    case 6: ShortSection(0x0024, LongSection(0xC4, 0x0004, 0, Concat(body, {0xF0, 0x00}), 0xF0)); break;  // BIT
    default: ShortSection(0x0023, LongSection(0xC3, 0x0000, 0, Concat(body, Bytes(20, 0x5A)), 0xF0)); break;
    }
}

// A packet put between the packets of a section: the program's PCR, a video packet, or a video
// packet of another program that announces its PMT on the same PID (a null when none does).
void Multiplex::Between(int what, const Program *owner)
{
    const Program *sharing = nullptr;
    for (const Program &p : m_program[0])
        if (owner != nullptr && sharing == nullptr && p.pmt_pid == owner->pmt_pid && p.number != owner->number)
            sharing = &p;
    switch (what & 3) {
    case 1:
        if (owner != nullptr)
            PCRPacket(*owner, true);
        break;
    case 2:
        if (owner != nullptr)
            StreamPacket(owner->video_pid, false, 0xE0, false);
        break;
    case 3:
        if (sharing != nullptr)
            StreamPacket(sharing->video_pid, false, 0xE0, false);
        else
            Null();
        break;
    default: break;
    }
}

void SetLength(Bytes *s, u16 section_length)
{
    (*s)[1] = u8(((*s)[1] & 0xF0) | (section_length >> 8 & 0x0F));
    (*s)[2] = u8(section_length);
}

// Puts a good CRC_32 on a section again after a change.
void Reseal(Bytes *s)
{
    const u32 crc = reference_filter::Crc32(s->data(), s->size() - 4);
    for (size_t k = 0; k < 4; ++k)
        (*s)[s->size() - 4 + k] = u8(crc >> (24 - 8 * k));
}

void Corrupt(Bytes *s, int corruption)
{
    if (s->size() < 16 && corruption >= kShortest)
        return;  // a PAT without entries: nothing to cut or to stretch
    switch (corruption) {
    case kBadCRC: s->back() ^= 0x01; break;
    case kLengthOverLimit: SetLength(s, 4094); break;
    case kLengthTooShort: SetLength(s, 12); break;
    case kShortest:
        s->resize(16);
        SetLength(s, 13);
        (*s)[10] = 0xF0;
        (*s)[11] = 0x00;
        Reseal(s);
        break;
    case kInfoLengthOverrun: {
        const u16 length = u16(((*s)[10] & 0x0F) << 8 | (*s)[11]);
        (*s)[10] = u8(0xF0 | ((length + 7) >> 8 & 0x0F));
        (*s)[11] = u8(length + 7);
        Reseal(s);
        break;
    }
    case kShortDescriptor:
        (*s)[13] = 2;
        Reseal(s);
        break;
    default: break;
    }
}

// Packs sections into packets of pid. A packet in which a section starts has
// payload_unit_start_indicator set and pointer_field counts the bytes before it (the tail of the
// section before, or on the first packet filler that moves the start to layout.start); a start
// that leaves no room for pointer_field and a byte of the new section waits for the next packet.
void Multiplex::Sections(u16 pid, std::vector<Bytes> sections, const Layout &layout, const Program *owner)
{
    if (!sections.empty())
        Corrupt(&sections[0], layout.corrupt);
    Bytes stream;
    std::vector<size_t> starts;
    for (const Bytes &s : sections) {
        starts.push_back(stream.size());
        stream.insert(stream.end(), s.begin(), s.end());
    }
    const bool pcr_here = owner != nullptr && owner->pcr_pid == pid;
    size_t pos = 0;
    for (int n = 0; pos < stream.size() && !Full(); ++n) {
        if (layout.keep_packets != 0 && n >= layout.keep_packets)
            break;
        size_t next = stream.size();
        for (size_t start : starts)
            if (start >= pos) {
                next = start;
                break;
            }
        int adaptation = -1;
        bool pcr = false;
        size_t gap = 0;
        if (n == 0) {
            if (layout.by_adaptation && layout.start > 5) {
                adaptation = layout.start - 6;
                pcr = pcr_here;
            } else {
                gap = size_t(layout.start - 5);
            }
        } else if (layout.continuation_field == 1 && pcr_here) {
            adaptation = 7;
            pcr = true;
        } else if (layout.continuation_field == 2 && n <= 2) {
            adaptation = 183 - n;  // one byte of payload, then two
        } else if (layout.continuation_field == 3) {
            adaptation = layout.stuffing;
        }
        const size_t room = 184 - (adaptation >= 0 ? size_t(adaptation) + 1 : 0);
        Bytes payload;
        bool unit_start = false;
        if (next < stream.size() && next - pos + gap + 1 < room) {
            unit_start = true;
            payload.push_back(u8(next - pos + gap));
            payload.insert(payload.end(), stream.begin() + long(pos), stream.begin() + long(next));
            const size_t filler = payload.size();
            payload.resize(filler + gap, 0xFF);
            if (gap > 0)
                Tag(payload.data() + filler, gap);
            const size_t take = room - payload.size() < stream.size() - next ? room - payload.size() : stream.size() - next;
            payload.insert(payload.end(), stream.begin() + long(next), stream.begin() + long(next + take));
            pos = next + take;
        } else {
            const size_t end = next < stream.size() && next - pos < room ? next : (stream.size() - pos < room ? stream.size() : pos + room);
            payload.insert(payload.end(), stream.begin() + long(pos), stream.begin() + long(end));
            pos = end;
        }
        if (layout.skip_counter_at != 0 && n == layout.skip_counter_at)
            m_fault[pid] = 1;
        Put(pid, unit_start, adaptation, pcr, payload);
        if (n < 3 && pos < stream.size())
            Between(layout.between >> (2 * n), owner);
    }
}

// 0: the network entry and every program; 1: without the first program; 2: the first program
// under another number; 3: seventeen other programs first, so that the real ones fall beyond
// the sixteen entries that a PAT record keeps.
Bytes Multiplex::PATSection(int variant, bool bad_crc)
{
    Bytes loop;
    if (variant == 3)
        for (u16 k = 0; k < 17; ++k) {
            Put16(&loop, u16(0xFF00 + k));
            PutPID(&loop, u16(0x1E00 + k));
        }
    if (m_network) {
        Put16(&loop, 0x0000);
        PutPID(&loop, 0x0010);
    }
    for (size_t i = 0; i < m_program[0].size(); ++i) {
        if (variant == 1 && i == 0)
            continue;
        Put16(&loop, u16(m_program[0][i].number + (variant == 2 && i == 0 ? 0x10 : 0)));
        PutPID(&loop, m_program[0][i].pmt_pid);
    }
    Bytes s = LongSection(0x00, m_transport_stream_id, u8(variant), loop);
    if (bad_crc)
        s.back() ^= 0x80;
    return s;
}

Bytes Multiplex::PMTSection(const Program &p, int version, u16 number)
{
    size_t padding = p.padding;
    if (p.whole != 0) {
        Program bare = p;
        bare.whole = 0;
        bare.padding = 0;
        const size_t size = PMTSection(bare, version, number).size();
        padding = p.whole > size ? p.whole - size : 0;
    }
    Bytes ca = {0x00, 0x05};
    PutPID(&ca, p.ecm_pid);
    ca.push_back(0x01);
    Bytes program_loop;
    Bytes video_loop;
    PutDescriptor(&video_loop, 0x52, {0x00});
    if (p.ecm_pid != kNoPID) {
        if (p.ca_place == 3) {
            PutDescriptor(&video_loop, 0x09, ca);
        } else {
            if (p.ca_place == 1)
                PutDescriptor(&program_loop, 0xC1, {0x84, 0xFF});
            PutDescriptor(&program_loop, 0x09, ca);
            if (p.ca_place == 2)
                PutDescriptor(&program_loop, 0x09, {0x00, 0x06, 0xE1, 0x31});
        }
    }
    // A private descriptor with the serial, so that no two sections are the same bytes, then
    // the padding in descriptors of up to 255 bytes, half in each loop.
    const u32 serial = ++m_serial;
    PutDescriptor(&program_loop, 0x90, {u8(serial >> 16), u8(serial >> 8), u8(serial)});
    for (size_t left = padding, k = 0; left >= 2; ++k) {
        size_t span = left < 255 ? left : 255;
        if (left - span == 1)
            --span;  // never leave a single byte, which no descriptor can take
        Bytes bytes(span - 2);
        for (size_t j = 0; j < bytes.size(); ++j)
            bytes[j] = u8(serial * 7 + j * 13 + k);
        PutDescriptor(k % 2 == 0 ? &program_loop : &video_loop, 0x91, bytes);
        left -= span;
    }
    Bytes body;
    PutPID(&body, p.pcr_pid);
    Put16(&body, u16(0xF000 | program_loop.size()));
    body = Concat(body, program_loop);
    const auto stream = [&](u8 type, u16 pid, const Bytes &descriptors) {
        body.push_back(type);
        PutPID(&body, pid);
        Put16(&body, u16(0xF000 | descriptors.size()));
        body = Concat(body, descriptors);
    };
    stream(0x02, p.video_pid, video_loop);
    if (p.audio_pid != kNoPID)
        stream(0x0F, p.audio_pid, {0x52, 0x01, 0x10});
    if (p.extra_pid != kNoPID)
        stream(0x06, p.extra_pid, {0x52, 0x01, 0x30});
    return LongSection(0x02, number, u8(version), body);
}

void Multiplex::PAT(int variant, bool bad_crc, const Layout &layout)
{
    std::vector<Bytes> sections = {PATSection(variant, bad_crc)};
    if (layout.two_sections)
        sections.push_back(PATSection(0, false));
    Sections(0x0000, sections, layout, nullptr);
}

void Multiplex::PMT(size_t index, int version, const Layout &layout)
{
    const Program &p = m_program[version][index];
    std::vector<Bytes> sections = {PMTSection(p, version, p.number)};
    if (layout.two_sections) {
        // Back to back: the next program's PMT when it shares the PID, else this one again.
        const Program &q = m_program[version][(index + 1) % m_program[0].size()];
        sections.push_back(q.pmt_pid == p.pmt_pid ? PMTSection(q, version, q.number) : PMTSection(p, version, p.number));
    }
    Sections(p.pmt_pid, sections, layout, &p);
}

void Multiplex::Cycle(int version)
{
    PAT(0, false, Layout{});
    for (size_t i = 0; i < m_program[0].size(); ++i)
        PMT(i, version, Layout{});
    for (const Program &p : m_program[version]) {
        const bool pcr_on_video = p.pcr_pid == p.video_pid;
        if (!pcr_on_video)
            PCRPacket(p, true);
        StreamPacket(p.video_pid, true, 0xE0, pcr_on_video);
        StreamPacket(p.video_pid, false, 0xE0, false);
        if (p.audio_pid != kNoPID)
            StreamPacket(p.audio_pid, true, 0xC0, false);
        StreamPacket(p.video_pid, false, 0xE0, false);
    }
    SIPacket(int(m_serial % 3));
    Null();
}

std::vector<Packet> Multiplex::Build()
{
    const u8 head = m_recipe.Byte();
    const size_t described = 1 + (head & 3) % 3;
    // A crowd: the programs past the described ones take the bytes of one of those, with PIDs of
    // their own, and the last two share a PMT PID, both beyond the sixteenth entry of the PAT.
    const size_t count = (head & 0x10) ? 17 + ((head >> 5) & 3) : described;
    m_network = (head & 4) != 0;
    m_transport_stream_id = (head & 8) ? 0x7FE8 : 0x7FE0;
    u8 bytes[3][3];
    for (size_t i = 0; i < described; ++i)
        for (u8 &byte : bytes[i])
            byte = m_recipe.Byte();
    for (size_t i = 0; i < count; ++i) {
        const u8 *abc = bytes[i % described];
        m_program[0].push_back(ProgramFromRecipe(i, abc[0], abc[1], abc[2], m_program[0]));
    }
    if (count > 3)
        m_program[0][count - 1].pmt_pid = m_program[0][count - 2].pmt_pid;
    for (size_t i = 0; i < count; ++i)
        m_program[1].push_back(Changed(m_program[0][i], i, bytes[i % described][2] & 7));

    while (!m_recipe.Empty() && !Full()) {
        const u8 op = m_recipe.Byte();
        const u8 program_bits = (op >> 4) & 3;
        switch (op & 0x0F) {
        case 0: {
            const Layout layout = (op & 0x80) ? ReadLayout(&m_recipe) : Layout{};
            PAT((op >> 4) & 3, (op & 0x40) != 0, layout);
            break;
        }
        case 1: PAT(0, false, Layout{}); break;
        case 2:
        case 3:
        case 4: {
            const Layout layout = (op & 0x80) ? ReadLayout(&m_recipe) : Layout{};
            PMT(IndexOf(program_bits), (op >> 6) & 1, layout);
            break;
        }
        case 5: PCRPacket(ProgramAt(program_bits), (op & 0x40) != 0); break;
        case 6:
        case 7: {
            const Program &p = ProgramAt(program_bits);
            for (int k = 0; k <= (op >> 6); ++k)
                StreamPacket(p.video_pid, k == 0 && (op & 0x0F) == 6, 0xE0, k == 0 && p.pcr_pid == p.video_pid);
            break;
        }
        case 8: {
            const Program &p = ProgramAt(program_bits);
            if (p.audio_pid != kNoPID)
                StreamPacket(p.audio_pid, (op & 0x40) != 0, 0xC0, false);
            break;
        }
        case 9: {
            const Program &p = ProgramAt(program_bits);
            Bytes ecm(30, u8(m_serial));
            Put16(&ecm, u16(m_serial));
            ShortSection(p.ecm_pid != kNoPID ? p.ecm_pid : u16(Base(IndexOf(program_bits)) + 0x30),
                         LongSection(0x82, u16(0x0100 + m_serial % 7), 0, ecm, 0xF0));
            break;
        }
        case 10: SIPacket((op >> 4) & 7); break;
        case 11:
            for (int k = 0; k <= ((op >> 4) & 7); ++k)
                Null();
            break;
        case 12: {
            const Program &p = ProgramAt(op >> 6);
            const u16 pid = program_bits == 0 ? p.pmt_pid : program_bits == 1 ? p.video_pid : program_bits == 2 ? p.pcr_pid : 0x0000;
            m_fault[pid & 0x1FFF] = 1;
            break;
        }
        case 13: {
            const Program &p = ProgramAt(program_bits);
            if (op & 0x40) {
                // A section start whose pointer_field points past the packet end.
                Put(p.pmt_pid, true, -1, false, {u8((op & 0x80) ? 0xFF : 183)});
                break;
            }
            Bytes garbage(184, u8(0xA0 ^ m_serial));
            Tag(garbage.data(), 3);
            Put(p.pmt_pid, false, -1, false, garbage);
            break;
        }
        case 14: {
            const Layout layout = (op & 0x80) ? ReadLayout(&m_recipe) : Layout{};
            const Program &p = ProgramAt(program_bits);
            Sections(p.pmt_pid, {PMTSection(p, 0, 0x0F00)}, layout, &p);
            break;
        }
        default: Cycle((op >> 4) & 1); break;
        }
    }
    return m_packets;
}

std::vector<u16> Multiplex::PMTPIDs() const
{
    std::vector<u16> pids;
    for (const Program &p : m_program[0]) {
        bool seen = false;
        for (u16 pid : pids)
            seen = seen || pid == p.pmt_pid;
        if (!seen)
            pids.push_back(p.pmt_pid);
    }
    return pids;
}

// ---------------------------------------------------------------------------------------------
// Checks
// ---------------------------------------------------------------------------------------------

std::vector<u8> ReadAll(const std::string &path)
{
    const long long size = fuzzsupport::FileSize(path);
    std::vector<u8> bytes(size > 0 ? size_t(size) : 0);
    std::ifstream in(path, std::ios::binary);
    if (!bytes.empty())
        in.read(reinterpret_cast<char *>(bytes.data()), std::streamsize(bytes.size()));
    Check(size <= 0 || in.gcount() == std::streamsize(size), "an output file is read whole");
    return bytes;
}

int OpenSinglePassOutput(void *context)
{
    const std::string *path = static_cast<const std::string *>(context);
    return open(path->c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
}

bool SameList(const TS_ProgramList &a, const TS_ProgramList &b)
{
    if (a.u16Count != b.u16Count)
        return false;
    for (u16 i = 0; i < a.u16Count; ++i)
        if (a.lu16ProgramNumber[i] != b.lu16ProgramNumber[i] || a.lu16PID[i] != b.lu16PID[i])
            return false;
    return true;
}

u16 PacketPID(const u8 *p) { return u16((p[1] & 0x1F) << 8 | p[2]); }
// Input packets of a clean 188-byte stream, or nothing when the input is not one.
std::vector<Packet> CleanPackets(const u8 *data, size_t size)
{
    std::vector<Packet> packets;
    if (size == 0 || size % 188 != 0)
        return packets;
    for (size_t at = 0; at < size; at += 188)
        if (data[at] != 0x47)
            return {};
    packets.resize(size / 188);
    for (size_t i = 0; i < packets.size(); ++i)
        std::memcpy(packets[i].data(), data + i * 188, 188);
    return packets;
}

struct PacketHash {
    size_t operator()(const Packet &p) const
    {
        u64 h = 1469598103934665603ULL;
        for (u8 b : p)
            h = (h ^ b) * 1099511628211ULL;
        return size_t(h);
    }
};

// Traces each output packet back to the input packet it copies and checks that none is written
// twice and that they go out in input order. Inputs with two equal packets that the output copies
// are left to the model.
void CheckTrace(const std::vector<Packet> &input, const std::vector<u8> &output)
{
    std::unordered_map<Packet, std::vector<size_t>, PacketHash> where;
    for (size_t i = 0; i < input.size(); ++i)
        where[input[i]].push_back(i);
    long last = -1;
    for (size_t at = 0; at < output.size(); at += 188) {
        Packet p;
        std::memcpy(p.data(), output.data() + at, 188);
        const auto found = where.find(p);
        Check(found != where.end(), "every written packet is an input packet");
        if (found->second.size() > 1)
            return;
        const long x = long(found->second[0]);
        Check(PacketPID(input[size_t(x)].data()) != 0, "no PAT packet is written");
        Check(x != last, "no input packet is written twice");
        Check(x > last, "packets are written in input order");
        last = x;
    }
}

// The output must be what the model writes, byte for byte. On a difference the first differing
// packet is told on standard error, with the input packet indices of both sides.
void CheckAgainstModel(const std::vector<Packet> &input, const std::string &output_path, u16 pmt_pid)
{
    const reference_filter::Result expected = reference_filter::Run(input, pmt_pid);
    const long long size = fuzzsupport::FileSize(output_path);
    Check(expected.opened == (size >= 0), "the output is created exactly when the model opens it");
    if (size < 0)
        return;
    const std::vector<u8> output = ReadAll(output_path);
    const size_t written = output.size() / 188;
    size_t k = 0;
    while (k < written && k < expected.written.size() &&
           std::memcmp(output.data() + k * 188, input[expected.written[k]].data(), 188) == 0)
        ++k;
    const bool same = output.size() % 188 == 0 && k == written && k == expected.written.size();
    if (!same) {
        fprintf(stderr, "PMT PID 0x%04X: the filter wrote %zu packets, the model %zu; first difference at output packet %zu",
                pmt_pid, written, expected.written.size(), k);
        if (k < expected.written.size())
            fprintf(stderr, " (the model wrote input packet %zu there)", expected.written[k]);
        fprintf(stderr, "\n");
    }
    Check(same, "the filter writes what the model writes");
}

void RunFilter(const std::string &input, const TS_ProgramList &list, const std::vector<Packet> *packets, u16 pid, size_t size)
{
    const std::string two_pass = fuzzsupport::ScratchFile("two-pass.ts");
    const std::string one_pass = fuzzsupport::ScratchFile("one-pass.ts");
    unlink(two_pass.c_str());
    unlink(one_pass.c_str());
    const int split = TS_ProgramSplitStream(two_pass.c_str(), input.c_str(), pid);
    Check(split == 0, "extraction succeeds");
    const long long written = fuzzsupport::FileSize(two_pass);
    Check(written < 0 || written % TS_PACKET_SIZE == 0, "output holds whole packets");
    Check(written < 0 || u64(written) <= u64(size), "each input packet is written at most once");

    TS_ProgramList again = {};
    int split_result = 99;
    std::string path = one_pass;
    const int listed = TS_GetProgramListAndSplit(&again, input.c_str(), pid, OpenSinglePassOutput, &path, &split_result);
    Check(listed == 0, "single pass reads the whole file");
    Check(SameList(list, again), "single pass lists what the listing lists");
    Check(split_result == 0 || split_result == 1, "single pass split result");
    const std::vector<u8> output = ReadAll(two_pass);
    if (split_result == 0) {
        Check(written >= 0, "both passes open the output");
        Check(ReadAll(one_pass) == output, "single pass writes what two passes write");
    } else {
        Check(written < 0, "neither pass opens the output");
    }
    for (size_t at = 0; at < output.size(); at += TS_PACKET_SIZE) {
        Check(output[at] == TS_SYNC_BYTE, "written packets start with the sync byte");
        Check(PacketPID(output.data() + at) != 0, "no PAT packet is written");
    }
    if (packets != nullptr) {
        CheckTrace(*packets, output);
        CheckAgainstModel(*packets, two_pass, pid);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzsupport::SilenceStdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string input = fuzzsupport::ScratchFile("in.ts");
    std::vector<Packet> packets;
    std::vector<u16> pids;
    if (size > 0 && (data[0] & 0x80) != 0) {
        Multiplex multiplex(data + 1, size - 1);
        packets = multiplex.Build();
        pids = multiplex.PMTPIDs();
        Bytes bytes(packets.size() * 188);
        for (size_t i = 0; i < packets.size(); ++i)
            std::memcpy(bytes.data() + i * 188, packets[i].data(), 188);
        Check(fuzzsupport::WriteWhole(input, bytes.data(), bytes.size()), "input written");
        // The stream a recipe makes, for a look at a finding with pidsift-dump.
        if (const char *keep = getenv("PIDSIFT_FUZZ_KEEP_STREAM"))
            fuzzsupport::WriteWhole(keep, bytes.data(), bytes.size());
        size = bytes.size();
    } else {
        packets = CleanPackets(data, size);
        Check(fuzzsupport::WriteWhole(input, data, size), "input written");
    }

    TS_ProgramList list = {};
    Check(TS_GetProgramList(&list, input.c_str()) == 0, "listing reads the whole file");
    Check(list.u16Count <= 16, "at most 16 programs");
    for (u16 i = 0; i < list.u16Count; ++i)
        Check(list.lu16ProgramNumber[i] != 0 && list.lu16PID[i] < 0x2000, "listed entries are programs");

    // A PID that the last PAT does not list and no recipe program has (the null PID, mostly).
    const std::string unlisted = fuzzsupport::ScratchFile("unlisted.ts");
    u16 absent = 0x1FFF;
    for (u16 i = 0; i < list.u16Count; ++i)
        if (list.lu16PID[i] == absent)
            absent = 0x1FFE;
    for (u16 pid : pids)
        if (pid == absent)
            absent = 0x1FFD;
    const int absent_result = TS_ProgramSplitStream(unlisted.c_str(), input.c_str(), absent);
    Check(absent_result == 0, "an unlisted PID scans to the end");
    // Not listed by the last PAT, it may still be listed by an earlier one (or by the bytes of a
    // stream sent on PID 0): the model tells.
    if (!packets.empty())
        CheckAgainstModel(packets, unlisted, absent);

    // A recipe's programs, each PMT PID once, whether the last PAT lists it or not (of a crowd,
    // the first two and the last two, the shared one among them); a recording's first two listed
    // PIDs.
    if (pids.size() > 4)
        pids.erase(pids.begin() + 2, pids.end() - 2);
    if (pids.empty())
        for (u16 i = 0; i < list.u16Count && i < 2; ++i)
            pids.push_back(list.lu16PID[i]);
    for (u16 pid : pids)
        RunFilter(input, list, packets.empty() ? nullptr : &packets, pid, size);
    fuzzsupport::ClearScratch();
    return 0;
}
