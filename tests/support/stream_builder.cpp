#include "stream_builder.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iconv.h>
#include <iterator>
#include <sys/wait.h>
#include <unistd.h>

#include "capture.h"

namespace testsupport {

u32 Crc32Mpeg2(const u8 *data, size_t length)
{
    u32 crc = 0xFFFFFFFF;
    for (size_t i = 0; i < length; ++i) {
        crc ^= u32(data[i]) << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80000000) ? (crc << 1) ^ 0x04C11DB7 : crc << 1;
    }
    return crc;
}

namespace {

// Appends tail (resize and copy: GCC 12 warns falsely about vector::insert at -O3).
void AppendBytes(Bytes *bytes, const Bytes &tail)
{
    const size_t at = bytes->size();
    bytes->resize(at + tail.size());
    if (!tail.empty())
        std::memcpy(bytes->data() + at, tail.data(), tail.size());
}

void PutCRC(Bytes *section)
{
    const u32 crc = Crc32Mpeg2(section->data(), section->size());
    section->push_back(u8(crc >> 24));
    section->push_back(u8(crc >> 16));
    section->push_back(u8(crc >> 8));
    section->push_back(u8(crc));
}

// table_id, section_syntax_indicator 1, '0', reserved 11, section_length (filled later),
// a 16-bit extension, reserved 11, version, current_next_indicator 1, section numbers 0.
Bytes LongHeader(u8 table_id, u16 extension, u8 version)
{
    return {table_id, 0xB0, 0x00, u8(extension >> 8), u8(extension), u8(0xC1 | ((version & 0x1F) << 1)), 0x00, 0x00};
}

// Sets section_length from the bytes so far plus the CRC_32 still to come, then appends it.
void Finish(Bytes *section)
{
    const size_t length = section->size() - 3 + 4;
    (*section)[1] = u8(((*section)[1] & 0xF0) | ((length >> 8) & 0x0F));
    (*section)[2] = u8(length);
    PutCRC(section);
}

}  // namespace

Bytes PATSection(u16 transport_stream_id, u8 version, const std::vector<PATEntry> &entries)
{
    Bytes section = LongHeader(0x00, transport_stream_id, version);
    for (const PATEntry &entry : entries) {
        section.push_back(u8(entry.program_number >> 8));
        section.push_back(u8(entry.program_number));
        section.push_back(u8(0xE0 | (entry.pid >> 8)));
        section.push_back(u8(entry.pid));
    }
    Finish(&section);
    return section;
}

Bytes PMTSection(u16 program_number, u8 version, u16 pcr_pid, const Bytes &program_descriptors,
                 const std::vector<PMTStreamSpec> &streams)
{
    Bytes section = LongHeader(0x02, program_number, version);
    section.push_back(u8(0xE0 | (pcr_pid >> 8)));
    section.push_back(u8(pcr_pid));
    section.push_back(u8(0xF0 | (program_descriptors.size() >> 8)));
    section.push_back(u8(program_descriptors.size()));
    AppendBytes(&section, program_descriptors);
    for (const PMTStreamSpec &stream : streams) {
        section.push_back(stream.stream_type);
        section.push_back(u8(0xE0 | (stream.pid >> 8)));
        section.push_back(u8(stream.pid));
        section.push_back(u8(0xF0 | (stream.descriptors.size() >> 8)));
        section.push_back(u8(stream.descriptors.size()));
        AppendBytes(&section, stream.descriptors);
    }
    Finish(&section);
    return section;
}

Bytes CATSection(u8 version, const Bytes &descriptors)
{
    Bytes section = LongHeader(0x01, 0xFFFF, version);
    AppendBytes(&section, descriptors);
    Finish(&section);
    return section;
}

Bytes PrivateSection(u8 table_id, u16 table_id_extension, u8 version, const Bytes &data)
{
    return LongSection(table_id, table_id_extension, version, data);
}

Bytes LongSection(u8 table_id, u16 table_id_extension, u8 version, const Bytes &body)
{
    Bytes section = LongHeader(table_id, table_id_extension, version);
    section[1] = 0xF0;  // private_indicator set, as ISDB and DVB SI sections carry it
    AppendBytes(&section, body);
    Finish(&section);
    return section;
}

