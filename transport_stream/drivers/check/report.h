// The check's report: made at the end of the run from its counters, its clock and the demux's
// tables of the end, and copied into the fixed record of <pidsift/ts.h> for TS_CheckFile.
#ifndef PIDSIFT_TRANSPORT_STREAM_DRIVERS_CHECK_REPORT_H
#define PIDSIFT_TRANSPORT_STREAM_DRIVERS_CHECK_REPORT_H

#include <pidsift/check.h>

namespace pidsift {

class CheckRun;
class DemuxCore;

// The two findings of one check as one: both counts, the earlier first place.
CheckFinding CheckFinding_Join(const CheckFinding &finding, const CheckFinding &more);

void CheckReport_Build(const DemuxCore &core, const CheckRun &run, CheckReport *report);

// The fixed record, filled up to its capacities: the first TS_MAX_PROGRAMS programs, the first
// TS_MAX_STREAMS streams of each, every PID (those not listed with the role of their number).
void CheckReport_Fill(const CheckReport &report, const DemuxCore &core, TS_CheckReport *fixed);

// The fixed record of a run that could not start: nothing read, no PID, no clock.
void CheckReport_Clear(TS_CheckReport *fixed);

}  // namespace pidsift

#endif  // PIDSIFT_TRANSPORT_STREAM_DRIVERS_CHECK_REPORT_H
