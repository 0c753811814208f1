#include "site_report_health.h"

#include <QStringList>

#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>

namespace lorvane {

namespace {

using report_html::esc;
using report_html::num;

// A length in the SVG, in px, to 0.1 px.
QString px(double value)
{
    return QString::number(value, 'f', 1);
}

QString ms(double value)
{
    return QString::number(value, 'g', 6);
}

// The histogram: PLOT_W × PLOT_H px of bars behind margins for the axes' labels.
constexpr int HIST_LEFT = 34;
constexpr int HIST_TOP = 10;
constexpr int PLOT_W = 340;
constexpr int PLOT_H = 120;
constexpr int HIST_SIZE_X = HIST_LEFT + PLOT_W + 10;
constexpr int HIST_SIZE_Y = HIST_TOP + PLOT_H + 34;
constexpr const char* BAR_COLOUR = "#1565c0";

QString histogram_svg(const bus_result& bus, int index, const reply_histogram& h,
                      const site_report_words& words)
{
    const int bins = int(h.counts.size());
    const int total = std::accumulate(h.counts.begin(), h.counts.end(), 0);
    const int highest = *std::max_element(h.counts.begin(), h.counts.end());
    const double end_ms = h.start_ms + bins * h.width_ms;
    const QString id = QStringLiteral("hist%1").arg(index);
    QString svg = QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" role=\"img\" "
                                 "aria-labelledby=\"%1-t %1-d\" width=\"%2\" height=\"%3\" "
                                 "viewBox=\"0 0 %2 %3\"><title id=\"%1-t\">%4</title>"
                                 "<desc id=\"%1-d\">%5</desc>")
                      .arg(id, num(HIST_SIZE_X), num(HIST_SIZE_Y), esc(words.histogram_title(bus)),
                           esc(words.histogram_description(total, h.start_ms, end_ms)));
    const double bar_w = double(PLOT_W) / bins;
    for (int i = 0; i < bins; ++i) {
        const int count = h.counts[std::size_t(i)];
        if (count == 0)
            continue;
        const double bar_h = double(PLOT_H) * count / highest;
        const double from = h.start_ms + i * h.width_ms;
        svg += QStringLiteral("<rect class=\"bar\" x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" "
                              "fill=\"%5\" data-count=\"%6\" data-from-ms=\"%7\" "
                              "data-to-ms=\"%8\"><title>%9</title></rect>")
                   .arg(px(HIST_LEFT + i * bar_w + 0.5), px(HIST_TOP + PLOT_H - bar_h),
                        px(std::max(bar_w - 1.0, 1.0)), px(bar_h), QLatin1String(BAR_COLOUR),
                        num(count), ms(from), ms(from + h.width_ms),
                        esc(words.histogram_bar(from, from + h.width_ms, count)));
    }
    // The axes: the count at the top and at the base, about six times along the bottom.
    svg += QStringLiteral("<g aria-hidden=\"true\"><line x1=\"%1\" y1=\"%2\" x2=\"%3\" y2=\"%2\" "
                          "stroke=\"#5b6875\"/>"
                          "<text x=\"%4\" y=\"%5\" text-anchor=\"end\">%6</text>"
                          "<text x=\"%4\" y=\"%7\" text-anchor=\"end\">0</text>")
               .arg(num(HIST_LEFT), num(HIST_TOP + PLOT_H), num(HIST_LEFT + PLOT_W),
                    num(HIST_LEFT - 4), num(HIST_TOP + 8), num(highest), num(HIST_TOP + PLOT_H));
    const int step = std::max(1, (bins + 5) / 6);
    for (int i = 0; i <= bins; i += step) {
        svg += QStringLiteral("<text x=\"%1\" y=\"%2\" text-anchor=\"middle\">%3</text>")
                   .arg(px(HIST_LEFT + i * bar_w), num(HIST_TOP + PLOT_H + 13),
                        ms(h.start_ms + i * h.width_ms));
    }
    svg += QStringLiteral("<text x=\"%1\" y=\"%2\" text-anchor=\"middle\">%3</text></g></svg>")
               .arg(num(HIST_LEFT + PLOT_W / 2), num(HIST_SIZE_Y - 4),
                    esc(words.health_word(health_label::histogram_axis)));
    return svg;
}

QString counter_row(const site_report_words& words, health_counter counter, const QString& value)
{
    return QStringLiteral("<tr><th scope=\"row\">%1</th><td>%2</td></tr>")
        .arg(esc(words.counter(counter)), esc(value));
}

QString counter_rows(const line_counters& line, const site_report_words& words)
{
    const auto n = [](std::uint64_t value) { return QString::number(value); };
    QString rows = counter_row(words, health_counter::watched, words.duration(line.seconds)) +
                   counter_row(words, health_counter::requests_sent, n(line.requests_sent)) +
                   counter_row(words, health_counter::received_bytes, n(line.received_bytes)) +
                   counter_row(words, health_counter::idle_bytes, n(line.idle_bytes)) +
                   counter_row(words, health_counter::echoed_requests, n(line.echoed_requests)) +
                   counter_row(words, health_counter::unframed_bytes, n(line.unframed_bytes));
    if (const auto& os = line.os_errors) {
        rows += counter_row(words, health_counter::framing_errors, n(os->framing)) +
                counter_row(words, health_counter::parity_errors, n(os->parity)) +
                counter_row(words, health_counter::overrun_errors, n(os->overrun)) +
                counter_row(words, health_counter::breaks, n(os->breaks));
    }
    if (line.line_state_notices)
        rows += counter_row(words, health_counter::line_state_notices, n(*line.line_state_notices));
    if (line.line_state_errors && *line.line_state_errors != 0) {
        // The line-state byte's error bits: overrun 0x02, parity 0x04, framing 0x08, break 0x10.
        static constexpr std::array<std::pair<std::uint8_t, health_counter>, 4> bits{
            {{0x02, health_counter::overrun_errors},
             {0x04, health_counter::parity_errors},
             {0x08, health_counter::framing_errors},
             {0x10, health_counter::breaks}}};
        QStringList named;
        for (const auto& [bit, counter] : bits) {
            if (*line.line_state_errors & bit)
                named << words.counter(counter);
        }
        rows +=
            counter_row(words, health_counter::line_state_errors, named.join(QStringLiteral(", ")));
    }
    if (line.latency_timer_ms)
        rows += counter_row(words, health_counter::latency_timer, num(*line.latency_timer_ms));
    return rows;
}

QString module_rows(const line_health& health, const site_report_words& words)
{
    QString rows;
    for (const module_traffic& m : health.modules) {
        const auto summary = m.summary();
        rows += QStringLiteral("<tr><td class=\"addr\">%1</td><td>%2</td><td>%3</td><td>%4</td>"
                               "<td>%5</td><td>%6</td><td class=\"times\">%7</td></tr>")
                    .arg(num(m.address), num(m.exchanges), num(m.timeouts), num(m.retries),
                         num(m.garbled), num(m.foreign),
                         summary ? esc(words.reply_summary(*summary)) : QString());
    }
    return rows;
}

}  // namespace

