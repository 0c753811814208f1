#include "sim_replay.h"

#include "file_access.h"
#include "pcapng.h"

#include <algorithm>
#include <utility>

namespace lorvane::sim {
namespace {

std::string failure_text(const file_failure& failure)
{
    switch (failure.kind) {
    case file_problem::not_found:
        return "no such file";
    case file_problem::permission_denied:
        return "permission denied";
    case file_problem::is_folder:
        return "it is a folder";
    case file_problem::not_regular:
        return "not a regular file";
    case file_problem::too_large:
        return "larger than " + std::to_string(MAX_REPLAY_FILE / (1024 * 1024)) + " MiB";
    default:
        break;
    }
    return failure.reason.isEmpty() ? std::string("cannot be read") : failure.reason.toStdString();
}

std::vector<std::uint8_t> bytes_of(const QByteArray& bytes)
{
    return {bytes.begin(), bytes.end()};
}

}  // namespace

std::variant<replay_script, std::string> load_replay(const QString& file, std::uint32_t interface)
{
    const std::string name = file.toStdString();
    const file_contents read = read_regular_file(file, MAX_REPLAY_FILE);
    if (const auto* failure = std::get_if<file_failure>(&read))
        return "cannot read " + name + ": " + failure_text(*failure);
    const std::optional<pcapng::contents> capture = pcapng::parse(std::get<QByteArray>(read));
    if (!capture)
        return name + " is not a pcapng capture";
    const std::size_t count = capture->interfaces.size();
    if (count == 0)
        return name + " holds no interface";
    if (interface >= count)
        return "--interface must be from 0 to " + std::to_string(count - 1) + " for " + name +
               ", not " + std::to_string(interface);
    const pcapng::interface_info& info = capture->interfaces[interface];
    if (info.link_type != pcapng::LINKTYPE_USER0)
        return "interface " + std::to_string(interface) + " of " + name +
               " is not a line capture (link type " + std::to_string(info.link_type) + ", not " +
               std::to_string(pcapng::LINKTYPE_USER0) + ")";

    replay_script script;
    script.interface_name = info.name;
    script.interface_count = count;
    script.truncated = capture->truncated;
    std::int64_t request_ns = 0;
    for (const pcapng::packet& packet : capture->packets) {
        if (packet.interface != interface)
            continue;
        if (packet.way == pcapng::direction::outbound) {
            script.exchanges.push_back({bytes_of(packet.bytes), {}});
            request_ns = packet.time_ns;
        } else if (packet.way == pcapng::direction::inbound && !script.exchanges.empty() &&
                   !packet.bytes.isEmpty()) {
            // What arrived before the first request answers nothing this program can be asked.
            script.exchanges.back().answer.push_back(
                {std::max<std::int64_t>(0, packet.time_ns - request_ns), bytes_of(packet.bytes)});
        }
    }
    return script;
}

replay_line::replay_line(replay_script script, sim_line::logger log)
    : script_(std::move(script)), log_(std::move(log))
{
}

void replay_line::receive(std::int64_t now_ns, std::span<const std::uint8_t> bytes)
{
    for (const received_request& request : framer_.feed(bytes, now_ns)) {
        const std::size_t index = next_exchange_++;
        const std::string number = std::to_string(index + 1);
        if (index >= script_.exchanges.size()) {
            log_("rx " + hex(request.bytes) + "  (request " + number + "; the capture has " +
                 std::to_string(script_.exchanges.size()) + ": silence)");
            continue;
        }
        const replay_exchange& exchange = script_.exchanges[index];
        if (std::equal(request.bytes.begin(), request.bytes.end(), exchange.request.begin(),
                       exchange.request.end()))
            log_("rx " + hex(request.bytes) + "  (request " + number + ", as captured)");
        else
            log_("rx " + hex(request.bytes) + "  (request " + number +
                 " differs from the captured " + hex(exchange.request) + "; answered as captured)");
        for (const replay_exchange::chunk& chunk : exchange.answer) {
            due_chunk next{now_ns + chunk.delay_ns, chunk.bytes};
            // Keeps the queue in time order: a slow exchange's late bytes may still be due
            // after the next exchange's first ones.
            const auto at = std::upper_bound(
                due_.begin(), due_.end(), next.due_ns,
                [](std::int64_t when, const due_chunk& queued) { return when < queued.due_ns; });
            due_.insert(at, std::move(next));
        }
    }
}

void replay_line::advance(std::int64_t now_ns, const sim_line::writer& write)
{
    while (!due_.empty() && due_.front().due_ns <= now_ns) {
        const std::vector<std::uint8_t> bytes = std::move(due_.front().bytes);
        due_.pop_front();
        const std::string failure = write(bytes);
        log_("tx " + hex(bytes) + (failure.empty() ? "" : "  dropped: " + failure));
    }
}

std::optional<std::int64_t> replay_line::next_due() const
{
    if (due_.empty())
        return std::nullopt;
    return due_.front().due_ns;
}

}  // namespace lorvane::sim
