// The ports of a site as the devices they name. The site file keeps its ports as text; here
// each text is taken to the device (or network server) behind it, so that one device under
// two names (a symbolic link, /dev/serial/by-id/..., a path with "..", localhost for
// 127.0.0.1) is found on two buses before anything is sent.
#pragma once

#include "port_name.h"
#include "site_file.h"
#include "site_loader.h"

#include <QString>

#include <optional>
#include <variant>
#include <vector>

namespace lorvane {

// The text for which two port texts that name one port are equal: the device behind a local
// port (device_identity), "usb:SERIAL" in capitals for a usb: port, or nothing when `port`
// names none.
std::optional<QString> port_identity(const QString& port, port_platform platform = HOST_PLATFORM);

// Every port names a port (a local one, a network serial server or usb:SERIAL) and no device
// or server serves two buses (port_twice, naming both buses).
std::optional<site_file_error> check_site_ports(const site_plan& plan,
                                                port_platform platform = HOST_PLATFORM);

// The site as a run takes it: load_site (digests as there), then check_site_ports.
std::variant<site_plan, site_file_error>
load_checked_site(const QString& path, const std::vector<port_override>& overrides = {},
                  site_digests* digests = nullptr);

}  // namespace lorvane
