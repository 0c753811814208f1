#ifdef _WIN32
#include <winsock2.h>
#else
#include <sys/socket.h>
#endif

#include "network_serial_device.h"

#include "known_servers.h"
#include "tls_probe.h"

#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslError>
#include <QSslSocket>
#include <QTcpSocket>

#include <algorithm>
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

// What a server said, as a value safe to show anywhere: printable ASCII, white space
// collapsed, everything else as '?'.
QString shown_text(const QByteArray& bytes)
{
    QByteArray text = bytes;
    for (char& c : text) {
        if (c == '\r' || c == '\n' || c == '\t')
            c = ' ';
        else if (c < ' ' || c > '~')
            c = '?';
    }
    return QString::fromLatin1(text.simplified());
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
    return stage_ != stage::closed && stage_ != stage::open;
}

std::optional<server_certificate> network_serial_device::peer_certificate() const
{
    return stage_ == stage::open ? certificate_ : std::nullopt;
}

std::optional<port_failure> network_serial_device::open(const QString& device)
{
    if (stage_ != stage::closed)
        return port_failure{port_failure_kind::already_open, device, {}};
    if (const auto name = dnssd_port_name(device)) {
        // The server advertised under that name, wherever it is now: looked up first.
        device_ = device.trimmed();
        ++attempt_;
        stage_ = stage::discovering;
        lookup_ = new dnssd_lookup(*name, DNSSD_LOOKUP_MS, this);
        connect(lookup_, &dnssd_lookup::found, this, &network_serial_device::on_service_found);
        connect(lookup_, &dnssd_lookup::lookup_failed, this,
                &network_serial_device::on_lookup_failed);
        return std::nullopt;
    }
    const network_port_result parsed = parse_network_port(device);
    if (!parsed.ok())
        return port_failure{port_failure_kind::bad_name, device, {}};
    device_ = device;
    ++attempt_;
    return connect_to(*parsed.port);
}

void network_serial_device::on_service_found(const dnssd_service& service)
{
    lookup_->disconnect(this);
    lookup_->deleteLater();
    lookup_ = nullptr;
    // From here on the port is the server's URL: messages, trust and pins name it.
    device_ = service.url().value_or(QString());
    const network_port_result parsed = parse_network_port(device_);
    if (!parsed.ok()) {
        fail_open(failure(port_failure_kind::bad_name));
        return;
    }
    if (auto refused = connect_to(*parsed.port))
        fail_open(*refused);
}

void network_serial_device::on_lookup_failed(const lookup_failure& looked)
{
    port_failure_kind kind = port_failure_kind::service_not_found;
    switch (looked.fault) {
    case lookup_fault::not_found:
        break;
    case lookup_fault::ambiguous:
        kind = port_failure_kind::service_ambiguous;
        break;
    case lookup_fault::unsupported:
        kind = port_failure_kind::service_unsupported;
        break;
    case lookup_fault::discovery:
        kind = looked.problem.fault == discovery_fault::unavailable
                   ? port_failure_kind::discovery_unavailable
               : looked.problem.fault == discovery_fault::no_daemon
                   ? port_failure_kind::discovery_no_daemon
                   : port_failure_kind::discovery_failed;
        break;
    }
    port_failure refused = failure(kind, looked.problem.reason);
    refused.hosts = looked.hosts;
    refused.stack = looked.stack;
    fail_open(refused);
}

std::optional<port_failure> network_serial_device::connect_to(const network_port& port)
{
    const QString& device = device_;
    port_ = port;
    input_.clear();
    telnet_.reset();
    certificate_.reset();
    refused_.reset();
    server_text_.clear();
    heard_ = false;
    first_frame_.invalidate();
    if (port_.protocol == network_protocol::rfc2217)
        telnet_.emplace();
    if (port_.tls) {
        auto configuration = tls_configuration(options_);
        if (auto* refused = std::get_if<port_failure>(&configuration)) {
            refused->device = device;
            return *refused;
        }
        tls_ = new QSslSocket(this);
        tls_->setSslConfiguration(std::get<QSslConfiguration>(configuration));
        connect(tls_, &QSslSocket::encrypted, this, &network_serial_device::on_encrypted);
        connect(tls_, &QSslSocket::sslErrors, this, &network_serial_device::on_ssl_errors);
        socket_ = tls_;
    } else {
        socket_ = new QTcpSocket(this);
    }
    connect(socket_, &QTcpSocket::connected, this, &network_serial_device::on_connected);
    connect(socket_, &QTcpSocket::readyRead, this, &network_serial_device::on_ready_read);
    connect(socket_, &QTcpSocket::disconnected, this, &network_serial_device::on_closed_by_server);
    connect(socket_, &QTcpSocket::errorOccurred, this, &network_serial_device::on_error);
    stage_ = stage::connecting;
    deadline_.start(OPEN_TIMEOUT_MS);
    if (tls_)
        tls_->connectToHostEncrypted(port_.host, port_.port);
    else
        socket_->connectToHost(port_.host, port_.port);
    return std::nullopt;
}

