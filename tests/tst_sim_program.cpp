// The lorvane-sim program run as a separate process (path in LORVANE_SIM), as a user and
// the other tests run it: its answers, options, pacing, line conditions, logs and signals.
#include "sim_process.h"
#include "sim_test_support.h"

#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <optional>

#include <signal.h>

using namespace sim_test;

class tst_sim_program : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    void programAnswersWorkedExamples();
    void programKeepsServingAfterReopen();
    void programAddressOption();
    void programSeveralModules();
    void programEchoAndFaults();
    void programPacing_data();
    void programPacing();
    void programTurnaroundAndLatency_data();
    void programTurnaroundAndLatency();
    void programHalfDuplex();
    void programBusFaults_data();
    void programBusFaults();
    void programIdleNoise();
    void programSilentAfterKeepsReading();
    void programVerboseLogsFrames();
    void programStopsCleanlyOnSignal_data();
    void programStopsCleanlyOnSignal();
    void programLeavesWhatStandsAtTheLinkPath();
    void programRejectsBadOptions_data();
    void programRejectsBadOptions();
    void programHelp();
};

void tst_sim_program::initTestCase()
{
    const QString program = qEnvironmentVariable("LORVANE_SIM");
    QVERIFY2(!program.isEmpty(), "LORVANE_SIM must name the lorvane-sim program");
    QVERIFY2(QFileInfo(program).isExecutable(), qPrintable(program));
}

void tst_sim_program::programAnswersWorkedExamples()
{
    sim_process sim;
    QVERIFY(sim.start({}));
    QVERIFY2(sim.path.startsWith(QLatin1String("/dev/")), qPrintable(sim.path));
    auto port = open_port(sim.path);

    QCOMPARE(exchange(*port, hex_bytes("55 01 F0 00 32 00 00 78")),
             hex_bytes("22 01 F0 00 32 00 00 45"));
    QCOMPARE(exchange(*port, hex_bytes("55 01 F1 10 00 00 00 57")),
             hex_bytes("22 01 F1 10 01 10 01 36"));

    // A write sticks, and garbage on the line does not stop the next request.
    const QByteArray write3 = to_bytes(make_request(FUNC_WRITE, 1, 3, 4, 5, 6));
    QCOMPARE(exchange(*port, write3), reply_with(1, FUNC_WRITE, 3, {4, 5, 6}));
    QCOMPARE(exchange(*port, hex_bytes("00 55 AA") + read_request(1, 3)),
             reply_with(1, FUNC_READ, 3, {4, 5, 6}));
    // Ignored requests get no reply at all.
    port->write_all(as_span(read_request(1, 17) + read_request(2, 3)));
    QCOMPARE(port->read_some(SILENCE_WINDOW_MS), std::vector<std::uint8_t>{});
}

void tst_sim_program::programKeepsServingAfterReopen()
{
    sim_process sim;
    QVERIFY(sim.start({}));
    for (int round = 0; round < 3; ++round) {
        auto port = open_port(sim.path);
        const auto value = static_cast<std::uint8_t>(round + 1);
        QCOMPARE(exchange(*port, to_bytes(make_request(FUNC_WRITE, 1, 0, value, 0, 0))),
                 reply_with(1, FUNC_WRITE, 0, {value, 0, 0}));
        port.reset();
        port = open_port(sim.path);
        QCOMPARE(exchange(*port, read_request(1, 0)), reply_with(1, FUNC_READ, 0, {value, 0, 0}));
    }
    QCOMPARE(sim.process.state(), QProcess::Running);
}

void tst_sim_program::programAddressOption()
{
    sim_process sim;
    QVERIFY(sim.start({QStringLiteral("--address"), QStringLiteral("7")}));
    auto port = open_port(sim.path);

    // Both requests go out together; replies come in order, so the first eight bytes back
    // would belong to address 1 if that one were answered.
    port->write_all(as_span(read_request(1, 4) + read_request(7, 4)));
    QCOMPARE(to_bytes(port->read_exact(FRAME_SIZE, REPLY_TIMEOUT_MS)),
             reply_with(7, FUNC_READ, 4, expected_default(4)));
    QCOMPARE(port->read_some(SILENCE_WINDOW_MS), std::vector<std::uint8_t>{});
}

