// Which device a port text names, as one text for all its spellings, and which link of this
// program holds each port it has open. Two windows of one program may both want a port (the
// main window and a site run); the second is refused here, before the system is asked, for
// the system may let one program open a device twice and mix both conversations on the line.
#pragma once

#include "port_name.h"

#include <QString>

#include <optional>

namespace lorvane {

// The text for which two port texts that name one device are equal ("ttyUSB0" and
// "/dev/ttyUSB0"; "COM3" and "com3" on Windows; "tcp://GW:4001" and "rfc2217://gw:4001",
// for a network server's port serves one client whatever the scheme; "dnssd:Line-3" and
// "dnssd:line-3", by the service name alone), or nothing when
// `port` names no device.
std::optional<QString> device_identity(const QString& port, port_platform platform = HOST_PLATFORM);

namespace port_holders {

// Records that `holder` holds the device `identity`; false, recording nothing, when another
// holder has it.
bool take(const QString& identity, const void* holder);
// Forgets whatever `holder` holds.
void release(const void* holder);

}  // namespace port_holders
}  // namespace lorvane
