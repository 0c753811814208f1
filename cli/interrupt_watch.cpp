#include "interrupt_watch.h"

#include "cli.h"

#ifdef Q_OS_WIN
#include <QMetaObject>

#include <utility>

#include <windows.h>
#else
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#endif

namespace lorvane::cli {

#ifdef Q_OS_WIN

namespace {
interrupt_watch* active_watch = nullptr;
// Set by the first Ctrl-C, for waits of this program's own (manual reset: stays set).
HANDLE interrupt_event = nullptr;
volatile LONG interrupts_seen = 0;

// Runs on a thread of its own that the system starts for the console event.
BOOL WINAPI on_console_event(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;
    if (InterlockedIncrement(&interrupts_seen) > 1)
        TerminateProcess(GetCurrentProcess(), EXIT_INTERRUPTED);  // pressed again: at once
    if (interrupt_event)
        SetEvent(interrupt_event);
    if (interrupt_watch* watch = active_watch)
        QMetaObject::invokeMethod(watch, &interrupt_watch::interrupted, Qt::QueuedConnection);
    return TRUE;
}
}  // namespace

struct interrupt_watch::platform
{
};

interrupt_watch::interrupt_watch() : platform_(nullptr)
{
    interrupt_event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    interrupts_seen = 0;
    active_watch = this;
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

interrupt_watch::~interrupt_watch()
{
    SetConsoleCtrlHandler(on_console_event, FALSE);
    active_watch = nullptr;
    if (interrupt_event)
        CloseHandle(std::exchange(interrupt_event, nullptr));
}

bool interrupt_watch::wait(int, int)
{
    return true;
}

bool interrupt_watch::wait_for_object(void* handle)
{
    if (!interrupt_event)
        return WaitForSingleObject(handle, INFINITE) != WAIT_FAILED;
    // The interrupt first: where both are signalled, it wins.
    const HANDLE objects[2] = {interrupt_event, handle};
    return WaitForMultipleObjects(2, objects, FALSE, INFINITE) != WAIT_OBJECT_0;
}

#else

namespace {
volatile sig_atomic_t signal_pipe_write = -1;
volatile sig_atomic_t signal_pending = 0;  // a signal came; the program is ending on it

// Only writes the signal's number: the event loop, or a wait, does the rest. A second
// signal while the first is still being handled (a close that hangs, a write that waits)
// ends the program at once.
void on_signal(int number)
{
    if (signal_pending)
        ::_exit(number == SIGTERM ? EXIT_TERMINATED : EXIT_INTERRUPTED);
    signal_pending = 1;
    const int saved = errno;
    const auto byte = static_cast<char>(number);
    [[maybe_unused]] const ssize_t ignored = ::write(signal_pipe_write, &byte, 1);
    errno = saved;
}
}  // namespace

struct interrupt_watch::platform
{
    int pipe_ends[2] = {-1, -1};
    QSocketNotifier* notifier = nullptr;
    struct sigaction previous_int
    {
    };
    struct sigaction previous_term
    {
    };
};

interrupt_watch::interrupt_watch() : platform_(new platform)
{
    if (::pipe(platform_->pipe_ends) != 0)
        return;  // no interrupt handling; Ctrl-C then ends the program the default way
    for (const int fd : platform_->pipe_ends) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    signal_pipe_write = platform_->pipe_ends[1];
    signal_pending = 0;
    platform_->notifier = new QSocketNotifier(platform_->pipe_ends[0], QSocketNotifier::Read, this);
    connect(platform_->notifier, &QSocketNotifier::activated, this, [this] {
        if (take_signals())
            Q_EMIT interrupted();
    });
    struct sigaction action
    {
    };
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, SIGINT);  // one handler at a time, so the second sees the first
    sigaddset(&action.sa_mask, SIGTERM);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, &platform_->previous_int);
    ::sigaction(SIGTERM, &action, &platform_->previous_term);
}

bool interrupt_watch::wait_for_object(void*)
{
    return true;
}

bool interrupt_watch::take_signals()
{
    char byte = 0;
    bool any = false;
    while (::read(platform_->pipe_ends[0], &byte, 1) == 1) {
        any = true;
        terminated_ = terminated_ || byte == SIGTERM;
    }
    return any;
}

bool interrupt_watch::wait(int fd, int timeout_ms)
{
    if (!platform_->notifier) {  // no handler: an interrupt ends the program the default way
        if (fd < 0)
            ::poll(nullptr, 0, timeout_ms);
        return true;
    }
    pollfd fds[2] = {{platform_->pipe_ends[0], POLLIN, 0}, {fd, POLLIN, 0}};
    for (;;) {
        const int ready = ::poll(fds, 2, timeout_ms);
        if (ready < 0 && errno == EINTR)
            continue;  // the handler has written its byte; the next poll sees it
        if (fds[0].revents & POLLIN && take_signals())
            return false;
        return true;  // input, end of input, an error to be met by the read, or the time
    }
}

interrupt_watch::~interrupt_watch()
{
    if (platform_->notifier) {
        ::sigaction(SIGINT, &platform_->previous_int, nullptr);
        ::sigaction(SIGTERM, &platform_->previous_term, nullptr);
        signal_pipe_write = -1;
        for (const int fd : platform_->pipe_ends)
            ::close(fd);
    }
    delete platform_;
}

#endif

}  // namespace lorvane::cli
