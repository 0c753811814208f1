// The site report: writing the HTML report of 64 buses x 256 modules (every module with its
// reply times, every bus with its line health, 3 problems), with lorvane-cli's words, made and
// saved whole as `site check --report` does, against 1 s; and the same with --all-rows and
// with --as-built.
#include "bench_sections.h"
#include "site_report.h"
#include "site_words.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <stdexcept>

namespace lorvane::bench {

namespace {

constexpr int BUSES = 64;
constexpr int MODULES = 256;  // per bus: addresses 0..255
constexpr double TARGET_REPORT_S = 1.0;
constexpr int REPORT_RUNS = 5;

struct big_site
{
    site_plan plan;
    site_result result;
    report_facts facts;
};

big_site make_site()
{
    big_site site;
    site.result.site = QStringLiteral("bench tower");
    site.result.started = QDateTime::currentDateTimeUtc();
    site.result.log_head = QByteArray(64, 'c');
    site.facts = {site.result.started,         QStringLiteral("bench"),
                  QStringLiteral("host"),      QStringLiteral("lorvane-cli bench"),
                  QStringLiteral("site.json"), {}};
    site.facts.digests.site = QByteArray(32, '\x01');
    for (int b = 0; b < BUSES; ++b) {
        bus_result bus;
        bus.name = QStringLiteral("riser %1").arg(b + 1);
        bus.port = bus.device = QStringLiteral("/dev/ttyUSB%1").arg(b);
        bus.scan_last = 255;
        site_bus planned{bus.name, bus.port, false, {}, {}};
        health_report health;
        for (int a = 0; a < MODULES; ++a) {
            module_result m;
            m.address = a;
            m.panel = a;
            m.panel_path = QStringLiteral("riser-%1/module-%2.json").arg(b + 1).arg(a);
            m.status = module_status::same;
            m.replies = reply_times{11.5, 12.0 + a % 3, 14.0};
            planned.panel_paths << m.panel_path;
            panel_config config;
            config.module_address = std::uint8_t(a);
            planned.panels.push_back(config);
            site.facts.digests.panels[m.panel_path] = QByteArray(32, char(a));
            bus.modules.push_back(m);
            module_traffic traffic;
            traffic.address = a;
            traffic.exchanges = traffic.confirmed = 18;
            traffic.reply_ms.assign(18, 12.0 + a % 5);
            health.measured.modules.push_back(traffic);
        }
        health.measured.line.seconds = 90;
        health.measured.line.requests_sent = std::uint64_t(256 + MODULES * 17);
        bus.health = health;
        site.result.buses.push_back(bus);
        site.plan.buses.push_back(planned);
    }
    site.result.buses[3].modules[10].status = module_status::missing;
    site.result.buses[30].modules[7].status = module_status::different;
    site.result.buses[30].modules[7].differences.push_back({5, config_field::key_line, 5, 7});
    site.result.buses[60].modules[200].status = module_status::failed;
    return site;
}

}  // namespace

void report_section(const bench_options&, report& out)
{
    progress("report: " + std::to_string(BUSES) + " buses x " + std::to_string(MODULES) +
             " modules");
    const big_site site = make_site();
    cli::english_report_words words{session_options{}};
    words.set_result(&site.result);
    QTemporaryDir dir;
    const QString path = QDir(dir.path()).filePath(QStringLiteral("report.html"));
    const auto measure = [&](const report_options& options, qsizetype& bytes) {
        std::vector<double> seconds;
        for (int run = 0; run < REPORT_RUNS; ++run) {
            QElapsedTimer clock;
            clock.start();
            report_file file;
            if (const auto reason = file.open(path))
                throw std::runtime_error("cannot write the report: " + reason->toStdString());
            const QByteArray html = site_report_html(site.result, site.facts, words, options);
            if (const auto reason = file.commit(html))
                throw std::runtime_error("cannot write the report: " + reason->toStdString());
            seconds.push_back(double(clock.nsecsElapsed()) / 1e9);
            bytes = html.size();
        }
        return summarise(seconds);
    };
    const std::string what =
        std::to_string(BUSES) + " buses x " + std::to_string(MODULES) + " modules, 3 problems";
    const auto row = [&](const std::string& measure_name, const summary& s, qsizetype bytes,
                         bool targeted) {
        add_row(out.table,
                measure_name + " (" + fixed(double(bytes) / (1024.0 * 1024.0), 1) +
                    " MiB), median of " + std::to_string(REPORT_RUNS),
                range_text(s, 3, "s") +
                    (targeted ? " (" + fixed(s.median.value_or(0) / TARGET_REPORT_S, 2) +
                                    " of the target)"
                              : std::string()),
                targeted ? "≤ " + fixed(TARGET_REPORT_S, 0) + " s" : "—",
                targeted ? verdict(s.median.value_or(0) <= TARGET_REPORT_S) : "—");
    };
    qsizetype bytes = 0;
    const summary plain = measure({}, bytes);
    row("site report, " + what, plain, bytes, true);
    report_options all;
    all.all_rows = true;
    const summary whole = measure(all, bytes);
    row("site report --all-rows, " + what, whole, bytes, false);
    report_options built;
    built.as_built = &site.plan;
    const summary appendix = measure(built, bytes);
    row("site report --as-built, " + what, appendix, bytes, false);
    out.notes += "- report: the report made from a result of the size given (every module with "
                 "its reply times, every bus with its line health) with lorvane-cli's words and "
                 "saved whole, as `site check --report` does after a run.\n";
}

}  // namespace lorvane::bench