void tst_sim_program::programSeveralModules()
{
    sim_process sim;
    QVERIFY(sim.start({QStringLiteral("--address"), QStringLiteral("1,7,42")}));
    auto port = open_port(sim.path);
    const QByteArray write7 = to_bytes(make_request(FUNC_WRITE, 7, 2, 9, 8, 3));
    QCOMPARE(exchange(*port, write7), reply_with(7, FUNC_WRITE, 2, {9, 8, 3}));
    // Each module keeps its own records; an address nobody has stays silent.
    QCOMPARE(exchange(*port, read_request(7, 2)), reply_with(7, FUNC_READ, 2, {9, 8, 3}));
    QCOMPARE(exchange(*port, read_request(42, 2)),
             reply_with(42, FUNC_READ, 2, expected_default(2)));
    QCOMPARE(exchange(*port, read_request(1, 2)), reply_with(1, FUNC_READ, 2, expected_default(2)));
    port->write_all(as_span(read_request(8, 2)));
    QCOMPARE(port->read_some(SILENCE_WINDOW_MS), std::vector<std::uint8_t>{});
}

void tst_sim_program::programEchoAndFaults()
{
    {
        sim_process sim;
        QVERIFY(sim.start({QStringLiteral("--echo")}));
        auto port = open_port(sim.path);
        QCOMPARE(exchange(*port, read_request(1, 3), 2 * FRAME_SIZE),
                 read_request(1, 3) + reply_with(1, FUNC_READ, 3, expected_default(3)));
    }
    // Every reply faulted: the log names each fault, and the same seed repeats them.
    QStringList runs;
    for (int run = 0; run < 2; ++run) {
        sim_process sim;
        QVERIFY(sim.start(
            {QStringLiteral("--faults"), QStringLiteral("99,1"), QStringLiteral("--verbose")}));
        auto port = open_port(sim.path);
        for (std::uint8_t record = 0; record < 12; ++record) {
            port->write_all(as_span(read_request(1, record)));
            (void)port->read_some(450);  // longer than the latest reply; whatever came
        }
        // On a busy machine the last requests may still be unread when the loop ends.
        const QString log = log_until(sim, QLatin1String("] fault "), 12);
        QVERIFY(sim.stop_with(SIGTERM));
        QStringList faults;
        for (const QString& line : log.split(u'\n')) {
            if (const auto at = line.indexOf(QLatin1String("] fault ")); at >= 0)
                faults << line.mid(at + 2);
        }
        QCOMPARE(faults.size(), 12);
        runs << faults.join(u'\n');
    }
    QCOMPARE(runs[0], runs[1]);
}

void tst_sim_program::programPacing_data()
{
    QTest::addColumn<int>("requests");
    QTest::newRow("one exchange") << 1;
    // Requests sent together still queue on the line one after another.
    QTest::newRow("three requests at once") << 3;
}

