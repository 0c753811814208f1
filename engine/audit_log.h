// The audit log of a site: JSON lines appended to SITE.log beside the site file, so that
// both front ends' work lands in one history. A module a site write is about to write gets a
// line before its first write frame goes out, and a second line with the outcome:
//
//   {"time": "2025-03-04T09:12:45.120Z", "run": "5f0c…", "version": "1.1.0", "user": "ana",
//    "host": "laptop-3", "site": "...", "bus": "...", "port": "...", "module": 7,
//    "panel": "east/7.json", "action": "begun", "before": [[50,0,0], [1,1,1], ...17 records]}
//   {... "action": "written", "before": [...], "after": [...17 records, or null],
//    "verified": true}
//
// "run" is random and the same on every line of one run, so that two runs on one site can be
// told apart; "version" is this program's. "before" is what the first read found and "after"
// what the read-back found, each record as the module sent it (record 0 with its two spare
// bytes); in "after" a record not read back is null, the whole null when none was. "action"
// is "begun" (the write is about to start: a begun line without an outcome line after it is a
// module that may be half-written), then "written", "failed" or "interrupted"; the last two
// add "stopped_at": {"step": "write"|"read-back", "record": R}, the record the module did not
// answer, the first that read back different, or the one under way when the run was stopped.
// Every line also names "panel_sha256", the SHA-256 of the panel file's bytes as the run
// loaded them (64 hex digits; empty when unknown), and ends with "prev", the hash of the line
// before it (audit_chain.h). A check or a write ends with one more line of its own:
//
//   {"time": ..., "run": ..., "version": ..., "user": ..., "host": ..., "site": "...",
//    "action": "run", "of": "check"|"write", "stopped": false, "buses": 4, "unreachable": 0,
//    "modules": 12, "counts": {"same": 11, "different": 1, ...}, "prev": "..."}
//
// with the count of each status the run's summary names. The file is only ever appended to; each
// line is on disk before append() returns, and a new log's folder is flushed too, so that a power
// cut cannot take the file away.
#pragma once

#include "file_access.h"
#include "site_result.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

namespace lorvane {

// Who made a change, where, with what and in which run.
struct audit_identity
{
    QString user;
    QString host;
    QString version;  // this program's
    QString run;      // random; one per run

    // The user this program runs as, this computer's name, this program's version and a new
    // run id: call it once per run.
    static audit_identity of_this_process();
};

enum class audit_action { begun, written, failed, interrupted };

struct audit_entry
{
    QDateTime time;  // UTC
    QString site;
    QString bus;
    QString port;
    int module = 0;
    QString panel;
    audit_action action = audit_action::written;
    record_set before{};  // as the module sent them
    record_set after{};
    transfer_step stopped_step = transfer_step::write;  // failed, interrupted
    int stopped_record = -1;
    QByteArray panel_sha256;  // 64 hex digits
};

// The log line for `entry`, chained to `prev` (the log's head), ending in a line break.
QByteArray audit_line(const audit_entry& entry, const audit_identity& who, const QByteArray& prev);
// The line that closes a check or a write with its counts, chained to `prev`.
QByteArray audit_run_line(const site_result& result, const QString& site, const audit_identity& who,
                          const QByteArray& prev);

// The audit log's path for the site file at `site_path`: the same path plus ".log".
QString audit_log_path(const QString& site_path);

class audit_log
{
public:
    // Opens (or creates) the log for appending and finds its head from its last line; a log
    // that is not a regular file (a folder, a FIFO, a device) is refused at once. Why not,
    // when it cannot be opened or its last line cannot be read.
    std::optional<file_failure> open(const QString& path);

    // The hash of the last line (first_prev() for an empty log): the "prev" of the next one.
    const QByteArray& head() const { return head_; }

    // Appends `line` (made with prev = head()) and waits until it is on disk (flushed and
    // synced); the system's reason when it could not be written whole. The head moves on to
    // `line`'s hash only when it was.
    std::optional<QString> append(const QByteArray& line);

private:
    append_file file_;
    QByteArray head_;
    bool needs_break_ = false;  // the last line was cut off before its line break
};

}  // namespace lorvane
