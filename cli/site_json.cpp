#include "site_json.h"

#include "health_json.h"
#include "json_writer.h"
#include "site_words.h"

namespace lorvane::cli {

namespace {

QByteArray difference_json(const config_difference& d)
{
    json_object object;
    if (d.field != config_field::refresh_period)
        object.add("key", d.record);
    const char* field = d.field == config_field::refresh_period ? "refresh_period"
                        : d.field == config_field::key_address  ? "address"
                        : d.field == config_field::key_line     ? "line"
                                                                : "operation";
    return object.add("field", QString::fromLatin1(field))
        .add("expected", int(d.expected))
        .add("found", int(d.found))
        .text();
}

QByteArray module_json(const module_result& m)
{
    json_object object;
    object.add("address", m.address)
        .add_json("panel", m.panel >= 0 ? json_quoted(m.panel_path) : QByteArray("null"))
        .add("status", status_json(m.status));
    if (m.status == module_status::failed)
        object.add("fault", m.fault == module_fault::read_back_differs
                                ? QStringLiteral("read_back_differs")
                                : QStringLiteral("no_reply"));
    if (differences_found(m)) {
        std::vector<QByteArray> differences;
        for (const config_difference& d : m.differences)
            differences.push_back(difference_json(d));
        object.add_json("differences", json_array(differences));
    }
    if (m.replies)
        object.add_json("reply_ms", json_object()
                                        .add_json("min", json_number(m.replies->min_ms, 1))
                                        .add_json("median", json_number(m.replies->median_ms, 1))
                                        .add_json("max", json_number(m.replies->max_ms, 1))
                                        .text());
    if (m.status == module_status::unexpected && m.refresh_period)
        object.add("refresh_period", *m.refresh_period);
    if (m.status == module_status::failed || m.status == module_status::interrupted)
        object.add_json("stopped_at", json_object()
                                          .add("step", m.stopped_step == transfer_step::read_back
                                                           ? QStringLiteral("read-back")
                                                       : m.stopped_step == transfer_step::write
                                                           ? QStringLiteral("write")
                                                           : QStringLiteral("read"))
                                          .add("record", m.stopped_record)
                                          .text());
    return object.text();
}

}  // namespace

QByteArray site_json(const site_result& result, const session_options& options)
{
    std::vector<QByteArray> buses;
    for (const bus_result& bus : result.buses) {
        json_object object;
        object.add("name", bus.name)
            .add("port", bus.port)
            .add("status", bus.reachable() ? QStringLiteral("ok") : QStringLiteral("unreachable"));
        if (!bus.reachable())
            object.add("error", bus_failure_text(result, bus));
        if (const QString doubt = scan_doubt_text(bus, options); !doubt.isEmpty())
            object.add_json("warnings", json_array({json_quoted(doubt)}));
        std::vector<QByteArray> modules;
        for (const module_result& m : bus.modules)
            modules.push_back(module_json(m));
        object.add_json("modules", json_array(modules));
        if (bus.health) {
            json_object health;
            add_health_members(health, *bus.health);
            object.add_json("health", health.text());
        }
        buses.push_back(object.text());
    }
    json_object document;
    document.add("site", result.site)
        .add_json("seconds", json_number(result.seconds, 2))
        .add_json("buses", json_array(buses));
    if (!result.log_head.isEmpty())
        document.add("log_head", QStringLiteral("sha256:") + QString::fromLatin1(result.log_head));
    return document.text() + '\n';
}

}  // namespace lorvane::cli
