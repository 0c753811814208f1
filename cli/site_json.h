// lorvane-cli site check / write --json: the run's result as one JSON document,
//
//   {"site": NAME, "seconds": S,
//    "buses": [{"name", "port", "status": "ok"|"unreachable", "error"?, "warnings"?,
//               "modules": [{"address", "panel": PATH or null, "status", "fault"?,
//                            "differences"?, "reply_ms": {"min", "median", "max"}?}],
//               "health"?}]}
//
// members in that order, plus "refresh_period" for an unexpected module and "stopped_at"
// ({"step", "record"}, as in the audit log) for a failed or interrupted one. "warnings" says
// what the bus's scan left in doubt; "fault" why a module failed: "no_reply" (it answered
// before, then left a request unanswered) or "read_back_differs" (with its "differences").
// "health" (check, a reachable bus) is what the line saw of the check's own traffic, shaped
// as `lorvane-cli health --json` gives it: {"modules", "line", "findings"}; nothing extra was
// sent for it.
#pragma once

#include "module_session.h"
#include "site_result.h"

#include <QByteArray>

namespace lorvane::cli {

// The document, on one line, ending in a line break.
QByteArray site_json(const site_result& result, const session_options& options);

}  // namespace lorvane::cli
