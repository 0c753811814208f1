#pragma once

// What the two platform halves of the file access share (file_access_unix.cpp,
// file_access_windows.cpp); not for use outside config/.

#include "file_access.h"

namespace lorvane::file_parts {

// Tries at a temporary name before giving up; a clash is already unlikely at the first.
constexpr int TEMPORARY_TRIES = 100;
// Bytes asked of the system per read.
constexpr qsizetype READ_CHUNK = 64 * 1024;
// A temporary file's name: ".lv" and six random letters or digits, short enough to stand
// beside a file of any valid name, and hidden from folder listings on Unix.
constexpr int TEMPORARY_NAME_LENGTH = 9;

QByteArray temporary_name();

// A refusal of ours, not the system's: `partial` is false, nothing was written.
file_failure refused(file_problem kind, const QString& reason = {});

}  // namespace lorvane::file_parts
