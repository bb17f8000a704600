// Transport-stream library of pidsift: MPEG-2 transport stream packets (ISO/IEC 13818-1),
// PSI section reassembly, PAT/PMT/CAT/private-section/PCR decoding, descriptors, a fixed
// one-line text dump of every structure, and the whole-stream drivers.
//
// Every operation returns an int: 0 for success, -1 when a required pointer is null (nothing
// done), and the further negative codes listed beside its prototype. Records are plain
// fixed-size structures with one member per syntax element, reserved bits included; decoders
// fill caller-owned records in place and never allocate.
//
// The drivers (TS_GetProgramList, TS_ProgramSplitStream, TS_Print, TS_Dump, TS_ProgramSplitFile,
// TS_CheckPMTSplit, TS_PMTSplitFile, TS_CheckFile) keep their state in the process-wide records
// declared at the end of this header: they are not re-entrant, and only one may run at a time.
#ifndef PIDSIFT_TRANSPORT_STREAM_TS_H
#define PIDSIFT_TRANSPORT_STREAM_TS_H

#include <cstddef>
#include <cstdint>

using u8 = std::uint8_t;
using u16 = std::uint16_t;
using u32 = std::uint32_t;
using u64 = std::uint64_t;
using i8 = std::int8_t;

constexpr u32 TS_PACKET_SIZE = 188;
constexpr u8 TS_SYNC_BYTE = 0x47;
constexpr u32 TS_SECTION_CAPACITY = 2928;  // 16 x 183 bytes
// g_lu8Buffer and the stream buffer are sized for chunks of 32 MiB, the most a caller of
// TS_AddStream may append at once. The drivers read far smaller blocks (TS_READ_BLOCK, private).
constexpr u32 TS_READ_CHUNK = 33554432;             // 32 MiB
constexpr u32 TS_STREAM_CAPACITY = 33554432 + 188;  // one chunk and one packet of carry-over
constexpr u16 TS_NO_PID = 0xFFFF;                   // no 13-bit PID takes this value

// Capacities of the records: what a table lists beyond them is dropped, never written past.
constexpr u16 TS_MAX_PROGRAMS = 16;       // PAT entries, program lists and per-program tables
constexpr u16 TS_MAX_STREAMS = 16;        // elementary streams of a PMT
constexpr u16 TS_MAX_DESCRIPTORS = 32;    // descriptors of one loop
constexpr u16 TS_MAX_LISTED_PIDS = 256;   // PIDs of the dump's PID list
constexpr u16 TS_MAX_PMT_SEGMENTS = 256;  // segments and files of the PMT-change split
// Services of one SDT section, and of a whole SDT gathered from its sections. A section holds at
// most about 40 services with their names (1,021 bytes), and a big satellite transponder lists
// 30 to 100 over all its sections: 128 leaves room. Services beyond are dropped.
constexpr u16 TS_MAX_SERVICES = 128;
constexpr u16 TS_MAX_TRANSPORT_STREAMS = 64;  // transport stream entries of one NIT section
constexpr u16 TS_MAX_NAME_BYTES = 255;        // a name in a descriptor's body: never cut by a record

// ---------------------------------------------------------------------------------------------
// Packet header and adaptation field
// ---------------------------------------------------------------------------------------------

struct TS_AdaptationField {
    u8 adaptation_field_length;
    u8 discontinuity_indicator;
    u8 random_access_indicator;
    u8 elementary_stream_priority_indicator;
    u8 PCR_flag;
    u8 OPCR_flag;
    u8 splicing_point_flag;
    u8 transport_private_data_flag;
    u8 adaptation_field_extension_flag;
    u64 program_clock_reference_base;
    u8 PCR_reserved;
    u16 program_clock_reference_extension;
    u64 original_program_clock_reference_base;
    u8 OPCR_reserved;
    u16 original_program_clock_reference_extension;
    i8 splice_countdown;
    u8 transport_private_data_length;
    u8 private_data_byte[188];
    u8 adaptation_field_extension_length;
    u8 ltw_flag;
    u8 piecewise_rate_flag;
    u8 seamless_splice_flag;
    u8 extension_reserved;  // the 5 reserved bits of the extension flags byte
    u8 ltw_valid_flag;
    u16 ltw_offset;
    u8 piecewise_reserved;
    u32 piecewise_rate;
    u8 splice_type;
    u64 DTS_next_AU;
    u8 marker_bit[3];
    u8 extension_reserved_length;
    u8 extension_reserved_byte[188];
    u8 stuffing_length;
    u8 stuffing_byte[188];
};

struct TS_Packet {
    u8 sync_byte;
    u8 transport_error_indicator;
    u8 payload_unit_start_indicator;
    u8 transport_priority;
    u16 PID;
    u8 transport_scrambling_control;
    u8 adaptation_field_control;
    u8 continuity_counter;
    TS_AdaptationField adaptation_field;  // meaningful only when adaptation_field_control is 2 or 3
};

// -2: the first byte is not 0x47 (nothing written).
int TS_Packet_Get(TS_Packet *packet, const u8 *bytes);
// -2: adaptation_field_control says there is no adaptation field (nothing written).
int TS_Packet_GetAdaptationField(TS_AdaptationField *field, const TS_Packet *packet, const u8 *bytes);

int TS_Packet_PrintHeader(const TS_Packet *packet);
int TS_Packet_Print(const TS_Packet *packet);
void TS_Packet_PrintAdaptationField(const TS_AdaptationField *field);
int TS_Packet_Print_RAW(const u8 *bytes);

// Name functions: write the fixed name (or "?") of a value as a NUL-terminated text from the
// buffer's first byte, touch nothing else; -1 for a null buffer. Callers pass 256 bytes.
int TS_Header_PIDToString(char *name, u16 pid);
int TS_Section_TagToString(char *name, u8 table_id);
int TS_Section_TagToString_ISO(char *name, u8 table_id);
int TS_Header_StreamTypeToString(char *name, u8 stream_type);
int TS_DescriptorTagToString(char *name, u8 descriptor_tag);

