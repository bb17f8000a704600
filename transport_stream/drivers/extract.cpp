// The program listing and the single-program extraction: the programs of the last PAT, and one
// program's PMT, PCR, ECM and elementary-stream packets copied byte for byte to an output file.
// Both run on the demux: the listing reads its PAT, the extraction follows one program of it.
#include <cerrno>
#include <cstring>

#include <pidsift/demux.h>

#include "demux/demux_core.h"
#include "drivers/driver.h"

namespace {

using pidsift::DemuxCore;
using pidsift::PatEntry;

constexpr u32 kNotFollowed = 0xFFFFFFFF;

// How the program to copy is chosen and where it goes.
struct TS_FilterSettings {
    bool bByNumber = false;   // chosen by program_number rather than by PMT PID
    bool bPlayable = false;   // the output gets a reduced PAT at every PAT of the input
    bool bWholeInput = true;  // the listing reads on after the copy ended
    u16 u16PMTPID = TS_NO_PID;
    u16 u16ProgramNumber = 0;
    const char *strDestination = nullptr;
    // Opens the output for the single-pass front end; null: open strDestination.
    int (*pfnOpenOutput)(void *context) = nullptr;
    void *pOpenContext = nullptr;
};

// The extraction: a driver of the demux that follows one program and writes its packets. The
// output is opened at the first PAT that lists the program; the copy ends when a later PAT no
// longer lists it, or when a write fails.
class TS_Filter {
public:
    TS_Filter(DemuxCore *core, const TS_FilterSettings &settings, int input_fd)
        : m_pCore(core), m_tSettings(settings), m_s32Input(input_fd), m_pu8Block(new u8[TS_WRITER_BLOCK])
    {
        TS_OutputFile_Reset(&m_tOutput);
        core->lOnPAT.push_back([this](const pidsift::Pat &pat, const u8 *packet, bool) { OnPAT(pat, packet); });
        core->lOnPMT.push_back([this](u32 program, const pidsift::Pmt &pmt, bool) {
            if (program == m_u32Followed) {
                m_lu8PMTSection = pmt.section;
                m_u16PMTSectionPID = pmt.pid;
            }
        });
    }

    // Every packet of the program comes once, in the order of the input.
    bool OnTapped(const u8 *, u16) { return true; }
    bool OnProgramPacket(u32, const u8 *packet, u8)
    {
        if (m_bEnded)
            return m_tSettings.bWholeInput;
        return Write(packet);
    }

    // Closes the output; the run's result joins what the copy met.
    void Close(int read_result)
    {
        const int close_result = TS_OutputFile_Close(&m_tOutput);
        if (close_result < 0 && read_result == 0)
            TS_Run_Fail(&m_s32Result, close_result);
    }

    int Result() const { return m_s32Result; }
    bool Opened() const { return m_bOpened; }
    // The last PMT section of the program followed and its PID, for the specified record.
    const std::vector<u8> &PMTSection() const { return m_lu8PMTSection; }
    u16 PMTSectionPID() const { return m_u16PMTSectionPID; }

private:
    // Any way out of the copy ends it: nothing more is written, and a run that needs no listing
    // stops. Returns whether the run goes on.
    bool End(int result)
    {
        m_bEnded = true;
        if (result != 0)
            TS_Run_Fail(&m_s32Result, result);
        if (!m_tSettings.bWholeInput)
            m_pCore->Stop();
        return m_tSettings.bWholeInput;
    }

    bool Write(const u8 *packet) { return TS_Writer_Put(&m_tOutput.tWriter, packet) == 0 || End(-6); }

    bool OpenOutput()
    {
        TS_Writer *writer = &m_tOutput.tWriter;
        if (m_tSettings.bPlayable) {
            const bool opened = m_tSettings.strDestination != nullptr
                                    ? TS_OutputFile_Open(&m_tOutput, m_pu8Block.get(), TS_WRITER_BLOCK, m_s32Input,
                                                         "%s", m_tSettings.strDestination)
                                    : TS_OutputFile_Open(&m_tOutput, m_pu8Block.get(), TS_WRITER_BLOCK, m_s32Input,
                                                         "%s_%d_0_0.ts", g_strString1, m_u16ProgramNumber);
            return opened ? (m_bOpened = true) : End(-3);
        }
        if (m_tSettings.pfnOpenOutput == nullptr) {
            if (TS_Writer_Open(writer, m_tSettings.strDestination, m_pu8Block.get(), TS_WRITER_BLOCK) == 0)
                return m_bOpened = true;
            TS_Report(TS_FAILED_DESTINATION, m_tSettings.strDestination, errno);
        } else {
            const int fd = m_tSettings.pfnOpenOutput(m_tSettings.pOpenContext);
            if (fd >= 0) {
                TS_Writer_Attach(writer, fd, nullptr, m_pu8Block.get(), TS_WRITER_BLOCK);
                return m_bOpened = true;
            }
        }
        return End(-3);
    }