reply_histogram histogram_of(const line_health& health)
{
    reply_histogram h;
    double least = 0;
    double most = 0;
    bool any = false;
    for (const module_traffic& m : health.modules) {
        for (const double t : m.reply_ms) {
            least = any ? std::min(least, t) : t;
            most = any ? std::max(most, t) : t;
            any = true;
        }
    }
    if (!any)
        return h;
    // The narrowest round width (0.5, 1, 2, 5, 10, 20 ... ms) that keeps the bins within the
    // limit.
    double width = 0.5;
    for (int i = 0; (most - std::floor(least / width) * width) / width >= MAX_HISTOGRAM_BINS; ++i) {
        static constexpr std::array<double, 3> steps{1, 2, 5};
        width = steps[std::size_t(i % 3)] * std::pow(10.0, i / 3);
    }
    h.width_ms = width;
    h.start_ms = std::floor(least / width) * width;
    const int bins = std::clamp(int((most - h.start_ms) / width) + 1, 1, MAX_HISTOGRAM_BINS);
    h.counts.assign(std::size_t(bins), 0);
    for (const module_traffic& m : health.modules) {
        for (const double t : m.reply_ms) {
            const int bin = std::clamp(int((t - h.start_ms) / width), 0, bins - 1);
            ++h.counts[std::size_t(bin)];
        }
    }
    return h;
}

