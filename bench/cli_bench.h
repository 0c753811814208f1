// The command line's figures: whole write and read transfers at 9600 baud, and scans of
// the bus, each by running the real lorvane-cli against the real lorvane-sim.
#pragma once

#include <string>
#include <vector>

namespace lorvane::bench {

struct cli_transfer_times
{
    std::vector<double> write_ms;  // first request out to last reply in, from --trace
    std::vector<double> read_ms;
    std::vector<double> command_ms;  // the whole write command: start to exit
};

// `runs` writes and reads of module 1 against `lorvane-sim --pace-baud 9600`.
cli_transfer_times measure_cli_transfers(const std::string& cli, const std::string& sim, int runs);

struct cli_scan_result
{
    double full_scan_s = 0;  // 0..255 at the default wait, three modules
    bool full_scan_found_all = false;
};

cli_scan_result measure_cli_scans(const std::string& cli, const std::string& sim);

}  // namespace lorvane::bench
