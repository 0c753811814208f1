#include "site_file.h"

#include "json_text.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QRegularExpression>

#include <map>

namespace lorvane {

namespace {

// Thrown inside the parser only, caught at its top: the first problem ends the parse.
struct site_refusal
{
    site_file_error error;
};

[[noreturn]] void refuse(site_problem kind, const QString& member, const QString& value = {})
{
    site_file_error error;
    error.kind = kind;
    error.member = member;
    error.value = value;
    throw site_refusal{error};
}

// A JSON value as a message shows it.
QString shown(const QJsonValue& value)
{
    return shown_json(value);
}

void only_members(const QJsonObject& object, const QStringList& known, const QString& prefix)
{
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (!known.contains(it.key()))
            refuse(site_problem::unknown_member, prefix + shown_text(it.key()));
    }
}

QJsonValue required(const QJsonObject& object, const QString& name, const QString& path)
{
    const QJsonValue value = object.value(name);
    if (value.isUndefined())
        refuse(site_problem::missing, path);
    return value;
}

QString text_member(const QJsonObject& object, const QString& name, const QString& path)
{
    const QJsonValue value = required(object, name, path);
    if (!value.isString())
        refuse(site_problem::not_a_text, path, shown(value));
    return value.toString();
}

QString name_member(const QJsonObject& object, const QString& path)
{
    const QString name = text_member(object, QStringLiteral("name"), path);
    if (name.trimmed().isEmpty())
        refuse(site_problem::empty_name, path, shown(QJsonValue(name)));
    return name;
}

// Absolute on any system: a site file travels between them.
bool is_absolute_anywhere(const QString& path)
{
    static const QRegularExpression drive(QStringLiteral(R"(\A[A-Za-z]:)"));
    return path.startsWith(u'/') || path.startsWith(u'\\') || drive.match(path).hasMatch();
}

// A panel path as the loader will use it: either separator, "." and ".." resolved.
QString comparable_path(const QString& path)
{
    QString cleaned = path;
    cleaned.replace(u'\\', u'/');
    QStringList parts;
    for (const QString& part : cleaned.split(u'/', Qt::SkipEmptyParts)) {
        if (part == QStringLiteral("."))
            continue;
        if (part == QStringLiteral("..") && !parts.isEmpty() && parts.last() != part)
            parts.removeLast();
        else
            parts << part;
    }
    return parts.join(u'/');
}

site_bus parse_bus(const QJsonValue& value, const QString& path)
{
    if (!value.isObject())
        refuse(site_problem::not_an_object, path, shown(value));
    const QJsonObject object = value.toObject();
    only_members(object, {QStringLiteral("name"), QStringLiteral("port"), QStringLiteral("panels")},
                 path + u'.');
    site_bus bus;
    bus.name = name_member(object, path + QStringLiteral(".name"));
    bus.port = text_member(object, QStringLiteral("port"), path + QStringLiteral(".port"));
    const QString panels_path = path + QStringLiteral(".panels");
    const QJsonValue panels = required(object, QStringLiteral("panels"), panels_path);
    if (!panels.isArray())
        refuse(site_problem::not_a_list, panels_path, shown(panels));
    std::map<QString, QString> seen;  // comparable path -> member that named it first
    const QJsonArray list = panels.toArray();
    for (qsizetype i = 0; i < list.size(); ++i) {
        const QString member = QStringLiteral("%1[%2]").arg(panels_path).arg(i);
        if (!list[i].isString())
            refuse(site_problem::not_a_text, member, shown(list[i]));
        const QString panel = list[i].toString();
        if (panel.trimmed().isEmpty() || is_absolute_anywhere(panel) ||
            comparable_path(panel).isEmpty())
            refuse(site_problem::bad_panel_path, member, shown(list[i]));
        const auto [first, fresh] = seen.emplace(comparable_path(panel), member);
        if (!fresh) {
            site_file_error error;
            error.kind = site_problem::panel_twice;
            error.member = member;
            error.other_member = first->second;
            error.value = shown_text(panel);
            throw site_refusal{error};
        }
        bus.panel_paths << panel;
    }
    return bus;
}

site_plan parse(const QByteArray& json)
{
    QJsonParseError parse_error{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &parse_error);
    if (parse_error.error != QJsonParseError::NoError) {
        const json_place at = json_place_of(json, parse_error.offset);
        refuse(site_problem::not_json, {},
               QStringLiteral("%1 at line %2, column %3 (byte %4)")
                   .arg(parse_error.errorString())
                   .arg(at.line)
                   .arg(at.column)
                   .arg(parse_error.offset));
    }
    if (!document.isObject())
        refuse(site_problem::not_an_object, {});
    if (const json_literal_scan scan(json); scan.repeated_member)
        refuse(site_problem::given_twice, *scan.repeated_member);
    const QJsonObject root = document.object();
    only_members(root, {QStringLiteral("format"), QStringLiteral("name"), QStringLiteral("buses")},
                 {});
    const QJsonValue format = required(root, QStringLiteral("format"), QStringLiteral("format"));
    if (format != QJsonValue(SITE_FILE_FORMAT))
        refuse(site_problem::wrong_format, QStringLiteral("format"), shown(format));

    site_plan plan;
    plan.name = name_member(root, QStringLiteral("name"));
    const QJsonValue buses = required(root, QStringLiteral("buses"), QStringLiteral("buses"));
    if (!buses.isArray())
        refuse(site_problem::not_a_list, QStringLiteral("buses"), shown(buses));
    const QJsonArray list = buses.toArray();
    if (list.isEmpty())
        refuse(site_problem::no_buses, QStringLiteral("buses"));
    if (list.size() > SITE_MAX_BUSES) {
        site_file_error error;
        error.kind = site_problem::too_many_buses;
        error.member = QStringLiteral("buses");
        error.number = int(list.size());
        throw site_refusal{error};
    }
    // Names compared without regard to case: they name folders, and Windows folders ignore it.
    std::map<QString, QString> names;
    for (qsizetype i = 0; i < list.size(); ++i) {
        const QString path = QStringLiteral("buses[%1]").arg(i);
        plan.buses.push_back(parse_bus(list[i], path));
        const QString member = path + QStringLiteral(".name");
        const auto [first, fresh] = names.emplace(plan.buses.back().name.toCaseFolded(), member);
        if (!fresh) {
            site_file_error error;
            error.kind = site_problem::name_twice;
            error.member = member;
            error.other_member = first->second;
            error.value = shown_text(plan.buses.back().name);
            error.bus = int(i);
            throw site_refusal{error};
        }
    }
    // A panel file describes one module, which is on one bus.
    std::map<QString, std::pair<int, qsizetype>> panels;  // comparable path -> bus, panel
    for (int b = 0; b < int(plan.buses.size()); ++b) {
        const site_bus& bus = plan.buses[std::size_t(b)];
        for (qsizetype p = 0; p < bus.panel_paths.size(); ++p) {
            const auto [first, fresh] =
                panels.emplace(comparable_path(bus.panel_paths[p]), std::pair{b, p});
            if (fresh)
                continue;
            const auto [other_bus, other_panel] = first->second;
            site_file_error error;
            error.kind = site_problem::panel_two_buses;
            error.bus = b;
            error.member = QStringLiteral("buses[%1].panels[%2]").arg(b).arg(p);
            error.other_member =
                QStringLiteral("buses[%1].panels[%2]").arg(other_bus).arg(other_panel);
            error.value = shown_text(bus.panel_paths[p]);
            error.bus_name = shown_text(bus.name);
            error.other_bus_name = shown_text(plan.buses[std::size_t(other_bus)].name);
            throw site_refusal{error};
        }
    }
    return plan;
}

// The JSON text of one string, quotes and escapes included.
QString json_string(const QString& text)
{
    return QString::fromUtf8(json_quoted(text));
}

}  // namespace

