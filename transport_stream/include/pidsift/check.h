// C++ interface of pidsift's recording check: one pass over a recording that counts what a
// damaged or incomplete recording shows (lost sync, continuity breaks, transport errors,
// scrambling, failed CRC_32s, late tables, streams that do not come), times the recording by its
// PCRs, and reports every program of the last PAT with its streams and service, and every PID
// that came or that a table names. TS_CheckFile of <pidsift/ts.h> fills its fixed record from
// the same report.
//
//     pidsift::CheckReport report;
//     pidsift::RunSettings settings;
//     settings.check_event = [](const pidsift::CheckEvent &event) { ... };  // optional
//     if (pidsift::Check("recording.ts", settings, &report) == 0 && report.HasErrors()) ...
#ifndef PIDSIFT_TRANSPORT_STREAM_CHECK_H
#define PIDSIFT_TRANSPORT_STREAM_CHECK_H

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <pidsift/demux.h>
#include <pidsift/si_tables.h>
#include <pidsift/streams.h>
#include <pidsift/ts.h>

namespace pidsift {

// A check of TS_CHECK_SYNC_LOSS ... TS_CHECK_CRC: how often it failed, and where it failed
// first.
struct CheckFinding {
    u64 count = 0;
    // The packet at which the first was found: its index (0: the file's first packet; the packet
    // count: at the end of the file), the offset of its sync byte in the input (the bytes read,
    // at the end of the file), and the time on the check's clock then (see CheckEvent::time;
    // first_timed false: no PCR had come yet). All 0 while count is 0.
    u64 first_packet = 0;
    u64 first_byte_offset = 0;
    u64 first_time = 0;
    bool first_timed = false;
    // The first one's time on the broadcast's clock (see CheckReport::broadcast_time): the TDT or
    // TOT before it carried forward by the check's clock (the first one carried back when the
    // finding came before it). Seconds since 1970 on the broadcast's clock, as SiTime::seconds.
    bool first_broadcast_timed = false;
    std::int64_t first_broadcast_time = 0;

    bool operator==(const CheckFinding &) const = default;
};

// A PID of the recording: what came on it, and what it is for by the tables of the end of the
// run (the last PAT, its PMTs, the last CAT) or by its number.
struct CheckPid {
    u16 pid = 0;
    u64 packets = 0;
    u64 continuity_errors = 0;           // continuity_counter breaks on packets with payload
    u64 transport_errors = 0;            // packets with transport_error_indicator set
    u64 scrambled = 0;                   // packets with transport_scrambling_control other than 0
    u64 pcrs = 0;                        // packets carrying a PCR
    u64 crc_errors = 0;                  // complete sections whose CRC_32 failed
    u8 role = TS_ROLE_UNREFERENCED;      // TS_ROLE_...: of several, the first of that order
    u8 stream_type = 0;                  // for the video, audio and data roles
    StreamKind kind = StreamKind::Data;  // for those roles: what the stream's identity says
    u16 program = 0;                     // program_number, for the roles TS_ROLE_PMT to TS_ROLE_ECM
    u32 other_programs = 0;              // further programs of the PAT that give the PID a role

    bool operator==(const CheckPid &) const = default;
};

// What a PID is for, in a word or two: "PAT", "PMT", "video", "subtitles" (a stream by its
// kind), "ECM", "SDT/BAT" (a PID reserved for tables by its number), "null", "unreferenced".
const char *RoleName(const CheckPid &pid);
// The same with the programs that give it the role: "video of 1024", "PCR of 1025 and 2 more
// programs".
std::string RoleText(const CheckPid &pid);

struct CheckStream {
    u16 pid = 0;
    u8 stream_type = 0;
    StreamIdentity identity;  // codec, kind, languages and details, from the PMT's descriptors

