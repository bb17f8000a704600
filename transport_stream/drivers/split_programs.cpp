// Per-program split: one output file per program of the PAT, each opening with a PAT reduced to
// that program (behind the PAT's first network entry, when it has one), followed by the program's
// PMT, PCR, ECM and elementary-stream packets in the order of the input. A program that leaves
// the PAT has its file closed; when it comes back, a new file is started. A file is made only
// once the program's PMT comes: the reduced PATs before it wait, and a program whose PMT never
// comes gets no file. It runs on the demux, which follows every program of every PAT.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <pidsift/demux.h>

#include "demux/demux_core.h"
#include "drivers/driver.h"

namespace {

using pidsift::DemuxCore;
using pidsift::OutputFile;
using pidsift::Pat;
using pidsift::ProgramTrack;
using pidsift::RunOutputs;
using pidsift::RunSettings;

constexpr u32 kNoEntry = 0xFFFFFFFF;

// A program of the split, told apart by its program_number and its rank among the entries of a
// PAT that carry the same number. Its files are numbered by the PATs that left it out.
struct SplitEntry {
    u16 u16ProgramNumber = 0;
    u16 u16Index = 0;
    u16 u16PMTPID = 0;  // of the last PAT that listed it
    u32 u32FileNo = 0;
    std::unique_ptr<u8[]> pu8Block;
    OutputFile tFile;
    // Listed by the PAT in force while its file waits for the program's PMT, holding what goes
    // first into the file (the reduced PATs).
    bool bWaiting = false;
    pidsift::HeldPackets tWaiting;
    bool bHadPMT = false;  // a file of the entry holds a PMT
};

// A driver of the demux that writes each program it follows to the file of its entry.
class ProgramSplit {
public:
    ProgramSplit(DemuxCore *core, RunOutputs *outputs, std::string base)
        : m_pCore(core), m_pOutputs(outputs), m_strBase(std::move(base))
    {
        core->FollowAllPrograms();
        core->lOnPAT.push_back([this](const Pat &pat, const u8 *packet, bool) { OnPAT(pat, packet); });
    }

    bool OnTapped(const u8 *, u16) { return true; }
    // The demux hands each program its packets once, in input order, also those of a PID that
    // several programs share.
    bool OnProgramPacket(u32 program, const u8 *packet, u8 flags)
    {
        const u32 e = program < m_lu32ProgramEntry.size() ? m_lu32ProgramEntry[program] : kNoEntry;
        if (e == kNoEntry)
            return true;
        SplitEntry &entry = *m_lEntries[e];
        if (entry.bWaiting) {
            // Until a PMT section of the program ends, its file is not made.
            if (!(flags & pidsift::kProgramPmtEnd))
                return Hold(entry, packet);
            if (!Open(entry))
                return false;
            entry.bWaiting = false;
            if (!entry.tWaiting.Release([&](const u8 *held) { return Write(entry, held); }))
                return false;
        }
        entry.bHadPMT = entry.bHadPMT || (flags & pidsift::kProgramPmtEnd) != 0;
        return Write(entry, packet);
    }

    // The programs of the PATs whose PMT never came, in the order they were met.
    std::vector<u16> ProgramsWithoutPMT() const
    {
        std::vector<u16> programs;
        for (const std::unique_ptr<SplitEntry> &entry : m_lEntries)
            if (!entry->bHadPMT)
                programs.push_back(entry->u16ProgramNumber);
        return programs;
    }

    // Closes every file, so that each keeps what was written before a failure; the run's result
    // joins what the split met.
    int Close(int read_result)
    {
        if (read_result < 0)
            TS_Run_Fail(&m_s32Result, read_result);
        for (const std::unique_ptr<SplitEntry> &entry : m_lEntries) {
            const int result = m_pOutputs->Close(&entry->tFile);
            if (result < 0)
                TS_Run_Fail(&m_s32Result, result);
        }
        return m_s32Result;
    }

    std::vector<std::unique_ptr<SplitEntry>> TakeEntries() { return std::move(m_lEntries); }
    const std::string &LastName() const { return m_strLastName; }

private:
    bool Fail(int code)
    {
        TS_Run_Fail(&m_s32Result, code);
        m_pCore->Stop();
        return false;
    }

