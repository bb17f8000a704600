// Pieces shared by the drivers (listing and extraction, stream dump, per-program split,
// PMT-change split, check): how a run ends, the PIDs of a program, following one program's PMT
// sections on a PID, tables whose CRC_32 fails, the table of what each PID carries, the records
// of the public header, and the output files of a run. Not part of the public interface.
#ifndef PIDSIFT_TRANSPORT_STREAM_DRIVER_H
#define PIDSIFT_TRANSPORT_STREAM_DRIVER_H

#include <array>
#include <bit>
#include <cstring>
#include <string>
#include <vector>

#include "io/io.h"
#include "psi/section.h"
#include "text/text.h"

// ---------------------------------------------------------------------------------------------
// A run's outcome
// ---------------------------------------------------------------------------------------------

// Per-packet handlers return true to go on and false to end the run. A run that ends on a
// failure keeps its first failure code in *result: the one the caller hears about.
inline bool TS_Run_Fail(int *result, int code)
{
    if (*result == 0)
        *result = code;
    return false;
}

// ---------------------------------------------------------------------------------------------
// The PIDs of a program
// ---------------------------------------------------------------------------------------------

enum TS_MemberRole { TS_MEMBER_PCR, TS_MEMBER_CA, TS_MEMBER_STREAM };

// Calls member(pid, role) for each PID on which the program of pmt sends packets besides its
// PMT: PCR_PID, the CA_PID of its first program-level conditional-access descriptor (the ECM
// PID), and every elementary_PID. 0x0000 carries the PAT and 0x1FFF null packets (it is also
// the PCR_PID of a program without PCR): they belong to no program.
template <class Member> void TS_PMT_ForEachMember(const TS_PMT &pmt, Member &&member)
{
    auto offer = [&](u16 pid, TS_MemberRole role) {
        pid &= 0x1FFF;
        if (pid != 0x0000 && pid != 0x1FFF)
            member(pid, role);
    };
    offer(pmt.PCR_PID, TS_MEMBER_PCR);
    u16 ca_pid = TS_NO_PID;
    if (TS_GetCAPIDFromPMT(&ca_pid, &pmt) == 0 && ca_pid != TS_NO_PID)
        offer(ca_pid, TS_MEMBER_CA);
    const u16 streams = pmt.u16StreamCount < TS_MAX_STREAMS ? pmt.u16StreamCount : TS_MAX_STREAMS;
    for (u16 i = 0; i < streams; ++i)
        offer(pmt.ltStream[i].elementary_PID, TS_MEMBER_STREAM);
}

// ---------------------------------------------------------------------------------------------
// One program's PMT sections on one PID
// ---------------------------------------------------------------------------------------------

// Packets a track without a section store holds: the packets of a cut section header and the
// output's packets that come while it waits. The next packet of a PMT PID tells the program
// number; a wait longer than this gives the section up.
constexpr u32 TS_HELD_PACKETS = 128;

// What a kept packet waits for.
enum TS_KeptKind : u8 {
    TS_KEPT_SECTION = 0,  // a packet of the section in progress, whose fate the section decides
    TS_KEPT_OUTPUT = 1,   // a packet of the output, kept behind one of the section's for the order
    TS_KEPT_BROKEN = 2,   // a packet of a section given up
};

// Several programs may announce their PMTs on one PID; a track takes only the sections whose
// program_number is its own. That number sits in bytes 3-4 of the section: when the header is cut
// by the packet end and another program shares the PID, the first packets of a section are held
// until the next one tells whose section it is, and the packets of the program's output that come
// meanwhile are held behind them, so that the output keeps the order of the input. When no other
// program shares the PID, the section can only be the program's: nothing is held.
struct TS_PMTTrack {
    u16 u16PID;            // the PID the track follows, TS_NO_PID for none
    u16 u16ProgramNumber;  // the program whose sections it takes
    bool bShared;          // another entry of the PAT announces its PMT on u16PID
    u32 u32Count;          // packets kept in pKept, in input order
    u32 u32Sections;       // of them, of kind TS_KEPT_SECTION
    u32 u32Capacity;
    // Where kept packets go, with their TS_KeptKind: lu8Held, or the caller's store for a track
    // that keeps every packet of a section until it completes.
    u8 (*pKept)[TS_PACKET_SIZE];
    u8 *pKind;
    u8 lu8Held[TS_HELD_PACKETS][TS_PACKET_SIZE];
    u8 lu8HeldKind[TS_HELD_PACKETS];
};

