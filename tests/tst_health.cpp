// `lorvane-cli health` against lorvane-sim on a real pseudo-terminal, paced at 9600 baud:
// each kind of finding from the line condition that causes it, none from a clean line, and
// the JSON's members in their fixed order.
#include "cli_process.h"
#include "sim_process.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTest>

#include <algorithm>

namespace {

constexpr int EXIT_FINDINGS = 6;

// The members of a valid JSON text in the order they stand, each as its path from the top
// ("modules.reply_ms.min"), once for every object that has it.
class member_order
{
public:
    explicit member_order(const QByteArray& json) : text_(json) { value({}); }
    const QStringList& paths() const { return paths_; }

private:
    void skip_space()
    {
        while (at_ < text_.size() && QByteArrayView(" \t\r\n").contains(text_[at_]))
            ++at_;
    }
    QString string()
    {
        QByteArray bytes;
        for (++at_; text_[at_] != '"'; ++at_) {
            if (text_[at_] == '\\')
                bytes += text_[at_++];
            bytes += text_[at_];
        }
        ++at_;
        return QString::fromUtf8(bytes);
    }
    void value(const QString& path)
    {
        skip_space();
        const char first = text_[at_];
        if (first == '{' || first == '[') {
            const char last = first == '{' ? '}' : ']';
            ++at_;
            skip_space();
            if (text_[at_] == last) {
                ++at_;
                return;
            }
            for (;;) {
                QString member = path;
                if (first == '{') {
                    skip_space();
                    const QString key = string();
                    member = path.isEmpty() ? key : path + u'.' + key;
                    paths_ << member;
                    skip_space();
                    ++at_;  // ':'
                }
                value(member);
                skip_space();
                if (text_[at_++] == last)
                    return;
            }
        }
        if (first == '"') {
            string();
            return;
        }
        while (at_ < text_.size() && !QByteArrayView(",}] \t\r\n").contains(text_[at_]))
            ++at_;
    }

    const QByteArray& text_;
    qsizetype at_ = 0;
    QStringList paths_;
};

QStringList args(std::initializer_list<const char*> list)
{
    QStringList result;
    for (const char* arg : list)
        result << QString::fromLatin1(arg);
    return result;
}

struct health_run
{
    cli_result cli;
    QJsonObject json;
};

// `lorvane-cli health --json` over a simulator started with `sim_arguments` at 9600 baud.
health_run run_health(sim_process& sim, const QStringList& sim_arguments,
                      const QStringList& cli_arguments)
{
    if (!sim.start(args({"--pace-baud", "9600"}) + sim_arguments))
        qFatal("lorvane-sim did not start");
    health_run run;
    run.cli = run_cli(QStringList{QStringLiteral("health"), port_of(sim.path)} + cli_arguments);
    run.json = QJsonDocument::fromJson(run.cli.out).object();
    return run;
}

// "kind" or "kind@address" of each finding, sorted.
QStringList finding_names(const QJsonObject& json)
{
    QStringList names;
    for (const QJsonValue& finding : json.value(QLatin1String("findings")).toArray()) {
        const QJsonObject f = finding.toObject();
        QString name = f.value(QLatin1String("kind")).toString();
        if (f.contains(QLatin1String("address")))
            name += u'@' + QString::number(f.value(QLatin1String("address")).toInt());
        names << name;
    }
    names.sort();
    return names;
}

}  // namespace

class tst_health : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void findings_data();
    void findings();
    void jsonMembersAndValues();
};

void tst_health::initTestCase()
{
    QVERIFY2(!qEnvironmentVariable("LORVANE_SIM").isEmpty(), "LORVANE_SIM is not set");
    QVERIFY2(!qEnvironmentVariable("LORVANE_CLI").isEmpty(), "LORVANE_CLI is not set");
}

void tst_health::findings_data()
{
    QTest::addColumn<QStringList>("sim_arguments");
    QTest::addColumn<QStringList>("cli_arguments");
    QTest::addColumn<QStringList>("expected");  // finding_names() of the run
    const QStringList three = args({"--first", "1", "--last", "3", "--samples", "10", "--json"});

    QTest::newRow("clean line") << args({"--address", "1,2,3"}) << three << QStringList{};
    QTest::newRow("two modules at 2")
        << args({"--address", "1,2,3", "--twin", "2"}) << three << args({"shared_address@2"});
    QTest::newRow("noise on the idle line")
        << args({"--address", "1,3", "--idle-noise", "20"}) << three << args({"idle_noise"});
    QTest::newRow("adapter echo") << args({"--address", "2", "--echo"}) << three << args({"echo"});
    QTest::newRow("16 ms latency timer")
        << args({"--address", "1,2", "--latency", "16"}) << three << args({"slow_replies"});
    QTest::newRow("20 ms turnaround")
        << args({"--address", "3", "--turnaround", "20"}) << three << args({"slow_replies"});
    QTest::newRow("modules at twice the speed")
        << args({"--address", "1,2", "--wrong-speed", "2"}) << three << args({"wrong_speed"});
    QTest::newRow("modules at half the speed")
        << args({"--address", "3", "--wrong-speed", "0.5"}) << three << args({"wrong_speed"});
    QTest::newRow("nothing answers")
        << args({"--address", "1", "--silent-after", "0"}) << three << args({"no_module"});
    QTest::newRow("modules outside the range")
        << args({"--address", "7,9"}) << three << args({"no_module"});
    // The scan's probe and 8 reads answered, the last 2 of the 10 reads not: 20 %.
    QTest::newRow("module that stops answering")
        << args({"--address", "1,2", "--silent-after", "9"})
        << args({"--first", "2", "--last", "2", "--samples", "10", "--json"})
        << args({"unstable@2"});
}

