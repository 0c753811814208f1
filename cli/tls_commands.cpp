#include "tls_commands.h"

#include "cli.h"
#include "dnssd_service.h"
#include "known_servers.h"
#include "network_port.h"

#include <QDir>

namespace lorvane::cli {

namespace {

const QString TRUST = QStringLiteral("trust");
const QString CA = QStringLiteral("ca");
const QString CLIENT_CERT = QStringLiteral("client-cert");
const QString CLIENT_KEY = QStringLiteral("client-key");

QString fingerprint_form()
{
    return QStringLiteral("%1 hex digits, as lorvane-cli prints it ('sha256:' and the digits) or "
                          "openssl (the bytes separated by colons, 'AA:BB:...')")
        .arg(FINGERPRINT_SIZE * 2);
}

// The options of `parser`, --trust among them when `pins`.
std::variant<network_options, QString> options_of(const QCommandLineParser& parser, bool pins);

}  // namespace

QList<QCommandLineOption> tls_option_list()
{
    return QList<QCommandLineOption>{
               {TRUST,
                QStringLiteral("TLS: accept the server certificate with this fingerprint for "
                               "this run (may be given more than once)"),
                QStringLiteral("sha256:HEX")}} +
           tls_file_option_list();
}

QList<QCommandLineOption> tls_file_option_list()
{
    return {
        {CA,
         QStringLiteral("TLS: also trust the authorities in FILE (PEM or DER) for certificates "
                        "that name the host"),
         QStringLiteral("FILE")},
        {CLIENT_CERT,
         QStringLiteral("TLS: the client certificate to offer (PEM; default client.crt in the "
                        "configuration folder)"),
         QStringLiteral("FILE")},
        {CLIENT_KEY, QStringLiteral("TLS: its private key (PEM, without a passphrase)"),
         QStringLiteral("FILE")},
    };
}

bool is_tls_option(const QString& name)
{
    return name == TRUST || is_tls_file_option(name);
}

bool is_tls_file_option(const QString& name)
{
    return name == CA || name == CLIENT_CERT || name == CLIENT_KEY;
}

std::variant<network_options, QString> network_options_of(const QCommandLineParser& parser,
                                                          const QString& port)
{
    const bool any = parser.isSet(TRUST) || parser.isSet(CA) || parser.isSet(CLIENT_CERT) ||
                     parser.isSet(CLIENT_KEY);
    const network_port_result url = parse_network_port(port);
    // A dnssd:NAME port may turn out to be a server inside TLS.
    if (any && !is_dnssd_port_text(port) && (!url.ok() || !url.port->tls))
        return QStringLiteral("--trust, --ca, --client-cert and --client-key are for ports inside "
                              "TLS (tcp+tls://, rfc2217+tls://), not '%1'")
            .arg(port);
    return options_of(parser, true);
}

std::variant<network_options, QString> network_options_of(const QCommandLineParser& parser)
{
    return options_of(parser, false);
}

namespace {

std::variant<network_options, QString> options_of(const QCommandLineParser& parser, bool pins)
{
    network_options options = default_network_options();
    for (const QString& text : pins ? parser.values(TRUST) : QStringList()) {
        const auto fingerprint = parse_fingerprint(text);
        if (!fingerprint)
            return QStringLiteral("--trust '%1' is not a fingerprint; give %2")
                .arg(text, fingerprint_form());
        options.pins.push_back(*fingerprint);
    }
    options.ca_file = parser.value(CA);
    if (parser.isSet(CA) && options.ca_file.isEmpty())
        return QStringLiteral("--ca needs a file name");
    if (parser.isSet(CLIENT_CERT) != parser.isSet(CLIENT_KEY))
        return QStringLiteral("--client-cert and --client-key go together: give both");
    if (parser.isSet(CLIENT_CERT)) {
        options.client_certificate = parser.value(CLIENT_CERT);
        options.client_key = parser.value(CLIENT_KEY);
        if (options.client_certificate.isEmpty() || options.client_key.isEmpty())
            return QStringLiteral("--client-cert and --client-key need file names");
    }
    return options;
}

}  // namespace

int command_trust(const QStringList& arguments, console& out)
{
    const auto usage = [&](const QString& text) {
        out.error(text);
        out.error(QStringLiteral("try 'lorvane-cli --help'"));
        return EXIT_USAGE;
    };
    if (arguments.size() != 2)
        return usage(QStringLiteral("trust needs the server, HOST:PORT, and its fingerprint, "
                                    "sha256:HEX (or AA:BB:... as openssl prints it)"));
    // HOST:PORT as lorvane-cli printed it, or the server's whole URL.
    const QString server = arguments[0];
    const network_port_result parsed = parse_network_port(
        is_network_port_text(server) ? server : QStringLiteral("tcp://") + server);
    if (!parsed.ok())
        return usage(QStringLiteral("'%1' names no server; give HOST:PORT (192.168.1.50:4002, "
                                    "[fd00::7]:4002) with a port 1..%2")
                         .arg(server, QString::number(MAX_TCP_PORT)));
    const auto fingerprint = parse_fingerprint(arguments[1]);
    if (!fingerprint)
        return usage(QStringLiteral("'%1' is not a fingerprint; give %2")
                         .arg(arguments[1], fingerprint_form()));

    const QString path = default_network_options().known_servers;
    const QString name = server_name(*parsed.port);
    const known_servers::result stored = known_servers::store(path, name, *fingerprint);
    const QString shown = QDir::toNativeSeparators(path);
    switch (stored.outcome) {
    case known_servers::result::status::done:
        break;
    case known_servers::result::status::too_large:
        out.error(QStringLiteral("%1 is larger than %2 KiB, which no list of known servers is; "
                                 "nothing was stored")
                      .arg(shown, QString::number(known_servers::MAX_FILE_SIZE / 1024)));
        return EXIT_BAD_FILE;
    case known_servers::result::status::unreadable:
    case known_servers::result::status::unwritable:
    case known_servers::result::status::locked:
        out.error(QStringLiteral("cannot store the fingerprint in %1: %2; nothing was stored")
                      .arg(shown, stored.reason));
        return EXIT_BAD_FILE;
    }
    if (stored.stored && *stored.stored != *fingerprint)
        out.info(QStringLiteral("%1: %2 now trusted in place of %3 (%4)")
                     .arg(name, fingerprint_text(*fingerprint), fingerprint_text(*stored.stored),
                          shown));
    else
        out.info(
            QStringLiteral("%1: %2 trusted (%3)").arg(name, fingerprint_text(*fingerprint), shown));
    return EXIT_DONE;
}

}  // namespace lorvane::cli
