// Line captures read back with our pcapng reader and with the real tshark: a module's write
// chain from lorvane-cli, a site with one interface per bus, a program killed midway, the
// size limit under a flood, files refused before anything is sent, and the window's
// 录制线路… entry.
#include "cli_process.h"
#include "message_box.h"
#include "panel_file.h"
#include "pcapng.h"
#include "pty.h"
#include "sim_process.h"
#include "site_test_files.h"
#include "window_fixture.h"

#include <QAction>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/stat.h>

using namespace lorvane;

namespace {

constexpr int EXIT_BAD_FILE = 2;
constexpr int EXIT_NO_REPLY = 4;

// tshark's view of a capture: per packet "interface<TAB>direction flags<TAB>hex bytes".
QStringList tshark_lines(const QString& file)
{
    QProcess tshark;
    tshark.start(qEnvironmentVariable("LORVANE_TSHARK"),
                 {QStringLiteral("-r"), file, QStringLiteral("-T"), QStringLiteral("fields"),
                  QStringLiteral("-e"), QStringLiteral("frame.interface_name"),
                  QStringLiteral("-e"), QStringLiteral("frame.packet_flags_direction"),
                  QStringLiteral("-e"), QStringLiteral("data")});
    // Run as root it complains on stderr only; its exit code and output are what count.
    if (!tshark.waitForFinished(30000) || tshark.exitCode() != 0)
        return {QStringLiteral("tshark failed: ") +
                QString::fromUtf8(tshark.readAllStandardError())};
    return QString::fromUtf8(tshark.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
}

// The same lines from our own reader.
QStringList our_lines(const pcapng::contents& file)
{
    QStringList lines;
    for (const pcapng::packet& p : file.packets)
        lines << QStringLiteral("%1\t0x%2\t%3")
                     .arg(file.interfaces.at(p.interface).name)
                     .arg(int(p.way), 8, 16, QLatin1Char('0'))
                     .arg(QString::fromLatin1(p.bytes.toHex()));
    return lines;
}

pcapng::contents parsed(const QString& file)
{
    return pcapng::parse(read_file(file)).value_or(pcapng::contents{});
}

// Requests out and bytes in, however the line cut them into chunks.
std::pair<int, qsizetype> traffic(const pcapng::contents& file)
{
    int requests = 0;
    qsizetype received = 0;
    for (const pcapng::packet& p : file.packets) {
        if (p.way == pcapng::direction::outbound)
            ++requests;
        else
            received += p.bytes.size();
    }
    return {requests, received};
}

// Record bytes of a request or reply: byte 3 is the record number.
int record_of(const QByteArray& frame)
{
    return frame.size() >= 4 ? int(std::uint8_t(frame[3])) : -1;
}

}  // namespace

class tst_capture : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void write_chain_recorded_in_order();
    void site_has_one_interface_per_bus();
    void killed_capture_still_reads();
    void failed_read_decoded_and_replayed();
    void limit_stops_the_capture_once();
    void unusable_files_refused_before_sending();
    void window_records_until_chosen_again();

private:
    QTemporaryDir dir_;
};

void tst_capture::initTestCase()
{
    QVERIFY2(QFileInfo(qEnvironmentVariable("LORVANE_TSHARK")).isExecutable(),
             "tshark not found (LORVANE_TSHARK)");
    QVERIFY(dir_.isValid());
}

