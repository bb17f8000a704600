// The demux's section side: the slots of the PIDs whose sections are collected, the CRC gate,
// the tables in force, which packets carried a program's PMT sections, and the routes.
#include "demux/demux_core.h"

#include <algorithm>

#include "psi/si.h"
#include "psi/walk.h"

namespace pidsift {

namespace {

// What a PID's sections are collected for.
constexpr u8 kForPAT = 0x01;
constexpr u8 kForCAT = 0x02;
constexpr u8 kForPMT = 0x04;
constexpr u8 kForSDT = 0x08;
constexpr u8 kForNIT = 0x10;
constexpr u8 kForListeners = 0x20;  // CollectSections
constexpr u8 kForFamily = 0x40;     // section starts looked at for the text family, not collected

constexpr u16 kNoSlot = 0xFFFF;

// The smallest section_length each table takes: the header after section_length and the
// CRC_32 (9), for the PMT also PCR_PID and program_info_length (13).
constexpr u32 kMinPATLength = 3 + 9;
constexpr u32 kMinCATLength = 3 + 9;
constexpr u32 kMinPMTLength = 3 + 13;

// The header fields under the names TS_Section_ReadHeader fills.
struct HeaderFields {
    u8 table_id;
    u8 section_syntax_indicator;
    u8 reserved1;
    u8 reserved2;
    u8 version_number;
    u8 current_next_indicator;
    u8 section_number;
    u8 last_section_number;
};

// Reads the long-form header into header and leaves the reader behind it.
TS_SectionHeader ReadHeader(TableHeader *header, TS_ByteReader *reader)
{
    HeaderFields fields = {};
    const TS_SectionHeader read = TS_Section_ReadHeader(&fields, reader, TS_SectionForm::Long);
    header->table_id = fields.table_id;
    header->section_length = read.section_length;
    header->table_id_extension = read.table_id_extension;
    header->version_number = fields.version_number;
    header->current_next_indicator = fields.current_next_indicator;
    header->section_number = fields.section_number;
    header->last_section_number = fields.last_section_number;
    return read;
}

void ReadDescriptors(std::vector<Descriptor> *list, const TS_ByteReader &loop, const u8 *section, const u8 *section_end)
{
    TS_Descriptor_ForEach(loop.Begin(), loop.End(), section_end, [&](const u8 *data, u32 span) {
        Descriptor descriptor;
        descriptor.tag = data[0];
        descriptor.body.assign(data + 2, data + span);
        descriptor.offset = u32(data - section);
        list->push_back(std::move(descriptor));
        return true;
    });
}

bool SameBytes(const std::vector<u8> &kept, const Section &section)
{
    return kept.size() == section.length && std::equal(kept.begin(), kept.end(), section.bytes);
}

std::unique_ptr<Pat> DecodePAT(const Section &section)
{
    auto pat = std::make_unique<Pat>();
    pat->section.assign(section.bytes, section.bytes + section.length);
    TS_ByteReader reader(section.bytes, section.length);
    const TS_SectionHeader header = ReadHeader(&pat->header, &reader);
    TS_PAT_WalkPrograms(header, reader, [&](const TS_PATProgram &program) {
        pat->entries.push_back({program.program_number, program.PID});
        return true;
    });
    pat->crc = TS_Section_ReadCRC(reader);
    return pat;
}

std::unique_ptr<Cat> DecodeCAT(const Section &section)
{
    auto cat = std::make_unique<Cat>();
    cat->section.assign(section.bytes, section.bytes + section.length);
    TS_ByteReader reader(section.bytes, section.length);
    const TS_SectionHeader header = ReadHeader(&cat->header, &reader);
    const TS_ByteReader loop = reader.Take(TS_Section_LoopLength(header, reader));
    ReadDescriptors(&cat->descriptors, loop, section.bytes, reader.End());
    cat->crc = TS_Section_ReadCRC(reader);
    return cat;
}

// Fills a Pmt from the walk of its section, every loop whole.
struct PMTReader {
    Pmt *pPMT;
    const u8 *pu8Section;

