// What the TLS tests share: a temporary folder of certificates made with openssl (path in
// LORVANE_OPENSSL) that is also the configuration folder (XDG_CONFIG_HOME), ser2net accepters
// inside TLS (path in LORVANE_SER2NET), lorvane-cli runs, and a FIFO that a test can unblock.
#pragma once

#include "cli_process.h"
#include "known_servers.h"
#include "module_peer.h"
#include "panel_file.h"
#include "recording_operation.h"
#include "ser2net_process.h"
#include "site_file.h"
#include "site_window.h"
#include "telnet_codec.h"
#include "window_fixture.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QTreeWidget>

#include <atomic>
#include <cstdio>
#include <thread>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace lorvane::tls_test {

// What a mismatch may take to be recognised, from the start of lorvane-cli to its end.
inline constexpr qint64 MISMATCH_LIMIT_MS = 6000;

inline QString dir_path;  // the test's certificates and configuration folder

inline QString file(const QString& name)
{
    return dir_path + u'/' + name;
}

inline bool openssl(const QStringList& arguments, QByteArray* out = nullptr)
{
    QProcess process;
    process.setWorkingDirectory(dir_path);
    process.start(qEnvironmentVariable("LORVANE_OPENSSL"), arguments);
    if (!process.waitForFinished(30000) || process.exitCode() != 0) {
        std::fprintf(stderr, "openssl %s: %s\n", qPrintable(arguments.join(u' ')),
                     process.readAllStandardError().constData());
        return false;
    }
    if (out)
        *out = process.readAllStandardOutput();
    return true;
}

// A self-signed certificate and its key, NAME.crt and NAME.key, with `subject`.
inline bool self_signed(const QString& name, const QString& subject, int days = 365)
{
    return openssl({QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                    QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                    QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                    QStringLiteral("-keyout"), name + QStringLiteral(".key"),
                    QStringLiteral("-out"), name + QStringLiteral(".crt"), QStringLiteral("-days"),
                    QString::number(days), QStringLiteral("-subj"), subject});
}

// "sha256:" and the hex digits, as openssl reads the certificate.
inline QString fingerprint(const QString& name)
{
    QByteArray out;
    if (!openssl({QStringLiteral("x509"), QStringLiteral("-noout"), QStringLiteral("-fingerprint"),
                  QStringLiteral("-sha256"), QStringLiteral("-in"), name + QStringLiteral(".crt")},
                 &out))
        return {};
    return QStringLiteral("sha256:") +
           QString::fromLatin1(out.mid(out.indexOf('=') + 1).trimmed()).remove(u':').toLower();
}

// The gensio ssl filter serving certificate NAME.
inline QString ssl(const QString& name, bool clientauth = false)
{
    return QStringLiteral("ssl(key=%1.key,cert=%1.crt%2)")
        .arg(file(name), clientauth ? QStringLiteral(",clientauth") : QString());
}

inline QString tls_raw(const QString& name, bool clientauth = false)
{
    return ssl(name, clientauth) + QStringLiteral(",tcp,127.0.0.1,%1");
}

inline QString tls_telnet(const QString& name, bool clientauth = false)
{
    return QStringLiteral("telnet(rfc2217),") + tls_raw(name, clientauth);
}

inline QString url(const char* scheme, quint16 port)
{
    return QStringLiteral("%1://127.0.0.1:%2").arg(QLatin1String(scheme)).arg(port);
}

// Opens `url` with a link of its own and reports whether it opened. ser2net frees its device
// a moment after a client left; a test that changes between ports waits for that.
inline bool opens(const QString& url, const network_options& options)
{
    serial_link link;
    link.set_network_options(options);
    QSignalSpy opened(&link, &serial_link::opened);
    QSignalSpy failed(&link, &serial_link::open_failed);
    if (link.open(url))
        return false;
    return QTest::qWaitFor([&] { return !opened.isEmpty() || !failed.isEmpty(); }, 5000) &&
           !opened.isEmpty();
}

// lorvane-cli with its time to the end, in ms.
inline cli_result timed_cli(const QStringList& arguments, qint64& ms)
{
    QElapsedTimer clock;
    clock.start();
    cli_result result = run_cli(arguments);
    ms = clock.elapsed();
    return result;
}

// A Telnet server that sends IAC DO 99 without end and never reads what comes back. With
// `open_first` it first asks for the COM-PORT-OPTION and confirms every line setting, so
// the port opens, and floods 300 ms later.
inline QString said(const cli_result& result)
{
    return QString::fromUtf8(result.out) + result.err;
}

// A site file DIR/NAME.json of buses (name, port), each with the panel of module `address`
// at its defaults, written beside it; its path.
inline QString site_file(const QString& name,
                         const std::vector<std::tuple<QString, QString, std::uint8_t>>& buses)
{
    site_plan plan;
    plan.name = name;
    for (const auto& [bus, port, address] : buses) {
        const QString panel = QStringLiteral("%1-%2/%3.json").arg(name, bus).arg(address);
        QDir().mkpath(QFileInfo(file(panel)).path());
        panel_config config;
        config.module_address = address;
        QFile out(file(panel));
        if (!out.open(QIODevice::WriteOnly) || out.write(panel_file_text(config)) <= 0)
            qFatal("cannot write %s", qPrintable(panel));
        plan.buses.push_back({bus, port, false, {panel}, {}});
    }
    const QString path = file(name + QStringLiteral(".json"));
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(site_file_text(plan)) <= 0)
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

