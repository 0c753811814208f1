// lorvane-cli's words for a port that cannot be opened or went away, one line each: the
// device as the user named it, what happened, and what to do about it.
#pragma once

#include "serial_link.h"

#include <QString>

namespace lorvane::cli {

// Why the port could not be opened (a bad --port text included).
QString failure_text(const port_failure& failure);
// The port went away while open: an adapter unplugged, a network connection lost.
QString lost_port_text(const serial_link& link);

}  // namespace lorvane::cli
