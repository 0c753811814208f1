#include "panel_file.h"

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

[[noreturn]] void refuse(const QString& field, const QString& problem)
{
    throw refusal{{field, problem}};
}

QString shown(const QJsonValue& value)
{
    switch (value.type()) {
    case QJsonValue::String:
        return u'"' + value.toString() + u'"';
    case QJsonValue::Double:
        return QString::number(value.toDouble(), 'g', 17);
    case QJsonValue::Bool:
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QJsonValue::Null:
        return QStringLiteral("null");
    case QJsonValue::Array:
        return QStringLiteral("an array");
    case QJsonValue::Object:
        return QStringLiteral("an object");
    default:
        return QStringLiteral("nothing");
    }
}

std::optional<std::uint8_t> as_byte(const QJsonValue& value)
{
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (!(number >= 0.0 && number <= 255.0) || std::floor(number) != number)
        return std::nullopt;
    return static_cast<std::uint8_t>(number);
}

std::uint8_t byte_member(const QJsonObject& object, const QString& name, const QString& path)
{
    const QJsonValue value = object.value(name);
    if (value.isUndefined())
        refuse(path, QStringLiteral("is missing; it ") + BYTE_RANGE);
    const auto byte = as_byte(value);
    if (!byte)
        refuse(path, BYTE_RANGE + QStringLiteral(", not ") + shown(value));
    return *byte;
}

// Refuses any member of `object` not in `known`.
void only_members(const QJsonObject& object, const QStringList& known, const QString& prefix)
{
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (!known.contains(it.key()))
            refuse(prefix + it.key(), QStringLiteral("is not a member of a panel file (known: %1)")
                                          .arg(known.join(QStringLiteral(", "))));
    }
}

operation_code operation_member(const QJsonObject& key, const QString& path)
{
    const QJsonValue value = key.value(QStringLiteral("operation"));
    const QString accepted =
        QStringLiteral("must be \"none\", \"toggle\", \"momentary\", \"pulse\", one of the "
                       "window's operation texts, or a whole number from 0 to 255");
    if (value.isUndefined())
        refuse(path, QStringLiteral("is missing; it ") + accepted);
    if (value.isString()) {
        const QString text = value.toString();
        const auto& names = operation_names();
        for (std::size_t code = 0; code < names.size(); ++code) {
            if (text == names[code])
                return static_cast<operation_code>(code);
        }
        if (const operation_code code = operation_code_of(text); code != 0)
            return code;
    } else if (const auto byte = as_byte(value)) {
        return *byte;
    }
    refuse(path, accepted + QStringLiteral(", not ") + shown(value));
}

panel_config parse(const QByteArray& json)
{
    QJsonParseError parse_error{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &parse_error);
    if (parse_error.error != QJsonParseError::NoError)
        refuse({}, QStringLiteral("is not valid JSON: %1 at byte %2")
                       .arg(parse_error.errorString())
                       .arg(parse_error.offset));
    if (!document.isObject())
        refuse({}, QStringLiteral("must hold one JSON object"));
    const QJsonObject root = document.object();
    only_members(root,
                 {QStringLiteral("format"), QStringLiteral("module_address"),
                  QStringLiteral("refresh_period"), QStringLiteral("keys")},
                 {});

    const QJsonValue format = root.value(QStringLiteral("format"));
    if (format != QJsonValue(PANEL_FILE_FORMAT))
        refuse(QStringLiteral("format"),
               QStringLiteral("must be \"%1\", not %2").arg(PANEL_FILE_FORMAT, shown(format)));

    panel_config config;
    config.module_address =
        byte_member(root, QStringLiteral("module_address"), QStringLiteral("module_address"));
    config.refresh_period =
        byte_member(root, QStringLiteral("refresh_period"), QStringLiteral("refresh_period"));

    const QJsonValue keys_value = root.value(QStringLiteral("keys"));
    if (!keys_value.isArray() || keys_value.toArray().size() != KEY_COUNT)
        refuse(QStringLiteral("keys"),
               QStringLiteral("must be an array of 16 entries, one for each key 1..16, not %1")
                   .arg(keys_value.isArray()
                            ? QStringLiteral("%1 entries").arg(keys_value.toArray().size())
                            : shown(keys_value)));
    const QJsonArray keys = keys_value.toArray();
    QSet<int> seen;
    for (qsizetype i = 0; i < keys.size(); ++i) {
        const QString path = QStringLiteral("keys[%1]").arg(i);
        if (!keys[i].isObject())
            refuse(path, QStringLiteral("must be an object, not %1").arg(shown(keys[i])));
        const QJsonObject key = keys[i].toObject();
        only_members(key,
                     {QStringLiteral("key"), QStringLiteral("address"), QStringLiteral("line"),
                      QStringLiteral("operation")},
                     path + u'.');
        const QJsonValue number = key.value(QStringLiteral("key"));
        const auto k = as_byte(number);
        if (!k || *k < 1 || *k > KEY_COUNT)
            refuse(
                path + QStringLiteral(".key"),
                QStringLiteral("must be a whole number from 1 to 16, not %1").arg(shown(number)));
        if (seen.contains(*k))
            refuse(path + QStringLiteral(".key"),
                   QStringLiteral("names key %1 a second time; each key 1..16 once").arg(*k));
        seen.insert(*k);
        key_binding& binding = config.keys[std::size_t(*k - 1)];
        binding.address =
            byte_member(key, QStringLiteral("address"), path + QStringLiteral(".address"));
        binding.line = byte_member(key, QStringLiteral("line"), path + QStringLiteral(".line"));
        binding.operation = operation_member(key, path + QStringLiteral(".operation"));
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
