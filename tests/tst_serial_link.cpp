// The line's owner: over a real pseudo-terminal, what goes out on the line, how replies are
// cut from fragments and bursts, the discard before each send, and a port that goes away
// underneath; over a scripted device, that operations run one at a time in order, hear only
// what arrives while they run, and finish exactly once however the line ends.
#include "module_peer.h"
#include "recording_operation.h"
#include "scripted_device.h"
#include "serial_link.h"

#include <QSignalSpy>
#include <QSocketNotifier>
#include <QTest>
#include <QThread>

#include <algorithm>

#include <sys/resource.h>

using namespace lorvane;

namespace {

std::vector<std::uint8_t> bytes_of(const frame& f)
{
    return {f.begin(), f.end()};
}

// CPU time this process has used, user + system, in milliseconds.
double cpu_ms()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval& t) {
        return double(t.tv_sec) * 1e3 + double(t.tv_usec) / 1e3;
    };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

const frame WRITE_REPLY_0 = make_reply(1, FUNC_WRITE, 0, 50, 0, 0);

operation_end end_of(const QSignalSpy& finished)
{
    return finished.last().at(0).value<operation_end>();
}

struct scripted_line
{
    scripted_device* device = new scripted_device;
    serial_link link{std::unique_ptr<serial_device>(device), nullptr};
    scripted_line() { link.open(QStringLiteral("/dev/ttyScripted")); }
};

}  // namespace

class tst_serial_link : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void requests_go_out_byte_for_byte();
    void fragmented_reply_is_cut_whole();
    void right_reply_is_never_kept_behind_another();
    void rejected_bytes_are_no_reply();
    void send_discards_everything_waiting();
    void bytes_discarded_before_qt_reads_them_lose_no_port();
    void far_end_hanging_up_closes_the_port_once();
    void low_latency_request_is_harmless_on_a_pty();
    void operations_run_one_at_a_time_in_order();
    void closing_or_losing_the_port_finishes_every_operation_once();
    void health_counts_what_the_traffic_shows();
};

void tst_serial_link::requests_go_out_byte_for_byte()
{
    module_peer peer;
    peer.answering = false;
    serial_link link;
    QCOMPARE(link.open(peer.path()), std::nullopt);
    recording_operation op;
    op.requests = {make_request(FUNC_WRITE, 1, 0, 50, 0, 0),
                   make_request(FUNC_WRITE, 1, 1, 1, 1, 1), make_request(FUNC_READ, 1, 0, 0, 0, 0),
                   make_request(FUNC_READ, 1, 16, 0, 0, 0)};
    QVERIFY(link.claim(op));
    QVERIFY(peer.wait_for_requests(4));
    QCOMPARE(hex(peer.requests()[0]), QStringLiteral("55 01 F0 00 32 00 00 78"));
    QCOMPARE(hex(peer.requests()[1]), QStringLiteral("55 01 F0 01 01 01 01 4A"));
    QCOMPARE(hex(peer.requests()[2]), QStringLiteral("55 01 F1 00 00 00 00 47"));
    QCOMPARE(hex(peer.requests()[3]), QStringLiteral("55 01 F1 10 00 00 00 57"));
    QCOMPARE(peer.raw().size(), std::size_t{32});  // nothing else on the line

    // Closed, the line sends nothing for anyone.
    link.close();
    QVERIFY(!op.transmit(make_request(FUNC_WRITE, 1, 0, 50, 0, 0)));
    QVERIFY(!link.claim(op));
    QTest::qWait(100);
    QCOMPARE(peer.raw().size(), std::size_t{32});
}

void tst_serial_link::fragmented_reply_is_cut_whole()
{
    module_peer peer;
    serial_link link;
    QSignalSpy unclaimed(&link, &serial_link::unclaimed_reply);
    QCOMPARE(link.open(peer.path()), std::nullopt);
    const auto reply = bytes_of(WRITE_REPLY_0);
    peer.send_raw({reply.begin(), reply.begin() + 3});
    QTest::qWait(50);
    QCOMPARE(unclaimed.size(), 0);
    peer.send_raw({reply.begin() + 3, reply.end()});
    QTRY_COMPARE(unclaimed.size(), 1);
    QCOMPARE(hex(unclaimed.last().at(0).value<frame>()), QStringLiteral("22 01 F0 00 32 00 00 45"));
    QVERIFY(unclaimed.last().at(1).toBool());  // in step

    // Byte by byte, with the event loop running between bytes.
    for (std::uint8_t b : bytes_of(make_reply(1, FUNC_READ, 9, 1, 9, 3))) {
        peer.send_raw({b});
        QTest::qWait(5);
    }
    QTRY_COMPARE(unclaimed.size(), 2);
    QCOMPARE(hex(unclaimed.last().at(0).value<frame>()), hex(make_reply(1, FUNC_READ, 9, 1, 9, 3)));
}

