// The serial line as the simulator plays it: requests come in from the tool, the modules
// answer them, and their answers reach the tool with the line's own timing: paced at a baud
// rate, after each module's turnaround, held back by a USB adapter's latency timer, and on a
// two-wire half-duplex bus garbled where a request and a reply were on the line at once.
// Plain C++ without Qt or POSIX: the caller gives the clock (monotonic ns) and does the
// writing, so tests can play a line on a clock of their own.
#pragma once

#include "frame.h"
#include "sim_faults.h"
#include "sim_module.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

namespace lorvane::sim {

struct fault_settings
{
    std::uint64_t seed = 0;
    double rate = 0.1;
};

struct line_settings
{
    std::vector<std::uint8_t> addresses{DEFAULT_MODULE_ADDRESS};  // one module each
    std::optional<std::uint64_t> silent_after;                    // for every module
    std::optional<fault_settings> faults;
    bool echo = false;                     // the request comes back in front of its reply
    std::int64_t byte_ns = 0;              // one byte's time on the line; 0: no pacing
    std::int64_t turnaround_ns = 0;        // request's last byte through to the reply's start
    std::int64_t latency_ns = 0;           // a piece's last byte through to its delivery
    bool half_duplex = false;              // one bus for both directions; needs byte_ns > 0
    std::optional<record_values> record0;  // every module's record 0 at start
    // A second module at this address (one of `addresses`): it answers the same requests a
    // fraction of a byte later, so the two replies overlap and the PC gets 8 garbled bytes.
    std::optional<std::uint8_t> twin;
    // Random bytes at random moments while nothing is driven on the line, as a bus without
    // termination or bias picks up; bytes per second on average, 0: none.
    double idle_noise_rate = 0;
    // The modules answer at this many times the line's speed; anything but 1 reaches the PC
    // as about 8 / wrong_speed garbage bytes instead of a reply.
    double wrong_speed = 1;
};

// One byte's time on the line at `baud`, 8N1 (10 bits), rounded up so that paced exchanges
// never take less than the real line would; 0 (no pacing) when baud is 0.
std::int64_t byte_time_ns(std::uint32_t baud) noexcept;

// "22 01 F1 ..." for log lines.
std::string hex(std::span<const std::uint8_t> bytes);

// What a collision leaves of bytes[from..], where `original` holds what `bytes` were before
// any collision: every byte there differs from its original (XOR with a non-zero value drawn
// from `random`; bytes already changed stay as they are) and is never the reply header, and
// no 8 bytes that begin at a header before `from` and take in a changed byte pass as a reply.
// Bytes before `from` are kept.
void garble(std::span<std::uint8_t> bytes, std::span<const std::uint8_t> original, std::size_t from,
            fault_random& random);

class sim_line
{
public:
    // Hands bytes to the tool in one write; returns why not all were taken, or "" when they were.
    using writer = std::function<std::string(std::span<const std::uint8_t>)>;
    using logger = std::function<void(const std::string&)>;

    sim_line(const line_settings& settings, logger log);

    // Bytes that came from the tool at `now_ns`; they take their time on the line after
    // whatever came before them.
    void receive(std::int64_t now_ns, std::span<const std::uint8_t> bytes);
    // Answers the requests that are through the line by `now_ns` and writes what is due to
    // the tool by then.
    void advance(std::int64_t now_ns, const writer& write);
    // When advance() has something to do next; none while the line is idle.
    std::optional<std::int64_t> next_due() const;
    // When the last byte received so far is through the line.
    std::int64_t rx_line_free() const noexcept { return rx_line_free_ns_; }

    const std::vector<sim_module>& modules() const noexcept { return modules_; }

private:
    // A request that has arrived, waiting for the moment its last byte is through the line.
    struct pending_request
    {
        received_request request;
        std::int64_t complete_ns;
    };
    // Bytes that followed one another on the line with no pause, from the tool.
    struct rx_run
    {
        std::uint64_t first_offset;
        std::int64_t start_ns;
        std::uint64_t count;
    };
    // Everything sent in answer to one request: its pieces follow one another, each handed
    // to the tool in writes of its own. Byte i >= bus_begin of a piece is on the line from
    // start_ns + (i - bus_begin) * byte_ns for one byte time; the bytes before bus_begin are
    // the request's echo, which takes no time of its own (it is the request, heard back as
    // it went out) and comes at start_ns, in front of the reply.
    struct piece
    {
        std::size_t begin, bus_begin, end;
        std::int64_t start_ns;
    };
    struct pending_plan
    {
        std::vector<std::uint8_t> bytes;
        std::vector<std::uint8_t> original;  // `bytes` before any collision
        std::vector<piece> pieces;
        std::size_t sent = 0;      // bytes handed to the tool so far
        std::size_t garbled_from;  // bytes.size() while none is garbled
    };

    void answer_due_requests(std::int64_t now);
    void send_due_bytes(std::int64_t now, const writer& write);
    // Idle noise: writes the bytes due by `now` that fall on an undriven line.
    void send_noise(std::int64_t now, const writer& write);
    bool line_driven(std::int64_t now) const;
    // What reaches the PC of `reply` sent at the wrong speed, behind the echo with --echo.
    reply_plan wrong_speed_plan(const frame& request, const frame& reply);
    sim_module& module_for(const frame& request);
    void schedule(std::int64_t ready_ns, const reply_plan& plan);
    // Half duplex: garbles `plan` from its first byte that shares the line with a byte of
    // `run`, and marks every such received byte as collided.
    void collide(pending_plan& plan, const rx_run& run);
    bool collided(const received_request& request) const;
    void forget_old(std::int64_t now);
    const piece& piece_at(const pending_plan& plan, std::size_t index) const;
    std::int64_t delivery_ns(const pending_plan& plan, std::size_t index) const;

    line_settings settings_;
    logger log_;
    std::vector<sim_module> modules_;
    std::optional<fault_injector> faults_;
    fault_random garbage_;
    fault_random noise_;                         // idle noise: its moments and its bytes
    std::optional<std::int64_t> next_noise_ns_;  // none before the first advance()
    request_framer framer_;
    std::int64_t rx_line_free_ns_ = 0;  // when the last received byte is through the line
    std::int64_t tx_line_free_ns_ = 0;  // when the last scheduled byte to the tool is out
    std::deque<pending_request> requests_;
    std::deque<pending_plan> plans_;
    std::deque<rx_run> runs_;                   // half duplex: recent received bytes
    std::set<std::uint64_t> collided_offsets_;  // half duplex: received bytes hit by a reply
};

}  // namespace lorvane::sim
