// The program listing and the single-program extraction: the programs of the last PAT, and one
// program's PMT, PCR, ECM and elementary-stream packets copied byte for byte to an output file.
// Both run on the demux: the listing reads its PAT, the extraction follows one program of it.
#include <cerrno>
#include <cstring>
#include <string>

#include <pidsift/demux.h>
#include <pidsift/stream_selection.h>

#include "demux/demux_core.h"
#include "drivers/driver.h"
#include "drivers/stream_keeper.h"

namespace {

using pidsift::DemuxCore;
using pidsift::OutputFile;
using pidsift::PatEntry;
using pidsift::RunOutputs;
using pidsift::RunSettings;

constexpr u32 kNotFollowed = 0xFFFFFFFF;

// How the program to copy is chosen and where it goes.
struct TS_FilterSettings {
    bool bByNumber = false;   // chosen by program_number rather than by PMT PID
    bool bPlayable = false;   // the output gets a reduced PAT at every PAT of the input
    bool bWholeInput = true;  // the listing reads on after the copy ended
    u16 u16PMTPID = TS_NO_PID;
    u16 u16ProgramNumber = 0;
    const char *strDestination = nullptr;
    std::string strBase;  // of a playable output named after the program
    // Opens the output for the single-pass front end; null: open strDestination.
    int (*pfnOpenOutput)(void *context) = nullptr;
    void *pOpenContext = nullptr;
    const pidsift::BlockTaker *pTaker = nullptr;  // takes the blocks in place of a file
    const pidsift::StreamSelection *pSelection = nullptr;  // the streams kept; null: all
};

// The extraction: a driver of the demux that follows one program and writes its packets. The
// output is opened at the first PAT that lists the program; the copy ends when a later PAT no
// longer lists it, or when a write fails.
class TS_Filter {
public:
    TS_Filter(DemuxCore *core, const TS_FilterSettings &settings, RunOutputs *outputs)
        : m_pCore(core), m_tSettings(settings), m_pOutputs(outputs), m_pu8Block(new u8[TS_WRITER_BLOCK])
    {
        core->lOnPAT.push_back([this](const pidsift::Pat &pat, const u8 *packet, bool) { OnPAT(pat, packet); });
        core->lOnPMT.push_back([this](u32 program, const pidsift::Pmt &pmt, bool) {
            if (program == m_u32Followed) {
                m_lu8PMTSection = pmt.section;
                m_u16PMTSectionPID = pmt.pid;
                if (m_pKeeper && !m_pKeeper->OnPmt(pmt) && !m_bPmtSeen)
                    End(-8);
                m_bPmtSeen = true;
            }
        });
        if (settings.pSelection != nullptr)
            m_pKeeper = std::make_unique<pidsift::StreamKeeper>(*settings.pSelection);
    }

    // Every packet of the program comes once, in the order of the input.
    bool OnTapped(const u8 *, u16) { return true; }
    bool OnProgramPacket(u32, const u8 *packet, u8 flags)
    {
        if (m_bEnded)
            return m_tSettings.bWholeInput;
        if (m_bWaitingForPMT && (flags & pidsift::kProgramPmtEnd)) {
            // The playable output is made once a PMT section of the program ends; what waited for
            // it goes first.
            m_bWaitingForPMT = false;
            if (!OpenOutput())
                return m_tSettings.bWholeInput;
            if (!m_tWaiting.Release([this](const u8 *held) { return Write(held); }))
                return m_tSettings.bWholeInput;
        }
        if (m_pKeeper)
            return WriteKept(packet, flags);
        return Write(packet);
    }

    // Closes the output; the run's result joins what the copy met.
    void Close(int read_result)
    {
        // What the stream keeper still holds came before the end of the copy.
        if (m_pKeeper && m_bOpened && m_s32Result == 0) {
            m_lKept.clear();
            m_pKeeper->Finish(&m_lKept);
            for (const pidsift::PacketBytes &kept : m_lKept)
                if (!Write(kept.data()))
                    break;
        }
        const int close_result = m_pOutputs->Close(&m_tOutput);
        if (close_result < 0 && read_result == 0)
            TS_Run_Fail(&m_s32Result, close_result);
    }

    int Result() const { return m_s32Result; }
    bool Opened() const { return m_bOpened; }
    // A PAT listed the program, but the playable output waited for its PMT in vain.
    bool Listed() const { return m_u32Followed != kNotFollowed; }
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

    bool Write(const u8 *packet)
    {
        if (m_bWaitingForPMT)
            return Hold(packet);
        return TS_Writer_Put(&m_tOutput.tWriter, packet) == 0 || End(-6);
    }

    bool Hold(const u8 *packet)
    {
        m_tWaiting.Hold(packet);
        return true;
    }

    // The packets the stream keeper lets out for this one, in input order.
    bool WriteKept(const u8 *packet, u8 flags)
    {
        m_lKept.clear();
        m_pKeeper->Take(packet, flags, &m_lKept);
        for (const pidsift::PacketBytes &kept : m_lKept)
            if (!Write(kept.data()))
                return m_tSettings.bWholeInput;
        return true;
    }