Bytes Arib(const std::string &utf8)
{
    Bytes out;
    bool alphanumeric = false;  // G1 invoked into GL by LS1
    iconv_t to_euc = iconv_open("EUC-JP", "UTF-8");
    for (size_t i = 0; i < utf8.size();) {
        const unsigned char lead = (unsigned char)utf8[i];
        if (lead < 0x80) {
            if (!alphanumeric) {
                out.push_back(0x89);  // MSZ: half-width, as broadcasters send letters and digits
                out.push_back(0x0E);  // LS1
            }
            alphanumeric = true;
            out.push_back(lead);
            ++i;
            continue;
        }
        const size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        std::string character = utf8.substr(i, length);
        i += length;
        char euc[8];
        char *in = character.data();
        size_t in_left = character.size();
        char *at = euc;
        size_t out_left = sizeof euc;
        if (to_euc == (iconv_t)-1 || iconv(to_euc, &in, &in_left, &at, &out_left) == size_t(-1) || at - euc != 2)
            continue;  // not in JIS X 0208: left out
        if (alphanumeric) {
            out.push_back(0x8A);  // NSZ
            out.push_back(0x0F);  // LS0
        }
        alphanumeric = false;
        out.push_back(u8((unsigned char)euc[0] - 0x80));
        out.push_back(u8((unsigned char)euc[1] - 0x80));
    }
    if (to_euc != (iconv_t)-1)
        iconv_close(to_euc);
    return out;
}

Bytes Text(const std::string &text) { return Bytes(text.begin(), text.end()); }

Bytes ServiceDescriptor(u8 service_type, const Bytes &provider, const Bytes &name)
{
    Bytes body = {service_type, u8(provider.size())};
    AppendBytes(&body, provider);
    body.push_back(u8(name.size()));
    AppendBytes(&body, name);
    return Descriptor(0x48, body);
}

namespace {

void SetSectionNumbers(Bytes *section, u8 number, u8 last)
{
    (*section)[6] = number;
    (*section)[7] = last;
}

}  // namespace

Bytes SDTSection(u8 table_id, u16 transport_stream_id, u16 original_network_id, u8 version,
                 const std::vector<ServiceSpec> &services, u8 section_number, u8 last_section_number)
{
    Bytes section = LongHeader(table_id, transport_stream_id, version);
    section[1] = 0xF0;
    SetSectionNumbers(&section, section_number, last_section_number);
    AppendBytes(&section, {u8(original_network_id >> 8), u8(original_network_id), 0xFF});
    for (const ServiceSpec &service : services) {
        section.push_back(u8(service.service_id >> 8));
        section.push_back(u8(service.service_id));
        section.push_back(u8(0xFC | (service.eit_schedule ? 0x02 : 0) | (service.eit_present_following ? 0x01 : 0)));
        const size_t length = service.descriptors.size();
        section.push_back(u8((service.running_status << 5) | (service.free_ca ? 0x10 : 0) | ((length >> 8) & 0x0F)));
        section.push_back(u8(length));
        AppendBytes(&section, service.descriptors);
    }
    Finish(&section);
    return section;
}

Bytes NITSection(u8 table_id, u16 network_id, u8 version, const Bytes &network_descriptors,
                 const std::vector<NITStreamSpec> &streams, u8 section_number, u8 last_section_number)
{
    Bytes section = LongHeader(table_id, network_id, version);
    section[1] = 0xF0;
    SetSectionNumbers(&section, section_number, last_section_number);
    section.push_back(u8(0xF0 | ((network_descriptors.size() >> 8) & 0x0F)));
    section.push_back(u8(network_descriptors.size()));
    AppendBytes(&section, network_descriptors);
    Bytes loop;
    for (const NITStreamSpec &stream : streams) {
        AppendBytes(&loop, {u8(stream.transport_stream_id >> 8), u8(stream.transport_stream_id),
                            u8(stream.original_network_id >> 8), u8(stream.original_network_id),
                            u8(0xF0 | ((stream.descriptors.size() >> 8) & 0x0F)), u8(stream.descriptors.size())});
        AppendBytes(&loop, stream.descriptors);
    }
    section.push_back(u8(0xF0 | ((loop.size() >> 8) & 0x0F)));
    section.push_back(u8(loop.size()));
    AppendBytes(&section, loop);
    Finish(&section);
    return section;
}

u64 SiTimeField(int year, int month, int day, int hour, int minute, int second)
{
    // EN 300 468 Annex C: MJD = 14 956 + D + int((Y - L) x 365,25) + int((M + 1 + L x 12) x 30,6001),
    // Y counted from 1900, L = 1 for January and February.
    const int y = year - 1900;
    const int l = month == 1 || month == 2 ? 1 : 0;
    const u64 mjd = u64(14956 + day + int((y - l) * 365.25) + int((month + 1 + l * 12) * 30.6001));
    const auto bcd = [](int value) { return u64((value / 10) << 4 | (value % 10)); };
    return mjd << 24 | bcd(hour) << 16 | bcd(minute) << 8 | bcd(second);
}

