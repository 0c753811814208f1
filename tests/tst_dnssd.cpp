// Discovery against a real avahi-daemon and real ser2net servers advertising themselves
// (mdns: true), run by dnssd_netns.sh inside a network namespace of its own with a private
// system bus: lorvane-cli servers, dnssd:NAME ports in read and in a site, site adopt
// --discover, two servers with one name, a server that goes away, and the window's list.
#include "cli_process.h"
#include "dnssd_browser.h"
#include "ser2net_process.h"
#include "sim_process.h"
#include "window_fixture.h"

#include "port_listing.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSslCertificate>
#include <QTemporaryDir>
#include <QTest>

using namespace lorvane;

namespace {

// The address the daemon advertises for this host (v0's, in dnssd_netns.sh).
const QString HOST_ADDRESS = QStringLiteral("192.0.2.1");
const QString WAIT = QStringLiteral("1500");

QStringList mdns(const QString& name, const QStringList& more = {})
{
    return QStringList{QStringLiteral("mdns: true"), QStringLiteral("mdns-name: ") + name} + more;
}

// The names `lorvane-cli servers --json` lists, in its order, and the whole list.
QJsonArray listed_servers()
{
    const cli_result r = run_cli(
        {QStringLiteral("servers"), QStringLiteral("--json"), QStringLiteral("--wait"), WAIT});
    if (r.code != 0)
        qWarning("servers: %d %s", r.code, qPrintable(r.err));
    return QJsonDocument::fromJson(r.out).array();
}

QJsonObject server_named(const QJsonArray& servers, const QString& name)
{
    for (const QJsonValue& s : servers) {
        if (s[QStringLiteral("name")].toString() == name)
            return s.toObject();
    }
    return {};
}

}  // namespace

class tst_dnssd : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void servers_lists_kinds_and_urls();
    void dnssd_ports_in_read_and_adopted_site();
    void one_name_on_two_hosts_is_refused();
    void a_server_that_goes_away();
    void window_lists_servers();

private:
    sim_process sim_a_;  // module 1, behind server_a_ (raw, and a plain Telnet accepter)
    sim_process sim_b_;  // module 2, behind server_b_ (RFC 2217)
    sim_process
        sim_c_;  // module 5, behind server_c_ (RFC 2217 inside TLS, its fingerprint trusted)
    ser2net_process server_a_;
    ser2net_process server_b_;
    ser2net_process server_c_;
    QTemporaryDir config_;  // the configuration folder: the server's certificate, known_servers
};

void tst_dnssd::initTestCase()
{
    QVERIFY2(qEnvironmentVariableIsSet("DBUS_SYSTEM_BUS_ADDRESS"),
             "run by dnssd_netns.sh, with the private system bus");
    QVERIFY(sim_a_.start({QStringLiteral("--address"), QStringLiteral("1")}));
    QVERIFY(sim_b_.start({QStringLiteral("--address"), QStringLiteral("2")}));
    server_a_.extra_options = {mdns(QStringLiteral("bus-raw")),
                               mdns(QStringLiteral("plain-telnet"))};
    QVERIFY(server_a_.start(
        sim_a_.path, QStringLiteral("9600n81"),
        {QStringLiteral("tcp,0.0.0.0,%1"), QStringLiteral("telnet,tcp,0.0.0.0,%1")}));
    server_b_.extra_options = {mdns(QStringLiteral("bus-rfc"))};
    QVERIFY(server_b_.start(sim_b_.path, QStringLiteral("9600n81"),
                            {QStringLiteral("telnet(rfc2217),tcp,0.0.0.0,%1")}));

    // Inside TLS, with a self-signed certificate whose fingerprint is stored as trust stores it.
    QVERIFY(config_.isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config_.path()));
    const QString key = config_.filePath(QStringLiteral("server.key"));
    const QString cert = config_.filePath(QStringLiteral("server.crt"));
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                   QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                   QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                   QStringLiteral("-keyout"), key, QStringLiteral("-out"), cert,
                   QStringLiteral("-days"), QStringLiteral("30"), QStringLiteral("-subj"),
                   QStringLiteral("/CN=bus-tls")});
    QVERIFY(openssl.waitForFinished(30000) && openssl.exitCode() == 0);
    QVERIFY(sim_c_.start({QStringLiteral("--address"), QStringLiteral("5")}));
    server_c_.extra_options = {mdns(QStringLiteral("bus-tls"))};
    QVERIFY(
        server_c_.start(sim_c_.path, QStringLiteral("9600n81"),
                        {QStringLiteral("telnet(rfc2217),ssl(key=") + key +
                         QStringLiteral(",cert=") + cert + QStringLiteral("),tcp,0.0.0.0,%1")}));
    const QList<QSslCertificate> shown = QSslCertificate::fromPath(cert);
    QVERIFY(!shown.isEmpty());
    const cli_result trusted = run_cli(
        {QStringLiteral("trust"),
         QStringLiteral("%1:%2").arg(HOST_ADDRESS).arg(server_c_.extra_ports[0]),
         QStringLiteral("sha256:") +
             QString::fromLatin1(shown.first().digest(QCryptographicHash::Sha256).toHex())});
    QVERIFY2(trusted.code == 0, qPrintable(trusted.err));
}

