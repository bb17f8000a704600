// What each PID is for in the check's report: the roles that the demux's one table gives
// (DemuxCore::Roles), told apart by program, and the kind of each stream by its identity.
#ifndef PIDSIFT_TRANSPORT_STREAM_DRIVERS_CHECK_ROLES_H
#define PIDSIFT_TRANSPORT_STREAM_DRIVERS_CHECK_ROLES_H

#include <vector>

#include <pidsift/check.h>

namespace pidsift {

class DemuxCore;

// The video and audio streams, by their identity: those whose silence the check watches.
bool IsWatchedStream(const PmtStream &stream);

// The roles the programs of the PAT in force give their PIDs, gathered once at the end of the
// run, for the PIDs of the report.
class CheckRoles {
public:
    explicit CheckRoles(const DemuxCore &core);
    // Sets the role, program, stream_type and other_programs of pid.pid.
    void Fill(CheckPid *pid) const;

private:
    struct Given {
        u16 u16PID;
        u8 u8Role;  // the strongest a program gives it
        u8 u8StreamType;
        StreamKind kind;
        u16 u16Program;   // the first program that gives it that role
        u32 u32Programs;  // programs that give it any role
    };

    const DemuxCore &m_tCore;
    std::vector<Given> m_lGiven;  // by PID
};

// A PID that a table names is listed even without a packet: a stream that never came shows.
inline bool CheckRoles_Listed(const CheckPid &pid)
{
    return pid.packets != 0 || (pid.role >= TS_ROLE_PMT && pid.role <= TS_ROLE_NIT);
}

}  // namespace pidsift

#endif  // PIDSIFT_TRANSPORT_STREAM_DRIVERS_CHECK_ROLES_H
