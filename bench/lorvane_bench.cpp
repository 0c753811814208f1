// lorvane-bench: measures the tool through its real window and serial code and prints a
// Markdown table for the README.
//
//   latency   unpaced write and read chains against a module thread on a pseudo-terminal;
//             per exchange, the gap between a reply leaving the module and the next request
//             arriving back (tool + two pty hops + the module thread's wake-up), and the
//             same for a minimal poll() client as the floor no client can go below
//   paced     write and read chains against `lorvane-sim --pace-baud 9600`, click to
//             completion message, compared with the time the line itself needs; then the
//             same pacing from a module thread, which splits a chain's time into its parts
//   startup   the real `lorvane` under Xvfb (xcb) until its window is mapped, and the
//             start-up probe on the offscreen platform until its window is exposed, with
//             resident memory
//   checksum  the share of two-byte corruptions of valid replies the tool would act on
//   cli       lorvane-cli write and read at 9600 baud, and scans of the bus, against
//             lorvane-sim
//
// The window runs on the offscreen platform in this process's main thread; progress goes
// to stderr, the table to stdout. Exit status 0 when every section ran (targets met or not),
// 1 when a section failed to run, 2 on bad usage.
#include "bench_support.h"
#include "checksum_slip.h"
#include "cli_bench.h"
#include "main_form.h"
#include "message_box.h"
#include "module_thread.h"
#include "pty.h"
#include "sim_module.h"
#include "transfer_sequences.h"
#ifdef LORVANE_BENCH_HAVE_XCB
#include "x_map_watch.h"
#endif

#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using lorvane::frame;
using namespace lorvane::bench;

constexpr int EXIT_SECTION_FAILED = 1;
constexpr int EXIT_BAD_USAGE = 2;

constexpr std::size_t EXCHANGES_PER_CHAIN = 17;  // records 0..16
constexpr int CHAIN_TIMEOUT_MS = 10'000;         // a chain at 9600 baud takes about 0.3 s
constexpr int WINDOW_TIMEOUT_MS = 10'000;

// The line's own limit for one chain: 17 exchanges of a request and a reply of 8 bytes
// each, 10 bits a byte (8N1), at 9600 baud.
constexpr double LINE_BAUD = 9600.0;
constexpr double LINE_LIMIT_MS = 17.0 * 16.0 * 10.0 / LINE_BAUD * 1000.0;  // 283.33 ms
// One byte's time at 9600 baud, 8N1, rounded up as lorvane-sim rounds it.
constexpr std::int64_t PACED_BYTE_NS = (10 * NS_PER_S + 9600 - 1) / 9600;

// Targets.
constexpr double TARGET_LATENCY_MEDIAN_MS = 0.3;
constexpr double TARGET_LATENCY_P99_MS = 2.0;
constexpr double TARGET_PACED_RATIO = 1.02;
constexpr double TARGET_FULL_SCAN_S = 16.0;

constexpr int MIN_CHAINS = 20;
constexpr int MIN_PACED_RUNS = 5;
constexpr int MIN_STARTUP_RUNS = 10;

constexpr std::string_view USAGE =
    "Usage: lorvane-bench [options]\n"
    "Measures Lorvane through its real window and serial code; prints a Markdown table.\n"
    "\n"
    "  --chains N          unpaced write chains and read chains each (default 100, >= 20)\n"
    "  --warmup N          chains of each kind run first and not counted (default 1)\n"
    "  --paced-runs N      paced write and read chains each (default 7, >= 5)\n"
    "  --startup-runs N    start-ups per platform (default 10, >= 10)\n"
    "  --display D         X display (e.g. :7) for the xcb start-up; without it that part\n"
    "                      is not measured\n"
    "  --sim PATH          lorvane-sim (default: next to this program)\n"
    "  --lorvane PATH      the tool (default: next to this program)\n"
    "  --probe PATH        lorvane-bench-startup (default: next to this program)\n"
    "  --cli PATH          lorvane-cli (default: next to this program)\n"
    "  --sections LIST     comma-separated subset of latency,paced,startup,checksum,cli\n"
    "  --help              show this text\n";