    // A PAT section completed: find the chosen program among its entries.
    void OnPAT(const pidsift::Pat &pat, const u8 *pat_packet)
    {
        if (m_bEnded)
            return;
        const std::vector<PatEntry> &entries = pat.entries;
        u32 program = 0;  // index among the programs of the PAT, the network entry left out
        size_t e = 0;
        for (; e < entries.size(); ++e) {
            const PatEntry &entry = entries[e];
            if (m_tSettings.bByNumber ? entry.program_number == m_tSettings.u16ProgramNumber
                                      : entry.program_number != 0 && entry.pid == m_u16PMTPID)
                break;
            program += entry.program_number != 0;
        }
        if (e == entries.size() || entries[e].program_number == 0) {
            // Before the output is open the program may still start later in the recording.
            if (m_bOpened)
                End(0);
            return;
        }
        m_u16ProgramNumber = entries[e].program_number;
        m_u16PMTPID = entries[e].pid;
        if (m_u32Followed != program && m_u32Followed != kNotFollowed)
            m_lu8PMTSection.clear();
        m_u32Followed = program;
        m_pCore->Follow(program);
        if (!m_bOpened && !OpenOutput())
            return;
        if (m_tSettings.bPlayable) {
            u8 reduced[TS_PACKET_SIZE];
            TS_PAT_ReducedPacket(reduced, pat.section, e, pat_packet);
            Write(reduced);
        }
    }

    DemuxCore *m_pCore;
    TS_FilterSettings m_tSettings;
    int m_s32Input;
    std::unique_ptr<u8[]> m_pu8Block;
    TS_OutputFile m_tOutput;
    u16 m_u16PMTPID = m_tSettings.u16PMTPID;
    u16 m_u16ProgramNumber = m_tSettings.u16ProgramNumber;
    u32 m_u32Followed = kNotFollowed;
    std::vector<u8> m_lu8PMTSection;
    u16 m_u16PMTSectionPID = 0;
    int m_s32Result = 0;  // 0, -3 (output not opened) or -6 (write failed)
    bool m_bOpened = false;
    bool m_bEnded = false;
};

// Decodes a kept section into one of the specified records through its reassembly buffer.
template <class Record, class Decode>
void TS_Record_FromSection(Record *record, TS_PreSection *buffer, const std::vector<u8> &section, Decode &&decode)
{
    TS_PreSection_Initialise(buffer);
    record->u8Valid = 0;
    if (section.empty() || section.size() > TS_SECTION_CAPACITY)
        return;
    std::memcpy(buffer->lu8Section, section.data(), section.size());
    buffer->u16Length = u16(section.size());
    buffer->u16Collected = u16(section.size());
    decode(record, buffer);
}

// What the specified functions leave in g_tSimpleData: the last PAT, and the last PMT of the
// program followed.
void TS_SimpleData_Keep(const DemuxCore &core, const std::vector<u8> &pmt_section, u16 pmt_pid)
{
    TS_SimpleData *state = &g_tSimpleData;
    TS_SimpleData_Reset(state);
    TS_Record_FromSection(&state->tPAT, &state->tPATSection, core.PAT() ? core.PAT()->section : std::vector<u8>(),
                          [](TS_PAT *pat, const TS_PreSection *section) { TS_PAT_FromPreSection(pat, section); });
    TS_Record_FromSection(
        &state->tPMT, &state->tPMTSection, pmt_section,
        [&](TS_PMT *pmt, const TS_PreSection *section) { TS_PMT_FromPreSection(pmt, section, pmt_pid); });
}

// The programs of the last PAT (the network entry left out), every one.
void TS_Programs_Of(const DemuxCore &core, std::vector<PatEntry> *programs)
{
    programs->clear();
    if (core.PAT() != nullptr)
        for (const PatEntry &entry : core.PAT()->entries)
            if (entry.program_number != 0)
                programs->push_back(entry);
}

// The specified list holds the first TS_MAX_PROGRAMS of them.
void TS_ProgramList_Fill(TS_ProgramList *list, const std::vector<PatEntry> &programs)
{
    list->u16Count = 0;
    for (const PatEntry &entry : programs) {
        if (list->u16Count >= TS_MAX_PROGRAMS)
            break;
        list->lu16ProgramNumber[list->u16Count] = entry.program_number;
        list->lu16PID[list->u16Count] = entry.pid;
        ++list->u16Count;
    }
}

// Reads the input through a demux, with the copy when settings name a program. Returns the read
// result (0, -2, -5); the copy keeps its own in *copy_result, and whether its output was opened.
int TS_Filter_Run(const char *source, const TS_FilterSettings *settings, std::vector<PatEntry> *programs,
                  int *copy_result, bool *opened)
{
    const int fd = TS_Input_Open(source);
    if (fd < 0)
        return -2;
    DemuxCore core;
    int read_result;
    std::vector<u8> pmt_section;
    u16 pmt_pid = 0;
    if (settings == nullptr) {
        pidsift::NoPackets none;
        read_result = core.RunDescriptor(fd, source, none);
    } else {
        TS_Filter filter(&core, *settings, fd);
        read_result = core.RunDescriptor(fd, source, filter);
        filter.Close(read_result);
        *copy_result = filter.Result();
        *opened = filter.Opened();
        pmt_section = filter.PMTSection();
        pmt_pid = filter.PMTSectionPID();
    }
    TS_Input_Close(fd);
    if (programs != nullptr)
        TS_Programs_Of(core, programs);
    TS_SimpleData_Keep(core, pmt_section, pmt_pid);
    return read_result;
}

}  // namespace

