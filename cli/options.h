// What lorvane-cli's two command lines, the module commands and `site ...`, share: the
// reply time-out and retry limits, the one console both speak through, the checked number
// options, and the exit of an interrupt.
#pragma once

#include "console.h"

#include <QString>

class QCommandLineParser;

namespace lorvane::cli {

class interrupt_watch;

inline constexpr int DEFAULT_TIMEOUT_MS = 1000;  // a module's reply time-out without --timeout
inline constexpr int MAX_TIMEOUT_MS = 600'000;   // --timeout: ten minutes at most
inline constexpr int MAX_RETRIES = 100;          // --retries: requests sent again at most

// Where every command says what it says and prints its results.
extern console out;

// A command line that cannot be run as given; the text says what is wrong, and the catcher
// adds where help is and exits with EXIT_USAGE.
struct usage_error
{
    QString text;
};

// The value of option `name` as a whole number from `low` to `high`; anything else (signs,
// spaces, more than 9 digits included) throws a usage_error naming the option, the range and
// the text given.
int number_option(const QCommandLineParser& parser, const QString& name, int low, int high);

// The exit code of an interrupt, after saying what it left: Ctrl-C and a request to
// terminate (SIGTERM) end the program alike, each with its own code.
int interrupted_exit(const interrupt_watch& interrupts, const QString& left);

}  // namespace lorvane::cli
