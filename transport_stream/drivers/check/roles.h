// What each PID is for in the check's report: the roles that the demux's one table gives
// (DemuxCore::Roles), told apart by program, and the stream_type classes that make a stream
// video or audio.
#ifndef PIDSIFT_TRANSPORT_STREAM_DRIVERS_CHECK_ROLES_H
#define PIDSIFT_TRANSPORT_STREAM_DRIVERS_CHECK_ROLES_H

#include <vector>

#include <pidsift/check.h>

namespace pidsift {

class DemuxCore;

// The stream_types of ISO/IEC 13818-1 table 2-34 (and the ATSC audio of 0x81 and 0x87) that
// carry video or audio: the streams whose silence the check watches.
bool IsVideoStreamType(u8 stream_type);
bool IsAudioStreamType(u8 stream_type);

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
