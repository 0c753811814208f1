// The window's write and read chains, driven as a user would drive them:
//   latency   unpaced chains against a module thread on a pseudo-terminal; per exchange,
//             the gap between a reply leaving the module and the next request arriving
//             back, and the same for a minimal poll() client as the floor
//   paced     chains against `lorvane-sim --pace-baud 9600`, click to completion message,
//             against the line's own limit; then the same pacing from a module thread,
//             which splits a chain's time into its parts
#include "bench_sections.h"
#include "main_form.h"
#include "message_box.h"
#include "module_thread.h"
#include "pty.h"
#include "sim_module.h"
#include "simulator_process.h"
#include "transfer_sequences.h"
#include "window_texts.h"

#include <QComboBox>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using lorvane::frame;
using namespace lorvane::bench;

constexpr std::size_t EXCHANGES_PER_CHAIN = 17;  // records 0..16
constexpr int CHAIN_TIMEOUT_MS = 10'000;         // a chain at 9600 baud takes about 0.3 s

// One byte's time at 9600 baud, 8N1, rounded up as lorvane-sim rounds it.
constexpr std::int64_t PACED_BYTE_NS = (10 * NS_PER_S + 9600 - 1) / 9600;

constexpr double TARGET_LATENCY_MEDIAN_MS = 0.3;
constexpr double TARGET_LATENCY_P99_MS = 2.0;

// ---------------------------------------------------------------------------------------
// The window, driven as a user would: its message boxes are recorded instead of shown, and
// each recorded message ends the event loop a chain runs in.

class window_under_test
{
public:
    window_under_test()
    {
        lorvane::message_box::set_handler([this](QWidget*, const QString& text) {
            message_ns_ = monotonic_ns();
            messages_ << text;
            if (loop_ != nullptr)
                loop_->quit();
        });
        form_.show();
    }
    ~window_under_test() { lorvane::message_box::set_handler({}); }
    window_under_test(const window_under_test&) = delete;
    window_under_test& operator=(const window_under_test&) = delete;

    template <typename W> W* find(const QString& name) const
    {
        auto* widget = form_.findChild<W*>(name);
        if (widget == nullptr)
            throw std::runtime_error("no control named " + name.toStdString());
        return widget;
    }
    QLineEdit* edit(const QString& name) const { return find<QLineEdit>(name); }

    // Types `path` into the port box and clicks "打开"; throws unless the port opened.
    void open_port(const std::string& path)
    {
        messages_.clear();
        edit(QStringLiteral("chuankou_num"))->setText(QString::fromStdString(path));
        QTest::mouseClick(find<QPushButton>(QStringLiteral("open_comm")), Qt::LeftButton);
        if (!form_.link().is_open())
            throw std::runtime_error("the port " + path + " did not open: " +
                                     messages_.join(QStringLiteral(" / ")).toStdString());
    }

    // Fills the address, line and operation of every key and the refresh period with
    // values from `random`, so the chains carry a spread of bytes.
    void fill_values(std::mt19937& random)
    {
        std::uniform_int_distribution<int> byte(0, 255);
        std::uniform_int_distribution<int> operation(0, 2);
        edit(QStringLiteral("Text5"))->setText(QString::number(byte(random)));
        for (int row = 0; row < lorvane::KEY_COUNT; ++row) {
            edit(QStringLiteral("Text2_%1").arg(row))->setText(QString::number(byte(random)));
            edit(QStringLiteral("Text3_%1").arg(row))->setText(QString::number(byte(random)));
            find<QComboBox>(QStringLiteral("Combo1_%1").arg(row))
                ->setCurrentIndex(operation(random));
        }
    }

    // Every value a chain carries, in record order, to check that a read chain brings back
    // exactly what the write chain before it sent.
    QStringList snapshot() const
    {
        QStringList values{edit(QStringLiteral("Text5"))->text()};
        for (int row = 0; row < lorvane::KEY_COUNT; ++row)
            values << edit(QStringLiteral("Text2_%1").arg(row))->text()
                   << edit(QStringLiteral("Text3_%1").arg(row))->text()
                   << find<QComboBox>(QStringLiteral("Combo1_%1").arg(row))->currentText();
        return values;
    }

