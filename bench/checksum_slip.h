// How many two-byte corruptions of a valid reply the tool would still act on: the frame
// passes reply_accepted() (checksum and header) and carries the module's address byte and
// a write or read function byte. Exhaustive over every pair of byte positions and every
// pair of substituted values for each reply given.
#pragma once

#include "frame.h"

#include <cstdint>
#include <span>

namespace lorvane::bench {

struct slip_count
{
    std::uint64_t replies = 0;
    std::uint64_t substitutions = 0;    // two positions changed, each to another value
    std::uint64_t passed_checksum = 0;  // reply_accepted() still true
    std::uint64_t slipped = 0;          // ... and same address, function F0 or F1
    // Among `slipped`: the function byte changed (a write reply taken as a read reply or
    // back), the record byte changed, or only value and checksum bytes changed.
    std::uint64_t slipped_function = 0;
    std::uint64_t slipped_record = 0;
    std::uint64_t slipped_values_only = 0;
};

// Tries every substitution of two distinct positions of every frame in `replies`, each
// byte replaced by each of the 255 other values. Every frame must itself be accepted.
slip_count count_slips(std::span<const frame> replies);

}  // namespace lorvane::bench
