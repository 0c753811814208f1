#include "site_words.h"

#include "messages.h"
#include "network_port.h"
#include "options.h"
#include "panel_file.h"
#include "port_words.h"

#include <QLocale>

namespace lorvane::cli {

namespace {

QString quoted(const QString& text)
{
    return u'\'' + text + u'\'';
}

// What the site file's members may be, for an unknown one.
QString known_members(const QString& member)
{
    return member.startsWith(QStringLiteral("buses[")) ? QStringLiteral("name, port, panels")
                                                       : QStringLiteral("format, name, buses");
}

// Why a port text names no port: what it must be, naming the part that is wrong.
QString port_refusal(const QString& port)
{
    if (port.trimmed().startsWith(USB_PORT_PREFIX, Qt::CaseInsensitive))
        return QStringLiteral("usb: must be followed by the adapter's serial number, 1 to %1 "
                              "printable characters without spaces (lorvane-cli ports lists them)")
            .arg(USB_SERIAL_MAX_LENGTH);
    if (is_network_port_text(port)) {
        const network_port_result url = parse_network_port(port);
        switch (url.fault) {
        case url_fault::scheme:
            return QStringLiteral("unknown scheme %1; give tcp://HOST:PORT or rfc2217://HOST:PORT")
                .arg(quoted(url.part));
        case url_fault::host:
            return QStringLiteral("the host %1 must be a name, an IPv4 address or an IPv6 address "
                                  "in brackets (tcp://[::1]:4001)")
                .arg(quoted(url.part));
        case url_fault::port:
            return QStringLiteral("the port number must be a whole number from 1 to %1, not %2")
                .arg(QString::number(MAX_TCP_PORT), quoted(url.part));
        }
    }
    return QStringLiteral("give a number 1..256, a device name (COM3, ttyUSB0), a path "
                          "(/dev/ttyUSB0), tcp://HOST:PORT, rfc2217://HOST:PORT, usb:SERIAL or "
                          "dnssd:NAME");
}

QString step_name(transfer_step step)
{
    switch (step) {
    case transfer_step::first_read:
        return QStringLiteral("read");
    case transfer_step::write:
        return QStringLiteral("write");
    case transfer_step::read_back:
        return QStringLiteral("read-back");
    }
    return {};
}

// "key 3 line", "refresh period".
QString field_words(const config_difference& d)
{
    switch (d.field) {
    case config_field::refresh_period:
        return QStringLiteral("refresh period");
    case config_field::key_address:
        return QStringLiteral("key %1 address").arg(d.record);
    case config_field::key_line:
        return QStringLiteral("key %1 line").arg(d.record);
    case config_field::key_operation:
        return QStringLiteral("key %1 operation").arg(d.record);
    }
    return {};
}

QString value_words(const config_difference& d, std::uint8_t value)
{
    return d.field == config_field::key_operation ? operation_name(value) : QString::number(value);
}

// What may bring back a module that answered and then fell silent: another send of each
// request, a longer wait for each reply; only those the options leave room for.
QString try_words(const session_options& options)
{
    QStringList tries;
    if (options.retries < MAX_RETRIES)
        tries << QStringLiteral("--retries %1").arg(options.retries + 1);
    if (options.timeout.count() * 2 <= MAX_TIMEOUT_MS)
        tries << QStringLiteral("--timeout %1").arg(options.timeout.count() * 2);
    return tries.isEmpty() ? QString()
                           : QStringLiteral(" (try ") + tries.join(QStringLiteral(" or ")) + u')';
}

// Where a module stopped, or what else there is to say about it; empty when nothing.
QString module_detail(site_action action, const module_result& m, const session_options& options)
{
    const QString within = QStringLiteral(" within %1 ms").arg(options.timeout.count());
    const QString where = QStringLiteral("the %1 of %2")
                              .arg(step_name(m.stopped_step), record_name(m.stopped_record));
    switch (m.status) {
    case module_status::missing:
        return QStringLiteral("no reply to the read of %1%2")
            .arg(record_name(m.stopped_record), within);
    case module_status::unexpected:
        return m.refresh_period ? QStringLiteral("refresh period %1").arg(*m.refresh_period)
                                : QString();
    case module_status::failed:
        if (m.fault == module_fault::read_back_differs)
            return QStringLiteral("read back different from its panel");
        return (m.stopped_step == transfer_step::first_read && m.stopped_record == 0
                    ? QStringLiteral("answered the scan, then stopped answering: ")
                    : QStringLiteral("stopped answering: ")) +
               QStringLiteral("no reply to ") + where + within + try_words(options);
    case module_status::interrupted:
        switch (m.stopped_step) {
        case transfer_step::first_read:
            return action == site_action::write
                       ? QStringLiteral("stopped before anything was written (at the read of "
                                        "%1)")
                             .arg(record_name(m.stopped_record))
                       : QStringLiteral("stopped during the read at %1")
                             .arg(record_name(m.stopped_record));
        case transfer_step::write:
            return QStringLiteral("cut off during the write at %1: some records may hold the "
                                  "panel's values, the others what it held before")
                .arg(record_name(m.stopped_record));
        case transfer_step::read_back:
            return QStringLiteral("written, then stopped during the read-back at %1: not "
                                  "verified")
                .arg(record_name(m.stopped_record));
        }
        return {};
    default:
        return {};
    }
}

QString port_lost_words(const bus_result& bus)
{
    return lost_port_text(bus.device, bus.failure ? bus.failure->loss : port_loss::gone, false);
}

}  // namespace

QString counted(int n, const char* one, const char* many)
{
    return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
}

QString site_error_text(const site_file_error& e, const QString& site_path)
{
    const QString at = site_path + QStringLiteral(": ");
    const QString member = e.member;
    switch (e.kind) {
    case site_problem::too_large:
        return QStringLiteral("%1 is larger than %2 KiB, which no site file is")
            .arg(site_path, QString::number(SITE_FILE_MAX_SIZE / 1024));
    case site_problem::unreadable:
        return QStringLiteral("cannot read %1: %2").arg(site_path, e.reason);
    case site_problem::not_a_file:
        return QStringLiteral("%1 is not a regular file").arg(site_path);
    case site_problem::not_json:
        return at + QStringLiteral("is not valid JSON: ") + e.value;
    case site_problem::not_an_object:
        return member.isEmpty()
                   ? at + QStringLiteral("must hold one JSON object")
                   : at + member + QStringLiteral(" must be an object, not ") + e.value;
    case site_problem::unknown_member:
        return at + QStringLiteral("%1 is not a member of a site file (known: %2)")
                        .arg(member, known_members(member));
    case site_problem::given_twice:
        return at + member + QStringLiteral(" is given twice; each member may appear once");
    case site_problem::wrong_format:
        return at + QStringLiteral("format must be \"%1\", not %2").arg(SITE_FILE_FORMAT, e.value);
    case site_problem::missing:
        return at + member + QStringLiteral(" is missing");
    case site_problem::not_a_text:
        return at + member + QStringLiteral(" must be a string, not ") + e.value;
    case site_problem::not_a_list:
        return at + member + QStringLiteral(" must be an array, not ") + e.value;
    case site_problem::no_buses:
        return at + QStringLiteral("buses must list 1 to %1 buses, not none").arg(SITE_MAX_BUSES);
    case site_problem::too_many_buses:
        return at + QStringLiteral("buses lists %1 buses; a site has at most %2")
                        .arg(e.number)
                        .arg(SITE_MAX_BUSES);
    case site_problem::empty_name:
        return at + member + QStringLiteral(" must not be empty");
    case site_problem::name_twice:
        return at + QStringLiteral("%1 names the bus %2 a second time (as %3 does); each bus "
                                   "needs a name of its own, whatever its case")
                        .arg(member, e.value, e.other_member);
    case site_problem::bad_panel_path:
        return at + QStringLiteral("%1 must be the path of a panel file, relative to the site "
                                   "file's folder, not %2")
                        .arg(member, e.value);
    case site_problem::panel_twice:
        return at + QStringLiteral("%1 names the panel file %2 a second time (as %3 does)")
                        .arg(member, quoted(e.value), e.other_member);
    case site_problem::bad_port:
        if (e.from_command_line)
            return QStringLiteral("--port-of %1 names no port: %2")
                .arg(quoted(e.value), port_refusal(e.value));
        return at + QStringLiteral("%1 %2 names no port: %3")
                        .arg(member, quoted(e.value), port_refusal(e.value));
    case site_problem::panel_two_buses:
        return at + QStringLiteral("%1 of bus %2 names the panel file %3 that %4 of bus %5 names "
                                   "too; a panel file describes one module, on one bus")
                        .arg(member, quoted(e.bus_name), quoted(e.value), e.other_member,
                             quoted(e.other_bus_name));
    case site_problem::port_twice:
        return (e.from_command_line ? QStringLiteral("--port-of: ") : at) +
               QStringLiteral("port %1 of bus %2 (%3) is the device of bus %4 (%5, port %6) "
                              "too; each bus needs a port of its own")
                   .arg(quoted(e.value), quoted(e.bus_name), member, quoted(e.other_bus_name),
                        e.other_member, quoted(e.other_value));
    case site_problem::unknown_bus:
        return QStringLiteral("--port-of names the bus %1, which the site does not have")
            .arg(quoted(e.value));
    case site_problem::panel_unreadable:
        return QStringLiteral("cannot read %1 (%2 in %3): %4")
            .arg(e.file, member, site_path, e.reason);
    case site_problem::panel_too_large:
        return QStringLiteral("%1 (%2 in %3) is larger than %4 KiB, which no panel file is")
            .arg(e.file, member, site_path, QString::number(PANEL_FILE_MAX_SIZE / 1024));
    case site_problem::panel_not_a_file:
        return QStringLiteral("%1 (%2 in %3) is not a regular file").arg(e.file, member, site_path);
    case site_problem::panel_invalid: {
        const panel_file_error& p = *e.panel;
        return QStringLiteral("%1 (%2 in %3): %4")
            .arg(e.file, member, site_path,
                 p.field.isEmpty() ? p.problem : p.field + u' ' + p.problem);
    }
    case site_problem::address_twice:
        return at + QStringLiteral("%1 and %2 both have module address %3 on bus %4; each "
                                   "module of a bus needs a panel of its own")
                        .arg(e.other_file, e.file, QString::number(e.number), quoted(e.value));
    }
    return at + QStringLiteral("refused");
}

QString bus_failure_text(const site_result& result, const bus_result& bus)
{
    if (!bus.failure)
        return {};
    const bus_failure& f = *bus.failure;
    switch (f.kind) {
    case bus_failure_kind::cannot_open:
        return failure_text(f.port, false);  // the site commands take no --trust
    case bus_failure_kind::usb_not_plugged:
        return QStringLiteral("no USB adapter with serial number %1 is plugged in (lorvane-cli "
                              "ports lists the adapters with their serial numbers)")
            .arg(f.serial);
    case bus_failure_kind::usb_ambiguous:
        return QStringLiteral("%1 adapters have serial number %2 (%3); name the port with "
                              "%4 instead")
            .arg(QString::number(f.devices.size()), f.serial, f.devices.join(QStringLiteral(", ")),
                 result.action == site_action::adopt ? QStringLiteral("its device in --bus")
                                                     : QStringLiteral("--port-of"));
    case bus_failure_kind::port_shared: {
        const QString other = f.other_bus >= 0 && f.other_bus < int(result.buses.size())
                                  ? result.buses[std::size_t(f.other_bus)].name
                                  : QString();
        return QStringLiteral("%1 is %2, the port of bus %3 too")
            .arg(bus.port, f.devices.value(0), quoted(other));
    }
    case bus_failure_kind::port_lost:
        return port_lost_words(bus);
    }
    return {};
}

QString status_text(module_status status)
{
    return status == module_status::not_reached ? QStringLiteral("not reached")
                                                : status_json(status);
}

QString status_json(module_status status)
{
    switch (status) {
    case module_status::same:
        return QStringLiteral("same");
    case module_status::different:
        return QStringLiteral("different");
    case module_status::missing:
        return QStringLiteral("missing");
    case module_status::unexpected:
        return QStringLiteral("unexpected");
    case module_status::unchanged:
        return QStringLiteral("unchanged");
    case module_status::written:
        return QStringLiteral("written");
    case module_status::failed:
        return QStringLiteral("failed");
    case module_status::interrupted:
        return QStringLiteral("interrupted");
    case module_status::not_reached:
        return QStringLiteral("not_reached");
    case module_status::read:
        return QStringLiteral("read");
    }
    return {};
}

QString module_line(site_action action, const bus_result& bus, const module_result& m,
                    const session_options& options)
{
    QString line = QStringLiteral("%1: module %2").arg(bus.name, QString::number(m.address));
    if (m.panel >= 0)
        line += QStringLiteral(" (%1)").arg(m.panel_path);
    line += QStringLiteral(": ") + status_text(m.status);
    if (const QString detail = module_detail(action, m, options); !detail.isEmpty())
        line +=
            (m.status == module_status::unexpected ? QStringLiteral(", ") : QStringLiteral(": ")) +
            detail;
    if (differences_found(m))
        line += QStringLiteral(": ") + differences(m.differences).join(QStringLiteral("; "));
    return line;
}

QString scan_doubt_text(const bus_result& bus, const session_options& options)
{
    if (!bus.doubt)
        return {};
    if (bus.doubt->noisy)
        return QStringLiteral("the line is noisy: the scan's second look stopped with %1 "
                              "unchecked; a module may have been missed (check the wiring, "
                              "termination and shielding)")
            .arg(counted(bus.doubt->unchecked, "suspect address", "suspect addresses"));
    QString text =
        QStringLiteral("%1 in the scan; a module may have been missed")
            .arg(bus.doubt->garbled == 1
                     ? QStringLiteral("1 reply arrived garbled")
                     : QStringLiteral("%1 replies arrived garbled").arg(bus.doubt->garbled));
    if (options.retries < MAX_RETRIES)
        text += QStringLiteral(" (try --retries %1)").arg(options.retries + 1);
    return text;
}

QString scan_doubt_line(const bus_result& bus, const session_options& options)
{
    const QString text = scan_doubt_text(bus, options);
    return text.isEmpty() ? text : QStringLiteral("%1: warning: %2").arg(bus.name, text);
}

QString left_after_stop(const site_result& result, const QString& log_path)
{
    const site_counts counts = count_site(result);
    QStringList parts;
    if (result.action != site_action::write) {
        parts << QStringLiteral("%1 of %2 checked")
                     .arg(counts.modules - counts[module_status::not_reached] -
                          counts[module_status::interrupted])
                     .arg(counted(counts.modules, "module", "modules"));
        return parts.join(QStringLiteral(", ")) + QStringLiteral("; the ports are closed");
    }
    QStringList cut;        // "east: module 7 at record 5 (key 5)"
    QStringList unchecked;  // written, stopped in the read-back
    int before_write = 0;
    int logged = 0;
    int named = 0;
    for (const bus_result& bus : result.buses) {
        for (const module_result& m : bus.modules) {
            if (m.panel < 0)
                continue;
            if (stopped_before_write(m)) {
                ++before_write;
                continue;
            }
            if (m.status != module_status::interrupted)
                continue;
            const QString who =
                QStringLiteral("%1: module %2 at %3")
                    .arg(bus.name, QString::number(m.address), record_name(m.stopped_record));
            (cut_off_in_write(m) ? cut : unchecked) << who;
            ++named;
            logged += m.logged ? 1 : 0;
        }
    }
    parts << QStringLiteral("%1 written").arg(counts[module_status::written]);
    if (!cut.isEmpty())
        parts << QStringLiteral("%1 cut off during the write (%2)")
                     .arg(QString::number(cut.size()), cut.join(QStringLiteral("; ")));
    if (!unchecked.isEmpty())
        parts << QStringLiteral("%1 written but not read back (%2)")
                     .arg(QString::number(unchecked.size()), unchecked.join(QStringLiteral("; ")));
    if (named > 0 && logged == named)
        parts.back() += QStringLiteral(", logged as interrupted in %1").arg(log_path);
    else if (named > 0 && logged > 0)
        parts.back() += QStringLiteral(", %1 of them logged as interrupted in %2")
                            .arg(QString::number(logged), log_path);
    else if (named > 0)
        parts.back() += QStringLiteral(", not logged");
    if (before_write > 0)
        parts << QStringLiteral("%1 stopped before anything was written").arg(before_write);
    return parts.join(QStringLiteral(", ")) + QStringLiteral("; the ports are closed");
}

QString summary_line(const site_result& result)
{
    const site_counts counts = count_site(result);
    QString buses = counted(counts.buses, "bus", "buses");
    if (counts.unreachable > 0)
        buses += QStringLiteral(" (%1 unreachable)").arg(counts.unreachable);
    QStringList parts;
    for (const module_status status : summary_statuses(result.action)) {
        if (counts[status] > 0)
            parts << QStringLiteral("%1 %2").arg(counts[status]).arg(status_text(status));
    }
    const int modules = result.action == site_action::adopt
                            ? counts[module_status::read] + counts[module_status::missing]
                            : counts.modules;
    QString line = QStringLiteral("site %1: %2, %3")
                       .arg(result.site, buses, counted(modules, "module", "modules"));
    if (!parts.isEmpty())
        line += QStringLiteral(": ") + parts.join(QStringLiteral(", "));
    return line + QStringLiteral(" (%1 s)").arg(result.seconds, 0, 'f', 1);
}

QString english_report_words::label(report_label label) const
{
    switch (label) {
    case report_label::time:
        return QStringLiteral("Time");
    case report_label::user:
        return QStringLiteral("User");
    case report_label::host:
        return QStringLiteral("Computer");
    case report_label::tool:
        return QStringLiteral("Tool");
    case report_label::duration:
        return QStringLiteral("Duration");
    case report_label::summary:
        return QStringLiteral("Summary");
    case report_label::port:
        return QStringLiteral("Port");
    case report_label::bus_map:
        return QStringLiteral("Bus map: addresses 0 to 255");
    case report_label::legend:
        return QStringLiteral("Legend");
    case report_label::address:
        return QStringLiteral("Address");
    case report_label::panel:
        return QStringLiteral("Panel file");
    case report_label::status:
        return QStringLiteral("Status");
    case report_label::details:
        return QStringLiteral("Details");
    case report_label::reply_times:
        return QStringLiteral("Replies (min / median / max)");
    case report_label::no_panel:
        return QStringLiteral("none in the plan");
    case report_label::no_modules:
        return QStringLiteral("No modules on this bus.");
    case report_label::no_module_at:
        return QStringLiteral("no module");
    case report_label::not_scanned:
        return QStringLiteral("not scanned");
    case report_label::open_items:
        return QStringLiteral("Open items");
    case report_label::bus:
        return QStringLiteral("Bus");
    case report_label::problem:
        return QStringLiteral("What is wrong");
    case report_label::unreachable:
        return QStringLiteral("Unreachable");
    case report_label::scan_doubt:
        return QStringLiteral("Scan in doubt");
    case report_label::files:
        return QStringLiteral("Files checked (SHA-256)");
    case report_label::site_file:
        return QStringLiteral("Site file");
    case report_label::log_head:
        return QStringLiteral("Audit log head");
    case report_label::as_built:
        return QStringLiteral("As built");
    case report_label::module:
        return QStringLiteral("module");
    case report_label::key:
        return QStringLiteral("Key");
    case report_label::key_address:
        return QStringLiteral("Target address");
    case report_label::key_line:
        return QStringLiteral("Line");
    case report_label::key_operation:
        return QStringLiteral("Operation");
    case report_label::refresh_period:
        return QStringLiteral("refresh period");
    case report_label::found_in_module:
        return QStringLiteral("none (as read from the module)");
    }
    return {};
}

QString english_report_words::verdict(site_action action, int open) const
{
    if (open > 0)
        return counted(open, "open item", "open items");
    return action == site_action::adopt ? QStringLiteral("Complete: every module was read")
                                        : QStringLiteral("Complete: every module holds its panel");
}

QString english_report_words::operation(std::uint8_t code) const
{
    return operation_name(code);
}

QString english_report_words::action(site_action action) const
{
    switch (action) {
    case site_action::check:
        return QStringLiteral("Site check");
    case site_action::write:
        return QStringLiteral("Site write");
    case site_action::adopt:
        return QStringLiteral("Site adoption");
    }
    return {};
}

QString english_report_words::status(module_status status) const
{
    QString text = status_text(status);
    text[0] = text[0].toUpper();
    return text;
}

QString english_report_words::count(module_status status) const
{
    return status_text(status);
}

QString english_report_words::unreachable_count(int n) const
{
    return n == 1 ? QStringLiteral("bus unreachable") : QStringLiteral("buses unreachable");
}

QString english_report_words::site_size(const site_counts& counts) const
{
    return QStringLiteral("%1, %2 in the plan")
        .arg(counted(counts.buses, "bus", "buses"), counted(counts.modules, "module", "modules"));
}

QString english_report_words::bus_outcome(const bus_result& bus) const
{
    if (bus.reachable())
        return QStringLiteral("reached");
    return QStringLiteral("unreachable: ") +
           (result_ ? bus_failure_text(*result_, bus) : QString());
}

QString english_report_words::scan_warning(const bus_result& bus) const
{
    return scan_doubt_text(bus, options_);
}

QString change_words(const config_difference& d)
{
    return QStringLiteral("%1: %2 → %3")
        .arg(field_words(d), value_words(d, d.expected), value_words(d, d.found));
}

QString english_report_words::difference(const config_difference& d, module_status status) const
{
    if (status == module_status::written)
        return QStringLiteral("%1: was %2, now %3")
            .arg(field_words(d), value_words(d, d.found), value_words(d, d.expected));
    return QStringLiteral("%1: planned %2, found %3")
        .arg(field_words(d), value_words(d, d.expected), value_words(d, d.found));
}

QString english_report_words::detail(const module_result& module) const
{
    return module_detail(result_ ? result_->action : site_action::check, module, options_);
}

QString english_report_words::reply_times(const lorvane::reply_times& t) const
{
    return QStringLiteral("%1 / %2 / %3 ms")
        .arg(t.min_ms, 0, 'f', 1)
        .arg(t.median_ms, 0, 'f', 1)
        .arg(t.max_ms, 0, 'f', 1);
}

QString english_report_words::time(const QDateTime& utc) const
{
    const QDateTime local = utc.toLocalTime();
    const int offset = local.offsetFromUtc() / 60;
    return QLocale(QLocale::English).toString(local, QStringLiteral("d MMMM yyyy, HH:mm:ss")) +
           QStringLiteral(" (UTC%1%2:%3)")
               .arg(QChar(offset < 0 ? u'-' : u'+'))
               .arg(std::abs(offset) / 60, 2, 10, QLatin1Char('0'))
               .arg(std::abs(offset) % 60, 2, 10, QLatin1Char('0'));
}

QString english_report_words::duration(double seconds) const
{
    if (seconds < 60)
        return QStringLiteral("%1 s").arg(seconds, 0, 'f', 1);
    const int whole = int(seconds + 0.5);
    return QStringLiteral("%1 min %2 s").arg(whole / 60).arg(whole % 60);
}

QString english_report_words::map_title(const bus_result& bus) const
{
    return QStringLiteral("Bus map of %1").arg(bus.name);
}

QString english_report_words::map_description(const bus_result& bus) const
{
    QStringList parts;
    for (const module_result& m : bus.modules)
        parts << QStringLiteral("address %1 %2").arg(m.address).arg(status_text(m.status));
    QString rest;
    if (!bus.scanned_any())
        rest = QStringLiteral("Every other address: not scanned.");
    else if (bus.scanned(0) && bus.scanned(255))
        rest = QStringLiteral("Every other address: no module.");
    else
        rest = QStringLiteral("Every other address from %1 to %2: no module; the others: not "
                              "scanned.")
                   .arg(bus.scan_first)
                   .arg(bus.scan_last);
    return QStringLiteral("Addresses 0 to 255 in 16 rows of 16. %1. %2")
        .arg(parts.isEmpty() ? QStringLiteral("No module") : parts.join(QStringLiteral(", ")),
             rest);
}

QString english_report_words::cell_title(int address, const module_result& module) const
{
    return module.panel >= 0
               ? QStringLiteral("Address %1: %2 (%3)")
                     .arg(QString::number(address), status_text(module.status), module.panel_path)
               : QStringLiteral("Address %1: %2")
                     .arg(QString::number(address), status_text(module.status));
}

}  // namespace lorvane::cli