    // Runs a write chain (write) or a read chain, checks its completion message and, for a
    // read chain, that the window holds the same values afterwards; throws otherwise.
    struct chain_result;
    chain_result run_checked_chain(bool write, const std::string& what);

    struct chain_result
    {
        bool done = false;            // exactly the completion message came
        std::int64_t click_ns = 0;    // just before the button's release was delivered
        std::int64_t message_ns = 0;  // the completion message reached the handler
        std::int64_t elapsed_ns = 0;  // click to the completion message
        QString message;              // what came instead, for the error
    };

    // Clicks `button` (the release from inside a running event loop) and runs that loop
    // until a message comes (or CHAIN_TIMEOUT_MS passes); done when the message is
    // `done_text`.
    chain_result run_chain(const QString& button, const QString& done_text)
    {
        messages_.clear();
        QPushButton* target = find<QPushButton>(button);
        QEventLoop loop;
        std::int64_t click_ns = 0;
        // A user presses the button and lets go a moment later; the button reacts on the
        // release. The press (Qt repaints the pressed button at once) is not timed. The
        // release is posted so that it, and every reply after it, is handled by a running
        // event loop, as in the real program.
        QTest::mousePress(target, Qt::LeftButton);
        QTimer::singleShot(0, &loop, [&] {
            click_ns = monotonic_ns();
            QTest::mouseRelease(target, Qt::LeftButton);
        });
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, &loop, &QEventLoop::quit);
        guard.start(CHAIN_TIMEOUT_MS);
        loop_ = &loop;
        loop.exec();
        loop_ = nullptr;

        chain_result result;
        if (messages_.isEmpty()) {
            result.message = QStringLiteral("(no message within %1 ms)").arg(CHAIN_TIMEOUT_MS);
            return result;
        }
        result.done = messages_ == QStringList{done_text};
        result.click_ns = click_ns;
        result.message_ns = message_ns_;
        result.elapsed_ns = message_ns_ - click_ns;
        result.message = messages_.join(QStringLiteral(" / "));
        return result;
    }

private:
    lorvane::main_form form_;
    QStringList messages_;
    QEventLoop* loop_ = nullptr;
    std::int64_t message_ns_ = 0;
};

window_under_test::chain_result window_under_test::run_checked_chain(bool write,
                                                                     const std::string& what)
{
    const QStringList before = snapshot();
    chain_result chain =
        run_chain(write ? QStringLiteral("Command1") : QStringLiteral("Command2"),
                  write ? lorvane::WRITE_DONE_MESSAGE : lorvane::READ_DONE_MESSAGE);
    if (!chain.done)
        throw std::runtime_error(what + " did not complete: " + chain.message.toStdString());
    if (!write && snapshot() != before)
        throw std::runtime_error(what + " brought back other values than were written");
    return chain;
}

// ---------------------------------------------------------------------------------------
// Section 1: per-exchange latency, unpaced.

struct thread_chains_result
{
    std::vector<double> write_ms;  // per-exchange latencies of the counted chains
    std::vector<double> read_ms;
    std::vector<double> late_ms;         // paced: how late the last byte of each reply left
    std::vector<double> write_chain_ms;  // click to completion message, counted chains
    std::vector<double> read_chain_ms;
    // Where each counted chain's time goes, in ms: click to the first request reaching the
    // module; the module's own time beyond 16 byte times per exchange (its lateness, or
    // without pacing its whole handling); the 16 per-exchange latencies; the last reply
    // leaving the module to the completion message.
    std::vector<double> lead_ms;
    std::vector<double> module_extra_ms;
    std::vector<double> tool_sum_ms;
    std::vector<double> tail_ms;
    double warmup_max_ms = 0;  // largest latency within the warm-up chains
    int chains = 0;
    int warmup = 0;
};

