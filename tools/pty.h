// Pseudo-terminal helpers for the module simulator, the tests and the benchmarks.
//
// pty_pair is the module's end of a fake serial line: the tool opens slave_path() as if it
// were a serial port. tty_port opens a terminal device the way a client would, in raw mode,
// so tests can talk to a simulator without the tool. Both are POSIX only and throw
// std::system_error when the system refuses something.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace lorvane {

// Default time write_all() waits for room before it gives up, in ms.
inline constexpr int DEFAULT_WRITE_TIMEOUT_MS = 5000;

class pty_pair
{
public:
    // Opens a new master, sets the line raw (8N1, nominally 9600 baud) and keeps a slave fd
    // of its own open so the master never sees a hang-up when clients close and reopen.
    pty_pair();
    ~pty_pair();
    pty_pair(const pty_pair&) = delete;
    pty_pair& operator=(const pty_pair&) = delete;
    pty_pair(pty_pair&& other) noexcept;
    pty_pair& operator=(pty_pair&& other) noexcept;

    // Path a client opens, e.g. "/dev/pts/7".
    const std::string& slave_path() const noexcept { return slave_path_; }
    // Non-blocking master fd for poll(); -1 once closed.
    int master_fd() const noexcept { return master_; }
    bool is_open() const noexcept { return master_ >= 0; }
    // True once a read found no slave open (cannot happen while this object holds one).
    bool hung_up() const noexcept { return hung_up_; }

    // Writes every byte, waiting up to timeout_ms in total for room; throws on failure,
    // with errc::timed_out when the client does not drain the line in time.
    void write_all(std::span<const std::uint8_t> bytes, int timeout_ms = DEFAULT_WRITE_TIMEOUT_MS);
    // Writes what fits now without waiting; returns the number of bytes taken.
    std::size_t write_some(std::span<const std::uint8_t> bytes);
    // Waits up to timeout_ms (0: just look, <0: for ever) for bytes and returns all that
    // have arrived, possibly none. Returns at once when the line is hung up.
    std::vector<std::uint8_t> read_some(int timeout_ms);

    // Simulates the far end going away: closes the master and the held slave fd, so
    // clients see a hang-up. Idempotent.
    void close_master() noexcept;

private:
    int master_ = -1;
    int slave_ = -1;
    bool hung_up_ = false;
    std::string slave_path_;
};

class tty_port
{
public:
    // Opens path read-write, non-blocking, not as controlling terminal, and sets it raw 8N1.
    explicit tty_port(const std::string& path);
    ~tty_port();
    tty_port(const tty_port&) = delete;
    tty_port& operator=(const tty_port&) = delete;
    tty_port(tty_port&& other) noexcept;
    tty_port& operator=(tty_port&& other) noexcept;

    int fd() const noexcept { return fd_; }
    bool is_open() const noexcept { return fd_ >= 0; }
    // True once a read found the far end gone (end of file or EIO).
    bool hung_up() const noexcept { return hung_up_; }

    void write_all(std::span<const std::uint8_t> bytes, int timeout_ms = DEFAULT_WRITE_TIMEOUT_MS);
    std::size_t write_some(std::span<const std::uint8_t> bytes);
    std::vector<std::uint8_t> read_some(int timeout_ms);
    // Collects bytes until `count` have arrived, the far end hangs up or timeout_ms passes;
    // returns what it got (fewer than `count` on timeout or hang-up, never more).
    std::vector<std::uint8_t> read_exact(std::size_t count, int timeout_ms);
    void close() noexcept;

private:
    int fd_ = -1;
    bool hung_up_ = false;
    std::vector<std::uint8_t> surplus_;  // bytes read past what read_exact() was asked for
};

}  // namespace lorvane
