#include "health_command.h"

#include "cli.h"
#include "health_json.h"
#include "health_words.h"
#include "interrupt_watch.h"
#include "json_writer.h"
#include "options.h"
#include "port_words.h"

#include <QElapsedTimer>
#include <QEventLoop>

namespace lorvane::cli {

namespace {

QString stage_word(health_stage stage)
{
    switch (stage) {
    case health_stage::scanning:
        return QStringLiteral("scanning");
    case health_stage::sampling:
        return QStringLiteral("reading record 0");
    case health_stage::listening:
        return QStringLiteral("listening to the quiet line");
    }
    return {};
}

}  // namespace

int command_health(serial_link& link, const QString& port, const health_options& options, bool json,
                   interrupt_watch& interrupts, const std::function<int(const QByteArray&)>& print)
{
    health_check check(link);
    QEventLoop loop;
    operation_end end = operation_end::done;
    QObject::connect(&check, &health_check::finished, &loop, [&](operation_end e) {
        end = e;
        loop.quit();
    });
    QObject::connect(
        &check, &health_check::progress, &loop, [&](health_stage stage, int done, int total) {
            out.progress(QStringLiteral("%1 (%2/%3)").arg(stage_word(stage)).arg(done).arg(total));
        });
    QObject::connect(&interrupts, &interrupt_watch::interrupted, &loop, [&] { check.stop(); });
    QElapsedTimer clock;
    clock.start();
    check.start(options);
    loop.exec();
    const double seconds = double(clock.elapsed()) / 1000.0;
    if (end == operation_end::port_lost || end == operation_end::port_closed) {
        out.error(lost_port_text(link));
        link.close();
        return EXIT_PORT;
    }
    link.close();
    if (end == operation_end::stopped)
        return interrupted_exit(interrupts, QStringLiteral("the port is closed"));

    const health_report& report = check.report();
    QByteArray text;
    if (json) {
        json_object document;
        document.add("port", port);
        document.add_json("seconds", json_number(seconds, 1));
        add_health_members(document, report);
        text = document.text() + '\n';
    } else {
        for (const module_traffic& module : report.measured.modules)
            text += (module_health_line(module) + u'\n').toUtf8();
        if (report.measured.modules.empty())
            text += "no module answered\n";
        for (const health_finding& finding : report.findings)
            text += (QStringLiteral("finding: ") + finding_text(finding) + u'\n').toUtf8();
    }
    if (const int code = print(text))
        return code;
    out.info(QStringLiteral("%1 module(s), %2 finding(s) in %3 s")
                 .arg(report.measured.modules.size())
                 .arg(report.findings.size())
                 .arg(seconds, 0, 'f', 1));
    return report.findings.empty() ? EXIT_DONE : EXIT_FINDINGS;
}

}  // namespace lorvane::cli
