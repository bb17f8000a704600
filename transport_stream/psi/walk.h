// Walkers over the loops of the PAT, CAT and PMT: the one reading of each table, shared by the
// fixed records of the public header (which keep what fits them) and the full-size tables of
// the demux (which keep everything).
#ifndef PIDSIFT_TRANSPORT_STREAM_PSI_WALK_H
#define PIDSIFT_TRANSPORT_STREAM_PSI_WALK_H

#include "descriptors/descriptors.h"
#include "psi/section.h"

// One 4-byte program loop entry: program_number, 3 reserved bits, 13-bit PID.
inline void TS_PATProgram_Read(TS_PATProgram *program, TS_ByteReader *entry)
{
    program->program_number = entry->Read16();
    const u16 pid = entry->Read16();
    program->reserved = u8(pid >> 13);
    program->PID = u16(pid & 0x1FFF);
}

// The program loop of a PAT, the reader behind the header: on_entry(const TS_PATProgram &) for
// each entry until it returns false. Entries are counted by their start: a loop whose length is
// no multiple of 4 still starts an entry in its last 1 to 3 bytes, which reads on into the
// CRC_32.
template <class OnEntry>
void TS_PAT_WalkPrograms(const TS_SectionHeader &header, TS_ByteReader &reader, OnEntry &&on_entry)
{
    while (TS_Section_LoopLength(header, reader) > 0) {
        TS_PATProgram program;
        TS_PATProgram_Read(&program, &reader);
        if (!on_entry(static_cast<const TS_PATProgram &>(program)))
            return;
    }
}

// The descriptor loop of a CAT, the reader behind the header: it runs up to the CRC_32.
template <class OnDescriptor>
void TS_CAT_WalkDescriptors(const TS_SectionHeader &header, TS_ByteReader &reader, OnDescriptor &&on_descriptor)
{
    const TS_ByteReader loop = reader.Take(TS_Section_LoopLength(header, reader));
    TS_Descriptor_ForEach(loop.Begin(), loop.End(), reader.End(), on_descriptor);
}

// One elementary stream entry of a PMT: its fixed fields and its descriptor loop, cut at the
// section's end.
struct TS_PMTStreamEntry {
    u8 stream_type;
    u16 elementary_PID;
    u16 ES_info_length;
    TS_ByteReader tLoop;
    const u8 *pu8SectionEnd;
};

// Reads one stream entry from reader: its five fixed bytes and its descriptor loop, taken as
// long as ES_info_length says and cut at the reader's end; the reader is left behind it.
inline TS_PMTStreamEntry TS_PMTStream_ReadEntry(TS_ByteReader *reader)
{
    TS_PMTStreamEntry stream;
    stream.stream_type = reader->Read8();
    stream.elementary_PID = reader->Read13();
    stream.ES_info_length = reader->Read12();
    stream.tLoop = reader->Take(stream.ES_info_length);
    stream.pu8SectionEnd = reader->End();
    return stream;
}

// The fields of a PMT behind the header: PCR_PID and the program loop (which ends where
// program_info_length says, even when its last descriptor overran it).
struct TS_PMTProgramPart {
    u16 PCR_PID;
    u16 program_info_length;
    TS_ByteReader tLoop;
    const u8 *pu8SectionEnd;
};

// Reads the body of a PMT, the reader behind the header: visitor.Program(const
// TS_PMTProgramPart &), then visitor.Stream(const TS_PMTStreamEntry &) for each stream entry
// until it returns false. An entry starts before the CRC_32 and has its five fixed bytes in the
// section; the next starts where ES_info_length says.
template <class Visitor> void TS_PMT_WalkBody(const TS_SectionHeader &header, TS_ByteReader &reader, Visitor &visitor)
{
    TS_PMTProgramPart program;
    program.PCR_PID = reader.Read13();
    program.program_info_length = reader.Read12();
    program.tLoop = reader.Take(program.program_info_length);
    program.pu8SectionEnd = reader.End();
    visitor.Program(static_cast<const TS_PMTProgramPart &>(program));
    while (TS_Section_LoopLength(header, reader) > 0 && reader.Remaining() >= 5)
        if (!visitor.Stream(TS_PMTStream_ReadEntry(&reader)))
            return;
}

#endif  // PIDSIFT_TRANSPORT_STREAM_PSI_WALK_H
