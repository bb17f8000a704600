// Conditional access section decoding (ISO/IEC 13818-1 2.4.4.6), and the EMM PID that its CA
// descriptors name.
#include "psi/walk.h"

// Decodes a complete CAT section. The header is read with the PAT's layout, so bytes 3-4
// (reserved in a CAT) land in transport_stream_id. The descriptor loop runs up to the CRC_32;
// a descriptor reaching past the section's end stops it, and descriptors beyond the record's
// capacity are dropped.
int TS_CAT_FromPreSection(TS_CAT *cat, const TS_PreSection *section)
{
    return TS_Section_DecodeTable(cat, section, [cat](const TS_SectionHeader &header, TS_ByteReader &reader) {
        cat->transport_stream_id = header.table_id_extension;
        u16 count = 0;
        TS_CAT_WalkDescriptors(header, reader, [&](const u8 *data, u32) {
            if (count >= TS_MAX_DESCRIPTORS)
                return false;
            TS_GetDescriptor(&cat->ltDescriptor[count++], data);
            return true;
        });
        cat->u16DescriptorCount = count;
    });
}

// The CA_PID of the CAT's first conditional-access descriptor: the PID of the EMM sections.
int TS_GetCAPIDFromCAT(u16 *ca_pid, const TS_CAT *cat) { return TS_Section_GetCAPID(ca_pid, cat); }
