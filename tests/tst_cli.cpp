// lorvane-cli as a user runs it (path in LORVANE_CLI): against lorvane-sim for whole
// round trips, batches and scans, and against the module logic inside this test for the
// faults a test must arrange (a lost reply, a hang-up, a module that never answers), and
// interrupts. Its files: tst_cli_files.
#include "cli_process.h"
#include "module_peer.h"
#include "panel_file.h"
#include "sim_process.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <optional>
#include <tuple>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace lorvane;

namespace {

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

// Waits until process `pid` has a handler for `signal_number` (its own, not the default).
bool wait_for_handler(qint64 pid, int signal_number)
{
    for (int tries = 0; tries < 500; ++tries) {
        QFile status(QStringLiteral("/proc/%1/status").arg(pid));
        if (status.open(QIODevice::ReadOnly)) {
            for (const QByteArray& line : status.readAll().split('\n')) {
                if (line.startsWith("SigCgt:") &&
                    (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (signal_number - 1)) & 1)
                    return true;
            }
        }
        QTest::qWait(10);
    }
    return false;
}

// The lines of a program's stderr, each checked to be one message of lorvane-cli.
QStringList messages(const cli_result& result)
{
    QStringList lines = result.err.split(u'\n');
    if (lines.last().isEmpty())
        lines.removeLast();
    for (const QString& line : lines) {
        if (!line.startsWith(QStringLiteral("lorvane-cli: ")))
            return {QStringLiteral("not a message: ") + line};
    }
    return lines;
}

}  // namespace

class tst_cli : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void discovery_without_its_daemon();
    void random_configurations_round_trip();
    void batch_of_modules_on_one_line();
    void verify_lists_each_difference();
    void scan_finds_exactly_the_modules();
    void scan_says_what_it_may_have_missed();
    void retries_recover_a_lost_reply();
    void duplicate_in_front_of_the_right_reply();
    void invalid_file_sends_nothing();
    void failures_and_their_exit_codes();
    void trace_shows_every_frame();
    void interrupt_on_stdin();
    void second_interrupt_ends_at_once();
    void one_line_messages();

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