// Text of the names and descriptions that SI tables carry (service, network, event names), in
// the character coding of one broadcast family: DVB (EN 300 468 Annex A, the first byte
// choosing the character table) or ARIB STD-B24 8-unit code (ESC designations, locking and
// single shifts, the character size controls).
enum TS_TextFamily : int { TS_TEXT_DVB = 0, TS_TEXT_ARIB = 1 };
// Converts length bytes of such a text to UTF-8 in out, NUL-terminated whenever capacity > 0
// and cut only between whole characters when out is too short. Bytes that decode to nothing
// give U+FFFD; control codes give nothing, the line-break ones "\n". Never reads past length.
// Returns the bytes written less the NUL; -1 when out is null, bytes is null with length > 0,
// length or capacity is negative, or family is not a TS_TextFamily (nothing written).
int TS_Text_ToUTF8(char *out, int capacity, const u8 *bytes, int length, int family);
// Bytes of the valid UTF-8 sequence at text (at most available, at least 1), or 0 when the byte
// there does not start one: overlong forms, surrogates and code points past U+10FFFF are not
// valid.
size_t TS_Text_UTF8Length(const u8 *text, size_t available);

// CRC-32/MPEG-2 (polynomial 0x04C11DB7, MSB first, no final XOR). Start with 0xFFFFFFFF.
extern const u32 g_lu32CRC32Table[256];
u32 GetCRC32(u32 crc, const u8 *data, size_t length);
// Copies path less its extension into base (65,536 bytes). -2: path too long for that buffer.
int GetBaseFileName(char *base, const char *path);

// ---------------------------------------------------------------------------------------------
// Section reassembly
// ---------------------------------------------------------------------------------------------

struct TS_PreSection {
    u8 u8Complete;     // 1 when no section is partly collected
    u16 u16Length;     // section_length + 3 of the section in progress or last collected
    u16 u16Collected;  // bytes of that section held in lu8Section
    u8 u8LastCounter;  // continuity_counter of the last packet taken in; 255 for none
    u8 lu8Section[TS_SECTION_CAPACITY];
};

int TS_PreSection_Initialise(TS_PreSection *section);

// Importers take one whole 188-byte packet (sync byte first) of the table's PID.
// Result 0: the packet was taken in; the section is whole when u8Complete is 1 afterwards.
// -2 / -3: continuity error while collecting (last counter 15 and this not 0 / not last + 1).
// -4: section_length below the table's minimum (PMT 13, others 9), a section longer than
//     2928 bytes, or a pointer_field pointing past the packet.
// -2, -3 and -4 initialise the record.
// -5: the packet carries nothing for this buffer (no payload, or a continuation with no
//     section in progress); the record is unchanged.
int TS_PAT_ImportPreSection(TS_PreSection *section, const u8 *packet);
int TS_CAT_ImportPreSection(TS_PreSection *section, const u8 *packet);
int TS_PMT_ImportPreSection(TS_PreSection *section, const u8 *packet);
int TS_Section_ImportPreSection(TS_PreSection *section, const u8 *packet);

// ---------------------------------------------------------------------------------------------
// Descriptors
// ---------------------------------------------------------------------------------------------

struct TS_VideoStreamDescriptor {
    u8 multiple_frame_rate_flag;
    u8 frame_rate_code;
    u8 MPEG_1_only_flag;
    u8 constrained_parameter_flag;
    u8 still_picture_flag;
    u8 profile_and_level_indication;
    u8 chroma_format;
    u8 frame_rate_extension_flag;
    u8 reserved;
};

struct TS_AudioStreamDescriptor {
    u8 free_format_flag;
    u8 ID;
    u8 layer;
    u8 variable_rate_audio_indicator;
    u8 reserved;
};

struct TS_HierarchyDescriptor {
    u8 reserved1;
    u8 hierarchy_type;
    u8 reserved2;
    u8 hierarchy_layer_index;
    u8 reserved3;
    u8 hierarchy_embedded_layer_index;
    u8 reserved4;
    u8 hierarchy_channel;
};

struct TS_RegistrationDescriptor {
    u32 format_identifier;
    u8 additional_identification_info[251];
};

struct TS_DataStreamAlignmentDescriptor {
    u8 alignment_type;
};

struct TS_TargetBackgroundGridDescriptor {
    u16 horizontal_size;
    u16 vertical_size;
    u8 aspect_ratio_information;
};

struct TS_VideoWindowDescriptor {
    u16 horizontal_offset;
    u16 vertical_offset;
    u8 window_priority;
};

struct TS_ConditionalAccessDescriptor {
    u16 CA_system_ID;
    u8 reserved;
    u16 CA_PID;
    u8 private_data_byte[251];
};

struct TS_ISO639LanguageEntry {
    u32 ISO_639_language_code;  // three letters as a 24-bit big-endian number
    u8 audio_type;
};

struct TS_ISO639LanguageDescriptor {
    TS_ISO639LanguageEntry ltEntry[63];
};

struct TS_SystemClockDescriptor {
    u8 external_clock_reference_indicator;
    u8 reserved1;
    u8 clock_accuracy_integer;
    u8 clock_accuracy_exponent;
    u8 reserved2;
};

struct TS_MultiplexBufferUtilizationDescriptor {
    u8 bound_valid_flag;
    u16 LTW_offset_lower_bound;
    u8 reserved;
    u16 LTW_offset_upper_bound;
};

struct TS_CopyrightDescriptor {
    u32 copyright_identifier;
    u8 additional_copyright_info[251];
};

struct TS_MaximumBitrateDescriptor {
    u8 reserved;
    u32 maximum_bitrate;
};

struct TS_PrivateDataIndicatorDescriptor {
    u32 private_data_indicator;
};

struct TS_SmoothingBufferDescriptor {
    u8 reserved1;
    u32 sb_leak_rate;
    u8 reserved2;
    u32 sb_size;
};

struct TS_STDDescriptor {
    u8 reserved;  // bits 7-1 kept in place
    u8 leak_valid_flag;
};

struct TS_IBPDescriptor {
    u8 closed_gop_flag;
    u8 identical_gop_flag;
    u16 max_gop_length;
};

struct TS_Descriptor {
    u8 descriptor_tag;
    u8 descriptor_length;
    union {
        u8 lu8Raw[255];  // tags 0x00, 0x01 and 0x13 to 0xFF
        TS_VideoStreamDescriptor tVideoStream;
        TS_AudioStreamDescriptor tAudioStream;
        TS_HierarchyDescriptor tHierarchy;
        TS_RegistrationDescriptor tRegistration;
        TS_DataStreamAlignmentDescriptor tDataStreamAlignment;
        TS_TargetBackgroundGridDescriptor tTargetBackgroundGrid;
        TS_VideoWindowDescriptor tVideoWindow;
        TS_ConditionalAccessDescriptor tConditionalAccess;
        TS_ISO639LanguageDescriptor tISO639Language;
        TS_SystemClockDescriptor tSystemClock;
        TS_MultiplexBufferUtilizationDescriptor tMultiplexBufferUtilization;
        TS_CopyrightDescriptor tCopyright;
        TS_MaximumBitrateDescriptor tMaximumBitrate;
        TS_PrivateDataIndicatorDescriptor tPrivateDataIndicator;
        TS_SmoothingBufferDescriptor tSmoothingBuffer;
        TS_STDDescriptor tSTD;
        TS_IBPDescriptor tIBP;
    };
};

