// The demux that owns one run: the packets of a recording (read from a file or pushed by the
// caller), a route for every PID, one section collector per PID whose sections someone wants,
// the tables in force, and the drivers' subscriptions.
//
// A packet's way: its PID indexes the route table (8,192 entries of a few bytes). A PID no one
// asked for ends there. A PID with sections goes to its collector, whose complete sections pass
// the CRC gate and update the tables in force (PAT, CAT, PMTs, SDT, NIT) and the routes; the
// packet then goes to the driver: to OnTapped for the PIDs it taps, and to OnProgramPacket once
// for each program it follows that the packet belongs to (a PCR, ECM or stream PID of the PMT in
// force, or a packet that carried bytes of the program's PMT sections). Each program gets its
// packets in input order: while a PMT section whose header the packet end cut waits for the next
// packet to tell which of the programs sharing its PID owns it, those programs' packets wait
// behind it.
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
#include "io/mapped_input.h"

namespace pidsift {

// Room behind a read for the carried tail (at most a hunt's look-ahead of 33 units of 204
// bytes) and the page alignment of the read.
constexpr u64 kCarryCapacity = 64 * 1024;

// How a packet belongs to a program, in OnProgramPacket's flags.
constexpr u8 kProgramMember = 0x01;      // its PID is the PCR, ECM or a stream PID of the PMT in force
constexpr u8 kProgramPmtSection = 0x02;  // it carried bytes of a PMT section of the program
constexpr u8 kProgramPmtEnd = 0x04;      // a PMT section of the program ended in it (used or not)
constexpr u8 kProgramPmtCarried = 0x08;  // it went on with the program's PMT section in progress before it
constexpr u8 kProgramPmtOpen = 0x10;     // a PMT section of the program is in progress after it

// Packets that may wait behind a PMT section whose owner is not known yet (its own packets and
// the programs' packets that came after them); one more gives the section up.
constexpr u32 kWaitCapacity = 128;

using PacketBytes = std::array<u8, TS_PACKET_SIZE>;

// A driver that wants no packets: the listing, and callers that read tables only. A driver
// defines the same two members; returning false ends the run. A driver may also define
// OnTappedAfterTables(const u8 *packet, u16 pid): each packet it taps comes to it a second time,
// once the packet's sections have passed into the tables in force and the roles are rebuilt (the
// dump prints a packet's clock reference under the roles its own PMT gives).
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
    void KeepPMTs();  // the PMT of every program, not only of those followed
    void KeepCAT();   // the CAT of PID 0x0001 (and with it the EMM PID)
    // The actual SDT's services, the actual NIT's name, and the text family, which the SDTs and
    // NITs of this stream and of others vote on (the PMTs and the section starts of 0x0023,
    // 0x0024, 0x0028 and 0x0029 too).
    void KeepServices(int family);
    // Every section of pid to the section listeners; collect false stops that. Called from a
    // listener, the change takes effect once the packet in hand has been taken in.
    void CollectSections(u16 pid, bool collect = true);
    // The same for several PIDs, with one rebuild of the routes.
    void CollectSections(const std::vector<u16> &pids, bool collect = true);
    void Tap(u16 pid);              // the driver's OnTapped for pid
    void TapAll();                  // and for every PID
    // No more OnTapped for pid for its own sake (after Tap or TapAll); taps by role still apply.
    // The route changes at once, with no rebuild: cheap enough to call once for every PID.
    void Untap(u16 pid);
    // Taps, and collects the sections for the section listeners of, every PID whose role (kRole*,
    // as the tables in force give it) meets roles; the PIDs follow the tables as they change.
    void TapRoles(u16 roles);
    void CollectRoles(u16 roles);
    // Taps, and collects the sections for the section listeners of, PIDs the driver picks by
    // tables of its own (the dump keeps the last PMT of each position of the PAT); each call
    // replaces the PIDs of the call before, and Untap leaves them tapped. Called from a table
    // listener, the routes change once the packet's section step is over.
    void TapOwn(std::vector<u16> tapped, std::vector<u16> collected);
    void FollowAllPrograms();  // OnProgramPacket for every program of every PAT
    // Follows one program of the PAT in force (by its index in Programs()); a PAT that changes
    // the program list forgets the choice unless every program is followed. Called from a table
    // listener or between runs, never from the driver's packet calls.
    void Follow(u32 program, bool follow = true);
    // Ends the run after the packet in hand (from a table listener).
    void Stop() { m_bStopped = true; }
    // Tells the failures of reading and the progress through settings (kept by the caller for
    // the run); without, through the process-wide hooks.
    void UseSettings(const RunSettings *settings) { m_tReporter.pSettings = settings; }

