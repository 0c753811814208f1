// The members a bus's health adds to a JSON document (lorvane-cli health --json, and each
// bus of site check --json), in this order:
//
//   "modules": [{"address", "samples", "timeouts", "garbled",
//                "reply_ms": {"min", "median", "p95", "max"} or null,
//                "confirmed", "retries", "foreign"}],
//   "line": {"idle_bytes", "echoed_requests", "unframed_bytes",
//            "os_errors"?: {"framing", "parity", "overrun", "break"},
//            "received_bytes", "requests_sent", "line_state"?: {"notices", "errors"},
//            "latency_timer_ms"?},
//   "findings": [{"kind", "address"?, "text", "figure"?, "latency_timer_ms"?}]
//
// with the finding kinds shared_address, idle_noise, echo, slow_replies, wrong_speed,
// no_module and unstable. Times in ms with one decimal.
#pragma once

#include "bus_health.h"
#include "json_writer.h"

namespace lorvane::cli {

// "shared_address", ..., as --json names each kind.
QString finding_kind_json(finding_kind kind);

void add_health_members(json_object& object, const health_report& report);

}  // namespace lorvane::cli
