// PMT-change split of a single-program recording. A PMT is known by the CRC_32 of its section:
// the recording is cut into segments, each a run of PMT sections with one CRC_32, and the parts
// under each PMT are written to a file of their own (or only the parts under one chosen PMT).
// Both the segment list and the split run on the demux, which follows the program.
#include <array>
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
using pidsift::PacketBytes;
using pidsift::Pat;
using pidsift::Pmt;
using pidsift::PmtSegment;
using pidsift::RunOutputs;
using pidsift::RunSettings;

constexpr u32 kNone = 0xFFFFFFFF;

// Packets the scan keeps while a PMT section of the program is in progress: the section's own, and,
// when the PMT PID is also one of the program's PIDs, the program's packets that come meanwhile.
// A section as long as section_length allows, one payload byte a packet, takes 4,099.
constexpr size_t kKeptCapacity = 2 * TS_SECTION_CAPACITY;

// What the segment list or the split makes of what the scan finds, its sink: a class with
//   void Begin(const RunSettings *settings, int input_fd): the input is open, and outputs may be
//       opened from now on;
//   int OnPMT(u32 crc, const u8 *pat_packet, const std::vector<const u8 *> &section): a new PMT
//       section of the program, with the last PAT packet and the packets that carried it;
//   int OnMember(const u8 *packet): a packet of the program under the PMT in force;
//   int End(): the run has ended, its outputs close.
// Each returns 0, or the failure that ends the run.