    // ---- Listeners of the tables: called as the sections complete, before the packet that
    // completed them reaches the driver. The packet is that one.
    std::vector<std::function<void(const Pat &, const u8 *packet, bool changed)>> lOnPAT;
    std::vector<std::function<void(u32 program, const Pmt &, bool changed)>> lOnPMT;
    std::vector<std::function<void(const Cat &)>> lOnCAT;
    std::vector<std::function<void(const Section &)>> lOnSection;  // PIDs of CollectSections
    // The same sections once the tables in force took them in (a table changed, the text family
    // voted), before the routes and roles are rebuilt; packet: the one that completed them.
    std::vector<std::function<void(const Section &, const u8 *packet)>> lOnSectionTaken;

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
    template <class Driver> [[gnu::always_inline]] bool Packet(const u8 *packet, Driver &driver);

    // ---- What is in force ---------------------------------------------------------------------
    const Pat *PAT() const { return m_pPAT.get(); }
    const Cat *CAT() const { return m_pCAT.get(); }
    const std::vector<ProgramTrack> &Programs() const { return m_lPrograms; }
    u16 EMMPID() const { return m_pCAT ? m_pCAT->EmmPid() : TS_NO_PID; }
    u16 Roles(u16 pid) const { return m_lu16Role[pid & 0x1FFF]; }
    // The services of the actual SDT of the PAT's transport stream, when kept; null without.
    const TS_SDTServices *Services() const;
    bool HasNetworkName() const { return m_bNetworkName; }
    const std::vector<u8> &NetworkName() const { return m_lu8NetworkName; }
    u16 NetworkID() const { return m_u16NetworkID; }  // of the NIT that named the network
    std::string NetworkNameText() const;              // in UTF-8, empty without a name
    // Every service of the actual SDT of the PAT's transport stream, gathered over its sections
    // (by section_number, each in loop order), names as bytes and in UTF-8; empty without.
    std::vector<Service> ServiceList() const;
    int TextFamily() const { return TS_FamilyVote_Family(&m_tFamily); }
    const TS_Sync &Sync() const { return m_tSync; }
    // The size of the windows a regular file is mapped in (TS_MAP_WINDOW); the tests make it
    // small, so that windows end inside packets and hunts.
    void SetMapWindow(u64 bytes) { m_u64MapWindow = bytes; }
    // Once the input has ended: the bytes at its end that no packet took and no hunt passed
    // over, from the end of the last packet (a packet cut short, or stray bytes shorter than a
    // unit), or from a sync byte the hunt found too near the end to hold a packet.
    const u8 *Rest(u64 *count) const
    {
        *count = m_u64Size - m_u64Position;
        return m_pu8Bytes + m_u64Position;
    }
    // Inside a table or section listener: the packet whose section step calls it.
    const u8 *SectionPacket() const { return m_pu8SectionPacket; }
    // Where the packet in hand (read or pushed, as the driver was handed it) starts in the
    // input: the offset of its sync byte.
    u64 Offset(const u8 *packet) const { return m_tSync.u64BytesRead - m_u64Size + u64(packet - m_pu8Bytes); }

private:
    // Route bits of a PID.
    static constexpr u8 kRouteSections = 0x01;  // its packets go to its section slot first
    static constexpr u8 kRouteTap = 0x02;       // the driver taps it
    static constexpr u8 kRouteMember = 0x04;    // a member of one followed program: u16Program
    static constexpr u8 kRouteMembers = 0x08;   // a member of several: m_lMembers[pid]
    static constexpr u8 kRouteWait = 0x10;      // a member PID while programs wait: the slow path
    // Every PID until the first PAT: a PMT sent before it is kept (NoteEarlyPMT). A bit of the
    // route, so that the packets after the PAT pay nothing for it.
    static constexpr u8 kRouteEarly = 0x20;
    static constexpr u16 kNoWait = 0xFFFF;