struct options
{
    int chains = 100;
    int warmup = 1;
    int paced_runs = 7;
    int startup_runs = 10;
    std::string display;
    std::string sim;
    std::string lorvane;
    std::string probe;
    std::string cli;
    std::set<std::string> sections{"latency", "paced", "startup", "checksum", "cli"};
};

std::optional<int> parse_int(std::string_view text)
{
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

// Fills `parsed`; returns an error message, empty on success. "--help" sets `help`.
std::string parse_options(int argc, char** argv, options& parsed, bool& help)
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            help = true;
            continue;
        }
        if (i + 1 >= argc)
            return std::string(arg) + ": unknown option or missing value";
        const std::string_view value = argv[++i];
        const auto number = [&](int& target, int minimum) -> std::string {
            const auto n = parse_int(value);
            if (!n || *n < minimum)
                return std::string(arg) + " needs a whole number of at least " +
                       std::to_string(minimum);
            target = *n;
            return {};
        };
        std::string error;
        if (arg == "--chains")
            error = number(parsed.chains, MIN_CHAINS);
        else if (arg == "--warmup")
            error = number(parsed.warmup, 0);
        else if (arg == "--paced-runs")
            error = number(parsed.paced_runs, MIN_PACED_RUNS);
        else if (arg == "--startup-runs")
            error = number(parsed.startup_runs, MIN_STARTUP_RUNS);
        else if (arg == "--display")
            parsed.display = value;
        else if (arg == "--sim")
            parsed.sim = value;
        else if (arg == "--lorvane")
            parsed.lorvane = value;
        else if (arg == "--probe")
            parsed.probe = value;
        else if (arg == "--cli")
            parsed.cli = value;
        else if (arg == "--sections") {
            parsed.sections.clear();
            std::string list(value);
            std::istringstream items(list);
            std::string item;
            while (std::getline(items, item, ',')) {
                if (item != "latency" && item != "paced" && item != "startup" &&
                    item != "checksum" && item != "cli")
                    return "unknown section '" + item + "'";
                parsed.sections.insert(item);
            }
        } else
            return "unknown option '" + std::string(arg) + "'";
        if (!error.empty())
            return error;
    }
    return {};
}

void progress(const std::string& text)
{
    std::fprintf(stderr, "lorvane-bench: %s\n", text.c_str());
    std::fflush(stderr);
}

double ns_to_ms(std::int64_t ns)
{
    return static_cast<double>(ns) / static_cast<double>(NS_PER_MS);
}

const char* verdict(bool met)
{
    return met ? "yes" : "**no**";
}

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

// lorvane-sim on its own pseudo-terminal, stopped with SIGTERM at the end.
class simulator_process
{
public:
    simulator_process(const std::string& program, const QStringList& args)
    {
        process_.setProgram(QString::fromStdString(program));
        process_.setArguments(args);
        process_.setStandardErrorFile(QProcess::nullDevice());
        process_.start();
        if (!process_.waitForStarted(5000))
            throw std::runtime_error("cannot start " + program + ": " +
                                     process_.errorString().toStdString());
        while (!process_.canReadLine() && process_.waitForReadyRead(5000)) {
        }
        path_ = QString::fromUtf8(process_.readLine()).trimmed().toStdString();
        if (path_.empty() || path_[0] != '/')
            throw std::runtime_error(program + " did not print its terminal's path");
        // Nothing more comes on stdout; keep its notifier out of the event loop.
        process_.closeReadChannel(QProcess::StandardOutput);
    }
    ~simulator_process()
    {
        process_.terminate();
        if (!process_.waitForFinished(5000)) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }
    simulator_process(const simulator_process&) = delete;
    simulator_process& operator=(const simulator_process&) = delete;

    const std::string& path() const { return path_; }

private:
    QProcess process_;
    std::string path_;
};

paced_result measure_paced(const options& opts)
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

// ---------------------------------------------------------------------------------------
// Section 3: start-up.

