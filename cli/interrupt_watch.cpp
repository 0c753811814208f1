#include "interrupt_watch.h"

#ifdef Q_OS_WIN
#include <QMetaObject>

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

// Runs on a thread of its own that the system starts for the console event.
BOOL WINAPI on_console_event(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;
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
    active_watch = this;
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

interrupt_watch::~interrupt_watch()
{
    SetConsoleCtrlHandler(on_console_event, FALSE);
    active_watch = nullptr;
}

bool interrupt_watch::wait(int, int)
{
    return true;
}

#else

namespace {
int signal_pipe_write = -1;

// Only writes the signal's number: the event loop, or a wait, does the rest.
void on_signal(int number)
{
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
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, &platform_->previous_int);
    ::sigaction(SIGTERM, &action, &platform_->previous_term);
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
