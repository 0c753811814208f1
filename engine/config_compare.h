// The comparison of two configurations, record by record: what `verify` and the window's
// check report. Front ends word the differences; here they are values only.
#pragma once

#include "panel_config.h"

#include <cstdint>
#include <vector>

namespace lorvane {

enum class config_field { refresh_period, key_address, key_line, key_operation };

struct config_difference
{
    int record;  // 0 for the refresh period, k for key k
    config_field field;
    std::uint8_t expected;  // an operation as its code
    std::uint8_t found;

    friend bool operator==(const config_difference&, const config_difference&) = default;
};

// Every field in which `found` differs from `expected`, in record order (then address,
// line, operation). The module address is not compared: it names the module, it is not
// one of its records.
std::vector<config_difference> compare_configs(const panel_config& expected,
                                               const panel_config& found);

}  // namespace lorvane
