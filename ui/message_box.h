// The one place the tool shows a message box. Tests install a handler that records the
// text (and may look at the window while the "box" is up) instead of blocking.
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

}  // namespace message_box
}  // namespace lorvane