// A FIFO at `path` (whatever was there goes), and a writer that opens it after `after_ms`
// and again until it is destroyed: code that waits for a FIFO's writer is set free then, so
// that a test of it ends (failing) instead of hanging.
class fifo
{
public:
    fifo(const QString& path, int after_ms) : path_(QFile::encodeName(path))
    {
        QFile::remove(path);
        QDir().mkpath(QFileInfo(path).path());
        if (::mkfifo(path_.constData(), 0600) != 0)
            qFatal("mkfifo %s", path_.constData());
        rescuer_ = std::thread([this, after_ms] {
            for (int waited = 0; !done_ && waited < after_ms; waited += 20)
                ::usleep(20000);
            while (!done_) {
                const int fd = ::open(path_.constData(), O_WRONLY | O_NONBLOCK);
                if (fd >= 0)
                    ::close(fd);
                ::usleep(20000);
            }
        });
    }
    ~fifo()
    {
        done_ = true;
        rescuer_.join();
        ::unlink(path_.constData());
    }

private:
    QByteArray path_;
    std::atomic<bool> done_{false};
    std::thread rescuer_;
};

// The certificates and files every TLS test uses, made once per test program.
class tls_test_base : public QObject
{
protected:
    // Makes the folder, the certificates and ff.json; fails the calling test on any error.
    void set_up();

    QTemporaryDir dir_;
    QString fp_;         // server.crt's fingerprint
    QString known_;      // the known_servers file
    panel_config ff_{};  // 0xFF wherever a value may hold it
};

inline void tls_test_base::set_up()
{
    QVERIFY2(QFileInfo(qEnvironmentVariable("LORVANE_SER2NET")).isExecutable(),
             "ser2net was found when the build was configured and is missing now");
    QVERIFY2(QFileInfo(qEnvironmentVariable("LORVANE_OPENSSL")).isExecutable(),
             "openssl was found when the build was configured and is missing now");
    QVERIFY(dir_.isValid());
    dir_path = dir_.path();
    // Never the user's own folder: lorvane-cli and the window store pins there.
    qputenv("XDG_CONFIG_HOME", file(QStringLiteral("config")).toLocal8Bit());
    known_ = file(QStringLiteral("config/lorvane/known_servers"));
    QCOMPARE(default_network_options().known_servers, known_);

    // The server's self-signed certificate, named as ser2net's own are, not after the host.
    QVERIFY(self_signed(QStringLiteral("server"), QStringLiteral("/CN=box-ser2net")));
    fp_ = fingerprint(QStringLiteral("server"));
    QVERIFY(fp_.size() == 71);
    // An authority, and a certificate it signed for 127.0.0.1 that ends in 20 days.
    QVERIFY(self_signed(QStringLiteral("ca"), QStringLiteral("/CN=Lorvane test authority")));
    QFile ext(file(QStringLiteral("named.ext")));
    QVERIFY(ext.open(QIODevice::WriteOnly));
    ext.write("subjectAltName=IP:127.0.0.1\nextendedKeyUsage=serverAuth\n");
    ext.close();
    QVERIFY(
        openssl({QStringLiteral("req"), QStringLiteral("-newkey"), QStringLiteral("ec"),
                 QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"),
                 QStringLiteral("-nodes"), QStringLiteral("-keyout"), QStringLiteral("named.key"),
                 QStringLiteral("-out"), QStringLiteral("named.csr"), QStringLiteral("-subj"),
                 QStringLiteral("/CN=bus gateway")}));
    QVERIFY(openssl({QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"),
                     QStringLiteral("named.csr"), QStringLiteral("-CA"), QStringLiteral("ca.crt"),
                     QStringLiteral("-CAkey"), QStringLiteral("ca.key"),
                     QStringLiteral("-CAcreateserial"), QStringLiteral("-days"),
                     QStringLiteral("20"), QStringLiteral("-extfile"), QStringLiteral("named.ext"),
                     QStringLiteral("-out"), QStringLiteral("named.crt")}));
    // Clients: alice is allowed; mallory calls itself alice with another key.
    QVERIFY(self_signed(QStringLiteral("alice"), QStringLiteral("/CN=alice")));
    QVERIFY(self_signed(QStringLiteral("mallory"), QStringLiteral("/CN=alice")));
    QVERIFY(QDir().mkpath(file(QStringLiteral("auth/alice/allowed_certs"))));
    QVERIFY(QFile::copy(file(QStringLiteral("alice.crt")),
                        file(QStringLiteral("auth/alice/allowed_certs/alice.crt"))));
    QVERIFY(openssl({QStringLiteral("rehash"), QStringLiteral("auth/alice/allowed_certs")}));

    ff_.module_address = 255;
    ff_.refresh_period = 255;
    for (key_binding& key : ff_.keys)
        key = {255, 255, 255};
    QFile ff(file(QStringLiteral("ff.json")));
    QVERIFY(ff.open(QIODevice::WriteOnly) && ff.write(panel_file_text(ff_)) > 0);
}

}  // namespace lorvane::tls_test