// Sorted by name; each supported kind with the URL of its address and port, the plain Telnet
// one listed as not supported, without a URL.
void tst_dnssd::servers_lists_kinds_and_urls()
{
    QJsonArray servers;
    QTRY_VERIFY_WITH_TIMEOUT((servers = listed_servers()).size() >= 4, 15000);
    QStringList names;
    for (const QJsonValue& s : servers)
        names << s[QStringLiteral("name")].toString();
    QCOMPARE(names, (QStringList{QStringLiteral("bus-raw"), QStringLiteral("bus-rfc"),
                                 QStringLiteral("bus-tls"), QStringLiteral("plain-telnet")}));
    const QJsonObject raw = server_named(servers, QStringLiteral("bus-raw"));
    QCOMPARE(raw[QStringLiteral("kind")].toString(), QStringLiteral("raw"));
    QCOMPARE(raw[QStringLiteral("url")].toString(),
             QStringLiteral("tcp://%1:%2").arg(HOST_ADDRESS).arg(server_a_.extra_ports[0]));
    QCOMPARE(raw[QStringLiteral("address")].toString(), HOST_ADDRESS);
    QCOMPARE(raw[QStringLiteral("port")].toInt(), server_a_.extra_ports[0]);
    QCOMPARE(raw[QStringLiteral("host")].toString(), QStringLiteral("lorvane-test.local"));
    QCOMPARE(raw[QStringLiteral("stack")].toString(), QStringLiteral("tcp"));
    QVERIFY(!raw.contains(QStringLiteral("usb")));  // a pseudo-terminal has no USB attributes
    const QJsonObject rfc = server_named(servers, QStringLiteral("bus-rfc"));
    QCOMPARE(rfc[QStringLiteral("kind")].toString(), QStringLiteral("rfc2217"));
    QCOMPARE(rfc[QStringLiteral("url")].toString(),
             QStringLiteral("rfc2217://%1:%2").arg(HOST_ADDRESS).arg(server_b_.extra_ports[0]));
    const QJsonObject tls = server_named(servers, QStringLiteral("bus-tls"));
    QCOMPARE(tls[QStringLiteral("kind")].toString(), QStringLiteral("rfc2217+tls"));
    QCOMPARE(tls[QStringLiteral("url")].toString(),
             QStringLiteral("rfc2217+tls://%1:%2").arg(HOST_ADDRESS).arg(server_c_.extra_ports[0]));
    QCOMPARE(tls[QStringLiteral("stack")].toString(), QStringLiteral("telnet(rfc2217),ssl,tcp"));
    const QJsonObject telnet = server_named(servers, QStringLiteral("plain-telnet"));
    QCOMPARE(telnet[QStringLiteral("kind")].toString(), QStringLiteral("unsupported"));
    QVERIFY(telnet[QStringLiteral("url")].isNull());
    QCOMPARE(telnet[QStringLiteral("stack")].toString(), QStringLiteral("telnet,tcp"));

    const cli_result text = run_cli({QStringLiteral("servers"), QStringLiteral("--wait"), WAIT});
    QCOMPARE(text.code, 0);
    const QStringList lines = QString::fromUtf8(text.out).split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 4);
    QVERIFY2(lines[3].startsWith(QStringLiteral("plain-telnet  not supported")),
             qPrintable(lines[3]));
}

