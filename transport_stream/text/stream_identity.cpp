// Identification of an elementary stream from its stream_type and its ES_info descriptors,
// through the one table of rules in stream_identity.inc.
#include <pidsift/streams.h>

#include <algorithm>
#include <cstdio>
#include <limits>

#include "common/bytes.h"

namespace {

#include "text/stream_identity.inc"

// Two descriptors that match rules of different codecs leave the stream unknown: every rule of
// a descriptor names its codec, so that there is one to compare.
constexpr bool TS_StreamRules_NameTheirCodecs()
{
    for (const TS_StreamRule &rule : kStreamRules)
        if (rule.u8Tag != kTypeAlone && rule.strCodec == nullptr)
            return false;
    return true;
}
static_assert(TS_StreamRules_NameTheirCodecs(), "a descriptor rule without a codec");

// The identifier a rule of the descriptor's tag compares, when the body holds it: the
// format_identifier of a registration, the data_component_id of a data component, the
// metadata_format_identifier of a metadata descriptor of format 0xFF (ISO/IEC 13818-1 2.6.60:
// application format 0xFFFF puts a 32-bit identifier before the format).
bool TS_StreamRule_Identifier(u8 tag, TS_ByteReader body, u32 *identifier)
{
    if (tag == kRegistration) {
        *identifier = body.Read32();
    } else if (tag == kDataComponent) {
        *identifier = body.Read16();
    } else if (tag == kMetadata) {
        if (body.Read16() == 0xFFFF)
            body.Skip(4);
        if (body.Read8() != 0xFF)
            return false;
        *identifier = body.Read32();
    } else {
        return false;
    }
    return !body.Failed();
}

bool TS_StreamRule_Covers(const TS_StreamRule &rule, u8 stream_type)
{
    return stream_type >= rule.u8FirstType && stream_type <= rule.u8LastType;
}

// An ISO 639-2 code as three lower-case letters; empty when the bytes are not three letters
// (a code of spaces or zeros says no language).
std::string TS_Language(const u8 *code)
{
    std::string language;
    for (int i = 0; i < 3; ++i) {
        const u8 c = code[i];
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')))
            return "";
        language += char(c | 0x20);
    }
    return language;
}

void TS_AddLanguage(pidsift::StreamIdentity *identity, const std::string &language)
{
    if (language.empty())
        return;
    for (const std::string &known : identity->languages)
        if (known == language)
            return;
    identity->languages.push_back(language);
}

// The details a descriptor's body gives, entry by entry; entries cut by the body's end are
// left out. component_tag is the stream identifier's, -1 until one comes.
void TS_ReadDetails(pidsift::StreamIdentity *identity, bool *audio_type_read, int *component_tag, u8 tag,
                    TS_ByteReader body)
{
    using namespace pidsift;
    switch (tag) {
    case kISO639Language:
        // ISO 639 language code (24 bits) and audio_type, four bytes an entry.
        while (body.Remaining() >= 4) {
            const u8 *entry = body.Take(4).Begin();
            TS_AddLanguage(identity, TS_Language(entry));
            if (!*audio_type_read)
                identity->audio_type = AudioType(entry[3]);
            *audio_type_read = true;
        }
        break;
    case kSubtitling:
        // Language, subtitling_type, composition_page_id and ancillary_page_id: eight bytes.
        while (body.Remaining() >= 8) {
            const u8 *entry = body.Take(8).Begin();
            TS_AddLanguage(identity, TS_Language(entry));
            if (entry[3] >= 0x20 && entry[3] <= 0x25)
                identity->subtitle_type = SubtitleType::HardOfHearing;
            else if (entry[3] >= 0x10 && entry[3] <= 0x15 && identity->subtitle_type != SubtitleType::HardOfHearing)
                identity->subtitle_type = SubtitleType::Normal;
        }
        break;
    case kTeletext:
    case kVBITeletext:
        // Language, teletext_type (5 bits), teletext_magazine_number (3 bits) and
        // teletext_page_number: five bytes.
        while (body.Remaining() >= 5) {
            const u8 *entry = body.Take(5).Begin();
            TeletextPage page;
            page.language = TS_Language(entry);
            page.type = TeletextType(entry[3] >> 3);
            page.magazine = (entry[3] & 0x07) != 0 ? u8(entry[3] & 0x07) : 8;
            page.page = entry[4];
            TS_AddLanguage(identity, page.language);
            identity->teletext_pages.push_back(page);
        }
        break;
    case kAC3:
    case kEAC3: {
        // component_type follows the flags byte when its flag, the top bit, is set; its low
        // three bits are number_of_channels (EN 300 468 Annex D, table D.1).
        const u8 flags = body.Read8();
        const u8 component_type = body.Read8();
        if ((flags & 0x80) != 0 && !body.Failed() && identity->channel_layout == ChannelLayout::Unknown) {
            constexpr ChannelLayout kLayouts[] = {ChannelLayout::Mono,
                                                  ChannelLayout::DualMono,
                                                  ChannelLayout::Stereo,
                                                  ChannelLayout::SurroundEncodedStereo,
                                                  ChannelLayout::Multichannel,
                                                  ChannelLayout::MultichannelBeyond5_1,
                                                  ChannelLayout::IndependentSubstreams,
                                                  ChannelLayout::Unknown};
            identity->channel_layout = kLayouts[component_type & 0x07];
        }
        break;
    }
    case kStreamIdentifier:
        if (body.Remaining() >= 1 && *component_tag < 0)
            *component_tag = body.Read8();
        break;
    default:
        break;
    }
}

template <typename Enum, size_t N> std::string_view TS_NameOf(const std::string_view (&names)[N], Enum value)
{
    const size_t index = size_t(value);
    return index < N ? names[index] : std::string_view();
}

}  // namespace

