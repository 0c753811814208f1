#include "module_session.h"

#include <QEventLoop>

namespace lorvane::cli {

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

module_session::module_session(serial_link& link, const session_options& options,
                               interrupt_watch& interrupts, std::function<void(int)> progress)
    : link_(link), options_(options), progress_(std::move(progress)), transfer_(*this, link, this)
{
    connect(&interrupts, &interrupt_watch::interrupted, this, &module_session::interrupt);
    deadline_.setSingleShot(true);
    deadline_.setTimerType(Qt::PreciseTimer);
    connect(&deadline_, &QTimer::timeout, this, &module_session::on_deadline);
    connect(&link_, &serial_link::frame_sent, this, &module_session::on_sent);
    connect(&link_, &serial_link::reply_received, this, &module_session::on_reply);
    connect(&link_, &serial_link::port_lost, this, [this] { finish(outcome::port_lost); });
}

outcome module_session::write(const panel_config& config)
{
    config_ = config;
    return run([this] { transfer_.write_record(0); });
}

outcome module_session::read(std::uint8_t address, panel_config& config)
{
    config_ = panel_config{};
    config_.module_address = address;
    const outcome result = run([this] { transfer_.read_record(0); });
    config = config_;
    return result;
}

void module_session::interrupt()
{
    finish(outcome::interrupted);
}

outcome module_session::run(const std::function<void()>& first_request)
{
    QEventLoop loop;
    loop_ = &loop;
    result_ = outcome::done;
    first_request();
    loop.exec();
    loop_ = nullptr;
    deadline_.stop();
    return result_;
}

void module_session::finish(outcome result)
{
    if (!loop_)
        return;
    result_ = result;
    deadline_.stop();
    loop_->quit();
}

void module_session::on_sent(const frame& request)
{
    if (!loop_)
        return;
    if (!resending_)
        retries_left_ = options_.retries;  // each new request has its own retries
    resending_ = false;
    awaited_record_ = request[POS_RECORD];
    deadline_.start(options_.timeout);
}

void module_session::on_reply(const frame& reply)
{
    // Only the reply to the request on the line moves the chain on. The window takes any
    // record the module names; here a late reply to an earlier send of a retried request
    // would otherwise start a second chain beside the first.
    if (!loop_ || fit_of(reply, link_.last_request()) != reply_fit::answers)
        return;
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
    finish(outcome::no_reply);
}

void module_session::record_confirmed(transfer_kind, int record)
{
    if (progress_)
        progress_(record + 1);
}

void module_session::transfer_completed(transfer_kind)
{
    finish(outcome::done);
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

}  // namespace lorvane::cli