// read through dnssd:NAME; an unknown name and an unsupported stack refused with exit 3; adopt
// by discovery writes one bus per supported server, which check then finds the same.
void tst_dnssd::dnssd_ports_in_read_and_adopted_site()
{
    const cli_result read =
        run_cli({QStringLiteral("read"), QStringLiteral("--port"), QStringLiteral("dnssd:bus-rfc"),
                 QStringLiteral("--address"), QStringLiteral("2")});
    QVERIFY2(read.code == 0, qPrintable(read.err));
    QVERIFY(read.out.contains("\"module_address\""));

    const cli_result missing =
        run_cli({QStringLiteral("read"), QStringLiteral("--port"), QStringLiteral("dnssd:nobody")});
    QCOMPARE(missing.code, 3);
    QVERIFY2(missing.err.contains(QStringLiteral("dnssd:nobody: no server advertises that name")),
             qPrintable(missing.err));
    const cli_result odd = run_cli(
        {QStringLiteral("read"), QStringLiteral("--port"), QStringLiteral("dnssd:plain-telnet")});
    QCOMPARE(odd.code, 3);
    QVERIFY2(odd.err.contains(QStringLiteral("stack 'telnet,tcp'")), qPrintable(odd.err));

    QTemporaryDir dir;
    const QString site = dir.filePath(QStringLiteral("plant"));
    const cli_result adopted =
        run_cli({QStringLiteral("site"), QStringLiteral("adopt"), site,
                 QStringLiteral("--discover"), QStringLiteral("--wait"), WAIT});
    QVERIFY2(adopted.code == 0, qPrintable(adopted.err));
    QFile file(site + QStringLiteral("/site.json"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QJsonArray buses =
        QJsonDocument::fromJson(file.readAll())[QStringLiteral("buses")].toArray();
    QCOMPARE(buses.size(), 3);  // not the plain Telnet one
    QCOMPARE(buses[0][QStringLiteral("name")].toString(), QStringLiteral("bus-raw"));
    QCOMPARE(buses[0][QStringLiteral("port")].toString(), QStringLiteral("dnssd:bus-raw"));
    QCOMPARE(buses[1][QStringLiteral("port")].toString(), QStringLiteral("dnssd:bus-rfc"));
    QCOMPARE(buses[2][QStringLiteral("port")].toString(), QStringLiteral("dnssd:bus-tls"));
    const cli_result checked = run_cli(
        {QStringLiteral("site"), QStringLiteral("check"), site + QStringLiteral("/site.json")});
    QVERIFY2(checked.code == 0, qPrintable(checked.err + QString::fromUtf8(checked.out)));
}

// The same name over IPv4 from this host and over IPv6 naming another: refused, naming both.
void tst_dnssd::one_name_on_two_hosts_is_refused()
{
    QProcess other_host;  // the other host's name, published with this host's address
    other_host.start(QStringLiteral("avahi-publish"),
                     {QStringLiteral("-a"), QStringLiteral("-R"), QStringLiteral("other-box.local"),
                      HOST_ADDRESS});
    QVERIFY(other_host.waitForStarted(5000));
    sim_process sim;
    QVERIFY(sim.start({QStringLiteral("--address"), QStringLiteral("3")}));
    ser2net_process twins;
    twins.extra_options = {
        mdns(QStringLiteral("twin"), {QStringLiteral("mdns-nettype: ipv4")}),
        mdns(QStringLiteral("twin"),
             {QStringLiteral("mdns-nettype: ipv6"), QStringLiteral("mdns-host: other-box.local")})};
    QVERIFY(twins.start(sim.path, QStringLiteral("9600n81"),
                        {QStringLiteral("tcp,0.0.0.0,%1"), QStringLiteral("tcp,0.0.0.0,%1")}));
    cli_result r;
    QTRY_VERIFY_WITH_TIMEOUT((r = run_cli({QStringLiteral("read"), QStringLiteral("--port"),
                                           QStringLiteral("dnssd:twin")}))
                                 .err.contains(QStringLiteral("2 servers")),
                             15000);
    QCOMPARE(r.code, 3);
    QVERIFY2(r.err.contains(QStringLiteral("lorvane-test.local")) &&
                 r.err.contains(QStringLiteral("other-box.local")),
             qPrintable(r.err));
    twins.kill();
    ::kill(static_cast<pid_t>(other_host.processId()), SIGTERM);
    QVERIFY(other_host.waitForFinished(5000));
}

// A server that stops leaves the list while it is being browsed; its name is then not found.
void tst_dnssd::a_server_that_goes_away()
{
    sim_process sim;
    QVERIFY(sim.start({QStringLiteral("--address"), QStringLiteral("4")}));
    ser2net_process server;
    server.extra_options = {mdns(QStringLiteral("short-lived"))};
    QVERIFY(server.start(sim.path, QStringLiteral("9600n81"), {QStringLiteral("tcp,0.0.0.0,%1")}));
    dnssd_browser browser;
    browser.start();
    const auto seen = [&] {
        for (const dnssd_service& s : browser.services()) {
            if (s.name == QStringLiteral("short-lived"))
                return true;
        }
        return false;
    };
    QTRY_VERIFY_WITH_TIMEOUT(seen(), 10000);
    server.kill();
    QTRY_VERIFY_WITH_TIMEOUT(!seen(), 10000);
    QVERIFY(!browser.problem());
    const cli_result gone = run_cli(
        {QStringLiteral("read"), QStringLiteral("--port"), QStringLiteral("dnssd:short-lived")});
    QCOMPARE(gone.code, 3);
    QVERIFY2(gone.err.contains(QStringLiteral("no server advertises")), qPrintable(gone.err));
}

// The servers show below the system's ports with their kinds; picking one puts dnssd:NAME into
// 串口号, which then opens.
void tst_dnssd::window_lists_servers()
{
    const std::vector<port_entry> listed{{QStringLiteral("ttyLorvaneA"), QStringLiteral("A"), {}}};
    set_port_source([&] { return listed; });
    window_fixture w;
    QVERIFY(w.show_active());
    QLineEdit* box = w.edit(QStringLiteral("chuankou_num"));
    box->setFocus();
    QTest::keyClick(box, Qt::Key_Down);
    auto* picker = w.form->findChild<QCompleter*>();
    QVERIFY(picker);
    QTRY_VERIFY(picker->popup()->isVisible());
    QAbstractItemModel* model = picker->model();
    const auto row_of = [&](const QString& text) {
        for (int i = 0; i < model->rowCount(); ++i) {
            if (model->index(i, 0).data().toString() == text)
                return i;
        }
        return -1;
    };
    QTRY_VERIFY_WITH_TIMEOUT(row_of(QStringLiteral("bus-rfc（RFC 2217）")) > 0, 10000);
    QCOMPARE(model->index(0, 0).data().toString(), QStringLiteral("ttyLorvaneA"));
    QVERIFY(row_of(QStringLiteral("bus-raw（原始 TCP）")) > 0);
    QVERIFY(row_of(QStringLiteral("bus-tls（RFC 2217，TLS 加密）")) > 0);
    const int unsupported = row_of(QStringLiteral("plain-telnet（不支持）"));
    QVERIFY(unsupported > 0);
    QVERIFY(!(model->flags(model->index(unsupported, 0)) & Qt::ItemIsEnabled));

    // A server that appears while one is highlighted leaves that one highlighted: Return
    // picks what the user was looking at.
    QAbstractItemView* popup = picker->popup();
    popup->setCurrentIndex(popup->model()->index(row_of(QStringLiteral("bus-rfc（RFC 2217）")), 0));
    sim_process sim;
    QVERIFY(sim.start({QStringLiteral("--address"), QStringLiteral("4")}));
    ser2net_process newcomer;
    newcomer.extra_options = {mdns(QStringLiteral("bus-arrived"))};
    QVERIFY(
        newcomer.start(sim.path, QStringLiteral("9600n81"), {QStringLiteral("tcp,0.0.0.0,%1")}));
    QTRY_VERIFY_WITH_TIMEOUT(row_of(QStringLiteral("bus-arrived（原始 TCP）")) > 0, 10000);
    QCOMPARE(popup->currentIndex().data().toString(), QStringLiteral("bus-rfc（RFC 2217）"));
    QTest::keyClick(popup, Qt::Key_Return);
    QTRY_COMPARE(box->text(), QStringLiteral("dnssd:bus-rfc"));
    QTRY_VERIFY(!popup->isVisible());
    w.click(QStringLiteral("open_comm"));
    QTRY_VERIFY_WITH_TIMEOUT(w.form->link().is_open(), 10000);
    QCOMPARE(w.messages, QStringList{});
    w.click(QStringLiteral("open_comm"));
    set_port_source({});
}

QTEST_MAIN(tst_dnssd)
#include "tst_dnssd.moc"
