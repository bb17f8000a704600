// Text form of a decoded PMT: header line, program descriptors, each elementary stream with its
// descriptors, and the CRC_32. Table lines are indented; descriptor lines start in column 0.
// The JSON form holds the same, the streams as a list.
#include "psi/print.h"

int TS_PMT_Print(const TS_PMT *pmt)
{
    if (pmt == nullptr)
        return -1;
    TS_Text_Printf("[PMT] TI:0x%02X(%s) SSI:%d R1:%d SLEN:%d TSI:%d R2:%d VER:%d CNI:%d SN:%d LSN:%d "
                   "PCRPID:0x%04X PIL:%d\n",
                   pmt->table_id, TS_Name_TableId(pmt->table_id), pmt->section_syntax_indicator, pmt->reserved1,
                   pmt->section_length, pmt->program_number, pmt->reserved2, pmt->version_number,
                   pmt->current_next_indicator, pmt->section_number, pmt->last_section_number, pmt->PCR_PID,
                   pmt->program_info_length);
    TS_Text_Printf("  DSC:%d\n", pmt->u16DescriptorCount);
    TS_Section_PrintDescriptors(pmt->ltDescriptor, pmt->u16DescriptorCount);

    const u16 streams = pmt->u16StreamCount < TS_MAX_STREAMS ? pmt->u16StreamCount : TS_MAX_STREAMS;
    for (u16 i = 0; i < streams; ++i) {
        const TS_PMTStream *stream = &pmt->ltStream[i];
        TS_Text_Printf("  ST:0x%02X(%s) EPID:0x%04X ESIL:%d DSC:%d\n", stream->stream_type,
                       TS_Name_StreamType(stream->stream_type), stream->elementary_PID, stream->ES_info_length,
                       stream->u16DescriptorCount);
        TS_Text_Printf("  DSC:%d\n", stream->u16DescriptorCount);
        TS_Section_PrintDescriptors(stream->ltDescriptor, stream->u16DescriptorCount);
    }
    TS_Section_PrintCRC(pmt->CRC_32);
    return 0;
}

void TS_PMT_PrintJSON(TS_Json *json, const TS_PMT *pmt, bool crc_ok)
{
    TS_Section_PrintTableJSON(json, *pmt, "program_number", pmt->program_number, crc_ok, [json, pmt] {
        TS_Json_NumberField(json, "pcr_pid", pmt->PCR_PID);
        TS_Json_NumberField(json, "program_info_length", pmt->program_info_length);
        TS_Section_PrintDescriptorsJSON(json, pmt->ltDescriptor, pmt->u16DescriptorCount);
        const u16 streams = pmt->u16StreamCount < TS_MAX_STREAMS ? pmt->u16StreamCount : TS_MAX_STREAMS;
        TS_Json_ObjectArrayField(json, "streams", streams, [json, pmt](u32 i) {
            const TS_PMTStream *stream = &pmt->ltStream[i];
            TS_Json_NumberField(json, "stream_type", stream->stream_type);
            TS_Json_NumberField(json, "elementary_pid", stream->elementary_PID);
            TS_Json_NumberField(json, "es_info_length", stream->ES_info_length);
            TS_Section_PrintDescriptorsJSON(json, stream->ltDescriptor, stream->u16DescriptorCount);
        });
    });
}