void tst_health::findings()
{
    QFETCH(QStringList, sim_arguments);
    QFETCH(QStringList, cli_arguments);
    QFETCH(QStringList, expected);
    sim_process sim;
    const health_run run = run_health(sim, sim_arguments, cli_arguments);
    QVERIFY2(!run.json.isEmpty(), qPrintable(run.cli.err));
    QCOMPARE(finding_names(run.json), expected);
    QCOMPARE(run.cli.code, expected.isEmpty() ? 0 : EXIT_FINDINGS);
    for (const QJsonValue& finding : run.json.value(QLatin1String("findings")).toArray())
        QVERIFY(!finding.toObject().value(QLatin1String("text")).toString().isEmpty());
}

void tst_health::jsonMembersAndValues()
{
    constexpr int SAMPLES = 5;
    const QStringList sim_arguments = args({"--address", "1,2", "--echo", "--latency", "16"});
    const QStringList range = args({"--first", "1", "--last", "4", "--samples", "5"});
    sim_process sim;
    const health_run run = run_health(sim, sim_arguments, range + args({"--json"}));
    QVERIFY2(!run.json.isEmpty(), qPrintable(run.cli.err));
    QCOMPARE(run.cli.code, EXIT_FINDINGS);

    // The fixed members in their order; anything else between them is allowed.
    QStringList expected = args({"port", "seconds", "modules"});
    const QStringList module_members =
        args({"modules.address", "modules.samples", "modules.timeouts", "modules.garbled",
              "modules.reply_ms", "modules.reply_ms.min", "modules.reply_ms.median",
              "modules.reply_ms.p95", "modules.reply_ms.max"});
    expected << module_members << module_members;
    expected << args(
        {"line", "line.idle_bytes", "line.echoed_requests", "line.unframed_bytes", "findings"});
    const QJsonArray findings = run.json.value(QLatin1String("findings")).toArray();
    for (const QJsonValue& finding : findings) {
        expected << QStringLiteral("findings.kind");
        if (finding.toObject().contains(QLatin1String("address")))
            expected << QStringLiteral("findings.address");
        expected << QStringLiteral("findings.text");
    }
    QStringList fixed = member_order(run.cli.out).paths();
    fixed.removeIf([&](const QString& path) { return !expected.contains(path); });
    QCOMPARE(fixed, expected);

    const QJsonObject& json = run.json;
    QCOMPARE(json.value(QLatin1String("port")).toString(), sim.path);
    // A scan of 4 addresses, 10 reads and the 1 s listen.
    const double seconds = json.value(QLatin1String("seconds")).toDouble();
    QVERIFY2(seconds >= 1.0 && seconds < 10.0, qPrintable(QString::number(seconds)));
    const QJsonArray modules = json.value(QLatin1String("modules")).toArray();
    QCOMPARE(modules.size(), 2);
    for (int i = 0; i < 2; ++i) {
        const QJsonObject m = modules[i].toObject();
        QCOMPARE(m.value(QLatin1String("address")).toInt(), i + 1);
        QCOMPARE(m.value(QLatin1String("samples")).toInt(), SAMPLES);
        QCOMPARE(m.value(QLatin1String("timeouts")).toInt(), 0);
        QCOMPARE(m.value(QLatin1String("garbled")).toInt(), 0);
        // From the request's last byte out to the reply's last byte in: the reply's 8.3 ms
        // and the 16 ms the adapter holds it, plus the scheduling of a busy machine.
        const QJsonObject ms = m.value(QLatin1String("reply_ms")).toObject();
        QList<double> times;
        for (const char* name : {"min", "median", "p95", "max"})
            times << ms.value(QLatin1String(name)).toDouble(-1);
        QVERIFY2(std::is_sorted(times.begin(), times.end()) && times.front() >= 24.0 &&
                     times[1] < 40.0,
                 QJsonDocument(ms).toJson(QJsonDocument::Compact).constData());
    }
    const QJsonObject line = json.value(QLatin1String("line")).toObject();
    QCOMPARE(line.value(QLatin1String("idle_bytes")).toInt(-1), 0);
    QCOMPARE(line.value(QLatin1String("unframed_bytes")).toInt(-1), 0);
    // A pseudo-terminal keeps no framing, parity, overrun or break counters, and has no
    // latency timer: both are left out rather than shown as 0.
    QVERIFY(!line.contains(QLatin1String("os_errors")));
    QVERIFY(!line.contains(QLatin1String("latency_timer_ms")));
    // Every request comes back: the scan's probes, then the reads.
    const int echoed = line.value(QLatin1String("echoed_requests")).toInt(-1);
    QVERIFY2(echoed >= 4 + 2 * SAMPLES, qPrintable(QString::number(echoed)));
    QCOMPARE(finding_names(json), args({"echo", "slow_replies"}));

    // Without --json: one line for each module, then each finding in the same words.
    sim_process again;
    const health_run plain = run_health(again, sim_arguments, range);
    QCOMPARE(plain.cli.code, EXIT_FINDINGS);
    // The figures in the words are the run's own (a median may differ by 0.1 ms): compared
    // with every number as N.
    static const QRegularExpression number(QStringLiteral("\\d+(\\.\\d+)?"));
    const QString out = QString::fromUtf8(plain.cli.out).replace(number, QStringLiteral("N"));
    for (const QJsonValue& finding : findings) {
        const QString text = finding.toObject()
                                 .value(QLatin1String("text"))
                                 .toString()
                                 .replace(number, QStringLiteral("N"));
        QVERIFY2(out.contains(text), qPrintable(out));
    }
}

QTEST_GUILESS_MAIN(tst_health)
#include "tst_health.moc"
