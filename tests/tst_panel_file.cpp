// The configuration file: what it accepts, what it refuses (naming the member), and that
// writing and reading it loses no byte a module can hold.
#include "panel_file.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTest>

#include <functional>

using namespace lorvane;

namespace {

// A valid file as a JSON object, to be broken one member at a time.
QJsonObject valid_file()
{
    return QJsonDocument::fromJson(panel_file_text(panel_config{})).object();
}

using edit = std::function<void(QJsonObject&)>;

// Applies `change` to key entry `index` of the file.
edit on_key(int index, const std::function<void(QJsonObject&)>& change)
{
    return [=](QJsonObject& file) {
        QJsonArray keys = file[QStringLiteral("keys")].toArray();
        QJsonObject key = keys[index].toObject();
        change(key);
        keys[index] = key;
        file[QStringLiteral("keys")] = keys;
    };
}

edit set_key(int index, const char* member, const QJsonValue& value)
{
    return on_key(index, [=](QJsonObject& key) { key[QLatin1String(member)] = value; });
}

}  // namespace

Q_DECLARE_METATYPE(edit)

class tst_panel_file : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void random_configurations_survive_a_round_trip();
    void operations_by_name_text_or_number_data();
    void operations_by_name_text_or_number();
    void keys_in_any_order();
    void not_a_panel_file_at_all();
    void refusals_name_the_member_data();
    void refusals_name_the_member();
    void text_as_written_data();
    void text_as_written();
};

void tst_panel_file::random_configurations_survive_a_round_trip()
{
    auto* random = QRandomGenerator::global();
    const auto byte = [&] { return std::uint8_t(random->bounded(256)); };
    for (int run = 0; run < 200; ++run) {
        panel_config config;
        config.module_address = byte();
        config.refresh_period = byte();
        for (key_binding& key : config.keys)
            key = {byte(), byte(), byte()};
        const QByteArray text = panel_file_text(config);
        const auto parsed = parse_panel_file(text);
        QVERIFY2(std::holds_alternative<panel_config>(parsed), text.constData());
        QVERIFY(std::get<panel_config>(parsed) == config);
        QCOMPARE(panel_file_text(std::get<panel_config>(parsed)), text);
    }
}

void tst_panel_file::operations_by_name_text_or_number_data()
{
    QTest::addColumn<QJsonValue>("operation");
    QTest::addColumn<int>("code");
    QTest::newRow("none") << QJsonValue(QStringLiteral("none")) << 0;
    QTest::newRow("toggle") << QJsonValue(QStringLiteral("toggle")) << 1;
    QTest::newRow("momentary") << QJsonValue(QStringLiteral("momentary")) << 2;
    QTest::newRow("pulse") << QJsonValue(QStringLiteral("pulse")) << 3;
    QTest::newRow("display text 2") << QJsonValue(QStringLiteral("按下闭合 抬起断开")) << 2;
    QTest::newRow("number 3") << QJsonValue(3) << 3;
    QTest::newRow("number 200") << QJsonValue(200) << 200;
}

void tst_panel_file::operations_by_name_text_or_number()
{
    QFETCH(QJsonValue, operation);
    QFETCH(int, code);
    QJsonObject file = valid_file();
    set_key(4, "operation", operation)(file);
    const auto parsed = parse_panel_file(QJsonDocument(file).toJson());
    QVERIFY(std::holds_alternative<panel_config>(parsed));
    QCOMPARE(int(std::get<panel_config>(parsed).keys[4].operation), code);
    // Codes 0..3 are written by name, the others as numbers.
    const QByteArray text = panel_file_text(std::get<panel_config>(parsed));
    QVERIFY(text.contains(code < 4 ? ('"' + operation_name(std::uint8_t(code)).toUtf8() + '"')
                                   : QByteArray("\"operation\": 200")));
}

void tst_panel_file::keys_in_any_order()
{
    QJsonObject file = valid_file();
    set_key(0, "line", 99)(file);  // key 1
    const QJsonArray keys = file[QStringLiteral("keys")].toArray();
    QJsonArray reversed;
    for (qsizetype i = keys.size() - 1; i >= 0; --i)
        reversed.append(keys[i]);
    file[QStringLiteral("keys")] = reversed;
    const auto parsed = parse_panel_file(QJsonDocument(file).toJson());
    QVERIFY(std::holds_alternative<panel_config>(parsed));
    QCOMPARE(int(std::get<panel_config>(parsed).keys[0].line), 99);
    QCOMPARE(int(std::get<panel_config>(parsed).keys[15].line), 16);
}

