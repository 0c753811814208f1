#include "line_operation.h"

#include "serial_link.h"

namespace lorvane {

reply_fit fit_of(const frame& reply, const frame& request)
{
    if (reply[POS_ADDRESS] != request[POS_ADDRESS])
        return reply_fit::other_address;
    if (reply[POS_FUNCTION] != request[POS_FUNCTION])
        return reply_fit::other_function;
    if (reply[POS_RECORD] != request[POS_RECORD])
        return reply_fit::other_record;
    return reply_fit::answers;
}

std::optional<item_fate> fate_of_non_reply(const frame_stream::item& item)
{
    switch (item.what) {
    case frame_stream::item::kind::echo:
        return item_fate::echo;
    case frame_stream::item::kind::junk:
        return item_fate::junk;
    case frame_stream::item::kind::reply:
        break;
    }
    return std::nullopt;
}

line_operation::line_operation(QObject* parent) : QObject(parent) {}

line_operation::~line_operation()
{
    if (busy() && line_)
        line_->withdraw(*this);
}

void line_operation::stop()
{
    finish(operation_end::stopped);
}

void line_operation::submit_to(serial_link& line)
{
    if (busy())
        return;
    line_ = &line;
    state_ = state::queued;
    line.enqueue(*this);
}

bool line_operation::send(const frame& request, input_mode mode)
{
    request_ = request;
    if (!running() || !line_)
        return false;
    return line_->transmit(*this, request, mode == input_mode::discard);
}

std::vector<frame_stream::item> line_operation::flush_input()
{
    if (!running() || !line_)
        return {};
    std::vector<frame_stream::item> items = line_->stream_.flush();
    for (const frame_stream::item& item : items)
        line_->watch_.item_in(item);
    return items;
}

std::size_t line_operation::input_waiting() const
{
    return running() && line_ ? line_->stream_.waiting() : 0;
}

void line_operation::finish(operation_end end)
{
    if (!busy())
        return;
    state_ = state::finished;
    if (line_)
        line_->withdraw(*this);
    ending(end);
    Q_EMIT finished(end);
}

}  // namespace lorvane
