#include "module_session.h"

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

module_session::module_session(serial_link& link, const session_options& options, QObject* parent)
    : QObject(parent), link_(link), options_(options), transfer_(*this, link, this)
{
    deadline_.setSingleShot(true);
    deadline_.setTimerType(Qt::PreciseTimer);
    connect(&deadline_, &QTimer::timeout, this, &module_session::on_deadline);
    connect(&link_, &serial_link::frame_sent, this, &module_session::on_sent);
    connect(&link_, &serial_link::reply_received, this, &module_session::on_reply);
    connect(&link_, &serial_link::port_lost, this, [this] { finish(session_outcome::port_lost); });
}

void module_session::start_write(const panel_config& config)
{
    if (running_)
        return;
    config_ = config;
    start(transfer_kind::write);
}

void module_session::start_read(std::uint8_t address)
{
    if (running_)
        return;
    config_ = panel_config{};
    config_.module_address = address;
    start(transfer_kind::read);
}

void module_session::start(transfer_kind kind)
{
    kind_ = kind;
    running_ = true;
    awaited_record_ = 0;
    // From the event loop, so that a front end has connected and returned before any
    // signal comes, and a closed port reports as a lost one rather than hanging.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!running_)
                return;  // stopped before it began
            if (!link_.is_open()) {
                finish(session_outcome::port_lost);
                return;
            }
            if (kind_ == transfer_kind::write)
                transfer_.write_record(0);
            else
                transfer_.read_record(0);
        },
        Qt::QueuedConnection);
}

void module_session::stop()
{
    finish(session_outcome::stopped);
}

void module_session::finish(session_outcome outcome)
{
    if (!running_)
        return;
    running_ = false;
    deadline_.stop();
    Q_EMIT finished(outcome);
}

void module_session::on_sent(const frame& request)
{
    if (!running_)
        return;
    if (!resending_)
        retries_left_ = options_.retries;  // each new request has its own retries
    resending_ = false;
    awaited_record_ = request[POS_RECORD];
    deadline_.start(options_.timeout);
}

void module_session::on_reply(const frame& reply)
{
    // Only the reply to the request on the line moves the transfer on. The window takes
    // any record the module names; here a late reply to an earlier send of a retried
    // request would otherwise start a second chain beside the first.
    if (!running_)
        return;
    if (const reply_fit fit = fit_of(reply, link_.last_request()); fit != reply_fit::answers) {
        Q_EMIT reply_ignored(reply, fit);
        return;
    }
    deadline_.stop();
    transfer_.handle_reply(reply);
}

void module_session::on_deadline()
{
    if (retries_left_ > 0) {
        --retries_left_;
        resending_ = true;
        link_.resend_last_request();  // restarts the deadline through on_sent
        return;
    }
    finish(session_outcome::no_reply);
}

void module_session::record_confirmed(transfer_kind, int record)
{
    if (running_)
        Q_EMIT progress(record + 1);
}

void module_session::transfer_completed(transfer_kind)
{
    finish(session_outcome::done);
}

QString module_session::module_address_text() const
{
    return text_of_byte(config_.module_address);
}

QString module_session::refresh_period_text() const
{
    return text_of_byte(config_.refresh_period);
}

void module_session::set_refresh_period_text(const QString& text)
{
    set_refresh_period(byte_of_text(text).value_or(0));
}

QString module_session::key_address_text(int row) const
{
    return text_of_byte(config_.keys.at(std::size_t(row)).address);
}

QString module_session::key_line_text(int row) const
{
    return text_of_byte(config_.keys.at(std::size_t(row)).line);
}

QString module_session::key_operation_text(int row) const
{
    return operation_text_of(key_operation_code(row));
}

void module_session::set_key_texts(int row, const QString& address, const QString& line,
                                   const QString& operation)
{
    set_key_values(row, byte_of_text(address).value_or(0), byte_of_text(line).value_or(0),
                   operation_code_of(operation));
}

operation_code module_session::key_operation_code(int row) const
{
    return config_.keys.at(std::size_t(row)).operation;
}

void module_session::set_refresh_period(std::uint8_t value)
{
    config_.refresh_period = value;
}

void module_session::set_key_values(int row, std::uint8_t address, std::uint8_t line,
                                    operation_code operation)
{
    config_.keys.at(std::size_t(row)) = {address, line, operation};
}

}  // namespace lorvane
