// The audit log of a site: one JSON line for every module a site write wrote, appended to
// SITE.log beside the site file, so that both front ends' work lands in one history:
//
//   {"time": "2025-03-04T09:12:45.120Z", "user": "ana", "host": "laptop-3", "site": "...",
//    "bus": "...", "port": "...", "module": 7, "panel": "east/7.json", "action": "written",
//    "before": [[50,0,0], [1,1,1], ...17 records], "after": [...17 records, or null],
//    "verified": true}
//
// "action" is "written", "failed" or "interrupted"; the last two add "stopped_at":
// {"step": "write"|"read-back", "record": R}, the record the module did not answer, the
// first that read back different, or the one under way when the run was stopped. "after" is
// what the read-back found, each record not read back null, the whole null when none was.
// The file is only ever appended to; each line is on disk before append() returns.
#pragma once

#include "site_result.h"

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QString>

#include <optional>

namespace lorvane {

// Who made a change, and where.
struct audit_identity
{
    QString user;
    QString host;

    // The user this program runs as and this computer's name.
    static audit_identity of_this_process();
};

enum class audit_action { written, failed, interrupted };

struct audit_entry
{
    QDateTime time;  // UTC
    QString site;
    QString bus;
    QString port;
    int module = 0;
    QString panel;
    audit_action action = audit_action::written;
    panel_config before;
    record_set after{};
    transfer_step stopped_step = transfer_step::write;  // failed, interrupted
    int stopped_record = -1;
};

// The log line for `entry`, ending in a line break.
QByteArray audit_line(const audit_entry& entry, const audit_identity& who);

// The audit log's path for the site file at `site_path`: the same path plus ".log".
QString audit_log_path(const QString& site_path);

class audit_log
{
public:
    // Opens (or creates) the log for appending; the system's reason when it cannot.
    std::optional<QString> open(const QString& path);

    // Appends `line` and waits until it is on disk (flushed and synced); the system's reason
    // when it could not be written whole.
    std::optional<QString> append(const QByteArray& line);

private:
    QFile file_;
};

}  // namespace lorvane
