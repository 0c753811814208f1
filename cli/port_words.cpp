#include "port_words.h"

#include "network_port.h"
#include "network_serial_device.h"

namespace lorvane::cli {

namespace {

// What is wrong with a --port URL, naming the part and what it must be.
QString url_refusal_text(const QString& url)
{
    const network_port_result refused = parse_network_port(url);
    switch (refused.fault) {
    case url_fault::scheme:
        return QStringLiteral("--port '%1': unknown scheme '%2'; give tcp://HOST:PORT or "
                              "rfc2217://HOST:PORT")
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

// The words for a network port that could not be opened; empty for the kinds a network port
// shares with a local one.
QString network_failure_text(const port_failure& failure, const QString& system)
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
        return QStringLiteral("cannot open %1: the server closed the connection at once; "
                              "another client may be using the port%2")
            .arg(failure.device, system);
    default:
        return {};
    }
}

}  // namespace

QString lost_port_text(const serial_link& link)
{
    if (is_network_port_text(link.port_name()))
        return QStringLiteral("the connection to %1 went away (server stopped or network down); "
                              "it has been closed")
            .arg(link.port_name());
    return QStringLiteral("the port %1 went away (adapter unplugged?); it has been closed")
        .arg(link.port_name());
}

QString failure_text(const port_failure& failure)
{
    const QString system =
        failure.reason.isEmpty() ? QString() : QStringLiteral(" (system: %1)").arg(failure.reason);
    if (failure.kind != port_failure_kind::bad_name && is_network_port_text(failure.device)) {
        if (const QString text = network_failure_text(failure, system); !text.isEmpty())
            return text;
    }
    switch (failure.kind) {
    case port_failure_kind::bad_name:
        if (is_network_port_text(failure.device))
            return url_refusal_text(failure.device);
        return QStringLiteral("--port '%1' names no port; give a number 1..256, a device name "
                              "(COM3, ttyUSB0), a path (/dev/ttyUSB0) or tcp://HOST:PORT / "
                              "rfc2217://HOST:PORT")
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

}  // namespace lorvane::cli