enum TS_PMTOffer {
    TS_PMT_IGNORED = 0,   // not taken in, or part of another program's section
    TS_PMT_HELD = 1,      // kept: its fate waits on the section
    TS_PMT_TAKEN = 2,     // part of the program's section, which is not complete yet
    TS_PMT_COMPLETE = 3,  // completed the program's section
};

// Prepares a track that follows nothing. With a store of capacity packets and their kinds, the
// track keeps every packet of a section until it completes; without one it holds only where a
// shared PID needs it.
void TS_PMTTrack_Start(TS_PMTTrack *track, u8 (*section_store)[TS_PACKET_SIZE], u8 *kinds, u32 capacity);

// Points the track at a PID and a program; shared: another entry of the PAT announces its PMT on
// the same PID. A change of PID or program gives up the section in progress, which belonged to
// the one followed before: its kept packets are marked TS_KEPT_BROKEN.
void TS_PMTTrack_Follow(TS_PMTTrack *track, TS_PreSection *section, u16 pid, u16 program_number, bool shared);

// Offers a packet of the track's PID to the reassembly buffer. A track with a section store keeps
// every packet of the section (HELD or TAKEN, and COMPLETE on the last) until the caller takes
// them. A track without one returns TAKEN or COMPLETE for a packet of the program's section, to
// be written now, after the held packets, which it then releases to the output; HELD for a packet
// it keeps. A section that breaks or turns out to be another program's has its kept packets
// marked TS_KEPT_BROKEN.
// written_anyway: the caller writes this packet to the same output whatever the track makes of
// it (the PID is also the program's PCR or a stream PID). Such a packet is not held, so that a
// section header cut behind it does not write it a second time.
TS_PMTOffer TS_PMTTrack_Offer(TS_PMTTrack *track, TS_PreSection *section, const u8 *packet, bool written_anyway);

// ---------------------------------------------------------------------------------------------
// Tables whose CRC_32 fails
// ---------------------------------------------------------------------------------------------

// Captures carry the odd damaged table between good ones: a PAT listing a program on a wrong
// PMT PID would end an extraction or send the split after the wrong PID. Once a PID has
// delivered a section with a good CRC_32, a later section on it whose CRC_32 fails is not
// used. Until then sections are used as they are: some multiplexers write wrong CRCs on every
// section of a table.
struct TS_SectionGate {
    u8 lu8Trusted[8192];  // the PID has delivered a section with a good CRC_32 in this run
};

void TS_SectionGate_Reset(TS_SectionGate *gate);
// Whether the complete section collected from pid may be decoded.
bool TS_SectionGate_Accept(TS_SectionGate *gate, u16 pid, const TS_PreSection *section);

// ---------------------------------------------------------------------------------------------
// What each PID carries for the programs of the PAT
// ---------------------------------------------------------------------------------------------

// One bit per PAT position (bit k for position k) in each role, so that a packet finds its
// programs with one lookup. Only the PIDs set since the last rebuild are cleared again.
struct TS_PIDRoles {
    u16 u16PMT;     // positions whose PMT travels on this PID
    u16 u16PCR;     // positions whose PMT names this PID as PCR_PID
    u16 u16CA;      // positions whose PMT names this PID in its conditional-access descriptor
    u16 u16Stream;  // positions whose PMT lists this PID as an elementary stream
};

struct TS_PIDMap {
    TS_PIDRoles ltRole[8192];
    u16 u16Touched;
    // Each position names its PMT PID, PCR PID, CA PID and streams.
    u16 lu16Touched[TS_MAX_PROGRAMS * (1 + 1 + 1 + TS_MAX_STREAMS)];
};

// Clears the map and sets the roles of the PAT's positions: PMT PIDs for every program entry,
// and PCR, CA and stream PIDs of each position's PMT when it is valid. PID 0x0000 is never given
// a role: it carries the PAT.
void TS_PIDMap_Build(TS_PIDMap *map, const TS_PAT *pat, const TS_PMT *pmts);
inline u16 TS_PIDRoles_Members(const TS_PIDRoles &role) { return u16(role.u16PCR | role.u16CA | role.u16Stream); }

// Lowest position in a bit set (the first in PAT order); the set must not be empty.
inline int TS_FirstPosition(u32 positions) { return std::countr_zero(positions); }

