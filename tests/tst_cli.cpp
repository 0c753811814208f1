// lorvane-cli as a user runs it (path in LORVANE_CLI): against lorvane-sim for whole
// round trips, batches and scans, and against the module logic inside this test for the
// faults a test must arrange (a lost reply, a hang-up, a module that never answers).
#include "module_peer.h"
#include "panel_file.h"
#include "sim_process.h"

#include <QEventLoop>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <signal.h>

using namespace lorvane;

namespace {

struct cli_result
{
    int code = -1;
    QByteArray out;
    QString err;
};

// Runs lorvane-cli to its end with the event loop running (so a module_peer answers),
// feeding `input` on stdin; `meanwhile` is called once the program has started.
cli_result run_cli(const QStringList& arguments, const QByteArray& input = {},
                   const std::function<void(QProcess&)>& meanwhile = {})
{
    QProcess process;
    process.start(qEnvironmentVariable("LORVANE_CLI"), arguments);
    process.write(input);
    process.closeWriteChannel();
    if (meanwhile && process.waitForStarted(5000))
        meanwhile(process);
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(30000, &loop, [&] { process.kill(); });
    if (process.state() != QProcess::NotRunning)
        loop.exec();
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput(), QString::fromUtf8(process.readAllStandardError())};
}

panel_config random_config(std::uint8_t address)
{
    auto* random = QRandomGenerator::global();
    const auto byte = [&] { return std::uint8_t(random->bounded(256)); };
    panel_config config;
    config.module_address = address;
    config.refresh_period = byte();
    for (key_binding& key : config.keys)
        key = {byte(), byte(), byte()};  // every operation code 0..255
    return config;
}

QString write_file(const QTemporaryDir& dir, const QString& name, const QByteArray& text)
{
    QFile file(dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        qFatal("cannot write %s", qPrintable(file.fileName()));
    return file.fileName();
}

QByteArray read_file(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString port_of(const QString& path)
{
    return QStringLiteral("--port=") + path;
}

}  // namespace

class tst_cli : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void random_configurations_round_trip();
    void batch_of_modules_on_one_line();
    void verify_lists_each_difference();
    void scan_finds_exactly_the_modules();
    void retries_recover_a_lost_reply();
    void invalid_file_sends_nothing();
    void failures_and_their_exit_codes();
    void trace_shows_every_frame();

private:
    QTemporaryDir dir_;
};

void tst_cli::initTestCase()
{
    QVERIFY2(!qEnvironmentVariable("LORVANE_CLI").isEmpty(), "LORVANE_CLI is not set");
    QVERIFY(dir_.isValid());
}

void tst_cli::random_configurations_round_trip()
{
    const auto address = std::uint8_t(QRandomGenerator::global()->bounded(256));
    sim_process sim;
    QVERIFY(sim.start({QStringLiteral("--address"), QString::number(address)}));
    for (int run = 0; run < 4; ++run) {
        const QByteArray text = panel_file_text(random_config(address));
        const QString file = write_file(dir_, QStringLiteral("random.json"), text);
        const cli_result written =
            run_cli({QStringLiteral("write"), port_of(sim.path), QStringLiteral("--verify"), file});
        QVERIFY2(written.code == 0, qPrintable(written.err));
        // read -> file is byte for byte what was written, to stdout and to --output alike
        const cli_result read = run_cli({QStringLiteral("read"), port_of(sim.path),
                                         QStringLiteral("--address"), QString::number(address)});
        QCOMPARE(read.code, 0);
        QCOMPARE(read.out, text);
        const QString copy = dir_.filePath(QStringLiteral("copy.json"));
        QCOMPARE(run_cli({QStringLiteral("read"), port_of(sim.path), QStringLiteral("--address"),
                          QString::number(address), QStringLiteral("--output"), copy})
                     .code,
                 0);
        QCOMPARE(read_file(copy), text);
        const cli_result verified =
            run_cli({QStringLiteral("verify"), port_of(sim.path), QStringLiteral("--quiet"), copy});
        QCOMPARE(verified.code, 0);
        QCOMPARE(verified.err, QString());
    }
}

