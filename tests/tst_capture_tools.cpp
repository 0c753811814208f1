// The tools for line captures: the Wireshark dissector as Debian's tshark runs it (path in
// LORVANE_DISSECTOR), and lorvane-sim --replay answering lorvane-cli on a pseudo-terminal.
// The captures are written with the same pcapng blocks a line capture is made of.
#include "cli_process.h"
#include "pcapng.h"
#include "sim_process.h"
#include "sim_test_support.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace sim_test;

namespace {

constexpr std::int64_t START_NS = 1'700'000'000'000'000'000;

// A capture file built packet by packet, each a millisecond (or as given) after the one before.
class capture
{
public:
    explicit capture(int interfaces = 1)
        : bytes_(pcapng::section_header(QStringLiteral("test capture"), QStringLiteral("tests")))
    {
        for (int i = 0; i < interfaces; ++i)
            bytes_ += pcapng::interface_description(QStringLiteral("/dev/ttyUSB%1").arg(i));
    }
    capture& out(const QByteArray& bytes, std::uint32_t interface = 0)
    {
        return add(interface, pcapng::direction::outbound, bytes);
    }
    capture& in(const QByteArray& bytes, std::uint32_t interface = 0, std::int64_t after_ms = 1)
    {
        return add(interface, pcapng::direction::inbound, bytes, after_ms);
    }
    QString save(const QTemporaryDir& dir, const QString& name) const
    {
        return write_file(dir, name, bytes_);
    }

private:
    capture& add(std::uint32_t interface, pcapng::direction way, const QByteArray& bytes,
                 std::int64_t after_ms = 1)
    {
        time_ns_ += after_ms * MS;
        bytes_ += pcapng::enhanced_packet(interface, time_ns_, way, bytes);
        return *this;
    }
    QByteArray bytes_;
    std::int64_t time_ns_ = START_NS;
};

QByteArray request_of(std::uint8_t function, std::uint8_t record, std::uint8_t v1 = 0,
                      std::uint8_t v2 = 0, std::uint8_t v3 = 0)
{
    return to_bytes(make_request(function, 1, record, v1, v2, v3));
}

// One row per packet as tshark decodes it with the dissector; a packet's several frames
// give one value each, joined with ';'.
struct row
{
    QString interface, direction, kind, address, function, record, values, checksum_ok, expert,
        info;
};

QList<row> decode(const QString& file)
{
    QStringList arguments =
        QStringLiteral("-T fields -E occurrence=a -E aggregator=;").split(QLatin1Char(' '));
    arguments << QStringLiteral("-X")
              << QStringLiteral("lua_script:") + qEnvironmentVariable("LORVANE_DISSECTOR")
              << QStringLiteral("-r") << file;
    for (const char* field :
         {"frame.interface_id", "frame.packet_flags_direction", "lorvane.kind", "lorvane.address",
          "lorvane.function", "lorvane.record", "lorvane.values", "lorvane.checksum_ok",
          "_ws.expert.message", "_ws.col.Info"})
        arguments << QStringLiteral("-e") << QLatin1String(field);
    QProcess tshark;
    tshark.start(QStringLiteral("tshark"), arguments);
    const bool finished = tshark.waitForFinished(60000);
    const QByteArray err = tshark.readAllStandardError();
    // A dissector that does not load is reported here, and tshark still decodes without it.
    if (!finished || tshark.exitCode() != 0 || err.contains("Lua") || err.contains("rror")) {
        qWarning("tshark: %s", err.constData());
        return {};
    }
    QList<row> rows;
    for (const QByteArray& line : tshark.readAllStandardOutput().split('\n')) {
        if (line.isEmpty())
            continue;
        const QStringList f = QString::fromUtf8(line).split(QLatin1Char('\t'));
        if (f.size() != 10)
            return {};
        rows.append({f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7], f[8], f[9]});
    }
    return rows;
}

const QString OUTBOUND = QStringLiteral("0x00000002");
const QString INBOUND = QStringLiteral("0x00000001");

}  // namespace

