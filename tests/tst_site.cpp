// A whole site through the real lorvane-cli: several simulators at once (one behind a real
// ser2net), every status and exit code, the JSON document, the audit log, the report, adopt
// and Ctrl-C mid-write.
#include "cli_process.h"
#include "panel_file.h"
#include "ser2net_process.h"
#include "sim_process.h"
#include "site_run.h"
#include "site_test_files.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

#include <algorithm>
#include <map>

#include <signal.h>
#include <sys/stat.h>

using namespace lorvane;

namespace {

// The sim's log so far, as text.
QString sim_log(sim_process& sim)
{
    QTest::qWait(100);  // the last lines are on their way
    return QString::fromUtf8(sim.process.readAllStandardError());
}

int count_of(const QString& text, const QString& pattern)
{
    return int(text.count(QRegularExpression(pattern)));
}

QString records_json(const panel_config& config)
{
    QStringList list;
    for (record_no r = 0; r <= LAST_RECORD; ++r) {
        const record_values v = values_of_record(config, r);
        list << QStringLiteral("[%1,%2,%3]").arg(v.value1).arg(v.value2).arg(v.value3);
    }
    return u'[' + list.join(u',') + u']';
}

// The audit log line lorvane-cli should have written, from "site" on (time, user and host
// vary); `after` and `stopped` as JSON text.
QString log_line_tail(const QString& bus, const QString& port, int module, const QString& path,
                      const char* action, const QString& before, const QString& after,
                      bool verified, const QString& stopped = {})
{
    const QString outcome =
        QStringLiteral(",\"after\":%1,\"verified\":%2%3")
            .arg(after, verified ? QStringLiteral("true") : QStringLiteral("false"),
                 stopped.isEmpty() ? QString() : QStringLiteral(",\"stopped_at\":") + stopped);
    return QStringLiteral("\"site\":\"W\",\"bus\":\"%1\",\"port\":\"%2\",\"module\":%3,\"panel\":"
                          "\"%4\",\"action\":\"%5\",\"before\":%6%7}")
        .arg(bus, port, QString::number(module), path, QLatin1String(action), before,
             qstrcmp(action, "begun") == 0 ? QString() : outcome);
}

// What a module holding `config` sends, record 0's spare bytes being `spare`.
QString held_json(const panel_config& config, const QString& spare)
{
    return records_json(config).replace(
        QStringLiteral("[[%1,0,0]").arg(config.refresh_period),
        QStringLiteral("[[%1,%2]").arg(config.refresh_period).arg(spare));
}

}  // namespace

class tst_site : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void check_statuses_json_and_report();
    void check_exit_codes();
    void write_only_what_differs_with_audit_log();
    void interrupt_mid_write();
    void log_survives_a_kill_and_refuses_a_fifo();
    void adopt_and_check_back();

private:
    QTemporaryDir dir_;
    sim_process sim_a_;  // modules 1, 2, 3
    sim_process sim_b_;  // module 5, behind ser2net
    ser2net_process server_;
};

void tst_site::initTestCase()
{
    QVERIFY2(QFileInfo(qEnvironmentVariable("LORVANE_SER2NET")).isExecutable(),
             "ser2net was found when the build was configured and is missing now");
    QVERIFY(dir_.isValid());
    QVERIFY(sim_a_.start({QStringLiteral("--address"), QStringLiteral("1,2,3")}));
    QVERIFY(sim_b_.start({QStringLiteral("--address"), QStringLiteral("5")}));
    QVERIFY(server_.start(sim_b_.path));
    const QString d = dir_.path();
    write_file(d + QStringLiteral("/a/1.json"), panel_file_text(panel(1)));
    write_file(d + QStringLiteral("/a/2.json"), panel_file_text(panel(2, [](panel_config& c) {
                   c.refresh_period = 40;
                   c.keys[2].line = 9;
                   c.keys[15].operation = 3;
               })));
    write_file(d + QStringLiteral("/a/4.json"), panel_file_text(panel(4)));
    write_file(d + QStringLiteral("/b/5.json"), panel_file_text(panel(5)));
    write_file(d + QStringLiteral("/c/6.json"), panel_file_text(panel(6)));
}