// Dispatch by tag; both return 0 whatever the chosen decoder or printer returned.
// TS_GetDescriptor reads the descriptor at data (its tag byte); the caller steps on by
// 2 + descriptor_length.
int TS_GetDescriptor(TS_Descriptor *descriptor, const u8 *data);
int TS_Descriptor_Print(const TS_Descriptor *descriptor);

// A kind's own decoder or printer returns -2 for a foreign tag (record untouched, nothing
// printed).
int TS_Descriptor_GetRAW(TS_Descriptor *descriptor, const u8 *data);
int TS_Descriptor_PrintRAW(const TS_Descriptor *descriptor);
int TS_Descriptor_GetConditionalAccess(TS_Descriptor *descriptor, const u8 *data);
int TS_Descriptor_PrintConditionalAccess(const TS_Descriptor *descriptor);
int TS_Descriptor_GetVideoStream(TS_Descriptor *descriptor, const u8 *data);
int TS_Descriptor_PrintVideoStream(const TS_Descriptor *descriptor);
int TS_Descriptor_GetAudioStream(TS_Descriptor *descriptor, const u8 *data);
int TS_Descriptor_PrintAudioStream(const TS_Descriptor *descriptor);
int TS_Descriptor_GetHierarchy(TS_Descriptor *descriptor, const u8 *data);
int TS_Descriptor_PrintHierarchy(const TS_Descriptor *descriptor);
int TS_Descriptor_GetRegistration(TS_Descriptor *descriptor, const u8 *data);
int TS_Descriptor_PrintRegistration(const TS_Descriptor *descriptor);
int TS_Descriptor_GetDataStreamAlignment(TS_Descriptor *descriptor, const u8 *data);
int TS_Descriptor_PrintDataStreamAlignment(const TS_Descriptor *descriptor);
int TS_Descriptor_GetTargetBackgroundGrid(TS_Descriptor *descriptor, const u8 *data);
int TS_Descriptor_PrintTargetBackgroundGrid(const TS_Descriptor *descriptor);
int TS_Descriptor_GetVideoWindow(TS_Descriptor *descriptor, const u8 *data);
int TS_Descriptor_PrintVideoWindow(const TS_Descriptor *descriptor);
int TS_Descriptor_GetISO639Language(TS_Descriptor *descriptor, const u8 *data);
int TS_Descriptor_PrintISO639Language(const TS_Descriptor *descriptor);
int TS_Descriptor_GetSystemClock(TS_Descriptor *descriptor, const u8 *data);
int TS_Descriptor_PrintSystemClock(const TS_Descriptor *descriptor);
int TS_Descriptor_GetMultiplexBufferUtilization(TS_Descriptor *descriptor, const u8 *data);
int TS_Descriptor_PrintMultiplexBufferUtilization(const TS_Descriptor *descriptor);
int TS_Descriptor_GetCopyright(TS_Descriptor *descriptor, const u8 *data);
int TS_Descriptor_PrintCopyright(const TS_Descriptor *descriptor);
int TS_Descriptor_GetMaximumBitrate(TS_Descriptor *descriptor, const u8 *data);
int TS_Descriptor_PrintMaximumBitrate(const TS_Descriptor *descriptor);
int TS_Descriptor_GetPrivateDataIndicator(TS_Descriptor *descriptor, const u8 *data);
int TS_Descriptor_PrintPrivateDataIndicator(const TS_Descriptor *descriptor);
int TS_Descriptor_GetSmoothingBuffer(TS_Descriptor *descriptor, const u8 *data);
int TS_Descriptor_PrintSmoothingBuffer(const TS_Descriptor *descriptor);
int TS_Descriptor_GetSTD(TS_Descriptor *descriptor, const u8 *data);
int TS_Descriptor_PrintSTD(const TS_Descriptor *descriptor);
int TS_Descriptor_GetIBP(TS_Descriptor *descriptor, const u8 *data);
int TS_Descriptor_PrintIBP(const TS_Descriptor *descriptor);

// ---------------------------------------------------------------------------------------------
// Tables
// ---------------------------------------------------------------------------------------------

struct TS_PATProgram {
    u16 program_number;
    u8 reserved;
    u16 PID;  // network_PID when program_number is 0, else program_map_PID
};

struct TS_PAT {
    u8 table_id;
    u8 section_syntax_indicator;
    u8 reserved1;
    u16 section_length;
    u16 transport_stream_id;
    u8 reserved2;
    u8 version_number;
    u8 current_next_indicator;
    u8 section_number;
    u8 last_section_number;
    u16 u16ProgramCount;  // at most 16: further entries of a section are dropped
    TS_PATProgram ltProgram[TS_MAX_PROGRAMS];
    u32 CRC_32;
    u8 u8Valid;
};

int TS_PAT_FromPreSection(TS_PAT *pat, const TS_PreSection *section);
int TS_PAT_GetProgramData(TS_PATProgram *program, const u8 *entry);
int TS_PAT_Print(const TS_PAT *pat);
// Serialises a PAT into one 188-byte packet with a fresh CRC_32, header fields from header.
int TS_PAT_ToPacket(u8 *packet, const TS_Packet *header, const TS_PAT *pat);

struct TS_PMTStream {
    u8 stream_type;
    u16 elementary_PID;
    u16 ES_info_length;
    u16 u16DescriptorCount;
    TS_Descriptor ltDescriptor[TS_MAX_DESCRIPTORS];
};

struct TS_PMT {
    u8 table_id;
    u8 section_syntax_indicator;
    u8 reserved1;
    u16 section_length;
    u16 program_number;
    u8 reserved2;
    u8 version_number;
    u8 current_next_indicator;
    u8 section_number;
    u8 last_section_number;
    u16 PCR_PID;
    u16 program_info_length;
    u16 u16DescriptorCount;
    TS_Descriptor ltDescriptor[TS_MAX_DESCRIPTORS];
    u16 u16StreamCount;
    TS_PMTStream ltStream[TS_MAX_STREAMS];
    u32 CRC_32;
    u8 u8Valid;
    u16 u16PID;  // the PID whose packets carried this PMT
};

