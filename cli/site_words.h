// lorvane-cli's words for a whole site: a refused site file, a bus that could not be reached,
// each module's status, the summary line, and the English words of the HTML report.
#pragma once

#include "module_session.h"
#include "site_file.h"
#include "site_report.h"
#include "site_result.h"

#include <QString>

namespace lorvane::cli {

// What is wrong with the site in `site_path` (or with a --port-of given for it), naming the
// file, the member and what it accepts.
QString site_error_text(const site_file_error& error, const QString& site_path);

// Why bus `bus` of `result` could not be reached, or went away.
QString bus_failure_text(const site_result& result, const bus_result& bus);

// "same", "not reached"; as --json writes it: "same", "not_reached".
QString status_text(module_status status);
QString status_json(module_status status);

// A module's line: "east riser: module 7 (east/7.json): different: record 3 (key 3), line:
// expected 5, found 7".
QString module_line(site_action action, const bus_result& bus, const module_result& module,
                    const session_options& options);

// "B: warning: 2 replies arrived garbled in the scan; a module may have been missed (try
// --retries 1)"; empty when the bus's scan left no doubt.
QString scan_doubt_line(const bus_result& bus, const session_options& options);
// The same, without the bus's name, as the JSON's and the report's warning.
QString scan_doubt_text(const bus_result& bus, const session_options& options);

// A change as the log shows it: "key 3 line: 5 → 7" (expected is what was, found what is).
QString change_words(const config_difference& difference);

// What a stopped check or write left, for the line after "interrupted; ": what was written,
// each module cut off part-way with its record (and whether the log at `log_path` names it),
// how many were stopped before anything was written.
QString left_after_stop(const site_result& result, const QString& log_path);

// "site Riverside Tower: 3 buses, 24 modules: 21 same, 2 different, 1 missing (6.1 s)".
QString summary_line(const site_result& result);

// "1 bus", "3 buses"; "1 module", "24 modules".
QString counted(int n, const char* one, const char* many);

class english_report_words final : public site_report_words
{
public:
    explicit english_report_words(const session_options& options) : options_(options) {}

    QString language() const override { return QStringLiteral("en"); }
    QString label(report_label label) const override;
    QString action(site_action action) const override;
    QString status(module_status status) const override;
    QString count(module_status status) const override;
    QString verdict(site_action action, int open) const override;
    QString operation(std::uint8_t code) const override;
    QString unreachable_count(int n) const override;
    QString site_size(const site_counts& counts) const override;
    QString bus_outcome(const bus_result& bus) const override;
    QString scan_warning(const bus_result& bus) const override;
    QString difference(const config_difference& difference, module_status status) const override;
    QString detail(const module_result& module) const override;
    QString reply_times(const lorvane::reply_times& times) const override;
    QString time(const QDateTime& utc) const override;
    QString duration(double seconds) const override;
    QString map_title(const bus_result& bus) const override;
    QString map_description(const bus_result& bus) const override;
    QString cell_title(int address, const module_result& module) const override;
    // The line health's words (site_health_words.cpp).
    QString health_word(health_label label) const override;
    QString counter(health_counter counter) const override;
    QString finding(const health_finding& finding) const override;
    QString reply_summary(const reply_time_summary& times) const override;
    QString histogram_title(const bus_result& bus) const override;
    QString histogram_description(int replies, double from_ms, double to_ms) const override;
    QString histogram_bar(double from_ms, double to_ms, int replies) const override;

    // The result whose buses bus_outcome() words (for the bus a usb: port shares a device with).
    void set_result(const site_result* result) { result_ = result; }

private:
    session_options options_;
    const site_result* result_ = nullptr;
};

}  // namespace lorvane::cli
