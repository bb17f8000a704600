// How pidsift-check shows what each stream of a PMT is: its codec, kind, languages and the
// details its descriptors give, in the cells of the text's programs table.
#include "renderers.h"

namespace check_tool {

namespace {

std::string Joined(const std::vector<std::string> &words)
{
    std::string text;
    for (const std::string &word : words)
        text += (text.empty() ? "" : ", ") + word;
    return text;
}

// A teletext page as "page 888 subtitles (fra)".
std::string TeletextPageText(const pidsift::TeletextPage &page)
{
    std::string text = "page " + page.Number();
    const std::string_view type = pidsift::TeletextTypeName(page.type);
    text += type.empty() ? Format(" type 0x%02X", unsigned(page.type)) : " " + std::string(type);
    if (!page.language.empty())
        text += " (" + page.language + ")";
    return text;
}

}  // namespace

std::vector<std::string> StreamCells(const pidsift::StreamIdentity &identity)
{
    std::vector<std::string> details;
    if (identity.audio_type != pidsift::AudioType::Undefined) {
        const std::string_view name = pidsift::AudioTypeName(identity.audio_type);
        details.push_back(name.empty() ? Format("audio type 0x%02X", unsigned(identity.audio_type))
                                       : std::string(name));
    }
    if (identity.channel_layout != pidsift::ChannelLayout::Unknown)
        details.emplace_back(pidsift::ChannelLayoutName(identity.channel_layout));
    if (identity.subtitle_type == pidsift::SubtitleType::HardOfHearing)
        details.emplace_back("for the hard of hearing");
    for (const pidsift::TeletextPage &page : identity.teletext_pages)
        details.push_back(TeletextPageText(page));
    if (identity.superimposed)
        details.emplace_back("superimposed");
    return {identity.codec.empty() ? "unknown" : std::string(identity.codec),
            std::string(pidsift::StreamKindName(identity.kind)),
            identity.languages.empty() ? "-" : Joined(identity.languages), details.empty() ? "-" : Joined(details)};
}

}  // namespace check_tool
