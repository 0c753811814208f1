// Cuts a byte stream that nobody discards into frames, for the bus scan: there each probe
// goes out while earlier replies may still be on their way, and every byte counts.
// Accepted replies and requests (an adapter that hands back what the PC sent) come out
// whole; bytes that form no frame come out as junk, which on a bus means that something
// was garbled, most often a reply that met a request on a two-wire line.
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

        // The frame of a reply or echo.
        frame as_frame() const;
    };

    // Appends `bytes` and returns the frames and junk they complete, in stream order. A
    // tail that may still become a frame (it starts with a header byte) waits for more.
    std::vector<item> feed(std::span<const std::uint8_t> bytes);

    // The waiting tail as junk: no more bytes are coming to complete it.
    std::vector<item> flush();

    // Drops the waiting tail without a word (the receive side was discarded).
    void clear() { pending_.clear(); }

    std::size_t waiting() const { return pending_.size(); }

private:
    std::vector<std::uint8_t> pending_;
};

}  // namespace lorvane
