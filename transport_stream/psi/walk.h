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

// One service entry of an SDT (EN 300 468 5.2.3): its fixed fields and its descriptor loop, taken
// as long as descriptors_loop_length says and cut at the section's end.
struct TS_SDTServiceEntry {
    u16 service_id;
    u8 u8Flags;    // reserved_future_use, EIT_schedule_flag, EIT_present_following_flag
    u16 u16State;  // running_status, free_CA_mode, descriptors_loop_length
    TS_ByteReader tLoop;
    const u8 *pu8SectionEnd;
};

// The service loop of an SDT, the reader behind original_network_id and reserved_future_use:
// on_service(const TS_SDTServiceEntry &) for each entry until it returns false. An entry starts
// before the CRC_32 and has its five fixed bytes in the section.
template <class OnService>
void TS_SDT_WalkServices(const TS_SectionHeader &header, TS_ByteReader &reader, OnService &&on_service)
{
    while (TS_Section_LoopLength(header, reader) > 0 && reader.Remaining() >= 5) {
        TS_SDTServiceEntry entry;
        entry.service_id = reader.Read16();
        entry.u8Flags = reader.Read8();
        entry.u16State = reader.Read16();
        entry.tLoop = reader.Take(entry.u16State & 0x0FFF);
        entry.pu8SectionEnd = reader.End();
        if (!on_service(static_cast<const TS_SDTServiceEntry &>(entry)))
            return;
    }
}

// The body of a service descriptor (tag 0x48): service_type, then the provider's name and the
// service's name, each after its length; a name is cut where the body ends.
struct TS_ServiceDescriptorBody {
    u8 service_type;
    u8 service_provider_name_length;
    TS_ByteReader tProviderName;
    u8 service_name_length;
    TS_ByteReader tServiceName;
};

inline TS_ServiceDescriptorBody TS_ServiceDescriptor_Read(TS_ByteReader body)
{
    TS_ServiceDescriptorBody read;
    read.service_type = body.Read8();
    read.service_provider_name_length = body.Read8();
    read.tProviderName = body.Take(read.service_provider_name_length);
    read.service_name_length = body.Read8();
    read.tServiceName = body.Take(read.service_name_length);
    return read;
}

#endif  // PIDSIFT_TRANSPORT_STREAM_PSI_WALK_H
