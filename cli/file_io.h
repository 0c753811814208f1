// lorvane-cli's files, on top of the file access it shares with the window: configuration
// files read whole but bounded, standard input and FIFOs without keeping Ctrl-C waiting;
// results written so that a regular file is replaced whole (or rewritten in place where it
// must be), and so that a device, a FIFO or a pipe is written into, never replaced.
#pragma once

#include "file_access.h"
#include "interrupt_watch.h"
#include "panel_file.h"

#include <QByteArray>
#include <QString>

namespace lorvane::cli {

// A configuration file is a few KiB; anything beyond this is not one.
inline constexpr qsizetype MAX_INPUT_BYTES = PANEL_FILE_MAX_SIZE;

struct io_result
{
    enum class status { done, interrupted, too_large, failed };
    status result = status::done;
    file_failure failure;  // failed: what and the system's words
    QByteArray bytes;      // read_input: what was read
};

// Reads all of file `name` ("-": standard input), at most MAX_INPUT_BYTES. A regular file is
// read as the window reads it; standard input, a FIFO, a pipe or a device is read as it
// comes, and an interrupt ends the wait for input at once.
io_result read_input(const QString& name, interrupt_watch& interrupts);

// Writes `bytes` as file `name`. A regular file (or a new one) is written as the window
// saves it (write_regular_file). Anything else that already exists is written into: a device,
// a FIFO (waiting, interruptibly, for a reader), a descriptor such as /dev/stdout
// (appending, as the descriptor does). A folder is refused.
io_result write_output(const QString& name, const QByteArray& bytes, interrupt_watch& interrupts);

// What went wrong with a file, in a few words: the system's own where it gave them.
QString failure_text(const file_failure& failure);

}  // namespace lorvane::cli
