#ifdef _WIN32
#include <winsock2.h>
#else
#include <sys/socket.h>
#endif

#include "network_serial_device.h"

#include <QTcpSocket>

#include <cstring>

namespace lorvane {

namespace {

// At most this much is taken from the system's queue by one discard; a server that sends
// faster than that is flooding, and the rest waits for the next discard.
constexpr qsizetype MAX_DISCARD = 64 * 1024;

// Bytes that have reached the system's receive queue but not yet Qt's own buffer. The socket
// is non-blocking (Qt keeps it so), so an empty queue ends the loop at once; a close or an
// error ends it too and is left for Qt to notice and report.
QByteArray read_system_queue(qintptr descriptor)
{
    QByteArray bytes;
    if (descriptor < 0)
        return bytes;
    char chunk[4096];
    while (bytes.size() < MAX_DISCARD) {
#ifdef _WIN32
        const int n = ::recv(static_cast<SOCKET>(descriptor), chunk, int(sizeof chunk), 0);
#else
        const ssize_t n = ::recv(static_cast<int>(descriptor), chunk, sizeof chunk, MSG_DONTWAIT);
#endif
        if (n <= 0)
            break;
        bytes.append(chunk, static_cast<qsizetype>(n));
    }
    return bytes;
}

}  // namespace

qsizetype received_bytes::append(QByteArrayView bytes)
{
    const qsizetype room = NETWORK_RECEIVE_BUFFER - bytes_.size();
    const qsizetype taken = std::min(room, bytes.size());
    if (taken > 0)
        bytes_.append(bytes.first(taken));
    return taken;
}

void received_bytes::clear()
{
    bytes_.clear();
}

qint64 received_bytes::readData(char* data, qint64 max_size)
{
    const qsizetype n = std::min<qsizetype>(bytes_.size(), static_cast<qsizetype>(max_size));
    std::memcpy(data, bytes_.constData(), static_cast<std::size_t>(n));
    bytes_.remove(0, n);
    return n;
}

network_serial_device::network_serial_device()
{
    deadline_.setSingleShot(true);
    connect(&deadline_, &QTimer::timeout, this, &network_serial_device::on_deadline);
    settle_.setSingleShot(true);
    connect(&settle_, &QTimer::timeout, this, &network_serial_device::finish_open);
}

network_serial_device::~network_serial_device()
{
    if (socket_) {
        socket_->disconnect(this);
        socket_->abort();
        delete socket_;
    }
}

bool network_serial_device::is_opening() const
{
    return stage_ == stage::connecting || stage_ == stage::negotiating || stage_ == stage::settling;
}

std::optional<port_failure> network_serial_device::open(const QString& device)
{
    if (stage_ != stage::closed)
        return port_failure{port_failure_kind::already_open, device, {}};
    const network_port_result parsed = parse_network_port(device);
    if (!parsed.ok())
        return port_failure{port_failure_kind::bad_name, device, {}};

    device_ = device;
    ++attempt_;
    input_.clear();
    telnet_.reset();
    if (parsed.port->protocol == network_protocol::rfc2217)
        telnet_.emplace();
    socket_ = new QTcpSocket(this);
    connect(socket_, &QTcpSocket::connected, this, &network_serial_device::on_connected);
    connect(socket_, &QTcpSocket::readyRead, this, &network_serial_device::on_ready_read);
    connect(socket_, &QTcpSocket::disconnected, this, &network_serial_device::on_closed_by_server);
    connect(socket_, &QTcpSocket::errorOccurred, this, &network_serial_device::on_error);
    stage_ = stage::connecting;
    deadline_.start(OPEN_TIMEOUT_MS);
    socket_->connectToHost(parsed.port->host, parsed.port->port);
    return std::nullopt;
}

void network_serial_device::close()
{
    deadline_.stop();
    settle_.stop();
    stage_ = stage::closed;
    input_.clear();
    drop_socket();
}

void network_serial_device::drop_socket()
{
    if (!socket_)
        return;
    socket_->disconnect(this);
    socket_->abort();
    socket_->deleteLater();
    socket_ = nullptr;
}

void network_serial_device::on_connected()
{
    // Each 8-byte request leaves at once instead of waiting for the reply to the last one.
    socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    if (telnet_) {
        stage_ = stage::negotiating;
        socket_->write(telnet_->start());
        socket_->flush();
    } else {
        deadline_.stop();
        stage_ = stage::settling;
        settle_.start(RAW_SETTLE_MS);
    }
}

QByteArray network_serial_device::take(const QByteArray& bytes)
{
    if (!telnet_)
        return bytes;
    QByteArray line;
    const QByteArray answer = telnet_->receive(bytes, line);
    if (!answer.isEmpty() && socket_) {
        socket_->write(answer);
        socket_->flush();
    }
    return line;
}

void network_serial_device::on_ready_read()
{
    const QByteArray line = take(socket_->readAll());
    if (stage_ == stage::negotiating) {
        check_settings();  // line bytes before the open belong to nobody
        return;
    }
    if (stage_ != stage::open || line.isEmpty())
        return;
    if (input_.append(line) > 0)
        Q_EMIT bytes_received();
}

void network_serial_device::check_settings()
{
    switch (telnet_->settings_state()) {
    case telnet::com_port_session::settings::waiting:
        break;
    case telnet::com_port_session::settings::acknowledged:
        finish_open();
        break;
    case telnet::com_port_session::settings::refused:
        fail_open(port_failure_kind::settings_refused, {});
        break;
    }
}

void network_serial_device::finish_open()
{
    deadline_.stop();
    stage_ = stage::open;
    input_.clear();
    const unsigned attempt = attempt_;
    QMetaObject::invokeMethod(
        this,
        [this, attempt] {
            if (attempt == attempt_ && stage_ == stage::open)
                Q_EMIT opened();
        },
        Qt::QueuedConnection);
}

void network_serial_device::fail_open(port_failure_kind kind, const QString& reason)
{
    close();
    const port_failure failure{kind, device_, reason};
    const unsigned attempt = attempt_;
    // Reported from the event loop: a message box shown by a listener must not run inside
    // the socket's own signal.
    QMetaObject::invokeMethod(
        this,
        [this, attempt, failure] {
            if (attempt == attempt_ && stage_ == stage::closed)
                Q_EMIT open_failed(failure);
        },
        Qt::QueuedConnection);
}

void network_serial_device::on_closed_by_server()
{
    if (is_opening()) {
        // Accepted and closed at once: the server's port is held by another client.
        fail_open(port_failure_kind::in_use, {});
    } else if (stage_ == stage::open) {
        Q_EMIT failed();
    }
}

void network_serial_device::on_error(QAbstractSocket::SocketError error)
{
    if (stage_ == stage::open) {
        Q_EMIT failed();
        return;
    }
    if (!is_opening())
        return;
    const QString reason = socket_->errorString();
    switch (error) {
    case QAbstractSocket::HostNotFoundError:
        fail_open(port_failure_kind::host_not_found, reason);
        break;
    case QAbstractSocket::ConnectionRefusedError:
        fail_open(port_failure_kind::connection_refused, reason);
        break;
    case QAbstractSocket::SocketTimeoutError:
        fail_open(port_failure_kind::timed_out, reason);
        break;
    case QAbstractSocket::RemoteHostClosedError:
        fail_open(port_failure_kind::in_use, {});
        break;
    default:
        fail_open(port_failure_kind::other, reason);
        break;
    }
}

void network_serial_device::on_deadline()
{
    if (stage_ == stage::connecting)
        fail_open(port_failure_kind::timed_out, {});
    else if (stage_ == stage::negotiating)
        fail_open(port_failure_kind::settings_refused, {});
}

void network_serial_device::discard_input()
{
    if (socket_) {
        // What Qt has buffered, then what waits in the system: both have arrived. Telnet
        // commands among them are still answered; only line bytes are dropped.
        QByteArray waiting = socket_->readAll();
        waiting += read_system_queue(socket_->socketDescriptor());
        take(waiting);
    }
    input_.clear();
}

void network_serial_device::send(const frame& bytes)
{
    if (stage_ != stage::open || !socket_ || socket_->state() != QAbstractSocket::ConnectedState)
        return;  // a connection that dropped is reported by failed(); the frame is lost
    const QByteArrayView line(bytes.data(), static_cast<qsizetype>(bytes.size()));
    socket_->write(telnet_ ? telnet_->encode(line) : line.toByteArray());
    socket_->flush();  // out now, not on the next pass of the event loop
}

}  // namespace lorvane
