// Section importers followed by their table decoders and printers. The input is a sequence of
// 188-byte packets; the first byte of each (where the sync byte stands) chooses the reassembly
// buffer it goes to, PAT, CAT, PMT or private section, and is then set to 0x47. Each completed
// section is decoded, printed and checked against the record's capacities.
#include <cstring>
#include <vector>

#include "support.h"

using fuzzsupport::Check;

namespace {

// The decoded tables are large; static storage keeps them off the stack, as the drivers do.
struct Tables {
    TS_PreSection tPATSection, tCATSection, tPMTSection, tPrivateSection;
    TS_PAT tPAT;
    TS_CAT tCAT;
    TS_PMT tPMT;
    TS_PrivateSection tPrivate;
} g_tTables;

void CheckImport(int result, const TS_PreSection &section)
{
    Check(result == 0 || result == -2 || result == -3 || result == -4 || result == -5, "importer result");
    Check(section.u16Collected <= TS_SECTION_CAPACITY, "collected bytes fit the buffer");
    Check(section.u16Length <= TS_SECTION_CAPACITY, "expected length fits the buffer");
    if (result == 0 && section.u8Complete)
        Check(section.u16Collected == section.u16Length && section.u16Length >= 12, "a complete section is whole");
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
    TS_PAT_Print(&pat);

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
    TS_CAT_Print(&cat);
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
    TS_PMT_Print(&pmt);
}

void OnPrivate()
{
    TS_PrivateSection &section = g_tTables.tPrivate;
    Check(TS_Section_PrivateFromPreSection(&section, &g_tTables.tPrivateSection) == 0, "private section decodes");
    Check(section.private_section_length <= TS_SECTION_CAPACITY - 3, "private section length within the buffer");
    char name[256];
    TS_Section_TagToString(name, section.table_id);
    TS_Section_TagToString_ISO(name, section.table_id);
    TS_Section_PrintPrivate(&section);
    TS_Section_PrintEMM(&section);
    u64 card_id = 0;
    TS_Section_GetCardIdFromEMM(&card_id, &section);
    Check(card_id < (u64(1) << 48), "card ID has 48 bits");
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

    // Bounded work per input: at most 64 packets.
    std::vector<u8> packet(TS_PACKET_SIZE);
    for (size_t at = 0, count = 0; at + TS_PACKET_SIZE <= size && count < 64; at += TS_PACKET_SIZE, ++count) {
        std::memcpy(packet.data(), data + at, TS_PACKET_SIZE);
        const u8 kind = packet[0] & 0x03;
        packet[0] = TS_SYNC_BYTE;
        TS_Packet header;
        Check(TS_Packet_Get(&header, packet.data()) == 0, "packet decodes");
        int result;
        switch (kind) {
        case 0:
            result = TS_PAT_ImportPreSection(&g_tTables.tPATSection, packet.data());
            CheckImport(result, g_tTables.tPATSection);
            if (result >= 0 && g_tTables.tPATSection.u8Complete)
                OnPAT(header);
            break;
        case 1:
            result = TS_CAT_ImportPreSection(&g_tTables.tCATSection, packet.data());
            CheckImport(result, g_tTables.tCATSection);
            if (result >= 0 && g_tTables.tCATSection.u8Complete)
                OnCAT();
            break;
        case 2:
            result = TS_PMT_ImportPreSection(&g_tTables.tPMTSection, packet.data());
            CheckImport(result, g_tTables.tPMTSection);
            if (result >= 0 && g_tTables.tPMTSection.u8Complete)
                OnPMT(header.PID);
            break;
        default:
            result = TS_Section_ImportPreSection(&g_tTables.tPrivateSection, packet.data());
            CheckImport(result, g_tTables.tPrivateSection);
            if (result >= 0 && g_tTables.tPrivateSection.u8Complete)
                OnPrivate();
            break;
        }
    }
    return 0;
}
