// How a network serial server inside TLS is trusted, and what the client shows it: one small
// value the front ends fill (from the command line, or from the user's configuration folder)
// and hand to the link, plus the helpers both front ends share to name certificates.
#pragma once

#include "file_access.h"
#include "serial_device.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <variant>
#include <vector>

class QSslCertificate;
class QSslConfiguration;

namespace lorvane {

// A trusted certificate that expires within this many days is worth a warning: ser2net's
// own certificates last 365 days, so installers meet their end a year after setting up.
inline constexpr int CERTIFICATE_WARNING_DAYS = 30;
// A SHA-256 fingerprint: 32 bytes, written "sha256:" and 64 hex digits.
inline constexpr qsizetype FINGERPRINT_SIZE = 32;

struct network_options
{
    std::vector<QByteArray> pins;  // fingerprints accepted for this run only (--trust)
    QString ca_file;               // more trusted authorities (PEM or DER); empty: the system's
    QString client_certificate;    // offered when the server asks (PEM); empty: none
    QString client_key;            // its private key (PEM, no passphrase)
    QString known_servers;         // the stored pins; empty: none consulted

    friend bool operator==(const network_options&, const network_options&) = default;
};

// The user's configuration folder: %APPDATA%\lorvane on Windows; elsewhere
// $XDG_CONFIG_HOME/lorvane, or ~/.config/lorvane when that is unset or not absolute.
QString configuration_folder();

// The options both front ends start from: the known_servers file of the configuration folder,
// and its client.crt and client.key when client.crt is there.
network_options default_network_options();

// "sha256:" and 64 lower-case hex digits: the one form every front end prints.
QString fingerprint_text(const QByteArray& fingerprint);
// The fingerprint that "sha256:HEX" names: 64 hex digits in either case, bytes optionally
// separated by colons ("AA:BB:...", as openssl prints it), with or without "sha256:"; or
// nothing.
std::optional<QByteArray> parse_fingerprint(const QString& text);

// The failure for a TLS file (CA, client certificate or key, known servers) that config/'s
// opener refused: tls_file, naming `file`, with what was wrong (file_fault) and the system's
// words.
port_failure tls_file_failure(const QString& file, const file_failure& failed);

// The certificate as the user checks it, for the server named `server` ("HOST:PORT").
server_certificate certificate_info(const QSslCertificate& certificate, const QString& server);

// The TLS configuration for a client with `options`: the system's authorities plus the CA
// file's, and the client certificate and key; or why a file cannot serve (a tls_file
// failure naming it, or tls_unavailable).
std::variant<QSslConfiguration, port_failure> tls_configuration(const network_options& options);

}  // namespace lorvane
