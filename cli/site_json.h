// lorvane-cli site check / write --json: the run's result as one JSON document,
//
//   {"site": NAME, "seconds": S,
//    "buses": [{"name", "port", "status": "ok"|"unreachable", "error"?,
//               "modules": [{"address", "panel": PATH or null, "status", "differences"?,
//                            "reply_ms": {"min", "median", "max"}?}]}]}
//
// members in that order, plus "refresh_period" for an unexpected module and "stopped_at"
// ({"step", "record"}, as in the audit log) for a failed or interrupted one.
#pragma once

#include "site_result.h"

#include <QByteArray>

namespace lorvane::cli {

// The document, on one line, ending in a line break.
QByteArray site_json(const site_result& result);

}  // namespace lorvane::cli