    struct Delivery {
        u32 u32Program;
        const u8 *pu8Packet;
        u8 u8Flags;
        bool bReleased;  // an earlier packet that waited: it goes out whatever waits now
    };

    // A program's packet waiting behind a PMT section whose owner is not known yet, or (with
    // kAwaitOwner) a packet of that section, which goes to the program if the section is its.
    static constexpr u8 kAwaitOwner = 0x80;
    struct Waiting {
        u32 u32Packet;  // index in the packets of its queue
        u32 u32Program;
        u8 u8Flags;
    };
    // Packets and their deliveries in input order, as a wait leaves them.
    struct WaitQueue {
        std::vector<PacketBytes> lPackets;
        std::vector<Waiting> lWaiting;
        void Clear()
        {
            lPackets.clear();
            lWaiting.clear();
        }
    };

    // The driver of the run in hand, for the deliveries that a wait ends with inside the section
    // step (a PAT gives every wait up before its listeners hear of it).
    struct DriverSink {
        void *pDriver = nullptr;
        bool (*pfnDeliver)(void *driver, u32 program, const u8 *packet, u8 flags) = nullptr;
    };
    template <class Driver> static bool DeliverTo(void *driver, u32 program, const u8 *packet, u8 flags)
    {
        return static_cast<Driver *>(driver)->OnProgramPacket(program, packet, flags);
    }

    struct Slot;

    template <class Driver> bool Deliver(const u8 *packet, u16 pid, Driver &driver);
    template <class Driver> bool DeliverGivenUp(Driver &driver);
    template <class Driver> bool EndRun(Driver &driver);
    template <class Driver> auto PacketVisitor(Driver &driver)
    {
        return [this, &driver](const u8 *packet) {
            if (Packet(packet, driver))
                return true;
            m_bEnded = true;
            return false;
        };
    }

    void TakeSectionPacket(u16 pid, const u8 *packet);
    void TakeMemberPacket(u16 pid, const u8 *packet);
    void AddPacketDeliveries(u16 pid, const u8 *packet);
    void OnSection(Slot &slot, const Section &section, bool carried, const u8 *packet);
    void OnPATSection(const Section &section, const u8 *packet);
    void OnCATSection(const Section &section);
    void OnPMTSection(Slot &slot, const Section &section, bool carried, bool usable);
    void NoteEarlyPMT(const u8 *packet, u16 pid);
    void ApplyEarlyPMTs();
    void TakePMT(u32 program, const Section &section);
    bool FamilyOpen() const;
    void OnSDTSection(const Section &section);
    void OnNITSection(const Section &section);
    void TrackPMTCarriers(Slot &slot, const FeedOutcome &outcome, bool in_progress_before);
    void AddOwner(u32 program, u8 flags);
    u16 SlotIndex(u16 pid);
    void Rebuild();
    template <class Role> void ForEachRole(u16 network_pid, Role &&role) const;

    // Waits behind PMT sections whose owner is not known yet.
    void HoldPacket(Slot &slot, u16 pid, const u8 *packet);
    bool Wait(u32 program, const u8 *packet, u8 flags);
    void EndWait(Slot &slot, bool owner_known, u16 program_number, WaitQueue *out);
    void GiveUp(Slot &slot, WaitQueue *out);
    void GiveUpEveryWait(WaitQueue *out);
    void FlushThroughSink();
    void MarkWaitRoutes();

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
    std::vector<u16> m_lu16Untapped;  // PIDs TapAll no longer taps
    std::vector<u16> m_lu16Collected;
    u16 m_u16TapRoles = 0;
    u16 m_u16CollectRoles = 0;
    std::vector<u16> m_lu16OwnTapped;  // TapOwn
    std::vector<u16> m_lu16OwnCollected;

