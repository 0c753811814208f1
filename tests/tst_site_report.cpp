// The site report as an owner reads it, made by the engine from results built here with
// lorvane-cli's words: the verdict and the index of open items, buses with nothing to say drawn
// compactly, the as-built appendix read back key by key, and a big site printed by headless
// Chromium within its page bound.
#include "panel_file.h"
#include "site_report.h"
#include "site_test_files.h"
#include "site_words.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <QXmlStreamReader>

#include <map>

using namespace lorvane;

namespace {

module_result module_at(int address, module_status status, int panel = -1)
{
    module_result m;
    m.address = address;
    m.status = status;
    m.panel = panel;
    if (panel >= 0)
        m.panel_path = QStringLiteral("p/%1.json").arg(address);
    if (status != module_status::missing && status != module_status::not_reached)
        m.replies = reply_times{11.0, 12.5, 14.0};
    return m;
}

bus_result bus_of(const QString& name, std::vector<module_result> modules)
{
    bus_result bus;
    bus.name = name;
    bus.port = QStringLiteral("/dev/tty") + name;
    bus.device = bus.port;
    bus.scan_first = 0;
    bus.scan_last = 255;
    bus.modules = std::move(modules);
    return bus;
}

// A check's result: bus A all same, bus B with one module different, bus C unreachable.
site_result three_buses()
{
    site_result result;
    result.site = QStringLiteral("Harbour");
    result.started = QDateTime::currentDateTimeUtc();
    result.buses.push_back(bus_of(QStringLiteral("A"), {module_at(1, module_status::same, 0),
                                                        module_at(2, module_status::same, 1)}));
    module_result different = module_at(4, module_status::different, 1);
    different.differences.push_back({3, config_field::key_line, 9, 3});
    result.buses.push_back(
        bus_of(QStringLiteral("B"), {module_at(3, module_status::same, 0), different}));
    bus_result c = bus_of(QStringLiteral("C"), {module_at(6, module_status::not_reached, 0)});
    c.failure = bus_failure{};
    c.scan_last = -1;
    result.buses.push_back(c);
    result.log_head = QByteArray(64, 'a');
    return result;
}

QByteArray report_of(const site_result& result, const report_options& options = {})
{
    cli::english_report_words words{session_options{}};
    words.set_result(&result);
    report_facts facts{result.started,
                       QStringLiteral("u"),
                       QStringLiteral("h"),
                       QStringLiteral("lorvane-cli 9.9"),
                       QStringLiteral("site.json"),
                       {}};
    return site_report_html(result, facts, words, options);
}

// What a report holds, read back as XML: the text of each element with a class or id of note.
struct read_report
{
    QString verdict;
    QStringList index;    // "bus|address|status|what" of each open item
    QStringList links;    // the index's link targets
    QStringList ids;      // every id
    QStringList compact;  // the ids of the compact buses
    QStringList rows;     // "bus id:address|status" of every module row
    int tables_in_compact = 0;
    int maps_in_compact = 0;
    QString all_text;
};

read_report read(const QByteArray& html)
{
    read_report r;
    QXmlStreamReader xml(html);
    QStringList open;  // the stack of element names
    QString bus;       // the bus section being read
    bool in_compact = false;
    bool in_index_row = false;
    QString cell;
    QStringList cells;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            const auto a = xml.attributes();
            const QString name = xml.name().toString();
            const QString cls = a.value(QLatin1String("class")).toString();
            if (a.hasAttribute(QLatin1String("id")))
                r.ids << a.value(QLatin1String("id")).toString();
            if (name == u"section" && cls.startsWith(u"bus")) {
                bus = a.value(QLatin1String("id")).toString();
                in_compact = cls == u"bus compact";
                if (in_compact)
                    r.compact << bus;
            }
            if (in_compact) {
                r.tables_in_compact += name == u"table";
                r.maps_in_compact += name == u"svg";
            }
            if (name == u"a")
                r.links << a.value(QLatin1String("href")).toString();
            if (name == u"tr" && !bus.isEmpty() && a.value(QLatin1String("id")).contains(u"-m"))
                r.rows << a.value(QLatin1String("id")).toString();
            if (name == u"section" && cls == u"index")
                in_index_row = true;
            if (name == u"p" && cls.startsWith(u"verdict"))
                r.verdict = xml.readElementText(QXmlStreamReader::IncludeChildElements);
            if (name == u"td")
                cell.clear();
            open << name;
        } else if (xml.isCharacters()) {
            cell += xml.text();
            r.all_text += xml.text();
        } else if (xml.isEndElement()) {
            open.removeLast();
            if (xml.name() == u"td")
                cells << cell;
            if (xml.name() == u"tr" && in_index_row && !cells.isEmpty())
                r.index << cells.join(u'|');
            if (xml.name() == u"tr")
                cells.clear();
            if (xml.name() == u"section" && in_index_row && !open.contains(u"section"))
                in_index_row = false;
            if (xml.name() == u"section" && open.count(u"section") == 0)
                in_compact = false;
        }
    }
    if (xml.hasError())
        qFatal("the report is not well-formed: %s", qPrintable(xml.errorString()));
    return r;
}

}  // namespace