    bool operator==(const CheckStream &) const = default;
};

// A program of the last PAT.
struct CheckProgram {
    u16 program_number = 0;
    u16 pmt_pid = 0;
    // A PMT of the program came (before the PAT too); else the program is absent from the
    // recording and the PMT's fields are empty.
    bool has_pmt = false;
    u16 pcr_pid = 0x1FFF;              // PCR_PID of the PMT (0x1FFF: the program has no PCR)
    u16 ecm_pid = TS_NO_PID;           // CA_PID of its first program-level conditional-access descriptor
    std::vector<CheckStream> streams;  // every stream of the PMT, in its order
    // Packets on its PMT, PCR, ECM and stream PIDs that were scrambled (each PID once; a packet
    // marked damaged is not read as scrambled).
    bool scrambled = false;
    u64 scrambled_packets = 0;
    // The service whose service_id is the program_number in the actual SDT of the report's
    // transport stream.
    bool has_service = false;
    Service service;
    // What was on air: the present and following events of the first complete present/following
    // pair of the service's EIT of the actual transport stream (table_id 0x4E, sections 0 and 1
    // of one version, CRC_32 checked), and those of the last pair when its events differ (another
    // event_id, start or duration). An event is absent when its section's event loop is empty.
    bool has_events = false;
    std::optional<EitEvent> present;
    std::optional<EitEvent> following;
    bool has_events_at_end = false;
    std::optional<EitEvent> present_at_end;
    std::optional<EitEvent> following_at_end;

    bool operator==(const CheckProgram &) const = default;
};

struct CheckReport {
    // The input.
    u64 bytes = 0;      // bytes read
    u32 unit_size = 0;  // 188, 192 or 204: the spacing of the last packets; 0 when none found
    u64 packets = 0;
    // Bytes in no packet: before the first, between two (the unit's timestamp prefix or parity
    // left aside) and after the last, trailing_bytes apart.
    u64 skipped_bytes = 0;
    // The start of a packet that the end of the recording cut short (its sync byte where the
    // next packet was due, fewer bytes than a unit after it): the recording ends inside a packet.
    u64 trailing_bytes = 0;
    u64 sync_losses = 0;  // times the spacing was lost

    // Duration and mean bitrate, from the PCRs of the first program of the last PAT whose PCR
    // PID carried at least two (without one, of the first PID that did).
    bool timed = false;
    u16 clock_pid = TS_NO_PID;
    u16 clock_program = 0;         // 0: the PID is no program's PCR_PID
    u64 duration = 0;              // 27 MHz ticks from its first to its last PCR, its jumps left out
    u64 bit_rate = 0;              // bits per second of the 188-byte packets between those two PCRs
    u64 clock_jumps = 0;           // PCR steps left out: backwards, over 1 s, or at a discontinuity
    bool intervals_timed = false;  // the interval checks had a clock: a PCR came

    // The tables of the end of the run.
    u16 transport_stream_id = 0;         // of the last PAT (0 without one)
    u16 network_pid = TS_NO_PID;         // network_PID of the last PAT
    u16 emm_pid = TS_NO_PID;             // CA_PID of the last CAT
    std::vector<CheckProgram> programs;  // every program of the last PAT, in its order
    // The names, decoded in text_family: the one the settings chose, or the one the recording
    // showed (TS_TEXT_DVB or TS_TEXT_ARIB).
    int text_family = TS_TEXT_DVB;
    bool has_sdt = false;           // an actual SDT section of the PAT's transport stream came
    std::vector<Service> services;  // of that SDT, in its order
    // The network name of the last actual NIT section that carried one, on PID 0x0010 or the
    // network_PID.
    bool has_network_name = false;
    u16 network_id = 0;
    std::vector<u8> network_name_bytes;
    std::string network_name;

    // The broadcast's clock: the times of the first and of the last TDT or TOT (PID 0x0014) whose
    // time is defined (a TOT whose CRC_32 checks), on the broadcast's clock (UTC for DVB, Japan
    // time for ISDB: text_family tells), and the local time offset of the last TOT that carried a
    // local time offset descriptor, its first entry, in force at the TOT's time.
    bool has_broadcast_time = false;
    SiTime broadcast_first;
    SiTime broadcast_last;
    bool has_local_time_offset = false;
    int local_time_offset_minutes = 0;
    u32 local_time_offset_country = 0;  // ISO 3166, three letters

