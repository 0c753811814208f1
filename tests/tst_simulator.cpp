// The module simulator's parts: its answering rules, its request framer, its faults, the
// line conditions on a clock of the test's own, and the pseudo-terminal helpers. The
// lorvane-sim program itself is tested in tst_sim_program.

#include "pty.h"
#include "sim_faults.h"
#include "sim_line.h"
#include "sim_module.h"
#include "sim_process.h"
#include "sim_test_support.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <system_error>
#include <vector>

#include <signal.h>

using namespace lorvane;
using namespace lorvane::sim;

using namespace sim_test;

class tst_simulator : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    // Module rules.
    void workedExamples_data();
    void workedExamples();
    void writeThenRead_data();
    void writeThenRead();
    void ignoredRequests_data();
    void ignoredRequests();
    void answersOnlyItsOwnAddress_data();
    void answersOnlyItsOwnAddress();
    void setRecordIsVisibleAndChecked();
    void silentAfter_data();
    void silentAfter();

    // Request framer.
    void framerResynchronises_data();
    void framerResynchronises();
    void framerIgnoresChunking();

    // Line faults.
    void faultPlansDoWhatTheySay();
    void faultsFollowSeedAndRate();

    // Line conditions, on a clock of the test's own.
    void lineTurnaroundAndLatency_data();
    void lineTurnaroundAndLatency();
    void lineHalfDuplexCollisions_data();
    void lineHalfDuplexCollisions();
    void garbleNeverLeavesAReply();

    // Pseudo-terminal helpers.
    void ptyCarriesBytesBothWays();
    void ptySurvivesClientReopening();
    void ptyCloseMasterHangsUpClient();
};

void tst_simulator::initTestCase()
{
    const QString program = qEnvironmentVariable("LORVANE_SIM");
    QVERIFY2(!program.isEmpty(), "LORVANE_SIM must name the lorvane-sim program");
    QVERIFY2(QFileInfo(program).isExecutable(), qPrintable(program));
}

void tst_simulator::workedExamples_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply");

    QTest::newRow("write record 0")
        << hex_bytes("55 01 F0 00 32 00 00 78") << hex_bytes("22 01 F0 00 32 00 00 45");
    QTest::newRow("read record 16, defaults")
        << hex_bytes("55 01 F1 10 00 00 00 57") << hex_bytes("22 01 F1 10 01 10 01 36");
}

void tst_simulator::workedExamples()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);

    sim_module module;
    QCOMPARE(ask(module, request), reply);
    // Whatever was read or written, the record now holds what the reply carried.
    const std::uint8_t index = static_cast<std::uint8_t>(reply[POS_RECORD]);
    const record_values held = module.record(index);
    QCOMPARE(reply_with(1, static_cast<std::uint8_t>(reply[POS_FUNCTION]), index, held), reply);
}

void tst_simulator::writeThenRead_data()
{
    QTest::addColumn<int>("index");
    for (int index = 0; index <= LAST_RECORD; ++index)
        QTest::addRow("record %d", index) << index;
}

void tst_simulator::writeThenRead()
{
    QFETCH(int, index);
    const auto record = static_cast<std::uint8_t>(index);
    const record_values written{static_cast<std::uint8_t>(3 * index + 7),
                                static_cast<std::uint8_t>(0xFF - index),
                                static_cast<std::uint8_t>(0x80 | index)};
    sim_module module;

    QCOMPARE(ask(module, read_request(1, record)),
             reply_with(1, FUNC_READ, record, expected_default(record)));

    const QByteArray write_request =
        to_bytes(make_request(FUNC_WRITE, 1, record, written[0], written[1], written[2]));
    QCOMPARE(ask(module, write_request), reply_with(1, FUNC_WRITE, record, written));
    QCOMPARE(ask(module, read_request(1, record)), reply_with(1, FUNC_READ, record, written));

    // No other record was touched.
    for (std::uint8_t other = 0; other <= LAST_RECORD; ++other) {
        if (other != record)
            QCOMPARE(ask(module, read_request(1, other)),
                     reply_with(1, FUNC_READ, other, expected_default(other)));
    }
}