// The 16 latencies of one chain from the module's log of its 17 exchanges; throws when the
// log is not exactly records 0..16 of `function`, each answered.
std::vector<double> chain_latencies(const std::vector<exchange_record>& log, std::uint8_t function)
{
    if (log.size() != EXCHANGES_PER_CHAIN)
        throw std::runtime_error("the module saw " + std::to_string(log.size()) +
                                 " requests in a chain, not 17");
    std::vector<double> latencies;
    for (std::size_t i = 0; i < log.size(); ++i) {
        const exchange_record& r = log[i];
        if (!r.answered || r.request[lorvane::POS_FUNCTION] != function ||
            r.request[lorvane::POS_RECORD] != i)
            throw std::runtime_error("request " + std::to_string(i) +
                                     " of a chain was out of order or not answered");
        if (i > 0)
            latencies.push_back(ns_to_ms(r.request_readable_ns - log[i - 1].reply_written_ns));
    }
    return latencies;
}

// Runs `warmup` + `chains` write chains and as many read chains, alternating, against a
// module thread that paces its line at `byte_ns` per byte (0: no pacing).
thread_chains_result run_thread_chains(int warmup, int chains, std::int64_t byte_ns,
                                       std::uint32_t seed)
{
    thread_chains_result result;
    result.chains = chains;
    result.warmup = warmup;

    module_thread module(lorvane::sim::DEFAULT_MODULE_ADDRESS, byte_ns);
    window_under_test window;
    std::mt19937 random(seed);
    window.fill_values(random);
    window.open_port(module.path());

    for (int n = 0; n < warmup + chains; ++n) {
        const bool counted = n >= warmup;
        for (const bool write : {true, false}) {
            const auto chain = window.run_checked_chain(
                write, std::string(write ? "write" : "read") + " chain " + std::to_string(n));
            const auto log = module.take(EXCHANGES_PER_CHAIN, 2000);
            if (const std::string failure = module.failure(); !failure.empty())
                throw std::runtime_error("module thread: " + failure);
            const auto latencies =
                chain_latencies(log, write ? lorvane::FUNC_WRITE : lorvane::FUNC_READ);
            if (!counted) {
                result.warmup_max_ms = std::max(
                    result.warmup_max_ms, *std::max_element(latencies.begin(), latencies.end()));
                continue;
            }
            auto& into = write ? result.write_ms : result.read_ms;
            into.insert(into.end(), latencies.begin(), latencies.end());
            (write ? result.write_chain_ms : result.read_chain_ms)
                .push_back(ns_to_ms(chain.elapsed_ns));
            std::int64_t module_ns = 0;
            for (const exchange_record& r : log)
                module_ns += r.reply_written_ns - r.request_readable_ns;
            module_ns -=
                static_cast<std::int64_t>(EXCHANGES_PER_CHAIN * 2 * lorvane::FRAME_SIZE) * byte_ns;
            result.lead_ms.push_back(ns_to_ms(log.front().request_readable_ns - chain.click_ns));
            result.module_extra_ms.push_back(ns_to_ms(module_ns));
            double tool_sum = 0;
            for (const double l : latencies)
                tool_sum += l;
            result.tool_sum_ms.push_back(tool_sum);
            result.tail_ms.push_back(ns_to_ms(chain.message_ns - log.back().reply_written_ns));
            if (byte_ns > 0) {
                for (const exchange_record& r : log)
                    result.late_ms.push_back(ns_to_ms(r.reply_written_ns - r.reply_due_ns));
            }
        }
    }
    return result;
}

// The floor under the tool's figures: a minimal client in this thread, plain poll() and
// read()/write() on the same kind of pseudo-terminal, sending each next request the moment a
// reply is complete. Returns its per-exchange latencies, measured by the module thread exactly
// as the tool's are.
std::vector<double> run_floor_client(int chains, std::int64_t byte_ns)
{
    module_thread module(lorvane::sim::DEFAULT_MODULE_ADDRESS, byte_ns);
    lorvane::tty_port port(module.path());
    std::vector<double> latencies;
    for (int n = 0; n < chains; ++n) {
        for (const std::uint8_t function : {lorvane::FUNC_WRITE, lorvane::FUNC_READ}) {
            for (std::uint8_t record = 0; record <= lorvane::sim::LAST_RECORD; ++record) {
                const frame request = lorvane::make_request(
                    function, lorvane::sim::DEFAULT_MODULE_ADDRESS, record, record, 1, 1);
                port.write_all(request);
                const std::vector<std::uint8_t> bytes = port.read_exact(lorvane::FRAME_SIZE, 2000);
                frame reply{};
                if (bytes.size() != reply.size())
                    throw std::runtime_error("the floor client got no reply");
                std::copy(bytes.begin(), bytes.end(), reply.begin());
                if (!lorvane::reply_accepted(reply))
                    throw std::runtime_error("the floor client got a bad reply");
            }
            const auto log = module.take(EXCHANGES_PER_CHAIN, 2000);
            const auto chain = chain_latencies(log, function);
            latencies.insert(latencies.end(), chain.begin(), chain.end());
        }
    }
    return latencies;
}