void network_serial_device::close()
{
    if (lookup_) {
        lookup_->disconnect(this);
        lookup_->deleteLater();
        lookup_ = nullptr;
    }
    deadline_.stop();
    settle_.stop();
    stage_ = stage::closed;
    input_.clear();
    certificate_.reset();
    if (probe_) {
        probe_->disconnect(this);
        probe_->deleteLater();
        probe_ = nullptr;
    }
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
    tls_ = nullptr;
}

void network_serial_device::on_connected()
{
    // Each 8-byte request leaves at once instead of waiting for the reply to the last one.
    socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    if (tls_)
        stage_ = stage::handshaking;  // connectToHostEncrypted goes on with the handshake
    else
        begin_session();
}

void network_serial_device::begin_session()
{
    if (telnet_) {
        stage_ = stage::negotiating;
        write_bounded(telnet_->start());
    } else {
        deadline_.stop();
        stage_ = stage::settling;
        settle_.start(RAW_SETTLE_MS);
    }
}

std::optional<port_failure> network_serial_device::check_certificate(bool verified)
{
    server_certificate shown = certificate_info(tls_->peerCertificate(), server_name(port_));
    const bool pinned = std::find(options_.pins.begin(), options_.pins.end(), shown.fingerprint) !=
                        options_.pins.end();
    bool trusted = verified || pinned;
    if (!pinned && !options_.known_servers.isEmpty()) {
        const known_servers::result known =
            known_servers::find(options_.known_servers, shown.server);
        if (!known.ok()) {
            port_failure unreadable = failure(port_failure_kind::tls_file, known.reason);
            unreadable.file = options_.known_servers;
            unreadable.file_fault = known.outcome == known_servers::result::status::too_large
                                        ? std::optional(file_problem::too_large)
                                        : known.problem;
            return unreadable;
        }
        if (known.stored && *known.stored != shown.fingerprint) {
            shown.stored = *known.stored;
            port_failure changed = failure(port_failure_kind::certificate_changed);
            changed.certificate = shown;
            return changed;
        }
        trusted = trusted || known.stored.has_value();
    }
    if (!trusted) {
        port_failure unknown = failure(port_failure_kind::certificate_unknown);
        unknown.certificate = shown;
        return unknown;
    }
    certificate_ = shown;
    return std::nullopt;
}

void network_serial_device::on_ssl_errors(const QList<QSslError>& errors)
{
    if (stage_ != stage::handshaking)
        return;
    refused_ = check_certificate(false);
    if (!refused_) {
        tls_->ignoreSslErrors();
        return;
    }
    // Not ignored, the errors end the handshake before anything is sent; errorOccurred
    // follows and reports this verdict.
    if (refused_->kind == port_failure_kind::certificate_unknown) {
        QStringList texts;
        for (const QSslError& error : errors)
            texts << error.errorString();
        refused_->reason = texts.join(QStringLiteral("; "));
    }
}

void network_serial_device::on_encrypted()
{
    if (stage_ != stage::handshaking)
        return;
    // Without errors the certificate verified for the host; a pin stored for the server
    // still has the last word.
    if (!certificate_) {
        if (const auto refused = check_certificate(true)) {
            fail_open(*refused);
            return;
        }
    }
    begin_session();
}

bool network_serial_device::write_bounded(const QByteArray& bytes)
{
    if (!socket_)
        return false;
    const qint64 pending = socket_->bytesToWrite() + (tls_ ? tls_->encryptedBytesToWrite() : 0);
    if (pending + bytes.size() > MAX_PENDING_OUTPUT) {
        if (is_opening())
            fail_open(failure(port_failure_kind::flooded));
        else if (stage_ == stage::open)
            lose(port_loss::flooded);
        return false;
    }
    socket_->write(bytes);
    socket_->flush();  // out now, not on the next pass of the event loop
    return true;
}