// Every request out and every chunk in, echoes included, in the order they happened; tshark
// reads the same interface names, directions and bytes.
void tst_capture::write_chain_recorded_in_order()
{
    sim_process sim;
    QVERIFY(sim.start({QStringLiteral("--echo")}));
    const QString panel = write_file(
        dir_, QStringLiteral("panel.json"),
        panel_file_text(lorvane::panel(1, [](panel_config& c) { c.refresh_period = 90; })));
    const QString file = dir_.filePath(QStringLiteral("write.pcapng"));
    const cli_result run = run_cli(
        {QStringLiteral("write"), port_of(sim.path), QStringLiteral("--capture"), file, panel});
    QCOMPARE(run.code, 0);

    const pcapng::contents capture = parsed(file);
    QVERIFY(!capture.truncated);
    QVERIFY2(
        capture.comment.startsWith(QStringLiteral("lorvane-cli ")) &&
            capture.comment.endsWith(
                QStringLiteral(": write %1 --capture %2 %3").arg(port_of(sim.path), file, panel)),
        qPrintable(capture.comment));
    QCOMPARE(capture.interfaces.size(), std::size_t(1));
    QCOMPARE(capture.interfaces[0].name, sim.path);
    QCOMPARE(capture.interfaces[0].link_type, pcapng::LINKTYPE_USER0);
    std::vector<QByteArray> requests;
    QByteArray received;
    std::int64_t last = 0;
    for (const pcapng::packet& p : capture.packets) {
        QVERIFY(p.time_ns >= last);
        last = p.time_ns;
        if (p.way == pcapng::direction::outbound) {
            QCOMPARE(p.bytes.size(), 8);
            QCOMPARE(record_of(p.bytes), int(requests.size()));
            // What came before this request answered the one before it, echo first.
            QCOMPARE(received.size(), qsizetype(requests.size()) * 16);
            requests.push_back(p.bytes);
        } else {
            QCOMPARE(p.way, pcapng::direction::inbound);
            received += p.bytes;
        }
    }
    QCOMPARE(requests.size(), std::size_t(17));
    QCOMPARE(received.size(), 17 * 16);
    for (std::size_t r = 0; r < requests.size(); ++r) {
        const QByteArray echo_and_reply = received.mid(qsizetype(r) * 16, 16);
        QCOMPARE(echo_and_reply.left(8), requests[r]);
        QCOMPARE(record_of(echo_and_reply.mid(8)), int(r));
    }
    QCOMPARE(tshark_lines(file), our_lines(capture));
}

// A site check puts each bus on an interface of its own, named by the bus's port.
void tst_capture::site_has_one_interface_per_bus()
{
    sim_process east;
    sim_process west;
    QVERIFY(east.start({QStringLiteral("--address=1")}));
    QVERIFY(west.start({QStringLiteral("--address=2")}));
    write_file(dir_.filePath(QStringLiteral("site/one.json")), panel_file_text(lorvane::panel(1)));
    write_file(dir_.filePath(QStringLiteral("site/two.json")), panel_file_text(lorvane::panel(2)));
    const QString site =
        write_file(dir_.filePath(QStringLiteral("site/site.json")),
                   site_text(QStringLiteral("plant"),
                             {{QStringLiteral("east"), east.path, {QStringLiteral("one.json")}},
                              {QStringLiteral("west"), west.path, {QStringLiteral("two.json")}}}));
    const QString file = dir_.filePath(QStringLiteral("site.pcapng"));
    const cli_result run =
        run_cli({QStringLiteral("site"), QStringLiteral("check"), site, QStringLiteral("--no-scan"),
                 QStringLiteral("--capture"), file});
    QVERIFY2(run.code == 0, qPrintable(run.err));

    const pcapng::contents capture = parsed(file);
    QVERIFY(capture.comment.contains(QStringLiteral(": site check ")));
    QCOMPARE(capture.interfaces.size(), std::size_t(2));
    QStringList names{capture.interfaces[0].name, capture.interfaces[1].name};
    names.sort();
    QStringList ports{east.path, west.path};
    ports.sort();
    QCOMPARE(names, ports);
    // Each bus's 17 requests on its own interface, each to its own module.
    for (std::uint32_t i = 0; i < 2; ++i) {
        const std::uint8_t address = capture.interfaces[i].name == east.path ? 1 : 2;
        int requests = 0;
        int replies = 0;
        for (const pcapng::packet& p : capture.packets) {
            if (p.interface != i)
                continue;
            QCOMPARE(std::uint8_t(p.bytes[1]), address);
            (p.way == pcapng::direction::outbound ? requests : replies) += 1;
        }
        QCOMPARE(requests, 17);
        QVERIFY(replies >= 1);
    }
    QCOMPARE(tshark_lines(file), our_lines(capture));
}

// SIGKILL in the middle of a chain: the file ends at its last whole block and reads.
void tst_capture::killed_capture_still_reads()
{
    sim_process sim;
    QVERIFY(sim.start({QStringLiteral("--silent-after=5")}));
    const QString file = dir_.filePath(QStringLiteral("killed.pcapng"));
    QProcess cli;
    cli.start(qEnvironmentVariable("LORVANE_CLI"),
              {QStringLiteral("read"), port_of(sim.path), QStringLiteral("--timeout=60000"),
               QStringLiteral("--capture"), file});
    QVERIFY(cli.waitForStarted(5000));
    // Five replies in, then the module is silent and the program waits for the sixth.
    QTRY_VERIFY_WITH_TIMEOUT(traffic(parsed(file)).first >= 6, 10000);
    cli.kill();
    QVERIFY(cli.waitForFinished(5000));
    QCOMPARE(cli.exitStatus(), QProcess::CrashExit);

    const pcapng::contents capture = parsed(file);
    QVERIFY(!capture.truncated);
    QCOMPARE(traffic(capture), std::make_pair(6, qsizetype(5 * 8)));
    QCOMPARE(capture.packets.back().way, pcapng::direction::outbound);
    QCOMPARE(tshark_lines(file), our_lines(capture));
}

