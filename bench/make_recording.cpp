// Writes a large broadcast-like recording for the benchmarks: four programs with video and
// audio (PCR on the video PID), one of them scrambled with its ECM, a CAT naming an EMM PID, SI
// (the EIT present/following of each program, a TOT) and null packets, PSI repeated about every
// 100 ms of an 18 Mbit/s multiplex. The program on PMT PID 0x01F0 holds about 30 % of the
// packets.
//
// With --add-guide it gives an encoder's recording the programme guide and the clock that
// broadcasts carry and encoders leave out: the EIT present/following of every program of its
// first PAT ten times a second and a TOT every 5 seconds, the same as the synthetic recording's
// but with names in DVB's UTF-8 table, in null packets, as a multiplexer fills its padding with
// SI. The file keeps its size and every other packet its place and bytes. The clock starts at
// 20:59:35 and runs with the packets on the constant rate given.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "demux/section_collector.h"
#include "stream_builder.h"

namespace {

constexpr u16 kEitPid = 0x0012;
constexpr u16 kTotPid = 0x0014;
constexpr u16 kNullPid = 0x1FFF;
// EIT present/following rounds a second and seconds between TOTs.
constexpr u64 kRoundsPerSecond = 10;
constexpr u64 kTotSeconds = 5;

int Usage()
{
    fprintf(stderr, "usage: make_recording OUTPUT.ts SIZE_IN_MB\n"
                    "       make_recording --add-guide INPUT.ts OUTPUT.ts MUXRATE   (bit/s; 20400k = 20400000)\n");
    return 2;
}

// Bits per second: digits, with a trailing k for thousands as ffmpeg's -muxrate takes them. 0
// when the text is none of these, or too large to time a packet by.
u64 ParseMuxrate(const std::string &text)
{
    const bool thousands = !text.empty() && text.back() == 'k';
    const std::string digits = thousands ? text.substr(0, text.size() - 1) : text;
    if (digits.empty() || digits.size() > 12 || digits.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    return std::stoull(digits) * (thousands ? 1000 : 1);
}

u16 PidOf(const testsupport::Packet &packet) { return u16((packet[1] & 0x1F) << 8 | packet[2]); }

// The first PAT section of a recording whose CRC_32 checks, as the demux collects sections.
class FirstPat {
public:
    // Takes a packet of PID 0; true once the section is complete.
    bool Take(const testsupport::Packet &packet)
    {
        if (m_done || (packet[1] & 0x80) != 0)  // transport_error_indicator
            return m_done;
        m_collector.Feed(packet.data(), [this](const pidsift::Section &section, bool) {
            if (!m_done && section.table_id() == 0x00 && section.length >= 12 && section.crc_ok) {
                m_section.assign(section.bytes, section.bytes + section.length);
                m_done = true;
            }
        });
        return m_done;
    }

    // The multiplex the guide describes: the programs of the PAT (not its network entry), and
    // its transport stream.
    testsupport::BroadcastSpec Mux() const
    {
        testsupport::BroadcastSpec mux;
        mux.transport_stream_id = u16(m_section[3] << 8 | m_section[4]);
        mux.arib_descriptors = false;  // an encoder's recording reads as DVB: the names in UTF-8
        // original_network_id stays the builder's: the encoder's SDT is not looked into.
        for (size_t at = 8; at + 4 + 4 <= m_section.size(); at += 4) {
            const u16 program_number = u16(m_section[at] << 8 | m_section[at + 1]);
            if (program_number != 0)
                mux.programs.push_back(
                    {program_number, u16((m_section[at + 2] & 0x1F) << 8 | m_section[at + 3]), 0, 0});
        }
        return mux;
    }

private:
    pidsift::SectionCollector m_collector{0x0000};
    testsupport::Bytes m_section;
    bool m_done = false;
};

class GuideWriter {
public:
    GuideWriter(FILE *in, FILE *out, u64 muxrate) : m_in(in), m_out(out), m_muxrate(muxrate) {}

    // Copies the input; 0, or 1 after a message.
    int Run(const char *in_path, const char *out_path)
    {
        testsupport::Packet packet;
        size_t got;
        while ((got = fread(packet.data(), 1, packet.size(), m_in)) == packet.size()) {
            if (packet[0] == 0x47 && !Look(packet, in_path))
                return 1;
            if (fwrite(packet.data(), 1, packet.size(), m_out) != packet.size())
                return Failed(out_path);
            ++m_index;
        }
        if (ferror(m_in))
            return Failed(in_path);
        if (got > 0 && fwrite(packet.data(), 1, got, m_out) != got)  // a cut last packet, as it is
            return Failed(out_path);
        if (!m_has_pat) {
            fprintf(stderr, "make_recording: %s has no PAT: no programs to guide\n", in_path);
            return 1;
        }
        if (m_replaced == 0)
            fprintf(stderr, "make_recording: %s has no null packets after its PAT: copied without a guide\n", in_path);
        return 0;
    }

private:
    // Notes what the packet says and puts the guide's next packet in place of a null one. False
    // when the input carries SI of the guide's PIDs already, whose continuity the guide would break.
    bool Look(testsupport::Packet &packet, const char *in_path)
    {
        const u16 pid = PidOf(packet);
        if (pid == kEitPid || pid == kTotPid) {
            fprintf(stderr, "make_recording: %s carries %s on PID 0x%04X already (packet %llu)\n", in_path,
                    pid == kEitPid ? "an EIT" : "a TDT or TOT", pid, (unsigned long long)m_index);
            return false;
        }
        if (!m_has_pat) {
            if (pid != 0x0000 || !m_pat.Take(packet))
                return true;
            m_mux = m_pat.Mux();
            m_has_pat = true;
        }
        // The packet's time on the multiplex's constant rate.
        const u64 bits = m_index * packet.size() * 8;
        const u64 round = bits * kRoundsPerSecond / m_muxrate;
        const int second = testsupport::kGuideStartSeconds + int(bits / m_muxrate);
        // A round due while the last one still waits for padding goes out after it, never both
        // at once: with too little padding the pair repeats less often, the tables stay whole.
        if (round >= m_next_round && m_eit.empty()) {
            for (const testsupport::Packet &eit :
                 m_builder.Packed(kEitPid, testsupport::GuidePresentFollowing(
                                               m_mux, int(round / kRoundsPerSecond) + testsupport::kGuideStartSeconds)))
                m_eit.push_back(eit);
            m_next_round = round + 1;
        }
        if (bits / (kTotSeconds * m_muxrate) >= m_next_tot) {
            m_tot_due = true;
            m_next_tot = bits / (kTotSeconds * m_muxrate) + 1;
        }
        if (pid != kNullPid)
            return true;
        // The clock first, stamped with the time of the packet that carries it.
        if (m_tot_due) {
            for (const testsupport::Packet &tot : m_builder.Section(kTotPid, testsupport::GuideTOT(second)))
                m_tot.push_back(tot);
            m_tot_due = false;
        }
        std::deque<testsupport::Packet> &queue = m_tot.empty() ? m_eit : m_tot;
        if (queue.empty())
            return true;
        packet = queue.front();
        queue.pop_front();
        ++m_replaced;
        return true;
    }

    int Failed(const char *path)
    {
        fprintf(stderr, "make_recording: %s: %s\n", path, strerror(errno));
        return 1;
    }

    FILE *m_in;
    FILE *m_out;
    u64 m_muxrate;
    u64 m_index = 0;
    FirstPat m_pat;
    bool m_has_pat = false;
    testsupport::BroadcastSpec m_mux;
    testsupport::PacketBuilder m_builder;
    std::deque<testsupport::Packet> m_eit;
    std::deque<testsupport::Packet> m_tot;
    u64 m_next_round = 0;
    u64 m_next_tot = 0;
    bool m_tot_due = false;
    u64 m_replaced = 0;
};

int AddGuide(const char *in_path, const char *out_path, const char *muxrate_text)
{
    const u64 muxrate = ParseMuxrate(muxrate_text);
    if (muxrate == 0)
        return Usage();
    FILE *in = fopen(in_path, "rb");
    if (in == nullptr) {
        perror(in_path);
        return 1;
    }
    FILE *out = fopen(out_path, "wb");
    if (out == nullptr) {
        perror(out_path);
        fclose(in);
        return 1;
    }
    static char in_buffer[1 << 20], out_buffer[1 << 20];
    setvbuf(in, in_buffer, _IOFBF, sizeof in_buffer);
    setvbuf(out, out_buffer, _IOFBF, sizeof out_buffer);
    int status = GuideWriter(in, out, muxrate).Run(in_path, out_path);
    fclose(in);
    if (fclose(out) != 0 && status == 0) {
        perror(out_path);
        status = 1;
    }
    if (status != 0)
        remove(out_path);  // no half-guided recording for a benchmark to take
    return status;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc == 5 && strcmp(argv[1], "--add-guide") == 0)
        return AddGuide(argv[2], argv[3], argv[4]);
    if (argc != 3)
        return Usage();
    const u64 megabytes = strtoull(argv[2], nullptr, 10);
    testsupport::BroadcastSpec mux;
    mux.transport_stream_id = 0x7FE0;
    mux.network_pid = 0x0010;
    mux.emm_pid = 0x0901;
    mux.packet_count = megabytes * 1000000 / 188;
    mux.psi_interval = 1200;
    mux.null_weight = 3;
    mux.si_weight = 2;
    mux.guide = true;  // the EIT present/following of every program and a TOT
    mux.programs = {
        {0x0400, 0x01F0, 0x0111, 0x0112, 0, 0, 12, 2},
        {0x0401, 0x01F1, 0x0121, 0x0122, 0x0130, 0, 10, 2},
        {0x0402, 0x01F2, 0x0131, 0x0132, 0, 0, 8, 2},
        {0x0408, 0x01F8, 0x0181, 0x0182, 0, 0, 6, 1},
    };
    FILE *out = fopen(argv[1], "wb");
    if (out == nullptr) {
        perror(argv[1]);
        return 1;
    }
    static char buffer[1 << 20];
    setvbuf(out, buffer, _IOFBF, sizeof buffer);
    testsupport::GenerateBroadcast(mux,
                                   [&](const testsupport::Packet &packet, u16) { fwrite(packet.data(), 1, 188, out); });
    return fclose(out) == 0 ? 0 : 1;
}
