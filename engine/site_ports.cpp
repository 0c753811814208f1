#include "site_ports.h"

#include "json_text.h"
#include "port_holders.h"

#include <map>

namespace lorvane {

std::optional<QString> port_identity(const QString& port, port_platform platform)
{
    if (const auto serial = usb_serial_of(port))
        return QStringLiteral("usb:") + serial->toUpper();
    if (port.trimmed().startsWith(USB_PORT_PREFIX, Qt::CaseInsensitive))
        return std::nullopt;
    return device_identity(port, platform);
}

std::optional<site_file_error> check_site_ports(const site_plan& plan, port_platform platform)
{
    std::map<QString, int> seen;  // identity -> bus
    const auto member_of = [&](int bus) { return QStringLiteral("buses[%1].port").arg(bus); };
    for (int i = 0; i < int(plan.buses.size()); ++i) {
        const site_bus& bus = plan.buses[std::size_t(i)];
        site_file_error error;
        error.bus = i;
        error.member = member_of(i);
        error.value = shown_text(bus.port);
        error.from_command_line = bus.port_overridden;
        const auto identity = port_identity(bus.port, platform);
        if (!identity) {
            error.kind = site_problem::bad_port;
            return error;
        }
        const auto [first, fresh] = seen.emplace(*identity, i);
        if (!fresh) {
            const site_bus& other = plan.buses[std::size_t(first->second)];
            error.kind = site_problem::port_twice;
            error.other_member = member_of(first->second);
            error.bus_name = shown_text(bus.name);
            error.other_bus_name = shown_text(other.name);
            error.other_value = shown_text(other.port);
            return error;
        }
    }
    return std::nullopt;
}

std::variant<site_plan, site_file_error>
load_checked_site(const QString& path, const std::vector<port_override>& overrides,
                  site_digests* digests)
{
    auto loaded = load_site(path, overrides, digests);
    if (const auto* plan = std::get_if<site_plan>(&loaded)) {
        if (auto error = check_site_ports(*plan))
            return *error;
    }
    return loaded;
}

}  // namespace lorvane