// The scan both operations share: a driver of the demux that follows the one program of a
// single-program recording's PAT and keeps the packets of its PMT sections until they complete.
//
// A completed PMT section whose CRC_32 holds (or that comes before any good one) goes to the sink
// with the packets that carried it, each packet once: a packet that ended one section and started
// the next goes with the first. When several sections of the program complete in one packet, the
// last is the PMT that the packet leaves in force. A section that completes damaged after good
// ones is no new PMT: its packets are the program's all the same, under the PMT in force.
//
// When the PMT PID is also one of the program's PIDs (its PCR PID, say), the packets of a section
// that breaks off are the program's too: they go to the sink in their place, and the program's
// packets that come while a section is in progress wait behind it, so that the sink sees them in
// input order. On a PMT PID of its own, the packets of a broken section are dropped.
template <class Sink> class PMTScan {
public:
    PMTScan(DemuxCore *core, Sink *sink) : m_pCore(core), m_pSink(sink)
    {
        core->lOnPAT.push_back([this](const Pat &pat, const u8 *packet, bool) { OnPAT(pat, packet); });
        core->lOnPMT.push_back([this](u32 program, const Pmt &pmt, bool) {
            if (program != m_u32Program)
                return;
            m_lu8PMTSection = pmt.section;
            m_u16PMTSectionPID = pmt.pid;
            m_bCompleted = true;
            m_u32CompletedCRC = pmt.crc;
            m_bCompletedNamesItsPID = NamesItsPID(pmt);
        });
    }

    bool OnTapped(const u8 *, u16) { return true; }

    bool OnProgramPacket(u32 program, const u8 *packet, u8 flags)
    {
        // Most packets: the program's streams while no PMT section is in progress.
        if ((flags & pidsift::kProgramPmtSection) == 0 && !m_bOpen && program == m_u32Program)
            return Sent(m_pSink->OnMember(packet));
        return OnSectionOrWait(program, packet, flags);
    }

    // The end of the recording: a section still in progress never completes. Returns the scan's
    // result: 0, -3 for a PAT of more than two entries, or what the sink met.
    int Finish()
    {
        if (m_s32Result == 0)
            Break();
        return m_s32Result;
    }

    // The last PMT section of the program and its PID.
    const std::vector<u8> &PMTSection() const { return m_lu8PMTSection; }
    u16 PMTSectionPID() const { return m_u16PMTSectionPID; }

private:
    struct Kept {
        PacketBytes tBytes;
        bool bSection;  // a packet of the section in progress; else the program's, waiting behind it
    };

    // Kept out of line: the packets of the streams, on the path above, are most of a recording.
    __attribute__((noinline)) bool OnSectionOrWait(u32 program, const u8 *packet, u8 flags)
    {
        if (program != m_u32Program)
            return true;
        // The packet that ended the section hears of it; a held packet released to the program
        // before it does not.
        const bool completed = (flags & pidsift::kProgramPmtEnd) != 0 && m_bCompleted;
        if (flags & pidsift::kProgramPmtEnd)
            m_bCompleted = false;
        // A payload of the PMT PID that did not go on with the section in progress: the section
        // broke off before it, or with it.
        if (m_bOpen && TS_Read13(packet + 1) == m_u16PMTPID && HasPayload(packet) &&
            (flags & pidsift::kProgramPmtCarried) == 0 && !Break())
            return false;
        if ((flags & pidsift::kProgramPmtSection) == 0)
            return Member(packet);
        if (m_bGivenUp)
            return GivenUpPacket(packet, flags);
        if (flags & pidsift::kProgramPmtEnd)
            return SectionEnd(packet, flags, completed);
        if ((flags & pidsift::kProgramPmtOpen) == 0) {
            // A copy of a packet that ended a section: no part of a section in progress.
            return (flags & pidsift::kProgramMember) == 0 || Member(packet);
        }
        m_bOpen = true;
        if (m_lKept.size() >= kKeptCapacity) {
            // Past what any section needs: the section is given up here, and what was kept goes
            // out as it came.
            if (!Break())
                return false;
            m_bGivenUp = true;
            return GivenUpPacket(packet, flags);
        }
        Keep(packet, true);
        return true;
    }

    // Whether a packet carries payload bytes (a PCR packet of the PMT PID may carry none).
    static bool HasPayload(const u8 *packet)
    {
        const u8 control = packet[3];
        const u32 at = (control & 0x20) ? 5u + packet[4] : 4u;
        return (control & 0x10) != 0 && at < TS_PACKET_SIZE;
    }

    // The program's PIDs of pmt name the PID that carried it.
    static bool NamesItsPID(const Pmt &pmt)
    {
        const u16 pid = pmt.pid & 0x1FFF;
        if ((pmt.pcr_pid & 0x1FFF) == pid || pmt.EcmPid() == pid)
            return true;
        for (const pidsift::PmtStream &stream : pmt.streams)
            if ((stream.elementary_pid & 0x1FFF) == pid)
                return true;
        return false;
    }

    // The program a single-program recording's PAT lists: its one program entry beside the
    // network entry; of two program entries, the second. Its index among the PAT's programs, or
    // kNone.
    static u32 ProgramOf(const Pat &pat)
    {
        const std::vector<pidsift::PatEntry> &entries = pat.entries;
        if (entries.size() == 2 && entries[1].program_number != 0)
            return entries[0].program_number != 0 ? 1 : 0;
        return !entries.empty() && entries[0].program_number != 0 ? 0 : kNone;
    }

    bool Fail(int code)
    {
        TS_Run_Fail(&m_s32Result, code);
        m_pCore->Stop();
        return false;
    }

    bool Sent(int code) { return code == 0 || Fail(code); }

    void Keep(const u8 *packet, bool section)
    {
        m_lKept.push_back({});
        std::copy(packet, packet + TS_PACKET_SIZE, m_lKept.back().tBytes.begin());
        m_lKept.back().bSection = section;
    }

    // A packet of the program that carries no part of its PMT sections: it waits behind the
    // section in progress when the PMT PID is one of the program's, else it goes out.
    bool Member(const u8 *packet)
    {
        if (m_bNamesItsPID && !m_lKept.empty()) {
            Keep(packet, false);
            return true;
        }
        return Sent(m_pSink->OnMember(packet));
    }

    // The section in progress is gone: its packets go out as the program's when the PMT PID is
    // one of its PIDs, and the packets that waited behind it go out.
    bool Break()
    {
        m_bOpen = false;
        m_bGivenUp = false;
        const std::vector<Kept> kept = std::move(m_lKept);
        m_lKept.clear();
        for (const Kept &packet : kept)
            if ((!packet.bSection || m_bNamesItsPID) && !Sent(m_pSink->OnMember(packet.tBytes.data())))
                return false;
        return true;
    }

    // A packet of a section given up goes out as the program's when its PID is one of them. The
    // section ends with the first packet that ends a section; one that starts there is kept.
    bool GivenUpPacket(const u8 *packet, u8 flags)
    {
        if (flags & pidsift::kProgramPmtEnd) {
            m_bGivenUp = false;
            m_bOpen = (flags & pidsift::kProgramPmtOpen) != 0;
            if (m_bOpen) {
                Keep(packet, true);
                return true;
            }
        }
        return !m_bNamesItsPID || Sent(m_pSink->OnMember(packet));
    }

    // A packet in which a PMT section of the program ended: with a new PMT, the packets of the
    // section go to the sink behind the last PAT packet (those that waited behind them first,
    // under the PMT before); with a section that is no new PMT, they are all the program's
    // packets under the PMT in force.
    bool SectionEnd(const u8 *packet, u8 flags, bool completed)
    {
        const std::vector<Kept> kept = std::move(m_lKept);
        m_lKept.clear();
        bool went = true;
        if (completed) {
            std::vector<const u8 *> section;
            for (const Kept &each : kept) {
                if (each.bSection)
                    section.push_back(each.tBytes.data());
                else if (!Sent(m_pSink->OnMember(each.tBytes.data())))
                    return false;
            }
            section.push_back(packet);
            m_bNamesItsPID = m_bCompletedNamesItsPID;
            m_bHavePMT = true;
            if (!Sent(m_pSink->OnPMT(m_u32CompletedCRC, m_lu8PAT.data(), section)))
                return false;
        } else if (m_bHavePMT) {
            for (const Kept &each : kept)
                if (!Sent(m_pSink->OnMember(each.tBytes.data())))
                    return false;
            if (!Sent(m_pSink->OnMember(packet)))
                return false;
        } else {
            went = false;
        }
        // A section that starts in the packet goes on after it: the packet goes with it only when
        // it went nowhere yet.
        m_bOpen = (flags & pidsift::kProgramPmtOpen) != 0;
        if (m_bOpen && !went)
            Keep(packet, true);
        return true;
    }

    void OnPAT(const Pat &pat, const u8 *packet)
    {
        if (m_s32Result != 0)
            return;
        // Only a single program (beside the network entry) can be followed.
        if (pat.entries.size() > 2) {
            Fail(-3);
            return;
        }
        std::copy(packet, packet + TS_PACKET_SIZE, m_lu8PAT.begin());
        const u32 program = ProgramOf(pat);
        const u16 pid = program == kNone ? TS_NO_PID : m_pCore->Programs()[program].u16PMTPID;
        const u16 number = program == kNone ? 0 : m_pCore->Programs()[program].u16ProgramNumber;
        // Another program, or its PMT on another PID: the section in progress was the one before's.
        if (pid != m_u16PMTPID || number != m_u16ProgramNumber) {
            Break();
            m_u16PMTPID = pid;
            m_u16ProgramNumber = number;
        }
        m_u32Program = program;
        if (program != kNone)
            m_pCore->Follow(program);
    }

    DemuxCore *m_pCore;
    Sink *m_pSink;
    std::array<u8, TS_PACKET_SIZE> m_lu8PAT{};  // the packet that completed the last PAT section
    u32 m_u32Program = kNone;                   // among the programs of the PAT in force
    u16 m_u16PMTPID = TS_NO_PID;
    u16 m_u16ProgramNumber = 0;
    std::vector<Kept> m_lKept;    // in input order
    bool m_bOpen = false;         // a section of the program is in progress
    bool m_bGivenUp = false;      // and it was given up: its packets are not kept
    bool m_bHavePMT = false;      // a PMT of the program is in force
    bool m_bNamesItsPID = false;  // and it names the PID that carried it
    // A PMT section of the program completed in the packet about to come, and was used.
    bool m_bCompleted = false;
    u32 m_u32CompletedCRC = 0;
    bool m_bCompletedNamesItsPID = false;
    std::vector<u8> m_lu8PMTSection;
    u16 m_u16PMTSectionPID = 0;
    int m_s32Result = 0;
};

