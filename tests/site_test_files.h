// The files a test of a whole site writes, and what lorvane-cli --json printed for it.
#pragma once

#include "panel_config.h"
#include "panel_file.h"
#include "site_file.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>

#include <functional>
#include <tuple>
#include <variant>
#include <vector>

namespace lorvane {

inline QString write_file(const QString& path, const QByteArray& text)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

inline panel_config panel(std::uint8_t address,
                          const std::function<void(panel_config&)>& change = {})
{
    panel_config config;
    config.module_address = address;
    if (change)
        change(config);
    return config;
}

// A site file: buses as (name, port, panel paths).
inline QByteArray site_text(const QString& name,
                            const std::vector<std::tuple<QString, QString, QStringList>>& buses)
{
    site_plan plan;
    plan.name = name;
    for (const auto& [bus, port, panels] : buses)
        plan.buses.push_back({bus, port, false, panels, {}});
    return site_file_text(plan);
}

// What --json printed, at a path of member names and array indexes: {"buses", 0, "modules"}.
inline QJsonValue json_at(const QByteArray& json,
                          const std::vector<std::variant<const char*, int>>& path)
{
    QJsonValue value = QJsonDocument::fromJson(json).object();
    for (const auto& step : path) {
        if (const auto* name = std::get_if<const char*>(&step))
            value = value.toObject().value(QLatin1String(*name));
        else
            value = value.toArray().at(std::get<int>(step));
    }
    return value;
}

// Each `"health":{...}` member of a site's JSON text replaced by `"health":H`.
inline void hide_health(QString& json)
{
    static const QLatin1String health(",\"health\":");
    for (qsizetype at = json.indexOf(health); at >= 0; at = json.indexOf(health, at + 1)) {
        const qsizetype open = at + health.size();
        qsizetype end = open;
        int depth = 0;
        bool quoted = false;
        for (; end < json.size(); ++end) {
            const QChar c = json[end];
            if (quoted && c == u'\\')
                ++end;  // an escaped character
            else if (c == u'"')
                quoted = !quoted;
            else if (!quoted && c == u'{')
                ++depth;
            else if (!quoted && c == u'}' && --depth == 0)
                break;
        }
        json.replace(open, end + 1 - open, QStringLiteral("H"));
    }
}

}  // namespace lorvane
