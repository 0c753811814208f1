#include "audit_log.h"

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

QByteArray audit_line(const audit_entry& entry, const audit_identity& who)
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
        .add("action", QString::fromLatin1(action_name(entry.action)))
        .add_json("before", records_json(entry.before));
    if (entry.action == audit_action::begun)  // nothing of the outcome is known yet
        return line.text() + '\n';
    line.add_json("after", records_json(entry.after))
        .add("verified", entry.action == audit_action::written);  // read back and equal
    if (entry.action != audit_action::written)
        line.add_json("stopped_at", json_object()
                                        .add("step", entry.stopped_step == transfer_step::read_back
                                                         ? QStringLiteral("read-back")
                                                         : QStringLiteral("write"))
                                        .add("record", entry.stopped_record)
                                        .text());
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
    file_ = std::get<append_file>(std::move(opened));
    return std::nullopt;
}

std::optional<QString> audit_log::append(const QByteArray& line)
{
    if (const auto failure = file_.append(line))
        return failure->reason.isEmpty() ? QStringLiteral("not open") : failure->reason;
    return std::nullopt;
}

}  // namespace lorvane
