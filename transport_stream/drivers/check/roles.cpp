// The check's roles: the demux's table of what each PID is for, with the program that gives a
// role, and the names of the roles.
#include "drivers/check/roles.h"

#include <algorithm>

#include "demux/demux_core.h"
#include "text/text.h"

namespace pidsift {

namespace {

// The roles a program gives, strongest first: a PID with several takes the first, for the
// first program in PAT order that gives it that one.
enum ProgramRole : u8 { kAsPMT, kAsStream, kAsPCR, kAsECM, kAsNone };

u8 StreamRole(StreamKind kind)
{
    return kind == StreamKind::Video ? TS_ROLE_VIDEO : kind == StreamKind::Audio ? TS_ROLE_AUDIO : TS_ROLE_DATA;
}

}  // namespace

bool IsWatchedStream(const PmtStream &stream)
{
    const StreamKind kind = IdentifyStream(stream).kind;
    return kind == StreamKind::Video || kind == StreamKind::Audio;
}

CheckRoles::CheckRoles(const DemuxCore &core) : m_tCore(core)
{
    // What each program gives, in the order of the PAT; then by PID.
    struct Gift {
        u16 u16PID;
        u8 u8Role;
        u8 u8StreamType;
        StreamKind kind;
        u32 u32Program;  // its index in the PAT
    };
    std::vector<Gift> gifts;
    const std::vector<ProgramTrack> &programs = core.Programs();
    for (u32 k = 0; k < programs.size(); ++k) {
        const ProgramTrack &track = programs[k];
        auto give = [&](u16 pid, u8 role, u8 stream_type, StreamKind kind) {
            pid &= 0x1FFF;
            if (pid != 0x0000 && pid != 0x1FFF)  // the PAT's and the null packets', whatever a table says
                gifts.push_back({pid, role, stream_type, kind, k});
        };
        give(track.u16PMTPID, kAsPMT, 0, StreamKind::Data);
        if (!track.pPMT)
            continue;
        const Pmt &pmt = *track.pPMT;
        for (const PmtStream &stream : pmt.streams)
            give(stream.elementary_pid, kAsStream, stream.stream_type, IdentifyStream(stream).kind);
        give(pmt.pcr_pid, kAsPCR, 0, StreamKind::Data);
        const u16 ecm_pid = pmt.EcmPid();
        if (ecm_pid != TS_NO_PID)
            give(ecm_pid, kAsECM, 0, StreamKind::Data);
    }
    // By PID, each PID's gifts in the order of the PAT: the first of the strongest role stands (of
    // two stream entries of one PID, the first one's stream_type).
    std::stable_sort(gifts.begin(), gifts.end(), [](const Gift &a, const Gift &b) { return a.u16PID < b.u16PID; });
    for (size_t i = 0; i < gifts.size();) {
        Given given = {gifts[i].u16PID, kAsNone, 0, StreamKind::Data, 0, 0};
        u32 last_program = 0xFFFFFFFF;
        for (; i < gifts.size() && gifts[i].u16PID == given.u16PID; ++i) {
            const Gift &gift = gifts[i];
            if (gift.u32Program != last_program) {
                last_program = gift.u32Program;
                ++given.u32Programs;
            }
            if (gift.u8Role < given.u8Role) {
                given.u8Role = gift.u8Role;
                given.u8StreamType = gift.u8StreamType;
                given.kind = gift.kind;
                given.u16Program = programs[gift.u32Program].u16ProgramNumber;
            }
        }
        m_lGiven.push_back(given);
    }
}

void CheckRoles::Fill(CheckPid *entry) const
{
    const u16 pid = entry->pid;
    entry->role = TS_ROLE_UNREFERENCED;
    entry->program = 0;
    entry->stream_type = 0;
    entry->kind = StreamKind::Data;
    entry->other_programs = 0;
    const u16 roles = m_tCore.Roles(pid);
    const auto found = std::lower_bound(m_lGiven.begin(), m_lGiven.end(), pid,
                                        [](const Given &given, u16 wanted) { return given.u16PID < wanted; });
    const bool given = found != m_lGiven.end() && found->u16PID == pid;
    if (roles & kRolePAT) {
        entry->role = TS_ROLE_PAT;
    } else if (roles & kRoleCAT) {
        entry->role = TS_ROLE_CAT;
    } else if (given) {
        entry->program = found->u16Program;
        entry->other_programs = found->u32Programs - 1;
        switch (found->u8Role) {
        case kAsPMT:
            entry->role = TS_ROLE_PMT;
            break;
        case kAsStream:
            entry->stream_type = found->u8StreamType;
            entry->kind = found->kind;
            entry->role = StreamRole(found->kind);
            break;
        case kAsPCR:
            entry->role = TS_ROLE_PCR;
            break;
        default:
            entry->role = TS_ROLE_ECM;
            break;
        }
    } else if (roles & kRoleEMM) {
        entry->role = TS_ROLE_EMM;
    } else if (roles & kRoleNIT) {
        entry->role = TS_ROLE_NIT;
    } else if (roles & kRoleSI) {
        entry->role = TS_ROLE_SI;
    } else if (roles & kRoleNull) {
        entry->role = TS_ROLE_NULL;
    }
}

const char *RoleName(const CheckPid &pid)
{
    // A stream by its kind, of which video and audio are roles of their own in TS_CheckPID.
    if (pid.role == TS_ROLE_VIDEO || pid.role == TS_ROLE_AUDIO || pid.role == TS_ROLE_DATA)
        return StreamKindName(pid.kind).data();
    switch (pid.role) {
    case TS_ROLE_PAT:
        return "PAT";
    case TS_ROLE_CAT:
        return "CAT";
    case TS_ROLE_PMT:
        return "PMT";
    case TS_ROLE_VIDEO:
        return "video";
    case TS_ROLE_AUDIO:
        return "audio";
    case TS_ROLE_DATA:
        return "data";
    case TS_ROLE_PCR:
        return "PCR";
    case TS_ROLE_ECM:
        return "ECM";
    case TS_ROLE_EMM:
        return "EMM";
    case TS_ROLE_NIT:
        return "NIT";
    case TS_ROLE_SI:
        return TS_Name_TablePID(pid.pid);
    case TS_ROLE_NULL:
        return "null";
    default:
        return "unreferenced";
    }
}

std::string RoleText(const CheckPid &pid)
{
    std::string text = RoleName(pid);
    if (pid.role < TS_ROLE_PMT || pid.role > TS_ROLE_ECM)
        return text;
    text += " of " + std::to_string(pid.program);
    if (pid.other_programs == 1)
        text += " and 1 more program";
    else if (pid.other_programs > 1)
        text += " and " + std::to_string(pid.other_programs) + " more programs";
    return text;
}

}  // namespace pidsift
