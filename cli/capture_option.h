// lorvane-cli's --capture FILE and --capture-limit MIB, shared by the module commands and
// `site ...`: the options, their checked values, and the capture file opened before anything
// is sent, which says once on stderr when it stops recording.
#pragma once

#include "line_capture.h"

#include <QCommandLineOption>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <variant>

class QCommandLineParser;

namespace lorvane::cli {

inline constexpr int DEFAULT_CAPTURE_LIMIT_MIB = 64;
inline constexpr int MAX_CAPTURE_LIMIT_MIB = 4096;

// What --capture asked for.
struct capture_request
{
    QString file;
    int limit_mib = DEFAULT_CAPTURE_LIMIT_MIB;
    QString command;  // the command line as given, for the file's comment
};

QList<QCommandLineOption> capture_option_list();
bool is_capture_option(const QString& name);

// The request of the command line `arguments` (the program's first), or none without
// --capture; throws a usage_error for an empty name, a limit out of 1..4096, or a limit
// without --capture.
std::optional<capture_request> capture_request_of(const QCommandLineParser& parser,
                                                  const QStringList& arguments);

// Creates the capture file, or returns the exit code after telling why it cannot be
// (nothing has been sent then). No request: a null capture.
std::variant<std::unique_ptr<line_capture>, int>
open_capture(const std::optional<capture_request>& request);

}  // namespace lorvane::cli
