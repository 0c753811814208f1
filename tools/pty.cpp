#include "pty.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <optional>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace lorvane {
namespace {

using steady = std::chrono::steady_clock;

[[noreturn]] void throw_errno(int error, const char* what)
{
    throw std::system_error(error, std::generic_category(), what);
}

void close_fd(int& fd) noexcept
{
    if (fd >= 0) {
        // No retry on EINTR: on Linux the fd is released even then, and a retry could
        // close an fd another thread has just been given.
        ::close(fd);
        fd = -1;
    }
}

void add_fd_flags(int fd)
{
    const int status = ::fcntl(fd, F_GETFL);
    if (status < 0 || ::fcntl(fd, F_SETFL, status | O_NONBLOCK) < 0)
        throw_errno(errno, "fcntl(O_NONBLOCK)");
    const int descriptor = ::fcntl(fd, F_GETFD);
    if (descriptor < 0 || ::fcntl(fd, F_SETFD, descriptor | FD_CLOEXEC) < 0)
        throw_errno(errno, "fcntl(FD_CLOEXEC)");
}

// Raw 8N1 without flow control or echo; the speed is nominal on a pseudo-terminal.
// VMIN = 1 so that a non-blocking read of an empty line fails with EAGAIN instead of
// returning 0, which would look like end of file.
void make_raw(int fd)
{
    termios settings{};
    if (::tcgetattr(fd, &settings) != 0)
        throw_errno(errno, "tcgetattr");
    ::cfmakeraw(&settings);
    settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB);
#ifdef CRTSCTS
    settings.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
#endif
    settings.c_cflag |= static_cast<tcflag_t>(CS8 | CLOCAL | CREAD);
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    if (::cfsetispeed(&settings, B9600) != 0 || ::cfsetospeed(&settings, B9600) != 0)
        throw_errno(errno, "cfsetspeed");
    if (::tcsetattr(fd, TCSANOW, &settings) != 0)
        throw_errno(errno, "tcsetattr");
}

std::optional<steady::time_point> deadline_after(int timeout_ms)
{
    if (timeout_ms < 0)
        return std::nullopt;
    return steady::now() + std::chrono::milliseconds(timeout_ms);
}

// Milliseconds left until the deadline for poll(): -1 without one, rounded up so that a
// wait never ends before the deadline.
int poll_timeout(const std::optional<steady::time_point>& deadline)
{
    if (!deadline)
        return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - steady::now());
    return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, INT_MAX));
}

// poll() on one fd until an event or the deadline; returns revents, 0 on timeout.
short wait_for(int fd, short events, const std::optional<steady::time_point>& deadline)
{
    for (;;) {
        pollfd entry{fd, events, 0};
        const int ready = ::poll(&entry, 1, poll_timeout(deadline));
        if (ready > 0)
            return entry.revents;
        if (ready == 0)
            return 0;
        if (errno != EINTR)
            throw_errno(errno, "poll");
        // Interrupted by a signal: wait again for the time that is left.
    }
}

std::size_t write_some_fd(int fd, std::span<const std::uint8_t> bytes)
{
    if (fd < 0)
        throw_errno(EBADF, "write on a closed line");
    if (bytes.empty())
        return 0;
    for (;;) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written >= 0)
            return static_cast<std::size_t>(written);
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        throw_errno(errno, "write");  // EIO: the far end is gone
    }
}

void write_all_fd(int fd, std::span<const std::uint8_t> bytes, int timeout_ms)
{
    const auto deadline = deadline_after(timeout_ms);
    std::size_t done = 0;
    while (done < bytes.size()) {
        done += write_some_fd(fd, bytes.subspan(done));
        if (done == bytes.size())
            break;
        const short revents = wait_for(fd, POLLOUT, deadline);
        if (revents == 0)
            throw std::system_error(std::make_error_code(std::errc::timed_out), "write_all");
        if (revents & POLLNVAL)
            throw_errno(EBADF, "write_all");
        // Hang-up without room to write would otherwise make poll() return at once for
        // ever: report it instead of spinning until the deadline.
        if ((revents & (POLLHUP | POLLERR)) && !(revents & POLLOUT))
            throw_errno(EIO, "write_all: line hung up");
    }
}

// Reads whatever has arrived, waiting up to timeout_ms for the first byte. End of file and
// EIO (no one at the other end) set hung_up and end the read; they are not errors here.
std::vector<std::uint8_t> read_some_fd(int fd, int timeout_ms, bool& hung_up)
{
    if (fd < 0)
        throw_errno(EBADF, "read on a closed line");
    std::vector<std::uint8_t> received;
    const short revents = wait_for(fd, POLLIN, deadline_after(timeout_ms));
    if (revents == 0)
        return received;
    if (revents & POLLNVAL)
        throw_errno(EBADF, "read");

    std::uint8_t buffer[4096];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0) {
            received.insert(received.end(), buffer, buffer + got);
            continue;
        }
        if (got == 0) {
            // A terminal set to VMIN = 0 also reads 0 when merely empty, so only a
            // reported hang-up makes this end of file.
            if (revents & POLLHUP)
                hung_up = true;
            break;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            break;
        if (errno == EIO) {
            hung_up = true;
            break;
        }
        throw_errno(errno, "read");
    }
    return received;
}

}  // namespace