bool names_site_format(const QByteArray& json)
{
    const QJsonDocument document = QJsonDocument::fromJson(json);
    return document.isObject() &&
           document.object().value(QStringLiteral("format")) == QJsonValue(SITE_FILE_FORMAT);
}

std::variant<site_plan, site_file_error> parse_site_file(const QByteArray& json)
{
    try {
        return parse(json);
    } catch (const site_refusal& r) {
        return r.error;
    }
}

std::optional<site_file_error> override_port(site_plan& plan, const QString& bus,
                                             const QString& port)
{
    for (site_bus& b : plan.buses) {
        if (b.name == bus) {
            b.port = port;
            b.port_overridden = true;
            return std::nullopt;
        }
    }
    site_file_error error;
    error.kind = site_problem::unknown_bus;
    error.value = shown_text(bus);
    error.from_command_line = true;
    return error;
}

std::optional<QString> usb_serial_of(const QString& port)
{
    const QString text = port.trimmed();
    if (!text.startsWith(USB_PORT_PREFIX, Qt::CaseInsensitive))
        return std::nullopt;
    const QString serial = text.mid(USB_PORT_PREFIX.size());
    if (serial.isEmpty() || serial.size() > USB_SERIAL_MAX_LENGTH)
        return std::nullopt;
    for (const QChar c : serial) {
        if (c.unicode() <= u' ' || c.unicode() >= 0x7F)
            return std::nullopt;  // serial numbers are printable ASCII
    }
    return serial;
}