void tst_sim_program::programPacing()
{
    QFETCH(int, requests);
    constexpr long long BAUD = 9600;
    sim_process sim;
    QVERIFY(sim.start({QStringLiteral("--pace-baud"), QString::number(BAUD)}));
    auto port = open_port(sim.path);

    QByteArray batch;
    QByteArray replies;
    for (int i = 0; i < requests; ++i) {
        const auto index = static_cast<std::uint8_t>(i + 1);
        batch += read_request(1, index);
        replies += reply_with(1, FUNC_READ, index, expected_default(index));
    }
    const auto started = std::chrono::steady_clock::now();
    const QByteArray received =
        exchange(*port, batch, static_cast<std::size_t>(requests) * FRAME_SIZE);
    const auto elapsed = std::chrono::steady_clock::now() - started;
    QCOMPARE(received, replies);

    // The last reply cannot be through before all requests and that reply have crossed
    // the line: (requests + 1) frames of 8 bytes, 10 bits each.
    const long long line_bytes = (requests + 1) * static_cast<long long>(FRAME_SIZE);
    const std::chrono::nanoseconds minimum(line_bytes * 10 * 1'000'000'000LL / BAUD);
    QVERIFY2(elapsed >= minimum, qPrintable(QStringLiteral("took %1 ns, line needs at least %2 ns")
                                                .arg(std::chrono::nanoseconds(elapsed).count())
                                                .arg(minimum.count())));
}

void tst_sim_program::programTurnaroundAndLatency_data()
{
    QTest::addColumn<int>("turnaround_ms");
    QTest::addColumn<int>("latency_ms");
    QTest::newRow("turnaround") << 250 << 0;
    QTest::newRow("latency") << 0 << 250;
    QTest::newRow("both") << 150 << 150;
}

void tst_sim_program::programTurnaroundAndLatency()
{
    QFETCH(int, turnaround_ms);
    QFETCH(int, latency_ms);
    sim_process sim;
    QVERIFY(sim.start({QStringLiteral("--pace-baud"), QStringLiteral("9600"),
                       QStringLiteral("--turnaround"), QString::number(turnaround_ms),
                       QStringLiteral("--latency"), QString::number(latency_ms),
                       QStringLiteral("--verbose")}));
    auto port = open_port(sim.path);
    const QByteArray reply = reply_with(1, FUNC_READ, 5, expected_default(5));

    const auto started = std::chrono::steady_clock::now();
    port->write_all(as_span(read_request(1, 5)));
    // Nothing can come back within half the time the line conditions add.
    QCOMPARE(port->read_some((turnaround_ms + latency_ms) / 2), std::vector<std::uint8_t>{});
    QByteArray received;
    if (latency_ms > 0) {
        // After the silence, the whole reply comes in one write, so one read takes it all.
        received = to_bytes(port->read_some(REPLY_TIMEOUT_MS));
    } else {
        received = to_bytes(port->read_exact(FRAME_SIZE, REPLY_TIMEOUT_MS));
    }
    const auto elapsed = std::chrono::steady_clock::now() - started;
    QCOMPARE(received, reply);
    // Request and reply take 16 byte times (16.7 ms) on the line, the conditions the rest.
    const std::chrono::milliseconds minimum(16 + turnaround_ms + latency_ms);
    QVERIFY2(elapsed >= minimum,
             qPrintable(QStringLiteral("took %1 ms")
                            .arg(std::chrono::duration<double, std::milli>(elapsed).count())));

    QVERIFY(sim.stop_with(SIGTERM));
    const QString log = QString::fromLocal8Bit(sim.process.readAllStandardError());
    QCOMPARE(log.contains(QLatin1String("] turnaround on 22 01 F1 05")), turnaround_ms > 0);
    QCOMPARE(log.contains(QLatin1String("] latency on 22 01 F1 05")), latency_ms > 0);
}

void tst_sim_program::programHalfDuplex()
{
    sim_process sim;
    QVERIFY(sim.start({QStringLiteral("--pace-baud"), QStringLiteral("9600"),
                       QStringLiteral("--half-duplex"), QStringLiteral("--verbose")}));
    auto port = open_port(sim.path);

    // Two requests in one write: the module's reply to the first starts while the second
    // is still on the line. The reply arrives garbled, and the second request is lost.
    const QByteArray write2 = to_bytes(make_request(FUNC_WRITE, 1, 2, 9, 9, 9));
    const QByteArray garbled = exchange(*port, read_request(1, 1) + write2);
    QCOMPARE(garbled.size(), FRAME_SIZE);
    QVERIFY2(!accepted_reply(garbled), garbled.toHex(' ').constData());
    QCOMPARE(port->read_some(SILENCE_WINDOW_MS), std::vector<std::uint8_t>{});

    // Requests sent each after the reply before it came in never collide; the lost write
    // was never applied.
    for (std::uint8_t record = 0; record <= 4; ++record)
        QCOMPARE(exchange(*port, read_request(1, record)),
                 reply_with(1, FUNC_READ, record, expected_default(record)));

    QVERIFY(sim.stop_with(SIGTERM));
    const QString log = QString::fromLocal8Bit(sim.process.readAllStandardError());
    QCOMPARE(log.count(QLatin1String("] collision on 22 01 F1 01")), 1);
    QVERIFY2(
        log.contains(
            QStringLiteral("] rx %1  (lost").arg(QString::fromLatin1(write2.toHex(' ').toUpper()))),
        qPrintable(log));
}

void tst_sim_program::programBusFaults_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("garbled_bytes");  // what a read of record 0 at address 2 brings
    const QStringList line{QStringLiteral("--pace-baud"), QStringLiteral("9600"),
                           QStringLiteral("--address"), QStringLiteral("1,2")};
    QTest::newRow("twin at 2") << line + QStringList{QStringLiteral("--twin"), QStringLiteral("2")}
                               << 8;
    QTest::newRow("twice the speed")
        << line + QStringList{QStringLiteral("--wrong-speed"), QStringLiteral("2")} << 4;
    QTest::newRow("half the speed, echo")
        << line + QStringList{QStringLiteral("--wrong-speed"), QStringLiteral("0.5"),
                              QStringLiteral("--echo")}
        << 16;
}

