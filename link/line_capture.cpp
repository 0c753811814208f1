#include "line_capture.h"

#include <chrono>

namespace lorvane {

std::variant<std::unique_ptr<line_capture>, file_failure>
line_capture::create(const QString& name, const QString& comment, const QString& application,
                     std::uint64_t limit_bytes)
{
    const QByteArray header = pcapng::section_header(comment, application);
    if (auto failure = write_regular_file(name, header))
        return *failure;
    auto opened = open_append_file(name);
    if (auto* failure = std::get_if<file_failure>(&opened))
        return *failure;
    return std::unique_ptr<line_capture>(new line_capture(
        name, std::get<append_file>(std::move(opened)), std::uint64_t(header.size()), limit_bytes));
}

line_capture::line_capture(const QString& name, append_file file, std::uint64_t size,
                           std::uint64_t limit)
    : name_(name), file_(std::move(file)), size_(size), limit_(limit)
{
}

line_capture::~line_capture() = default;

std::int64_t line_capture::now_ns()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::uint32_t line_capture::add_interface(const QString& port)
{
    append(pcapng::interface_description(port));
    return interfaces_++;
}

void line_capture::record(std::uint32_t interface, pcapng::direction way, std::int64_t time_ns,
                          QByteArrayView bytes)
{
    if (stopped_ != stop_reason::none || bytes.isEmpty() || interface >= interfaces_)
        return;
    if (append(pcapng::enhanced_packet(interface, time_ns, way, bytes)))
        ++packets_;
}

bool line_capture::append(const QByteArray& block)
{
    if (stopped_ != stop_reason::none)
        return false;
    if (size_ + std::uint64_t(block.size()) > limit_) {
        stop(stop_reason::limit);
        return false;
    }
    if (auto failure = file_.append_unflushed(block)) {
        failure_ = std::move(failure);
        stop(stop_reason::write_failed);
        return false;
    }
    size_ += std::uint64_t(block.size());
    return true;
}

void line_capture::stop(stop_reason why)
{
    stopped_ = why;
    file_.close();
    Q_EMIT capture_stopped(why);
}

}  // namespace lorvane
