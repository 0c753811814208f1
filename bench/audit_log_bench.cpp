// The audit log: `lorvane-cli site log SITE --verify` over a log of 100,000 chained lines of a
// realistic size (each module's line with its 17 records before and after), against 2 s.
#include "audit_chain.h"
#include "audit_log.h"
#include "bench_sections.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <stdexcept>

namespace lorvane::bench {

namespace {

constexpr int LOG_LINES = 100'000;
constexpr double TARGET_VERIFY_S = 2.0;
constexpr int VERIFY_RUNS = 3;

}  // namespace

void audit_log_section(const bench_options& opts, report& out)
{
    QTemporaryDir dir;
    const QString site = QDir(dir.path()).filePath(QStringLiteral("site.json"));
    progress("audit-log: writing a log of " + std::to_string(LOG_LINES) + " lines");
    audit_identity who = audit_identity::of_this_process();
    audit_entry entry;
    entry.time = QDateTime::currentDateTimeUtc();
    entry.site = QStringLiteral("bench");
    entry.bus = QStringLiteral("riser 1");
    entry.port = QStringLiteral("/dev/ttyUSB0");
    entry.panel_sha256 = QByteArray(64, 'a');
    for (int r = 0; r < RECORD_COUNT; ++r) {
        entry.before[std::size_t(r)] = record_values{1, std::uint8_t(r), 1};
        entry.after[std::size_t(r)] = record_values{2, std::uint8_t(r), 3};
    }
    QByteArray log;
    QByteArray head = first_prev();
    for (int i = 0; i < LOG_LINES; ++i) {
        entry.module = i % 256;
        entry.panel = QStringLiteral("riser-1/%1.json").arg(entry.module);
        const QByteArray line = audit_line(entry, who, head);
        head = line_digest(QByteArrayView(line).chopped(1));
        log += line;
    }
    if (const auto failure = write_regular_file(audit_log_path(site), log))
        throw std::runtime_error("cannot write the log: " + failure->reason.toStdString());
    std::vector<double> seconds;
    for (int run = 0; run < VERIFY_RUNS; ++run) {
        QProcess cli;
        QElapsedTimer clock;
        clock.start();
        cli.start(QString::fromStdString(opts.cli),
                  {QStringLiteral("site"), QStringLiteral("log"), site, QStringLiteral("--verify"),
                   QStringLiteral("--head"),
                   QStringLiteral("sha256:") + QString::fromLatin1(head)});
        if (!cli.waitForFinished(60'000) || cli.exitCode() != 0)
            throw std::runtime_error("lorvane-cli site log --verify failed: " +
                                     cli.readAllStandardOutput().toStdString());
        seconds.push_back(double(clock.nsecsElapsed()) / 1e9);
    }
    std::sort(seconds.begin(), seconds.end());
    const double median = seconds[seconds.size() / 2];
    add_row(out.table,
            "lorvane-cli site log --verify --head, " + std::to_string(LOG_LINES) + " lines (" +
                fixed(double(log.size()) / (1024.0 * 1024.0), 1) + " MiB), median of " +
                std::to_string(VERIFY_RUNS),
            fixed(median, 2) + " s (" + fixed(median / TARGET_VERIFY_S, 2) + " of the target)",
            "≤ " + fixed(TARGET_VERIFY_S, 0) + " s", verdict(median <= TARGET_VERIFY_S));
    out.notes += "- audit-log: a log of chained lines as a write leaves them (17 records before "
                 "and after each), verified whole by lorvane-cli from its start to its exit.\n";
}

}  // namespace lorvane::bench