// Each garbles every answer of the affected modules into bytes that never form a reply.
void tst_sim_program::programBusFaults()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, garbled_bytes);
    const bool echo = arguments.contains(QStringLiteral("--echo"));
    const bool twin = arguments.contains(QStringLiteral("--twin"));
    const std::size_t garbled_size =
        static_cast<std::size_t>(garbled_bytes) + (echo ? FRAME_SIZE : 0);
    sim_process sim;
    QVERIFY(sim.start(arguments + QStringList{QStringLiteral("--verbose")}));
    auto port = open_port(sim.path);

    for (int round = 0; round < 2; ++round) {
        const QByteArray request = read_request(2, 0);
        QByteArray got = exchange(*port, request, garbled_size);
        QCOMPARE(port->read_some(SILENCE_WINDOW_MS), std::vector<std::uint8_t>{});
        if (echo) {
            QVERIFY(got.startsWith(request));
            got.remove(0, request.size());
        }
        QVERIFY2(!got.contains(char(REPLY_HEADER)), got.toHex(' ').constData());
        // The twin's neighbour answers cleanly; at the wrong speed every module is garbled.
        const QByteArray reply = reply_with(1, FUNC_READ, 0, expected_default(0));
        const QByteArray other =
            exchange(*port, read_request(1, 0), twin ? FRAME_SIZE : garbled_size);
        QCOMPARE(other == (echo ? read_request(1, 0) : QByteArray()) + reply, twin);
    }
    const QString log =
        log_until(sim, QLatin1String(twin ? "] twin at address 2" : "] wrong"), twin ? 2 : 4);
    QVERIFY(sim.stop_with(SIGTERM));
    QCOMPARE(log.count(QLatin1String(twin ? "] twin at address 2" : "] wrong speed on 22 0")),
             twin ? 2 : 4);
}

void tst_sim_program::programIdleNoise()
{
    sim_process sim;
    QVERIFY(sim.start({QStringLiteral("--pace-baud"), QStringLiteral("9600"),
                       QStringLiteral("--idle-noise"), QStringLiteral("200"),
                       QStringLiteral("--verbose")}));
    auto port = open_port(sim.path);
    QByteArray noise;
    const auto started = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - started < std::chrono::seconds(1))
        noise += to_bytes(port->read_some(50));
    // Poisson: 200 a second, within about five standard deviations; never the reply header.
    QVERIFY2(noise.size() > 130 && noise.size() < 270, qPrintable(QString::number(noise.size())));
    QVERIFY(!noise.contains(char(REPLY_HEADER)));
    QVERIFY(sim.stop_with(SIGTERM));
    noise += to_bytes(port->read_some(0));
    const QString log = QString::fromLocal8Bit(sim.process.readAllStandardError());
    QCOMPARE(log.count(QLatin1String("] noise ")), noise.size());
}