u32 SiDurationField(int hours, int minutes, int seconds)
{
    const auto bcd = [](int value) { return u32((value / 10) << 4 | (value % 10)); };
    return bcd(hours) << 16 | bcd(minutes) << 8 | bcd(seconds);
}

namespace {

void AppendTime(Bytes *bytes, u64 time)
{
    for (int shift = 32; shift >= 0; shift -= 8)
        bytes->push_back(u8(time >> shift));
}

void AppendCode(Bytes *bytes, const std::string &letters)
{
    for (size_t i = 0; i < 3; ++i)
        bytes->push_back(i < letters.size() ? u8(letters[i]) : u8(' '));
}

}  // namespace

Bytes EITSection(const EITSpec &table, const std::vector<EventSpec> &events)
{
    Bytes section = LongHeader(table.table_id, table.service_id, table.version);
    section[1] = 0xF0;
    SetSectionNumbers(&section, table.section_number, table.last_section_number);
    AppendBytes(&section,
                {u8(table.transport_stream_id >> 8), u8(table.transport_stream_id), u8(table.original_network_id >> 8),
                 u8(table.original_network_id), table.segment_last_section_number, table.last_table_id});
    for (const EventSpec &event : events) {
        section.push_back(u8(event.event_id >> 8));
        section.push_back(u8(event.event_id));
        AppendTime(&section, event.start_time);
        AppendBytes(&section, {u8(event.duration >> 16), u8(event.duration >> 8), u8(event.duration)});
        const size_t length = event.descriptors.size();
        section.push_back(u8((event.running_status << 5) | (event.free_ca ? 0x10 : 0) | ((length >> 8) & 0x0F)));
        section.push_back(u8(length));
        AppendBytes(&section, event.descriptors);
    }
    Finish(&section);
    return section;
}

Bytes TDTSection(u64 utc_time)
{
    Bytes section = {0x70, 0x70, 0x05};
    AppendTime(&section, utc_time);
    return section;
}

Bytes TOTSection(u64 utc_time, const Bytes &descriptors)
{
    Bytes section = {0x73, 0x70, 0x00};
    AppendTime(&section, utc_time);
    section.push_back(u8(0xF0 | ((descriptors.size() >> 8) & 0x0F)));
    section.push_back(u8(descriptors.size()));
    AppendBytes(&section, descriptors);
    Finish(&section);
    return section;
}

Bytes ShortEventDescriptor(const std::string &language, const Bytes &name, const Bytes &text)
{
    Bytes body;
    AppendCode(&body, language);
    body.push_back(u8(name.size()));
    AppendBytes(&body, name);
    body.push_back(u8(text.size()));
    AppendBytes(&body, text);
    return Descriptor(0x4D, body);
}

Bytes ExtendedEventDescriptor(u8 number, u8 last_number, const std::string &language,
                              const std::vector<ExtendedItem> &items, const Bytes &text)
{
    Bytes body = {u8(number << 4 | (last_number & 0x0F))};
    AppendCode(&body, language);
    Bytes loop;
    for (const ExtendedItem &item : items) {
        loop.push_back(u8(item.description.size()));
        AppendBytes(&loop, item.description);
        loop.push_back(u8(item.item.size()));
        AppendBytes(&loop, item.item);
    }
    body.push_back(u8(loop.size()));
    AppendBytes(&body, loop);
    body.push_back(u8(text.size()));
    AppendBytes(&body, text);
    return Descriptor(0x4E, body);
}

Bytes ContentDescriptor(const std::vector<std::pair<u8, u8>> &genres)
{
    Bytes body;
    for (const auto &[nibbles, user] : genres)
        AppendBytes(&body, {nibbles, user});
    return Descriptor(0x54, body);
}

Bytes LocalTimeOffsetEntry(const std::string &country, u8 region, bool negative, u16 offset_bcd, u64 time_of_change,
                           u16 next_offset_bcd)
{
    Bytes entry;
    AppendCode(&entry, country);
    // country_region_id (6), reserved (1, set), local_time_offset_polarity (1).
    entry.push_back(u8(region << 2 | 0x02 | (negative ? 1 : 0)));
    AppendBytes(&entry, {u8(offset_bcd >> 8), u8(offset_bcd)});
    AppendTime(&entry, time_of_change);
    AppendBytes(&entry, {u8(next_offset_bcd >> 8), u8(next_offset_bcd)});
    return entry;
}

void LoadSection(TS_PreSection *section, const Bytes &bytes)
{
    TS_PreSection_Initialise(section);
    const size_t length = std::min(bytes.size(), sizeof section->lu8Section);
    if (length > 0)
        std::memcpy(section->lu8Section, bytes.data(), length);
    section->u16Length = section->u16Collected = u16(bytes.size());
}

