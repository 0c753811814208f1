// A line operation for tests: it sends the requests it is given when it begins, or whatever
// the test sends through it, and records every item it hears.
#pragma once

#include "line_operation.h"
#include "serial_link.h"

#include <functional>
#include <vector>

// An operation that sends what the test says and records every item it hears.
class recording_operation final : public lorvane::line_operation
{
public:
    std::vector<lorvane::frame_stream::item> items;
    std::vector<lorvane::frame> requests;  // sent on begin, in order
    std::function<void(const lorvane::frame_stream::item&)> on_item;

    bool transmit(const lorvane::frame& f, bool discard = true)
    {
        return send(f, discard ? input_mode::discard : input_mode::keep);
    }
    void submit(lorvane::serial_link& line) { submit_to(line); }
    std::vector<lorvane::frame> replies() const
    {
        std::vector<lorvane::frame> frames;
        for (const auto& item : items) {
            if (item.what == lorvane::frame_stream::item::kind::reply)
                frames.push_back(item.as_frame());
        }
        return frames;
    }

protected:
    void begin() override
    {
        for (const lorvane::frame& f : requests)
            transmit(f);
    }
    lorvane::item_fate take(const lorvane::frame_stream::item& item) override
    {
        items.push_back(item);
        if (on_item)
            on_item(item);
        return lorvane::item_fate::accepted;
    }
};
