// The serial link over a real pseudo-terminal: what goes out on the line, how replies
// are collected from fragments and bursts, the discard before each send, the reply
// time-out, and a port that goes away underneath.
#include "module_peer.h"
#include "serial_link.h"

#include <QSignalSpy>
#include <QTest>
#include <QThread>

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

}  // namespace

class tst_serial_link : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void requests_go_out_byte_for_byte();
    void closed_port_fills_buffer_and_stays_silent();
    void fragmented_reply_is_collected_whole();
    void one_notification_takes_exactly_eight_bytes();
    void rejected_replies_are_not_passed_on();
    void send_discards_everything_waiting();
    void late_replies_pass_and_closing_is_told();
    void far_end_hanging_up_closes_the_port_once();
    void low_latency_request_is_harmless_on_a_pty();
};

void tst_serial_link::requests_go_out_byte_for_byte()
{
    module_peer peer;
    peer.answering = false;
    serial_link link;
    QCOMPARE(link.open(peer.path()), std::nullopt);
    link.send_write_request(1, 0, 50, 0, 0);
    link.send_write_request(1, 1, 1, 1, 1);
    link.send_read_request(1, 0, 0, 0, 0);
    link.send_read_request(1, 16, 0, 0, 0);
    QVERIFY(peer.wait_for_requests(4));
    QCOMPARE(hex(peer.requests()[0]), QStringLiteral("55 01 F0 00 32 00 00 78"));
    QCOMPARE(hex(peer.requests()[1]), QStringLiteral("55 01 F0 01 01 01 01 4A"));
    QCOMPARE(hex(peer.requests()[2]), QStringLiteral("55 01 F1 00 00 00 00 47"));
    QCOMPARE(hex(peer.requests()[3]), QStringLiteral("55 01 F1 10 00 00 00 57"));
    QCOMPARE(peer.raw().size(), std::size_t{32});  // nothing else on the line
    QCOMPARE(hex(link.write_request()), QStringLiteral("55 01 F0 01 01 01 01 4A"));
    QCOMPARE(hex(link.read_request()), QStringLiteral("55 01 F1 10 00 00 00 57"));
}

void tst_serial_link::closed_port_fills_buffer_and_stays_silent()
{
    module_peer peer;
    serial_link link;
    QCOMPARE(link.open(peer.path()), std::nullopt);
    link.close();
    QVERIFY(!link.is_open());
    link.send_write_request(1, 0, 50, 0, 0);
    link.send_read_request(2, 3, 0, 0, 0);
    QCOMPARE(hex(link.write_request()), QStringLiteral("55 01 F0 00 32 00 00 78"));
    QCOMPARE(hex(link.read_request()), QStringLiteral("55 02 F1 03 00 00 00 4B"));
    QTest::qWait(100);
    QVERIFY(peer.raw().empty());
}

void tst_serial_link::fragmented_reply_is_collected_whole()
{
    module_peer peer;
    serial_link link;
    QSignalSpy replies(&link, &serial_link::reply_received);
    QCOMPARE(link.open(peer.path()), std::nullopt);
    const auto reply = bytes_of(WRITE_REPLY_0);
    peer.send_raw({reply.begin(), reply.begin() + 3});
    QTest::qWait(50);
    QCOMPARE(replies.size(), 0);
    peer.send_raw({reply.begin() + 3, reply.end()});
    QTRY_COMPARE(replies.size(), 1);
    QCOMPARE(hex(link.reply_buffer()), QStringLiteral("22 01 F0 00 32 00 00 45"));

    // Byte by byte, with the event loop running between bytes.
    for (std::uint8_t b : bytes_of(make_reply(1, FUNC_READ, 9, 1, 9, 3))) {
        peer.send_raw({b});
        QTest::qWait(5);
    }
    QTRY_COMPARE(replies.size(), 2);
    QCOMPARE(hex(link.reply_buffer()), hex(make_reply(1, FUNC_READ, 9, 1, 9, 3)));
}

void tst_serial_link::one_notification_takes_exactly_eight_bytes()
{
    module_peer peer;
    serial_link link;
    QSignalSpy replies(&link, &serial_link::reply_received);
    QCOMPARE(link.open(peer.path()), std::nullopt);

    auto two = bytes_of(WRITE_REPLY_0);
    const auto second = bytes_of(make_reply(1, FUNC_WRITE, 1, 1, 1, 1));
    two.insert(two.end(), second.begin(), second.end());
    peer.send_raw(two);
    QTRY_COMPARE(replies.size(), 1);
    QTest::qWait(100);
    QCOMPARE(replies.size(), 1);  // the second reply waits for another notification
    QCOMPARE(hex(link.reply_buffer()), hex(WRITE_REPLY_0));

    // A later notification reads the waiting 8 bytes.
    peer.send_raw({0x00});
    QTRY_COMPARE(replies.size(), 2);
    QCOMPARE(hex(link.reply_buffer()), hex(make_reply(1, FUNC_WRITE, 1, 1, 1, 1)));
}

