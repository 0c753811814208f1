// What a site's results say when things go wrong part-way, through the real lorvane-cli
// against simulators: modules that answered and then fell silent, a scan left in doubt and
// what a check's own traffic tells of each line; and through the engine's run, buses that
// cannot be reached or are lost part-way.
#include "cli_process.h"
#include "module_peer.h"
#include "port_listing.h"
#include "sim_process.h"
#include "site_run.h"
#include "site_test_files.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

#include <map>

using namespace lorvane;

class tst_site_results : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void answered_then_silent_is_failed();
    void scan_doubt_reaches_the_site();
    void check_tells_each_lines_health();
    void usb_ports_by_serial_number();
    void lost_port_stops_only_its_bus();
    void problems_only_and_the_reports_files();
};

// A module that answered (the scan, or some records) and then fell silent is failed where it
// stopped, never missing; a read-back that got no reply is failed with no differences at all.
void tst_site_results::answered_then_silent_is_failed()
{
    sim_process scanned;  // answers the scan's probe, then nothing
    QVERIFY(scanned.start({QStringLiteral("--address=1"), QStringLiteral("--silent-after=1")}));
    sim_process partly;  // answers the probe and records 0..3 of its read
    QVERIFY(partly.start({QStringLiteral("--address=2"), QStringLiteral("--silent-after=5")}));
    sim_process written;  // answers its read and its write, not its read-back
    QVERIFY(written.start({QStringLiteral("--address=3"), QStringLiteral("--silent-after=34")}));
    QTemporaryDir w;
    write_file(w.filePath(QStringLiteral("1.json")), panel_file_text(panel(1)));
    write_file(w.filePath(QStringLiteral("2.json")), panel_file_text(panel(2)));
    write_file(w.filePath(QStringLiteral("3.json")),
               panel_file_text(panel(3, [](panel_config& c) { c.keys[0].line = 9; })));
    const QString check_site =
        write_file(w.filePath(QStringLiteral("check.json")),
                   site_text(QStringLiteral("F"),
                             {{QStringLiteral("A"), scanned.path, {QStringLiteral("1.json")}},
                              {QStringLiteral("B"), partly.path, {QStringLiteral("2.json")}}}));
    const cli_result checked = run_cli({QStringLiteral("site"), QStringLiteral("check"), check_site,
                                        QStringLiteral("--timeout=200")});
    QCOMPARE(checked.code, 4);
    QVERIFY2(
        checked.out.contains("A: module 1 (1.json): failed: answered the scan, then stopped "
                             "answering: no reply to the read of record 0 (refresh period) "
                             "within 200 ms (try --retries 1 or --timeout 400)\n") &&
            checked.out.contains("B: module 2 (2.json): failed: stopped answering: no reply to "
                                 "the read of record 4 (key 4) within 200 ms (try --retries 1 "
                                 "or --timeout 400)\n") &&
            checked.out.contains(": 2 failed ("),
        checked.out.constData());

    const QString write_site =
        write_file(w.filePath(QStringLiteral("write.json")),
                   site_text(QStringLiteral("F"),
                             {{QStringLiteral("C"), written.path, {QStringLiteral("3.json")}}}));
    const QString report = w.filePath(QStringLiteral("write.html"));
    const cli_result wrote = run_cli({QStringLiteral("site"), QStringLiteral("write"), write_site,
                                      QStringLiteral("--json"), QStringLiteral("--timeout=200"),
                                      QStringLiteral("--report"), report});
    QCOMPARE(wrote.code, 4);
    const QJsonObject module = json_at(wrote.out, {"buses", 0, "modules", 0}).toObject();
    QCOMPARE(module[QStringLiteral("status")].toString(), QStringLiteral("failed"));
    QCOMPARE(module[QStringLiteral("fault")].toString(), QStringLiteral("no_reply"));
    QVERIFY2(!module.contains(QStringLiteral("differences")), wrote.out.constData());
    QCOMPARE(json_at(wrote.out, {"buses", 0, "modules", 0, "stopped_at", "step"}).toString(),
             QStringLiteral("read-back"));
    const QString html = QString::fromUtf8(read_file(report));
    QVERIFY(
        html.contains(QStringLiteral("no reply to the read-back of record 0 (refresh period)")));
    QVERIFY(!html.contains(QStringLiteral("planned")) &&
            !html.contains(QStringLiteral("different")));
}

