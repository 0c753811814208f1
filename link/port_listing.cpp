#include "port_listing.h"

#include <algorithm>

namespace lorvane {

namespace {
std::function<std::vector<port_entry>()>& port_source()
{
    static std::function<std::vector<port_entry>()> source;
    return source;
}
}  // namespace

void set_port_source(std::function<std::vector<port_entry>()> source)
{
    port_source() = std::move(source);
}

std::vector<port_entry> available_ports()
{
    if (port_source())
        return port_source()();
    std::vector<port_entry> ports = system_ports();
    std::sort(ports.begin(), ports.end(),
              [](const port_entry& a, const port_entry& b) { return a.name < b.name; });
    return ports;
}

QStringList ports_with_serial(const QString& serial)
{
    QStringList names;
    if (serial.isEmpty())
        return names;
    for (const port_entry& port : available_ports()) {
        if (port.serial_number.compare(serial, Qt::CaseInsensitive) == 0)
            names << port.name;
    }
    return names;
}

}  // namespace lorvane
