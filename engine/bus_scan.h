// Finding the modules on a line, at the line's own pace, as an operation on the line.
//
// A pass probes every address of the range back to back, one probe every PROBE_PITCH, without
// waiting for answers and without discarding anything: every reply names its module, so one
// that comes late (a slow module, an adapter that holds bytes for its latency timer) still says
// who answered. After its last probe the pass listens for `wait`, the time every address is
// given to answer.
//
// Bytes that form no reply mean that some module may have answered there: on a two-wire line
// a reply that meets the next probe is garbled, and that probe is lost. Every address probed
// within `wait` before such junk arrived is a suspect, and so is every probed address the junk
// names behind a reply header. Suspects get a second, patient look: one probe at a time, each
// waiting up to `wait` for its answer, sent again up to `retries` times. When a module the
// junk names answers now (one not known before the junk came), that module's reply was the
// junk; its other suspects are spared, and those probed while that reply may have been on the
// line (their probe may have been lost) get a pass of their own. Junk that no module is found
// to account for is counted as doubt: a module may have been missed. With `retries`, the
// addresses that stayed silent get up to that many more passes (or, with passes_on_doubt_only,
// only while such doubt is left). The second look of a line that is mostly noise ends within
// the time its pass took, and the scan says the line is noisy.
#pragma once

#include "line_operation.h"
#include "serial_link.h"

#include <QElapsedTimer>
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
// How long each address is given to answer: room for a module that starts its reply 100 ms
// after the request behind a 32 ms latency timer (8.3 + 100 + 8.3 + 32 = 149 ms), with margin.
inline constexpr std::chrono::milliseconds DEFAULT_SCAN_WAIT{155};

struct scan_options
{
    int first = 0;
    int last = 255;
    std::chrono::milliseconds wait = DEFAULT_SCAN_WAIT;
    int retries = 0;  // further probes of a suspect, and further passes over silent addresses
    // Further passes only while garbled replies leave doubt: for a scan whose modules are read
    // anyway (a site check), where a pass over a clean line would only double its time.
    bool passes_on_doubt_only = false;
};

struct found_module
{
    int address;
    int refresh_period;
};

// How a scan ended: done, port_closed, port_lost or stopped.
using scan_outcome = operation_end;

class bus_scan final : public line_operation
{
    Q_OBJECT

public:
    explicit bus_scan(serial_link& link, QObject* parent = nullptr);

    // Queues a scan of options.first..options.last behind whatever runs on the line; ends
    // with finished(), never from inside start(). A start while the scan is busy is ignored.
    void start(const scan_options& options);

    // The modules found so far, in the order found.
    const std::vector<found_module>& found() const { return found_; }
    // Garbled replies no module was found to account for: a module may have been missed.
    int garbled() const;
    // True when the second look was cut short because the line kept sending junk; the
    // suspects it left unchecked are counted by unchecked().
    bool noisy() const { return noisy_; }
    int unchecked() const { return unchecked_; }
    // The suspects that had their second look and still gave no clean answer, in address
    // order: a module may be there whose replies are garbled every time.
    std::vector<int> unanswered_suspects() const;
    // The address probed last, and whether it was a second look rather than a pass.
    int current_address() const { return current_address_; }
    bool second_look() const { return phase_ == phase::patient; }

Q_SIGNALS:
    // A module answered a probe: an accepted read reply for record 0 naming its address.
    void module_found(int address, int refresh_period);
    // `done` probes of `total` known so far have gone out; `total` grows as suspects appear
    // and shrinks as they are spared. Never after finished().
    void progress(int done, int total);

private:
    enum class phase { idle, pass, listening, patient };

    // One piece of junk: how many replies it may hold, and who may have sent it.
    struct junk_record
    {
        int replies = 1;  // one per 8 bytes, at least one
        int found = 0;    // modules found among its suspects since it came
        int pass = 0;     // the pass it came in (-1: during a second look)
        std::int64_t arrived_us = 0;
        std::optional<std::int64_t> owner_probed_us;  // a module it named was found: its probe
        std::set<int> known_before;                   // found before it came: it cannot be theirs
        std::vector<int> named;  // addresses behind a reply header in it, in order
        // Addresses probed within `wait` before it came, newest first, with their probe time.
        std::vector<std::pair<std::int64_t, int>> window;
        bool resolved() const { return found >= replies; }
        bool suspects(int address) const;
        // Accounted for by a module it named: only the probes lost under it are left.
        bool spared() const;
        // The suspects still worth a look: all of them, or once a module it named has
        // accounted for it, those probed while that module's reply may have been on the line.
        std::vector<int> candidates() const;
    };

    void begin() override;
    item_fate take(const frame_stream::item& item) override;
    void chunk_taken() override;
    void ending(operation_end end) override;

    void on_timer();
    void start_pass(std::vector<int> addresses);
    void next_patient_probe();
    std::optional<int> next_suspect() const;
    std::vector<int> lost_probes() const;
    int suspects_left() const;
    void end_of_round();
    void take_reply(const frame& reply);
    void take_junk(std::span<const std::uint8_t> junk);
    void probe(int address);
    void report_progress();
    bool known(int address) const;
    bool probed(int address) const;
    std::int64_t now_us() const { return clock_.nsecsElapsed() / 1000; }

    serial_link& link_;
    scan_options options_;
    phase phase_ = phase::idle;
    QTimer timer_;
    QElapsedTimer clock_;
    std::vector<found_module> found_;
    std::vector<std::optional<std::int64_t>> probed_at_us_;  // by address - first: last probe
    std::vector<int> pass_;                                  // addresses of the current pass
    std::size_t pass_next_ = 0;
    int pass_index_ = 0;
    std::int64_t pass_started_us_ = 0;
    std::int64_t patient_deadline_us_ = 0;  // the noise bound of this round's second look
    std::vector<junk_record> junk_;
    std::set<int> looked_at_;     // have had their second look
    std::set<int> probed_again_;  // went out again in a pass of lost probes
    int patient_address_ = -1;
    int patient_retries_left_ = 0;
    int passes_left_ = 0;
    int done_ = 0;
    int pass_total_ = 0;
    int current_address_ = 0;
    bool noisy_ = false;
    int unchecked_ = 0;
    // Bytes at the stream's tail that came right behind junk: whatever they turn out to be,
    // they arrived with that junk, whose suspects have been named already.
    std::size_t known_tail_ = 0;
    bool first_item_of_chunk_ = true;
    bool last_item_was_junk_ = false;
    bool chunk_had_items_ = false;
};

}  // namespace lorvane
