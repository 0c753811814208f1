// The English words of a bus's line health in the HTML report of a site run.
#include "health_words.h"
#include "site_words.h"

namespace lorvane::cli {

QString english_report_words::health_word(health_label label) const
{
    switch (label) {
    case health_label::line_health:
        return QStringLiteral("Line health");
    case health_label::reply_histogram:
        return QStringLiteral("Reply times");
    case health_label::histogram_axis:
        return QStringLiteral("reply time, ms");
    case health_label::line_counters:
        return QStringLiteral("Counters");
    case health_label::findings:
        return QStringLiteral("Findings");
    case health_label::no_findings:
        return QStringLiteral("Nothing wrong was seen on this line.");
    case health_label::no_replies:
        return QStringLiteral("No module replied on this bus.");
    case health_label::samples:
        return QStringLiteral("Requests");
    case health_label::timeouts:
        return QStringLiteral("Time-outs");
    case health_label::retries:
        return QStringLiteral("Retries");
    case health_label::garbled:
        return QStringLiteral("Garbled");
    case health_label::foreign:
        return QStringLiteral("Foreign");
    case health_label::reply_summary:
        return QStringLiteral("Replies (min / median / p95 / max)");
    }
    return {};
}

QString english_report_words::counter(health_counter counter) const
{
    switch (counter) {
    case health_counter::watched:
        return QStringLiteral("Line watched for");
    case health_counter::requests_sent:
        return QStringLiteral("Requests sent");
    case health_counter::received_bytes:
        return QStringLiteral("Bytes received");
    case health_counter::idle_bytes:
        return QStringLiteral("Bytes while no request was out");
    case health_counter::echoed_requests:
        return QStringLiteral("Requests echoed back");
    case health_counter::unframed_bytes:
        return QStringLiteral("Bytes that formed no frame");
    case health_counter::framing_errors:
        return QStringLiteral("Framing errors");
    case health_counter::parity_errors:
        return QStringLiteral("Parity errors");
    case health_counter::overrun_errors:
        return QStringLiteral("Overruns");
    case health_counter::breaks:
        return QStringLiteral("Breaks");
    case health_counter::line_state_notices:
        return QStringLiteral("Line-state notices from the server");
    case health_counter::line_state_errors:
        return QStringLiteral("Errors the server reported");
    case health_counter::latency_timer:
        return QStringLiteral("Adapter latency timer (ms)");
    }
    return {};
}

QString english_report_words::finding(const health_finding& f) const
{
    return finding_text(f);
}

QString english_report_words::reply_summary(const reply_time_summary& t) const
{
    return QStringLiteral("%1 / %2 / %3 / %4 ms")
        .arg(t.min, 0, 'f', 1)
        .arg(t.median, 0, 'f', 1)
        .arg(t.p95, 0, 'f', 1)
        .arg(t.max, 0, 'f', 1);
}

QString english_report_words::histogram_title(const bus_result& bus) const
{
    return QStringLiteral("Reply times on %1").arg(bus.name);
}

QString english_report_words::histogram_description(int replies, double from_ms, double to_ms) const
{
    return QStringLiteral("%1 from %2 to %3 ms, counted in bars by reply time.")
        .arg(counted(replies, "reply", "replies"))
        .arg(from_ms, 0, 'g', 6)
        .arg(to_ms, 0, 'g', 6);
}

QString english_report_words::histogram_bar(double from_ms, double to_ms, int replies) const
{
    return QStringLiteral("%1 to %2 ms: %3")
        .arg(from_ms, 0, 'g', 6)
        .arg(to_ms, 0, 'g', 6)
        .arg(counted(replies, "reply", "replies"));
}

}  // namespace lorvane::cli
