#include "checksum_slip.h"

#include <stdexcept>

namespace lorvane::bench {

slip_count count_slips(std::span<const frame> replies)
{
    slip_count count;
    for (const frame& original : replies) {
        if (!reply_accepted(original))
            throw std::invalid_argument("count_slips: a reply that is not valid to begin with");
        ++count.replies;
        for (std::size_t i = 0; i < FRAME_SIZE; ++i) {
            for (std::size_t j = i + 1; j < FRAME_SIZE; ++j) {
                frame corrupted = original;
                for (unsigned a = 0; a < 256; ++a) {
                    if (a == original[i])
                        continue;
                    corrupted[i] = static_cast<std::uint8_t>(a);
                    for (unsigned b = 0; b < 256; ++b) {
                        if (b == original[j])
                            continue;
                        corrupted[j] = static_cast<std::uint8_t>(b);
                        ++count.substitutions;
                        if (!reply_accepted(corrupted))
                            continue;
                        ++count.passed_checksum;
                        const std::uint8_t function = corrupted[POS_FUNCTION];
                        if (corrupted[POS_ADDRESS] != original[POS_ADDRESS] ||
                            (function != FUNC_WRITE && function != FUNC_READ))
                            continue;
                        ++count.slipped;
                        if (function != original[POS_FUNCTION])
                            ++count.slipped_function;
                        else if (corrupted[POS_RECORD] != original[POS_RECORD])
                            ++count.slipped_record;
                        else
                            ++count.slipped_values_only;
                    }
                }
            }
        }
    }
    return count;
}

}  // namespace lorvane::bench
