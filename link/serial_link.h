// The serial line to the panel module: opening and closing the port, sending the two
// kinds of request, collecting replies, and noticing a port that went away or a module
// that does not answer. The port itself is a serial_device; users of the link see port
// texts, frames, failure kinds and signals only.
#pragma once

#include "frame.h"
#include "reply_collector.h"
#include "serial_device.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

namespace lorvane {

// How long a sent request waits for its reply before the user is told. A reply at
// 9600 baud takes about 17 ms for the round trip; 1 s leaves room for slow modules.
inline constexpr std::chrono::milliseconds REPLY_TIMEOUT{1000};

// The window's words for a port that could not be opened, naming the device, the
// system's reason and what the user can do about it.
QString port_failure_message(const port_failure& failure);
// The window's words for a port that went away while open.
QString port_lost_message(const QString& device);

class serial_link : public QObject
{
    Q_OBJECT

public:
    explicit serial_link(QObject* parent = nullptr);
    ~serial_link() override;

    // Opens the port that `port_text` names at 9600 baud, 8N1, no flow control. Returns
    // why when the text names no port or the port cannot be opened; it then stays closed.
    std::optional<port_failure> open(const QString& port_text);

    // Closes the port if it is open; drops any pending reply time-out.
    void close();

    // The port's own open flag, read afresh: the only record of the port state.
    bool is_open() const;

    // The device of the port last opened (or tried), as the user named it.
    QString port_name() const;

    // Fill the request buffer of its function (always), then, if the port is open,
    // discard everything received so far and send the 8 bytes in one write.
    void send_write_request(std::uint8_t address, std::uint8_t record, std::uint8_t value1,
                            std::uint8_t value2, std::uint8_t value3);
    void send_read_request(std::uint8_t address, std::uint8_t record, std::uint8_t value1,
                           std::uint8_t value2, std::uint8_t value3);
    // Sends the last request again, byte for byte, as a send does (for retries).
    void resend_last_request();

    const frame& write_request() const { return write_request_; }
    const frame& read_request() const { return read_request_; }
    const frame& last_request() const { return last_request_; }
    const frame& reply_buffer() const { return collector_.reply_buffer(); }

    // True while a sent request still waits for a reply (its time-out is armed).
    bool awaiting_reply() const { return reply_timer_.isActive(); }

Q_SIGNALS:
    // An 8-byte reply passed the checksum and header test; `reply` is reply_buffer().
    void reply_received(const lorvane::frame& reply);
    // Every request that went out on the line, and every 8-byte block tested, for tracing.
    void frame_sent(const lorvane::frame& request);
    void frame_received(const lorvane::frame& block, bool accepted);
    // The open port failed (adapter unplugged, far end gone); it has been closed.
    void port_lost(const QString& device);
    // No accepted reply came within the time-out of the request for `record`.
    void reply_timed_out(int record);

private:
    void transmit(const frame& request);
    void MSComm1_OnComm();
    void on_device_failed();
    void drop_lost_port();

    std::unique_ptr<serial_device> port_;
    reply_collector collector_;
    frame write_request_{};
    frame read_request_{};
    frame last_request_{};
    QTimer reply_timer_;
    QString device_;  // the name as the user gave it; "/dev/pts/7" stays whole
    int awaited_record_ = 0;
    bool loss_pending_ = false;  // a close of a failed port is queued; say it once
};

}  // namespace lorvane
