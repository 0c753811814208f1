// The serial line to the panel module: opening and closing the port, sending the two
// kinds of request, collecting replies, and noticing a port that went away. How long to
// wait for a reply is for the transfers to judge: only they know which reply counts. The port
// itself is a serial_device; users of the link see port texts, frames, failure kinds and signals
// only.
#pragma once

#include "frame.h"
#include "reply_collector.h"
#include "serial_device.h"
#include "tls_settings.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

namespace lorvane {

class serial_link : public QObject
{
    Q_OBJECT

public:
    explicit serial_link(QObject* parent = nullptr);
    ~serial_link() override;

    // Opens the port that `port_text` names at 9600 baud, 8N1, no flow control: a local
    // serial port, or one behind a network serial server (tcp://HOST:PORT,
    // rfc2217://HOST:PORT, and both inside TLS: tcp+tls://, rfc2217+tls://). Returns why when the
    // text names no port or the port cannot be opened; it then stays closed. A local port is open
    // on return; a network port is left opening (is_opening()), and opened() or open_failed()
    // follows from the event loop.
    std::optional<port_failure> open(const QString& port_text);

    // Closes the port if it is open, and tells closed() listeners.
    void close();

    // The port's own open flag, read afresh: the only record of the port state.
    bool is_open() const;
    // True while a network port is being opened.
    bool is_opening() const;

    // The device of the port last opened (or tried), as the user named it.
    QString port_name() const;

    // How TLS servers are trusted and which client certificate is offered, from the next
    // open of a network port on.
    void set_network_options(const network_options& options);
    // The certificate of the TLS server the open network port is connected to.
    std::optional<server_certificate> peer_certificate() const;

    // Fill the request buffer of its function (always), then, if the port is open,
    // discard everything received so far and send the 8 bytes in one write.
    void send_write_request(std::uint8_t address, std::uint8_t record, std::uint8_t value1,
                            std::uint8_t value2, std::uint8_t value3);
    void send_read_request(std::uint8_t address, std::uint8_t record, std::uint8_t value1,
                           std::uint8_t value2, std::uint8_t value3);
    // Sends the last request again, byte for byte, as a send does (for retries).
    void resend_last_request();

    // For the bus scan. While streaming, received bytes are handed over as they arrive
    // (bytes_arrived) instead of being collected into replies, and send_probe() sends the
    // read request for record 0 of `address` without discarding what has arrived, so that
    // a late reply still counts. Turning streaming on discards what is waiting.
    void set_streaming(bool on);
    void send_probe(std::uint8_t address);

    const frame& write_request() const { return write_request_; }
    const frame& read_request() const { return read_request_; }
    const frame& last_request() const { return last_request_; }
    const frame& reply_buffer() const { return collector_.reply_buffer(); }

Q_SIGNALS:
    // The outcome of an open left opening: the port is open now, or it stays closed.
    void opened();
    void open_failed(const lorvane::port_failure& failure);
    // An 8-byte reply passed the checksum and header test; `reply` is reply_buffer().
    void reply_received(const lorvane::frame& reply);
    // Every request that went out on the line, and every 8-byte block tested, for tracing.
    void frame_sent(const lorvane::frame& request);
    void frame_received(const lorvane::frame& block, bool accepted);
    // The open port failed (adapter unplugged, far end gone), and why; it has been closed.
    void port_lost(const QString& device, lorvane::port_loss why);
    // The port was closed, by close() or after it failed; no reply can come any more.
    void closed();
    // While streaming: bytes as they arrived, in order.
    void bytes_arrived(const QByteArray& bytes);

private:
    void use_device(bool network);
    enum class keep_input { no, yes };
    void transmit(const frame& request, keep_input keep = keep_input::no);
    void MSComm1_OnComm();
    void on_device_failed(port_loss why);
    void drop_lost_port();

    std::unique_ptr<serial_device> local_;    // the system's serial ports
    std::unique_ptr<serial_device> network_;  // ports behind network serial servers
    serial_device* port_;                     // the one last opened (or tried)
    reply_collector collector_;
    frame write_request_{};
    frame read_request_{};
    frame last_request_{};
    QString device_;  // the name as the user gave it; "/dev/pts/7" stays whole
    bool streaming_ = false;
    bool loss_pending_ = false;         // a close of a failed port is queued; say it once
    port_loss loss_ = port_loss::gone;  // why, for that close
};

}  // namespace lorvane
