// Network serial servers inside TLS: lorvane-cli (path in LORVANE_CLI), the link and the
// window through a real ser2net with ssl accepters on loopback, with certificates this test
// makes with openssl (path in LORVANE_OPENSSL); trust by pins, stored pins and authorities,
// client certificates, the plain/TLS mismatches, and a scripted server that floods Telnet
// requests and never reads. The configuration folder is a temporary one (XDG_CONFIG_HOME).
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

using namespace lorvane;

namespace {

// What a mismatch may take to be recognised, from the start of lorvane-cli to its end.
constexpr qint64 MISMATCH_LIMIT_MS = 6000;

QString dir_path;  // the test's certificates and configuration folder

QString file(const QString& name)
{
    return dir_path + u'/' + name;
}

bool openssl(const QStringList& arguments, QByteArray* out = nullptr)
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
bool self_signed(const QString& name, const QString& subject, int days = 365)
{
    return openssl({QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                    QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                    QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                    QStringLiteral("-keyout"), name + QStringLiteral(".key"),
                    QStringLiteral("-out"), name + QStringLiteral(".crt"), QStringLiteral("-days"),
                    QString::number(days), QStringLiteral("-subj"), subject});
}

// "sha256:" and the hex digits, as openssl reads the certificate.
QString fingerprint(const QString& name)
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
QString ssl(const QString& name, bool clientauth = false)
{
    return QStringLiteral("ssl(key=%1.key,cert=%1.crt%2)")
        .arg(file(name), clientauth ? QStringLiteral(",clientauth") : QString());
}

QString tls_raw(const QString& name, bool clientauth = false)
{
    return ssl(name, clientauth) + QStringLiteral(",tcp,127.0.0.1,%1");
}

QString tls_telnet(const QString& name, bool clientauth = false)
{
    return QStringLiteral("telnet(rfc2217),") + tls_raw(name, clientauth);
}

QString url(const char* scheme, quint16 port)
{
    return QStringLiteral("%1://127.0.0.1:%2").arg(QLatin1String(scheme)).arg(port);
}

// Opens `url` with a link of its own and reports whether it opened. ser2net frees its device
// a moment after a client left; a test that changes between ports waits for that.
bool opens(const QString& url, const network_options& options)
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
cli_result timed_cli(const QStringList& arguments, qint64& ms)
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
class telnet_flooder : public QObject
{
public:
    static constexpr qint64 LIMIT = 256 * 1024 * 1024;  // far beyond any bound of the client

    explicit telnet_flooder(bool open_first) : open_first_(open_first)
    {
        server_.listen(QHostAddress::LocalHost);
        connect(&server_, &QTcpServer::newConnection, this, [this] {
            client_ = server_.nextPendingConnection();
            client_->setReadBufferSize(1);  // reads nothing: the client's answers pile up
            if (!open_first_) {
                flood();
                return;
            }
            using namespace telnet;
            QByteArray confirm{"\xff\xfd\x2c"};  // IAC DO COM-PORT-OPTION
            const auto ack = [&](std::uint8_t code, QByteArray value) {
                confirm += QByteArray("\xff\xfa\x2c") + char(SERVER_OFFSET + code) + value +
                           QByteArray("\xff\xf0");
            };
            ack(SET_BAUDRATE, QByteArray("\x00\x00\x25\x80", 4));
            ack(SET_DATASIZE, QByteArray(1, char(DATA_SIZE_8)));
            ack(SET_PARITY, QByteArray(1, char(LINE_PARITY_NONE)));
            ack(SET_STOPSIZE, QByteArray(1, char(STOP_SIZE_1)));
            ack(SET_CONTROL, QByteArray(1, char(CONTROL_NO_FLOW)));
            client_->write(confirm);
            QTimer::singleShot(300, this, &telnet_flooder::flood);
        });
    }
    quint16 port() const { return server_.serverPort(); }
    qint64 sent = 0;

private:
    void flood()
    {
        connect(client_, &QTcpSocket::bytesWritten, this, &telnet_flooder::pump);
        pump();
    }
    void pump()
    {
        static const QByteArray chunk = QByteArray("\xff\xfd\x63").repeated(20000);
        while (client_ && client_->state() == QAbstractSocket::ConnectedState &&
               client_->bytesToWrite() < 4 * chunk.size() && sent < LIMIT) {
            client_->write(chunk);
            sent += chunk.size();
        }
    }