// Every status of a check, as --json writes it and as the report shows it: three buses at
// once, one behind ser2net and one that cannot be opened.
void tst_site::check_statuses_json_and_report()
{
    const QString site = write_file(
        dir_.filePath(QStringLiteral("check.json")),
        site_text(
            QStringLiteral("Test <Site>"),
            {{QStringLiteral("A"),
              sim_a_.path,
              {QStringLiteral("a/1.json"), QStringLiteral("a/2.json"), QStringLiteral("a/4.json")}},
             {QStringLiteral("B"), server_.raw_url(), {QStringLiteral("b/5.json")}},
             {QStringLiteral("C"),
              QStringLiteral("/dev/ttyLorvaneMissing"),
              {QStringLiteral("c/6.json")}}}));
    const QString report = dir_.filePath(QStringLiteral("report.html"));
    const cli_result result =
        run_cli({QStringLiteral("site"), QStringLiteral("check"), site, QStringLiteral("--json"),
                 QStringLiteral("--timeout=200"), QStringLiteral("--report"), report,
                 QStringLiteral("--all-rows")});
    QCOMPARE(result.code, 3);

    QString json = QString::fromUtf8(result.out);
    static const QRegularExpression error(QStringLiteral(R"re("error":"([^"]*)")re"));
    const QString said = error.match(json).captured(1);
    QVERIFY2(said.startsWith(QStringLiteral("cannot open /dev/ttyLorvaneMissing: no such device")),
             qPrintable(said));
    json.replace(error, QStringLiteral("\"error\":E"));
    json.replace(QRegularExpression(QStringLiteral(R"("seconds":\d+\.\d\d)")),
                 QStringLiteral("\"seconds\":S"));
    json.replace(QRegularExpression(QStringLiteral(
                     R"("reply_ms":\{"min":\d+\.\d,"median":\d+\.\d,"max":\d+\.\d\})")),
                 QStringLiteral("\"reply_ms\":R"));
    hide_health(json);  // its figures depend on timing
    // The check's own line is the log's head, which the JSON ends with.
    const QByteArray check_log = read_file(site + QStringLiteral(".log"));
    QCOMPARE(check_log.count('\n'), 1);
    QVERIFY(json.endsWith(
        QStringLiteral(",\"log_head\":\"sha256:%1\"}\n")
            .arg(QString::fromLatin1(
                QCryptographicHash::hash(check_log.chopped(1), QCryptographicHash::Sha256)
                    .toHex()))));
    json.remove(QRegularExpression(QStringLiteral(R"(,"log_head":"sha256:[0-9a-f]{64}")")));
    const QString expected =
        QStringLiteral(
            R"({"site":"Test <Site>","seconds":S,"buses":[)"
            R"({"name":"A","port":"%1","status":"ok","modules":[)"
            R"({"address":1,"panel":"a/1.json","status":"same","reply_ms":R},)"
            R"({"address":2,"panel":"a/2.json","status":"different","differences":[)"
            R"({"field":"refresh_period","expected":40,"found":50},)"
            R"({"key":3,"field":"line","expected":9,"found":3},)"
            R"({"key":16,"field":"operation","expected":3,"found":1}],"reply_ms":R},)"
            R"({"address":4,"panel":"a/4.json","status":"missing"},)"
            R"({"address":3,"panel":null,"status":"unexpected","refresh_period":50}],"health":H},)"
            R"({"name":"B","port":"%2","status":"ok","modules":[)"
            R"({"address":5,"panel":"b/5.json","status":"same","reply_ms":R}],"health":H},)"
            R"({"name":"C","port":"/dev/ttyLorvaneMissing","status":"unreachable","error":E,)"
            R"("modules":[{"address":6,"panel":"c/6.json","status":"not_reached"}]}]})"
            "\n")
            .arg(sim_a_.path, server_.raw_url());
    QCOMPARE(json, expected);

    // The report (--all-rows: every bus whole): well-formed, loads nothing (its only links are
    // to its own entries), names every module, one 16 x 16 map per bus.
    QXmlStreamReader html(read_file(report));
    int maps = 0;
    int cells = 0;
    QStringList rows;  // "address|panel|status" of each module row
    QStringList texts;
    QString row;
    bool in_style = false;
    static const QStringList loading{QStringLiteral("script"), QStringLiteral("link"),
                                     QStringLiteral("img"),    QStringLiteral("iframe"),
                                     QStringLiteral("object"), QStringLiteral("embed")};
    while (!html.atEnd()) {
        html.readNext();
        if (html.isStartElement()) {
            const QString name = html.name().toString();
            QVERIFY2(!loading.contains(name), qPrintable(name));
            for (const QXmlStreamAttribute& a : html.attributes()) {
                QVERIFY2(a.name() != u"src" &&
                             (a.name() != u"href" || a.value().startsWith(u'#')) &&
                             !a.value().contains(u"url("),
                         qPrintable(a.name().toString()));
            }
            maps += name == QStringLiteral("svg");
            cells += name == QStringLiteral("rect") &&
                     html.attributes().value(QStringLiteral("class")).startsWith(u"cell");
            in_style = name == QStringLiteral("style");
            if (name == QStringLiteral("tr"))
                row.clear();
        } else if (html.isCharacters()) {
            if (in_style) {
                QVERIFY(!html.text().contains(u"url(") && !html.text().contains(u"@import"));
            }
            row += html.text().toString() + u'|';
            texts << html.text().toString();
        } else if (html.isEndElement()) {
            in_style = false;
            if (html.name() == u"tr")
                rows << row;
        }
    }
    QVERIFY2(!html.hasError(), qPrintable(html.errorString()));
    QCOMPARE(maps, 3 + 2);  // and a histogram of reply times for each reachable bus
    QCOMPARE(cells, 3 * 256);
    for (const QString& module :
         {QStringLiteral("1|a/1.json|Same|"), QStringLiteral("2|a/2.json|Different|"),
          QStringLiteral("4|a/4.json|Missing|"), QStringLiteral("3|none in the plan|Unexpected|"),
          QStringLiteral("5|b/5.json|Same|"), QStringLiteral("6|c/6.json|Not reached|")}) {
        QVERIFY2(std::any_of(rows.begin(), rows.end(),
                             [&](const QString& r) { return r.startsWith(module); }),
                 qPrintable(module + u'\n' + rows.join(u'\n')));
    }
    const QString all_text = texts.join(QString());
    QVERIFY(all_text.contains(QStringLiteral("Test <Site>")));  // escaped, and read back whole
    QVERIFY(all_text.contains(QStringLiteral("key 3 line: planned 9, found 3")));
}

// The exit codes, the first that applies: 4 missing, 5 different or unexpected, 0 all same;
// and the lines a check prints.
void tst_site::check_exit_codes()
{
    const auto check = [&](const QStringList& a_panels, const QStringList& extra) {
        const QString site = write_file(
            dir_.filePath(QStringLiteral("codes.json")),
            site_text(QStringLiteral("Codes"),
                      {{QStringLiteral("A"), sim_a_.path, a_panels},
                       {QStringLiteral("B"), server_.raw_url(), {QStringLiteral("b/5.json")}}}));
        return run_cli(QStringList{QStringLiteral("site"), QStringLiteral("check"), site,
                                   QStringLiteral("--timeout=200")} +
                       extra);
    };
    const QStringList no_scan{QStringLiteral("--no-scan")};
    QCOMPARE(
        check({QStringLiteral("a/1.json"), QStringLiteral("a/4.json"), QStringLiteral("a/2.json")},
              no_scan)
            .code,
        4);
    const QString report = dir_.filePath(QStringLiteral("codes.html"));
    const cli_result different =
        check({QStringLiteral("a/1.json"), QStringLiteral("a/2.json")},
              {QStringLiteral("--no-scan"), QStringLiteral("--report"), report});
    QCOMPARE(different.code, 5);
    // Without a scan, the map knows nothing of the other addresses: not scanned, not empty.
    const QString html = QString::fromUtf8(read_file(report));
    QCOMPARE(html.count(QStringLiteral("class=\"cell unscanned\"")), (256 - 2) + (256 - 1));
    QVERIFY(html.contains(QStringLiteral("</span>not scanned</li>")));
    QVERIFY(!html.contains(QStringLiteral("no module")));
    QString lines = QString::fromUtf8(different.out);
    lines.remove(QRegularExpression(QStringLiteral("log head sha256:[0-9a-f]{64}\n$")));
    lines.replace(QRegularExpression(QStringLiteral(R"(\(\d+\.\d s\)\n$)")),
                  QStringLiteral("(T)\n"));
    QCOMPARE(lines,
             QStringLiteral("A: module 1 (a/1.json): same\n"
                            "A: module 2 (a/2.json): different: record 0 (refresh period), "
                            "refresh_period: expected 40, found 50; record 3 (key 3), line: "
                            "expected 9, found 3; record 16 (key 16), operation: expected pulse, "
                            "found toggle\n"
                            "B: module 5 (b/5.json): same\n"
                            "site Codes: 2 buses, 3 modules: 2 same, 1 different (T)\n"));
    const cli_result unexpected = check({QStringLiteral("a/1.json")}, {});
    QCOMPARE(unexpected.code, 5);
    QVERIFY2(unexpected.out.contains("A: module 2: unexpected, refresh period 50\n"
                                     "A: module 3: unexpected, refresh period 50\n"),
             unexpected.out.constData());
    // A bus without panels is still a bus of the site.
    const cli_result empty = check({}, no_scan);
    QCOMPARE(empty.code, 0);
    QVERIFY2(empty.out.startsWith("A: no modules on this bus\nB: module 5 (b/5.json): same\n"),
             empty.out.constData());
}

// A write reads every module first and writes only those that differ, logging each with what
// it held before and what it read back; a module that stops answering is failed and logged,
// and the others go on.
void tst_site::write_only_what_differs_with_audit_log()
{
    sim_process one;  // record 0 with spare bytes that are not 0: the log keeps them
    QVERIFY(one.start({QStringLiteral("--address"), QStringLiteral("1,2,3"),
                       QStringLiteral("--verbose"), QStringLiteral("--record0"),
                       QStringLiteral("50,7,255")}));
    sim_process two;  // answers its first read, then the first 3 records of the write only
    QVERIFY(two.start({QStringLiteral("--address"), QStringLiteral("7"),
                       QStringLiteral("--silent-after"), QStringLiteral("20")}));
    QTemporaryDir w;
    const panel_config p2 = panel(2, [](panel_config& c) { c.keys[3].line = 9; });
    const panel_config p3 = panel(3, [](panel_config& c) { c.refresh_period = 99; });
    const panel_config p7 = panel(7, [](panel_config& c) { c.refresh_period = 77; });
    write_file(w.filePath(QStringLiteral("one/1.json")), panel_file_text(panel(1)));
    write_file(w.filePath(QStringLiteral("one/2.json")), panel_file_text(p2));
    write_file(w.filePath(QStringLiteral("one/3.json")), panel_file_text(p3));
    write_file(w.filePath(QStringLiteral("one/4.json")), panel_file_text(panel(4)));
    write_file(w.filePath(QStringLiteral("two/7.json")), panel_file_text(p7));
    const QStringList four{QStringLiteral("one/1.json"), QStringLiteral("one/2.json"),
                           QStringLiteral("one/3.json"), QStringLiteral("one/4.json")};
    const QString site =
        write_file(w.filePath(QStringLiteral("site.json")),
                   site_text(QStringLiteral("W"),
                             {{QStringLiteral("one"), one.path, four},
                              {QStringLiteral("two"), two.path, {QStringLiteral("two/7.json")}}}));
    const QString log = site + QStringLiteral(".log");
    const cli_result first = run_cli(
        {QStringLiteral("site"), QStringLiteral("write"), site, QStringLiteral("--timeout=200")});
    QCOMPARE(first.code, 4);
    QVERIFY2(first.out.contains("one: module 1 (one/1.json): unchanged\n"
                                "one: module 2 (one/2.json): written\n"
                                "one: module 3 (one/3.json): written\n"
                                "one: module 4 (one/4.json): missing: no reply to the read of "
                                "record 0 (refresh period) within 200 ms\n"
                                "two: module 7 (two/7.json): failed: stopped answering: no "
                                "reply to the write of record 3 (key 3) within 200 ms (try "
                                "--retries 1 or --timeout 400)\n"),
             first.out.constData());
    const QString frames = sim_log(one);
    QCOMPARE(count_of(frames, QStringLiteral(R"(rx 55 01 F0 )")), 0);
    QCOMPARE(count_of(frames, QStringLiteral(R"(rx 55 02 F0 )")), 17);
    QCOMPARE(count_of(frames, QStringLiteral(R"(rx 55 03 F0 )")), 17);

    const QByteArray log_bytes = read_file(log);
    QStringList lines = QString::fromUtf8(log_bytes).split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 7);
    // The run's line comes last; its hash is the head the write printed last.
    const QByteArray last_line =
        log_bytes.chopped(1).mid(log_bytes.chopped(1).lastIndexOf('\n') + 1);
    QVERIFY(last_line.contains("\"action\":\"run\",\"of\":\"write\",\"stopped\":false,"
                               "\"buses\":2,\"unreachable\":0,\"modules\":5,\"counts\":{"
                               "\"unchanged\":1,\"written\":2,\"failed\":1,\"missing\":1,"));
    QVERIFY(first.out.endsWith(
        "log head sha256:" +
        QCryptographicHash::hash(last_line, QCryptographicHash::Sha256).toHex() + '\n'));
    lines.removeLast();
    // Each line names its panel file's hash, and ends with its prev (which 'site log' checks).
    for (QString& line : lines) {
        static const QRegularExpression digest(
            QStringLiteral(R"x(,"panel_sha256":"([0-9a-f]{64})")x"));
        const QRegularExpressionMatch found = digest.match(line);
        QVERIFY2(found.hasMatch(), qPrintable(line));
        const QString panel_file =
            QJsonDocument::fromJson(line.toUtf8()).object()[u"panel"].toString();
        QCOMPARE(found.captured(1).toLatin1(),
                 QCryptographicHash::hash(read_file(QFileInfo(site).dir().filePath(panel_file)),
                                          QCryptographicHash::Sha256)
                     .toHex());
        line.remove(digest);
        line.remove(QRegularExpression(QStringLiteral(R"(,"prev":"[0-9a-f]{64}")")));
    }
    static const QRegularExpression head(QStringLiteral(
        R"x(^\{"time":"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z","run":"([0-9a-f-]{36})",)x"
        R"("version":"\d+\.\d+\.\d+","user":"[^"]+","host":"[^"]*",)"));
    QStringList runs;
    std::map<int, QStringList> actions;  // module -> its lines' actions, in the log's order
    for (QString& line : lines) {
        const QRegularExpressionMatch match = head.match(line);
        QVERIFY2(match.hasMatch(), qPrintable(line));
        runs << match.captured(1);
        line.remove(head);
        actions[QJsonDocument::fromJson(u'{' + line.toUtf8()).object()[u"module"].toInt()]
            << QJsonDocument::fromJson(u'{' + line.toUtf8()).object()[u"action"].toString();
    }
    QCOMPARE(runs.count(runs.front()), 6);  // one run
    for (const int module : {2, 3})
        QCOMPARE(actions[module],
                 (QStringList{QStringLiteral("begun"), QStringLiteral("written")}));
    QCOMPARE(actions[7], (QStringList{QStringLiteral("begun"), QStringLiteral("failed")}));
    lines.sort();  // the two buses run at once: their lines come in either order
    const QString spare = QStringLiteral("7,255");
    QCOMPARE(lines[0],
             log_line_tail(QStringLiteral("one"), one.path, 2, QStringLiteral("one/2.json"),
                           "begun", held_json(panel(2), spare), {}, false));
    QCOMPARE(lines[1],
             log_line_tail(QStringLiteral("one"), one.path, 2, QStringLiteral("one/2.json"),
                           "written", held_json(panel(2), spare), records_json(p2), true));
    QCOMPARE(lines[3],
             log_line_tail(QStringLiteral("one"), one.path, 3, QStringLiteral("one/3.json"),
                           "written", held_json(panel(3), spare), records_json(p3), true));
    QCOMPARE(lines[4],
             log_line_tail(QStringLiteral("two"), two.path, 7, QStringLiteral("two/7.json"),
                           "begun", records_json(panel(7)), {}, false));
    QCOMPARE(lines[5],
             log_line_tail(QStringLiteral("two"), two.path, 7, QStringLiteral("two/7.json"),
                           "failed", records_json(panel(7)), QStringLiteral("null"), false,
                           QStringLiteral(R"({"step":"write","record":3})")));

    // Again, without the missing module: all hold their panels; nothing is written or logged.
    write_file(site,
               site_text(QStringLiteral("W"), {{QStringLiteral("one"), one.path, four.mid(0, 3)}}));
    const QByteArray logged = read_file(log);
    const cli_result again = run_cli({QStringLiteral("site"), QStringLiteral("write"), site});
    QCOMPARE(again.code, 0);
    QVERIFY2(again.out.endsWith(" 3 modules: 3 unchanged (0.0 s)\n") ||
                 again.out.contains(" 3 modules: 3 unchanged ("),
             again.out.constData());
    QCOMPARE(count_of(sim_log(one), QStringLiteral(R"(rx 55 0\d F0 )")), 0);
    // Nothing written: only the run's line is added.
    QVERIFY(read_file(log).startsWith(logged));
    QCOMPARE(read_file(log).mid(logged.size()).count("\"action\":\"run\""), 1);
    QCOMPARE(read_file(log).mid(logged.size()).count('\n'), 1);
    // --all writes them all, and the log only grows.
    const cli_result all =
        run_cli({QStringLiteral("site"), QStringLiteral("write"), site, QStringLiteral("--all")});
    QCOMPARE(all.code, 0);
    QCOMPARE(count_of(sim_log(one), QStringLiteral(R"(rx 55 0\d F0 )")), 3 * 17);
    const QByteArray grown = read_file(log);
    QVERIFY(grown.startsWith(logged));
    QCOMPARE(grown.mid(logged.size()).count('\n'), 2 * 3 + 2);
}

// Ctrl-C before the first write: nothing was written, and nothing is said to be logged. Ctrl-C
// (and SIGTERM) mid-write: every bus stops at once, the module cut off is named with the record
// it reached and logged as interrupted, and the exit code says which signal.
void tst_site::interrupt_mid_write()
{
    sim_process sim;
    QVERIFY(sim.start({QStringLiteral("--address"), QStringLiteral("1,2"),
                       QStringLiteral("--pace-baud"), QStringLiteral("9600"),
                       QStringLiteral("--verbose")}));
    QTemporaryDir w;
    write_file(w.filePath(QStringLiteral("1.json")), panel_file_text(panel(1)));
    write_file(w.filePath(QStringLiteral("2.json")), panel_file_text(panel(2)));
    const QString site = write_file(
        w.filePath(QStringLiteral("site.json")),
        site_text(QStringLiteral("W"), {{QStringLiteral("one"),
                                         sim.path,
                                         {QStringLiteral("1.json"), QStringLiteral("2.json")}}}));
    const QString log_path = site + QStringLiteral(".log");
    {
        const cli_result before =
            run_cli({QStringLiteral("site"), QStringLiteral("write"), site, QStringLiteral("--all"),
                     QStringLiteral("--json")},
                    {}, [&](QProcess& process) {
                        // Once module 1's first read has reached record 5.
                        QString seen;
                        QTRY_VERIFY_WITH_TIMEOUT(
                            (seen += QString::fromUtf8(sim.process.readAllStandardError()),
                             seen.contains(QStringLiteral("rx 55 01 F1 05"))),
                            10000);
                        ::kill(pid_t(process.processId()), SIGINT);
                    });
        QCOMPARE(before.code, 130);
        QVERIFY2(before.err.startsWith(QStringLiteral(
                     "lorvane-cli: interrupted; 0 written, 2 stopped before anything was "
                     "written; the ports are closed")),
                 qPrintable(before.err));
        const QJsonObject one = json_at(before.out, {"buses", 0, "modules", 0}).toObject();
        QCOMPARE(one[QStringLiteral("status")].toString(), QStringLiteral("interrupted"));
        QCOMPARE(json_at(before.out, {"buses", 0, "modules", 0, "stopped_at", "step"}).toString(),
                 QStringLiteral("read"));
        // Only the stopped run's own line: no module was begun.
        QCOMPARE(read_file(log_path).count("\"action\":"), 1);
        QVERIFY(
            read_file(log_path).contains("\"action\":\"run\",\"of\":\"write\",\"stopped\":true"));
    }
    for (const auto& [number, code, word] :
         {std::tuple{SIGINT, 130, "interrupted; "}, std::tuple{SIGTERM, 143, "terminated; "}}) {
        const int signal_number = number;
        sim.process.readAllStandardError();
        const cli_result result = run_cli(
            {QStringLiteral("site"), QStringLiteral("write"), site, QStringLiteral("--all")}, {},
            [&](QProcess& process) {
                // Once module 1's write has reached record 5.
                QString seen;
                QTRY_VERIFY_WITH_TIMEOUT(
                    (seen += QString::fromUtf8(sim.process.readAllStandardError()),
                     seen.contains(QStringLiteral("rx 55 01 F0 05"))),
                    10000);
                ::kill(pid_t(process.processId()), signal_number);
            });
        QCOMPARE(result.code, code);
        QVERIFY2(result.out.contains("one: module 1 (1.json): interrupted: cut off during the "
                                     "write at record ") &&
                     result.out.contains("one: module 2 (2.json): not reached\n"),
                 result.out.constData());
        const QRegularExpression said(
            QStringLiteral(
                "^lorvane-cli: %1 0 written, 1 cut off during the write \\(one: module 1 "
                "at record (\\d+) \\(key \\d+\\)\\), logged as interrupted in .+, 1 "
                "stopped before anything was written; the ports are closed")
                .arg(QLatin1String(word).trimmed()));
        const auto match = said.match(result.err);
        QVERIFY2(match.hasMatch(), qPrintable(result.err));
        const QList<QByteArray> log = read_file(log_path).split('\n');
        const QJsonObject last = QJsonDocument::fromJson(log[log.size() - 3]).object();
        QCOMPARE(last[QStringLiteral("action")].toString(), QStringLiteral("interrupted"));
        QCOMPARE(last[QStringLiteral("module")].toInt(), 1);
        QVERIFY(last[QStringLiteral("after")].isNull());
        QCOMPARE(last[QStringLiteral("verified")].toBool(true), false);
        const QJsonObject at = last[QStringLiteral("stopped_at")].toObject();
        QCOMPARE(at[QStringLiteral("step")].toString(), QStringLiteral("write"));
        QVERIFY2(at[QStringLiteral("record")].toInt() >= 5, log[log.size() - 3].constData());
        QCOMPARE(at[QStringLiteral("record")].toInt(), match.captured(1).toInt());
        // Nothing went out for module 2, and nothing after the signal for module 1.
        QVERIFY(!sim_log(sim).contains(QStringLiteral("rx 55 02 F0")));
    }
}

// A write killed right after its first frame has left the module's "begun" line on disk; a
// FIFO where the log should be is refused at once, naming it, with nothing sent.
void tst_site::log_survives_a_kill_and_refuses_a_fifo()
{
    sim_process sim;  // answers the 17 reads, then never again
    QVERIFY(sim.start({QStringLiteral("--address"), QStringLiteral("1"),
                       QStringLiteral("--silent-after"), QStringLiteral("17"),
                       QStringLiteral("--verbose")}));
    QTemporaryDir w;
    write_file(w.filePath(QStringLiteral("1.json")),
               panel_file_text(panel(1, [](panel_config& c) { c.refresh_period = 9; })));
    const QString site =
        write_file(w.filePath(QStringLiteral("site.json")),
                   site_text(QStringLiteral("W"),
                             {{QStringLiteral("one"), sim.path, {QStringLiteral("1.json")}}}));
    const cli_result killed = run_cli(
        {QStringLiteral("site"), QStringLiteral("write"), site, QStringLiteral("--timeout=5000")},
        {}, [&](QProcess& process) {
            QString seen;
            QTRY_VERIFY_WITH_TIMEOUT((seen += QString::fromUtf8(sim.process.readAllStandardError()),
                                      seen.contains(QStringLiteral("rx 55 01 F0 00"))),
                                     10000);
            ::kill(pid_t(process.processId()), SIGKILL);
        });
    QCOMPARE(killed.code, -1);
    const QList<QByteArray> log = read_file(site + QStringLiteral(".log")).split('\n');
    QCOMPARE(log.size(), 2);
    const QJsonObject begun = QJsonDocument::fromJson(log[0]).object();
    QCOMPARE(begun[u"action"].toString(), QStringLiteral("begun"));
    QCOMPARE(begun[u"module"].toInt(), 1);
    QCOMPARE(QJsonDocument(begun[u"before"].toArray()).toJson(QJsonDocument::Compact),
             records_json(panel(1)).toUtf8());

    const QString fifo = w.filePath(QStringLiteral("fifo.json"));
    QFile::copy(site, fifo);
    QCOMPARE(::mkfifo(qPrintable(fifo + QStringLiteral(".log")), 0600), 0);
    sim.process.readAllStandardError();
    QElapsedTimer clock;
    clock.start();
    const cli_result refused = run_cli({QStringLiteral("site"), QStringLiteral("write"), fifo});
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(refused.code, 2);
    QVERIFY2(refused.err.contains(QStringLiteral("cannot open the audit log %1.log for appending: "
                                                 "not a regular file")
                                      .arg(fifo)) &&
                 refused.err.contains(QStringLiteral("nothing was sent")),
             qPrintable(refused.err));
    QVERIFY(!sim_log(sim).contains(QStringLiteral("rx 55")));
}

// A building configured before it had a site file: adopt writes one, and a check of it says
// all same. A folder that is not empty is refused and left as it was.
void tst_site::adopt_and_check_back()
{
    sim_process sim;
    QVERIFY(sim.start({QStringLiteral("--address"), QStringLiteral("4,9,200")}));
    QTemporaryDir w;
    QStringList files;
    std::map<int, QByteArray> texts;
    for (const int address : {4, 9, 200}) {
        texts[address] = panel_file_text(panel(std::uint8_t(address), [&](panel_config& c) {
            c.refresh_period = std::uint8_t(address / 2);
            c.keys[std::size_t(address % 16)] = {std::uint8_t(address), 7, 200};
        }));
        files << write_file(w.filePath(QStringLiteral("in/%1.json").arg(address)), texts[address]);
    }
    QCOMPARE(run_cli(QStringList{QStringLiteral("write"), port_of(sim.path)} + files).code, 0);

    const QString dir = w.filePath(QStringLiteral("Tower 7"));
    const cli_result adopted =
        run_cli({QStringLiteral("site"), QStringLiteral("adopt"), dir, QStringLiteral("--bus"),
                 QStringLiteral("East Riser=") + sim.path, QStringLiteral("--bus"),
                 QStringLiteral("Aux.West=") + sim_b_.path});
    QVERIFY2(adopted.code == 0, qPrintable(adopted.err));
    for (const int address : {4, 9, 200})
        QCOMPARE(read_file(dir + QStringLiteral("/east-riser/module-%1.json")
                                     .arg(address, 3, 10, QLatin1Char('0'))),
                 texts[address]);
    QCOMPARE(read_file(dir + QStringLiteral("/bus-aux.west/module-005.json")),
             panel_file_text(panel(5)));
    const QJsonObject site =
        QJsonDocument::fromJson(read_file(dir + QStringLiteral("/site.json"))).object();
    QCOMPARE(site[QStringLiteral("name")].toString(), QStringLiteral("Tower 7"));

    const cli_result checked = run_cli(
        {QStringLiteral("site"), QStringLiteral("check"), dir + QStringLiteral("/site.json")});
    QCOMPARE(checked.code, 0);
    QVERIFY2(checked.out.contains("site Tower 7: 2 buses, 4 modules: 4 same ("),
             checked.out.constData());

    const QStringList before = QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    const QByteArray site_before = read_file(dir + QStringLiteral("/site.json"));
    const cli_result refused = run_cli({QStringLiteral("site"), QStringLiteral("adopt"), dir,
                                        QStringLiteral("--bus"), QStringLiteral("A=") + sim.path});
    QCOMPARE(refused.code, 2);
    QVERIFY2(refused.err.contains(QStringLiteral("is not an empty folder")),
             qPrintable(refused.err));
    QCOMPARE(QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
    QCOMPARE(read_file(dir + QStringLiteral("/site.json")), site_before);
    // A name Windows keeps for a device, with an extension or without, in any case.
    for (const QString& name : {QStringLiteral("Aux.East"), QStringLiteral("lpt3")}) {
        const cli_result reserved =
            run_cli({QStringLiteral("site"), QStringLiteral("adopt"), w.filePath(name),
                     QStringLiteral("--bus"), QStringLiteral("A=") + sim.path});
        QCOMPARE(reserved.code, 2);
        QVERIFY2(reserved.err.contains(QStringLiteral("Windows keeps the name %1").arg(name)),
                 qPrintable(reserved.err));
        QVERIFY(!QFileInfo::exists(w.filePath(name)));
    }
}

QTEST_GUILESS_MAIN(tst_site)
#include "tst_site.moc"
