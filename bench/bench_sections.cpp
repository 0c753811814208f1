#include "bench_sections.h"

#include <cstdio>

namespace lorvane::bench {

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

}  // namespace lorvane::bench
