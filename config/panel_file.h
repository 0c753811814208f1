// A panel's configuration as a file: JSON, UTF-8, one module per file.
//
//   {"format": "lorvane-panel/1", "module_address": 1, "refresh_period": 50,
//    "keys": [{"key": 1, "address": 1, "line": 1, "operation": "toggle"}, ... 16 entries]}
//
// Operations are "none" (0), "toggle" (1), "momentary" (2), "pulse" (3), or a display
// text of the window; any other code is a plain number 4..255, so every byte a module
// can hold survives a read and a write.
#pragma once

#include "json_text.h"
#include "panel_config.h"

#include <QByteArray>
#include <QString>

#include <variant>

namespace lorvane {

inline const QString PANEL_FILE_FORMAT = QStringLiteral("lorvane-panel/1");

// The largest file read: a valid one is under 4 KiB.
inline constexpr qsizetype PANEL_FILE_MAX_SIZE = 1024 * 1024;

// What kind of thing is wrong with a file, for front ends that word it themselves.
enum class panel_file_problem {
    other,
    not_json,        // `value`: the JSON parser's words; `at` and `offset`: where
    not_an_object,   // the file, or an entry of keys
    unknown_member,  // `field` is the member
    given_twice,     // a member given twice
    wrong_format,    // format is not PANEL_FILE_FORMAT
    missing,         // a member is missing
    not_a_byte,      // a whole number 0..255 was wanted
    not_a_key,       // keys[i].key must be 1..16
    key_twice,       // `value`: the key named a second time
    not_16_keys,     // keys is not an array of 16 entries; `entries`: those of an array
    bad_operation,   // none of the operation names or texts, nor 0..255
    too_large,       // longer than PANEL_FILE_MAX_SIZE
};

// Why a file was refused: the member at fault, as a path ("keys[3].line"; empty for
// the file as a whole), what is wrong with it in English, its kind, and the value found
// as the message shows it (cut when long; empty when missing).
struct panel_file_error
{
    QString field;
    QString problem;
    panel_file_problem kind = panel_file_problem::other;
    QString value;
    // Numbers the front ends word themselves: where a file is not JSON (1-based line and
    // column, byte offset), and how many entries an array of keys has (-1: keys is no array).
    json_place at{};
    qsizetype offset = 0;
    qsizetype entries = -1;
};

// The configuration a file holds, or the first thing wrong with it. Every member must be
// there, be of its kind and in range; unknown members, a wrong format and keys that are
// missing or given twice are refused.
std::variant<panel_config, panel_file_error> parse_panel_file(const QByteArray& json);

// The file for `config`: keys in order 1..16, indented, ending in a newline. Reading it
// back gives `config` again, and writing that gives the same bytes.
QByteArray panel_file_text(const panel_config& config);

// The name of an operation code in a file: "none", "toggle", "momentary", "pulse", or
// the code itself for 4..255 (as text, for messages).
QString operation_name(operation_code code);

}  // namespace lorvane