// Junk in a scan that no module accounts for: the bus's lines, its JSON and the report say a
// module may have been missed.
void tst_site_results::scan_doubt_reaches_the_site()
{
    module_peer peer(1);
    int probes_of_9 = 0;  // junk once per check, after the first probe of address 9
    peer.on_request = [&](const frame& request) {
        if (request[POS_ADDRESS] == 9 && ++probes_of_9 == 1)
            peer.send_raw({0x22, 0x09, 0xF1, 0x00, 0x5A, 0xA5, 0x3C, 0xC3});
    };
    QTemporaryDir w;
    write_file(w.filePath(QStringLiteral("1.json")), panel_file_text(panel(1)));
    const QString site =
        write_file(w.filePath(QStringLiteral("site.json")),
                   site_text(QStringLiteral("D"),
                             {{QStringLiteral("A"), peer.path(), {QStringLiteral("1.json")}}}));
    const QString report = w.filePath(QStringLiteral("doubt.html"));
    const cli_result text = run_cli({QStringLiteral("site"), QStringLiteral("check"), site,
                                     QStringLiteral("--report"), report});
    QCOMPARE(text.code, 0);
    const QByteArray warning = "A: warning: 1 reply arrived garbled in the scan; a module may have "
                               "been missed (try --retries 1)\n";
    QVERIFY2(text.out.startsWith(warning + "A: module 1 (1.json): same\n"), text.out.constData());
    QVERIFY(read_file(report).contains("a module may have been missed"));
    probes_of_9 = 0;
    const cli_result json =
        run_cli({QStringLiteral("site"), QStringLiteral("check"), site, QStringLiteral("--json")});
    const QJsonArray warnings = json_at(json.out, {"buses", 0, "warnings"}).toArray();
    QCOMPARE(warnings.size(), 1);
    QVERIFY2(warnings[0].toString().contains(QStringLiteral("a module may have been missed")),
             json.out.constData());
}

// Every reply-time bar of each bus's histogram in the report, as bus section id -> the sum of
// the bars' counts (the report is well-formed XML).
std::map<QString, int> histogram_counts(const QByteArray& html)
{
    std::map<QString, int> counts;
    QXmlStreamReader xml(html);
    QString section;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const auto attributes = xml.attributes();
        if (xml.name() == QLatin1String("section") &&
            attributes.value(QLatin1String("class")) == QLatin1String("health"))
            section = attributes.value(QLatin1String("id")).toString();
        else if (xml.name() == QLatin1String("rect") &&
                 attributes.value(QLatin1String("class")) == QLatin1String("bar"))
            counts[section] += attributes.value(QLatin1String("data-count")).toInt();
    }
    if (xml.hasError())
        qFatal("the report is not well-formed: %s", qPrintable(xml.errorString()));
    return counts;
}

// A check gives each bus what its own traffic showed of the line, with nothing more sent: an
// adapter that echoes is found, a clean bus has no finding; the lines, the JSON and the report
// (its histogram holding every reply) say so.
void tst_site_results::check_tells_each_lines_health()
{
    sim_process echoing;
    QVERIFY(echoing.start({QStringLiteral("--address=1"), QStringLiteral("--echo")}));
    sim_process clean;
    QVERIFY(clean.start({QStringLiteral("--address=2,3")}));
    QTemporaryDir w;
    for (const int a : {1, 2, 3})
        write_file(w.filePath(QStringLiteral("%1.json").arg(a)),
                   panel_file_text(panel(std::uint8_t(a))));
    const QString site =
        write_file(w.filePath(QStringLiteral("site.json")),
                   site_text(QStringLiteral("H"),
                             {{QStringLiteral("E"), echoing.path, {QStringLiteral("1.json")}},
                              {QStringLiteral("C"),
                               clean.path,
                               {QStringLiteral("2.json"), QStringLiteral("3.json")}}}));
    // --all-rows: the clean bus too is drawn whole, with its histogram.
    const QString report = w.filePath(QStringLiteral("health.html"));
    const cli_result json =
        run_cli({QStringLiteral("site"), QStringLiteral("check"), site, QStringLiteral("--json"),
                 QStringLiteral("--report"), report, QStringLiteral("--all-rows")});
    QCOMPARE(json.code, 0);  // what the line shows is told, it fails nothing
    const QJsonArray echo_findings =
        json_at(json.out, {"buses", 0, "health", "findings"}).toArray();
    QCOMPARE(echo_findings.size(), 1);
    QCOMPARE(echo_findings[0].toObject()[QStringLiteral("kind")].toString(),
             QStringLiteral("echo"));
    // Every request the check sent came back once: the scan's 256 probes and 17 reads.
    QCOMPARE(json_at(json.out, {"buses", 0, "health", "line", "echoed_requests"}).toInt(), 273);
    QCOMPARE(json_at(json.out, {"buses", 1, "health", "findings"}).toArray().size(), 0);
    QVERIFY2(json.out.contains(R"("health":{"modules":[)") && json.out.contains(R"(],"line":{)"),
             json.out.constData());

    // The bars of a bus's histogram add up to its modules' replies.
    const std::map<QString, int> bars = histogram_counts(read_file(report));
    for (const int bus : {0, 1}) {
        int replies = 0;
        for (const QJsonValue m :
             json_at(json.out, {"buses", bus, "health", "modules"}).toArray()) {
            const QJsonObject module = m.toObject();
            replies += module[QStringLiteral("samples")].toInt() -
                       module[QStringLiteral("timeouts")].toInt() -
                       module[QStringLiteral("garbled")].toInt();
        }
        QVERIFY(replies >= 18 * (bus + 1));  // each module's probe and 17 records at least
        QCOMPARE(bars.at(QStringLiteral("health-%1").arg(bus + 1)), replies);
    }

    const cli_result text = run_cli({QStringLiteral("site"), QStringLiteral("check"), site});
    QCOMPARE(text.code, 0);
    QVERIFY2(text.out.contains("E: module 1 (1.json): same\nE: line health: ") &&
                 text.out.count(": line health: ") == 1,
             text.out.constData());
}