int TS_PMT_FromPreSection(TS_PMT *pmt, const TS_PreSection *section, u16 pid);
int TS_PMT_GetStreamInfo(TS_PMTStream *stream, const u8 *entry);
// 1 when pid is the elementary_PID of one of the PMT's streams, else 0. pmt must be valid.
int TS_IsStreamPIDOfPMT(const TS_PMT *pmt, u16 pid);
// CA_PID of the first program-level conditional-access descriptor, or TS_NO_PID.
int TS_GetCAPIDFromPMT(u16 *ca_pid, const TS_PMT *pmt);
int TS_PMT_Print(const TS_PMT *pmt);

struct TS_CAT {
    u8 table_id;
    u8 section_syntax_indicator;
    u32 reserved1;
    u16 section_length;
    u16 transport_stream_id;  // section bytes 3-4, reserved in a CAT
    u8 reserved2;
    u8 version_number;
    u8 current_next_indicator;
    u8 section_number;
    u8 last_section_number;
    u16 u16DescriptorCount;
    TS_Descriptor ltDescriptor[TS_MAX_DESCRIPTORS];
    u32 CRC_32;
    u8 u8Valid;
};

int TS_CAT_FromPreSection(TS_CAT *cat, const TS_PreSection *section);
int TS_CAT_Print(const TS_CAT *cat);
// CA_PID of the CAT's first conditional-access descriptor (the EMM PID), or TS_NO_PID.
int TS_GetCAPIDFromCAT(u16 *ca_pid, const TS_CAT *cat);

struct TS_PrivateSection {
    u8 table_id;
    u8 section_syntax_indicator;
    u8 private_indicator;
    u8 reserved1;
    u16 private_section_length;
    u16 table_id_extension;
    u8 reserved2;
    u8 version_number;
    u8 current_next_indicator;
    u8 section_number;
    u8 last_section_number;
    u8 lu8Data[TS_SECTION_CAPACITY];
    u32 CRC_32;
    u8 u8Valid;
};

int TS_Section_PrivateFromPreSection(TS_PrivateSection *section, const TS_PreSection *presection);
int TS_Section_PrintPrivate(const TS_PrivateSection *section);
int TS_Section_PrintEMM(const TS_PrivateSection *section);
int TS_Section_GetCardIdFromEMM(u64 *card_id, const TS_PrivateSection *section);

struct TS_PCR {
    u8 u8Lead;  // the adaptation field's flag byte
    u64 program_clock_reference_base;
    u8 reserved;
    u32 program_clock_reference_extension;
};

// bytes: the lead byte followed by the six bytes of the PCR field.
int TS_PCR_Import(TS_PCR *pcr, const u8 *bytes);
int TS_PCR_Print(const TS_PCR *pcr);

// ---------------------------------------------------------------------------------------------
// Service information: the SDT and the NIT
// ---------------------------------------------------------------------------------------------

// Their names are kept as the raw bytes of the broadcast, in the character set of the recording:
// ARIB STD-B24 in ISDB broadcasts, EN 300 468 in DVB ones. The bytes do not tell which (a DVB name
// in plain ASCII reads as pairs of kanji in ARIB): the printers take the family to decode them
// with (TS_TEXT_DVB or TS_TEXT_ARIB, see TS_Text_ToUTF8).

struct TS_SDTService {
    u16 service_id;
    u8 reserved_future_use;  // 6 bits
    u8 EIT_schedule_flag;
    u8 EIT_present_following_flag;
    u8 running_status;
    u8 free_CA_mode;
    u16 descriptors_loop_length;
    u16 u16DescriptorCount;                   // descriptors of the loop decoded, at most 32
    u8 lu8DescriptorTag[TS_MAX_DESCRIPTORS];  // their tags, in loop order
    // From the first service descriptor (tag 0x48) of the loop; all 0 without one. The lengths
    // are kept as declared; a name is cut where its descriptor ends (the counts of bytes held).
    u8 u8HasServiceDescriptor;
    u8 service_type;
    u8 service_provider_name_length;
    u8 service_name_length;
    u8 u8ProviderNameCount;
    u8 lu8ProviderName[TS_MAX_NAME_BYTES];
    u8 u8ServiceNameCount;
    u8 lu8ServiceName[TS_MAX_NAME_BYTES];
    u8 u8SectionNumber;  // section_number of the section that listed the service
};

struct TS_SDT {
    u8 table_id;  // 0x42: the SDT of this transport stream (actual), 0x46: of another one
    u8 section_syntax_indicator;
    u8 reserved1;
    u16 section_length;
    u16 transport_stream_id;
    u8 reserved2;
    u8 version_number;
    u8 current_next_indicator;
    u8 section_number;
    u8 last_section_number;
    u16 original_network_id;
    u8 reserved_future_use;
    u16 u16ServiceCount;  // at most TS_MAX_SERVICES: further entries of the section are dropped
    TS_SDTService ltService[TS_MAX_SERVICES];
    u32 CRC_32;
    u8 u8Valid;
};

// Importers as those of the PAT and CAT (see there); the smallest section_length taken is 12 for
// the SDT (up to reserved_future_use and the CRC_32) and 13 for the NIT (its two loop lengths).
int TS_SDT_ImportPreSection(TS_PreSection *section, const u8 *packet);
// Decodes any complete section with the SDT's layout, whatever its table_id. A service entry
// needs its five fixed bytes before the CRC_32; a descriptor reaching past the section is not
// decoded and ends its loop, and the next entry starts where descriptors_loop_length says.
int TS_SDT_FromPreSection(TS_SDT *sdt, const TS_PreSection *section);
// Prints the section with the names decoded as family: one line per service and one for its
// service descriptor, names in double quotes (a quote or backslash in them after a backslash,
// control characters as \xNN).
int TS_SDT_Print(const TS_SDT *sdt, int family);
// The name of a service_type ("digital television"), "?" for a value without one. The values
// 0x80 to 0xFE are the broadcasters' in DVB; ARIB names some of them (TS_TEXT_ARIB only).
int TS_ServiceTypeToString(char *name, u8 service_type, int family);

// The services of one SDT gathered from its sections: one table_id, transport_stream_id,
// original_network_id and version. A section of another of them starts the gathering afresh.
struct TS_SDTServices {
    u8 u8Valid;  // a section has been taken
    u8 table_id;
    u16 transport_stream_id;
    u16 original_network_id;
    u8 version_number;
    u8 last_section_number;
    u8 lu8Taken[32];                           // bit n % 8 of byte n / 8: section n has been taken
    u16 u16ServiceCount;                       // at most TS_MAX_SERVICES: services beyond are dropped
    TS_SDTService ltService[TS_MAX_SERVICES];  // by section_number, each section in loop order
};

