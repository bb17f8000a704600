// The demux that owns one run: the packets of a recording (read from a file or pushed by the
// caller), a route for every PID, one section collector per PID whose sections someone wants,
// the tables in force, and the drivers' subscriptions.
//
// A packet's way: its PID indexes the route table (8,192 entries of a few bytes). A PID no one
// asked for ends there. A PID with sections goes to its collector, whose complete sections pass
// the CRC gate and update the tables in force (PAT, CAT, PMTs, SDT, NIT) and the routes; the
// packet then goes to the driver: to OnTapped for the PIDs it taps, and to OnProgramPacket once
// for each program it follows that the packet belongs to (a PCR, ECM or stream PID of the PMT in
// force, or a packet that carried bytes of the program's PMT sections).
//
// The driver is a template parameter of the run: its per-packet calls are inlined, and a table
// event (rare) goes through the std::function listeners registered here.
#ifndef PIDSIFT_TRANSPORT_STREAM_DEMUX_DEMUX_CORE_H
#define PIDSIFT_TRANSPORT_STREAM_DEMUX_DEMUX_CORE_H

#include <array>
#include <functional>
#include <memory>
#include <vector>

#include <pidsift/demux.h>

#include "demux/section_collector.h"
#include "drivers/text_family.h"
#include "io/io.h"

namespace pidsift {

// Room behind a read for the carried tail (at most a hunt's look-ahead of 33 units of 204
// bytes) and the page alignment of the read.
constexpr u64 kCarryCapacity = 64 * 1024;

// How a packet belongs to a program, in OnProgramPacket's flags.
constexpr u8 kProgramMember = 0x01;      // its PID is the PCR, ECM or a stream PID of the PMT in force
constexpr u8 kProgramPmtSection = 0x02;  // it carried bytes of a PMT section of the program
constexpr u8 kProgramPmtEnd = 0x04;      // a PMT section of the program ended in it (used or not)

using PacketBytes = std::array<u8, TS_PACKET_SIZE>;

// A driver that wants no packets: the listing, and callers that read tables only. A driver
// defines the same two members; returning false ends the run.
struct NoPackets {
    bool OnTapped(const u8 *, u16) { return true; }
    bool OnProgramPacket(u32, const u8 *, u8) { return true; }
};

// A program of the PAT in force (the network entry left out), in the order of the PAT.
struct ProgramTrack {
    u16 u16ProgramNumber;
    u16 u16PMTPID;
    u16 u16Rank;  // among the earlier entries of the same program_number (told apart by it)
    bool bFollowed;
    std::unique_ptr<Pmt> pPMT;  // the PMT in force, null until one came
};

// What a PID is for, by the tables in force: one table read by every driver.
constexpr u16 kRolePAT = 0x0001;
constexpr u16 kRoleCAT = 0x0002;
constexpr u16 kRolePMT = 0x0004;
constexpr u16 kRolePCR = 0x0008;
constexpr u16 kRoleECM = 0x0010;
constexpr u16 kRoleStream = 0x0020;
constexpr u16 kRoleEMM = 0x0040;
constexpr u16 kRoleNIT = 0x0080;   // the network_PID of the PAT
constexpr u16 kRoleSI = 0x0100;    // 0x0002-0x002F: reserved for tables by number
constexpr u16 kRoleNull = 0x0200;  // 0x1FFF

class DemuxCore {
public:
    DemuxCore();
    ~DemuxCore();
    DemuxCore(const DemuxCore &) = delete;
    DemuxCore &operator=(const DemuxCore &) = delete;

    // ---- What the run keeps and follows (before the run, or from a listener) ----------------
    void KeepPMTs();                // the PMT of every program, not only of those followed
    void KeepCAT();                 // the CAT of PID 0x0001 (and with it the EMM PID)
    void KeepServices(int family);  // the actual SDT's services, the NIT's name, the text family
    // Every section of pid to the section listeners; collect false stops that. Called from a
    // listener, the change takes effect once the packet in hand has been taken in.
    void CollectSections(u16 pid, bool collect = true);
    // The same for several PIDs, with one rebuild of the routes.
    void CollectSections(const std::vector<u16> &pids, bool collect = true);
    void Tap(u16 pid);         // the driver's OnTapped for pid
    void TapAll();             // and for every PID
    void FollowAllPrograms();  // OnProgramPacket for every program of every PAT
    // Follows one program of the PAT in force (by its index in Programs()); a PAT that changes
    // the program list forgets the choice unless every program is followed. Called from a table
    // listener or between runs, never from the driver's packet calls.
    void Follow(u32 program, bool follow = true);
    // Ends the run after the packet in hand (from a table listener).
    void Stop() { m_bStopped = true; }
    // Reports the run's progress and failures through these settings' hooks (kept by the
    // caller for the run); without, through the process-wide ones.
    void UseSettings(const RunSettings *settings) { m_pSettings = settings; }

