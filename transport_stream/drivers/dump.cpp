// Stream dump: the packets, tables, clock references and conditional-access sections of a whole
// recording printed as text, under a selection mask, following every program of the PAT at once;
// with TS_PRINT_JSON the same blocks as JSON Lines. A driver of the demux: the PAT, CAT, PMTs and
// the text family are the demux's; the roles of the PMT, PCR, ECM and stream PIDs are the dump's
// own, from the last PMT decoded at each position of the PAT (a position keeps it after the PAT
// changes, until the PMT of the program the PAT now lists there comes). The dump subscribes to
// the sections it prints and the PIDs whose packets print something; every other PID costs it
// nothing.
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <unordered_map>

#include <pidsift/demux.h>
#include <pidsift/streams.h>

#include "common/crc.h"
#include "demux/demux_core.h"
#include "drivers/driver.h"
#include "drivers/guide.h"
#include "packet/print.h"
#include "psi/print.h"
#include "psi/si.h"

namespace {

using pidsift::DemuxCore;
using pidsift::Section;

constexpr char kSeparator[] = "========================================";

// The smallest section_length of each block (its fixed fields behind section_length and the
// CRC_32): shorter sections are not printed.
constexpr u32 kMinTableLength = 3 + 9;  // PAT, CAT, ECM, EMM
constexpr u32 kMinPMTLength = 3 + 13;
constexpr u32 kMinSDTLength = 3 + 12;
constexpr u32 kMinNITLength = 3 + 13;
constexpr u32 kMinEITLength = 3 + 15;
constexpr u32 kMinTDTLength = 3 + 5;

constexpr int kEITBits = TS_PRINT_EIT | TS_PRINT_EIT_PF;
// The selections whose texts are decoded in the recording's family.
constexpr int kSIBits = TS_PRINT_SDT | TS_PRINT_NIT | TS_PRINT_PROGRAMS | kEITBits | TS_PRINT_TDT;

// The records a block is decoded into to be printed by the printers of the public header, and
// the reassembly buffer they decode from.
struct TS_DumpRecords {
    TS_PreSection tSection;
    TS_PAT tPAT;
    TS_CAT tCAT;
    TS_PMT tPMT;
    TS_PrivateSection tPrivate;
    TS_SDT tSDT;
    TS_NIT tNIT;
};

// With TS_PRINT_CHANGES: the last section printed on each PID, so that the repeats (tables come
// again every 100 ms or so in a broadcast) are left out; on the SI PIDs, whose tables take turns,
// the last of each table and section (the key, 48 bits). Keys beyond kCapacity (an EIT schedule
// has thousands of sections) have every section printed.
class TS_DumpRepeats {
public:
    // Whether the section on pid under key differs from the last printed there (and is printed).
    bool Wanted(u16 pid, u64 key, const Section &section)
    {
        const u64 slot = (u64(pid) << 48) | (key & 0xFFFFFFFFFFFFull);
        auto last = m_lLast.find(slot);
        if (last == m_lLast.end()) {
            if (m_lLast.size() >= kCapacity)
                return true;
            last = m_lLast.emplace(slot, std::vector<u8>()).first;
        } else if (last->second.size() == section.length &&
                   std::equal(last->second.begin(), last->second.end(), section.bytes)) {
            ++m_u64LeftOut;
            return false;
        }
        last->second.assign(section.bytes, section.bytes + section.length);
        return true;
    }
    u64 LeftOut() const { return m_u64LeftOut; }

private:
    static constexpr size_t kCapacity = 4096;
    std::unordered_map<u64, std::vector<u8>> m_lLast;
    u64 m_u64LeftOut = 0;
};

// What the dump leaves of its run: the PIDs met, the last ECM and EMM printed, for the public
// header's record.
struct TS_DumpLeft {
    std::vector<u16> lu16PIDs;
    std::vector<u8> lu8LastECM;
    std::vector<u8> lu8LastEMM;
};

// A position of the PAT (every entry counts, the network entry included): the last PMT decoded
// there, kept until another PMT section of the position's program completes, whatever later
// PATs list at the position; and the last PCR printed for it.
struct TS_DumpSlot {
    std::unique_ptr<pidsift::Pmt> pPMT;
    bool bHasPCR = false;
    TS_PCR tPCR = {};
};

// The dump's own roles of a PID: what the PAT in force and the PMT slots of its positions make
// of it. The PAT, CAT and EMM PIDs are the demux's.
constexpr u8 kDumpPMT = 0x01;
constexpr u8 kDumpPCR = 0x02;
constexpr u8 kDumpECM = 0x04;
constexpr u8 kDumpStream = 0x08;

class TS_Dump {
public:
    // full: every entry of the PAT, PMT and CAT (the dump's own forms) and the PMT slots of every
    // position; else the record printers of the public header, which show what fits the
    // records, and the positions and streams the records hold. family: the text family chosen
    // for the names (TS_TEXT_AUTO: the recording's). flush: hand each packet's text to out at
    // once (a terminal).
    TS_Dump(DemuxCore *core, int mask, bool full, int family, TS_Sink *out, bool flush);

    bool OnTapped(const u8 *packet, u16 pid);
    bool OnTappedAfterTables(const u8 *packet, u16 pid);
    bool OnProgramPacket(u32, const u8 *, u8) { return true; }