pty_pair::pty_pair()
{
    int flags = O_RDWR | O_NOCTTY;
#ifdef __linux__
    flags |= O_CLOEXEC;  // glibc hands the flags to open(); elsewhere FD_CLOEXEC below must do
#endif
    master_ = ::posix_openpt(flags);
    if (master_ < 0)
        throw_errno(errno, "posix_openpt");
    try {
        add_fd_flags(master_);
        if (::grantpt(master_) != 0)
            throw_errno(errno, "grantpt");
        if (::unlockpt(master_) != 0)
            throw_errno(errno, "unlockpt");
#ifdef __GLIBC__
        char name[128];
        if (const int error = ::ptsname_r(master_, name, sizeof name); error != 0)
            throw_errno(error, "ptsname_r");
        slave_path_ = name;
#else
        const char* name = ::ptsname(master_);
        if (name == nullptr)
            throw_errno(errno, "ptsname");
        slave_path_ = name;
#endif
        slave_ = ::open(slave_path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (slave_ < 0)
            throw_errno(errno, "open pty slave");
        make_raw(slave_);
    } catch (...) {
        close_master();
        throw;
    }
}

pty_pair::~pty_pair()
{
    close_master();
}

pty_pair::pty_pair(pty_pair&& other) noexcept
    : master_(std::exchange(other.master_, -1)), slave_(std::exchange(other.slave_, -1)),
      hung_up_(std::exchange(other.hung_up_, false)), slave_path_(std::move(other.slave_path_))
{
}

pty_pair& pty_pair::operator=(pty_pair&& other) noexcept
{
    if (this != &other) {
        close_master();
        master_ = std::exchange(other.master_, -1);
        slave_ = std::exchange(other.slave_, -1);
        hung_up_ = std::exchange(other.hung_up_, false);
        slave_path_ = std::move(other.slave_path_);
    }
    return *this;
}

void pty_pair::write_all(std::span<const std::uint8_t> bytes, int timeout_ms)
{
    write_all_fd(master_, bytes, timeout_ms);
}

std::size_t pty_pair::write_some(std::span<const std::uint8_t> bytes)
{
    return write_some_fd(master_, bytes);
}

std::vector<std::uint8_t> pty_pair::read_some(int timeout_ms)
{
    return read_some_fd(master_, timeout_ms, hung_up_);
}

void pty_pair::close_master() noexcept
{
    close_fd(slave_);
    close_fd(master_);
}

tty_port::tty_port(const std::string& path)
{
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0)
        throw_errno(errno, "open tty");
    try {
        make_raw(fd_);
    } catch (...) {
        close_fd(fd_);
        throw;
    }
}

tty_port::~tty_port()
{
    close();
}

tty_port::tty_port(tty_port&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), hung_up_(std::exchange(other.hung_up_, false)),
      surplus_(std::move(other.surplus_))
{
}

tty_port& tty_port::operator=(tty_port&& other) noexcept
{
    if (this != &other) {
        close();
        fd_ = std::exchange(other.fd_, -1);
        hung_up_ = std::exchange(other.hung_up_, false);
        surplus_ = std::move(other.surplus_);
    }
    return *this;
}

void tty_port::write_all(std::span<const std::uint8_t> bytes, int timeout_ms)
{
    write_all_fd(fd_, bytes, timeout_ms);
}

std::size_t tty_port::write_some(std::span<const std::uint8_t> bytes)
{
    return write_some_fd(fd_, bytes);
}

std::vector<std::uint8_t> tty_port::read_some(int timeout_ms)
{
    if (!surplus_.empty()) {
        std::vector<std::uint8_t> received = std::exchange(surplus_, {});
        std::vector<std::uint8_t> more = read_some_fd(fd_, 0, hung_up_);
        received.insert(received.end(), more.begin(), more.end());
        return received;
    }
    return read_some_fd(fd_, timeout_ms, hung_up_);
}

std::vector<std::uint8_t> tty_port::read_exact(std::size_t count, int timeout_ms)
{
    const auto deadline = deadline_after(timeout_ms);
    std::vector<std::uint8_t> received = std::exchange(surplus_, {});
    while (received.size() < count && !hung_up_) {
        const int left = poll_timeout(deadline);
        std::vector<std::uint8_t> more = read_some_fd(fd_, left, hung_up_);
        received.insert(received.end(), more.begin(), more.end());
        if (more.empty() && left == 0)
            break;
    }
    if (received.size() > count) {
        surplus_.assign(received.begin() + static_cast<std::ptrdiff_t>(count), received.end());
        received.resize(count);
    }
    return received;
}

void tty_port::close() noexcept
{
    close_fd(fd_);
    surplus_.clear();
}

}  // namespace lorvane