void tst_panel_file::not_a_panel_file_at_all()
{
    for (const QByteArray& text : {QByteArray("{\"format\": "), QByteArray("[1, 2]")}) {
        const auto parsed = parse_panel_file(text);
        QVERIFY(std::holds_alternative<panel_file_error>(parsed));
        QCOMPARE(std::get<panel_file_error>(parsed).field, QString());
    }
    // Where the JSON breaks, as people count: line and column (the column in characters).
    const auto broken = parse_panel_file("{\n  \"format\": 1,\n  \"键\" 1}");
    QVERIFY(std::holds_alternative<panel_file_error>(broken));
    const panel_file_error& error = std::get<panel_file_error>(broken);
    QVERIFY2(error.problem.contains(QStringLiteral(" at line 3, column 8 (byte 26)")),
             qPrintable(error.problem));
}

void tst_panel_file::refusals_name_the_member_data()
{
    QTest::addColumn<edit>("change");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("problem");
    const auto root = [](const char* member, const QJsonValue& value) -> edit {
        return [=](QJsonObject& file) { file[QLatin1String(member)] = value; };
    };
    const auto drop = [](const char* member) -> edit {
        return [=](QJsonObject& file) { file.remove(QLatin1String(member)); };
    };
    const QString byte_range = QStringLiteral("whole number from 0 to 255");
    QTest::newRow("wrong format") << root("format", QStringLiteral("lorvane-panel/2"))
                                  << QStringLiteral("format") << QStringLiteral("lorvane-panel/1");
    QTest::newRow("no format") << drop("format") << QStringLiteral("format")
                               << QStringLiteral("is missing; it must be \"lorvane-panel/1\"");
    QTest::newRow("unknown member") << root("comment", QStringLiteral("x"))
                                    << QStringLiteral("comment") << QStringLiteral("not a member");
    QTest::newRow("address missing")
        << drop("module_address") << QStringLiteral("module_address") << byte_range;
    QTest::newRow("address 256") << root("module_address", 256) << QStringLiteral("module_address")
                                 << byte_range;
    QTest::newRow("refresh fraction")
        << root("refresh_period", 12.5) << QStringLiteral("refresh_period") << byte_range;
    QTest::newRow("refresh as text") << root("refresh_period", QStringLiteral("50"))
                                     << QStringLiteral("refresh_period") << byte_range;
    QTest::newRow("line negative")
        << set_key(3, "line", -1) << QStringLiteral("keys[3].line") << byte_range;
    QTest::newRow("address null") << set_key(2, "address", QJsonValue())
                                  << QStringLiteral("keys[2].address") << byte_range;
    QTest::newRow("key member unknown")
        << set_key(0, "colour", 1) << QStringLiteral("keys[0].colour")
        << QStringLiteral("not a member");
    QTest::newRow("operation unknown name")
        << set_key(5, "operation", QStringLiteral("Toggle")) << QStringLiteral("keys[5].operation")
        << QStringLiteral("\"toggle\"");
    QTest::newRow("operation 256") << set_key(5, "operation", 256)
                                   << QStringLiteral("keys[5].operation") << QStringLiteral("255");
    QTest::newRow("key number missing")
        << on_key(2, [](QJsonObject& key) { key.remove(QStringLiteral("key")); })
        << QStringLiteral("keys[2].key") << QStringLiteral("is missing; it must be a whole number");
    QTest::newRow("keys missing") << drop("keys") << QStringLiteral("keys")
                                  << QStringLiteral("is missing; it must be an array");
    QTest::newRow("long operation text cut")
        << set_key(1, "operation", QString(200000, u'x')) << QStringLiteral("keys[1].operation")
        << QStringLiteral("xxx... (200000 characters)\"");
    QTest::newRow("key twice") << set_key(9, "key", 3) << QStringLiteral("keys[9].key")
                               << QStringLiteral("second time");
    QTest::newRow("key 17") << set_key(9, "key", 17) << QStringLiteral("keys[9].key")
                            << QStringLiteral("1 to 16");
    QTest::newRow("key missing") << edit([](QJsonObject& file) {
        QJsonArray keys = file[QStringLiteral("keys")].toArray();
        keys.removeLast();
        file[QStringLiteral("keys")] = keys;
    }) << QStringLiteral("keys") << QStringLiteral("15 entries");
    QTest::newRow("keys not an array")
        << root("keys", QJsonObject{}) << QStringLiteral("keys") << QStringLiteral("16 entries");
}