    // ---- Listeners of the tables: called as the sections complete, before the packet that
    // completed them reaches the driver. The packet is that one.
    std::vector<std::function<void(const Pat &, const u8 *packet, bool changed)>> lOnPAT;
    std::vector<std::function<void(u32 program, const Pmt &, bool changed)>> lOnPMT;
    std::vector<std::function<void(const Cat &)>> lOnCAT;
    std::vector<std::function<void(const Section &)>> lOnSection;  // PIDs of CollectSections

    // ---- Input --------------------------------------------------------------------------------
    // Reads path ("-": standard input) to its end, or until the driver ends the run. 0, -2 when
    // it cannot be opened (message printed), -5 on a read error.
    template <class Driver> int Run(const char *path, Driver &driver);
    // Reads an open descriptor; path names it in messages.
    template <class Driver> int RunDescriptor(int fd, const char *path, Driver &driver);
    // Bytes pushed by the caller; Finish once the recording has ended. False: the driver ended.
    template <class Driver> bool Feed(const u8 *data, size_t size, Driver &driver);
    template <class Driver> bool Finish(Driver &driver);

    // One packet (188 bytes from its sync byte). False: the driver ended the run.
    template <class Driver> bool Packet(const u8 *packet, Driver &driver);

    // ---- What is in force ---------------------------------------------------------------------
    const Pat *PAT() const { return m_pPAT.get(); }
    const Cat *CAT() const { return m_pCAT.get(); }
    const std::vector<ProgramTrack> &Programs() const { return m_lPrograms; }
    u16 EMMPID() const { return m_pCAT ? m_pCAT->EmmPid() : TS_NO_PID; }
    u16 Roles(u16 pid) const { return m_lu16Role[pid & 0x1FFF]; }
    // The services of the actual SDT of the PAT's transport stream, when kept; null without.
    const TS_SDTServices *Services() const;
    // The same as the public interface gives them: every service, its names in UTF-8.
    std::vector<Service> ServiceList() const;
    bool HasNetworkName() const { return m_bNetworkName; }
    const std::vector<u8> &NetworkName() const { return m_lu8NetworkName; }
    u16 NetworkID() const { return m_u16NetworkID; }  // of the NIT that named the network
    std::string NetworkNameText() const;              // in UTF-8, empty without a name
    int TextFamily() const { return TS_FamilyVote_Family(&m_tFamily); }
    const TS_Sync &Sync() const { return m_tSync; }
    // Inside a table or section listener: the packet whose section step calls it.
    const u8 *SectionPacket() const { return m_pu8SectionPacket; }
    // Where the packet in hand (as the driver was handed it) starts in the input: the offset of
    // its sync byte.
    u64 OffsetOf(const u8 *packet) const
    {
        return m_tSync.u64BytesRead - (m_u64Size - u64(packet - m_pu8Stream.get()));
    }

private:
    // Route bits of a PID.
    static constexpr u8 kRouteSections = 0x01;  // its packets go to its section slot first
    static constexpr u8 kRouteTap = 0x02;       // the driver taps it
    static constexpr u8 kRouteMember = 0x04;    // a member of one followed program: u16Program
    static constexpr u8 kRouteMembers = 0x08;   // a member of several: m_lMembers[pid]

    struct Delivery {
        u32 u32Program;
        const u8 *pu8Packet;
        u8 u8Flags;
    };

    struct Slot;

    template <class Driver> bool Deliver(const u8 *packet, u16 pid, Driver &driver);

    void TakeSectionPacket(u16 pid, const u8 *packet);
    void OnSection(Slot &slot, const Section &section, bool carried, const u8 *packet);
    void OnPATSection(const Section &section, const u8 *packet);
    void OnCATSection(const Section &section);
    void OnPMTSection(Slot &slot, const Section &section, bool carried, bool usable);
    void OnSDTSection(const Section &section);
    void OnNITSection(const Section &section);
    void TrackPMTCarriers(Slot &slot, const FeedOutcome &outcome, const u8 *packet);
    void ReleaseHeld(Slot &slot, u16 program_number);
    void AddOwner(u32 program, u8 flags);
    u16 SlotIndex(u16 pid);
    void Rebuild();

    // The route of each PID: what its packets go to (kRoute*), the program it is a member of
    // (kRouteMember), its section slot (kRouteSections). The flags stand alone: they are all that
    // most packets read.
    std::array<u8, 8192> m_lu8Route;
    std::array<u16, 8192> m_lu16RouteProgram;
    std::array<u16, 8192> m_lu16RouteSlot;
    std::vector<std::vector<u32>> m_llMembers;  // by PID, for kRouteMembers
    std::array<u16, 8192> m_lu16Role;
    std::vector<std::unique_ptr<Slot>> m_lSlots;
    bool m_bKeepPMTs = false;
    bool m_bKeepCAT = false;
    bool m_bKeepServices = false;
    bool m_bTapAll = false;
    bool m_bFollowAll = false;
    std::vector<u16> m_lu16Tapped;
    std::vector<u16> m_lu16Collected;