// A read that failed on the line, recorded by lorvane-cli: the dissector shows the replies up
// to the record that went unanswered, and a replay of the file fails the same read the same
// way, at that record.
void tst_capture::failed_read_decoded_and_replayed()
{
    const QString file = dir_.filePath(QStringLiteral("failed.pcapng"));
    const QStringList read = {QStringLiteral("read"), QStringLiteral("--timeout=300")};
    cli_result on_site;
    {
        sim_process sim;
        QVERIFY(sim.start({QStringLiteral("--silent-after=5")}));
        on_site = run_cli(read + QStringList{port_of(sim.path), QStringLiteral("--capture"), file});
        on_site.err.replace(sim.path, QStringLiteral("PORT"));
    }
    QCOMPARE(on_site.code, 4);
    QVERIFY2(on_site.err.contains(QLatin1String("record 5 (key 5)")), qPrintable(on_site.err));

    QProcess tshark;
    tshark.start(qEnvironmentVariable("LORVANE_TSHARK"),
                 {QStringLiteral("-X"),
                  QStringLiteral("lua_script:") + qEnvironmentVariable("LORVANE_DISSECTOR"),
                  QStringLiteral("-r"), file, QStringLiteral("-T"), QStringLiteral("fields"),
                  QStringLiteral("-e"), QStringLiteral("lorvane.kind"), QStringLiteral("-e"),
                  QStringLiteral("lorvane.record")});
    QVERIFY(tshark.waitForFinished(30000) && tshark.exitCode() == 0);
    QStringList replies;
    QStringList requests;
    for (const QString& line : QString::fromUtf8(tshark.readAllStandardOutput()).split(u'\n')) {
        const QStringList fields = line.split(u'\t');
        if (fields.size() == 2 && fields[0] == QLatin1String("reply"))
            replies << fields[1];
        else if (fields.size() == 2 && fields[0] == QLatin1String("request"))
            requests << fields[1];
    }
    QCOMPARE(replies.join(u' '), QStringLiteral("0 1 2 3 4"));
    QVERIFY2(requests.size() >= 6 && requests.last() == QLatin1String("5"),
             qPrintable(requests.join(u' ')));

    sim_process replay;
    QVERIFY(replay.start({QStringLiteral("--replay"), file}));
    cli_result at_desk = run_cli(read + QStringList{port_of(replay.path)});
    QCOMPARE(at_desk.code, on_site.code);
    QCOMPARE(at_desk.err.replace(replay.path, QStringLiteral("PORT")), on_site.err);
}

// A line flooding junk: the file stops under its limit, the program says so once, and the
// run ends as it would without a capture.
void tst_capture::limit_stops_the_capture_once()
{
    pty_pair line;
    const QString port = QString::fromStdString(line.slave_path());
    const QString file = dir_.filePath(QStringLiteral("flood.pcapng"));
    const std::vector<std::uint8_t> junk(65536, 0xA5);  // forms no frame
    std::size_t flooded = 0;
    QTimer flood;
    QObject::connect(&flood, &QTimer::timeout, [&] {
        if (flooded < 4u * 1024 * 1024)
            flooded += line.write_some(junk);
        line.read_some(0);  // what the program sends
    });
    flood.start(1);
    const cli_result run = run_cli({QStringLiteral("read"), QStringLiteral("--port"), port,
                                    QStringLiteral("--timeout=3000"), QStringLiteral("--capture"),
                                    file, QStringLiteral("--capture-limit=1")});
    flood.stop();
    QCOMPARE(run.code, EXIT_NO_REPLY);
    QVERIFY2(flooded > 1024u * 1024, "the line did not take the flood");
    const QString said = QStringLiteral("capture stopped at its 1 MiB limit: %1").arg(file);
    QCOMPARE(run.err.count(said), 1);

    const qint64 size = QFileInfo(file).size();
    QVERIFY2(size <= 1024 * 1024 && size > 1024 * 1024 - 70000, qPrintable(QString::number(size)));
    const pcapng::contents capture = parsed(file);
    QVERIFY(!capture.truncated);
    QCOMPARE(tshark_lines(file).size(), qsizetype(capture.packets.size()));
}

