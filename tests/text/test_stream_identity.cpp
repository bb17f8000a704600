// Stream identification: one table of stream_type and descriptor-loop combinations, each with
// everything the identity says, written out as one line.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include <pidsift/streams.h>

#include "stream_builder.h"

namespace {

using namespace pidsift;
using testsupport::Bytes;
using testsupport::Concat;
using testsupport::Descriptor;

// codec (- when none), kind, then each detail the identity holds.
std::string Describe(const StreamIdentity &identity)
{
    std::string text = identity.codec.empty() ? "-" : std::string(identity.codec);
    text += " " + std::string(StreamKindName(identity.kind));
    for (size_t i = 0; i < identity.languages.size(); ++i)
        text += (i == 0 ? " lang=" : ",") + identity.languages[i];
    if (identity.audio_type != AudioType::Undefined) {
        char raw[8];
        std::snprintf(raw, sizeof raw, "0x%02X", unsigned(identity.audio_type));
        const std::string_view name = AudioTypeName(identity.audio_type);
        text += " audio_type=" + (name.empty() ? std::string(raw) : std::string(name));
    }
    if (identity.channel_layout != ChannelLayout::Unknown)
        text += " channels=" + std::string(ChannelLayoutName(identity.channel_layout));
    if (identity.subtitle_type != SubtitleType::Unknown)
        text += " subtitles=" + std::string(SubtitleTypeName(identity.subtitle_type));
    for (const TeletextPage &page : identity.teletext_pages) {
        const std::string_view type = TeletextTypeName(page.type);
        text += " page=" + page.language + ":" +
                (type.empty() ? "type " + std::to_string(int(page.type)) : std::string(type)) + ":" + page.Number();
    }
    if (identity.superimposed)
        text += " superimposed";
    return text;
}

Bytes Registration(const char (&format)[5])
{
    return Descriptor(0x05, {u8(format[0]), u8(format[1]), u8(format[2]), u8(format[3])});
}
Bytes Language(const std::string &code, u8 audio_type = 0)
{
    return Descriptor(0x0A, {u8(code[0]), u8(code[1]), u8(code[2]), audio_type});
}
// AC-3 (0x6A) or E-AC-3 (0x7A) descriptor with component_type_flag set.
Bytes AC3(u8 tag, u8 component_type) { return Descriptor(tag, {0x80, component_type}); }
Bytes Subtitling(const std::string &code, u8 type)
{
    return {u8(code[0]), u8(code[1]), u8(code[2]), type, 0x00, 0x01, 0x00, 0x02};
}
// Magazine 8 is coded 0.
Bytes TeletextEntry(const std::string &code, u8 type, u8 magazine, u8 page)
{
    return {u8(code[0]), u8(code[1]), u8(code[2]), u8(type << 3 | (magazine & 0x07)), page};
}
// ARIB data component descriptor of data_component_id 0x0008 (captions), with one byte of
// additional_arib_caption_info.
const Bytes kAribCaptions = Descriptor(0xFD, {0x00, 0x08, 0x3D});

struct Case {
    const char *strWhat;
    u8 u8StreamType;
    Bytes loop;
    const char *strExpected;
};

TEST(StreamIdentity, StreamTypesAndDescriptors)
{
    const std::vector<Case> cases = {
        // The stream_type alone; descriptors do not overrule it, but still give the details.
        {"MPEG-1 video", 0x01, {}, "mpeg1video video"},
        {"MPEG-2 video, a registration of another codec", 0x02, Registration("HEVC"), "mpeg2video video"},
        {"MPEG-1 audio", 0x03, {}, "mp2 audio"},
        {"MPEG-2 audio", 0x04, Language("deu"), "mp2 audio lang=deu"},
        {"ADTS AAC with an ISDB stream identifier", 0x0F, Descriptor(0x52, {0x10}), "aac audio"},
        {"MPEG-4 video", 0x10, {}, "mpeg4 video"},
        {"LATM AAC", 0x11, {}, "aac_latm audio"},
        {"AVC", 0x1B, {}, "h264 video"},
        {"HEVC", 0x24, {}, "hevc video"},
        {"VVC", 0x33, {}, "vvc video"},
        {"SVC sub-bitstream: video, no codec", 0x1F, {}, "- video"},
        {"MPEG-4 audio without transport syntax", 0x1C, {}, "- audio"},
        {"private sections", 0x05, {}, "- data"},
        {"reserved 0x00", 0x00, Descriptor(0x6A, {0x00}), "- data"},

        // Private PES packets (0x06) by the DVB descriptors.
        {"private PES alone", 0x06, {}, "- data"},
        {"private PES with a language only", 0x06, Language("fra"), "- data lang=fra"},
        {"AC-3, stereo", 0x06, Concat({Language("fra"), AC3(0x6A, 0x42)}), "ac3 audio lang=fra channels=stereo"},
        {"E-AC-3, multichannel, audio description", 0x06, Concat({AC3(0x7A, 0xC4), Language("fra", 0x03)}),
         "eac3 audio lang=fra audio_type=visual impaired commentary channels=multichannel"},
        {"AC-3 without component_type", 0x06, Descriptor(0x6A, {0x00}), "ac3 audio"},
        {"AC-3 whose component_type the length leaves out", 0x06, Descriptor(0x6A, {0x80}), "ac3 audio"},
        {"DTS", 0x06, Descriptor(0x7B, {0x00, 0x00, 0x00, 0x00, 0x00}), "dts audio"},
        {"AAC", 0x06, Descriptor(0x7C, {0x58}), "aac audio"},
        {"DVB subtitles, one language twice", 0x06,
         Descriptor(0x59, Concat({Subtitling("fra", 0x10), Subtitling("FRA", 0x24)})),
         "dvb_subtitle subtitles lang=fra subtitles=hard of hearing"},
        {"DVB subtitles for a 16:9 monitor", 0x06, Descriptor(0x59, Subtitling("deu", 0x12)),
         "dvb_subtitle subtitles lang=deu subtitles=normal"},
        {"DVB subtitles of a type without a name", 0x06, Descriptor(0x59, Subtitling("nld", 0x30)),
         "dvb_subtitle subtitles lang=nld"},
        {"teletext pages", 0x06,
         Descriptor(0x56, Concat({TeletextEntry("fra", 1, 1, 0x00), TeletextEntry("fra", 2, 0, 0x88),
                                  TeletextEntry("deu", 5, 7, 0x77), TeletextEntry("eng", 9, 2, 0xA5)})),
         "dvb_teletext teletext lang=fra,deu,eng page=fra:initial page:100 page=fra:subtitles:888 "
         "page=deu:subtitles for the hearing impaired:777 page=eng:type 9:2A5"},
        {"VBI teletext", 0x06, Descriptor(0x46, TeletextEntry("swe", 3, 3, 0x00)),
         "dvb_teletext teletext lang=swe page=swe:additional information:300"},
        {"AC-3 and subtitling disagree", 0x06, Concat({AC3(0x6A, 0x42), Descriptor(0x59, Subtitling("fra", 0x10))}),
         "- data lang=fra channels=stereo subtitles=normal"},
        {"AC-3 descriptor and registration agree", 0x06, Concat({Registration("AC-3"), AC3(0x6A, 0x40)}),
         "ac3 audio channels=mono"},
        {"E-AC-3 registration and AC-3 descriptor disagree", 0x06, Concat({Registration("EAC3"), AC3(0x6A, 0x42)}),
         "- data channels=stereo"},

        // Registration format identifiers.
        {"registration AC-3", 0x06, Registration("AC-3"), "ac3 audio"},
        {"registration EAC3", 0x06, Registration("EAC3"), "eac3 audio"},
        {"registration DTS2", 0x06, Registration("DTS2"), "dts audio"},
        {"registration HEVC", 0x06, Registration("HEVC"), "hevc video"},
        {"registration Opus", 0x06, Concat({Registration("Opus"), Language("ita")}), "opus audio lang=ita"},
        {"registration KLVA", 0x06, Registration("KLVA"), "smpte_klv data"},
        {"registration ID3", 0x15, Registration("ID3 "), "timed_id3 data"},
        {"registration CUEI on SCTE 35's type", 0x86, Registration("CUEI"), "scte_35 cue"},
        {"registration CUEI on PES packets", 0x06, Registration("CUEI"), "- data"},
        {"an unregistered identifier", 0x06, Registration("XYZW"), "- data"},
        {"registration with further bytes", 0x06, Descriptor(0x05, {'E', 'A', 'C', '3', 0x01, 0x02}), "eac3 audio"},

        // The user private stream_types: no codec without a descriptor that says it.
        {"0x81 alone", 0x81, Language("eng"), "- data lang=eng"},
        {"0x81 with ATSC's AC-3 descriptor tag", 0x81, Descriptor(0x81, {0x08, 0x38, 0x0F}), "- data"},
        {"0x81 registered AC-3", 0x81, Registration("AC-3"), "ac3 audio"},
        {"0x81 with the DVB AC-3 descriptor", 0x81, AC3(0x6A, 0x4A), "ac3 audio channels=stereo"},
        {"0x87 registered EAC3", 0x87, Registration("EAC3"), "eac3 audio"},
        {"0x87 registered AC-3", 0x87, Registration("AC-3"), "- data"},
        {"0x86 alone", 0x86, {}, "- data"},
        {"HDMV 0x81", 0x81, Descriptor(0x05, {'H', 'D', 'M', 'V', 0xFF, 0x81}), "ac3 audio"},
        {"HDMV 0x83", 0x83, Registration("HDMV"), "truehd audio"},
        {"HDMV 0x84", 0x84, Registration("HDMV"), "eac3 audio"},
        {"HDMV 0x86", 0x86, Registration("HDMV"), "dts audio"},
        {"HDMV 0x90", 0x90, Registration("HDMV"), "- data"},

        // Metadata in PES packets by the metadata descriptor's format.
        {"ID3 metadata", 0x15, Descriptor(0x26, {0xFF, 0xFF, 'I', 'D', '3', ' ', 0xFF, 'I', 'D', '3', ' ', 0x00, 0x0F}),
         "timed_id3 data"},
        {"KLV metadata", 0x15, Descriptor(0x26, {0x01, 0x00, 0xFF, 'K', 'L', 'V', 'A', 0x00, 0x0F}), "smpte_klv data"},
        {"metadata of a format without identifier", 0x15, Descriptor(0x26, {0x01, 0x00, 0x3F, 0x00, 0x0F}), "- data"},
        {"metadata cut before its identifier", 0x15, Descriptor(0x26, {0xFF, 0xFF, 'I', 'D', '3', ' ', 0xFF, 'I'}),
         "- data"},

        // ISDB: the data component descriptor, with the component_tag of TR-B14.
        {"ARIB captions", 0x06, Concat({Descriptor(0x52, {0x30}), kAribCaptions}), "arib_caption captions"},
        {"ARIB superimposed text", 0x06, Concat({kAribCaptions, Descriptor(0x52, {0x38})}),
         "arib_caption captions superimposed"},
        {"ARIB captions without a stream identifier", 0x06, kAribCaptions, "arib_caption captions"},
        {"a caption tag alone is no caption stream", 0x06, Descriptor(0x52, {0x30}), "- data"},
        {"BML data broadcasting", 0x0D, Concat({Descriptor(0x52, {0x40}), Descriptor(0xFD, {0x00, 0x0C})}), "- data"},
        {"caption component on a DSM-CC stream_type", 0x0D, kAribCaptions, "- data"},
        {"data component cut before its id", 0x06, Descriptor(0xFD, {0x00}), "- data"},

        // Languages and audio types.
        {"two languages and the first audio type", 0x03, Descriptor(0x0A, {'E', 'N', 'G', 0x01, 'c', 'y', 'm', 0x02}),
         "mp2 audio lang=eng,cym audio_type=clean effects"},
        {"hearing impaired", 0x0F, Language("jpn", 0x02), "aac audio lang=jpn audio_type=hearing impaired"},
        {"a user private audio type", 0x0F, Language("jpn", 0x80), "aac audio lang=jpn audio_type=0x80"},
        {"codes that are not letters", 0x0F, Descriptor(0x0A, {0, 0, 0, 0, ' ', ' ', ' ', 0, 'e', '5', 'g', 0}),
         "aac audio"},
        {"one language in three descriptors", 0x06,
         Concat({Language("fra"), Descriptor(0x59, Subtitling("fra", 0x20)),
                 Descriptor(0x56, TeletextEntry("fra", 2, 8, 0x88))}),
         "- data lang=fra subtitles=hard of hearing page=fra:subtitles:888"},

        // Malformed loops: a descriptor reaching past the loop's end ends it unread; entries cut
        // by their descriptor's length are left out.
        {"AC-3 overruns the loop after a language", 0x06, Concat({Language("fra"), Bytes{0x6A, 0x05, 0x80, 0x42}}),
         "- data lang=fra"},
        {"a language overruns the loop after AC-3", 0x06, Concat({AC3(0x6A, 0x42), Bytes{0x0A, 0x04, 'f', 'r', 'a'}}),
         "ac3 audio channels=stereo"},
        {"a descriptor overruns the loop before a valid one", 0x06,
         Concat({Bytes{0x59, 0x10, 'f', 'r', 'a', 0x10}, Registration("AC-3")}), "- data"},
        {"a lone tag byte at the end", 0x06, Concat({Registration("AC-3"), Bytes{0x0A}}), "ac3 audio"},
        {"ISO 639 with a cut second entry", 0x0F, Descriptor(0x0A, {'f', 'r', 'a', 0x00, 'd', 'e'}),
         "aac audio lang=fra"},
        {"subtitling with a cut entry", 0x06, Descriptor(0x59, {'f', 'r', 'a', 0x10, 0x00, 0x01, 0x00}),
         "dvb_subtitle subtitles"},
        {"teletext with a cut entry", 0x06, Descriptor(0x56, {'f', 'r', 'a', 0x10}), "dvb_teletext teletext"},
        {"registration cut to three bytes", 0x06, Descriptor(0x05, {'A', 'C', '-'}), "- data"},
        {"empty descriptors", 0x06, Concat({Descriptor(0x0A, {}), Descriptor(0x05, {}), Descriptor(0x52, {})}),
         "- data"},
    };
    for (const Case &test : cases) {
        SCOPED_TRACE(test.strWhat);
        EXPECT_EQ(Describe(IdentifyStream(test.u8StreamType, test.loop.data(), test.loop.size())), test.strExpected);
    }

    // Every number_of_channels of component_type (EN 300 468 table D.1), for AC-3 and E-AC-3.
    const char *const layouts[] = {"mono",
                                   "dual mono",
                                   "stereo",
                                   "surround-encoded stereo",
                                   "multichannel",
                                   "multichannel beyond 5.1",
                                   "independent substreams"};
    for (u8 channels = 0; channels < 8; ++channels) {
        SCOPED_TRACE(int(channels));
        for (u8 tag : {u8(0x6A), u8(0x7A)}) {
            const Bytes loop = AC3(tag, u8(0x40 | channels));
            const StreamIdentity identity = IdentifyStream(0x06, loop);
            EXPECT_EQ(ChannelLayoutName(identity.channel_layout), channels < 7 ? layouts[channels] : "");
        }
    }

    // No bytes at all: the stream_type alone.
    EXPECT_EQ(Describe(IdentifyStream(0x1B, nullptr, 12)), "h264 video");
    EXPECT_EQ(Describe(IdentifyStream(0x06, nullptr, 12)), "- data");
}

}  // namespace