    QTcpServer server_;
    QTcpSocket* client_ = nullptr;
    bool open_first_;
};

// What lorvane-cli printed, on both channels.
QString said(const cli_result& result)
{
    return QString::fromUtf8(result.out) + result.err;
}

// A site file DIR/NAME.json of buses (name, port), each with the panel of module `address`
// at its defaults, written beside it; its path.
QString site_file(const QString& name,
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

}  // namespace

class tst_tls : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void transfers_inside_tls();
    void certificates_unknown_pinned_stored_changed_verified();
    void client_certificates();
    void plain_and_tls_mismatches();
    void flooding_server_fails_the_port();
    void window_trust_box();
    void site_trusts_as_read_does();
    void site_window_asks_per_bus();
    void trust_openssl_fingerprints_and_many_writers();
    void tls_files_that_are_not_regular();

private:
    QTemporaryDir dir_;
    QString fp_;         // server.crt's fingerprint
    QString known_;      // the known_servers file
    panel_config ff_{};  // 0xFF wherever a value may hold it
};

void tst_tls::initTestCase()
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

void tst_tls::transfers_inside_tls()
{
    module_peer peer(255);
    ser2net_process server;
    QVERIFY(
        server.start(peer.path(), QStringLiteral("19200n82"),
                     {tls_raw(QStringLiteral("server")), tls_telnet(QStringLiteral("server"))}));
    const network_options pinned{{*parse_fingerprint(fp_)}, {}, {}, {}, {}};
    for (const QString& port :
         {url("tcp+tls", server.extra_ports[0]), url("rfc2217+tls", server.extra_ports[1])}) {
        QTRY_VERIFY_WITH_TIMEOUT(opens(port, pinned), 5000);
        const std::size_t before = peer.requests().size();
        const cli_result written =
            run_cli({QStringLiteral("write"), port_of(port), QStringLiteral("--trust"), fp_,
                     QStringLiteral("--verify"), file(QStringLiteral("ff.json"))});
        QVERIFY2(written.code == 0, qPrintable(port + u' ' + written.err));
        const cli_result read =
            run_cli({QStringLiteral("read"), port_of(port), QStringLiteral("--trust=") + fp_,
                     QStringLiteral("--address=255")});
        QVERIFY2(read.code == 0, qPrintable(port + u' ' + read.err));
        QCOMPARE(read.out, panel_file_text(ff_));
        QCOMPARE(peer.requests().size() - before, std::size_t{3 * 17});
    }

    // Through the link: RFC 2217 inside TLS sets 9600 baud, 1 stop bit, no flow control.
    QTRY_VERIFY_WITH_TIMEOUT(opens(url("rfc2217+tls", server.extra_ports[1]), pinned), 5000);
    serial_link link;
    link.set_network_options(pinned);
    QSignalSpy opened(&link, &serial_link::opened);
    QVERIFY(!link.open(url("rfc2217+tls", server.extra_ports[1])));
    QVERIFY(opened.wait(5000));
    QCOMPARE(fingerprint_text(link.peer_certificate().value().fingerprint), fp_);
    QCOMPARE(link.peer_certificate()->subject, QStringLiteral("CN=box-ser2net"));
    termios settings{};
    QCOMPARE(::tcgetattr(peer.master_fd(), &settings), 0);
    QCOMPARE(::cfgetospeed(&settings), speed_t(B9600));
    QCOMPARE(settings.c_cflag & (CSTOPB | CRTSCTS), tcflag_t(0));
    QCOMPARE(settings.c_iflag & (IXON | IXOFF), tcflag_t(0));
    // Stray bytes (0xFF among them) that reached the socket but not yet the program are
    // dropped by the next send, still encrypted when it starts.
    peer.send_raw({0xFF, 0x22, 0xFF, 0x01});
    QThread::msleep(200);  // no event loop meanwhile
    recording_operation op;
    const frame request = make_request(FUNC_READ, 255, 0, 0xFF, 0xFF, 0xFF);
    op.requests = {request};
    QVERIFY(link.claim(op));
    QTRY_COMPARE_WITH_TIMEOUT(op.replies().size(), std::size_t{1}, 2000);
    QCOMPARE(hex(peer.requests().back()), hex(request));
}

