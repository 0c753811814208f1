#include "frame_stream.h"

#include <algorithm>

namespace lorvane {

frame frame_stream::item::as_frame() const
{
    frame f{};
    std::copy_n(bytes.begin(), std::min(bytes.size(), FRAME_SIZE), f.begin());
    return f;
}

// A frame found out of step may be stray bytes that happen to pass, overlapping a reply that
// begins at the next 8-byte step; when that reply is already here whole, it wins.
bool frame_stream::reply_at_next_step(std::size_t at) const
{
    const std::size_t off = std::size_t((consumed_ + at) % FRAME_SIZE);
    if (off == 0)
        return false;
    const std::size_t step = at + (FRAME_SIZE - off);
    if (step + FRAME_SIZE > pending_.size())
        return false;
    frame f{};
    std::copy_n(pending_.begin() + std::ptrdiff_t(step), FRAME_SIZE, f.begin());
    return reply_accepted(f);
}

std::vector<frame_stream::item> frame_stream::feed(std::span<const std::uint8_t> bytes)
{
    pending_.insert(pending_.end(), bytes.begin(), bytes.end());
    std::vector<item> items;
    std::vector<std::uint8_t> junk;
    std::uint64_t junk_at = 0;
    const auto end_junk = [&] {
        if (!junk.empty())
            items.push_back({item::kind::junk, std::move(junk), junk_at});
        junk.clear();
    };
    const auto add_junk = [&](std::size_t at, std::uint8_t byte) {
        if (junk.empty())
            junk_at = consumed_ + at;
        junk.push_back(byte);
    };
    std::size_t at = 0;
    while (at < pending_.size()) {
        const std::size_t left = pending_.size() - at;
        const std::uint8_t first = pending_[at];
        const bool header = first == REPLY_HEADER || first == REQUEST_HEADER;
        if (left < FRAME_SIZE) {
            if (header)
                break;  // may still become a frame
            add_junk(at, first);
            ++at;
            continue;
        }
        frame f{};
        std::copy_n(pending_.begin() + std::ptrdiff_t(at), FRAME_SIZE, f.begin());
        const bool reply = reply_accepted(f);
        if ((reply || request_accepted(f)) && !reply_at_next_step(at)) {
            end_junk();
            items.push_back({reply ? item::kind::reply : item::kind::echo,
                             std::vector<std::uint8_t>(f.begin(), f.end()), consumed_ + at});
            at += FRAME_SIZE;
        } else {
            add_junk(at, first);  // out of step: look again one byte further
            ++at;
        }
    }
    end_junk();
    pending_.erase(pending_.begin(), pending_.begin() + std::ptrdiff_t(at));
    consumed_ += at;
    return items;
}

std::vector<frame_stream::item> frame_stream::flush()
{
    std::vector<item> items;
    const std::size_t size = pending_.size();
    if (size > 0)
        items.push_back({item::kind::junk, std::move(pending_), consumed_});
    consumed_ += size;
    pending_.clear();
    return items;
}

}  // namespace lorvane
