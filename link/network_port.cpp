#include "network_port.h"

#include <QHostAddress>
#include <QRegularExpression>

namespace lorvane {

namespace {

const QRegularExpression& url_shape()
{
    static const QRegularExpression shape(
        QStringLiteral(R"(\A([A-Za-z][A-Za-z0-9+.\-]*)://(.*)\z)"),
        QRegularExpression::DotMatchesEverythingOption);
    return shape;
}

// A host name: dot-separated labels of letters, digits and inner hyphens (an IPv4 address
// has this shape too), with an optional final dot.
bool is_host_name(const QString& host)
{
    static const QRegularExpression name(QStringLiteral(
        R"(\A[A-Za-z0-9](?:[A-Za-z0-9\-]*[A-Za-z0-9])?(?:\.[A-Za-z0-9](?:[A-Za-z0-9\-]*[A-Za-z0-9])?)*\.?\z)"));
    return name.match(host).hasMatch();
}

std::optional<std::uint16_t> port_number(const QString& text)
{
    if (text.isEmpty() || text.size() > 5)
        return std::nullopt;
    int n = 0;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        n = n * 10 + (c.unicode() - u'0');
    }
    if (n < 1 || n > MAX_TCP_PORT)
        return std::nullopt;
    return static_cast<std::uint16_t>(n);
}

network_port_result refused(url_fault fault, const QString& part)
{
    return {std::nullopt, fault, part};
}

}  // namespace

QString server_name(const network_port& port)
{
    const QString host = port.host.toLower();
    return (host.contains(u':') ? u'[' + host + u']' : host) + u':' + QString::number(port.port);
}

QString network_url(const network_port& port)
{
    const QString scheme = port.protocol == network_protocol::rfc2217 ? QStringLiteral("rfc2217")
                                                                      : QStringLiteral("tcp");
    return scheme + (port.tls ? QStringLiteral("+tls://") : QStringLiteral("://")) +
           server_name(port);
}

bool is_network_port_text(const QString& text)
{
    return url_shape().match(text.trimmed()).hasMatch();
}

network_port_result parse_network_port(const QString& text)
{
    const auto url = url_shape().match(text.trimmed());
    if (!url.hasMatch())
        return refused(url_fault::scheme, QString());
    const QString scheme = url.captured(1).toLower();
    network_port port;
    const QString base = scheme.endsWith(QStringLiteral("+tls")) ? scheme.chopped(4) : scheme;
    port.tls = base.size() != scheme.size();
    if (base == QStringLiteral("tcp"))
        port.protocol = network_protocol::raw_tcp;
    else if (base == QStringLiteral("rfc2217"))
        port.protocol = network_protocol::rfc2217;
    else
        return refused(url_fault::scheme, url.captured(1));

    const QString rest = url.captured(2);
    QString port_text;
    if (rest.startsWith(u'[')) {
        const qsizetype close = rest.indexOf(u']');
        const QString address = close < 0 ? QString() : rest.mid(1, close - 1);
        if (close < 0 || QHostAddress(address).protocol() != QAbstractSocket::IPv6Protocol)
            return refused(url_fault::host, close < 0 ? rest : rest.left(close + 1));
        port.host = address;
        const QString after = rest.mid(close + 1);
        if (!after.startsWith(u':'))
            return refused(url_fault::port, after);
        port_text = after.mid(1);
    } else {
        const qsizetype colon = rest.lastIndexOf(u':');
        port.host = colon < 0 ? rest : rest.left(colon);
        if (port.host.isEmpty() || !is_host_name(port.host))
            return refused(url_fault::host, port.host);
        if (colon < 0)
            return refused(url_fault::port, QString());
        port_text = rest.mid(colon + 1);
    }
    const auto number = port_number(port_text);
    if (!number)
        return refused(url_fault::port, port_text);
    port.port = *number;
    return {port, url_fault::port, QString()};
}

QString url_with_tls(const QString& url, bool tls)
{
    const network_port_result parsed = parse_network_port(url);
    if (!parsed.ok())
        return url;
    network_port port = *parsed.port;
    port.tls = tls;
    return network_url(port);
}

}  // namespace lorvane
