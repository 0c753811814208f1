#include "reply_collector.h"

#include <QIODevice>

namespace lorvane {

reply_collector::outcome reply_collector::collect(QIODevice& device)
{
    if (device.bytesAvailable() < static_cast<qint64>(FRAME_SIZE))
        return outcome::waiting;
    const qint64 got =
        device.read(reinterpret_cast<char*>(reply_buffer_.data()), static_cast<qint64>(FRAME_SIZE));
    if (got != static_cast<qint64>(FRAME_SIZE))
        return outcome::rejected;  // the device failed under us; never dispatch stale bytes
    return reply_accepted(reply_buffer_) ? outcome::accepted : outcome::rejected;
}

}  // namespace lorvane