void tst_cli::batch_of_modules_on_one_line()
{
    sim_process sim;
    QVERIFY(sim.start({QStringLiteral("--address"), QStringLiteral("1,7,42")}));
    QStringList files;
    QList<QByteArray> texts;
    const std::array<std::uint8_t, 3> addresses{1, 7, 42};
    for (const std::uint8_t address : addresses) {
        texts << panel_file_text(random_config(address));
        files << write_file(dir_, QStringLiteral("module%1.json").arg(address), texts.last());
    }
    // One file from stdin.
    const cli_result written = run_cli(
        {QStringLiteral("write"), port_of(sim.path), files[0], QStringLiteral("-"), files[2]},
        texts[1]);
    QVERIFY2(written.code == 0, qPrintable(written.err));
    QCOMPARE(written.err.count(QStringLiteral("17 records written")), 3);
    for (int i = 0; i < 3; ++i) {
        const cli_result read =
            run_cli({QStringLiteral("read"), port_of(sim.path), QStringLiteral("--address"),
                     QString::number(std::array{1, 7, 42}[std::size_t(i)])});
        QCOMPARE(read.out, texts[i]);
    }
}

void tst_cli::verify_lists_each_difference()
{
    sim_process sim;
    QVERIFY(sim.start({}));
    panel_config expected;  // the module starts from the defaults
    expected.keys[2].line = 9;
    expected.keys[15].operation = 200;
    const QString file =
        write_file(dir_, QStringLiteral("changed.json"), panel_file_text(expected));
    const cli_result verified = run_cli({QStringLiteral("verify"), port_of(sim.path), file});
    QCOMPARE(verified.code, 5);
    QVERIFY2(verified.err.contains(
                 QStringLiteral("module 1 differs: record 3 (key 3), line: expected 9, found 3")),
             qPrintable(verified.err));
    QVERIFY2(verified.err.contains(
                 QStringLiteral("record 16 (key 16), operation: expected 200, found toggle")),
             qPrintable(verified.err));
    QCOMPARE(verified.err.count(QStringLiteral("differs")), 2);
}

void tst_cli::scan_finds_exactly_the_modules()
{
    sim_process sim;
    QVERIFY(sim.start({QStringLiteral("--address"), QStringLiteral("3,7,42")}));
    const QStringList range{QStringLiteral("scan"), port_of(sim.path), QStringLiteral("--first=2"),
                            QStringLiteral("--last=60"), QStringLiteral("--wait=25")};
    const cli_result lines = run_cli(range);
    QCOMPARE(lines.code, 0);
    QCOMPARE(lines.out, QByteArray("address 3, refresh period 50\naddress 7, refresh period 50\n"
                                   "address 42, refresh period 50\n"));
    const cli_result json = run_cli(range + QStringList{QStringLiteral("--json")});
    QCOMPARE(json.out,
             QByteArray("[{\"address\":3,\"refresh_period\":50},{\"address\":7,"
                        "\"refresh_period\":50},{\"address\":42,\"refresh_period\":50}]\n"));
}

void tst_cli::retries_recover_a_lost_reply()
{
    module_peer peer;
    int replies_to_5 = 0;
    peer.shape_reply = [&](const frame& reply) -> std::vector<std::uint8_t> {
        if (reply[POS_RECORD] == 5 && replies_to_5++ == 0)
            return {};  // the first reply to record 5 is lost on the line
        return {reply.begin(), reply.end()};
    };
    const QString file = write_file(dir_, QStringLiteral("plain.json"), panel_file_text({}));
    const cli_result retried =
        run_cli({QStringLiteral("write"), port_of(peer.path()), QStringLiteral("--timeout=150"),
                 QStringLiteral("--retries=1"), file});
    QVERIFY2(retried.code == 0, qPrintable(retried.err));
    QCOMPARE(peer.requests().size(), std::size_t{18});
    QCOMPARE(peer.requests()[5], peer.requests()[6]);  // the same bytes again

    // Without retries the chain stops there, names the record and sends nothing more.
    peer.clear_requests();
    replies_to_5 = 0;
    const cli_result failed = run_cli(
        {QStringLiteral("write"), port_of(peer.path()), QStringLiteral("--timeout=150"), file});
    QCOMPARE(failed.code, 4);
    QVERIFY2(failed.err.contains(
                 QStringLiteral("module 1 did not answer the write request for record 5 (key 5)")),
             qPrintable(failed.err));
    QCOMPARE(peer.requests().size(), std::size_t{6});
}

void tst_cli::invalid_file_sends_nothing()
{
    module_peer peer;
    const QString good = write_file(dir_, QStringLiteral("good.json"), panel_file_text({}));
    QByteArray text = panel_file_text({});
    text.replace("\"line\": 4,", "\"line\": 300,");  // key 4, the entry keys[3]
    const QString bad = write_file(dir_, QStringLiteral("bad.json"), text);
    const cli_result result = run_cli({QStringLiteral("write"), port_of(peer.path()), good, bad});
    QCOMPARE(result.code, 2);
    QVERIFY2(result.err.startsWith(QStringLiteral("lorvane-cli: ") + bad +
                                   QStringLiteral(": keys[3].line must be a whole number from 0 "
                                                  "to 255, not 300")),
             qPrintable(result.err));
    QTest::qWait(50);
    QVERIFY(peer.raw().empty());
}