    // The end of the run: the program list, the PID list and the count of repeats left out.
    void Finish();
    const TS_DumpLeft &Left() const { return m_tLeft; }
    const std::vector<TS_DumpSlot> &Slots() const { return m_lSlots; }

private:
    bool InJSON() const { return (m_s32Mask & TS_PRINT_JSON) != 0; }
    const TS_Packet *Begin();
    template <class Text, class Json> void Block(const char *type, bool header_line, Text &&text, Json &&json);
    void PrintPacket();
    void OnSection(const Section &section, const u8 *packet);
    void PrintTable(const char *type, const Section &section);
    void PrintPMT(const Section &section);
    void PrintSI(const Section &section);
    void PrintGuide(const Section &section);
    void PrintPrivate(const Section &section, bool emm);
    void PrintPCR(const u8 *packet, u16 pid);
    void PrintPrograms();
    const pidsift::Pmt *PmtOfEntry(const pidsift::PatEntry &program) const;
    void PrintProgramStreams(const pidsift::Pmt *pmt);
    bool CRCHolds(const Section &section) const;
    void OnPAT(const pidsift::Pat &pat);
    void OnPMT(u32 program, const pidsift::Pmt &pmt);
    size_t PositionsInForce() const;
    void RebuildRoles();

    DemuxCore *m_pCore;
    int m_s32Mask;
    bool m_bFull;
    // The dump's roles: by PID (kDump*), from the slots of the positions up to m_uPositions.
    std::array<u8, 8192> m_lu8Role = {};
    std::vector<u16> m_lu16RolePIDs;  // those with a role
    std::vector<TS_DumpSlot> m_lSlots;
    std::vector<u32> m_lu32Position;   // the PAT position of each program of the demux
    size_t m_uPositions;               // positions followed: every one, or the records' TS_MAX_PROGRAMS
    size_t m_uStreams;                 // streams of a PMT that give roles: every one, or TS_MAX_STREAMS
    u8 m_u8TapRoles = 0;               // the PIDs of these roles are tapped
    u8 m_u8CollectRoles = 0;           // and of these their sections collected
    std::vector<u16> m_lu16FixedTaps;  // the SI PIDs printed
    std::vector<u16> m_lu16Tapped;     // given to the demux
    std::vector<u16> m_lu16Collected;
    bool m_bTapsEveryPacket;  // JSON (every packet counts for packet_index) or every packet printed
    bool m_bFlushEachPacket;  // a terminal: what a packet prints is shown at once
    TS_Sink *m_pOut;
    TS_Json m_tJson;
    std::unique_ptr<TS_DumpRecords> m_pRecords;
    TS_DumpRepeats m_tRepeats;
    pidsift::EventGuide m_tGuide;  // the events on air, for the program list
    TS_DumpLeft m_tLeft;
    std::vector<u8> m_lu8Listed;

