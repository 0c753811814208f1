// Site files the real lorvane-cli refuses before it opens anything: every fault of the file,
// its buses and its panels named, with nothing sent to the module on the line.
#include "cli_process.h"
#include "module_peer.h"
#include "panel_file.h"
#include "site_test_files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace lorvane;

class tst_site_files : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void refused_sites_send_nothing();
};

// Every refused site: exit 2 (1 for the command line), the culprit named, nothing sent.
void tst_site_files::refused_sites_send_nothing()
{
    module_peer peer;
    QTemporaryDir w;
    const QString port = peer.path();
    write_file(w.filePath(QStringLiteral("p/1.json")), panel_file_text(panel(1)));
    write_file(w.filePath(QStringLiteral("p/1copy.json")), panel_file_text(panel(1)));
    QByteArray bad = panel_file_text(panel(2));
    bad.replace("\"line\": 4,", "\"line\": 300,");
    write_file(w.filePath(QStringLiteral("p/bad.json")), bad);
    const auto bus = [&](const QString& name, const QString& p, const QString& panels) {
        return QStringLiteral(R"({"name": "%1", "port": "%2", "panels": [%3]})")
            .arg(name, p, panels);
    };
    const QString one = bus(QStringLiteral("A"), port, QStringLiteral("\"p/1.json\""));
    const QString link = w.filePath(QStringLiteral("link"));
    QVERIFY(QFile::link(port, link));
    const QString dotted = port.section(u'/', 0, -2) + QStringLiteral("/../") +
                           port.section(u'/', -2);  // /dev/pts/../pts/N
    const auto site = [](const QString& buses, const QString& extra = {}) {
        return QStringLiteral(R"({"format": "lorvane-site/1", "name": "X", %1"buses": [%2]})")
            .arg(extra, buses)
            .toUtf8();
    };
    QStringList many;
    for (int i = 0; i < 65; ++i)
        many << bus(QStringLiteral("b%1").arg(i), QStringLiteral("/dev/ttyS%1").arg(i), {});
    const struct
    {
        QByteArray text;
        QString said;
    } refused[] = {
        {site(one, QStringLiteral(R"("extra": 1, )")),
         QStringLiteral("extra is not a member of a site file")},
        {site(one, QStringLiteral(R"("name": "Y", )")), QStringLiteral("name is given twice")},
        {QByteArray(site(one)).replace("site/1", "site/2"),
         QStringLiteral(R"(format must be "lorvane-site/1", not "lorvane-site/2")")},
        {site(bus(QStringLiteral(" "), port, {})),
         QStringLiteral("buses[0].name must not be empty")},
        {site(one + u',' + bus(QStringLiteral("a"), QStringLiteral("/dev/ttyS3"), {})),
         QStringLiteral("buses[1].name names the bus")},
        {site(bus(QStringLiteral("A"), port, QStringLiteral(R"("p/1.json", "p/1copy.json")"))),
         QStringLiteral("p/1.json and p/1copy.json both have module address 1 on bus 'A'")},
        {site(one + u',' + bus(QStringLiteral("B"), QStringLiteral("ttyUSB0"), {}) + u',' +
              bus(QStringLiteral("C"), QStringLiteral("/dev/ttyUSB0"), {})),
         QStringLiteral("port '/dev/ttyUSB0' of bus 'C' (buses[2].port) is the device of bus 'B' "
                        "(buses[1].port, port 'ttyUSB0') too")},
        // One device under two names: a link to it, a path through "..", one server.
        {site(one + u',' + bus(QStringLiteral("B"), link, {})),
         QStringLiteral("of bus 'B' (buses[1].port) is the device of bus 'A' (buses[0].port")},
        {site(bus(QStringLiteral("A"), dotted, {}) + u',' + bus(QStringLiteral("B"), link, {})),
         QStringLiteral("of bus 'B' (buses[1].port) is the device of bus 'A' (buses[0].port")},
        {site(bus(QStringLiteral("A"), QStringLiteral("tcp://127.0.0.1:4999"), {}) + u',' +
              bus(QStringLiteral("B"), QStringLiteral("rfc2217://LocalHost:4999"), {})),
         QStringLiteral("of bus 'B' (buses[1].port) is the device of bus 'A' (buses[0].port")},
        {site(one + u',' +
              bus(QStringLiteral("B"), QStringLiteral("/dev/ttyS3"),
                  QStringLiteral(R"("p/../p/1.json")"))),
         QStringLiteral("buses[1].panels[0] of bus 'B' names the panel file 'p/../p/1.json' that "
                        "buses[0].panels[0] of bus 'A' names too")},
        {"{\"format\": \n  \"lorvane-site/1\",\n  \"name\" \"X\"}",
         QStringLiteral("at line 3, column 11")},
        {site(bus(QStringLiteral("A"), port, QStringLiteral(R"("p/none.json")"))),
         QStringLiteral("cannot read p/none.json (buses[0].panels[0] in ")},
        {site(bus(QStringLiteral("A"), port, QStringLiteral(R"("p/bad.json")"))),
         QStringLiteral("p/bad.json (buses[0].panels[0] in %1): keys[3].line must be a whole "
                        "number from 0 to 255, not 300")
             .arg(w.filePath(QStringLiteral("site.json")))},
        {site(many.join(u',')), QStringLiteral("buses lists 65 buses; a site has at most 64")},
        {site(one) + QByteArray(1024 * 1024, ' '), QStringLiteral("larger than 1024 KiB")},
    };
    const QString file = w.filePath(QStringLiteral("site.json"));
    for (const auto& [text, said] : refused) {
        write_file(file, text);
        const cli_result result = run_cli({QStringLiteral("site"), QStringLiteral("write"), file});
        QVERIFY2(result.code == 2 && result.err.contains(said) &&
                     result.err.contains(QStringLiteral("nothing was sent")),
                 qPrintable(said + u'\n' + result.err));
    }
    // A log that cannot be opened, a report that cannot be written: nothing is sent either.
    write_file(file, site(one));
    QVERIFY(QDir().mkdir(file + QStringLiteral(".log")));
    const cli_result no_log = run_cli({QStringLiteral("site"), QStringLiteral("write"), file});
    QCOMPARE(no_log.code, 2);
    QVERIFY2(no_log.err.contains(QStringLiteral("cannot open the audit log")),
             qPrintable(no_log.err));
    const cli_result no_report =
        run_cli({QStringLiteral("site"), QStringLiteral("check"), file, QStringLiteral("--report"),
                 w.filePath(QStringLiteral("none/report.html"))});
    QCOMPARE(no_report.code, 2);
    QVERIFY2(no_report.err.contains(QStringLiteral("cannot write the report")),
             qPrintable(no_report.err));
    const cli_result no_bus =
        run_cli({QStringLiteral("site"), QStringLiteral("check"), file, QStringLiteral("--port-of"),
                 QStringLiteral("Z=/dev/ttyS1")});
    QCOMPARE(no_bus.code, 1);
    QVERIFY2(no_bus.err.contains(QStringLiteral("--port-of names the bus 'Z'")),
             qPrintable(no_bus.err));
    QTest::qWait(50);
    QVERIFY(peer.raw().empty());
}

QTEST_GUILESS_MAIN(tst_site_files)
#include "tst_site_files.moc"
