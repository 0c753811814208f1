// The window's answer to a TLS server whose certificate is unknown: the trust box, and the
// pin stored among the known servers when the user trusts it.
#pragma once

#include "serial_device.h"

class QWidget;

namespace lorvane {

class serial_link;

// Shows the trust box for `failure` (a certificate_unknown failure with its certificate).
// When the user trusts the server, stores its fingerprint in `known_servers` and returns
// true; when they refuse, or the pin cannot be stored (one box says why), false.
bool trust_unknown_server(QWidget* parent, const port_failure& failure,
                          const QString& known_servers);

// The window's answer to a failed open: false, saying nothing, unless the failure is an
// unknown certificate; then the trust box, and a server the user trusts is stored and `link`
// opens it again (a box says why when that fails). True when the failure was answered here.
bool trust_and_reopen(QWidget* parent, serial_link& link, const port_failure& failure);

}  // namespace lorvane