std::unique_ptr<TS_PreSection> MakePreSection(const Bytes &bytes)
{
    auto section = std::make_unique<TS_PreSection>();
    LoadSection(section.get(), bytes);
    return section;
}

Bytes Sealed(Bytes bytes)
{
    const u32 crc = GetCRC32(0xFFFFFFFF, bytes.data(), bytes.size());
    AppendBytes(&bytes, {u8(crc >> 24), u8(crc >> 16), u8(crc >> 8), u8(crc)});
    return bytes;
}

Bytes Descriptor(u8 tag, const Bytes &body)
{
    Bytes descriptor = {tag, u8(body.size())};
    AppendBytes(&descriptor, body);
    return descriptor;
}

Bytes CADescriptor(u16 ca_system_id, u16 ca_pid, const Bytes &private_data)
{
    Bytes body = {u8(ca_system_id >> 8), u8(ca_system_id), u8(0xE0 | (ca_pid >> 8)), u8(ca_pid)};
    AppendBytes(&body, private_data);
    return Descriptor(0x09, body);
}

Bytes Concat(const std::vector<Bytes> &parts)
{
    Bytes all;
    for (const Bytes &part : parts)
        AppendBytes(&all, part);
    return all;
}

u8 PacketBuilder::NextCounter(u16 pid)
{
    const u8 counter = m_counters[pid & 0x1FFF];
    m_counters[pid & 0x1FFF] = (counter + 1) & 0x0F;
    return counter;
}

std::vector<Packet> PacketBuilder::Section(u16 pid, const Bytes &section)
{
    std::vector<Packet> packets;
    size_t offset = 0;
    bool first = true;
    while (offset < section.size() || first) {
        Packet packet;
        packet.fill(0xFF);
        packet[0] = 0x47;
        packet[1] = u8((first ? 0x40 : 0x00) | ((pid >> 8) & 0x1F));
        packet[2] = u8(pid);
        packet[3] = u8(0x10 | NextCounter(pid));
        size_t at = 4;
        if (first)
            packet[at++] = 0x00;  // pointer_field
        const size_t take = std::min(section.size() - offset, size_t(188 - at));
        std::memcpy(packet.data() + at, section.data() + offset, take);
        offset += take;
        first = false;
        packets.push_back(packet);
    }
    return packets;
}

std::vector<Packet> PacketBuilder::Packed(u16 pid, const std::vector<Bytes> &sections)
{
    Bytes stream;
    std::vector<size_t> starts;
    for (const Bytes &section : sections) {
        starts.push_back(stream.size());
        stream.insert(stream.end(), section.begin(), section.end());
    }
    std::vector<Packet> packets;
    size_t position = 0;
    while (position < stream.size()) {
        Packet packet;
        packet.fill(0xFF);
        packet[0] = 0x47;
        packet[2] = u8(pid);
        packet[3] = u8(0x10 | NextCounter(pid));
        const auto next = std::lower_bound(starts.begin(), starts.end(), position);
        const bool starting = next != starts.end() && *next - position < 183;
        packet[1] = u8((starting ? 0x40 : 0x00) | ((pid >> 8) & 0x1F));
        size_t at = 4;
        if (starting) {
            packet[at++] = u8(*next - position);
        } else if (next != starts.end() && *next - position == 183) {
            // The start would fall into the last payload byte, where no pointer_field can reach
            // it: an empty adaptation field moves it into the next packet.
            packet[3] = u8(0x30 | (packet[3] & 0x0F));
            packet[at++] = 0x00;
        }
        const size_t take = std::min(stream.size() - position, size_t(188 - at));
        std::memcpy(packet.data() + at, stream.data() + position, take);
        position += take;
        packets.push_back(packet);
    }
    return packets;
}

std::vector<Packet> PacketBuilder::SectionAtPacketEnd(u16 pid, const Bytes &section, size_t head)
{
    Packet first;
    first.fill(0xFF);
    first[0] = 0x47;
    first[1] = u8(0x40 | ((pid >> 8) & 0x1F));
    first[2] = u8(pid);
    first[3] = u8(0x10 | NextCounter(pid));
    first[4] = u8(183 - head);  // pointer_field
    std::memcpy(first.data() + 188 - head, section.data(), head);
    std::vector<Packet> packets = {first};
    for (size_t at = head; at < section.size(); at += 184) {
        Packet next;
        next.fill(0xFF);
        next[0] = 0x47;
        next[1] = u8((pid >> 8) & 0x1F);
        next[2] = u8(pid);
        next[3] = u8(0x10 | NextCounter(pid));
        std::memcpy(next.data() + 4, section.data() + at, std::min(section.size() - at, size_t(184)));
        packets.push_back(next);
    }
    return packets;
}

