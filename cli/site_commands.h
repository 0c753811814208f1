// lorvane-cli site check | write | adopt: every bus of a building from one site file, all
// buses at once, with an audit log of what was written and an HTML report to hand over.
#pragma once

#include <QStringList>

namespace lorvane::cli {

// Runs `lorvane-cli site ...` (arguments[0] is the program, arguments[1] "site") and returns
// the exit code.
int run_site(const QStringList& arguments);

// Runs `lorvane-cli site log ...`: shows the audit log of a site, or checks its chain.
int run_site_log(const QStringList& arguments);

}  // namespace lorvane::cli
