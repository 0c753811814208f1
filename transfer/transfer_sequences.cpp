#include "transfer_sequences.h"

#include "handler_gate.h"
#include "line_operation.h"
#include "serial_link.h"

#include <functional>

namespace lorvane {

// The chains as an operation on the line: it holds the line while a chain awaits a reply and
// hands every reply that arrives meanwhile to the chains.
class chain_line final : public line_operation
{
public:
    std::function<void(const frame& reply, std::uint64_t generation, std::uint64_t chunk)> on_reply;
    std::function<void()> on_end;

    bool transmit(const frame& request) { return send(request); }
    void release() { finish(operation_end::done); }

protected:
    void begin() override {}
    item_fate take(const frame_stream::item& item) override
    {
        if (const auto fate = fate_of_non_reply(item))
            return *fate;
        if (!item.in_step())
            return item_fate::out_of_step;
        on_reply(item.as_frame(), line()->input_generation(), line()->input_chunk());
        return item_fate::accepted;
    }
    void ending(operation_end) override { on_end(); }
};

bool address_matches(const QString& module_address_text, std::uint8_t reply_address)
{
    bool ok = false;
    const int address = module_address_text.trimmed().toInt(&ok, 10);
    return ok && address % 256 == reply_address;
}

transfer_sequences::transfer_sequences(panel_view& view, serial_link& link)
    : view_(view), link_(link), line_(std::make_unique<chain_line>())
{
    line_->on_reply = [this](const frame& reply, std::uint64_t generation, std::uint64_t chunk) {
        queue_reply(reply, true, generation, chunk);
    };
    // The port closed or went away under the chains: every wait ends silently.
    line_->on_end = [this] {
        end_wait(transfer_kind::write);
        end_wait(transfer_kind::read);
    };
}

transfer_sequences::~transfer_sequences() = default;

void transfer_sequences::watch_replies(handler_gate& gate)
{
    gate_ = &gate;
    for (const transfer_kind kind : {transfer_kind::write, transfer_kind::read}) {
        QTimer& deadline = wait_of(kind).deadline;
        deadline.setSingleShot(true);
        deadline.setInterval(REPLY_TIMEOUT);
        QObject::connect(&deadline, &QTimer::timeout, &deadline, [this, kind] {
            gate_->run_line_event(kind == transfer_kind::write ? line_event::write_deadline
                                                               : line_event::read_deadline,
                                  [this, kind] { on_deadline(kind); });
        });
    }
    // A reply while no operation holds the line is the chains' too: a module that answers
    // on its own moves a chain on, as any reply does. The timer is the connection's context:
    // it goes with this object.
    QObject::connect(
        &link_, &serial_link::unclaimed_reply, &waits_[0].deadline,
        [this](const frame& reply, bool in_step, std::uint64_t generation, std::uint64_t chunk) {
            queue_reply(reply, in_step, generation, chunk);
        });
}

void transfer_sequences::queue_reply(const frame& reply, bool in_step, std::uint64_t generation,
                                     std::uint64_t chunk)
{
    // Out of step with the 8-byte blocks of its exchange, a reply is not taken: the line's
    // bytes are read 8 at a time from the start of each exchange.
    if (!gate_ || !in_step)
        return;
    // Handled from the event loop, not inside the port's receive notification: a box shown
    // from there would keep the port from notifying of any later reply.
    const line_event key = reply[POS_FUNCTION] == FUNC_WRITE  ? line_event::write_reply
                           : reply[POS_FUNCTION] == FUNC_READ ? line_event::read_reply
                                                              : line_event::other_reply;
    QMetaObject::invokeMethod(
        &waits_[0].deadline,
        [this, key, reply, generation, chunk] {
            gate_->run_line_event(key, [this, reply, generation, chunk] {
                take_queued_reply(reply, generation, chunk);
            });
        },
        Qt::QueuedConnection);
}

void transfer_sequences::take_queued_reply(const frame& reply, std::uint64_t generation,
                                           std::uint64_t chunk)
{
    // A request sent since the reply came has discarded it, as it discards everything
    // received so far; a reply that came with one that moved a chain on is left, as a
    // receive event reads one reply; and while another operation holds the line, the reply
    // is not ours.
    if (generation != link_.input_generation() || acted_chunk_ == chunk)
        return;
    if (!line_->running() && !link_.idle())
        return;
    if (handle_reply(reply))
        acted_chunk_ = chunk;
    release_line();
}

void transfer_sequences::release_line()
{
    if (line_->running() && !awaiting_reply())
        line_->release();
}

bool transfer_sequences::transmit(const frame& request)
{
    if (!link_.is_open())
        return false;  // built but not sent: a closed port swallows requests silently
    if (!line_->running() && !link_.claim(*line_))
        return false;  // another operation holds the line
    return line_->transmit(request);
}

bool transfer_sequences::awaiting_reply() const
{
    return waits_[0].waiting || waits_[1].waiting;
}

void transfer_sequences::wait_for_reply(transfer_kind kind, int record)
{
    if (!gate_)
        return;  // not watching
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
    release_line();
    view_.show_no_reply(kind, wait.record);
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
    if (!value)
        view_.show_value_refused(field, key);
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
        view_.warn_port_closed();
        return;
    }
    if (values_valid_for_write_all())
        write_record(0);
    release_line();
}

void transfer_sequences::read_all()
{
    if (!link_.is_open()) {
        view_.warn_port_closed();
        return;
    }
    if (module_address())
        read_record(0);
    release_line();
}

bool transfer_sequences::record_in_range(record_no record)
{
    if (record > LAST_RECORD)
        view_.show_record_too_large();
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
    const frame request = make_request(FUNC_WRITE, *address, static_cast<std::uint8_t>(record),
                                       values.value1, values.value2, values.value3);
    if (transmit(request))
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
    const frame request =
        make_request(FUNC_READ, *address, static_cast<std::uint8_t>(record), 0, 0, 0);
    if (transmit(request))
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

bool transfer_sequences::handle_reply(const frame& reply)
{
    const int n = reply[POS_RECORD];
    const std::uint8_t address = reply[POS_ADDRESS];
    const std::uint8_t function = reply[POS_FUNCTION];

    // The address is read afresh for each test: a message box shown on the way may
    // have let the user change it.
    if (address_matches(view_.module_address_text(), address) && function == FUNC_WRITE) {
        if (n > LAST_RECORD || !may_move_on(transfer_kind::write, n))
            return false;
        if (n < LAST_RECORD) {
            write_record(n + 1);
            view_.show_progress(transfer_kind::write, n + 1);
        } else {
            view_.show_done(transfer_kind::write);
        }
        return true;
    } else if (address_matches(view_.module_address_text(), address) && function == FUNC_READ) {
        if (n > LAST_RECORD || !may_move_on(transfer_kind::read, n))
            return false;
        apply_record(n, reply[POS_VALUE1], reply[POS_VALUE2], reply[POS_VALUE3]);
        if (n < LAST_RECORD) {
            read_record(n + 1);
            view_.show_progress(transfer_kind::read, n + 1);
        } else {
            view_.show_done(transfer_kind::read);
        }
        return true;
    }
    return false;
}

}  // namespace lorvane