void tst_simulator::ignoredRequests_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("verdict");

    const auto as_verdict = [](request_verdict v) { return static_cast<int>(v); };
    QByteArray bad_sum = to_bytes(make_request(FUNC_WRITE, 1, 0, 9, 9, 9));
    bad_sum[POS_CHECKSUM] = static_cast<char>(bad_sum[POS_CHECKSUM] + 1);

    QTest::newRow("other address") << to_bytes(make_request(FUNC_WRITE, 2, 0, 9, 9, 9))
                                   << as_verdict(request_verdict::other_address);
    QTest::newRow("bad checksum") << bad_sum << as_verdict(request_verdict::bad_checksum);
    QTest::newRow("reply header 0x22")
        << to_bytes(make_frame(REPLY_HEADER, 1, FUNC_WRITE, 0, 9, 9, 9))
        << as_verdict(request_verdict::bad_header);
    QTest::newRow("function F2") << to_bytes(make_request(0xF2, 1, 0, 9, 9, 9))
                                 << as_verdict(request_verdict::bad_function);
    QTest::newRow("function 00") << to_bytes(make_request(0x00, 1, 0, 9, 9, 9))
                                 << as_verdict(request_verdict::bad_function);
    QTest::newRow("write record 17") << to_bytes(make_request(FUNC_WRITE, 1, 17, 9, 9, 9))
                                     << as_verdict(request_verdict::bad_record);
    QTest::newRow("read record 17")
        << read_request(1, 17) << as_verdict(request_verdict::bad_record);
    QTest::newRow("write record 255") << to_bytes(make_request(FUNC_WRITE, 1, 255, 9, 9, 9))
                                      << as_verdict(request_verdict::bad_record);
}

void tst_simulator::ignoredRequests()
{
    QFETCH(QByteArray, request);
    QFETCH(int, verdict);

    sim_module module;
    QCOMPARE(static_cast<int>(module.check(to_frame(request))), verdict);
    QCOMPARE(ask(module, request), QByteArray());
    for (std::size_t index = 0; index <= LAST_RECORD; ++index)
        QCOMPARE(module.record(index), expected_default(index));
    QCOMPARE(module.answered_count(), std::uint64_t{0});

    // The module is not put off by it: the next good request is answered.
    QCOMPARE(ask(module, read_request(1, 0)), reply_with(1, FUNC_READ, 0, expected_default(0)));
}

void tst_simulator::answersOnlyItsOwnAddress_data()
{
    QTest::addColumn<int>("address");
    QTest::newRow("0") << 0;
    QTest::newRow("7") << 7;
    QTest::newRow("255") << 255;
}

void tst_simulator::answersOnlyItsOwnAddress()
{
    QFETCH(int, address);
    const auto own = static_cast<std::uint8_t>(address);
    sim_module module(own);
    QCOMPARE(module.address(), own);

    for (int other : {0, 1, 6, 8, 255}) {
        if (other == address)
            continue;
        QCOMPARE(ask(module, read_request(static_cast<std::uint8_t>(other), 3)), QByteArray());
    }
    QCOMPARE(ask(module, read_request(own, 3)), reply_with(own, FUNC_READ, 3, expected_default(3)));
}

void tst_simulator::setRecordIsVisibleAndChecked()
{
    sim_module module;
    module.set_record(5, {0xAB, 0xCD, 0xEF});
    QCOMPARE(ask(module, read_request(1, 5)), reply_with(1, FUNC_READ, 5, {0xAB, 0xCD, 0xEF}));
    module.set_record(0, {99, 1, 2});
    QCOMPARE(module.record(0), (record_values{99, 1, 2}));

    QVERIFY_THROWS_EXCEPTION(std::out_of_range, module.set_record(17, {1, 2, 3}));
    QVERIFY_THROWS_EXCEPTION(std::out_of_range, static_cast<void>(module.record(17)));
}

void tst_simulator::silentAfter_data()
{
    QTest::addColumn<int>("limit");  // -1: no limit
    QTest::newRow("never silent") << -1;
    QTest::newRow("silent at once") << 0;
    QTest::newRow("after 1") << 1;
    QTest::newRow("after 3") << 3;
}

