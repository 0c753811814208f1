// The capture's cost: lorvane-cli write chains with and without --capture, run in turns on
// the same paced line, and a line flooding 1 MB/s of junk into a capture with a 1 MiB limit:
// the file must stop at the limit and the program's memory must not grow meanwhile.
#include "bench_sections.h"
#include "cli_trace.h"
#include "pty.h"
#include "simulator_process.h"

#include <QFileInfo>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <stdexcept>
#include <vector>

namespace lorvane::bench {

namespace {

constexpr double TARGET_CAPTURE_RATIO = 1.01;
constexpr std::int64_t FLOOD_BYTES_PER_S = 1'000'000;
constexpr std::int64_t FLOOD_STEP_NS = 10 * NS_PER_MS;  // 10 kB every 10 ms
constexpr std::int64_t FLOOD_NS = 6 * NS_PER_S;
constexpr qint64 FLOOD_LIMIT_BYTES = 1024 * 1024;

QString run_cli(const std::string& cli, const QStringList& args)
{
    QProcess process;
    process.start(QString::fromStdString(cli), args);
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        throw std::runtime_error("lorvane-cli " + args.join(u' ').toStdString() +
                                 " failed: " + process.readAllStandardError().toStdString());
    return QString::fromUtf8(process.readAllStandardError());
}

struct side_by_side
{
    std::vector<double> plain_ms;
    std::vector<double> captured_ms;
};

// `runs` pairs of write chains (traced, first request out to 17th reply in), the captured
// one of each pair first on every other pair, so that drift on the machine hits both alike.
side_by_side measure_pairs(const bench_options& opts, const QStringList& sim_args, int runs)
{
    simulator_process module(opts.sim, sim_args);
    const QString port = QStringLiteral("--port=") + QString::fromStdString(module.path());
    QTemporaryDir dir;
    const QString panel = dir.filePath(QStringLiteral("panel.json"));
    run_cli(opts.cli, {QStringLiteral("read"), port, QStringLiteral("--output"), panel});
    side_by_side times;
    for (int i = 0; i < runs; ++i) {
        for (const bool captured : {i % 2 == 0, i % 2 != 0}) {
            QStringList args{QStringLiteral("write"), port, QStringLiteral("--trace"), panel};
            if (captured)
                args << QStringLiteral("--capture") << dir.filePath(QStringLiteral("w.pcapng"));
            (captured ? times.captured_ms : times.plain_ms)
                .push_back(traced_transfer_ms(run_cli(opts.cli, args)));
        }
    }
    return times;
}

struct flood_result
{
    qint64 file_bytes = 0;
    std::int64_t flooded_bytes = 0;
    double stopped_at_s = -1;  // when the file stopped growing, from the flood's start
    long rss_at_stop_kib = 0;
    long rss_end_kib = 0;
    bool said_once = false;
};

// lorvane-cli read on a pseudo-terminal that floods junk at 1 MB/s for 6 s, capturing with
// a 1 MiB limit; its VmRSS sampled when the capture stopped and at the end.
flood_result measure_flood(const bench_options& opts)
{
    pty_pair line;
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("flood.pcapng"));
    QProcess cli;
    cli.start(QString::fromStdString(opts.cli),
              {QStringLiteral("read"), QStringLiteral("--port"),
               QString::fromStdString(line.slave_path()), QStringLiteral("--timeout=7000"),
               QStringLiteral("--capture"), file, QStringLiteral("--capture-limit=1")});
    if (!cli.waitForStarted(5000))
        throw std::runtime_error("cannot start lorvane-cli");
    // Wait for the program's request: the port is open and the flood is read.
    const std::int64_t open_deadline = monotonic_ns() + 5 * NS_PER_S;
    while (line.read_some(50).empty()) {
        if (monotonic_ns() > open_deadline)
            throw std::runtime_error("lorvane-cli sent no request");
    }
    const auto pid = pid_t(cli.processId());
    const std::vector<std::uint8_t> junk(std::size_t(FLOOD_BYTES_PER_S * FLOOD_STEP_NS / NS_PER_S),
                                         0xA5);
    flood_result result;
    const std::int64_t start = monotonic_ns();
    for (std::int64_t at = start; at < start + FLOOD_NS; at += FLOOD_STEP_NS) {
        sleep_until_ns(at);
        result.flooded_bytes += std::int64_t(line.write_some(junk));
        line.read_some(0);
        const qint64 size = QFileInfo(file).size();
        if (result.stopped_at_s < 0 && size + 64 * 1024 > FLOOD_LIMIT_BYTES &&
            size == result.file_bytes) {
            result.stopped_at_s = double(monotonic_ns() - start) / double(NS_PER_S);
            result.rss_at_stop_kib = resident_kib(pid).value_or(0);
        }
        result.file_bytes = size;
    }
    result.rss_end_kib = resident_kib(pid).value_or(0);
    if (!cli.waitForFinished(10000))
        throw std::runtime_error("lorvane-cli did not end after the flood");
    const QString err = QString::fromUtf8(cli.readAllStandardError());
    result.said_once = err.count(QStringLiteral("capture stopped at its 1 MiB limit")) == 1;
    result.file_bytes = QFileInfo(file).size();
    return result;
}

}  // namespace

