// Collecting one 8-byte reply from whatever the port has received.
#pragma once

#include "frame.h"

class QIODevice;

namespace lorvane {

// Behaves like a receive threshold of 8 bytes: nothing is read until 8 bytes are
// waiting, then exactly 8 are read into `reply_buffer` and tested; bytes beyond the
// first 8 stay in the device for a later notification or the next send to discard.
class reply_collector
{
public:
    enum class outcome { waiting, rejected, accepted };

    // One receive notification's worth of work on `device` (see the class comment).
    outcome collect(QIODevice& device);

    // The last 8 bytes read, whether accepted or not.
    const frame& reply_buffer() const { return reply_buffer_; }

private:
    frame reply_buffer_{};
};

}  // namespace lorvane