void tst_simulator::silentAfter()
{
    QFETCH(int, limit);
    constexpr int REQUESTS = 5;
    sim_module module;
    if (limit >= 0)
        module.set_silent_after(static_cast<std::uint64_t>(limit));

    int replies = 0;
    for (int i = 0; i < REQUESTS; ++i) {
        // Requests it would ignore anyway do not use up the budget.
        QCOMPARE(ask(module, read_request(2, 1)), QByteArray());
        QCOMPARE(ask(module, read_request(1, 17)), QByteArray());
        const auto value = static_cast<std::uint8_t>(100 + i);
        const QByteArray reply =
            ask(module, to_bytes(make_request(FUNC_WRITE, 1, 2, value, value, value)));
        if (!reply.isEmpty()) {
            ++replies;
            QCOMPARE(reply, reply_with(1, FUNC_WRITE, 2, {value, value, value}));
        }
    }
    const int expected = limit < 0 ? REQUESTS : std::min(limit, REQUESTS);
    QCOMPARE(replies, expected);
    QCOMPARE(module.answered_count(), static_cast<std::uint64_t>(expected));
    // A silenced write is not applied: the record holds the last answered write.
    const record_values last = expected == 0
                                   ? expected_default(2)
                                   : record_values{static_cast<std::uint8_t>(99 + expected),
                                                   static_cast<std::uint8_t>(99 + expected),
                                                   static_cast<std::uint8_t>(99 + expected)};
    QCOMPARE(module.record(2), last);
}

void tst_simulator::framerResynchronises_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QList<QByteArray>>("requests");
    QTest::addColumn<QList<qulonglong>>("offsets");

    const QByteArray r1 = hex_bytes("55 01 F0 00 32 00 00 78");
    const QByteArray r2 = hex_bytes("55 01 F1 10 00 00 00 57");
    QByteArray bad = r2;
    bad[POS_CHECKSUM] = 0x58;
    const QByteArray reply = hex_bytes("22 01 F0 00 32 00 00 45");

    QTest::newRow("clean back to back")
        << r1 + r2 << QList<QByteArray>{r1, r2} << QList<qulonglong>{0, 8};
    QTest::newRow("leading garbage")
        << hex_bytes("AA BB 00") + r1 << QList<QByteArray>{r1} << QList<qulonglong>{3};
    QTest::newRow("stray headers")
        << hex_bytes("55 55 55") + r1 << QList<QByteArray>{r1} << QList<qulonglong>{3};
    QTest::newRow("bad checksum then good")
        << bad + r1 << QList<QByteArray>{r1} << QList<qulonglong>{8};
    QTest::newRow("reply frame in stream")
        << reply + r2 << QList<QByteArray>{r2} << QList<qulonglong>{8};
    QTest::newRow("truncated request")
        << r1.left(5) + r2 << QList<QByteArray>{r2} << QList<qulonglong>{5};
    QTest::newRow("garbage between")
        << r1 + hex_bytes("00 FF 55") + r2 << QList<QByteArray>{r1, r2} << QList<qulonglong>{0, 11};
    QTest::newRow("incomplete tail")
        << r1 + r2.left(7) << QList<QByteArray>{r1} << QList<qulonglong>{0};
    QTest::newRow("garbage only") << hex_bytes("00 01 02 55 03 04 05 06 07 08 09")
                                  << QList<QByteArray>{} << QList<qulonglong>{};
}

void tst_simulator::framerResynchronises()
{
    QFETCH(QByteArray, stream);
    QFETCH(QList<QByteArray>, requests);
    QFETCH(QList<qulonglong>, offsets);

    request_framer framer;
    QList<QByteArray> found;
    QList<qulonglong> found_offsets;
    for (const auto& request : framer.feed(as_span(stream))) {
        found << to_bytes(request.bytes);
        found_offsets << request.offset;
    }
    QCOMPARE(found, requests);
    QCOMPARE(found_offsets, offsets);
    QVERIFY(framer.buffered() < FRAME_SIZE);
    // Every byte is either part of a request, skipped, or still held.
    QCOMPARE(framer.discarded() + framer.buffered() +
                 static_cast<std::uint64_t>(requests.size()) * FRAME_SIZE,
             static_cast<std::uint64_t>(stream.size()));
}

