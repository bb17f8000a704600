// What an elementary stream of a PMT carries, identified from its stream_type and the
// descriptors of its ES_info loop: the codec under the names media tools commonly report
// (`h264`, `eac3`, `dvb_subtitle`, ...), the kind of stream, its languages, and what the
// descriptors add (audio type, AC-3 channel layout, subtitle type, teletext pages).
//
// A stream_type of ISO/IEC 13818-1 table 2-34 names its codec by itself; the private ones
// (0x06, PES packets of private data, and the user private values 0x80-0xFF) only through
// descriptors whose meaning does not depend on the broadcast system. A stream the table does
// not know, or whose descriptors disagree, gets no codec: the identification never guesses.
#ifndef PIDSIFT_TRANSPORT_STREAM_STREAMS_H
#define PIDSIFT_TRANSPORT_STREAM_STREAMS_H

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pidsift {

// What a stream is for. Without a codec, what its stream_type says: data when it says nothing.
enum class StreamKind : std::uint8_t { Video, Audio, Subtitles, Teletext, Captions, Data, Cue };

// audio_type of the ISO 639 language descriptor (ISO/IEC 13818-1 table 2-60), as broadcast:
// the named values, 0 (undefined), or a user private or reserved value.
enum class AudioType : std::uint8_t {
    Undefined = 0,
    CleanEffects = 1,
    HearingImpaired = 2,
    VisualImpairedCommentary = 3
};

// number_of_channels of an AC-3 or E-AC-3 component_type (EN 300 468 Annex D): mono, 1+1
// (two independent mono channels), stereo, stereo carrying surround (matrix encoded), more
// than two channels, more than 5.1 channels, several programmes in independent substreams.
enum class ChannelLayout : std::uint8_t {
    Unknown,
    Mono,
    DualMono,
    Stereo,
    SurroundEncodedStereo,
    Multichannel,
    MultichannelBeyond5_1,
    IndependentSubstreams,
};

// The subtitling_type of a DVB subtitle stream (EN 300 468 table 26, stream_content 0x3):
// normal subtitles (0x10-0x15) or subtitles for the hard of hearing (0x20-0x25).
enum class SubtitleType : std::uint8_t { Unknown, Normal, HardOfHearing };

// teletext_type of a teletext page (EN 300 468 table 94), as broadcast: the named values or a
// reserved one.
enum class TeletextType : std::uint8_t {
    InitialPage = 0x01,
    Subtitles = 0x02,
    AdditionalInformation = 0x03,
    ProgrammeSchedule = 0x04,
    HearingImpairedSubtitles = 0x05,
};

// One page a teletext or VBI teletext descriptor lists: its language, its type, and its number
// as viewers key it in, magazine (1 to 8; the 0 of the descriptor is magazine 8) then the two
// hexadecimal digits of teletext_page_number ("888" is magazine 8, page 0x88).
struct TeletextPage {
    std::string language;  // three lower-case letters, empty when the descriptor gives none
    TeletextType type = TeletextType::InitialPage;
    std::uint8_t magazine = 8;
    std::uint8_t page = 0;

    std::string Number() const;
    bool operator==(const TeletextPage &) const = default;
};

struct StreamIdentity {
    std::string_view codec;  // empty: not known from what the PMT says
    StreamKind kind = StreamKind::Data;
    // ISO 639-2 codes of the ISO 639 language, subtitling and teletext descriptors, in the
    // order they come, each once, in lower case; entries that are not three letters are left out.
    std::vector<std::string> languages;
    AudioType audio_type = AudioType::Undefined;  // of the first ISO 639 entry
    ChannelLayout channel_layout = ChannelLayout::Unknown;
    // Hard of hearing when any entry of the subtitling descriptors is, else normal when any is.
    SubtitleType subtitle_type = SubtitleType::Unknown;
    std::vector<TeletextPage> teletext_pages;
    // ARIB captions on a component_tag of superimposed text (ARIB TR-B14: 0x38-0x3F), shown
    // whatever the viewer's caption setting, rather than on a caption tag (0x30-0x37).
    bool superimposed = false;

    bool operator==(const StreamIdentity &) const = default;
};

// Identifies the stream from its stream_type and the length bytes of its descriptor loop. A
// descriptor that reaches past the loop's end ends it unread; a field that a descriptor's
// length leaves out is not known.
StreamIdentity IdentifyStream(std::uint8_t stream_type, const std::uint8_t *descriptors, std::size_t length);
inline StreamIdentity IdentifyStream(std::uint8_t stream_type, std::span<const std::uint8_t> descriptors)
{
    return IdentifyStream(stream_type, descriptors.data(), descriptors.size());
}

// The identity of a stream of a PMT that the demux read (<pidsift/demux.h>), from the
// descriptors of its ES_info loop.
struct PmtStream;
StreamIdentity IdentifyStream(const PmtStream &stream);

// Names for text and JSON: "video", "hearing impaired", "stereo", "hard of hearing",
// "subtitles"; empty for Undefined, Unknown, and audio and teletext types without a name.
std::string_view StreamKindName(StreamKind kind);
std::string_view AudioTypeName(AudioType type);
std::string_view ChannelLayoutName(ChannelLayout layout);
std::string_view SubtitleTypeName(SubtitleType type);
std::string_view TeletextTypeName(TeletextType type);

}  // namespace pidsift

#endif  // PIDSIFT_TRANSPORT_STREAM_STREAMS_H