Packet PacketBuilder::Payload(u16 pid, u8 fill, bool unit_start)
{
    Packet packet;
    packet.fill(fill);
    packet[0] = 0x47;
    packet[1] = u8((unit_start ? 0x40 : 0x00) | ((pid >> 8) & 0x1F));
    packet[2] = u8(pid);
    packet[3] = u8(0x10 | NextCounter(pid));
    if (unit_start) {
        // A PES header start code prefix, so that the payload looks like the start of a PES packet.
        packet[4] = 0x00;
        packet[5] = 0x00;
        packet[6] = 0x01;
        packet[7] = 0xE0;
    }
    return packet;
}

Packet PacketBuilder::PCR(u16 pid, u64 base, u16 extension, bool with_payload, u8 fill)
{
    Packet packet;
    packet.fill(fill);
    packet[0] = 0x47;
    packet[1] = u8((pid >> 8) & 0x1F);
    packet[2] = u8(pid);
    packet[3] = u8((with_payload ? 0x30 : 0x20) | (with_payload ? NextCounter(pid) : m_counters[pid & 0x1FFF]));
    const u8 adaptation_field_length = with_payload ? 7 : 183;
    packet[4] = adaptation_field_length;
    packet[5] = 0x10;  // PCR_flag
    packet[6] = u8(base >> 25);
    packet[7] = u8(base >> 17);
    packet[8] = u8(base >> 9);
    packet[9] = u8(base >> 1);
    packet[10] = u8(((base & 1) << 7) | 0x7E | ((extension >> 8) & 1));
    packet[11] = u8(extension);
    if (!with_payload)
        std::memset(packet.data() + 12, 0xFF, 188 - 12);  // stuffing bytes
    return packet;
}

Packet PacketBuilder::Null()
{
    Packet packet;
    packet.fill(0xFF);
    packet[0] = 0x47;
    packet[1] = 0x1F;
    packet[2] = 0xFF;
    packet[3] = 0x10;
    return packet;
}

namespace {

// A small deterministic generator, so that streams are the same on every machine.
class Random {
public:
    explicit Random(u32 seed) : m_state(seed * 2654435761u + 1) {}
    u32 Next()
    {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 17;
        m_state ^= m_state << 5;
        return m_state;
    }

private:
    u32 m_state;
};

Bytes ProgramPMT(const ProgramSpec &program, bool changed, u16 extra_offset, bool arib)
{
    const u16 pcr_pid = program.pcr_pid != 0 ? program.pcr_pid : program.video_pid;
    Bytes program_descriptors;
    if (program.ecm_pid != 0)
        program_descriptors = CADescriptor(0x0005, program.ecm_pid, {0x01, 0x02});
    // Digital copy control, as ISDB broadcasters put in every PMT.
    if (arib)
        program_descriptors = Concat({program_descriptors, Descriptor(0xC1, {0x84, 0xFF})});
    std::vector<PMTStreamSpec> streams = {
        {0x02, program.video_pid, Concat({Descriptor(0x52, {0x00}), arib ? Descriptor(0xC8, {0x01}) : Bytes{}})},
        {0x0F, program.audio_pid,
         Concat({Descriptor(0x52, {0x10}),
                 Descriptor(0x0A, {u8(arib ? 'j' : 'e'), u8(arib ? 'p' : 'n'), u8(arib ? 'n' : 'g'), 0x00})})},
    };
    if (changed)
        streams.push_back({0x06, u16(program.video_pid + extra_offset),
                           arib ? Descriptor(0xFD, {0x00, 0x08}) : Descriptor(0x52, {0x30})});
    return PMTSection(program.program_number, changed ? 1 : 0, pcr_pid, program_descriptors, streams);
}

// The programme guide of a generated multiplex: per program a present and a following event. The
// third program's film ends at 21:00:00, when its news begins. The genres differ between the
// families: ARIB and DVB number the content nibbles each in their own way.
struct GuideEvent {
    u16 event_id;
    int hour, minute;
    int duration_minutes;
    const char *title;
    const char *text;
    u8 arib_genre;  // content_nibble_level_1 << 4 | level_2
    u8 dvb_genre;
};
constexpr GuideEvent kGuideEvents[3][3] = {
    {{0x1001, 20, 45, 30, "夜のニュース", "今日の出来事と天気", 0x00, 0x21},
     {0x1002, 21, 15, 60, "ドラマ「見本の町」", "第三話", 0x30, 0x15},
     {0x1003, 22, 15, 45, "スポーツ", "", 0x10, 0x40}},
    {{0x2001, 20, 0, 120, "映画「見本」", "字幕付き", 0x60, 0x10},
     {0x2002, 22, 0, 54, "音楽の時間", "", 0x40, 0x60},
     {0x2003, 22, 54, 6, "天気予報", "", 0x01, 0x21}},
    {{0x3001, 19, 0, 120, "アニメ映画", "", 0x70, 0x55},
     {0x3002, 21, 0, 30, "ニュース", "全国と地域のニュース", 0x00, 0x21},
     {0x3003, 21, 30, 60, "科学の番組", "", 0x80, 0x92}},
};

// A time of the guide's day, 2019-06-12, in seconds from its midnight; later days past 86400.
u64 GuideTime(int seconds)
{
    const time_t midnight = 1560297600;  // 2019-06-12T00:00:00, on the broadcast's clock
    const time_t at = midnight + seconds;
    std::tm date = {};
    gmtime_r(&at, &date);
    return SiTimeField(date.tm_year + 1900, date.tm_mon + 1, date.tm_mday, date.tm_hour, date.tm_min, date.tm_sec);
}

// A name in DVB's UTF-8 table (selector 0x15).
Bytes DvbUtf8(const std::string &text) { return Concat({{0x15}, Text(text)}); }

Bytes GuideEventLoop(const GuideEvent &event, bool arib)
{
    if (arib)
        return Concat({ShortEventDescriptor("jpn", Arib(event.title), Arib(event.text)),
                       ContentDescriptor({{event.arib_genre, 0xFF}})});
    // An empty text goes without a selector, which would choose a table for no characters.
    const std::string text = event.text;
    return Concat({ShortEventDescriptor("jpn", DvbUtf8(event.title), text.empty() ? Bytes{} : DvbUtf8(text)),
                   ContentDescriptor({{event.dvb_genre, 0x00}})});
}

}  // namespace