namespace pidsift {

int ListPrograms(const char *path, std::vector<PatEntry> *programs)
{
    if (path == nullptr || programs == nullptr)
        return -1;
    return TS_Filter_Run(path, nullptr, programs, nullptr, nullptr);
}

int ListProgramsAndExtract(const char *path, u16 pid, int (*open_output)(void *context), void *context,
                           int *split_result, std::vector<PatEntry> *programs)
{
    if (path == nullptr || open_output == nullptr || split_result == nullptr || programs == nullptr)
        return -1;
    TS_FilterSettings settings;
    settings.u16PMTPID = pid;
    settings.pfnOpenOutput = open_output;
    settings.pOpenContext = context;
    int copy_result = 0;
    bool opened = false;
    *split_result = 1;
    const int read_result = TS_Filter_Run(path, &settings, programs, &copy_result, &opened);
    if (read_result == -2)
        return read_result;
    *split_result = copy_result < 0 ? copy_result : (opened ? 0 : 1);
    return read_result;
}

}  // namespace pidsift

int TS_GetProgramList(TS_ProgramList *list, const char *path)
{
    if (list == nullptr || path == nullptr)
        return -1;
    std::vector<PatEntry> programs;
    const int result = pidsift::ListPrograms(path, &programs);
    TS_ProgramList_Fill(list, programs);
    return result;
}

int TS_ProgramSplitStream(const char *destination, const char *source, u16 pid)
{
    if (destination == nullptr || source == nullptr)
        return -1;
    TS_FilterSettings settings;
    settings.u16PMTPID = pid;
    settings.strDestination = destination;
    settings.bWholeInput = false;
    int copy_result = 0;
    bool opened = false;
    const int read_result = TS_Filter_Run(source, &settings, nullptr, &copy_result, &opened);
    return copy_result < 0 ? copy_result : read_result;
}

int TS_ProgramExtractFile(const char *destination, const char *source, u16 pid, u16 program_number)
{
    if (source == nullptr)
        return -1;
    TS_FilterSettings settings;
    settings.bPlayable = true;
    settings.bWholeInput = false;
    settings.bByNumber = pid == TS_NO_PID;
    settings.u16PMTPID = pid;
    settings.u16ProgramNumber = program_number;
    settings.strDestination = destination;
    TS_Split_SetBaseName(source);
    int copy_result = 0;
    bool opened = false;
    const int read_result = TS_Filter_Run(source, &settings, nullptr, &copy_result, &opened);
    if (copy_result < 0)
        return copy_result;
    if (read_result < 0)
        return read_result;
    return opened ? 0 : -4;
}

int TS_GetProgramListAndSplit(TS_ProgramList *list, const char *source, u16 pid, int (*open_output)(void *context),
                              void *context, int *split_result)
{
    if (list == nullptr || source == nullptr || open_output == nullptr || split_result == nullptr)
        return -1;
    std::vector<PatEntry> programs;
    const int result = pidsift::ListProgramsAndExtract(source, pid, open_output, context, split_result, &programs);
    TS_ProgramList_Fill(list, programs);
    return result;
}