std::optional<site_file_error> check_site_panels(const site_plan& plan)
{
    for (int i = 0; i < int(plan.buses.size()); ++i) {
        const site_bus& bus = plan.buses[std::size_t(i)];
        std::map<int, qsizetype> seen;  // module address -> panel
        for (qsizetype p = 0; p < qsizetype(bus.panels.size()); ++p) {
            const int address = bus.panels[std::size_t(p)].module_address;
            const auto [first, fresh] = seen.emplace(address, p);
            if (fresh)
                continue;
            site_file_error error;
            error.kind = site_problem::address_twice;
            error.bus = i;
            error.member = QStringLiteral("buses[%1].panels[%2]").arg(i).arg(p);
            error.other_member = QStringLiteral("buses[%1].panels[%2]").arg(i).arg(first->second);
            error.file = bus.panel_paths.value(p);
            error.other_file = bus.panel_paths.value(first->second);
            error.number = address;
            error.value = shown_text(bus.name);
            return error;
        }
    }
    return std::nullopt;
}

QByteArray site_file_text(const site_plan& plan)
{
    QString text = QStringLiteral("{\n    \"format\": %1,\n    \"name\": %2,\n    \"buses\": [")
                       .arg(json_string(SITE_FILE_FORMAT), json_string(plan.name));
    for (std::size_t b = 0; b < plan.buses.size(); ++b) {
        const site_bus& bus = plan.buses[b];
        text +=
            QStringLiteral("%1\n        {\n            \"name\": %2,\n            \"port\": %3,\n"
                           "            \"panels\": [")
                .arg(b == 0 ? QString() : QStringLiteral(","), json_string(bus.name),
                     json_string(bus.port));
        for (qsizetype p = 0; p < bus.panel_paths.size(); ++p)
            text += (p == 0 ? QStringLiteral("\n") : QStringLiteral(",\n")) +
                    QStringLiteral("                ") + json_string(bus.panel_paths[p]);
        text += bus.panel_paths.isEmpty() ? QStringLiteral("]\n        }")
                                          : QStringLiteral("\n            ]\n        }");
    }
    text += QStringLiteral("\n    ]\n}\n");
    return text.toUtf8();
}

}  // namespace lorvane
