// The public C++ interface: a DemuxCore whose packet subscribers are std::function callbacks.
#include <pidsift/demux.h>

#include <map>

#include "demux/demux_core.h"

namespace pidsift {

// Every packet passes through here (the public interface counts them); the callbacks are
// found by PID (a table of the 8,192, made at the first subscription) and by program number.
struct Demux::Subscribers {
    DemuxCore *pCore = nullptr;
    u64 u64Packets = 0;
    std::vector<std::function<void(const u8 *)>> lAll;
    std::vector<std::vector<std::function<void(const u8 *)>>> lByPID;
    std::map<u16, std::vector<std::function<void(const u8 *)>>> lByProgram;

    bool OnTapped(const u8 *packet, u16 pid)
    {
        ++u64Packets;
        for (const auto &callback : lAll)
            callback(packet);
        if (!lByPID.empty())
            for (const auto &callback : lByPID[pid])
                callback(packet);
        return true;
    }

    bool OnProgramPacket(u32 program, const u8 *packet, u8)
    {
        const auto found = lByProgram.find(pCore->Programs()[program].u16ProgramNumber);
        if (found != lByProgram.end())
            for (const auto &callback : found->second)
                callback(packet);
        return true;
    }
};

Demux::Demux() : m_core(std::make_unique<DemuxCore>()), m_subscribers(std::make_unique<Subscribers>())
{
    m_subscribers->pCore = m_core.get();
    m_core->TapAll();
    // The programs subscribed to by number are followed wherever a PAT puts them.
    m_core->lOnPAT.push_back([this](const Pat &, const u8 *, bool) {
        const std::vector<ProgramTrack> &programs = m_core->Programs();
        for (u32 k = 0; k < programs.size(); ++k)
            if (m_subscribers->lByProgram.count(programs[k].u16ProgramNumber) != 0)
                m_core->Follow(k);
    });
}

Demux::~Demux() = default;

void Demux::OnPat(std::function<void(const Pat &)> callback)
{
    m_core->lOnPAT.push_back([callback = std::move(callback)](const Pat &pat, const u8 *, bool) { callback(pat); });
}

void Demux::OnPmt(std::function<void(const Pmt &)> callback)
{
    m_core->KeepPMTs();
    m_core->lOnPMT.push_back([callback = std::move(callback)](u32, const Pmt &pmt, bool) { callback(pmt); });
}

void Demux::OnCat(std::function<void(const Cat &)> callback)
{
    m_core->KeepCAT();
    m_core->lOnCAT.push_back(std::move(callback));
}

void Demux::OnSections(u16 pid, std::function<void(const Section &)> callback)
{
    pid &= 0x1FFF;
    m_core->CollectSections(pid);
    m_core->lOnSection.push_back([pid, callback = std::move(callback)](const Section &section) {
        if (section.pid == pid)
            callback(section);
    });
}

void Demux::OnPackets(u16 pid, std::function<void(const u8 *)> callback)
{
    if (m_subscribers->lByPID.empty())
        m_subscribers->lByPID.resize(8192);
    m_subscribers->lByPID[pid & 0x1FFF].push_back(std::move(callback));
}

void Demux::OnAllPackets(std::function<void(const u8 *)> callback)
{
    m_subscribers->lAll.push_back(std::move(callback));
}

void Demux::OnProgramPackets(u16 program_number, std::function<void(const u8 *)> callback)
{
    m_subscribers->lByProgram[program_number].push_back(std::move(callback));
    const std::vector<ProgramTrack> &programs = m_core->Programs();
    for (u32 k = 0; k < programs.size(); ++k)
        if (programs[k].u16ProgramNumber == program_number)
            m_core->Follow(k);
}

void Demux::KeepPmts() { m_core->KeepPMTs(); }

void Demux::KeepServices(int text_family) { m_core->KeepServices(text_family); }

int Demux::Run(const char *path) { return path == nullptr ? -1 : m_core->Run(path, *m_subscribers); }

void Demux::Feed(const u8 *data, size_t size)
{
    if (data != nullptr)
        m_core->Feed(data, size, *m_subscribers);
}

void Demux::Finish() { m_core->Finish(*m_subscribers); }

const Pat *Demux::pat() const { return m_core->PAT(); }
const Cat *Demux::cat() const { return m_core->CAT(); }

std::vector<Program> Demux::Programs() const
{
    std::vector<Program> programs;
    for (const ProgramTrack &track : m_core->Programs())
        programs.push_back({track.u16ProgramNumber, track.u16PMTPID, track.pPMT.get()});
    return programs;
}

const Pmt *Demux::PmtOf(u16 program_number) const
{
    for (const ProgramTrack &track : m_core->Programs())
        if (track.u16ProgramNumber == program_number)
            return track.pPMT.get();
    return nullptr;
}

std::vector<Service> Demux::Services() const { return m_core->ServiceList(); }

std::string Demux::NetworkName() const { return m_core->NetworkNameText(); }

u64 Demux::Packets() const { return m_subscribers->u64Packets; }

}  // namespace pidsift
