// What the line's owner learns about a bus from the traffic it makes anyway, so that nothing
// extra goes on the line: per module, how fast and how cleanly it answers; per bus, what
// arrives that no request asked for. Counted as values here; the engine turns them into
// findings and the front ends into words. Every member is bounded: a line that floods noise
// moves counters, it grows no memory.
#pragma once

#include "frame.h"
#include "frame_stream.h"

#include <QElapsedTimer>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace lorvane {

// A request's 8 bytes take 8 × 10 bits at 9600 baud, 8N1: 8.33 ms; so does a reply.
inline constexpr double FRAME_LINE_MS = 8.0 * 10.0 * 1000.0 / 9600.0;

// min, median, p95 and max of a module's reply times, in ms.
struct reply_time_summary
{
    double min = 0;
    double median = 0;
    double p95 = 0;
    double max = 0;
};

// One module (one address) as the line saw it.
struct module_traffic
{
    int address = 0;
    int exchanges = 0;  // requests to it that were answered or given up (its samples)
    int confirmed = 0;  // replies that answered its request
    int timeouts = 0;   // requests to it given up without an answering reply
    int retries = 0;    // requests sent to it again after a time-out
    int garbled = 0;    // answers to its request that formed no frame (junk while it was due)
    int foreign = 0;    // valid replies while its request was out that answered another one
    int troubled = 0;   // exchanges that timed out or were garbled, each counted once
    // Reply times in ms, from the request's last byte out (its write plus FRAME_LINE_MS) to
    // the reply's last byte in; at most MAX_REPLY_SAMPLES kept, a fair sample beyond that.
    std::vector<double> reply_ms;
    std::optional<reply_time_summary> summary() const;  // none before the first reply
};
inline constexpr std::size_t MAX_REPLY_SAMPLES = 1024;

// The operating system's error counters of a local port, since the port was opened.
struct os_line_errors
{
    std::uint64_t framing = 0;
    std::uint64_t parity = 0;
    std::uint64_t overrun = 0;  // the UART's and the driver's buffers
    std::uint64_t breaks = 0;
};

// The bus as a whole.
struct line_counters
{
    double seconds = 0;                // how long the line was watched
    std::uint64_t received_bytes = 0;  // everything that arrived
    std::uint64_t requests_sent = 0;
    std::uint64_t idle_bytes = 0;             // arrived while no request was out
    std::uint64_t echoed_requests = 0;        // requests the adapter handed back
    std::uint64_t unframed_bytes = 0;         // bytes that never formed a frame (junk)
    double idle_seconds = 0;                  // of `seconds`, how long no request was out
    std::uint64_t idle_unframed_bytes = 0;    // of idle_bytes, the junk (noise, not late replies);
                                              // counted in unframed_bytes too
    std::optional<os_line_errors> os_errors;  // where the system gives them
    std::optional<std::uint64_t> line_state_notices;  // RFC 2217 NOTIFY-LINESTATE received
    std::optional<std::uint8_t> line_state_errors;    // the error bits (overrun, parity,
                                                      // framing, break) seen in them, or-ed
    std::optional<int> latency_timer_ms;  // the USB adapter's latency timer, where shown
};

// Everything the line saw since it was last reset (an open, or a health run's start).
struct line_health
{
    std::vector<module_traffic> modules;  // by address, only the addresses requests went to
    line_counters line;
};

// The bookkeeping behind line_health, fed by the line's owner as the traffic passes: each
// request as it goes out, each chunk and each item as it arrives (before the running
// operation takes it, since that may send the next request), and each operation's end. A
// request is out from its write until a reply that answers it arrives, or until the next
// request or the operation's end (then it was a time-out for its address). A scan's probes
// (sent without discarding) are out together until the scan ends: a reply names its module
// and is timed from the last probe to that address; junk during a scan belongs to no module.
class line_watch
{
public:
    line_watch() { reset(); }

    void reset();
    // `scan`: the request goes out without discarding what came before it.
    void request_out(const frame& request, bool scan);
    void chunk_in(std::size_t bytes);
    void item_in(const frame_stream::item& item);
    // `bytes` waiting to become a frame were dropped with the receive side: junk that
    // answered a request (they came while one was out, or before its discard).
    void tail_dropped(std::size_t bytes);
    void operation_ended();

    // The counters so far, without the device's own (OS errors, line state, latency timer).
    line_health snapshot() const;

private:
    struct exchange
    {
        frame request{};
        std::int64_t sent_ns = 0;
        bool garbled = false;
    };
    struct module_state
    {
        module_traffic traffic;
        std::uint64_t replies_seen = 0;  // for the fair sample beyond MAX_REPLY_SAMPLES
    };

    module_state& module(int address);
    void close_exchange(bool answered);
    void add_reply_time(module_state& module, std::int64_t from_ns);
    bool idle() const { return !out_ && !scanning_; }
    void leave_idle();
    void enter_idle();

    QElapsedTimer clock_;
    std::int64_t now_ns_ = 0;  // the arrival of the chunk being taken
    std::array<std::optional<module_state>, 256> modules_;
    std::array<std::int64_t, 256> probed_ns_{};  // a scan's last probe to each address; -1: none
    std::optional<exchange> out_;
    bool scanning_ = false;
    frame last_request_{};
    bool last_unanswered_ = false;  // the request sent last was given up
    std::int64_t idle_since_ns_ = 0;
    std::int64_t idle_ns_ = 0;  // closed idle stretches
    std::uint64_t random_ = 0x9E3779B97F4A7C15ull;
    line_counters line_;
};

}  // namespace lorvane
