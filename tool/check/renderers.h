// pidsift-check's renderers of the library's report (<pidsift/check.h>): the text a person
// reads with its key of abbreviations (text.cpp), the JSON a script reads (json.cpp), and the SVG
// picture of the recording over time, drawn from the check's events (svg.cpp).
#ifndef PIDSIFT_TOOL_CHECK_RENDERERS_H
#define PIDSIFT_TOOL_CHECK_RENDERERS_H

#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <pidsift/check.h>

namespace check_tool {

// ---- Shared by the renderers (format.cpp) ---------------------------------------------------

std::string Format(const char *format, ...) __attribute__((format(printf, 1, 2)));
std::string Hex(u16 pid);
std::string Seconds(u64 ticks);
std::string ClockTime(u64 ticks);
std::string BitRate(u64 bits_per_second);

// How each check of CheckReport::checks is shown.
struct CheckInfo {
    const char *title;  // in the text
    const char *json;   // key of the JSON object
    const char *what;   // what is counted
    bool timed;         // needs the PCR for its intervals
};
extern const CheckInfo kChecks[TS_CHECK_COUNT];

// ---- A stream's identity (streams.cpp) -----------------------------------------------------------

// The cells of the programs table for a stream: codec ("unknown" without one), kind, languages
// ("fra, deu"; "-" without), and the details ("stereo, hearing impaired"; "-" without).
std::vector<std::string> StreamCells(const pidsift::StreamIdentity &identity);

// ---- Text (text.cpp) ----------------------------------------------------------------------------
// ---- A stream's identity (streams.cpp) -----------------------------------------------------------

// The cells of the programs table for a stream: codec ("unknown" without one), kind, languages
// ("fra, deu"; "-" without), and the details ("stereo, hearing impaired"; "-" without).
std::vector<std::string> StreamCells(const pidsift::StreamIdentity &identity);


// The abbreviations the reports use, for the key printed after them.
class Abbreviations {
public:
    // Notes each abbreviation that stands in text as a word of its own (a plural 's' allowed).
    void Note(const std::string &text);
    void Merge(const Abbreviations &other);
    bool Empty() const { return m_used.empty(); }
    bool Has(const char *abbreviation) const { return m_used.count(abbreviation) != 0; }

private:
    std::set<std::string> m_used;
};

// Prints the report of the file name on out, and notes its abbreviations. strict: the PMT
// silences of programs absent from the recording count as PMT errors.
void PrintText(const char *name, const pidsift::CheckReport &report, bool strict, Abbreviations *used,
               FILE *out = stdout);
// Prints the key of the abbreviations used.
void PrintKey(const Abbreviations &used);

// ---- JSON (json.cpp) ----------------------------------------------------------------------------

// The report of the file name as one JSON object on one line (without its newline).
std::string JsonLine(const char *name, const pidsift::CheckReport &report, bool strict);

// ---- One line per file (summary.cpp) ------------------------------------------------------------

// The file's line of the summary: duration (or "-"), verdict ("ok", "errors", "unreadable" when
// the file could not be read whole), programs of the last PAT, "scrambled" or "clear", the
// checks that counted something ("cc_error=3,pid_error=1", "-" for none), the name last.
// strict: as for the report.
std::string SummaryLine(const char *name, const pidsift::CheckReport &report, bool readable, bool strict);
// The same as one JSON object on one line (without its newline).
std::string SummaryJsonLine(const char *name, const pidsift::CheckReport &report, bool readable, bool strict);

// ---- The picture (svg.cpp) ---------------------------------------------------------------------

// What the check met over time, collected from its events.
struct Timeline {
    struct Mark {
        u16 pid;
        u64 packet;
        u64 time;
    };
    struct Stretch {
        u16 pid;
        u64 start_packet, start_time, end_packet, end_time;
    };
    struct Second {
        u64 time;
        std::vector<std::pair<u16, u64>> programs;
    };
    // Marks drawn of each kind at most; the count of the others is written under the picture.
    static constexpr size_t kMaxMarks = 50000;

    void Add(const pidsift::CheckEvent &event);

    std::vector<Mark> continuity, transport, sync_losses;
    u64 continuity_total = 0, transport_total = 0;
    std::vector<Stretch> scrambled;
    std::map<u16, size_t> open;  // PID -> its stretch in progress
    std::vector<Second> seconds;
};

// The SVG picture of the file name.
std::string Picture(const char *name, const pidsift::CheckReport &report, const Timeline &timeline);

}  // namespace check_tool

#endif  // PIDSIFT_TOOL_CHECK_RENDERERS_H
