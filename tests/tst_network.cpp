// Modules behind a network serial server: lorvane-cli (path in LORVANE_CLI), the link and the
// window through a real ser2net, raw and RFC 2217, with lorvane-sim or the module logic
// inside this test on the far side's pseudo-terminal; and the ways an open can fail.
#include "cli_process.h"
#include "module_peer.h"
#include "panel_file.h"
#include "recording_operation.h"
#include "ser2net_process.h"
#include "sim_process.h"
#include "window_fixture.h"

#include <QApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

using namespace lorvane;

namespace {

// A loopback port whose listener takes no connection: its queue of one is filled at once, so
// the system drops every further connection request unanswered.
class unanswered_listener
{
public:
    unanswered_listener()
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        auto* any = reinterpret_cast<sockaddr*>(&address);
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        if (::bind(listener_, any, size) != 0 || ::listen(listener_, 0) != 0 ||
            ::getsockname(listener_, any, &size) != 0)
            qFatal("cannot listen on loopback");
        filler_ = ::socket(AF_INET, SOCK_STREAM, 0);
        if (::connect(filler_, any, size) != 0)
            qFatal("cannot fill the listener's queue");
        port = ntohs(address.sin_port);
    }
    ~unanswered_listener()
    {
        ::close(filler_);
        ::close(listener_);
    }
    unanswered_listener(const unanswered_listener&) = delete;
    unanswered_listener& operator=(const unanswered_listener&) = delete;

    quint16 port = 0;

private:
    int listener_ = -1;
    int filler_ = -1;
};

// Opens `url` with a link of its own and reports whether it opened. ser2net frees its device
// a moment after a client left; a test that changes between its two ports waits for that.
bool opens(const QString& url)
{
    serial_link link;
    QSignalSpy opened(&link, &serial_link::opened);
    QSignalSpy failed(&link, &serial_link::open_failed);
    if (link.open(url))
        return false;
    return QTest::qWaitFor([&] { return !opened.isEmpty() || !failed.isEmpty(); }, 5000) &&
           !opened.isEmpty();
}

}  // namespace

class tst_network : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void configurations_full_of_ff_in_both_modes();
    void line_settings_reach_the_port();
    void open_failures_and_their_exit_codes();
    void server_killed_mid_chain();
    void window_opens_writes_and_closes();

private:
    QTemporaryDir dir_;
};

void tst_network::initTestCase()
{
    QVERIFY2(QFileInfo(qEnvironmentVariable("LORVANE_SER2NET")).isExecutable(),
             "ser2net was found when the build was configured and is missing now");
    QVERIFY2(!qEnvironmentVariable("LORVANE_CLI").isEmpty(), "LORVANE_CLI is not set");
    QVERIFY(dir_.isValid());
}

void tst_network::configurations_full_of_ff_in_both_modes()
{
    sim_process sim;
    QVERIFY(sim.start({QStringLiteral("--address"), QStringLiteral("254,255")}));
    ser2net_process server;
    QVERIFY(server.start(sim.path));
    for (const QString& url : {server.raw_url(), server.telnet_url()}) {
        QTRY_VERIFY_WITH_TIMEOUT(opens(url), 5000);
        // 0xFF in the address, the values and, for some records, the checksum; the line value
        // tells the two runs apart.
        panel_config config;
        config.module_address = 255;
        config.refresh_period = 255;
        for (key_binding& key : config.keys)
            key = {255, std::uint8_t(url == server.raw_url() ? 255 : 254), 255};
        const QByteArray text = panel_file_text(config);
        QFile file(dir_.filePath(QStringLiteral("ff.json")));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text) == text.size());
        file.close();

        const cli_result written = run_cli(
            {QStringLiteral("write"), port_of(url), QStringLiteral("--verify"), file.fileName()});
        QVERIFY2(written.code == 0, qPrintable(url + u' ' + written.err));
        const cli_result read =
            run_cli({QStringLiteral("read"), port_of(url), QStringLiteral("--address=255")});
        QCOMPARE(read.code, 0);
        QCOMPARE(read.out, text);
        const cli_result scan =
            run_cli({QStringLiteral("scan"), port_of(url), QStringLiteral("--first=250"),
                     QStringLiteral("--wait=200")});
        QCOMPARE(scan.code, 0);
        QCOMPARE(scan.out,
                 QByteArray("address 254, refresh period 50\naddress 255, refresh period 255\n"));
    }
}

