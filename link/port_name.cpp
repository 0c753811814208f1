#include "port_name.h"

#include <QRegularExpression>

namespace lorvane {

namespace {

bool is_ascii_digits(const QString& text)
{
    for (QChar c : text) {
        if (c < u'0' || c > u'9')
            return false;
    }
    return !text.isEmpty();
}

}  // namespace

port_name_result system_port_name(const QString& text, port_platform platform)
{
    const QString name = text.trimmed();
    if (is_ascii_digits(name)) {
        bool ok = false;
        const int n = name.toInt(&ok);
        if (!ok || n < 1 || n > MAX_PORT_NUMBER)
            return {};
        if (platform == port_platform::windows)
            return {QStringLiteral("COM%1").arg(n)};
        return {QStringLiteral("/dev/ttyS%1").arg(n - 1)};
    }

    // A bare device name: a letter, then letters, digits, '_', '-' or '.'.
    static const QRegularExpression device_name(QStringLiteral(R"(\A[A-Za-z][A-Za-z0-9_.\-]*\z)"));
    if (device_name.match(name).hasMatch())
        return {name};

    // A path: absolute, printable, no spaces at its ends (already trimmed).
    const bool is_path = platform == port_platform::windows
                             ? name.startsWith(QStringLiteral("\\\\.\\"))
                             : name.startsWith(u'/');
    bool printable = true;
    for (QChar c : name)
        printable = printable && c.isPrint();
    if (is_path && printable && name.size() > 1)
        return {name};
    return {};
}

}  // namespace lorvane
