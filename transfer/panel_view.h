// What the window's transfer chains need of the window: the texts of its fields, and a way to
// tell the user what happened (progress on the two transfer buttons, and modal messages). The
// chains report kinds and values; the window words them. Tests implement it over plain strings.
#pragma once

#include "frame.h"
#include "panel_config.h"

#include <QString>

#include <cstdint>

namespace lorvane {

class panel_view
{
public:
    virtual ~panel_view() = default;

    virtual QString module_address_text() const = 0;  // add
    virtual QString refresh_period_text() const = 0;  // Text5
    virtual void set_refresh_period_text(const QString& text) = 0;

    // Row `row` = 0..15 holds key row+1.
    virtual QString key_address_text(int row) const = 0;    // Text2(row)
    virtual QString key_line_text(int row) const = 0;       // Text3(row)
    virtual QString key_operation_text(int row) const = 0;  // Combo1(row)
    virtual void set_key_texts(int row, const QString& address, const QString& line,
                               const QString& operation) = 0;

    // The values as bytes. The window keeps texts, so by default these go through its texts:
    // an operation is the code its text names, and a code read back shows as its text (empty
    // for 0 and 4..255). A view that knows more may keep more.
    virtual operation_code key_operation_code(int row) const
    {
        return operation_code_of(key_operation_text(row));
    }
    virtual void set_refresh_period(std::uint8_t value)
    {
        set_refresh_period_text(text_of_byte(value));
    }
    virtual void set_key_values(int row, std::uint8_t address, std::uint8_t line,
                                operation_code operation)
    {
        set_key_texts(row, text_of_byte(address), text_of_byte(line), operation_text_of(operation));
    }

    // The module confirmed `confirmed` - 1 records of a transfer of `kind` (1..16): the caption
    // of its button shows the count.
    virtual void show_progress(transfer_kind kind, int confirmed) = 0;
    // The module confirmed record 16: the completion message, then the button's caption at
    // rest again. Returns once the user confirmed the message.
    virtual void show_done(transfer_kind kind) = 0;
    // A transfer button while the port is closed.
    virtual void warn_port_closed() = 0;
    // A record number above 16 was asked for.
    virtual void show_record_too_large() = 0;
    // A value to be sent is not a byte (key 1..16 for key fields); nothing went out for it.
    virtual void show_value_refused(byte_field field, int key) = 0;
    // No reply came for `record` of a transfer of `kind` within the time-out; the transfer
    // has stopped.
    virtual void show_no_reply(transfer_kind kind, int record) = 0;
};

}  // namespace lorvane
