// The part of the single-program extraction that keeps some streams alone: which PIDs of the
// program go out, and the program's PMT packets with their sections rewritten in place.
#ifndef PIDSIFT_TRANSPORT_STREAM_DRIVERS_STREAM_KEEPER_H
#define PIDSIFT_TRANSPORT_STREAM_DRIVERS_STREAM_KEEPER_H

#include <vector>

#include <pidsift/stream_selection.h>

#include "demux/demux_core.h"

namespace pidsift {

class StreamKeeper {
public:
    explicit StreamKeeper(const StreamSelection &selection) : m_tSelection(selection) {}

    // The program's PMT now in force: the PIDs kept from now on. false when it selects no stream.
    bool OnPmt(const Pmt &pmt);
    // A packet of the program with the demux's flags (kProgramPmtSection ...): what goes out now,
    // in input order, is appended to out. The packets of a PMT section are held until the
    // section ends, and the program's packets after them with them.
    void Take(const u8 *packet, u8 flags, std::vector<PacketBytes> *out);
    // The end of the input: a section still in progress goes out as it came.
    void Finish(std::vector<PacketBytes> *out);

    // Rewrites the PMT sections of the program in a run of packets of its PMT PID: the run's
    // payloads are read as a byte stream of sections, each PMT section of the program passes
    // through SelectPmtStreams, and the sections are laid out again from the first packet's
    // pointer_field on, in the same packets: their headers (continuity_counter included) and
    // adaptation fields stay, payload_unit_start_indicator and a pointer_field are set in each
    // packet where a section now starts, and 0xFF stuffing fills what the shorter sections
    // leave; a section that a later pointer_field cuts short is left out, as decoders drop it.
    // false, with the packets untouched, when the run does not start with a section, its last
    // section goes on beyond it (another program's on a shared PID), or the layout does not fit
    // (it always does when the sections only shrink and each starts in a packet of its own).
    static bool RewriteRun(std::vector<PacketBytes *> &run, u16 program_number, const StreamSelection &selection);

private:
    struct Held {
        PacketBytes bytes;
        bool pmt;
    };
    bool Kept(u16 pid) const;
    void Release(std::vector<PacketBytes> *out);

    StreamSelection m_tSelection;
    u16 m_u16ProgramNumber = 0;
    std::vector<u16> m_lu16Kept;  // sorted
    std::vector<Held> m_lHeld;
    bool m_bHolding = false;
};

}  // namespace pidsift

#endif  // PIDSIFT_TRANSPORT_STREAM_DRIVERS_STREAM_KEEPER_H