class tst_capture_tools : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    void dissectorDecodesWriteChain();
    void dissectorShowsEchoJunkAndSplitReplyPerInterface();
    void dissectorFlagsBadChecksumAndStrayReplies();
    void replayReproducesFailedReadAtItsRecord();
    void replayLogsChangedRequestAndEndsInSilence();
    void replayRejectsBadFilesAndInterfaces();

private:
    QTemporaryDir dir_;
};

void tst_capture_tools::initTestCase()
{
    QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("tshark")).isEmpty(),
             "tshark is missing: install it (scripts/setup.sh --with-tests)");
    QVERIFY2(QFileInfo(qEnvironmentVariable("LORVANE_DISSECTOR")).isFile(),
             "LORVANE_DISSECTOR must name tools/wireshark/lorvane.lua");
    QVERIFY(dir_.isValid());
}

void tst_capture_tools::dissectorDecodesWriteChain()
{
    capture chain;
    for (std::uint8_t record = 0; record <= 16; ++record) {
        const auto v = [record](int k) { return static_cast<std::uint8_t>(record * 3 + k); };
        chain.out(request_of(FUNC_WRITE, record, v(0), v(1), v(2)));
        chain.in(reply_with(1, FUNC_WRITE, record, {v(0), v(1), v(2)}));
    }
    const QList<row> rows = decode(chain.save(dir_, QStringLiteral("chain.pcapng")));
    QCOMPARE(rows.size(), 34);
    for (int i = 0; i < rows.size(); ++i) {
        const row& r = rows[i];
        const int record = i / 2;
        const bool request = i % 2 == 0;
        QCOMPARE(r.direction, request ? OUTBOUND : INBOUND);
        QCOMPARE(r.kind, request ? QStringLiteral("request") : QStringLiteral("reply"));
        QCOMPARE(r.address, QStringLiteral("0x01"));
        QCOMPARE(r.function, QStringLiteral("0xf0"));
        QCOMPARE(r.record, QString::number(record));
        QCOMPARE(r.values, QStringLiteral("%1 %2 %3")
                               .arg(record * 3, 2, 16, QLatin1Char('0'))
                               .arg(record * 3 + 1, 2, 16, QLatin1Char('0'))
                               .arg(record * 3 + 2, 2, 16, QLatin1Char('0')));
        QCOMPARE(r.checksum_ok, QStringLiteral("1"));
        QCOMPARE(r.expert, QString());
    }
    QCOMPARE(rows[0].info, QStringLiteral("request write 0x01 refresh period"));
    QCOMPARE(rows[7].info, QStringLiteral("reply write 0x01 key 3"));
    QCOMPARE(rows[32].info, QStringLiteral("request write 0x01 key 16"));
}

void tst_capture_tools::dissectorShowsEchoJunkAndSplitReplyPerInterface()
{
    const QByteArray request = request_of(FUNC_READ, 5);
    const QByteArray reply = reply_with(1, FUNC_READ, 5, {7, 8, 9});
    capture line(2);
    line.out(request)
        .in(request + hex_bytes("00 FF") + reply.left(3))
        // A piece on the other bus between the two pieces must not join them.
        .in(hex_bytes("22 01"), 1)
        .in(reply.mid(3));
    const QList<row> rows = decode(line.save(dir_, QStringLiteral("split.pcapng")));
    QCOMPARE(rows.size(), 4);
    QCOMPARE(rows[1].kind, QStringLiteral("echo;junk"));
    QCOMPARE(rows[1].record, QStringLiteral("5"));
    QCOMPARE(rows[1].info, QStringLiteral("echo read 0x01 key 5, junk 2 bytes, 3 bytes waiting"));
    QCOMPARE(rows[2].kind, QString());  // a header and one byte: still waiting
    QCOMPARE(rows[3].kind, QStringLiteral("reply"));
    QCOMPARE(rows[3].function, QStringLiteral("0xf1"));
    QCOMPARE(rows[3].values, QStringLiteral("07 08 09"));
    QCOMPARE(rows[3].checksum_ok, QStringLiteral("1"));
    QCOMPARE(rows[3].expert, QString());
}