void tst_tls::certificates_unknown_pinned_stored_changed_verified()
{
    module_peer peer;
    ser2net_process server;
    QVERIFY(
        server.start(peer.path(), QStringLiteral("9600n81"),
                     {tls_telnet(QStringLiteral("server")), tls_telnet(QStringLiteral("named"))}));
    const QString port = url("rfc2217+tls", server.extra_ports[0]);
    const QString name = QStringLiteral("127.0.0.1:%1").arg(server.extra_ports[0]);
    const auto read = [&](const QStringList& more) {
        QTest::qWait(300);  // ser2net frees the device a moment after the last client left
        return run_cli(QStringList{QStringLiteral("read"), port_of(port)} + more);
    };

    // Unknown: exit 3 with the fingerprint, subject, expiry and how to trust it.
    QByteArray end;
    QVERIFY(openssl({QStringLiteral("x509"), QStringLiteral("-noout"), QStringLiteral("-enddate"),
                     QStringLiteral("-in"), QStringLiteral("server.crt")},
                    &end));
    const QDate expires =
        QLocale::c()
            .toDateTime(QString::fromLatin1(end.mid(end.indexOf('=') + 1)).simplified(),
                        QStringLiteral("MMM d HH:mm:ss yyyy 'GMT'"))
            .date();
    QVERIFY(expires.isValid());
    const cli_result unknown = read({});
    QCOMPARE(unknown.code, 3);
    for (const QString& says :
         {QStringLiteral("not trusted"), QStringLiteral("subject 'CN=box-ser2net'"),
          QStringLiteral("expires ") + expires.toString(Qt::ISODate),
          QStringLiteral("lorvane-cli trust %1 %2").arg(name, fp_),
          QStringLiteral("--trust ") + fp_})
        QVERIFY2(unknown.err.contains(says), qPrintable(says + u'\n' + unknown.err));

    // Pinned for one run, and only that certificate.
    QCOMPARE(read({QStringLiteral("--trust"), fp_}).code, 0);
    QCOMPARE(read({QStringLiteral("--trust"), QStringLiteral("sha256:") + QString(64, u'7')}).code,
             3);
    // Stored: every later run trusts it.
    const cli_result trusted = run_cli({QStringLiteral("trust"), name, fp_.toUpper()});
    QVERIFY2(trusted.code == 0, qPrintable(trusted.err));
    QCOMPARE(read({}).code, 0);
    // Changed: refused loudly, nothing reaches the line; replacing takes trust again.
    const QString other = QStringLiteral("sha256:") + QString(64, u'a');
    QCOMPARE(run_cli({QStringLiteral("trust"), name, other}).code, 0);
    const std::size_t sent = peer.raw().size();
    const cli_result changed = read({});
    QCOMPARE(changed.code, 3);
    QVERIFY2(changed.err.contains(QStringLiteral("changed"), Qt::CaseInsensitive) &&
                 changed.err.contains(other) && changed.err.contains(fp_),
             qPrintable(changed.err));
    QCOMPARE(peer.raw().size(), sent);
    QCOMPARE(known_servers::find(known_, name).stored, parse_fingerprint(other));

    // Verified by an authority for the host named in the certificate, with a warning that it
    // ends within 30 days; the same certificate reached by another name is not.
    const QString named = url("rfc2217+tls", server.extra_ports[1]);
    const QStringList ca{QStringLiteral("--ca"), file(QStringLiteral("ca.crt"))};
    QTest::qWait(300);
    const cli_result verified = run_cli(QStringList{QStringLiteral("read"), port_of(named)} + ca);
    QVERIFY2(verified.code == 0 && verified.err.contains(QStringLiteral("expires on")),
             qPrintable(verified.err));
    QTest::qWait(300);
    QCOMPARE(run_cli({QStringLiteral("read"), port_of(named)}).code, 3);
    const QString by_name = QStringLiteral("rfc2217+tls://localhost:%1").arg(server.extra_ports[1]);
    QTest::qWait(300);
    const cli_result misnamed = run_cli(QStringList{QStringLiteral("read"), port_of(by_name)} + ca);
    QVERIFY2(misnamed.code == 3 && misnamed.err.contains(QStringLiteral("not trusted")),
             qPrintable(misnamed.err));

    // The options are for TLS ports only, and a fingerprint has its one form.
    QCOMPARE(run_cli(QStringList{QStringLiteral("read"), port_of(server.telnet_url())} + ca).code,
             1);
    QCOMPARE(run_cli({QStringLiteral("trust"), name, QStringLiteral("sha256:abc")}).code, 1);
}

