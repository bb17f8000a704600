// Writes the seed corpus of every fuzz target into a folder, one subfolder per target, from the
// test stream builder and the start of the bundled sample.
//   make_seeds <output folder> [<sample.ts>]
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "stream_builder.h"

using namespace testsupport;

namespace {

std::string g_strRoot;

void Seed(const std::string &target, const std::string &name, const Bytes &bytes)
{
    const std::string folder = g_strRoot + "/" + target;
    mkdir(folder.c_str(), 0755);
    if (!WriteFile(folder + "/" + name, bytes))
        fprintf(stderr, "cannot write %s/%s\n", folder.c_str(), name.c_str());
}

Bytes Generate(const BroadcastSpec &mux)
{
    Bytes bytes;
    GenerateBroadcast(mux, [&](const Packet &packet, u16) { Append(&bytes, packet); });
    return bytes;
}

// The same packets as 192-byte units (a 4-byte timestamp before each) or 204-byte packets.
Bytes Widen(const Bytes &packets, size_t unit)
{
    Bytes out;
    for (size_t at = 0; at + 188 <= packets.size(); at += 188) {
        if (unit == 192)
            for (u8 b : {u8(at >> 24), u8(at >> 16), u8(at >> 8), u8(at)})
                out.push_back(b);
        out.insert(out.end(), packets.begin() + long(at), packets.begin() + long(at + 188));
        if (unit == 204)
            out.insert(out.end(), 16, 0x00);
    }
    return out;
}

BroadcastSpec SmallMultiplex(u64 packets)
{
    BroadcastSpec mux = SampleBroadcast(packets);
    mux.psi_interval = 60;
    return mux;
}

// One program behind a network entry whose PMT changes version half-way: the case the PMT
// split follows.
BroadcastSpec SingleProgram(u64 packets)
{
    BroadcastSpec mux;
    mux.programs = {{0x0400, 0x01F0, 0x0111, 0x0112, 0x0130, 0, 6, 1}};
    mux.emm_pid = 0x0901;
    mux.packet_count = packets;
    mux.psi_interval = 50;
    mux.pmt_change_at = packets / 2;
    return mux;
}

// Packet with an adaptation field of 183 bytes announcing every optional part.
Packet EveryAdaptationPart()
{
    Packet packet;
    packet.fill(0xFF);
    const u8 head[] = {0x47, 0x01, 0x11, 0x20,  // PID 0x0111, adaptation field only
                       183,                      // adaptation_field_length
                       0xFF,                     // every flag
                       0x12, 0x34, 0x56, 0x78, 0xFE, 0x01,  // PCR
                       0x12, 0x34, 0x56, 0x78, 0xFE, 0x02,  // OPCR
                       0xFD,                     // splice_countdown
                       0x03, 0xAA, 0xBB, 0xCC,   // transport_private_data
                       0x0C, 0xE0,               // extension length 12, ltw/piecewise/seamless
                       0x80, 0x10,               // ltw
                       0xC0, 0x00, 0x20,         // piecewise_rate
                       0x21, 0x00, 0x01, 0x00, 0x01,  // splice_type and DTS_next_AU
                       0x00};
    std::copy(std::begin(head), std::end(head), packet.begin());
    return packet;
}

void PacketSeeds(const Bytes &sample_head)
{
    PacketBuilder builder;
    Bytes one;
    const auto put = [&](const std::string &name, const Packet &packet) { Seed("fuzz_packet", name, Bytes(packet.begin(), packet.end())); };
    put("pat", builder.Section(0x0000, PATSection(0x7FE0, 0, {{0, 0x10}, {0x400, 0x1F0}}))[0]);
    put("pcr-payload", builder.PCR(0x0111, 0x123456789ULL, 299, true, 0x5A));
    put("pcr-only", builder.PCR(0x01FF, 0x1FFFFFFFFULL, 511, false));
    put("null", PacketBuilder::Null());
    put("pes-start", builder.Payload(0x0112, 0x11, true));
    put("every-part", EveryAdaptationPart());
    for (size_t i = 0; i < 4 && (i + 1) * 188 <= sample_head.size(); ++i)
        Seed("fuzz_packet", "sample-" + std::to_string(i), Bytes(sample_head.begin() + long(i * 188), sample_head.begin() + long((i + 1) * 188)));
}

// Section seeds: the first byte of each packet picks the buffer (low two bits: PAT, CAT, PMT,
// private), so PAT packets start 0x44, CAT 0x45, PMT 0x46 and private sections keep 0x47; with
// bits 3-4 on the last, SDT packets start 0x4F and NIT packets 0x57.
void SectionSeeds()
{
    PacketBuilder builder;
    const auto mark = [](std::vector<Packet> packets, u8 first) {
        for (Packet &packet : packets)
            packet[0] = first;
        return packets;
    };
    const Bytes pat = PATSection(0x7FE0, 3, {{0, 0x10}, {0x400, 0x1F0}, {0x401, 0x1F1}, {0x408, 0x1F8}});
    const Bytes cat = CATSection(1, CADescriptor(0x0005, 0x0901, {0x01}));
    Bytes stream_descriptors;
    for (int i = 0; i < 12; ++i)
        stream_descriptors = Concat({stream_descriptors, Descriptor(0x52, {u8(i)}), Descriptor(0x0A, {'j', 'p', 'n', 0})});
    const Bytes pmt = PMTSection(0x400, 2, 0x0111, Concat({CADescriptor(0x0005, 0x0130, {1, 2}), Descriptor(0xC1, {0x84, 0xFF})}),
                                 {{0x02, 0x0111, stream_descriptors}, {0x0F, 0x0112, Descriptor(0x03, {0x48})}, {0x06, 0x0114, {}}});
    const Bytes ecm = PrivateSection(0x82, 0x400, 0, Bytes(60, 0x21));
    Bytes emm_data = {0x00, 0x00, 0x00, 0x00, 0x01, 0x23};
    emm_data.resize(40, 0xEE);
    const Bytes emm = PrivateSection(0x84, 0x0001, 0, emm_data);

    Bytes all;
    Append(&all, mark(builder.Section(0x0000, pat), 0x44));
    Append(&all, mark(builder.Section(0x0001, cat), 0x45));
    Append(&all, mark(builder.Section(0x01F0, pmt), 0x46));
    Append(&all, mark(builder.Section(0x0130, ecm), 0x47));
    Append(&all, mark(builder.Section(0x0901, emm), 0x47));
    Seed("fuzz_sections", "tables", all);
    Seed("fuzz_sections", "pmt-two-packets", Flatten(mark(builder.Section(0x01F0, pmt), 0x46)));
    Seed("fuzz_sections", "pat", Flatten(mark(builder.Section(0x0000, pat), 0x44)));
    // Service information: an ISDB SDT in the Kanji set, a DVB one with a selector byte, a NIT.
    const Bytes isdb_sdt =
        SDTSection(0x42, 0x7FE0, 0x7FE0, 0,
                   {{0x400, Concat({ServiceDescriptor(0x01, Arib("ＮＨＫ"), Arib("ＮＨＫ総合")), Descriptor(0xC1, {0x84, 0xFF})})},
                    {0x401, ServiceDescriptor(0xC0, Arib("ＮＨＫ"), Arib("NHK ワンセグ"))}});
    const Bytes dvb_sdt = SDTSection(0x42, 0x1004, 0x233A, 3,
                                     {{0x1044, ServiceDescriptor(0x19, Text("BBC"), Text("BBC NEWS"))},
                                      {0x1045, ServiceDescriptor(0x01, Text("\x05TRT"), Text("\x05" "Ba\xFEka Kanal"))}},
                                     1, 2);
    const Bytes nit = NITSection(0x40, 0x7FE0, 0, Concat({Descriptor(0x40, Arib("見本ネットワーク")), Descriptor(0xFE, {0x03, 0x01})}),
                                 {{0x7FE0, 0x7FE0, Descriptor(0xCD, {0x01, 0x00})}, {0x7FE1, 0x7FE0, {}}});
    Seed("fuzz_sections", "sdt-isdb", Flatten(mark(builder.Section(0x0011, isdb_sdt), 0x4F)));
    Seed("fuzz_sections", "sdt-dvb", Flatten(mark(builder.Section(0x0011, dvb_sdt), 0x4F)));
    Seed("fuzz_sections", "nit", Flatten(mark(builder.Section(0x0010, nit), 0x57)));
    // A long private section over many packets.
    Seed("fuzz_sections", "private-long", Flatten(builder.Section(0x0130, PrivateSection(0x80, 1, 0, Bytes(1500, 0x3C)))));
}

void DescriptorSeeds()
{
    const std::vector<std::pair<std::string, Bytes>> kinds = {
        {"video", Descriptor(0x02, {0x9B, 0x48, 0x5F})},
        {"video-mpeg1", Descriptor(0x02, {0x1C})},
        {"audio", Descriptor(0x03, {0x48})},
        {"hierarchy", Descriptor(0x04, {0xF1, 0xC2, 0xC1, 0xC3})},
        {"registration", Descriptor(0x05, {'H', 'D', 'M', 'V', 0xFF, 0x1B})},
        {"alignment", Descriptor(0x06, {0x02})},
        {"grid", Descriptor(0x07, {0x78, 0x02, 0xD0, 0x03})},
        {"window", Descriptor(0x08, {0x00, 0x10, 0x00, 0x2F})},
        {"ca", CADescriptor(0x0005, 0x0130, {0x01, 0x02})},
        {"language", Descriptor(0x0A, {'j', 'p', 'n', 0x00, 'e', 'n', 'g', 0x03})},
        {"clock", Descriptor(0x0B, {0x85, 0x40})},
        {"multiplex", Descriptor(0x0C, {0x80, 0x10, 0x80, 0x20})},
        {"copyright", Descriptor(0x0D, {'C', 'P', 'R', 'T', 0x01})},
        {"bitrate", Descriptor(0x0E, {0xC0, 0x10, 0x00})},
        {"private-indicator", Descriptor(0x0F, {0x00, 0x00, 0x00, 0x01})},
        {"smoothing", Descriptor(0x10, {0xC0, 0x10, 0x00, 0xC0, 0x20, 0x00})},
        {"std", Descriptor(0x11, {0xFF})},
        {"ibp", Descriptor(0x12, {0xC0, 0x0F})},
        {"stream-id", Descriptor(0x52, {0x10})},
        {"copy-control", Descriptor(0xC1, {0x84, 0xFF})},
        {"long-raw", Descriptor(0xFD, Bytes(255, 0x33))},
        // What identifies a stream: DVB audio, subtitles and teletext, a metadata format, and
        // an ISDB caption component.
        {"ac3", Descriptor(0x6A, {0x80, 0x42})},
        {"eac3", Descriptor(0x7A, {0x80, 0xC4})},
        {"subtitling", Descriptor(0x59, {'f', 'r', 'a', 0x20, 0x00, 0x01, 0x00, 0x02})},
        {"teletext", Descriptor(0x56, {'f', 'r', 'a', 0x09, 0x00, 'd', 'e', 'u', 0x10, 0x88})},
        {"metadata", Descriptor(0x26, {0xFF, 0xFF, 'I', 'D', '3', ' ', 0xFF, 'I', 'D', '3', ' ', 0x00, 0x0F})},
        {"arib-captions", Concat({Descriptor(0x52, {0x38}), Descriptor(0xFD, {0x00, 0x08, 0x3D})})},
    };
    Bytes loop;
    for (const auto &[name, bytes] : kinds) {
        Seed("fuzz_descriptor", name, bytes);
        loop = Concat({loop, bytes});
    }
    Seed("fuzz_descriptor", "loop", loop);
}

// SI texts for fuzz_text: the first byte chooses the family (0 DVB, 1 ARIB), the text follows.
void TextSeeds()
{
    const auto text = [](u8 family, const std::string &field) {
        Bytes bytes = {family};
        bytes.insert(bytes.end(), field.begin(), field.end());
        return bytes;
    };
    Seed("fuzz_text", "dvb-latin", text(0, "Caf\xC2" "e \x86" "BBC\x87 10\xA4\x8A\xC8" "b"));
    Seed("fuzz_text", "dvb-8859-5", text(0, "\x01\xBC\xDE\xE1\xDA\xD2\xD0"));
    Seed("fuzz_text", "dvb-8859-2", text(0, std::string("\x10\x00\x02\xA3\xF3" "d\xBC", 7)));
    Seed("fuzz_text", "dvb-ucs2", text(0, std::string("\x11\x00" "A\x30\x42\xE0\x8A\xD8\x3D\xDE\x00", 11)));
    Seed("fuzz_text", "dvb-euc-kr", text(0, "\x12\xC7\xD1\xB1\xB9 KBS"));
    Seed("fuzz_text", "dvb-gb2312", text(0, "\x13\xD6\xD0\xB9\xFA"));
    Seed("fuzz_text", "dvb-big5-subset", text(0, std::string("\x14\x83\xEF\x89\x96\x00\x43\x00\x54\x00\x53", 11)));
    Seed("fuzz_text", "dvb-utf8", text(0, "\x15\xC3\x96" "1 \xEE\x82\x8A\xE2\x82"));
    Seed("fuzz_text", "arib-kanji", text(1, "\x23\x4E\x23\x48\x23\x4B\x41\x6D\x39\x67\x23\x31\x21\x26\x45\x6C\x35\x7E"));
    Seed("fuzz_text", "arib-sizes", text(1, "\x0E\x89" "BS\x8A\x0F\x46\x7C\x1B\x7C\xC6\xEC\x89\xAC\x7A\x50"));
    Seed("fuzz_text", "arib-designations",
         text(1, "\x1B\x24\x29\x42\x0E\x41\x6D\x1B\x29\x49\x36\x5E\x1B\x24\x3A\x21\x21\x1B\x24\x3B\x76\x46"
                 "\x1B\x24\x39\x24\x77\x19\x24\x1D\x24\x1B\x6E\x24\x1B\x7D\xA4"));
    Seed("fuzz_text", "arib-controls",
         text(1, "\x90\x20\x41\x92\x51\x9B\x31\x3B\x32\x20\x53\x95\x40\x41\x95\x4F\x9D\x20\x41\x1C\x41\x42\x0D"
                 "\x1B\x28\x20\x41\x21\x1B\x40\xFF"));
    Seed("fuzz_text", "arib-macro-repeat",
         text(1, "\x95\x41\x21\x1B\x28\x4A\x41\x98\x7F\x42\x95\x4F\x89\x1B\x29\x49\x0E\x98\x7F\x36\x98\x40\x20"));
}

// Sections for fuzz_si_tables: a first byte choosing the decoder (low two bits: EIT, TDT, TOT,
// descriptor loop) and the family (bit 2: ARIB), then the section.
void SiTableSeeds()
{
    const auto seed = [](const std::string &name, u8 choice, const Bytes &section) {
        Seed("fuzz_si_tables", name, Concat({{choice}, section}));
    };
    const Bytes dvb_events = Concat({ShortEventDescriptor("eng", Text("BBC News"), Text("Headlines\x8A" "and weather")),
                                     ContentDescriptor({{0x20, 0x00}, {0x21, 0x00}}),
                                     Descriptor(0x50, {0x05, 0x0B, 0x01, 'e', 'n', 'g', 'H', 'D'}),
                                     Descriptor(0x55, {'G', 'B', 'R', 0x09})});
    const Bytes dvb_extended = Concat({ExtendedEventDescriptor(1, 1, "eng", {{Text("Cast"), Text("A. Smith")}}, Text("of two")),
                                       ExtendedEventDescriptor(0, 1, "eng", {{Text("Director"), Text("Jane Doe")}}, Text("Part one "))});
    seed("eit-dvb-pf", 0x00,
         EITSection({0x4E, 0x1044, 0x1004, 0x233A, 5, 0, 1, 1, 0x4E},
                    {{0x1A2B, SiTimeField(2024, 3, 11, 20, 0, 0), SiDurationField(0, 30, 0), dvb_events},
                     {0x1A2C, SiTimeField(2024, 3, 11, 20, 30, 0), SiDurationField(1, 0, 0), dvb_extended, 1}}));
    Bytes split = Arib("前半の文後半の文");
    const Bytes split_tail(split.begin() + 9, split.end());
    split.resize(9);
    const Bytes isdb_events = Concat({ShortEventDescriptor("jpn", Arib("夜のニュース"), Concat({Arib("全国の天気"), {0x0D}, Arib("NHK明日は晴れ")})),
                                      ContentDescriptor({{0x01, 0xFF}, {0x08, 0xFF}}),
                                      Descriptor(0xC4, Concat({{0xF2, 0x03, 0x10, 0x0F, 0xFF, 0xFF, 'j', 'p', 'n', 'e', 'n', 'g'}, Arib("二か国語")})),
                                      Descriptor(0xD6, {0x41, 0x04, 0x01, 0x01, 0x01, 0x7F, 0xE1, 0x7F, 0xE1, 0x04, 0x08, 0x02, 0x02})});
    const Bytes isdb_extended = Concat({ExtendedEventDescriptor(0, 1, "jpn", {{Arib("番組内容"), split}}, {}),
                                        ExtendedEventDescriptor(1, 1, "jpn", {{{}, split_tail}, {Arib("出演者"), Arib("山田太郎")}}, {})});
    seed("eit-isdb-pf", 0x04,
         EITSection({0x4E, 0x0400, 0x7FE0, 0x7FE0, 2, 0, 1, 1, 0x4E},
                    {{0x0101, SiTimeField(2019, 6, 12, 21, 0, 0), SiDurationField(1, 0, 0), isdb_events},
                     {0x0102, kUndefinedSiTime, 0xFFFFFF, isdb_extended, 1}}));
    seed("eit-schedule", 0x08 | 0x04,
         EITSection({0x58, 0x0400, 0x7FE0, 0x7FE0, 3, 8, 0x18, 8, 0x58},
                    {{0x0110, SiTimeField(2019, 6, 13, 6, 0, 0), SiDurationField(0, 15, 0), isdb_extended, 0}}));
    seed("tdt", 0x01, TDTSection(0xC079124500));
    const Bytes offsets = Concat({LocalTimeOffsetEntry("GBR", 0, false, 0x0000, SiTimeField(2024, 3, 31, 1, 0, 0), 0x0100),
                                  LocalTimeOffsetEntry("BRA", 1, true, 0x0300, SiTimeField(2024, 2, 1, 0, 0, 0), 0x0200)});
    seed("tot-dvb", 0x02, TOTSection(SiTimeField(2024, 3, 31, 0, 59, 58), Descriptor(0x58, offsets)));
    seed("tot-isdb", 0x06, TOTSection(SiTimeField(2019, 6, 12, 21, 0, 0),
                                      Descriptor(0x58, LocalTimeOffsetEntry("JPN", 0, false, 0, kUndefinedSiTime, 0))));
    seed("loop", 0x07, Concat({isdb_events, isdb_extended, Descriptor(0x58, offsets)}));
}

// The chunked loop takes two seed bytes after the stream.
Bytes WithChunkSeed(Bytes stream, u16 seed)
{
    stream.push_back(u8(seed >> 8));
    stream.push_back(u8(seed));
    return stream;
}

void StreamSeeds(const Bytes &sample_head)
{
    const Bytes mux = Generate(SmallMultiplex(240));
    const Bytes single = Generate(SingleProgram(240));
    Bytes garbled = mux;
    for (size_t at = 5000; at + 7 < garbled.size(); at += 9001)
        garbled.insert(garbled.begin() + long(at), {0x47, 0x00, 0x47, 0x12, 0x47});
    for (const std::string target : {"fuzz_filter", "fuzz_drivers"}) {
        Seed(target, "multiplex", mux);
        Seed(target, "single-program", single);
        Seed(target, "units-192", Widen(Generate(SmallMultiplex(120)), 192));
        Seed(target, "units-204", Widen(Generate(SingleProgram(120)), 204));
        Seed(target, "garbled", garbled);
        if (!sample_head.empty())
            Seed(target, "sample-head", sample_head);
    }
    Seed("fuzz_chunks", "multiplex-small-chunks", WithChunkSeed(Generate(SmallMultiplex(120)), 0x0003));
    Seed("fuzz_chunks", "multiplex-large-chunks", WithChunkSeed(Generate(SmallMultiplex(120)), 0xF00D));
    Seed("fuzz_chunks", "units-192", WithChunkSeed(Widen(Generate(SmallMultiplex(100)), 192), 0x1234));
    Seed("fuzz_chunks", "units-204", WithChunkSeed(Widen(Generate(SingleProgram(100)), 204), 0x8765));
    Seed("fuzz_chunks", "garbled", WithChunkSeed(garbled, 0x4242));
}

// Recipes for fuzz_filter (the format is described at the top of fuzz/fuzz_filter.cpp): a
// first byte with the top bit set, a header of programs, then one operation per byte.
void FilterRecipeSeeds()
{
    const std::vector<std::pair<std::string, Bytes>> recipes = {
        // One program whose PCR rides on its PMT PID 0x01F0 (video 0x0111, audio 0x0112, a
        // network entry), cycles of the multiplex with PCR, video, audio, SI and null packets
        // between, and a PMT change.
        {"recipe-pcr-on-pmt-pid", {0x80, 0x04, 0x00, 0x01, 0x61,
                                   0x0F, 0x45, 0x46, 0x07, 0x48, 0x0B, 0x0F, 0x45, 0x06, 0x06, 0x0A, 0x1A,
                                   0x1F, 0x45, 0x86, 0x48, 0x2A, 0x3B, 0x1F, 0x05, 0x46, 0x07, 0x0F}},
        // Three programs: the first scrambled (ECM 0x0130), the second with a PCR PID of its own
        // whose next PMT moves the PCR onto the PMT PID, the third with PMT sections over two
        // packets on PID 0x1FCA whose next version adds a stream on the PMT PID.
        {"recipe-three-programs", {0x80, 0x06, 0x60, 0x00, 0x05, 0x01, 0x05, 0x01, 0x02, 0x00, 0xA3,
                                   0x0F, 0x09, 0x46, 0x56, 0x66, 0x48, 0x58, 0x4B, 0x0F, 0x19, 0x2A,
                                   0x1F, 0x09, 0x15, 0x25, 0x86, 0x96, 0xA6, 0x1F, 0x4A, 0x1F}},
        // Two programs sharing the PMT PID 0x01F0; their sections packed back to back, behind an
        // adaptation field with a PCR, and at an offset inside the packet, with video and null
        // packets between the packets of a section.
        {"recipe-shared-pmt-pid", {0x80, 0x01, 0x00, 0x00, 0xC0, 0x04, 0x00, 0x00,
                                   0x01, 0x82, 0x05, 0x00, 0x46, 0x56, 0x92, 0x06, 0x09, 0x06,
                                   0x82, 0x04, 0xE8, 0x64, 0x16, 0x0B, 0x01, 0x82, 0x07, 0x00, 0x30, 0x46, 0x0F}},
        // Faults on the PMT PID of a program whose PCR is on the video PID and whose PMT spans
        // two packets: a bad CRC_32, a continuity jump, a stray continuation packet, the PMT of a
        // program missing from the PAT, a section cut after its first packet; then a PAT without
        // the program.
        {"recipe-faults", {0x80, 0x00, 0x00, 0x00, 0xA0,
                           0x0F, 0x82, 0x80, 0x00, 0x46, 0x0C, 0x02, 0x0D, 0x0E, 0x82, 0xF0, 0x00,
                           0x0F, 0x82, 0xD0, 0x00, 0x07, 0x02, 0x10, 0x46, 0x0F}},
        // A crowd of twenty programs behind the network entry; the last two, past the sixteenth
        // entry, share PMT PID 0x0202. Their sections start in the last byte and the last two
        // bytes of a packet, each with its own video and the other's between its packets.
        {"recipe-crowd-shared-cut-headers", {0x80, 0x75, 0x00, 0x00, 0x00, 0x60, 0x00, 0x00,
                                             0x0F, 0xB2, 0x01, 0x38, 0xA2, 0x02, 0x38, 0x76, 0x66, 0xB2, 0x02, 0x38,
                                             0x0F, 0xA2, 0x01, 0x38, 0x1F}},
        // Long PMT sections (1000 bytes of descriptors) in packets with stuffing in every
        // adaptation field, the PCR on the PMT PID.
        {"recipe-long-sections", {0x80, 0x04, 0x00, 0x02, 0xE0,
                                  0x01, 0x82, 0x00, 0x03, 0x45, 0x46, 0x82, 0x00, 0xFF, 0x07, 0x82, 0x00, 0x01, 0x0F}},
    };
    for (const auto &[name, bytes] : recipes)
        Seed("fuzz_filter", name, bytes);
}

}  // namespace

