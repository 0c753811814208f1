// Network serial servers inside TLS: lorvane-cli (path in LORVANE_CLI), the link and the
// window through a real ser2net with ssl accepters on loopback, with certificates this test
// makes with openssl (path in LORVANE_OPENSSL); trust by pins, stored pins and authorities,
// client certificates, the plain/TLS mismatches, and a scripted server that floods Telnet
// requests and never reads. The configuration folder is a temporary one (XDG_CONFIG_HOME).
#include "tls_test_support.h"

using namespace lorvane;
using namespace lorvane::tls_test;

namespace {

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
}  // namespace

class tst_tls : public tls_test_base
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { set_up(); }
    void transfers_inside_tls();
    void certificates_unknown_pinned_stored_changed_verified();
    void client_certificates();
    void plain_and_tls_mismatches();
    void flooding_server_fails_the_port();
    void window_trust_box();
};

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
    // The largest child so far (any lorvane-cli or server of this program): far below the
    // 256 MiB flood a client without a cap would hold, with room for the sanitizer build's
    // shadow memory and libraries (about 101 MiB there since the discovery library came in).
    rusage usage{};
    QCOMPARE(::getrusage(RUSAGE_CHILDREN, &usage), 0);
    QVERIFY2(usage.ru_maxrss < 160 * 1024, qPrintable(QString::number(usage.ru_maxrss)));

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