// usb:SERIAL names the adapter with that serial number, whatever its port is called here.
void tst_site_results::usb_ports_by_serial_number()
{
    module_peer peer(1);
    set_port_source([&] {
        return std::vector<port_entry>{
            {peer.path(), QStringLiteral("USB adapter"), {}, QStringLiteral("LV0042")},
            {QStringLiteral("ttyLorvaneT1"), {}, {}, QStringLiteral("TWIN")},
            {QStringLiteral("ttyLorvaneT2"), {}, {}, QStringLiteral("TWIN")}};
    });
    const auto restore = qScopeGuard([] { set_port_source({}); });
    site_plan plan;
    plan.name = QStringLiteral("U");
    plan.buses.push_back({QStringLiteral("found"),
                          QStringLiteral("usb:lv0042"),
                          false,
                          {QStringLiteral("1.json")},
                          {panel(1)}});
    plan.buses.push_back({QStringLiteral("gone"), QStringLiteral("usb:GONE"), false, {}, {}});
    plan.buses.push_back({QStringLiteral("twins"), QStringLiteral("usb:TWIN"), false, {}, {}});
    plan.buses.push_back({QStringLiteral("shared"), peer.path(), false, {}, {}});
    site_run_options options;
    options.scan = false;
    site_run run(plan, options);
    QSignalSpy finished(&run, &site_run::finished);
    run.start();
    QVERIFY(finished.wait(5000));
    const site_result& result = run.result();
    QCOMPARE(result.buses[0].device, peer.path());
    QVERIFY(result.buses[0].reachable());
    QCOMPARE(result.buses[0].modules.at(0).status, module_status::same);
    const auto failure = [&](int bus) { return *result.buses[std::size_t(bus)].failure; };
    QCOMPARE(failure(1).kind, bus_failure_kind::usb_not_plugged);
    QCOMPARE(failure(1).serial, QStringLiteral("GONE"));
    QCOMPARE(failure(2).kind, bus_failure_kind::usb_ambiguous);
    QCOMPARE(failure(2).devices,
             (QStringList{QStringLiteral("ttyLorvaneT1"), QStringLiteral("ttyLorvaneT2")}));
    QCOMPARE(failure(3).kind, bus_failure_kind::port_shared);
    QCOMPARE(failure(3).other_bus, 0);
    QCOMPARE(peer.requests().size(), std::size_t{17});  // the one read of module 1, nothing more
}

