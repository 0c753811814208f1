#include "transfer_sequences.h"

#include "handler_gate.h"
#include "serial_link.h"

namespace lorvane {

QString no_reply_message(int record)
{
    const QString what = record == 0 ? QStringLiteral("刷新周期（记录 0）")
                                     : QStringLiteral("按键%1（记录 %1）").arg(record);
    return QStringLiteral("模块没有应答：等待%1的应答已超过 %2 秒，传输已停止。\n"
                          "请检查模块地址、接线和模块电源，然后重试。")
        .arg(what)
        .arg(std::chrono::duration<double>(REPLY_TIMEOUT).count());
}

bool address_matches(const QString& module_address_text, std::uint8_t reply_address)
{
    bool ok = false;
    const int address = module_address_text.trimmed().toInt(&ok, 10);
    return ok && address % 256 == reply_address;
}

transfer_sequences::transfer_sequences(panel_view& view, serial_link& link, transfer_events* events)
    : view_(view), link_(link), events_(events ? *events : no_events_)
{
}

void transfer_sequences::watch_replies(handler_gate& gate)
{
    gate_ = &gate;
    for (const transfer_kind kind : {transfer_kind::write, transfer_kind::read}) {
        QTimer& deadline = wait_of(kind).deadline;
        deadline.setSingleShot(true);
        deadline.setInterval(REPLY_TIMEOUT);
        QObject::connect(&deadline, &QTimer::timeout, &deadline,
                         [this, kind] { gate_->run([this, kind] { on_deadline(kind); }); });
    }
    // The timer is the connection's context: it goes with this object.
    QObject::connect(&link_, &serial_link::closed, &waits_[0].deadline, [this] {
        end_wait(transfer_kind::write);
        end_wait(transfer_kind::read);
    });
}

bool transfer_sequences::awaiting_reply() const
{
    return waits_[0].waiting || waits_[1].waiting;
}

void transfer_sequences::wait_for_reply(transfer_kind kind, int record)
{
    if (!gate_ || !link_.is_open())
        return;  // not watching, or nothing went out
    reply_wait& wait = wait_of(kind);
    // The latest request of a kind is the one its chain waits for: a second click of the
    // same button takes over from the chain it restarts.
    wait.record = record;
    wait.waiting = true;
    if (wait.stopped_record == wait.record)
        wait.stopped_record.reset();  // sent again: its reply counts again
    wait.deadline.start();
}

void transfer_sequences::on_deadline(transfer_kind kind)
{
    reply_wait& wait = wait_of(kind);
    // While this handler waited behind a message box, the reply may have come and been
    // handled (the wait ended, or a newer request re-armed the deadline).
    if (!wait.waiting || wait.deadline.isActive())
        return;
    wait.waiting = false;
    wait.stopped_record = wait.record;
    view_.show_message(no_reply_message(wait.record));
}

void transfer_sequences::end_wait(transfer_kind kind)
{
    reply_wait& wait = wait_of(kind);
    wait.deadline.stop();
    wait.waiting = false;
}

bool transfer_sequences::may_move_on(transfer_kind kind, int record)
{
    if (wait_of(kind).stopped_record == record)
        return false;  // the user was told this transfer stopped; the user starts again
    end_wait(kind);
    return true;
}

std::optional<std::uint8_t> transfer_sequences::field_byte(const QString& text, byte_field field,
                                                           int key)
{
    const auto value = byte_of_text(text);
    if (!value) {
        view_.show_message(bad_byte_message(field, key));
        events_.value_refused(field, key);
    }
    return value;
}

std::optional<std::uint8_t> transfer_sequences::module_address()
{
    return field_byte(view_.module_address_text(), byte_field::module_address, 0);
}

bool transfer_sequences::values_valid_for_write_all()
{
    if (!module_address())
        return false;
    if (!field_byte(view_.refresh_period_text(), byte_field::refresh_period, 0))
        return false;
    for (int row = 0; row < KEY_COUNT; ++row) {
        if (!field_byte(view_.key_address_text(row), byte_field::key_address, row + 1) ||
            !field_byte(view_.key_line_text(row), byte_field::key_line, row + 1))
            return false;
    }
    return true;
}

std::optional<panel_config> transfer_sequences::config_for_write()
{
    if (!values_valid_for_write_all())
        return std::nullopt;
    panel_config config;
    config.module_address = *byte_of_text(view_.module_address_text());
    config.refresh_period = *byte_of_text(view_.refresh_period_text());
    for (int row = 0; row < KEY_COUNT; ++row)
        config.keys[std::size_t(row)] = {*byte_of_text(view_.key_address_text(row)),
                                         *byte_of_text(view_.key_line_text(row)),
                                         view_.key_operation_code(row)};
    return config;
}

void transfer_sequences::write_all()
{
    if (!link_.is_open()) {
        view_.show_message(PORT_CLOSED_MESSAGE);
        return;
    }
    if (values_valid_for_write_all())
        write_record(0);
}

void transfer_sequences::read_all()
{
    if (!link_.is_open()) {
        view_.show_message(PORT_CLOSED_MESSAGE);
        return;
    }
    if (module_address())
        read_record(0);
}

bool transfer_sequences::record_in_range(record_no record)
{
    if (record > LAST_RECORD)
        view_.show_message(RECORD_TOO_LARGE_MESSAGE);
    return is_valid_record(record);  // below 0: nothing to send and nothing to say
}

bool transfer_sequences::write_record(record_no record)
{
    if (!record_in_range(record))
        return false;
    // Every value is read now, not at the click: edits made during a chain are sent
    // with the records that have not gone out yet.
    const auto address = module_address();
    if (!address)
        return false;
    record_values values;
    if (record == 0) {
        const auto refresh = field_byte(view_.refresh_period_text(), byte_field::refresh_period, 0);
        if (!refresh)
            return false;
        values = {*refresh, 0, 0};
    } else {
        const int row = record - 1;
        const auto key_address =
            field_byte(view_.key_address_text(row), byte_field::key_address, record);
        if (!key_address)
            return false;
        const auto line = field_byte(view_.key_line_text(row), byte_field::key_line, record);
        if (!line)
            return false;
        values = {*key_address, *line, view_.key_operation_code(row)};
    }
    link_.send_write_request(*address, static_cast<std::uint8_t>(record), values.value1,
                             values.value2, values.value3);
    wait_for_reply(transfer_kind::write, record);
    return true;
}

bool transfer_sequences::read_record(record_no record)
{
    if (!record_in_range(record))
        return false;
    const auto address = module_address();
    if (!address)
        return false;
    link_.send_read_request(*address, static_cast<std::uint8_t>(record), 0, 0, 0);
    wait_for_reply(transfer_kind::read, record);
    return true;
}

void transfer_sequences::apply_record(record_no record, std::uint8_t value1, std::uint8_t value2,
                                      std::uint8_t value3)
{
    if (record == 0)
        view_.set_refresh_period(value1);
    else if (is_valid_record(record))
        view_.set_key_values(record - 1, value1, value2, value3);
}

void transfer_sequences::handle_reply(const frame& reply)
{
    const int n = reply[POS_RECORD];
    const std::uint8_t address = reply[POS_ADDRESS];
    const std::uint8_t function = reply[POS_FUNCTION];

    // The address is read afresh for each test: a message box shown on the way may
    // have let the user change it.
    if (address_matches(view_.module_address_text(), address) && function == FUNC_WRITE) {
        if (n > LAST_RECORD || !may_move_on(transfer_kind::write, n))
            return;
        if (n < LAST_RECORD) {
            write_record(n + 1);
            view_.set_write_caption(WRITE_PROGRESS + QString::number(n + 1));
            events_.record_confirmed(transfer_kind::write, n);
        } else {
            view_.show_message(WRITE_DONE_MESSAGE);
            view_.set_write_caption(WRITE_CAPTION);
            events_.record_confirmed(transfer_kind::write, n);
            events_.transfer_completed(transfer_kind::write);
        }
    } else if (address_matches(view_.module_address_text(), address) && function == FUNC_READ) {
        if (n > LAST_RECORD || !may_move_on(transfer_kind::read, n))
            return;
        if (n < LAST_RECORD) {
            apply_record(n, reply[POS_VALUE1], reply[POS_VALUE2], reply[POS_VALUE3]);
            read_record(n + 1);
            view_.set_read_caption(READ_PROGRESS + QString::number(n + 1));
            events_.record_confirmed(transfer_kind::read, n);
        } else {
            apply_record(n, reply[POS_VALUE1], reply[POS_VALUE2], reply[POS_VALUE3]);
            view_.show_message(READ_DONE_MESSAGE);
            view_.set_read_caption(READ_CAPTION);
            events_.record_confirmed(transfer_kind::read, n);
            events_.transfer_completed(transfer_kind::read);
        }
    }
}

}  // namespace lorvane