QString health_section(const bus_result& bus, int index, const site_report_words& words)
{
    if (!bus.health)
        return {};
    const health_report& health = *bus.health;
    const reply_histogram h = histogram_of(health.measured);
    QString html =
        QStringLiteral("<section class=\"health\" id=\"health-%1\"><h3>%2</h3>"
                       "<div class=\"health-body\"><figure class=\"histogram\"><h3>%3"
                       "</h3>%4</figure><div><h3>%5</h3><table class=\"counters\">"
                       "<tbody>%6</tbody></table></div></div>")
            .arg(num(index + 1), esc(words.health_word(health_label::line_health)),
                 esc(words.health_word(health_label::reply_histogram)),
                 h.counts.empty() ? QStringLiteral("<p class=\"none\">%1</p>")
                                        .arg(esc(words.health_word(health_label::no_replies)))
                                  : histogram_svg(bus, index, h, words),
                 esc(words.health_word(health_label::line_counters)),
                 counter_rows(health.measured.line, words));
    if (!health.measured.modules.empty()) {
        html += QStringLiteral("<table class=\"traffic\"><thead><tr><th>%1</th><th>%2</th>"
                               "<th>%3</th><th>%4</th><th>%5</th><th>%6</th><th>%7</th></tr>"
                               "</thead><tbody>%8</tbody></table>")
                    .arg(esc(words.label(report_label::address)),
                         esc(words.health_word(health_label::samples)),
                         esc(words.health_word(health_label::timeouts)),
                         esc(words.health_word(health_label::retries)),
                         esc(words.health_word(health_label::garbled)),
                         esc(words.health_word(health_label::foreign)),
                         esc(words.health_word(health_label::reply_summary)),
                         module_rows(health.measured, words));
    }
    html += QStringLiteral("<h3>%1</h3>").arg(esc(words.health_word(health_label::findings)));
    if (health.findings.empty()) {
        html += QStringLiteral("<p class=\"none\">%1</p>")
                    .arg(esc(words.health_word(health_label::no_findings)));
    } else {
        html += QStringLiteral("<ul class=\"findings\">");
        for (const health_finding& f : health.findings)
            html += QStringLiteral("<li>%1</li>").arg(esc(words.finding(f)));
        html += QStringLiteral("</ul>");
    }
    return html + QStringLiteral("</section>");
}

const char* const HEALTH_STYLE = R"css(
section.health { margin-top: 20px; }
.health-body { display: grid; grid-template-columns: 384px 1fr; gap: 24px; align-items: start;
  margin-bottom: 14px; }
@media (max-width: 900px) { .health-body { grid-template-columns: 1fr; } }
figure.histogram { margin: 0; }
figure.histogram svg { display: block; }
figure.histogram text { font: 9px system-ui, sans-serif; fill: var(--muted); }
table.counters th { text-transform: none; letter-spacing: 0; font-size: 13px; color: var(--ink);
  border-bottom: 1px solid var(--line); font-weight: normal; }
table.counters td { font-variant-numeric: tabular-nums; }
table.traffic { margin-bottom: 14px; }
ul.findings { margin: 0; padding: 8px 12px 8px 28px; border-left: 4px solid #d08a00;
  background: #fdf5e6; }
ul.findings li + li { margin-top: 6px; }
)css";

}  // namespace lorvane
