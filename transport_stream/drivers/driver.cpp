// Pieces shared by the whole-stream drivers: PMT tracks, the PID role map, output files.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

#include <pidsift/demux.h>

#include "drivers/driver.h"
#include "psi/walk.h"

namespace {

// Names longer than PATH_MAX could not be opened anyway.
constexpr u32 TS_NAME_CAPACITY = 4096;

// True when path names the file open on input_fd: writing there would destroy the recording.
bool TS_Output_IsInput(const char *path, int input_fd)
{
    struct stat input_status, output_status;
    return fstat(input_fd, &input_status) == 0 && stat(path, &output_status) == 0 &&
           input_status.st_dev == output_status.st_dev && input_status.st_ino == output_status.st_ino;
}

// Keeps a packet. Capacities are chosen so that a section the reassembly buffer accepts never
// needs more; a packet beyond them gives the section up.
bool TS_PMTTrack_Keep(TS_PMTTrack *track, const u8 *packet, TS_KeptKind kind)
{
    if (track->u32Count >= track->u32Capacity)
        return false;
    std::memcpy(track->pKept[track->u32Count], packet, TS_PACKET_SIZE);
    track->pKind[track->u32Count] = kind;
    ++track->u32Count;
    track->u32Sections += kind == TS_KEPT_SECTION;
    return true;
}

// The kept packets of the section in progress become of kind to: BROKEN when it is given up,
// OUTPUT when it turns out to be the program's.
void TS_PMTTrack_Settle(TS_PMTTrack *track, TS_KeptKind to)
{
    for (u32 i = 0; i < track->u32Count && track->u32Sections != 0; ++i)
        if (track->pKind[i] == TS_KEPT_SECTION) {
            track->pKind[i] = to;
            --track->u32Sections;
        }
}

void TS_PIDMap_Set(TS_PIDMap *map, u16 pid, u16 TS_PIDRoles::*role, u16 k)
{
    TS_PIDRoles &roles = map->ltRole[pid];
    if (roles.u16PMT == 0 && TS_PIDRoles_Members(roles) == 0) {
        if (map->u16Touched >= sizeof map->lu16Touched / sizeof map->lu16Touched[0])
            return;  // cannot happen: the array holds every PID the positions can name
        map->lu16Touched[map->u16Touched++] = pid;
    }
    roles.*role = u16(roles.*role | (1u << k));
}

}  // namespace

void TS_PMTTrack_Start(TS_PMTTrack *track, u8 (*section_store)[TS_PACKET_SIZE], u8 *kinds, u32 capacity)
{
    track->u16PID = TS_NO_PID;
    track->u16ProgramNumber = 0;
    track->bShared = false;
    track->u32Count = 0;
    track->u32Sections = 0;
    if (section_store != nullptr) {
        track->pKept = section_store;
        track->pKind = kinds;
        track->u32Capacity = capacity;
    } else {
        track->pKept = track->lu8Held;
        track->pKind = track->lu8HeldKind;
        track->u32Capacity = TS_HELD_PACKETS;
    }
}

void TS_PMTTrack_Follow(TS_PMTTrack *track, TS_PreSection *section, u16 pid, u16 program_number, bool shared)
{
    track->bShared = shared;
    if (track->u16PID == pid && track->u16ProgramNumber == program_number)
        return;
    TS_PMTTrack_Settle(track, TS_KEPT_BROKEN);
    TS_PreSection_Initialise(section);
    track->u16PID = pid;
    track->u16ProgramNumber = program_number;
}

TS_PMTOffer TS_PMTTrack_Offer(TS_PMTTrack *track, TS_PreSection *section, const u8 *packet, bool written_anyway)
{
    const int result = TS_PMT_ImportPreSection(section, packet);
    // Nothing for the section (no payload): the section in progress and what is kept stay.
    if (result == -5)
        return TS_PMT_IGNORED;
    if (result < 0 || (packet[1] & 0x40) != 0) {
        // A failed import drops the section; a new section start ends an unfinished one.
        TS_PMTTrack_Settle(track, TS_KEPT_BROKEN);
        if (result < 0)
            return TS_PMT_IGNORED;
    }
    const bool keeps_sections = track->pKept != track->lu8Held;
    const bool header_known = section->u16Collected >= 5;
    if (header_known && TS_Read16(section->lu8Section + 3) != track->u16ProgramNumber) {
        TS_PMTTrack_Settle(track, TS_KEPT_BROKEN);
        return TS_PMT_IGNORED;
    }
    // Only the program number of a shared PID can make the packet another program's.
    const bool keep = keeps_sections || (!header_known && track->bShared && !written_anyway);
    if (keep && !TS_PMTTrack_Keep(track, packet, TS_KEPT_SECTION)) {
        TS_PMTTrack_Settle(track, TS_KEPT_BROKEN);
        TS_PreSection_Initialise(section);
        return TS_PMT_IGNORED;
    }
    if (!header_known)
        return keep ? TS_PMT_HELD : TS_PMT_TAKEN;
    if (!keeps_sections)
        TS_PMTTrack_Settle(track, TS_KEPT_OUTPUT);
    return section->u8Complete ? TS_PMT_COMPLETE : TS_PMT_TAKEN;
}

