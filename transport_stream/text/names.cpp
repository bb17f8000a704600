// Fixed names of PIDs, table ids, stream types and descriptor tags, for the text dumps.
// ISO/IEC 13818-1 tables 2-3, 2-31, 2-34 and 2-45, with the broadcast service-information
// tables and descriptors of DVB and ARIB besides them, and the genres of both families.
#include <cstring>

#include <pidsift/si_tables.h>

#include "text/text.h"

namespace {

// One name for the values u8First to u8Last (a single value when both are equal).
struct TS_NameRange {
    u8 u8First;
    u8 u8Last;
    const char *strName;
};

#include "text/genres.inc"
#include "text/names.inc"

// The name of value in a table of ranges, or nullptr when no range holds it.
template <size_t N> const char *TS_Name_Lookup(const TS_NameRange (&table)[N], u8 value)
{
    for (const TS_NameRange &range : table)
        if (value >= range.u8First && value <= range.u8Last)
            return range.strName;
    return nullptr;
}

// The same, "?" when no range holds it.
template <size_t N> const char *TS_Name_Find(const TS_NameRange (&table)[N], u8 value)
{
    const char *name = TS_Name_Lookup(table, value);
    return name != nullptr ? name : "?";
}

// Copies text and its NUL to the front of name; the rest of the caller's buffer is left alone.
int TS_Name_Put(char *name, const char *text)
{
    if (name == nullptr)
        return -1;
    std::memcpy(name, text, std::strlen(text) + 1);
    return 0;
}

}  // namespace

// The PIDs reserved by ISO/IEC 13818-1 table 2-3 by name; every other 13-bit PID is assigned.
const char *TS_Name_PID(u16 pid)
{
    if (pid == 0x0000)
        return "Program Association Table";
    if (pid == 0x0001)
        return "Conditional Access Table";
    if (pid <= 0x000F)
        return "<reserved>";
    if (pid <= 0x1FFE)
        return "<assigned>";
    if (pid == 0x1FFF)
        return "Null packet";
    return "?";  // above 0x1FFF the value is no 13-bit PID at all
}

const char *TS_Name_TablePID(u16 pid)
{
    const char *name = pid >= 0x0002 && pid <= 0x002F ? TS_Name_Lookup(kTablePIDs, u8(pid)) : nullptr;
    return name != nullptr ? name : "reserved for tables";
}

const char *TS_Name_TableId(u8 table_id) { return TS_Name_Find(kTableIds, table_id); }
const char *TS_Name_StreamType(u8 stream_type) { return TS_Name_Find(kStreamTypes, stream_type); }
const char *TS_Name_DescriptorTag(u8 descriptor_tag) { return TS_Name_Find(kDescriptorTags, descriptor_tag); }

// The copies into a caller's buffer that ts.h declares: -1 without a buffer.
int TS_Header_PIDToString(char *name, u16 pid) { return TS_Name_Put(name, TS_Name_PID(pid)); }
int TS_Section_TagToString(char *name, u8 table_id) { return TS_Name_Put(name, TS_Name_TableId(table_id)); }
int TS_Section_TagToString_ISO(char *name, u8 id) { return TS_Name_Put(name, TS_Name_Find(kTableIdsISO, id)); }
int TS_Header_StreamTypeToString(char *name, u8 type) { return TS_Name_Put(name, TS_Name_StreamType(type)); }
int TS_DescriptorTagToString(char *name, u8 tag) { return TS_Name_Put(name, TS_Name_DescriptorTag(tag)); }

namespace pidsift {

const char *ContentLevel1Name(u8 content_nibble_level_1, int family)
{
    const u8 nibble = content_nibble_level_1 & 0x0F;
    return family == TS_TEXT_ARIB ? TS_Name_Lookup(kAribGenres1, nibble) : TS_Name_Lookup(kDvbGenres1, nibble);
}

const char *ContentLevel2Name(u8 content_nibble_level_1, u8 content_nibble_level_2, int family)
{
    const u8 nibbles = u8(((content_nibble_level_1 & 0x0F) << 4) | (content_nibble_level_2 & 0x0F));
    return family == TS_TEXT_ARIB ? TS_Name_Lookup(kAribGenres2, nibbles) : TS_Name_Lookup(kDvbGenres2, nibbles);
}

}  // namespace pidsift