void tst_network::line_settings_reach_the_port()
{
    module_peer peer;
    ser2net_process server;
    QVERIFY(server.start(peer.path(), QStringLiteral("19200n82,rtscts,xonxoff")));
    const auto line_settings = [&] {
        termios settings{};
        if (::tcgetattr(peer.master_fd(), &settings) != 0)
            qFatal("tcgetattr failed");
        return settings;
    };
    serial_link link;
    QSignalSpy opened(&link, &serial_link::opened);

    // Raw: the server's own settings stay.
    QVERIFY(!link.open(server.raw_url()));
    QVERIFY(link.is_opening() && !link.is_open());
    QVERIFY(opened.wait(5000));
    const termios preset = line_settings();
    QCOMPARE(::cfgetospeed(&preset), speed_t(B19200));
    QVERIFY(!link.health().line.line_state_notices);  // raw TCP cannot carry them
    link.close();

    // RFC 2217: 9600 baud, 1 stop bit, no flow control (a pseudo-terminal is always 8N).
    QTRY_VERIFY_WITH_TIMEOUT(opens(server.telnet_url()), 5000);
    QVERIFY(!link.open(server.telnet_url()));
    QVERIFY(opened.wait(5000));
    const termios settings = line_settings();
    QCOMPARE(::cfgetospeed(&settings), speed_t(B9600));
    QCOMPARE(settings.c_cflag & (CSTOPB | CRTSCTS), tcflag_t(0));
    QCOMPARE(settings.c_iflag & (IXON | IXOFF), tcflag_t(0));
    // The server takes the line-state mask: its notices are counted, none of them an error.
    QVERIFY(link.health().line.line_state_notices);
    QCOMPARE(int(link.health().line.line_state_errors.value_or(0)), 0);

    // Stray bytes that arrived before a send are dropped by it, 0xFF among them.
    peer.send_raw({0xFF, 0x22, 0xFF});
    QTest::qWait(200);
    recording_operation op;
    const frame request = make_request(FUNC_READ, 1, 0, 0xFF, 0xFF, 0xFF);
    op.requests = {request};
    QVERIFY(link.claim(op));
    QTRY_COMPARE_WITH_TIMEOUT(op.replies().size(), std::size_t{1}, 2000);
    QCOMPARE(hex(peer.requests().back()), hex(request));
    QCOMPARE(peer.raw().size(), std::size_t{8});
}

void tst_network::open_failures_and_their_exit_codes()
{
    module_peer peer;
    ser2net_process server;
    QVERIFY(server.start(peer.path()));
    QTcpServer silent;  // connects, then never says a word of Telnet
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    const unanswered_listener unanswered;
    const QString label(64, u'a');  // longer than a name may be: the resolver refuses it
    const QString closed = QStringLiteral("tcp://127.0.0.1:%1").arg(ser2net_process::free_port());

    struct expected
    {
        QString url;
        int code;
        QString says;
    };
    const std::vector<expected> cases{
        {QStringLiteral("tcp://127.0.0.1:0"), 1,
         QStringLiteral("the port number must be a whole number from 1 to 65535, not '0'")},
        {QStringLiteral("rfc2217://127.0.0.1:65536"), 1, QStringLiteral("not '65536'")},
        {QStringLiteral("tcp://[::1:4001"), 1, QStringLiteral("the host '[::1:4001'")},
        {QStringLiteral("telnet://127.0.0.1:23"), 1, QStringLiteral("unknown scheme 'telnet'")},
        {QStringLiteral("tcp://%1.example:4001").arg(label), 3, QStringLiteral("host not found")},
        {closed, 3, QStringLiteral("connection refused")},
        {QStringLiteral("tcp://127.0.0.1:%1").arg(unanswered.port), 3,
         QStringLiteral("no answer within 3 s")},
        {QStringLiteral("rfc2217://127.0.0.1:%1").arg(silent.serverPort()), 3,
         QStringLiteral("refused the RFC 2217 line settings")},
    };
    for (const expected& c : cases) {
        const cli_result result = run_cli({QStringLiteral("read"), port_of(c.url)});
        QVERIFY2(
            result.code == c.code && result.err.contains(c.says),
            qPrintable(QStringLiteral("%1: %2 %3").arg(c.url).arg(result.code).arg(result.err)));
        // One line; a usage error adds the "try 'lorvane-cli --help'" line.
        QCOMPARE(result.err.count(u'\n'), c.code == 1 ? 2 : 1);
    }
    QVERIFY(peer.raw().empty());

    // Ctrl-C while the connection is still being made ends the wait at once.
    QProcess waiting;
    waiting.start(qEnvironmentVariable("LORVANE_CLI"),
                  {QStringLiteral("read"),
                   port_of(QStringLiteral("tcp://127.0.0.1:%1").arg(unanswered.port))});
    QVERIFY(waiting.waitForStarted(5000));
    QTest::qWait(500);
    QCOMPARE(::kill(pid_t(waiting.processId()), SIGINT), 0);
    QVERIFY(waiting.waitForFinished(1500));  // well before the 3 s time-out
    QCOMPARE(waiting.exitCode(), 130);
    QVERIFY(
        QString::fromUtf8(waiting.readAllStandardError()).contains(QStringLiteral("interrupted")));

    // A server whose port another client holds accepts and closes at once: in use.
    QTcpSocket holder;
    holder.connectToHost(QHostAddress::LocalHost, server.raw_port);
    QVERIFY(holder.waitForConnected(5000));
    for (const QString& url : {server.raw_url(), server.telnet_url()}) {
        const cli_result held = run_cli({QStringLiteral("read"), port_of(url)});
        QCOMPARE(held.code, 3);
        QVERIFY2(held.err.contains(QStringLiteral("another client may be using the port")),
                 qPrintable(held.err));
    }
}

