// Pieces shared by the whole-stream drivers: the records of the public header, output files.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

#include <pidsift/demux.h>

#include "drivers/driver.h"
#include "psi/walk.h"

namespace {

// Names longer than PATH_MAX could not be opened anyway.
constexpr u32 TS_NAME_CAPACITY = 4096;

// True when path names the file open on input_fd: writing there would destroy the recording.
bool TS_Output_IsInput(const char *path, int input_fd)
{
    struct stat input_status, output_status;
    return fstat(input_fd, &input_status) == 0 && stat(path, &output_status) == 0 &&
           input_status.st_dev == output_status.st_dev && input_status.st_ino == output_status.st_ino;
}

}  // namespace

void TS_SimpleData_Keep(const std::vector<u8> &pat_section, const std::vector<u8> &pmt_section, u16 pmt_pid)
{
    TS_SimpleData *state = &g_tSimpleData;
    TS_SimpleData_Reset(state);
    TS_Record_FromSection(&state->tPAT, &state->tPATSection, pat_section,
                          [](TS_PAT *pat, const TS_PreSection *section) { TS_PAT_FromPreSection(pat, section); });
    TS_Record_FromSection(
        &state->tPMT, &state->tPMTSection, pmt_section,
        [pmt_pid](TS_PMT *pmt, const TS_PreSection *section) { TS_PMT_FromPreSection(pmt, section, pmt_pid); });
}

namespace pidsift {

RunOutputs::RunOutputs(const RunSettings *settings, int input_fd)
    : m_pSettings(settings), m_tQueue(TS_Reporter{settings}), m_s32Input(input_fd)
{
}

bool RunOutputs::Open(OutputFile *file, u8 *block, u32 capacity, const std::string &path)
{
    TS_Writer *writer = &file->tWriter;
    bool created = false;
    int error_number = ENAMETOOLONG;
    if (path.size() < TS_NAME_CAPACITY) {
        error_number = 0;  // the input itself
        if (!TS_Output_IsInput(path.c_str(), m_s32Input)) {
            file->strName = path;
            if (TS_Writer_Open(writer, &m_tQueue, file->strName.c_str(), block, capacity, &created) == 0) {
                if (m_pSettings != nullptr && m_pSettings->output_opened)
                    m_pSettings->output_opened(file->strName.c_str(), created);
                return true;
            }
            error_number = errno;
        }
    }
    writer->s32FD = -1;
    Reporter().Fail(TS_FAILED_CREATE, path.c_str(), error_number);
    return false;
}

void RunOutputs::Attach(OutputFile *file, int fd, u8 *block, u32 capacity)
{
    file->strName.clear();
    TS_Writer_Attach(&file->tWriter, &m_tQueue, fd, nullptr, block, capacity);
}

void RunOutputs::AttachTaker(OutputFile *file, const BlockTaker &taker, u8 *block, u32 capacity)
{
    file->strName.clear();
    TS_Writer_AttachTaker(&file->tWriter, &m_tQueue, taker.take, taker.context, block, capacity);
}

int RunOutputs::Close(OutputFile *file)
{
    const bool open = file->IsOpen();
    const int result = TS_Writer_Close(&file->tWriter);
    if (open && result == 0 && m_pSettings != nullptr && m_pSettings->output_done && !file->strName.empty())
        m_pSettings->output_done(file->strName.c_str());
    return result;
}

std::string SplitBaseName(const char *path, const RunSettings *settings)
{
    if (settings != nullptr && !settings->split_base.empty())
        return settings->split_base;
    std::string base(std::strlen(path) + 1, '\0');
    if (GetBaseFileName(base.data(), path) != 0)
        return {};
    base.resize(std::strlen(base.c_str()));
    return base;
}

}  // namespace pidsift

void TS_PAT_ReducedPacket(u8 *out, const std::vector<u8> &pat_section, size_t entry, const u8 *pat_packet)
{
    TS_PAT reduced = {};
    TS_ByteReader reader(pat_section.data(), u32(pat_section.size()));
    const TS_SectionHeader header = TS_Section_ReadHeader(&reduced, &reader, TS_SectionForm::Long);
    reduced.transport_stream_id = header.table_id_extension;
    TS_PATProgram network = {};
    TS_PATProgram program = {};
    bool has_network = false;
    size_t index = 0;
    TS_PAT_WalkPrograms(header, reader, [&](const TS_PATProgram &each) {
        if (each.program_number == 0 && !has_network) {
            network = each;
            has_network = true;
        }
        if (index++ == entry)
            program = each;
        return true;
    });
    if (has_network)
        reduced.ltProgram[reduced.u16ProgramCount++] = network;
    reduced.ltProgram[reduced.u16ProgramCount++] = program;
    // section_length: the header after the length, the loop and the CRC_32.
    reduced.section_length = u16(5 + 4 * reduced.u16ProgramCount + 4);
    TS_Packet packet_header;
    TS_Packet_Get(&packet_header, pat_packet);
    packet_header.transport_error_indicator = 0;
    packet_header.payload_unit_start_indicator = 1;
    packet_header.adaptation_field_control = 1;
    TS_PAT_ToPacket(out, &packet_header, &reduced);
}
