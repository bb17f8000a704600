// Stream dump: the packets, tables, clock references and conditional-access sections of a whole
// recording printed as text, under a selection mask, following every program of the PAT at once;
// with TS_PRINT_JSON the same blocks as JSON Lines.
#include <cstdio>
#include <cstring>

#include "drivers/driver.h"
#include "drivers/text_family.h"
#include "packet/print.h"
#include "psi/print.h"
#include "psi/si.h"

namespace {

constexpr char kSeparator[] = "========================================";

struct TS_Dump {
    int s32Mask;
    TS_PIDMap tMap;
    TS_PMTTrack ltTrack[TS_MAX_PROGRAMS];  // element k follows the PMT of PAT position k
    TS_SectionGate tGate;                  // PAT, CAT, PMT, SDT and NIT sections whose CRC_32 fails
    u16 u16EMMPID;                         // CA_PID of the last CAT, TS_NO_PID while there is none
    u8 lu8Listed[8192];                    // PIDs already met, for the PID list
    // PIDs whose packets, as things stand, neither print anything nor change anything (most of
    // a recording: video, audio, null packets): they are only counted. Cleared whenever the
    // PIDs' roles or the EMM PID may have changed.
    u8 lu8Quiet[8192];
    // The packet in hand: its header is decoded only when something is printed for it.
    const u8 *lu8Bytes;
    TS_Packet tPacket;
    bool bDecoded;
    bool bSeparatorPending;
    // Where the packet in hand stands, for the JSON blocks: its index among the packets read
    // (from 0), and the file offset of its sync byte, worked out from the read loop's count of
    // bytes read and the packet's place in the stream buffer, which holds the last bytes read.
    u64 u64Index;
    const TS_Sync *pSync;
    const TS_Data *pState;
    TS_Json tJson;
};

TS_Dump g_tDump;

// With TS_PRINT_CHANGES: the last section printed on each PID, so that the repeats (tables come
// again every 100 ms or so in a broadcast) are left out; on the SI PIDs, whose tables take turns,
// the last of each table and section (the key). PIDs and keys beyond the table's capacity have
// every section printed.
struct TS_DumpRepeats {
    struct Last {
        u16 u16PID;
        u32 u32Key;
        u16 u16Length;
        u8 lu8Section[TS_SECTION_CAPACITY];
    };
    u16 u16Count;
    Last ltLast[64];
    u64 u64LeftOut;
};

TS_DumpRepeats g_tRepeats;

// Where a section that fails the gate is decoded to be printed: it is shown as it came, but
// the PID roles and the tables in force stay those of the sections before it.
union TS_DumpScratch {
    TS_PAT tPAT;
    TS_CAT tCAT;
    TS_PMT tPMT;
};
TS_DumpScratch g_tScratch;

// The service information the dump follows (TS_PRINT_SDT, TS_PRINT_NIT, TS_PRINT_PROGRAMS): the
// sections on PIDs 0x0011 and 0x0010, the services of the actual SDT for the program list, and
// the text family the names are decoded with, from what the recording has shown so far.
struct TS_DumpSI {
    TS_PreSection tSDTSection;
    TS_PreSection tNITSection;
    TS_SDT tSDT;
    TS_NIT tNIT;
    TS_SDTServices tServices;
    TS_FamilyVote tFamily;
};
TS_DumpSI g_tDumpSI;
constexpr int kSIBits = TS_PRINT_SDT | TS_PRINT_NIT | TS_PRINT_PROGRAMS;

// Whether the dump follows the packets of pid as service information under the mask.
bool TS_Dump_FollowsSI(int mask, u16 pid)
{
    return (mask & kSIBits) && (pid == 0x0010 || pid == 0x0011 || TS_FamilyVote_WatchesPID(pid));
}

// Starts a block of output for the packet in hand: one separator before its first block (the
// JSON blocks have none).
const TS_Packet *TS_Dump_Begin(TS_Dump *dump)
{
    if (dump->bSeparatorPending) {
        TS_Text_Puts(kSeparator);
        dump->bSeparatorPending = false;
    }
    if (!dump->bDecoded) {
        TS_Packet_Get(&dump->tPacket, dump->lu8Bytes);
        dump->bDecoded = true;
    }
    return &dump->tPacket;
}

bool TS_Dump_InJSON(const TS_Dump *dump) { return (dump->s32Mask & TS_PRINT_JSON) != 0; }

u64 TS_Dump_Offset(const TS_Dump *dump)
{
    const TS_Data *state = dump->pState;
    return dump->pSync->u64BytesRead - state->u64Size + u64(dump->lu8Bytes - state->lu8Stream);
}

// A block for the packet in hand. Text: the header line of the packet when the block is a
// table or a clock reference (the packet that completed the section or carried the PCR), then
// text(). JSON: one object on a line with the block's type, where the packet stands, its header
// fields, and what json(TS_Json *) writes.
template <class Text, class Json>
void TS_Dump_Block(TS_Dump *dump, const char *type, bool header_line, Text &&text, Json &&json)
{
    const TS_Packet *packet = TS_Dump_Begin(dump);
    if (!TS_Dump_InJSON(dump)) {
        if (header_line)
            TS_Packet_PrintHeader(packet);
        text();
        return;
    }
    TS_Json *out = &dump->tJson;
    TS_Json_ObjectBegin(out);
    TS_Json_StringField(out, "type", type);
    TS_Json_NumberField(out, "packet_index", dump->u64Index);
    TS_Json_NumberField(out, "byte_offset", TS_Dump_Offset(dump));
    TS_Packet_PrintJSON(out, packet);
    json(out);
    TS_Json_ObjectEnd(out);
    TS_Json_EndLine(out);
}

// A packet reported for its own sake (every packet, or a stream's).
void TS_Dump_Packet(TS_Dump *dump)
{
    TS_Dump_Block(
        dump, "packet", false, [dump] { TS_Packet_Print(&dump->tPacket); }, [](TS_Json *) {});
}

// Whether the CRC_32 of a complete section checks: over a whole section, its own CRC_32
// included, it leaves 0.
bool TS_Dump_CRCHolds(const TS_PreSection *section)
{
    return GetCRC32(0xFFFFFFFF, section->lu8Section, TS_PreSection_Extent(section)) == 0;
}

// Whether the table block of the section completed on pid is to be printed: always, unless
// only changes are printed and its bytes are those of the last section printed on pid under key.
bool TS_Dump_Wanted(TS_Dump *dump, u16 pid, const TS_PreSection *section, u32 key = 0)
{
    if (!(dump->s32Mask & TS_PRINT_CHANGES))
        return true;
    TS_DumpRepeats *repeats = &g_tRepeats;
    const u32 length = TS_PreSection_Extent(section);
    u16 i = 0;
    while (i < repeats->u16Count && (repeats->ltLast[i].u16PID != pid || repeats->ltLast[i].u32Key != key))
        ++i;
    if (i == repeats->u16Count) {
        if (repeats->u16Count >= sizeof repeats->ltLast / sizeof repeats->ltLast[0])
            return true;
        ++repeats->u16Count;
        repeats->ltLast[i].u16PID = pid;
        repeats->ltLast[i].u32Key = key;
        repeats->ltLast[i].u16Length = 0xFFFF;  // nothing printed yet
    }
    TS_DumpRepeats::Last &last = repeats->ltLast[i];
    if (last.u16Length == length && std::memcmp(last.lu8Section, section->lu8Section, length) == 0) {
        ++repeats->u64LeftOut;
        return false;
    }
    last.u16Length = u16(length);
    std::memcpy(last.lu8Section, section->lu8Section, length);
    return true;
}

// The roles of the PIDs may have changed: every PID is looked at again.
void TS_Dump_RolesChanged(TS_Dump *dump) { std::memset(dump->lu8Quiet, 0, sizeof dump->lu8Quiet); }

// The tracks follow what the new PAT announces at each position; a position whose program or
// PMT PID changed starts its reassembly afresh. Decoded PMTs stay until replaced.
void TS_Dump_OnPAT(TS_Dump *dump, TS_Data *state)
{
    const TS_PAT &pat = state->tPAT;
    const u16 count = pat.u16ProgramCount < TS_MAX_PROGRAMS ? pat.u16ProgramCount : TS_MAX_PROGRAMS;
    for (u16 k = 0; k < count; ++k) {
        const TS_PATProgram &program = pat.ltProgram[k];
        if (program.program_number != 0)
            TS_PMTTrack_Follow(&dump->ltTrack[k], &state->ltPMTSection[k], program.PID, program.program_number, false);
        else
            TS_PMTTrack_Follow(&dump->ltTrack[k], &state->ltPMTSection[k], TS_NO_PID, 0, false);
    }
    TS_PIDMap_Build(&dump->tMap, &pat, state->ltPMT);
    TS_Dump_RolesChanged(dump);
}

void TS_Dump_OnCAT(TS_Dump *dump, TS_Data *state)
{
    u16 emm_pid = TS_NO_PID;
    TS_GetCAPIDFromCAT(&emm_pid, &state->tCAT);
    if (emm_pid != dump->u16EMMPID)
        TS_PreSection_Initialise(&state->tEMMSection);  // an EMM in progress was on the old PID
    dump->u16EMMPID = emm_pid;
    TS_Dump_RolesChanged(dump);
}

// What the dump does with a PAT or a CAT: its block's JSON type and selection bit, its decoder,
// its text and JSON forms, and what follows a new table in force.
template <class Table> struct TS_DumpTable {
    const char *strType;  // the JSON block's type
    int s32PrintBit;
    int (*pfnDecode)(Table *, const TS_PreSection *);
    int (*pfnPrint)(const Table *);
    void (*pfnPrintJSON)(TS_Json *, const Table *, bool);
    void (*pfnOnNew)(TS_Dump *, TS_Data *);
};

// A PAT or CAT section completed on pid. One that passes the gate becomes the table in force
// (pfnOnNew follows it); one that fails is decoded aside, only to be printed as it came.
template <class Table>
void TS_Dump_OnTable(TS_Dump *dump, TS_Data *state, u16 pid, const TS_PreSection *section, Table *in_force,
                     Table *scratch, const TS_DumpTable<Table> &kind)
{
    const bool trusted = TS_SectionGate_Accept(&dump->tGate, pid, section);
    Table *table = trusted ? in_force : scratch;
    kind.pfnDecode(table, section);
    if (trusted)
        kind.pfnOnNew(dump, state);
    if ((dump->s32Mask & kind.s32PrintBit) && TS_Dump_Wanted(dump, pid, section))
        TS_Dump_Block(
            dump, kind.strType, true, [&] { kind.pfnPrint(table); },
            [&](TS_Json *json) { kind.pfnPrintJSON(json, table, TS_Dump_CRCHolds(section)); });
}

constexpr TS_DumpTable<TS_PAT> kDumpPAT = {
    "pat", TS_PRINT_PAT, TS_PAT_FromPreSection, TS_PAT_Print, TS_PAT_PrintJSON, TS_Dump_OnPAT,
};
constexpr TS_DumpTable<TS_CAT> kDumpCAT = {
    "cat", TS_PRINT_CAT, TS_CAT_FromPreSection, TS_CAT_Print, TS_CAT_PrintJSON, TS_Dump_OnCAT,
};

// A packet on the PMT PID of the positions given. Each position takes only its own program's
// sections; the PMT is printed once even when two positions decode the same section.
void TS_Dump_OnPMTPacket(TS_Dump *dump, TS_Data *state, const u8 *packet, u16 pid, u32 positions)
{
    bool printed = false;
    bool decoded = false;
    for (; positions != 0; positions &= positions - 1) {
        const int k = TS_FirstPosition(positions);
        // Nothing is written: the track need not hold packets.
        const TS_PMTOffer offer = TS_PMTTrack_Offer(&dump->ltTrack[k], &state->ltPMTSection[k], packet, true);
        if (offer != TS_PMT_COMPLETE)
            continue;
        const bool trusted = TS_SectionGate_Accept(&dump->tGate, pid, &state->ltPMTSection[k]);
        TS_PMT *pmt = trusted ? &state->ltPMT[k] : &g_tScratch.tPMT;
        TS_PMT_FromPreSection(pmt, &state->ltPMTSection[k], pid);
        if (trusted)
            TS_FamilyVote_NotePMT(&g_tDumpSI.tFamily, pmt);
        const TS_PreSection *section = &state->ltPMTSection[k];
        if (!printed && (dump->s32Mask & TS_PRINT_PMT) && TS_Dump_Wanted(dump, pid, section))
            TS_Dump_Block(
                dump, "pmt", true, [pmt] { TS_PMT_Print(pmt); },
                [pmt, section](TS_Json *json) { TS_PMT_PrintJSON(json, pmt, TS_Dump_CRCHolds(section)); });
        printed = true;
        decoded = decoded || trusted;
    }
    if (decoded) {
        TS_PIDMap_Build(&dump->tMap, &state->tPAT, state->ltPMT);
        TS_Dump_RolesChanged(dump);
    }
}

// A packet of an ECM or EMM PID: the section it completes, if wanted, decoded and printed.
void TS_Dump_OnPrivatePacket(TS_Dump *dump, u16 pid, const u8 *packet, TS_PreSection *section,
                             TS_PrivateSection *record, const char *type, int (*print)(const TS_PrivateSection *),
                             void (*print_json)(TS_Json *, const TS_PrivateSection *, bool))
{
    if (TS_Section_ImportPreSection(section, packet) < 0 || !section->u8Complete || !TS_Dump_Wanted(dump, pid, section))
        return;
    TS_Section_PrivateFromPreSection(record, section);
    TS_Dump_Block(
        dump, type, true, [&] { print(record); },
        [&](TS_Json *json) { print_json(json, record, TS_Dump_CRCHolds(section)); });
}

// ---- Service information --------------------------------------------------------------------

// A section on an SI PID, completed and of one of the tables asked for: decoded (and, when the
// gate passes it, taken into the text family), then printed when wanted. Returns whether the
// gate passed it.
template <class Table>
bool TS_Dump_OnSISection(TS_Dump *dump, u16 pid, const TS_PreSection *section, Table *table, int print_bit,
                         const char *type, int (*decode)(Table *, const TS_PreSection *),
                         void (*note)(TS_FamilyVote *, const Table *), int (*print)(const Table *, int),
                         void (*print_json)(TS_Json *, const Table *, bool, int))
{
    TS_DumpSI *si = &g_tDumpSI;
    const bool trusted = TS_SectionGate_Accept(&dump->tGate, pid, section);
    decode(table, section);
    if (trusted)
        note(&si->tFamily, table);
    if (!(dump->s32Mask & print_bit))
        return trusted;
    // The repeats of each table and section are told apart: an SDT's sections take turns.
    const u8 *bytes = section->lu8Section;
    const u32 key = (u32(bytes[0]) << 24) | (u32(TS_Read16(bytes + 3)) << 8) | bytes[6];
    if (!TS_Dump_Wanted(dump, pid, section, key))
        return trusted;
    const int family = TS_FamilyVote_Family(&si->tFamily);
    TS_Dump_Block(
        dump, type, true, [&] { print(table, family); },
        [&](TS_Json *json) { print_json(json, table, TS_Dump_CRCHolds(section), family); });
    return trusted;
}

// A packet of PID 0x0011 (SDT) or 0x0010 (NIT), or of a PID where ISDB broadcasts send tables of
// their own (for the text family).
void TS_Dump_OnSIPacket(TS_Dump *dump, u16 pid, const u8 *packet)
{
    TS_DumpSI *si = &g_tDumpSI;
    if (TS_FamilyVote_WatchesPID(pid)) {
        TS_FamilyVote_NotePacket(&si->tFamily, packet);
        return;
    }
    if (pid == 0x0011) {
        TS_PreSection *section = &si->tSDTSection;
        // Only the SDTs: the BATs that share the PID are left alone.
        if (TS_SDT_ImportPreSection(section, packet) < 0 || !section->u8Complete ||
            (section->lu8Section[0] != 0x42 && section->lu8Section[0] != 0x46))
            return;
        const bool trusted =
            TS_Dump_OnSISection(dump, pid, section, &si->tSDT, TS_PRINT_SDT, "sdt", TS_SDT_FromPreSection,
                                TS_FamilyVote_NoteSDT, TS_SDT_Print, TS_SDT_PrintJSON);
        // The actual SDT's services, for the program list.
        if (trusted && si->tSDT.table_id == 0x42)
            TS_SDTServices_Add(&si->tServices, &si->tSDT);
        return;
    }
    TS_PreSection *section = &si->tNITSection;
    if (TS_NIT_ImportPreSection(section, packet) < 0 || !section->u8Complete ||
        (section->lu8Section[0] != 0x40 && section->lu8Section[0] != 0x41))
        return;
    TS_Dump_OnSISection(dump, pid, section, &si->tNIT, TS_PRINT_NIT, "nit", TS_NIT_FromPreSection,
                        TS_FamilyVote_NoteNIT, TS_NIT_Print, TS_NIT_PrintJSON);
}

// The program list: each program of the last PAT, its PMT PID and the name of its service.
void TS_Dump_PrintPrograms(TS_Dump *dump, const TS_Data *state)
{
    const TS_DumpSI *si = &g_tDumpSI;
    const TS_PAT &pat = state->tPAT;
    const int family = TS_FamilyVote_Family(&si->tFamily);
    const bool sdt = pat.u8Valid && si->tServices.u8Valid && si->tServices.table_id == 0x42 &&
                     si->tServices.transport_stream_id == pat.transport_stream_id;
    const u16 count = !pat.u8Valid ? 0 : pat.u16ProgramCount < TS_MAX_PROGRAMS ? pat.u16ProgramCount : TS_MAX_PROGRAMS;
    auto service_of = [&](const TS_PATProgram &program) {
        return sdt ? TS_SDTServices_Find(&si->tServices, program.program_number) : nullptr;
    };
    if (TS_Dump_InJSON(dump)) {
        TS_Json *json = &dump->tJson;
        TS_Json_ObjectBegin(json);
        TS_Json_StringField(json, "type", "programs");
        TS_Json_StringField(json, "charset", family == TS_TEXT_ARIB ? "arib" : "dvb");
        TS_Json_Key(json, "programs");
        TS_Json_ArrayBegin(json);
        for (u16 k = 0; k < count; ++k) {
            const TS_PATProgram &program = pat.ltProgram[k];
            if (program.program_number == 0)
                continue;
            TS_Json_ObjectBegin(json);
            TS_Json_NumberField(json, "program_number", program.program_number);
            TS_Json_NumberField(json, "pmt_pid", program.PID);
            const TS_SDTService *service = service_of(program);
            if (service != nullptr && service->u8HasServiceDescriptor) {
                char name[TS_SI_NAME_TEXT];
                TS_SI_NameToUTF8(name, service->lu8ServiceName, service->u8ServiceNameCount, family);
                TS_Json_StringField(json, "service_name", name);
            } else {
                TS_Json_Key(json, "service_name");
                TS_Json_Null(json);
            }
            TS_Json_ObjectEnd(json);
        }
        TS_Json_ArrayEnd(json);
        TS_Json_ObjectEnd(json);
        TS_Json_EndLine(json);
        return;
    }
    TS_Text_Puts(kSeparator);
    TS_Text_Puts("Program List:");
    for (u16 k = 0; k < count; ++k) {
        const TS_PATProgram &program = pat.ltProgram[k];
        if (program.program_number == 0)
            continue;
        TS_Text_Printf("  ProgramNumber:%d PID:0x%04X", program.program_number, program.PID);
        const TS_SDTService *service = service_of(program);
        if (service != nullptr && service->u8HasServiceDescriptor)
            TS_SI_PrintName("ServiceName", service->lu8ServiceName, service->u8ServiceNameCount, family);
        else
            TS_Text_Printf(" ServiceName:-");
        TS_Text_Putchar('\n');
    }
}

// A PCR is there only when the adaptation field is present, long enough for its flags byte and
// the six PCR bytes, and has PCR_flag set (ISO/IEC 13818-1 2.4.3.4).
bool TS_Dump_CarriesPCR(const u8 *packet)
{
    return (packet[3] & 0x20) != 0 && packet[4] >= 7 && (packet[5] & 0x10) != 0;
}

// Whether the packets of pid print nothing and change nothing under the mask, with the roles
// and the EMM PID in force: the mirror of what TS_Dump_Take looks at.
bool TS_Dump_IsQuiet(const TS_Dump *dump, u16 pid)
{
    const int mask = dump->s32Mask;
    if ((mask & TS_PRINT_PACKETS) || ((mask & TS_PRINT_PIDS) && !dump->lu8Listed[pid]) || pid == 0x0000 ||
        pid == 0x0001)
        return false;
    if (TS_Dump_FollowsSI(mask, pid))
        return false;
    const TS_PIDRoles roles = dump->tMap.ltRole[pid];
    return roles.u16PMT == 0 && !((mask & TS_PRINT_PCR) && roles.u16PCR != 0) &&
           !((mask & TS_PRINT_ECM) && roles.u16CA != 0) && !((mask & TS_PRINT_EMM) && pid == dump->u16EMMPID) &&
           !((mask & TS_PRINT_ES) && roles.u16Stream != 0);
}

void TS_Dump_Take(TS_Dump *dump, TS_Data *state, const u8 *packet, u16 pid);

void TS_Dump_OnPacket(TS_Dump *dump, TS_Data *state, const u8 *packet)
{
    const u16 pid = TS_Read13(packet + 1);
    ++dump->u64Index;  // from ~0: the first packet is 0
    if (dump->lu8Quiet[pid])
        return;
    TS_Dump_Take(dump, state, packet, pid);
    dump->lu8Quiet[pid] = TS_Dump_IsQuiet(dump, pid);
}

// A packet that may print something or change the tables in force.
void TS_Dump_Take(TS_Dump *dump, TS_Data *state, const u8 *packet, u16 pid)
{
    const int mask = dump->s32Mask;
    dump->lu8Bytes = packet;
    dump->bDecoded = false;
    dump->bSeparatorPending = !TS_Dump_InJSON(dump);

    if ((mask & TS_PRINT_PIDS) && !dump->lu8Listed[pid]) {
        dump->lu8Listed[pid] = 1;
        // The list holds TS_MAX_LISTED_PIDS PIDs; later newcomers are left out.
        if (state->u16PIDCount < TS_MAX_LISTED_PIDS)
            state->lu16PID[state->u16PIDCount++] = pid;
    }
    if (mask & TS_PRINT_PACKETS)
        TS_Dump_Packet(dump);

    if (pid == 0x0000) {
        if (TS_PAT_ImportPreSection(&state->tPATSection, packet) >= 0 && state->tPATSection.u8Complete)
            TS_Dump_OnTable(dump, state, pid, &state->tPATSection, &state->tPAT, &g_tScratch.tPAT, kDumpPAT);
        return;
    }
    if (pid == 0x0001 && TS_CAT_ImportPreSection(&state->tCATSection, packet) >= 0 && state->tCATSection.u8Complete)
        TS_Dump_OnTable(dump, state, pid, &state->tCATSection, &state->tCAT, &g_tScratch.tCAT, kDumpCAT);
    if (TS_Dump_FollowsSI(mask, pid))
        TS_Dump_OnSIPacket(dump, pid, packet);
    // Programs are known only from a PAT.
    if (!state->tPAT.u8Valid)
        return;

    if (dump->tMap.ltRole[pid].u16PMT != 0)
        TS_Dump_OnPMTPacket(dump, state, packet, pid, dump->tMap.ltRole[pid].u16PMT);
    // The rest of the packet is looked at under the roles that a PMT it completed gives.
    const TS_PIDRoles roles = dump->tMap.ltRole[pid];

    if ((mask & TS_PRINT_PCR) && roles.u16PCR != 0 && TS_Dump_CarriesPCR(packet)) {
        // The clock of the first program in PAT order that names this PCR_PID.
        TS_PCR *pcr = &state->ltPCR[TS_FirstPosition(roles.u16PCR)];
        TS_PCR_Import(pcr, packet + 5);
        TS_Dump_Block(
            dump, "pcr", true, [pcr] { TS_PCR_Print(pcr); }, [pcr](TS_Json *json) { TS_PCR_PrintJSON(json, pcr); });
    }

    // One buffer serves every program's CA PID: a section named by two PMTs prints once.
    if ((mask & TS_PRINT_ECM) && roles.u16CA != 0)
        TS_Dump_OnPrivatePacket(dump, pid, packet, &state->tPrivateSection, &state->tPrivate, "ecm",
                                TS_Section_PrintPrivate, TS_Section_PrintPrivateJSON);
    // Every section on the CAT's CA PID counts as an EMM, whatever its table_id.
    if ((mask & TS_PRINT_EMM) && state->tCAT.u8Valid && pid == dump->u16EMMPID)
        TS_Dump_OnPrivatePacket(dump, pid, packet, &state->tEMMSection, &state->tEMM, "emm", TS_Section_PrintEMM,
                                TS_Section_PrintEMMJSON);

    if ((mask & TS_PRINT_ES) && roles.u16Stream != 0)
        TS_Dump_Packet(dump);
}

// The end of the run: the program list, the PID list, and with TS_PRINT_CHANGES the count of
// repeats left out.
void TS_Dump_Finish(TS_Dump *dump, const TS_Data *state)
{
    const int mask = dump->s32Mask;
    if (mask & TS_PRINT_PROGRAMS)
        TS_Dump_PrintPrograms(dump, state);
    if (TS_Dump_InJSON(dump)) {
        TS_Json *json = &dump->tJson;
        if (mask & TS_PRINT_PIDS) {
            TS_Json_ObjectBegin(json);
            TS_Json_StringField(json, "type", "pids");
            TS_Json_Key(json, "pids");
            TS_Json_ArrayBegin(json);
            for (u16 i = 0; i < state->u16PIDCount; ++i)
                TS_Json_Number(json, state->lu16PID[i]);
            TS_Json_ArrayEnd(json);
            TS_Json_ObjectEnd(json);
            TS_Json_EndLine(json);
        }
        if (mask & TS_PRINT_CHANGES) {
            TS_Json_ObjectBegin(json);
            TS_Json_StringField(json, "type", "summary");
            TS_Json_NumberField(json, "repeats_left_out", g_tRepeats.u64LeftOut);
            TS_Json_ObjectEnd(json);
            TS_Json_EndLine(json);
        }
        return;
    }
    if (mask & TS_PRINT_PIDS) {
        TS_Text_Puts(kSeparator);
        TS_Text_Puts("PID List:");
        for (u16 i = 0; i < state->u16PIDCount; ++i)
            TS_Text_Printf("  0x%04X,\n", state->lu16PID[i]);
    }
    if (mask & TS_PRINT_CHANGES) {
        TS_Text_Puts(kSeparator);
        TS_Text_Printf("Repeated tables left out: %llu\n", (unsigned long long)g_tRepeats.u64LeftOut);
    }
}

// A fresh dump for the mask; the PIDs and the tables of the run before are forgotten.
void TS_Dump_Start(TS_Dump *dump, TS_Data *state, int mask)
{
    TS_Data_Reset(state);
    std::memset(dump, 0, sizeof *dump);
    dump->s32Mask = mask;
    dump->u16EMMPID = TS_NO_PID;
    dump->u64Index = ~u64(0);
    TS_Json_Start(&dump->tJson);
    for (TS_PMTTrack &track : dump->ltTrack)
        TS_PMTTrack_Start(&track, nullptr, nullptr, 0);
    g_tRepeats.u16Count = 0;
    g_tRepeats.u64LeftOut = 0;
    TS_DumpSI *si = &g_tDumpSI;
    TS_PreSection_Initialise(&si->tSDTSection);
    TS_PreSection_Initialise(&si->tNITSection);
    TS_SDTServices_Initialise(&si->tServices);
    TS_FamilyVote_Start(&si->tFamily);
}

// What the entry points take: TS_Print the bits 0x001 to 0x100, TS_Dump the further selections.
constexpr int kPrintBits = TS_PRINT_PACKETS | TS_PRINT_PAT | TS_PRINT_CAT | TS_PRINT_PMT | TS_PRINT_ECM | TS_PRINT_EMM |
                           TS_PRINT_ES | TS_PRINT_PIDS | TS_PRINT_PCR;
constexpr int kDumpBits =
    kPrintBits | TS_PRINT_SDT | TS_PRINT_NIT | TS_PRINT_CHANGES | TS_PRINT_JSON | TS_PRINT_PROGRAMS;

int TS_Dump_Run(const char *path, int mask)
{
    if (path == nullptr)
        return -1;
    TS_Data *state = &g_tData;
    TS_Dump *dump = &g_tDump;
    TS_Dump_Start(dump, state, mask);

    const int fd = TS_Input_Open(path);
    if (fd < 0)
        return -2;
    TS_Sync sync = {};
    dump->pSync = &sync;
    dump->pState = state;
    const int result =
        TS_Stream_Run(&sync, fd, path, state->lu8Stream, &state->u64Size, &state->u64Pos, [&](const u8 *packet) {
            TS_Dump_OnPacket(dump, state, packet);
            return true;
        });
    TS_Input_Close(fd);

    // A read error ends the run as the end of the file would: the PIDs met so far are listed.
    TS_Dump_Finish(dump, state);
    return result;
}

}  // namespace

int TS_Print(const char *path, int mask) { return TS_Dump_Run(path, mask & kPrintBits); }

int TS_Dump(const char *path, const TS_DumpOptions *options)
{
    return options == nullptr ? -1 : TS_Dump_Run(path, options->s32Mask & kDumpBits);
}