void tst_cli::scan_says_what_it_may_have_missed()
{
    // Late replies at the top of the range: 60 ms turnaround behind a 32 ms latency timer.
    // The last address gets as long to answer as every other one.
    {
        sim_process sim;
        QVERIFY(sim.start({QStringLiteral("--pace-baud=9600"), QStringLiteral("--address=250,255"),
                           QStringLiteral("--turnaround=60"), QStringLiteral("--latency=32")}));
        const cli_result found =
            run_cli({QStringLiteral("scan"), port_of(sim.path), QStringLiteral("--first=240")});
        QCOMPARE(found.code, 0);
        QCOMPARE(found.out, QByteArray("address 250, refresh period 50\n"
                                       "address 255, refresh period 50\n"));
        QVERIFY2(!found.err.contains(QStringLiteral("warning")), qPrintable(found.err));
    }
    // A garbled reply that no module turns out to have sent: said, exit 0 all the same.
    {
        module_peer peer;
        int probes_of_9 = 0;
        peer.on_request = [&](const frame& request) {
            if (request[POS_ADDRESS] == 9 && ++probes_of_9 == 1)
                peer.send_raw({0x22, 0x09, 0xF1, 0x00, 0x5A, 0xA5, 0x3C, 0xC3});
        };
        const cli_result doubt =
            run_cli({QStringLiteral("scan"), port_of(peer.path()), QStringLiteral("--last=20")});
        QCOMPARE(doubt.code, 0);
        QCOMPARE(doubt.out, QByteArray("address 1, refresh period 50\n"));
        QVERIFY2(doubt.err.contains(QStringLiteral(
                     "lorvane-cli: warning: 1 replies arrived garbled; a module may have been "
                     "missed (try --retries 1)\n")),
                 qPrintable(doubt.err));
    }
    // A line that sends nothing but junk: the second look ends, and the line is called noisy.
    {
        module_peer peer(200);
        peer.answering = false;
        peer.on_request = [&](const frame&) {
            peer.send_raw({0x13, 0x5A, 0xA5, 0x3C, 0xC3, 0x99, 0x01, 0x02, 0x7E, 0x81});
        };
        const cli_result noisy =
            run_cli({QStringLiteral("scan"), port_of(peer.path()), QStringLiteral("--last=63")});
        QCOMPARE(noisy.code, 0);
        QVERIFY(noisy.out.isEmpty());
        QVERIFY2(noisy.err.contains(QStringLiteral("warning: the line is noisy")),
                 qPrintable(noisy.err));
        QVERIFY2(peer.requests().size() <= 2 * 64,
                 qPrintable(QString::number(peer.requests().size())));
    }
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

void tst_cli::duplicate_in_front_of_the_right_reply()
{
    // The module answers every request twice; behind a USB adapter's latency timer the
    // second copy reaches the PC in one chunk with the reply to the next request.
    module_peer peer(7);
    std::optional<frame> previous;
    peer.shape_reply = [&](const frame& reply) {
        std::vector<std::uint8_t> bytes;
        if (previous && (*previous)[POS_FUNCTION] == reply[POS_FUNCTION])
            bytes.assign(previous->begin(), previous->end());
        bytes.insert(bytes.end(), reply.begin(), reply.end());
        previous = reply;
        return bytes;
    };
    const panel_config config = random_config(7);
    const QString file = write_file(dir_, QStringLiteral("twice.json"), panel_file_text(config));
    const cli_result written =
        run_cli({QStringLiteral("write"), port_of(peer.path()), QStringLiteral("--verify"), file});
    QVERIFY2(written.code == 0, qPrintable(written.err));
    QCOMPARE(peer.requests().size(), std::size_t{2 * RECORD_COUNT});

    previous.reset();
    const cli_result read =
        run_cli({QStringLiteral("read"), port_of(peer.path()), QStringLiteral("--address=7")});
    QVERIFY2(read.code == 0, qPrintable(read.err));
    QCOMPARE(read.out, panel_file_text(config));
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
          QStringList{QStringLiteral("read"), QStringLiteral("--port=COM 3")},
          QStringList{QStringLiteral("read"), QStringLiteral("--port=")},
          QStringList{QStringLiteral("read"), QStringLiteral("--port=0")},
          QStringList{QStringLiteral("read"), QStringLiteral("--port=1"),
                      QStringLiteral("--output=")},
          QStringList{QStringLiteral("scan"), QStringLiteral("--port=1"),
                      QStringLiteral("--timeout=50")}}) {
        const cli_result result = run_cli(args);
        QVERIFY2(result.code == 1, qPrintable(args.join(u' ')));
        const QStringList lines = messages(result);
        QVERIFY2(lines.size() == 2 && lines[1] == QStringLiteral("lorvane-cli: try 'lorvane-cli "
                                                                 "--help'"),
                 qPrintable(result.err));
    }
    const cli_result help_all = run_cli({QStringLiteral("--help-all")});
    QCOMPARE(help_all.code, 0);
    QVERIFY(help_all.out.contains("Exit codes"));
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
        if (reply[POS_RECORD] == 3) {
            // A reply from another module comes first, the module's own a little later.
            QTimer::singleShot(50, &peer, [&peer, reply] { peer.send_frame(reply); });
            frame stray = reply;
            stray[POS_ADDRESS] = 9;
            stray[POS_CHECKSUM] = frame_checksum(stray);
            bytes.insert(bytes.end(), stray.begin(), stray.end());
            return bytes;
        }
        bytes.insert(bytes.end(), reply.begin(), reply.end());
        return bytes;
    };
    const cli_result traced =
        run_cli({QStringLiteral("read"), port_of(peer.path()), QStringLiteral("--trace")});
    QCOMPARE(traced.code, 0);
    static const QRegularExpression line(QStringLiteral(
        R"(^lorvane-cli: trace \d+\.\d{3} ms (TX|RX) ((?:[0-9A-F]{2} ){7}[0-9A-F]{2})( accepted| rejected \(header 55, not 22\)| ignored \(from address 9; the request went to 1\))?$)"));
    int tx = 0, accepted = 0, rejected = 0, ignored = 0;
    for (const QString& text : traced.err.split(u'\n', Qt::SkipEmptyParts)) {
        const auto m = line.match(text);
        if (!m.hasMatch())
            continue;
        tx += m.captured(1) == QStringLiteral("TX");
        accepted += m.captured(3) == QStringLiteral(" accepted");
        rejected += m.captured(3).startsWith(QStringLiteral(" rejected"));
        ignored += m.captured(3).startsWith(QStringLiteral(" ignored"));
        if (m.captured(1) == QStringLiteral("TX"))
            QVERIFY(m.captured(3).isEmpty());
    }
    QCOMPARE(tx, 17);
    QCOMPARE(accepted, 17);
    QCOMPARE(rejected, 17);  // every echo, seen and dropped
    QCOMPARE(ignored, 1);    // the other module's reply, which moved nothing on
    QVERIFY(traced.err.contains(QStringLiteral("TX 55 01 F1 00 00 00 00 47")));
}