void tst_serial_link::right_reply_is_never_kept_behind_another()
{
    // A duplicate and the next reply in one chunk, as a USB adapter's latency timer hands
    // them over: the operation hears both at once, and may act on the second.
    scripted_line line;
    recording_operation op;
    QVERIFY(line.link.claim(op));
    auto two = bytes_of(WRITE_REPLY_0);
    const auto second = bytes_of(make_reply(1, FUNC_WRITE, 1, 1, 1, 1));
    two.insert(two.end(), second.begin(), second.end());
    line.device->deliver(two);
    QCOMPARE(op.replies().size(), std::size_t{2});
    QCOMPARE(hex(op.replies()[1]), hex(make_reply(1, FUNC_WRITE, 1, 1, 1, 1)));

    // A send while taking the first discards the second with everything received so far.
    op.items.clear();
    op.on_item = [&](const frame_stream::item&) {
        op.transmit(make_request(FUNC_READ, 1, 2, 0, 0, 0));
    };
    line.device->deliver(two);
    QCOMPARE(op.items.size(), std::size_t{1});
}

void tst_serial_link::rejected_bytes_are_no_reply()
{
    scripted_line line;
    recording_operation op;
    QVERIFY(line.link.claim(op));
    frame bad_sum = WRITE_REPLY_0;
    bad_sum[POS_CHECKSUM] = static_cast<std::uint8_t>(bad_sum[POS_CHECKSUM] + 1);
    line.device->deliver(bad_sum);
    line.device->deliver(make_request(FUNC_WRITE, 1, 0, 50, 0, 0));  // an echoed request
    line.device->deliver(std::vector<std::uint8_t>{0x00});
    QVERIFY(op.replies().empty());
    // A reply behind three stray bytes is found, but not in step with its exchange.
    op.transmit(make_request(FUNC_WRITE, 1, 0, 50, 0, 0));
    op.items.clear();
    auto late = std::vector<std::uint8_t>{0x22, 0x01, 0xF1};
    const auto reply = bytes_of(WRITE_REPLY_0);
    late.insert(late.end(), reply.begin(), reply.end());
    line.device->deliver(late);
    QCOMPARE(op.replies().size(), std::size_t{1});
    QVERIFY(!op.items.back().in_step());

    // Stray bytes that pass as an echo out of step, overlapping the reply at the next step:
    // the reply wins.
    op.transmit(make_request(FUNC_READ, 1, 0, 0, 0, 0));
    op.items.clear();
    line.device->deliver(std::vector<std::uint8_t>{0x00, 0x00, 0x00, 0x55, 0x79, 0x00, 0x00, 0x00,
                                                   0x22, 0x01, 0xF1, 0x00, 0xC8, 0x00, 0x00, 0xDC});
    QCOMPARE(op.replies().size(), std::size_t{1});
    QCOMPARE(hex(op.replies()[0]), hex(make_reply(1, FUNC_READ, 0, 200, 0, 0)));
    QVERIFY(op.items.back().in_step());
}

void tst_serial_link::send_discards_everything_waiting()
{
    module_peer peer;
    peer.answering = false;
    serial_link link;
    QCOMPARE(link.open(peer.path()), std::nullopt);
    recording_operation op;
    QVERIFY(link.claim(op));
    // Five stray bytes reach Qt's own buffer and the stream's tail ...
    peer.send_raw({0x22, 0x01, 0xF0, 0x07, 0x99});
    QTest::qWait(50);
    // ... and two more reach the driver while the event loop does not run, so Qt has not
    // seen them. Seven strays in all: any survivor would put the reply out of step.
    peer.send_raw({0x11, 0x22});
    QThread::msleep(30);
    op.items.clear();
    QVERIFY(op.transmit(make_request(FUNC_WRITE, 1, 0, 50, 0, 0)));
    QVERIFY(peer.wait_for_requests(1));
    peer.send_frame(WRITE_REPLY_0);
    QTRY_COMPARE(op.replies().size(), std::size_t{1});
    QCOMPARE(op.items.size(), std::size_t{1});
    QVERIFY(op.items[0].in_step());
    QCOMPARE(hex(op.replies()[0]), hex(WRITE_REPLY_0));
}

