// pidsift-check's picture: the recording over time as SVG, from the check's events. Each
// program of the last PAT whose PMT came is a band, named by its service, with its bitrate per
// second on its own scale and a row for each of its PIDs; the programs absent from the recording
// share one line. Continuity breaks, transport errors and scrambled stretches are marks on their
// PIDs' rows, sync losses on the time axis.
#include <algorithm>
#include <set>

#include "renderers.h"

namespace check_tool {

void Timeline::Add(const pidsift::CheckEvent &event)
{
    const Mark mark = {event.pid, event.packet, event.time};
    switch (event.kind) {
    case pidsift::CheckEventKind::Continuity:
        if (continuity_total++ < kMaxMarks)
            continuity.push_back(mark);
        break;
    case pidsift::CheckEventKind::Transport:
        if (transport_total++ < kMaxMarks)
            transport.push_back(mark);
        break;
    case pidsift::CheckEventKind::Scrambled:
        if (scrambled.size() < kMaxMarks) {
            open[event.pid] = scrambled.size();
            scrambled.push_back({event.pid, event.packet, event.time, event.packet, event.time});
        }
        break;
    case pidsift::CheckEventKind::Clear: {
        const auto found = open.find(event.pid);
        if (found != open.end()) {
            scrambled[found->second].end_packet = event.packet;
            scrambled[found->second].end_time = event.time;
            open.erase(found);
        }
        break;
    }
    case pidsift::CheckEventKind::SyncLoss:
        if (sync_losses.size() < kMaxMarks)
            sync_losses.push_back(mark);
        break;
    case pidsift::CheckEventKind::Second: {
        Second second = {event.time, {}};
        for (const pidsift::CheckProgramPackets &program : event.programs)
            second.programs.emplace_back(program.program_number, program.packets);
        seconds.push_back(std::move(second));
        break;
    }
    }
}

namespace {

// Text for XML: the five special characters escaped, bytes that are not UTF-8 replaced.
std::string XmlText(const std::string &text)
{
    std::string out;
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = (unsigned char)text[i];
        size_t length = c < 0x80 ? 1 : (c >> 5) == 0x06 ? 2 : (c >> 4) == 0x0E ? 3 : (c >> 3) == 0x1E ? 4 : 0;
        bool valid = length != 0 && i + length <= text.size();
        for (size_t k = 1; valid && k < length; ++k)
            valid = ((unsigned char)text[i + k] >> 6) == 0x02;
        if (!valid || (c < 0x20 && c != '\t')) {
            out += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&apos;";
            break;
        default:
            out.append(text, i, length);
        }
        i += length;
    }
    return out;
}

// A row of the picture: a program's band or one PID's row.
struct Row {
    u16 pid;
    std::string label;
    double top;
};

class Painter {
public:
    Painter(const char *name, const pidsift::CheckReport &report, const Timeline &timeline)
        : m_name(name), m_report(report), m_timeline(timeline)
    {
        // Time across from the PCR; without one, packets across.
        m_timed = report.intervals_timed && !timeline.seconds.empty() && timeline.seconds.back().time > 0;
        m_span = m_timed ? double(timeline.seconds.back().time) : double(std::max<u64>(report.packets, 1));
    }

