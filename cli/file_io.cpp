#include "file_io.h"

#include <QFile>
#include <QStringDecoder>

#ifdef Q_OS_WIN
#include <QSaveFile>

#include <cstdio>
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

io_result failure(const QString& reason, bool partial = false)
{
    io_result result;
    result.result = io_result::status::failed;
    result.reason = reason;
    result.partial = partial;
    return result;
}

io_result ended(io_result::status status)
{
    io_result result;
    result.result = status;
    return result;
}

}  // namespace

#ifdef Q_OS_WIN

QString name_from_system(const QByteArray& bytes)
{
    return QFile::decodeName(bytes);
}

QByteArray name_for_system(const QString& name)
{
    return QFile::encodeName(name);
}

io_result read_input(const QString& name, interrupt_watch&)
{
    QFile file;
    const bool opened = name == QStringLiteral("-")
                            ? file.open(stdin, QIODevice::ReadOnly)
                            : (file.setFileName(name), file.open(QIODevice::ReadOnly));
    if (!opened)
        return failure(file.errorString());
    io_result result;
    result.bytes = file.read(MAX_INPUT_BYTES + 1);
    if (file.error() != QFileDevice::NoError)
        return failure(file.errorString());
    if (result.bytes.size() > MAX_INPUT_BYTES)
        return ended(io_result::status::too_large);
    return result;
}

io_result write_output(const QString& name, const QByteArray& bytes, interrupt_watch&)
{
    QSaveFile file(name);
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) ||
        file.write(bytes) != bytes.size() || !file.commit()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return failure(reason);
    }
    return {};
}

#else

namespace {

QString system_reason(int error)
{
    return qt_error_string(error);
}

// Lengths of UTF-8 sequences by their first byte; 0 for a byte that starts none.
int sequence_length(unsigned char lead)
{
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    return 0;
}

bool write_all(int fd, const QByteArray& bytes)
{
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, std::size_t(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        left -= written;
    }
    return true;
}

QByteArray folder_of(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : path.left(slash);
}

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

// Writes a temporary file beside `path`, flushes it to disk and renames it over `path`.
// `existing` is the file it replaces, whose permissions it takes; null for a new file.
io_result replace(const QByteArray& path, const QByteArray& bytes, const struct stat* existing)
{
    QByteArray temporary = path + ".XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return failure(system_reason(errno));
    mode_t mode = 0;
    if (existing) {
        mode = existing->st_mode & 07777;
        if (::geteuid() == 0) {  // root keeps a file's owner, as rewriting it in place would
            [[maybe_unused]] const int ignored = ::fchown(fd, existing->st_uid, existing->st_gid);
        }
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    bool written = ::fchmod(fd, mode) == 0 && write_all(fd, bytes) && ::fsync(fd) == 0;
    int error = errno;
    if (::close(fd) != 0 && written) {
        written = false;
        error = errno;
    }
    if (written && ::rename(temporary.constData(), path.constData()) == 0)
        return {};
    if (written)
        error = errno;
    ::unlink(temporary.constData());
    return failure(system_reason(error));
}

// Writes into what stands at `path`, opened with `flags` besides O_WRONLY. A FIFO without
// a reader is waited on, in steps, so that Ctrl-C can end the wait.
io_result write_in_place(const QByteArray& path, int flags, const QByteArray& bytes,
                         interrupt_watch& interrupts)
{
    const int open_flags = O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | flags;
    int fd = ::open(path.constData(), open_flags, 0666);
    while (fd < 0 && errno == ENXIO) {
        if (!interrupts.wait(-1, 100))
            return ended(io_result::status::interrupted);
        fd = ::open(path.constData(), open_flags, 0666);
    }
    if (fd < 0)
        return failure(system_reason(errno));
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    struct stat status
    {
    };
    const bool regular = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    bool written = write_all(fd, bytes) && (!regular || ::fsync(fd) == 0);
    int error = errno;
    if (::close(fd) != 0 && written) {
        written = false;
        error = errno;
    }
    if (written)
        return {};
    return failure(system_reason(error), regular && (flags & O_TRUNC));
}

}  // namespace

QString name_from_system(const QByteArray& bytes)
{
    constexpr auto flags =
        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom;
    QStringDecoder whole(QStringDecoder::Utf8, flags);
    QString name = whole(bytes);
    if (!whole.hasError())
        return name;
    name.clear();
    for (qsizetype i = 0; i < bytes.size();) {
        const int length = sequence_length(static_cast<unsigned char>(bytes[i]));
        if (length > 0 && i + length <= bytes.size()) {
            QStringDecoder one(QStringDecoder::Utf8, flags);
            const QString character = one(bytes.mid(i, length));
            if (!one.hasError()) {
                name += character;
                i += length;
                continue;
            }
        }
        name += QChar(char16_t(0xDC00 + static_cast<unsigned char>(bytes[i])));
        ++i;
    }
    return name;
}

QByteArray name_for_system(const QString& name)
{
    QByteArray bytes;
    qsizetype run = 0;
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = name[i].unicode();
        if (c < 0xDC80 || c > 0xDCFF || (i > 0 && name[i - 1].isHighSurrogate()))
            continue;
        bytes += name.mid(run, i - run).toUtf8();
        bytes += char(c - 0xDC00);
        run = i + 1;
    }
    return bytes + name.mid(run).toUtf8();
}

io_result read_input(const QString& name, interrupt_watch& interrupts)
{
    const bool standard_input = name == QStringLiteral("-");
    // Not blocking in open(): a FIFO without a writer is then waited on in the loop below,
    // where Ctrl-C ends the wait.
    const int fd = standard_input ? STDIN_FILENO
                                  : ::open(name_for_system(name).constData(),
                                           O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return failure(system_reason(errno));
    if (!standard_input)
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    io_result result;
    char buffer[65536];
    for (;;) {
        if (!interrupts.wait(fd)) {
            result = ended(io_result::status::interrupted);
            break;
        }
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            result = failure(system_reason(errno));
            break;
        }
        if (count == 0)
            break;
        result.bytes.append(buffer, count);
        if (result.bytes.size() > MAX_INPUT_BYTES) {
            result = ended(io_result::status::too_large);
            break;
        }
    }
    if (!standard_input)
        ::close(fd);
    return result;
}

io_result write_output(const QString& name, const QByteArray& bytes, interrupt_watch& interrupts)
{
    const QByteArray path = name_for_system(name);
    struct stat status
    {
    };
    if (::stat(path.constData(), &status) != 0) {
        if (errno != ENOENT)
            return failure(system_reason(errno));
        struct stat link
        {
        };
        if (::lstat(path.constData(), &link) == 0)  // a link to nothing: create its target
            return write_in_place(path, O_CREAT | O_TRUNC, bytes, interrupts);
        return replace(path, bytes, nullptr);
    }
    if (S_ISDIR(status.st_mode))
        return failure(system_reason(EISDIR));
    if (!S_ISREG(status.st_mode))
        return write_in_place(path, 0, bytes, interrupts);
    if (through_descriptor_link(path))
        return write_in_place(path, O_APPEND, bytes, interrupts);
    const QByteArray real = real_path(path);
    if (!real.isEmpty() && ::access(folder_of(real).constData(), W_OK) == 0)
        return replace(real, bytes, &status);
    return write_in_place(path, O_TRUNC, bytes, interrupts);
}

#endif

}  // namespace lorvane::cli
