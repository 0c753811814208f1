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
//   site      four paced buses checked at once beside the slowest alone; lorvane-cli's
//             memory for 64 buses of 256 modules
//   health    the short bus test of 8 paced modules against its line time, and the passive
//             collector's CPU time per exchange against the exchange's line time
//   capture   lorvane-cli write chains with and without --capture in turns, and a 1 MB/s
//             flood into a capture with a limit: its size and the program's memory
//
// Each section is in a file of its own (see bench_sections.h); this one parses the options,
// runs the sections asked for and prints the table.
//
// The window runs on the offscreen platform in this process's main thread; progress goes
// to stderr, the table to stdout. Exit status 0 when every section ran (targets met or not),
// 1 when a section failed to run, 2 on bad usage.
#include "bench_sections.h"
#include "bench_support.h"

#include <QApplication>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <string_view>

#include <sys/utsname.h>
#include <unistd.h>

namespace {

using namespace lorvane::bench;

constexpr int EXIT_SECTION_FAILED = 1;
constexpr int EXIT_BAD_USAGE = 2;

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
    "  --sections LIST     comma-separated subset of latency,paced,startup,checksum,cli,\n"
    "                      scan,site,health,capture,audit-log,report\n"
    "  --help              show this text\n";

struct section
{
    const char* name;
    void (*run)(const bench_options& opts, report& out);
};

// Every section, in the order they run. A new one goes in here: a file of its own, its
// function declared in bench_sections.h, and its name in USAGE.
constexpr section SECTIONS[] = {
    {"latency", latency_section},     {"paced", paced_section},   {"startup", startup_section},
    {"checksum", checksum_section},   {"cli", cli_section},       {"scan", scan_section},
    {"site", site_section},           {"health", health_section}, {"capture", capture_section},
    {"audit-log", audit_log_section}, {"report", report_section},
};

std::optional<int> parse_int(std::string_view text)
{
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

// Fills `parsed` and `sections`; returns an error message, empty on success. "--help" sets
// `help`.
std::string parse_options(int argc, char** argv, bench_options& parsed,
                          std::set<std::string>& sections, bool& help)
{
    for (const section& s : SECTIONS)
        sections.insert(s.name);
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
            sections.clear();
            std::string list(value);
            std::istringstream items(list);
            std::string item;
            while (std::getline(items, item, ',')) {
                if (std::none_of(std::begin(SECTIONS), std::end(SECTIONS),
                                 [&](const section& s) { return item == s.name; }))
                    return "unknown section '" + item + "'";
                sections.insert(item);
            }
        } else
            return "unknown option '" + std::string(arg) + "'";
        if (!error.empty())
            return error;
    }
    return {};
}

std::string machine_line()
{
    utsname name{};
    ::uname(&name);
    return std::string("Linux ") + name.release + ", " +
           std::to_string(std::max(1L, ::sysconf(_SC_NPROCESSORS_ONLN))) + " CPUs, Qt " +
           qVersion();
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
    bench_options opts;
    std::set<std::string> sections;
    bool help = false;
    if (const std::string error = parse_options(argc, argv, opts, sections, help); !error.empty()) {
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
    opts.child_log = (std::filesystem::temp_directory_path() /
                      ("lorvane-bench-" + std::to_string(::getpid()) + ".log"))
                         .string();

    report out;
    out.table = "| Measure | Result | Target | Met |\n|---|---|---|---|\n";
    std::string load;  // per section: CPUs kept busy by other processes meanwhile
    bool failed = false;
    for (const section& s : SECTIONS) {
        const std::string name = s.name;
        if (!sections.contains(name))
            continue;
        progress("running " + name + " ...");
        const cpu_times before = sample_cpu_times();
        try {
            s.run(opts, out);
        } catch (const std::exception& error) {
            failed = true;
            progress(name + " failed: " + error.what());
            add_row(out.table, name, std::string("**failed:** ") + error.what(), "", "");
        }
        const cpu_times after = sample_cpu_times();
        load += (load.empty() ? "" : ", ") + name + " " + fixed(other_cpus_busy(before, after), 2);
    }

    std::remove(opts.child_log.c_str());
    std::printf("%s\n%s\nMachine: %s. CPUs kept busy by other processes (average over each "
                "section, from /proc/stat less this benchmark's own CPU time): %s.\n",
                out.table.c_str(), out.notes.c_str(), machine_line().c_str(), load.c_str());
    return failed ? EXIT_SECTION_FAILED : 0;
}
