// Serial servers found by DNS-SD (service type _iostream._tcp, as ser2net advertises its
// accepters): what one advertisement says, which kind of server its gensio stack names, and
// the `dnssd:NAME` port text that opens a server by its advertised name.
#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace lorvane {

// The service type browsed for.
inline constexpr const char* DNSSD_SERVICE_TYPE = "_iostream._tcp";
// Whatever the network sends, at most this many services are kept at once (one per name,
// interface and protocol); more are ignored until some go away.
inline constexpr int MAX_DNSSD_SERVICES = 256;
// A TXT value longer than this many bytes is not kept (DNS strings are at most 255 bytes).
inline constexpr qsizetype MAX_TXT_VALUE = 255;
// At most this many USB attributes of one service are kept.
inline constexpr int MAX_USB_ATTRIBUTES = 8;

// The kind of server a gensio stack names, and so the URL scheme that opens it.
enum class service_kind { raw, rfc2217, tcp_tls, rfc2217_tls, unsupported };

// "telnet(rfc2217),tcp" -> rfc2217; "tcp" -> raw; "telnet(rfc2217),ssl(...),tcp" ->
// rfc2217_tls; "ssl(...),tcp" -> tcp_tls; anything else (plain Telnet, udp, sctp, other
// layers, a stack cut off or unbalanced) -> unsupported.
service_kind kind_of_stack(const QString& stack);

// The URL that opens a server of `kind` at `address` (IPv6 in brackets) and `port`, or
// nothing for an unsupported kind.
std::optional<QString> service_url(service_kind kind, const QString& address, std::uint16_t port);

// One resolved advertisement. The TXT record is information only: nothing of it is passed on
// to a connection.
struct dnssd_service
{
    QString name;     // the service's instance name, "line-3"
    QString host;     // the host as advertised, "box-7.local"
    QString address;  // the address the host name resolved to, "192.0.2.1" or "fe80::1"
    std::uint16_t port = 0;
    QString stack;               // TXT gensiostack as advertised (may be empty)
    QMap<QString, QString> usb;  // TXT attributes of the USB adapter, where published
    int network_interface = -1;  // the network interface the advertisement came on
    bool ipv6 = false;           // advertised over IPv6

    service_kind kind() const { return kind_of_stack(stack); }
    std::optional<QString> url() const { return service_url(kind(), address, port); }
};

// Whether TXT key `key` is one of the USB adapter's attributes a server may publish.
bool is_usb_attribute(const QString& key);

// A service name is one DNS label: at most 63 bytes.
constexpr int DNSSD_NAME_MAX_BYTES = 63;

// The service name of a `dnssd:NAME` port text (spaces around the whole ignored), or nothing
// when the text is not one. An empty name is not one.
std::optional<QString> dnssd_port_name(const QString& text);
// True when `text` starts with "dnssd:" (any case): it names a discovered server or nothing.
bool is_dnssd_port_text(const QString& text);

}  // namespace lorvane