    bool OpenOutput()
    {
        if (m_tSettings.bPlayable) {
            const std::string name = m_tSettings.strDestination != nullptr
                                         ? std::string(m_tSettings.strDestination)
                                         : m_tSettings.strBase + "_" + std::to_string(m_u16ProgramNumber) + "_0_0.ts";
            return m_pOutputs->Open(&m_tOutput, m_pu8Block.get(), TS_WRITER_BLOCK, name) ? (m_bOpened = true) : End(-3);
        }
        if (m_tSettings.pTaker != nullptr) {
            m_pOutputs->AttachTaker(&m_tOutput, *m_tSettings.pTaker, m_pu8Block.get(), TS_WRITER_BLOCK);
            return m_bOpened = true;
        }
        if (m_tSettings.pfnOpenOutput == nullptr) {
            if (TS_Writer_Open(&m_tOutput.tWriter, m_pOutputs->Queue(), m_tSettings.strDestination, m_pu8Block.get(),
                               TS_WRITER_BLOCK) == 0)
                return m_bOpened = true;
            m_pOutputs->Reporter().Fail(TS_FAILED_DESTINATION, m_tSettings.strDestination, errno);
        } else {
            const int fd = m_tSettings.pfnOpenOutput(m_tSettings.pOpenContext);
            if (fd >= 0) {
                m_pOutputs->Attach(&m_tOutput, fd, m_pu8Block.get(), TS_WRITER_BLOCK);
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
        if (m_tSettings.bPlayable && !m_bOpened)
            m_bWaitingForPMT = true;
        else if (!m_bOpened && !OpenOutput())
            return;
        if (m_tSettings.bPlayable) {
            u8 reduced[TS_PACKET_SIZE];
            TS_PAT_ReducedPacket(reduced, pat.section, e, pat_packet);
            Write(reduced);
        }
    }

    DemuxCore *m_pCore;
    TS_FilterSettings m_tSettings;
    RunOutputs *m_pOutputs;
    std::unique_ptr<u8[]> m_pu8Block;
    OutputFile m_tOutput;
    u16 m_u16PMTPID = m_tSettings.u16PMTPID;
    u16 m_u16ProgramNumber = m_tSettings.u16ProgramNumber;
    u32 m_u32Followed = kNotFollowed;
    std::vector<u8> m_lu8PMTSection;
    u16 m_u16PMTSectionPID = 0;
    int m_s32Result = 0;  // 0, -3 (output not opened) or -6 (write failed)
    bool m_bOpened = false;
    bool m_bEnded = false;
    // The playable output waits for the program's PMT, holding the reduced PATs that go before it.
    bool m_bWaitingForPMT = false;
    pidsift::HeldPackets m_tWaiting;
    std::unique_ptr<pidsift::StreamKeeper> m_pKeeper;
    std::vector<pidsift::PacketBytes> m_lKept;
    bool m_bPmtSeen = false;
};

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

// What one read of the input gives: the read result (0, -2, -5), the copy's own (0, -3, -6) and
// whether its output was opened.
struct TS_FilterOutcome {
    int s32Read = 0;
    int s32Copy = 0;
    bool bOpened = false;
    bool bListed = false;
};

// Reads the input through a demux, with the copy when filter names a program. With settings the
// run tells them its failures, progress and files; without, it is a function of the public
// header's, which leaves the last PAT and the followed program's last PMT in g_tSimpleData.
TS_FilterOutcome TS_Filter_Run(const char *source, const TS_FilterSettings *filter, const RunSettings *settings,
                               std::vector<PatEntry> *programs)
{
    TS_FilterOutcome outcome;
    const int fd = TS_Input_Open(source, TS_Reporter{settings});
    if (fd < 0) {
        outcome.s32Read = -2;
        return outcome;
    }
    DemuxCore core;
    core.UseSettings(settings);
    std::vector<u8> pmt_section;
    u16 pmt_pid = 0;
    if (filter == nullptr) {
        pidsift::NoPackets none;
        outcome.s32Read = core.RunDescriptor(fd, source, none);
    } else {
        RunOutputs outputs(settings, fd);
        TS_Filter copy(&core, *filter, &outputs);
        outcome.s32Read = core.RunDescriptor(fd, source, copy);
        copy.Close(outcome.s32Read);
        outcome.s32Copy = copy.Result();
        outcome.bOpened = copy.Opened();
        outcome.bListed = copy.Listed();
        pmt_section = copy.PMTSection();
        pmt_pid = copy.PMTSectionPID();
    }
    TS_Input_Close(fd);
    if (programs != nullptr)
        TS_Programs_Of(core, programs);
    if (settings == nullptr)
        TS_SimpleData_Keep(core.PAT() ? core.PAT()->section : std::vector<u8>(), pmt_section, pmt_pid);
    return outcome;
}

int TS_Filter_ListAndExtract(const char *path, u16 pid, int (*open_output)(void *context), void *context,
                             int *split_result, std::vector<PatEntry> *programs, const RunSettings *settings,
                             const pidsift::BlockTaker *taker = nullptr)
{
    TS_FilterSettings filter;
    filter.u16PMTPID = pid;
    filter.pfnOpenOutput = open_output;
    filter.pOpenContext = context;
    filter.pTaker = taker;
    *split_result = 1;
    const TS_FilterOutcome outcome = TS_Filter_Run(path, &filter, settings, programs);
    if (outcome.s32Read == -2)
        return outcome.s32Read;
    *split_result = outcome.s32Copy < 0 ? outcome.s32Copy : (outcome.bOpened ? 0 : 1);
    return outcome.s32Read;
}

int TS_Filter_Copy(const char *source, u16 pid, const char *destination, const RunSettings *settings)
{
    TS_FilterSettings filter;
    filter.u16PMTPID = pid;
    filter.strDestination = destination;
    filter.bWholeInput = false;
    const TS_FilterOutcome outcome = TS_Filter_Run(source, &filter, settings, nullptr);
    return outcome.s32Copy < 0 ? outcome.s32Copy : outcome.s32Read;
}

int TS_Filter_Extract(const char *source, u16 pid, u16 program_number, const char *destination,
                      const RunSettings *settings, const pidsift::StreamSelection *selection = nullptr)
{
    TS_FilterSettings filter;
    filter.pSelection = selection;
    filter.bPlayable = true;
    filter.bWholeInput = false;
    filter.bByNumber = pid == TS_NO_PID;
    filter.u16PMTPID = pid;
    filter.u16ProgramNumber = program_number;
    filter.strDestination = destination;
    filter.strBase = pidsift::SplitBaseName(source, settings);
    const TS_FilterOutcome outcome = TS_Filter_Run(source, &filter, settings, nullptr);
    if (outcome.s32Copy < 0)
        return outcome.s32Copy;
    if (outcome.s32Read < 0)
        return outcome.s32Read;
    return outcome.bOpened ? 0 : (outcome.bListed ? -7 : -4);
}

}  // namespace

namespace pidsift {

int ListPrograms(const char *path, std::vector<PatEntry> *programs, const RunSettings &settings)
{
    if (path == nullptr || programs == nullptr)
        return -1;
    return TS_Filter_Run(path, nullptr, &settings, programs).s32Read;
}

int ListProgramsAndExtract(const char *path, u16 pid, int (*open_output)(void *context), void *context,
                           int *split_result, std::vector<PatEntry> *programs, const RunSettings &settings)
{
    if (path == nullptr || open_output == nullptr || split_result == nullptr || programs == nullptr)
        return -1;
    return TS_Filter_ListAndExtract(path, pid, open_output, context, split_result, programs, &settings);
}

int ListProgramsAndExtract(const char *path, u16 pid, const BlockTaker &taker, int *split_result,
                           std::vector<PatEntry> *programs, const RunSettings &settings)
{
    if (path == nullptr || taker.take == nullptr || split_result == nullptr || programs == nullptr)
        return -1;
    return TS_Filter_ListAndExtract(path, pid, nullptr, nullptr, split_result, programs, &settings, &taker);
}

int CopyProgram(const char *path, u16 pmt_pid, const char *output, const RunSettings &settings)
{
    if (path == nullptr || output == nullptr)
        return -1;
    return TS_Filter_Copy(path, pmt_pid, output, &settings);
}

int ExtractProgram(const char *path, u16 pmt_pid, u16 program_number, const char *output, const RunSettings &settings)
{
    if (path == nullptr)
        return -1;
    return TS_Filter_Extract(path, pmt_pid, program_number, output, &settings);
}

int ExtractProgramStreams(const char *path, u16 pmt_pid, u16 program_number, const StreamSelection &selection,
                          const char *output, const RunSettings &settings)
{
    if (path == nullptr)
        return -1;
    return TS_Filter_Extract(path, pmt_pid, program_number, output, &settings, &selection);
}

}  // namespace pidsift

int TS_GetProgramList(TS_ProgramList *list, const char *path)
{
    if (list == nullptr || path == nullptr)
        return -1;
    std::vector<PatEntry> programs;
    const int result = TS_Filter_Run(path, nullptr, nullptr, &programs).s32Read;
    TS_ProgramList_Fill(list, programs);
    return result;
}

int TS_ProgramSplitStream(const char *destination, const char *source, u16 pid)
{
    if (destination == nullptr || source == nullptr)
        return -1;
    return TS_Filter_Copy(source, pid, destination, nullptr);
}

int TS_ProgramExtractFile(const char *destination, const char *source, u16 pid, u16 program_number)
{
    if (source == nullptr)
        return -1;
    const int result = TS_Filter_Extract(source, pid, program_number, destination, nullptr);
    if (GetBaseFileName(g_strString1, source) != 0)
        g_strString1[0] = '\0';
    return result;
}

int TS_GetProgramListAndSplit(TS_ProgramList *list, const char *source, u16 pid, int (*open_output)(void *context),
                              void *context, int *split_result)
{
    if (list == nullptr || source == nullptr || open_output == nullptr || split_result == nullptr)
        return -1;
    std::vector<PatEntry> programs;
    const int result = TS_Filter_ListAndExtract(source, pid, open_output, context, split_result, &programs, nullptr);
    TS_ProgramList_Fill(list, programs);
    return result;
}