void tst_tls::client_certificates()
{
    module_peer peer;
    ser2net_process server;
    QVERIFY(server.start(
        peer.path(), QStringLiteral("9600n81"),
        {tls_raw(QStringLiteral("server"), true), tls_telnet(QStringLiteral("server"), true)},
        file(QStringLiteral("auth"))));
    const QString raw = url("tcp+tls", server.extra_ports[0]);
    const QString telnet = url("rfc2217+tls", server.extra_ports[1]);
    const auto read = [&](const QString& port, const QString& client) {
        QTest::qWait(300);
        QStringList arguments{QStringLiteral("read"), port_of(port), QStringLiteral("--trust"),
                              fp_};
        if (!client.isEmpty())
            arguments << QStringLiteral("--client-cert") << file(client + QStringLiteral(".crt"))
                      << QStringLiteral("--client-key") << file(client + QStringLiteral(".key"));
        return run_cli(arguments);
    };
    for (const QString& port : {raw, telnet}) {
        const cli_result without = read(port, {});
        QVERIFY2(without.code == 3 &&
                     without.err.contains(QStringLiteral("it wants a client certificate")),
                 qPrintable(port + u' ' + without.err));
        const cli_result refused = read(port, QStringLiteral("mallory"));
        QVERIFY2(refused.code == 3 &&
                     refused.err.contains(QStringLiteral("refused the client certificate")) &&
                     refused.err.contains(QStringLiteral("mallory.crt")),
                 qPrintable(port + u' ' + refused.err));
        const cli_result allowed = read(port, QStringLiteral("alice"));
        QVERIFY2(allowed.code == 0, qPrintable(port + u' ' + allowed.err));
    }
    // By default, client.crt and client.key of the configuration folder.
    const QString folder = file(QStringLiteral("config/lorvane/"));
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(QFile::copy(file(QStringLiteral("alice.crt")), folder + QStringLiteral("client.crt")));
    QVERIFY(QFile::copy(file(QStringLiteral("alice.key")), folder + QStringLiteral("client.key")));
    const cli_result by_default = read(telnet, {});
    QFile::remove(folder + QStringLiteral("client.crt"));
    QFile::remove(folder + QStringLiteral("client.key"));
    QVERIFY2(by_default.code == 0, qPrintable(by_default.err));
}

void tst_tls::plain_and_tls_mismatches()
{
    module_peer peer;
    ser2net_process server;
    QVERIFY(
        server.start(peer.path(), QStringLiteral("9600n81"),
                     {tls_raw(QStringLiteral("server")), tls_telnet(QStringLiteral("server"))}));
    struct expected
    {
        QString port;
        QString says;
    };
    const std::vector<expected> cases{
        {url("tcp", server.extra_ports[0]),
         QStringLiteral("speaks TLS on this port; use ") + url("tcp+tls", server.extra_ports[0])},
        {url("rfc2217", server.extra_ports[1]), QStringLiteral("speaks TLS on this port; use ") +
                                                    url("rfc2217+tls", server.extra_ports[1])},
        {url("tcp+tls", server.raw_port),
         QStringLiteral("if its port is a plain one, use ") + url("tcp", server.raw_port)},
        {url("rfc2217+tls", server.telnet_port), QStringLiteral("does not answer as a TLS server")},
    };
    for (const expected& c : cases) {
        QTest::qWait(300);
        qint64 ms = 0;
        const cli_result result = timed_cli(
            {QStringLiteral("read"), port_of(c.port), QStringLiteral("--timeout=5000")}, ms);
        QVERIFY2(result.code == 3 && result.err.contains(c.says) && ms < MISMATCH_LIMIT_MS,
                 qPrintable(QStringLiteral("%1: %2 after %3 ms: %4")
                                .arg(c.port)
                                .arg(result.code)
                                .arg(ms)
                                .arg(result.err)));
    }

    // A server that closes during the RFC 2217 setup is not taken for a TLS one.
    QTcpSocket holder;
    holder.connectToHost(QHostAddress::LocalHost, server.telnet_port);
    QVERIFY(holder.waitForConnected(5000));
    QTest::qWait(300);
    const cli_result held = run_cli({QStringLiteral("read"), port_of(server.telnet_url())});
    QVERIFY2(held.code == 3 && held.err.contains(QStringLiteral("during the RFC 2217 setup")) &&
                 held.err.contains(QStringLiteral("(server: 'Port already in use')")),
             qPrintable(held.err));
}

