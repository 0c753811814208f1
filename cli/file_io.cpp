#include "file_io.h"

#include <QFile>

#ifdef Q_OS_WIN
#include <memory>
#include <thread>

#include <windows.h>
#else
#include <cerrno>
#include <climits>
#include <cstdlib>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace lorvane::cli {

namespace {

io_result failure(const file_failure& failed)
{
    io_result result;
    result.result = io_result::status::failed;
    result.failure = failed;
    return result;
}

io_result ended(io_result::status status)
{
    io_result result;
    result.result = status;
    return result;
}

io_result from_shared(file_contents contents)
{
    if (auto* failed = std::get_if<file_failure>(&contents)) {
        return failed->kind == file_problem::too_large ? ended(io_result::status::too_large)
                                                       : failure(*failed);
    }
    io_result result;
    result.bytes = std::move(std::get<QByteArray>(contents));
    return result;
}

io_result from_shared(const std::optional<file_failure>& failed)
{
    return failed ? failure(*failed) : io_result{};
}

}  // namespace

QString failure_text(const file_failure& failure)
{
    switch (failure.kind) {
    case file_problem::not_regular:
        return QStringLiteral("not a regular file (a device, FIFO or socket)");
    case file_problem::not_writable:
        return failure.reason.isEmpty()
                   ? QStringLiteral("the file is not writable")
                   : QStringLiteral("the file is not writable (%1)").arg(failure.reason);
    case file_problem::too_large:
        return QStringLiteral("too large");
    default:
        return failure.reason.isEmpty() ? QStringLiteral("cannot be accessed") : failure.reason;
    }
}

#ifdef Q_OS_WIN

namespace {

// Standard input, read on a thread of its own: a read that waits for a pipe or the console
// cannot be ended on the thread that waits in it, so this thread waits for the reader or for
// Ctrl-C, whichever comes first. An interrupted reader is left to the end of the program.
io_result read_standard_input(interrupt_watch& interrupts)
{
    struct reading
    {
        QByteArray bytes;
        DWORD error = 0;
        bool too_large = false;
        HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    };
    const auto state = std::make_shared<reading>();
    if (!state->done)
        return failure(system_failure(int(GetLastError())));
    std::thread reader([state] {
        const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
        char buffer[65536];
        for (;;) {
            DWORD got = 0;
            if (!ReadFile(input, buffer, sizeof buffer, &got, nullptr)) {
                const DWORD error = GetLastError();
                if (error != ERROR_BROKEN_PIPE && error != ERROR_HANDLE_EOF)
                    state->error = error;  // a closed pipe is the end of the input
                break;
            }
            if (got == 0)
                break;
            state->bytes.append(buffer, qsizetype(got));
            if (state->bytes.size() > MAX_INPUT_BYTES) {
                state->too_large = true;
                break;
            }
        }
        SetEvent(state->done);
    });
    if (!interrupts.wait_for_object(state->done)) {
        reader.detach();
        return ended(io_result::status::interrupted);
    }
    reader.join();
    CloseHandle(state->done);
    if (state->error != 0)
        return failure(system_failure(int(state->error)));
    if (state->too_large)
        return ended(io_result::status::too_large);
    io_result result;
    result.bytes = state->bytes;
    return result;
}

}  // namespace

io_result read_input(const QString& name, interrupt_watch& interrupts)
{
    if (name == QStringLiteral("-"))
        return read_standard_input(interrupts);
    return from_shared(read_regular_file(name, MAX_INPUT_BYTES));
}

io_result write_output(const QString& name, const QByteArray& bytes, interrupt_watch&)
{
    const std::optional<file_failure> failed = write_regular_file(name, bytes);
    if (!failed || failed->kind != file_problem::not_regular)
        return from_shared(failed);
    // A device (NUL, a console): written into.
    QFile device(name);
    if (!device.open(QIODevice::WriteOnly | QIODevice::ExistingOnly | QIODevice::Unbuffered) ||
        device.write(bytes) != bytes.size())
        return failure({file_problem::other, device.errorString(), false});
    return {};
}

