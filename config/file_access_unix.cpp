// The POSIX half of the file access: descriptors, stat and rename.
#include "file_access.h"
#include "file_access_parts.h"

#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <climits>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lorvane {

using namespace file_parts;

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

namespace {

file_failure failure_of(int error, bool partial = false)
{
    file_problem kind = file_problem::other;
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        kind = file_problem::not_found;
        break;
    case EACCES:
    case EPERM:
        kind = file_problem::permission_denied;
        break;
    case EISDIR:
        kind = file_problem::is_folder;
        break;
    case ENOSPC:
    case EDQUOT:
        kind = file_problem::disk_full;
        break;
    case ENAMETOOLONG:
        kind = file_problem::name_too_long;
        break;
    case EROFS:
        kind = file_problem::read_only_file_system;
        break;
    default:
        break;
    }
    return {kind, qt_error_string(error), partial};
}

// What stands at a name that is not a regular file, as a refusal.
file_failure not_regular(const struct stat& status)
{
    return S_ISDIR(status.st_mode) ? failure_of(EISDIR) : refused(file_problem::not_regular);
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

// `path` with the symbolic links of its last part followed: where a replacement must go
// for the links to keep naming it. A loop of links is left for stat() to report.
QByteArray followed_links(QByteArray path)
{
    for (int depth = 0; depth < 40; ++depth) {
        struct stat status
        {
        };
        if (::lstat(path.constData(), &status) != 0 || !S_ISLNK(status.st_mode))
            return path;
        QByteArray target(PATH_MAX, '\0');
        const ssize_t length = ::readlink(path.constData(), target.data(), PATH_MAX);
        if (length < 0)
            return path;
        target.truncate(length);
        path = target.startsWith('/') ? target : folder_of(path) + '/' + target;
    }
    return path;
}

// Flushes the folder's entries to disk, so that a rename in it survives a power cut. A
// folder this program may not open for reading, or a file system that cannot flush folders,
// is left as it is: the rename has been done.
std::optional<file_failure> flush_folder(const QByteArray& folder)
{
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    const bool flushed = ::fsync(fd) == 0 || errno == EINVAL;
    const int error = errno;
    ::close(fd);
    if (flushed)
        return std::nullopt;
    return failure_of(error);
}

// Truncates the regular file at `path` and writes `bytes` into it, flushed to disk.
std::optional<file_failure> rewrite_in_place(const QByteArray& path, const QByteArray& bytes)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return failure_of(errno);
    struct stat status
    {
    };
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {  // swapped meanwhile
        ::close(fd);
        return not_regular(status);
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    const bool emptied = ::ftruncate(fd, 0) == 0;
    bool written = emptied && write_all(fd, bytes) && ::fsync(fd) == 0;
    int error = errno;
    if (::close(fd) != 0 && written) {
        written = false;
        error = errno;
    }
    if (written)
        return std::nullopt;
    return failure_of(error, emptied);
}

// Writes a temporary file beside `path`, flushes it to disk, renames it over `path` and
// flushes the folder. `existing` is the file it replaces, whose permissions (and, for root,
// owner) it takes; null for a new file.
std::optional<file_failure> replace(const QByteArray& path, const QByteArray& bytes,
                                    const struct stat* existing)
{
    const QByteArray folder = folder_of(path);
    QByteArray temporary;
    int fd = -1;
    for (int tries = 0; fd < 0 && tries < TEMPORARY_TRIES; ++tries) {
        temporary = folder + '/' + temporary_name();
        // Private until written; a new file's mode is then 0666 less the umask.
        fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                    existing ? 0600 : 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        const int error = errno;
        // No new file can be made in the folder: an existing file is rewritten where it is.
        if (existing && (error == EACCES || error == EPERM || error == EROFS))
            return rewrite_in_place(path, bytes);
        return failure_of(error);
    }
    bool written = true;
    if (existing) {
        if (::geteuid() == 0) {  // root keeps a file's owner, as rewriting it in place would
            [[maybe_unused]] const int ignored = ::fchown(fd, existing->st_uid, existing->st_gid);
        }
        written = ::fchmod(fd, existing->st_mode & 07777) == 0;
    }
    written = written && write_all(fd, bytes) && ::fsync(fd) == 0;
    int error = errno;
    if (::close(fd) != 0 && written) {
        written = false;
        error = errno;
    }
    if (written && ::rename(temporary.constData(), path.constData()) == 0)
        return flush_folder(folder);
    if (written)
        error = errno;
    ::unlink(temporary.constData());
    return failure_of(error);
}

}  // namespace

file_failure system_failure(int error, bool partial)
{
    return failure_of(error, partial);
}

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

