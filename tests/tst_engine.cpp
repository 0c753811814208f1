// The engine that both front ends drive, through its public classes over a real
// pseudo-terminal: a module session's events and outcomes against the module logic in
// this test, the comparison of two configurations, and the bus scan against lorvane-sim
// under the line conditions it can play.
#include "bus_health.h"
#include "bus_scan.h"
#include "config_compare.h"
#include "module_peer.h"
#include "module_session.h"
#include "scripted_device.h"
#include "sim_process.h"

#include <QSignalSpy>
#include <QTest>

using namespace lorvane;

namespace {

panel_config sample_config(std::uint8_t address)
{
    panel_config config;
    config.module_address = address;
    config.refresh_period = 0xFF;
    for (int k = 0; k < KEY_COUNT; ++k)
        config.keys[std::size_t(k)] = {std::uint8_t(200 + k), std::uint8_t(k * 3),
                                       operation_code(k % 5)};
    return config;
}

session_outcome outcome_of(const QSignalSpy& finished)
{
    return finished.last().at(0).value<session_outcome>();
}

}  // namespace

class tst_engine : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void session_writes_and_reads_back();
    void session_outcomes();
    void sessions_on_one_line_take_turns();
    void comparison_lists_each_difference();
    void scan_finds_exactly_the_modules_data();
    void scan_finds_exactly_the_modules();
    void scan_stops_at_once();
    void scan_junk_at_chosen_moments_data();
    void scan_junk_at_chosen_moments();
    void scan_retries_silent_addresses();
    void diagnosis_names_what_the_counters_show();
    void health_check_reads_each_module_found();
};

void tst_engine::session_writes_and_reads_back()
{
    module_peer peer(9);
    serial_link link;
    QCOMPARE(link.open(peer.path()), std::nullopt);
    module_session session(link);
    QSignalSpy progress(&session, &module_session::progress);
    QSignalSpy finished(&session, &module_session::finished);

    const panel_config written = sample_config(9);
    session.start_write(written);
    QCOMPARE(finished.size(), 0);  // never from inside start
    QVERIFY(finished.wait(5000));
    QCOMPARE(outcome_of(finished), session_outcome::done);
    QCOMPARE(progress.size(), RECORD_COUNT);
    QCOMPARE(progress.last().at(0).toInt(), RECORD_COUNT);

    session.start_read(9);
    QVERIFY(finished.wait(5000));
    QCOMPARE(outcome_of(finished), session_outcome::done);
    QVERIFY(compare_configs(written, session.config()).empty());
    QCOMPARE(session.config().module_address, std::uint8_t{9});
    QCOMPARE(peer.requests().size(), std::size_t{2 * RECORD_COUNT});
}

void tst_engine::session_outcomes()
{
    // No reply for record 5, each request sent twice (one retry); a reply from another
    // module on the way is ignored and named as such.
    {
        module_peer peer;
        peer.module().set_silent_after(5);
        serial_link link;
        QCOMPARE(link.open(peer.path()), std::nullopt);
        module_session session(link, {std::chrono::milliseconds(150), 1});
        QSignalSpy finished(&session, &module_session::finished);
        QSignalSpy ignored(&session, &module_session::reply_ignored);
        peer.on_request = [&](const frame& request) {
            if (request[POS_RECORD] == 5)
                peer.send_frame(make_reply(2, FUNC_WRITE, 5, 0, 0, 0));
        };
        session.start_write(sample_config(1));
        QVERIFY(finished.wait(5000));
        QCOMPARE(outcome_of(finished), session_outcome::no_reply);
        QCOMPARE(session.failed_record(), 5);
        QCOMPARE(peer.requests().size(), std::size_t{5 + 2});
        QVERIFY(!ignored.isEmpty());
        QCOMPARE(ignored.first().at(1).value<reply_fit>(), reply_fit::other_address);
    }
    // Stopped mid-transfer: nothing more is sent, and the outcome says so once.
    {
        module_peer peer;
        serial_link link;
        QCOMPARE(link.open(peer.path()), std::nullopt);
        module_session session(link);
        QSignalSpy finished(&session, &module_session::finished);
        peer.on_request = [&](const frame& request) {
            if (request[POS_RECORD] == 3)
                session.stop();
        };
        session.start_read(1);
        QVERIFY(finished.wait(5000));
        QCOMPARE(outcome_of(finished), session_outcome::stopped);
        QTest::qWait(100);
        QCOMPARE(peer.requests().size(), std::size_t{4});
        QCOMPARE(finished.size(), 1);
    }
    // The far end hangs up: the port is lost; started on the closed port, it is closed.
    {
        module_peer peer;
        serial_link link;
        QCOMPARE(link.open(peer.path()), std::nullopt);
        module_session session(link);
        QSignalSpy finished(&session, &module_session::finished);
        peer.on_request = [&](const frame& request) {
            if (request[POS_RECORD] == 2)
                peer.hang_up();
        };
        session.start_write(sample_config(1));
        QVERIFY(finished.wait(5000));
        QCOMPARE(outcome_of(finished), session_outcome::port_lost);
        session.start_read(1);
        QVERIFY(finished.wait(5000));
        QCOMPARE(outcome_of(finished), session_outcome::port_closed);
    }
}

