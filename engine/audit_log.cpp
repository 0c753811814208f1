#include "audit_log.h"

#include "audit_chain.h"
#include "json_writer.h"

#include <QSysInfo>
#include <QUuid>

#ifndef Q_OS_WIN
#include <pwd.h>
#include <unistd.h>
#endif

namespace lorvane {

namespace {

QByteArray record_json(const record_values& values)
{
    return json_array({QByteArray::number(values.value1), QByteArray::number(values.value2),
                       QByteArray::number(values.value3)});
}

QByteArray records_json(const record_set& set)
{
    std::vector<QByteArray> records;
    bool any = false;
    for (const auto& record : set) {
        records.push_back(record ? record_json(*record) : QByteArray("null"));
        any = any || record.has_value();
    }
    return any ? json_array(records) : QByteArray("null");
}

const char* action_name(audit_action action)
{
    switch (action) {
    case audit_action::begun:
        return "begun";
    case audit_action::written:
        return "written";
    case audit_action::failed:
        return "failed";
    case audit_action::interrupted:
        return "interrupted";
    }
    return "";
}

}  // namespace

audit_identity audit_identity::of_this_process()
{
    audit_identity who;
#ifdef Q_OS_WIN
    who.user = qEnvironmentVariable("USERNAME");
#else
    // The account the program runs as, not a variable anyone can set.
    if (const passwd* account = ::getpwuid(::geteuid()))
        who.user = QString::fromLocal8Bit(account->pw_name);
    else
        who.user = qEnvironmentVariable("USER");
#endif
    who.host = QSysInfo::machineHostName();
    who.version = QStringLiteral(LORVANE_VERSION);
    who.run = QUuid::createUuid().toString(QUuid::WithoutBraces);  // random (version 4)
    return who;
}

namespace {

// A status as the run line counts it.
const char* status_name(module_status status)
{
    switch (status) {
    case module_status::same:
        return "same";
    case module_status::different:
        return "different";
    case module_status::missing:
        return "missing";
    case module_status::unexpected:
        return "unexpected";
    case module_status::unchanged:
        return "unchanged";
    case module_status::written:
        return "written";
    case module_status::failed:
        return "failed";
    case module_status::interrupted:
        return "interrupted";
    case module_status::not_reached:
        return "not_reached";
    case module_status::read:
        return "read";
    }
    return "";
}

QString action_of(site_action action)
{
    switch (action) {
    case site_action::check:
        return QStringLiteral("check");
    case site_action::write:
        return QStringLiteral("write");
    case site_action::adopt:
        return QStringLiteral("adopt");
    }
    return {};
}

}  // namespace

QByteArray audit_run_line(const site_result& result, const QString& site, const audit_identity& who,
                          const QByteArray& prev)
{
    const site_counts counts = count_site(result);
    json_object by_status;
    for (const module_status status : summary_statuses(result.action))
        by_status.add(status_name(status), counts[status]);
    json_object line;
    line.add("time", QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs))
        .add("run", who.run)
        .add("version", who.version)
        .add("user", who.user)
        .add("host", who.host)
        .add("site", site)
        .add("action", QStringLiteral("run"))
        .add("of", action_of(result.action))
        .add("stopped", result.stopped)
        .add("buses", counts.buses)
        .add("unreachable", counts.unreachable)
        .add("modules", counts.modules)
        .add_json("counts", by_status.text())
        .add("prev", QString::fromLatin1(prev));
    return line.text() + '\n';
}

QByteArray audit_line(const audit_entry& entry, const audit_identity& who, const QByteArray& prev)
{
    json_object line;
    line.add("time", entry.time.toUTC().toString(Qt::ISODateWithMs))
        .add("run", who.run)
        .add("version", who.version)
        .add("user", who.user)
        .add("host", who.host)
        .add("site", entry.site)
        .add("bus", entry.bus)
        .add("port", entry.port)
        .add("module", entry.module)
        .add("panel", entry.panel)
        .add("panel_sha256", QString::fromLatin1(entry.panel_sha256))
        .add("action", QString::fromLatin1(action_name(entry.action)))
        .add_json("before", records_json(entry.before));
    if (entry.action == audit_action::begun) {  // nothing of the outcome is known yet
        line.add("prev", QString::fromLatin1(prev));
        return line.text() + '\n';
    }
    line.add_json("after", records_json(entry.after))
        .add("verified", entry.action == audit_action::written);  // read back and equal
    if (entry.action != audit_action::written)
        line.add_json("stopped_at", json_object()
                                        .add("step", entry.stopped_step == transfer_step::read_back
                                                         ? QStringLiteral("read-back")
                                                         : QStringLiteral("write"))
                                        .add("record", entry.stopped_record)
                                        .text());
    line.add("prev", QString::fromLatin1(prev));
    return line.text() + '\n';
}

QString audit_log_path(const QString& site_path)
{
    return site_path + QStringLiteral(".log");
}

std::optional<file_failure> audit_log::open(const QString& path)
{
    auto opened = open_append_file(path);
    if (auto* failure = std::get_if<file_failure>(&opened))
        return *failure;
    // Read once, here: from now on the head follows the lines this log appends.
    auto end = read_log_end(path);
    if (auto* failure = std::get_if<file_failure>(&end))
        return *failure;
    file_ = std::get<append_file>(std::move(opened));
    head_ = std::get<log_end>(end).head;
    needs_break_ = std::get<log_end>(end).needs_break;
    return std::nullopt;
}

std::optional<QString> audit_log::append(const QByteArray& line)
{
    // A line cut off before its break stays a line of its own (which a check then reports):
    // the new line never runs on from it.
    const QByteArray bytes = needs_break_ ? '\n' + line : line;
    if (const auto failure = file_.append(bytes))
        return failure->reason.isEmpty() ? QStringLiteral("not open") : failure->reason;
    needs_break_ = false;
    head_ =
        line_digest(line.endsWith('\n') ? QByteArrayView(line).chopped(1) : QByteArrayView(line));
    return std::nullopt;
}

}  // namespace lorvane