    // Every PID that carried a packet or that a table names (a stream that never came shows),
    // in PID order.
    std::vector<CheckPid> pids;
    std::array<CheckFinding, TS_CHECK_COUNT> checks;
    // The PMT silences of programs whose PMT never came (absent from the recording: a recorder
    // kept some services of a multiplex whose PAT lists them all). TR 101 290 counts them as PMT
    // errors; checks[TS_CHECK_PMT] leaves them out, the strict reading adds them.
    CheckFinding absent_pmt;

    // Whether the recording has errors: no packet at all, a packet cut by its end, or a check
    // that counted something (strict: the absent programs' PMT silences too).
    bool HasErrors(bool strict = false) const;
    // A check's finding, the absent programs' PMT silences joined to TS_CHECK_PMT when strict.
    CheckFinding Finding(int which, bool strict = false) const;
    bool operator==(const CheckReport &) const = default;

    // The PID's entry; for a PID not listed, one without packets and with the role its number
    // gives it.
    CheckPid Pid(u16 pid) const;
};

// What the check meets, as it meets it, for a caller that draws the recording.
enum class CheckEventKind : u8 {
    Continuity = 1,  // a continuity break on pid
    Transport = 2,   // a packet of pid with transport_error_indicator set
    Scrambled = 3,   // a scrambled packet of pid after clear ones
    Clear = 4,       // a clear packet of pid after scrambled ones; at the end of the file during a
                     // scrambled stretch, the stretch's last scrambled packet
    Second = 5,      // the clock passed a whole second, or the file ended
    SyncLoss = 6,    // the packet spacing was lost before packet (pid TS_NO_PID)
};

struct CheckProgramPackets {
    u16 program_number = 0;
    u64 packets = 0;
};

struct CheckEvent {
    CheckEventKind kind = CheckEventKind::Second;
    u16 pid = TS_NO_PID;
    u64 packet = 0;  // index of the packet (the packet count at the end of the file)
    // 27 MHz ticks on the check's clock: the PCRs of the first PID that carried one, jumps left
    // out, taken over by another PCR PID when that one falls silent for a second. 0 before the
    // first PCR; it stands at the last PCR until the next.
    u64 time = 0;
    // Second: the programs of the PATs in force since the last such event, and their packets
    // since then (PMT, PCR, ECM and stream PIDs; a packet shared counts for each program). At
    // the end of the file, with a clock, those up to its last PCR: later ones have no time.
    std::vector<CheckProgramPackets> programs;
};

// Reads a recording once ("-": standard input) and fills report, with the settings' hooks,
// text family and event callback. Continuity: on each PID but 0x1FFF, a packet with payload
// must carry the counter after the last one with payload; one repetition of the last counter is
// allowed, packets without payload are not counted, a discontinuity_indicator starts afresh. A
// packet with transport_error_indicator set counts as a transport error only: its scrambling
// bits, counter and PCR are not read.
// CRC_32: the sections of PIDs 0x0000, 0x0001, 0x0010-0x0014, 0x001E, 0x001F, the network PID,
// the PMT PIDs, the ECM and EMM PIDs, packed back to back or cut across packets, each checked
// once when it has a CRC_32 (the PAT, CAT, PMT and TOT, and the long form). The tables and the
// names go through the CRC gate: a damaged section is not used once its PID has delivered a
// good one. 0; -1 for a null argument; -2 when the input cannot be opened; -5 on a read error
// (the report holds what was read before it).
int Check(const char *path, const RunSettings &settings, CheckReport *report);

}  // namespace pidsift

#endif  // PIDSIFT_TRANSPORT_STREAM_CHECK_H