int TS_SDTServices_Initialise(TS_SDTServices *services);
// Takes a decoded section (current_next_indicator 1). A section of a number taken before that
// brings the same services is a repeat; one that brings others replaces those the number had
// brought (the good copy of a section that came damaged first). Returns 1 when the services
// changed, 0 for a repeat, -2 for a record that is not a valid current SDT section (table_id
// 0x42 or 0x46; nothing done).
int TS_SDTServices_Add(TS_SDTServices *services, const TS_SDT *sdt);
// 1 when every section from 0 to last_section_number has been taken, else 0.
int TS_SDTServices_Complete(const TS_SDTServices *services);
// The service of that service_id, or null.
const TS_SDTService *TS_SDTServices_Find(const TS_SDTServices *services, u16 service_id);

struct TS_NITTransportStream {
    u16 transport_stream_id;
    u16 original_network_id;
    u8 reserved_future_use;  // 4 bits
    u16 transport_descriptors_length;
    u16 u16DescriptorCount;
    u8 lu8DescriptorTag[TS_MAX_DESCRIPTORS];
};

struct TS_NIT {
    u8 table_id;  // 0x40: the network of this transport stream (actual), 0x41: another one
    u8 section_syntax_indicator;
    u8 reserved1;
    u16 section_length;
    u16 network_id;
    u8 reserved2;
    u8 version_number;
    u8 current_next_indicator;
    u8 section_number;
    u8 last_section_number;
    u8 reserved_future_use1;  // 4 bits
    u16 network_descriptors_length;
    u16 u16DescriptorCount;
    u8 lu8DescriptorTag[TS_MAX_DESCRIPTORS];
    // The body of the first network name descriptor (tag 0x40) of the network loop.
    u8 u8HasNetworkName;
    u8 u8NetworkNameCount;
    u8 lu8NetworkName[TS_MAX_NAME_BYTES];
    u8 reserved_future_use2;  // 4 bits
    u16 transport_stream_loop_length;
    u16 u16TransportStreamCount;  // at most TS_MAX_TRANSPORT_STREAMS: further entries are dropped
    TS_NITTransportStream ltTransportStream[TS_MAX_TRANSPORT_STREAMS];
    u32 CRC_32;
    u8 u8Valid;
};

int TS_NIT_ImportPreSection(TS_PreSection *section, const u8 *packet);
// Decodes any complete section with the NIT's layout. The transport stream loop starts where
// network_descriptors_length says; an entry needs its six fixed bytes before the CRC_32.
int TS_NIT_FromPreSection(TS_NIT *nit, const TS_PreSection *section);
int TS_NIT_Print(const TS_NIT *nit, int family);

// ---------------------------------------------------------------------------------------------
// Scan state and stream buffering
// ---------------------------------------------------------------------------------------------

struct TS_SimpleData {
    u64 u64Size;  // valid bytes in lu8Stream
    u64 u64Pos;   // next byte to examine
    TS_PreSection tPATSection;
    TS_PAT tPAT;
    TS_PreSection tPMTSection;
    TS_PMT tPMT;
    u8 lu8Stream[TS_STREAM_CAPACITY];
};

struct TS_Data {
    u64 u64Size;
    u64 u64Pos;
    TS_PreSection tPATSection;
    TS_PAT tPAT;
    TS_PreSection tCATSection;
    TS_CAT tCAT;
    TS_PreSection ltPMTSection[TS_MAX_PROGRAMS];  // element i follows the PMT of PAT entry i
    // The last PMT of PAT entry i, kept after a later PAT lists another program there until that
    // program's PMT comes; the last PCR printed for it (TS_Print).
    TS_PMT ltPMT[TS_MAX_PROGRAMS];
    TS_PCR ltPCR[TS_MAX_PROGRAMS];
    TS_PreSection tPrivateSection;  // ECM sections on a PMT's CA PID
    TS_PrivateSection tPrivate;
    TS_PreSection tEMMSection;  // EMM sections on the CAT's CA PID
    TS_PrivateSection tEMM;
    u8 lu8Stream[TS_STREAM_CAPACITY];
    u16 u16PIDCount;
    u16 lu16PID[TS_MAX_LISTED_PIDS];
};

int TS_InitialiseSimple(TS_SimpleData *state);
// Kept for callers that feed the records themselves; the drivers do not use TS_AddStream and
// TS_AddStreamSimple (they read straight into lu8Stream behind the carried tail).
// -2: the carried tail plus length would not fit lu8Stream (state unchanged).
int TS_AddStreamSimple(TS_SimpleData *state, const u8 *data, u64 length);
int TS_Initialise(TS_Data *state);
int TS_AddStream(TS_Data *state, const u8 *data, u64 length);

// The library's messages about failed system calls, printed on standard error by the functions
// of this header: "Error: Failed open %s.\n" (an input or a split's output that cannot be opened,
// or an output that is the input file itself), "Error: Failed read %s.\n", "Error: Failed write
// %s.\n", and for the output of TS_ProgramSplitStream "error - failed on _open(%s) [dest]\n".
// The operations of <pidsift/demux.h> hand them, and their progress, to the hooks of their
// RunSettings instead when it has them, with the errno value of the failed call (0 for an output
// refused because it is the input file).
enum TS_Failure {
    TS_FAILED_OPEN = 1,  // an input
    TS_FAILED_READ = 2,
    TS_FAILED_WRITE = 3,
    TS_FAILED_CREATE = 4,       // an output of the split drivers or TS_ProgramExtractFile
    TS_FAILED_DESTINATION = 5,  // the output of TS_ProgramSplitStream
};
// Prints the library's own message for a failure.
void TS_PrintFailure(int s32Failure, const char *strPath);

// ---------------------------------------------------------------------------------------------
// Drivers
// ---------------------------------------------------------------------------------------------

struct TS_ProgramList {
    u16 u16Count;
    u16 lu16ProgramNumber[TS_MAX_PROGRAMS];
    u16 lu16PID[TS_MAX_PROGRAMS];
};

// Lists the programs of the last PAT of the file (program_number 0 left out): the first
// TS_MAX_PROGRAMS of them; pidsift::ListPrograms (<pidsift/demux.h>) gives every one. The
// extraction functions below take any program of the PAT, however many it lists.
// -2: the input cannot be opened. -5: read error (the list holds what was read before it).
int TS_GetProgramList(TS_ProgramList *list, const char *path);

