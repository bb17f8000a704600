// Text and JSON forms of a PAT: of its record (the entries it holds) and of a whole section.
#include <vector>

#include "psi/print.h"
#include "psi/walk.h"

namespace {

// The header line, the program count, one line per program and the CRC_32.
void TS_PAT_PrintText(TS_Sink *out, const TS_PAT &pat, u32 count, const TS_PATProgram *programs, u32 shown)
{
    TS_Section_PrintHeaderLine(out, "PAT", pat);
    TS_Text_Printf(out, "  Program:%d\n", int(count));
    for (u32 i = 0; i < shown; ++i) {
        const TS_PATProgram &program = programs[i];
        // program_number 0 carries the network_PID instead of a program_map_PID.
        TS_Text_Printf(out,
                       program.program_number == 0 ? "  PN:%d R3:%d NETPID:0x%04X\n" : "  PN:%d R3:%d PMTPID:0x%04X\n",
                       program.program_number, program.reserved, program.PID);
    }
    TS_Section_PrintCRC(out, pat.CRC_32);
}

void TS_PAT_PrintJSONOf(TS_Json *json, const TS_PAT &pat, const TS_PATProgram *programs, u32 count, bool crc_ok)
{
    TS_Section_PrintTableJSON(json, pat, "transport_stream_id", pat.transport_stream_id, crc_ok, [&] {
        TS_Json_ObjectArrayField(json, "programs", count, [&](u32 i) {
            TS_Json_NumberField(json, "program_number", programs[i].program_number);
            TS_Json_NumberField(json, "pid", programs[i].PID);
        });
    });
}

// The header of a section into pat (its entries left out) and every entry of its loop.
std::vector<TS_PATProgram> TS_PAT_ReadSection(TS_PAT *pat, const u8 *section, u32 length)
{
    std::vector<TS_PATProgram> programs;
    TS_ByteReader reader(section, length);
    const TS_SectionHeader header = TS_Section_ReadHeader(pat, &reader, TS_SectionForm::Long);
    pat->section_length = header.section_length;
    pat->transport_stream_id = header.table_id_extension;
    TS_PAT_WalkPrograms(header, reader, [&](const TS_PATProgram &program) {
        programs.push_back(program);
        return true;
    });
    pat->CRC_32 = TS_Section_ReadCRC(reader);
    pat->u16ProgramCount = 0;
    pat->u8Valid = 1;
    return programs;
}

}  // namespace

// Prints the section header, the program count, one line per program and the stored CRC_32.
int TS_PAT_Print(TS_Sink *out, const TS_PAT *pat)
{
    if (pat == nullptr)
        return -1;
    const u16 shown = pat->u16ProgramCount < TS_MAX_PROGRAMS ? pat->u16ProgramCount : TS_MAX_PROGRAMS;
    TS_PAT_PrintText(out, *pat, pat->u16ProgramCount, pat->ltProgram, shown);
    return 0;
}

void TS_PAT_PrintJSON(TS_Json *json, const TS_PAT *pat, bool crc_ok)
{
    const u16 count = pat->u16ProgramCount < TS_MAX_PROGRAMS ? pat->u16ProgramCount : TS_MAX_PROGRAMS;
    TS_PAT_PrintJSONOf(json, *pat, pat->ltProgram, count, crc_ok);
}

void TS_PAT_PrintSection(TS_Sink *out, const u8 *section, u32 length)
{
    TS_PAT pat = {};
    const std::vector<TS_PATProgram> programs = TS_PAT_ReadSection(&pat, section, length);
    TS_PAT_PrintText(out, pat, u32(programs.size()), programs.data(), u32(programs.size()));
}

void TS_PAT_PrintSectionJSON(TS_Json *json, const u8 *section, u32 length, bool crc_ok)
{
    TS_PAT pat = {};
    const std::vector<TS_PATProgram> programs = TS_PAT_ReadSection(&pat, section, length);
    TS_PAT_PrintJSONOf(json, pat, programs.data(), u32(programs.size()), crc_ok);
}

int TS_PAT_Print(const TS_PAT *pat)
{
    return TS_Text_ToStdout([&](TS_Sink *out) { return TS_PAT_Print(out, pat); });
}