void tst_engine::sessions_on_one_line_take_turns()
{
    // A read and a write started together on one line: the read runs to its end first and
    // sends read requests only; a write reply on the line never moves it.
    module_peer peer(4);
    serial_link link;
    QCOMPARE(link.open(peer.path()), std::nullopt);
    module_session reader(link);
    module_session writer(link);
    QSignalSpy read_done(&reader, &module_session::finished);
    QSignalSpy write_done(&writer, &module_session::finished);
    peer.on_request = [&](const frame& request) {
        if (request[POS_FUNCTION] == FUNC_READ && request[POS_RECORD] == 10)
            peer.send_frame(make_reply(4, FUNC_WRITE, 10, 0, 0, 0));
    };
    const panel_config written = sample_config(4);
    reader.start_read(4);
    writer.start_write(written);
    QVERIFY(write_done.wait(5000));
    QCOMPARE(read_done.size(), 1);
    QCOMPARE(outcome_of(read_done), session_outcome::done);
    QCOMPARE(outcome_of(write_done), session_outcome::done);
    QCOMPARE(peer.requests().size(), std::size_t{2 * RECORD_COUNT});
    for (int i = 0; i < RECORD_COUNT; ++i) {
        QCOMPARE(peer.requests()[std::size_t(i)][POS_FUNCTION], FUNC_READ);
        QCOMPARE(peer.requests()[std::size_t(RECORD_COUNT + i)][POS_FUNCTION], FUNC_WRITE);
    }
    QVERIFY(compare_configs(panel_config{}, reader.config()).empty());  // the defaults, read
    reader.start_read(4);
    QVERIFY(read_done.wait(5000));
    QVERIFY(compare_configs(written, reader.config()).empty());
}

void tst_engine::comparison_lists_each_difference()
{
    const panel_config expected = sample_config(1);
    QVERIFY(compare_configs(expected, expected).empty());
    panel_config found = expected;
    found.module_address = 2;  // names the module; not one of its records
    found.refresh_period = 7;
    found.keys[2].line = 5;
    found.keys[15].operation = 3;
    found.keys[15].address = 0;
    const std::vector<config_difference> want{
        {0, config_field::refresh_period, 0xFF, 7},
        {3, config_field::key_line, 6, 5},
        {16, config_field::key_address, 215, 0},
        {16, config_field::key_operation, 0, 3},
    };
    QCOMPARE(compare_configs(expected, found), want);
}

void tst_engine::scan_finds_exactly_the_modules_data()
{
    QTest::addColumn<QStringList>("line");
    const QStringList paced{QStringLiteral("--pace-baud=9600")};
    QTest::newRow("prompt") << paced;
    QTest::newRow("latency 16 ms") << paced + QStringList{QStringLiteral("--latency=16")};
    QTest::newRow("turnaround 40 ms")
        << paced + QStringList{QStringLiteral("--turnaround=40"), QStringLiteral("--latency=16")};
    QTest::newRow("half duplex") << paced + QStringList{QStringLiteral("--half-duplex")};
    QTest::newRow("all three") << paced + QStringList{QStringLiteral("--latency=16"),
                                                      QStringLiteral("--turnaround=5"),
                                                      QStringLiteral("--half-duplex")};
    // A reply that meets the next probe from its first byte on names no module.
    QTest::newRow("turnaround 12 ms, half duplex")
        << paced + QStringList{QStringLiteral("--turnaround=12"), QStringLiteral("--half-duplex")};
    QTest::newRow("slow, half duplex")
        << paced + QStringList{QStringLiteral("--latency=16"), QStringLiteral("--turnaround=40"),
                               QStringLiteral("--half-duplex")};
}