// A child process started with posix_spawn: its stdout goes to a pipe (or /dev/null), its
// stderr to a log file that is shown when something goes wrong.
class child_process
{
public:
    child_process(const std::string& program, const std::vector<std::string>& env_overrides,
                  bool capture_stdout, const std::string& stderr_log)
    {
        std::vector<std::string> env;
        for (char** entry = environ; *entry != nullptr; ++entry) {
            const std::string_view text(*entry);
            const bool overridden =
                std::any_of(env_overrides.begin(), env_overrides.end(), [&](const auto& o) {
                    const auto name = o.substr(0, o.find('=') + 1);
                    return text.substr(0, name.size()) == name;
                });
            if (!overridden)
                env.emplace_back(text);
        }
        env.insert(env.end(), env_overrides.begin(), env_overrides.end());
        std::vector<char*> envp;
        for (auto& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);

        int out[2] = {-1, -1};
        if (capture_stdout && ::pipe2(out, O_CLOEXEC) != 0)
            throw std::runtime_error(std::string("pipe2: ") + std::strerror(errno));
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        if (capture_stdout)
            posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        else
            posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, stderr_log.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        std::string program_copy = program;
        char* argv[] = {program_copy.data(), nullptr};
        start_ns_ = monotonic_ns();
        const int error =
            ::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (capture_stdout)
            ::close(out[1]);
        if (error != 0) {
            if (capture_stdout)
                ::close(out[0]);
            pid_ = -1;
            throw std::runtime_error("cannot start " + program + ": " + std::strerror(error));
        }
        stdout_fd_ = capture_stdout ? out[0] : -1;
    }
    ~child_process()
    {
        if (stdout_fd_ >= 0)
            ::close(stdout_fd_);
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            reap();
        }
    }
    child_process(const child_process&) = delete;
    child_process& operator=(const child_process&) = delete;

    pid_t pid() const { return pid_; }
    // The monotonic time in ns just before posix_spawn was called.
    std::int64_t start_ns() const { return start_ns_; }

    // Reads stdout to its end (the child exits or closes it).
    std::string read_all_stdout()
    {
        std::string text;
        char buffer[512];
        for (;;) {
            const ssize_t got = ::read(stdout_fd_, buffer, sizeof buffer);
            if (got > 0)
                text.append(buffer, static_cast<std::size_t>(got));
            else if (got == 0 || errno != EINTR)
                break;
        }
        return text;
    }

    // Asks the child to stop (SIGTERM), waits up to 5 s, then kills it; returns the wait
    // status, or -1 if it was already reaped.
    int stop()
    {
        if (pid_ <= 0)
            return -1;
        ::kill(pid_, SIGTERM);
        for (int i = 0; i < 500; ++i) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return status;
            }
            ::usleep(10'000);
        }
        ::kill(pid_, SIGKILL);
        return reap();
    }

    // Waits for the child to exit by itself; returns the wait status.
    int reap()
    {
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
        return status;
    }

private:
    pid_t pid_ = -1;
    int stdout_fd_ = -1;
    std::int64_t start_ns_ = 0;
};

std::string file_text(const std::string& path)
{
    std::FILE* file = std::fopen(path.c_str(), "r");
    if (file == nullptr)
        return {};
    std::string text;
    char buffer[512];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        text.append(buffer, got);
    std::fclose(file);
    return text;
}

struct startup_result
{
    bool measured = false;
    std::string why_not;             // when not measured
    std::vector<double> shown_ms;    // process start (posix_spawn) to window shown
    std::vector<double> to_main_ms;  // process start to main() (offscreen probe only)
    std::vector<double> rss_shown_mib;
    std::vector<double> rss_settled_mib;
};

double kib_to_mib(long kib)
{
    return static_cast<double>(kib) / 1024.0;
}

// Reads one "key=value" number from the probe's line.
std::optional<long long> probe_field(const std::string& line, const std::string& key)
{
    const auto at = line.find(key + "=");
    if (at == std::string::npos)
        return std::nullopt;
    const char* begin = line.c_str() + at + key.size() + 1;
    long long value = 0;
    const auto [end, error] = std::from_chars(begin, line.c_str() + line.size(), value);
    if (error != std::errc{} || end == begin)
        return std::nullopt;
    return value;
}

