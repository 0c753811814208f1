// A run over a whole site, for any front end: every bus at once, each on a link of its own,
// all on the one event loop. On each bus, in turn: the port opened (a usb:SERIAL port found
// by its adapter's serial number first), a scan where the action has one, then each module:
//
//   check   read, compare with its panel: same, different, missing (never answered), failed
//           (answered the scan or some records, then went silent); modules that answered the
//           scan but no panel names: unexpected
//   write   read; unchanged when it holds its panel (unless write_all), otherwise written and
//           read back: written, or failed; missing when the first read gets no answer
//   adopt   read every module the scan found
//
// A bus inside TLS is opened with the run's network options, as read opens its URL: stored
// pins first, then the system's authorities or a CA file, then a client certificate. Where
// the run asks for it, a bus behind a certificate nobody vouches for asks its front end
// (certificate_unknown) and waits, the other buses going on; answer_trust() says whether
// the server is now trusted (its pin stored), and the bus opens again or ends unreachable.
//
// One bus failing never stops another. It reports per module as signals and finishes once,
// with the whole result. stop() ends every bus at once: nothing more is sent.
#pragma once

#include "audit_log.h"
#include "bus_scan.h"
#include "line_capture.h"
#include "module_session.h"
#include "site_file.h"
#include "site_loader.h"
#include "site_result.h"
#include "tls_settings.h"

#include <QElapsedTimer>
#include <QObject>

#include <memory>
#include <variant>
#include <vector>

namespace lorvane {

struct site_run_options
{
    site_action action = site_action::check;
    bool scan = true;        // check: scan each bus before its modules are read
    bool write_all = false;  // write: write modules that hold their panel already, too
    session_options session;
    scan_options scan_range;  // check, adopt
    // How every bus inside TLS is trusted, built once by the front end (lorvane-cli from its
    // command line, the window with default_network_options()).
    network_options network;
    // A bus behind an unknown certificate asks (site_run::certificate_unknown) instead of
    // ending unreachable at once.
    bool ask_trust = false;
    // Where every bus's bytes are recorded, one interface per bus (its port as the site
    // gives it), when a front end asked for a capture; it outlives the run. Null: none.
    line_capture* capture = nullptr;
};

// What a run of `action` over `site` holds before it begins, as the front ends show it:
// every bus, and on each (but for adopt, which finds its modules) one module not reached per
// panel, in the site file's order.
site_result planned_result(const site_plan& site, site_action action);

// The device bus `bus`'s port names now: a usb:SERIAL port as the one adapter plugged in with
// that serial number, any other port as it stands (trimmed); the bus's failure when no
// adapter, or more than one, has the number.
std::variant<QString, bus_failure> resolve_bus_port(const site_bus& bus);

class bus_runner;

class site_run final : public QObject
{
    Q_OBJECT

public:
    // `site` with its panels loaded (site_loader), its ports checked.
    site_run(const site_plan& site, const site_run_options& options, QObject* parent = nullptr);
    ~site_run() override;

    // For a write: each module whose write began gets its line in `log` (open already), as
    // `who`, before the bus goes on, naming its panel file's SHA-256 from `digests` (the
    // files the site was loaded from). A check or a write then ends with its run line, and
    // result().log_head is the log's head. A log that cannot be appended stops the whole run
    // (result().log_failure). Without a log, nothing is logged.
    void set_audit_log(audit_log* log, const audit_identity& who, const site_digests& digests = {});

    // Starts every bus; ends with finished(), never from inside start(). A second start is
    // ignored.
    void start();
    // Stops every bus at once: the transfers under way end as interrupted, the modules not
    // yet begun as not reached, the ports are closed. finished() follows from the event loop.
    void stop();

    // The answer to certificate_unknown(bus, ...): `trusted` when the front end has stored
    // the server's pin (known_servers::store): the bus opens again and goes on; otherwise it
    // ends unreachable with the certificate's failure. Ignored when the bus does not wait
    // for one (it was stopped meanwhile, or answered already).
    void answer_trust(int bus, bool trusted);

    bool running() const { return running_; }
    const site_result& result() const { return result_; }

Q_SIGNALS:
    // Bus `bus` (index in the site) has its port open.
    void bus_opened(int bus);
    // With ask_trust: bus `bus` reached a TLS server whose certificate is neither verified
    // nor pinned, and nothing was sent; it waits for answer_trust(bus, ...). Once per bus and
    // run at most; stop() ends a waiting bus like one still opening.
    void certificate_unknown(int bus, const lorvane::server_certificate& certificate);
    void scan_progress(int bus, int probed, int total);
    // A module's transfer begins (first read, write or read-back), and how far it has come.
    void module_started(int bus, int address, lorvane::transfer_step step);
    void module_progress(int bus, int address, int records_confirmed);
    // A module has its status (result().buses[bus] has it too).
    void module_done(int bus, const lorvane::module_result& module);
    // A bus is through: every module has its status, its port is closed.
    void bus_done(int bus, const lorvane::bus_result& bus_result);
    // The run is over; once per start.
    void finished(const lorvane::site_result& result);

private:
    friend class bus_runner;

    void resolve_and_begin();
    void on_bus_done(int bus);
    // Writes the log line of module `module` of bus `bus`; false (and the run stopping) when
    // the log could not be appended. Marks the module as logged.
    bool log_module(int bus, module_result& module, audit_action action);

    site_plan site_;
    site_run_options options_;
    site_result result_;
    std::vector<std::unique_ptr<bus_runner>> runners_;
    audit_log* log_ = nullptr;
    audit_identity who_;
    site_digests digests_;
    QElapsedTimer clock_;
    bool running_ = false;
    bool started_ = false;
};

}  // namespace lorvane
