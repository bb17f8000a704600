// Text form of a PMT: header line, program descriptors, each elementary stream with its
// descriptors, and the CRC_32. Table lines are indented; descriptor lines start in column 0.
// The JSON form holds the same, the streams as a list. Both are written from the record (the
// streams and descriptors it holds) or from a whole section.
#include "psi/print.h"
#include "psi/walk.h"

namespace {

// The fields of a PMT that its header line shows, read from a section.
struct TS_PMTHeader {
    u8 table_id;
    u8 section_syntax_indicator;
    u8 reserved1;
    u16 section_length;
    u16 program_number;
    u8 reserved2;
    u8 version_number;
    u8 current_next_indicator;
    u8 section_number;
    u8 last_section_number;
    u16 PCR_PID;
    u16 program_info_length;
    u32 CRC_32;
};

template <class Pmt> void TS_PMT_PrintHeaderLine(TS_Sink *out, const Pmt &pmt, u16 descriptor_count)
{
    TS_Text_Printf(out,
                   "[PMT] TI:0x%02X(%s) SSI:%d R1:%d SLEN:%d TSI:%d R2:%d VER:%d CNI:%d SN:%d LSN:%d "
                   "PCRPID:0x%04X PIL:%d\n",
                   pmt.table_id, TS_Name_TableId(pmt.table_id), pmt.section_syntax_indicator, pmt.reserved1,
                   pmt.section_length, pmt.program_number, pmt.reserved2, pmt.version_number,
                   pmt.current_next_indicator, pmt.section_number, pmt.last_section_number, pmt.PCR_PID,
                   pmt.program_info_length);
    TS_Text_Printf(out, "  DSC:%d\n", descriptor_count);
}

void TS_PMT_PrintStreamLines(TS_Sink *out, u8 stream_type, u16 pid, u16 es_info_length, u16 descriptor_count)
{
    TS_Text_Printf(out, "  ST:0x%02X(%s) EPID:0x%04X ESIL:%d DSC:%d\n", stream_type, TS_Name_StreamType(stream_type),
                   pid, es_info_length, descriptor_count);
    TS_Text_Printf(out, "  DSC:%d\n", descriptor_count);
}

template <class Pmt> void TS_PMT_PrintProgramJSON(TS_Json *json, const Pmt &pmt)
{
    TS_Json_NumberField(json, "pcr_pid", pmt.PCR_PID);
    TS_Json_NumberField(json, "program_info_length", pmt.program_info_length);
}

void TS_PMT_PrintStreamJSON(TS_Json *json, u8 stream_type, u16 pid, u16 es_info_length)
{
    TS_Json_NumberField(json, "stream_type", stream_type);
    TS_Json_NumberField(json, "elementary_pid", pid);
    TS_Json_NumberField(json, "es_info_length", es_info_length);
}

// Walks a whole PMT section: header(const TS_PMTHeader &, const TS_PMTProgramPart &) once, then
// stream(const TS_PMTStreamEntry &) for every stream entry; the CRC_32 is in the header given
// to header().
template <class OnHeader, class OnStream>
void TS_PMT_WalkSection(const u8 *section, u32 length, OnHeader &&header, OnStream &&stream)
{
    struct Visitor {
        OnHeader &on_header;
        OnStream &on_stream;
        TS_PMTHeader *pHeader;
        TS_ByteReader tCRC;
        void Program(const TS_PMTProgramPart &program)
        {
            pHeader->PCR_PID = program.PCR_PID;
            pHeader->program_info_length = program.program_info_length;
            pHeader->CRC_32 = TS_Section_ReadCRC(tCRC);
            on_header(static_cast<const TS_PMTHeader &>(*pHeader), program);
        }
        bool Stream(const TS_PMTStreamEntry &entry)
        {
            on_stream(entry);
            return true;
        }
    };
    TS_PMTHeader fields = {};
    TS_ByteReader reader(section, length);
    const TS_SectionHeader read = TS_Section_ReadHeader(&fields, &reader, TS_SectionForm::Long);
    fields.section_length = read.section_length;
    fields.program_number = read.table_id_extension;
    Visitor visitor = {header, stream, &fields, TS_ByteReader(section, length)};
    TS_PMT_WalkBody(read, reader, visitor);
}

}  // namespace

