// Which character set the names of a recording's SDT and NIT are in. ISDB broadcasts code them
// as ARIB STD-B24, DVB ones as EN 300 468, and the bytes alone do not tell: a DVB name in plain
// ASCII reads as pairs of kanji in ARIB. A recording is taken for ARIB once it shows something
// that only ARIB broadcasts carry, and for DVB until then, unless the run's settings chose a
// family.
#ifndef PIDSIFT_TRANSPORT_STREAM_DRIVERS_TEXT_FAMILY_H
#define PIDSIFT_TRANSPORT_STREAM_DRIVERS_TEXT_FAMILY_H

#include <pidsift/ts.h>

// What a run has seen of its recording.
struct TS_FamilyVote {
    int s32Chosen;  // TS_TEXT_DVB, TS_TEXT_ARIB, or TS_TEXT_AUTO: decide from the recording
    u8 u8AribSeen;  // something only ARIB broadcasts carry has come
};

// Starts a run with the family chosen (TS_TEXT_AUTO: the recording's).
void TS_FamilyVote_Start(TS_FamilyVote *vote, int family);
// The family to decode with now: the chosen one, else ARIB once seen, else DVB.
int TS_FamilyVote_Family(const TS_FamilyVote *vote);

// Descriptor tags that only ARIB defines and ISDB broadcasters put in their PMTs, SDTs and NITs:
// digital copy control (0xC1), video decode control (0xC8), TS information (0xCD), logo
// transmission (0xCF), data component (0xFD), system management (0xFE).
bool TS_FamilyVote_IsAribTag(u8 tag);
// Whether a name holds the ARIB controls that select and shift character sets (ESC, LS0, LS1,
// SS2, SS3), after the bytes that choose a DVB character table (0x10 and its two bytes, 0x1F and
// its one; a name in UTF-16, 0x11, is never looked into).
bool TS_FamilyVote_IsAribName(const u8 *bytes, u32 count);

// Tables to look at: the descriptor tags of a PMT's loops, of an SDT's and a NIT's, and the
// names of the latter two.
void TS_FamilyVote_NotePMT(TS_FamilyVote *vote, const TS_PMT *pmt);
void TS_FamilyVote_NoteSDT(TS_FamilyVote *vote, const TS_SDT *sdt);
void TS_FamilyVote_NoteNIT(TS_FamilyVote *vote, const TS_NIT *nit);
// PIDs whose packets are worth a look: those where ISDB broadcasts send tables of their own
// (SDTT on 0x0023 and 0x0028, BIT on 0x0024, CDT on 0x0029).
inline bool TS_FamilyVote_WatchesPID(u16 pid)
{
    return pid == 0x0023 || pid == 0x0024 || pid == 0x0028 || pid == 0x0029;
}
// A packet of such a PID: a section that starts in it with the table_id of an SDTT (0xC3), BIT
// (0xC4) or CDT (0xC8) is ARIB's.
void TS_FamilyVote_NotePacket(TS_FamilyVote *vote, const u8 *packet);

#endif  // PIDSIFT_TRANSPORT_STREAM_DRIVERS_TEXT_FAMILY_H
