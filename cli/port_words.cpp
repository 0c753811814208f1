#include "port_words.h"

#include "known_servers.h"
#include "network_port.h"
#include "network_serial_device.h"
#include "servers_command.h"
#include "tls_settings.h"

#include <QDir>

namespace lorvane::cli {

namespace {

QString certificate_line(const server_certificate& c)
{
    return QStringLiteral("  certificate %1, subject '%2', expires %3")
        .arg(fingerprint_text(c.fingerprint), c.subject, c.expires.date().toString(Qt::ISODate));
}

// The words for a TLS server's certificate that is not trusted, or not the one stored; the
// one-run pin (--trust) is offered only where the command takes it.
QString certificate_text(const port_failure& failure, const QString& system, bool trust_option)
{
    const server_certificate& c = *failure.certificate;
    const QString trust =
        QStringLiteral("lorvane-cli trust %1 %2").arg(c.server, fingerprint_text(c.fingerprint));
    if (failure.kind == port_failure_kind::certificate_changed)
        return QStringLiteral("cannot open %1: the server's TLS certificate has CHANGED; nothing "
                              "was sent\n  stored for %2: %3\n%4\n"
                              "this may be an attack on the connection; if the server's "
                              "certificate was replaced on purpose, check the new fingerprint "
                              "on the server and trust it with: %5")
            .arg(failure.device, c.server, fingerprint_text(c.stored), certificate_line(c), trust);
    const QString one_run =
        trust_option
            ? QStringLiteral(" (or for one run: --trust %1)").arg(fingerprint_text(c.fingerprint))
            : QString();
    return QStringLiteral("cannot open %1: the server's TLS certificate is not trusted (neither "
                          "verified for this host nor pinned)%2; nothing was sent\n%3\n"
                          "if this is your server's certificate (compare the fingerprint on the "
                          "server: openssl x509 -noout -fingerprint -sha256 -in CERT), trust it "
                          "with: %4%5")
        .arg(failure.device, system, certificate_line(c), trust, one_run);
}

// What config/'s opener found wrong with a TLS file, or the system's words.
QString tls_file_words(const port_failure& failure, const QString& system)
{
    if (!failure.file_fault)
        return system;
    switch (*failure.file_fault) {
    case file_problem::not_regular:
        return QStringLiteral(": it is not a regular file (a FIFO, a device or a socket) and was "
                              "not opened");
    case file_problem::is_folder:
        return QStringLiteral(": it is a folder, not a regular file");
    case file_problem::not_found:
        return QStringLiteral(": no such file") + system;
    case file_problem::permission_denied:
        return QStringLiteral(": permission denied") + system;
    case file_problem::too_large:
        return QStringLiteral(": larger than %1 KiB, which no such file is")
            .arg(known_servers::MAX_FILE_SIZE / 1024);
    default:
        return system;
    }
}

// The words for the TLS kinds; empty for the others.
QString tls_failure_text(const port_failure& failure, const QString& system, bool trust_option)
{
    switch (failure.kind) {
    case port_failure_kind::tls_unavailable:
        return QStringLiteral("cannot open %1: TLS is not available here (Qt found no TLS "
                              "backend; on Windows tls\\qschannelbackend.dll must be "
                              "beside the program)")
            .arg(failure.device);
    case port_failure_kind::tls_file:
        return QStringLiteral("cannot open %1: cannot read %2%3; nothing was sent")
            .arg(failure.device, failure.file, tls_file_words(failure, system));
    case port_failure_kind::tls_file_invalid:
        return QStringLiteral("cannot open %1: %2 holds no certificate or private key that can "
                              "be used (PEM or DER; a key EC, RSA or DSA without a passphrase, "
                              "matching the certificate)%3")
            .arg(failure.device, failure.file, system);
    case port_failure_kind::tls_not_spoken:
        return QStringLiteral("cannot open %1: the server does not answer as a TLS server (no "
                              "TLS handshake within %2 s, or something else than TLS); if its "
                              "port is a plain one, use %3%4")
            .arg(failure.device, QString::number(OPEN_TIMEOUT_MS / 1000),
                 url_with_tls(failure.device, false), system);
    case port_failure_kind::tls_expected:
        return QStringLiteral("cannot open %1: the server speaks TLS on this port; use %2")
            .arg(failure.device, url_with_tls(failure.device, true));
    case port_failure_kind::certificate_unknown:
    case port_failure_kind::certificate_changed:
        return failure.certificate ? certificate_text(failure, system, trust_option) : QString();
    case port_failure_kind::client_certificate_refused:
        if (failure.file.isEmpty())
            return QStringLiteral("cannot open %1: the server closed the connection right after "
                                  "the TLS handshake: it wants a client certificate; give one "
                                  "with --client-cert FILE --client-key FILE, or put client.crt "
                                  "and client.key in %2%3")
                .arg(failure.device, QDir::toNativeSeparators(configuration_folder()), system);
        return QStringLiteral("cannot open %1: the server closed the connection right after the "
                              "TLS handshake: it refused the client certificate %2 and wants a "
                              "different one (its subject's CN names a user of the server, in "
                              "whose allowed_certs it must be)%3")
            .arg(failure.device, failure.file, system);
    default:
        return {};
    }
}

// What is wrong with a --port URL, naming the part and what it must be.
QString url_refusal_text(const QString& url)
{
    const network_port_result refused = parse_network_port(url);
    switch (refused.fault) {
    case url_fault::scheme:
        return QStringLiteral("--port '%1': unknown scheme '%2'; give tcp://HOST:PORT, "
                              "rfc2217://HOST:PORT, tcp+tls://HOST:PORT or rfc2217+tls://HOST:PORT")
            .arg(url, refused.part);
    case url_fault::host:
        return QStringLiteral("--port '%1': the host '%2' must be a name, an IPv4 address or an "
                              "IPv6 address in brackets (tcp://[::1]:4001)")
            .arg(url, refused.part);
    case url_fault::port:
        break;
    }
    return QStringLiteral("--port '%1': the port number must be a whole number from 1 to %2, "
                          "not '%3'")
        .arg(url, QString::number(MAX_TCP_PORT), refused.part);
}

// " (server: 'Port already in use')", or nothing when the server said nothing.
QString server_said(const port_failure& failure)
{
    return failure.server_text.isEmpty()
               ? QString()
               : QStringLiteral(" (server: '%1')").arg(failure.server_text);
}

// The words for a network port that could not be opened; empty for the kinds a network port
// shares with a local one.
QString network_failure_text(const port_failure& failure, const QString& system, bool trust_option)
{
    switch (failure.kind) {
    case port_failure_kind::host_not_found:
        return QStringLiteral("cannot open %1: host not found; check the host name and the "
                              "network%2")
            .arg(failure.device, system);
    case port_failure_kind::connection_refused:
        return QStringLiteral("cannot open %1: connection refused; check the port number and "
                              "that the server is running%2")
            .arg(failure.device, system);
    case port_failure_kind::timed_out:
        return QStringLiteral("cannot open %1: no answer within %2 s; check the address, the "
                              "network and any firewall%3")
            .arg(failure.device, QString::number(OPEN_TIMEOUT_MS / 1000), system);
    case port_failure_kind::settings_refused:
        return QStringLiteral("cannot open %1: the server refused the RFC 2217 line settings "
                              "(9600 baud, 8N1, no flow control) or did not confirm them within "
                              "%2 s; for a port in raw mode use tcp://")
            .arg(failure.device, QString::number(OPEN_TIMEOUT_MS / 1000));
    case port_failure_kind::in_use:
        return QStringLiteral("cannot open %1: the server closed the connection at once%2; "
                              "another client may be using the port%3")
            .arg(failure.device, server_said(failure), system);
    case port_failure_kind::closed_during_setup:
        return QStringLiteral("cannot open %1: the server closed the connection during the RFC "
                              "2217 setup%2; another client may be using the port, or the server "
                              "cannot open its serial device%3")
            .arg(failure.device, server_said(failure), system);
    case port_failure_kind::flooded:
        return QStringLiteral("cannot open %1: the server sent Telnet requests without reading "
                              "the answers (more than %2 KiB waiting); the connection was closed")
            .arg(failure.device, QString::number(MAX_PENDING_OUTPUT / 1024));
    default:
        return tls_failure_text(failure, system, trust_option);
    }
}

}  // namespace

QString lost_port_text(const QString& device, port_loss why, bool say_closed)
{
    if (why == port_loss::flooded)
        return QStringLiteral("the server %1 stopped reading what was sent to it (more than %2 "
                              "KiB waiting); the connection has been closed")
            .arg(device, QString::number(MAX_PENDING_OUTPUT / 1024));
    if (why == port_loss::tls_expected)
        return QStringLiteral("the server %1 closed the connection at the first request: it "
                              "speaks TLS on this port; use %2")
            .arg(device, url_with_tls(device, true));
    const QString closed = say_closed ? QStringLiteral("; it has been closed") : QString();
    if (is_network_port_text(device) || is_dnssd_port_text(device))
        return QStringLiteral("the connection to %1 went away (server stopped or network down)%2")
            .arg(device, closed);
    return QStringLiteral("the port %1 went away (adapter unplugged?)%2").arg(device, closed);
}

QString lost_port_text(const serial_link& link)
{
    return lost_port_text(link.port_name(), link.last_loss());
}

QString failure_text(const port_failure& failure, bool trust_option)
{
    if (const auto text = dnssd_failure_text(failure))
        return *text;
    const QString system =
        failure.reason.isEmpty() ? QString() : QStringLiteral(" (system: %1)").arg(failure.reason);
    if (failure.kind != port_failure_kind::bad_name && is_network_port_text(failure.device)) {
        if (const QString text = network_failure_text(failure, system, trust_option);
            !text.isEmpty())
            return text;
    }
    switch (failure.kind) {
    case port_failure_kind::bad_name:
        if (is_network_port_text(failure.device))
            return url_refusal_text(failure.device);
        return QStringLiteral("--port '%1' names no port; give a number 1..256, a device name "
                              "(COM3, ttyUSB0), a path (/dev/ttyUSB0), tcp://HOST:PORT / "
                              "rfc2217://HOST:PORT (tcp+tls://, rfc2217+tls:// inside TLS) or "
                              "dnssd:NAME (a name of 1 to 63 bytes)")
            .arg(failure.device);
    case port_failure_kind::not_found:
        return QStringLiteral("cannot open %1: no such device; check the port name and that "
                              "the adapter is plugged in%2")
            .arg(failure.device, system);
    case port_failure_kind::permission:
        return QStringLiteral("cannot open %1: permission denied; add yourself to the dialout "
                              "group (sudo usermod -aG dialout $USER) and log in again%2")
            .arg(failure.device, system);
    case port_failure_kind::in_use:
        return QStringLiteral("cannot open %1: another program is using it; close that program "
                              "and try again%2")
            .arg(failure.device, system);
    case port_failure_kind::unsupported_settings:
        return QStringLiteral("cannot open %1: it does not support 9600 baud, 8N1%2")
            .arg(failure.device, system);
    case port_failure_kind::in_use_here:
        return QStringLiteral("cannot open %1: another part of this program is using it")
            .arg(failure.device);
    default:
        break;
    }
    return QStringLiteral("cannot open %1%2").arg(failure.device, system);
}

std::optional<QString> expiry_warning(const server_certificate& certificate, const QDateTime& now)
{
    const qint64 days = now.daysTo(certificate.expires);
    if (days > CERTIFICATE_WARNING_DAYS)
        return std::nullopt;
    const QString date = certificate.expires.date().toString(Qt::ISODate);
    if (certificate.expires < now)
        return QStringLiteral("warning: the TLS certificate of %1 expired on %2; renew it on the "
                              "server, then trust the new one")
            .arg(certificate.server, date);
    return QStringLiteral("warning: the TLS certificate of %1 expires on %2 (in %3 days); renew "
                          "it on the server before then, and trust the new one")
        .arg(certificate.server, date, QString::number(days));
}

}  // namespace lorvane::cli