void tst_sim_program::programSilentAfterKeepsReading()
{
    sim_process sim;
    QVERIFY(sim.start({QStringLiteral("--silent-after"), QStringLiteral("2")}));
    auto port = open_port(sim.path);

    QCOMPARE(exchange(*port, read_request(1, 1)), reply_with(1, FUNC_READ, 1, expected_default(1)));
    // Not its address: no reply, and it does not count.
    port->write_all(as_span(read_request(3, 1)));
    QCOMPARE(exchange(*port, read_request(1, 2)), reply_with(1, FUNC_READ, 2, expected_default(2)));
    port->write_all(as_span(read_request(1, 3)));
    QCOMPARE(port->read_some(SILENCE_WINDOW_MS), std::vector<std::uint8_t>{});

    // Far more than the terminal buffers hold: this only gets through if the silent
    // simulator keeps draining the line.
    const QByteArray flood(256 * 1024, '\0');
    port->write_all(as_span(flood), 20000);
    port->write_all(as_span(read_request(1, 4)));
    QCOMPARE(port->read_some(SILENCE_WINDOW_MS), std::vector<std::uint8_t>{});
    QCOMPARE(sim.process.state(), QProcess::Running);
}

void tst_sim_program::programVerboseLogsFrames()
{
    sim_process sim;
    QVERIFY(sim.start({QStringLiteral("--verbose")}));
    auto port = open_port(sim.path);
    QCOMPARE(exchange(*port, hex_bytes("55 01 F1 10 00 00 00 57")),
             hex_bytes("22 01 F1 10 01 10 01 36"));
    port->write_all(as_span(read_request(9, 0)));
    QCOMPARE(port->read_some(SILENCE_WINDOW_MS), std::vector<std::uint8_t>{});
    QVERIFY(sim.stop_with(SIGTERM));

    const QString log = QString::fromLocal8Bit(sim.process.readAllStandardError());
    QVERIFY2(log.contains(QLatin1String("55 01 F1 10 00 00 00 57")), qPrintable(log));
    QVERIFY2(log.contains(QLatin1String("22 01 F1 10 01 10 01 36")), qPrintable(log));
    QVERIFY2(log.contains(QLatin1String("55 09 F1 00 00 00 00 4F")), qPrintable(log));
    QVERIFY2(log.contains(QLatin1String(" ms]")), qPrintable(log));
}

void tst_sim_program::programStopsCleanlyOnSignal_data()
{
    QTest::addColumn<int>("signal_number");
    QTest::newRow("SIGINT") << int{SIGINT};
    QTest::newRow("SIGTERM") << int{SIGTERM};
}

void tst_sim_program::programStopsCleanlyOnSignal()
{
    QFETCH(int, signal_number);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString link = dir.filePath(QStringLiteral("panel"));

    sim_process sim;
    QVERIFY(sim.start({QStringLiteral("--link"), link}));
    QCOMPARE(QFileInfo(link).symLinkTarget(), sim.path);
    {
        // The link leads to the working line.
        auto port = open_port(link);
        QCOMPARE(exchange(*port, read_request(1, 0)),
                 reply_with(1, FUNC_READ, 0, expected_default(0)));
    }

    QVERIFY(sim.stop_with(signal_number));
    QCOMPARE(sim.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.process.exitCode(), 0);
    QVERIFY2(!QFileInfo(link).isSymLink(), "link left behind");
}

void tst_sim_program::programLeavesWhatStandsAtTheLinkPath()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString file = dir.filePath(QStringLiteral("file"));
    QFile created(file);
    QVERIFY(created.open(QIODevice::WriteOnly));
    created.close();
    const QString link = dir.filePath(QStringLiteral("link"));
    QVERIFY(QFile::link(file, link));
    const QString dangling = dir.filePath(QStringLiteral("dangling"));
    QVERIFY(QFile::link(dir.filePath(QStringLiteral("gone")), dangling));
    for (const QString& path : {file, link, dangling}) {
        QProcess process;
        process.start(qEnvironmentVariable("LORVANE_SIM"), {QStringLiteral("--link"), path});
        QVERIFY(process.waitForFinished(REPLY_TIMEOUT_MS));
        QCOMPARE(process.exitCode(), 1);
        QVERIFY2(process.readAllStandardError().contains("already exists"), qPrintable(path));
    }
    QVERIFY(QFileInfo(file).isFile() && !QFileInfo(file).isSymLink());
    QCOMPARE(QFileInfo(link).symLinkTarget(), file);
    QCOMPARE(QFileInfo(dangling).symLinkTarget(), dir.filePath(QStringLiteral("gone")));
}