startup_result measure_startup_offscreen(const options& opts, const std::string& log)
{
    startup_result result;
    for (int n = 0; n < opts.startup_runs; ++n) {
        child_process child(opts.probe, {"QT_QPA_PLATFORM=offscreen"}, true, log);
        const std::string line = child.read_all_stdout();
        const int status = child.reap();
        const auto main_ns = probe_field(line, "main_ns");
        const auto exposed_ns = probe_field(line, "exposed_ns");
        const auto rss_exposed = probe_field(line, "rss_exposed_kib");
        const auto rss_settled = probe_field(line, "rss_settled_kib");
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || !main_ns || !exposed_ns ||
            !rss_exposed || !rss_settled || *rss_exposed < 0 || *rss_settled < 0)
            throw std::runtime_error("the start-up probe failed (status " + std::to_string(status) +
                                     "): " + line + file_text(log));
        result.to_main_ms.push_back(ns_to_ms(*main_ns - child.start_ns()));
        result.shown_ms.push_back(ns_to_ms(*exposed_ns - child.start_ns()));
        result.rss_shown_mib.push_back(kib_to_mib(static_cast<long>(*rss_exposed)));
        result.rss_settled_mib.push_back(kib_to_mib(static_cast<long>(*rss_settled)));
    }
    result.measured = true;
    return result;
}

startup_result measure_startup_xcb(const options& opts, const std::string& log)
{
    startup_result result;
    if (opts.display.empty()) {
        result.why_not = "no --display given";
        return result;
    }
#ifdef LORVANE_BENCH_HAVE_XCB
    x_map_watch watch(opts.display);
    for (int n = 0; n < opts.startup_runs; ++n) {
        child_process child(opts.lorvane, {"QT_QPA_PLATFORM=xcb", "DISPLAY=" + opts.display}, false,
                            log);
        const auto mapped_ns = watch.wait_for_map(
            child.pid(), lorvane::WINDOW_CAPTION.toStdString(), WINDOW_TIMEOUT_MS);
        if (!mapped_ns)
            throw std::runtime_error("no window of lorvane was mapped within " +
                                     std::to_string(WINDOW_TIMEOUT_MS) + " ms: " + file_text(log));
        const auto rss_shown = resident_kib(child.pid());
        sleep_until_ns(*mapped_ns + STARTUP_SETTLE_MS * NS_PER_MS);
        const auto rss_settled = resident_kib(child.pid());
        if (!rss_shown || !rss_settled)
            throw std::runtime_error("lorvane exited right after showing its window: " +
                                     file_text(log));
        result.shown_ms.push_back(ns_to_ms(*mapped_ns - child.start_ns()));
        result.rss_shown_mib.push_back(kib_to_mib(*rss_shown));
        result.rss_settled_mib.push_back(kib_to_mib(*rss_settled));
        child.stop();
    }
    result.measured = true;
#else
    (void)log;
    result.why_not = "built without the xcb headers";
#endif
    return result;
}

// ---------------------------------------------------------------------------------------
// Section 4: two-byte corruptions.

struct checksum_result
{
    slip_count count;
    std::size_t addresses = 0;
    std::size_t value_sets = 0;
    double seconds = 0;
};