void capture_section(const bench_options& opts, report& out)
{
    const int runs = std::max(opts.paced_runs, 9);
    const side_by_side paced =
        measure_pairs(opts, {QStringLiteral("--pace-baud"), QStringLiteral("9600")}, runs);
    const summary plain = summarise(paced.plain_ms);
    const summary captured = summarise(paced.captured_ms);
    const double ratio = captured.median.value_or(0) / plain.median.value_or(1);
    add_row(out.table,
            "lorvane-cli write at 9600 baud, with --capture / without, in turns (median of " +
                std::to_string(runs) + " each)",
            fixed(captured.median, 1) + " / " + fixed(plain.median, 1) + " ms = " + fixed(ratio, 4),
            "≤ 1.01", verdict(plain.median && captured.median && ratio <= TARGET_CAPTURE_RATIO));
    const side_by_side fast = measure_pairs(opts, {}, runs);
    const summary fast_plain = summarise(fast.plain_ms);
    const summary fast_captured = summarise(fast.captured_ms);
    add_row(out.table, "… the same without pacing (the tool's own time only), with / without",
            fixed(fast_captured.median, 2) + " / " + fixed(fast_plain.median, 2) + " ms = " +
                fixed(fast_captured.median.value_or(0) / fast_plain.median.value_or(1), 3),
            "(diagnostic)", "");

    const flood_result flood = measure_flood(opts);
    const long growth = flood.rss_end_kib - flood.rss_at_stop_kib;
    const bool at_limit =
        flood.file_bytes <= FLOOD_LIMIT_BYTES && flood.file_bytes > FLOOD_LIMIT_BYTES - 64 * 1024;
    add_row(out.table,
            "1 MB/s of junk for 6 s into a capture limited to 1 MiB: file size; VmRSS when it "
            "stopped → at the end",
            std::to_string(flood.file_bytes) + " bytes (stopped after " +
                fixed(flood.stopped_at_s, 1) + " s" + (flood.said_once ? ", said once" : "") +
                "); " + std::to_string(flood.rss_at_stop_kib) + " → " +
                std::to_string(flood.rss_end_kib) + " KiB",
            "≤ 1 MiB, no growth",
            verdict(at_limit && flood.said_once && flood.stopped_at_s > 0 && growth <= 256));
    out.notes += "- Capture: each pair runs `lorvane-cli write --trace` twice on one "
                 "`lorvane-sim` line, once with `--capture FILE` (the captured run first in "
                 "every other pair), timed from the trace's first TX to its 17th accepted RX. "
                 "The flood writes 10 kB of 0xA5 (no frame) every 10 ms into the pseudo-"
                 "terminal of a `lorvane-cli read --capture-limit 1`; " +
                 std::to_string(flood.flooded_bytes) +
                 " bytes went in. \"No growth\" allows 256 KiB.\n";
}

}  // namespace lorvane::bench
