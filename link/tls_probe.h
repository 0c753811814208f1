// Finds out whether a server speaks TLS on a port, for a plain connection the server closed
// at our first bytes: a TLS server waits for the client's hello and drops a connection that
// starts with anything else, without a word. The probe connects once more, offers a TLS
// handshake and sends nothing else.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

class QSslSocket;

namespace lorvane {

class tls_probe final : public QObject
{
    Q_OBJECT

public:
    // Starts at once; finished() follows from the event loop within `timeout_ms`.
    tls_probe(const QString& host, quint16 port, int timeout_ms, QObject* parent = nullptr);
    ~tls_probe() override;

Q_SIGNALS:
    // Once: whether a TLS server answered (showed a certificate or finished the handshake).
    void finished(bool speaks_tls);

private:
    void finish(bool speaks_tls);

    QSslSocket* socket_ = nullptr;
    QTimer deadline_;
    bool done_ = false;
};

}  // namespace lorvane