void tst_simulator::framerIgnoresChunking()
{
    const QByteArray r1 = to_bytes(make_request(FUNC_WRITE, 1, 0, 0x32, 0, 0));
    const QByteArray r2 = to_bytes(make_request(FUNC_READ, 1, 16, 0, 0, 0));
    QByteArray r3_bad = to_bytes(make_request(FUNC_WRITE, 1, 5, 1, 2, 3));
    r3_bad[POS_CHECKSUM] = static_cast<char>(~r3_bad[POS_CHECKSUM]);
    const QByteArray r4 = to_bytes(make_request(FUNC_READ, 7, 3, 0, 0, 0));
    const QByteArray stream =
        hex_bytes("55") + r1 + hex_bytes("00 55 01") + r2 + r3_bad + r4 + hex_bytes("55 55");
    const QList<QByteArray> expected{r1, r2, r4};
    const QList<qulonglong> expected_offsets{1, 12, 28};

    const auto check = [&](const std::vector<qsizetype>& cuts) {
        const std::vector<received_request> found = frame_in_chunks(stream, cuts);
        QList<QByteArray> bytes;
        QList<qulonglong> offsets;
        for (const auto& request : found) {
            bytes << to_bytes(request.bytes);
            offsets << request.offset;
            // Stamps are those of the chunks holding the request's first and last byte.
            if (request.first_stamp != chunk_of(request.offset, cuts) ||
                request.last_stamp != chunk_of(request.offset + FRAME_SIZE - 1, cuts))
                return false;
        }
        return bytes == expected && offsets == expected_offsets;
    };

    QVERIFY(check({}));
    for (qsizetype cut = 1; cut < stream.size(); ++cut)
        QVERIFY2(check({cut}), qPrintable(QStringLiteral("split at %1").arg(cut)));
    for (qsizetype first = 1; first < stream.size(); ++first) {
        for (qsizetype second = first + 1; second < stream.size(); ++second)
            QVERIFY2(check({first, second}),
                     qPrintable(QStringLiteral("split at %1 and %2").arg(first).arg(second)));
    }
    std::vector<qsizetype> every_byte;
    for (qsizetype cut = 1; cut < stream.size(); ++cut)
        every_byte.push_back(cut);
    QVERIFY2(check(every_byte), "one byte at a time");
}

void tst_simulator::faultPlansDoWhatTheySay()
{
    const frame request = make_request(FUNC_WRITE, 1, 5, 1, 5, 1);
    const frame reply = make_reply(1, FUNC_WRITE, 5, 1, 5, 1);
    const QByteArray q = to_bytes(request);
    const QByteArray r = to_bytes(reply);
    constexpr std::int64_t ms = 1'000'000;
    for (std::uint64_t seed = 0; seed < 200; ++seed) {
        fault_injector faults(seed, 1.0);
        for (int k = 0; k < FAULT_KIND_COUNT; ++k) {
            const auto kind = static_cast<fault_kind>(k);
            for (const bool echo : {false, true}) {
                const reply_plan plan = faults.plan_fault(kind, request, reply, echo);
                QByteArray all;
                for (const auto& piece : plan.pieces)
                    all += to_bytes(piece.bytes);
                const char* name = fault_name(kind).data();
                QCOMPARE(fault_of_name(fault_name(kind)), std::optional(kind));
                if (echo) {  // the echo always leads, at once
                    QVERIFY2(plan.pieces.front().delay_ns == 0 && all.startsWith(q), name);
                    all.remove(0, q.size());
                }
                switch (kind) {
                case fault_kind::dropped:
                    QVERIFY(all.isEmpty());
                    break;
                case fault_kind::byte_changed: {
                    QCOMPARE(all.size(), r.size());
                    int differing = 0;
                    for (qsizetype i = 0; i < r.size(); ++i)
                        differing += all[i] != r[i];
                    QCOMPARE(differing, 1);
                    break;
                }
                case fault_kind::garbage_in_front: {
                    const qsizetype junk = all.size() - r.size();
                    QVERIFY(junk >= 1 && junk <= 3 && all.endsWith(r));
                    QVERIFY(!all.left(junk).contains(char(REPLY_HEADER)));
                    break;
                }
                case fault_kind::split:
                    QCOMPARE(all, r);
                    QVERIFY(plan.pieces.size() >= 2 && plan.pieces.size() <= 4);
                    for (std::size_t i = 1; i < plan.pieces.size(); ++i)
                        QVERIFY(plan.pieces[i].delay_ns >= ms &&
                                plan.pieces[i].delay_ns <= 10 * ms);
                    break;
                case fault_kind::late:
                    QCOMPARE(all, r);
                    QVERIFY(plan.pieces.back().delay_ns >= 100 * ms &&
                            plan.pieces.back().delay_ns <= 400 * ms);
                    break;
                case fault_kind::echo_apart:
                    QCOMPARE(all, q + r);
                    QVERIFY(plan.pieces.back().delay_ns >= ms);
                    break;
                case fault_kind::echo_together:
                    QCOMPARE(all, q + r);
                    QCOMPARE(plan.pieces.size(), std::size_t{1});
                    break;
                case fault_kind::doubled:
                    QCOMPARE(all, r + r);
                    QCOMPARE(plan.pieces.size(), std::size_t{1});
                    break;
                }
            }
        }
    }
}

