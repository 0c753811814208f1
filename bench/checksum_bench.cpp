// The "checksum" section: the share of two-byte corruptions of valid replies that the tool
// would still act on.
#include "bench_sections.h"
#include "checksum_slip.h"
#include "frame.h"
#include "sim_module.h"

#include <optional>
#include <random>
#include <string>
#include <vector>

namespace {

using lorvane::frame;
using namespace lorvane::bench;

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

}  // namespace

void lorvane::bench::checksum_section(const bench_options& /*opts*/, report& out)
{
    std::string& table = out.table;
    std::string& notes = out.notes;
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
                fixed(c.slipped == 0
                          ? std::optional<double>{}
                          : static_cast<double>(c.substitutions) / static_cast<double>(c.slipped),
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
}
