#include "config_compare.h"

namespace lorvane {

std::vector<config_difference> compare_configs(const panel_config& expected,
                                               const panel_config& found)
{
    std::vector<config_difference> differences;
    const auto differ = [&](int record, config_field field, std::uint8_t want, std::uint8_t got) {
        if (want != got)
            differences.push_back({record, field, want, got});
    };
    differ(0, config_field::refresh_period, expected.refresh_period, found.refresh_period);
    for (int k = 1; k <= KEY_COUNT; ++k) {
        const key_binding& want = expected.keys[std::size_t(k - 1)];
        const key_binding& got = found.keys[std::size_t(k - 1)];
        differ(k, config_field::key_address, want.address, got.address);
        differ(k, config_field::key_line, want.line, got.line);
        differ(k, config_field::key_operation, want.operation, got.operation);
    }
    return differences;
}

}  // namespace lorvane
