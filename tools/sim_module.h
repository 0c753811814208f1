// The panel module as the simulator plays it: its address, its 17 records and the rules
// by which it answers requests, plus the framer that cuts a received byte stream into
// requests. Plain C++ without Qt or POSIX so tests can drive it frame by frame.
#pragma once

#include "frame.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

// A namespace of its own: the tool's configuration model has its own record types and
// counts under the same names in lorvane::.
namespace lorvane::sim {

inline constexpr std::size_t RECORD_COUNT = 17;  // record 0 (refresh period) + one per key
inline constexpr std::uint8_t LAST_RECORD = 16;
inline constexpr std::uint8_t DEFAULT_MODULE_ADDRESS = 1;
inline constexpr std::uint8_t DEFAULT_REFRESH_PERIOD = 50;
inline constexpr std::uint8_t DEFAULT_KEY_TARGET = 1;
inline constexpr std::uint8_t DEFAULT_KEY_OPERATION = 1;

// The three value bytes of one record, in wire order (v1, v2, v3).
using record_values = std::array<std::uint8_t, 3>;
using record_table = std::array<record_values, RECORD_COUNT>;

// What the module makes of one request; everything but `answered` means no reply.
enum class request_verdict {
    answered,
    bad_checksum,
    bad_header,
    other_address,
    bad_function,
    bad_record,
    silenced,  // addressed to it and valid, but its reply budget is spent
};

// A short lower-case description of a verdict, for log lines.
std::string_view verdict_text(request_verdict verdict) noexcept;

class sim_module
{
public:
    explicit sim_module(std::uint8_t address = DEFAULT_MODULE_ADDRESS);

    // Record 0 = (50, 0, 0); record k = (1, k, 1): the tool's own defaults.
    static record_table default_records() noexcept;

    std::uint8_t address() const noexcept { return address_; }
    const record_table& records() const noexcept { return records_; }
    // Throws std::out_of_range when index > LAST_RECORD.
    const record_values& record(std::size_t index) const;
    // Throws std::out_of_range when index > LAST_RECORD.
    void set_record(std::size_t index, const record_values& values);

    // Answer only the first `limit` requests that would get a reply, then stay silent;
    // std::nullopt (the default) answers for ever. A silenced request changes nothing:
    // the module behaves as if it no longer heard the line.
    void set_silent_after(std::optional<std::uint64_t> limit) noexcept { silent_after_ = limit; }
    std::optional<std::uint64_t> silent_after() const noexcept { return silent_after_; }
    // Replies given so far (each counts against the silent-after budget).
    std::uint64_t answered_count() const noexcept { return answered_; }

    // What answer() would do with this request, without changing anything.
    request_verdict check(const frame& request) const noexcept;

    // Applies a request and returns the reply to send, or nothing when the request is to be
    // ignored (bad checksum or header, other address, unknown function, record > 16, silenced).
    std::optional<frame> answer(const frame& request);

private:
    std::uint8_t address_;
    record_table records_;
    std::optional<std::uint64_t> silent_after_;
    std::uint64_t answered_ = 0;
};

// One request found in the received byte stream.
struct received_request
{
    frame bytes{};
    std::uint64_t offset = 0;      // position of its first byte among all bytes fed so far
    std::int64_t first_stamp = 0;  // stamp given with its first byte
    std::int64_t last_stamp = 0;   // stamp given with its last byte
};

// Cuts a byte stream into requests. Bytes may come in chunks of any size; whenever the
// eight bytes at hand are not an accepted request (header 0x55 and matching checksum) the
// oldest one is dropped and the window slides on by one byte, so the framer falls back
// into step after garbage, a lost byte or a frame with a bad checksum.
class request_framer
{
public:
    // Takes one byte with a caller-chosen stamp (e.g. its arrival time in ns); returns the
    // request it completes, if any.
    std::optional<received_request> push(std::uint8_t byte, std::int64_t stamp = 0);
    // Takes a chunk whose bytes all carry `stamp`; returns the requests it completes, in order.
    std::vector<received_request> feed(std::span<const std::uint8_t> bytes, std::int64_t stamp = 0);

    // Bytes held that could still begin a request (0..7).
    std::size_t buffered() const noexcept { return count_; }
    // Bytes dropped while looking for the next request.
    std::uint64_t discarded() const noexcept { return discarded_; }
    // Bytes taken so far: the offset the next pushed byte will have.
    std::uint64_t fed() const noexcept { return next_offset_; }
    // Forgets buffered bytes; offsets keep counting.
    void clear() noexcept { count_ = 0; }

private:
    void drop_front(std::size_t n) noexcept;

    frame window_{};
    std::array<std::int64_t, FRAME_SIZE> stamps_{};
    std::size_t count_ = 0;
    std::uint64_t next_offset_ = 0;  // offset the next pushed byte will have
    std::uint64_t discarded_ = 0;
};

}  // namespace lorvane::sim

namespace lorvane {
using sim::request_framer;
using sim::sim_module;
}  // namespace lorvane
