#include "bench_support.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

namespace lorvane::bench {

std::int64_t monotonic_ns() noexcept
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * NS_PER_S + now.tv_nsec;
}

void sleep_until_ns(std::int64_t when_ns) noexcept
{
    timespec when{};
    when.tv_sec = static_cast<time_t>(when_ns / NS_PER_S);
    when.tv_nsec = static_cast<long>(when_ns % NS_PER_S);
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &when, nullptr) != 0) {
        // EINTR: a signal woke us early; sleep on to the same moment.
    }
}

summary summarise(std::vector<double> values)
{
    summary s;
    s.count = values.size();
    if (values.empty())
        return s;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    s.min = values.front();
    s.max = values.back();
    s.median = n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
    // Nearest rank, computed in integers: ceil(99 n / 100), at least 1.
    const std::size_t rank = std::max<std::size_t>(1, (99 * n + 99) / 100);
    s.p99 = values[rank - 1];
    double sum = 0;
    for (const double v : values)
        sum += v;
    s.mean = sum / static_cast<double>(n);
    return s;
}

std::optional<long> resident_kib(pid_t pid)
{
    const std::string path =
        pid == 0 ? std::string("/proc/self/status") : "/proc/" + std::to_string(pid) + "/status";
    std::ifstream status(path);
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            std::istringstream fields(line.substr(6));
            long kib = 0;
            if (fields >> kib)
                return kib;
            return std::nullopt;
        }
    }
    return std::nullopt;
}

namespace {

std::int64_t timeval_ns(const timeval& t)
{
    return static_cast<std::int64_t>(t.tv_sec) * NS_PER_S +
           static_cast<std::int64_t>(t.tv_usec) * NS_PER_US;
}

}  // namespace

cpu_times sample_cpu_times()
{
    cpu_times t;
    t.wall_ns = monotonic_ns();
    std::ifstream stat("/proc/stat");
    std::string label;
    // user nice system idle iowait irq softirq steal, in clock ticks
    long long field[8] = {};
    if (stat >> label && label == "cpu") {
        for (long long& f : field)
            stat >> f;
        const long long busy = field[0] + field[1] + field[2] + field[5] + field[6] + field[7];
        const long ticks = std::max(1L, ::sysconf(_SC_CLK_TCK));
        t.machine_busy_ns = static_cast<std::int64_t>(busy) * NS_PER_S / ticks;
    }
    rusage self{};
    rusage children{};
    ::getrusage(RUSAGE_SELF, &self);
    ::getrusage(RUSAGE_CHILDREN, &children);
    t.own_ns = timeval_ns(self.ru_utime) + timeval_ns(self.ru_stime) +
               timeval_ns(children.ru_utime) + timeval_ns(children.ru_stime);
    return t;
}

double other_cpus_busy(const cpu_times& from, const cpu_times& to)
{
    const std::int64_t wall = to.wall_ns - from.wall_ns;
    if (wall <= 0)
        return 0.0;
    const std::int64_t other =
        (to.machine_busy_ns - from.machine_busy_ns) - (to.own_ns - from.own_ns);
    return std::max(0.0, static_cast<double>(other) / static_cast<double>(wall));
}

std::string fixed(std::optional<double> value, int decimals)
{
    if (!value || !std::isfinite(*value))
        return "n/a";
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, *value);
    return text;
}

}  // namespace lorvane::bench