void tst_network::server_killed_mid_chain()
{
    module_peer peer;
    ser2net_process server;
    QVERIFY(server.start(peer.path()));
    peer.on_request = [&](const frame& request) {
        if (request[POS_RECORD] == 4)
            server.kill();
    };
    QFile file(dir_.filePath(QStringLiteral("plain.json")));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(panel_file_text({})) > 0);
    file.close();
    const cli_result lost =
        run_cli({QStringLiteral("write"), port_of(server.telnet_url()), file.fileName()});
    QCOMPARE(lost.code, 3);
    QVERIFY2(lost.err.contains(
                 QStringLiteral("the connection to %1 went away").arg(server.telnet_url())),
             qPrintable(lost.err));
    QCOMPARE(peer.requests().size(), std::size_t{5});
}

void tst_network::window_opens_writes_and_closes()
{
    module_peer peer;
    ser2net_process server;
    QVERIFY(server.start(peer.path()));
    window_fixture w;
    QLineEdit* port_box = w.edit(QStringLiteral("chuankou_num"));
    QPushButton* open_comm = w.button(QStringLiteral("open_comm"));

    // Nothing listens: one box, the port closed, the window as it was.
    port_box->setText(QStringLiteral("tcp://127.0.0.1:%1").arg(ser2net_process::free_port()));
    w.click(QStringLiteral("open_comm"));
    QTRY_COMPARE(w.messages.size(), 1);
    QVERIFY2(w.messages[0].contains(QStringLiteral("服务器拒绝连接")), qPrintable(w.messages[0]));
    QCOMPARE(open_comm->text(), QStringLiteral("打开"));
    QVERIFY(port_box->isEnabled() && !w.form->link().is_open());

    // Through ser2net: the window waits for the connection without blocking, then writes.
    w.messages.clear();
    port_box->setText(server.raw_url());
    w.click(QStringLiteral("open_comm"));
    QCOMPARE(open_comm->text(), QStringLiteral("打开"));
    QVERIFY(port_box->isEnabled());
    QTRY_COMPARE(open_comm->text(), QStringLiteral("关闭"));
    QVERIFY(!port_box->isEnabled());
    w.click(QStringLiteral("Command1"));
    QTRY_COMPARE(w.messages, QStringList{QStringLiteral("全部数据写入完毕")});
    QCOMPARE(peer.requests().size(), std::size_t{17});

    // 关闭 lets go of the connection: ser2net takes one client at a time, and takes the next.
    w.click(QStringLiteral("open_comm"));
    QCOMPARE(open_comm->text(), QStringLiteral("打开"));
    QTRY_VERIFY_WITH_TIMEOUT(opens(server.raw_url()), 5000);

    // The server dies while the port is open: one box, the port closed.
    QTRY_VERIFY_WITH_TIMEOUT(opens(server.telnet_url()), 5000);
    w.messages.clear();
    port_box->setText(server.telnet_url());
    w.click(QStringLiteral("open_comm"));
    QTRY_COMPARE(open_comm->text(), QStringLiteral("关闭"));
    server.kill();
    QTRY_COMPARE(w.messages.size(), 1);
    QVERIFY2(w.messages[0].contains(QStringLiteral("的连接已断开")), qPrintable(w.messages[0]));
    QCOMPARE(open_comm->text(), QStringLiteral("打开"));
    QVERIFY(!w.form->link().is_open());
    QTest::qWait(300);
    QCOMPARE(w.messages.size(), 1);
}

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("LORVANE_SER2NET")) {
        std::fprintf(stderr, "tst_network: skipped, ser2net was not found when the build was "
                             "configured\n");
        return 77;
    }
    QApplication app(argc, argv);
    tst_network test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_network.moc"
