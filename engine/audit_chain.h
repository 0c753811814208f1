// The audit log's chain: each line carries "prev", the SHA-256 of the line before it (its
// bytes without the line break; 64 zeros for a log's first line), so that a line edited,
// removed, inserted or moved breaks the chain where it happened. The hash of the last line is
// the log's head: whoever keeps a head from outside the log (a printed run, a report) can
// tell whether the log still holds that line, and whether it was cut short before it.
// Lines from before the chain have no "prev" ("unchained"): a run of them may open a log,
// and the first chained line after them chains to the last of them.
#pragma once

#include "file_access.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <variant>

namespace lorvane {

// The longest last line a head is looked for in when a log is opened for appending (an
// audit line is about 1 KiB); a longer one refuses the log as too_large.
inline constexpr qsizetype AUDIT_LINE_MAX_SIZE = 1024 * 1024;
// The largest log a check reads; it is read whole, once.
inline constexpr qsizetype AUDIT_LOG_MAX_SIZE = qsizetype(1024) * 1024 * 1024;

// 64 lowercase hex digits of the SHA-256 of `line` (without its line break).
QByteArray line_digest(QByteArrayView line);
// The "prev" of a log's first line: 64 zeros.
QByteArray first_prev();
// Whether `text` is 64 lowercase hex digits.
bool is_digest(QByteArrayView text);

// Where a log stands for appending: its head, and whether its last line lacks its line
// break (cut off while written), so that the next line starts on a line of its own.
struct log_end
{
    QByteArray head;  // 64 hex digits; first_prev() for an empty or new log
    bool needs_break = false;
};

// The end of the log at `path`, from its last AUDIT_LINE_MAX_SIZE bytes only; an empty log
// for a file that does not exist.
std::variant<log_end, file_failure> read_log_end(const QString& path);

enum class chain_problem {
    none,
    not_an_object,    // the line is not a JSON object
    prev_mismatch,    // its prev is not the hash of the line before (or zeros for line 1)
    unchained_later,  // a line without prev after a chained one
    head_not_found,   // no line's hash is the head asked for
};

struct chain_check
{
    int lines = 0;
    int unchained = 0;  // lines without prev at the start
    QByteArray head;    // the last line's hash; first_prev() for an empty log
    chain_problem problem = chain_problem::none;
    int line = 0;       // 1-based: the first line that does not hold
    int head_line = 0;  // 1-based: the line whose hash is the head asked for; 0 when none
};

// Checks the chain of the log `bytes`, stopping at the first line that does not hold; with
// a non-empty `head` (64 hex digits), also that some line's hash is that head.
chain_check check_chain(QByteArrayView bytes, QByteArrayView head = {});

}  // namespace lorvane