void tst_engine::scan_finds_exactly_the_modules()
{
    QFETCH(QStringList, line);
    sim_process sim;
    QVERIFY(sim.start(line + QStringList{QStringLiteral("--address=0,77,78,255")}));
    serial_link link;
    QCOMPARE(link.open(sim.path), std::nullopt);
    bus_scan scan(link);
    QSignalSpy found(&scan, &bus_scan::module_found);
    QSignalSpy finished(&scan, &bus_scan::finished);
    scan.start({});
    QVERIFY(finished.wait(30000));
    QCOMPARE(finished.last().at(0).value<scan_outcome>(), scan_outcome::done);
    QList<int> addresses;
    for (const auto& module : found)
        addresses << module.at(0).toInt();
    std::sort(addresses.begin(), addresses.end());
    QCOMPARE(addresses, (QList<int>{0, 77, 78, 255}));
    QCOMPARE(found.first().at(1).toInt(), 50);  // the default refresh period
}

void tst_engine::scan_stops_at_once()
{
    sim_process sim;
    QVERIFY(sim.start({QStringLiteral("--pace-baud=9600")}));
    serial_link link;
    QCOMPARE(link.open(sim.path), std::nullopt);
    bus_scan scan(link);
    QSignalSpy finished(&scan, &bus_scan::finished);
    int probes = 0;
    int progress_after_end = 0;
    connect(&link, &serial_link::frame_sent, this, [&] {
        if (++probes == 10)
            scan.stop();
    });
    connect(&scan, &bus_scan::progress, this, [&] { progress_after_end += int(finished.size()); });
    scan.start({});
    QVERIFY(finished.wait(5000));
    QCOMPARE(finished.last().at(0).value<scan_outcome>(), scan_outcome::stopped);
    QTest::qWait(200);
    QCOMPARE(probes, 10);
    QCOMPARE(finished.size(), 1);
    QCOMPARE(progress_after_end, 0);  // nothing is said after the end
    QVERIFY(!scan.running());
}

void tst_engine::scan_junk_at_chosen_moments_data()
{
    // Module 20 turns around in 40 ms behind a 16 ms latency timer; its one reply to the pass
    // arrives garbled 73 ms after its probe, and the garbage happens to hold a reply header
    // and the address of a probe sent earlier (17, where no module is).
    QTest::addColumn<std::vector<std::uint8_t>>("junk");
    QTest::newRow("22 NN F1 00 ...")
        << std::vector<std::uint8_t>{0x22, 17, 0xF1, 0x00, 0x13, 0x37, 0x42, 0x99};
    QTest::newRow("22 NN noise") << std::vector<std::uint8_t>{0x22, 17,   0x5A, 0x01,
                                                              0xC3, 0x77, 0x10, 0x04};
}

void tst_engine::scan_junk_at_chosen_moments()
{
    QFETCH(std::vector<std::uint8_t>, junk);
    auto* device = new scripted_device;
    serial_link link(std::unique_ptr<serial_device>(device), nullptr);
    QCOMPARE(link.open(QStringLiteral("/dev/ttyScripted")), std::nullopt);
    int probes_of_20 = 0;
    device->on_send = [&](const frame& request) {
        if (request[POS_ADDRESS] != 20)
            return;
        const frame reply = make_reply(20, FUNC_READ, 0, 50, 0, 0);
        if (++probes_of_20 == 1)
            device->deliver_in(73, junk);
        else
            device->deliver_in(60, {reply.begin(), reply.end()});
    };
    bus_scan scan(link);
    QSignalSpy finished(&scan, &bus_scan::finished);
    scan.start({0, 40});
    QVERIFY(finished.wait(20000));
    QCOMPARE(finished.last().at(0).value<scan_outcome>(), scan_outcome::done);
    QCOMPARE(scan.found().size(), std::size_t{1});
    QCOMPARE(scan.found()[0].address, 20);
    QCOMPARE(scan.garbled(), 0);  // the junk was module 20's reply: no doubt is left
    QCOMPARE(probes_of_20, 2);
}