    void Program(const TS_PMTProgramPart &program)
    {
        pPMT->pcr_pid = program.PCR_PID;
        ReadDescriptors(&pPMT->descriptors, program.tLoop, pu8Section, program.pu8SectionEnd);
    }
    bool Stream(const TS_PMTStreamEntry &entry)
    {
        PmtStream stream;
        stream.stream_type = entry.stream_type;
        stream.elementary_pid = entry.elementary_PID;
        ReadDescriptors(&stream.descriptors, entry.tLoop, pu8Section, entry.pu8SectionEnd);
        pPMT->streams.push_back(std::move(stream));
        return true;
    }
};

std::unique_ptr<Pmt> DecodePMT(const Section &section)
{
    auto pmt = std::make_unique<Pmt>();
    pmt->pid = section.pid;
    pmt->section.assign(section.bytes, section.bytes + section.length);
    TS_ByteReader reader(pmt->section.data(), section.length);
    const TS_SectionHeader header = ReadHeader(&pmt->header, &reader);
    PMTReader walk = {pmt.get(), pmt->section.data()};
    TS_PMT_WalkBody(header, reader, walk);
    pmt->crc = TS_Section_ReadCRC(reader);
    return pmt;
}

// The first conditional-access descriptor's CA_PID: its fixed part lies within the section
// (TS_Descriptor_SpanWithin), as the record decoders read it.
u16 FirstCAPID(const std::vector<Descriptor> &descriptors, const std::vector<u8> &section)
{
    for (const Descriptor &descriptor : descriptors)
        if (descriptor.tag == 0x09 && descriptor.offset + 6 <= section.size())
            return TS_Read13(section.data() + descriptor.offset + 4);
    return TS_NO_PID;
}

bool HasAribTag(const std::vector<Descriptor> &descriptors)
{
    return std::any_of(descriptors.begin(), descriptors.end(),
                       [](const Descriptor &descriptor) { return TS_FamilyVote_IsAribTag(descriptor.tag); });
}

// Calls member(pid, role) for each PID on which the program of pmt sends packets besides its
// PMT. 0x0000 carries the PAT and 0x1FFF null packets (it is also the PCR_PID of a program
// without PCR): they belong to no program.
template <class Member> void ForEachMember(const Pmt &pmt, Member &&member)
{
    auto offer = [&](u16 pid, u16 role) {
        pid &= 0x1FFF;
        if (pid != 0x0000 && pid != 0x1FFF)
            member(pid, role);
    };
    offer(pmt.pcr_pid, kRolePCR);
    const u16 ecm_pid = pmt.EcmPid();
    if (ecm_pid != TS_NO_PID)
        offer(ecm_pid, kRoleECM);
    for (const PmtStream &stream : pmt.streams)
        offer(stream.elementary_pid, kRoleStream);
}

}  // namespace

u16 Pmt::EcmPid() const { return FirstCAPID(descriptors, section); }
u16 Cat::EmmPid() const { return FirstCAPID(descriptors, section); }

void Section_JudgeCRC(Section *section)
{
    const u8 table_id = section->bytes[0];
    const bool long_form = (section->bytes[1] & 0x80) != 0;
    const bool room = section->length >= 3u + 4u + (long_form ? 5u : 0u);
    section->has_crc = room && (long_form || table_id <= 0x02 || table_id == 0x73);
    section->crc_ok = section->has_crc && TS_CRC32(section->bytes, section->length) == 0;
}

// ---------------------------------------------------------------------------------------------

// A PID whose sections are collected.
struct DemuxCore::Slot {
    explicit Slot(u16 pid) : tCollector(pid) {}

    // A packet held because the section it started belongs to one of several programs and its
    // header does not yet say which; with the programs it reached on its own when it came.
    struct Held {
        PacketBytes tBytes;
        std::vector<u32> lu32Reached;
    };

