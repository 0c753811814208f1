// A whole site. First, four buses at 9600 baud (`lorvane-sim --pace-baud 9600`, with 2, 4, 6
// and 8 modules) checked at once through the engine's site_run, side by side in one run with
// the slowest bus checked alone: buses run in parallel when the site takes no longer than its
// slowest bus. Each bus's scan and each module's read are timed too, against the line's own
// limits. Second, the resident memory of lorvane-cli checking 64 buses of 256 modules each
// (64 unpaced simulators, 16384 panel files), beside one bus of one module.
#include "bench_sections.h"
#include "simulator_process.h"
#include "site_run.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <memory>
#include <stdexcept>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace lorvane::bench {

namespace {

constexpr int SITE_RUNS = 3;
constexpr double TARGET_SITE_RATIO = 1.10;
constexpr double TARGET_SCAN_S = 5.0;
constexpr int MEMORY_BUSES = 64;
constexpr int MEMORY_MODULES = 256;

QString address_list(int first, int count)
{
    QStringList addresses;
    for (int a = first; a < first + count; ++a)
        addresses << QString::number(a);
    return addresses.join(u',');
}

site_bus bus_of(const QString& name, const std::string& port, int first, int count)
{
    site_bus bus;
    bus.name = name;
    bus.port = QString::fromStdString(port);
    for (int a = first; a < first + count; ++a) {
        panel_config config;
        config.module_address = std::uint8_t(a);
        bus.panels.push_back(config);
        bus.panel_paths << QStringLiteral("%1/%2.json").arg(name).arg(a);
    }
    return bus;
}

// A check of `plan` with a scan, through the engine, to its end; `retries` as --retries
// gives them, to module transfers and the scan alike.
site_result check(const site_plan& plan, int retries = 0)
{
    site_run_options options;
    options.action = site_action::check;
    options.session.retries = retries;
    options.scan_range.retries = retries;
    site_run run(plan, options);
    QEventLoop loop;
    QObject::connect(&run, &site_run::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(120'000, &loop, &QEventLoop::quit);
    run.start();
    loop.exec();
    if (run.running())
        throw std::runtime_error("the site check did not finish");
    const site_result& result = run.result();
    for (const bus_result& bus : result.buses) {
        if (!bus.reachable())
            throw std::runtime_error("bus " + bus.name.toStdString() + " was unreachable");
        for (const module_result& m : bus.modules) {
            if (m.status != module_status::same)
                throw std::runtime_error("module " + std::to_string(m.address) + " on bus " +
                                         bus.name.toStdString() + " was not the same");
        }
    }
    return result;
}

struct child_run
{
    int exit_code = -1;
    long peak_kib = 0;  // the child's own maximum resident set size
    double seconds = 0;
};

// Runs `args` (args[0] the program) with stdout and stderr on /dev/null, to its end, and
// its peak resident memory. The peak is taken by /usr/bin/time (Debian's package time), a
// small process between: a child started straight from this benchmark would count this
// process's own resident memory, which it shares until its exec, as its peak.
child_run run_measured(const std::vector<std::string>& args)
{
    const char* time_program = "/usr/bin/time";
    if (::access(time_program, X_OK) != 0)
        throw std::runtime_error("the memory figure needs /usr/bin/time (apt-get install time)");
    QTemporaryDir dir;
    const std::string peak_file = QDir(dir.path()).filePath(QStringLiteral("peak")).toStdString();
    std::vector<std::string> wrapped{time_program, "-f", "%M", "-o", peak_file};
    wrapped.insert(wrapped.end(), args.begin(), args.end());

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (const std::string& a : wrapped)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    QElapsedTimer clock;
    clock.start();
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        throw std::runtime_error("cannot start " + args[0]);
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid)
        throw std::runtime_error("cannot wait for " + args[0]);
    QFile peak(QString::fromStdString(peak_file));
    long kib = 0;
    if (peak.open(QIODevice::ReadOnly))
        kib = QString::fromLatin1(peak.readAll()).trimmed().split(u'\n').last().toLong();
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, kib, double(clock.nsecsElapsed()) / 1e9};
}

// A site of `buses` buses on the simulators at `ports`, `modules` modules each (addresses
// 0..modules-1), written with its panel files into `dir`; the site file's path.
std::string write_site(const QString& dir, const std::vector<std::string>& ports, int modules)
{
    site_plan plan;
    plan.name = QStringLiteral("memory");
    const QByteArray panel_text = panel_file_text(panel_config{});
    for (std::size_t b = 0; b < ports.size(); ++b) {
        const QString name = QStringLiteral("b%1").arg(b);
        QDir(dir).mkpath(name);
        site_bus bus = bus_of(name, ports[b], 0, modules);
        for (int a = 0; a < modules; ++a) {
            panel_config config;
            config.module_address = std::uint8_t(a);
            QFile file(QDir(dir).filePath(bus.panel_paths[a]));
            const QByteArray text = panel_file_text(config);
            if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
                throw std::runtime_error("cannot write a panel file");
        }
        bus.panels.clear();
        plan.buses.push_back(bus);
    }
    const QString path = QDir(dir).filePath(QStringLiteral("site.json"));
    QFile file(path);
    const QByteArray text = site_file_text(plan);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        throw std::runtime_error("cannot write the site file");
    return path.toStdString();
}

void parallel_buses(const bench_options& opts, report& out)
{
    const int counts[] = {2, 4, 6, 8};
    std::vector<std::unique_ptr<simulator_process>> sims;
    site_plan whole;
    whole.name = QStringLiteral("paced");
    for (int i = 0; i < 4; ++i) {
        sims.push_back(std::make_unique<simulator_process>(
            opts.sim, QStringList{QStringLiteral("--pace-baud=9600"),
                                  QStringLiteral("--address=") + address_list(1, counts[i])}));
        whole.buses.push_back(
            bus_of(QStringLiteral("bus%1").arg(i + 1), sims.back()->path(), 1, counts[i]));
    }
    site_plan alone;
    alone.name = QStringLiteral("slowest");
    alone.buses.push_back(whole.buses.back());

    std::vector<double> site_s, alone_s, scan_s, read_ms, alone_read_ms, retries_s;
    for (int run = 0; run < SITE_RUNS; ++run) {
        progress("site: four buses at once, run " + std::to_string(run + 1));
        const site_result result = check(whole);
        site_s.push_back(result.seconds);
        for (const bus_result& bus : result.buses) {
            scan_s.push_back(bus.scan_ms.value_or(0) / 1000.0);
            for (const module_result& m : bus.modules)
                read_ms.push_back(m.read_ms.value_or(0));
        }
        progress("site: the slowest bus alone, run " + std::to_string(run + 1));
        const site_result by_itself = check(alone);
        alone_s.push_back(by_itself.seconds);
        for (const module_result& m : by_itself.buses.front().modules)
            alone_read_ms.push_back(m.read_ms.value_or(0));
        progress("site: the slowest bus alone with --retries 1, run " + std::to_string(run + 1));
        retries_s.push_back(check(alone, 1).seconds);
    }
    const summary site = summarise(site_s);
    const summary slowest = summarise(alone_s);
    const summary scans = summarise(scan_s);
    const summary reads = summarise(read_ms);
    const double ratio = site.median.value_or(0) / slowest.median.value_or(1);
    add_row(out.table,
            "site check, four buses at 9600 baud at once (2, 4, 6, 8 modules; scan, then every "
            "module read), start to end (median of " +
                std::to_string(SITE_RUNS) + ")",
            range_text(site, 2, "s") + "; " + fixed(ratio, 3) + " × the slowest bus alone",
            "≤ 1.10 × slowest bus alone", verdict(ratio <= TARGET_SITE_RATIO));
    add_row(out.table,
            "… the slowest bus (8 modules) checked alone, in the same run (median of " +
                std::to_string(SITE_RUNS) + ")",
            range_text(slowest, 2, "s"), "(comparison)", "");
    add_row(out.table,
            "… each bus's scan 0..255 within the site check (" + std::to_string(scans.count) +
                " scans)",
            range_text(scans, 2, "s"), "≤ 5.0 s", verdict(scans.max.value_or(99) <= TARGET_SCAN_S));
    add_row(out.table,
            "… each module's read within the site check, first request out to last reply in (" +
                std::to_string(reads.count) + " reads)",
            range_text(reads, 1, "ms") + "; median " +
                fixed(reads.median.value_or(0) / LINE_LIMIT_MS, 3) + ", slowest " +
                fixed(reads.max.value_or(0) / LINE_LIMIT_MS, 3) + " × line limit",
            "≤ 1.02 × 283.3 ms, each",
            verdict(reads.max.value_or(1e9) <= TARGET_PACED_RATIO * LINE_LIMIT_MS));
    const summary with_retries = summarise(retries_s);
    const double retries_ratio = with_retries.median.value_or(0) / slowest.median.value_or(1);
    add_row(out.table,
            "… the slowest bus checked alone with --retries 1, a clean line (median of " +
                std::to_string(SITE_RUNS) + ")",
            range_text(with_retries, 2, "s") + "; " + fixed(retries_ratio, 3) + " × without",
            "≤ 1.15 × without", verdict(retries_ratio <= 1.15));
    const summary alone_reads = summarise(alone_read_ms);
    add_row(out.table,
            "… each module's read of the slowest bus checked alone (" +
                std::to_string(alone_reads.count) + " reads)",
            range_text(alone_reads, 1, "ms") + "; median " +
                fixed(alone_reads.median.value_or(0) / LINE_LIMIT_MS, 3) + " × line limit",
            "(comparison)", "");
}

void memory(const bench_options& opts, report& out)
{
    progress("site: starting " + std::to_string(MEMORY_BUSES) + " simulators of " +
             std::to_string(MEMORY_MODULES) + " modules");
    std::vector<std::unique_ptr<simulator_process>> sims;
    std::vector<std::string> ports;
    for (int b = 0; b < MEMORY_BUSES; ++b) {
        sims.push_back(std::make_unique<simulator_process>(
            opts.sim, QStringList{QStringLiteral("--address=") + address_list(0, MEMORY_MODULES)}));
        ports.push_back(sims.back()->path());
    }
    auto one =
        std::make_unique<simulator_process>(opts.sim, QStringList{QStringLiteral("--address=0")});
    QTemporaryDir big;
    QTemporaryDir small;
    const std::string big_site = write_site(big.path(), ports, MEMORY_MODULES);
    const std::string small_site = write_site(small.path(), {one->path()}, 1);
    const auto command = [&](const std::string& site, const QTemporaryDir& dir) {
        return std::vector<std::string>{
            opts.cli,   "site",
            "check",    site,
            "--report", QDir(dir.path()).filePath(QStringLiteral("report.html")).toStdString(),
            "--quiet"};
    };
    progress("site: lorvane-cli site check, 1 bus x 1 module");
    const child_run base = run_measured(command(small_site, small));
    progress("site: lorvane-cli site check, 64 buses x 256 modules");
    const child_run full = run_measured(command(big_site, big));
    if (base.exit_code != 0 || full.exit_code != 0)
        throw std::runtime_error(
            "lorvane-cli site check did not find every module the same (exit " +
            std::to_string(base.exit_code) + " and " + std::to_string(full.exit_code) + ")");
    const double report_mib =
        double(QFileInfo(QDir(big.path()).filePath(QStringLiteral("report.html"))).size()) /
        (1024.0 * 1024.0);
    add_row(out.table,
            "lorvane-cli site check --report, 64 buses × 256 modules (16384 panel files, scan "
            "included, unpaced simulators): peak resident memory",
            fixed(double(full.peak_kib) / 1024.0, 1) + " MiB (1 bus × 1 module: " +
                fixed(double(base.peak_kib) / 1024.0, 1) + " MiB); the whole check took " +
                fixed(full.seconds, 1) + " s, report " + fixed(report_mib, 1) + " MiB",
            "(measured)", "");
}

}  // namespace

void site_section(const bench_options& opts, report& out)
{
    parallel_buses(opts, out);
    memory(opts, out);
    out.notes +=
        "- site: four `lorvane-sim --pace-baud 9600` buses with 2, 4, 6 and 8 modules (all "
        "holding their panels), checked through the engine's site_run with a scan, alternately "
        "all four at once and the slowest bus alone; times from start() to finished(), the "
        "scans and reads from the run's own result (a read from its first request out to its "
        "last reply in). Memory: peak resident set size (by /usr/bin/time, the command's "
        "own) of `lorvane-cli site check SITE --report FILE --quiet`, output to /dev/null, "
        "against 64 unpaced `lorvane-sim --address 0,...,255` on their own pseudo-terminals.\n";
}

}  // namespace lorvane::bench
