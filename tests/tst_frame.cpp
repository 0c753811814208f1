// The frame codec: golden frames byte for byte, the reply acceptance rules, and
// exhaustive corruption of valid replies.
#include "frame.h"
#include "frame_stream.h"

#include <QByteArray>
#include <QTest>

using namespace lorvane;

Q_DECLARE_METATYPE(lorvane::frame)

namespace {
frame from_hex(const char* hex)
{
    const QByteArray bytes = QByteArray::fromHex(hex);
    frame f{};
    Q_ASSERT(bytes.size() == static_cast<qsizetype>(FRAME_SIZE));
    std::copy(bytes.begin(), bytes.end(), f.begin());
    return f;
}
}  // namespace

class tst_frame : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void request_golden_data();
    void request_golden();
    void reply_acceptance_data();
    void reply_acceptance();
    void every_reply_round_trips();
    void single_byte_substitutions_never_pass_as_another_reply();
    void stream_cuts_replies_echoes_and_junk();
};

void tst_frame::request_golden_data()
{
    QTest::addColumn<int>("function");
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("record");
    QTest::addColumn<int>("v1");
    QTest::addColumn<int>("v2");
    QTest::addColumn<int>("v3");
    QTest::addColumn<frame>("expected");
    QTest::newRow("55 01 F0 00 32 00 00 78")
        << 0xF0 << 1 << 0 << 50 << 0 << 0 << from_hex("5501F00032000078");
    QTest::newRow("55 01 F0 01 01 01 01 4A")
        << 0xF0 << 1 << 1 << 1 << 1 << 1 << from_hex("5501F0010101014A");
    QTest::newRow("55 01 F1 00 00 00 00 47")
        << 0xF1 << 1 << 0 << 0 << 0 << 0 << from_hex("5501F10000000047");
    QTest::newRow("55 01 F1 10 00 00 00 57")
        << 0xF1 << 1 << 16 << 0 << 0 << 0 << from_hex("5501F11000000057");
    // 0x55 + 0xFF + 0xF0 + 0x10 + 3 x 0xFF = 0x451: only the low byte stays.
    QTest::newRow("55 FF F0 10 FF FF FF 51")
        << 0xF0 << 255 << 16 << 255 << 255 << 255 << from_hex("55FFF010FFFFFF51");
}

void tst_frame::request_golden()
{
    QFETCH(int, function);
    QFETCH(int, address);
    QFETCH(int, record);
    QFETCH(int, v1);
    QFETCH(int, v2);
    QFETCH(int, v3);
    QFETCH(frame, expected);
    const auto b = [](int v) { return static_cast<std::uint8_t>(v); };
    const frame got = make_request(b(function), b(address), b(record), b(v1), b(v2), b(v3));
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(got.data()), 8).toHex(' '),
             QByteArray(reinterpret_cast<const char*>(expected.data()), 8).toHex(' '));
    QVERIFY(request_accepted(got));
    QVERIFY(!reply_accepted(got));  // an echoed request is never taken for a reply
}

void tst_frame::reply_acceptance_data()
{
    QTest::addColumn<frame>("bytes");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("22 01 F0 00 32 00 00 45 write reply") << from_hex("2201F00032000045") << true;
    QTest::newRow("22 01 F1 10 01 10 01 36 read reply, sum > 255")
        << from_hex("2201F11001100136") << true;
    QTest::newRow("55 01 F0 00 32 00 00 78 echoed request")
        << from_hex("5501F00032000078") << false;
    QTest::newRow("22 01 F0 00 32 00 00 46 checksum +1") << from_hex("2201F00032000046") << false;
    QTest::newRow("22 01 F0 00 32 00 00 44 checksum -1") << from_hex("2201F00032000044") << false;
    QTest::newRow("23 01 F0 00 32 00 00 46 header +1, sum fixed")
        << from_hex("2301F00032000046") << false;
    QTest::newRow("00 00 00 00 00 00 00 00 zeros") << from_hex("0000000000000000") << false;
    QTest::newRow("22 00 00 00 00 00 00 22 header only") << from_hex("2200000000000022") << true;
}

void tst_frame::reply_acceptance()
{
    QFETCH(frame, bytes);
    QFETCH(bool, accepted);
    QCOMPARE(reply_accepted(bytes), accepted);
}

