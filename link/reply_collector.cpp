#include "reply_collector.h"

#include <QIODevice>

namespace lorvane {

reply_collector::outcome
reply_collector::collect(QIODevice& device,
                         const std::function<void(const frame& block, bool accepted)>& on_block)
{
    constexpr auto block = static_cast<qint64>(FRAME_SIZE);
    // Bounded by what waits now: bytes arriving meanwhile belong to the next notification.
    qint64 blocks = device.bytesAvailable() / block;
    if (blocks == 0)
        return outcome::waiting;
    for (; blocks > 0; --blocks) {
        if (device.read(reinterpret_cast<char*>(reply_buffer_.data()), block) != block)
            return outcome::rejected;  // the device failed under us; never dispatch stale bytes
        const bool accepted = reply_accepted(reply_buffer_);
        if (on_block)
            on_block(reply_buffer_, accepted);
        if (accepted)
            return outcome::accepted;
    }
    return outcome::rejected;
}

}  // namespace lorvane