void tst_serial_link::bytes_discarded_before_qt_reads_them_lose_no_port()
{
    // Noise arrives, and in the same pass of the event loop, before Qt reads it, a send
    // discards it: Qt then finds nothing to read where the system said there was. That is no
    // lost port. A second notifier, ready at the same moment, does the send; it is set up
    // before the port's in even rounds and after it in odd ones, so both orders are tried.
    for (int round = 0; round < 10; ++round) {
        module_peer peer;
        peer.answering = false;
        serial_link link;
        QSignalSpy lost(&link, &serial_link::port_lost);
        int fds[2];
        QVERIFY(::pipe(fds) == 0);
        recording_operation op;
        std::optional<QSocketNotifier> sender;
        const auto watch = [&] {
            sender.emplace(fds[0], QSocketNotifier::Read);
            connect(&*sender, &QSocketNotifier::activated, this, [&] {
                sender->setEnabled(false);
                op.transmit(make_request(FUNC_WRITE, 1, 0, 50, 0, 0));
            });
        };
        if (round % 2 == 0)
            watch();
        QCOMPARE(link.open(peer.path()), std::nullopt);
        if (round % 2 == 1)
            watch();
        QVERIFY(link.claim(op));
        peer.send_raw({0x22, 0x99, 0x13});
        QVERIFY(::write(fds[1], "x", 1) == 1);
        QThread::msleep(20);
        QVERIFY(peer.wait_for_requests(1));
        QTest::qWait(20);
        sender.reset();
        ::close(fds[0]);
        ::close(fds[1]);
        QVERIFY2(lost.isEmpty(), qPrintable(QString::number(round)));
        QVERIFY(link.is_open());
    }
}

void tst_serial_link::far_end_hanging_up_closes_the_port_once()
{
    serial_link link;
    QSignalSpy lost(&link, &serial_link::port_lost);
    QSignalSpy closed(&link, &serial_link::closed);
    for (int round = 0; round < 3; ++round) {
        module_peer peer;
        QCOMPARE(link.open(peer.path()), std::nullopt);
        recording_operation op;
        QSignalSpy finished(&op, &line_operation::finished);
        op.requests = {make_request(FUNC_READ, 1, 0, 0, 0, 0)};
        peer.answering = false;
        QVERIFY(link.claim(op));
        QVERIFY(peer.wait_for_requests(1));
        peer.hang_up();
        QTRY_COMPARE(lost.size(), round + 1);
        QVERIFY(!link.is_open());
        QCOMPARE(closed.size(), round + 1);
        QVERIFY(lost.last()[0].toString().contains(peer.path()));
        QCOMPARE(finished.size(), 1);
        QCOMPARE(end_of(finished), operation_end::port_lost);

        // No busy loop afterwards: half a second of event processing costs little CPU.
        const double before = cpu_ms();
        QTest::qWait(500);
        QVERIFY2(cpu_ms() - before < 250.0, qPrintable(QString::number(cpu_ms() - before)));
        QCOMPARE(lost.size(), round + 1);
    }

    // A working port opens afterwards and carries a full exchange.
    module_peer peer;
    QCOMPARE(link.open(peer.path()), std::nullopt);
    recording_operation op;
    op.requests = {make_request(FUNC_READ, 1, 4, 0, 0, 0)};
    QVERIFY(link.claim(op));
    QTRY_COMPARE(op.replies().size(), std::size_t{1});
    QCOMPARE(hex(op.replies()[0]), hex(make_reply(1, FUNC_READ, 4, 1, 4, 1)));
}

void tst_serial_link::low_latency_request_is_harmless_on_a_pty()
{
    // Pseudo-terminals refuse the low-latency setting; opening must still succeed.
    module_peer peer;
    serial_link link;
    QCOMPARE(link.open(peer.path()), std::nullopt);
    QVERIFY(link.is_open());
    QCOMPARE(link.port_name(), peer.path());
}