namespace pidsift {

StreamIdentity IdentifyStream(std::uint8_t stream_type, const std::uint8_t *descriptors, std::size_t length)
{
    StreamIdentity identity;
    // The rule of the stream_type alone, and the rules that the descriptors match: the first
    // of those decides unless a later one names another codec.
    const TS_StreamRule *by_type = nullptr;
    const TS_StreamRule *by_descriptor = nullptr;
    bool disagree = false;
    for (const TS_StreamRule &rule : kStreamRules)
        if (rule.u8Tag == kTypeAlone && TS_StreamRule_Covers(rule, stream_type))
            by_type = &rule;

    bool audio_type_read = false;
    int component_tag = -1;
    const u32 size = descriptors == nullptr ? 0 : u32(std::min<size_t>(length, std::numeric_limits<u32>::max()));
    TS_ByteReader loop(descriptors, size);
    while (loop.Remaining() >= 2) {
        const u8 tag = loop.Read8();
        const u8 descriptor_length = loop.Read8();
        if (descriptor_length > loop.Remaining())
            break;  // reaches past the loop: neither it nor anything behind it is read
        const TS_ByteReader body = loop.Take(descriptor_length);
        TS_ReadDetails(&identity, &audio_type_read, &component_tag, tag, body);
        u32 identifier = 0;
        const bool identified = TS_StreamRule_Identifier(tag, body, &identifier);
        for (const TS_StreamRule &rule : kStreamRules) {
            if (rule.u8Tag != tag || tag == kTypeAlone || !TS_StreamRule_Covers(rule, stream_type))
                continue;
            if (rule.u32Value != 0 && !(identified && identifier == rule.u32Value))
                continue;
            if (by_descriptor == nullptr)
                by_descriptor = &rule;
            else if (std::string_view(by_descriptor->strCodec) != rule.strCodec)
                disagree = true;
        }
    }

    // A stream_type that names its codec decides whatever the descriptors say.
    const TS_StreamRule *decided = by_type != nullptr && by_type->strCodec != nullptr ? by_type : nullptr;
    if (decided == nullptr && by_descriptor != nullptr && !disagree)
        decided = by_descriptor;
    if (decided != nullptr) {
        identity.codec = decided->strCodec;
        identity.kind = decided->kind;
    } else if (by_type != nullptr) {
        identity.kind = by_type->kind;
    }
    identity.superimposed = identity.codec == "arib_caption" && component_tag >= 0x38 && component_tag <= 0x3F;
    return identity;
}

std::string TeletextPage::Number() const
{
    char number[8];
    std::snprintf(number, sizeof number, "%u%02X", unsigned(magazine), unsigned(page));
    return number;
}

std::string_view StreamKindName(StreamKind kind) { return TS_NameOf(kStreamKindNames, kind); }
std::string_view AudioTypeName(AudioType type) { return TS_NameOf(kAudioTypeNames, type); }
std::string_view ChannelLayoutName(ChannelLayout layout) { return TS_NameOf(kChannelLayoutNames, layout); }
std::string_view SubtitleTypeName(SubtitleType type) { return TS_NameOf(kSubtitleTypeNames, type); }
std::string_view TeletextTypeName(TeletextType type) { return TS_NameOf(kTeletextTypeNames, type); }

}  // namespace pidsift