void tst_capture_tools::dissectorFlagsBadChecksumAndStrayReplies()
{
    QByteArray damaged = reply_with(1, FUNC_READ, 2, {1, 2, 3});
    damaged[POS_CHECKSUM] = static_cast<char>(damaged[POS_CHECKSUM] ^ 0x10);
    capture line(2);
    line.out(request_of(FUNC_READ, 2))
        .in(damaged)
        .in(reply_with(1, FUNC_READ, 9, {0, 0, 0}))      // the request waiting is for record 2
        .in(reply_with(1, FUNC_READ, 2, {1, 2, 3}))      // answers it at last
        .in(reply_with(1, FUNC_READ, 2, {1, 2, 3}))      // twice: nothing is waiting any more
        .in(reply_with(1, FUNC_READ, 2, {1, 2, 3}), 1);  // another bus: nothing ever asked
    const QList<row> rows = decode(line.save(dir_, QStringLiteral("faults.pcapng")));
    QCOMPARE(rows.size(), 6);
    QCOMPARE(rows[1].kind, QStringLiteral("junk"));
    QCOMPARE(rows[1].checksum_ok, QStringLiteral("0"));
    QCOMPARE(rows[1].record, QStringLiteral("2"));
    QVERIFY2(rows[1].expert.startsWith(QLatin1String("Bad checksum")), qPrintable(rows[1].expert));
    QCOMPARE(rows[2].kind, QStringLiteral("reply"));
    QVERIFY2(rows[2].expert.contains(QLatin1String("Reply answers no request: the request "
                                                   "waiting is read 0x01 key 2")),
             qPrintable(rows[2].expert));
    QCOMPARE(rows[3].expert, QString());
    QVERIFY2(rows[4].expert.contains(QLatin1String("no request is waiting")),
             qPrintable(rows[4].expert));
    QCOMPARE(rows[5].interface, QStringLiteral("1"));
    QVERIFY2(rows[5].expert.contains(QLatin1String("no request is waiting")),
             qPrintable(rows[5].expert));
}

void tst_capture_tools::replayReproducesFailedReadAtItsRecord()
{
    // A read that got replies up to record 4 (after an echo, junk, a split, on interface 1
    // of a two-bus site capture), then nothing for record 5.
    constexpr std::uint8_t FAILED = 5;
    capture site(2);
    for (std::uint8_t record = 0; record <= FAILED; ++record) {
        const QByteArray request = request_of(FUNC_READ, record);
        site.out(request, 1);
        site.out(request, 0);  // the other bus: silent
        if (record == FAILED)
            break;
        const QByteArray reply = reply_with(1, FUNC_READ, record, expected_default(record));
        site.in(request + hex_bytes("13") + reply.left(5), 1).in(reply.mid(5), 1);
    }
    const QString file = site.save(dir_, QStringLiteral("failed_read.pcapng"));
    const QList<row> rows = decode(file);
    QCOMPARE(rows.last().kind, QStringLiteral("request"));
    QCOMPARE(rows.last().record, QString::number(FAILED));

    sim_process sim;
    QVERIFY(sim.start(
        {QStringLiteral("--replay"), file, QStringLiteral("--interface"), QStringLiteral("1")}));
    const cli_result read = run_cli({QStringLiteral("read"), port_of(sim.path)});
    QCOMPARE(read.code, 4);
    QVERIFY2(
        read.err.contains(QLatin1String("did not answer the read request for record 5 (key 5)")),
        qPrintable(read.err));

    // The same capture's first bus answered nothing at all.
    sim_process first;
    QVERIFY(first.start({QStringLiteral("--replay"), file}));
    const cli_result silent = run_cli({QStringLiteral("read"), port_of(first.path)});
    QCOMPARE(silent.code, 4);
    QVERIFY2(silent.err.contains(QLatin1String("record 0 (refresh period)")),
             qPrintable(silent.err));
}