void tst_simulator::faultsFollowSeedAndRate()
{
    const frame request = make_request(FUNC_READ, 1, 0, 0, 0, 0);
    const frame reply = make_reply(1, FUNC_READ, 0, 50, 0, 0);
    const auto draw = [&](std::uint64_t seed, double rate) {
        fault_injector faults(seed, rate);
        std::vector<std::optional<fault_kind>> kinds;
        for (int i = 0; i < 4000; ++i)
            kinds.push_back(faults.plan(request, reply, false).fault);
        return kinds;
    };
    QCOMPARE(draw(5, 0.1), draw(5, 0.1));
    QVERIFY(draw(5, 0.1) != draw(6, 0.1));
    const auto never = draw(5, 0.0);
    QVERIFY(std::all_of(never.begin(), never.end(), [](const auto& k) { return !k; }));
    // At the default rate about one reply in ten, and every kind turns up.
    const auto some = draw(5, 0.1);
    const auto faulted = std::count_if(some.begin(), some.end(), [](const auto& k) { return k; });
    QVERIFY2(faulted > 300 && faulted < 500, qPrintable(QString::number(faulted)));
    for (int k = 0; k < FAULT_KIND_COUNT; ++k)
        QVERIFY(std::count(some.begin(), some.end(), std::optional(static_cast<fault_kind>(k))) >
                0);
}

void tst_simulator::lineTurnaroundAndLatency_data()
{
    QTest::addColumn<int>("turnaround_ms");
    QTest::addColumn<int>("latency_ms");
    QTest::addColumn<bool>("echo");
    QTest::newRow("plain line") << 0 << 0 << false;
    QTest::newRow("turnaround 5") << 5 << 0 << false;
    QTest::newRow("latency 16") << 0 << 16 << false;
    QTest::newRow("turnaround 40, latency 16") << 40 << 16 << false;
    QTest::newRow("echo, turnaround 5") << 5 << 0 << true;
    QTest::newRow("echo, latency 16") << 0 << 16 << true;
}