checksum_result measure_checksum()
{
    // Replies of both functions for every record, at two module addresses, each with
    // eight value triples: the extremes, the module's defaults and five drawn at random.
    const std::vector<std::uint8_t> addresses{lorvane::sim::DEFAULT_MODULE_ADDRESS, 200};
    std::mt19937 random(20240613);
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<frame> replies;
    constexpr int RANDOM_SETS = 5;
    for (const std::uint8_t address : addresses) {
        for (const std::uint8_t function : {lorvane::FUNC_WRITE, lorvane::FUNC_READ}) {
            for (std::uint8_t record = 0; record <= lorvane::sim::LAST_RECORD; ++record) {
                std::vector<lorvane::sim::record_values> sets{
                    {0, 0, 0},
                    {255, 255, 255},
                    lorvane::sim::sim_module::default_records().at(record)};
                for (int k = 0; k < RANDOM_SETS; ++k)
                    sets.push_back({static_cast<std::uint8_t>(byte(random)),
                                    static_cast<std::uint8_t>(byte(random)),
                                    static_cast<std::uint8_t>(byte(random))});
                for (const auto& v : sets)
                    replies.push_back(
                        lorvane::make_reply(address, function, record, v[0], v[1], v[2]));
            }
        }
    }
    checksum_result result;
    result.addresses = addresses.size();
    result.value_sets = 3 + RANDOM_SETS;
    const std::int64_t start = monotonic_ns();
    result.count = count_slips(replies);
    result.seconds = static_cast<double>(monotonic_ns() - start) / static_cast<double>(NS_PER_S);
    return result;
}

// ---------------------------------------------------------------------------------------
// The table.

std::string machine_line()
{
    utsname name{};
    ::uname(&name);
    return std::string("Linux ") + name.release + ", " +
           std::to_string(std::max(1L, ::sysconf(_SC_NPROCESSORS_ONLN))) + " CPUs, Qt " +
           qVersion();
}

void add_row(std::string& table, const std::string& measure, const std::string& result,
             const std::string& target, const std::string& met)
{
    table += "| " + measure + " | " + result + " | " + target + " | " + met + " |\n";
}

std::string range_text(const summary& s, int decimals, const char* unit)
{
    return fixed(s.median, decimals) + " " + unit + " (min " + fixed(s.min, decimals) + ", max " +
           fixed(s.max, decimals) + ")";
}

std::string program_next_to_me(const std::string& given, const char* name)
{
    if (!given.empty())
        return given;
    return (std::filesystem::path(QCoreApplication::applicationDirPath().toStdString()) / name)
        .string();
}

}  // namespace

