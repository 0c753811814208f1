// The audit log's chain: a log real writes made, checked by 'site log --verify' intact and
// after each kind of edit (a byte, a removed line, two lines swapped, a cut), old unchained
// lines accepted; and the head an opened log chains on from.
#include "audit_log.h"
#include "cli_process.h"
#include "sim_process.h"
#include "site_test_files.h"

#include <QCryptographicHash>
#include <QTemporaryDir>
#include <QTest>

using namespace lorvane;

class tst_audit_chain : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void every_edit_found_at_its_line();
    void head_found_at_open();
};

// The chain of a log two real writes made: intact, and every edit found at its line.
void tst_audit_chain::every_edit_found_at_its_line()
{
    sim_process sim;
    QVERIFY(sim.start({QStringLiteral("--address"), QStringLiteral("1,2,3")}));
    QTemporaryDir w;
    write_file(w.filePath(QStringLiteral("one/1.json")), panel_file_text(panel(1)));
    write_file(w.filePath(QStringLiteral("one/2.json")),
               panel_file_text(panel(2, [](panel_config& c) { c.keys[3].line = 9; })));
    write_file(w.filePath(QStringLiteral("one/3.json")),
               panel_file_text(panel(3, [](panel_config& c) { c.refresh_period = 99; })));
    const QString site =
        write_file(w.filePath(QStringLiteral("site.json")),
                   site_text(QStringLiteral("W"),
                             {{QStringLiteral("one"),
                               sim.path,
                               {QStringLiteral("one/1.json"), QStringLiteral("one/2.json"),
                                QStringLiteral("one/3.json")}}}));
    QCOMPARE(run_cli({QStringLiteral("site"), QStringLiteral("write"), site}).code, 0);
    QCOMPARE(
        run_cli({QStringLiteral("site"), QStringLiteral("write"), site, QStringLiteral("--all")})
            .code,
        0);
    const QByteArray log = read_file(site + QStringLiteral(".log"));
    const auto verify = [&](const QByteArray& bytes, const QStringList& more = {}) {
        write_file(site + QStringLiteral(".log"), bytes);
        return run_cli(QStringList{QStringLiteral("site"), QStringLiteral("log"), site,
                                   QStringLiteral("--verify")} +
                       more);
    };
    QList<QByteArray> lines = log.split('\n');
    lines.removeLast();  // after the last break
    const int count = int(lines.size());
    const auto head_of = [&](int line) {  // 1-based
        return QCryptographicHash::hash(lines[line - 1], QCryptographicHash::Sha256).toHex();
    };
    const cli_result intact =
        verify(log, {QStringLiteral("--head"),
                     QStringLiteral("sha256:") + QString::fromLatin1(head_of(count - 3))});
    QCOMPARE(intact.code, 0);
    QCOMPARE(intact.out,
             QStringLiteral("chain intact: %1 lines, head sha256:%2; sha256:%3 is "
                            "line %4\n")
                 .arg(count)
                 .arg(QString::fromLatin1(head_of(count)), QString::fromLatin1(head_of(count - 3)))
                 .arg(count - 3)
                 .toUtf8());
    const auto broken_at = [&](const QByteArray& bytes, int line, const QStringList& more = {}) {
        const cli_result result = verify(bytes, more);
        QCOMPARE(result.code, 5);
        QVERIFY2(result.out.startsWith(QStringLiteral("chain broken: line %1 ").arg(line).toUtf8()),
                 result.out.constData());
    };
    // One byte edited in line 3: line 4 no longer chains to it.
    QByteArray edited = log;
    const qsizetype third = log.indexOf('\n', log.indexOf('\n') + 1) + 1;
    edited[third + 10] = edited[third + 10] == '1' ? '2' : '1';
    broken_at(edited, 4);
    // Line 2 removed, lines 2 and 3 swapped.
    QList<QByteArray> removed = lines;
    removed.removeAt(1);
    broken_at(removed.join('\n') + '\n', 2);
    QList<QByteArray> swapped = lines;
    swapped.swapItemsAt(1, 2);
    broken_at(swapped.join('\n') + '\n', 2);
    // Cut short: the rest still chains, but the head kept from the last run is not there.
    const QByteArray cut = lines.mid(0, count - 2).join('\n') + '\n';
    QCOMPARE(verify(cut).code, 0);
    const cli_result short_log =
        verify(cut, {QStringLiteral("--head"),
                     QStringLiteral("sha256:") + QString::fromLatin1(head_of(count))});
    QCOMPARE(short_log.code, 5);
    QVERIFY2(short_log.out.startsWith("chain broken: no line of the log has the head"),
             short_log.out.constData());
    QCOMPARE(verify(log, {QStringLiteral("--head"), QStringLiteral("sha256:12")}).code, 1);
    // Lines from before the chain open the log; the first chained line chains on from them.
    const QByteArray old_lines = "{\"action\":\"written\",\"module\":1}\n{\"module\":2}\n";
    QByteArray rechained = lines[0];
    rechained.replace(
        QByteArray(64, '0'),
        QCryptographicHash::hash("{\"module\":2}", QCryptographicHash::Sha256).toHex());
    const cli_result old = verify(old_lines + rechained + '\n');
    QCOMPARE(old.code, 0);
    QVERIFY2(old.out.startsWith("chain intact: 3 lines (2 unchained"), old.out.constData());
    broken_at(old_lines + lines[0] + '\n', 3);       // chained as if it were first
    broken_at(log + "{\"module\":2}\n", count + 1);  // an old line after chained ones
    broken_at(log + "{\"mod\n", count + 1);          // not JSON
    // Shown as people read it: what each write changed, in words.
    write_file(site + QStringLiteral(".log"), log);
    const cli_result shown = run_cli({QStringLiteral("site"), QStringLiteral("log"), site});
    QCOMPARE(shown.code, 0);
    QCOMPARE(shown.out.count('\n'), count);
    QVERIFY2(shown.out.contains("  one  module 2  written: "), shown.out.constData());
    QVERIFY2(shown.out.contains("write run: 3 modules (1 unchanged, 2 written), 0 of 1 buses "
                                "unreachable\n"),
             shown.out.constData());
}

// The head comes from the last line of a log already there; a last line cut off before its
// break stays a line of its own, and the next line chains to it.
void tst_audit_chain::head_found_at_open()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("head.json.log"));
    const auto digest = [](const QByteArray& line) {
        return QCryptographicHash::hash(line, QCryptographicHash::Sha256).toHex();
    };
    audit_log fresh;
    QVERIFY(!fresh.open(path));
    QCOMPARE(fresh.head(), QByteArray(64, '0'));
    write_file(path, "{\"a\":1}\n{\"b\":2}\n");
    audit_log old;
    QVERIFY(!old.open(path));
    QCOMPARE(old.head(), digest("{\"b\":2}"));
    write_file(path, "{\"a\":1}\n{\"b\":");
    audit_log cut;
    QVERIFY(!cut.open(path));
    QCOMPARE(cut.head(), digest("{\"b\":"));
    const QByteArray line = "{\"c\":3,\"prev\":\"" + cut.head() + "\"}\n";
    QVERIFY(!cut.append(line));
    QCOMPARE(read_file(path), "{\"a\":1}\n{\"b\":\n" + line);
    QCOMPARE(cut.head(), digest(line.chopped(1)));
}

QTEST_GUILESS_MAIN(tst_audit_chain)
#include "tst_audit_chain.moc"