// Reads path through the scan, what it finds going to sink. Returns the run's result: 0, -2,
// -3 for a PAT of more than two entries, -5, or what the sink met. Without settings it is a
// function of the public header's, which leaves the last PAT and the program's last PMT in
// g_tSimpleData.
template <class Sink> int RunPMTScan(const char *path, const RunSettings *settings, Sink *sink)
{
    const int fd = TS_Input_Open(path, TS_Reporter{settings});
    if (fd < 0)
        return -2;
    DemuxCore core;
    core.UseSettings(settings);
    sink->Begin(settings, fd);
    PMTScan<Sink> scan(&core, sink);
    const int read_result = core.RunDescriptor(fd, path, scan);
    const int scanned = scan.Finish();
    const int ended = sink->End();
    TS_Input_Close(fd);
    if (settings == nullptr)
        TS_SimpleData_Keep(core.PAT() ? core.PAT()->section : std::vector<u8>(), scan.PMTSection(),
                           scan.PMTSectionPID());
    if (scanned != 0)
        return scanned;
    return read_result != 0 ? read_result : ended;
}

// ---------------------------------------------------------------------------------------------
// The segment list
// ---------------------------------------------------------------------------------------------

class SegmentList {
public:
    explicit SegmentList(std::vector<PmtSegment> *segments) : m_pSegments(segments) {}

