// What the line's owner learns about a bus from the traffic it makes anyway, so that nothing
// extra goes on the line: per module, how fast and how cleanly it answers; per bus, what
// arrives that no request asked for. Counted as values here; the engine turns them into
// findings and the front ends into words. Every member is bounded: a line that floods noise
// moves counters, it grows no memory.
#pragma once

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
    std::uint64_t idle_bytes = 0;                     // arrived while no request was out
    std::uint64_t echoed_requests = 0;                // requests the adapter handed back
    std::uint64_t unframed_bytes = 0;                 // bytes that never formed a frame (junk)
    std::optional<os_line_errors> os_errors;          // where the system gives them
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

}  // namespace lorvane