// Collector seeds: the packets of one PID, sections packed back to back the way SI tables come
// (several in a packet, some ending where the next starts, a header cut by a packet end), a
// repeated packet, a counter that jumps, and a section spread over many packets.
void CollectorSeeds()
{
    PacketBuilder builder;
    std::vector<Bytes> sections;
    for (size_t size : {20, 300, 9, 181, 60, 4, 150})
        sections.push_back(LongSection(0x4E, u16(0x400 + size), 0, Bytes(size, u8(size))));
    std::vector<Packet> packed = builder.Packed(0x0012, sections);
    Seed("fuzz_collector", "packed", Flatten(packed));
    std::vector<Packet> faults = packed;
    faults.insert(faults.begin() + 2, faults[1]);                  // a duplicate
    faults[4][3] = u8((faults[4][3] & 0xF0) | ((faults[4][3] + 3) & 0x0F));  // a jump
    Seed("fuzz_collector", "faults", Flatten(faults));
    Seed("fuzz_collector", "long", Flatten(builder.Section(0x0030, PrivateSection(0x80, 1, 0, Bytes(4000, 0x3C)))));
    const Bytes tdt = {0x70, 0x70, 0x05, 0xE4, 0x5B, 0x12, 0x34, 0x56};
    Seed("fuzz_collector", "short-form", Flatten(builder.Packed(0x0014, {tdt, tdt, tdt})));
}