// A FIFO or a folder as the capture, or a limit out of range: refused, nothing sent.
void tst_capture::unusable_files_refused_before_sending()
{
    pty_pair line;
    const QString port = QString::fromStdString(line.slave_path());
    const QString fifo = dir_.filePath(QStringLiteral("fifo.pcapng"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    for (const QString& name : {fifo, dir_.path()}) {
        const cli_result run = run_cli({QStringLiteral("read"), QStringLiteral("--port"), port,
                                        QStringLiteral("--capture"), name});
        QCOMPARE(run.code, EXIT_BAD_FILE);
        QVERIFY2(run.err.contains(QStringLiteral("cannot write the capture %1: ").arg(name)) &&
                     run.err.contains(QStringLiteral("nothing was sent")),
                 qPrintable(run.err));
    }
    for (const char* limit : {"0", "4097", "x"}) {
        const cli_result run =
            run_cli({QStringLiteral("scan"), QStringLiteral("--port"), port,
                     QStringLiteral("--capture"), dir_.filePath(QStringLiteral("unused.pcapng")),
                     QStringLiteral("--capture-limit=") + QLatin1String(limit)});
        QCOMPARE(run.code, 1);
        QVERIFY2(run.err.contains(QStringLiteral("--capture-limit")) &&
                     run.err.contains(QStringLiteral("4096")),
                 qPrintable(run.err));
    }
    QVERIFY(line.read_some(100).empty());
    QVERIFY(!QFileInfo::exists(dir_.filePath(QStringLiteral("unused.pcapng"))));
}

// 录制线路… records the open port from the moment it is chosen until it is chosen again or
// the port closes; a file that cannot be written is said in Chinese.
void tst_capture::window_records_until_chosen_again()
{
    sim_process sim;
    QVERIFY(sim.start({}));
    window_fixture w;
    QString answer;
    file_dialog::set_handler(
        [&](QWidget*, file_dialog::purpose, const QString&) { return answer; });
    const auto restore = qScopeGuard([] { file_dialog::set_handler({}); });
    auto* action = w.form->findChild<QAction*>(QStringLiteral("record_line_action"));
    QVERIFY(action && action->isCheckable());
    QVERIFY(!action->isEnabled());
    QVERIFY(w.open_port(sim.path));
    QVERIFY(action->isEnabled());
    const QStringList face = w.snapshot();

    answer = dir_.path();  // a folder: refused, not recording
    action->trigger();
    QVERIFY(!action->isChecked());
    QCOMPARE(w.messages.size(), 1);
    QVERIFY2(w.messages[0].startsWith(QStringLiteral("无法录制到")), qPrintable(w.messages[0]));
    w.messages.clear();

    const QString file = dir_.filePath(QStringLiteral("window.pcapng"));
    answer = file;
    action->trigger();
    QVERIFY(action->isChecked());
    QCOMPARE(w.snapshot(), face);
    w.click(QStringLiteral("Command2"));
    QTRY_COMPARE(w.messages, QStringList{QStringLiteral("全部数据读取完毕")});
    action->trigger();  // chosen again: stops
    QVERIFY(!action->isChecked());
    const std::size_t recorded = parsed(file).packets.size();
    QCOMPARE(traffic(parsed(file)), std::make_pair(17, qsizetype(17 * 8)));
    w.click(QStringLiteral("Command2"));  // not recorded any more
    QTRY_COMPARE(w.messages.size(), 2);
    QCOMPARE(parsed(file).packets.size(), recorded);
    QCOMPARE(parsed(file).interfaces.at(0).name, sim.path);

    // Closing the port ends a recording too.
    const QString second = dir_.filePath(QStringLiteral("closed.pcapng"));
    answer = second;
    action->trigger();
    QVERIFY(action->isChecked());
    w.click(QStringLiteral("open_comm"));
    QVERIFY(!w.form->link().is_open());
    QVERIFY(!action->isChecked() && !action->isEnabled());
    QCOMPARE(tshark_lines(second), QStringList{});
    QCOMPARE(parsed(second).interfaces.size(), std::size_t(1));
}

QTEST_MAIN(tst_capture)
#include "tst_capture.moc"
