// The window's answer to a TLS server whose certificate is unknown: the trust box, and the
// pin stored among the known servers when the user trusts it.
#pragma once

#include "serial_device.h"

#include <functional>

class QWidget;

namespace lorvane {

class serial_link;

// Shows the trust box for `failure` (a certificate_unknown failure with its certificate).
// When the user trusts the server, stores its fingerprint in `known_servers` and returns
// true; when they refuse, or the pin cannot be stored (one box says why), false.
bool trust_unknown_server(QWidget* parent, const port_failure& failure,
                          const QString& known_servers);

// The same box without waiting for it (message_box::ask_later), for the site window whose
// other buses go on meanwhile: `answered` gets true once the user trusted the server and its
// pin is stored in `known_servers`, false when they refused or it could not be stored (a box
// says why). Returns the box, for message_box::withdraw().
QWidget* trust_unknown_server_later(QWidget* parent, const port_failure& failure,
                                    const QString& known_servers,
                                    std::function<void(bool trusted)> answered);

// The window's answer to a failed open: false, saying nothing, unless the failure is an
// unknown certificate; then the trust box, and a server the user trusts is stored and `link`
// opens it again (a box says why when that fails). True when the failure was answered here.
bool trust_and_reopen(QWidget* parent, serial_link& link, const port_failure& failure);

}  // namespace lorvane