// Ctrl-C, or a request to terminate, while `write -` waits for its file: the wait ends at
// once and nothing is sent.
void tst_cli::interrupt_on_stdin()
{
    module_peer peer;
    for (const auto& [number, code, said] :
         {std::tuple{SIGINT, 130, "interrupted; nothing was sent"},
          std::tuple{SIGTERM, 143, "terminated; nothing was sent"}}) {
        const int signal_number = number;
        const cli_result result =
            run_cli({QStringLiteral("write"), port_of(peer.path()), QStringLiteral("-")},
                    std::nullopt, [&](QProcess& process) {
                        QVERIFY(wait_for_handler(process.processId(), signal_number));
                        ::kill(pid_t(process.processId()), signal_number);
                    });
        QCOMPARE(result.code, code);
        QCOMPARE(messages(result),
                 QStringList{QStringLiteral("lorvane-cli: ") + QLatin1String(said)});
    }
    QTest::qWait(50);
    QVERIFY(peer.raw().empty());
}

// A second Ctrl-C (or SIGTERM) while the first is still being handled ends the program at
// once. The first is kept from finishing here by a full stderr the program waits to write.
void tst_cli::second_interrupt_ends_at_once()
{
    module_peer peer;
    const QString fifo = dir_.filePath(QStringLiteral("stderr.fifo"));
    QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
    const auto remove = qScopeGuard([&] { QFile::remove(fifo); });
    const int reader = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK);
    const int filler = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
    QVERIFY(reader >= 0 && filler >= 0);
    const auto close_fifo = qScopeGuard([&] {
        ::close(filler);
        ::close(reader);
    });
    for (const auto& [number, code] : {std::pair{SIGINT, 130}, std::pair{SIGTERM, 143}}) {
        const QByteArray block(4096, 'x');
        while (::write(filler, block.constData(), std::size_t(block.size())) > 0) {
        }
        QProcess process;
        process.setProgram(qEnvironmentVariable("LORVANE_CLI"));
        process.setArguments({QStringLiteral("read"), port_of(peer.path()),
                              QStringLiteral("--trace"), QStringLiteral("--timeout=20000")});
        process.setStandardErrorFile(fifo);
        process.start();
        QVERIFY(process.waitForStarted());
        const auto pid = pid_t(process.processId());
        QVERIFY(wait_for_handler(pid, number));
        QVERIFY(peer.wait_for_requests(1));  // its trace line now waits for room on stderr
        QTest::qWait(200);
        ::kill(pid, number);
        QVERIFY(!process.waitForFinished(500));  // the first one cannot finish its work
        ::kill(pid, number);
        QVERIFY(process.waitForFinished(3000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), code);
        char drained[65536];
        while (::read(reader, drained, sizeof drained) > 0) {
        }
        peer.clear_requests();
    }
}