std::vector<Bytes> GuidePresentFollowing(const BroadcastSpec &mux, int seconds_of_day)
{
    std::vector<Bytes> sections;
    for (size_t p = 0; p < mux.programs.size(); ++p) {
        const GuideEvent(&events)[3] = kGuideEvents[p % 3];
        // The second pair once the first event has ended.
        const int first_end = (events[0].hour * 60 + events[0].minute + events[0].duration_minutes) * 60;
        const int on_air = seconds_of_day >= first_end ? 1 : 0;
        for (u8 number = 0; number < 2; ++number) {
            const GuideEvent &event = events[on_air + number];
            EITSpec table;
            table.service_id = mux.programs[p].program_number;
            table.transport_stream_id = mux.transport_stream_id;
            table.original_network_id = mux.original_network_id;
            table.version = u8(on_air);
            table.section_number = number;
            table.last_section_number = 1;
            table.segment_last_section_number = 1;
            sections.push_back(EITSection(
                table, {{u16(event.event_id + 0x10 * (p / 3)), GuideTime((event.hour * 60 + event.minute) * 60),
                         SiDurationField(event.duration_minutes / 60, event.duration_minutes % 60, 0),
                         GuideEventLoop(event, mux.arib_descriptors), u8(number == 0 ? 4 : 1)}}));
        }
    }
    return sections;
}

Bytes GuideTOT(int seconds_of_day)
{
    return TOTSection(GuideTime(seconds_of_day),
                      Descriptor(0x58, LocalTimeOffsetEntry("JPN", 0, false, 0x0000, kUndefinedSiTime, 0x0000)));
}

