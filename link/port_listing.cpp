#include "port_listing.h"

#include <QSerialPortInfo>

#include <algorithm>

namespace lorvane {

std::vector<port_entry> available_ports()
{
    std::vector<port_entry> ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        QString description = info.description();
        if (!info.manufacturer().isEmpty() && !description.contains(info.manufacturer()))
            description = description.isEmpty() ? info.manufacturer()
                                                : description + QStringLiteral("（") +
                                                      info.manufacturer() + QStringLiteral("）");
        ports.push_back({info.portName(), description});
    }
    std::sort(ports.begin(), ports.end(),
              [](const port_entry& a, const port_entry& b) { return a.name < b.name; });
    return ports;
}

}  // namespace lorvane
