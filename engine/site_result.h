// What a run over a whole site found and did, bus by bus and module by module, as values:
// what the front ends print, what the report shows and what the audit log records.
#pragma once

#include "bus_health.h"
#include "config_compare.h"
#include "panel_config.h"
#include "serial_device.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>
#include <vector>

namespace lorvane {

// check: compare every module with its panel (after a scan, unless left out); write: write the
// modules that differ (or all) and read them back; adopt: scan and read every module found.
enum class site_action { check, write, adopt };

enum class module_status {
    same,         // check: holds its panel
    different,    // check: differs from its panel (differences)
    missing,      // never answered: neither the scan nor any record of the first read
    unexpected,   // check: answered the scan, but no panel of its bus names it
    unchanged,    // write: held its panel already; nothing was written
    written,      // write: written and read back as its panel
    failed,       // answered, then a record went unanswered (fault); or the read-back differs
    interrupted,  // the run was stopped while this module's transfer was under way
    not_reached,  // the run ended (stopped, or the bus lost) before this module's turn
    read,         // adopt: its 17 records were read
};
inline constexpr int MODULE_STATUS_COUNT = int(module_status::read) + 1;

// Which transfer of a module stopped, and where.
enum class transfer_step { first_read, write, read_back };

// Why a module failed: a request it left unanswered (after answering before), or a read-back
// that answered with other values than its panel's.
enum class module_fault { none, no_reply, read_back_differs };

// What the scan of a bus left in doubt: garbled replies no module accounted for, and whether
// the second look was cut short on a line that kept sending junk.
struct scan_doubt
{
    int garbled = 0;
    bool noisy = false;
    int unchecked = 0;  // noisy: suspect addresses left without a second look
};

struct reply_times
{
    double min_ms = 0;
    double median_ms = 0;
    double max_ms = 0;
};

// The 17 records of a module as read; a record not read is empty.
using record_set = std::array<std::optional<record_values>, RECORD_COUNT>;

struct module_result
{
    int address = 0;
    int panel = -1;      // index in the bus's panels; -1 for a module no panel names
    QString panel_path;  // that panel's path, as the site file gives it
    module_status status = module_status::not_reached;
    module_fault fault = module_fault::none;  // failed: why
    // What was found in the module against its panel: different (the first read), failed with
    // read_back_differs (the read-back). Empty for every other status.
    std::vector<config_difference> differences;
    // What a write set out to change (the panel against what the first read found): written,
    // failed, interrupted during a write or its read-back.
    std::vector<config_difference> changes;
    std::optional<int> refresh_period;   // unexpected: as its reply to the scan named it
    std::optional<reply_times> replies;  // request out to its reply in, per confirmed record
    std::optional<panel_config> before;  // what the first read found (adopt, check, write)
    record_set before_records{};         // the same, each record as the module sent it
    record_set after{};                  // write: what the read-back found
    // missing, failed, interrupted: the transfer that stopped and the record it waited for
    // (failed on a read-back that differs: the first record that differs).
    transfer_step stopped_step = transfer_step::first_read;
    int stopped_record = -1;
    std::optional<double> read_ms;  // the first read, first request out to last reply in
    bool answered_scan = false;     // the bus's scan found it
    bool logged = false;            // the audit log has a line naming it from this run
};

enum class bus_failure_kind {
    cannot_open,      // `port`: why the port could not be opened
    usb_not_plugged,  // no listed adapter has serial number `serial`
    usb_ambiguous,    // several listed adapters have serial number `serial`: `devices`
    port_shared,      // resolves to device `devices[0]`, which bus `other_bus` uses already
    port_lost,        // the open port went away (adapter unplugged, server gone)
};

struct bus_failure
{
    bus_failure_kind kind = bus_failure_kind::cannot_open;
    port_failure port;
    QString serial;
    QStringList devices;
    int other_bus = -1;
    port_loss loss = port_loss::gone;  // port_lost: why
};

struct bus_result
{
    QString name;
    QString port;    // as the site gives it
    QString device;  // what was opened: the port itself, or a usb: port's device
    std::optional<bus_failure> failure;  // set: the bus is unreachable
    std::vector<module_result> modules;  // in the site's panel order, then unexpected ones
    std::optional<double> scan_ms;       // the scan, start to end
    // The addresses a scan went over to its end, first and last; none when last < first
    // (no scan: a write, --no-scan, an unreachable bus, a scan stopped or cut off).
    int scan_first = 0;
    int scan_last = -1;
    std::optional<scan_doubt> doubt;  // the scan ended in doubt: a module may have been missed
    // check: what the line saw of the run's own traffic on a reachable bus, and the findings
    // made of it (nothing extra was sent for it); none for other actions and unreachable buses.
    std::optional<health_report> health;

