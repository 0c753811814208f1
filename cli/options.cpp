#include "options.h"

#include "cli.h"
#include "interrupt_watch.h"

#include <QCommandLineParser>

#include <optional>

namespace lorvane::cli {

console out;

int number_option(const QCommandLineParser& parser, const QString& name, int low, int high)
{
    const QString text = parser.value(name);
    const std::optional<int> value = [&]() -> std::optional<int> {
        if (text.isEmpty() || text.size() > 9)
            return std::nullopt;
        for (const QChar c : text) {
            if (c < u'0' || c > u'9')
                return std::nullopt;
        }
        const int n = text.toInt();
        return n >= low && n <= high ? std::optional(n) : std::nullopt;
    }();
    if (!value)
        throw usage_error{QStringLiteral("--%1 must be a whole number from %2 to %3, not '%4'")
                              .arg(name, QString::number(low), QString::number(high), text)};
    return *value;
}

int interrupted_exit(const interrupt_watch& interrupts, const QString& left)
{
    if (interrupts.terminated()) {
        out.error(QStringLiteral("terminated; ") + left);
        return EXIT_TERMINATED;
    }
    out.error(QStringLiteral("interrupted; ") + left);
    return EXIT_INTERRUPTED;
}

}  // namespace lorvane::cli