    std::string Draw()
    {
        Layout();
        IndexRows();
        DrawMarks();
        std::string svg;
        svg += Format("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" viewBox=\"0 0 %d %d\" "
                      "font-family=\"sans-serif\" font-size=\"12\">\n",
                      kWidth, int(m_height), kWidth, int(m_height));
        svg += "<style>\n"
               "  .cc-error { stroke: #d62728; stroke-width: 2; }\n"
               "  .sync-loss { stroke: #ff7f0e; stroke-width: 3; }\n"
               "  .scale { fill: #3182bd; font-size: 10px; }\n"
               "  .transport-error { fill: #7b2cbf; }\n"
               "  .scrambled { fill: #8c8c8c; fill-opacity: 0.55; }\n"
               "  .bitrate { fill: #9ecae1; stroke: #3182bd; stroke-width: 1; }\n"
               "  .row { fill: #f4f4f4; }\n"
               "  .axis { stroke: #999; stroke-width: 1; }\n"
               "  .label { fill: #222; }\n"
               "  .note { fill: #555; font-size: 11px; }\n"
               "</style>\n";
        svg += "<rect width=\"100%\" height=\"100%\" fill=\"#fff\"/>\n";
        svg += Format("<text x=\"10\" y=\"22\" font-size=\"16\" class=\"label\">%s</text>\n", XmlText(m_name).c_str());
        svg += Format("<text x=\"10\" y=\"40\" class=\"note\">%s</text>\n", XmlText(Summary()).c_str());
        svg += Legend();
        svg += Axis();
        for (const Band &band : m_bands)
            svg += DrawBand(band);
        svg += AbsentPrograms();
        if (!m_others.empty()) {
            svg += Format("<g class=\"other-pids\">\n<text x=\"10\" y=\"%.1f\" class=\"label\" font-weight=\"bold\">"
                          "PIDs of no program</text>\n",
                          m_others.front().top - 6);
            for (const Row &row : m_others)
                svg += DrawRow(row);
            svg += "</g>\n";
        }
        svg += Footnote();
        svg += "</svg>\n";
        return svg;
    }

private:
    static constexpr int kWidth = 1200;
    static constexpr double kLeft = 190;  // where the plot starts: labels to its left
    static constexpr double kRight = 1180;
    static constexpr double kBandHeight = 56;
    static constexpr double kRowHeight = 14;
    static constexpr size_t kMaxOtherRows = 200;

    struct Band {
        u16 program;
        std::string name;  // of its service, empty when the SDT gives none
        double top;
        std::vector<Row> rows;
    };
    // Marks narrower than this are widened: a break or a stretch of one packet must show.
    static constexpr double kMinMarkWidth = 2;

    double X(u64 time, u64 packet) const
    {
        const double value = m_timed ? double(time) : double(packet);
        return kLeft + (kRight - kLeft) * std::min(1.0, value / m_span);
    }

    std::string Summary() const
    {
        std::string text = std::to_string(m_report.packets) + " packets";
        if (m_report.timed)
            text += ", " + ClockTime(m_report.duration) + ", " + BitRate(m_report.bit_rate) + " mean";
        if (!m_timed)
            text += "; no PCR: packets across instead of time";
        return text;
    }

    // One band per program of the last PAT, then a row per PID of no program that has a mark.
    void Layout()
    {
        std::set<u16> placed;
        double y = 110;
        for (const pidsift::CheckProgram &program : m_report.programs) {
            if (!program.has_pmt) {
                m_absent.push_back(program.program_number);
                continue;
            }
            const bool named = program.has_service && program.service.has_service_descriptor;
            Band band = {program.program_number, named ? program.service.name : "", y, {}};
            y += kBandHeight + 6;
            auto add = [&](u16 pid, const std::string &what) {
                if (pid >= 0x1FFF)
                    return;
                for (const Row &row : band.rows)
                    if (row.pid == pid)
                        return;
                band.rows.push_back({pid, Hex(pid) + " " + what, y});
                placed.insert(pid);
                y += kRowHeight + 2;
            };
            add(program.pmt_pid, "PMT");
            for (const pidsift::CheckStream &stream : program.streams)
                add(stream.pid, pidsift::RoleName(m_report.Pid(stream.pid)));
            add(program.pcr_pid, "PCR");
            if (program.ecm_pid != TS_NO_PID)
                add(program.ecm_pid, "ECM");
            m_bands.push_back(std::move(band));
            y += 14;
        }
        if (!m_absent.empty()) {
            m_absentTop = y + 4;
            y += 24;
        }
        std::set<u16> marked;
        for (const auto &mark : m_timeline.continuity)
            marked.insert(mark.pid);
        for (const auto &mark : m_timeline.transport)
            marked.insert(mark.pid);
        for (const auto &stretch : m_timeline.scrambled)
            marked.insert(stretch.pid);
        y += 16;
        for (u16 pid : marked) {
            if (placed.count(pid) != 0)
                continue;
            if (m_others.size() == kMaxOtherRows) {
                m_others.push_back({0xFFFF, "further PIDs", y});
                y += kRowHeight + 2;
                break;
            }
            m_others.push_back({pid, Hex(pid) + " " + pidsift::RoleText(m_report.Pid(pid)), y});
            y += kRowHeight + 2;
        }
        m_height = y + 40;
    }