    bool Write(SplitEntry &entry, const u8 *packet)
    {
        if (entry.bWaiting)
            return Hold(entry, packet);
        return TS_Writer_Put(&entry.tFile.tWriter, packet) == 0 || Fail(-6);
    }

    static bool Hold(SplitEntry &entry, const u8 *packet)
    {
        entry.tWaiting.Hold(packet);
        return true;
    }

    // Opens the file of an entry under its current counter: "%s_%d_%d_%u.ts" from the base name,
    // program_number, index and counter.
    bool Open(SplitEntry &entry)
    {
        m_strLastName = m_strBase + "_" + std::to_string(entry.u16ProgramNumber) + "_" +
                        std::to_string(entry.u16Index) + "_" + std::to_string(entry.u32FileNo) + ".ts";
        if (!entry.pu8Block)
            entry.pu8Block.reset(new u8[TS_WRITER_BLOCK]);
        return m_pOutputs->Open(&entry.tFile, entry.pu8Block.get(), TS_WRITER_BLOCK, m_strLastName) || Fail(-3);
    }

    u32 Find(u16 program_number, u16 index) const
    {
        for (u32 e = 0; e < m_lEntries.size(); ++e)
            if (m_lEntries[e]->u16ProgramNumber == program_number && m_lEntries[e]->u16Index == index)
                return e;
        return kNoEntry;
    }

    // A PAT section completed: every program it lists gets its file (created, or opened again
    // under a new counter) and its reduced PAT; the files of programs it no longer lists close.
    void OnPAT(const Pat &pat, const u8 *pat_packet)
    {
        const std::vector<ProgramTrack> &programs = m_pCore->Programs();
        m_lu32ProgramEntry.assign(programs.size(), kNoEntry);
        std::vector<bool> listed(m_lEntries.size(), false);
        u32 k = 0;  // the program's index among the PAT's programs, the network entry left out
        for (size_t position = 0; position < pat.entries.size(); ++position) {
            if (pat.entries[position].program_number == 0)
                continue;
            const ProgramTrack &track = programs[k];
            u32 e = Find(track.u16ProgramNumber, track.u16Rank);
            if (e == kNoEntry) {
                e = u32(m_lEntries.size());
                auto entry = std::make_unique<SplitEntry>();
                entry->u16ProgramNumber = track.u16ProgramNumber;
                entry->u16Index = track.u16Rank;
                m_lEntries.push_back(std::move(entry));
                listed.push_back(false);
            }
            SplitEntry &entry = *m_lEntries[e];
            // A program that had its PMT keeps it across PATs: its file opens at once.
            if (!entry.tFile.IsOpen() && !entry.bWaiting) {
                const bool has_pmt = bool(track.pPMT);
                if (has_pmt && !Open(entry))
                    return;
                entry.bWaiting = !has_pmt;
            }
            // A program whose PMT moved to another PID is followed there, in the same file.
            entry.u16PMTPID = track.u16PMTPID;
            listed[e] = true;
            m_lu32ProgramEntry[k++] = e;
            u8 reduced[TS_PACKET_SIZE];
            TS_PAT_ReducedPacket(reduced, pat.section, position, pat_packet);
            if (!Write(entry, reduced))
                return;
        }
        // A program the PAT no longer lists: its file ends, and its counter goes up with every
        // PAT that leaves it out, so the file it returns to has a new name.
        for (u32 e = 0; e < m_lEntries.size(); ++e) {
            if (listed[e])
                continue;
            SplitEntry &entry = *m_lEntries[e];
            entry.bWaiting = false;
            entry.tWaiting.Clear();
            const int result = m_pOutputs->Close(&entry.tFile);
            if (result < 0) {
                Fail(result);
                return;
            }
            ++entry.u32FileNo;
        }
    }

