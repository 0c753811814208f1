// Why a bus misbehaves: the line's counters (line_health) turned into findings, each a kind
// with the figure the front ends put into words; and the short active test of one bus that
// `lorvane-cli health` and the window's line diagnosis run: a scan, K reads of record 0 of
// every module found, and a quiet listen of one second.
#pragma once

#include "bus_scan.h"
#include "line_health.h"
#include "line_operation.h"
#include "module_session.h"
#include "serial_link.h"

#include <QObject>

#include <chrono>
#include <memory>
#include <optional>
#include <vector>

namespace lorvane {

enum class finding_kind {
    shared_address,  // every request to `address` is answered with garbled bytes, others clean
    idle_noise,      // bytes arrive on a quiet line; figure: bytes per second
    echo,            // the adapter hands back what it sends
    slow_replies,    // median reply time ≥ 10 ms above the replies' own line time; figure:
                     // the median in ms; latency_timer_ms where the system shows it
    wrong_speed,     // bytes answer requests but never form a frame
    no_module,       // nothing answers at all
    unstable,        // `address` answers some requests and not others; figure: percent failed
};

struct health_finding
{
    finding_kind kind = finding_kind::no_module;
    std::optional<int> address;
    double figure = 0;
    std::optional<int> latency_timer_ms;

    friend bool operator==(const health_finding&, const health_finding&) = default;
};

// `active`: the counters come from a health run (which listens quietly and reads every
// module K times), not from another operation's traffic. Never a finding on a clean line.
std::vector<health_finding> diagnose(const line_health& health, bool active);

struct health_report
{
    line_health measured;
    std::vector<health_finding> findings;
};

struct health_options
{
    int first = 0;
    int last = 255;
    int samples = 20;  // reads of record 0 per module found
    std::chrono::milliseconds listen{1000};
    std::chrono::milliseconds timeout{1000};  // for each read's reply
    std::chrono::milliseconds scan_wait = DEFAULT_SCAN_WAIT;
};

enum class health_stage { scanning, sampling, listening };

// The active test as one job on the line (its scan, reads and listen queued as operations,
// one at a time). Ends with finished() exactly once; stop() ends it at any moment.
class health_check : public QObject
{
    Q_OBJECT

public:
    explicit health_check(serial_link& link, QObject* parent = nullptr);
    ~health_check() override;

    void start(const health_options& options);
    void stop();
    bool busy() const;

    const health_report& report() const;

Q_SIGNALS:
    // `done` of `total` steps of the current stage.
    void progress(lorvane::health_stage stage, int done, int total);
    // done, port_closed, port_lost or stopped.
    void finished(lorvane::operation_end end);

private:
    class quiet_listen;

    void on_scan_finished(operation_end end);
    void next_read();
    void on_read_finished(operation_end end);
    void on_listen_finished(operation_end end);
    void end_with(operation_end end);
    bool dropped(std::size_t index) const;

    serial_link& link_;
    health_options options_;
    bus_scan scan_;
    std::unique_ptr<module_session> reader_;          // a found module: options.timeout
    std::unique_ptr<module_session> suspect_reader_;  // a suspect: options.scan_wait
    std::unique_ptr<quiet_listen> listen_;
    health_report report_;
    line_counters scan_line_;  // the scan's share of the line counters
    // The addresses to read: those found, then the scan's unanswered suspects (a module may
    // answer there with garbled bytes every time); a suspect is dropped at its first read
    // that ends in silence.
    std::vector<int> addresses_;
    std::size_t found_count_ = 0;
    std::vector<int> dropped_;  // suspects found silent
    std::size_t index_ = 0;
    int reads_done_ = 0;  // of the current address
    int steps_done_ = 0;
    bool junk_seen_ = false;  // during the current read
    bool busy_ = false;
};

// Suspects read after the scan, at most: each costs up to `samples` reads of scan_wait.
inline constexpr std::size_t MAX_HEALTH_SUSPECTS = 16;

}  // namespace lorvane
