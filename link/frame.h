// The 8-byte frames exchanged with the panel module, as plain values.
//
// Request (tool -> module):  55 addr func record v1 v2 v3 sum
// Reply   (module -> tool):  22 addr func record v1 v2 v3 sum
// `sum` is the low 8 bits of the sum of bytes 0..6. No I/O, no Qt: this header is
// shared by the tool, the module simulator, the tests and the fuzz target.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace lorvane {

inline constexpr std::size_t FRAME_SIZE = 8;  // bytes, requests and replies alike

inline constexpr std::uint8_t REQUEST_HEADER = 0x55;
inline constexpr std::uint8_t REPLY_HEADER = 0x22;
inline constexpr std::uint8_t FUNC_WRITE = 0xF0;  // write one record
inline constexpr std::uint8_t FUNC_READ = 0xF1;   // read one record

// The two kinds of transfer, as their function codes name them.
enum class transfer_kind { write, read };

// Byte positions inside a frame.
inline constexpr std::size_t POS_HEADER = 0;
inline constexpr std::size_t POS_ADDRESS = 1;
inline constexpr std::size_t POS_FUNCTION = 2;
inline constexpr std::size_t POS_RECORD = 3;
inline constexpr std::size_t POS_VALUE1 = 4;
inline constexpr std::size_t POS_VALUE2 = 5;
inline constexpr std::size_t POS_VALUE3 = 6;
inline constexpr std::size_t POS_CHECKSUM = 7;

using frame = std::array<std::uint8_t, FRAME_SIZE>;

// Low 8 bits of the sum of bytes 0..6 (the largest sum, 7 x 255 = 1785, needs 11 bits).
constexpr std::uint8_t frame_checksum(const frame& f)
{
    unsigned sum = 0;
    for (std::size_t i = 0; i < POS_CHECKSUM; ++i)
        sum += f[i];
    return static_cast<std::uint8_t>(sum & 0xFFu);
}

// A frame with the given header and bytes 1..6, its checksum filled in.
constexpr frame make_frame(std::uint8_t header, std::uint8_t address, std::uint8_t function,
                           std::uint8_t record, std::uint8_t value1, std::uint8_t value2,
                           std::uint8_t value3)
{
    frame f{header, address, function, record, value1, value2, value3, 0};
    f[POS_CHECKSUM] = frame_checksum(f);
    return f;
}

// The request for one record; a read request carries zero values.
constexpr frame make_request(std::uint8_t function, std::uint8_t address, std::uint8_t record,
                             std::uint8_t value1, std::uint8_t value2, std::uint8_t value3)
{
    return make_frame(REQUEST_HEADER, address, function, record, value1, value2, value3);
}

// A reply as the module sends it (used by the simulator and the tests).
constexpr frame make_reply(std::uint8_t address, std::uint8_t function, std::uint8_t record,
                           std::uint8_t value1, std::uint8_t value2, std::uint8_t value3)
{
    return make_frame(REPLY_HEADER, address, function, record, value1, value2, value3);
}

// True when 8 received bytes form a reply worth dispatching: the checksum matches and
// the header is REPLY_HEADER. Both comparisons are always made, checksum first;
// address and function are the dispatcher's business, not checked here.
constexpr bool reply_accepted(const frame& f)
{
    const bool checksum_ok = frame_checksum(f) == f[POS_CHECKSUM];
    const bool header_ok = f[POS_HEADER] == REPLY_HEADER;
    return checksum_ok & header_ok;  // non-short-circuit on purpose
}

// The same test for requests, as the module applies it.
constexpr bool request_accepted(const frame& f)
{
    const bool checksum_ok = frame_checksum(f) == f[POS_CHECKSUM];
    const bool header_ok = f[POS_HEADER] == REQUEST_HEADER;
    return checksum_ok & header_ok;
}

}  // namespace lorvane