class tst_site_report : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void verdict_index_and_compact_buses();
    void as_built_lists_every_key();
    void sixty_four_buses_print_within_twelve_pages();
};

// The verdict comes first and the index names every open item with a link to its entry, the
// unreachable bus by name; a bus with nothing to say is compact, and --all-rows draws all.
void tst_site_report::verdict_index_and_compact_buses()
{
    const site_result result = three_buses();
    const QByteArray html = report_of(result);
    const read_report r = read(html);
    QCOMPARE(r.verdict, QStringLiteral("2 open items"));
    QVERIFY(html.indexOf("class=\"verdict") < html.indexOf("class=\"index\""));
    QCOMPARE(r.index.size(), 2);
    QCOMPARE(r.index[0], QStringLiteral("B|4|Different|key 3 line: planned 9, found 3"));
    QVERIFY2(r.index[1].startsWith(QStringLiteral("C||Unreachable|unreachable: ")),
             qPrintable(r.index[1]));
    QCOMPARE(r.links, (QStringList{QStringLiteral("#b2-m4"), QStringLiteral("#bus-3")}));
    for (const QString& link : r.links)
        QVERIFY2(r.ids.contains(link.mid(1)), qPrintable(link));
    // A is compact: a map and its counts, no table; B lists only its different module.
    QCOMPARE(r.compact, QStringList{QStringLiteral("bus-1")});
    QCOMPARE(r.tables_in_compact, 0);
    QCOMPARE(r.maps_in_compact, 1);
    QVERIFY(r.all_text.contains(QStringLiteral("2 same")));
    QCOMPARE(r.rows, (QStringList{QStringLiteral("b2-m4"), QStringLiteral("b3-m6")}));
    QVERIFY(r.all_text.contains(QStringLiteral("sha256:") + QString(64, u'a')));

    report_options all;
    all.all_rows = true;
    const read_report whole = read(report_of(result, all));
    QVERIFY(whole.compact.isEmpty());
    QCOMPARE(whole.rows.size(), 5);

    site_result complete = result;
    complete.buses.resize(1);
    const read_report done = read(report_of(complete));
    QCOMPARE(done.verdict, QStringLiteral("Complete: every module holds its panel"));
    QVERIFY(done.index.isEmpty() && done.links.isEmpty());
}

// The appendix names every module's 16 keys as its panel gives them (a module no panel names,
// as it was read), with the refresh period and the panel file.
void tst_site_report::as_built_lists_every_key()
{
    site_result result = three_buses();
    site_plan plan;
    plan.name = result.site;
    for (std::size_t b = 0; b < result.buses.size(); ++b) {
        site_bus bus{result.buses[b].name, result.buses[b].port, false, {}, {}};
        for (int p = 0; p < 2; ++p) {
            bus.panels.push_back(panel(std::uint8_t(b * 10 + std::size_t(p)), [&](panel_config& c) {
                c.refresh_period = std::uint8_t(30 + b);
                for (int k = 0; k < KEY_COUNT; ++k) {
                    c.keys[std::size_t(k)].address = std::uint8_t(100 + b * 2 + std::size_t(p));
                    c.keys[std::size_t(k)].line = std::uint8_t(k + 1 + p);
                    c.keys[std::size_t(k)].operation = std::uint8_t((k + p) % 4);
                }
            }));
        }
        plan.buses.push_back(bus);
    }
    module_result stranger = module_at(9, module_status::unexpected);
    stranger.before = panel(9, [](panel_config& c) { c.keys[4].line = 77; });
    result.buses[0].modules.push_back(stranger);
    report_options options;
    options.as_built = &plan;
    QXmlStreamReader xml(report_of(result, options));
    std::map<QString, QStringList> keys;  // "bus:address" -> "key|address|line|operation"
    QString entry;
    QStringList cells;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() == u"article")
            entry = xml.attributes().value(QLatin1String("data-bus")).toString() + u':' +
                    xml.attributes().value(QLatin1String("data-address")).toString();
        else if (xml.isStartElement() && xml.name() == u"td" && !entry.isEmpty())
            cells << xml.readElementText();
        else if (xml.isEndElement() && xml.name() == u"tr" && !cells.isEmpty()) {
            keys[entry] << cells.join(u'|');
            cells.clear();
        }
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QCOMPARE(keys.size(), std::size_t{6});  // five planned modules and the unexpected one
    for (std::size_t b = 0; b < result.buses.size(); ++b) {
        for (const module_result& m : result.buses[b].modules) {
            const QStringList& got = keys[result.buses[b].name + u':' + QString::number(m.address)];
            const panel_config& config =
                m.panel >= 0 ? plan.buses[b].panels[std::size_t(m.panel)] : *m.before;
            QCOMPARE(got.size(), KEY_COUNT);
            for (int k = 0; k < KEY_COUNT; ++k) {
                const key_binding& key = config.keys[std::size_t(k)];
                QCOMPARE(got[k], QStringLiteral("%1|%2|%3|%4")
                                     .arg(k + 1)
                                     .arg(key.address)
                                     .arg(key.line)
                                     .arg(operation_name(key.operation)));
            }
        }
    }
}