void tst_serial_link::rejected_replies_are_not_passed_on()
{
    module_peer peer;
    serial_link link;
    QSignalSpy replies(&link, &serial_link::reply_received);
    QCOMPARE(link.open(peer.path()), std::nullopt);
    frame bad_sum = WRITE_REPLY_0;
    bad_sum[POS_CHECKSUM] = static_cast<std::uint8_t>(bad_sum[POS_CHECKSUM] + 1);
    peer.send_frame(bad_sum);
    peer.send_raw({0x01});  // one more notification for the echo below
    QTest::qWait(50);
    peer.send_frame(make_request(FUNC_WRITE, 1, 0, 50, 0, 0));  // an echoed request
    QTest::qWait(100);
    QCOMPARE(replies.size(), 0);
}

void tst_serial_link::send_discards_everything_waiting()
{
    module_peer peer;
    peer.answering = false;
    serial_link link;
    QSignalSpy replies(&link, &serial_link::reply_received);
    QCOMPARE(link.open(peer.path()), std::nullopt);
    // Five stray bytes reach Qt's own buffer (fewer than 8: nothing is read out) ...
    peer.send_raw({0x22, 0x01, 0xF0, 0x07, 0x99});
    QTest::qWait(50);
    // ... and two more reach the driver while the event loop does not run, so Qt has not
    // seen them. Seven strays in all: any survivor would put the reply out of step.
    peer.send_raw({0x11, 0x22});
    QThread::msleep(30);
    link.send_write_request(1, 0, 50, 0, 0);
    QVERIFY(peer.wait_for_requests(1));
    // If any stray byte had survived, this reply would be read misaligned and dropped.
    peer.send_frame(WRITE_REPLY_0);
    QTRY_COMPARE(replies.size(), 1);
    QCOMPARE(hex(link.reply_buffer()), hex(WRITE_REPLY_0));
}

void tst_serial_link::late_replies_pass_and_closing_is_told()
{
    // The link keeps no time-out of its own: a reply that comes late is still passed on,
    // and nothing is resent meanwhile. Waiting is the transfers' business.
    module_peer peer;
    peer.answering = false;
    serial_link link;
    QSignalSpy replies(&link, &serial_link::reply_received);
    QSignalSpy closed(&link, &serial_link::closed);
    QCOMPARE(link.open(peer.path()), std::nullopt);
    link.send_write_request(1, 5, 1, 5, 1);
    QVERIFY(peer.wait_for_requests(1));
    QTest::qWait(1200);
    peer.send_frame(make_reply(1, FUNC_WRITE, 5, 1, 5, 1));
    QTRY_COMPARE(replies.size(), 1);
    QCOMPARE(peer.requests().size(), std::size_t{1});

    link.close();
    link.close();  // already closed: nothing more to tell
    QCOMPARE(closed.size(), 1);
}

void tst_serial_link::far_end_hanging_up_closes_the_port_once()
{
    serial_link link;
    QSignalSpy lost(&link, &serial_link::port_lost);
    QSignalSpy closed(&link, &serial_link::closed);
    for (int round = 0; round < 3; ++round) {
        module_peer peer;
        QCOMPARE(link.open(peer.path()), std::nullopt);
        link.send_read_request(1, 0, 0, 0, 0);
        peer.answering = false;
        QVERIFY(peer.wait_for_requests(1));
        peer.hang_up();
        QTRY_COMPARE(lost.size(), round + 1);
        QVERIFY(!link.is_open());
        QCOMPARE(closed.size(), round + 1);
        QVERIFY(lost.last()[0].toString().contains(peer.path()));

        // No busy loop afterwards: half a second of event processing costs little CPU.
        const double before = cpu_ms();
        QTest::qWait(500);
        QVERIFY2(cpu_ms() - before < 250.0, qPrintable(QString::number(cpu_ms() - before)));
        QCOMPARE(lost.size(), round + 1);
    }

    // A working port opens afterwards and carries a full exchange.
    module_peer peer;
    QSignalSpy replies(&link, &serial_link::reply_received);
    QCOMPARE(link.open(peer.path()), std::nullopt);
    link.send_read_request(1, 4, 0, 0, 0);
    QTRY_COMPARE(replies.size(), 1);
    QCOMPARE(hex(link.reply_buffer()), hex(make_reply(1, FUNC_READ, 4, 1, 4, 1)));
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

QTEST_GUILESS_MAIN(tst_serial_link)
#include "tst_serial_link.moc"