int TS_PMT_Print(TS_Sink *out, const TS_PMT *pmt)
{
    if (pmt == nullptr)
        return -1;
    TS_PMT_PrintHeaderLine(out, *pmt, pmt->u16DescriptorCount);
    TS_Section_PrintDescriptors(out, pmt->ltDescriptor, pmt->u16DescriptorCount);

    const u16 streams = pmt->u16StreamCount < TS_MAX_STREAMS ? pmt->u16StreamCount : TS_MAX_STREAMS;
    for (u16 i = 0; i < streams; ++i) {
        const TS_PMTStream *stream = &pmt->ltStream[i];
        TS_PMT_PrintStreamLines(out, stream->stream_type, stream->elementary_PID, stream->ES_info_length,
                                stream->u16DescriptorCount);
        TS_Section_PrintDescriptors(out, stream->ltDescriptor, stream->u16DescriptorCount);
    }
    TS_Section_PrintCRC(out, pmt->CRC_32);
    return 0;
}

void TS_PMT_PrintJSON(TS_Json *json, const TS_PMT *pmt, bool crc_ok)
{
    TS_Section_PrintTableJSON(json, *pmt, "program_number", pmt->program_number, crc_ok, [json, pmt] {
        TS_PMT_PrintProgramJSON(json, *pmt);
        TS_Section_PrintDescriptorsJSON(json, pmt->ltDescriptor, pmt->u16DescriptorCount);
        const u16 streams = pmt->u16StreamCount < TS_MAX_STREAMS ? pmt->u16StreamCount : TS_MAX_STREAMS;
        TS_Json_ObjectArrayField(json, "streams", streams, [json, pmt](u32 i) {
            const TS_PMTStream *stream = &pmt->ltStream[i];
            TS_PMT_PrintStreamJSON(json, stream->stream_type, stream->elementary_PID, stream->ES_info_length);
            TS_Section_PrintDescriptorsJSON(json, stream->ltDescriptor, stream->u16DescriptorCount);
        });
    });
}

void TS_PMT_PrintSection(TS_Sink *out, const u8 *section, u32 length)
{
    u32 crc = 0;
    TS_PMT_WalkSection(
        section, length,
        [&](const TS_PMTHeader &header, const TS_PMTProgramPart &program) {
            TS_PMT_PrintHeaderLine(out, header, TS_Section_CountDescriptors(program.tLoop, program.pu8SectionEnd));
            TS_Section_PrintDescriptorLoop(out, program.tLoop, program.pu8SectionEnd);
            crc = header.CRC_32;
        },
        [&](const TS_PMTStreamEntry &stream) {
            TS_PMT_PrintStreamLines(out, stream.stream_type, stream.elementary_PID, stream.ES_info_length,
                                    TS_Section_CountDescriptors(stream.tLoop, stream.pu8SectionEnd));
            TS_Section_PrintDescriptorLoop(out, stream.tLoop, stream.pu8SectionEnd);
        });
    TS_Section_PrintCRC(out, crc);
}

void TS_PMT_PrintSectionJSON(TS_Json *json, const u8 *section, u32 length, bool crc_ok)
{
    u32 crc = 0;
    bool streams_open = false;
    TS_PMT_WalkSection(
        section, length,
        [&](const TS_PMTHeader &header, const TS_PMTProgramPart &program) {
            TS_Section_PrintTableHeadJSON(json, header, "program_number", header.program_number);
            TS_PMT_PrintProgramJSON(json, header);
            TS_Section_PrintDescriptorLoopJSON(json, program.tLoop, program.pu8SectionEnd);
            TS_Json_Key(json, "streams");
            TS_Json_ArrayBegin(json);
            streams_open = true;
            crc = header.CRC_32;
        },
        [&](const TS_PMTStreamEntry &stream) {
            TS_Json_ObjectBegin(json);
            TS_PMT_PrintStreamJSON(json, stream.stream_type, stream.elementary_PID, stream.ES_info_length);
            TS_Section_PrintDescriptorLoopJSON(json, stream.tLoop, stream.pu8SectionEnd);
            TS_Json_ObjectEnd(json);
        });
    if (streams_open)
        TS_Json_ArrayEnd(json);
    TS_Section_PrintCRCJSON(json, crc, crc_ok);
}

int TS_PMT_Print(const TS_PMT *pmt)
{
    return TS_Text_ToStdout([&](TS_Sink *out) { return TS_PMT_Print(out, pmt); });
}
