// The window's words for the port: a port text that names no port, a port that could not be
// opened, and a port that went away. The link reports kinds and values; they are worded here.
#pragma once

#include "network_port.h"
#include "port_listing.h"
#include "serial_device.h"

#include <QString>

namespace lorvane {

// What the port box accepts, for a text that names no port, with examples.
QString port_name_refusal_message();

// A refused network port text: the part that is wrong, what it must be, and an example.
QString network_port_refusal_message(const network_port_result& refused, const QString& text);

// A port that could not be opened (a text that names no port included), naming the device,
// the system's reason and what the user can do about it.
QString port_failure_message(const port_failure& failure);

// A port that went away while open.
QString port_lost_message(const QString& device);

// A listed port's description with its maker, for the port box's list: "USB Serial（FTDI）".
QString port_description(const port_entry& port);

}  // namespace lorvane
