// A DVB-like multiplex whose streams say what they are through their descriptors, as French and
// German services send them: HEVC video, AC-3 and E-AC-3 audio on stream_type 0x06, DVB
// subtitles and teletext, a stream of private data no descriptor names, and a second program
// with MPEG-2 video, MPEG-1 audio, its PCR on a PID of its own and an ECM.
#ifndef PIDSIFT_TESTS_SUPPORT_DVB_STREAMS_H
#define PIDSIFT_TESTS_SUPPORT_DVB_STREAMS_H

#include <vector>

#include "recording.h"

namespace testsupport {

// Program 257: PMT on 0x01F0, PCR on its video 0x0101.
//   0x0101 0x24 HEVC
//   0x0102 0x06 AC-3 (0x6A, stereo), ISO 639 "fra"
//   0x0103 0x06 E-AC-3 (0x7A, multichannel), ISO 639 "fra" visual impaired commentary
//   0x0104 0x06 E-AC-3 (0x7A, no component_type), ISO 639 "eng"
//   0x0105 0x06 subtitling "fra" normal and "fra" hard of hearing
//   0x0106 0x06 teletext "fra" initial page 100 and subtitles 888
//   0x0107 0x06 no descriptor
// Program 258: PMT on 0x01F1, PCR on 0x0200 alone, ECM on 0x0209 (CA system 0x0B00).
//   0x0201 0x02 MPEG-2 video
//   0x0202 0x03 MPEG-1 audio, ISO 639 "deu"
// The SDT names them "France 1" and "Deutsch 2" by "Net"; transport_stream_id 0x0401.
constexpr u16 kDvbProgram = 257;
constexpr u16 kDvbPmtPid = 0x01F0;
constexpr u16 kDvbSecondProgram = 258;
constexpr u16 kDvbSecondPmtPid = 0x01F1;

// The program loop and the streams of each program's PMT (version 3).
Bytes DvbProgramDescriptors(u16 program_number);
std::vector<PMTStreamSpec> DvbStreams(u16 program_number);
u16 DvbPcrPid(u16 program_number);
// The program's PMT section as the recording sends it, with the streams given (DvbStreams for
// the broadcast one); the PMT of 257 carries a padding descriptor that makes it span two packets.
Bytes DvbPmt(u16 program_number, const std::vector<PMTStreamSpec> &streams);

// cycles of 40 ms: the PAT, the PMTs and the SDT every 10 cycles, a PCR on each PCR PID every
// cycle, and the packets of every stream; a null packet between cycles. The PMT of 257 is
// long enough to span two packets.
Recording DvbStreamsRecording(unsigned cycles = 60);

}  // namespace testsupport

#endif