    DemuxCore *m_pCore;
    RunOutputs *m_pOutputs;
    std::string m_strBase;
    std::vector<std::unique_ptr<SplitEntry>> m_lEntries;  // in the order they were made
    std::vector<u32> m_lu32ProgramEntry;                  // by program of the PAT in force
    std::string m_strLastName;
    int m_s32Result = 0;  // 0, -3 (a file not opened), -5 (read error) or -6 (write failed)
};

// What a run of the split leaves, for the records of the public header.
struct ProgramSplitRun {
    int s32Result = 0;
    std::vector<std::unique_ptr<SplitEntry>> lEntries;
    std::string strLastName;
    std::vector<u8> lu8PAT;                             // the last PAT section
    std::vector<std::pair<u16, std::vector<u8>>> lPMT;  // by PAT entry: PID and last PMT section
    std::vector<u16> lu16WithoutPMT;                    // programs that got no file
};

// Reads path through the split. With settings, the run tells them its failures, progress and
// files; without, it is the public header's run.
int RunProgramSplit(const char *path, const RunSettings *settings, ProgramSplitRun *kept)
{
    const int fd = TS_Input_Open(path, TS_Reporter{settings});
    if (fd < 0)
        return -2;
    DemuxCore core;
    core.UseSettings(settings);
    int result;
    {
        RunOutputs outputs(settings, fd);
        ProgramSplit split(&core, &outputs, pidsift::SplitBaseName(path, settings));
        result = split.Close(core.RunDescriptor(fd, path, split));
        if (kept != nullptr) {
            kept->lu16WithoutPMT = split.ProgramsWithoutPMT();
            kept->lEntries = split.TakeEntries();
            kept->strLastName = split.LastName();
        }
    }
    TS_Input_Close(fd);
    if (kept != nullptr && core.PAT() != nullptr) {
        kept->lu8PAT = core.PAT()->section;
        u32 k = 0;
        for (const pidsift::PatEntry &entry : core.PAT()->entries) {
            kept->lPMT.push_back({});
            if (entry.program_number == 0)
                continue;
            const ProgramTrack &track = core.Programs()[k++];
            if (track.pPMT)
                kept->lPMT.back() = {track.pPMT->pid, track.pPMT->section};
        }
    }
    return result;
}

}  // namespace

namespace pidsift {

int SplitPrograms(const char *path, const RunSettings &settings) { return SplitPrograms(path, settings, nullptr); }

int SplitPrograms(const char *path, const RunSettings &settings, std::vector<u16> *programs_without_pmt)
{
    if (path == nullptr)
        return -1;
    ProgramSplitRun run;
    const int result = RunProgramSplit(path, &settings, &run);
    if (programs_without_pmt != nullptr)
        *programs_without_pmt = std::move(run.lu16WithoutPMT);
    return result;
}

}  // namespace pidsift

int TS_ProgramSplitFile(const char *path)
{
    if (path == nullptr)
        return -1;
    ProgramSplitRun run;
    run.s32Result = RunProgramSplit(path, nullptr, &run);

    // The split table keeps the first TS_MAX_PROGRAMS entries, every file closed.
    TS_PNSplitList *table = &g_tPNSplitData;
    std::memset(table, 0, sizeof *table);
    for (TS_PNSplitData &entry : table->ltSplit)
        entry.s32FD = -1;
    for (const std::unique_ptr<SplitEntry> &entry : run.lEntries) {
        if (table->u16Count >= TS_MAX_PROGRAMS)
            break;
        TS_PNSplitData &kept = table->ltSplit[table->u16Count++];
        kept.u16ProgramNumber = entry->u16ProgramNumber;
        kept.u16PMTPID = entry->u16PMTPID;
        kept.u16Index = entry->u16Index;
        kept.u16FileNo = entry->u32FileNo < 0xFFFF ? u16(entry->u32FileNo) : 0xFFFF;
    }
    // The last PAT and the last PMT of each of its first entries, the base name and the last
    // file name, where the records of the public header keep them.
    TS_Data_Reset(&g_tData);
    TS_Record_FromSection(&g_tData.tPAT, &g_tData.tPATSection, run.lu8PAT,
                          [](TS_PAT *pat, const TS_PreSection *section) { TS_PAT_FromPreSection(pat, section); });
    for (size_t i = 0; i < run.lPMT.size() && i < TS_MAX_PROGRAMS; ++i) {
        const u16 pid = run.lPMT[i].first;
        TS_Record_FromSection(
            &g_tData.ltPMT[i], &g_tData.ltPMTSection[i], run.lPMT[i].second,
            [pid](TS_PMT *pmt, const TS_PreSection *section) { TS_PMT_FromPreSection(pmt, section, pid); });
    }
    if (GetBaseFileName(g_strString1, path) != 0)
        g_strString1[0] = '\0';
    if (run.strLastName.size() < sizeof g_strString2)
        std::memcpy(g_strString2, run.strLastName.c_str(), run.strLastName.size() + 1);
    return run.s32Result;
}