int main(int argc, char** argv)
{
    options opts;
    bool help = false;
    if (const std::string error = parse_options(argc, argv, opts, help); !error.empty()) {
        std::fprintf(stderr, "lorvane-bench: %s\nTry 'lorvane-bench --help'.\n", error.c_str());
        return EXIT_BAD_USAGE;
    }
    if (help) {
        std::fwrite(USAGE.data(), 1, USAGE.size(), stdout);
        return 0;
    }

    // This process's own window always runs offscreen, whatever the environment says; the
    // xcb start-up runs in child processes on the display given.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    opts.sim = program_next_to_me(opts.sim, "lorvane-sim");
    opts.lorvane = program_next_to_me(opts.lorvane, "lorvane");
    opts.probe = program_next_to_me(opts.probe, "lorvane-bench-startup");
    opts.cli = program_next_to_me(opts.cli, "lorvane-cli");
    const std::string child_log = (std::filesystem::temp_directory_path() /
                                   ("lorvane-bench-" + std::to_string(::getpid()) + ".log"))
                                      .string();

    std::string table = "| Measure | Result | Target | Met |\n|---|---|---|---|\n";
    std::string notes;
    std::string load;  // per section: CPUs kept busy by other processes meanwhile
    bool failed = false;
    const auto section = [&](const std::string& name, const auto& body) {
        if (!opts.sections.contains(name))
            return;
        progress("running " + name + " ...");
        const cpu_times before = sample_cpu_times();
        try {
            body();
        } catch (const std::exception& error) {
            failed = true;
            progress(name + " failed: " + error.what());
            add_row(table, name, std::string("**failed:** ") + error.what(), "", "");
        }
        const cpu_times after = sample_cpu_times();
        load += (load.empty() ? "" : ", ") + name + " " + fixed(other_cpus_busy(before, after), 2);
    };

    section("latency", [&] {
        const thread_chains_result r = run_thread_chains(opts.warmup, opts.chains, 0, 20240611);
        for (const bool write : {true, false}) {
            const summary s = summarise(write ? r.write_ms : r.read_ms);
            const std::string kind = write ? "Write" : "Read";
            const std::string what = kind + " chain, per-exchange latency (" +
                                     std::to_string(r.chains) + " chains, " +
                                     std::to_string(s.count) + " exchanges)";
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
        notes +=
            "- Per-exchange latency: from the moment the module's write() of a reply to the "
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
    });

    section("paced", [&] {
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
                fixed(late_s.median, 3) + " / " + fixed(late_s.p99, 3) + " / " +
                    fixed(late_s.mean, 3) + " ms",
                "(diagnostic)", "");
        const double over = chain_s.mean.value_or(0) - LINE_LIMIT_MS;
        add_row(table, "… chain time over the line limit, mean per chain, and where it goes",
                fixed(over, 2) + " ms = click → first request " +
                    fixed(summarise(t.lead_ms).mean, 2) + " + module lateness " +
                    fixed(summarise(t.module_extra_ms).mean, 2) + " + 16 latencies " +
                    fixed(summarise(t.tool_sum_ms).mean, 2) + " + last reply → message " +
                    fixed(summarise(t.tail_ms).mean, 2),
                "(diagnostic)", "");
        const summary paced_floor = summarise(run_floor_client(opts.paced_runs, PACED_BYTE_NS));
        add_row(table,
                "… floor: minimal poll() client, same pacing (" +
                    std::to_string(paced_floor.count) + " exchanges), median / p99 / mean",
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
    });

    section("startup", [&] {
        const startup_result off = measure_startup_offscreen(opts, child_log);
        const startup_result xcb = measure_startup_xcb(opts, child_log);
        const auto rows = [&](const startup_result& r, const std::string& platform,
                              const std::string& shown) {
            if (!r.measured) {
                add_row(table, "Start-up, " + platform, "not measured: " + r.why_not, "", "");
                return;
            }
            const std::string runs = std::to_string(r.shown_ms.size()) + " runs";
            add_row(table,
                    "Start-up, " + platform + ": process start to " + shown + " (median of " +
                        runs + ")",
                    range_text(summarise(r.shown_ms), 1, "ms"), "", "");
            if (!r.to_main_ms.empty())
                add_row(table, "Start-up, " + platform + ": process start to main()",
                        range_text(summarise(r.to_main_ms), 1, "ms"), "", "");
            add_row(table, "Resident memory (VmRSS), " + platform + ", at " + shown,
                    range_text(summarise(r.rss_shown_mib), 1, "MiB"), "", "");
            add_row(table,
                    "Resident memory (VmRSS), " + platform + ", " +
                        std::to_string(STARTUP_SETTLE_MS) + " ms later",
                    range_text(summarise(r.rss_settled_mib), 1, "MiB"), "", "");
        };
        rows(off, "offscreen", "window exposed");
        rows(xcb, "Xvfb (xcb)", "window mapped");
        notes += "- Start-up, process start: CLOCK_MONOTONIC just before posix_spawn(). "
                 "Offscreen: `lorvane-bench-startup`, which runs ui/main.cpp's start-up "
                 "unchanged and stamps the first expose event that reports the window exposed "
                 "(what QTest::qWaitForWindowExposed waits for; it comes just before the first "
                 "paint); it reads its own VmRSS then. "
                 "Xvfb: the real `lorvane` with QT_QPA_PLATFORM=xcb on a bare Xvfb (no window "
                 "manager); the benchmark, as a separate X client, stamps the MapNotify (which "
                 "precedes the first paint) of the "
                 "window titled " +
                 lorvane::WINDOW_CAPTION.toStdString() +
                 " whose _NET_WM_PID is the child's, then reads the child's VmRSS from /proc.\n";
    });

    section("checksum", [&] {
        const checksum_result r = measure_checksum();
        const slip_count& c = r.count;
        const double share = c.substitutions == 0 ? 0.0
                                                  : 100.0 * static_cast<double>(c.slipped) /
                                                        static_cast<double>(c.substitutions);
        add_row(table,
                "Two-byte substitutions of valid replies the tool would act on (accepted, same "
                "address, function F0/F1)",
                std::to_string(c.slipped) + " of " + std::to_string(c.substitutions) + " = " +
                    fixed(share, 4) + " % (1 in " +
                    fixed(c.slipped == 0 ? std::optional<double>{}
                                         : static_cast<double>(c.substitutions) /
                                               static_cast<double>(c.slipped),
                          0) +
                    ")",
                "(measured property)", "");
        notes += "- Substitutions: " + std::to_string(c.replies) + " replies (" +
                 std::to_string(r.addresses) + " module addresses × F0/F1 × 17 records × " +
                 std::to_string(r.value_sets) +
                 " value triples), every pair of the 8 byte positions, every pair of "
                 "replacement values (255 × 255), exhaustive. Passed reply_accepted(): " +
                 std::to_string(c.passed_checksum) +
                 "; of those acted on: " + std::to_string(c.slipped) +
                 " — function flipped F0↔F1: " + std::to_string(c.slipped_function) +
                 ", record number changed: " + std::to_string(c.slipped_record) +
                 ", only values/checksum changed: " + std::to_string(c.slipped_values_only) +
                 ". Took " + fixed(r.seconds, 1) + " s.\n";
    });

    section("cli", [&] {
        const cli_transfer_times t = measure_cli_transfers(opts.cli, opts.sim, opts.paced_runs);
        for (const bool write : {true, false}) {
            const summary s = summarise(write ? t.write_ms : t.read_ms);
            const double ratio = s.median.value_or(0) / LINE_LIMIT_MS;
            add_row(table,
                    std::string("lorvane-cli ") + (write ? "write" : "read") +
                        " at 9600 baud, first request out to last reply in (median of " +
                        std::to_string(s.count) + ")",
                    range_text(s, 1, "ms") + "; " + fixed(ratio, 3) + " × line limit",
                    "≤ 1.02 × 283.3 ms", verdict(s.median && ratio <= TARGET_PACED_RATIO));
        }
        add_row(table,
                "… the whole write command, start to exit (median of " +
                    std::to_string(t.command_ms.size()) + ")",
                range_text(summarise(t.command_ms), 1, "ms"), "(diagnostic)", "");
        const cli_scan_result scan = measure_cli_scans(opts.cli, opts.sim);
        add_row(table, "lorvane-cli scan 0..255 at 9600 baud, three modules, default wait 60 ms",
                fixed(scan.full_scan_s, 2) + " s" +
                    (scan.full_scan_found_all ? ", all three found" : ", **not all found**"),
                "≤ 16 s",
                verdict(scan.full_scan_found_all && scan.full_scan_s <= TARGET_FULL_SCAN_S));
        std::string trials;
        for (const auto& trial : scan.trials)
            trials += (trials.empty() ? "" : ", ") + std::to_string(trial.wait_ms) +
                      " ms: " + std::to_string(trial.scans_finding_all) + "/" +
                      std::to_string(trial.scans);
        add_row(table, "… scans of 0..50 finding all three, by --wait", trials, "(diagnostic)", "");
        notes += "- lorvane-cli: each write and read is its own process against "
                 "`lorvane-sim --pace-baud 9600`; the transfer is timed from the CLI's own "
                 "--trace stamps, first TX to the 17th accepted RX (the line limit counts the "
                 "first request's bytes too). A reply can come no sooner than 16 byte times "
                 "(16.7 ms) after its request starts out, so a shorter scan wait finds a module "
                 "only when its timer happens to fire late; the default of 60 ms leaves room for a USB adapter's latency timer "
                 "(16 ms each way on common adapters) and a slow module.\n";
    });

    std::remove(child_log.c_str());
    std::printf("%s\n%s\nMachine: %s. CPUs kept busy by other processes (average over each "
                "section, from /proc/stat less this benchmark's own CPU time): %s.\n",
                table.c_str(), notes.c_str(), machine_line().c_str(), load.c_str());
    return failed ? EXIT_SECTION_FAILED : 0;
}