// Copies the packets of the program whose PMT is on pid to destination: its PMT packets, and the
// packets of the PCR PID, the ECM PID and every stream its PMT in force names. Sections are read
// as ISO/IEC 13818-1 lays them out (several in a packet, up to 4,096 bytes). Leaves the last PAT
// and the program's last PMT in g_tSimpleData.tPAT and tPMT.
// -2: source cannot be opened. -3: destination cannot be opened. -5: read error.
// -6: write error.
int TS_ProgramSplitStream(const char *destination, const char *source, u16 pid);

// One pass for front ends that would otherwise run TS_GetProgramList and then
// TS_ProgramSplitStream: fills list as TS_GetProgramList does and, in the same pass, writes the
// packets that TS_ProgramSplitStream would write for pid to the descriptor that open_output
// returns (called at most once, at the first PAT that lists pid; -1 on failure). Prints no
// message about the output. Returns what TS_GetProgramList returns (0, -2, -5), and stores in
// *split_result 0 (output opened and written), 1 (no PAT listed pid: no output opened),
// -3 (open_output failed) or -6 (a write failed). The caller closes nothing: the descriptor is
// closed here.
int TS_GetProgramListAndSplit(TS_ProgramList *list, const char *source, u16 pid, int (*open_output)(void *context),
                              void *context, int *split_result);

// Copies one program as TS_ProgramSplitStream does, into a recording that plays on its own: the
// output opens with a PAT that lists only that program (and the input PAT's network entry when
// it has one), and the same reduced PAT follows every PAT of the input. The program is chosen by
// its PMT PID, or, when pid is TS_NO_PID, by program_number (the first PAT entry with it).
// destination null: "%s_%d_0_0.ts" from the split base name and the program_number, as the
// per-program split names its files. The output is created when the program's PMT first comes
// after a PAT that lists the program, the reduced PAT written before it; the copy ends when a
// later PAT no longer lists it.
// -2: source cannot be opened. -3: destination cannot be opened (or is the source). -4: no PAT
// listed the program (no output created). -5: read error. -6: write error. -7: a PAT listed the
// program but its PMT never came (no output created).
int TS_ProgramExtractFile(const char *destination, const char *source, u16 pid, u16 program_number);

// How a run decodes the names of the SDT and the NIT (pidsift::RunSettings::text_family): as
// TS_TEXT_DVB, as TS_TEXT_ARIB, or, with TS_TEXT_AUTO (the default, and what TS_CheckFile and
// TS_Dump use), as ARIB once the recording has shown
// something that only ISDB broadcasts carry, and as DVB until then. What counts: a descriptor of
// tag 0xC1, 0xC8, 0xCD, 0xCF, 0xFD or 0xFE in a PMT, SDT or NIT (of this transport stream or
// network, or of another); an SDTT (0xC3), BIT (0xC4) or CDT (0xC8) starting on PID 0x0023,
// 0x0024, 0x0028 or 0x0029; a name in an SDT or NIT holding the ARIB controls ESC, LS0, LS1, SS2
// or SS3. The check decodes with what it saw in the whole recording. The dump decodes each table
// with what it has seen up to it, in the family of its run's settings (pidsift::Dump,
// <pidsift/demux.h>).
constexpr int TS_TEXT_AUTO = -1;

// Dump selection bits of TS_Print and of TS_DumpOptions::s32Mask.
constexpr int TS_PRINT_PACKETS = 0x001;
constexpr int TS_PRINT_PAT = 0x002;
constexpr int TS_PRINT_CAT = 0x004;
constexpr int TS_PRINT_PMT = 0x008;
constexpr int TS_PRINT_ECM = 0x010;
constexpr int TS_PRINT_EMM = 0x020;
constexpr int TS_PRINT_ES = 0x040;
constexpr int TS_PRINT_PIDS = 0x080;
constexpr int TS_PRINT_PCR = 0x100;

// Prints, on standard output, the blocks that mask selects with the bits 0x001 to 0x100 above;
// other bits are ignored. It follows the programs of the first TS_MAX_PROGRAMS entries of the PAT
// and the first TS_MAX_STREAMS streams of each PMT, as its records hold them (pidsift::Dump,
// <pidsift/demux.h>, follows every one). -2: the input cannot be opened. -5: read error.
int TS_Print(const char *path, int mask);

// Further selections of TS_DumpOptions::s32Mask, which TS_Print ignores. Bit 0x200 is ignored.
// Every SDT section on PID 0x0011 (table_id 0x42, this transport stream's, and 0x46, another's),
// and every NIT section on PID 0x0010 (0x40 and 0x41), with their names as UTF-8.
constexpr int TS_PRINT_SDT = 0x400;
constexpr int TS_PRINT_NIT = 0x800;
// With the bits above: a PAT, CAT, PMT, ECM or EMM is printed only when its section bytes differ
// from the last section printed for its PID, an SDT or NIT section only when they differ from
// the last printed of its table_id, table_id_extension and section_number; the run ends with the
// number of repeats left out.
constexpr int TS_PRINT_CHANGES = 0x1000;
// With the bits above: the same selection as JSON Lines instead of text, one object on a line for
// each block the text would print, none of its separators. Every block of a packet has "type"
// ("packet", "pat", "cat", "pmt", "ecm", "emm", "pcr", "sdt", "nit"), "packet_index" (from 0, among the
// packets read), "byte_offset" (of the packet's sync byte in the file, past any prefix of a
// 192-byte unit), the packet header's fields ("pid", "continuity_counter", ...), then the fields
// of its record under the syntax element names in lower case ("table_id", "program_number",
// "elementary_pid", "crc_32"; reserved bits left out), and for a section "crc_ok": whether its
// CRC_32 checks (null for a private section of the short form, which has none). A PAT lists
// "programs" ({"program_number", "pid"}), a PMT "streams" ({"stream_type", "elementary_pid",
// "es_info_length", "descriptors"}); a descriptor is {"tag", "length", "name", its fields}, its
// bytes in hexadecimal when it has no decoder of its own. The end is {"type":"pids","pids":[...]}
// and, with TS_PRINT_CHANGES, {"type":"summary","repeats_left_out":N}.
constexpr int TS_PRINT_JSON = 0x2000;
// At the end, before the PID list: each program of the last PAT with its PMT PID, the name
// of its service, the service of the actual SDT (0x42) of the PAT's transport_stream_id whose
// service_id is the program_number (its sections gathered as TS_SDTServices_Add does), and the
// name of the event on air: the first event of the last section 0 of its EIT present/following
// actual (0x4E) whose CRC_32 checked. JSON: {"type":"programs","charset":...,"programs":
// [{"program_number","pmt_pid","service_name","present_event"}]}, service_name null for a
// program the SDT does not name, present_event null for one without such an event or name.
constexpr int TS_PRINT_PROGRAMS = 0x4000;
// Every EIT section (table_id 0x4E to 0x6F: present/following and schedule, of this transport
// stream and of others) on PID 0x0012, and on 0x0026 and 0x0027, where ISDB sends it as well,
// with its events and their descriptors (<pidsift/si_tables.h>, PrintEit); times on the clock of
// the family the names are decoded in. JSON type "eit".
constexpr int TS_PRINT_EIT = 0x8000;
// The EIT present/following sections alone (table_id 0x4E and 0x4F).
constexpr int TS_PRINT_EIT_PF = 0x10000;
// Every TDT (0x70) and TOT (0x73) on PID 0x0014: the broadcast's clock and its local time
// offsets. JSON types "tdt" and "tot". With TS_PRINT_CHANGES, the EIT, TDT and TOT are told
// apart as the SDT is: by table_id, table_id_extension and section_number (an EIT of another
// transport stream by its transport_stream_id too).
constexpr int TS_PRINT_TDT = 0x20000;

