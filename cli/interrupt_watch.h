// Ctrl-C (and SIGTERM on Unix) as a signal of the event loop, so that a running transfer
// can close the port and end the program in order; and as the end of a wait for input. A
// second interrupt while the first is still being handled ends the program at once, with
// the exit code of the second (130 for Ctrl-C, 143 for SIGTERM).
#pragma once

#include <QObject>

namespace lorvane::cli {

class interrupt_watch final : public QObject
{
    Q_OBJECT

public:
    // Takes over the interrupt until destroyed; only one may exist at a time.
    interrupt_watch();
    ~interrupt_watch() override;
    interrupt_watch(const interrupt_watch&) = delete;
    interrupt_watch& operator=(const interrupt_watch&) = delete;

    // Blocks until `fd` has something to read (or, with fd -1, until `timeout_ms` has passed)
    // or an interrupt comes; false for the interrupt. A timeout_ms of -1 waits for ever.
    // Unix only; elsewhere it returns true at once.
    bool wait(int fd, int timeout_ms = -1);

    // Blocks until `handle` (an event, a thread) is signalled or an interrupt comes; false
    // for the interrupt. Windows only; elsewhere it returns true at once.
    bool wait_for_object(void* handle);

    // Whether the interrupt that came was a request to terminate (SIGTERM) rather than
    // Ctrl-C; meaningful once interrupted() was emitted or wait() returned false.
    bool terminated() const { return terminated_; }

Q_SIGNALS:
    void interrupted();

private:
    // Empties the signal pipe; true when a signal was in it.
    bool take_signals();

    struct platform;
    platform* platform_;
    bool terminated_ = false;
};

}  // namespace lorvane::cli
