// Keeping some streams of a program: a selection of streams by kind, language or PID, the PMT
// section rewritten to list the selected streams alone, and the copy of one program with only
// those streams (pidsift-split program --streams).
//
//     pidsift::StreamSelection selection;
//     std::string error;
//     if (!pidsift::ParseStreamSelection("video,audio:fra,subtitles:fra", &selection, &error)) ...
//     pidsift::ExtractProgramStreams("in.ts", 0x01F0, 0, selection, "out.ts", settings);
#ifndef PIDSIFT_TRANSPORT_STREAM_STREAM_SELECTION_H
#define PIDSIFT_TRANSPORT_STREAM_STREAM_SELECTION_H

#include <string>
#include <vector>

#include <pidsift/demux.h>
#include <pidsift/streams.h>

namespace pidsift {

// One item of a selection: every stream of a kind (of a language, when one is given), or the
// stream on a PID.
struct StreamChoice {
    bool by_pid = false;
    u16 pid = 0;
    StreamKind kind = StreamKind::Data;
    std::string language;  // three lower-case letters; empty: any

    bool operator==(const StreamChoice &) const = default;
};

struct StreamSelection {
    std::vector<StreamChoice> choices;

    // Whether a stream of a PMT, of this stream_type and ES_info descriptor loop, is selected.
    bool Selects(u8 stream_type, u16 pid, const u8 *descriptors, size_t length) const;
};

// Reads a comma-separated list of kinds, each with an optional ":" and ISO 639 language
// ("video", "audio:fra", "subtitles:deu"; the kinds of StreamKindName), and PIDs ("0x0101" in
// hexadecimal, "257" in decimal, 0 to 0x1FFF). false, with what is wrong in *error, for an empty
// list or item, an unknown kind, a language that is not three letters, or a PID out of range.
bool ParseStreamSelection(const char *text, StreamSelection *selection, std::string *error);

// The PMT section (table_id 0x02, whole, CRC_32 included) with only the selected streams in its
// loop: the same header, program_number, version, PCR_PID and program_info descriptors, the kept
// streams' entries byte for byte, section_length and CRC_32 computed anew. The PIDs of the kept
// streams go to *kept when it is not null. Empty for a section that is not a PMT or whose
// lengths do not hold together.
std::vector<u8> SelectPmtStreams(const u8 *section, size_t length, const StreamSelection &selection,
                                 std::vector<u16> *kept = nullptr);

// ExtractProgram with only the selected streams: the PMT packets of the program carry its PMT
// sections rewritten by SelectPmtStreams (in the same packets, see stream_selection.cpp); the PCR
// PID (even when its stream is not kept), the program's ECM PIDs and the kept streams' packets
// are copied byte for byte, other stream PIDs are left out. 0; -1; -2, -3, -5, -6 as
// ExtractProgram; -4 when no PAT lists the program; -7 when a PAT lists it but its PMT never
// came; -8 when the first PMT of the program selects no stream (no output made).
int ExtractProgramStreams(const char *path, u16 pmt_pid, u16 program_number, const StreamSelection &selection,
                          const char *output, const RunSettings &settings = {});

}  // namespace pidsift

#endif  // PIDSIFT_TRANSPORT_STREAM_STREAM_SELECTION_H
