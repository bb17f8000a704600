// Test-only stream builder: PSI sections, packets and whole broadcast-like multiplexes whose
// contents are known, so that tests can compute what the tools must print and write.
#ifndef PIDSIFT_TESTS_SUPPORT_STREAM_BUILDER_H
#define PIDSIFT_TESTS_SUPPORT_STREAM_BUILDER_H

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <pidsift/ts.h>

namespace testsupport {

using Bytes = std::vector<u8>;
using Packet = std::array<u8, 188>;

// CRC-32/MPEG-2 computed bit by bit, independent of the library's table.
u32 Crc32Mpeg2(const u8 *data, size_t length);

// ---- Sections (complete, CRC_32 appended) ----------------------------------------------------

struct PATEntry {
    u16 program_number;
    u16 pid;
};
Bytes PATSection(u16 transport_stream_id, u8 version, const std::vector<PATEntry> &entries);

struct PMTStreamSpec {
    u8 stream_type;
    u16 pid;
    Bytes descriptors;  // the ES_info descriptor loop, raw
};
Bytes PMTSection(u16 program_number, u8 version, u16 pcr_pid, const Bytes &program_descriptors,
                 const std::vector<PMTStreamSpec> &streams);

Bytes CATSection(u8 version, const Bytes &descriptors);

// A long-form private section (section_syntax_indicator 1), as ECM and EMM sections are sent.
Bytes PrivateSection(u8 table_id, u16 table_id_extension, u8 version, const Bytes &data);

// A section of any table with the long-form header: table_id, section_syntax_indicator 1,
// table_id_extension, version, body, CRC_32 (SDT, EIT, NIT in tests).
Bytes LongSection(u8 table_id, u16 table_id_extension, u8 version, const Bytes &body);

// A reassembly buffer holding bytes as one complete section, as the importer leaves it.
std::unique_ptr<TS_PreSection> MakePreSection(const Bytes &bytes);
// Fills section with bytes as one complete section.
void LoadSection(TS_PreSection *section, const Bytes &bytes);
// bytes with their CRC_32 appended, computed by the library's GetCRC32.
Bytes Sealed(Bytes bytes);

// ---- Service information (SDT, NIT) -----------------------------------------------------------

// A name in the ARIB STD-B24 coding of ISDB broadcasts, from UTF-8: characters of JIS X 0208
// (kanji, kana, full-width letters) in the Kanji set, which the text starts in, printable ASCII
// in the alphanumeric set shifted in with LS1 in middle size (MSZ, half-width), and NSZ and LS0
// back before the next kanji. Coded through
// the C library's EUC-JP converter, apart from the library's decoder.
Bytes Arib(const std::string &utf8);
// A string's bytes as they stand (DVB names in the default table, or behind a selector byte).
Bytes Text(const std::string &text);

// A service descriptor (tag 0x48): service_type, the provider's name and the service's name.
Bytes ServiceDescriptor(u8 service_type, const Bytes &provider, const Bytes &name);

struct ServiceSpec {
    u16 service_id;
    Bytes descriptors;      // the descriptor loop, raw: a ServiceDescriptor and any others
    u8 running_status = 4;  // running
    bool free_ca = false;
    bool eit_schedule = false;
    bool eit_present_following = true;
};

// An SDT section (table_id 0x42 or 0x46) of the services given.
Bytes SDTSection(u8 table_id, u16 transport_stream_id, u16 original_network_id, u8 version,
                 const std::vector<ServiceSpec> &services, u8 section_number = 0, u8 last_section_number = 0);

struct NITStreamSpec {
    u16 transport_stream_id;
    u16 original_network_id;
    Bytes descriptors;
};
// A NIT section (table_id 0x40 or 0x41).
Bytes NITSection(u8 table_id, u16 network_id, u8 version, const Bytes &network_descriptors,
                 const std::vector<NITStreamSpec> &streams, u8 section_number = 0, u8 last_section_number = 0);

// ---- Programme guide and clock (EIT, TDT, TOT) ------------------------------------------------

// A 40-bit time field (start_time, UTC_time, time_of_change): the MJD of the date by the formula
// of EN 300 468 Annex C (1900-03-01 to 2100-02-28), then hours, minutes and seconds in BCD.
u64 SiTimeField(int year, int month, int day, int hour, int minute, int second);
constexpr u64 kUndefinedSiTime = 0xFFFFFFFFFFull;
// A 24-bit duration field: hours, minutes and seconds in BCD.
u32 SiDurationField(int hours, int minutes, int seconds);

struct EventSpec {
    u16 event_id;
    u64 start_time;  // as SiTimeField gives it, or any 40 bits
    u32 duration;    // as SiDurationField gives it, or any 24 bits
    Bytes descriptors;
    u8 running_status = 4;  // running
    bool free_ca = false;
};

struct EITSpec {
    u8 table_id = 0x4E;
    u16 service_id = 0;
    u16 transport_stream_id = 0;
    u16 original_network_id = 0;
    u8 version = 0;
    u8 section_number = 0;
    u8 last_section_number = 0;
    u8 segment_last_section_number = 0;
    u8 last_table_id = 0x4E;
};
// An EIT section (EN 300 468 5.2.4) of the events given.
Bytes EITSection(const EITSpec &table, const std::vector<EventSpec> &events);

// A TDT section: its eight bytes, no CRC_32.
Bytes TDTSection(u64 utc_time);
// A TOT section: the time, the descriptor loop, the CRC_32.
Bytes TOTSection(u64 utc_time, const Bytes &descriptors);

// Event descriptors (EN 300 468 6.2). language: three letters.
Bytes ShortEventDescriptor(const std::string &language, const Bytes &name, const Bytes &text);
struct ExtendedItem {
    Bytes description;
    Bytes item;
};
Bytes ExtendedEventDescriptor(u8 number, u8 last_number, const std::string &language,
                              const std::vector<ExtendedItem> &items, const Bytes &text);
// Genres as (content_nibble_level_1 << 4 | level_2, user byte) pairs.
Bytes ContentDescriptor(const std::vector<std::pair<u8, u8>> &genres);
// One entry of a local time offset descriptor (tag 0x58), to be concatenated with others.
Bytes LocalTimeOffsetEntry(const std::string &country, u8 region, bool negative, u16 offset_bcd, u64 time_of_change,
                           u16 next_offset_bcd);

// ---- Descriptors ----------------------------------------------------------------------------

Bytes Descriptor(u8 tag, const Bytes &body);
Bytes CADescriptor(u16 ca_system_id, u16 ca_pid, const Bytes &private_data = {});
Bytes Concat(const std::vector<Bytes> &parts);

// ---- Packets --------------------------------------------------------------------------------

// Builds packets with a continuity_counter per PID.
class PacketBuilder {
public:
    // Packets carrying one section from its first byte: payload_unit_start_indicator on the
    // first, pointer_field 0, 0xFF stuffing after the section.
    std::vector<Packet> Section(u16 pid, const Bytes &section);
    // Packets carrying sections back to back, as multiplexers pack SI tables: each packet in
    // which a section starts has payload_unit_start_indicator and a pointer_field to the first
    // such start, the bytes before it ending the section before; 0xFF stuffing follows the last.
    std::vector<Packet> Packed(u16 pid, const std::vector<Bytes> &sections);
    // The same with the section's first head bytes in the last bytes of the first packet (its
    // pointer_field steps over stuffing), so that a header of fewer than head bytes is cut by the
    // packet end; the rest follows in as many packets as it needs.
    std::vector<Packet> SectionAtPacketEnd(u16 pid, const Bytes &section, size_t head);
    // A payload packet (PES data) of 184 bytes, filled from fill.
    Packet Payload(u16 pid, u8 fill, bool unit_start = false);
    // A packet with an adaptation field carrying a PCR and a shortened payload.
    Packet PCR(u16 pid, u64 base, u16 extension, bool with_payload, u8 fill = 0x00);
    // A null packet (PID 0x1FFF).
    static Packet Null();
    u8 NextCounter(u16 pid);

private:
    std::array<u8, 8192> m_counters{};
};

// ---- Broadcast-like multiplexes -------------------------------------------------------------

struct ProgramSpec {
    u16 program_number;
    u16 pmt_pid;
    u16 video_pid;
    u16 audio_pid;
    u16 ecm_pid = 0;            // 0: not scrambled
    u16 pcr_pid = 0;            // 0: the PCR rides on the video PID
    unsigned video_weight = 8;  // packets of video per cycle
    unsigned audio_weight = 1;
};

struct BroadcastSpec {
    u16 transport_stream_id = 0x7FE0;
    u16 network_pid = 0x0010;  // 0: no network entry in the PAT
    std::vector<ProgramSpec> programs;
    u16 emm_pid = 0;  // non-zero: a CAT names this EMM PID and EMM sections are sent on it
    u64 packet_count = 10000;
    u32 seed = 1;
    unsigned psi_interval = 400;      // packets between repetitions of PAT, CAT and PMTs
    unsigned null_weight = 2;         // null packets per cycle
    unsigned si_weight = 1;           // SDT/EIT packets per cycle
    u64 pmt_change_at = 0;            // from this packet on, every PMT has version 1 and one more stream
    u16 extra_stream_pid_offset = 3;  // the added stream is video_pid + this
    // The descriptors ISDB broadcasters put in every PMT (digital copy control, video decode
    // control, data component); a DVB-like multiplex has none of them.
    bool arib_descriptors = true;
    // Service information. With services, the SDT on 0x0011 lists them (without, it is a filler
    // section of the same size). With network_descriptors (a network name, ...), every other
    // PSI cycle sends a NIT on network_pid in place of the SDT, so that the packets of every
    // other PID stay where they are.
    u16 original_network_id = 0x7FE0;
    std::vector<ServiceSpec> services;
    Bytes network_descriptors;
    Bytes network_stream_descriptors;  // of this transport stream's entry in the NIT
    // The programme guide and the clock: in the slots of the filler EIT, the EIT
    // present/following of every program (service_id = program_number) packed back to back, and
    // a TOT now and then, on a clock that starts at 2019-06-12T20:59:35 (JST in ARIB coding) and
    // runs with the first program's PCR. The third program's event changes at 21:00:00. The
    // names are ARIB's with arib_descriptors, else in DVB's UTF-8 table.
    bool guide = false;
};

// The guide's clock: seconds of 2019-06-12 from its midnight (later days past 86400).
constexpr int kGuideStartSeconds = 20 * 3600 + 59 * 60 + 35;
// The EIT present/following actual (table_id 0x4E) of every program of mux at that second, as
// the guide sends it: two sections a program (the event on air and the next), service_id =
// program_number, the transport_stream_id and original_network_id of mux.
std::vector<Bytes> GuidePresentFollowing(const BroadcastSpec &mux, int seconds_of_day);
// The guide's TOT at that second, with a local time offset descriptor (JPN, +00:00).
Bytes GuideTOT(int seconds_of_day);

// Owner of a generated packet: the program_number it belongs to, or 0 for packets of no program
// (PAT, CAT, EMM, SI, null).
using PacketSink = std::function<void(const Packet &packet, u16 owner)>;

// Generates a multiplex: PAT, CAT and PMTs at the start and every psi_interval packets, then
// video (with PCR every few packets), audio, ECM, EMM, SI and null packets interleaved.
void GenerateBroadcast(const BroadcastSpec &mux, const PacketSink &sink);

// A typical three-program terrestrial multiplex with a network entry, one scrambled program
// with its ECM, a CAT with an EMM PID and a PMT change, as used by the sample and many tests;
// ISDB-like: ARIB descriptors in the PMTs, an SDT and a NIT whose names are coded as ARIB's.
BroadcastSpec SampleBroadcast(u64 packet_count);
// A DVB-like multiplex of many programs: program_number 0x0100 + n (n from 1), its PMT on
// 0x1000 + n, video (with the PCR) on 0x0200 + 4n and audio on 0x0201 + 4n, each named in the SDT
// "Ch NN" by the provider "Net"; the PSI every 400 packets.
BroadcastSpec LargeBroadcast(u16 program_count, u64 packet_count);
// A DVB-like multiplex of the programs given (transport_stream_id 0x0401, no ARIB descriptors),
// the PSI every 40 packets, SI and null packets between the programs.
BroadcastSpec DvbBroadcast(const std::vector<ProgramSpec> &programs, u64 packet_count);
// The sample's services and network name, as UTF-8.
extern const char *const kSampleProvider;
extern const char *const kSampleServiceNames[3];  // programs 1024, 1025, 1032
extern const char *const kSampleNetworkName;

// ---- Files ----------------------------------------------------------------------------------

Bytes Flatten(const std::vector<Packet> &packets);
void Append(Bytes *bytes, const Packet &packet);
void Append(Bytes *bytes, const std::vector<Packet> &packets);
bool WriteFile(const std::string &path, const Bytes &bytes);
Bytes ReadBytes(const std::string &path);

// A scratch directory for one test, removed with everything in it when the object dies.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return m_path; }
    std::string File(const std::string &name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// Runs a command line through the shell, with standard error captured. Returns the exit status.
struct CommandResult {
    int status;
    std::string out;
    std::string err;
};
CommandResult RunCommand(const std::string &command);
std::string PidsiftBinary();
std::string ToolBinary(const std::string &name);
std::string Quote(const std::string &text);

}  // namespace testsupport

#endif
