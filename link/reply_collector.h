// Collecting one 8-byte reply from whatever the port has received.
#pragma once

#include "frame.h"

#include <functional>

class QIODevice;

namespace lorvane {

// Behaves like a receive threshold of 8 bytes: nothing is read until 8 bytes are waiting,
// then 8 are read into `reply_buffer` and tested. A block that fails the test is dropped,
// and while 8 or more bytes still wait the next 8 are tested at once, as a later receive
// event would: an adapter without echo suppression hands over its own 8-byte request and
// the reply in one chunk, and no further byte would arrive to notify again. An accepted
// block ends the collection; the bytes behind it stay in the device for a later
// notification or the next send to discard, so a reply received twice counts once.
class reply_collector
{
public:
    enum class outcome { waiting, rejected, accepted };

    // One receive notification's worth of work on `device` (see the class comment):
    // waiting when fewer than 8 bytes waited, accepted when a block passed the test,
    // rejected when every block read failed it.
    // `on_block`, when given, hears of every 8-byte block read and whether it passed.
    outcome collect(QIODevice& device,
                    const std::function<void(const frame& block, bool accepted)>& on_block = {});

    // The last 8 bytes read, whether accepted or not.
    const frame& reply_buffer() const { return reply_buffer_; }

private:
    frame reply_buffer_{};
};

}  // namespace lorvane
