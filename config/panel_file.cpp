#include "panel_file.h"

#include "json_text.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QSet>

#include <array>
#include <cmath>
#include <optional>

namespace lorvane {

namespace {

// Index = code 0..3.
const std::array<QString, 4>& operation_names()
{
    static const std::array<QString, 4> names{QStringLiteral("none"), QStringLiteral("toggle"),
                                              QStringLiteral("momentary"), QStringLiteral("pulse")};
    return names;
}

const QString BYTE_RANGE = QStringLiteral("must be a whole number from 0 to 255");

// Thrown inside the parser only, caught at its top: the first problem ends the parse.
struct refusal
{
    panel_file_error error;
};

[[noreturn]] void refuse(const QString& field, const QString& problem,
                         panel_file_problem kind = panel_file_problem::other,
                         const QString& value = {}, json_place at = {}, qsizetype offset = 0,
                         qsizetype entries = -1)
{
    throw refusal{{field, problem, kind, value, at, offset, entries}};
}

// Reads a document's members into a configuration, refusing the first thing wrong.
class reader
{
public:
    explicit reader(const json_literal_scan& scan) : fractions_(scan.fractions) {}

    QString shown(const QJsonValue& value, const QString& path) const
    {
        const auto written = fractions_.constFind(path);
        return shown_json(value,
                          written == fractions_.cend() ? std::nullopt : std::optional(*written),
                          QStringLiteral("nothing"));
    }

    // The member `name` of `object`, at `path`; refused when it is missing.
    static QJsonValue required(const QJsonObject& object, const QString& name, const QString& path,
                               const QString& accepted)
    {
        const QJsonValue value = object.value(name);
        if (value.isUndefined())
            refuse(path, QStringLiteral("is missing; it ") + accepted, panel_file_problem::missing);
        return value;
    }

    // A whole number from 0 to 255, as written in the file.
    std::optional<std::uint8_t> as_byte(const QJsonValue& value, const QString& path) const
    {
        if (!value.isDouble() || fractions_.contains(path))
            return std::nullopt;
        const double number = value.toDouble();
        if (!(number >= 0.0 && number <= 255.0) || std::floor(number) != number)
            return std::nullopt;
        return static_cast<std::uint8_t>(number);
    }

    std::uint8_t byte_member(const QJsonObject& object, const QString& name,
                             const QString& path) const
    {
        const QJsonValue value = required(object, name, path, BYTE_RANGE);
        const auto byte = as_byte(value, path);
        if (!byte)
            refuse(path, BYTE_RANGE + QStringLiteral(", not ") + shown(value, path),
                   panel_file_problem::not_a_byte, shown(value, path));
        return *byte;
    }

    operation_code operation_member(const QJsonObject& key, const QString& path) const
    {
        const QString accepted =
            QStringLiteral("must be \"none\", \"toggle\", \"momentary\", \"pulse\", one of the "
                           "window's operation texts, or a whole number from 0 to 255");
        const QJsonValue value = required(key, QStringLiteral("operation"), path, accepted);
        if (value.isString()) {
            const QString text = value.toString();
            const auto& names = operation_names();
            for (std::size_t code = 0; code < names.size(); ++code) {
                if (text == names[code])
                    return static_cast<operation_code>(code);
            }
            if (const operation_code code = operation_code_of(text); code != 0)
                return code;
        } else if (const auto byte = as_byte(value, path)) {
            return *byte;
        }
        refuse(path, accepted + QStringLiteral(", not ") + shown(value, path),
               panel_file_problem::bad_operation, shown(value, path));
    }

