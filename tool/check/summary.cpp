// pidsift-check's summary: one line per file, for an archive checked at once.
#include <cmath>

#include "renderers.h"
#include "text/json.h"

namespace check_tool {

namespace {

bool AnyScrambled(const pidsift::CheckReport &report)
{
    for (const pidsift::CheckProgram &program : report.programs)
        if (program.scrambled)
            return true;
    return false;
}

// The checks that counted something, as "cc_error=3,pid_error=1".
std::string FailedChecks(const pidsift::CheckReport &report, bool strict)
{
    std::string failed;
    for (int i = 0; i < TS_CHECK_COUNT; ++i) {
        const u64 count = report.Finding(i, strict).count;
        if (count != 0)
            failed += Format("%s%s=%llu", failed.empty() ? "" : ",", kChecks[i].json, (unsigned long long)count);
    }
    return failed;
}

const char *Verdict(const pidsift::CheckReport &report, bool readable, bool strict)
{
    return !readable ? "unreadable" : report.HasErrors(strict) ? "errors" : "ok";
}

}  // namespace

std::string SummaryLine(const char *name, const pidsift::CheckReport &report, bool readable, bool strict)
{
    const std::string failed = FailedChecks(report, strict);
    const size_t services = report.programs.size();
    return Format("%-12s  %-10s  %4zu service%s  %-9s  %s  %s", report.timed ? ClockTime(report.duration).c_str() : "-",
                  Verdict(report, readable, strict), services, services == 1 ? " " : "s",
                  AnyScrambled(report) ? "scrambled" : "clear", failed.empty() ? "-" : failed.c_str(), name);
}

std::string SummaryJsonLine(const char *name, const pidsift::CheckReport &report, bool readable, bool strict)
{
    std::string line;
    TS_Sink out(&line);
    TS_Json json;
    TS_Json_Start(&json, &out, TS_JSON_TEXT);
    TS_Json_ObjectBegin(&json);
    TS_Json_StringField(&json, "file", name);
    if (report.timed)
        TS_Json_DoubleField(&json, "duration_s", std::round(double(report.duration) / 27.0) / 1e6);
    else
        TS_Json_NullField(&json, "duration_s");
    TS_Json_NumberField(&json, "services", report.programs.size());
    TS_Json_StringField(&json, "verdict", Verdict(report, readable, strict));
    TS_Json_Key(&json, "failed");
    TS_Json_ObjectBegin(&json);
    for (int i = 0; i < TS_CHECK_COUNT; ++i) {
        const u64 count = report.Finding(i, strict).count;
        if (count != 0)
            TS_Json_NumberField(&json, kChecks[i].json, count);
    }
    TS_Json_ObjectEnd(&json);
    TS_Json_BoolField(&json, "scrambled", AnyScrambled(report));
    TS_Json_ObjectEnd(&json);
    out.Flush();
    return line;
}

}  // namespace check_tool
