// Network information section decoding (the NIT of EN 300 468 and ARIB STD-B10, PID 0x0010): the
// network's name and the transport streams it lists.
#include <cstring>

#include "descriptors/descriptors.h"
#include "psi/section.h"
#include "psi/si.h"

namespace {

constexpr u8 kNetworkNameDescriptor = 0x40;

// One entry of the transport stream loop; the reader is left where transport_descriptors_length
// says the next entry starts.
void TS_NITTransportStream_Read(TS_NITTransportStream *stream, TS_ByteReader *section, TS_Descriptor *scratch)
{
    stream->transport_stream_id = section->Read16();
    stream->original_network_id = section->Read16();
    const u16 length = section->Read16();
    stream->reserved_future_use = u8(length >> 12);
    stream->transport_descriptors_length = u16(length & 0x0FFF);
    const TS_ByteReader loop = section->Take(stream->transport_descriptors_length);
    stream->u16DescriptorCount = TS_SI_DecodeLoop(scratch, stream->lu8DescriptorTag, loop, *section);
}

}  // namespace

int TS_NIT_FromPreSection(TS_NIT *nit, const TS_PreSection *section)
{
    return TS_Section_DecodeTable(nit, section, [nit](const TS_SectionHeader &header, TS_ByteReader &reader) {
        nit->network_id = header.table_id_extension;
        TS_Descriptor scratch[TS_MAX_DESCRIPTORS];

        const u16 network = reader.Read16();
        nit->reserved_future_use1 = u8(network >> 12);
        nit->network_descriptors_length = u16(network & 0x0FFF);
        // The transport stream loop starts where network_descriptors_length says, even when the
        // network loop's last descriptor overran it.
        const TS_ByteReader network_loop = reader.Take(nit->network_descriptors_length);
        nit->u16DescriptorCount = TS_SI_DecodeLoop(scratch, nit->lu8DescriptorTag, network_loop, reader);
        nit->u8HasNetworkName = 0;
        nit->u8NetworkNameCount = 0;
        for (u16 i = 0; i < nit->u16DescriptorCount; ++i) {
            if (scratch[i].descriptor_tag == kNetworkNameDescriptor) {
                nit->u8HasNetworkName = 1;
                nit->u8NetworkNameCount =
                    TS_SI_CopyName(nit->lu8NetworkName, TS_ByteReader(scratch[i].lu8Raw, scratch[i].descriptor_length));
                break;
            }
        }

        const u16 streams = reader.Read16();
        nit->reserved_future_use2 = u8(streams >> 12);
        nit->transport_stream_loop_length = u16(streams & 0x0FFF);
        // Entries start inside the declared loop and before the CRC_32, with their six fixed
        // bytes in the section.
        const u32 loop_end = reader.Offset() + nit->transport_stream_loop_length;
        u16 count = 0;
        while (count < TS_MAX_TRANSPORT_STREAMS && reader.Offset() < loop_end &&
               TS_Section_LoopLength(header, reader) > 0 && reader.Remaining() >= 6)
            TS_NITTransportStream_Read(&nit->ltTransportStream[count++], &reader, scratch);
        nit->u16TransportStreamCount = count;
    });
}