void tst_capture_tools::replayLogsChangedRequestAndEndsInSilence()
{
    const QByteArray captured = request_of(FUNC_READ, 3);
    const QByteArray late = reply_with(1, FUNC_READ, 3, {4, 5, 6});
    capture line;
    constexpr int GAP_MS = 300;  // between the reply's two pieces
    line.out(captured).in(late.left(2)).in(late.mid(2), 0, GAP_MS);
    const QString file = line.save(dir_, QStringLiteral("changed.pcapng"));

    sim_process sim;
    QVERIFY(sim.start({QStringLiteral("--replay"), file, QStringLiteral("--verbose")}));
    auto port = open_port(sim.path);
    const QByteArray changed = request_of(FUNC_READ, 7);
    QElapsedTimer clock;
    clock.start();
    port->write_all(as_span(changed));
    const QByteArray first = to_bytes(port->read_exact(2, REPLY_TIMEOUT_MS));
    const qint64 first_ms = clock.elapsed();
    QCOMPARE(first + to_bytes(port->read_exact(6, REPLY_TIMEOUT_MS)), late);  // as captured
    QVERIFY2(
        clock.elapsed() >= GAP_MS && first_ms < GAP_MS - 50,
        qPrintable(QStringLiteral("pieces at %1 and %2 ms").arg(first_ms).arg(clock.elapsed())));
    port->write_all(as_span(captured));  // beyond the capture's last request
    QCOMPARE(port->read_some(SILENCE_WINDOW_MS), std::vector<std::uint8_t>{});
    const QString log = log_until(sim, QLatin1String("rx "), 2);
    const QString expected = QStringLiteral("rx %1  (request 1 differs from the captured %2")
                                 .arg(QString::fromStdString(hex(as_span(changed))),
                                      QString::fromStdString(hex(as_span(captured))));
    QVERIFY2(log.contains(expected), qPrintable(log));
    QVERIFY2(log.contains(QLatin1String("(request 2; the capture has 1: silence)")),
             qPrintable(log));
}

void tst_capture_tools::replayRejectsBadFilesAndInterfaces()
{
    const QString file =
        capture(2).out(request_of(FUNC_READ, 0)).save(dir_, QStringLiteral("two.pcapng"));
    const QString junk = write_file(dir_, QStringLiteral("notes.txt"), "not a capture\n");
    const QString missing = dir_.filePath(QStringLiteral("missing.pcapng"));
    const struct
    {
        QStringList arguments;
        QString message;
    } cases[] = {
        {{QStringLiteral("--replay"), file, QStringLiteral("--interface"), QStringLiteral("2")},
         QStringLiteral("--interface must be from 0 to 1 for ") + file + QStringLiteral(", not 2")},
        {{QStringLiteral("--replay"), missing}, QStringLiteral("cannot read ") + missing},
        {{QStringLiteral("--replay"), junk}, junk + QStringLiteral(" is not a pcapng capture")},
        {{QStringLiteral("--interface"), QStringLiteral("1")},
         QStringLiteral("give --replay FILE")},
        {{QStringLiteral("--replay"), file, QStringLiteral("--echo")},
         QStringLiteral("takes no --echo")},
    };
    for (const auto& c : cases) {
        QProcess sim;
        sim.start(qEnvironmentVariable("LORVANE_SIM"), c.arguments);
        QVERIFY(sim.waitForFinished(10000));
        const QString err = QString::fromLocal8Bit(sim.readAllStandardError());
        QVERIFY2(sim.exitCode() != 0 && err.contains(c.message), qPrintable(err));
        QVERIFY(sim.readAllStandardOutput().isEmpty());  // no terminal was offered
    }
}

QTEST_GUILESS_MAIN(tst_capture_tools)
#include "tst_capture_tools.moc"
