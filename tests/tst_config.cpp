// The configuration model: operation table and its two conversions, the strict
// text-to-byte conversion, and the cut into records.
#include "panel_config.h"
#include "window_texts.h"

#include <QTest>

using namespace lorvane;

class tst_config : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void operation_table_order();
    void operation_code_of_data();
    void operation_code_of();
    void operation_text_round_trip();
    void operation_text_of_unknown_codes();
    void byte_of_text_data();
    void byte_of_text();
    void text_of_byte_is_plain_decimal();
    void default_records();
    void store_then_read_every_record();
    void out_of_range_records_change_nothing();
    void messages_name_field_and_range();
};

void tst_config::operation_table_order()
{
    const auto& texts = operation_texts();
    QCOMPARE(texts[0], QStringLiteral("按下翻转"));
    QCOMPARE(texts[1], QStringLiteral("按下闭合 抬起断开"));
    QCOMPARE(texts[2], QStringLiteral("按下点动闭合0.5秒"));
    // The second text carries exactly one ASCII space (U+0020), not an ideographic one.
    QCOMPARE(texts[1].count(QChar(u' ')), 1);
    QCOMPARE(texts[1].count(QChar(u'\u3000')), 0);
}

void tst_config::operation_code_of_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("code");
    QTest::newRow("toggle") << QStringLiteral("按下翻转") << 1;
    QTest::newRow("closed while pressed") << QStringLiteral("按下闭合 抬起断开") << 2;
    QTest::newRow("pulse") << QStringLiteral("按下点动闭合0.5秒") << 3;
    QTest::newRow("empty") << QString() << 0;
    QTest::newRow("no space") << QStringLiteral("按下闭合抬起断开") << 0;
    QTest::newRow("ideographic space") << QStringLiteral("按下闭合\u3000抬起断开") << 0;
    QTest::newRow("leading space") << QStringLiteral(" 按下翻转") << 0;
    QTest::newRow("trailing space") << QStringLiteral("按下翻转 ") << 0;
    QTest::newRow("prefix only") << QStringLiteral("按下") << 0;
    QTest::newRow("full-width digit") << QStringLiteral("按下点动闭合０.5秒") << 0;
    QTest::newRow("digit code") << QStringLiteral("1") << 0;
}

void tst_config::operation_code_of()
{
    QFETCH(QString, text);
    QFETCH(int, code);
    QCOMPARE(int(lorvane::operation_code_of(text)), code);
}

void tst_config::operation_text_round_trip()
{
    for (std::uint8_t code = 1; code <= 3; ++code)
        QCOMPARE(lorvane::operation_code_of(operation_text_of(code)), code);
}

void tst_config::operation_text_of_unknown_codes()
{
    QVERIFY(operation_text_of(0).isEmpty());
    for (int code = 4; code <= 255; ++code)
        QVERIFY2(operation_text_of(static_cast<std::uint8_t>(code)).isEmpty(),
                 qPrintable(QString::number(code)));
}

void tst_config::byte_of_text_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("expected");  // -1: refused
    QTest::newRow("0") << QStringLiteral("0") << 0;
    QTest::newRow("255") << QStringLiteral("255") << 255;
    QTest::newRow("leading zeros") << QStringLiteral("007") << 7;
    QTest::newRow("many zeros") << QStringLiteral("0000000000000000000000255") << 255;
    QTest::newRow("surrounding spaces") << QStringLiteral("  12 ") << 12;
    QTest::newRow("empty") << QString() << -1;
    QTest::newRow("spaces only") << QStringLiteral("   ") << -1;
    QTest::newRow("256") << QStringLiteral("256") << -1;
    QTest::newRow("1000") << QStringLiteral("1000") << -1;
    QTest::newRow("huge") << QStringLiteral("99999999999999999999999") << -1;
    QTest::newRow("minus") << QStringLiteral("-1") << -1;
    QTest::newRow("minus zero") << QStringLiteral("-0") << -1;
    QTest::newRow("plus") << QStringLiteral("+5") << -1;
    QTest::newRow("fraction") << QStringLiteral("12.5") << -1;
    QTest::newRow("whole fraction") << QStringLiteral("12.0") << -1;
    QTest::newRow("letters") << QStringLiteral("abc") << -1;
    QTest::newRow("hex") << QStringLiteral("0x10") << -1;
    QTest::newRow("inner space") << QStringLiteral("1 2") << -1;
    QTest::newRow("tab") << QStringLiteral("\t5") << -1;
    QTest::newRow("full-width digits") << QStringLiteral("１２") << -1;
    QTest::newRow("exponent") << QStringLiteral("1e2") << -1;
}