void GenerateBroadcast(const BroadcastSpec &mux, const PacketSink &sink)
{
    PacketBuilder builder;
    Random random(mux.seed);
    u64 emitted = 0;
    auto emit = [&](const Packet &packet, u16 owner) {
        if (emitted < mux.packet_count)
            sink(packet, owner);
        ++emitted;
    };

    std::vector<PATEntry> entries;
    if (mux.network_pid != 0)
        entries.push_back({0, mux.network_pid});
    for (const ProgramSpec &program : mux.programs)
        entries.push_back({program.program_number, program.pmt_pid});
    const Bytes pat = PATSection(mux.transport_stream_id, 0, entries);
    const Bytes cat = CATSection(0, mux.emm_pid != 0 ? CADescriptor(0x0005, mux.emm_pid) : Bytes{});
    const Bytes sdt = mux.services.empty()
                          ? LongSection(0x42, mux.transport_stream_id, 0, Bytes(120, 0x5A))
                          : SDTSection(0x42, mux.transport_stream_id, mux.original_network_id, 0, mux.services);
    const bool with_nit = !mux.network_descriptors.empty() && mux.network_pid != 0;
    const Bytes nit =
        with_nit ? NITSection(0x40, mux.original_network_id, 0, mux.network_descriptors,
                              {{mux.transport_stream_id, mux.original_network_id, mux.network_stream_descriptors}})
                 : Bytes{};
    unsigned si_cycle = 0;
    const Bytes eit = LongSection(0x4E, 0x0400, 0, Bytes(300, 0x3C));  // spans two packets
    std::vector<u64> pcr_clock(mux.programs.size(), 0);
    // With a guide, the slots of the filler carry the present/following sections packed back to
    // back, two packets a slot, and every eighth slot a TOT and a null packet instead.
    std::vector<Packet> guide_packets;
    size_t guide_next = 0;
    unsigned guide_slot = 0;
    auto clock_seconds = [&] {
        // The PCR's base counts 90 kHz.
        return kGuideStartSeconds + int((pcr_clock.empty() ? 0 : pcr_clock[0]) / 90000);
    };
    auto next_guide_packet = [&] {
        if (guide_next == guide_packets.size()) {
            guide_packets = builder.Packed(0x0012, GuidePresentFollowing(mux, clock_seconds()));
            guide_next = 0;
        }
        return guide_packets[guide_next++];
    };

    bool first_psi = true;
    u64 last_psi = 0;
    bool changed = false;  // the PMTs sent so far carry the extra stream
    unsigned ecm_cycle = 0;
    while (emitted < mux.packet_count) {
        if (first_psi || emitted - last_psi >= mux.psi_interval) {
            first_psi = false;
            last_psi = emitted;
            for (const Packet &packet : builder.Section(0x0000, pat))
                emit(packet, 0);
            for (const Packet &packet : builder.Section(0x0001, cat))
                emit(packet, 0);
            changed = mux.pmt_change_at != 0 && emitted >= mux.pmt_change_at;
            for (const ProgramSpec &program : mux.programs)
                for (const Packet &packet :
                     builder.Section(program.pmt_pid,
                                     ProgramPMT(program, changed, mux.extra_stream_pid_offset, mux.arib_descriptors)))
                    emit(packet, program.program_number);
            const bool nit_turn = with_nit && si_cycle++ % 2 == 1;
            for (const Packet &packet : nit_turn ? builder.Section(mux.network_pid, nit) : builder.Section(0x0011, sdt))
                emit(packet, 0);
            ++ecm_cycle;
        }
        for (size_t p = 0; p < mux.programs.size(); ++p) {
            const ProgramSpec &program = mux.programs[p];
            for (unsigned v = 0; v < program.video_weight; ++v) {
                // Every fourth video packet carries the PCR (about every 40 ms at real rates).
                pcr_clock[p] += 2700 + random.Next() % 16;
                const bool with_pcr = v % 4 == 0 && program.pcr_pid == 0;
                const u8 fill = u8(random.Next());
                emit(with_pcr ? builder.PCR(program.video_pid, pcr_clock[p], u16(random.Next() % 300), true, fill)
                              : builder.Payload(program.video_pid, fill, v == 0),
                     program.program_number);
            }
            if (program.pcr_pid != 0)
                emit(builder.PCR(program.pcr_pid, pcr_clock[p], 0, false), program.program_number);
            for (unsigned a = 0; a < program.audio_weight; ++a)
                emit(builder.Payload(program.audio_pid, u8(random.Next()), a == 0), program.program_number);
            if (changed)
                emit(builder.Payload(u16(program.video_pid + mux.extra_stream_pid_offset), 0x33),
                     program.program_number);
            if (program.ecm_pid != 0 && random.Next() % 8 == 0) {
                const Bytes ecm =
                    PrivateSection(0x82 + (ecm_cycle & 1), program.program_number, 0, Bytes(60, u8(ecm_cycle)));
                for (const Packet &packet : builder.Section(program.ecm_pid, ecm))
                    emit(packet, program.program_number);
            }
        }
        if (mux.emm_pid != 0 && random.Next() % 16 == 0) {
            Bytes emm_data = {0x00, 0x00, 0x00, 0x00, 0x01, u8(random.Next())};  // card ID
            emm_data.resize(40, 0xEE);
            for (const Packet &packet : builder.Section(mux.emm_pid, PrivateSection(0x84, 0x0001, 0, emm_data)))
                emit(packet, 0);
        }
        for (unsigned s = 0; s < mux.si_weight; ++s) {
            if (random.Next() % 4 != 0)
                continue;
            if (!mux.guide) {
                for (const Packet &packet : builder.Section(0x0012, eit))
                    emit(packet, 0);
            } else if (guide_slot++ % 8 == 0) {
                for (const Packet &packet : builder.Section(0x0014, GuideTOT(clock_seconds())))
                    emit(packet, 0);
                emit(PacketBuilder::Null(), 0);
            } else {
                emit(next_guide_packet(), 0);
                emit(next_guide_packet(), 0);
            }
        }
        for (unsigned n = 0; n < mux.null_weight; ++n)
            emit(PacketBuilder::Null(), 0);
    }
}

