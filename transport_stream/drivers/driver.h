// Pieces shared by the drivers (listing and extraction, stream dump, per-program split,
// PMT-change split, check): how a run ends, the records of the public header, and the output
// files of a run. Not part of the public interface.
#ifndef PIDSIFT_TRANSPORT_STREAM_DRIVER_H
#define PIDSIFT_TRANSPORT_STREAM_DRIVER_H

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "io/io.h"
#include "psi/section.h"
#include "text/text.h"

// ---------------------------------------------------------------------------------------------
// A run's outcome
// ---------------------------------------------------------------------------------------------

// Per-packet handlers return true to go on and false to end the run. A run that ends on a
// failure keeps its first failure code in *result: the one the caller hears about.
inline bool TS_Run_Fail(int *result, int code)
{
    if (*result == 0)
        *result = code;
    return false;
}

// ---------------------------------------------------------------------------------------------
// The records of the public header
// ---------------------------------------------------------------------------------------------

// Decodes a kept section into one of the specified records through its reassembly buffer; an
// empty section, or one longer than the buffer holds, leaves the record invalid.
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

// What the functions of the public header that follow one program leave in g_tSimpleData: the
// last PAT, and the last PMT of the program (carried on pmt_pid).
void TS_SimpleData_Keep(const std::vector<u8> &pat_section, const std::vector<u8> &pmt_section, u16 pmt_pid);

// ---------------------------------------------------------------------------------------------
// Output files
// ---------------------------------------------------------------------------------------------

namespace pidsift {

struct RunSettings;
struct BlockTaker;

// The packets a split holds back while the file they open waits for the program's PMT (the
// reduced PATs before it), in input order: the last kCapacity of them.
class HeldPackets {
public:
    static constexpr size_t kCapacity = 1024;

    void Hold(const u8 *packet)
    {
        if (m_lPackets.size() == kCapacity)
            m_lPackets.erase(m_lPackets.begin());
        m_lPackets.emplace_back();
        std::memcpy(m_lPackets.back().data(), packet, TS_PACKET_SIZE);
    }
    // Hands each to write (false stops), then forgets them all.
    template <class Write> bool Release(Write &&write)
    {
        bool written = true;
        for (size_t i = 0; i < m_lPackets.size() && written; ++i)
            written = write(m_lPackets[i].data());
        m_lPackets.clear();
        return written;
    }
    void Clear() { m_lPackets.clear(); }

private:
    std::vector<std::array<u8, TS_PACKET_SIZE>> m_lPackets;
};

// An output file of a run, with the name it was opened under: its writer's messages name it,
// whatever the driver names next. It stays where it is while open (the writer holds its name).
struct OutputFile {
    TS_Writer tWriter = {};
    std::string strName;

    OutputFile() { tWriter.s32FD = -1; }
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;
    bool IsOpen() const { return TS_Writer_IsOpen(&tWriter); }
};

// The output files of one run: the write thread they share, the input they must never be, and
// the run's settings, which tell each failure and hear of each file opened and finished. A run
// without settings (a function of the public header) tells its failures through the
// process-wide message hook and nobody of its files.
class RunOutputs {
public:
    RunOutputs(const RunSettings *settings, int input_fd);

    const TS_Reporter &Reporter() const { return m_tQueue.Reporter(); }
    TS_WriteQueue *Queue() { return &m_tQueue; }

    // Opens path, truncated, for writing through block: refuses the input file itself (told as
    // TS_FAILED_CREATE with errno 0) and a name too long to open. false when it cannot be opened,
    // with the failure told.
    bool Open(OutputFile *file, u8 *block, u32 capacity, const std::string &path);
    // Takes over a descriptor opened by the caller, as a quiet writer (failures only returned).
    void Attach(OutputFile *file, int fd, u8 *block, u32 capacity);
    // Hands the file's blocks to a caller's function (quiet, as Attach).
    void AttachTaker(OutputFile *file, const BlockTaker &taker, u8 *block, u32 capacity);
    // Flushes and closes; 0, or -6 when anything written to the file failed. A file closed whole
    // is told as done. A closed file gives 0.
    int Close(OutputFile *file);

private:
    const RunSettings *m_pSettings;
    TS_WriteQueue m_tQueue;
    int m_s32Input;
};

// The text before "_<...>.ts" in the names of a split's files: the settings' split_base, or the
// input's path without its extension (empty when it is too long for a name).
std::string SplitBaseName(const char *path, const RunSettings *settings);

}  // namespace pidsift

// The PAT of a one-program recording, from the received PAT section and the index of the
// program's entry in its loop: the first network entry, wherever the loop has it, then the
// program's entry, under a fresh CRC_32. The packet has the received packet's header and carries
// the section from its start, without an adaptation field, whatever the received packet had.
void TS_PAT_ReducedPacket(u8 *out, const std::vector<u8> &pat_section, size_t entry, const u8 *pat_packet);

#endif  // PIDSIFT_TRANSPORT_STREAM_DRIVER_H
