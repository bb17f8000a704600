// Program map section decoding and stream membership (ISO/IEC 13818-1 2.4.4.8).
#include "descriptors/descriptors.h"
#include "psi/section.h"

namespace {

// Reads one elementary stream loop entry from section: stream_type, elementary_PID,
// ES_info_length and the descriptors of its loop. The loop is cut at the section's end, and a
// descriptor reaching past that end is not decoded; the reader is left where ES_info_length
// says the next entry starts (at the end, with its flag set, when that lies beyond it).
void TS_PMTStream_Read(TS_PMTStream *stream, TS_ByteReader *section)
{
    stream->stream_type = section->Read8();
    stream->elementary_PID = section->Read13();
    stream->ES_info_length = section->Read12();
    const TS_ByteReader loop = section->Take(stream->ES_info_length);
    stream->u16DescriptorCount =
        TS_Descriptor_DecodeLoop(stream->ltDescriptor, TS_MAX_DESCRIPTORS, loop.Begin(), loop.End(), section->End());
}

}  // namespace

// Decodes one stream loop entry, its descriptors included, trusting ES_info_length.
int TS_PMT_GetStreamInfo(TS_PMTStream *stream, const u8 *entry)
{
    if (stream == nullptr || entry == nullptr)
        return -1;
    TS_ByteReader reader(entry, 5 + TS_Read12(entry + 3));
    TS_PMTStream_Read(stream, &reader);
    return 0;
}

// Decodes a complete PMT section. Descriptor loops stop at the end of the section, surplus
// streams and descriptors beyond the record's capacities are dropped.
int TS_PMT_FromPreSection(TS_PMT *pmt, const TS_PreSection *section, u16 pid)
{
    return TS_Section_DecodeTable(pmt, section, [pmt, pid](const TS_SectionHeader &header, TS_ByteReader &reader) {
        pmt->program_number = header.table_id_extension;
        pmt->PCR_PID = reader.Read13();
        pmt->program_info_length = reader.Read12();

        // The stream loop starts where program_info_length says, even when the program loop's
        // last descriptor overran it.
        const TS_ByteReader program_loop = reader.Take(pmt->program_info_length);
        pmt->u16DescriptorCount = TS_Descriptor_DecodeLoop(pmt->ltDescriptor, TS_MAX_DESCRIPTORS, program_loop.Begin(),
                                                           program_loop.End(), reader.End());

        // A stream entry starts before the CRC_32 and has its five fixed bytes in the section.
        u16 count = 0;
        while (count < TS_MAX_STREAMS && TS_Section_LoopLength(header, reader) > 0 && reader.Remaining() >= 5)
            TS_PMTStream_Read(&pmt->ltStream[count++], &reader);
        pmt->u16StreamCount = count;
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