    // PMT sections sent before the first PAT (a capture may start just after a PAT): the last one
    // whole in a packet, with a good CRC_32, of each PID, kept with its packet until a PAT names
    // the PID as the PMT PID of the section's program.
    struct EarlyPMT {
        u16 u16PID;
        PacketBytes lu8Packet;
        u8 u8Start;  // where the section starts in the packet
        u8 u8Length;
    };
    static constexpr size_t kMaxEarlyPMTs = 64;
    std::vector<EarlyPMT> m_lEarlyPMTs;

    std::unique_ptr<Pat> m_pPAT;
    std::unique_ptr<Cat> m_pCAT;
    std::vector<ProgramTrack> m_lPrograms;
    struct ServiceTables;
    std::unique_ptr<ServiceTables> m_pServices;
    bool m_bNetworkName = false;
    u16 m_u16NetworkID = 0;
    std::vector<u8> m_lu8NetworkName;
    TS_FamilyVote m_tFamily = {TS_TEXT_AUTO, 0};

    // The packet in hand's deliveries to followed programs, and the waiting packets released to
    // them before it.
    std::vector<Delivery> m_lDeliveries;
    WaitQueue m_tReleased;          // by the packet in hand's section step
    WaitQueue m_tGivenUp;           // by a wait given up, delivered at once
    std::vector<u32> m_lu32Owners;  // programs whose PMT sections the packet in hand carried
    std::vector<u8> m_lu8OwnerFlags;
    // The slot each program of the PAT waits on, kNoWait when it does not.
    std::vector<u16> m_lu16WaitSlot;
    u32 m_u32WaitingSlots = 0;
    u64 m_u64Serial = 0;  // packets through the slow path, to tell them apart in a wait
    DriverSink m_tSink;
    bool m_bRebuild = false;
    bool m_bInSectionStep = false;
    bool m_bStopped = false;
    bool m_bEnded = false;  // the driver ended the run
    const u8 *m_pu8SectionPacket = nullptr;

    TS_Reporter m_tReporter;
    TS_Sync m_tSync = {};
    std::unique_ptr<u8[]> m_pu8Stream;  // read and pushed bytes, the carried tail first
    // The bytes in hand: the stream buffer, or the mapped window of the input being scanned.
    // m_u64Size and m_u64Position count from here.
    const u8 *m_pu8Bytes = nullptr;
    u64 m_u64MapWindow = TS_MAP_WINDOW;
    u64 m_u64Size = 0;
    u64 m_u64Position = 0;
};

// ---------------------------------------------------------------------------------------------

template <class Driver> inline bool DemuxCore::Packet(const u8 *packet, Driver &driver)
{
    const u16 pid = TS_Read13(packet + 1);
    u8 route = m_lu8Route[pid];
    if (route == 0)
        return true;
    // A driver that taps every PID (the check, the dump of every packet) sees most of them here.
    if (route == kRouteTap) {
        if constexpr (requires { driver.OnTappedAfterTables(packet, pid); })
            return driver.OnTapped(packet, pid) && driver.OnTappedAfterTables(packet, pid);
        else
            return driver.OnTapped(packet, pid);
    }
    if (route & kRouteEarly) [[unlikely]] {
        NoteEarlyPMT(packet, pid);
        route = u8(route & ~kRouteEarly);
        if (route == 0)
            return true;
    }
    if (route & (kRouteSections | kRouteWait))
        return Deliver(packet, pid, driver);
    if (route & kRouteTap) {
        if (!driver.OnTapped(packet, pid))
            return false;
        if constexpr (requires { driver.OnTappedAfterTables(packet, pid); })
            if (!driver.OnTappedAfterTables(packet, pid))
                return false;
    }
    if (route & kRouteMember)
        return driver.OnProgramPacket(m_lu16RouteProgram[pid], packet, kProgramMember);
    if (route & kRouteMembers) {
        for (u32 program : m_llMembers[pid])
            if (!driver.OnProgramPacket(program, packet, kProgramMember))
                return false;
    }
    return true;
}

