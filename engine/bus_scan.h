// Finding the modules on a line, at the line's own pace. A first pass probes every address
// of the range back to back, one probe every PROBE_PITCH, without waiting for answers and
// without discarding anything: every reply names its module, so one that comes late (a
// slow module, an adapter that holds bytes for its latency timer) still says who answered.
// Bytes that form no reply mean that some module may have answered there (on a two-wire
// line a reply that meets the next probe is garbled, and that probe is lost); the
// addresses that may have caused them get a second, patient look afterwards: one probe at
// a time, each waiting up to `wait` for its answer, sent again up to `retries` times.
#pragma once

#include "frame_stream.h"
#include "serial_link.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <optional>
#include <set>
#include <span>
#include <vector>

namespace lorvane {

// A probe and its reply take 16 byte times at 9600 baud, 8N1 (16.7 ms); the pitch leaves
// 1.8 ms between a prompt module's reply and the next probe.
inline constexpr std::chrono::microseconds PROBE_PITCH{18'500};
// The patient look's wait for each answer, and how long the first pass listens after its
// last probe: room for a module that turns around in 40 ms behind a 16 ms latency timer
// (8.3 + 40 + 8.3 + 16 = 73 ms), with margin.
inline constexpr std::chrono::milliseconds DEFAULT_SCAN_WAIT{100};

struct scan_options
{
    int first = 0;
    int last = 255;
    std::chrono::milliseconds wait = DEFAULT_SCAN_WAIT;
    int retries = 0;  // further probes of an address in the patient look
};

struct found_module
{
    int address;
    int refresh_period;
};

enum class scan_outcome { done, port_lost, stopped };

class bus_scan final : public QObject
{
    Q_OBJECT

public:
    explicit bus_scan(serial_link& link, QObject* parent = nullptr);
    ~bus_scan() override;

    // Scans options.first..options.last on the open port; ends with finished(). A start
    // while a scan runs is ignored.
    void start(const scan_options& options);
    // Ends a running scan with scan_outcome::stopped; nothing more is sent.
    void stop();

    bool running() const { return phase_ != phase::idle; }
    // The modules found so far, in the order found.
    const std::vector<found_module>& found() const { return found_; }

Q_SIGNALS:
    // A module answered a probe: an accepted read reply for record 0 naming its address.
    void module_found(int address, int refresh_period);
    // `probed` addresses of `total` have had their first probe.
    void progress(int probed, int total);
    // The scan is over; emitted once per start, never from inside start().
    void finished(lorvane::scan_outcome outcome);

private:
    enum class phase { idle, first_pass, listening, patient };

    void on_timer();
    void on_bytes(const QByteArray& bytes);
    // The first `known_junk` bytes of the first item were seen before, behind junk whose
    // suspects have been named already.
    void take(const std::vector<frame_stream::item>& items, std::size_t known_junk);
    void suspect_around(std::span<const std::uint8_t> junk);
    void next_patient_probe();
    void probe(int address);
    void finish(scan_outcome outcome);
    std::int64_t now_us() const { return clock_.nsecsElapsed() / 1000; }

    serial_link& link_;
    scan_options options_;
    phase phase_ = phase::idle;
    QTimer timer_;
    QElapsedTimer clock_;
    frame_stream stream_;
    std::vector<found_module> found_;
    std::vector<std::optional<std::int64_t>> probed_at_us_;  // by address - first
    std::set<int> suspects_;                                 // for the patient look
    int next_address_ = 0;                                   // of the first pass
    int patient_address_ = -1;
    int patient_retries_left_ = 0;
    // The stream holds bytes that came right behind junk: whatever they turn out to be,
    // they arrived with that junk, whose suspects have been named already.
    bool tail_after_junk_ = false;
};

}  // namespace lorvane