    SectionCollector tCollector;
    u8 u8Purposes = 0;
    bool bTrusted = false;            // the CRC gate: a section with a good CRC_32 came
    std::vector<u32> lu32Programs;    // the programs of the PAT whose PMT is on the PID
    std::vector<Held> lHeld;          // while the section in progress has no known owner
    std::vector<u32> lu32LastOwners;  // of the last packet taken in, for its duplicates
    bool bHoldingNow = false;         // the packet in hand was held
};

struct DemuxCore::ServiceTables {
    TS_PreSection tSection;
    TS_SDT tSDT;
    TS_SDTServices tServices;
    TS_NIT tNIT;
};

DemuxCore::DemuxCore() : m_pu8Stream(new u8[TS_READ_BLOCK + kCarryCapacity])
{
    m_lu8Route.fill(0);
    m_lu16RouteProgram.fill(0);
    m_lu16RouteSlot.fill(kNoSlot);
    m_lu16Role.fill(0);
    Rebuild();
}

DemuxCore::~DemuxCore() = default;

void DemuxCore::KeepPMTs()
{
    m_bKeepPMTs = true;
    Rebuild();
}

void DemuxCore::KeepCAT()
{
    m_bKeepCAT = true;
    Rebuild();
}

void DemuxCore::KeepServices(int family)
{
    m_bKeepServices = true;
    m_tFamily.s32Chosen = family;
    if (!m_pServices) {
        m_pServices = std::make_unique<ServiceTables>();
        TS_SDTServices_Initialise(&m_pServices->tServices);
    }
    Rebuild();
}

void DemuxCore::CollectSections(u16 pid, bool collect) { CollectSections(std::vector<u16>{pid}, collect); }

void DemuxCore::CollectSections(const std::vector<u16> &pids, bool collect)
{
    bool changed = false;
    for (u16 pid : pids) {
        pid &= 0x1FFF;
        const auto found = std::find(m_lu16Collected.begin(), m_lu16Collected.end(), pid);
        if (collect == (found != m_lu16Collected.end()))
            continue;
        if (collect)
            m_lu16Collected.push_back(pid);
        else
            m_lu16Collected.erase(found);
        changed = true;
    }
    if (!changed)
        return;
    // Inside a packet's section step the routes are rebuilt once it is over.
    if (m_bInSectionStep)
        m_bRebuild = true;
    else
        Rebuild();
}

void DemuxCore::Tap(u16 pid)
{
    m_lu16Tapped.push_back(pid & 0x1FFF);
    Rebuild();
}

void DemuxCore::TapAll()
{
    m_bTapAll = true;
    Rebuild();
}

void DemuxCore::FollowAllPrograms()
{
    m_bFollowAll = true;
    for (ProgramTrack &track : m_lPrograms)
        track.bFollowed = true;
    Rebuild();
}

void DemuxCore::Follow(u32 program, bool follow)
{
    if (program >= m_lPrograms.size() || m_lPrograms[program].bFollowed == follow)
        return;
    m_lPrograms[program].bFollowed = follow;
    // Inside a packet's section step the routes are rebuilt once it is over.
    if (m_bInSectionStep)
        m_bRebuild = true;
    else
        Rebuild();
}

const TS_SDTServices *DemuxCore::Services() const
{
    if (!m_pServices || !m_pPAT)
        return nullptr;
    const TS_SDTServices &services = m_pServices->tServices;
    const bool actual =
        services.u8Valid && services.table_id == 0x42 && services.transport_stream_id == m_pPAT->transport_stream_id();
    return actual ? &services : nullptr;
}

u16 DemuxCore::SlotIndex(u16 pid)
{
    for (size_t i = 0; i < m_lSlots.size(); ++i)
        if (m_lSlots[i]->tCollector.PID() == pid)
            return u16(i);
    m_lSlots.push_back(std::make_unique<Slot>(pid));
    return u16(m_lSlots.size() - 1);
}

// ---- Routes -------------------------------------------------------------------------------------

void DemuxCore::Rebuild()
{
    m_bRebuild = false;
    std::vector<u8> purposes(m_lSlots.size(), 0);
    auto want = [&](u16 pid, u8 purpose) {
        const u16 index = SlotIndex(pid);
        if (purposes.size() < m_lSlots.size())
            purposes.resize(m_lSlots.size(), 0);
        purposes[index] |= purpose;
    };

    want(0x0000, kForPAT);
    if (m_bKeepCAT)
        want(0x0001, kForCAT);
    u16 network_pid = TS_NO_PID;
    if (m_pPAT)
        for (const PatEntry &entry : m_pPAT->entries)
            if (entry.program_number == 0 && network_pid == TS_NO_PID)
                network_pid = entry.pid & 0x1FFF;
    if (m_bKeepServices) {
        want(0x0011, kForSDT);
        want(0x0010, kForNIT);
        if (network_pid != TS_NO_PID && network_pid != 0x0000 && network_pid != 0x1FFF)
            want(network_pid, kForNIT);
        for (u16 pid : {0x0023, 0x0024, 0x0028, 0x0029})
            want(pid, kForFamily);
    }
    for (u16 pid : m_lu16Collected)
        want(pid, kForListeners);

    // The PMT PIDs of the programs kept or followed, each with every program that announces its
    // PMT there (only then can the program number decide whose a section is).
    std::vector<u16> pmt_pids;
    for (const ProgramTrack &track : m_lPrograms) {
        const u16 pid = track.u16PMTPID & 0x1FFF;
        if ((m_bKeepPMTs || track.bFollowed) && pid != 0x0000 && pid != 0x1FFF)
            pmt_pids.push_back(pid);
    }
    for (const std::unique_ptr<Slot> &slot : m_lSlots)
        slot->lu32Programs.clear();
    for (u32 k = 0; k < m_lPrograms.size(); ++k) {
        const u16 pid = m_lPrograms[k].u16PMTPID & 0x1FFF;
        if (std::find(pmt_pids.begin(), pmt_pids.end(), pid) == pmt_pids.end())
            continue;
        want(pid, kForPMT);
        m_lSlots[SlotIndex(pid)]->lu32Programs.push_back(k);
    }

    // Routes and roles from scratch.
    m_lu8Route.fill(m_bTapAll ? kRouteTap : 0);
    m_lu16RouteSlot.fill(kNoSlot);
    for (u16 pid : m_lu16Tapped)
        m_lu8Route[pid] |= kRouteTap;
    for (size_t i = 0; i < m_lSlots.size(); ++i) {
        Slot &slot = *m_lSlots[i];
        const u8 purpose = i < purposes.size() ? purposes[i] : 0;
        if (purpose == 0 && slot.u8Purposes != 0) {
            // Idle from now on: a later use starts afresh, not inside a stale section.
            slot.tCollector.Reset();
            slot.lHeld.clear();
        }
        slot.u8Purposes = purpose;
        if (purpose != 0) {
            m_lu8Route[slot.tCollector.PID()] |= kRouteSections;
            m_lu16RouteSlot[slot.tCollector.PID()] = u16(i);
        }
    }
    m_lu16Role.fill(0);
    m_lu16Role[0x0000] = kRolePAT;
    m_lu16Role[0x0001] = kRoleCAT;
    for (u16 pid = 0x0002; pid <= 0x002F; ++pid)
        m_lu16Role[pid] = kRoleSI;
    m_lu16Role[0x1FFF] = kRoleNull;
    if (network_pid != TS_NO_PID && network_pid != 0x0000)
        m_lu16Role[network_pid] |= kRoleNIT;
    const u16 emm_pid = EMMPID();
    if (emm_pid != TS_NO_PID)
        m_lu16Role[emm_pid & 0x1FFF] |= kRoleEMM;
    for (u32 k = 0; k < m_lPrograms.size(); ++k) {
        const ProgramTrack &track = m_lPrograms[k];
        const u16 pmt_pid = track.u16PMTPID & 0x1FFF;
        if (pmt_pid != 0x0000 && pmt_pid != 0x1FFF)
            m_lu16Role[pmt_pid] |= kRolePMT;
        if (!track.pPMT)
            continue;
        ForEachMember(*track.pPMT, [&](u16 pid, u16 role) {
            m_lu16Role[pid] |= role;
            if (!track.bFollowed)
                return;
            u8 &route = m_lu8Route[pid];
            if (route & kRouteMembers) {
                if (std::find(m_llMembers[pid].begin(), m_llMembers[pid].end(), k) == m_llMembers[pid].end())
                    m_llMembers[pid].push_back(k);
            } else if (route & kRouteMember) {
                if (m_lu16RouteProgram[pid] == k)
                    return;
                if (m_llMembers.empty())
                    m_llMembers.resize(8192);
                m_llMembers[pid] = {m_lu16RouteProgram[pid], k};
                route = u8((route & ~kRouteMember) | kRouteMembers);
            } else {
                route |= kRouteMember;
                m_lu16RouteProgram[pid] = u16(k);
            }
        });
    }
}

// ---- Sections ---------------------------------------------------------------------------------

void DemuxCore::TakeSectionPacket(u16 pid, const u8 *packet)
{
    m_lDeliveries.clear();
    m_lReleased.clear();
    m_lu32Owners.clear();
    m_lu8OwnerFlags.clear();
    m_lReleaseTargets.clear();
    Slot &slot = *m_lSlots[m_lu16RouteSlot[pid]];
    if (slot.u8Purposes & kForFamily) {
        TS_FamilyVote_NotePacket(&m_tFamily, packet);
        if (slot.u8Purposes == kForFamily)
            return;
    }
    slot.bHoldingNow = false;
    m_bInSectionStep = true;
    m_pu8SectionPacket = packet;
    const FeedOutcome outcome = slot.tCollector.Feed(
        packet, [&](const Section &section, bool carried) { OnSection(slot, section, carried, packet); });
    if (slot.u8Purposes & kForPMT)
        TrackPMTCarriers(slot, outcome, packet);
    m_bInSectionStep = false;
    if (m_bRebuild)
        Rebuild();

    // Held packets released to their program come first, then the packet in hand: to the programs
    // whose PMT sections it carried, and to those it is a member of.
    for (const auto &[program, index] : m_lReleaseTargets)
        m_lDeliveries.push_back({program, m_lReleased[index].data(), kProgramPmtSection});
    const u8 route = m_lu8Route[pid];
    auto member_flag = [&](u32 program) -> u8 {
        if (route & kRouteMember)
            return m_lu16RouteProgram[pid] == program ? kProgramMember : 0;
        if (route & kRouteMembers)
            return std::find(m_llMembers[pid].begin(), m_llMembers[pid].end(), program) != m_llMembers[pid].end()
                       ? kProgramMember
                       : 0;
        return 0;
    };
    for (size_t i = 0; i < m_lu32Owners.size(); ++i) {
        const u32 program = m_lu32Owners[i];
        if (program < m_lPrograms.size() && m_lPrograms[program].bFollowed)
            m_lDeliveries.push_back({program, packet, u8(m_lu8OwnerFlags[i] | member_flag(program))});
    }
    auto add_member = [&](u32 program) {
        if (std::find(m_lu32Owners.begin(), m_lu32Owners.end(), program) == m_lu32Owners.end())
            m_lDeliveries.push_back({program, packet, kProgramMember});
    };
    if (route & kRouteMember)
        add_member(m_lu16RouteProgram[pid]);
    else if (route & kRouteMembers)
        for (u32 program : m_llMembers[pid])
            add_member(program);
    if (slot.bHoldingNow)
        for (const Delivery &delivery : m_lDeliveries)
            if (delivery.pu8Packet == packet)
                slot.lHeld.back().lu32Reached.push_back(delivery.u32Program);
}

void DemuxCore::OnSection(Slot &slot, const Section &section, bool carried, const u8 *packet)
{
    const u8 purposes = slot.u8Purposes;
    if (purposes & kForListeners)
        for (const auto &listener : lOnSection)
            listener(section);
    // The CRC gate: once the PID has delivered a section with a good CRC_32, a damaged one is not
    // used; until then sections are used as they are (some multiplexers get every CRC wrong).
    bool usable = true;
    if (section.has_crc) {
        if (section.crc_ok)
            slot.bTrusted = true;
        else
            usable = !slot.bTrusted;
    }
    if (purposes & kForPMT)
        OnPMTSection(slot, section, carried, usable);
    if (!usable)
        return;
    const u8 table_id = section.bytes[0];
    if ((purposes & kForPAT) && table_id == 0x00 && section.length >= kMinPATLength)
        OnPATSection(section, packet);
    else if ((purposes & kForCAT) && table_id == 0x01 && section.length >= kMinCATLength)
        OnCATSection(section);
    else if ((purposes & kForSDT) && table_id == 0x42)
        OnSDTSection(section);
    else if ((purposes & kForNIT) && table_id == 0x40)
        OnNITSection(section);
}

void DemuxCore::OnPATSection(const Section &section, const u8 *packet)
{
    const bool changed = !m_pPAT || !SameBytes(m_pPAT->section, section);
    if (changed) {
        m_pPAT = DecodePAT(section);
        // A program the new PAT still lists (by number and rank) keeps its PMT.
        std::vector<ProgramTrack> programs;
        for (const PatEntry &entry : m_pPAT->entries) {
            if (entry.program_number == 0)
                continue;
            u16 rank = 0;
            for (const ProgramTrack &earlier : programs)
                rank = u16(rank + (earlier.u16ProgramNumber == entry.program_number));
            ProgramTrack track = {entry.program_number, entry.pid, rank, m_bFollowAll, nullptr};
            for (ProgramTrack &old : m_lPrograms)
                if (old.u16ProgramNumber == entry.program_number && old.u16Rank == rank)
                    track.pPMT = std::move(old.pPMT);
            programs.push_back(std::move(track));
        }
        m_lPrograms = std::move(programs);
        // What was held belonged to the programs as they were.
        for (const std::unique_ptr<Slot> &slot : m_lSlots) {
            slot->lHeld.clear();
            slot->lu32LastOwners.clear();
        }
        m_bRebuild = true;
    }
    for (const auto &listener : lOnPAT)
        listener(*m_pPAT, packet, changed);
}

void DemuxCore::OnCATSection(const Section &section)
{
    if (m_pCAT && SameBytes(m_pCAT->section, section))
        return;
    const u16 emm_pid = EMMPID();
    m_pCAT = DecodeCAT(section);
    if (EMMPID() != emm_pid)
        m_bRebuild = true;
    for (const auto &listener : lOnCAT)
        listener(*m_pCAT);
}

void DemuxCore::AddOwner(u32 program, u8 flags)
{
    for (size_t i = 0; i < m_lu32Owners.size(); ++i)
        if (m_lu32Owners[i] == program) {
            m_lu8OwnerFlags[i] |= flags;
            return;
        }
    m_lu32Owners.push_back(program);
    m_lu8OwnerFlags.push_back(flags);
}

// The held packets go to the programs of program_number on the slot's PID that they did not
// reach when they came.
void DemuxCore::ReleaseHeld(Slot &slot, u16 program_number)
{
    for (Slot::Held &held : slot.lHeld) {
        const u32 index = u32(m_lReleased.size());
        m_lReleased.push_back(held.tBytes);
        for (u32 program : slot.lu32Programs)
            if (m_lPrograms[program].u16ProgramNumber == program_number && m_lPrograms[program].bFollowed &&
                std::find(held.lu32Reached.begin(), held.lu32Reached.end(), program) == held.lu32Reached.end())
                m_lReleaseTargets.push_back({program, index});
    }
    slot.lHeld.clear();
}

void DemuxCore::OnPMTSection(Slot &slot, const Section &section, bool carried, bool usable)
{
    // A section of table_id 0x02 belongs to the program of its program_number; it is decoded when
    // it is long enough to be a PMT.
    const bool pmt = section.bytes[0] == 0x02 && section.length >= 5;
    const u16 program_number = pmt ? TS_Read16(section.bytes + 3) : 0;
    if (carried && !slot.lHeld.empty()) {
        if (pmt)
            ReleaseHeld(slot, program_number);
        slot.lHeld.clear();
    }
    if (!pmt)
        return;
    for (u32 k : slot.lu32Programs) {
        ProgramTrack &track = m_lPrograms[k];
        if (track.u16ProgramNumber != program_number)
            continue;
        AddOwner(k, kProgramPmtSection | kProgramPmtEnd);
        if (!usable || section.length < kMinPMTLength)
            continue;
        const bool changed = !track.pPMT || !SameBytes(track.pPMT->section, section);
        if (changed) {
            track.pPMT = DecodePMT(section);
            if (HasAribTag(track.pPMT->descriptors) ||
                std::any_of(track.pPMT->streams.begin(), track.pPMT->streams.end(),
                            [](const PmtStream &stream) { return HasAribTag(stream.descriptors); }))
                m_tFamily.u8AribSeen = 1;
            m_bRebuild = true;
        }
        for (const auto &listener : lOnPMT)
            listener(k, *track.pPMT, changed);
    }
}

// Which programs the packet in hand carried PMT section bytes for, beyond the sections it
// completed: the section it leaves in progress. Its program is known once the five bytes up to
// program_number are in; until then the packet is held when several programs announce their
// PMTs on the PID, and taken for the only one otherwise.
void DemuxCore::TrackPMTCarriers(Slot &slot, const FeedOutcome &outcome, const u8 *packet)
{
    if (outcome.bDuplicate) {
        for (u32 program : slot.lu32LastOwners)
            AddOwner(program, kProgramPmtSection);
        if (!slot.lHeld.empty()) {
            slot.lHeld.push_back({});
            std::copy(packet, packet + TS_PACKET_SIZE, slot.lHeld.back().tBytes.begin());
            slot.bHoldingNow = true;
        }
        return;
    }
    if (!outcome.bTaken)
        return;
    // A section whose owner was never told ended unfinished: its held packets are nobody's.
    if (outcome.bCarriedEnded)
        slot.lHeld.clear();
    const SectionCollector &collector = slot.tCollector;
    if (collector.Busy()) {
        const u8 *bytes = collector.Bytes();
        const bool pmt = bytes[0] == 0x02;
        if (collector.Collected() >= 5) {
            const u16 program_number = TS_Read16(bytes + 3);
            if (!slot.lHeld.empty())
                ReleaseHeld(slot, pmt ? program_number : 0);
            if (pmt)
                for (u32 k : slot.lu32Programs)
                    if (m_lPrograms[k].u16ProgramNumber == program_number)
                        AddOwner(k, kProgramPmtSection);
        } else if (!pmt) {
            slot.lHeld.clear();
        } else if (slot.lu32Programs.size() == 1) {
            AddOwner(slot.lu32Programs[0], kProgramPmtSection);
        } else if (!slot.lu32Programs.empty()) {
            slot.lHeld.push_back({});
            std::copy(packet, packet + TS_PACKET_SIZE, slot.lHeld.back().tBytes.begin());
            slot.bHoldingNow = true;
        }
    }
    slot.lu32LastOwners = m_lu32Owners;
}

// ---- Service information ------------------------------------------------------------------------

namespace {

// Loads a complete section into the record decoders' reassembly buffer; false when it is longer
// than that buffer holds.
bool Load(TS_PreSection *target, const Section &section)
{
    if (section.length > TS_SECTION_CAPACITY)
        return false;
    std::memcpy(target->lu8Section, section.bytes, section.length);
    target->u16Length = u16(section.length);
    target->u16Collected = u16(section.length);
    target->u8Complete = 1;
    return true;
}

}  // namespace

void DemuxCore::OnSDTSection(const Section &section)
{
    ServiceTables &tables = *m_pServices;
    if (!Load(&tables.tSection, section))
        return;
    TS_SDT_FromPreSection(&tables.tSDT, &tables.tSection);
    TS_FamilyVote_NoteSDT(&m_tFamily, &tables.tSDT);
    TS_SDTServices_Add(&tables.tServices, &tables.tSDT);
}

void DemuxCore::OnNITSection(const Section &section)
{
    ServiceTables &tables = *m_pServices;
    if (!Load(&tables.tSection, section))
        return;
    TS_NIT &nit = tables.tNIT;
    TS_NIT_FromPreSection(&nit, &tables.tSection);
    TS_FamilyVote_NoteNIT(&m_tFamily, &nit);
    if (!nit.u8HasNetworkName || !nit.current_next_indicator)
        return;
    m_bNetworkName = true;
    m_u16NetworkID = nit.network_id;
    m_lu8NetworkName.assign(nit.lu8NetworkName, nit.lu8NetworkName + nit.u8NetworkNameCount);
}

std::vector<Service> DemuxCore::ServiceList() const
{
    std::vector<Service> services;
    const TS_SDTServices *kept = Services();
    if (kept == nullptr)
        return services;
    const int family = TextFamily();
    char text[TS_SI_NAME_TEXT];
    for (u16 i = 0; i < kept->u16ServiceCount; ++i) {
        const TS_SDTService &entry = kept->ltService[i];
        Service service;
        service.service_id = entry.service_id;
        service.has_service_descriptor = entry.u8HasServiceDescriptor != 0;
        service.service_type = entry.service_type;
        service.provider_name_bytes.assign(entry.lu8ProviderName, entry.lu8ProviderName + entry.u8ProviderNameCount);
        service.name_bytes.assign(entry.lu8ServiceName, entry.lu8ServiceName + entry.u8ServiceNameCount);
        TS_SI_NameToUTF8(text, entry.lu8ProviderName, entry.u8ProviderNameCount, family);
        service.provider_name = text;
        TS_SI_NameToUTF8(text, entry.lu8ServiceName, entry.u8ServiceNameCount, family);
        service.name = text;
        services.push_back(std::move(service));
    }
    return services;
}

std::string DemuxCore::NetworkNameText() const
{
    if (!m_bNetworkName)
        return {};
    char text[TS_SI_NAME_TEXT];
    TS_SI_NameToUTF8(text, m_lu8NetworkName.data(), u32(m_lu8NetworkName.size()), TextFamily());
    return text;
}

}  // namespace pidsift