void tst_engine::scan_retries_silent_addresses()
{
    // Module 30's only reply in the pass is lost: no reply, no junk. Without retries it
    // stays unfound; with --retries 1 a second pass over the silent addresses finds it.
    for (const int retries : {0, 1}) {
        auto* device = new scripted_device;
        serial_link link(std::unique_ptr<serial_device>(device), nullptr);
        QCOMPARE(link.open(QStringLiteral("/dev/ttyScripted")), std::nullopt);
        int probes_of_30 = 0;
        device->on_send = [&](const frame& request) {
            if (request[POS_ADDRESS] == 30 && ++probes_of_30 > 1) {
                const frame reply = make_reply(30, FUNC_READ, 0, 77, 0, 0);
                device->deliver_in(20, {reply.begin(), reply.end()});
            }
        };
        bus_scan scan(link);
        QSignalSpy finished(&scan, &bus_scan::finished);
        QSignalSpy progress(&scan, &bus_scan::progress);
        scan.start({20, 40, DEFAULT_SCAN_WAIT, retries});
        QVERIFY(finished.wait(20000));
        QCOMPARE(scan.found().size(), std::size_t(retries));
        QCOMPARE(probes_of_30, 1 + retries);
        if (retries == 1) {
            QCOMPARE(scan.found()[0].refresh_period, 77);
            QCOMPARE(device->sent.size(), std::size_t{2 * 21});  // a second pass over all 21
        }
        // The progress covers every probe, and never goes past its total.
        QCOMPARE(progress.last().at(0).toInt(), int(device->sent.size()));
        QCOMPARE(progress.last().at(1).toInt(), int(device->sent.size()));
        for (const auto& step : progress)
            QVERIFY(step.at(0).toInt() <= step.at(1).toInt());
    }
}

void tst_engine::diagnosis_names_what_the_counters_show()
{
    // A module read `n` times, `ok` of them answered cleanly after `reply_ms` each, the rest
    // in trouble: garbled (and given up) or silent.
    const auto module = [](int address, int n, int ok, double reply_ms, bool garbled = false) {
        module_traffic m;
        m.address = address;
        m.exchanges = n;
        m.confirmed = ok;
        m.timeouts = n - ok;
        m.troubled = n - ok;
        m.garbled = garbled ? n - ok : 0;
        m.reply_ms.assign(std::size_t(ok), reply_ms);
        return m;
    };
    const double prompt = FRAME_LINE_MS + 1.0;
    const auto clean_bus = [&] {
        line_health h;
        h.modules = {module(1, 20, 20, prompt), module(2, 20, 20, prompt + 0.5),
                     module(3, 20, 20, prompt + 0.2)};
        h.line.seconds = 5;
        h.line.idle_seconds = 1;
        h.line.requests_sent = 300;
        return h;
    };
    const auto kinds = [](const line_health& h) {
        std::vector<std::pair<finding_kind, int>> found;
        for (const health_finding& f : diagnose(h, true))
            found.emplace_back(f.kind, f.address.value_or(-1));
        return found;
    };
    using found = std::vector<std::pair<finding_kind, int>>;

    QCOMPARE(kinds(clean_bus()), found{});
    QCOMPARE(diagnose(clean_bus(), false), std::vector<health_finding>{});

    // Address 2 garbled every time while 1 and 3 answer; alone on its bus it is the speed.
    line_health h = clean_bus();
    h.modules[1] = module(2, 20, 0, 0, true);
    h.line.unframed_bytes = 20 * 9;
    QCOMPARE(kinds(h), (found{{finding_kind::shared_address, 2}}));
    h.modules = {h.modules[1]};
    QCOMPARE(kinds(h), (found{{finding_kind::wrong_speed, -1}}));

    // Noise on the quiet line: its rate; a single stray byte is no noise. On a noisy line
    // garbled replies are put down to the noise (and the module's trouble), not to a twin.
    h = clean_bus();
    h.line.idle_bytes = h.line.idle_unframed_bytes = h.line.unframed_bytes = 1;
    QCOMPARE(kinds(h), found{});
    h.line.idle_bytes = h.line.idle_unframed_bytes = h.line.unframed_bytes = 12;
    QCOMPARE(diagnose(h, true).at(0).figure, 12.0);  // per second of the 1 s quiet
    QCOMPARE(diagnose(h, false).at(0).figure, 12.0 / 5);
    h.modules[1] = module(2, 20, 0, 0, true);
    QCOMPARE(kinds(h), (found{{finding_kind::idle_noise, -1}}));

    // An echoing adapter.
    h = clean_bus();
    h.line.echoed_requests = 60;
    QCOMPARE(kinds(h), (found{{finding_kind::echo, -1}}));

    // Slow: 10 ms above the frames' own time is slow, 9.9 ms is not; the bus as a whole
    // (with its adapter's latency timer) or one module alone.
    h = clean_bus();
    for (module_traffic& m : h.modules)
        m.reply_ms.assign(20, FRAME_LINE_MS + 9.9);
    h.line.latency_timer_ms = 16;
    QCOMPARE(kinds(h), found{});
    for (module_traffic& m : h.modules)
        m.reply_ms.assign(20, FRAME_LINE_MS + 10.0);
    const std::vector<health_finding> slow = diagnose(h, true);
    QCOMPARE(slow.size(), std::size_t{1});
    QCOMPARE(slow[0].kind, finding_kind::slow_replies);
    QCOMPARE(slow[0].address, std::nullopt);
    QCOMPARE(slow[0].figure, FRAME_LINE_MS + 10.0);
    QCOMPARE(slow[0].latency_timer_ms, std::optional<int>(16));
    h = clean_bus();
    h.modules[2].reply_ms.assign(20, FRAME_LINE_MS + 40);
    QCOMPARE(kinds(h), (found{{finding_kind::slow_replies, 3}}));

    // Nothing answers: no module, with noise as well, but junk that answers requests beyond
    // what the noise explains is a module at another speed.
    h = clean_bus();
    h.modules.clear();
    QCOMPARE(kinds(h), (found{{finding_kind::no_module, -1}}));
    h.line.idle_bytes = h.line.idle_unframed_bytes = 10;
    h.line.unframed_bytes = 10 + 40;  // 10 B/s over the 4 s of requests
    QCOMPARE(kinds(h), (found{{finding_kind::idle_noise, -1}, {finding_kind::no_module, -1}}));
    h.line.unframed_bytes = 10 + 2 * 40 + 1;
    QCOMPARE(kinds(h), (found{{finding_kind::idle_noise, -1}, {finding_kind::wrong_speed, -1}}));

    // Unstable: above 5 % of the exchanges in trouble; 5 % is not.
    h = clean_bus();
    h.modules[0] = module(1, 20, 19, prompt);
    QCOMPARE(kinds(h), found{});
    h.modules[0] = module(1, 20, 18, prompt, true);
    QCOMPARE(kinds(h), (found{{finding_kind::unstable, 1}}));
    QCOMPARE(diagnose(h, true).at(0).figure, 10.0);
}

