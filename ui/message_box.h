// The one place the tool shows a message box or asks for a file name. Tests install
// handlers that record the text (and may look at the window while the "box" is up) or
// answer with a name, instead of blocking.
#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace lorvane {

// The title of every message box; the window keeps its own caption.
inline const QString APPLICATION_TITLE = QStringLiteral("Lorvane");

namespace message_box {

using handler = std::function<void(QWidget* parent, const QString& text)>;

// Shows `text` in a modal box with one OK button, no icon and APPLICATION_TITLE, and
// returns once the user confirmed it (or the installed handler returned).
void show(QWidget* parent, const QString& text);

// Replaces the box with `h`; an empty handler restores the real box.
void set_handler(handler h);

// Asks `text` in a modal box titled `title` with two buttons: `yes`, the default (Return),
// and `no`, the escape button (Esc, or closing the box). True when the user chose `yes`.
bool ask(QWidget* parent, const QString& title, const QString& text, const QString& yes,
         const QString& no);

// Replaces the box of ask() with `h`, which answers for the user (true: `yes`); an empty
// handler restores the box.
using question_handler = std::function<bool(QWidget* parent, const QString& text)>;
void set_question_handler(question_handler h);

// The same box without waiting for it: shown modal to `parent`'s window only, it returns at
// once and the event loop goes on (a site run's other buses keep their traffic). `answered`
// gets the user's choice, once, from the event loop (closing the box is `no`). Returns the
// box; it goes away with `parent`.
QWidget* ask_later(QWidget* parent, const QString& title, const QString& text, const QString& yes,
                   const QString& no, std::function<void(bool yes)> answered);
// Takes a box of ask_later() away unanswered: its `answered` is not called.
void withdraw(QWidget* box);

}  // namespace message_box

// A question that starts something that cannot be taken back (a write to modules): the box
// says what will happen, its default button (Return) does it, and Esc cancels.
namespace confirm_box {

using handler = std::function<bool(QWidget* parent, const QString& text)>;

// Shows `text` in a modal box titled APPLICATION_TITLE with the buttons `confirm` (the
// default) and 取消; true when the user chose `confirm`.
bool ask(QWidget* parent, const QString& text, const QString& confirm);

// Replaces the box with `h`, which answers for the user; an empty handler restores the box.
void set_handler(handler h);

}  // namespace confirm_box

namespace file_dialog {

enum class purpose { open, save };
// Returns the chosen file's path, or an empty string when the user cancelled.
using handler = std::function<QString(QWidget* parent, purpose what, const QString& title)>;

// A modal file dialog owned by `parent`, titled `title`, offering configuration files
// (*.json) and all files; for saving it asks before replacing a file.
QString open_name(QWidget* parent, const QString& title);
QString save_name(QWidget* parent, const QString& title);

// The same for other kinds of file: `filter` as QFileDialog takes it ("工程文件 (*.json)"),
// starting at `start` (a folder, or a file name to suggest). For saving, a name typed without
// a suffix gets `suffix`.
QString open_name(QWidget* parent, const QString& title, const QString& filter,
                  const QString& start);
QString save_name(QWidget* parent, const QString& title, const QString& filter,
                  const QString& start, const QString& suffix);

// Replaces the dialogs with `h`; an empty handler restores the real ones.
void set_handler(handler h);

}  // namespace file_dialog
}  // namespace lorvane
