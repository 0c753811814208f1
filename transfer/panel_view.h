// What the transfer logic needs of the window: the texts of its fields, the captions
// of the two transfer buttons, and a modal message. The window implements it over its
// widgets; the command line over a configuration held in memory; tests over plain strings.
#pragma once

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

    // The values as bytes. The window keeps texts only, so these go through its texts:
    // an operation is the code its text names, and a code read back shows as its text
    // (empty for 0 and 4..255). A view that holds the bytes themselves keeps every code.
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

    virtual void set_write_caption(const QString& caption) = 0;  // Command1
    virtual void set_read_caption(const QString& caption) = 0;   // Command2

    // Shows `text` modally with one OK button; returns after the user confirmed it.
    virtual void show_message(const QString& text) = 0;
};

}  // namespace lorvane
