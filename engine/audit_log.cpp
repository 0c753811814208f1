#include "audit_log.h"

#include "json_writer.h"

#include <QSysInfo>

#ifdef Q_OS_WIN
#include <io.h>
#else
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

QByteArray records_json(const panel_config& config)
{
    std::vector<QByteArray> records;
    for (record_no r = 0; r <= LAST_RECORD; ++r)
        records.push_back(record_json(values_of_record(config, r)));
    return json_array(records);
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
    case audit_action::written:
        return "written";
    case audit_action::failed:
        return "failed";
    case audit_action::interrupted:
        return "interrupted";
    }
    return "";
}

// Whether a sync reached the disk: fsync, or its Windows counterpart.
bool sync_to_disk(int handle)
{
#ifdef Q_OS_WIN
    return _commit(handle) == 0;
#else
    return ::fsync(handle) == 0;
#endif
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
    return who;
}

QByteArray audit_line(const audit_entry& entry, const audit_identity& who)
{
    json_object line;
    line.add("time", entry.time.toUTC().toString(Qt::ISODateWithMs))
        .add("user", who.user)
        .add("host", who.host)
        .add("site", entry.site)
        .add("bus", entry.bus)
        .add("port", entry.port)
        .add("module", entry.module)
        .add("panel", entry.panel)
        .add("action", QString::fromLatin1(action_name(entry.action)))
        .add_json("before", records_json(entry.before))
        .add_json("after", records_json(entry.after))
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

std::optional<QString> audit_log::open(const QString& path)
{
    file_.setFileName(path);
    // Append mode: every write lands at the end, whatever else appends to the file meanwhile.
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return file_.errorString();
    return std::nullopt;
}

std::optional<QString> audit_log::append(const QByteArray& line)
{
    if (!file_.isOpen())
        return QStringLiteral("not open");
    if (file_.write(line) != line.size())
        return file_.errorString();
    if (!file_.flush() || !sync_to_disk(file_.handle()))
        return qt_error_string();
    return std::nullopt;
}

}  // namespace lorvane