    // The number of the key an entry of "keys" describes, 1..16.
    int key_number(const QJsonObject& key, const QString& path) const
    {
        const QString accepted = QStringLiteral("must be a whole number from 1 to 16");
        const QJsonValue number = required(key, QStringLiteral("key"), path, accepted);
        const auto k = as_byte(number, path);
        if (!k || *k < 1 || *k > KEY_COUNT)
            refuse(path, accepted + QStringLiteral(", not ") + shown(number, path),
                   panel_file_problem::not_a_key, shown(number, path));
        return *k;
    }

private:
    const QHash<QString, QString>& fractions_;
};

// Refuses any member of `object` not in `known`.
void only_members(const QJsonObject& object, const QStringList& known, const QString& prefix)
{
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (!known.contains(it.key()))
            refuse(prefix + shown_text(it.key()),
                   QStringLiteral("is not a member of a panel file (known: %1)")
                       .arg(known.join(QStringLiteral(", "))),
                   panel_file_problem::unknown_member);
    }
}

panel_config parse(const QByteArray& json)
{
    QJsonParseError parse_error{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &parse_error);
    if (parse_error.error != QJsonParseError::NoError) {
        const json_place at = json_place_of(json, parse_error.offset);
        refuse({},
               QStringLiteral("is not valid JSON: %1 at line %2, column %3 (byte %4)")
                   .arg(parse_error.errorString())
                   .arg(at.line)
                   .arg(at.column)
                   .arg(parse_error.offset),
               panel_file_problem::not_json, parse_error.errorString(), at, parse_error.offset);
    }
    if (!document.isObject())
        refuse({}, QStringLiteral("must hold one JSON object"), panel_file_problem::not_an_object);
    const json_literal_scan scan(json);
    if (scan.repeated_member)
        refuse(*scan.repeated_member, QStringLiteral("is given twice; each member may appear once"),
               panel_file_problem::given_twice);
    const reader read(scan);
    const QJsonObject root = document.object();
    only_members(root,
                 {QStringLiteral("format"), QStringLiteral("module_address"),
                  QStringLiteral("refresh_period"), QStringLiteral("keys")},
                 {});

    const QString format_accepted = QStringLiteral("must be \"%1\"").arg(PANEL_FILE_FORMAT);
    const QJsonValue format =
        reader::required(root, QStringLiteral("format"), QStringLiteral("format"), format_accepted);
    if (format != QJsonValue(PANEL_FILE_FORMAT))
        refuse(QStringLiteral("format"),
               format_accepted + QStringLiteral(", not ") +
                   read.shown(format, QStringLiteral("format")),
               panel_file_problem::wrong_format, read.shown(format, QStringLiteral("format")));

    panel_config config;
    config.module_address =
        read.byte_member(root, QStringLiteral("module_address"), QStringLiteral("module_address"));
    config.refresh_period =
        read.byte_member(root, QStringLiteral("refresh_period"), QStringLiteral("refresh_period"));

    const QString keys_accepted =
        QStringLiteral("must be an array of 16 entries, one for each key 1..16");
    const QJsonValue keys_value =
        reader::required(root, QStringLiteral("keys"), QStringLiteral("keys"), keys_accepted);
    if (!keys_value.isArray() || keys_value.toArray().size() != KEY_COUNT)
        refuse(QStringLiteral("keys"),
               keys_accepted +
                   QStringLiteral(", not %1")
                       .arg(keys_value.isArray()
                                ? QStringLiteral("%1 entries").arg(keys_value.toArray().size())
                                : read.shown(keys_value, QStringLiteral("keys"))),
               panel_file_problem::not_16_keys,
               keys_value.isArray() ? QString() : read.shown(keys_value, QStringLiteral("keys")),
               {}, 0, keys_value.isArray() ? keys_value.toArray().size() : -1);
    const QJsonArray keys = keys_value.toArray();
    QSet<int> seen;
    for (qsizetype i = 0; i < keys.size(); ++i) {
        const QString path = QStringLiteral("keys[%1]").arg(i);
        if (!keys[i].isObject())
            refuse(path, QStringLiteral("must be an object, not %1").arg(read.shown(keys[i], path)),
                   panel_file_problem::not_an_object, read.shown(keys[i], path));
        const QJsonObject key = keys[i].toObject();
        only_members(key,
                     {QStringLiteral("key"), QStringLiteral("address"), QStringLiteral("line"),
                      QStringLiteral("operation")},
                     path + u'.');
        const int k = read.key_number(key, path + QStringLiteral(".key"));
        if (seen.contains(k))
            refuse(path + QStringLiteral(".key"),
                   QStringLiteral("names key %1 a second time; each key 1..16 once").arg(k),
                   panel_file_problem::key_twice, QString::number(k));
        seen.insert(k);
        key_binding& binding = config.keys[std::size_t(k - 1)];
        binding.address =
            read.byte_member(key, QStringLiteral("address"), path + QStringLiteral(".address"));
        binding.line =
            read.byte_member(key, QStringLiteral("line"), path + QStringLiteral(".line"));
        binding.operation = read.operation_member(key, path + QStringLiteral(".operation"));
    }
    return config;  // 16 distinct keys 1..16 among 16 entries: none is missing
}

}  // namespace

QString operation_name(operation_code code)
{
    return code < operation_names().size() ? operation_names()[code] : QString::number(code);
}

std::variant<panel_config, panel_file_error> parse_panel_file(const QByteArray& json)
{
    try {
        return parse(json);
    } catch (const refusal& r) {
        return r.error;
    }
}

QByteArray panel_file_text(const panel_config& config)
{
    QJsonArray keys;
    for (int i = 0; i < KEY_COUNT; ++i) {
        const key_binding& key = config.keys[std::size_t(i)];
        const QJsonValue operation = key.operation < operation_names().size()
                                         ? QJsonValue(operation_names()[key.operation])
                                         : QJsonValue(int(key.operation));
        keys.append(QJsonObject{{QStringLiteral("key"), i + 1},
                                {QStringLiteral("address"), int(key.address)},
                                {QStringLiteral("line"), int(key.line)},
                                {QStringLiteral("operation"), operation}});
    }
    const QJsonObject root{{QStringLiteral("format"), PANEL_FILE_FORMAT},
                           {QStringLiteral("module_address"), int(config.module_address)},
                           {QStringLiteral("refresh_period"), int(config.refresh_period)},
                           {QStringLiteral("keys"), keys}};
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

}  // namespace lorvane