// ---------------------------------------------------------------------------------------------
// The records of the public header
// ---------------------------------------------------------------------------------------------

// Decodes a kept section into one of the specified records through its reassembly buffer; an
// empty section, or one longer than the buffer holds, leaves the record invalid.
template <class Record, class Decode>
void TS_Record_FromSection(Record *record, TS_PreSection *buffer, const std::vector<u8> &section, Decode &&decode)
{
    TS_PreSection_Initialise(buffer);
    record->u8Valid = 0;
    if (section.empty() || section.size() > TS_SECTION_CAPACITY)
        return;
    std::memcpy(buffer->lu8Section, section.data(), section.size());
    buffer->u16Length = u16(section.size());
    buffer->u16Collected = u16(section.size());
    decode(record, buffer);
}

// What the functions of the public header that follow one program leave in g_tSimpleData: the
// last PAT, and the last PMT of the program (carried on pmt_pid).
void TS_SimpleData_Keep(const std::vector<u8> &pat_section, const std::vector<u8> &pmt_section, u16 pmt_pid);

// ---------------------------------------------------------------------------------------------
// Output files
// ---------------------------------------------------------------------------------------------

namespace pidsift {

struct RunSettings;

// The packets a split holds back while the file they open waits for the program's PMT (the
// reduced PATs before it), in input order: the last kCapacity of them.
class HeldPackets {
public:
    static constexpr size_t kCapacity = 1024;

    void Hold(const u8 *packet)
    {
        if (m_lPackets.size() == kCapacity)
            m_lPackets.erase(m_lPackets.begin());
        m_lPackets.emplace_back();
        std::memcpy(m_lPackets.back().data(), packet, TS_PACKET_SIZE);
    }
    // Hands each to write (false stops), then forgets them all.
    template <class Write> bool Release(Write &&write)
    {
        bool written = true;
        for (size_t i = 0; i < m_lPackets.size() && written; ++i)
            written = write(m_lPackets[i].data());
        m_lPackets.clear();
        return written;
    }
    void Clear() { m_lPackets.clear(); }

private:
    std::vector<std::array<u8, TS_PACKET_SIZE>> m_lPackets;
};

// An output file of a run, with the name it was opened under: its writer's messages name it,
// whatever the driver names next. It stays where it is while open (the writer holds its name).
struct OutputFile {
    TS_Writer tWriter = {};
    std::string strName;

    OutputFile() { tWriter.s32FD = -1; }
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;
    bool IsOpen() const { return TS_Writer_IsOpen(&tWriter); }
};

// The output files of one run: the write thread they share, the input they must never be, and
// the run's settings, which tell each failure and hear of each file opened and finished. A run
// without settings (a function of the public header) tells its failures through the
// process-wide message hook and nobody of its files.
class RunOutputs {
public:
    RunOutputs(const RunSettings *settings, int input_fd);

    const TS_Reporter &Reporter() const { return m_tQueue.Reporter(); }
    TS_WriteQueue *Queue() { return &m_tQueue; }

    // Opens path, truncated, for writing through block: refuses the input file itself (told as
    // TS_FAILED_CREATE with errno 0) and a name too long to open. false when it cannot be opened,
    // with the failure told.
    bool Open(OutputFile *file, u8 *block, u32 capacity, const std::string &path);
    // Takes over a descriptor opened by the caller, as a quiet writer (failures only returned).
    void Attach(OutputFile *file, int fd, u8 *block, u32 capacity);
    // Flushes and closes; 0, or -6 when anything written to the file failed. A file closed whole
    // is told as done. A closed file gives 0.
    int Close(OutputFile *file);

private:
    const RunSettings *m_pSettings;
    TS_WriteQueue m_tQueue;
    int m_s32Input;
};

// The text before "_<...>.ts" in the names of a split's files: the settings' split_base, or the
// input's path without its extension (empty when it is too long for a name).
std::string SplitBaseName(const char *path, const RunSettings *settings);

}  // namespace pidsift

// The PAT of a one-program recording, from the received PAT section and the index of the
// program's entry in its loop: the first network entry, wherever the loop has it, then the
// program's entry, under a fresh CRC_32. The packet has the received packet's header and carries
// the section from its start, without an adaptation field, whatever the received packet had.
void TS_PAT_ReducedPacket(u8 *out, const std::vector<u8> &pat_section, size_t entry, const u8 *pat_packet);

#endif  // PIDSIFT_TRANSPORT_STREAM_DRIVER_H
