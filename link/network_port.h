// Network serial servers, named in the port box by URL: tcp://HOST:PORT for a server that
// passes the line's bytes as they are (its port set to 9600 8N1 already), rfc2217://HOST:PORT
// for one that speaks Telnet with the COM-PORT-OPTION and takes the line settings from us;
// tcp+tls:// and rfc2217+tls:// for the same inside TLS.
#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace lorvane {

enum class network_protocol { raw_tcp, rfc2217 };

inline constexpr int MAX_TCP_PORT = 65535;

struct network_port
{
    network_protocol protocol = network_protocol::raw_tcp;
    QString host;  // a name, an IPv4 address, or an IPv6 address without its brackets
    std::uint16_t port = 0;
    bool tls = false;  // the connection is inside TLS (the scheme ends in +tls)

    friend bool operator==(const network_port&, const network_port&) = default;
};

// "HOST:PORT" ("[::1]:4001" for an IPv6 address), the host in lower case: how a server is
// named among the known servers and in the trust command.
QString server_name(const network_port& port);
// The URL that names `port`: "rfc2217+tls://" + server_name(port).
QString network_url(const network_port& port);
// The URL of the same server with TLS or without, what to try instead; `url` itself when it
// names no server.
QString url_with_tls(const QString& url, bool tls);

// The part of a network port text that is wrong.
enum class url_fault {
    scheme,  // not tcp://, rfc2217://, tcp+tls:// or rfc2217+tls://
    host,    // missing, or neither a name, an IPv4 address nor a bracketed IPv6 address
    port,    // missing, or not a whole number 1..65535
};

struct network_port_result
{
    std::optional<network_port> port;   // set on success
    url_fault fault = url_fault::port;  // on refusal: which part
    QString part;                       // on refusal: that part as typed (may be empty)
    bool ok() const { return port.has_value(); }
};

// True when `text` has the shape of a URL ("name://..."): such a text names a network
// serial server or nothing, never a local device.
bool is_network_port_text(const QString& text);

// Reads "tcp://HOST:PORT", "rfc2217://HOST:PORT", "tcp+tls://HOST:PORT" or
// "rfc2217+tls://HOST:PORT" (scheme in any case, spaces around the whole ignored). HOST is a name
// ("gw-3.example"), an IPv4 address or an IPv6 address in brackets ("[::1]"); PORT a whole
// number 1..65535. Nothing may follow the port.
network_port_result parse_network_port(const QString& text);

}  // namespace lorvane
