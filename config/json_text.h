// What QJsonDocument keeps no trace of, for the files this program reads: a member given
// twice (it keeps the last) and the text of a number as written (49.999999999999999999
// arrives as 50). Shared by the panel file and the site file.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QJsonValue>
#include <QString>

#include <optional>

namespace lorvane {

// `text` as a JSON string, quotes and escapes included.
QByteArray json_quoted(const QString& text);

// Text from a file shown in a message (a string value, a member name) is cut to this.
inline constexpr qsizetype SHOWN_TEXT_LIMIT = 40;

// `text` as a message shows it: cut after SHOWN_TEXT_LIMIT characters, saying how long it was.
QString shown_text(const QString& text);

// A JSON value as a message shows it: a string quoted and cut, a number as written when
// `as_written` has it, "an array", "an object", and `absent` for an undefined value.
QString shown_json(const QJsonValue& value, const std::optional<QString>& as_written = {},
                   const QString& absent = {});

// Where byte `offset` of a JSON text lies, for people: line and column, both from 1, the
// column counted in characters (UTF-8 sequences), a tab as one.
struct json_place
{
    int line = 1;
    int column = 1;
};
json_place json_place_of(const QByteArray& json, qsizetype offset);

// Walks a JSON text that QJsonDocument has already accepted, stopping at the first member
// given twice in one object, and notes every number whose value as written is not whole,
// by the path of its member ("keys[3].line").
struct json_literal_scan
{
    explicit json_literal_scan(const QByteArray& json);

    std::optional<QString> repeated_member;  // its path, cut as shown_text() cuts
    QHash<QString, QString> fractions;       // number literals that are not whole, as written
};

}  // namespace lorvane
