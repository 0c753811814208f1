// lorvane-cli's files: configuration files read whole but bounded, and without keeping
// Ctrl-C waiting; results written so that an old file is either replaced whole or left as
// it was, and so that a device, a FIFO or a pipe is written into, never replaced.
#pragma once

#include "interrupt_watch.h"
#include "panel_file.h"

#include <QByteArray>
#include <QString>

namespace lorvane::cli {

// A configuration file is a few KiB; anything beyond this is not one.
inline constexpr qsizetype MAX_INPUT_BYTES = PANEL_FILE_MAX_SIZE;

// File names as the system gives them. On Unix a name is bytes: one that is not valid UTF-8
// keeps each stray byte as U+DC80 + byte (shown by messages as \xNN), and goes back to the
// system as the same bytes.
QString name_from_system(const QByteArray& bytes);
QByteArray name_for_system(const QString& name);

struct io_result
{
    enum class status { done, interrupted, too_large, failed };
    status result = status::done;
    QString reason;        // failed: the system's words
    bool partial = false;  // failed: a regular file was being rewritten in place
    QByteArray bytes;      // read_input: what was read
};

// Reads all of file `name` ("-": standard input), at most MAX_INPUT_BYTES. An interrupt
// ends the wait for input at once.
io_result read_input(const QString& name, interrupt_watch& interrupts);

// Writes `bytes` as file `name`. A regular file (or a new one) in a folder this program may
// write is replaced whole: a temporary file beside it is written, flushed to disk and
// renamed over it, so a failure leaves the old file as it was. Anything else that already
// exists is written in place: a device, a FIFO (waiting, interruptibly, for a reader), a
// descriptor such as /dev/stdout (appending, as the descriptor does), a file in a folder
// this program may not write (rewritten; `partial` on failure). A folder is refused.
io_result write_output(const QString& name, const QByteArray& bytes, interrupt_watch& interrupts);

}  // namespace lorvane::cli
