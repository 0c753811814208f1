#include "sim_module.h"

#include <algorithm>
#include <stdexcept>

namespace lorvane::sim {

std::string_view verdict_text(request_verdict verdict) noexcept
{
    switch (verdict) {
    case request_verdict::answered:
        return "answered";
    case request_verdict::bad_checksum:
        return "ignored: bad checksum";
    case request_verdict::bad_header:
        return "ignored: not a request header";
    case request_verdict::other_address:
        return "ignored: other address";
    case request_verdict::bad_function:
        return "ignored: unknown function";
    case request_verdict::bad_record:
        return "ignored: no such record";
    case request_verdict::silenced:
        return "ignored: silent after reply limit";
    }
    return "unknown";
}

sim_module::sim_module(std::uint8_t address) : address_(address), records_(default_records()) {}

record_table sim_module::default_records() noexcept
{
    record_table table{};
    table[0] = {DEFAULT_REFRESH_PERIOD, 0, 0};
    for (std::uint8_t key = 1; key <= LAST_RECORD; ++key)
        table[key] = {DEFAULT_KEY_TARGET, key, DEFAULT_KEY_OPERATION};
    return table;
}

const record_values& sim_module::record(std::size_t index) const
{
    if (index > LAST_RECORD)
        throw std::out_of_range("sim_module::record: index above 16");
    return records_[index];
}

void sim_module::set_record(std::size_t index, const record_values& values)
{
    if (index > LAST_RECORD)
        throw std::out_of_range("sim_module::set_record: index above 16");
    records_[index] = values;
}

request_verdict sim_module::check(const frame& request) const noexcept
{
    if (frame_checksum(request) != request[POS_CHECKSUM])
        return request_verdict::bad_checksum;
    if (request[POS_HEADER] != REQUEST_HEADER)
        return request_verdict::bad_header;
    if (request[POS_ADDRESS] != address_)
        return request_verdict::other_address;
    const std::uint8_t function = request[POS_FUNCTION];
    if (function != FUNC_WRITE && function != FUNC_READ)
        return request_verdict::bad_function;
    if (request[POS_RECORD] > LAST_RECORD)
        return request_verdict::bad_record;
    if (silent_after_ && answered_ >= *silent_after_)
        return request_verdict::silenced;
    return request_verdict::answered;
}

std::optional<frame> sim_module::answer(const frame& request)
{
    if (check(request) != request_verdict::answered)
        return std::nullopt;

    const std::uint8_t function = request[POS_FUNCTION];
    const std::uint8_t index = request[POS_RECORD];
    record_values& stored = records_[index];
    if (function == FUNC_WRITE)
        stored = {request[POS_VALUE1], request[POS_VALUE2], request[POS_VALUE3]};
    ++answered_;
    // A write reply echoes the values just stored, a read reply carries the stored ones:
    // both are the record's contents after the request.
    return make_reply(address_, function, index, stored[0], stored[1], stored[2]);
}

void request_framer::drop_front(std::size_t n) noexcept
{
    std::copy(window_.begin() + static_cast<std::ptrdiff_t>(n),
              window_.begin() + static_cast<std::ptrdiff_t>(count_), window_.begin());
    std::copy(stamps_.begin() + static_cast<std::ptrdiff_t>(n),
              stamps_.begin() + static_cast<std::ptrdiff_t>(count_), stamps_.begin());
    count_ -= n;
    discarded_ += n;
}

std::optional<received_request> request_framer::push(std::uint8_t byte, std::int64_t stamp)
{
    window_[count_] = byte;
    stamps_[count_] = stamp;
    ++count_;
    ++next_offset_;

    if (count_ == FRAME_SIZE) {
        if (request_accepted(window_)) {
            count_ = 0;
            return received_request{window_, next_offset_ - FRAME_SIZE, stamps_[0],
                                    stamps_[FRAME_SIZE - 1]};
        }
        drop_front(1);
    }
    // A window not starting with the request header can never be accepted: slide past
    // such bytes now, which gives the same result as waiting for eight of them.
    std::size_t skip = 0;
    while (skip < count_ && window_[skip] != REQUEST_HEADER)
        ++skip;
    if (skip > 0)
        drop_front(skip);
    return std::nullopt;
}

std::vector<received_request> request_framer::feed(std::span<const std::uint8_t> bytes,
                                                   std::int64_t stamp)
{
    std::vector<received_request> found;
    for (const std::uint8_t byte : bytes) {
        if (auto request = push(byte, stamp))
            found.push_back(*request);
    }
    return found;
}

}  // namespace lorvane::sim
