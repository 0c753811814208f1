// The module side of a recorded line, played back: the simulator answers the n-th request
// it receives with what the capture's line brought back after its n-th request, with the
// recorded delays, whatever that was (replies, junk, pieces, silence). Requests beyond the
// capture's last one get silence.
#pragma once

#include "sim_line.h"

#include <QString>

#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace lorvane::sim {

// One request of a capture and what arrived after it, until the next request.
struct replay_exchange
{
    struct chunk
    {
        std::int64_t delay_ns = 0;  // after the request's time in the capture
        std::vector<std::uint8_t> bytes;
    };
    std::vector<std::uint8_t> request;  // the outbound packet's bytes
    std::vector<chunk> answer;          // the inbound packets, in capture order
};

struct replay_script
{
    QString interface_name;
    std::size_t interface_count = 0;
    std::vector<replay_exchange> exchanges;
    bool truncated = false;  // the file ends inside a block (a capture cut off)
};

// The largest capture read for a replay, in bytes.
inline constexpr qsizetype MAX_REPLAY_FILE = 256 * 1024 * 1024;

// The exchanges of interface `interface` of the capture file `file`, or a message for the
// user naming the file (or the interfaces it has).
std::variant<replay_script, std::string> load_replay(const QString& file, std::uint32_t interface);

class replay_line
{
public:
    replay_line(replay_script script, sim_line::logger log);

    // Bytes that came from the tool at `now_ns` (monotonic): each request completed among
    // them schedules its exchange's answer from `now_ns`.
    void receive(std::int64_t now_ns, std::span<const std::uint8_t> bytes);
    // Writes what is due by `now_ns`.
    void advance(std::int64_t now_ns, const sim_line::writer& write);
    // When advance() has something to write next; none while nothing is scheduled.
    std::optional<std::int64_t> next_due() const;
    // No pacing: received bytes take no line time.
    std::int64_t rx_line_free() const noexcept { return 0; }

private:
    struct due_chunk
    {
        std::int64_t due_ns;
        std::vector<std::uint8_t> bytes;
    };

    replay_script script_;
    sim_line::logger log_;
    request_framer framer_;
    std::size_t next_exchange_ = 0;
    std::deque<due_chunk> due_;  // ordered by due_ns; never more than the capture holds
};

}  // namespace lorvane::sim