    bool reachable() const { return !failure; }
    bool scanned(int address) const { return address >= scan_first && address <= scan_last; }
    bool scanned_any() const { return scan_last >= scan_first; }
};

struct site_result
{
    QString site;
    site_action action = site_action::check;
    QDateTime started;  // UTC
    double seconds = 0;
    std::vector<bus_result> buses;
    bool stopped = false;                // stop() ended it
    std::optional<QString> log_failure;  // the audit log could not be appended: the system's words
    // The audit log's head once the run is over (the hash of its last line, 64 hex digits);
    // empty for a run that kept no log.
    QByteArray log_head;
};

struct site_counts
{
    int buses = 0;
    int unreachable = 0;
    int modules = 0;  // named by a panel; modules no panel names are counted only by status
    std::array<int, MODULE_STATUS_COUNT> by_status{};

    int operator[](module_status status) const { return by_status[std::size_t(status)]; }
};

site_counts count_site(const site_result& result);

// The statuses a summary of `action` names, in its order: the action's own (check: same,
// different, failed, missing, unexpected; write: unchanged, written, failed, missing; adopt:
// read, failed, missing), then interrupted and not reached.
std::vector<module_status> summary_statuses(site_action action);

// Whether differences were found in `module` against its panel: different, or failed on a
// read-back that answered with other values.
inline bool differences_found(const module_result& module)
{
    return module.status == module_status::different ||
           (module.status == module_status::failed &&
            module.fault == module_fault::read_back_differs);
}

// What `bus` has to say of itself, beside its modules: 1 when it is unreachable, 1 for a scan
// left in doubt, and 1 for each finding of its line that names none of its modules.
int bus_own_problems(const bus_result& bus);

// Every problem of `bus`: its modules that have one, and its own. 0: all is well.
int bus_problems(const bus_result& bus);

// Whether a write to `module` was cut off part-way: some records may hold the panel's values,
// others the old ones.
inline bool cut_off_in_write(const module_result& module)
{
    return module.status == module_status::interrupted &&
           module.stopped_step == transfer_step::write;
}

// Whether `module` was stopped, or never begun, before its first write request went out.
inline bool stopped_before_write(const module_result& module)
{
    return module.status == module_status::not_reached ||
           (module.status == module_status::interrupted &&
            module.stopped_step == transfer_step::first_read);
}

// Whether `module` is an open item: it does not hold its panel, or was not checked to its end
// (different, unexpected, missing, failed, interrupted, not reached).
inline bool module_open(const module_result& module)
{
    switch (module.status) {
    case module_status::same:
    case module_status::unchanged:
    case module_status::written:
    case module_status::read:
        return false;
    default:
        return true;
    }
}

// Whether `module` of `bus` is a problem: an open item, or a finding of the bus's line names
// its address. The one rule for what the front ends count and go to as a problem (the site
// window's count of a bus's problems and its next-problem key).
bool module_has_problem(const bus_result& bus, const module_result& module);

// Whether `module` of `bus` has something to say: a problem, or a write whose changes are
// news. What --problems-only prints, the site window's problem filter shows and the report
// lists.
inline bool module_worth_a_line(const bus_result& bus, const module_result& module)
{
    return module_has_problem(bus, module) || module.status == module_status::written;
}

// Whether bus `bus` has something to say: a problem of its own or of a module (bus_problems),
// or a module was written. A bus without is drawn compactly in the report.
bool bus_worth_a_line(const bus_result& bus);

// The open items of a run: every unreachable bus (its modules with it), every scan left in
// doubt and every open module of a reachable bus.
int open_items(const site_result& result);

// The median of the sample, with its least and greatest values; nothing for an empty one.
std::optional<reply_times> summarise_reply_times(std::vector<double> sample_ms);

}  // namespace lorvane
