#include "port_holders.h"

#include "network_port.h"

#include <QHostAddress>

#include <map>
#include <mutex>

namespace lorvane {

std::optional<QString> device_identity(const QString& port, port_platform platform)
{
    if (is_network_port_text(port)) {
        const network_port_result url = parse_network_port(port);
        if (!url.ok())
            return std::nullopt;
        QString host = url.port->host.toLower();
        if (const QHostAddress address(host); !address.isNull())
            host = address.toString();  // one spelling of each address
        return QStringLiteral("net:%1:%2").arg(host).arg(url.port->port);
    }
    const port_name_result name = system_port_name(port, platform);
    if (!name.ok())
        return std::nullopt;
    QString device = name.device;
    if (platform == port_platform::windows) {
        if (device.startsWith(QStringLiteral("\\\\.\\")))
            device = device.mid(4);
        return QStringLiteral("dev:") + device.toUpper();
    }
    if (device.startsWith(QStringLiteral("/dev/")))
        device = device.mid(5);
    return QStringLiteral("dev:") + device;
}

namespace port_holders {

namespace {

struct registry
{
    std::mutex mutex;
    std::map<QString, const void*> holders;  // identity -> holder
};

registry& the_registry()
{
    static registry r;
    return r;
}

}  // namespace

bool take(const QString& identity, const void* holder)
{
    registry& r = the_registry();
    const std::lock_guard lock(r.mutex);
    const auto [it, fresh] = r.holders.emplace(identity, holder);
    return fresh || it->second == holder;
}

void release(const void* holder)
{
    registry& r = the_registry();
    const std::lock_guard lock(r.mutex);
    std::erase_if(r.holders, [holder](const auto& entry) { return entry.second == holder; });
}

}  // namespace port_holders
}  // namespace lorvane
