// The module's end of a pseudo-terminal, served by a thread of its own so that the time the
// tool takes can be seen from outside its event loop: the thread waits on the master with
// poll(), answers each request at once through the simulator's module logic and stamps
//   - when the first byte of a request became readable on the master, and
//   - when the write() of the reply to the master returned.
// The gap between a reply's stamp and the next request's stamp is the tool's reaction time
// plus two pseudo-terminal hops (reply to the tool, request back) and this thread's wake-up.
//
// Optionally the thread paces the line as `lorvane-sim --pace-baud` does: a request counts as
// received 8 byte times after its first byte became readable, and reply byte i leaves at the
// end of byte slot i + 1 from then, each in a write() of its own.
#pragma once

#include "frame.h"
#include "pty.h"
#include "sim_module.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace lorvane::bench {

// One request the thread saw, and what it did about it.
struct exchange_record
{
    frame request{};
    bool answered = false;
    std::int64_t request_readable_ns = 0;  // poll() reported its first byte readable
    std::int64_t reply_written_ns = 0;     // write() of the reply returned; 0 if not answered
    std::int64_t reply_due_ns = 0;         // when its last byte was due (paced), else 0
};

class module_thread
{
public:
    // Opens the pseudo-terminal and starts serving it with a module at `address`; with
    // byte_ns > 0, every byte takes that long on the line (10 bits at the baud rate). With
    // `junk`, every request is answered with those bytes instead: a line of noise alone.
    explicit module_thread(std::uint8_t address, std::int64_t byte_ns = 0,
                           std::vector<std::uint8_t> junk = {});
    // Stops the thread and closes the line.
    ~module_thread();
    module_thread(const module_thread&) = delete;
    module_thread& operator=(const module_thread&) = delete;

    // The path the tool opens as its port.
    const std::string& path() const noexcept { return line_.slave_path(); }

    // Waits up to timeout_ms until at least `count` records are logged, then hands over
    // and forgets all logged so far (possibly fewer than `count` on time-out).
    std::vector<exchange_record> take(std::size_t count, int timeout_ms);

    // The first failure the thread met (it stops serving then), empty while all is well.
    std::string failure() const;

private:
    void run();
    void serve(std::int64_t readable_ns);

    lorvane::pty_pair line_;
    lorvane::sim::sim_module module_;
    lorvane::sim::request_framer framer_;
    std::int64_t byte_ns_;
    std::vector<std::uint8_t> junk_;
    int stop_pipe_[2] = {-1, -1};

    mutable std::mutex mutex_;
    std::condition_variable logged_;
    std::vector<exchange_record> log_;
    std::string failure_;

    std::thread thread_;  // last: starts once everything above exists
};

}  // namespace lorvane::bench
