// Which device the text of the port-number box names, on both kinds of system, and which
// network serial server a URL in it names.
#include "dnssd_browser.h"
#include "network_port.h"
#include "port_holders.h"
#include "port_name.h"
#include "port_texts.h"

#include <QTest>

using namespace lorvane;

class tst_port_name : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void mapping_data();
    void mapping();
    void network_ports_data();
    void network_ports();
    void advertised_stacks_data();
    void advertised_stacks();
    void dnssd_ports();
};

void tst_port_name::mapping_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("windows");
    QTest::addColumn<QString>("device");  // empty: refused
    const bool lin = false;
    const bool win = true;
    QTest::newRow("1 linux") << QStringLiteral("1") << lin << QStringLiteral("/dev/ttyS0");
    QTest::newRow("3 linux") << QStringLiteral("3") << lin << QStringLiteral("/dev/ttyS2");
    QTest::newRow("3 windows") << QStringLiteral("3") << win << QStringLiteral("COM3");
    QTest::newRow("leading zero") << QStringLiteral("03") << win << QStringLiteral("COM3");
    QTest::newRow("spaces") << QStringLiteral(" 2 ") << lin << QStringLiteral("/dev/ttyS1");
    QTest::newRow("256") << QStringLiteral("256") << win << QStringLiteral("COM256");
    QTest::newRow("COM12 windows") << QStringLiteral("COM12") << win << QStringLiteral("COM12");
    QTest::newRow("ttyUSB0") << QStringLiteral("ttyUSB0") << lin << QStringLiteral("ttyUSB0");
    QTest::newRow("path") << QStringLiteral("/dev/ttyUSB0") << lin
                          << QStringLiteral("/dev/ttyUSB0");
    QTest::newRow("pts") << QStringLiteral("/dev/pts/7") << lin << QStringLiteral("/dev/pts/7");
    QTest::newRow("windows device path")
        << QStringLiteral("\\\\.\\COM20") << win << QStringLiteral("\\\\.\\COM20");
    QTest::newRow("empty") << QString() << lin << QString();
    QTest::newRow("blank") << QStringLiteral("   ") << win << QString();
    QTest::newRow("zero") << QStringLiteral("0") << lin << QString();
    QTest::newRow("257") << QStringLiteral("257") << win << QString();
    QTest::newRow("negative") << QStringLiteral("-1") << lin << QString();
    QTest::newRow("fraction") << QStringLiteral("1.5") << lin << QString();
    QTest::newRow("inner space") << QStringLiteral("tty USB0") << lin << QString();
    QTest::newRow("chinese") << QStringLiteral("串口") << lin << QString();
    QTest::newRow("slash alone") << QStringLiteral("/") << lin << QString();
    QTest::newRow("unix path on windows") << QStringLiteral("/dev/ttyS0") << win << QString();
}

void tst_port_name::mapping()
{
    QFETCH(QString, text);
    QFETCH(bool, windows);
    QFETCH(QString, device);
    const auto result =
        system_port_name(text, windows ? port_platform::windows : port_platform::linux_like);
    QCOMPARE(result.device, device);
    QCOMPARE(result.ok(), !device.isEmpty());
    if (!result.ok()) {
        const QString message = port_failure_message({port_failure_kind::bad_name, text, {}});
        QVERIFY2(message.contains(QStringLiteral("串口号")), qPrintable(message));
    }
}

