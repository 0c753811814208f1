// The serial line to the panel module: opening and closing the port, sending the two
// kinds of request, collecting replies, and noticing a port that went away or a module
// that does not answer. Every QSerialPort detail stays inside this class; its users
// see texts, frames and signals only.
#pragma once

#include "frame.h"
#include "reply_collector.h"

#include <QObject>
#include <QSerialPort>
#include <QString>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <optional>

namespace lorvane {

// How long a sent request waits for its reply before the user is told. A reply at
// 9600 baud takes about 17 ms for the round trip; 1 s leaves room for slow modules.
inline constexpr std::chrono::milliseconds REPLY_TIMEOUT{1000};

class serial_link : public QObject
{
    Q_OBJECT

public:
    explicit serial_link(QObject* parent = nullptr);
    ~serial_link() override;

    // Opens the port that `port_text` names at 9600 baud, 8N1, no flow control. Returns
    // the message for the user when the text names no port or the port cannot be
    // opened; the port then stays closed.
    std::optional<QString> open(const QString& port_text);

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

    const frame& write_request() const { return write_request_; }
    const frame& read_request() const { return read_request_; }
    const frame& reply_buffer() const { return collector_.reply_buffer(); }

    // True while a sent request still waits for a reply (its time-out is armed).
    bool awaiting_reply() const { return reply_timer_.isActive(); }

Q_SIGNALS:
    // An 8-byte reply passed the checksum and header test; `reply` is reply_buffer().
    void reply_received(const lorvane::frame& reply);
    // The open port failed (adapter unplugged, far end gone); it has been closed.
    void port_lost(const QString& message);
    // No accepted reply came within REPLY_TIMEOUT of the request for `record`.
    void reply_timed_out(int record);

private:
    void transmit(const frame& request);
    void MSComm1_OnComm();
    void on_error(QSerialPort::SerialPortError error);
    void drop_lost_port();

    QSerialPort port_;
    reply_collector collector_;
    frame write_request_{};
    frame read_request_{};
    QTimer reply_timer_;
    QString device_;  // QSerialPort shortens "/dev/pts/7" to "pts/7"; keep the full name
    int awaited_record_ = 0;
    bool loss_pending_ = false;  // a close of a failed port is queued; say it once
};

}  // namespace lorvane