void tst_config::byte_of_text()
{
    QFETCH(QString, text);
    QFETCH(int, expected);
    const auto value = lorvane::byte_of_text(text);
    if (expected < 0) {
        QVERIFY2(!value, qPrintable(QStringLiteral("accepted as %1").arg(value.value_or(0))));
    } else {
        QVERIFY(value);
        QCOMPARE(int(*value), expected);
    }
}

void tst_config::text_of_byte_is_plain_decimal()
{
    QCOMPARE(text_of_byte(0), QStringLiteral("0"));
    QCOMPARE(text_of_byte(7), QStringLiteral("7"));
    QCOMPARE(text_of_byte(255), QStringLiteral("255"));
    for (int v = 0; v <= 255; ++v)
        QCOMPARE(int(lorvane::byte_of_text(text_of_byte(static_cast<std::uint8_t>(v))).value()), v);
}

void tst_config::default_records()
{
    const panel_config config;
    QCOMPARE(int(config.module_address), 1);
    QCOMPARE(values_of_record(config, 0), (record_values{50, 0, 0}));
    QCOMPARE(values_of_record(config, 5), (record_values{1, 5, 1}));
    QCOMPARE(values_of_record(config, 16), (record_values{1, 16, 1}));
}

void tst_config::store_then_read_every_record()
{
    panel_config config;
    for (record_no r = 1; r <= LAST_RECORD; ++r) {
        const auto b = static_cast<std::uint8_t>(r);
        store_record(config, r,
                     {static_cast<std::uint8_t>(200 + b), b, static_cast<std::uint8_t>(r % 4)});
    }
    store_record(config, 0, {9, 8, 7});
    QCOMPARE(values_of_record(config, 0), (record_values{9, 0, 0}));  // only value 1 is kept
    for (record_no r = 1; r <= LAST_RECORD; ++r) {
        const auto b = static_cast<std::uint8_t>(r);
        QCOMPARE(values_of_record(config, r), (record_values{static_cast<std::uint8_t>(200 + b), b,
                                                             static_cast<std::uint8_t>(r % 4)}));
    }
}

void tst_config::out_of_range_records_change_nothing()
{
    panel_config config;
    const panel_config before = config;
    store_record(config, 17, {1, 2, 3});
    store_record(config, -1, {1, 2, 3});
    QCOMPARE(config, before);
    QCOMPARE(values_of_record(config, 17), record_values{});
}

void tst_config::messages_name_field_and_range()
{
    QCOMPARE(bad_byte_message(byte_field::key_address, 3),
             QStringLiteral("按键3 的地址必须是 0 到 255 之间的整数"));
    QCOMPARE(bad_byte_message(byte_field::key_line, 16),
             QStringLiteral("按键16 的线路必须是 0 到 255 之间的整数"));
    QCOMPARE(bad_byte_message(byte_field::module_address),
             QStringLiteral("模块自身地址必须是 0 到 255 之间的整数"));
    QCOMPARE(bad_byte_message(byte_field::refresh_period),
             QStringLiteral("刷新周期必须是 0 到 255 之间的整数"));
}

QTEST_APPLESS_MAIN(tst_config)
#include "tst_config.moc"