// ---------------------------------------------------------------------------------------
// Section 2: chains at 9600 baud against the real simulator.

struct paced_result
{
    std::vector<double> write_ms;  // click to completion message, against lorvane-sim
    std::vector<double> read_ms;
    thread_chains_result in_process;  // the same pacing from a module thread, with stamps
};

paced_result measure_paced(const bench_options& opts)
{
    paced_result result;
    simulator_process sim(opts.sim, {QStringLiteral("--pace-baud"), QStringLiteral("9600")});
    window_under_test window;
    std::mt19937 random(20240612);
    window.fill_values(random);
    window.open_port(sim.path());
    for (int n = 0; n < opts.paced_runs; ++n) {
        for (const bool write : {true, false}) {
            const auto chain =
                window.run_checked_chain(write, std::string("paced ") + (write ? "write" : "read") +
                                                    " chain " + std::to_string(n));
            (write ? result.write_ms : result.read_ms).push_back(ns_to_ms(chain.elapsed_ns));
        }
    }
    result.in_process = run_thread_chains(0, opts.paced_runs, PACED_BYTE_NS, 20240614);
    return result;
}

}  // namespace

void lorvane::bench::latency_section(const bench_options& opts, report& out)
{
    std::string& table = out.table;
    std::string& notes = out.notes;
    const thread_chains_result r = run_thread_chains(opts.warmup, opts.chains, 0, 20240611);
    for (const bool write : {true, false}) {
        const summary s = summarise(write ? r.write_ms : r.read_ms);
        const std::string kind = write ? "Write" : "Read";
        const std::string what = kind + " chain, per-exchange latency (" +
                                 std::to_string(r.chains) + " chains, " + std::to_string(s.count) +
                                 " exchanges)";
        add_row(table, what + ", median", fixed(s.median, 3) + " ms", "≤ 0.3 ms",
                verdict(s.median && *s.median <= TARGET_LATENCY_MEDIAN_MS));
        add_row(table, what + ", p99", fixed(s.p99, 3) + " ms (max " + fixed(s.max, 3) + ")",
                "≤ 2 ms", verdict(s.p99 && *s.p99 <= TARGET_LATENCY_P99_MS));
    }
    const summary floor = summarise(run_floor_client(opts.chains, 0));
    add_row(table,
            "Floor: minimal poll() client on the same pty, per-exchange latency (" +
                std::to_string(floor.count) + " exchanges), median / p99",
            fixed(floor.median, 3) + " / " + fixed(floor.p99, 3) + " ms", "(diagnostic)", "");
    notes += "- Per-exchange latency: from the moment the module's write() of a reply to the "
             "pty master returned to the moment poll() on the master reported the first "
             "byte of the next request readable (CLOCK_MONOTONIC, module served by its own "
             "thread, no pacing). It is the tool's reaction (QSerialPort notification, "
             "reply check, next request built and written) plus two pty hops and the "
             "module thread's wake-up. Offscreen platform, window shown; its repaints (captions, "
             "values read) run in the same thread, as in the program. The floor rows are "
             "a minimal client (plain poll(), read(), write() on the slave, in the "
             "benchmark's main thread) measured the same way: the part no client can "
             "avoid. " +
             std::to_string(r.warmup) +
             " warm-up chain(s) of each kind not counted; their "
             "largest latency was " +
             fixed(r.warmup_max_ms, 3) + " ms. p99 by nearest rank.\n";
}