void tst_port_name::network_ports_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("parsed");  // "protocol host port", or the fault and part
    QTest::newRow("tcp name") << QStringLiteral("tcp://gw-3.example:4001")
                              << QStringLiteral("raw gw-3.example 4001");
    QTest::newRow("rfc2217 ipv4") << QStringLiteral(" RFC2217://192.168.1.50:65535 ")
                                  << QStringLiteral("rfc2217 192.168.1.50 65535");
    QTest::newRow("ipv6") << QStringLiteral("tcp://[::1]:1") << QStringLiteral("raw ::1 1");
    QTest::newRow("tls raw") << QStringLiteral("TCP+TLS://h:1") << QStringLiteral("raw+tls h 1");
    QTest::newRow("tls rfc2217") << QStringLiteral("rfc2217+tls://[fd00::7]:4002")
                                 << QStringLiteral("rfc2217+tls fd00::7 4002");
    QTest::newRow("tls alone") << QStringLiteral("tls://h:1") << QStringLiteral("scheme tls");
    QTest::newRow("tls first") << QStringLiteral("tls+tcp://h:1")
                               << QStringLiteral("scheme tls+tcp");
    QTest::newRow("scheme") << QStringLiteral("socket://h:1") << QStringLiteral("scheme socket");
    QTest::newRow("no host") << QStringLiteral("tcp://:4001") << QStringLiteral("host ");
    QTest::newRow("ipv6 unbracketed")
        << QStringLiteral("tcp://::1:4001") << QStringLiteral("host ::1");
    QTest::newRow("ipv6 unclosed")
        << QStringLiteral("tcp://[::1:4001") << QStringLiteral("host [::1:4001");
    QTest::newRow("not ipv6") << QStringLiteral("tcp://[1.2.3.4]:4001")
                              << QStringLiteral("host [1.2.3.4]");
    QTest::newRow("user") << QStringLiteral("tcp://me@h:4001") << QStringLiteral("host me@h");
    QTest::newRow("no port") << QStringLiteral("tcp://h") << QStringLiteral("port ");
    QTest::newRow("port 0") << QStringLiteral("tcp://h:0") << QStringLiteral("port 0");
    QTest::newRow("port 65536") << QStringLiteral("tcp://h:65536") << QStringLiteral("port 65536");
    QTest::newRow("path") << QStringLiteral("tcp://h:4001/x") << QStringLiteral("port 4001/x");
    QTest::newRow("ipv6 no port") << QStringLiteral("tcp://[::1]") << QStringLiteral("port ");
}

void tst_port_name::network_ports()
{
    QFETCH(QString, text);
    QFETCH(QString, parsed);
    QVERIFY(is_network_port_text(text));
    const network_port_result result = parse_network_port(text);
    if (result.ok()) {
        const network_port& port = *result.port;
        QCOMPARE(QStringLiteral("%1%2 %3 %4")
                     .arg(port.protocol == network_protocol::rfc2217 ? QStringLiteral("rfc2217")
                                                                     : QStringLiteral("raw"),
                          port.tls ? QStringLiteral("+tls") : QString(), port.host,
                          QString::number(port.port)),
                 parsed);
        // The URL the messages suggest names the same port.
        QCOMPARE(parse_network_port(network_url(port)).port, port);
        return;
    }
    const char* faults[] = {"scheme", "host", "port"};
    QCOMPARE(QStringLiteral("%1 %2").arg(QLatin1String(faults[static_cast<int>(result.fault)]),
                                         result.part),
             parsed);
    // The window's message names the part and, for the port, the accepted range.
    const QString message = network_port_refusal_message(result, text);
    QVERIFY2(message.contains(text.trimmed()), qPrintable(message));
    if (result.fault == url_fault::port)
        QVERIFY2(message.contains(QStringLiteral("1 到 65535")), qPrintable(message));
    // A system port name never takes the URL shape.
    QVERIFY(!is_network_port_text(QStringLiteral("/dev/ttyUSB0")));
}

void tst_port_name::advertised_stacks_data()
{
    QTest::addColumn<QString>("stack");
    QTest::addColumn<QString>("url");  // at 192.0.2.1:4001, empty for none
    const auto row = [](const char* stack, const char* url) {
        QTest::newRow(stack) << QString::fromUtf8(stack) << QString::fromUtf8(url);
    };
    row("telnet(rfc2217),tcp", "rfc2217://192.0.2.1:4001");
    row("tcp", "tcp://192.0.2.1:4001");
    row("telnet(rfc2217),ssl(key=/etc/k.pem,cert=/etc/c.pem),tcp", "rfc2217+tls://192.0.2.1:4001");
    row("ssl(key=/etc/k.pem,cert=/etc/c.pem),tcp", "tcp+tls://192.0.2.1:4001");
    row("ssl,tcp", "tcp+tls://192.0.2.1:4001");
    row("telnet(rfc2217=true,winsize),tcp", "rfc2217://192.0.2.1:4001");
    row("telnet,tcp", "");                 // plain Telnet
    row("telnet(rfc2217=false),tcp", "");  // COM-PORT-OPTION off
    row("udp", "");
    row("sctp", "");
    row("telnet(rfc2217),udp", "");
    row("tcp,telnet(rfc2217)", "");                    // upside down
    row("ssl(key=a,cert=b),telnet(rfc2217),tcp", "");  // Telnet under TLS: not what we speak
    row("certauth(),ssl(key=a),tcp", "");
    row("telnet(rfc2217,tcp", "");  // cut off
    row("telnet(rfc2217)),tcp", "");
    row("", "");
    row(",tcp", "");
    row("tcp(1234)", "");
}

