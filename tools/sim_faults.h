// Faults of a bad serial line, as the simulator plays them: each reply may be lost,
// damaged, cut into pieces, delayed, echoed or doubled on its way to the tool. The choice
// is pseudo-random but fixed by a seed, so a run that showed a problem can be repeated.
// Plain C++ without Qt or POSIX, shared by the simulator program and its tests.
#pragma once

#include "frame.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lorvane::sim {

enum class fault_kind {
    dropped,           // the reply never arrives
    byte_changed,      // one of its 8 bytes arrives changed
    garbage_in_front,  // 1..3 stray bytes arrive just before it
    split,             // it arrives in 2..4 pieces with short gaps
    late,              // it arrives late, but well inside the tool's 1 s time-out
    echo_apart,        // the request comes back first, a few ms before the reply
    echo_together,     // the request comes back first, in the same chunk as the reply
    doubled,           // it arrives twice in one chunk
};
inline constexpr int FAULT_KIND_COUNT = 8;

// "dropped", "byte-changed", "garbage-in-front", "split", "late", "echo-apart",
// "echo-together", "doubled": the names the simulator's log uses.
std::string_view fault_name(fault_kind kind) noexcept;
std::optional<fault_kind> fault_of_name(std::string_view name) noexcept;

// True for faults after which the tool cannot find the reply (lost, or damaged or put out
// of step); false for those that only change how correct bytes arrive.
constexpr bool fault_loses_reply(fault_kind kind) noexcept
{
    return kind == fault_kind::dropped || kind == fault_kind::byte_changed ||
           kind == fault_kind::garbage_in_front;
}

// Bytes handed to the line in one write, `delay_ns` after the previous piece (or after the
// request has been taken in, for the first piece).
struct output_piece
{
    std::int64_t delay_ns = 0;
    std::vector<std::uint8_t> bytes;
};

// How one reply goes out.
struct reply_plan
{
    std::optional<fault_kind> fault;  // none: the plain reply
    std::string detail;               // what the fault did, for the log ("2+6 bytes, 3 ms apart")
    std::vector<output_piece> pieces;
};

// The plain reply, in one piece; with `echo`, the request in front of it in the same piece,
// as an RS-485 adapter without echo suppression hands it back.
reply_plan plain_reply(const frame& request, const frame& reply, bool echo);

// A small, fully specified generator (SplitMix64), so a seed means the same faults with
// every compiler and standard library.
class fault_random
{
public:
    explicit fault_random(std::uint64_t seed) noexcept : state_(seed) {}
    std::uint64_t next() noexcept;
    // A whole number in [0, n), n > 0.
    std::uint64_t below(std::uint64_t n) noexcept;
    // A number in [0, 1).
    double unit() noexcept;

private:
    std::uint64_t state_;
};

class fault_injector
{
public:
    // Each reply meets a fault with probability `rate` (0..1); the kind and its details
    // are drawn uniformly.
    fault_injector(std::uint64_t seed, double rate) noexcept : random_(seed), rate_(rate) {}

    // How the reply to `request` goes out; `echo` as for plain_reply, for the whole line.
    reply_plan plan(const frame& request, const frame& reply, bool echo);

    // The plan for a given fault, drawing only its details.
    reply_plan plan_fault(fault_kind kind, const frame& request, const frame& reply, bool echo);

private:
    fault_random random_;
    double rate_;
};

}  // namespace lorvane::sim
