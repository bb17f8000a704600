// Text and JSON forms of a decoded NIT.
#include <initializer_list>

#include "psi/print.h"
#include "psi/si.h"

// The header line (network_id in place of transport_stream_id), the network loop with the
// network's name, the transport stream loop, a line per transport stream, and the CRC_32.
int TS_NIT_Print(TS_Sink *out, const TS_NIT *nit, int family)
{
    if (nit == nullptr)
        return -1;
    TS_Section_PrintHeaderLine(out, "NIT", *nit, "NID", nit->network_id);
    TS_Text_Printf(out, "  RFU:%d NDL:%d DSC:%d", nit->reserved_future_use1, nit->network_descriptors_length,
                   nit->u16DescriptorCount);
    TS_SI_PrintTags(out, nit->lu8DescriptorTag, nit->u16DescriptorCount);
    if (nit->u8HasNetworkName)
        TS_SI_PrintName(out, "NetworkName", nit->lu8NetworkName, nit->u8NetworkNameCount, family);
    TS_Text_Putchar(out, '\n');
    TS_Text_Printf(out, "  RFU:%d TSLL:%d TransportStreams:%d\n", nit->reserved_future_use2,
                   nit->transport_stream_loop_length, nit->u16TransportStreamCount);
    const u16 count = nit->u16TransportStreamCount < TS_MAX_TRANSPORT_STREAMS ? nit->u16TransportStreamCount
                                                                              : TS_MAX_TRANSPORT_STREAMS;
    for (u16 i = 0; i < count; ++i) {
        const TS_NITTransportStream &stream = nit->ltTransportStream[i];
        TS_Text_Printf(out, "  TSI:%d ONID:%d RFU:%d TDL:%d DSC:%d", stream.transport_stream_id,
                       stream.original_network_id, stream.reserved_future_use, stream.transport_descriptors_length,
                       stream.u16DescriptorCount);
        TS_SI_PrintTags(out, stream.lu8DescriptorTag, stream.u16DescriptorCount);
        TS_Text_Putchar(out, '\n');
    }
    TS_Section_PrintCRC(out, nit->CRC_32);
    return 0;
}

void TS_NIT_PrintJSON(TS_Json *json, const TS_NIT *nit, bool crc_ok, int family)
{
    TS_Section_PrintTableJSON(json, *nit, "network_id", nit->network_id, crc_ok, [=] {
        TS_Json_StringField(json, "charset", TS_SI_FamilyName(family));
        TS_Json_NumberField(json, "network_descriptors_length", nit->network_descriptors_length);
        TS_SI_PrintTagsJSON(json, nit->lu8DescriptorTag, nit->u16DescriptorCount);
        if (nit->u8HasNetworkName) {
            TS_SI_PrintNameJSON(json, "network_name", nit->lu8NetworkName, nit->u8NetworkNameCount, family);
        } else {
            for (const char *key : {"network_name", "network_name_bytes"}) {
                TS_Json_Key(json, key);
                TS_Json_Null(json);
            }
        }
        TS_Json_NumberField(json, "transport_stream_loop_length", nit->transport_stream_loop_length);
        const u16 count = nit->u16TransportStreamCount < TS_MAX_TRANSPORT_STREAMS ? nit->u16TransportStreamCount
                                                                                  : TS_MAX_TRANSPORT_STREAMS;
        TS_Json_ObjectArrayField(json, "transport_streams", count, [=](u32 i) {
            const TS_NITTransportStream &stream = nit->ltTransportStream[i];
            TS_Json_NumberField(json, "transport_stream_id", stream.transport_stream_id);
            TS_Json_NumberField(json, "original_network_id", stream.original_network_id);
            TS_Json_NumberField(json, "transport_descriptors_length", stream.transport_descriptors_length);
            TS_SI_PrintTagsJSON(json, stream.lu8DescriptorTag, stream.u16DescriptorCount);
        });
    });
}

int TS_NIT_Print(const TS_NIT *nit, int family)
{
    return TS_Text_ToStdout([&](TS_Sink *out) { return TS_NIT_Print(out, nit, family); });
}