    // Each PID's row; marks of a PID without one go to the row of further PIDs, if any.
    void IndexRows()
    {
        for (const Band &band : m_bands)
            for (const Row &row : band.rows)
                m_rowOf.emplace(row.pid, &row);
        for (const Row &row : m_others) {
            if (row.pid == 0xFFFF)
                m_further = &row;
            else
                m_rowOf.emplace(row.pid, &row);
        }
    }

    const Row *RowOf(u16 pid) const
    {
        const auto found = m_rowOf.find(pid);
        return found != m_rowOf.end() ? found->second : m_further;
    }

    // The marks of every row, drawn once each.
    void DrawMarks()
    {
        for (const auto &stretch : m_timeline.scrambled) {
            const Row *row = RowOf(stretch.pid);
            if (row == nullptr)
                continue;
            const double x1 = X(stretch.start_time, stretch.start_packet);
            const double x2 = std::max(X(stretch.end_time, stretch.end_packet), x1 + kMinMarkWidth);
            m_marks[row] += Format("<rect class=\"scrambled\" data-pid=\"%u\" x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" "
                                   "height=\"%.1f\"/>\n",
                                   unsigned(stretch.pid), x1, row->top, x2 - x1, kRowHeight);
        }
        for (const auto &mark : m_timeline.continuity) {
            const Row *row = RowOf(mark.pid);
            if (row == nullptr)
                continue;
            const double x = X(mark.time, mark.packet);
            m_marks[row] += Format("<line class=\"cc-error\" data-pid=\"%u\" x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" "
                                   "y2=\"%.1f\"/>\n",
                                   unsigned(mark.pid), x, row->top, x, row->top + kRowHeight);
        }
        for (const auto &mark : m_timeline.transport) {
            const Row *row = RowOf(mark.pid);
            if (row == nullptr)
                continue;
            const double x = X(mark.time, mark.packet);
            m_marks[row] +=
                Format("<path class=\"transport-error\" data-pid=\"%u\" d=\"M %.1f %.1f l 4 10 l -8 0 z\"/>\n",
                       unsigned(mark.pid), x, row->top + 2);
        }
    }

    std::string Legend() const
    {
        std::string svg = "<g class=\"legend\" transform=\"translate(560,14)\">\n";
        svg += "<rect x=\"0\" y=\"0\" width=\"18\" height=\"10\" fill=\"#9ecae1\" stroke=\"#3182bd\"/>"
               "<text x=\"24\" y=\"10\">bitrate per second</text>\n";
        svg += "<line x1=\"150\" y1=\"0\" x2=\"150\" y2=\"12\" stroke=\"#d62728\" stroke-width=\"2\"/>"
               "<text x=\"158\" y=\"10\">continuity break (drop)</text>\n";
        svg += "<path d=\"M 310 0 l 4 10 l -8 0 z\" fill=\"#7b2cbf\"/>"
               "<text x=\"320\" y=\"10\">transport error</text>\n";
        svg += "<rect x=\"430\" y=\"1\" width=\"18\" height=\"10\" fill=\"#8c8c8c\" fill-opacity=\"0.55\"/>"
               "<text x=\"454\" y=\"10\">scrambled</text>\n";
        svg += "<line x1=\"540\" y1=\"-1\" x2=\"540\" y2=\"13\" stroke=\"#ff7f0e\" stroke-width=\"3\"/>"
               "<text x=\"548\" y=\"10\">sync lost</text>\n";
        svg += "</g>\n";
        return svg;
    }