void tst_tls::flooding_server_fails_the_port()
{
    // While the port opens, and once it is open and scanning: exit 3, the memory bounded.
    for (const bool open_first : {false, true}) {
        telnet_flooder flooder(open_first);
        const QString port = url("rfc2217", flooder.port());
        const cli_result scan = run_cli({QStringLiteral("scan"), port_of(port)});
        const QString says = open_first ? QStringLiteral("stopped reading what was sent to it")
                                        : QStringLiteral("sent Telnet requests without reading");
        QVERIFY2(scan.code == 3 && scan.err.contains(says) && scan.err.contains(port),
                 qPrintable(scan.err));
        QVERIFY2(flooder.sent < telnet_flooder::LIMIT / 4,
                 qPrintable(QString::number(flooder.sent)));
    }
    rusage usage{};
    QCOMPARE(::getrusage(RUSAGE_CHILDREN, &usage), 0);
    QVERIFY2(usage.ru_maxrss < 96 * 1024, qPrintable(QString::number(usage.ru_maxrss)));

    // The window: one box naming the server, the port closed.
    telnet_flooder flooder(true);
    window_fixture w;
    const QString port = url("rfc2217", flooder.port());
    w.edit(QStringLiteral("chuankou_num"))->setText(port);
    w.click(QStringLiteral("open_comm"));
    QTRY_COMPARE(w.messages.size(), 1);
    QVERIFY2(w.messages[0].contains(port) && w.messages[0].contains(QStringLiteral("不读取")),
             qPrintable(w.messages[0]));
    QVERIFY(!w.form->link().is_open());
}

void tst_tls::window_trust_box()
{
    module_peer peer;
    ser2net_process server;
    QVERIFY(server.start(peer.path(), QStringLiteral("9600n81"),
                         {tls_telnet(QStringLiteral("server"))}));
    const QString port = url("rfc2217+tls", server.extra_ports[0]);
    QFile::remove(known_);
    window_fixture w;
    w.edit(QStringLiteral("chuankou_num"))->setText(port);
    QPushButton* open_comm = w.button(QStringLiteral("open_comm"));

    // The real box, answered from the keyboard: its title, text and the key pressed.
    QString title;
    QString text;
    const auto answer_with = [&](Qt::Key key) {
        auto* poll = new QTimer(this);
        connect(poll, &QTimer::timeout, this, [&, poll, key] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            poll->deleteLater();
            title = box->windowTitle();
            text = box->text();
            QTest::keyClick(box, key);
        });
        poll->start(20);
    };

    // Esc refuses: nothing stored, the port stays closed, no other box.
    answer_with(Qt::Key_Escape);
    w.click(QStringLiteral("open_comm"));
    QTRY_VERIFY_WITH_TIMEOUT(!text.isEmpty(), 5000);
    QVERIFY2(title.contains(QStringLiteral("证书")), qPrintable(title));
    QVERIFY2(text.contains(fp_) && text.contains(QStringLiteral("CN=box-ser2net")),
             qPrintable(text));
    QTest::qWait(300);
    QVERIFY(!w.form->link().is_open() && !w.form->link().is_opening());
    QCOMPARE(open_comm->text(), QStringLiteral("打开"));
    QVERIFY(!QFile::exists(known_));
    QVERIFY(w.messages.isEmpty());

    // Return trusts: the pin is stored and the port opens.
    text.clear();
    answer_with(Qt::Key_Return);
    w.click(QStringLiteral("open_comm"));
    QTRY_COMPARE_WITH_TIMEOUT(open_comm->text(), QStringLiteral("关闭"), 8000);
    QCOMPARE(fingerprint_text(known_servers::find(
                                  known_, QStringLiteral("127.0.0.1:%1").arg(server.extra_ports[0]))
                                  .stored.value()),
             fp_);
    QVERIFY(w.messages.isEmpty());
    w.click(QStringLiteral("open_comm"));

    // A stored pin that no longer matches: one box, the port closed, nothing asked.
    QVERIFY(known_servers::store(known_, QStringLiteral("127.0.0.1:%1").arg(server.extra_ports[0]),
                                 QByteArray(FINGERPRINT_SIZE, '\x11'))
                .ok());
    text.clear();
    QTest::qWait(300);
    w.click(QStringLiteral("open_comm"));
    QTRY_COMPARE(w.messages.size(), 1);
    QVERIFY2(w.messages[0].contains(QStringLiteral("证书已更改")), qPrintable(w.messages[0]));
    QVERIFY(text.isEmpty() && !w.form->link().is_open());

    // A plain URL at the TLS port: one box that speaks of TLS.
    w.messages.clear();
    w.edit(QStringLiteral("chuankou_num"))->setText(url("rfc2217", server.extra_ports[0]));
    w.click(QStringLiteral("open_comm"));
    QTRY_COMPARE(w.messages.size(), 1);
    QVERIFY2(w.messages[0].contains(QStringLiteral("使用 TLS")), qPrintable(w.messages[0]));
}

