// What lorvane-bench's sections share. Each section has a file of its own; it measures,
// then adds its rows to the Markdown table and its notes below it. An exception it throws
// fails that section alone: lorvane_bench.cpp records it in the table and goes on.
#pragma once

#include "bench_support.h"

#include <cstdint>
#include <string>

namespace lorvane::bench {

struct bench_options
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
    std::string child_log;  // stderr of the programs the start-up section starts
};

// The table's rows ("| measure | result | target | met |" lines) and the notes under it.
struct report
{
    std::string table;
    std::string notes;
};

// The line's own limit for one chain: 17 exchanges of a request and a reply of 8 bytes
// each, 10 bits a byte (8N1), at 9600 baud.
inline constexpr double LINE_BAUD = 9600.0;
inline constexpr double LINE_LIMIT_MS = 17.0 * 16.0 * 10.0 / LINE_BAUD * 1000.0;  // 283.33 ms
inline constexpr double TARGET_PACED_RATIO = 1.02;

void progress(const std::string& text);
double ns_to_ms(std::int64_t ns);
const char* verdict(bool met);
void add_row(std::string& table, const std::string& measure, const std::string& result,
             const std::string& target, const std::string& met);
std::string range_text(const summary& s, int decimals, const char* unit);

// The sections, in the order lorvane_bench.cpp runs them.
void latency_section(const bench_options& opts, report& out);    // chain_bench.cpp
void paced_section(const bench_options& opts, report& out);      // chain_bench.cpp
void startup_section(const bench_options& opts, report& out);    // startup_bench.cpp
void checksum_section(const bench_options& opts, report& out);   // checksum_bench.cpp
void cli_section(const bench_options& opts, report& out);        // cli_bench.cpp
void scan_section(const bench_options& opts, report& out);       // scan_bench.cpp
void site_section(const bench_options& opts, report& out);       // site_bench.cpp
void health_section(const bench_options& opts, report& out);     // health_bench.cpp
void capture_section(const bench_options& opts, report& out);    // capture_bench.cpp
void audit_log_section(const bench_options& opts, report& out);  // audit_log_bench.cpp
void report_section(const bench_options& opts, report& out);     // report_bench.cpp

}  // namespace lorvane::bench
