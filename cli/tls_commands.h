// lorvane-cli and TLS: the options that say how a server is trusted and which client
// certificate is offered (--trust, --ca, --client-cert, --client-key), and the trust command
// that stores a server's fingerprint among the known servers.
#pragma once

#include "console.h"
#include "tls_settings.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
#include <QString>
#include <QStringList>

#include <variant>

namespace lorvane::cli {

// The TLS options, for the parser; they belong to every command that takes --port.
QList<QCommandLineOption> tls_option_list();
bool is_tls_option(const QString& name);
// Those of them that name files (--ca, --client-cert, --client-key), without --trust: the site
// commands take these, for every bus inside TLS.
QList<QCommandLineOption> tls_file_option_list();
bool is_tls_file_option(const QString& name);

// The network options of a command line: the configuration folder's (known servers, a client
// certificate kept there) with those given on top; or, when an option is wrong or given
// with a port that is not inside TLS, the text of the usage error.
std::variant<network_options, QString> network_options_of(const QCommandLineParser& parser,
                                                          const QString& port);
// The same for a command of many ports (a site run), whose parser has tls_file_option_list()
// and no --trust; the options serve every port inside TLS.
std::variant<network_options, QString> network_options_of(const QCommandLineParser& parser);

// `trust HOST:PORT sha256:HEX` (or the bytes as openssl prints them): stores the fingerprint for
// the server, in place of any stored before, and returns the exit code after saying what it did.
int command_trust(const QStringList& arguments, console& out);

}  // namespace lorvane::cli