void tst_tls::site_trusts_as_read_does()
{
    module_peer peer;
    ser2net_process server;
    QVERIFY(server.start(peer.path(), QStringLiteral("9600n81"),
                         {tls_telnet(QStringLiteral("server")), tls_telnet(QStringLiteral("named")),
                          tls_raw(QStringLiteral("server"), true)},
                         file(QStringLiteral("auth"))));
    QFile::remove(known_);
    const auto site = [&](const QString& name, const QString& port, const QStringList& more) {
        QTest::qWait(300);  // ser2net frees the device a moment after the last client left
        return run_cli(QStringList{QStringLiteral("site"), QStringLiteral("check"),
                                   site_file(name, {{QStringLiteral("tls"), port, 1}}),
                                   QStringLiteral("--no-scan")} +
                       more);
    };

    // A pinned bus: unknown until its fingerprint is stored with trust, then read as read
    // reads it. The advice names the trust command and no option site does not take.
    const QString pinned = url("rfc2217+tls", server.extra_ports[0]);
    const QString pinned_name = QStringLiteral("127.0.0.1:%1").arg(server.extra_ports[0]);
    const cli_result unknown = site(QStringLiteral("pinned"), pinned, {});
    QVERIFY2(unknown.code == 3 && unknown.out.contains("not trusted") &&
                 unknown.out.contains(
                     QStringLiteral("lorvane-cli trust %1 %2").arg(pinned_name, fp_).toUtf8()) &&
                 !unknown.out.contains("--trust"),
             unknown.out.constData());
    QCOMPARE(run_cli({QStringLiteral("trust"), pinned_name, fp_}).code, 0);
    const cli_result read = site(QStringLiteral("pinned"), pinned, {});
    QVERIFY2(read.code == 0 && read.out.contains("tls: module 1") && read.out.contains(": same"),
             qPrintable(said(read)));

    // Vouched for by the CA (--ca) while another pin is stored: CHANGED, nothing sent, as
    // read says it.
    const QString named = url("rfc2217+tls", server.extra_ports[1]);
    const QString named_name = QStringLiteral("127.0.0.1:%1").arg(server.extra_ports[1]);
    const QString other = QStringLiteral("sha256:") + QString(64, u'b');
    QCOMPARE(run_cli({QStringLiteral("trust"), named_name, other}).code, 0);
    const std::size_t sent = peer.raw().size();
    const QStringList ca{QStringLiteral("--ca"), file(QStringLiteral("ca.crt"))};
    const cli_result changed = site(QStringLiteral("changed"), named, ca);
    QVERIFY2(changed.code == 3 && changed.out.contains("CHANGED; nothing was sent") &&
                 changed.out.contains(other.toUtf8()) && !changed.out.contains("not trusted"),
             qPrintable(said(changed)));
    QCOMPARE(peer.raw().size(), sent);
    const cli_result json =
        site(QStringLiteral("changed"), named, ca + QStringList{QStringLiteral("--json")});
    QVERIFY2(json.out.contains("CHANGED"), json.out.constData());
    QCOMPARE(peer.raw().size(), sent);

    // Client certificates, for every bus inside TLS.
    const QString client = url("tcp+tls", server.extra_ports[2]);
    QCOMPARE(run_cli({QStringLiteral("trust"),
                      QStringLiteral("127.0.0.1:%1").arg(server.extra_ports[2]), fp_})
                 .code,
             0);
    const cli_result without = site(QStringLiteral("client"), client, {});
    QVERIFY2(without.code == 3 && without.out.contains("it wants a client certificate"),
             qPrintable(said(without)));
    const cli_result with =
        site(QStringLiteral("client"), client,
             {QStringLiteral("--client-cert"), file(QStringLiteral("alice.crt")),
              QStringLiteral("--client-key"), file(QStringLiteral("alice.key"))});
    QVERIFY2(with.code == 0 && with.out.contains(": same"), qPrintable(said(with)));

    // --trust is not a site option: the refusal points to the trust command.
    const cli_result refused =
        site(QStringLiteral("pinned"), pinned, {QStringLiteral("--trust"), fp_});
    QVERIFY2(refused.code == 1 &&
                 refused.err.contains(QStringLiteral("lorvane-cli trust HOST:PORT")),
             qPrintable(refused.err));
}