void tst_engine::health_check_reads_each_module_found()
{
    // A clean line gives no finding; one whose adapter holds replies 16 ms is slow. Each
    // module found is read K times; the scan's probes are not among its samples.
    for (const bool slow : {false, true}) {
        sim_process sim;
        QStringList line{QStringLiteral("--pace-baud=9600"), QStringLiteral("--address=3,9")};
        if (slow)
            line << QStringLiteral("--latency=16");
        QVERIFY(sim.start(line));
        serial_link link;
        QCOMPARE(link.open(sim.path), std::nullopt);
        health_check check(link);
        QSignalSpy finished(&check, &health_check::finished);
        QList<health_stage> stages;
        connect(&check, &health_check::progress, this, [&](health_stage stage, int, int) {
            if (stages.isEmpty() || stages.last() != stage)
                stages << stage;
        });
        health_options options;
        options.first = 0;
        options.last = 15;
        options.samples = 5;
        options.listen = std::chrono::milliseconds(200);
        check.start(options);
        QVERIFY(check.busy());
        QVERIFY(finished.wait(20000));
        QCOMPARE(finished.size(), 1);
        QCOMPARE(finished.last().at(0).value<operation_end>(), operation_end::done);
        QVERIFY(!check.busy());
        QCOMPARE(stages, (QList<health_stage>{health_stage::scanning, health_stage::sampling,
                                              health_stage::listening}));
        const health_report& report = check.report();
        QCOMPARE(report.measured.modules.size(), std::size_t{2});
        for (const module_traffic& m : report.measured.modules) {
            QCOMPARE(m.exchanges, 5);
            QCOMPARE(m.confirmed, 5);
        }
        QCOMPARE(report.measured.modules[1].address, 9);
        QVERIFY2(report.measured.line.idle_seconds >= 0.2,
                 qPrintable(QString::number(report.measured.line.idle_seconds)));
        QVERIFY(report.measured.line.requests_sent >= 16 + 10);  // the scan's probes counted
        if (!slow) {
            QCOMPARE(report.findings, std::vector<health_finding>{});
        } else {
            QCOMPARE(report.findings.size(), std::size_t{1});
            QCOMPARE(report.findings[0].kind, finding_kind::slow_replies);
        }
    }
    // Stopped at once: finished exactly once, with stopped.
    sim_process sim;
    QVERIFY(sim.start({QStringLiteral("--pace-baud=9600")}));
    serial_link link;
    QCOMPARE(link.open(sim.path), std::nullopt);
    health_check check(link);
    QSignalSpy finished(&check, &health_check::finished);
    check.start({});
    QTest::qWait(100);
    check.stop();
    QCOMPARE(finished.size(), 1);
    QCOMPARE(finished.last().at(0).value<operation_end>(), operation_end::stopped);
    QTest::qWait(200);
    QCOMPARE(finished.size(), 1);
}

QTEST_GUILESS_MAIN(tst_engine)
#include "tst_engine.moc"