BroadcastSpec SampleBroadcast(u64 packet_count)
{
    BroadcastSpec mux;
    mux.transport_stream_id = 0x7FE0;
    mux.network_pid = 0x0010;
    mux.emm_pid = 0x0901;
    mux.packet_count = packet_count;
    mux.psi_interval = 40;
    mux.programs = {
        {0x0400, 0x01F0, 0x0111, 0x0112, 0, 0, 8, 1},
        {0x0401, 0x01F1, 0x0121, 0x0122, 0x0130, 0, 6, 1},
        {0x0408, 0x01F8, 0x0181, 0x0182, 0, 0x01FF, 4, 1},
    };
    mux.pmt_change_at = packet_count / 2;
    const Bytes provider = Arib(kSampleProvider);
    const u16 numbers[] = {0x0400, 0x0401, 0x0408};
    for (int i = 0; i < 3; ++i)
        mux.services.push_back({numbers[i], Concat({ServiceDescriptor(0x01, provider, Arib(kSampleServiceNames[i])),
                                                    Descriptor(0xC1, {0x84, 0xFF})})});
    mux.services[1].free_ca = true;
    mux.guide = true;
    // The network's name and system management; this stream's TS information.
    mux.network_descriptors = Concat({Descriptor(0x40, Arib(kSampleNetworkName)), Descriptor(0xFE, {0x03, 0x01})});
    mux.network_stream_descriptors = Descriptor(0xCD, {0x01, 0x00});
    return mux;
}

BroadcastSpec DvbBroadcast(const std::vector<ProgramSpec> &programs, u64 packet_count)
{
    BroadcastSpec mux;
    mux.transport_stream_id = 0x0401;
    mux.packet_count = packet_count;
    mux.psi_interval = 40;
    mux.arib_descriptors = false;
    mux.programs = programs;
    return mux;
}

BroadcastSpec LargeBroadcast(u16 program_count, u64 packet_count)
{
    BroadcastSpec mux;
    mux.packet_count = packet_count;
    mux.psi_interval = 400;
    mux.arib_descriptors = false;
    for (u16 n = 1; n <= program_count; ++n) {
        mux.programs.push_back(
            {u16(0x0100 + n), u16(0x1000 + n), u16(0x0200 + 4 * n), u16(0x0201 + 4 * n), 0, 0, 2, 1});
        const std::string name = (n < 10 ? "Ch 0" : "Ch ") + std::to_string(n);
        mux.services.push_back({u16(0x0100 + n), ServiceDescriptor(0x01, Text("Net"), Text(name))});
    }
    return mux;
}

const char *const kSampleProvider = "見本放送";
const char *const kSampleServiceNames[3] = {"見本テレビ１", "見本テレビ２", "見本HD"};
const char *const kSampleNetworkName = "見本ネットワーク";

Bytes Flatten(const std::vector<Packet> &packets)
{
    Bytes bytes;
    Append(&bytes, packets);
    return bytes;
}

void Append(Bytes *bytes, const Packet &packet) { bytes->insert(bytes->end(), packet.begin(), packet.end()); }

void Append(Bytes *bytes, const std::vector<Packet> &packets)
{
    for (const Packet &packet : packets)
        Append(bytes, packet);
}

bool WriteFile(const std::string &path, const Bytes &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
    return bool(out);
}

Bytes ReadBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TempDir::TempDir()
{
    char pattern[] = "/tmp/pidsift-test-XXXXXX";
    const char *made = mkdtemp(pattern);
    m_path = made != nullptr ? made : "/tmp";
}

TempDir::~TempDir()
{
    if (m_path != "/tmp")
        std::system(("chmod -R u+w " + Quote(m_path) + " 2>/dev/null; rm -rf " + Quote(m_path)).c_str());
}

std::string Quote(const std::string &text)
{
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

CommandResult RunCommand(const std::string &command)
{
    TempDir scratch;
    const std::string out_path = scratch.File("stdout");
    const std::string err_path = scratch.File("stderr");
    const int raw = std::system((command + " >" + Quote(out_path) + " 2>" + Quote(err_path) + " </dev/null").c_str());
    CommandResult result;
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    ReadFile(out_path, &result.out);
    ReadFile(err_path, &result.err);
    return result;
}

std::string ToolBinary(const std::string &name) { return std::string(PIDSIFT_BINARY_DIR) + "/" + name; }
std::string PidsiftBinary() { return ToolBinary("pidsift"); }

}  // namespace testsupport
