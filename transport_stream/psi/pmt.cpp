// Program map section decoding and stream membership (ISO/IEC 13818-1 2.4.4.8).
#include "psi/walk.h"

namespace {

void TS_PMTStream_Fill(TS_PMTStream *stream, const TS_PMTStreamEntry &entry)
{
    stream->stream_type = entry.stream_type;
    stream->elementary_PID = entry.elementary_PID;
    stream->ES_info_length = entry.ES_info_length;
    stream->u16DescriptorCount = TS_Descriptor_DecodeLoop(stream->ltDescriptor, TS_MAX_DESCRIPTORS, entry.tLoop.Begin(),
                                                          entry.tLoop.End(), entry.pu8SectionEnd);
}

// Fills the record from the walk, up to its capacities.
struct TS_PMTFiller {
    TS_PMT *pPMT;
    u16 u16Count;

    void Program(const TS_PMTProgramPart &program)
    {
        pPMT->PCR_PID = program.PCR_PID;
        pPMT->program_info_length = program.program_info_length;
        pPMT->u16DescriptorCount = TS_Descriptor_DecodeLoop(
            pPMT->ltDescriptor, TS_MAX_DESCRIPTORS, program.tLoop.Begin(), program.tLoop.End(), program.pu8SectionEnd);
    }
    bool Stream(const TS_PMTStreamEntry &entry)
    {
        TS_PMTStream_Fill(&pPMT->ltStream[u16Count++], entry);
        return u16Count < TS_MAX_STREAMS;
    }
};

}  // namespace

// Decodes one stream loop entry, its descriptors included, trusting ES_info_length.
int TS_PMT_GetStreamInfo(TS_PMTStream *stream, const u8 *entry)
{
    if (stream == nullptr || entry == nullptr)
        return -1;
    TS_ByteReader reader(entry, 5 + TS_Read12(entry + 3));
    TS_PMTStream_Fill(stream, TS_PMTStream_ReadEntry(&reader));
    return 0;
}

// Decodes a complete PMT section. Descriptor loops stop at the end of the section, surplus
// streams and descriptors beyond the record's capacities are dropped.
int TS_PMT_FromPreSection(TS_PMT *pmt, const TS_PreSection *section, u16 pid)
{
    return TS_Section_DecodeTable(pmt, section, [pmt, pid](const TS_SectionHeader &header, TS_ByteReader &reader) {
        pmt->program_number = header.table_id_extension;
        TS_PMTFiller filler = {pmt, 0};
        TS_PMT_WalkBody(header, reader, filler);
        pmt->u16StreamCount = filler.u16Count;
        pmt->u16PID = pid;
    });
}

int TS_IsStreamPIDOfPMT(const TS_PMT *pmt, u16 pid)
{
    for (u16 i = 0; i < pmt->u16StreamCount; ++i)
        if (pmt->ltStream[i].elementary_PID == pid)
            return 1;
    return 0;
}

// The CA PID of the program: conditional-access descriptors in the stream loops do not count.
int TS_GetCAPIDFromPMT(u16 *ca_pid, const TS_PMT *pmt) { return TS_Section_GetCAPID(ca_pid, pmt); }
