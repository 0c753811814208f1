#include "sim_faults.h"

#include <algorithm>
#include <array>

namespace lorvane::sim {

namespace {

constexpr std::int64_t NS_PER_MS = 1'000'000;

constexpr std::array<std::string_view, FAULT_KIND_COUNT> NAMES = {
    "dropped", "byte-changed", "garbage-in-front", "split",
    "late",    "echo-apart",   "echo-together",    "doubled"};

// Gaps between the pieces of a split reply, and between an echo and the reply after it:
// what a USB adapter's latency timer or a slow module produce.
constexpr std::uint64_t MIN_GAP_MS = 1;
constexpr std::uint64_t MAX_GAP_MS = 10;
// A late reply: long enough to notice, short against the tool's 1000 ms time-out.
constexpr std::uint64_t MIN_LATE_MS = 100;
constexpr std::uint64_t MAX_LATE_MS = 400;

std::vector<std::uint8_t> bytes_of(const frame& f)
{
    return {f.begin(), f.end()};
}

void append(std::vector<std::uint8_t>& to, const frame& f)
{
    to.insert(to.end(), f.begin(), f.end());
}

std::string two_digit_hex(std::uint8_t byte)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    return {digits[byte >> 4], digits[byte & 0x0F]};
}

}  // namespace

std::string_view fault_name(fault_kind kind) noexcept
{
    return NAMES[static_cast<std::size_t>(kind)];
}

std::optional<fault_kind> fault_of_name(std::string_view name) noexcept
{
    for (std::size_t i = 0; i < NAMES.size(); ++i) {
        if (NAMES[i] == name)
            return static_cast<fault_kind>(i);
    }
    return std::nullopt;
}

reply_plan plain_reply(const frame& request, const frame& reply, bool echo)
{
    std::vector<std::uint8_t> bytes;
    if (echo)
        append(bytes, request);
    append(bytes, reply);
    return {std::nullopt, {}, {{0, std::move(bytes)}}};
}

std::uint64_t fault_random::next() noexcept
{
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

std::uint64_t fault_random::below(std::uint64_t n) noexcept
{
    return next() % n;  // the bias is far below anything a test could notice
}

double fault_random::unit() noexcept
{
    return static_cast<double>(next() >> 11) * 0x1.0p-53;
}

reply_plan fault_injector::plan(const frame& request, const frame& reply, bool echo)
{
    if (!(random_.unit() < rate_))
        return plain_reply(request, reply, echo);
    const auto kind = static_cast<fault_kind>(random_.below(FAULT_KIND_COUNT));
    return plan_fault(kind, request, reply, echo);
}

reply_plan fault_injector::plan_fault(fault_kind kind, const frame& request, const frame& reply,
                                      bool echo)
{
    const auto gap_ns = [this] {
        return static_cast<std::int64_t>(MIN_GAP_MS + random_.below(MAX_GAP_MS - MIN_GAP_MS + 1)) *
               NS_PER_MS;
    };
    reply_plan plan{kind, {}, {}};
    std::vector<output_piece>& pieces = plan.pieces;
    switch (kind) {
    case fault_kind::dropped:
        break;
    case fault_kind::byte_changed: {
        const auto position = static_cast<std::size_t>(random_.below(FRAME_SIZE));
        const auto flip = static_cast<std::uint8_t>(1 + random_.below(255));
        frame changed = reply;
        changed[position] ^= flip;
        pieces.push_back({0, bytes_of(changed)});
        plan.detail = "byte " + std::to_string(position) + " " + two_digit_hex(reply[position]) +
                      " -> " + two_digit_hex(changed[position]);
        break;
    }
    case fault_kind::garbage_in_front: {
        const auto count = static_cast<std::size_t>(1 + random_.below(3));
        std::vector<std::uint8_t> bytes;
        for (std::size_t i = 0; i < count; ++i) {
            // Never the reply header: stray bytes must not begin a frame the tool could take.
            auto byte = static_cast<std::uint8_t>(random_.below(255));
            if (byte >= REPLY_HEADER)
                ++byte;
            bytes.push_back(byte);
            plan.detail += (i == 0 ? "" : " ") + two_digit_hex(byte);
        }
        append(bytes, reply);
        pieces.push_back({0, std::move(bytes)});
        break;
    }
    case fault_kind::split: {
        const auto count = static_cast<std::size_t>(2 + random_.below(3));
        // count-1 distinct cut positions among 1..7, ascending.
        std::vector<std::size_t> cuts;
        while (cuts.size() + 1 < count) {
            const auto cut = static_cast<std::size_t>(1 + random_.below(FRAME_SIZE - 1));
            if (std::find(cuts.begin(), cuts.end(), cut) == cuts.end())
                cuts.push_back(cut);
        }
        std::sort(cuts.begin(), cuts.end());
        cuts.push_back(FRAME_SIZE);
        std::size_t start = 0;
        std::string sizes;
        std::string gaps;
        for (const std::size_t end : cuts) {
            const std::int64_t delay = start == 0 ? 0 : gap_ns();
            pieces.push_back({delay,
                              {reply.begin() + static_cast<std::ptrdiff_t>(start),
                               reply.begin() + static_cast<std::ptrdiff_t>(end)}});
            sizes += (start == 0 ? "" : "+") + std::to_string(end - start);
            if (start != 0)
                gaps += (gaps.empty() ? "" : ", ") + std::to_string(delay / NS_PER_MS);
            start = end;
        }
        plan.detail = sizes + " bytes, gaps " + gaps + " ms";
        break;
    }
    case fault_kind::late: {
        const auto late_ms = MIN_LATE_MS + random_.below(MAX_LATE_MS - MIN_LATE_MS + 1);
        pieces.push_back({static_cast<std::int64_t>(late_ms) * NS_PER_MS, bytes_of(reply)});
        plan.detail = std::to_string(late_ms) + " ms";
        break;
    }
    case fault_kind::echo_apart: {
        const std::int64_t gap = gap_ns();
        pieces.push_back({0, bytes_of(request)});
        pieces.push_back({gap, bytes_of(reply)});
        plan.detail = std::to_string(gap / NS_PER_MS) + " ms apart";
        break;
    }
    case fault_kind::echo_together: {
        std::vector<std::uint8_t> bytes = bytes_of(request);
        append(bytes, reply);
        pieces.push_back({0, std::move(bytes)});
        break;
    }
    case fault_kind::doubled: {
        std::vector<std::uint8_t> bytes = bytes_of(reply);
        append(bytes, reply);
        pieces.push_back({0, std::move(bytes)});
        break;
    }
    }
    if (echo) {
        // The adapter hands the request back whatever became of the reply.
        if (pieces.empty() || pieces.front().delay_ns > 0)
            pieces.insert(pieces.begin(), {0, {}});
        auto& first = pieces.front().bytes;
        first.insert(first.begin(), request.begin(), request.end());
    }
    return plan;
}

}  // namespace lorvane::sim
