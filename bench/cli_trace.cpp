#include "cli_trace.h"

#include <QRegularExpression>

#include <stdexcept>

namespace lorvane::bench {

double traced_transfer_ms(const QString& trace)
{
    static const QRegularExpression line(
        QStringLiteral(R"(trace (\d+\.\d+) ms (TX|RX) .*?( accepted)?$)"),
        QRegularExpression::MultilineOption);
    double first_tx = -1;
    double last_rx = -1;
    int accepted = 0;
    for (auto it = line.globalMatch(trace); it.hasNext();) {
        const auto m = it.next();
        const double at = m.captured(1).toDouble();
        if (m.captured(2) == QStringLiteral("TX") && first_tx < 0)
            first_tx = at;
        if (!m.captured(3).isEmpty()) {
            last_rx = at;
            ++accepted;
        }
    }
    if (first_tx < 0 || accepted != 17)
        throw std::runtime_error("a traced transfer did not show 17 accepted replies");
    return last_rx - first_tx;
}

}  // namespace lorvane::bench
