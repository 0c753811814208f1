#include "dnssd_service.h"

#include <QHostAddress>

#include <vector>

namespace lorvane {

namespace {

const QString DNSSD_PREFIX = QStringLiteral("dnssd:");

// One layer of a gensio stack: "telnet(rfc2217)" -> {"telnet", "rfc2217"}.
struct layer
{
    QString name;
    QString arguments;
};

// The layers of `stack`, split at the commas outside parentheses; nothing when the
// parentheses do not balance.
std::optional<std::vector<layer>> layers_of(const QString& stack)
{
    std::vector<layer> layers;
    int depth = 0;
    QString current;
    const auto finish = [&]() -> bool {
        const QString text = current.trimmed();
        current.clear();
        const qsizetype open = text.indexOf(u'(');
        if (open < 0) {
            layers.push_back({text, {}});
            return !text.isEmpty();
        }
        if (!text.endsWith(u')'))
            return false;
        layers.push_back({text.left(open).trimmed(), text.mid(open + 1).chopped(1)});
        return !layers.back().name.isEmpty();
    };
    for (QChar c : stack) {
        if (c == u'(')
            ++depth;
        else if (c == u')' && --depth < 0)
            return std::nullopt;
        if (c == u',' && depth == 0) {
            if (!finish())
                return std::nullopt;
            continue;
        }
        current += c;
    }
    if (depth != 0 || !finish())
        return std::nullopt;
    return layers;
}

// Whether Telnet's arguments turn the COM-PORT-OPTION on: "rfc2217" or "rfc2217=true" among
// them (gensio's spelling of a boolean option).
bool has_rfc2217(const QString& arguments)
{
    for (const QString& argument : arguments.split(u',')) {
        const QString a = argument.trimmed();
        if (a == QStringLiteral("rfc2217") || a == QStringLiteral("rfc2217=true") ||
            a == QStringLiteral("rfc2217=1") || a == QStringLiteral("rfc2217=yes"))
            return true;
    }
    return false;
}

}  // namespace

service_kind kind_of_stack(const QString& stack)
{
    const auto parsed = layers_of(stack);
    if (!parsed || parsed->empty() || parsed->back().name != QStringLiteral("tcp") ||
        !parsed->back().arguments.isEmpty())
        return service_kind::unsupported;
    std::vector<layer> above(parsed->begin(), parsed->end() - 1);  // outermost first
    bool tls = false;
    if (!above.empty() && above.back().name == QStringLiteral("ssl")) {
        tls = true;
        above.pop_back();
    }
    if (above.empty())
        return tls ? service_kind::tcp_tls : service_kind::raw;
    if (above.size() == 1 && above.front().name == QStringLiteral("telnet") &&
        has_rfc2217(above.front().arguments))
        return tls ? service_kind::rfc2217_tls : service_kind::rfc2217;
    return service_kind::unsupported;
}

std::optional<QString> service_url(service_kind kind, const QString& address, std::uint16_t port)
{
    QString scheme;
    switch (kind) {
    case service_kind::raw:
        scheme = QStringLiteral("tcp");
        break;
    case service_kind::rfc2217:
        scheme = QStringLiteral("rfc2217");
        break;
    case service_kind::tcp_tls:
        scheme = QStringLiteral("tcp+tls");
        break;
    case service_kind::rfc2217_tls:
        scheme = QStringLiteral("rfc2217+tls");
        break;
    case service_kind::unsupported:
        return std::nullopt;
    }
    if (address.isEmpty() || port == 0)
        return std::nullopt;
    const bool ipv6 = QHostAddress(address).protocol() == QAbstractSocket::IPv6Protocol;
    return QStringLiteral("%1://%2:%3")
        .arg(scheme, ipv6 ? u'[' + address + u']' : address)
        .arg(port);
}

bool is_usb_attribute(const QString& key)
{
    static const QStringList keys{
        QStringLiteral("devicetype"),   QStringLiteral("bInterfaceNumber"),
        QStringLiteral("interface"),    QStringLiteral("idProduct"),
        QStringLiteral("idVendor"),     QStringLiteral("serial"),
        QStringLiteral("manufacturer"), QStringLiteral("product")};
    return keys.contains(key);
}

bool is_dnssd_port_text(const QString& text)
{
    return text.trimmed().startsWith(DNSSD_PREFIX, Qt::CaseInsensitive);
}

std::optional<QString> dnssd_port_name(const QString& text)
{
    if (!is_dnssd_port_text(text))
        return std::nullopt;
    const QString name = text.trimmed().mid(DNSSD_PREFIX.size());
    if (name.isEmpty() || name.toUtf8().size() > DNSSD_NAME_MAX_BYTES)
        return std::nullopt;
    return name;
}

}  // namespace lorvane
