// Pieces shared by the whole-stream drivers (stream dump, per-program split, PMT-change split):
// following one program's PMT sections on a PID, the table of what each PID carries, and the
// bookkeeping of output files. Not part of the public interface.
#ifndef PIDSIFT_TRANSPORT_STREAM_DRIVER_H
#define PIDSIFT_TRANSPORT_STREAM_DRIVER_H

#include <bit>

#include "internal.h"

// ---------------------------------------------------------------------------------------------
// One program's PMT sections on one PID
// ---------------------------------------------------------------------------------------------

// Packets a track can keep for one section. A PMT section is at most 1024 bytes (ISO/IEC
// 13818-1 2.4.4.8), six or seven packets; a section spread over more packets than this (each
// carrying a byte or two behind a long adaptation field) is dropped whole.
constexpr u32 TS_PMT_TRACK_PACKETS = 32;

// Several programs may announce their PMTs on one PID; a track takes only the sections whose
// program_number is its own. That number sits in bytes 3-4 of the section, so the first packet
// of a section whose header is cut by the packet end is held until the next one tells whose
// section it is.
struct TS_PMTTrack {
    u16 u16PID;            // the PID the track follows, TS_NO_PID for none
    u16 u16ProgramNumber;  // the program whose sections it takes
    u8 u8KeepAll;          // keep every packet of a section until it completes
    u8 u8Overflow;         // the section in progress needs more packets than the track holds
    u8 u8Count;            // packets kept in lu8Packet
    u8 lu8Packet[TS_PMT_TRACK_PACKETS][TS_PACKET_SIZE];
};

enum TS_PMTOffer {
    TS_PMT_IGNORED = 0,   // not taken in, or part of another program's section
    TS_PMT_HELD = 1,      // kept: the section header is not complete yet
    TS_PMT_TAKEN = 2,     // part of the program's section, which is not complete yet
    TS_PMT_COMPLETE = 3,  // completed the program's section
};

// Points the track at a PID and a program. A change drops the section in progress, which
// belonged to the PID or program followed before.
void TS_PMTTrack_Follow(TS_PMTTrack *track, TS_PreSection *section, u16 pid, u16 program_number);

// Offers a packet of the track's PID to the reassembly buffer. Without keep_all, a result of
// TAKEN or COMPLETE leaves in lu8Packet the held packets that precede this one in the section;
// with keep_all, COMPLETE leaves there every packet of the section, this one included. The
// caller writes them out and calls TS_PMTTrack_Release.
TS_PMTOffer TS_PMTTrack_Offer(TS_PMTTrack *track, TS_PreSection *section, const u8 *packet);
inline void TS_PMTTrack_Release(TS_PMTTrack *track) { track->u8Count = 0; }

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
