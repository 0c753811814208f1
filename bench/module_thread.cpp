#include "module_thread.h"

#include "bench_support.h"

#include <cerrno>
#include <chrono>
#include <exception>
#include <optional>
#include <span>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace lorvane::bench {

module_thread::module_thread(std::uint8_t address, std::int64_t byte_ns,
                             std::vector<std::uint8_t> junk)
    : module_(address), byte_ns_(byte_ns), junk_(std::move(junk))
{
    if (::pipe2(stop_pipe_, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::system_error(errno, std::generic_category(), "pipe2");
    // Room for a long run without the log growing while a chain is timed.
    log_.reserve(4096);
    thread_ = std::thread([this] { run(); });
}

module_thread::~module_thread()
{
    const char stop = 's';
    [[maybe_unused]] const ssize_t ignored = ::write(stop_pipe_[1], &stop, 1);
    if (thread_.joinable())
        thread_.join();
    ::close(stop_pipe_[0]);
    ::close(stop_pipe_[1]);
}

std::vector<exchange_record> module_thread::take(std::size_t count, int timeout_ms)
{
    std::unique_lock lock(mutex_);
    logged_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                     [&] { return log_.size() >= count || !failure_.empty(); });
    std::vector<exchange_record> taken;
    taken.reserve(4096);
    taken.swap(log_);
    return taken;
}

std::string module_thread::failure() const
{
    const std::lock_guard lock(mutex_);
    return failure_;
}

void module_thread::run()
{
    try {
        for (;;) {
            pollfd fds[2] = {{stop_pipe_[0], POLLIN, 0}, {line_.master_fd(), POLLIN, 0}};
            const int ready = ::poll(fds, 2, -1);
            // Stamp first: everything after this belongs to the module, not the tool.
            const std::int64_t readable_ns = monotonic_ns();
            if (ready < 0) {
                if (errno == EINTR)
                    continue;
                throw std::system_error(errno, std::generic_category(), "poll");
            }
            if (fds[0].revents != 0)
                return;
            if (fds[1].revents & POLLNVAL)
                throw std::system_error(EBADF, std::generic_category(), "pty master");
            if (fds[1].revents & (POLLIN | POLLERR | POLLHUP))
                serve(readable_ns);
        }
    } catch (const std::exception& error) {
        const std::lock_guard lock(mutex_);
        failure_ = error.what();
        logged_.notify_all();
    }
}

void module_thread::serve(std::int64_t readable_ns)
{
    const std::vector<std::uint8_t> bytes = line_.read_some(0);
    // Every byte of this read carries the stamp of the poll() that found the line
    // readable, so a request's first_stamp is when its first byte could first be read.
    for (const auto& request : framer_.feed(bytes, readable_ns)) {
        exchange_record record;
        record.request = request.bytes;
        record.request_readable_ns = request.first_stamp;
        // The tool sends one request and waits for its reply, so the line is free when a
        // request begins: it is through 8 byte times after its first byte.
        const std::int64_t received_ns =
            request.first_stamp + static_cast<std::int64_t>(FRAME_SIZE) * byte_ns_;
        if (byte_ns_ > 0)
            sleep_until_ns(received_ns);
        std::optional<std::vector<std::uint8_t>> reply;
        if (!junk_.empty())
            reply = junk_;
        else if (const auto answer = module_.answer(request.bytes))
            reply.emplace(answer->begin(), answer->end());
        if (reply) {
            // The tool reads each reply before it sends the next request, so the bytes
            // always find room and these writes do not wait.
            if (byte_ns_ > 0) {
                for (std::size_t i = 0; i < reply->size(); ++i) {
                    record.reply_due_ns = received_ns + static_cast<std::int64_t>(i + 1) * byte_ns_;
                    sleep_until_ns(record.reply_due_ns);
                    line_.write_all(std::span(*reply).subspan(i, 1), 1000);
                }
            } else {
                line_.write_all(*reply, 1000);
            }
            record.reply_written_ns = monotonic_ns();
            record.answered = true;
        }
        const std::lock_guard lock(mutex_);
        log_.push_back(record);
        logged_.notify_all();
    }
}

}  // namespace lorvane::bench