// A 64-bus site of 4 modules each with 3 problems, printed by headless Chromium, takes at most
// 12 A4 pages.
void tst_site_report::sixty_four_buses_print_within_twelve_pages()
{
    const QString chromium = QStandardPaths::findExecutable(QStringLiteral("chromium"));
    if (chromium.isEmpty())
        QSKIP("chromium is not installed: the printed size is not checked");
    site_result result;
    result.site = QStringLiteral("Tower");
    result.started = QDateTime::currentDateTimeUtc();
    report_facts facts{result.started,
                       QStringLiteral("u"),
                       QStringLiteral("h"),
                       QStringLiteral("lorvane-cli 9.9"),
                       QStringLiteral("site.json"),
                       {}};
    facts.digests.site = QByteArray(32, '\x11');
    for (int b = 0; b < 64; ++b) {
        std::vector<module_result> modules;
        for (int a = 1; a <= 4; ++a) {
            module_result m = module_at(a, module_status::same, a - 1);
            m.panel_path = QStringLiteral("riser-%1/module-%2.json").arg(b + 1).arg(a);
            facts.digests.panels[m.panel_path] = QByteArray(32, char(b * 4 + a));
            modules.push_back(m);
        }
        bus_result bus = bus_of(QStringLiteral("riser %1").arg(b + 1), modules);
        health_report health;
        for (int a = 1; a <= 4; ++a) {
            module_traffic traffic;
            traffic.address = a;
            traffic.exchanges = traffic.confirmed = 17;
            traffic.reply_ms.assign(17, 12.0 + a);
            health.measured.modules.push_back(traffic);
        }
        health.measured.line.seconds = 3;
        health.measured.line.requests_sent = 256 + 68;
        bus.health = health;
        result.buses.push_back(bus);
    }
    result.buses[5].modules[1].status = module_status::missing;
    result.buses[5].modules[1].stopped_record = 0;
    result.buses[20].modules[2].status = module_status::different;
    result.buses[20].modules[2].differences.push_back({7, config_field::key_operation, 3, 1});
    result.buses[41].failure = bus_failure{};
    result.buses[41].health.reset();
    result.buses[41].scan_last = -1;
    for (module_result& m : result.buses[41].modules)
        m.status = module_status::not_reached;
    result.log_head = QByteArray(64, 'b');
    cli::english_report_words words{session_options{}};
    words.set_result(&result);
    QCOMPARE(open_items(result), 3);

    QTemporaryDir dir;
    const QString html = write_file(dir.filePath(QStringLiteral("tower.html")),
                                    site_report_html(result, facts, words));
    const QString pdf = dir.filePath(QStringLiteral("tower.pdf"));
    QProcess print;
    print.start(chromium,
                {QStringLiteral("--headless"), QStringLiteral("--no-sandbox"),
                 QStringLiteral("--disable-gpu"), QStringLiteral("--no-pdf-header-footer"),
                 QStringLiteral("--user-data-dir=") + dir.filePath(QStringLiteral("profile")),
                 QStringLiteral("--print-to-pdf=") + pdf, QUrl::fromLocalFile(html).toString()});
    QVERIFY(print.waitForFinished(120000));
    QCOMPARE(print.exitCode(), 0);
    QFile file(pdf);
    QVERIFY2(file.open(QIODevice::ReadOnly), print.readAllStandardError().constData());
    // Each page is one "/Type /Page" object (the tree of them is "/Type /Pages").
    static const QRegularExpression page(QStringLiteral(R"(/Type\s*/Page(?![s\w]))"));
    const QString text = QString::fromLatin1(file.readAll());
    const qsizetype pages = text.count(page);
    qInfo("printed: %lld pages", qlonglong(pages));
    QVERIFY(pages >= 1);
    QVERIFY2(pages <= 12, qPrintable(QString::number(pages)));
}

QTEST_GUILESS_MAIN(tst_site_report)
#include "tst_site_report.moc"