void tst_panel_file::refusals_name_the_member()
{
    QFETCH(edit, change);
    QFETCH(QString, field);
    QFETCH(QString, problem);
    QJsonObject file = valid_file();
    change(file);
    const auto parsed = parse_panel_file(QJsonDocument(file).toJson());
    QVERIFY(std::holds_alternative<panel_file_error>(parsed));
    const auto& error = std::get<panel_file_error>(parsed);
    QCOMPARE(error.field, field);
    QVERIFY2(error.problem.contains(problem), qPrintable(error.problem));
    QVERIFY2(error.problem.size() < 300, "a message shows a cut value");
}

// What only the text shows: members given twice and numbers as they are written. An empty
// field means the file is accepted with key 4's line 4.
void tst_panel_file::text_as_written_data()
{
    QTest::addColumn<QByteArray>("from");
    QTest::addColumn<QByteArray>("to");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("problem");
    const QByteArray line = "\"line\": 4,";
    QTest::newRow("root member twice")
        << QByteArray("{") << QByteArray("{\"module_address\": 9,")
        << QStringLiteral("module_address") << QStringLiteral("is given twice");
    QTest::newRow("key member twice")
        << line << QByteArray("\"line\": 4, \"line\": 5,") << QStringLiteral("keys[3].line")
        << QStringLiteral("is given twice");
    QTest::newRow("escaped name twice")
        << line << QByteArray("\"line\": 4, \"l\\u0069ne\": 4,") << QStringLiteral("keys[3].line")
        << QStringLiteral("is given twice");
    QTest::newRow("fraction rounding to whole")
        << line << QByteArray("\"line\": 3.99999999999999999999,") << QStringLiteral("keys[3].line")
        << QStringLiteral("from 0 to 255, not 3.99999999999999999999");
    QTest::newRow("tiny fraction by exponent")
        << line << QByteArray("\"line\": 4000000000000000001e-18,")
        << QStringLiteral("keys[3].line") << QStringLiteral("not 4000000000000000001e-18");
    QTest::newRow("key number fraction")
        << QByteArray("\"key\": 4,") << QByteArray("\"key\": 4.0000000000000001,")
        << QStringLiteral("keys[3].key") << QStringLiteral("from 1 to 16, not 4.0000000000000001");
    QTest::newRow("operation fraction")
        << QByteArray("\"operation\": \"toggle\"")
        << QByteArray("\"operation\": 2.5000000000000000001") << QStringLiteral("keys[0].operation")
        << QStringLiteral("not 2.5000000000000000001");
    QTest::newRow("whole with zeros")
        << line << QByteArray("\"line\": 4.000,") << QString() << QString();
    QTest::newRow("whole by exponent")
        << line << QByteArray("\"line\": 0.04E+2,") << QString() << QString();
}

void tst_panel_file::text_as_written()
{
    QFETCH(QByteArray, from);
    QFETCH(QByteArray, to);
    QFETCH(QString, field);
    QFETCH(QString, problem);
    QByteArray text = panel_file_text(panel_config{});
    const qsizetype at = text.indexOf(from);
    QVERIFY(at >= 0);
    text.replace(at, from.size(), to);
    const auto parsed = parse_panel_file(text);
    if (field.isEmpty()) {
        QVERIFY(std::holds_alternative<panel_config>(parsed));
        QCOMPARE(int(std::get<panel_config>(parsed).keys[3].line), 4);
        return;
    }
    QVERIFY(std::holds_alternative<panel_file_error>(parsed));
    const auto& error = std::get<panel_file_error>(parsed);
    QCOMPARE(error.field, field);
    QVERIFY2(error.problem.contains(problem), qPrintable(error.problem));
}

QTEST_APPLESS_MAIN(tst_panel_file)
#include "tst_panel_file.moc"