void tst_frame::every_reply_round_trips()
{
    for (int function : {0xF0, 0xF1}) {
        for (int record = 0; record <= 16; ++record) {
            for (int v = 0; v <= 255; v += 15) {
                const auto b = [](int x) { return static_cast<std::uint8_t>(x); };
                const frame f =
                    make_reply(b(v), b(function), b(record), b(v), b(255 - v), b(v / 2));
                QVERIFY(reply_accepted(f));
                QCOMPARE(int(f[POS_HEADER]), int(REPLY_HEADER));
                QCOMPARE(int(f[POS_FUNCTION]), function);
                QCOMPARE(int(f[POS_RECORD]), record);
            }
        }
    }
}

// A single corrupted byte must never turn a valid reply into another accepted reply:
// the checksum catches every change of one byte among bytes 0..6, and a changed
// checksum byte no longer matches.
void tst_frame::single_byte_substitutions_never_pass_as_another_reply()
{
    long checked = 0;
    for (int function : {0xF0, 0xF1}) {
        for (int record = 0; record <= 16; ++record) {
            for (int v : {0, 1, 50, 127, 128, 200, 255}) {
                const auto b = [](int x) { return static_cast<std::uint8_t>(x); };
                const frame good = make_reply(1, b(function), b(record), b(v), b(record), b(v % 4));
                QVERIFY(reply_accepted(good));
                for (std::size_t pos = 0; pos < FRAME_SIZE; ++pos) {
                    for (int value = 0; value <= 255; ++value) {
                        if (value == good[pos])
                            continue;
                        frame bad = good;
                        bad[pos] = b(value);
                        ++checked;
                        if (reply_accepted(bad))
                            QFAIL(qPrintable(
                                QStringLiteral("accepted after byte %1 became %2 (function %3, "
                                               "record %4, value %5)")
                                    .arg(pos)
                                    .arg(value)
                                    .arg(function)
                                    .arg(record)
                                    .arg(v)));
                    }
                }
            }
        }
    }
    QCOMPARE(checked, 2L * 17 * 7 * 8 * 255);
}

void tst_frame::stream_cuts_replies_echoes_and_junk()
{
    using item = frame_stream::item;
    const auto bytes = [](std::initializer_list<frame> frames,
                          std::vector<std::uint8_t> more = {}) {
        std::vector<std::uint8_t> all;
        for (const frame& f : frames)
            all.insert(all.end(), f.begin(), f.end());
        all.insert(all.end(), more.begin(), more.end());
        return all;
    };
    const frame reply = make_reply(7, FUNC_READ, 0, 50, 0, 0);
    const frame echo = make_request(FUNC_READ, 8, 0, 0, 0, 0);
    frame_stream stream;

    // A reply split over two pieces comes out whole, once complete.
    QVERIFY(stream.feed(std::span(reply).first(3)).empty());
    auto items = stream.feed(std::span(reply).subspan(3));
    QCOMPARE(items.size(), std::size_t{1});
    QVERIFY(items[0].what == item::kind::reply && items[0].as_frame() == reply);

    // Junk in front is one item; an echo and the reply behind it stay whole.
    items = stream.feed(bytes({echo, reply}, {}));
    QCOMPARE(items.size(), std::size_t{2});
    QVERIFY(items[0].what == item::kind::echo && items[1].what == item::kind::reply);
    frame garbled = reply;
    garbled[5] ^= 0x5A;
    items = stream.feed(bytes({garbled, reply}));
    QCOMPARE(items.size(), std::size_t{2});
    QVERIFY(items[0].what == item::kind::junk);
    QCOMPARE(items[0].bytes, std::vector<std::uint8_t>(garbled.begin(), garbled.end()));
    QVERIFY(items[1].what == item::kind::reply);

    // A tail that may still start a frame waits; flushed, it is junk.
    items = stream.feed(std::vector<std::uint8_t>{0x01, 0x55, 0x02});
    QCOMPARE(items.size(), std::size_t{1});
    QCOMPARE(items[0].bytes, std::vector<std::uint8_t>{0x01});
    QCOMPARE(stream.waiting(), std::size_t{2});
    items = stream.flush();
    QCOMPARE(items.size(), std::size_t{1});
    QCOMPARE(items[0].bytes, (std::vector<std::uint8_t>{0x55, 0x02}));
    QCOMPARE(stream.waiting(), std::size_t{0});
}

QTEST_APPLESS_MAIN(tst_frame)
#include "tst_frame.moc"