void lorvane::bench::paced_section(const bench_options& opts, report& out)
{
    std::string& table = out.table;
    std::string& notes = out.notes;
    const paced_result r = measure_paced(opts);
    for (const bool write : {true, false}) {
        const auto& times = write ? r.write_ms : r.read_ms;
        const summary s = summarise(times);
        const double ratio = s.median.value_or(0) / LINE_LIMIT_MS;
        const std::string kind = write ? "Full write chain" : "Full read chain";
        add_row(table,
                kind + " at 9600 baud, click to completion message (median of " +
                    std::to_string(s.count) + ")",
                range_text(s, 1, "ms") + "; " + fixed(ratio, 3) + " × line limit",
                "≤ 1.02 × 283.3 ms", verdict(s.median && ratio <= TARGET_PACED_RATIO));
        std::string all;
        for (const double t : times)
            all += (all.empty() ? "" : ", ") + fixed(t, 1);
        notes += "- " + kind + " at 9600 baud, every run (ms): " + all + ".\n";
    }
    const thread_chains_result& t = r.in_process;
    std::vector<double> both_chains = t.write_chain_ms;
    both_chains.insert(both_chains.end(), t.read_chain_ms.begin(), t.read_chain_ms.end());
    std::vector<double> both_latencies = t.write_ms;
    both_latencies.insert(both_latencies.end(), t.read_ms.begin(), t.read_ms.end());
    const summary chain_s = summarise(both_chains);
    const summary latency_s = summarise(both_latencies);
    const summary late_s = summarise(t.late_ms);
    add_row(table,
            "Same pacing from an in-process module thread: write + read chains (median of " +
                std::to_string(chain_s.count) + ")",
            range_text(chain_s, 1, "ms") + "; " +
                fixed(chain_s.median.value_or(0) / LINE_LIMIT_MS, 3) + " × line limit",
            "(diagnostic)", "");
    add_row(table,
            "… per-exchange latency at 9600 baud (" + std::to_string(latency_s.count) +
                " exchanges), median / p99 / mean",
            fixed(latency_s.median, 3) + " / " + fixed(latency_s.p99, 3) + " / " +
                fixed(latency_s.mean, 3) + " ms",
            "(diagnostic)", "");
    add_row(table,
            "… module's last reply byte left after its slot (" + std::to_string(late_s.count) +
                " replies), median / p99 / mean",
            fixed(late_s.median, 3) + " / " + fixed(late_s.p99, 3) + " / " + fixed(late_s.mean, 3) +
                " ms",
            "(diagnostic)", "");
    const double over = chain_s.mean.value_or(0) - LINE_LIMIT_MS;
    add_row(table, "… chain time over the line limit, mean per chain, and where it goes",
            fixed(over, 2) + " ms = click → first request " + fixed(summarise(t.lead_ms).mean, 2) +
                " + module lateness " + fixed(summarise(t.module_extra_ms).mean, 2) +
                " + 16 latencies " + fixed(summarise(t.tool_sum_ms).mean, 2) +
                " + last reply → message " + fixed(summarise(t.tail_ms).mean, 2),
            "(diagnostic)", "");
    const summary paced_floor = summarise(run_floor_client(opts.paced_runs, PACED_BYTE_NS));
    add_row(table,
            "… floor: minimal poll() client, same pacing (" + std::to_string(paced_floor.count) +
                " exchanges), median / p99 / mean",
            fixed(paced_floor.median, 3) + " / " + fixed(paced_floor.p99, 3) + " / " +
                fixed(paced_floor.mean, 3) + " ms",
            "(diagnostic)", "");
    notes += "- Paced chains: timed from the delivery of the button's release (a click "
             "acts on the release; the press before it is not timed) to the completion "
             "message reaching the message-box handler; against "
             "`lorvane-sim --pace-baud 9600` (a request counts as "
             "received 8 byte times after its first byte arrived, each reply byte leaves "
             "in its own byte time, 10 bits a byte). Line limit 17 × 16 bytes × 10 bits ÷ "
             "9600 baud = " +
             fixed(LINE_LIMIT_MS, 1) +
             " ms. The diagnostic rows repeat the chains with the same pacing done by a "
             "module thread in this process, which stamps each exchange as in the latency "
             "rows above; a chain takes 17 × (16 byte times + the module's lateness on the "
             "last reply byte + the per-exchange latency).\n";
}
