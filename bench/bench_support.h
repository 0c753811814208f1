// Small helpers shared by the benchmark programs: the monotonic clock, order statistics
// and the resident memory of a process. No Qt, so every part of the benchmark can use them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace lorvane::bench {

inline constexpr std::int64_t NS_PER_US = 1'000;
inline constexpr std::int64_t NS_PER_MS = 1'000'000;
inline constexpr std::int64_t NS_PER_S = 1'000'000'000;

// How long a started program is left running after its window appeared before its resident
// memory is read a second time: long enough for the first paint and the idle that follows.
inline constexpr int STARTUP_SETTLE_MS = 500;

// CLOCK_MONOTONIC in ns. The clock is system-wide, so stamps taken in different processes
// of the same machine can be subtracted from each other.
std::int64_t monotonic_ns() noexcept;

// Sleeps until the monotonic clock reads `when_ns` (returns at once if it already has).
void sleep_until_ns(std::int64_t when_ns) noexcept;

// Order statistics of a sample; all are nullopt for an empty sample.
struct summary
{
    std::size_t count = 0;
    std::optional<double> min;
    std::optional<double> median;  // mean of the two middle values for an even count
    std::optional<double> p99;     // nearest rank: the ceil(0.99 n)-th smallest value
    std::optional<double> max;
    std::optional<double> mean;
};

summary summarise(std::vector<double> values);

// VmRSS of process `pid` in KiB (0 = this process), or nullopt when /proc has no such
// process or no such line (e.g. the process has just exited).
std::optional<long> resident_kib(pid_t pid = 0);

// CPU time in ns, for telling how busy the machine was besides the benchmark: all CPUs
// together (from /proc/stat, idle and iowait excepted) and this process with its reaped
// children (getrusage). Their difference over a stretch of time is what other processes
// (and the kernel's own threads) used meanwhile.
struct cpu_times
{
    std::int64_t machine_busy_ns = 0;
    std::int64_t own_ns = 0;
    std::int64_t wall_ns = 0;
};
cpu_times sample_cpu_times();

// Average number of CPUs kept busy by everything but this process between two samples.
double other_cpus_busy(const cpu_times& from, const cpu_times& to);

// "0.123" style text of a value with `decimals` places, or "n/a" when there is none.
std::string fixed(std::optional<double> value, int decimals);

}  // namespace lorvane::bench