    // Ticks at a round step that gives about eight of them.
    std::string Axis() const
    {
        std::string svg = "<g class=\"time-axis\">\n";
        const double top = 80;
        svg +=
            Format("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" class=\"axis\"/>\n", kLeft, top, kRight, top);
        const double units = m_timed ? m_span / 27e6 : m_span;
        // 1, 2 or 5 times a power of ten: the smallest that gives at most eight steps.
        double step = 1;
        for (double scale = 1; units / step > 8 && scale < 1e15; scale *= 10)
            for (const double candidate : {1.0, 2.0, 5.0})
                if (units / step > 8)
                    step = candidate * scale;
        for (double value = 0; value <= units + 1e-9; value += step) {
            const double x = kLeft + (kRight - kLeft) * (units > 0 ? value / units : 0);
            const std::string label = m_timed ? ClockTime(u64(value * 27e6)).substr(0, 8) : Format("%.0f", value);
            svg += Format("<line x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\" class=\"axis\"/>"
                          "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\" class=\"note\">%s</text>\n",
                          x, top, x, top + 5, x, top - 4, label.c_str());
        }
        svg += Format("<text x=\"10\" y=\"%.1f\" class=\"note\">%s</text>\n", top + 4,
                      m_timed ? "time from the PCR" : "packet number");
        for (const Timeline::Mark &loss : m_timeline.sync_losses) {
            const double x = X(loss.time, loss.packet);
            svg += Format("<line class=\"sync-loss\" x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\"/>\n", x, top - 12,
                          x, top + 12);
        }
        svg += "</g>\n";
        return svg;
    }

    // The programs of the PAT whose PMT never came, in one line.
    std::string AbsentPrograms() const
    {
        if (m_absent.empty())
            return "";
        std::string numbers;
        for (size_t i = 0; i < m_absent.size(); ++i)
            numbers += (i == 0 ? "" : ", ") + std::to_string(m_absent[i]);
        return Format("<text class=\"absent\" x=\"10\" y=\"%.1f\" font-weight=\"bold\">%zu program%s listed by "
                      "the PAT but absent from the recording (no PMT came): %s</text>\n",
                      m_absentTop + 12, m_absent.size(), m_absent.size() == 1 ? "" : "s", numbers.c_str());
    }

    // The program's packets per second over the clock, as a stepped area.
    std::string BitratePath(const Band &band, double *peak_out) const
    {
        struct Step {
            u64 from, to, packets;
        };
        std::vector<Step> steps;
        u64 previous = 0;
        for (const Timeline::Second &second : m_timeline.seconds) {
            u64 packets = 0;
            for (const auto &[program, count] : second.programs)
                if (program == band.program)
                    packets += count;
            if (second.time > previous)
                steps.push_back({previous, second.time, packets});
            else if (!steps.empty())
                steps.back().packets += packets;
            previous = std::max(previous, second.time);
        }
        // At most one step per pixel: neighbours are merged.
        const size_t group = steps.size() / size_t(kRight - kLeft) + 1;
        std::vector<Step> merged;
        for (size_t i = 0; i < steps.size(); i += group) {
            Step step = {steps[i].from, steps[i].to, 0};
            for (size_t k = i; k < steps.size() && k < i + group; ++k) {
                step.to = steps[k].to;
                step.packets += steps[k].packets;
            }
            merged.push_back(step);
        }
        double peak = 0;
        for (const Step &step : merged)
            peak = std::max(peak, double(step.packets) * 188 * 8 * 27e6 / double(step.to - step.from));
        *peak_out = peak;
        if (merged.empty() || peak <= 0)
            return "";
        const double base = band.top + kBandHeight;
        std::string d = Format("M %.1f %.1f", X(merged.front().from, 0), base);
        for (const Step &step : merged) {
            const double rate = double(step.packets) * 188 * 8 * 27e6 / double(step.to - step.from);
            const double y = base - (kBandHeight - 4) * rate / peak;
            d += Format(" L %.1f %.1f L %.1f %.1f", X(step.from, 0), y, X(step.to, 0), y);
        }
        d += Format(" L %.1f %.1f Z", X(merged.back().to, 0), base);
        return "<path class=\"bitrate\" d=\"" + d + "\"/>\n";
    }