    void Begin(const RunSettings *, int) {}

    int OnPMT(u32 crc, const u8 *, const std::vector<const u8 *> &section)
    {
        if (!m_bAny || crc != m_u32LastCRC) {
            // A new segment, while the list has room; once it is full, nothing more is counted.
            m_bCounting = m_pSegments->size() < TS_MAX_PMT_SEGMENTS;
            if (m_bCounting) {
                PmtSegment segment;
                segment.crc = crc;
                for (const PmtSegment &earlier : *m_pSegments)
                    segment.index = u16(segment.index + (earlier.crc == crc));
                m_pSegments->push_back(segment);
            }
            m_bAny = true;
            m_u32LastCRC = crc;
        }
        // The split writes the last PAT packet and every packet of the section.
        if (m_bCounting)
            m_pSegments->back().bytes += u64(TS_PACKET_SIZE) * (1 + section.size());
        return 0;
    }

    int OnMember(const u8 *)
    {
        if (m_bCounting)
            m_pSegments->back().bytes += TS_PACKET_SIZE;
        return 0;
    }

    int End() { return 0; }

private:
    std::vector<PmtSegment> *m_pSegments;
    bool m_bAny = false;
    bool m_bCounting = false;
    u32 m_u32LastCRC = 0;
};

// ---------------------------------------------------------------------------------------------
// The split: one file per distinct PMT, all sharing one block, since only the file of the PMT in
// force receives packets. The block is handed over when another file starts receiving.
// ---------------------------------------------------------------------------------------------

class PMTFiles {
public:
    // output: the caller's name for the one file of single mode, or empty for the names
    // "<base>_<CRC_32>.ts".
    PMTFiles(bool every_pmt, u32 crc, std::string output, std::string base)
        : m_bEveryPMT(every_pmt), m_u32CRC(crc), m_strOutput(std::move(output)), m_strBase(std::move(base)),
          m_pu8Block(new u8[TS_WRITER_BLOCK])
    {
    }

    void Begin(const RunSettings *settings, int input_fd)
    {
        m_pOutputs = std::make_unique<RunOutputs>(settings, input_fd);
    }

    // A completed PMT section: the file of its CRC_32 receives the last PAT packet and the
    // packets of the section, and then the program's packets until the next PMT.
    int OnPMT(u32 crc, const u8 *pat_packet, const std::vector<const u8 *> &section)
    {
        m_u32Active = kNone;
        if (!m_bEveryPMT && crc != m_u32CRC)
            return 0;
        u32 e = 0;
        while (e < m_lFiles.size() && m_lFiles[e]->u32CRC != crc)
            ++e;
        if (e == m_lFiles.size()) {
            if (m_lFiles.size() >= TS_MAX_PMT_SEGMENTS)
                return 0;  // the table is full: a 257th distinct PMT gets no file
            m_lFiles.push_back(std::make_unique<PMTFile>());
            m_lFiles.back()->u32CRC = crc;
        }
        if (const int result = Activate(e))
            return result;
        if (const int result = Put(pat_packet))
            return result;
        for (const u8 *packet : section)
            if (const int result = Put(packet))
                return result;
        return 0;
    }

    int OnMember(const u8 *packet) { return m_u32Active == kNone ? 0 : Put(packet); }

    // Every way out closes what is open, so the files keep what was written before a failure.
    int End()
    {
        int result = 0;
        if (m_u32Owner != kNone && TS_Writer_Flush(&m_lFiles[m_u32Owner]->tFile.tWriter) != 0)
            result = -6;
        for (const std::unique_ptr<PMTFile> &file : m_lFiles)
            if (m_pOutputs->Close(&file->tFile) != 0)
                result = -6;
        m_u32Owner = kNone;
        return result;
    }

