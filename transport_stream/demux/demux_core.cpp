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

constexpr u8 kServiceDescriptorTag = 0x48;

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

    SectionCollector tCollector;
    u8 u8Purposes = 0;
    bool bTrusted = false;            // the CRC gate: a section with a good CRC_32 came
    std::vector<u32> lu32Programs;    // the programs of the PAT whose PMT is on the PID
    std::vector<u32> lu32LastOwners;  // of the last packet taken in, for its duplicates
    bool bHoldingNow = false;         // the packet in hand starts a section whose owner is unknown
    u8 u8HoldFlags = 0;               // what the packet in hand is to the section's owner
    // While the section in progress has no known owner: its packets, for the programs they did
    // not reach when they came, and those programs' packets that came after them.
    bool bWaiting = false;
    WaitQueue tWait;
    u64 u64LastWaitSerial = 0;  // the packet last put in tWait
};

struct DemuxCore::ServiceTables {
    TS_PreSection tSection;
    TS_SDT tSDT;
    TS_SDTServices tServices;
    TS_NIT tNIT;
    // The sections tServices was gathered from, by section_number, for every service they list
    // (the record keeps TS_MAX_SERVICES): those of the SDT that tServices names.
    std::array<std::vector<u8>, 256> llu8Sections;
    u64 u64Gathering = ~u64(0);  // table_id, transport_stream_id, original_network_id, version
};

DemuxCore::DemuxCore() : m_pu8Stream(new u8[TS_READ_BLOCK + kCarryCapacity]), m_pu8Bytes(m_pu8Stream.get())
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

void DemuxCore::Untap(u16 pid)
{
    pid &= 0x1FFF;
    m_lu16Tapped.erase(std::remove(m_lu16Tapped.begin(), m_lu16Tapped.end(), pid), m_lu16Tapped.end());
    if (m_bTapAll)
        m_lu16Untapped.push_back(pid);
    if ((m_lu16Role[pid] & m_u16TapRoles) == 0 &&
        std::find(m_lu16OwnTapped.begin(), m_lu16OwnTapped.end(), pid) == m_lu16OwnTapped.end())
        m_lu8Route[pid] = u8(m_lu8Route[pid] & ~kRouteTap);
}

void DemuxCore::TapRoles(u16 roles)
{
    m_u16TapRoles |= roles;
    Rebuild();
}

void DemuxCore::CollectRoles(u16 roles)
{
    m_u16CollectRoles |= roles;
    Rebuild();
}