// Each message is one line that cannot drive the terminal, however odd the file; on a
// terminal the progress line is gone before the results.
void tst_cli::one_line_messages()
{
    module_peer peer;
    const auto with_operation = [](const QByteArray& operation) {
        QByteArray text = panel_file_text({});
        const QByteArray toggle = "\"toggle\"";
        return text.replace(text.indexOf(toggle), toggle.size(), '"' + operation + '"');
    };
    const QByteArray odd = with_operation("a\\nb\\u001b[31mred");
    const QByteArray long_value = with_operation(QByteArray(200000, 'x'));
    for (const QString& file : {write_file(dir_, QStringLiteral("odd.json"), odd),
                                write_file(dir_, QStringLiteral("long.json"), long_value),
                                dir_.filePath(QStringLiteral("no\nsuch\x1b[2J.json"))}) {
        const cli_result result = run_cli({QStringLiteral("write"), port_of(peer.path()), file});
        QCOMPARE(result.code, 2);
        QCOMPARE(messages(result).size(), 1);
        QVERIFY2(!result.err.contains(u'\x1b') && result.err.size() < 400, qPrintable(result.err));
    }
    QVERIFY(run_cli({QStringLiteral("write"), port_of(peer.path()),
                     dir_.filePath(QStringLiteral("odd.json"))})
                .err.contains(QStringLiteral(R"(not "a\nb\x1b[31mred")")));

    pty_pair terminal;
    QByteArray shown;
    QSocketNotifier notifier(terminal.master_fd(), QSocketNotifier::Read);
    connect(&notifier, &QSocketNotifier::activated, [&] {
        const std::vector<std::uint8_t> bytes = terminal.read_some(0);
        shown.append(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
    });
    const QString tty = QString::fromStdString(terminal.slave_path());
    const cli_result read = run_cli({QStringLiteral("read"), port_of(peer.path())}, QByteArray(),
                                    {}, [&](QProcess& process) {
                                        process.setStandardOutputFile(tty);
                                        process.setStandardErrorFile(tty);
                                    });
    QCOMPARE(read.code, 0);
    QTest::qWait(50);
    QVERIFY2(shown.contains("reading record 17/17\x1b[K\r\x1b[K{\n"), shown.constData());
    QVERIFY2(shown.endsWith("}\nlorvane-cli: module 1: 17 records read\n"),
             shown.right(80).constData());
}

// No Avahi daemon (CTest gives every test a system bus that is not there): servers, a
// dnssd: port and adopt --discover say so at once, naming Avahi and avahi-daemon, exit 3.
void tst_cli::discovery_without_its_daemon()
{
    QTemporaryDir dir;
    for (const QStringList& arguments :
         {QStringList{QStringLiteral("servers")},
          QStringList{QStringLiteral("read"), QStringLiteral("--port"), QStringLiteral("dnssd:x")},
          QStringList{QStringLiteral("site"), QStringLiteral("adopt"),
                      dir.filePath(QStringLiteral("s")), QStringLiteral("--discover")}}) {
        QElapsedTimer clock;
        clock.start();
        const cli_result r = run_cli(arguments);
        QVERIFY2(clock.elapsed() < 3000, qPrintable(arguments.join(u' ')));
        QCOMPARE(r.code, 3);
        QVERIFY2(
            r.err.contains(QStringLiteral("the Avahi daemon is not running; start avahi-daemon")),
            qPrintable(r.err));
    }
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("s"))));
}

QTEST_GUILESS_MAIN(tst_cli)
#include "tst_cli.moc"