// What TS_Dump prints: the bits of TS_Print and those above, added up; other bits are ignored.
struct TS_DumpOptions {
    int s32Mask;
};

// Prints the dump of TS_Print with every selection of options. -1: a null pointer. -2: the
// input cannot be opened. -5: read error.
int TS_Dump(const char *path, const TS_DumpOptions *options);

struct TS_PNSplitData {
    u16 u16ProgramNumber;
    u16 u16PMTPID;
    u16 u16Index;
    u16 u16FileNo;
    int s32FD;  // -1 when no file is open
};

// The programs TS_ProgramSplitFile met, in the order it met them: the first TS_MAX_PROGRAMS of
// them (the split writes a file for every program of the PAT whose PMT came).
struct TS_PNSplitList {
    u16 u16Count;
    TS_PNSplitData ltSplit[TS_MAX_PROGRAMS];
};

// One file per program of the PAT, however many it lists: "%s_%d_%d_%d.ts" from the input's path
// less its extension, program_number, index and file counter; a program whose PMT never comes
// gets no file (its file waits for the PMT, the reduced PATs before it). Leaves the programs in
// g_tPNSplitData (every file closed), the last PAT and the last PMT of its first entries in
// g_tData. -2: input cannot be opened. -3: an output cannot be opened. -5: read error. -6: write
// error.
int TS_ProgramSplitFile(const char *path);

struct TS_PMTSplitData {
    u32 u32CRC;
    u16 u16Index;
    u64 u64Bytes;
};

struct TS_PMTSplitList {
    u16 u16Count;
    TS_PMTSplitData ltSplit[TS_MAX_PMT_SEGMENTS];
};

// -2: input cannot be opened. -3: a PAT with more than two entries. -5: read error.
int TS_CheckPMTSplit(TS_PMTSplitList *list, const char *path);
// all_mode non-zero: one file per distinct PMT ("%s_%08X.ts"); zero: only the PMT whose CRC_32
// is crc, into output (or "%s_%08X.ts" when output is null). -2, -3 as above; -4: an output
// cannot be opened. -5: read error. -6: write error.
int TS_PMTSplitFile(const char *path, u8 all_mode, u32 crc, const char *output);

// ---------------------------------------------------------------------------------------------
// Checking a recording
// ---------------------------------------------------------------------------------------------

// What TS_CheckFile counts against a recording, as indexes of TS_CheckReport::ltCheck. The
// intervals are measured on the check's clock (see pidsift::CheckEvent::time); without any PCR
// they are not measured, and those checks count only what needs no clock.
constexpr int TS_CHECK_SYNC_LOSS = 0;   // no sync byte where the next packet was due: the read
                                        // loop lost the packet spacing and hunted for it
constexpr int TS_CHECK_SYNC_BYTE = 1;   // units due on the spacing whose first byte was not 0x47
                                        // (a run of them before the spacing is found again
                                        // counts each)
constexpr int TS_CHECK_PAT = 2;         // more than 0.5 s without a PAT, a section other than a
                                        // PAT on PID 0x0000, a scrambled packet on PID 0x0000
constexpr int TS_CHECK_CONTINUITY = 3;  // continuity_counter breaks (TS_CheckPID)
constexpr int TS_CHECK_PMT = 4;         // more than 0.5 s without a program's PMT section, a
                                        // scrambled packet on a PMT PID
constexpr int TS_CHECK_PID = 5;         // more than 5 s without a packet on the PCR PID or a
                                        // video or audio stream that a PMT in force names
constexpr int TS_CHECK_TRANSPORT = 6;   // packets with transport_error_indicator set
constexpr int TS_CHECK_CRC = 7;         // sections whose CRC_32 failed
constexpr int TS_CHECK_COUNT = 8;

// Each late table or absent PID counts once per silence, when the silence passes its limit.
constexpr u64 TS_CHECK_TABLE_INTERVAL = 13500000;  // 0.5 s in 27 MHz ticks
constexpr u64 TS_CHECK_PID_INTERVAL = 135000000;   // 5 s: captions and data may be sparse, so
                                                   // only PCR, video and audio PIDs are watched

struct TS_CheckCount {
    u64 u64Count;
    u64 u64FirstPacket;  // index of the packet at which the first was found (0: the file's first
                         // packet; the packet count: at the end of the file); 0 when none
};

// What a PID carries for the tables of the end of the run (the last PAT, its PMTs, the last
// CAT), or by its number. A PID with several roles takes the first of this order.
constexpr u8 TS_ROLE_UNREFERENCED = 0;  // named by no table and reserved for nothing
constexpr u8 TS_ROLE_PAT = 1;           // 0x0000
constexpr u8 TS_ROLE_CAT = 2;           // 0x0001
constexpr u8 TS_ROLE_PMT = 3;           // a PMT PID of the PAT
// A stream's kind is what its stream_type and descriptors say (pidsift::IdentifyStream,
// <pidsift/streams.h>): an AC-3 descriptor makes a stream of type 0x06 audio.
constexpr u8 TS_ROLE_VIDEO = 4;  // an elementary stream of kind video
constexpr u8 TS_ROLE_AUDIO = 5;  // an elementary stream of kind audio
constexpr u8 TS_ROLE_DATA = 6;   // any other elementary stream (subtitles, captions, data, private)
constexpr u8 TS_ROLE_PCR = 7;    // the PCR_PID of a PMT, carrying no stream of it
constexpr u8 TS_ROLE_ECM = 8;    // the CA_PID of a PMT's conditional-access descriptor
constexpr u8 TS_ROLE_EMM = 9;    // the CA_PID of the CAT
constexpr u8 TS_ROLE_NIT = 10;   // the network_PID of the PAT
constexpr u8 TS_ROLE_SI = 11;    // 0x0002-0x002F: reserved for tables by number
constexpr u8 TS_ROLE_NULL = 12;  // 0x1FFF