void TS_PIDMap_Build(TS_PIDMap *map, const TS_PAT *pat, const TS_PMT *pmts)
{
    for (u16 i = 0; i < map->u16Touched; ++i)
        map->ltRole[map->lu16Touched[i]] = TS_PIDRoles{};
    map->u16Touched = 0;
    static constexpr u16 TS_PIDRoles::*kRoleOf[] = {&TS_PIDRoles::u16PCR, &TS_PIDRoles::u16CA, &TS_PIDRoles::u16Stream};
    const u16 count = pat->u16ProgramCount < TS_MAX_PROGRAMS ? pat->u16ProgramCount : TS_MAX_PROGRAMS;
    for (u16 k = 0; k < count; ++k) {
        // PID 0x0000 is the PAT's, whatever an entry says.
        const u16 pmt_pid = pat->ltProgram[k].PID & 0x1FFF;
        if (pat->ltProgram[k].program_number != 0 && pmt_pid != 0x0000 && pmt_pid != 0x1FFF)
            TS_PIDMap_Set(map, pmt_pid, &TS_PIDRoles::u16PMT, k);
        if (pmts[k].u8Valid)
            TS_PMT_ForEachMember(pmts[k],
                                 [&](u16 pid, TS_MemberRole role) { TS_PIDMap_Set(map, pid, kRoleOf[role], k); });
    }
}

void TS_SectionGate_Reset(TS_SectionGate *gate) { std::memset(gate->lu8Trusted, 0, sizeof gate->lu8Trusted); }

bool TS_SectionGate_Accept(TS_SectionGate *gate, u16 pid, const TS_PreSection *section)
{
    // The CRC_32 over a whole section, its own CRC_32 included, leaves 0 (ISO/IEC 13818-1 Annex A).
    const bool intact = GetCRC32(0xFFFFFFFF, section->lu8Section, TS_PreSection_Extent(section)) == 0;
    u8 &trusted = gate->lu8Trusted[pid & 0x1FFF];
    if (intact)
        trusted = 1;
    return intact || !trusted;
}

void TS_SimpleData_Keep(const std::vector<u8> &pat_section, const std::vector<u8> &pmt_section, u16 pmt_pid)
{
    TS_SimpleData *state = &g_tSimpleData;
    TS_SimpleData_Reset(state);
    TS_Record_FromSection(&state->tPAT, &state->tPATSection, pat_section,
                          [](TS_PAT *pat, const TS_PreSection *section) { TS_PAT_FromPreSection(pat, section); });
    TS_Record_FromSection(
        &state->tPMT, &state->tPMTSection, pmt_section,
        [pmt_pid](TS_PMT *pmt, const TS_PreSection *section) { TS_PMT_FromPreSection(pmt, section, pmt_pid); });
}

namespace pidsift {

RunOutputs::RunOutputs(const RunSettings *settings, int input_fd)
    : m_pSettings(settings), m_tQueue(TS_Reporter{settings}), m_s32Input(input_fd)
{
}

bool RunOutputs::Open(OutputFile *file, u8 *block, u32 capacity, const std::string &path)
{
    TS_Writer *writer = &file->tWriter;
    bool created = false;
    int error_number = ENAMETOOLONG;
    if (path.size() < TS_NAME_CAPACITY) {
        error_number = 0;  // the input itself
        if (!TS_Output_IsInput(path.c_str(), m_s32Input)) {
            file->strName = path;
            if (TS_Writer_Open(writer, &m_tQueue, file->strName.c_str(), block, capacity, &created) == 0) {
                if (m_pSettings != nullptr && m_pSettings->output_opened)
                    m_pSettings->output_opened(file->strName.c_str(), created);
                return true;
            }
            error_number = errno;
        }
    }
    writer->s32FD = -1;
    Reporter().Fail(TS_FAILED_CREATE, path.c_str(), error_number);
    return false;
}

void RunOutputs::Attach(OutputFile *file, int fd, u8 *block, u32 capacity)
{
    file->strName.clear();
    TS_Writer_Attach(&file->tWriter, &m_tQueue, fd, nullptr, block, capacity);
}

int RunOutputs::Close(OutputFile *file)
{
    const bool open = file->IsOpen();
    const int result = TS_Writer_Close(&file->tWriter);
    if (open && result == 0 && m_pSettings != nullptr && m_pSettings->output_done && !file->strName.empty())
        m_pSettings->output_done(file->strName.c_str());
    return result;
}

std::string SplitBaseName(const char *path, const RunSettings *settings)
{
    if (settings != nullptr && !settings->split_base.empty())
        return settings->split_base;
    std::string base(std::strlen(path) + 1, '\0');
    if (GetBaseFileName(base.data(), path) != 0)
        return {};
    base.resize(std::strlen(base.c_str()));
    return base;
}

}  // namespace pidsift

void TS_PAT_ReducedPacket(u8 *out, const std::vector<u8> &pat_section, size_t entry, const u8 *pat_packet)
{
    TS_PAT reduced = {};
    TS_ByteReader reader(pat_section.data(), u32(pat_section.size()));
    const TS_SectionHeader header = TS_Section_ReadHeader(&reduced, &reader, TS_SectionForm::Long);
    reduced.transport_stream_id = header.table_id_extension;
    TS_PATProgram network = {};
    TS_PATProgram program = {};
    bool has_network = false;
    size_t index = 0;
    TS_PAT_WalkPrograms(header, reader, [&](const TS_PATProgram &each) {
        if (each.program_number == 0 && !has_network) {
            network = each;
            has_network = true;
        }
        if (index++ == entry)
            program = each;
        return true;
    });
    if (has_network)
        reduced.ltProgram[reduced.u16ProgramCount++] = network;
    reduced.ltProgram[reduced.u16ProgramCount++] = program;
    // section_length: the header after the length, the loop and the CRC_32.
    reduced.section_length = u16(5 + 4 * reduced.u16ProgramCount + 4);
    TS_Packet packet_header;
    TS_Packet_Get(&packet_header, pat_packet);
    packet_header.transport_error_indicator = 0;
    packet_header.payload_unit_start_indicator = 1;
    packet_header.adaptation_field_control = 1;
    TS_PAT_ToPacket(out, &packet_header, &reduced);
}
