// lorvane-cli's words for a port that cannot be opened or went away: the device as the user
// named it, what happened, and what to do about it; and for a TLS server's certificate.
#pragma once

#include "serial_link.h"

#include <QString>

#include <optional>

namespace lorvane::cli {

// Why the port could not be opened (a bad --port text included): one line, or for a
// certificate to check several, separated by '\n'. A certificate not trusted is offered the
// trust command, and --trust for one run unless `trust_option` is false (the site commands,
// which do not take it).
QString failure_text(const port_failure& failure, bool trust_option = true);
// The port went away while open, and why: an adapter unplugged, a network connection lost.
// A port that simply went away is said to have been closed unless `say_closed` is false (the
// texts for a flooding server and a server that speaks TLS say their own end).
QString lost_port_text(const serial_link& link);  // its port and last_loss()
QString lost_port_text(const QString& device, port_loss why, bool say_closed = true);
// A warning for a trusted certificate that has expired or expires within
// CERTIFICATE_WARNING_DAYS of `now`.
std::optional<QString> expiry_warning(const server_certificate& certificate, const QDateTime& now);

}  // namespace lorvane::cli
