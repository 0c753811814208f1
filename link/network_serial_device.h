// The serial device behind a network serial server, over one TCP connection, plain or inside
// TLS: raw (the bytes are the line's) or Telnet with the COM-PORT-OPTION (the line settings
// are sent to the server). Opening never blocks: the connection, the TLS handshake and for
// Telnet the settings' confirmation come within OPEN_TIMEOUT_MS or the open fails. A TLS
// server is trusted when its certificate verifies for the host against the trusted
// authorities, or when its fingerprint is pinned (for the run, or among the known servers);
// a pin stored for the server outranks the authorities.
#pragma once

#include "dnssd_browser.h"
#include "network_port.h"
#include "serial_device.h"
#include "telnet_codec.h"
#include "tls_settings.h"

#include <QAbstractSocket>
#include <QElapsedTimer>
#include <QIODevice>
#include <QList>
#include <QTimer>

#include <optional>

class QSslError;
class QSslSocket;
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
// At most this much may wait to be sent (Telnet answers and frames, before and after TLS):
// a server that asks more than it reads fails the port instead of growing our memory.
inline constexpr qint64 MAX_PENDING_OUTPUT = 32 * 1024;
// A plain connection the server closes this soon after our first frame, without having sent
// a byte, is checked for a TLS server behind it; the check takes at most TLS_PROBE_MS.
inline constexpr int FIRST_FRAME_CLOSE_MS = 1000;
inline constexpr int TLS_PROBE_MS = 1000;
// What a server says before it closes an opening connection is kept up to this many bytes.
inline constexpr qsizetype MAX_SERVER_TEXT = 120;

// The line bytes received and not yet read, as the line's owner reads them.
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
    // RFC 2217: the NOTIFY-LINESTATE messages the server sent since the open (none on a raw
    // connection, which has no way to send them).
    std::optional<line_state_notes> line_state() const override;

    // From the next open on.
    void set_options(const network_options& options) { options_ = options; }
    // The TLS server's certificate while the port is open over TLS.
    std::optional<server_certificate> peer_certificate() const;

private:
    enum class stage {
        closed,
        discovering,
        connecting,
        handshaking,
        negotiating,
        settling,
        probing,
        open
    };

    // Connects to `port`, the server `device_` names, and waits for it.
    std::optional<port_failure> connect_to(const network_port& port);
    void on_service_found(const dnssd_service& service);
    void on_lookup_failed(const lookup_failure& failure);
    void on_connected();
    void on_encrypted();
    void on_ssl_errors(const QList<QSslError>& errors);
    void on_ready_read();
    void on_closed_by_server();
    void on_error(QAbstractSocket::SocketError error);
    void on_deadline();
    // The session over the connection begins: Telnet negotiation, or the raw settling time.
    void begin_session();
    // Whether the certificate shown is trusted; if not, why the open fails.
    std::optional<port_failure> check_certificate(bool verified);
    // The server closed the open connection (or it failed): the port is lost.
    void lose_connection();
    // The server closed an opening connection, or it failed during the TLS handshake.
    void closed_while_opening();
    void handshake_failed();
    // Finds out whether the server speaks TLS, then reports the open's failure or the loss.
    void probe_for_tls();
    // Feeds bytes from the server through the Telnet session (answers go out at once) and
    // returns the line bytes among them.
    QByteArray take(const QByteArray& bytes);
    // Writes `bytes` unless that would pass MAX_PENDING_OUTPUT; then fails the port.
    bool write_bounded(const QByteArray& bytes);
    void check_settings();
    void finish_open();
    port_failure failure(port_failure_kind kind, const QString& reason = {}) const;
    void fail_open(const port_failure& failure);
    void lose(port_loss why);
    void drop_socket();

    network_options options_;
    network_port port_;
    QTcpSocket* socket_ = nullptr;    // one per open; deleted later, never inside its signals
    QSslSocket* tls_ = nullptr;       // the same socket, when the connection is inside TLS
    QObject* probe_ = nullptr;        // a tls_probe under way
    dnssd_lookup* lookup_ = nullptr;  // a dnssd:NAME port's service being looked for
    QTimer deadline_;
    QTimer settle_;
    received_bytes input_;
    std::optional<telnet::com_port_session> telnet_;
    std::optional<server_certificate> certificate_;  // the TLS server's, once trusted
    std::optional<port_failure> refused_;  // the certificate's verdict, while the handshake fails
    QByteArray server_text_;               // line bytes from the server before the open completed
    bool heard_ = false;         // the server has sent something since the connection was made
    bool discarding_ = false;    // a discard is decrypting what has arrived; keep it from input
    QElapsedTimer first_frame_;  // since the first frame on this connection
    QString device_;
    stage stage_ = stage::closed;
    unsigned attempt_ = 0;  // tells a queued outcome of an abandoned open from the current one
};

}  // namespace lorvane