    const std::string &LastName() const { return m_strLastName; }

private:
    struct PMTFile {
        u32 u32CRC = 0;
        OutputFile tFile;
    };

    int Put(const u8 *packet) { return TS_Writer_Put(&m_lFiles[m_u32Active]->tFile.tWriter, packet) == 0 ? 0 : -6; }

    // Makes file e the receiving file, opening it if needed. -4 when it cannot be opened, -6 when
    // the block cannot be handed over.
    int Activate(u32 e)
    {
        if (m_u32Owner != e) {
            if (m_u32Owner != kNone && TS_Writer_Flush(&m_lFiles[m_u32Owner]->tFile.tWriter) != 0)
                return -6;
            m_u32Owner = e;
            PMTFile &file = *m_lFiles[e];
            if (!file.tFile.IsOpen()) {
                char crc[16];
                snprintf(crc, sizeof crc, "_%08X.ts", file.u32CRC);
                m_strLastName = !m_bEveryPMT && !m_strOutput.empty() ? m_strOutput : m_strBase + crc;
                if (!m_pOutputs->Open(&file.tFile, m_pu8Block.get(), TS_WRITER_BLOCK, m_strLastName)) {
                    m_u32Owner = kNone;
                    return -4;
                }
            }
        }
        m_u32Active = e;
        return 0;
    }

    bool m_bEveryPMT;
    u32 m_u32CRC;  // single mode: the PMT chosen
    std::string m_strOutput;
    std::string m_strBase;
    std::unique_ptr<u8[]> m_pu8Block;
    std::unique_ptr<RunOutputs> m_pOutputs;
    std::vector<std::unique_ptr<PMTFile>> m_lFiles;  // one per distinct CRC_32, in order of appearance
    u32 m_u32Owner = kNone;                          // the file whose packets are in the block
    u32 m_u32Active = kNone;                         // the file of the PMT in force; kNone: none written
    std::string m_strLastName;
};

int ListSegments(const char *path, std::vector<PmtSegment> *segments, const RunSettings *settings)
{
    segments->clear();
    SegmentList list(segments);
    return RunPMTScan(path, settings, &list);
}

int SplitAtPMTs(const char *path, bool every_pmt, u32 crc, const char *output, const RunSettings *settings,
                std::string *last_name)
{
    PMTFiles files(every_pmt, crc, output != nullptr ? output : "", pidsift::SplitBaseName(path, settings));
    const int result = RunPMTScan(path, settings, &files);
    if (last_name != nullptr)
        *last_name = files.LastName();
    return result;
}

}  // namespace

namespace pidsift {

int ListPmtSegments(const char *path, std::vector<PmtSegment> *segments, const RunSettings &settings)
{
    if (path == nullptr || segments == nullptr)
        return -1;
    return ListSegments(path, segments, &settings);
}

int SplitPmt(const char *path, const RunSettings &settings)
{
    if (path == nullptr)
        return -1;
    return SplitAtPMTs(path, true, 0, nullptr, &settings, nullptr);
}

int SplitPmt(const char *path, u32 crc, const char *output, const RunSettings &settings)
{
    if (path == nullptr)
        return -1;
    return SplitAtPMTs(path, false, crc, output, &settings, nullptr);
}

}  // namespace pidsift

int TS_CheckPMTSplit(TS_PMTSplitList *list, const char *path)
{
    if (list == nullptr || path == nullptr)
        return -1;
    std::vector<PmtSegment> segments;
    const int result = ListSegments(path, &segments, nullptr);
    std::memset(list, 0, sizeof *list);
    for (const PmtSegment &segment : segments) {
        TS_PMTSplitData &kept = list->ltSplit[list->u16Count++];
        kept.u32CRC = segment.crc;
        kept.u16Index = segment.index;
        kept.u64Bytes = segment.bytes;
    }
    return result;
}

int TS_PMTSplitFile(const char *path, u8 all_mode, u32 crc, const char *output)
{
    if (path == nullptr)
        return -1;
    std::string last_name;
    const int result = SplitAtPMTs(path, all_mode != 0, crc, output, nullptr, &last_name);
    if (GetBaseFileName(g_strString1, path) != 0)
        g_strString1[0] = '\0';
    if (last_name.size() < sizeof g_strString2)
        std::memcpy(g_strString2, last_name.c_str(), last_name.size() + 1);
    return result;
}
