// lorvane-cli's words for a bus's health: each finding in plain English with what to do,
// and one line per module with its reply times and errors.
#pragma once

#include "bus_health.h"

#include <QString>

namespace lorvane::cli {

// The finding and what to do about it, in one or two sentences.
QString finding_text(const health_finding& finding);

// "module 7: 20 samples, reply 9.1 / 9.4 / 10.2 / 11.0 ms (min / median / p95 / max),
// 0 time-outs, 0 garbled".
QString module_health_line(const module_traffic& module);

}  // namespace lorvane::cli