void tst_tls::site_window_asks_per_bus()
{
    module_peer behind;  // module 1, behind the TLS server
    module_peer local(2);
    ser2net_process server;
    QVERIFY(server.start(behind.path(), QStringLiteral("9600n81"),
                         {tls_telnet(QStringLiteral("server"))}));
    const QString port = url("rfc2217+tls", server.extra_ports[0]);
    const QString name = QStringLiteral("127.0.0.1:%1").arg(server.extra_ports[0]);
    const QString path =
        site_file(QStringLiteral("window"),
                  {{QStringLiteral("tls"), port, 1}, {QStringLiteral("local"), local.path(), 2}});
    QFile::remove(known_);
    window_fixture w;
    QVERIFY(w.form->open_site(path));
    site_window* window = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* found = qobject_cast<site_window*>(widget))
            window = found;
    }
    QVERIFY(window);
    QTreeWidget* tree = window->findChild<QTreeWidget*>(QStringLiteral("site_tree"));
    const auto status = [&](int bus, int module = -1) {
        const QTreeWidgetItem* row = tree->topLevelItem(bus);
        return module < 0 ? row->text(2) : row->child(module)->text(2);
    };
    const auto box = [] { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); };

    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
        QFile::remove(known_);
        QTest::qWait(300);
        window->check();
        // The box of the main window, for the TLS bus; the local bus goes on meanwhile.
        QTRY_VERIFY_WITH_TIMEOUT(box(), 8000);
        QVERIFY2(box()->windowTitle().contains(QStringLiteral("证书")),
                 qPrintable(box()->windowTitle()));
        QVERIFY2(box()->text().contains(fp_) &&
                     box()->text().contains(QStringLiteral("CN=box-ser2net")),
                 qPrintable(box()->text()));
        QTRY_COMPARE_WITH_TIMEOUT(status(1, 0), QStringLiteral("相同"), 20000);
        QVERIFY(box() && window->running());
        QTest::keyClick(box(), key);
        QTRY_VERIFY_WITH_TIMEOUT(!window->running(), 20000);
        QVERIFY(!box());
        if (key == Qt::Key_Return) {
            QCOMPARE(status(0, 0), QStringLiteral("相同"));
            QCOMPARE(fingerprint_text(known_servers::find(known_, name).stored.value()), fp_);
        } else {
            QVERIFY2(tree->topLevelItem(0)->text(3).contains(QStringLiteral("未受信任")),
                     qPrintable(tree->topLevelItem(0)->text(3)));
            QVERIFY(!known_servers::find(known_, name).stored);
        }
        QCOMPARE(status(1, 0), QStringLiteral("相同"));
        QVERIFY2(w.messages.isEmpty(), qPrintable(w.messages.join(u'\n')));
    }

    // Stopped while it asks: the bus ends once, the box goes.
    QFile::remove(known_);
    QTest::qWait(300);
    window->check();
    QTRY_VERIFY_WITH_TIMEOUT(box(), 8000);
    window->stop();
    QTRY_VERIFY_WITH_TIMEOUT(!window->running(), 5000);
    QVERIFY(!box());
    window->close();
}

void tst_tls::trust_openssl_fingerprints_and_many_writers()
{
    QFile::remove(known_);
    // As openssl prints it: "sha256 Fingerprint=AB:CD:...", the part after '='.
    QByteArray out;
    QVERIFY(
        openssl({QStringLiteral("x509"), QStringLiteral("-noout"), QStringLiteral("-fingerprint"),
                 QStringLiteral("-sha256"), QStringLiteral("-in"), QStringLiteral("server.crt")},
                &out));
    const QString colons = QString::fromLatin1(out.mid(out.indexOf('=') + 1).trimmed());
    QVERIFY2(colons.size() == 95 && colons.contains(u':'), qPrintable(colons));
    for (const QString& given : {colons, colons.toLower(), QStringLiteral("sha256:") + colons,
                                 QStringLiteral("SHA256:") + colons.toLower()}) {
        const cli_result trusted =
            run_cli({QStringLiteral("trust"), QStringLiteral("gw:4001"), given});
        QVERIFY2(trusted.code == 0 && trusted.err.contains(fp_),
                 qPrintable(given + u' ' + trusted.err));
        QCOMPARE(
            fingerprint_text(known_servers::find(known_, QStringLiteral("gw:4001")).stored.value()),
            fp_);
    }
    QCOMPARE(run_cli({QStringLiteral("trust"), QStringLiteral("gw:4001"), colons.left(94)}).code,
             1);

    // Twelve trust runs at once keep twelve entries.
    QFile::remove(known_);
    std::vector<std::unique_ptr<QProcess>> runs;
    for (int i = 0; i < 12; ++i) {
        auto& run = runs.emplace_back(std::make_unique<QProcess>());
        run->setProgram(qEnvironmentVariable("LORVANE_CLI"));
        run->setArguments(
            {QStringLiteral("trust"), QStringLiteral("gw-%1:4001").arg(i),
             QStringLiteral("sha256:") + QString(64, QLatin1Char("0123456789ab"[i]))});
    }
    for (auto& run : runs)
        run->start();
    for (auto& run : runs) {
        QVERIFY(run->waitForFinished(20000));
        QVERIFY2(run->exitCode() == 0, run->readAllStandardError().constData());
    }
    for (int i = 0; i < 12; ++i)
        QVERIFY2(known_servers::find(known_, QStringLiteral("gw-%1:4001").arg(i)).stored,
                 qPrintable(QString::fromUtf8(read_file(known_))));
    QVERIFY(!QFileInfo::exists(known_ + QStringLiteral(".lock")));
}