// A packet of a PID with sections, or of a member PID while programs wait: the tap sees it before
// the tables change, the programs after (with the roles the tables give after it). A program that
// waits behind a PMT section gets its packets later, in input order.
template <class Driver> bool DemuxCore::Deliver(const u8 *packet, u16 pid, Driver &driver)
{
    const u8 route = m_lu8Route[pid];
    const bool tapped = (route & kRouteTap) != 0;
    if (tapped && !driver.OnTapped(packet, pid))
        return false;
    m_tSink = {&driver, &DeliverTo<Driver>};
    ++m_u64Serial;
    if (route & kRouteSections)
        TakeSectionPacket(pid, packet);
    else
        TakeMemberPacket(pid, packet);
    if constexpr (requires { driver.OnTappedAfterTables(packet, pid); })
        if (tapped && !driver.OnTappedAfterTables(packet, pid))
            return false;
    for (const Delivery &delivery : m_lDeliveries) {
        if (!delivery.bReleased && m_u32WaitingSlots != 0 && m_lu16WaitSlot[delivery.u32Program] != kNoWait) {
            if (Wait(delivery.u32Program, packet, delivery.u8Flags))
                continue;
            // The wait is full: its section is given up, and what waited goes out before this.
            if (!DeliverGivenUp(driver))
                return false;
        }
        if (!driver.OnProgramPacket(delivery.u32Program, delivery.pu8Packet, delivery.u8Flags))
            return false;
    }
    return !m_bStopped;
}

// The packets that a wait given up left, in input order.
template <class Driver> bool DemuxCore::DeliverGivenUp(Driver &driver)
{
    bool go_on = true;
    for (const Waiting &waiting : m_tGivenUp.lWaiting)
        if (go_on)
            go_on = driver.OnProgramPacket(waiting.u32Program, m_tGivenUp.lPackets[waiting.u32Packet].data(),
                                           waiting.u8Flags);
    m_tGivenUp.Clear();
    return go_on;
}

// The recording has ended: what waits for a section's owner goes out, the section given up.
template <class Driver> bool DemuxCore::EndRun(Driver &driver)
{
    if (m_u32WaitingSlots == 0 || m_bEnded || m_bStopped)
        return true;
    GiveUpEveryWait(&m_tGivenUp);
    return DeliverGivenUp(driver);
}

template <class Driver> int DemuxCore::RunDescriptor(int fd, const char *path, Driver &driver)
{
    const int result = TS_Stream_RunInput(&m_tSync, fd, path, m_pu8Stream.get(), &m_pu8Bytes, &m_u64Size,
                                          &m_u64Position, PacketVisitor(driver), TS_READ_BLOCK + kCarryCapacity,
                                          m_tReporter, m_u64MapWindow);
    EndRun(driver);
    return result;
}

template <class Driver> int DemuxCore::Run(const char *path, Driver &driver)
{
    const bool standard_input = path[0] == '-' && path[1] == '\0';
    const int fd = standard_input ? 0 : TS_Input_Open(path, m_tReporter);
    if (fd < 0)
        return -2;
    const int result = RunDescriptor(fd, path, driver);
    if (!standard_input)
        TS_Input_Close(fd);
    return result;
}

template <class Driver> bool DemuxCore::Feed(const u8 *data, size_t size, Driver &driver)
{
    m_pu8Bytes = m_pu8Stream.get();
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
        if (!TS_Stream_Scan(&m_tSync, m_pu8Stream.get(), m_u64Size, &m_u64Position, false, PacketVisitor(driver)))
            return false;
    }
    return true;
}

template <class Driver> bool DemuxCore::Finish(Driver &driver)
{
    m_pu8Bytes = m_pu8Stream.get();
    return TS_Stream_Scan(&m_tSync, m_pu8Stream.get(), m_u64Size, &m_u64Position, true, PacketVisitor(driver)) &&
           EndRun(driver);
}

}  // namespace pidsift

#endif  // PIDSIFT_TRANSPORT_STREAM_DEMUX_DEMUX_CORE_H
