// 录制线路…: the window's context-menu entry that records its open port into a capture
// file the user chooses, from the moment it is chosen until it is chosen again or the port
// closes. Checked while it records; disabled while no port is open. The window's face
// stays as it is.
#pragma once

#include "line_capture.h"
#include "serial_link.h"

#include <QObject>

#include <memory>

class QAction;
class QWidget;

namespace lorvane {

// A capture file grows to this many bytes at most (lorvane-cli's default limit).
inline constexpr std::uint64_t WINDOW_CAPTURE_LIMIT = 64ULL * 1024 * 1024;

class capture_action final : public QObject
{
    Q_OBJECT

public:
    // The entry (objectName record_line_action) for `link`, with its boxes over `window`,
    // which owns the entry; this object must go before `link`.
    capture_action(serial_link& link, QWidget* window);
    ~capture_action() override;

    QAction* action() const { return action_; }
    bool recording() const { return capture_ != nullptr; }

    // The window's port opened or closed: the entry follows, and a close ends recording.
    void port_changed(bool open);

private:
    void on_triggered(bool checked);
    void start();
    void stop();

    serial_link& link_;
    QWidget* window_;
    QAction* action_;
    std::unique_ptr<line_capture> capture_;
};

}  // namespace lorvane
