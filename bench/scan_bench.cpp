// The bus scan at 9600 baud against lorvane-sim playing the line: three modules (0, 77, 255)
// on a plain line and under the conditions real buses bring (an adapter's 16 ms latency
// timer, a module's turnaround, a two-wire half-duplex bus), each scan timed from start()
// to finished() through the engine's bus_scan and the real serial port. Beside it, for
// comparison, the scan as it was before: one address at a time, each waiting up to 60 ms.
#include "bench_sections.h"
#include "bus_scan.h"
#include "module_thread.h"
#include "simulator_process.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <optional>
#include <set>
#include <stdexcept>
#include <vector>

namespace lorvane::bench {

namespace {

// A probe and its reply: 16 bytes of 10 bits at 9600 baud, for each of 256 addresses.
constexpr double SCAN_FLOOR_S = 256 * 16 * 10 / LINE_BAUD;  // 4.27 s
constexpr int SCAN_RUNS = 3;
const std::set<int> MODULES{0, 77, 255};
const QString MODULE_LIST = QStringLiteral("--address=0,77,255");

struct line_condition
{
    const char* name;
    QStringList options;
    std::optional<double> target_s;  // none: found correctly is the target
};

struct scan_run
{
    double seconds = 0;
    bool exact = false;  // found exactly the modules on the line
};

scan_run run_scan(const std::string& port, bool* noisy = nullptr)
{
    serial_link link;
    if (const auto failure = link.open(QString::fromStdString(port)))
        throw std::runtime_error("cannot open " + port);
    bus_scan scan(link);
    QEventLoop loop;
    std::optional<scan_outcome> outcome;
    QObject::connect(&scan, &bus_scan::finished, &loop, [&](scan_outcome o) {
        outcome = o;
        loop.quit();
    });
    QTimer::singleShot(60'000, &loop, &QEventLoop::quit);
    QElapsedTimer clock;
    clock.start();
    scan.start({});
    loop.exec();
    if (outcome != scan_outcome::done)
        throw std::runtime_error("the scan did not finish");
    std::set<int> found;
    for (const found_module& m : scan.found())
        found.insert(m.address);
    if (noisy)
        *noisy = scan.noisy();
    return {double(clock.nsecsElapsed()) / 1e9, found == MODULES};
}

// The scan before the engine's: each address probed alone, its reply awaited up to 60 ms.
class per_address_scan final : public line_operation
{
public:
    explicit per_address_scan(serial_link& link) : link_(link)
    {
        wait_.setSingleShot(true);
        wait_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&wait_, &QTimer::timeout, this, [this] { next(); });
    }
    void start() { submit_to(link_); }

private:
    void begin() override { probe(); }
    item_fate take(const frame_stream::item& item) override
    {
        if (item.what == frame_stream::item::kind::reply &&
            item.as_frame()[POS_ADDRESS] == address_) {
            wait_.stop();
            next();
        }
        return item_fate::accepted;
    }
    void probe()
    {
        send(make_request(FUNC_READ, std::uint8_t(address_), 0, 0, 0, 0));
        wait_.start(60);
    }
    void next()
    {
        if (++address_ > 255)
            finish(operation_end::done);
        else
            probe();
    }

    serial_link& link_;
    QTimer wait_;
    int address_ = 0;
};

double per_address_scan_s(const std::string& port)
{
    serial_link link;
    if (link.open(QString::fromStdString(port)))
        throw std::runtime_error("cannot open " + port);
    QEventLoop loop;
    per_address_scan scan(link);
    QObject::connect(&scan, &line_operation::finished, &loop, &QEventLoop::quit);
    QElapsedTimer clock;
    clock.start();
    scan.start();
    loop.exec();
    return double(clock.nsecsElapsed()) / 1e9;
}

}  // namespace

void scan_section(const bench_options& opts, report& out)
{
    const QStringList paced{QStringLiteral("--pace-baud=9600"), MODULE_LIST};
    const line_condition conditions[] = {
        {"plain line", {}, 5.0},
        {"16 ms latency + 5 ms turnaround + half duplex",
         {QStringLiteral("--latency=16"), QStringLiteral("--turnaround=5"),
          QStringLiteral("--half-duplex")},
         6.0},
        {"40 ms turnaround + 16 ms latency",
         {QStringLiteral("--turnaround=40"), QStringLiteral("--latency=16")},
         std::nullopt},
        {"40 ms turnaround + 16 ms latency + half duplex",
         {QStringLiteral("--turnaround=40"), QStringLiteral("--latency=16"),
          QStringLiteral("--half-duplex")},
         std::nullopt},
    };
    std::optional<double> plain_s;  // the plain line's median
    for (const line_condition& c : conditions) {
        progress(std::string("scan: ") + c.name);
        const simulator_process sim(opts.sim, paced + c.options);
        std::vector<double> seconds;
        int exact = 0;
        for (int i = 0; i < SCAN_RUNS; ++i) {
            const scan_run r = run_scan(sim.path());
            seconds.push_back(r.seconds);
            exact += r.exact;
        }
        const summary s = summarise(seconds);
        if (!plain_s)
            plain_s = s.median;
        const bool all_exact = exact == SCAN_RUNS;
        const bool fast = !c.target_s || s.max.value_or(1e9) <= *c.target_s;
        add_row(out.table,
                std::string("bus scan 0..255 at 9600 baud, modules 0, 77, 255, ") + c.name +
                    " (median of " + std::to_string(SCAN_RUNS) + ")",
                range_text(s, 2, "s") + "; " + fixed(s.median.value_or(0) / SCAN_FLOOR_S, 2) +
                    " × 4.27 s; exactly the three found in " + std::to_string(exact) + "/" +
                    std::to_string(SCAN_RUNS),
                c.target_s ? "≤ " + fixed(*c.target_s, 1) + " s, every run exact"
                           : std::string("every run exact"),
                verdict(all_exact && fast));
    }
    {
        // A line of junk alone: every probe answered with 10 bytes that form no reply, at
        // once, so that every address is a suspect; the second look must end by itself.
        progress("scan: a line of junk alone");
        const module_thread noise(0, 0,
                                  {0x13, 0x5A, 0xA5, 0x3C, 0xC3, 0x99, 0x01, 0x02, 0x7E, 0x81});
        std::vector<double> seconds;
        int called_noisy = 0;
        for (int i = 0; i < SCAN_RUNS; ++i) {
            bool noisy = false;
            seconds.push_back(run_scan(noise.path(), &noisy).seconds);
            called_noisy += noisy;
        }
        const summary s = summarise(seconds);
        const double ratio = s.max.value_or(1e9) / plain_s.value_or(1);
        add_row(out.table,
                "bus scan 0..255 of a line of junk alone, every probe answered with 10 bytes "
                "that form no reply (median of " +
                    std::to_string(SCAN_RUNS) + ")",
                range_text(s, 2, "s") + "; slowest " + fixed(ratio, 2) +
                    " × the plain line's median; called noisy in " + std::to_string(called_noisy) +
                    "/" + std::to_string(SCAN_RUNS),
                "< 2 × plain line, every run noisy",
                verdict(ratio < 2.0 && called_noisy == SCAN_RUNS));
    }
    progress("scan: one address at a time, 60 ms each (the scan before)");
    const simulator_process sim(opts.sim, paced);
    add_row(out.table,
            "… the scan before: one address at a time, each waiting up to 60 ms, plain line",
            fixed(per_address_scan_s(sim.path()), 2) + " s", "(comparison)", "");
    out.notes += "- scan: the engine's bus_scan through the real serial port, timed from start() "
                 "to finished(), against `lorvane-sim --pace-baud 9600 --address 0,77,255` with "
                 "the line options named. 4.27 s is the line's own floor (256 probes and "
                 "replies of 16 byte times). A target is met only when every run found "
                 "exactly the three modules and the slowest run was within it.\n";
}

}  // namespace lorvane::bench
