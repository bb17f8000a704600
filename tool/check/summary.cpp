// pidsift-check's summary: one line per file, for an archive checked at once.
#include <cmath>

#include <nlohmann/json.hpp>

#include "renderers.h"

namespace check_tool {

namespace {

bool AnyScrambled(const pidsift::CheckReport &report)
{
    for (const pidsift::CheckProgram &program : report.programs)
        if (program.scrambled)
            return true;
    return false;
}

}  // namespace

std::string SummaryLine(const char *name, const pidsift::CheckReport &report, bool readable)
{
    std::string failed;
    for (int i = 0; i < TS_CHECK_COUNT; ++i)
        if (report.checks[size_t(i)].count != 0)
            failed += Format("%s%s=%llu", failed.empty() ? "" : ",", kChecks[i].json,
                             (unsigned long long)report.checks[size_t(i)].count);
    const char *verdict = !readable ? "unreadable" : report.HasErrors() ? "errors" : "ok";
    const size_t services = report.programs.size();
    return Format("%-12s  %-10s  %4zu service%s  %-9s  %s  %s", report.timed ? ClockTime(report.duration).c_str() : "-",
                  verdict, services, services == 1 ? " " : "s", AnyScrambled(report) ? "scrambled" : "clear",
                  failed.empty() ? "-" : failed.c_str(), name);
}

std::string SummaryJsonLine(const char *name, const pidsift::CheckReport &report, bool readable)
{
    using Json = nlohmann::ordered_json;
    Json failed = Json::object();
    for (int i = 0; i < TS_CHECK_COUNT; ++i)
        if (report.checks[size_t(i)].count != 0)
            failed[kChecks[i].json] = report.checks[size_t(i)].count;
    const Json json = {
        {"file", name},
        {"duration_s", report.timed ? Json(std::round(double(report.duration) / 27.0) / 1e6) : Json(nullptr)},
        {"services", report.programs.size()},
        {"verdict", !readable            ? "unreadable"
                    : report.HasErrors() ? "errors"
                                         : "ok"},
        {"failed", failed},
        {"scrambled", AnyScrambled(report)},
    };
    return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace check_tool
