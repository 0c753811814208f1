#include "port_holders.h"

#include "dnssd_service.h"
#include "network_port.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>

#include <map>
#include <mutex>

#ifndef Q_OS_WIN
#include <cstdlib>

#include <sys/stat.h>
#endif

namespace lorvane {

namespace {

// A network server's host as one text for all its spellings: letters in one case, no final
// dot, one spelling of each address, and the loopback host under one name whichever way it
// is written ("localhost", "127.0.0.1", "::1"). Other names are not looked up: that could
// keep the caller waiting.
QString server_identity(QString host)
{
    host = host.toLower();
    if (host.endsWith(u'.'))
        host.chop(1);
    if (host == QStringLiteral("localhost"))
        return QStringLiteral("localhost");
    if (QHostAddress address(host); !address.isNull()) {
        if (address == QHostAddress(QHostAddress::LocalHost) ||
            address == QHostAddress(QHostAddress::LocalHostIPv6) ||
            address.isEqual(QHostAddress(QHostAddress::LocalHost),
                            QHostAddress::ConvertV4MappedToIPv4))
            return QStringLiteral("localhost");
        return address.toString();
    }
    return host;
}

#ifndef Q_OS_WIN
// The device a local path leads to, whatever symbolic links and ".." lie on the way: the
// device number of a character or block device, the canonical path of anything else; the
// path cleaned of "." and ".." when nothing is there (a bare name taken from /dev). Looked at,
// never opened.
QString local_identity(QString device)
{
    if (!device.startsWith(u'/'))
        device.prepend(QStringLiteral("/dev/"));  // a bare name is a device's name
    const QByteArray path = QFile::encodeName(device);
    struct stat status
    {
    };
    if (::stat(path.constData(), &status) != 0)
        return QStringLiteral("dev:") + QDir::cleanPath(device);
    if (S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode))
        return QStringLiteral("rdev:%1:%2")
            .arg(S_ISCHR(status.st_mode) ? u'c' : u'b')
            .arg(quint64(status.st_rdev));
    if (char* real = ::realpath(path.constData(), nullptr)) {
        const QString canonical = QFile::decodeName(real);
        ::free(real);
        return QStringLiteral("dev:") + canonical;
    }
    return QStringLiteral("dev:") + QDir::cleanPath(device);
}
#endif

}  // namespace

std::optional<QString> device_identity(const QString& port, port_platform platform)
{
    // A discovered server by its service name, as DNS compares names (ASCII case ignored);
    // where it is now is not looked up here, for that could keep the caller waiting.
    if (is_dnssd_port_text(port)) {
        const auto name = dnssd_port_name(port);
        if (!name)
            return std::nullopt;
        return QStringLiteral("dnssd:") + name->toLower();
    }
    if (is_network_port_text(port)) {
        const network_port_result url = parse_network_port(port);
        if (!url.ok())
            return std::nullopt;
        return QStringLiteral("net:%1:%2").arg(server_identity(url.port->host)).arg(url.port->port);
    }
    const port_name_result name = system_port_name(port, platform);
    if (!name.ok())
        return std::nullopt;
    QString device = name.device;
    if (platform == port_platform::windows) {
        if (device.startsWith(QStringLiteral("\\\\.\\")))
            device = device.mid(4);
        return QStringLiteral("dev:") + device.toUpper();
    }
#ifndef Q_OS_WIN
    if (platform == HOST_PLATFORM)  // the device itself, as this system names it
        return local_identity(device);
#endif
    if (device.startsWith(QStringLiteral("/dev/")))
        device = device.mid(5);
    return QStringLiteral("dev:") + device;
}

namespace port_holders {

namespace {

struct registry
{
    std::mutex mutex;
    std::map<QString, const void*> holders;  // identity -> holder
};

registry& the_registry()
{
    static registry r;
    return r;
}

}  // namespace

bool take(const QString& identity, const void* holder)
{
    registry& r = the_registry();
    const std::lock_guard lock(r.mutex);
    const auto [it, fresh] = r.holders.emplace(identity, holder);
    return fresh || it->second == holder;
}

void release(const void* holder)
{
    registry& r = the_registry();
    const std::lock_guard lock(r.mutex);
    std::erase_if(r.holders, [holder](const auto& entry) { return entry.second == holder; });
}

}  // namespace port_holders
}  // namespace lorvane
