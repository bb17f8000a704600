// The character set of a recording's SI names: the caller's choice, or what the recording shows.
#include "drivers/text_family.h"

#include "common/bytes.h"

namespace {

bool TS_FamilyVote_AnyAribTag(const u8 *tags, u16 count)
{
    const u16 bounded = count < TS_MAX_DESCRIPTORS ? count : TS_MAX_DESCRIPTORS;
    for (u16 i = 0; i < bounded; ++i)
        if (TS_FamilyVote_IsAribTag(tags[i]))
            return true;
    return false;
}

bool TS_FamilyVote_AnyAribDescriptor(const TS_Descriptor *list, u16 count)
{
    const u16 bounded = count < TS_MAX_DESCRIPTORS ? count : TS_MAX_DESCRIPTORS;
    for (u16 i = 0; i < bounded; ++i)
        if (TS_FamilyVote_IsAribTag(list[i].descriptor_tag))
            return true;
    return false;
}

}  // namespace

void TS_FamilyVote_Start(TS_FamilyVote *vote, int family)
{
    vote->s32Chosen = family;
    vote->u8AribSeen = 0;
}

int TS_FamilyVote_Family(const TS_FamilyVote *vote)
{
    if (vote->s32Chosen != TS_TEXT_AUTO)
        return vote->s32Chosen;
    return vote->u8AribSeen ? TS_TEXT_ARIB : TS_TEXT_DVB;
}

bool TS_FamilyVote_IsAribTag(u8 tag)
{
    switch (tag) {
    case 0xC1:
    case 0xC8:
    case 0xCD:
    case 0xCF:
    case 0xFD:
    case 0xFE:
        return true;
    default:
        return false;
    }
}

bool TS_FamilyVote_IsAribName(const u8 *bytes, u32 count)
{
    u32 start = 0;
    if (count > 0 && bytes[0] == 0x11)
        return false;  // UTF-16: any byte may stand in a character
    if (count > 0 && bytes[0] == 0x10)
        start = 3;
    else if (count > 0 && bytes[0] == 0x1F)
        start = 2;
    for (u32 i = start; i < count; ++i) {
        switch (bytes[i]) {
        case 0x0E:  // LS1
        case 0x0F:  // LS0
        case 0x19:  // SS2
        case 0x1B:  // ESC
        case 0x1D:  // SS3
            return true;
        default:
            break;
        }
    }
    return false;
}

void TS_FamilyVote_NotePMT(TS_FamilyVote *vote, const TS_PMT *pmt)
{
    if (vote->u8AribSeen || !pmt->u8Valid)
        return;
    bool seen = TS_FamilyVote_AnyAribDescriptor(pmt->ltDescriptor, pmt->u16DescriptorCount);
    const u16 streams = pmt->u16StreamCount < TS_MAX_STREAMS ? pmt->u16StreamCount : TS_MAX_STREAMS;
    for (u16 i = 0; i < streams && !seen; ++i)
        seen = TS_FamilyVote_AnyAribDescriptor(pmt->ltStream[i].ltDescriptor, pmt->ltStream[i].u16DescriptorCount);
    vote->u8AribSeen = seen;
}

void TS_FamilyVote_NoteSDT(TS_FamilyVote *vote, const TS_SDT *sdt)
{
    if (vote->u8AribSeen || !sdt->u8Valid)
        return;
    const u16 count = sdt->u16ServiceCount < TS_MAX_SERVICES ? sdt->u16ServiceCount : TS_MAX_SERVICES;
    for (u16 i = 0; i < count; ++i) {
        const TS_SDTService &service = sdt->ltService[i];
        if (TS_FamilyVote_AnyAribTag(service.lu8DescriptorTag, service.u16DescriptorCount) ||
            TS_FamilyVote_IsAribName(service.lu8ProviderName, service.u8ProviderNameCount) ||
            TS_FamilyVote_IsAribName(service.lu8ServiceName, service.u8ServiceNameCount)) {
            vote->u8AribSeen = 1;
            return;
        }
    }
}

void TS_FamilyVote_NoteNIT(TS_FamilyVote *vote, const TS_NIT *nit)
{
    if (vote->u8AribSeen || !nit->u8Valid)
        return;
    bool seen = TS_FamilyVote_AnyAribTag(nit->lu8DescriptorTag, nit->u16DescriptorCount) ||
                TS_FamilyVote_IsAribName(nit->lu8NetworkName, nit->u8HasNetworkName ? nit->u8NetworkNameCount : 0);
    const u16 count = nit->u16TransportStreamCount < TS_MAX_TRANSPORT_STREAMS ? nit->u16TransportStreamCount
                                                                              : TS_MAX_TRANSPORT_STREAMS;
    for (u16 i = 0; i < count && !seen; ++i)
        seen = TS_FamilyVote_AnyAribTag(nit->ltTransportStream[i].lu8DescriptorTag,
                                        nit->ltTransportStream[i].u16DescriptorCount);
    vote->u8AribSeen = seen;
}

void TS_FamilyVote_NotePacket(TS_FamilyVote *vote, const u8 *packet)
{
    if (vote->u8AribSeen)
        return;
    TS_ByteReader reader(packet, TS_PACKET_SIZE);
    reader.Skip(1);
    const u16 flags_and_pid = reader.Read16();
    const u8 control = reader.Read8();
    if ((flags_and_pid & 0x4000) == 0 || (control & 0x10) == 0)
        return;
    if (control & 0x20)
        reader.Skip(reader.Read8());
    // pointer_field, then the table_id of the section that starts here.
    reader.Skip(reader.Read8());
    const u8 table_id = reader.Read8();
    if (!reader.Failed() && (table_id == 0xC3 || table_id == 0xC4 || table_id == 0xC8))
        vote->u8AribSeen = 1;
}