void tst_cli::failures_and_their_exit_codes()
{
    const QString file = write_file(dir_, QStringLiteral("plain.json"), panel_file_text({}));
    // Usage errors: 1, with a line saying what is wrong.
    for (const QStringList& args :
         {QStringList{}, QStringList{QStringLiteral("fly")}, QStringList{QStringLiteral("read")},
          QStringList{QStringLiteral("read"), QStringLiteral("--port=1"),
                      QStringLiteral("--wait=5")},
          QStringList{QStringLiteral("read"), QStringLiteral("--port=1"),
                      QStringLiteral("--address=256")},
          QStringList{QStringLiteral("write"), QStringLiteral("--port=1"),
                      QStringLiteral("--address=2"), file, file},
          QStringList{QStringLiteral("read"), QStringLiteral("--port=COM 3")}}) {
        const cli_result result = run_cli(args);
        QVERIFY2(result.code == 1, qPrintable(args.join(u' ')));
        QVERIFY2(result.err.startsWith(QStringLiteral("lorvane-cli: ")), qPrintable(result.err));
    }
    // No such port: 3.
    const cli_result missing =
        run_cli({QStringLiteral("read"), QStringLiteral("--port=/dev/ttyLorvaneMissing7")});
    QCOMPARE(missing.code, 3);
    QVERIFY2(missing.err.contains(QStringLiteral("no such device")), qPrintable(missing.err));

    // The far end hangs up mid-chain: 3.
    {
        module_peer peer;
        peer.on_request = [&](const frame& request) {
            if (request[POS_RECORD] == 4)
                peer.hang_up();
        };
        const cli_result lost = run_cli({QStringLiteral("write"), port_of(peer.path()), file});
        QCOMPARE(lost.code, 3);
        QVERIFY2(lost.err.contains(QStringLiteral("went away")), qPrintable(lost.err));
    }

    // Ctrl-C while waiting for a reply: 130.
    module_peer silent;
    silent.answering = false;
    const cli_result stopped =
        run_cli({QStringLiteral("read"), port_of(silent.path()), QStringLiteral("--timeout=20000")},
                {}, [&](QProcess& process) {
                    QVERIFY(silent.wait_for_requests(1));
                    ::kill(pid_t(process.processId()), SIGINT);
                });
    QCOMPARE(stopped.code, 130);
    QVERIFY2(stopped.err.contains(QStringLiteral("interrupted")), qPrintable(stopped.err));
}

void tst_cli::trace_shows_every_frame()
{
    module_peer peer;
    frame last_request{};
    peer.on_request = [&](const frame& request) { last_request = request; };
    peer.shape_reply = [&](const frame& reply) {  // an echo in front of each reply
        std::vector<std::uint8_t> bytes(last_request.begin(), last_request.end());
        bytes.insert(bytes.end(), reply.begin(), reply.end());
        return bytes;
    };
    const cli_result traced =
        run_cli({QStringLiteral("read"), port_of(peer.path()), QStringLiteral("--trace")});
    QCOMPARE(traced.code, 0);
    static const QRegularExpression line(QStringLiteral(
        R"(^lorvane-cli: trace \d+\.\d{3} ms (TX|RX) ((?:[0-9A-F]{2} ){7}[0-9A-F]{2})( accepted| rejected)?$)"));
    int tx = 0, accepted = 0, rejected = 0;
    for (const QString& text : traced.err.split(u'\n', Qt::SkipEmptyParts)) {
        const auto m = line.match(text);
        if (!m.hasMatch())
            continue;
        tx += m.captured(1) == QStringLiteral("TX");
        accepted += m.captured(3) == QStringLiteral(" accepted");
        rejected += m.captured(3) == QStringLiteral(" rejected");
        if (m.captured(1) == QStringLiteral("TX"))
            QVERIFY(m.captured(3).isEmpty());
    }
    QCOMPARE(tx, 17);
    QCOMPARE(accepted, 17);
    QCOMPARE(rejected, 17);  // every echo, seen and dropped
    QVERIFY(traced.err.contains(QStringLiteral("TX 55 01 F1 00 00 00 00 47")));
}

QTEST_GUILESS_MAIN(tst_cli)
#include "tst_cli.moc"