namespace {

// Opens the regular file `name` for reading, blocking reads; `status` is its stat. Looked at
// before it is opened: a device is never opened (that alone may act on it), and the open
// cannot wait for a FIFO's writer.
std::variant<int, file_failure> open_for_reading(const QString& name, struct stat& status)
{
    const QByteArray path = name_for_system(name);
    if (::stat(path.constData(), &status) != 0)
        return failure_of(errno);
    if (!S_ISREG(status.st_mode))
        return not_regular(status);
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return failure_of(errno);
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {  // put there since the stat
        ::close(fd);
        return not_regular(status);
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

}  // namespace

file_contents read_regular_file(const QString& name, qsizetype max_size)
{
    struct stat status
    {
    };
    const auto opened = open_for_reading(name, status);
    if (const auto* failure = std::get_if<file_failure>(&opened))
        return *failure;
    const int fd = std::get<int>(opened);
    QByteArray bytes;
    for (;;) {
        const qsizetype had = bytes.size();
        bytes.resize(had + READ_CHUNK);
        const ssize_t count = ::read(fd, bytes.data() + had, std::size_t(READ_CHUNK));
        if (count < 0 && errno == EINTR) {
            bytes.resize(had);
            continue;
        }
        if (count < 0) {
            const int error = errno;
            ::close(fd);
            return failure_of(error);
        }
        bytes.resize(had + count);
        if (count == 0)
            break;
        if (bytes.size() > max_size) {
            ::close(fd);
            return refused(file_problem::too_large);
        }
    }
    ::close(fd);
    return bytes;
}

file_contents read_file_tail(const QString& name, qsizetype max_size)
{
    struct stat status
    {
    };
    const auto opened = open_for_reading(name, status);
    if (const auto* failure = std::get_if<file_failure>(&opened))
        return *failure;
    const int fd = std::get<int>(opened);
    const off_t start = status.st_size > max_size ? status.st_size - off_t(max_size) : 0;
    QByteArray bytes(qsizetype(status.st_size - start), '\0');
    qsizetype had = 0;
    while (had < bytes.size()) {
        const ssize_t count =
            ::pread(fd, bytes.data() + had, std::size_t(bytes.size() - had), start + off_t(had));
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0) {
            const int error = errno;
            ::close(fd);
            return failure_of(error);
        }
        if (count == 0)  // cut short meanwhile
            break;
        had += count;
    }
    ::close(fd);
    bytes.truncate(had);
    return bytes;
}

std::optional<file_failure> write_regular_file(const QString& name, const QByteArray& bytes)
{
    const QByteArray path = followed_links(name_for_system(name));
    struct stat status
    {
    };
    if (::stat(path.constData(), &status) != 0) {
        if (errno != ENOENT)
            return failure_of(errno);
        return replace(path, bytes, nullptr);
    }
    if (!S_ISREG(status.st_mode))
        return not_regular(status);
    if (::faccessat(AT_FDCWD, path.constData(), W_OK, AT_EACCESS) != 0) {
        if (errno == EROFS)
            return failure_of(EROFS);
        return refused(file_problem::not_writable, qt_error_string(errno));
    }
    return replace(path, bytes, &status);
}

void append_file::close()
{
    if (handle_ != -1)
        ::close(int(handle_));
    handle_ = -1;
}

std::optional<file_failure> append_file::append(const QByteArray& bytes)
{
    if (!is_open())
        return failure_of(EBADF);
    const int fd = int(handle_);
    if (!write_all(fd, bytes) || ::fsync(fd) != 0)
        return failure_of(errno);
    return std::nullopt;
}

std::optional<file_failure> append_file::append_unflushed(const QByteArray& bytes)
{
    if (!is_open())
        return failure_of(EBADF);
    if (!write_all(int(handle_), bytes))
        return failure_of(errno);
    return std::nullopt;
}

std::variant<append_file, file_failure> open_append_file(const QString& name)
{
    const QByteArray path = name_for_system(name);
    struct stat status
    {
    };
    // As for a read: a device is never opened, and a FIFO found here is refused before the
    // open, which (non-blocking) cannot wait for a reader either.
    if (::stat(path.constData(), &status) == 0 && !S_ISREG(status.st_mode))
        return not_regular(status);
    constexpr int flags = O_WRONLY | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    // Created here, or there already: only a new file needs its folder flushed.
    int fd = ::open(path.constData(), flags | O_CREAT | O_EXCL, 0666);
    const bool created = fd >= 0;
    if (!created && errno == EEXIST)
        fd = ::open(path.constData(), flags);
    if (fd < 0 && errno == ENXIO)  // a FIFO without a reader, put there since the stat
        return refused(file_problem::not_regular);
    if (fd < 0)
        return failure_of(errno);
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {  // put there since the stat
        ::close(fd);
        return not_regular(status);
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (created) {
        if (auto failure = flush_folder(folder_of(path))) {
            ::close(fd);
            return *failure;
        }
    }
    return append_file(fd);
}

}  // namespace lorvane
