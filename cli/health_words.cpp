#include "health_words.h"

namespace lorvane::cli {

namespace {

QString ms(double value)
{
    return QString::number(value, 'f', 1);
}

QString module_name(const health_finding& f)
{
    return f.address ? QStringLiteral("module %1").arg(*f.address) : QStringLiteral("the modules");
}

}  // namespace

QString finding_text(const health_finding& f)
{
    switch (f.kind) {
    case finding_kind::shared_address:
        return QStringLiteral(
                   "Every request to address %1 was answered with garbled bytes while the other "
                   "modules answered cleanly: two modules may share address %1, or the one "
                   "there is faulty. To find out, power the modules at %1 one at a time (or "
                   "wire each alone to the adapter) and read it; give one of them another "
                   "address.")
            .arg(f.address.value_or(0));
    case finding_kind::idle_noise:
        return QStringLiteral(
                   "Bytes arrive while the line should be quiet (%1 bytes per second): check the "
                   "termination at both ends of the bus, the bias resistors, the cable's "
                   "shielding and the ground between the adapter and the modules.")
            .arg(QString::number(f.figure, 'f', 1));
    case finding_kind::echo:
        return QStringLiteral(
            "The adapter hands back every request it sends. Lorvane copes with it, but the "
            "echo costs line time: turn off the adapter's echo (\"local echo\" or \"RS485 "
            "echo\") setting, or use a 2-wire adapter with automatic direction control.");
    case finding_kind::slow_replies: {
        const QString figure =
            QStringLiteral("Replies of %1 take %2 ms (median), %3 ms more than the two frames' own "
                           "%4 ms on the line")
                .arg(module_name(f), ms(f.figure), ms(f.figure - FRAME_LINE_MS),
                     ms(2 * FRAME_LINE_MS));
        if (f.latency_timer_ms)
            return QStringLiteral("%1. The USB adapter's latency timer is %2 ms: set it to 1 ms "
                                  "(the latency_timer file of the adapter under "
                                  "/sys/bus/usb-serial/devices, or the adapter driver's "
                                  "advanced port settings).")
                .arg(figure)
                .arg(*f.latency_timer_ms);
        return QStringLiteral(
                   "%1. Either the USB adapter holds bytes for its latency timer (set it to 1 ms "
                   "in the adapter driver's advanced port settings) or the modules are slow to "
                   "turn the line around.")
            .arg(figure);
    }
    case finding_kind::wrong_speed:
        return QStringLiteral(
            "Bytes answer the requests but never form a reply: the modules may run at another "
            "speed than 9600 baud, or speak another protocol. Check the modules' speed "
            "setting and that they are panel modules.");
    case finding_kind::no_module:
        return QStringLiteral(
            "Nothing answers at all. Check that the modules have power, that A and B are not "
            "swapped, that the adapter is the port named, and that the modules' addresses lie "
            "in the range searched.");
    case finding_kind::unstable:
        return QStringLiteral(
                   "Module %1 answers some requests and not others: %2 % of them timed out or "
                   "came back garbled. Check its wiring and connector, its power, and the "
                   "termination of the bus.")
            .arg(f.address.value_or(0))
            .arg(QString::number(f.figure, 'f', 0));
    }
    return {};
}

QString module_health_line(const module_traffic& m)
{
    QString times = QStringLiteral("no reply");
    if (const auto s = m.summary())
        times = QStringLiteral("reply %1 / %2 / %3 / %4 ms (min / median / p95 / max)")
                    .arg(ms(s->min), ms(s->median), ms(s->p95), ms(s->max));
    return QStringLiteral("module %1: %2 samples, %3, %4 time-outs, %5 garbled")
        .arg(m.address)
        .arg(m.exchanges)
        .arg(times)
        .arg(m.timeouts)
        .arg(m.garbled);
}

}  // namespace lorvane::cli