void DemuxCore::TapOwn(std::vector<u16> tapped, std::vector<u16> collected)
{
    for (u16 &pid : tapped)
        pid &= 0x1FFF;
    for (u16 &pid : collected)
        pid &= 0x1FFF;
    m_lu16OwnTapped = std::move(tapped);
    m_lu16OwnCollected = std::move(collected);
    // Inside a packet's section step the routes are rebuilt once it is over.
    if (m_bInSectionStep)
        m_bRebuild = true;
    else
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

// Calls role(pid, kRole*) for each role the tables in force give a PID: the fixed PIDs, the
// network_PID of the PAT, the CAT's EMM PID, each program's PMT PID and its members.
template <class Role> void DemuxCore::ForEachRole(u16 network_pid, Role &&role) const
{
    role(0x0000, kRolePAT);
    role(0x0001, kRoleCAT);
    for (u16 pid = 0x0002; pid <= 0x002F; ++pid)
        role(pid, kRoleSI);
    role(0x1FFF, kRoleNull);
    if (network_pid != TS_NO_PID && network_pid != 0x0000)
        role(network_pid, kRoleNIT);
    const u16 emm_pid = EMMPID();
    if (emm_pid != TS_NO_PID)
        role(u16(emm_pid & 0x1FFF), kRoleEMM);
    for (const ProgramTrack &track : m_lPrograms) {
        const u16 pmt_pid = track.u16PMTPID & 0x1FFF;
        if (pmt_pid != 0x0000 && pmt_pid != 0x1FFF)
            role(pmt_pid, kRolePMT);
        if (track.pPMT)
            ForEachMember(*track.pPMT, role);
    }
}

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
    for (u16 pid : m_lu16OwnCollected)
        want(pid, kForListeners);
    if (m_u16CollectRoles != 0)
        ForEachRole(network_pid, [&](u16 pid, u16 role) {
            if (role & m_u16CollectRoles)
                want(pid, kForListeners);
        });

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
    const u8 early = m_pPAT ? 0 : kRouteEarly;
    m_lu8Route.fill(u8((m_bTapAll ? kRouteTap : 0) | early));
    m_lu16RouteSlot.fill(kNoSlot);
    for (u16 pid : m_lu16Untapped)
        m_lu8Route[pid] = early;
    for (u16 pid : m_lu16Tapped)
        m_lu8Route[pid] |= kRouteTap;
    for (u16 pid : m_lu16OwnTapped)
        m_lu8Route[pid] |= kRouteTap;
    for (size_t i = 0; i < m_lSlots.size(); ++i) {
        Slot &slot = *m_lSlots[i];
        const u8 purpose = i < purposes.size() ? purposes[i] : 0;
        if (purpose == 0 && slot.u8Purposes != 0) {
            // Idle from now on: a later use starts afresh, not inside a stale section; what
            // waited on it goes out.
            if (slot.bWaiting) {
                GiveUp(slot, &m_tGivenUp);
                FlushThroughSink();
            }
            slot.tCollector.Reset();
        }
        slot.u8Purposes = purpose;
        if (purpose != 0) {
            m_lu8Route[slot.tCollector.PID()] |= kRouteSections;
            m_lu16RouteSlot[slot.tCollector.PID()] = u16(i);
        }
    }
    m_lu16Role.fill(0);
    ForEachRole(network_pid, [&](u16 pid, u16 role) {
        m_lu16Role[pid] |= role;
        if (role & m_u16TapRoles)
            m_lu8Route[pid] |= kRouteTap;
    });
    for (u32 k = 0; k < m_lPrograms.size(); ++k) {
        const ProgramTrack &track = m_lPrograms[k];
        if (!track.pPMT || !track.bFollowed)
            continue;
        ForEachMember(*track.pPMT, [&](u16 pid, u16) {
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
    if (m_u32WaitingSlots != 0)
        MarkWaitRoutes();
}

// While a program waits, the packets of every member PID take the slow path, which holds them
// back for it.
void DemuxCore::MarkWaitRoutes()
{
    for (u8 &route : m_lu8Route)
        route = (m_u32WaitingSlots != 0 && (route & (kRouteMember | kRouteMembers)) != 0) ? u8(route | kRouteWait)
                                                                                          : u8(route & ~kRouteWait);
}

// ---- Sections ---------------------------------------------------------------------------------

void DemuxCore::TakeSectionPacket(u16 pid, const u8 *packet)
{
    m_lDeliveries.clear();
    m_tReleased.Clear();
    m_lu32Owners.clear();
    m_lu8OwnerFlags.clear();
    Slot &slot = *m_lSlots[m_lu16RouteSlot[pid]];
    if (slot.u8Purposes & kForFamily) {
        TS_FamilyVote_NotePacket(&m_tFamily, packet);
        if (slot.u8Purposes == kForFamily)
            return;
    }
    slot.bHoldingNow = false;
    m_bInSectionStep = true;
    const bool in_progress = slot.tCollector.Busy();
    m_pu8SectionPacket = packet;
    const FeedOutcome outcome = slot.tCollector.Feed(
        packet, [&](const Section &section, bool carried) { OnSection(slot, section, carried, packet); });
    if (slot.u8Purposes & kForPMT)
        TrackPMTCarriers(slot, outcome, in_progress);
    m_bInSectionStep = false;
    if (m_bRebuild)
        Rebuild();
    if (slot.bHoldingNow)
        HoldPacket(slot, pid, packet);

    // The packets released from a wait come first, in input order, then the packet in hand: to
    // the programs whose PMT sections it carried, and to those it is a member of.
    for (const Waiting &waiting : m_tReleased.lWaiting)
        m_lDeliveries.push_back(
            {waiting.u32Program, m_tReleased.lPackets[waiting.u32Packet].data(), waiting.u8Flags, true});
    AddPacketDeliveries(pid, packet);
}

void DemuxCore::TakeMemberPacket(u16 pid, const u8 *packet)
{
    m_lDeliveries.clear();
    m_lu32Owners.clear();
    m_lu8OwnerFlags.clear();
    AddPacketDeliveries(pid, packet);
}

// The packet in hand to the programs whose PMT sections it carried (m_lu32Owners), and to those
// it is a member of, once each.
void DemuxCore::AddPacketDeliveries(u16 pid, const u8 *packet)
{
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
            m_lDeliveries.push_back({program, packet, u8(m_lu8OwnerFlags[i] | member_flag(program)), false});
    }
    auto add_member = [&](u32 program) {
        if (std::find(m_lu32Owners.begin(), m_lu32Owners.end(), program) == m_lu32Owners.end())
            m_lDeliveries.push_back({program, packet, kProgramMember, false});
    };
    if (route & kRouteMember)
        add_member(m_lu16RouteProgram[pid]);
    else if (route & kRouteMembers)
        for (u32 program : m_llMembers[pid])
            add_member(program);
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
    const u8 table_id = section.bytes[0];
    const u8 kept = usable ? purposes : 0;
    if ((kept & kForPAT) && table_id == 0x00 && section.length >= kMinPATLength)
        OnPATSection(section, packet);
    else if ((kept & kForCAT) && table_id == 0x01 && section.length >= kMinCATLength)
        OnCATSection(section);
    else if ((kept & kForSDT) && (table_id == 0x42 || table_id == 0x46))
        OnSDTSection(section);
    else if ((kept & kForNIT) && (table_id == 0x40 || table_id == 0x41))
        OnNITSection(section);
    if (purposes & kForListeners)
        for (const auto &listener : lOnSectionTaken)
            listener(section, packet);
}

void DemuxCore::OnPATSection(const Section &section, const u8 *packet)
{
    // A PAT ends every wait for a section's owner before its listeners hear of it: the packets
    // that waited go to the programs as they were.
    if (m_u32WaitingSlots != 0) {
        GiveUpEveryWait(&m_tGivenUp);
        FlushThroughSink();
    }
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
        m_lu16WaitSlot.assign(m_lPrograms.size(), kNoWait);
        for (const std::unique_ptr<Slot> &slot : m_lSlots)
            slot->lu32LastOwners.clear();
        m_bRebuild = true;
    }
    for (const auto &listener : lOnPAT)
        listener(*m_pPAT, packet, changed);
    if (changed && !m_lEarlyPMTs.empty())
        ApplyEarlyPMTs();
}

// A packet before the first PAT that starts a PMT section and holds it whole.
void DemuxCore::NoteEarlyPMT(const u8 *packet, u16 pid)
{
    // payload_unit_start_indicator without transport_error_indicator, a payload, and a PID that
    // no table of its own owns.
    if ((packet[1] & 0xC0) != 0x40 || !(packet[3] & 0x10) || pid < 0x0010 || pid == 0x1FFF)
        return;
    u32 at = 4;
    if (packet[3] & 0x20)
        at += 1u + packet[4];
    if (at >= TS_PACKET_SIZE)
        return;
    at += 1u + packet[at];  // pointer_field
    if (at + 3 > TS_PACKET_SIZE || packet[at] != 0x02)
        return;
    const u32 length = 3u + (((packet[at + 1] & 0x0Fu) << 8) | packet[at + 2]);
    if (length < kMinPMTLength || at + length > TS_PACKET_SIZE || TS_CRC32(packet + at, length) != 0)
        return;
    auto kept = std::find_if(m_lEarlyPMTs.begin(), m_lEarlyPMTs.end(),
                             [pid](const EarlyPMT &early) { return early.u16PID == pid; });
    if (kept == m_lEarlyPMTs.end()) {
        if (m_lEarlyPMTs.size() == kMaxEarlyPMTs)
            return;
        kept = m_lEarlyPMTs.insert(m_lEarlyPMTs.end(), EarlyPMT{pid, {}, 0, 0});
    }
    std::copy(packet, packet + TS_PACKET_SIZE, kept->lu8Packet.begin());
    kept->u8Start = u8(at);
    kept->u8Length = u8(length);
}

// The first PAT names PMT PIDs: a program that has no PMT yet takes the one sent on its PID before
// it, and a program followed gets that packet as it would have got it after the PAT.
void DemuxCore::ApplyEarlyPMTs()
{
    for (u32 k = 0; k < m_lPrograms.size(); ++k) {
        ProgramTrack &track = m_lPrograms[k];
        if (track.pPMT)
            continue;
        const u16 pmt_pid = track.u16PMTPID & 0x1FFF;
        const auto early = std::find_if(m_lEarlyPMTs.begin(), m_lEarlyPMTs.end(), [&](const EarlyPMT &each) {
            return each.u16PID == pmt_pid &&
                   TS_Read16(each.lu8Packet.data() + each.u8Start + 3) == track.u16ProgramNumber;
        });
        if (early == m_lEarlyPMTs.end())
            continue;
        Section section;
        section.pid = pmt_pid;
        section.bytes = early->lu8Packet.data() + early->u8Start;
        section.length = early->u8Length;
        section.has_crc = true;
        section.crc_ok = true;
        TakePMT(k, section);
        if (track.bFollowed) {
            m_tReleased.lWaiting.push_back(
                {u32(m_tReleased.lPackets.size()), k, u8(kProgramPmtSection | kProgramPmtEnd)});
            m_tReleased.lPackets.push_back(early->lu8Packet);
        }
        m_lEarlyPMTs.erase(early);
    }
    // Only the first PAT takes them: a later one that named a PID of theirs would hand the
    // program a packet behind those it has already had.
    m_lEarlyPMTs.clear();
}

// A usable PMT section of a program: it becomes the program's PMT in force, and the listeners
// hear of it.
void DemuxCore::TakePMT(u32 program, const Section &section)
{
    ProgramTrack &track = m_lPrograms[program];
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
        listener(program, *track.pPMT, changed);
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

void DemuxCore::OnPMTSection(Slot &slot, const Section &section, bool carried, bool usable)
{
    // A section of table_id 0x02 belongs to the program of its program_number; it is decoded when
    // it is long enough to be a PMT.
    const bool pmt = section.bytes[0] == 0x02 && section.length >= 5;
    const u16 program_number = pmt ? TS_Read16(section.bytes + 3) : 0;
    // The section whose first packets wait has completed: its owner is known.
    if (carried && slot.bWaiting)
        EndWait(slot, pmt, program_number, &m_tReleased);
    if (!pmt)
        return;
    for (u32 k : slot.lu32Programs) {
        ProgramTrack &track = m_lPrograms[k];
        if (track.u16ProgramNumber != program_number)
            continue;
        AddOwner(k, u8(kProgramPmtSection | kProgramPmtEnd | (carried ? kProgramPmtCarried : 0)));
        if (usable && section.length >= kMinPMTLength)
            TakePMT(k, section);
    }
}

// Which programs the packet in hand carried PMT section bytes for, beyond the sections it
// completed: the section it leaves in progress. Its program is known once the five bytes up to
// program_number are in; until then the packet is held when several programs announce their
// PMTs on the PID (HoldPacket), and taken for the only one otherwise.
void DemuxCore::TrackPMTCarriers(Slot &slot, const FeedOutcome &outcome, bool in_progress_before)
{
    const SectionCollector &collector = slot.tCollector;
    // A copy of the last packet adds nothing: the section in progress, if any, goes on.
    const u8 in_progress = collector.Busy() ? u8(kProgramPmtCarried | kProgramPmtOpen) : 0;
    if (outcome.bDuplicate) {
        for (u32 program : slot.lu32LastOwners)
            AddOwner(program, u8(kProgramPmtSection | in_progress));
        slot.bHoldingNow = slot.bWaiting;
        slot.u8HoldFlags = in_progress;
        return;
    }
    if (!outcome.bTaken)
        return;
    // A section whose owner was never told ended unfinished: its packets are nobody's.
    if (outcome.bCarriedEnded && slot.bWaiting)
        EndWait(slot, false, 0, &m_tReleased);
    if (collector.Busy()) {
        const u8 *bytes = collector.Bytes();
        const bool pmt = bytes[0] == 0x02;
        // The section in progress is the one before the packet when the packet did not end it.
        const bool carried_on = in_progress_before && !outcome.bCarriedEnded;
        const u8 flags = u8(kProgramPmtSection | kProgramPmtOpen | (carried_on ? kProgramPmtCarried : 0));
        if (collector.Collected() >= 5) {
            const u16 program_number = TS_Read16(bytes + 3);
            if (slot.bWaiting)
                EndWait(slot, pmt, program_number, &m_tReleased);
            if (pmt)
                for (u32 k : slot.lu32Programs)
                    if (m_lPrograms[k].u16ProgramNumber == program_number)
                        AddOwner(k, flags);
        } else if (!pmt) {
            if (slot.bWaiting)
                EndWait(slot, false, 0, &m_tReleased);
        } else if (slot.lu32Programs.size() == 1) {
            AddOwner(slot.lu32Programs[0], flags);
        } else if (!slot.lu32Programs.empty()) {
            slot.bHoldingNow = true;
            slot.u8HoldFlags = u8(flags & ~kProgramPmtSection);
        }
    }
    slot.lu32LastOwners = m_lu32Owners;
}

// The packet in hand carries the first bytes of a section that several programs of the PID may
// own: the followed programs it does not reach as an owner or a member wait for the next packet
// to tell, and their packets wait behind it. A wait that would pass kWaitCapacity packets gives
// the section up instead.
void DemuxCore::HoldPacket(Slot &slot, u16 pid, const u8 *packet)
{
    const u8 route = m_lu8Route[pid];
    auto reached = [&](u32 program) {
        if (std::find(m_lu32Owners.begin(), m_lu32Owners.end(), program) != m_lu32Owners.end())
            return true;
        if (route & kRouteMember)
            return m_lu16RouteProgram[pid] == program;
        if (route & kRouteMembers)
            return std::find(m_llMembers[pid].begin(), m_llMembers[pid].end(), program) != m_llMembers[pid].end();
        return false;
    };
    bool added = false;
    for (u32 program : slot.lu32Programs) {
        if (!m_lPrograms[program].bFollowed || reached(program))
            continue;
        if (!added) {
            if (slot.tWait.lPackets.size() >= kWaitCapacity) {
                GiveUp(slot, &m_tReleased);
                return;
            }
            slot.tWait.lPackets.emplace_back();
            std::copy(packet, packet + TS_PACKET_SIZE, slot.tWait.lPackets.back().begin());
            slot.u64LastWaitSerial = m_u64Serial;
            added = true;
        }
        slot.tWait.lWaiting.push_back(
            {u32(slot.tWait.lPackets.size() - 1), program, u8(kAwaitOwner | slot.u8HoldFlags)});
        m_lu16WaitSlot[program] = m_lu16RouteSlot[pid];
    }
    if (added && !slot.bWaiting) {
        slot.bWaiting = true;
        if (m_u32WaitingSlots++ == 0)
            MarkWaitRoutes();
    }
}

// Puts a packet of a program that waits behind its slot's section. False when the wait is full:
// the section is then given up, and what waited is in m_tGivenUp.
bool DemuxCore::Wait(u32 program, const u8 *packet, u8 flags)
{
    Slot &slot = *m_lSlots[m_lu16WaitSlot[program]];
    WaitQueue &wait = slot.tWait;
    if (slot.u64LastWaitSerial != m_u64Serial) {
        if (wait.lPackets.size() >= kWaitCapacity) {
            GiveUp(slot, &m_tGivenUp);
            return false;
        }
        wait.lPackets.emplace_back();
        std::copy(packet, packet + TS_PACKET_SIZE, wait.lPackets.back().begin());
        slot.u64LastWaitSerial = m_u64Serial;
    }
    wait.lWaiting.push_back({u32(wait.lPackets.size() - 1), program, flags});
    return true;
}

// The wait of slot ends: with its section's owner known, the section's packets go to the programs
// of program_number that waited for them, and are dropped for the others; the programs' packets
// that waited go to them. All are appended to out in input order.
void DemuxCore::EndWait(Slot &slot, bool owner_known, u16 program_number, WaitQueue *out)
{
    const u32 base = u32(out->lPackets.size());
    const size_t first = out->lWaiting.size();
    WaitQueue &wait = slot.tWait;
    out->lPackets.insert(out->lPackets.end(), wait.lPackets.begin(), wait.lPackets.end());
    for (const Waiting &waiting : wait.lWaiting) {
        u8 flags = waiting.u8Flags;
        if (flags & kAwaitOwner) {
            if (!owner_known || m_lPrograms[waiting.u32Program].u16ProgramNumber != program_number)
                continue;
            flags = u8((flags & ~kAwaitOwner) | kProgramPmtSection);
        }
        // A packet goes to a program once, however many ways it belongs to it.
        const u32 packet = base + waiting.u32Packet;
        auto same = std::find_if(out->lWaiting.begin() + long(first), out->lWaiting.end(), [&](const Waiting &earlier) {
            return earlier.u32Packet == packet && earlier.u32Program == waiting.u32Program;
        });
        if (same != out->lWaiting.end())
            same->u8Flags |= flags;
        else
            out->lWaiting.push_back({packet, waiting.u32Program, flags});
    }
    wait.Clear();
    for (u32 program : slot.lu32Programs)
        if (program < m_lu16WaitSlot.size())
            m_lu16WaitSlot[program] = kNoWait;
    slot.bWaiting = false;
    if (--m_u32WaitingSlots == 0)
        MarkWaitRoutes();
}

// Gives the section whose owner is unknown up: its packets are dropped, and it is not read on.
void DemuxCore::GiveUp(Slot &slot, WaitQueue *out)
{
    slot.tCollector.Drop();
    EndWait(slot, false, 0, out);
}

void DemuxCore::GiveUpEveryWait(WaitQueue *out)
{
    for (const std::unique_ptr<Slot> &slot : m_lSlots)
        if (slot->bWaiting)
            GiveUp(*slot, out);
}

// Delivers what waits given up left to the driver of the run in hand, from inside the section step.
void DemuxCore::FlushThroughSink()
{
    for (const Waiting &waiting : m_tGivenUp.lWaiting)
        if (!m_bStopped && !m_tSink.pfnDeliver(m_tSink.pDriver, waiting.u32Program,
                                               m_tGivenUp.lPackets[waiting.u32Packet].data(), waiting.u8Flags))
            m_bStopped = true;
    m_tGivenUp.Clear();
}

// ---- Service information ------------------------------------------------------------------------

// Whether the text family can still change: an SDT or NIT of another stream or network is read
// only for it.
bool DemuxCore::FamilyOpen() const { return m_tFamily.s32Chosen == TS_TEXT_AUTO && !m_tFamily.u8AribSeen; }

// A section of the SDT of this transport stream (0x42) or of another (0x46): both count for the
// text family, only the actual one names the services.
void DemuxCore::OnSDTSection(const Section &section)
{
    const bool actual = section.bytes[0] == 0x42;
    if (!actual && !FamilyOpen())
        return;
    ServiceTables &tables = *m_pServices;
    if (!TS_PreSection_LoadWhole(&tables.tSection, section.bytes, section.length))
        return;
    TS_SDT_FromPreSection(&tables.tSDT, &tables.tSection);
    TS_FamilyVote_NoteSDT(&m_tFamily, &tables.tSDT);
    if (!actual || TS_SDTServices_Add(&tables.tServices, &tables.tSDT) != 1)
        return;
    const TS_SDTServices &gathered = tables.tServices;
    const u64 gathering = u64(gathered.table_id) << 48 | u64(gathered.transport_stream_id) << 32 |
                          u64(gathered.original_network_id) << 16 | u64(gathered.version_number) << 8 |
                          gathered.last_section_number;
    if (gathering != tables.u64Gathering) {
        for (std::vector<u8> &kept : tables.llu8Sections)
            kept.clear();
        tables.u64Gathering = gathering;
    }
    tables.llu8Sections[tables.tSDT.section_number].assign(section.bytes, section.bytes + section.length);
}

std::vector<Service> DemuxCore::ServiceList() const
{
    std::vector<Service> services;
    if (Services() == nullptr)
        return services;
    for (const std::vector<u8> &section : m_pServices->llu8Sections) {
        if (section.empty())
            continue;
        TS_ByteReader reader(section.data(), u32(section.size()));
        TableHeader ignored;
        const TS_SectionHeader header = ReadHeader(&ignored, &reader);
        reader.Skip(3);  // original_network_id, reserved_future_use
        TS_SDT_WalkServices(header, reader, [&](const TS_SDTServiceEntry &entry) {
            Service service;
            service.service_id = entry.service_id;
            TS_Descriptor_ForEach(
                entry.tLoop.Begin(), entry.tLoop.End(), entry.pu8SectionEnd, [&](const u8 *data, u32 span) {
                    if (data[0] != kServiceDescriptorTag)
                        return true;
                    const TS_ServiceDescriptorBody body = TS_ServiceDescriptor_Read(TS_ByteReader(data + 2, span - 2));
                    service.has_service_descriptor = true;
                    service.service_type = body.service_type;
                    service.provider_name_bytes.assign(body.tProviderName.Begin(), body.tProviderName.End());
                    service.name_bytes.assign(body.tServiceName.Begin(), body.tServiceName.End());
                    return false;
                });
            services.push_back(std::move(service));
            return true;
        });
    }
    const int family = TextFamily();
    char text[TS_SI_NAME_TEXT];
    for (Service &service : services) {
        TS_SI_NameToUTF8(text, service.provider_name_bytes.data(), u32(service.provider_name_bytes.size()), family);
        service.provider_name = text;
        TS_SI_NameToUTF8(text, service.name_bytes.data(), u32(service.name_bytes.size()), family);
        service.name = text;
    }
    return services;
}

// A section of the NIT of this network (0x40) or of another (0x41): both count for the text
// family, only the actual one names the network.
void DemuxCore::OnNITSection(const Section &section)
{
    const bool actual = section.bytes[0] == 0x40;
    if (!actual && !FamilyOpen())
        return;
    ServiceTables &tables = *m_pServices;
    if (!TS_PreSection_LoadWhole(&tables.tSection, section.bytes, section.length))
        return;
    TS_NIT &nit = tables.tNIT;
    TS_NIT_FromPreSection(&nit, &tables.tSection);
    TS_FamilyVote_NoteNIT(&m_tFamily, &nit);
    if (!actual || !nit.u8HasNetworkName || !nit.current_next_indicator)
        return;
    m_bNetworkName = true;
    m_u16NetworkID = nit.network_id;
    m_lu8NetworkName.assign(nit.lu8NetworkName, nit.lu8NetworkName + nit.u8NetworkNameCount);
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