    std::unique_ptr<Pat> m_pPAT;
    std::unique_ptr<Cat> m_pCAT;
    std::vector<ProgramTrack> m_lPrograms;
    struct ServiceTables;
    std::unique_ptr<ServiceTables> m_pServices;
    bool m_bNetworkName = false;
    u16 m_u16NetworkID = 0;
    std::vector<u8> m_lu8NetworkName;
    TS_FamilyVote m_tFamily = {TS_TEXT_AUTO, 0};

    // The packet in hand's deliveries to followed programs, and the held packets released to
    // them before it.
    std::vector<Delivery> m_lDeliveries;
    std::vector<PacketBytes> m_lReleased;
    std::vector<std::pair<u32, u32>> m_lReleaseTargets;  // program, index in m_lReleased
    std::vector<u32> m_lu32Owners;                       // programs whose PMT sections the packet in hand carried
    std::vector<u8> m_lu8OwnerFlags;
    bool m_bRebuild = false;
    bool m_bInSectionStep = false;
    bool m_bStopped = false;
    const u8 *m_pu8SectionPacket = nullptr;
    const RunSettings *m_pSettings = nullptr;

    TS_Sync m_tSync = {};
    std::unique_ptr<u8[]> m_pu8Stream;  // read and pushed bytes, the carried tail first
    u64 m_u64Size = 0;
    u64 m_u64Position = 0;
};

// ---------------------------------------------------------------------------------------------

template <class Driver> inline bool DemuxCore::Packet(const u8 *packet, Driver &driver)
{
    const u16 pid = TS_Read13(packet + 1);
    const u8 route = m_lu8Route[pid];
    if (route == 0)
        return true;
    // A driver that taps every PID (the check, the dump of every packet) sees most of them here.
    if (route == kRouteTap)
        return driver.OnTapped(packet, pid);
    if (route & kRouteSections)
        return Deliver(packet, pid, driver);
    if ((route & kRouteTap) && !driver.OnTapped(packet, pid))
        return false;
    if (route & kRouteMember)
        return driver.OnProgramPacket(m_lu16RouteProgram[pid], packet, kProgramMember);
    if (route & kRouteMembers) {
        for (u32 program : m_llMembers[pid])
            if (!driver.OnProgramPacket(program, packet, kProgramMember))
                return false;
    }
    return true;
}

// A packet of a PID with sections: the tap sees it before the tables change, the programs after
// (with the roles the tables give after it).
template <class Driver> bool DemuxCore::Deliver(const u8 *packet, u16 pid, Driver &driver)
{
    if ((m_lu8Route[pid] & kRouteTap) && !driver.OnTapped(packet, pid))
        return false;
    TakeSectionPacket(pid, packet);
    for (const Delivery &delivery : m_lDeliveries)
        if (!driver.OnProgramPacket(delivery.u32Program, delivery.pu8Packet, delivery.u8Flags))
            return false;
    return !m_bStopped;
}

template <class Driver> int DemuxCore::RunDescriptor(int fd, const char *path, Driver &driver)
{
    return TS_Stream_Run(
        &m_tSync, fd, path, m_pu8Stream.get(), &m_u64Size, &m_u64Position,
        [&](const u8 *packet) { return Packet(packet, driver); }, TS_READ_BLOCK + kCarryCapacity, m_pSettings);
}

template <class Driver> int DemuxCore::Run(const char *path, Driver &driver)
{
    const bool standard_input = path[0] == '-' && path[1] == '\0';
    const int fd = standard_input ? 0 : TS_Input_Open(path, m_pSettings);
    if (fd < 0)
        return -2;
    const int result = RunDescriptor(fd, path, driver);
    if (!standard_input)
        TS_Input_Close(fd);
    return result;
}

template <class Driver> bool DemuxCore::Feed(const u8 *data, size_t size, Driver &driver)
{
    while (size > 0) {
        // What fits behind the carried tail, which moves to the front first.
        const u64 tail = m_u64Size - m_u64Position;
        std::memmove(m_pu8Stream.get(), m_pu8Stream.get() + m_u64Position, tail);
        m_u64Position = 0;
        m_u64Size = tail;
        const u64 room = TS_READ_BLOCK + kCarryCapacity - tail;
        const u64 take = size < room ? size : room;
        std::memcpy(m_pu8Stream.get() + tail, data, take);
        m_u64Size += take;
        m_tSync.u64BytesRead += take;
        data += take;
        size -= size_t(take);
        if (!TS_Stream_Scan(&m_tSync, m_pu8Stream.get(), m_u64Size, &m_u64Position, false,
                            [&](const u8 *packet) { return Packet(packet, driver); }))
            return false;
    }
    return true;
}

template <class Driver> bool DemuxCore::Finish(Driver &driver)
{
    return TS_Stream_Scan(&m_tSync, m_pu8Stream.get(), m_u64Size, &m_u64Position, true,
                          [&](const u8 *packet) { return Packet(packet, driver); });
}

}  // namespace pidsift

#endif  // PIDSIFT_TRANSPORT_STREAM_DEMUX_DEMUX_CORE_H
