// The serial device behind a network serial server, over one TCP connection: raw (the bytes
// are the line's) or Telnet with the COM-PORT-OPTION (the line settings are sent to the
// server). Opening never blocks: the connection, and for Telnet the settings' confirmation,
// come within OPEN_TIMEOUT_MS or the open fails.
#pragma once

#include "network_port.h"
#include "serial_device.h"
#include "telnet_codec.h"

#include <QAbstractSocket>
#include <QIODevice>
#include <QTimer>

#include <optional>

class QTcpSocket;

namespace lorvane {

// How long a network open may take: name lookup, connection and the settings' confirmation.
inline constexpr int OPEN_TIMEOUT_MS = 3000;
// A raw connection counts as open once the server has kept it this long: a server whose
// port another client holds accepts and closes at once.
inline constexpr int RAW_SETTLE_MS = 200;
// The receive buffer of the original line settings; bytes beyond it are lost, as a full
// driver buffer would lose them.
inline constexpr qsizetype NETWORK_RECEIVE_BUFFER = 1024;

// The line bytes received and not yet read, as the reply collector reads them.
class received_bytes final : public QIODevice
{
public:
    received_bytes() { QIODevice::open(QIODevice::ReadOnly); }
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override { return bytes_.size() + QIODevice::bytesAvailable(); }
    // Appends what fits below NETWORK_RECEIVE_BUFFER; returns how many bytes were taken.
    qsizetype append(QByteArrayView bytes);
    void clear();

protected:
    qint64 readData(char* data, qint64 max_size) override;
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray bytes_;
};

class network_serial_device final : public serial_device
{
    Q_OBJECT

public:
    network_serial_device();
    ~network_serial_device() override;

    std::optional<port_failure> open(const QString& device) override;
    void close() override;
    bool is_open() const override { return stage_ == stage::open; }
    bool is_opening() const override;
    void discard_input() override;
    void send(const frame& bytes) override;
    QIODevice& input() override { return input_; }

private:
    enum class stage { closed, connecting, negotiating, settling, open };

    void on_connected();
    void on_ready_read();
    void on_closed_by_server();
    void on_error(QAbstractSocket::SocketError error);
    void on_deadline();
    // Feeds bytes from the server through the Telnet session (answers go out at once) and
    // returns the line bytes among them.
    QByteArray take(const QByteArray& bytes);
    void check_settings();
    void finish_open();
    void fail_open(port_failure_kind kind, const QString& reason);
    void drop_socket();

    QTcpSocket* socket_ = nullptr;  // one per open; deleted later, never inside its signals
    QTimer deadline_;
    QTimer settle_;
    received_bytes input_;
    std::optional<telnet::com_port_session> telnet_;
    QString device_;
    stage stage_ = stage::closed;
    unsigned attempt_ = 0;  // tells a queued outcome of an abandoned open from the current one
};

}  // namespace lorvane