// A bus whose port goes away mid-read is unreachable, its module cut off and the rest not
// reached; the other bus goes on to its end.
void tst_site_results::lost_port_stops_only_its_bus()
{
    module_peer lost(1);
    module_peer kept(1);
    lost.on_request = [&](const frame& request) {
        if (request[POS_RECORD] == 4)
            lost.hang_up();
    };
    site_plan plan;
    plan.name = QStringLiteral("L");
    plan.buses.push_back({QStringLiteral("lost"),
                          lost.path(),
                          false,
                          {QStringLiteral("1.json"), QStringLiteral("2.json")},
                          {panel(1), panel(2)}});
    plan.buses.push_back(
        {QStringLiteral("kept"), kept.path(), false, {QStringLiteral("1.json")}, {panel(1)}});
    site_run_options options;
    options.scan = false;
    site_run run(plan, options);
    QSignalSpy finished(&run, &site_run::finished);
    run.start();
    QVERIFY(finished.wait(5000));
    QCOMPARE(finished.size(), 1);
    const site_result& result = run.result();
    QCOMPARE(result.buses[0].failure->kind, bus_failure_kind::port_lost);
    QCOMPARE(result.buses[0].modules[0].status, module_status::interrupted);
    QCOMPARE(result.buses[0].modules[0].stopped_record, 4);
    QCOMPARE(result.buses[0].modules[1].status, module_status::not_reached);
    QVERIFY(result.buses[1].reachable());
    QCOMPARE(result.buses[1].modules[0].status, module_status::same);
}

// --problems-only prints the lines with something to say, then the summary and the log's head;
// the report names the SHA-256 of the site file and of each panel file as their bytes give it,
// and the head the run printed. The report's shape needs a report.
void tst_site_results::problems_only_and_the_reports_files()
{
    sim_process one;
    QVERIFY(one.start({QStringLiteral("--address=1,2")}));
    sim_process other;
    QVERIFY(other.start({QStringLiteral("--address=3")}));
    QTemporaryDir w;
    const QStringList panels{QStringLiteral("1.json"), QStringLiteral("2.json"),
                             QStringLiteral("3.json")};
    write_file(w.filePath(panels[0]), panel_file_text(panel(1)));
    write_file(w.filePath(panels[1]),
               panel_file_text(panel(2, [](panel_config& c) { c.keys[1].line = 9; })));
    write_file(w.filePath(panels[2]), panel_file_text(panel(3)));
    const QString site = write_file(
        w.filePath(QStringLiteral("site.json")),
        site_text(QStringLiteral("P"), {{QStringLiteral("A"), one.path, {panels[0], panels[1]}},
                                        {QStringLiteral("B"), other.path, {panels[2]}}}));
    const QString report = w.filePath(QStringLiteral("p.html"));
    const cli_result checked =
        run_cli({QStringLiteral("site"), QStringLiteral("check"), site, QStringLiteral("--no-scan"),
                 QStringLiteral("--problems-only"), QStringLiteral("--report"), report,
                 QStringLiteral("--as-built")});
    QCOMPARE(checked.code, 5);
    static const QRegularExpression shape(QStringLiteral(
        R"(\AA: module 2 \(2\.json\): different: [^\n]*\nsite P: 2 buses, 3 modules: 2 same, 1 )"
        R"(different \(\d+\.\d s\)\nlog head sha256:([0-9a-f]{64})\n\z)"));
    const auto printed = shape.match(QString::fromUtf8(checked.out));
    QVERIFY2(printed.hasMatch(), checked.out.constData());

    const QByteArray html = read_file(report);
    const auto sha = [](const QByteArray& bytes) {
        return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
    };
    QXmlStreamReader xml(html);
    std::map<QString, QByteArray> digests;  // file -> the SHA-256 the report names before it
    QByteArray digest;
    while (!xml.atEnd()) {
        xml.readNext();
        const QString cls = xml.attributes().value(QLatin1String("class")).toString();
        if (xml.isStartElement() && cls == u"sha256")
            digest = xml.readElementText().toLatin1();
        else if (xml.isStartElement() && cls == u"file" && xml.name() == u"span")
            digests[xml.readElementText()] = digest;
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QCOMPARE(digests.size(), std::size_t{4});
    QCOMPARE(digests[QStringLiteral("site.json")], sha(read_file(site)));
    for (const QString& p : panels)
        QCOMPARE(digests[p], sha(read_file(w.filePath(p))));
    QVERIFY(html.contains("sha256:" + printed.captured(1).toLatin1() + "</code>"));
    QCOMPARE(html.count("<article class=\"built\""), 3);

    for (const QStringList& misuse :
         {QStringList{QStringLiteral("--as-built")}, QStringList{QStringLiteral("--all-rows")},
          QStringList{QStringLiteral("--problems-only"), QStringLiteral("--json")}}) {
        const cli_result refused =
            run_cli(QStringList{QStringLiteral("site"), QStringLiteral("write"), site} + misuse);
        QCOMPARE(refused.code, 1);
        QVERIFY2(refused.err.contains(misuse[0]), qPrintable(refused.err));
    }
}

QTEST_GUILESS_MAIN(tst_site_results)
#include "tst_site_results.moc"