void tst_tls::tls_files_that_are_not_regular()
{
    module_peer peer;
    ser2net_process server;
    QVERIFY(
        server.start(peer.path(), QStringLiteral("9600n81"),
                     {tls_telnet(QStringLiteral("server")), tls_telnet(QStringLiteral("named"))}));
    const QString port = url("rfc2217+tls", server.extra_ports[0]);
    const QString named = url("rfc2217+tls", server.extra_ports[1]);
    QFile::remove(known_);
    struct role
    {
        QString fifo;
        QStringList arguments;
    };
    const QString key = file(QStringLiteral("fifo.key"));
    const QString ca = file(QStringLiteral("fifo-ca.crt"));
    const std::vector<role> roles{
        {known_, {QStringLiteral("read"), port_of(port)}},
        {known_, {QStringLiteral("trust"), QStringLiteral("gw:4001"), fp_}},
        {ca, {QStringLiteral("read"), port_of(named), QStringLiteral("--ca"), ca}},
        {key,
         {QStringLiteral("read"), port_of(port), QStringLiteral("--trust"), fp_,
          QStringLiteral("--client-cert"), file(QStringLiteral("alice.crt")),
          QStringLiteral("--client-key"), key}},
    };
    for (const role& r : roles) {
        const fifo waiting(r.fifo, 8000);
        QTest::qWait(300);
        qint64 ms = 0;
        const cli_result result = timed_cli(r.arguments, ms);
        QVERIFY2(result.code == 2 && ms < 5000 && result.err.contains(r.fifo) &&
                     result.err.contains(QStringLiteral("not a regular file")),
                 qPrintable(QStringLiteral("%1: %2 after %3 ms: %4")
                                .arg(r.arguments.join(u' '))
                                .arg(result.code)
                                .arg(ms)
                                .arg(result.err)));
    }
    // The site: the bus unreachable with the same words, at once.
    {
        const fifo waiting(known_, 8000);
        QTest::qWait(300);
        qint64 ms = 0;
        const cli_result result =
            timed_cli({QStringLiteral("site"), QStringLiteral("check"),
                       site_file(QStringLiteral("fifo"), {{QStringLiteral("tls"), port, 1}}),
                       QStringLiteral("--no-scan")},
                      ms);
        QVERIFY2(result.code == 3 && ms < 5000 && result.out.contains(known_.toUtf8()) &&
                     result.out.contains("not a regular file"),
                 qPrintable(said(result)));
    }

    // The window stays responsive: its timers keep their time, and one box names the file.
    const fifo waiting(known_, 8000);
    window_fixture w;
    QTimer refuse;  // a trust box, should one come, is refused (it would wait for the user)
    connect(&refuse, &QTimer::timeout, this, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            box->reject();
    });
    refuse.start(100);
    w.edit(QStringLiteral("chuankou_num"))->setText(port);
    QElapsedTimer clock;
    qint64 longest = 0;
    qint64 last = 0;
    QTimer ticks;
    connect(&ticks, &QTimer::timeout, this, [&] {
        longest = std::max(longest, clock.elapsed() - last);
        last = clock.elapsed();
    });
    QTest::qWait(300);
    clock.start();
    ticks.start(50);
    w.click(QStringLiteral("open_comm"));
    QTRY_COMPARE_WITH_TIMEOUT(w.messages.size(), 1, 5000);
    ticks.stop();
    QVERIFY2(longest < 1000, qPrintable(QString::number(longest)));
    QVERIFY2(w.messages[0].contains(QDir::toNativeSeparators(known_)) &&
                 w.messages[0].contains(QStringLiteral("不是普通文件")),
             qPrintable(w.messages[0]));
    QVERIFY(!w.form->link().is_open());
}

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("LORVANE_SER2NET") ||
        qEnvironmentVariableIsEmpty("LORVANE_OPENSSL")) {
        std::fprintf(stderr, "tst_tls: skipped, ser2net or openssl was not found when the build "
                             "was configured\n");
        return 77;
    }
    QApplication app(argc, argv);
    tst_tls test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_tls.moc"