#else

namespace {

QByteArray real_path(const QByteArray& path)
{
    char resolved[PATH_MAX];
    return ::realpath(path.constData(), resolved) ? QByteArray(resolved) : QByteArray();
}

// Whether `path` leads through one of the system's descriptor links (/dev/stdout,
// /dev/fd/N, /proc/self/fd/N): the file behind it is open already, perhaps for appending,
// and is the caller's, not ours to replace.
bool through_descriptor_link(QByteArray path)
{
    for (int depth = 0; depth < 40; ++depth) {
        struct stat status
        {
        };
        if (::lstat(path.constData(), &status) != 0 || !S_ISLNK(status.st_mode))
            return false;
        const QByteArray folder = folder_of(path);
        if (real_path(folder).startsWith("/proc/"))
            return true;
        char target[PATH_MAX];
        const ssize_t length = ::readlink(path.constData(), target, sizeof target);
        if (length < 0)
            return false;
        path = QByteArray(target, length);
        if (!path.startsWith('/'))
            path = folder + '/' + path;
    }
    return false;
}

// Writes into what stands at `path`, opened with `flags` besides O_WRONLY. A FIFO without
// a reader is waited on, in steps, so that Ctrl-C can end the wait.
io_result write_in_place(const QByteArray& path, int flags, const QByteArray& bytes,
                         interrupt_watch& interrupts)
{
    const int open_flags = O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | flags;
    int fd = ::open(path.constData(), open_flags);
    while (fd < 0 && errno == ENXIO) {
        if (!interrupts.wait(-1, 100))
            return ended(io_result::status::interrupted);
        fd = ::open(path.constData(), open_flags);
    }
    if (fd < 0)
        return failure(system_failure(errno));
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    struct stat status
    {
    };
    const bool regular = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);  // appended to
    bool written = write_all(fd, bytes) && (!regular || ::fsync(fd) == 0);
    int error = errno;
    if (::close(fd) != 0 && written) {
        written = false;
        error = errno;
    }
    return written ? io_result{} : failure(system_failure(error));
}

// Reads what `fd` gives until its end, at most MAX_INPUT_BYTES; Ctrl-C ends the wait.
io_result read_stream(int fd, interrupt_watch& interrupts)
{
    io_result result;
    char buffer[65536];
    for (;;) {
        if (!interrupts.wait(fd))
            return ended(io_result::status::interrupted);
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            return failure(system_failure(errno));
        }
        if (count == 0)
            return result;
        result.bytes.append(buffer, count);
        if (result.bytes.size() > MAX_INPUT_BYTES)
            return ended(io_result::status::too_large);
    }
}

}  // namespace

io_result read_input(const QString& name, interrupt_watch& interrupts)
{
    if (name == QStringLiteral("-"))
        return read_stream(STDIN_FILENO, interrupts);
    const QByteArray path = name_for_system(name);
    struct stat status
    {
    };
    if (::stat(path.constData(), &status) != 0 || S_ISREG(status.st_mode) ||
        S_ISDIR(status.st_mode))
        return from_shared(read_regular_file(name, MAX_INPUT_BYTES));
    // A FIFO, a pipe (<(…)), a terminal or another device: read as it comes. Not blocking in
    // open(): a FIFO without a writer is then waited on in read_stream(), where Ctrl-C ends
    // the wait.
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return failure(system_failure(errno));
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    io_result result = read_stream(fd, interrupts);
    ::close(fd);
    return result;
}

io_result write_output(const QString& name, const QByteArray& bytes, interrupt_watch& interrupts)
{
    const QByteArray path = name_for_system(name);
    struct stat status
    {
    };
    if (::stat(path.constData(), &status) == 0 && !S_ISDIR(status.st_mode)) {
        if (!S_ISREG(status.st_mode))
            return write_in_place(path, 0, bytes, interrupts);
        if (through_descriptor_link(path))
            return write_in_place(path, O_APPEND, bytes, interrupts);
    }
    return from_shared(write_regular_file(name, bytes));
}

#endif

}  // namespace lorvane::cli