QByteArray network_serial_device::take(const QByteArray& bytes)
{
    QByteArray line;
    const QByteArray answer = telnet_ ? telnet_->receive(bytes, line) : QByteArray();
    if (!telnet_)
        line = bytes;
    // Line bytes before the open belong to nobody; the first few say why a server closes.
    // Kept before the answer goes out: a write to a server that closed reports the close.
    if (stage_ == stage::negotiating || stage_ == stage::settling)
        server_text_ += line.left(MAX_SERVER_TEXT - server_text_.size());
    if (!answer.isEmpty() && !write_bounded(answer))
        return {};
    return line;
}

void network_serial_device::on_ready_read()
{
    if (discarding_ || !socket_)
        return;  // a discard takes these bytes itself
    const QByteArray bytes = socket_->readAll();
    if (bytes.isEmpty())
        return;
    heard_ = true;
    const QByteArray line = take(bytes);
    if (!socket_)
        return;  // flooded: the port has failed
    if (stage_ == stage::negotiating) {
        check_settings();
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
        fail_open(failure(port_failure_kind::settings_refused));
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

port_failure network_serial_device::failure(port_failure_kind kind, const QString& reason) const
{
    port_failure f{kind, device_, reason};
    if (kind == port_failure_kind::in_use || kind == port_failure_kind::closed_during_setup)
        f.server_text = shown_text(server_text_);
    if (kind == port_failure_kind::client_certificate_refused)
        f.file = options_.client_certificate;
    return f;
}

void network_serial_device::fail_open(const port_failure& failure)
{
    close();
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

void network_serial_device::lose(port_loss why)
{
    drop_socket();  // nothing more is read or sent; the link closes the port
    Q_EMIT failed(why);
}

void network_serial_device::on_closed_by_server()
{
    if (stage_ == stage::open)
        lose_connection();
    else if (is_opening())
        closed_while_opening();
}

void network_serial_device::lose_connection()
{
    if (probe_)
        return;  // already finding out why
    // A TLS server drops a plain connection at its first bytes without a word; a raw port
    // never closes because of what we sent.
    if (!tls_ && !telnet_ && !heard_ && first_frame_.isValid() &&
        first_frame_.elapsed() < FIRST_FRAME_CLOSE_MS) {
        probe_for_tls();
        return;
    }
    Q_EMIT failed();
}

void network_serial_device::closed_while_opening()
{
    // After the TLS handshake, a server that closes before its first word refused our client
    // certificate (under TLS 1.3 that comes after the handshake, often without an alert).
    const bool refused_client = tls_ && !heard_;
    switch (stage_) {
    case stage::handshaking:
        handshake_failed();
        break;
    case stage::negotiating:
        if (refused_client)
            fail_open(failure(port_failure_kind::client_certificate_refused));
        else if (!tls_ && !heard_)
            probe_for_tls();  // a Telnet server speaks first; a TLS one says nothing
        else
            fail_open(failure(port_failure_kind::closed_during_setup));
        break;
    case stage::settling:
        // Accepted and closed at once: the server's port is held by another client.
        fail_open(failure(refused_client ? port_failure_kind::client_certificate_refused
                                         : port_failure_kind::in_use));
        break;
    case stage::connecting:
        fail_open(failure(port_failure_kind::other, socket_ ? socket_->errorString() : QString()));
        break;
    case stage::discovering:
    case stage::probing:
    case stage::closed:
    case stage::open:
        break;
    }
}

void network_serial_device::handshake_failed()
{
    if (refused_) {
        fail_open(*refused_);
        return;
    }
    const QString reason = socket_ ? socket_->errorString() : QString();
    // A failure after the server showed its certificate is about ours (TLS 1.2 says so in
    // the handshake); one before it means the server did not answer as a TLS server.
    if (tls_ && !tls_->peerCertificate().isNull())
        fail_open(failure(port_failure_kind::client_certificate_refused, reason));
    else
        fail_open(failure(port_failure_kind::tls_not_spoken, reason));
}

void network_serial_device::probe_for_tls()
{
    const bool opening = is_opening();
    drop_socket();
    if (opening)
        stage_ = stage::probing;
    auto* probe = new tls_probe(port_.host, port_.port, TLS_PROBE_MS, this);
    probe_ = probe;
    connect(probe, &tls_probe::finished, this, [this, probe, opening](bool speaks_tls) {
        if (probe_ != probe)
            return;
        probe_ = nullptr;
        probe->deleteLater();
        if (opening && stage_ == stage::probing)
            fail_open(failure(speaks_tls ? port_failure_kind::tls_expected
                                         : port_failure_kind::closed_during_setup));
        else if (!opening && stage_ == stage::open)
            Q_EMIT failed(speaks_tls ? port_loss::tls_expected : port_loss::gone);
    });
}

void network_serial_device::on_error(QAbstractSocket::SocketError error)
{
    if (discarding_ && error == QAbstractSocket::SocketTimeoutError)
        return;  // the discard's look at the socket found nothing more
    if (stage_ == stage::open) {
        lose_connection();
        return;
    }
    if (!is_opening() || stage_ == stage::probing)
        return;
    const QString reason = socket_->errorString();
    switch (error) {
    case QAbstractSocket::HostNotFoundError:
        fail_open(failure(port_failure_kind::host_not_found, reason));
        break;
    case QAbstractSocket::ConnectionRefusedError:
        fail_open(failure(port_failure_kind::connection_refused, reason));
        break;
    case QAbstractSocket::SocketTimeoutError:
        fail_open(failure(port_failure_kind::timed_out, reason));
        break;
    case QAbstractSocket::RemoteHostClosedError:
        closed_while_opening();
        break;
    case QAbstractSocket::SslHandshakeFailedError:
        handshake_failed();
        break;
    case QAbstractSocket::SslInvalidUserDataError: {
        // The client certificate and key do not belong together.
        port_failure unusable = failure(port_failure_kind::tls_file_invalid, reason);
        unusable.file = options_.client_key;
        fail_open(unusable);
        break;
    }
    default:
        if (stage_ == stage::handshaking)
            handshake_failed();
        else if (tls_ && !heard_)
            closed_while_opening();  // a TLS error in place of the close, as some backends say it
        else
            fail_open(failure(port_failure_kind::other, reason));
        break;
    }
}

void network_serial_device::on_deadline()
{
    switch (stage_) {
    case stage::connecting:
        fail_open(failure(port_failure_kind::timed_out));
        break;
    case stage::handshaking:
        fail_open(failure(port_failure_kind::tls_not_spoken));
        break;
    case stage::negotiating:
        fail_open(failure(port_failure_kind::settings_refused));
        break;
    case stage::probing:
        fail_open(failure(port_failure_kind::closed_during_setup));
        break;
    case stage::discovering:  // the lookup has a deadline of its own
    case stage::settling:
    case stage::closed:
    case stage::open:
        break;
    }
}

void network_serial_device::discard_input()
{
    if (socket_) {
        // What has arrived: Qt's buffer, then what waits in the system (inside TLS, what
        // waits is decrypted first; reading the system's queue would tear the TLS records).
        // Telnet commands among them are still answered; only line bytes are dropped.
        if (tls_) {
            discarding_ = true;
            tls_->waitForReadyRead(0);
            discarding_ = false;
        }
        if (socket_) {
            QByteArray waiting = socket_->readAll();
            if (!tls_)
                waiting += read_system_queue(socket_->socketDescriptor());
            heard_ = heard_ || !waiting.isEmpty();
            take(waiting);
        }
    }
    input_.clear();
}

std::optional<serial_device::line_state_notes> network_serial_device::line_state() const
{
    if (!telnet_ || stage_ != stage::open)
        return std::nullopt;
    return line_state_notes{telnet_->line_state_notices(), telnet_->line_state_errors()};
}

void network_serial_device::send(const frame& bytes)
{
    if (stage_ != stage::open || !socket_ || socket_->state() != QAbstractSocket::ConnectedState)
        return;  // a connection that dropped is reported by failed(); the frame is lost
    if (!first_frame_.isValid())
        first_frame_.start();
    const QByteArrayView line(bytes.data(), static_cast<qsizetype>(bytes.size()));
    write_bounded(telnet_ ? telnet_->encode(line) : line.toByteArray());
}

}  // namespace lorvane
