// What lorvane-cli says and prints. Messages go to stderr, one line each, prefixed with
// the program's name; results (files, scan lines, the port list) go to stdout.
#pragma once

#include "frame.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

#include <optional>

namespace lorvane::cli {

// `text` made safe to show on one line of a terminal: line breaks, tabs, escape sequences
// and every other control or format character, and the bytes of a name that is not UTF-8,
// are shown as escapes (\n, \x1b, \u202e); a text of more than a few thousand characters is
// cut, saying how long it was.
QString one_line(const QString& text);

class console
{
public:
    void set(bool quiet, bool trace);
    bool tracing() const { return trace_; }

    void error(const QString& text) { line(text); }
    void info(const QString& text)
    {
        if (!quiet_)
            line(text);
    }
    // A progress line, redrawn in place while stderr is a terminal; nothing otherwise.
    void progress(const QString& text);
    // Clears a progress line still shown, so that whatever comes next starts a clean line.
    void end_progress();
    // A frame on the line, with the time since the start and what became of it.
    void trace(const char* direction, const frame& bytes, const QString& verdict = {});
    // Bytes on the line as they arrived, not cut into frames (the scan's).
    void trace_bytes(const char* direction, const QByteArray& bytes, const QString& verdict = {});

    // Writes results to stdout, the progress line cleared first; the system's reason when
    // not every byte reached it.
    std::optional<QString> result(const QByteArray& bytes);

private:
    void line(const QString& text);

    bool quiet_ = false;
    bool trace_ = false;
    bool live_ = false;
    bool progress_shown_ = false;
    QElapsedTimer clock_;
};

}  // namespace lorvane::cli