// A PMT of program 0x0101 whose streams say what they are (HEVC video, AC-3 and E-AC-3 audio in
// French, DVB subtitles, teletext) and an ECM, alone, packed behind another program's, and in two
// packets: the selection byte, the program byte, then the section or its packets.
void StreamSelectionSeeds()
{
    const auto language = [](const char *code) { return Bytes{u8(code[0]), u8(code[1]), u8(code[2]), 0x00}; };
    const Bytes pmt = PMTSection(
        0x0101, 2, 0x0101, Concat({CADescriptor(0x0B00, 0x0109), Descriptor(0xFF, Bytes(40, 0x5A))}),
        {{0x24, 0x0101, {}},
         {0x06, 0x0102, Concat({Descriptor(0x0A, language("fra")), Descriptor(0x6A, {0x80, 0x42})})},
         {0x06, 0x0103, Concat({Descriptor(0x0A, language("eng")), Descriptor(0x7A, {0x00})})},
         {0x06, 0x0104, Descriptor(0x59, Concat({language("fra"), {0x00, 0x01, 0x00, 0x01}}))},
         {0x06, 0x0105, Descriptor(0x56, {'f', 'r', 'a', 0x09, 0x00})},
         {0x06, 0x0106, {}}});
    const Bytes other = PMTSection(0x0300, 1, 0x0301, {}, {{0x1B, 0x0301, Bytes(120, 0x11)}});
    PacketBuilder builder;
    Seed("fuzz_stream_selection", "section", Concat({{2, 0x01}, pmt}));
    Seed("fuzz_stream_selection", "packed-run", Concat({{1, 0x01}, Flatten(builder.Packed(0x01F0, {other, pmt}))}));
    Seed("fuzz_stream_selection", "two-sections",
         Concat({{3, 0x01}, Flatten(builder.Section(0x01F0, pmt)), Flatten(builder.Section(0x01F0, pmt))}));
}

int main(int argc, char **argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: make_seeds <output folder> [<sample.ts>]\n");
        return 2;
    }
    g_strRoot = argv[1];
    mkdir(g_strRoot.c_str(), 0755);
    Bytes sample_head;
    if (argc > 2) {
        sample_head = ReadBytes(argv[2]);
        // The first 200 packets: the PSI of every program and some of each stream.
        if (sample_head.size() > 200 * 188)
            sample_head.resize(200 * 188);
    }
    PacketSeeds(sample_head);
    SectionSeeds();
    DescriptorSeeds();
    TextSeeds();
    SiTableSeeds();
    StreamSeeds(sample_head);
    FilterRecipeSeeds();
    CollectorSeeds();
    StreamSelectionSeeds();
    return 0;
}
