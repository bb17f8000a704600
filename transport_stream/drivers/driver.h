// Pieces shared by the whole-stream drivers (stream dump, per-program split, PMT-change split):
// following one program's PMT sections on a PID, the table of what each PID carries, and the
// bookkeeping of output files. Not part of the public interface.
#ifndef PIDSIFT_TRANSPORT_STREAM_DRIVER_H
#define PIDSIFT_TRANSPORT_STREAM_DRIVER_H

#include <bit>

#include "io/io.h"
#include "psi/section.h"
#include "text/text.h"

// ---------------------------------------------------------------------------------------------
// One program's PMT sections on one PID
// ---------------------------------------------------------------------------------------------

// Packets a track holds while a section header is cut by the packet end. Every packet of a
// section adds at least one byte to it, so the five bytes up to program_number take five
// packets at most.
constexpr u32 TS_PMT_HEADER_PACKETS = 5;
// Packets a track that keeps whole sections must hold: a section as long as the reassembly
// buffer takes, one payload byte per packet. A valid PMT section (at most 1,024 bytes, ISO/IEC
// 13818-1 2.4.4.8) takes no more than 1,024.
constexpr u32 TS_SECTION_PACKETS = TS_SECTION_CAPACITY;

// Several programs may announce their PMTs on one PID; a track takes only the sections whose
// program_number is its own. That number sits in bytes 3-4 of the section, so the first packet
// of a section whose header is cut by the packet end is held until the next one tells whose
// section it is.
struct TS_PMTTrack {
    u16 u16PID;            // the PID the track follows, TS_NO_PID for none
    u16 u16ProgramNumber;  // the program whose sections it takes
    u32 u32Count;          // packets kept in pKept
    u32 u32Capacity;
    // Where kept packets go: lu8Header, or the caller's store for a track that keeps every
    // packet of a section until it completes.
    u8 (*pKept)[TS_PACKET_SIZE];
    u8 lu8Header[TS_PMT_HEADER_PACKETS][TS_PACKET_SIZE];
};

enum TS_PMTOffer {
    TS_PMT_IGNORED = 0,   // not taken in, or part of another program's section
    TS_PMT_HELD = 1,      // kept: the section header is not complete yet
    TS_PMT_TAKEN = 2,     // part of the program's section, which is not complete yet
    TS_PMT_COMPLETE = 3,  // completed the program's section
};

// Prepares a track that follows nothing. With a store of capacity packets (at least
// TS_SECTION_PACKETS), the track keeps every packet of a section until it completes; without
// one it holds only the packets of a cut section header.
void TS_PMTTrack_Start(TS_PMTTrack *track, u8 (*section_store)[TS_PACKET_SIZE], u32 capacity);

// Points the track at a PID and a program. A change drops the section in progress, which
// belonged to the PID or program followed before.
void TS_PMTTrack_Follow(TS_PMTTrack *track, TS_PreSection *section, u16 pid, u16 program_number);

// Offers a packet of the track's PID to the reassembly buffer. Without a section store, a
// result of TAKEN or COMPLETE leaves in pKept the held packets that precede this one in the
// section; with one, COMPLETE leaves there every packet of the section, this one included. The
// caller writes them out and calls TS_PMTTrack_Release.
// written_anyway: the caller writes this packet to the same output whatever the track makes of
// it (the PID is also the program's PCR or a stream PID). Such a packet is not held, so that a
// section header cut behind it does not write it a second time.
TS_PMTOffer TS_PMTTrack_Offer(TS_PMTTrack *track, TS_PreSection *section, const u8 *packet, bool written_anyway);
inline void TS_PMTTrack_Release(TS_PMTTrack *track) { track->u32Count = 0; }

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
    u16 lu16Touched[16 * (1 + 1 + 1 + 16)];
};

// Clears the map and sets the roles of the PAT's positions: PMT PIDs for every program entry,
// and PCR, CA and stream PIDs of each position's PMT when it is valid. PID 0x0000 is never given
// a role: it carries the PAT.
void TS_PIDMap_Build(TS_PIDMap *map, const TS_PAT *pat, const TS_PMT *pmts);
inline u16 TS_PIDRoles_Members(const TS_PIDRoles &role) { return u16(role.u16PCR | role.u16CA | role.u16Stream); }

// Lowest position in a bit set (the first in PAT order); the set must not be empty.
inline int TS_FirstPosition(u32 positions) { return std::countr_zero(positions); }

// ---------------------------------------------------------------------------------------------
// Output files
// ---------------------------------------------------------------------------------------------

// True when path names the file open on input_fd: writing there would destroy the recording.
bool TS_Output_IsInput(const char *path, int input_fd);

// Opens an output for a split driver: refuses the input file itself, reports the new file to
// the output hook. -3 when it cannot be opened (nothing printed: the callers print their message).
int TS_Output_Open(TS_Writer *writer, const char *path, u8 *block, u32 capacity, int input_fd);

#endif  // PIDSIFT_TRANSPORT_STREAM_DRIVER_H
