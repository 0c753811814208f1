// The "startup" section: the real `lorvane` under Xvfb (xcb) until its window is mapped,
// and the start-up probe on the offscreen platform until its window is exposed, each with
// its resident memory then and a moment later.
#include "bench_sections.h"
#include "main_form.h"
#ifdef LORVANE_BENCH_HAVE_XCB
#include "x_map_watch.h"
#endif

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using namespace lorvane::bench;

constexpr int WINDOW_TIMEOUT_MS = 10'000;

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

startup_result measure_startup_offscreen(const bench_options& opts, const std::string& log)
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

startup_result measure_startup_xcb(const bench_options& opts, const std::string& log)
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

}  // namespace

void lorvane::bench::startup_section(const bench_options& opts, report& out)
{
    std::string& table = out.table;
    std::string& notes = out.notes;
    const std::string& child_log = opts.child_log;
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
                "Start-up, " + platform + ": process start to " + shown + " (median of " + runs +
                    ")",
                range_text(summarise(r.shown_ms), 1, "ms"), "", "");
        if (!r.to_main_ms.empty())
            add_row(table, "Start-up, " + platform + ": process start to main()",
                    range_text(summarise(r.to_main_ms), 1, "ms"), "", "");
        add_row(table, "Resident memory (VmRSS), " + platform + ", at " + shown,
                range_text(summarise(r.rss_shown_mib), 1, "MiB"), "", "");
        add_row(table,
                "Resident memory (VmRSS), " + platform + ", " + std::to_string(STARTUP_SETTLE_MS) +
                    " ms later",
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
}
