// lorvane-cli: read, write, verify and scan panel modules from the command line, with
// configuration files, through the same link and chain code as the window.
#pragma once

#include <QStringList>

namespace lorvane::cli {

// Exit codes, as the help text and the README list them.
inline constexpr int EXIT_DONE = 0;
inline constexpr int EXIT_USAGE = 1;
inline constexpr int EXIT_BAD_FILE = 2;
inline constexpr int EXIT_PORT = 3;
inline constexpr int EXIT_NO_REPLY = 4;
inline constexpr int EXIT_DIFFERENT = 5;
// site log: a line of the audit log does not hold (edited, removed, inserted, moved), or
// the log lacks the head asked for; the code a difference has elsewhere.
inline constexpr int EXIT_LOG_ALTERED = EXIT_DIFFERENT;
inline constexpr int EXIT_FINDINGS = 6;       // health: the bus shows something to look into
inline constexpr int EXIT_INTERRUPTED = 130;  // as a shell reports Ctrl-C (SIGINT)
inline constexpr int EXIT_TERMINATED = 143;   // as a shell reports SIGTERM

// Runs one command line (arguments[0] is the program) under a QCoreApplication and
// returns the exit code.
int run(const QStringList& arguments);

}  // namespace lorvane::cli