void tst_serial_link::operations_run_one_at_a_time_in_order()
{
    scripted_line line;
    recording_operation first, second, third;
    first.requests = {make_request(FUNC_READ, 1, 0, 0, 0, 0)};
    second.requests = {make_request(FUNC_READ, 2, 0, 0, 0, 0)};
    third.requests = {make_request(FUNC_READ, 3, 0, 0, 0, 0)};
    QSignalSpy first_done(&first, &line_operation::finished);
    first.submit(line.link);
    second.submit(line.link);
    third.submit(line.link);
    QVERIFY(!first.running());  // never from inside the submission
    QTRY_VERIFY(first.running());
    QVERIFY(second.busy() && !second.running());
    QVERIFY(!line.link.claim(third));  // the line is taken
    QCOMPARE(line.device->sent.size(), std::size_t{1});

    // What arrives while `first` runs is first's alone.
    line.device->deliver(make_reply(1, FUNC_READ, 0, 50, 0, 0));
    QCOMPARE(first.replies().size(), std::size_t{1});
    QVERIFY(second.items.empty());
    third.stop();  // a queued one may be stopped before it runs: it never sends
    first.stop();
    first.stop();
    QCOMPARE(first_done.size(), 1);
    QTRY_VERIFY(second.running());
    QCOMPARE(line.device->sent.size(), std::size_t{2});
    QCOMPARE(hex(line.device->sent[1]), hex(make_request(FUNC_READ, 2, 0, 0, 0, 0)));
    second.stop();
    QTest::qWait(20);
    QCOMPARE(line.device->sent.size(), std::size_t{2});
    QVERIFY(line.link.idle());

    // With nothing running, a reply is offered to whoever listens.
    QSignalSpy unclaimed(&line.link, &serial_link::unclaimed_reply);
    line.device->deliver(make_reply(1, FUNC_READ, 0, 50, 0, 0));
    QCOMPARE(unclaimed.size(), 1);
    QCOMPARE(first.replies().size(), std::size_t{1});
}

void tst_serial_link::closing_or_losing_the_port_finishes_every_operation_once()
{
    for (const bool lose : {false, true}) {
        scripted_line line;
        recording_operation running, queued;
        QSignalSpy running_done(&running, &line_operation::finished);
        QSignalSpy queued_done(&queued, &line_operation::finished);
        QVERIFY(line.link.claim(running));
        queued.submit(line.link);
        if (lose) {
            line.device->lose();
            line.device->lose();  // may come more than once
        } else {
            line.link.close();
        }
        QTRY_COMPARE(running_done.size(), 1);
        QCOMPARE(queued_done.size(), 1);
        const operation_end expected = lose ? operation_end::port_lost : operation_end::port_closed;
        QCOMPARE(end_of(running_done), expected);
        QCOMPARE(end_of(queued_done), expected);
        // Nothing is sent into the closed port, and nothing more is said.
        QVERIFY(!running.transmit(make_request(FUNC_READ, 1, 0, 0, 0, 0)));
        line.device->deliver(make_reply(1, FUNC_READ, 0, 50, 0, 0));
        QTest::qWait(20);
        QCOMPARE(running_done.size(), 1);
        QCOMPARE(queued_done.size(), 1);
        QVERIFY(line.device->sent.empty());

        // Submitted to a closed port: it ends at once, from the event loop.
        recording_operation late;
        QSignalSpy late_done(&late, &line_operation::finished);
        late.submit(line.link);
        QCOMPARE(late_done.size(), 0);
        QTRY_COMPARE(late_done.size(), 1);
        QCOMPARE(end_of(late_done), operation_end::port_closed);
    }
}

