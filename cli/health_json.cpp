#include "health_json.h"

#include "health_words.h"

namespace lorvane::cli {

namespace {

QByteArray count(std::uint64_t value)
{
    return QByteArray::number(quint64(value));
}

QByteArray module_json(const module_traffic& m)
{
    QByteArray reply_ms = "null";
    if (const auto s = m.summary())
        reply_ms = json_object()
                       .add_json("min", json_number(s->min, 1))
                       .add_json("median", json_number(s->median, 1))
                       .add_json("p95", json_number(s->p95, 1))
                       .add_json("max", json_number(s->max, 1))
                       .text();
    return json_object()
        .add("address", m.address)
        .add("samples", m.exchanges)
        .add("timeouts", m.timeouts)
        .add("garbled", m.garbled)
        .add_json("reply_ms", reply_ms)
        .add("confirmed", m.confirmed)
        .add("retries", m.retries)
        .add("foreign", m.foreign)
        .text();
}

QByteArray line_json(const line_counters& line)
{
    json_object object;
    object.add_json("idle_bytes", count(line.idle_bytes))
        .add_json("echoed_requests", count(line.echoed_requests))
        .add_json("unframed_bytes", count(line.unframed_bytes));
    if (line.os_errors)
        object.add_json("os_errors", json_object()
                                         .add_json("framing", count(line.os_errors->framing))
                                         .add_json("parity", count(line.os_errors->parity))
                                         .add_json("overrun", count(line.os_errors->overrun))
                                         .add_json("break", count(line.os_errors->breaks))
                                         .text());
    object.add_json("received_bytes", count(line.received_bytes))
        .add_json("requests_sent", count(line.requests_sent));
    if (line.line_state_notices)
        object.add_json("line_state", json_object()
                                          .add_json("notices", count(*line.line_state_notices))
                                          .add("errors", int(line.line_state_errors.value_or(0)))
                                          .text());
    if (line.latency_timer_ms)
        object.add("latency_timer_ms", *line.latency_timer_ms);
    return object.text();
}

QByteArray finding_json(const health_finding& f)
{
    json_object object;
    object.add("kind", finding_kind_json(f.kind));
    if (f.address)
        object.add("address", *f.address);
    object.add("text", finding_text(f));
    switch (f.kind) {
    case finding_kind::idle_noise:
    case finding_kind::slow_replies:
    case finding_kind::unstable:
        object.add_json("figure", json_number(f.figure, 1));
        break;
    case finding_kind::echo:
    case finding_kind::wrong_speed:
        object.add_json("figure", count(std::uint64_t(f.figure)));
        break;
    case finding_kind::shared_address:
    case finding_kind::no_module:
        break;
    }
    if (f.latency_timer_ms)
        object.add("latency_timer_ms", *f.latency_timer_ms);
    return object.text();
}

}  // namespace

QString finding_kind_json(finding_kind kind)
{
    switch (kind) {
    case finding_kind::shared_address:
        return QStringLiteral("shared_address");
    case finding_kind::idle_noise:
        return QStringLiteral("idle_noise");
    case finding_kind::echo:
        return QStringLiteral("echo");
    case finding_kind::slow_replies:
        return QStringLiteral("slow_replies");
    case finding_kind::wrong_speed:
        return QStringLiteral("wrong_speed");
    case finding_kind::no_module:
        return QStringLiteral("no_module");
    case finding_kind::unstable:
        return QStringLiteral("unstable");
    }
    return {};
}

void add_health_members(json_object& object, const health_report& report)
{
    std::vector<QByteArray> modules;
    for (const module_traffic& m : report.measured.modules)
        modules.push_back(module_json(m));
    std::vector<QByteArray> findings;
    for (const health_finding& f : report.findings)
        findings.push_back(finding_json(f));
    object.add_json("modules", json_array(modules))
        .add_json("line", line_json(report.measured.line))
        .add_json("findings", json_array(findings));
}

}  // namespace lorvane::cli