    // The packet in hand: its header is decoded only when something is printed for it. Its index
    // among the packets read (from 0) is counted only for the JSON blocks.
    const u8 *m_pu8Packet = nullptr;
    TS_Packet m_tPacket;
    bool m_bDecoded = false;
    bool m_bSeparatorPending = false;
    bool m_bPrinted = false;
    u64 m_u64Index = ~u64(0);
    // Sections completed by the packet in hand that may be ECM or EMM sections: printed after its
    // PCR, under the roles the packet's own tables give.
    std::vector<std::pair<u16, std::vector<u8>>> m_lStashed;
    size_t m_uStashed = 0;
};

TS_Dump::TS_Dump(DemuxCore *core, int mask, bool full, int family, TS_Sink *out, bool flush)
    : m_pCore(core), m_s32Mask(mask), m_bFull(full), m_uPositions(full ? SIZE_MAX : TS_MAX_PROGRAMS),
      m_uStreams(full ? SIZE_MAX : TS_MAX_STREAMS),
      m_bTapsEveryPacket((mask & (TS_PRINT_JSON | TS_PRINT_PACKETS)) != 0), m_bFlushEachPacket(flush), m_pOut(out),
      m_pRecords(std::make_unique<TS_DumpRecords>())
{
    TS_Json_Start(&m_tJson, out);
    TS_PreSection_Initialise(&m_pRecords->tSection);
    // The PMTs decoded, whatever is printed: the roles of the PIDs come from them.
    core->KeepPMTs();
    core->KeepCAT();
    if (mask & kSIBits)
        core->KeepServices(family);
    // The PAT, the CAT and the EMM PID are the demux's.
    u16 taps = 0;
    u16 collects = 0;
    if (mask & TS_PRINT_PAT) {
        taps |= pidsift::kRolePAT;
        collects |= pidsift::kRolePAT;
    }
    if (mask & TS_PRINT_CAT) {
        taps |= pidsift::kRoleCAT;
        collects |= pidsift::kRoleCAT;
    }
    if (mask & TS_PRINT_EMM) {
        taps |= pidsift::kRoleEMM;
        collects |= pidsift::kRoleEMM;
    }
    // The PMT, PCR, ECM and stream PIDs are the dump's own.
    if (mask & TS_PRINT_PMT) {
        m_u8TapRoles |= kDumpPMT;
        m_u8CollectRoles |= kDumpPMT;
    }
    if (mask & TS_PRINT_ECM) {
        m_u8TapRoles |= kDumpECM;
        m_u8CollectRoles |= kDumpECM;
    }
    if (mask & TS_PRINT_PCR)
        m_u8TapRoles |= kDumpPCR;
    if (mask & TS_PRINT_ES)
        m_u8TapRoles |= kDumpStream;
    // A PMT may give its own PID a role, and the CAT may name its own PID as the EMM PID: the
    // packet that completes the table then prints under that role too.
    if (mask & (TS_PRINT_PCR | TS_PRINT_ECM | TS_PRINT_EMM | TS_PRINT_ES)) {
        m_u8TapRoles |= kDumpPMT;
        taps |= pidsift::kRoleCAT;
    }
    if (mask & (TS_PRINT_ECM | TS_PRINT_EMM)) {
        m_u8CollectRoles |= kDumpPMT;
        collects |= pidsift::kRoleCAT;
    }
    if (mask & TS_PRINT_SDT)
        m_lu16FixedTaps.push_back(0x0011);
    if (mask & TS_PRINT_NIT)
        m_lu16FixedTaps.push_back(0x0010);
    if (mask & (kEITBits | TS_PRINT_PROGRAMS))
        m_lu16FixedTaps.push_back(pidsift::kEitPid);
    if (mask & TS_PRINT_TDT)
        m_lu16FixedTaps.push_back(pidsift::kTimePid);
    if (mask & kEITBits) {
        m_lu16FixedTaps.push_back(pidsift::kEitPidMedium);
        m_lu16FixedTaps.push_back(pidsift::kEitPidLow);
    }
    if (m_bTapsEveryPacket || (mask & TS_PRINT_PIDS))
        core->TapAll();
    if (taps != 0)
        core->TapRoles(taps);
    if (collects != 0)
        core->CollectRoles(collects);
    RebuildRoles();
    if (mask & TS_PRINT_PIDS)
        m_lu8Listed.assign(8192, 0);
    core->lOnPAT.push_back([this](const pidsift::Pat &pat, const u8 *, bool changed) {
        if (changed)
            OnPAT(pat);
    });
    core->lOnPMT.push_back([this](u32 program, const pidsift::Pmt &pmt, bool) { OnPMT(program, pmt); });
    core->lOnSectionTaken.push_back([this](const Section &section, const u8 *packet) { OnSection(section, packet); });
}

size_t TS_Dump::PositionsInForce() const
{
    const pidsift::Pat *pat = m_pCore->PAT();
    return pat == nullptr ? 0 : std::min(pat->entries.size(), m_uPositions);
}

// A new PAT: the slots stay, each position now follows the program the PAT lists there.
void TS_Dump::OnPAT(const pidsift::Pat &pat)
{
    m_lu32Position.clear();
    for (size_t k = 0; k < pat.entries.size(); ++k)
        if (pat.entries[k].program_number != 0)
            m_lu32Position.push_back(u32(k));
    RebuildRoles();
}

// A PMT section of a program completed: it goes to the slot of the program's position.
void TS_Dump::OnPMT(u32 program, const pidsift::Pmt &pmt)
{
    if (program >= m_lu32Position.size() || m_lu32Position[program] >= m_uPositions)
        return;
    const u32 position = m_lu32Position[program];
    if (m_lSlots.size() <= position)
        m_lSlots.resize(position + 1);
    std::unique_ptr<pidsift::Pmt> &kept = m_lSlots[position].pPMT;
    if (kept && kept->section == pmt.section)
        return;
    kept = std::make_unique<pidsift::Pmt>(pmt);
    RebuildRoles();
}

// The roles from the PAT in force and the slots of its positions; the demux taps and collects
// the PIDs whose roles the dump prints.
void TS_Dump::RebuildRoles()
{
    for (u16 pid : m_lu16RolePIDs)
        m_lu8Role[pid] = 0;
    m_lu16RolePIDs.clear();
    // 0x0000 carries the PAT and 0x1FFF null packets (it is also the PCR_PID of a program without
    // PCR): they belong to no program.
    auto give = [&](u16 pid, u8 role) {
        pid &= 0x1FFF;
        if (pid == 0x0000 || pid == 0x1FFF)
            return;
        if (m_lu8Role[pid] == 0)
            m_lu16RolePIDs.push_back(pid);
        m_lu8Role[pid] |= role;
    };
    const pidsift::Pat *pat = m_pCore->PAT();
    const size_t positions = PositionsInForce();
    for (size_t k = 0; k < positions; ++k) {
        if (pat->entries[k].program_number != 0)
            give(pat->entries[k].pid, kDumpPMT);
        if (k >= m_lSlots.size() || !m_lSlots[k].pPMT)
            continue;
        const pidsift::Pmt &pmt = *m_lSlots[k].pPMT;
        give(pmt.pcr_pid, kDumpPCR);
        const u16 ecm_pid = pmt.EcmPid();
        if (ecm_pid != TS_NO_PID)
            give(ecm_pid, kDumpECM);
        const size_t streams = std::min(pmt.streams.size(), m_uStreams);
        for (size_t i = 0; i < streams; ++i)
            give(pmt.streams[i].elementary_pid, kDumpStream);
    }
    // In PID order, so that the same roles give the same lists whatever the order of the PMTs.
    std::sort(m_lu16RolePIDs.begin(), m_lu16RolePIDs.end());
    std::vector<u16> tapped = m_lu16FixedTaps;
    std::vector<u16> collected = m_lu16FixedTaps;
    for (u16 pid : m_lu16RolePIDs) {
        if (m_lu8Role[pid] & m_u8TapRoles)
            tapped.push_back(pid);
        if (m_lu8Role[pid] & m_u8CollectRoles)
            collected.push_back(pid);
    }
    if (tapped == m_lu16Tapped && collected == m_lu16Collected)
        return;
    m_lu16Tapped = tapped;
    m_lu16Collected = collected;
    m_pCore->TapOwn(std::move(tapped), std::move(collected));
}

// Starts a block of output for the packet in hand: one separator before its first block (the
// JSON blocks have none).
const TS_Packet *TS_Dump::Begin()
{
    m_bPrinted = true;
    if (m_bSeparatorPending) {
        TS_Text_Puts(m_pOut, kSeparator);
        m_bSeparatorPending = false;
    }
    if (!m_bDecoded) {
        TS_Packet_Get(&m_tPacket, m_pu8Packet);
        m_bDecoded = true;
    }
    return &m_tPacket;
}

// A block for the packet in hand. Text: the header line of the packet when the block is a table
// or a clock reference (the packet that completed the section or carried the PCR), then text().
// JSON: one object on a line with the block's type, where the packet stands, its header fields,
// and what json(TS_Json *) writes.
template <class Text, class Json> void TS_Dump::Block(const char *type, bool header_line, Text &&text, Json &&json)
{
    const TS_Packet *packet = Begin();
    if (!InJSON()) {
        if (header_line)
            TS_Packet_PrintHeader(m_pOut, packet);
        text();
        return;
    }
    TS_Json *out = &m_tJson;
    TS_Json_ObjectBegin(out);
    TS_Json_StringField(out, "type", type);
    TS_Json_NumberField(out, "packet_index", m_u64Index);
    TS_Json_NumberField(out, "byte_offset", m_pCore->Offset(m_pu8Packet));
    TS_Packet_PrintJSON(out, packet);
    json(out);
    TS_Json_ObjectEnd(out);
    TS_Json_EndLine(out);
}

// A packet reported for its own sake (every packet, or a stream's).
void TS_Dump::PrintPacket()
{
    Block(
        "packet", false, [this] { TS_Packet_Print(m_pOut, &m_tPacket); }, [](TS_Json *) {});
}

bool TS_Dump::CRCHolds(const Section &section) const
{
    return section.has_crc ? section.crc_ok : TS_CRC32(section.bytes, section.length) == 0;
}

bool TS_Dump::OnTapped(const u8 *packet, u16 pid)
{
    ++m_u64Index;  // from ~0: the first packet is 0
    m_pu8Packet = packet;
    m_bDecoded = false;
    m_bSeparatorPending = !InJSON();
    m_bPrinted = false;
    m_uStashed = 0;
    if (!m_lu8Listed.empty() && !m_lu8Listed[pid]) {
        m_lu8Listed[pid] = 1;
        // The list holds TS_MAX_LISTED_PIDS PIDs; later newcomers are left out.
        if (m_tLeft.lu16PIDs.size() < TS_MAX_LISTED_PIDS)
            m_tLeft.lu16PIDs.push_back(pid);
        // Met once, a PID needs no more looking at for the list.
        if (!m_bTapsEveryPacket)
            m_pCore->Untap(pid);
    }
    if (m_s32Mask & TS_PRINT_PACKETS)
        PrintPacket();
    return true;
}

// A section collected on a PID the dump prints tables of, once the demux has taken it into the
// tables in force: printed at once when it is a PAT, CAT, PMT, SDT or NIT; kept for the steps
// after the clock reference when it may be an ECM or EMM.
void TS_Dump::OnSection(const Section &section, const u8 *packet)
{
    if (packet != m_pu8Packet)
        return;  // a section the packet in hand did not complete (none: the packet is tapped)
    const u16 pid = section.pid;
    if (m_s32Mask & (TS_PRINT_ECM | TS_PRINT_EMM)) {
        if (m_uStashed == m_lStashed.size())
            m_lStashed.emplace_back();
        m_lStashed[m_uStashed].first = pid;
        m_lStashed[m_uStashed].second.assign(section.bytes, section.bytes + section.length);
        ++m_uStashed;
    }
    if (pid == 0x0000) {
        if ((m_s32Mask & TS_PRINT_PAT) && section.length >= kMinTableLength)
            PrintTable("pat", section);
        return;
    }
    if (pid == 0x0001 && (m_s32Mask & TS_PRINT_CAT) && section.length >= kMinTableLength)
        PrintTable("cat", section);
    if ((pid == 0x0010 || pid == 0x0011) && (m_s32Mask & (TS_PRINT_SDT | TS_PRINT_NIT)))
        PrintSI(section);
    if (pid == pidsift::kEitPid && (m_s32Mask & TS_PRINT_PROGRAMS))
        m_tGuide.Take(section, m_pCore->PAT() != nullptr ? m_pCore->PAT()->transport_stream_id() : -1);
    if (pid == pidsift::kEitPid || pid == pidsift::kEitPidMedium || pid == pidsift::kEitPidLow ||
        pid == pidsift::kTimePid)
        PrintGuide(section);
    if ((m_lu8Role[pid] & kDumpPMT) && (m_s32Mask & TS_PRINT_PMT) && section.length >= kMinPMTLength)
        PrintPMT(section);
}

// A PAT or CAT section, damaged ones included: as the demux collected it.
void TS_Dump::PrintTable(const char *type, const Section &section)
{
    if ((m_s32Mask & TS_PRINT_CHANGES) && !m_tRepeats.Wanted(section.pid, 0, section))
        return;
    const bool pat = section.pid == 0x0000;
    if (m_bFull) {
        Block(
            type, true,
            [&] { (pat ? TS_PAT_PrintSection : TS_CAT_PrintSection)(m_pOut, section.bytes, section.length); },
            [&](TS_Json *json) {
                (pat ? TS_PAT_PrintSectionJSON : TS_CAT_PrintSectionJSON)(json, section.bytes, section.length,
                                                                          CRCHolds(section));
            });
        return;
    }
    TS_DumpRecords &records = *m_pRecords;
    if (!TS_PreSection_LoadWhole(&records.tSection, section.bytes, section.length))
        return;
    if (pat)
        TS_PAT_FromPreSection(&records.tPAT, &records.tSection);
    else
        TS_CAT_FromPreSection(&records.tCAT, &records.tSection);
    Block(
        type, true,
        [&] {
            if (pat)
                TS_PAT_Print(m_pOut, &records.tPAT);
            else
                TS_CAT_Print(m_pOut, &records.tCAT);
        },
        [&](TS_Json *json) {
            if (pat)
                TS_PAT_PrintJSON(json, &records.tPAT, CRCHolds(section));
            else
                TS_CAT_PrintJSON(json, &records.tCAT, CRCHolds(section));
        });
}

// A section on a PMT PID: printed when it is the PMT of a program the PAT announces there at a
// position the dump follows, once however many of them share the PID.
void TS_Dump::PrintPMT(const Section &section)
{
    const u16 program_number = TS_Read16(section.bytes + 3);
    const std::vector<pidsift::PatEntry> &entries = m_pCore->PAT()->entries;
    const auto positions = entries.begin() + ptrdiff_t(PositionsInForce());
    const bool announced =
        program_number != 0 && std::any_of(entries.begin(), positions, [&](const pidsift::PatEntry &entry) {
            return entry.program_number == program_number && (entry.pid & 0x1FFF) == section.pid;
        });
    if (!announced || ((m_s32Mask & TS_PRINT_CHANGES) && !m_tRepeats.Wanted(section.pid, 0, section)))
        return;
    if (m_bFull) {
        Block(
            "pmt", true, [&] { TS_PMT_PrintSection(m_pOut, section.bytes, section.length); },
            [&](TS_Json *json) { TS_PMT_PrintSectionJSON(json, section.bytes, section.length, CRCHolds(section)); });
        return;
    }
    TS_DumpRecords &records = *m_pRecords;
    if (!TS_PreSection_LoadWhole(&records.tSection, section.bytes, section.length))
        return;
    TS_PMT_FromPreSection(&records.tPMT, &records.tSection, section.pid);
    Block(
        "pmt", true, [&] { TS_PMT_Print(m_pOut, &records.tPMT); },
        [&](TS_Json *json) { TS_PMT_PrintJSON(json, &records.tPMT, CRCHolds(section)); });
}

// A section on PID 0x0011 (the SDTs of this transport stream, 0x42, and of others, 0x46; the BATs
// that share the PID are left alone) or 0x0010 (the NITs, 0x40 and 0x41), names decoded in the
// family the recording has shown up to it.
void TS_Dump::PrintSI(const Section &section)
{
    const u8 table_id = section.bytes[0];
    const bool sdt = section.pid == 0x0011;
    if (sdt ? !(m_s32Mask & TS_PRINT_SDT) || (table_id != 0x42 && table_id != 0x46) || section.length < kMinSDTLength
            : !(m_s32Mask & TS_PRINT_NIT) || (table_id != 0x40 && table_id != 0x41) || section.length < kMinNITLength)
        return;
    // The repeats of each table and section are told apart: an SDT's sections take turns.
    const u32 key = (u32(table_id) << 24) | (u32(TS_Read16(section.bytes + 3)) << 8) | section.bytes[6];
    if ((m_s32Mask & TS_PRINT_CHANGES) && !m_tRepeats.Wanted(section.pid, key, section))
        return;
    TS_DumpRecords &records = *m_pRecords;
    if (!TS_PreSection_LoadWhole(&records.tSection, section.bytes, section.length))
        return;
    const int family = m_pCore->TextFamily();
    const bool crc_ok = CRCHolds(section);
    if (sdt) {
        TS_SDT_FromPreSection(&records.tSDT, &records.tSection);
        Block(
            "sdt", true, [&] { TS_SDT_Print(m_pOut, &records.tSDT, family); },
            [&](TS_Json *json) { TS_SDT_PrintJSON(json, &records.tSDT, crc_ok, family); });
    } else {
        TS_NIT_FromPreSection(&records.tNIT, &records.tSection);
        Block(
            "nit", true, [&] { TS_NIT_Print(m_pOut, &records.tNIT, family); },
            [&](TS_Json *json) { TS_NIT_PrintJSON(json, &records.tNIT, crc_ok, family); });
    }
}

// A section on an EIT PID (0x0012, 0x0026, 0x0027) or on the clock's (0x0014), times and texts
// in the family the recording has shown up to it.
void TS_Dump::PrintGuide(const Section &section)
{
    const u8 table_id = section.bytes[0];
    const bool eit = section.pid != pidsift::kTimePid;
    if (eit) {
        const bool present_following = table_id == 0x4E || table_id == 0x4F;
        if (!pidsift::IsEitTableId(table_id) || section.length < kMinEITLength ||
            !(m_s32Mask & (present_following ? kEITBits : TS_PRINT_EIT)))
            return;
    } else if (!(m_s32Mask & TS_PRINT_TDT) || (table_id != 0x70 && table_id != 0x73) ||
               section.length < kMinTDTLength) {
        return;
    }
    // An EIT's sections take turns as the SDT's do, and those of other transport streams share
    // their service_ids.
    const u64 key = eit ? (u64(table_id) << 40) | (u64(TS_Read16(section.bytes + 8)) << 24) |
                              (u64(TS_Read16(section.bytes + 3)) << 8) | section.bytes[6]
                        : table_id;
    if ((m_s32Mask & TS_PRINT_CHANGES) && !m_tRepeats.Wanted(section.pid, key, section))
        return;
    const int family = m_pCore->TextFamily();
    const bool crc_ok = CRCHolds(section);
    if (eit) {
        pidsift::Eit record;
        if (pidsift::DecodeEit(&record, section.bytes, section.length) != 0)
            return;
        Block(
            "eit", true, [&] { pidsift::PrintEit(m_pOut, record, family); },
            [&](TS_Json *json) { pidsift::PrintEitJSON(json, record, crc_ok, family); });
    } else if (table_id == 0x70) {
        pidsift::Tdt record;
        if (pidsift::DecodeTdt(&record, section.bytes, section.length) != 0)
            return;
        Block(
            "tdt", true, [&] { pidsift::PrintTdt(m_pOut, record, family); },
            [&](TS_Json *json) { pidsift::PrintTdtJSON(json, record, family); });
    } else {
        pidsift::Tot record;
        if (pidsift::DecodeTot(&record, section.bytes, section.length) != 0)
            return;
        Block(
            "tot", true, [&] { pidsift::PrintTot(m_pOut, record, family); },
            [&](TS_Json *json) { pidsift::PrintTotJSON(json, record, crc_ok, family); });
    }
}

// A section on an ECM or EMM PID (every section on the CAT's CA PID counts as an EMM, whatever
// its table_id).
void TS_Dump::PrintPrivate(const Section &section, bool emm)
{
    if (section.length < kMinTableLength ||
        ((m_s32Mask & TS_PRINT_CHANGES) && !m_tRepeats.Wanted(section.pid, 0, section)))
        return;
    TS_DumpRecords &records = *m_pRecords;
    if (!TS_PreSection_LoadWhole(&records.tSection, section.bytes, section.length))
        return;
    TS_Section_PrivateFromPreSection(&records.tPrivate, &records.tSection);
    (emm ? m_tLeft.lu8LastEMM : m_tLeft.lu8LastECM).assign(section.bytes, section.bytes + section.length);
    const bool crc_ok = CRCHolds(section);
    Block(
        emm ? "emm" : "ecm", true,
        [&] {
            if (emm)
                TS_Section_PrintEMM(m_pOut, &records.tPrivate);
            else
                TS_Section_PrintPrivate(m_pOut, &records.tPrivate);
        },
        [&](TS_Json *json) {
            (emm ? TS_Section_PrintEMMJSON : TS_Section_PrintPrivateJSON)(json, &records.tPrivate, crc_ok);
        });
}

// A PCR is there only when the adaptation field is present, long enough for its flags byte and
// the six PCR bytes, and has PCR_flag set (ISO/IEC 13818-1 2.4.3.4).
void TS_Dump::PrintPCR(const u8 *packet, u16 pid)
{
    if ((packet[3] & 0x20) == 0 || packet[4] < 7 || (packet[5] & 0x10) == 0)
        return;
    TS_PCR pcr;
    TS_PCR_Import(&pcr, packet + 5);
    // The clock of the first position in PAT order whose PMT names this PCR_PID.
    const size_t positions = std::min(PositionsInForce(), m_lSlots.size());
    for (size_t k = 0; k < positions; ++k) {
        TS_DumpSlot &slot = m_lSlots[k];
        if (slot.pPMT && (slot.pPMT->pcr_pid & 0x1FFF) == pid) {
            slot.bHasPCR = true;
            slot.tPCR = pcr;
            break;
        }
    }
    Block(
        "pcr", true, [&] { TS_PCR_Print(m_pOut, &pcr); }, [&](TS_Json *json) { TS_PCR_PrintJSON(json, &pcr); });
}

// The steps of a packet under the roles its own sections left: its PCR, the ECM and EMM sections
// it completed, and the packet of a stream.
bool TS_Dump::OnTappedAfterTables(const u8 *packet, u16 pid)
{
    // Programs are known only from a PAT.
    if (m_pCore->PAT() != nullptr && pid != 0x0000) {
        const u8 roles = m_lu8Role[pid];
        if ((m_s32Mask & TS_PRINT_PCR) && (roles & kDumpPCR))
            PrintPCR(packet, pid);
        for (const bool emm : {false, true}) {
            const bool role = emm ? (m_pCore->Roles(pid) & pidsift::kRoleEMM) != 0 : (roles & kDumpECM) != 0;
            if ((m_s32Mask & (emm ? TS_PRINT_EMM : TS_PRINT_ECM)) && role)
                for (size_t i = 0; i < m_uStashed; ++i) {
                    const std::vector<u8> &bytes = m_lStashed[i].second;
                    Section section;
                    section.pid = pid;
                    section.bytes = bytes.data();
                    section.length = u32(bytes.size());
                    pidsift::Section_JudgeCRC(&section);
                    PrintPrivate(section, emm);
                }
        }
        if ((m_s32Mask & TS_PRINT_ES) && (roles & kDumpStream))
            PrintPacket();
    }
    if (m_bPrinted && m_bFlushEachPacket)
        m_pOut->Flush();
    return true;
}

// The PMT in force of the PAT's program, null while none came.
const pidsift::Pmt *TS_Dump::PmtOfEntry(const pidsift::PatEntry &program) const
{
    for (const pidsift::ProgramTrack &track : m_pCore->Programs())
        if (track.u16ProgramNumber == program.program_number && track.u16PMTPID == program.pid)
            return track.pPMT.get();
    return nullptr;
}

// The streams of the program list: each one's PID, stream_type, codec, kind and languages.
void TS_Dump::PrintProgramStreams(const pidsift::Pmt *pmt)
{
    if (InJSON()) {
        TS_Json *json = &m_tJson;
        TS_Json_Key(json, "streams");
        if (pmt == nullptr) {
            TS_Json_Null(json);
            return;
        }
        TS_Json_ArrayBegin(json);
        for (const pidsift::PmtStream &stream : pmt->streams) {
            const pidsift::StreamIdentity identity = IdentifyStream(stream);
            TS_Json_ObjectBegin(json);
            TS_Json_NumberField(json, "pid", stream.elementary_pid & 0x1FFF);
            TS_Json_NumberField(json, "stream_type", stream.stream_type);
            if (identity.codec.empty())
                TS_Json_NullField(json, "codec");
            else
                TS_Json_StringField(json, "codec", std::string(identity.codec).c_str());
            TS_Json_StringField(json, "kind", pidsift::StreamKindName(identity.kind).data());
            TS_Json_Key(json, "language");
            TS_Json_ArrayBegin(json);
            for (const std::string &language : identity.languages)
                TS_Json_String(json, language.c_str());
            TS_Json_ArrayEnd(json);
            TS_Json_ObjectEnd(json);
        }
        TS_Json_ArrayEnd(json);
        return;
    }
    if (pmt == nullptr)
        return;
    for (const pidsift::PmtStream &stream : pmt->streams) {
        const pidsift::StreamIdentity identity = IdentifyStream(stream);
        std::string languages;
        for (const std::string &language : identity.languages)
            languages += (languages.empty() ? "" : ",") + language;
        TS_Text_Printf(m_pOut, "    StreamPID:0x%04X StreamType:0x%02X Codec:%s Kind:%s Language:%s\n",
                       stream.elementary_pid & 0x1FFF, stream.stream_type,
                       identity.codec.empty() ? "unknown" : std::string(identity.codec).c_str(),
                       pidsift::StreamKindName(identity.kind).data(), languages.empty() ? "-" : languages.c_str());
    }
}

// The program list: each program of the last PAT, its PMT PID, the name of its service and its
// streams.
void TS_Dump::PrintPrograms()
{
    const pidsift::Pat *pat = m_pCore->PAT();
    const std::vector<pidsift::Service> services = m_pCore->ServiceList();
    const int family = m_pCore->TextFamily();
    auto service_of = [&](u16 program_number) -> const pidsift::Service * {
        for (const pidsift::Service &service : services)
            if (service.service_id == program_number)
                return service.has_service_descriptor ? &service : nullptr;
        return nullptr;
    };
    // The name of the event on air, as bytes of the broadcast; null without one.
    auto present_name = [&](u16 program_number) -> const std::vector<u8> * {
        const pidsift::ServiceEvents *events = m_tGuide.Find(program_number);
        if (events == nullptr || !events->latest_present)
            return nullptr;
        const pidsift::ShortEventDescriptor *short_event = pidsift::FindShortEvent(*events->latest_present);
        return short_event != nullptr ? &short_event->event_name : nullptr;
    };
    const std::vector<pidsift::PatEntry> none;
    const std::vector<pidsift::PatEntry> &entries = pat != nullptr ? pat->entries : none;
    if (InJSON()) {
        TS_Json *json = &m_tJson;
        TS_Json_ObjectBegin(json);
        TS_Json_StringField(json, "type", "programs");
        TS_Json_StringField(json, "charset", family == TS_TEXT_ARIB ? "arib" : "dvb");
        TS_Json_Key(json, "programs");
        TS_Json_ArrayBegin(json);
        for (const pidsift::PatEntry &program : entries) {
            if (program.program_number == 0)
                continue;
            TS_Json_ObjectBegin(json);
            TS_Json_NumberField(json, "program_number", program.program_number);
            TS_Json_NumberField(json, "pmt_pid", program.pid);
            const pidsift::Service *service = service_of(program.program_number);
            if (service != nullptr) {
                char name[TS_SI_NAME_TEXT];
                TS_SI_NameToUTF8(name, service->name_bytes.data(), u32(service->name_bytes.size()), family);
                TS_Json_StringField(json, "service_name", name);
            } else {
                TS_Json_NullField(json, "service_name");
            }
            const std::vector<u8> *event = present_name(program.program_number);
            TS_Json_Key(json, "present_event");
            if (event != nullptr) {
                const std::string name = pidsift::SiText(*event, family);
                TS_Json_StringBytes(json, reinterpret_cast<const u8 *>(name.data()), name.size());
            } else {
                TS_Json_Null(json);
            }
            PrintProgramStreams(PmtOfEntry(program));
            TS_Json_ObjectEnd(json);
        }
        TS_Json_ArrayEnd(json);
        TS_Json_ObjectEnd(json);
        TS_Json_EndLine(json);
        return;
    }
    TS_Text_Puts(m_pOut, kSeparator);
    TS_Text_Puts(m_pOut, "Program List:");
    for (const pidsift::PatEntry &program : entries) {
        if (program.program_number == 0)
            continue;
        TS_Text_Printf(m_pOut, "  ProgramNumber:%d PID:0x%04X", program.program_number, program.pid);
        const pidsift::Service *service = service_of(program.program_number);
        if (service != nullptr)
            TS_SI_PrintName(m_pOut, "ServiceName", service->name_bytes.data(), u32(service->name_bytes.size()), family);
        else
            TS_Text_Printf(m_pOut, " ServiceName:-");
        const std::vector<u8> *event = present_name(program.program_number);
        if (event != nullptr)
            TS_SI_PrintText(m_pOut, "PresentEvent", event->data(), event->size(), family);
        else
            TS_Text_Printf(m_pOut, " PresentEvent:-");
        TS_Text_Putchar(m_pOut, '\n');
        PrintProgramStreams(PmtOfEntry(program));
    }
}

void TS_Dump::Finish()
{
    const int mask = m_s32Mask;
    if (mask & TS_PRINT_PROGRAMS)
        PrintPrograms();
    const std::vector<u16> &pids = m_tLeft.lu16PIDs;
    if (InJSON()) {
        TS_Json *json = &m_tJson;
        if (mask & TS_PRINT_PIDS) {
            TS_Json_ObjectBegin(json);
            TS_Json_StringField(json, "type", "pids");
            TS_Json_Key(json, "pids");
            TS_Json_ArrayBegin(json);
            for (u16 pid : pids)
                TS_Json_Number(json, pid);
            TS_Json_ArrayEnd(json);
            TS_Json_ObjectEnd(json);
            TS_Json_EndLine(json);
        }
        if (mask & TS_PRINT_CHANGES) {
            TS_Json_ObjectBegin(json);
            TS_Json_StringField(json, "type", "summary");
            TS_Json_NumberField(json, "repeats_left_out", m_tRepeats.LeftOut());
            TS_Json_ObjectEnd(json);
            TS_Json_EndLine(json);
        }
    } else {
        if (mask & TS_PRINT_PIDS) {
            TS_Text_Puts(m_pOut, kSeparator);
            TS_Text_Puts(m_pOut, "PID List:");
            for (u16 pid : pids)
                TS_Text_Printf(m_pOut, "  0x%04X,\n", pid);
        }
        if (mask & TS_PRINT_CHANGES) {
            TS_Text_Puts(m_pOut, kSeparator);
            TS_Text_Printf(m_pOut, "Repeated tables left out: %llu\n", (unsigned long long)m_tRepeats.LeftOut());
        }
    }
    m_pOut->Flush();
}

// Decodes a kept section into one of the public header's records through its reassembly buffer.
template <class Record, class Decode>
void TS_Dump_KeepRecord(Record *record, TS_PreSection *buffer, const std::vector<u8> &bytes, Decode &&decode)
{
    record->u8Valid = 0;
    if (!bytes.empty() && TS_PreSection_LoadWhole(buffer, bytes.data(), u32(bytes.size())))
        decode(record, buffer);
}

// What the public header's TS_Print leaves in g_tData: the PAT and CAT in force, the PMT slot of
// each position and the last PCR printed for it, the last ECM and EMM printed, and the PIDs met.
void TS_Dump_KeepState(const DemuxCore &core, const TS_Dump &dump)
{
    TS_Data *state = &g_tData;
    TS_Data_Reset(state);
    TS_PreSection buffer;
    TS_PreSection_Initialise(&buffer);
    TS_Dump_KeepRecord(&state->tPAT, &buffer, core.PAT() ? core.PAT()->section : std::vector<u8>(),
                       [](TS_PAT *pat, const TS_PreSection *section) { TS_PAT_FromPreSection(pat, section); });
    TS_Dump_KeepRecord(&state->tCAT, &buffer, core.CAT() ? core.CAT()->section : std::vector<u8>(),
                       [](TS_CAT *cat, const TS_PreSection *section) { TS_CAT_FromPreSection(cat, section); });
    const std::vector<TS_DumpSlot> &slots = dump.Slots();
    for (size_t k = 0; k < slots.size() && k < TS_MAX_PROGRAMS; ++k) {
        if (slots[k].bHasPCR)
            state->ltPCR[k] = slots[k].tPCR;
        const pidsift::Pmt *pmt = slots[k].pPMT.get();
        if (pmt != nullptr)
            TS_Dump_KeepRecord(&state->ltPMT[k], &buffer, pmt->section,
                               [&](TS_PMT *record, const TS_PreSection *section) {
                                   TS_PMT_FromPreSection(record, section, pmt->pid);
                               });
    }
    const auto private_section = [](TS_PrivateSection *record, const TS_PreSection *section) {
        TS_Section_PrivateFromPreSection(record, section);
    };
    TS_Dump_KeepRecord(&state->tPrivate, &buffer, dump.Left().lu8LastECM, private_section);
    TS_Dump_KeepRecord(&state->tEMM, &buffer, dump.Left().lu8LastEMM, private_section);
    for (u16 pid : dump.Left().lu16PIDs)
        state->lu16PID[state->u16PIDCount++] = pid;
}

// What the entry points take: TS_Print the bits 0x001 to 0x100, TS_Dump the further selections.
constexpr int kPrintBits = TS_PRINT_PACKETS | TS_PRINT_PAT | TS_PRINT_CAT | TS_PRINT_PMT | TS_PRINT_ECM | TS_PRINT_EMM |
                           TS_PRINT_ES | TS_PRINT_PIDS | TS_PRINT_PCR;
constexpr int kDumpBits = kPrintBits | TS_PRINT_SDT | TS_PRINT_NIT | TS_PRINT_CHANGES | TS_PRINT_JSON |
                          TS_PRINT_PROGRAMS | kEITBits | TS_PRINT_TDT;

// A run of the dump on path. keep_state: the public header's entry points, which leave the run's
// tables in g_tData.
int TS_Dump_Run(const char *path, int mask, bool full, const pidsift::RunSettings &settings, bool keep_state)
{
    if (path == nullptr)
        return -1;
    const int fd = TS_Input_Open(path, TS_Reporter{&settings});
    if (fd < 0)
        return -2;
    const pidsift::TextSink &printed = settings.printed;
    FILE *file = printed.file != nullptr ? printed.file : printed.text == nullptr && !printed.write ? stdout : nullptr;
    TS_Sink out(printed);
    DemuxCore core;
    core.UseSettings(&settings);
    TS_Dump dump(&core, mask, full, settings.text_family, &out, file != nullptr && isatty(fileno(file)));
    const int result = core.RunDescriptor(fd, path, dump);
    TS_Input_Close(fd);
    // A read error ends the run as the end of the file would: the PIDs met so far are listed.
    dump.Finish();
    if (keep_state)
        TS_Dump_KeepState(core, dump);
    return result;
}

}  // namespace

namespace pidsift {

int Dump(const char *path, int mask, const RunSettings &settings)
{
    return TS_Dump_Run(path, mask & kDumpBits, true, settings, false);
}

}  // namespace pidsift

int TS_Print(const char *path, int mask) { return TS_Dump_Run(path, mask & kPrintBits, false, {}, true); }

int TS_Dump(const char *path, const TS_DumpOptions *options)
{
    return options == nullptr ? -1 : TS_Dump_Run(path, options->s32Mask & kDumpBits, true, {}, true);
}