void tst_sim_program::programRejectsBadOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    const auto args = [](std::initializer_list<const char*> list) {
        QStringList result;
        for (const char* arg : list)
            result << QString::fromLatin1(arg);
        return result;
    };
    QTest::newRow("unknown option") << args({"--bogus"});
    QTest::newRow("positional argument") << args({"extra"});
    QTest::newRow("address missing value") << args({"--address"});
    QTest::newRow("address 256") << args({"--address", "256"});
    QTest::newRow("address negative") << args({"--address", "-1"});
    QTest::newRow("address not a number") << args({"--address", "seven"});
    QTest::newRow("address trailing junk") << args({"--address=7x"});
    QTest::newRow("pace-baud 0") << args({"--pace-baud", "0"});
    QTest::newRow("silent-after text") << args({"--silent-after", "some"});
    QTest::newRow("flag with value") << args({"--verbose=yes"});
    QTest::newRow("link without path") << args({"--link"});
    QTest::newRow("address twice in a list") << args({"--address", "1,1"});
    QTest::newRow("address list trailing comma") << args({"--address", "1,"});
    QTest::newRow("faults without seed") << args({"--faults", ",0.5"});
    QTest::newRow("faults rate above 1") << args({"--faults", "3,1.5"});
    QTest::newRow("echo with value") << args({"--echo=1"});
    QTest::newRow("turnaround above 1000") << args({"--turnaround", "1001"});
    QTest::newRow("latency not a number") << args({"--latency", "soon"});
    QTest::newRow("half duplex without pacing") << args({"--half-duplex"});
    QTest::newRow("twin not among the addresses") << args({"--address", "1,2", "--twin", "3"});
    QTest::newRow("twin of the default at 5") << args({"--twin", "5"});
    QTest::newRow("idle noise 0") << args({"--idle-noise", "0"});
    QTest::newRow("idle noise above 1000") << args({"--idle-noise", "1000.5"});
    QTest::newRow("wrong speed 1") << args({"--wrong-speed", "1"});
    QTest::newRow("wrong speed 20") << args({"--wrong-speed", "20"});
    QTest::newRow("wrong speed a word") << args({"--wrong-speed", "fast"});
}

void tst_sim_program::programRejectsBadOptions()
{
    QFETCH(QStringList, arguments);
    QProcess process;
    process.start(qEnvironmentVariable("LORVANE_SIM"), arguments);
    QVERIFY(process.waitForFinished(REPLY_TIMEOUT_MS));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 2);
    QVERIFY(process.readAllStandardOutput().isEmpty());  // no terminal was offered
    QVERIFY(!process.readAllStandardError().isEmpty());
}

void tst_sim_program::programHelp()
{
    QProcess process;
    process.start(qEnvironmentVariable("LORVANE_SIM"), {QStringLiteral("--help")});
    QVERIFY(process.waitForFinished(REPLY_TIMEOUT_MS));
    QCOMPARE(process.exitCode(), 0);
    const QByteArray usage = process.readAllStandardOutput();
    for (const char* option : {"--address", "--pace-baud", "--silent-after", "--echo", "--faults",
                               "--turnaround", "--latency", "--half-duplex", "--twin",
                               "--idle-noise", "--wrong-speed", "--verbose", "--link", "--help"})
        QVERIFY2(usage.contains(option), option);
}

QTEST_GUILESS_MAIN(tst_sim_program)
#include "tst_sim_program.moc"