// The advertised gensio stack names the kind, and so the URL; anything odd is unsupported.
void tst_port_name::advertised_stacks()
{
    QFETCH(QString, stack);
    QFETCH(QString, url);
    dnssd_service s;
    s.name = QStringLiteral("line-1");
    s.address = QStringLiteral("192.0.2.1");
    s.port = 4001;
    s.stack = stack;
    QCOMPARE(s.url().value_or(QString()), url);
    QCOMPARE(s.kind() == service_kind::unsupported, url.isEmpty());
    if (!url.isEmpty())  // every URL given is one the port box takes
        QVERIFY(parse_network_port(url).ok());
}

void tst_port_name::dnssd_ports()
{
    // IPv6 addresses are bracketed.
    QCOMPARE(service_url(service_kind::raw, QStringLiteral("fe80::1"), 7).value_or(QString()),
             QStringLiteral("tcp://[fe80::1]:7"));
    QCOMPARE(dnssd_port_name(QStringLiteral("  dnssd:Line 3 ")).value_or(QString()),
             QStringLiteral("Line 3"));
    QCOMPARE(dnssd_port_name(QStringLiteral("DNSSD:x")).value_or(QString()), QStringLiteral("x"));
    QVERIFY(!dnssd_port_name(QStringLiteral("dnssd:")));
    QVERIFY(!dnssd_port_name(QStringLiteral("dnssd:") + QString(64, u'a')));  // > 63 bytes
    QVERIFY(!dnssd_port_name(QStringLiteral("ttyUSB0")));
    // The window's refusal of a bad one names the form and its range, not a serial port's.
    const QString refused =
        port_failure_message({port_failure_kind::bad_name, QStringLiteral("dnssd:"), {}});
    QVERIFY2(refused.contains(QStringLiteral("dnssd:名字")) && refused.contains(u"63"),
             qPrintable(refused));
    // One service, one device, however its name is cased; never the same as a URL's.
    QCOMPARE(device_identity(QStringLiteral("dnssd:Line-3")),
             device_identity(QStringLiteral("dnssd:line-3")));
    QVERIFY(device_identity(QStringLiteral("dnssd:line-3")) !=
            device_identity(QStringLiteral("dnssd:line-4")));
    QVERIFY(!device_identity(QStringLiteral("dnssd:")));

    // One record per name: two hosts advertising it are named, an unsupported one refused.
    dnssd_service a;
    a.name = QStringLiteral("Twin");
    a.host = QStringLiteral("a.local");
    a.address = QStringLiteral("192.0.2.1");
    a.port = 1;
    a.stack = QStringLiteral("tcp");
    dnssd_service b = a;
    b.host = QStringLiteral("b.local");
    b.name = QStringLiteral("twin");
    const auto twice = pick_service({a, b}, QStringLiteral("TWIN"));
    QCOMPARE(std::get<lookup_failure>(twice).fault, lookup_fault::ambiguous);
    QCOMPARE(std::get<lookup_failure>(twice).hosts, (QStringList{a.host, b.host}));
    QCOMPARE(std::get<dnssd_service>(pick_service({a}, QStringLiteral("twin"))).host, a.host);
    QCOMPARE(std::get<lookup_failure>(pick_service({a}, QStringLiteral("other"))).fault,
             lookup_fault::not_found);
    a.stack = QStringLiteral("udp");
    const auto odd = pick_service({a}, QStringLiteral("twin"));
    QCOMPARE(std::get<lookup_failure>(odd).fault, lookup_fault::unsupported);
    QCOMPARE(std::get<lookup_failure>(odd).stack, QStringLiteral("udp"));
}

QTEST_APPLESS_MAIN(tst_port_name)
#include "tst_port_name.moc"