struct TS_CheckPID {
    u64 u64Packets;
    u64 u64ContinuityErrors;  // continuity_counter breaks on packets with payload (see TS_CheckFile)
    u64 u64TransportErrors;   // packets with transport_error_indicator set
    u64 u64Scrambled;         // packets with transport_scrambling_control other than 0
    u64 u64PCRs;              // packets carrying a PCR
    u64 u64CRCErrors;         // complete sections whose CRC_32 failed (see TS_CheckFile)
    u8 u8Role;                // TS_ROLE_...
    u8 u8StreamType;          // stream_type, for the video, audio and data roles
    u16 u16Program;           // program_number, for the roles TS_ROLE_PMT to TS_ROLE_ECM
    u16 u16OtherPrograms;     // further programs of the PAT that give the PID a role
};

struct TS_CheckStream {
    u16 u16PID;
    u8 u8StreamType;
};

struct TS_CheckProgram {
    u16 u16ProgramNumber;
    u16 u16PMTPID;
    u8 u8HasPMT;         // a PMT of the program came for this PAT entry; else the rest is empty
    u8 u8Scrambled;      // a packet on its PMT, PCR, ECM or stream PIDs was scrambled
    u16 u16PCRPID;       // PCR_PID of the PMT (0x1FFF: the program has no PCR)
    u16 u16ECMPID;       // CA_PID of its first program-level conditional-access descriptor, or
                         // TS_NO_PID
    u16 u16StreamCount;  // at most TS_MAX_STREAMS: the first streams of the PMT
    TS_CheckStream ltStream[TS_MAX_STREAMS];
    // The service whose service_id is the program_number in the actual SDT (table_id 0x42) of the
    // report's transport stream, its sections gathered over the run; else u8HasService is 0.
    u8 u8HasService;
    TS_SDTService tService;
};

struct TS_CheckReport {
    u64 u64Bytes;     // bytes read
    u32 u32UnitSize;  // 188, 192 or 204: the spacing of the last packets; 0 when none found
    u64 u64Packets;
    u64 u64SkippedBytes;  // bytes in no packet: before the first, between two, after the last
    u64 u64SyncLosses;    // times the spacing was lost (as ltCheck[TS_CHECK_SYNC_LOSS])
    // Duration and mean bitrate, from the PCRs of the first program of the last PAT whose PCR
    // PID carried at least two (without one, of the first PID that did).
    u8 u8Timed;  // 1 when they are known
    u16 u16ClockPID;
    u16 u16ClockProgram;  // 0: the PID is no program's PCR_PID
    u64 u64Duration;      // 27 MHz ticks from its first to its last PCR, its jumps left out
    u64 u64BitRate;       // bits per second of the 188-byte packets between those two PCRs
    u64 u64ClockJumps;    // PCR steps left out of the duration: backwards, over 1 s, or at a
                          // discontinuity_indicator
    u8 u8IntervalsTimed;  // the interval checks had a clock: a PCR came
    u16 u16NetworkPID;    // network_PID of the last PAT, TS_NO_PID without one
    u16 u16EMMPID;        // CA_PID of the last CAT, TS_NO_PID without one
    // Names. The text family they are to be decoded with: the one set by TS_SetTextFamily, or
    // the one the recording showed.
    int s32TextFamily;
    u16 u16TransportStreamID;  // of the last PAT (0 without one)
    u8 u8HasSDT;               // an actual SDT section of that transport stream came
    // The network name of the last actual NIT section (table_id 0x40) that carried one, on PID
    // 0x0010 or the network_PID of the PAT.
    u8 u8HasNetworkName;
    u16 u16NetworkID;
    u8 u8NetworkNameCount;
    u8 lu8NetworkName[TS_MAX_NAME_BYTES];
    u16 u16ProgramCount;  // programs of the last PAT, the network entry left out (at most
                          // TS_MAX_PROGRAMS: the first of them)
    TS_CheckProgram ltProgram[TS_MAX_PROGRAMS];
    TS_CheckCount ltCheck[TS_CHECK_COUNT];
    TS_CheckPID ltPID[8192];
};

// Reads a recording once, through the same read loop as the other drivers, and fills report:
// pidsift::Check of <pidsift/check.h> (which reports every program, stream and service, and
// where each check first failed in bytes and time too, and tells events as they come), with the
// text family of TS_SetTextFamily, its report copied up to the capacities of the record: the
// first TS_MAX_PROGRAMS programs of the last PAT and the first TS_MAX_STREAMS streams of each;
// u16OtherPrograms stops at 65,535.
// Continuity: on each PID but 0x1FFF, a packet with payload must carry the counter after the
// last one with payload; one repetition of the last counter (a duplicate packet) is allowed,
// packets without payload are not counted, and a discontinuity_indicator starts afresh. Every
// other counter is one break. A packet with transport_error_indicator set counts as a transport
// error only: its scrambling bits, counter and PCR are not read. CRC_32: sections are collected
// on PIDs 0x0000 (PAT), 0x0001 (CAT), 0x0010-0x0014, 0x001E, 0x001F, the network PID, the PMT
// PIDs, ECM and EMM PIDs,
// several in a packet or cut across packets; a complete section is checked when it has a
// CRC_32: the PAT, CAT and PMT, sections with section_syntax_indicator set, and the TOT. Names:
// the actual SDT sections (0x42) of PID 0x0011 are gathered (TS_SDTServices_Add) and the actual
// NIT sections (0x40) of PID 0x0010 and the network PID read, both through the CRC gate of the
// other drivers (a damaged section is not used once its PID has delivered a good one).
// -2: the input cannot be opened. -5: read error (the report holds what was read before it).
int TS_CheckFile(TS_CheckReport *report, const char *path);

// ---------------------------------------------------------------------------------------------
// Process-wide state of the drivers
// ---------------------------------------------------------------------------------------------

// A chunk buffer for callers that read a file themselves and append it with TS_AddStream; kept
// for them, unused by the drivers.
extern u8 g_lu8Buffer[TS_READ_CHUNK];
extern TS_SimpleData g_tSimpleData;
extern TS_Data g_tData;
extern char g_strString1[65536];
extern char g_strString2[65536];
extern TS_PNSplitList g_tPNSplitData;

#endif  // PIDSIFT_TRANSPORT_STREAM_TS_H
