// Section importers followed by their table decoders and printers. The input is a sequence of
// 188-byte packets; the first byte of each (where the sync byte stands) chooses the reassembly
// buffer it goes to, and is then set to 0x47: its low two bits PAT, CAT, PMT or the rest, and
// for the rest bits 3-4 a private section, an SDT or a NIT (0x47 stays a private section, 0x4F
// is an SDT, 0x57 a NIT). Each completed section is decoded, printed (as text in both text
// families and as JSON) and checked against the record's capacities; the SDT sections are also
// gathered as the drivers gather them. A PAT, CAT or PMT is also printed whole from its section
// (the dump's form), which must print what the record printers print when the record holds it
// all.
#include <cstring>
#include <string>
#include <vector>

#include "psi/print.h"
#include "psi/si.h"
#include "support.h"

using fuzzsupport::Check;

namespace {

// The decoded tables are large; static storage keeps them off the stack, as the drivers do.
struct Tables {
    TS_PreSection tPATSection, tCATSection, tPMTSection, tPrivateSection, tSDTSection, tNITSection;
    TS_PAT tPAT;
    TS_CAT tCAT;
    TS_PMT tPMT;
    TS_PrivateSection tPrivate;
    TS_SDT tSDT;
    TS_NIT tNIT;
    TS_SDTServices tServices;
} g_tTables;

// What print writes to a string.
template <class Print> std::string Text(Print &&print)
{
    std::string text;
    {
        TS_Sink out(&text);
        print(&out);
    }
    return text;
}

template <class Print> std::string Json(Print &&print)
{
    return Text([&](TS_Sink *out) {
        TS_Json json;
        TS_Json_Start(&json, out);
        TS_Json_ObjectBegin(&json);
        print(&json);
        TS_Json_ObjectEnd(&json);
        Check(json.u32Depth == 0, "JSON closes every container it opens");
    });
}

// The record printers and the whole-section printers of one section (print_record(out) and
// print_section(out, bytes, length), then their JSON forms): the same text and JSON when the
// record holds everything the section carries; the whole form never shorter.
template <class Record, class Whole, class RecordJSON, class WholeJSON>
void CompareForms(bool whole_in_record, const TS_PreSection &section, Record &&print_record, Whole &&print_whole,
                  RecordJSON &&record_json, WholeJSON &&whole_json)
{
    const u8 *bytes = section.lu8Section;
    const u32 length = section.u16Length;
    const bool crc_ok = GetCRC32(0xFFFFFFFF, bytes, length) == 0;
    const std::string record = Text(print_record);
    const std::string whole = Text([&](TS_Sink *out) { print_whole(out, bytes, length); });
    const std::string json_record = Json([&](TS_Json *json) { record_json(json, crc_ok); });
    const std::string json_whole = Json([&](TS_Json *json) { whole_json(json, bytes, length, crc_ok); });
    if (whole_in_record) {
        Check(record == whole, "a whole section prints as its record");
        Check(json_record == json_whole, "a whole section's JSON is its record's");
    } else {
        Check(whole.size() >= record.size(), "a section prints at least what its record holds");
    }
}

void CheckImport(int result, const TS_PreSection &section)
{
    Check(result == 0 || result == -2 || result == -3 || result == -4 || result == -5, "importer result");
    Check(section.u16Collected <= TS_SECTION_CAPACITY, "collected bytes fit the buffer");
    Check(section.u16Length <= TS_SECTION_CAPACITY, "expected length fits the buffer");
    if (result == 0 && section.u8Complete)
        Check(section.u16Collected == section.u16Length && section.u16Length >= 12, "a complete section is whole");
}

// Feeds the packet to the importer and checks what it did; true when a section is complete.
bool Completes(int (*import)(TS_PreSection *, const u8 *), TS_PreSection *section, const u8 *packet)
{
    const int result = import(section, packet);
    CheckImport(result, *section);
    return result >= 0 && section->u8Complete;
}

void CheckDescriptors(const TS_Descriptor *list, u16 count)
{
    Check(count <= 32, "at most 32 descriptors per loop");
    for (u16 i = 0; i < count; ++i) {
        char name[256];
        TS_DescriptorTagToString(name, list[i].descriptor_tag);
        Check(std::strlen(name) < sizeof name, "descriptor name is terminated");
    }
}

void OnPAT(const TS_Packet &header)
{
    TS_PAT &pat = g_tTables.tPAT;
    Check(TS_PAT_FromPreSection(&pat, &g_tTables.tPATSection) == 0, "PAT decodes");
    Check(pat.u16ProgramCount <= 16, "at most 16 PAT entries");
    CompareForms(
        pat.u16ProgramCount < TS_MAX_PROGRAMS, g_tTables.tPATSection, [&](TS_Sink *out) { TS_PAT_Print(out, &pat); },
        TS_PAT_PrintSection, [&](TS_Json *json, bool crc_ok) { TS_PAT_PrintJSON(json, &pat, crc_ok); },
        TS_PAT_PrintSectionJSON);

    // The rebuilt packet carries the section with a CRC_32 that checks.
    u8 rebuilt[TS_PACKET_SIZE];
    Check(TS_PAT_ToPacket(rebuilt, &header, &pat) == 0, "PAT rebuilds");
    Check(rebuilt[0] == header.sync_byte && rebuilt[4] == 0, "rebuilt header and pointer_field");
    const size_t covered = 8 + 4u * pat.u16ProgramCount + 4;
    Check(GetCRC32(0xFFFFFFFF, rebuilt + 5, covered) == 0, "rebuilt PAT has a valid CRC_32");
}

void OnCAT()
{
    TS_CAT &cat = g_tTables.tCAT;
    Check(TS_CAT_FromPreSection(&cat, &g_tTables.tCATSection) == 0, "CAT decodes");
    CheckDescriptors(cat.ltDescriptor, cat.u16DescriptorCount);
    u16 emm_pid = 0;
    Check(TS_GetCAPIDFromCAT(&emm_pid, &cat) == 0, "EMM PID query");
    Check(emm_pid == TS_NO_PID || emm_pid < 0x2000, "EMM PID is a PID or none");
    CompareForms(
        cat.u16DescriptorCount < TS_MAX_DESCRIPTORS, g_tTables.tCATSection,
        [&](TS_Sink *out) { TS_CAT_Print(out, &cat); }, TS_CAT_PrintSection,
        [&](TS_Json *json, bool crc_ok) { TS_CAT_PrintJSON(json, &cat, crc_ok); }, TS_CAT_PrintSectionJSON);
}

void OnPMT(u16 pid)
{
    TS_PMT &pmt = g_tTables.tPMT;
    Check(TS_PMT_FromPreSection(&pmt, &g_tTables.tPMTSection, pid) == 0, "PMT decodes");
    Check(pmt.u16PID == pid && pmt.u8Valid == 1, "PMT PID and valid flag");
    Check(pmt.u16StreamCount <= 16, "at most 16 streams");
    CheckDescriptors(pmt.ltDescriptor, pmt.u16DescriptorCount);
    for (u16 i = 0; i < pmt.u16StreamCount; ++i) {
        CheckDescriptors(pmt.ltStream[i].ltDescriptor, pmt.ltStream[i].u16DescriptorCount);
        Check(TS_IsStreamPIDOfPMT(&pmt, pmt.ltStream[i].elementary_PID) == 1, "stream PID is a member");
        char name[256];
        TS_Header_StreamTypeToString(name, pmt.ltStream[i].stream_type);
    }
    u16 ca_pid = 0;
    Check(TS_GetCAPIDFromPMT(&ca_pid, &pmt) == 0, "ECM PID query");
    Check(ca_pid == TS_NO_PID || ca_pid < 0x2000, "ECM PID is a PID or none");
    bool whole = pmt.u16StreamCount < TS_MAX_STREAMS && pmt.u16DescriptorCount < TS_MAX_DESCRIPTORS;
    for (u16 i = 0; i < pmt.u16StreamCount; ++i)
        whole = whole && pmt.ltStream[i].u16DescriptorCount < TS_MAX_DESCRIPTORS;
    CompareForms(
        whole, g_tTables.tPMTSection, [&](TS_Sink *out) { TS_PMT_Print(out, &pmt); }, TS_PMT_PrintSection,
        [&](TS_Json *json, bool crc_ok) { TS_PMT_PrintJSON(json, &pmt, crc_ok); }, TS_PMT_PrintSectionJSON);
}

void OnPrivate()
{
    TS_PrivateSection &section = g_tTables.tPrivate;
    Check(TS_Section_PrivateFromPreSection(&section, &g_tTables.tPrivateSection) == 0, "private section decodes");
    Check(section.private_section_length <= TS_SECTION_CAPACITY - 3, "private section length within the buffer");
    char name[256];
    TS_Section_TagToString(name, section.table_id);
    TS_Section_TagToString_ISO(name, section.table_id);
    Text([&](TS_Sink *out) {
        TS_Section_PrintPrivate(out, &section);
        TS_Section_PrintEMM(out, &section);
    });
    u64 card_id = 0;
    TS_Section_GetCardIdFromEMM(&card_id, &section);
    Check(card_id < (u64(1) << 48), "card ID has 48 bits");
}

void CheckTags(const u8 *tags, u16 count)
{
    Check(count <= TS_MAX_DESCRIPTORS, "at most 32 descriptor tags per loop");
    for (u16 i = 0; i < count; ++i) {
        char name[256];
        TS_DescriptorTagToString(name, tags[i]);
    }
}

template <class Table>
void PrintSI(const Table *table, int (*print)(TS_Sink *, const Table *, int),
             void (*print_json)(TS_Json *, const Table *, bool, int))
{
    for (int family : {TS_TEXT_DVB, TS_TEXT_ARIB}) {
        Text([&](TS_Sink *out) { print(out, table, family); });
        Json([&](TS_Json *json) { print_json(json, table, family == TS_TEXT_ARIB, family); });
    }
}

void OnSDT()
{
    TS_SDT &sdt = g_tTables.tSDT;
    Check(TS_SDT_FromPreSection(&sdt, &g_tTables.tSDTSection) == 0, "SDT decodes");
    Check(sdt.u16ServiceCount <= TS_MAX_SERVICES, "at most TS_MAX_SERVICES services");
    for (u16 i = 0; i < sdt.u16ServiceCount; ++i) {
        const TS_SDTService &service = sdt.ltService[i];
        CheckTags(service.lu8DescriptorTag, service.u16DescriptorCount);
        Check(service.u8ProviderNameCount <= service.service_provider_name_length &&
                  service.u8ServiceNameCount <= service.service_name_length,
              "names hold no more than their declared lengths");
        Check(service.u8HasServiceDescriptor || (service.u8ProviderNameCount == 0 && service.u8ServiceNameCount == 0),
              "names only from a service descriptor");
        Check(service.u8SectionNumber == sdt.section_number, "services carry their section_number");
        char name[256];
        TS_ServiceTypeToString(name, service.service_type, TS_TEXT_ARIB);
    }
    PrintSI(&sdt, TS_SDT_Print, TS_SDT_PrintJSON);

    // Gathered: each section's services by section_number, none beyond the capacity, every one
    // found by its service_id.
    TS_SDTServices &services = g_tTables.tServices;
    const int added = TS_SDTServices_Add(&services, &sdt);
    const bool sdt_table = (sdt.table_id == 0x42 || sdt.table_id == 0x46) && sdt.current_next_indicator;
    Check(sdt_table ? (added == 0 || added == 1) : added == -2, "gathering result");
    Check(services.u16ServiceCount <= TS_MAX_SERVICES, "gathered services fit the record");
    for (u16 i = 0; i < services.u16ServiceCount; ++i) {
        Check(i == 0 || services.ltService[i - 1].u8SectionNumber <= services.ltService[i].u8SectionNumber,
              "gathered services in section order");
        const TS_SDTService *found = TS_SDTServices_Find(&services, services.ltService[i].service_id);
        Check(found != nullptr && found->service_id == services.ltService[i].service_id, "a gathered service is found");
    }
    TS_SDTServices_Complete(&services);
}

void OnNIT()
{
    TS_NIT &nit = g_tTables.tNIT;
    Check(TS_NIT_FromPreSection(&nit, &g_tTables.tNITSection) == 0, "NIT decodes");
    CheckTags(nit.lu8DescriptorTag, nit.u16DescriptorCount);
    Check(nit.u16TransportStreamCount <= TS_MAX_TRANSPORT_STREAMS, "at most TS_MAX_TRANSPORT_STREAMS entries");
    for (u16 i = 0; i < nit.u16TransportStreamCount; ++i)
        CheckTags(nit.ltTransportStream[i].lu8DescriptorTag, nit.ltTransportStream[i].u16DescriptorCount);
    Check(nit.u8HasNetworkName || nit.u8NetworkNameCount == 0, "a network name only from its descriptor");
    PrintSI(&nit, TS_NIT_Print, TS_NIT_PrintJSON);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzsupport::SilenceStdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    TS_PreSection_Initialise(&g_tTables.tPATSection);
    TS_PreSection_Initialise(&g_tTables.tCATSection);
    TS_PreSection_Initialise(&g_tTables.tPMTSection);
    TS_PreSection_Initialise(&g_tTables.tPrivateSection);
    TS_PreSection_Initialise(&g_tTables.tSDTSection);
    TS_PreSection_Initialise(&g_tTables.tNITSection);
    TS_SDTServices_Initialise(&g_tTables.tServices);

    // Bounded work per input: at most 64 packets.
    std::vector<u8> packet(TS_PACKET_SIZE);
    for (size_t at = 0, count = 0; at + TS_PACKET_SIZE <= size && count < 64; at += TS_PACKET_SIZE, ++count) {
        std::memcpy(packet.data(), data + at, TS_PACKET_SIZE);
        const u8 kind = (packet[0] & 0x03) == 3 ? u8(3 + ((packet[0] >> 3) & 0x03) % 3) : u8(packet[0] & 0x03);
        packet[0] = TS_SYNC_BYTE;
        TS_Packet header;
        Check(TS_Packet_Get(&header, packet.data()) == 0, "packet decodes");
        switch (kind) {
        case 0:
            if (Completes(TS_PAT_ImportPreSection, &g_tTables.tPATSection, packet.data()))
                OnPAT(header);
            break;
        case 1:
            if (Completes(TS_CAT_ImportPreSection, &g_tTables.tCATSection, packet.data()))
                OnCAT();
            break;
        case 2:
            if (Completes(TS_PMT_ImportPreSection, &g_tTables.tPMTSection, packet.data()))
                OnPMT(header.PID);
            break;
        case 4:
            if (Completes(TS_SDT_ImportPreSection, &g_tTables.tSDTSection, packet.data()))
                OnSDT();
            break;
        case 5:
            if (Completes(TS_NIT_ImportPreSection, &g_tTables.tNITSection, packet.data()))
                OnNIT();
            break;
        default:
            if (Completes(TS_Section_ImportPreSection, &g_tTables.tPrivateSection, packet.data()))
                OnPrivate();
            break;
        }
    }
    return 0;
}
