// The report of a site run, for the building's owner: one self-contained HTML file (inline
// styles, an inline SVG map of each bus, nothing loaded from anywhere), made from the run's
// result with the words of the front end that asks for it (English from lorvane-cli, Chinese
// from the window). Saved whole or not at all.
#pragma once

#include "site_loader.h"
#include "site_result.h"

#include <QByteArray>
#include <QDateTime>
#include <QSaveFile>
#include <QString>

#include <optional>

namespace lorvane {

// The fixed labels of a report.
enum class report_label {
    time,             // when the run started
    user,             // who ran it
    host,             // on which computer
    tool,             // which program and version
    duration,         // how long it took
    summary,          // heading of the counts
    port,             // a bus's port
    bus_map,          // heading of a bus's map
    legend,           // heading of the map's legend
    address,          // column: module address
    panel,            // column: panel file
    status,           // column: status
    details,          // column: differences and other details
    reply_times,      // column: reply times
    no_panel,         // in the panel column of a module no panel names
    no_modules,       // a bus without modules
    no_module_at,     // the legend's entry for an address the scan found no module at
    not_scanned,      // the legend's entry for an address no scan went over
    open_items,       // heading of the index of open items
    bus,              // column: bus
    problem,          // column: what is wrong
    unreachable,      // the index's status of a bus that could not be reached
    scan_doubt,       // the index's status of a bus whose scan left a doubt
    files,            // heading of the files the run used and their SHA-256
    site_file,        // the site file, in that list
    log_head,         // the audit log's head after the run
    as_built,         // heading of the as-built appendix
    module,           // "module" before an address, in the appendix's headings
    key,              // column: key number
    key_address,      // column: the address a key acts on
    key_line,         // column: the line a key acts on
    key_operation,    // column: what a key does
    refresh_period,   // the module's refresh period
    found_in_module,  // an as-built entry shown from what was read, no panel naming the module
};

// The fixed labels of a bus's line health.
enum class health_label {
    line_health,      // heading of a bus's line health
    reply_histogram,  // heading of the histogram of the bus's reply times
    histogram_axis,   // the histogram's horizontal axis: reply time in ms
    line_counters,    // heading of the bus's counters
    findings,         // heading of what the counters tell
    no_findings,      // in place of the findings on a line that showed nothing wrong
    no_replies,       // in place of the histogram on a bus that gave no reply
    samples,          // column: requests answered or given up
    timeouts,         // column: requests given up unanswered
    retries,          // column: requests sent again
    garbled,          // column: answers that formed no frame
    foreign,          // column: valid replies that answered another request
    reply_summary,    // column: reply times, min / median / p95 / max
};

// The counters of a bus's line health, as the report lists them.
enum class health_counter {
    watched,  // how long the line was watched
    requests_sent,
    received_bytes,
    idle_bytes,       // arrived while no request was out
    echoed_requests,  // handed back by the adapter
    unframed_bytes,   // never formed a frame
    framing_errors,   // the system's counters, where it gives them
    parity_errors,
    overrun_errors,
    breaks,
    line_state_notices,  // a network server's line-state notifications
    line_state_errors,   // the error kinds named in them
    latency_timer,       // the USB adapter's latency timer, in ms
};

// The words a front end gives the report. Every text is plain (the generator escapes it).
class site_report_words
{
public:
    virtual ~site_report_words() = default;

    // The page's language tag: "en", "zh-CN".
    virtual QString language() const = 0;
    virtual QString label(report_label label) const = 0;
    // The report's kind: "Site check", "Site write".
    virtual QString action(site_action action) const = 0;
    virtual QString status(module_status status) const = 0;
    // The word beside the number of modules with `status` in the summary ("same" in "21
    // same"), and the whole count of unreachable buses ("1 unreachable bus").
    virtual QString count(module_status status) const = 0;
    // The report's first sentence: complete (`open` is 0), or how many items are open.
    virtual QString verdict(site_action action, int open) const = 0;
    // What a key's operation code does, in words.
    virtual QString operation(std::uint8_t code) const = 0;
    virtual QString unreachable_count(int n) const = 0;
    // "3 buses, 24 modules".
    virtual QString site_size(const site_counts& counts) const = 0;
    // How the bus went: reached, or unreachable and why.
    virtual QString bus_outcome(const bus_result& bus) const = 0;
    // What the bus's scan left in doubt (a module may have been missed); empty when nothing.
    virtual QString scan_warning(const bus_result& bus) const = 0;
    // One difference of a module; `status` tells whether it is a difference found (different,
    // failed) or a change made (written).
    virtual QString difference(const config_difference& difference, module_status status) const = 0;
    // What else to say about a module (where it stopped, an unexpected one's refresh period);
    // may be empty.
    virtual QString detail(const module_result& module) const = 0;
    virtual QString reply_times(const lorvane::reply_times& times) const = 0;
    virtual QString time(const QDateTime& utc) const = 0;
    virtual QString duration(double seconds) const = 0;
    // The map's title and its text for screen readers (what the cells show, in words).
    virtual QString map_title(const bus_result& bus) const = 0;
    virtual QString map_description(const bus_result& bus) const = 0;
    // A cell's tooltip: the address and the module's status.
    virtual QString cell_title(int address, const module_result& module) const = 0;

    virtual QString health_word(health_label label) const = 0;
    // The name of a line health counter, with its unit where it has one.
    virtual QString counter(health_counter counter) const = 0;
    // A finding in plain words, with what to do about it.
    virtual QString finding(const health_finding& finding) const = 0;
    // "12.1 / 13.0 / 15.2 / 18.4 ms".
    virtual QString reply_summary(const reply_time_summary& times) const = 0;
    // The histogram's title, and its text for screen readers: `replies` replies from
    // `from_ms` to `to_ms`.
    virtual QString histogram_title(const bus_result& bus) const = 0;
    virtual QString histogram_description(int replies, double from_ms, double to_ms) const = 0;
    // A bar's tooltip: `replies` replies took from `from_ms` up to `to_ms`.
    virtual QString histogram_bar(double from_ms, double to_ms, int replies) const = 0;
};

// Who made the report, and with what.
struct report_facts
{
    QDateTime time;  // the run's start, UTC
    QString user;
    QString host;
    QString tool;          // "lorvane-cli 1.1.0"
    QString site_file;     // the site file's name, as the list of files shows it
    site_digests digests;  // the SHA-256 of the site file and of each panel file the run read
};

// What the report holds beyond what every report does.
struct report_options
{
    // Every bus drawn whole, with a row for every module; otherwise a bus with nothing to say
    // is drawn compactly and a bus's rows are only those of modules worth a line.
    bool all_rows = false;
    // The panels the run used: with them, the as-built appendix (every module's 16 keys,
    // refresh period and panel file); none, no appendix.
    const site_plan* as_built = nullptr;
};

// The report as UTF-8 HTML. Well-formed as XML too, so that programs can read it back.
QByteArray site_report_html(const site_result& result, const report_facts& facts,
                            const site_report_words& words, const report_options& options = {});

// A report file that is replaced whole or not at all. Opened before a run (so that a folder
// that cannot take it is known before anything is sent), committed after it.
class report_file
{
public:
    // The system's reason when `path` cannot be written.
    std::optional<QString> open(const QString& path);
    std::optional<QString> commit(const QByteArray& html);
    // Leaves any file at the path as it was.
    void cancel();

private:
    std::optional<QSaveFile> file_;
};

}  // namespace lorvane
