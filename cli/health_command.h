// lorvane-cli health: the short active test of one bus, printed as one line per module and
// the findings in words, or as one JSON document.
#pragma once

#include "bus_health.h"
#include "serial_link.h"

#include <QByteArray>
#include <QString>

#include <functional>

namespace lorvane::cli {

class interrupt_watch;

// Runs the test on `link` (open on `port`) and prints its result through `print`; the exit
// code: EXIT_DONE with no finding, EXIT_FINDINGS with some, otherwise why it did not end.
int command_health(serial_link& link, const QString& port, const health_options& options, bool json,
                   interrupt_watch& interrupts, const std::function<int(const QByteArray&)>& print);

}  // namespace lorvane::cli
