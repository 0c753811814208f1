// What the transfer logic needs of the window: the texts of its fields, the captions
// of the two transfer buttons, and a modal message. The window implements it over its
// widgets; tests implement it over plain strings.
#pragma once

#include <QString>

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

    virtual void set_write_caption(const QString& caption) = 0;  // Command1
    virtual void set_read_caption(const QString& caption) = 0;   // Command2

    // Shows `text` modally with one OK button; returns after the user confirmed it.
    virtual void show_message(const QString& text) = 0;
};

}  // namespace lorvane