void tst_serial_link::health_counts_what_the_traffic_shows()
{
    scripted_line line;
    const auto read = [](int address) {
        return make_request(FUNC_READ, std::uint8_t(address), 0, 0, 0, 0);
    };
    const auto reply = [](int address, int record = 0) {
        return make_reply(std::uint8_t(address), FUNC_READ, std::uint8_t(record), 50, 0, 0);
    };
    const auto module = [](const line_health& h, int address) -> const module_traffic* {
        for (const module_traffic& m : h.modules)
            if (m.address == address)
                return &m;
        return nullptr;
    };
    // Noise on the quiet line, before any request.
    line.device->deliver(std::vector<std::uint8_t>{0x00, 0x13, 0x37});

    recording_operation op;
    QVERIFY(line.link.claim(op));
    // Module 1: the adapter echoes the request, the reply comes about 30 ms after it.
    op.transmit(read(1));
    line.device->deliver(read(1));
    QTest::qWait(30);
    line.device->deliver(reply(1));
    // Module 2: a time-out, then the same request again (a retry) answered by junk (counted
    // once), by another module and by another record, and at last by module 2.
    op.transmit(read(2));
    op.transmit(read(2));
    line.device->deliver(std::vector<std::uint8_t>{0x01, 0x02});
    line.device->deliver(std::vector<std::uint8_t>{0x03});
    line.device->deliver(reply(3));
    line.device->deliver(reply(2, 5));
    line.device->deliver(reply(2));
    // Module 4 never answers; its request is given up when the operation ends. A reply
    // after that is idle traffic, but no noise.
    op.transmit(read(4));
    op.stop();
    line.device->deliver(reply(4));

    // A scan: probes go out without discarding, a reply names its module, junk is no one's.
    recording_operation scan;
    QVERIFY(line.link.claim(scan));
    scan.transmit(read(6), false);
    scan.transmit(read(7), false);
    line.device->deliver(std::vector<std::uint8_t>{0x09});
    line.device->deliver(reply(6));
    scan.stop();

    const line_health h = line.link.health();
    QCOMPARE(h.modules.size(), std::size_t{4});  // 1, 2, 4 and 6, by address
    QCOMPARE(h.modules.front().address, 1);
    const module_traffic* m1 = module(h, 1);
    QCOMPARE(m1->exchanges, 1);
    QCOMPARE(m1->confirmed, 1);
    QCOMPARE(m1->troubled, 0);
    QCOMPARE(m1->reply_ms.size(), std::size_t{1});
    QVERIFY2(m1->reply_ms[0] >= 29 - FRAME_LINE_MS && m1->reply_ms[0] < 29 - FRAME_LINE_MS + 100,
             qPrintable(QString::number(m1->reply_ms[0])));
    const module_traffic* m2 = module(h, 2);
    QCOMPARE(m2->exchanges, 2);
    QCOMPARE(m2->confirmed, 1);
    QCOMPARE(m2->timeouts, 1);
    QCOMPARE(m2->retries, 1);
    QCOMPARE(m2->garbled, 1);
    QCOMPARE(m2->foreign, 2);
    QCOMPARE(m2->troubled, 2);
    QCOMPARE(module(h, 4)->timeouts, 1);
    QCOMPARE(module(h, 4)->confirmed, 0);
    QCOMPARE(module(h, 6)->confirmed, 1);
    QVERIFY(!module(h, 7));
    QCOMPARE(h.line.requests_sent, std::uint64_t{6});
    QCOMPARE(h.line.echoed_requests, std::uint64_t{1});
    QCOMPARE(h.line.idle_bytes, std::uint64_t{3 + 8});
    QCOMPARE(h.line.idle_unframed_bytes, std::uint64_t{3});
    QCOMPARE(h.line.unframed_bytes, std::uint64_t{3 + 3 + 1});
    QCOMPARE(h.line.received_bytes, std::uint64_t{3 + 8 * 7 + 3 + 1});
    QVERIFY(h.line.seconds >= h.line.idle_seconds && h.line.idle_seconds > 0);
    QVERIFY(!h.line.os_errors);  // a scripted device has no system counters

    // Bounded: reply times beyond MAX_REPLY_SAMPLES are a sample; a reset starts afresh.
    line.link.reset_health();
    QVERIFY(line.link.claim(op));
    for (std::size_t i = 0; i < MAX_REPLY_SAMPLES + 100; ++i) {
        op.transmit(read(9));
        line.device->deliver(reply(9));
    }
    const line_health bounded = line.link.health();
    QCOMPARE(bounded.modules.size(), std::size_t{1});
    QCOMPARE(bounded.modules[0].confirmed, int(MAX_REPLY_SAMPLES + 100));
    QCOMPARE(bounded.modules[0].reply_ms.size(), MAX_REPLY_SAMPLES);
    // Replies delivered at once, as an unpaced line does: no sample below zero.
    QCOMPARE(
        *std::min_element(bounded.modules[0].reply_ms.begin(), bounded.modules[0].reply_ms.end()),
        0.0);
    QCOMPARE(bounded.line.idle_bytes, std::uint64_t{0});
}

QTEST_GUILESS_MAIN(tst_serial_link)
#include "tst_serial_link.moc"
