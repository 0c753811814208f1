// Cuts the received byte stream into frames, the one way the line does it for every operation.
// Accepted replies and requests (an adapter that hands back what the PC sent) come out
// whole; bytes that form no frame come out as junk, which on a bus means that something
// was garbled, most often a reply that met a request on a two-wire line. After junk the
// search for the next frame goes on one byte further, so a reply behind stray bytes is found;
// each item carries its position since the stream was last cleared, so a user that keeps to
// the line's 8-byte steps (a reply counts only where a block of 8 would begin) can tell. A
// frame out of step that overlaps a whole reply at the next step gives way to that reply.
#pragma once

#include "frame.h"

#include <cstdint>
#include <span>
#include <vector>

namespace lorvane {

class frame_stream
{
public:
    struct item
    {
        enum class kind { reply, echo, junk };
        kind what;
        std::vector<std::uint8_t> bytes;  // 8 for a reply or an echo; 1 or more for junk
        std::uint64_t at = 0;             // position of its first byte since the last clear()

        // True when the item begins where an 8-byte block would: in step with the exchange.
        bool in_step() const { return at % FRAME_SIZE == 0; }

        // The frame of a reply or echo.
        frame as_frame() const;
    };

    // Appends `bytes` and returns the frames and junk they complete, in stream order. A
    // tail that may still become a frame (it starts with a header byte) waits for more.
    std::vector<item> feed(std::span<const std::uint8_t> bytes);

    // The waiting tail as junk: no more bytes are coming to complete it.
    std::vector<item> flush();

    // Drops the waiting tail without a word (the receive side was discarded); positions
    // count from here again.
    void clear()
    {
        pending_.clear();
        consumed_ = 0;
    }

    std::size_t waiting() const { return pending_.size(); }

private:
    bool reply_at_next_step(std::size_t at) const;

    std::vector<std::uint8_t> pending_;  // at most 7 bytes between calls
    std::uint64_t consumed_ = 0;         // bytes handed out as items since the last clear()
};

}  // namespace lorvane
