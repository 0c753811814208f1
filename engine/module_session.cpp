#include "module_session.h"

#include <algorithm>

namespace lorvane {

module_session::module_session(serial_link& link, const session_options& options, QObject* parent)
    : line_operation(parent), link_(link), options_(options)
{
    deadline_.setSingleShot(true);
    deadline_.setTimerType(Qt::PreciseTimer);
    connect(&deadline_, &QTimer::timeout, this, &module_session::on_deadline);
}

void module_session::start_write(const panel_config& config)
{
    if (busy())
        return;
    config_ = config;
    start(transfer_kind::write);
}

void module_session::start_read(std::uint8_t address)
{
    if (busy())
        return;
    config_ = panel_config{};
    config_.module_address = address;
    start(transfer_kind::read);
}

void module_session::start_read_record(std::uint8_t address, int record)
{
    if (busy())
        return;
    config_ = panel_config{};
    config_.module_address = address;
    start(transfer_kind::read, std::clamp(record, 0, LAST_RECORD));
}

void module_session::start(transfer_kind kind, int only_record)
{
    kind_ = kind;
    last_record_ = only_record < 0 ? LAST_RECORD : only_record;
    record_ = only_record < 0 ? 0 : only_record;
    reply_times_ms_.clear();
    records_.clear();
    submit_to(link_);
}

void module_session::begin()
{
    retries_left_ = options_.retries;
    since_begun_.start();
    last_reply_ns_ = -1;
    send_record();
}

std::optional<double> module_session::transfer_ms() const
{
    if (reply_times_ms_.size() < std::size_t{RECORD_COUNT} || last_reply_ns_ < 0)
        return std::nullopt;
    return double(last_reply_ns_) / 1e6;
}

void module_session::send_record()
{
    const record_values values =
        kind_ == transfer_kind::write ? values_of_record(config_, record_) : record_values{};
    const frame request = make_request(kind_ == transfer_kind::write ? FUNC_WRITE : FUNC_READ,
                                       config_.module_address, static_cast<std::uint8_t>(record_),
                                       values.value1, values.value2, values.value3);
    if (!send(request)) {
        finish(operation_end::port_closed);
        return;
    }
    since_sent_.start();
    deadline_.start(options_.timeout);
}

item_fate module_session::take(const frame_stream::item& item)
{
    if (const auto fate = fate_of_non_reply(item))
        return *fate;
    const frame reply = item.as_frame();
    // Only the reply to the request on the line moves the transfer on: a late reply to an
    // earlier send of a retried request, another module's reply, or a reply of the other
    // function would otherwise move a chain that is not this one.
    if (const reply_fit fit = fit_of(reply, request()); fit != reply_fit::answers) {
        Q_EMIT reply_ignored(reply, fit);
        return fit == reply_fit::other_address    ? item_fate::other_address
               : fit == reply_fit::other_function ? item_fate::other_function
                                                  : item_fate::other_record;
    }
    deadline_.stop();
    reply_times_ms_.push_back(double(since_sent_.nsecsElapsed()) / 1e6);
    last_reply_ns_ = since_begun_.nsecsElapsed();
    if (kind_ == transfer_kind::read) {
        records_.push_back({reply[POS_VALUE1], reply[POS_VALUE2], reply[POS_VALUE3]});
        store_record(config_, record_, records_.back());
    }
    Q_EMIT progress(static_cast<int>(reply_times_ms_.size()));
    if (!running())
        return item_fate::accepted;  // stopped by a listener
    if (record_ == last_record_) {
        finish(operation_end::done);
        return item_fate::accepted;
    }
    ++record_;
    retries_left_ = options_.retries;
    send_record();
    return item_fate::accepted;
}

void module_session::on_deadline()
{
    if (!running())
        return;
    if (retries_left_ > 0) {
        --retries_left_;
        send_record();  // the same request, byte for byte: neither record nor values moved
        return;
    }
    finish(operation_end::no_reply);
}

void module_session::ending(operation_end)
{
    deadline_.stop();
}

}  // namespace lorvane
