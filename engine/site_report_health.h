// The report's "line health" part of a bus, beside the bus's map and modules: the histogram of
// the bus's reply times (an inline SVG), its counters and its findings in words. Only for the
// report's own use.
#pragma once

#include "site_report.h"

#include <QString>

#include <vector>

namespace lorvane {

// `text` for HTML and XML alike (control characters shown as U+FFFD).
QString report_escape(const QString& text);

// The short forms the report's parts write their HTML with.
namespace report_html {
inline QString esc(const QString& text)
{
    return report_escape(text);
}
inline QString num(int n)
{
    return QString::number(n);
}
}  // namespace report_html

// The bins of a histogram of reply times: `counts[i]` replies took from start_ms + i × width_ms
// up to (not including) the next bin's start; the last bin holds the greatest reply too.
struct reply_histogram
{
    double start_ms = 0;
    double width_ms = 1;
    std::vector<int> counts;
};

// Every reply time of every module of `health`, in at most MAX_HISTOGRAM_BINS bins of a round
// width (0.5, 1, 2, 5, 10, 20, 50 ... ms); no bins when there is no reply.
reply_histogram histogram_of(const line_health& health);
inline constexpr int MAX_HISTOGRAM_BINS = 24;

// The section of bus `index` (0-based); empty when the bus has no health.
QString health_section(const bus_result& bus, int index, const site_report_words& words);

// The section's own styles, added to the page's.
extern const char* const HEALTH_STYLE;

}  // namespace lorvane