void tst_simulator::lineTurnaroundAndLatency()
{
    QFETCH(int, turnaround_ms);
    QFETCH(int, latency_ms);
    QFETCH(bool, echo);
    line_settings settings;
    settings.byte_ns = byte_time_ns(10'000);  // 1 ms a byte
    QCOMPARE(settings.byte_ns, MS);
    settings.turnaround_ns = turnaround_ms * MS;
    settings.latency_ns = latency_ms * MS;
    settings.echo = echo;
    sim_line line(settings, [](const std::string&) {});

    const QByteArray request = read_request(1, 4);
    line.receive(0, as_span(request));  // through the line at 8 ms
    std::vector<delivery> out;
    play_until(line, 1000 * MS, out);
    QCOMPARE(all_bytes(out),
             (echo ? request : QByteArray()) + reply_with(1, FUNC_READ, 4, expected_default(4)));
    // The reply starts its turnaround after the request and takes 8 byte times; then the
    // latency timer holds it and hands it over whole, or each byte comes in its own time.
    // An echo takes no time on the line and comes in front.
    const std::int64_t last_byte_ns = (8 + turnaround_ms + 8) * MS;
    QCOMPARE(out.back().at_ns, last_byte_ns + latency_ms * MS);
    if (latency_ms > 0) {
        QCOMPARE(out.size(), std::size_t{1});
    } else {
        QCOMPARE(out.size(), FRAME_SIZE + (echo ? 1 : 0));
        if (echo)
            QCOMPARE(out.front().bytes, request);
        QCOMPARE(out.front().at_ns, (8 + turnaround_ms + (echo ? 0 : 1)) * MS);
    }
}

void tst_simulator::lineHalfDuplexCollisions_data()
{
    // Request A (read record 1) goes out at 0 ms and is through at 8 ms, 1 ms a byte; request
    // B (write record 2) follows at `b_at_ms`.
    QTest::addColumn<int>("turnaround_ms");
    QTest::addColumn<bool>("echo");
    QTest::addColumn<int>("b_at_ms");
    QTest::addColumn<int>("garbled_from");  // first garbled byte of A's reply; -1: none

    QTest::newRow("B sent while A's reply is on the line") << 0 << false << 10 << 2;
    QTest::newRow("A's reply starts while B comes in") << 5 << false << 7 << 0;
    QTest::newRow("B right after A's reply") << 0 << false << 16 << -1;
    // The echo is A itself: it takes no line time, and only the reply is garbled.
    QTest::newRow("echo, B while A's reply is on the line") << 0 << true << 10 << 2;
    QTest::newRow("echo, B right after A's reply") << 0 << true << 16 << -1;
}

void tst_simulator::lineHalfDuplexCollisions()
{
    QFETCH(int, turnaround_ms);
    QFETCH(bool, echo);
    QFETCH(int, b_at_ms);
    QFETCH(int, garbled_from);
    line_settings settings;
    settings.byte_ns = MS;
    settings.turnaround_ns = turnaround_ms * MS;
    settings.echo = echo;
    settings.half_duplex = true;
    QStringList log;
    sim_line line(settings, [&](const std::string& text) { log << QString::fromStdString(text); });

    const QByteArray a = read_request(1, 1);
    const QByteArray b = to_bytes(make_request(FUNC_WRITE, 1, 2, 9, 9, 9));
    std::vector<delivery> out;
    line.receive(0, as_span(a));
    play_until(line, b_at_ms * MS, out);
    line.receive(b_at_ms * MS, as_span(b));
    play_until(line, 1000 * MS, out);

    QByteArray got = all_bytes(out);
    if (echo) {
        QVERIFY(got.startsWith(a));
        got.remove(0, a.size());
    }
    const QByteArray a_reply = reply_with(1, FUNC_READ, 1, expected_default(1));
    const QByteArray a_got = got.left(FRAME_SIZE);
    QCOMPARE(a_got.size(), a_reply.size());  // garbled bytes still arrive, as many as were sent
    if (garbled_from < 0) {
        QCOMPARE(a_got, a_reply);
        // B was heard and answered.
        QCOMPARE(got.mid(FRAME_SIZE),
                 (echo ? b : QByteArray()) + reply_with(1, FUNC_WRITE, 2, {9, 9, 9}));
        QCOMPARE(line.modules().front().record(2), (record_values{9, 9, 9}));
        QVERIFY(log.filter(QStringLiteral("collision")).isEmpty());
        return;
    }
    QCOMPARE(a_got.left(garbled_from), a_reply.left(garbled_from));
    for (qsizetype i = garbled_from; i < a_got.size(); ++i) {
        QVERIFY2(a_got[i] != a_reply[i], qPrintable(QStringLiteral("byte %1 kept").arg(i)));
        QVERIFY(a_got[i] != char(REPLY_HEADER));
    }
    QVERIFY(!accepted_reply(a_got));
    // B was lost: no reply, and no module took its write.
    QCOMPARE(got.size(), FRAME_SIZE);
    QCOMPARE(line.modules().front().record(2), expected_default(2));
    QCOMPARE(line.modules().front().answered_count(), std::uint64_t{1});
    QCOMPARE(log.filter(QStringLiteral("collision on ")).size(), 1);
    QCOMPARE(log.filter(QStringLiteral("lost")).size(), 2);  // the collision, then B itself
}

void tst_simulator::garbleNeverLeavesAReply()
{
    // A reply, one full of header bytes, and two replies back to back (a doubled reply).
    const QByteArray plain = reply_with(7, FUNC_READ, 0, {50, 0, 0});
    const QByteArray headers = reply_with(REPLY_HEADER, FUNC_READ, REPLY_HEADER,
                                          {REPLY_HEADER, REPLY_HEADER, REPLY_HEADER});
    for (const QByteArray& original : {plain, headers, plain + plain, headers + plain}) {
        for (std::uint64_t seed = 0; seed < 2000; ++seed) {
            fault_random random(seed);
            for (qsizetype from = 0; from < original.size(); ++from) {
                std::vector<std::uint8_t> bytes(as_span(original).begin(), as_span(original).end());
                garble(bytes, as_span(original), static_cast<std::size_t>(from), random);
                const QByteArray garbled = to_bytes(bytes);
                QCOMPARE(garbled.left(from), original.left(from));
                for (qsizetype i = from; i < garbled.size(); ++i)
                    QVERIFY(garbled[i] != original[i] && garbled[i] != char(REPLY_HEADER));
                // No eight bytes that take in garbage pass as a reply.
                constexpr auto size = static_cast<qsizetype>(FRAME_SIZE);
                for (qsizetype start = 0; start + size <= garbled.size(); ++start) {
                    if (start + size > from)
                        QVERIFY2(!accepted_reply(garbled.mid(start, size)),
                                 garbled.toHex(' ').constData());
                }
            }
        }
    }
}

void tst_simulator::ptyCarriesBytesBothWays()
{
    pty_pair line;
    QVERIFY(line.is_open());
    QVERIFY(line.slave_path().starts_with("/dev/"));
    tty_port client(line.slave_path());

    // Every byte value passes unchanged: the line is raw in both directions.
    QByteArray all_values;
    for (int value = 0; value < 256; ++value)
        all_values.append(static_cast<char>(value));

    client.write_all(as_span(all_values));
    QByteArray at_master;
    QDeadlineTimer deadline(REPLY_TIMEOUT_MS);
    while (at_master.size() < all_values.size() && !deadline.hasExpired())
        at_master += to_bytes(line.read_some(static_cast<int>(deadline.remainingTime())));
    QCOMPARE(at_master, all_values);

    line.write_all(as_span(all_values));
    QCOMPARE(to_bytes(client.read_exact(256, REPLY_TIMEOUT_MS)), all_values);

    // Nothing more is waiting, and read_some says so without an error.
    QCOMPARE(line.read_some(0), std::vector<std::uint8_t>{});
    QCOMPARE(client.read_some(50), std::vector<std::uint8_t>{});
    QVERIFY(!line.hung_up());
    QVERIFY(!client.hung_up());
}

void tst_simulator::ptySurvivesClientReopening()
{
    pty_pair line;
    const QByteArray ping = hex_bytes("55 01 F1 00 00 00 00 47");
    for (int round = 0; round < 3; ++round) {
        tty_port client(line.slave_path());
        client.write_all(as_span(ping));
        QCOMPARE(to_bytes(line.read_some(REPLY_TIMEOUT_MS)), ping);
        line.write_all(as_span(ping));
        QCOMPARE(to_bytes(client.read_exact(FRAME_SIZE, REPLY_TIMEOUT_MS)), ping);
        client.close();
        // With no client the master sees no hang-up and nothing to read.
        QCOMPARE(line.read_some(50), std::vector<std::uint8_t>{});
        QVERIFY(!line.hung_up());
    }
}

void tst_simulator::ptyCloseMasterHangsUpClient()
{
    pty_pair line;
    tty_port client(line.slave_path());
    line.close_master();
    QVERIFY(!line.is_open());
    line.close_master();  // a second close is harmless

    QCOMPARE(client.read_some(REPLY_TIMEOUT_MS), std::vector<std::uint8_t>{});
    QVERIFY(client.hung_up());
    const QByteArray ping = hex_bytes("55 01 F1 00 00 00 00 47");
    QVERIFY_THROWS_EXCEPTION(std::system_error, client.write_all(as_span(ping), 1000));
    QVERIFY_THROWS_EXCEPTION(std::system_error, line.write_all(as_span(ping)));
}

QTEST_GUILESS_MAIN(tst_simulator)
#include "tst_simulator.moc"
