#include "tls_probe.h"

#include <QSslConfiguration>
#include <QSslSocket>

namespace lorvane {

tls_probe::tls_probe(const QString& host, quint16 port, int timeout_ms, QObject* parent)
    : QObject(parent)
{
    deadline_.setSingleShot(true);
    connect(&deadline_, &QTimer::timeout, this, [this] { finish(false); });
    deadline_.start(timeout_ms);
    if (!QSslSocket::supportsSsl()) {
        QMetaObject::invokeMethod(
            this, [this] { finish(false); }, Qt::QueuedConnection);
        return;
    }
    socket_ = new QSslSocket(this);
    // Any certificate will do: the question is only whether one comes.
    socket_->setPeerVerifyMode(QSslSocket::VerifyNone);
    connect(socket_, &QSslSocket::encrypted, this, [this] { finish(true); });
    connect(socket_, &QSslSocket::errorOccurred, this,
            [this] { finish(!socket_->peerCertificate().isNull()); });
    socket_->connectToHostEncrypted(host, port);
}

tls_probe::~tls_probe()
{
    if (socket_) {
        socket_->disconnect(this);
        socket_->abort();
    }
}

void tls_probe::finish(bool speaks_tls)
{
    if (done_)
        return;
    done_ = true;
    deadline_.stop();
    // Reported from the event loop, never inside the socket's own signal: the listener
    // deletes the probe.
    QMetaObject::invokeMethod(
        this, [this, speaks_tls] { Q_EMIT finished(speaks_tls); }, Qt::QueuedConnection);
}

}  // namespace lorvane
