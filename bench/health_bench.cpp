// A bus's health. First the active test as `lorvane-cli health` runs it, through the engine's
// health_check and the real serial port, against `lorvane-sim --pace-baud 9600` with 8
// modules: a scan of 0..255, 20 reads of each module and the 1 s listen, timed from start()
// to finished() against the line's own time for all of that. Second the passive collector
// that every operation feeds (line_watch): its CPU time for one exchange, beside the
// exchange's own line time, which is what it adds to a site check.
#include "bench_sections.h"
#include "bus_health.h"
#include "frame_stream.h"
#include "line_health.h"
#include "simulator_process.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <optional>
#include <stdexcept>
#include <vector>

#include <time.h>

namespace lorvane::bench {

namespace {

constexpr int HEALTH_RUNS = 3;
constexpr int MODULES = 8;
constexpr int SAMPLES = 20;
constexpr double TARGET_HEALTH_RATIO = 1.10;
constexpr double TARGET_COLLECTOR_SHARE = 0.01;
// A scan's 256 probe and reply slots, the reads' 160 exchanges of 16 byte times each, and
// the listen.
constexpr double EXCHANGE_S = 16 * 10 / LINE_BAUD;  // 16.7 ms
constexpr double HEALTH_LINE_S = 256 * EXCHANGE_S + MODULES * SAMPLES * EXCHANGE_S + 1.0;
constexpr int COLLECTOR_EXCHANGES = 200'000;

struct health_run
{
    double seconds = 0;
    bool clean = false;  // all 8 modules sampled 20 times, no finding
};

health_run run_health(const std::string& port)
{
    serial_link link;
    if (link.open(QString::fromStdString(port)))
        throw std::runtime_error("cannot open " + port);
    health_check check(link);
    QEventLoop loop;
    std::optional<operation_end> end;
    QObject::connect(&check, &health_check::finished, &loop, [&](operation_end e) {
        end = e;
        loop.quit();
    });
    QTimer::singleShot(60'000, &loop, &QEventLoop::quit);
    QElapsedTimer clock;
    clock.start();
    check.start({});
    loop.exec();
    if (end != operation_end::done)
        throw std::runtime_error("the health check did not finish");
    const health_report& report = check.report();
    int sampled = 0;
    for (const module_traffic& m : report.measured.modules)
        sampled += m.confirmed >= SAMPLES;
    return {double(clock.nsecsElapsed()) / 1e9, sampled == MODULES && report.findings.empty()};
}

std::int64_t thread_cpu_ns()
{
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return std::int64_t(now.tv_sec) * NS_PER_S + now.tv_nsec;
}

// The collector's CPU time for one exchange as a read chain makes it: the request out, its
// reply's chunk in, the reply taken; in ns.
double collector_ns_per_exchange()
{
    line_watch watch;
    frame_stream stream;
    const std::int64_t started = thread_cpu_ns();
    for (int i = 0; i < COLLECTOR_EXCHANGES; ++i) {
        const auto address = std::uint8_t(1 + i % MODULES);
        const auto record = std::uint8_t(i % 17);
        watch.request_out(make_request(FUNC_READ, address, record, 0, 0, 0), false);
        const frame reply = make_reply(address, FUNC_READ, record, 1, record, 1);
        watch.chunk_in(reply.size());
        for (const frame_stream::item& item : stream.feed(reply))
            watch.item_in(item);
    }
    watch.operation_ended();
    const std::int64_t spent = thread_cpu_ns() - started;
    if (watch.snapshot().line.requests_sent != std::uint64_t(COLLECTOR_EXCHANGES))
        throw std::runtime_error("the collector lost requests");
    // The frame stream ran before the collector existed; take its own share off.
    frame_stream alone;
    const std::int64_t alone_started = thread_cpu_ns();
    std::size_t items = 0;
    for (int i = 0; i < COLLECTOR_EXCHANGES; ++i) {
        const auto address = std::uint8_t(1 + i % MODULES);
        const auto record = std::uint8_t(i % 17);
        (void)make_request(FUNC_READ, address, record, 0, 0, 0);
        items += alone.feed(make_reply(address, FUNC_READ, record, 1, record, 1)).size();
    }
    const std::int64_t alone_spent = thread_cpu_ns() - alone_started;
    if (items != std::size_t(COLLECTOR_EXCHANGES))
        throw std::runtime_error("the frame stream lost replies");
    return double(std::max<std::int64_t>(0, spent - alone_spent)) / COLLECTOR_EXCHANGES;
}

}  // namespace

void health_section(const bench_options& opts, report& out)
{
    progress("health: 8 modules, 20 samples, 0..255");
    std::vector<double> seconds;
    int clean = 0;
    {
        const simulator_process sim(opts.sim, {QStringLiteral("--pace-baud=9600"),
                                               QStringLiteral("--address=1,2,3,4,5,6,7,8")});
        for (int i = 0; i < HEALTH_RUNS; ++i) {
            const health_run r = run_health(sim.path());
            seconds.push_back(r.seconds);
            clean += r.clean;
        }
    }
    const summary s = summarise(seconds);
    const double ratio = s.max.value_or(1e9) / HEALTH_LINE_S;
    add_row(out.table,
            "health, 8 modules at 9600 baud: scan 0..255, 20 reads each, 1 s listen (median of " +
                std::to_string(HEALTH_RUNS) + ")",
            range_text(s, 2, "s") + "; slowest " + fixed(ratio, 3) + " × " +
                fixed(HEALTH_LINE_S, 2) + " s; clean in " + std::to_string(clean) + "/" +
                std::to_string(HEALTH_RUNS),
            "≤ " + fixed(TARGET_HEALTH_RATIO, 2) + " × line time, no finding",
            verdict(ratio <= TARGET_HEALTH_RATIO && clean == HEALTH_RUNS));

    progress("health: the passive collector");
    const double ns = collector_ns_per_exchange();
    const double share = ns / (EXCHANGE_S * 1e9);
    add_row(out.table,
            "… the passive collector beside every exchange (CPU time, " +
                std::to_string(COLLECTOR_EXCHANGES) + " read exchanges)",
            fixed(ns / 1000.0, 2) +
                " µs an exchange beside the exchange's 16.7 ms: " + fixed(share * 100.0, 4) + " %",
            "≤ 1 % of a site check", verdict(share <= TARGET_COLLECTOR_SHARE));
    out.notes +=
        "- health: the engine's health_check with its defaults (the command's) through the real "
        "serial port, timed from start() to finished(), against `lorvane-sim --pace-baud 9600 "
        "--address 1,2,3,4,5,6,7,8`. The line time is the scan's 256 probe and reply slots "
        "(4.27 s), 160 exchanges of 16.7 ms (2.67 s) and the 1 s listen: 7.93 s. A run is clean "
        "when every module gave its 20 replies and nothing was found. The collector's row is "
        "the CPU time line_watch adds to each exchange (request out, chunk in, reply taken; "
        "the frame stream's own share, which was there before, taken off), beside the line "
        "time of the exchange it watches: a site check spends at least that time on the line "
        "for each exchange, so this is the most the collector adds to it.\n";
}

}  // namespace lorvane::bench