    std::string DrawBand(const Band &band) const
    {
        std::string svg = Format("<g class=\"program\" data-program=\"%u\">\n", unsigned(band.program));
        svg += Format("<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" class=\"row\"/>\n", kLeft, band.top,
                      kRight - kLeft, kBandHeight);
        double peak = 0;
        const std::string path = m_timed ? BitratePath(band, &peak) : "";
        svg += path;
        const std::string title = band.name.empty() ? "Program " + std::to_string(band.program) : band.name;
        svg += Format("<text x=\"10\" y=\"%.1f\" class=\"label\" font-weight=\"bold\">%s</text>\n", band.top + 16,
                      XmlText(title).c_str());
        // The band's scale: its height is the program's own peak.
        const std::string scale = !m_timed       ? "bitrate unknown: no PCR"
                                  : path.empty() ? "no packets"
                                                 : "0 to " + BitRate(u64(peak));
        double line = band.top + 30;
        if (!band.name.empty()) {
            svg += Format("<text x=\"10\" y=\"%.1f\" class=\"note\">program %u</text>\n", line, unsigned(band.program));
            line += 13;
        }
        svg += Format("<text x=\"10\" y=\"%.1f\" class=\"note\">%s</text>\n", line, XmlText(scale).c_str());
        if (!path.empty())
            svg += Format("<text class=\"scale\" x=\"%.1f\" y=\"%.1f\" text-anchor=\"end\">%s</text>\n", kRight - 4,
                          band.top + 11, BitRate(u64(peak)).c_str());
        for (const Row &row : band.rows)
            svg += DrawRow(row);
        svg += "</g>\n";
        return svg;
    }

    std::string DrawRow(const Row &row) const
    {
        std::string svg = Format("<g class=\"pid\" data-pid=\"%u\">\n", unsigned(row.pid));
        svg += Format("<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" class=\"row\"/>"
                      "<text x=\"20\" y=\"%.1f\" class=\"label\">%s</text>\n",
                      kLeft, row.top, kRight - kLeft, kRowHeight, row.top + 11, XmlText(row.label).c_str());
        const auto marks = m_marks.find(&row);
        if (marks != m_marks.end())
            svg += marks->second;
        svg += "</g>\n";
        return svg;
    }

    std::string Footnote() const
    {
        std::string text;
        if (m_timeline.continuity_total > m_timeline.continuity.size())
            text += Format("%zu of %llu continuity breaks drawn. ", m_timeline.continuity.size(),
                           (unsigned long long)m_timeline.continuity_total);
        if (m_timeline.transport_total > m_timeline.transport.size())
            text += Format("%zu of %llu transport errors drawn. ", m_timeline.transport.size(),
                           (unsigned long long)m_timeline.transport_total);
        if (text.empty())
            return "";
        return Format("<text x=\"10\" y=\"%.1f\" class=\"note\">%s</text>\n", m_height - 14, text.c_str());
    }

    std::string m_name;
    const pidsift::CheckReport &m_report;
    const Timeline &m_timeline;
    bool m_timed = false;
    double m_span = 1;
    double m_height = 0;
    std::vector<Band> m_bands;
    std::vector<u16> m_absent;  // programs whose PMT never came
    double m_absentTop = 0;
    std::vector<Row> m_others;
    std::map<u16, const Row *> m_rowOf;
    const Row *m_further = nullptr;
    std::map<const Row *, std::string> m_marks;
};

}  // namespace

std::string Picture(const char *name, const pidsift::CheckReport &report, const Timeline &timeline)
{
    return Painter(name, report, timeline).Draw();
}

}  // namespace check_tool
