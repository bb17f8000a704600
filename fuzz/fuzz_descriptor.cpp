// Descriptor decoding and printing through the dispatch by tag. The input is a descriptor loop:
// it is decoded with the bounds of a section ending where the input ends, every descriptor is
// printed, and the first one also goes through TS_GetDescriptor and through every kind's own
// decoder, printer and JSON form, which must refuse a foreign tag without touching the record.
// The loop is also an elementary stream's, identified under stream_types of every kind of rule.
#include <cstring>
#include <string>
#include <vector>

#include <pidsift/streams.h>

#include "descriptors/descriptors.h"
#include "support.h"

using fuzzsupport::Check;

namespace {

TS_Descriptor g_ltLoop[32];

// A stream_type that names its codec, the private PES and metadata types, the user private
// types with rules of their own, and types without any rule.
constexpr u8 kStreamTypes[] = {0x00, 0x02, 0x06, 0x15, 0x1F, 0x81, 0x83, 0x86, 0x87, 0xFF};

// The identity of the loop under each stream_type: the bytes behind the last whole descriptor
// are not read, a named stream_type keeps its codec, and the details are well formed.
void CheckIdentification(const u8 *loop, size_t size)
{
    size_t whole = 0;
    while (whole + 2 <= size && whole + 2 + loop[whole + 1] <= size)
        whole += 2 + loop[whole + 1];
    for (const u8 stream_type : kStreamTypes) {
        const pidsift::StreamIdentity identity = pidsift::IdentifyStream(stream_type, loop, size);
        Check(identity == pidsift::IdentifyStream(stream_type, loop, whole), "an overrunning descriptor is not read");
        Check(stream_type != 0x02 || identity.codec == "mpeg2video", "the stream_type names the codec");
        Check(!identity.superimposed || identity.codec == "arib_caption", "superimposed text is ARIB captions");
        for (size_t i = 0; i < identity.languages.size(); ++i) {
            const std::string &language = identity.languages[i];
            Check(language.size() == 3 && language.find_first_not_of("abcdefghijklmnopqrstuvwxyz") == std::string::npos,
                  "a language is three lower-case letters");
            for (size_t j = 0; j < i; ++j)
                Check(identity.languages[j] != language, "a language comes once");
        }
        for (const pidsift::TeletextPage &page : identity.teletext_pages)
            Check(page.magazine >= 1 && page.magazine <= 8 && page.Number().size() == 3, "a teletext page number");
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzzsupport::SilenceStdout();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > 4096)
        return 0;
    // The loop's bytes alone on the heap: the section ends where the input ends.
    const std::vector<u8> loop(data, data + size);
    const u8 *begin = loop.data();
    const u8 *end = begin + loop.size();
    CheckIdentification(begin, loop.size());
    const u16 count = TS_Descriptor_DecodeLoop(g_ltLoop, 32, begin, end, end);
    Check(count <= 32, "loop capacity");
    for (u16 i = 0; i < count; ++i) {
        Check(TS_Descriptor_Print(&g_ltLoop[i]) == 0, "dispatch prints");
        char name[256];
        TS_DescriptorTagToString(name, g_ltLoop[i].descriptor_tag);
    }
    if (size < 2)
        return 0;

    // TS_GetDescriptor trusts its caller for the descriptor's bytes: 2 + descriptor_length, and
    // at least the fixed part its kind declares in the table. Exactly that many bytes on the
    // heap, so that a decoder reading past its declared fixed part is caught.
    const size_t span = 2u + data[1];
    const size_t fixed = TS_DescriptorKind_For(data[0]).u8FixedSize;
    std::vector<u8> one(span < fixed ? fixed : span, 0);
    std::memcpy(one.data(), data, size < one.size() ? size : one.size());
    TS_Descriptor descriptor;
    std::memset(&descriptor, 0, sizeof descriptor);
    Check(TS_GetDescriptor(&descriptor, one.data()) == 0, "dispatch decodes");
    Check(descriptor.descriptor_tag == one[0] && descriptor.descriptor_length == one[1], "tag and length as read");
    TS_Sink out([](const char *, size_t) {});
    Check(TS_Descriptor_Print(&out, &descriptor) == 0, "dispatch prints");
    TS_Descriptor_PrintRAW(&out, &descriptor);

    for (const TS_DescriptorKind &kind : TS_DESCRIPTOR_KINDS) {
        TS_Descriptor record;
        std::memset(&record, 0x5A, sizeof record);
        const TS_Descriptor before = record;
        const int result = kind.pfnGet(&record, one.data());
        if (kind.u8Tag == one[0]) {
            Check(result == 0, "a kind decodes its own tag");
            Check(kind.pfnPrint(&out, &record) == 0, "a kind prints its own tag");
            TS_Json json;
            TS_Json_Start(&json, &out);
            Check(kind.pfnJSON(&json, &record) == 0, "a kind writes its own tag as JSON");
            TS_Json_EndLine(&json);
        } else {
            Check(result == -2, "a kind refuses a foreign tag");
            Check(std::memcmp(&record, &before, sizeof record) == 0, "a refused record is untouched");
            Check(kind.pfnPrint(&out, &descriptor) == -2, "a kind does not print a foreign tag");
            TS_Json json;
            TS_Json_Start(&json, &out);
            Check(kind.pfnJSON(&json, &descriptor) == -2, "a kind does not write a foreign tag as JSON");
        }
    }
    return 0;
}
