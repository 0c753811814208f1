// Files people keep, for both front ends: names as the system gives them, a configuration
// file read whole but bounded and without ever blocking, a log appended to, and a file
// written whole or not at all. Problems come back as kinds with the system's own words; each front
// end words them.
#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <optional>
#include <variant>

namespace lorvane {

enum class file_problem {
    not_found,              // the file, or a folder on its path, does not exist
    permission_denied,      // the system refused access to the file or its folder
    is_folder,              // the name is a folder's
    not_regular,            // a FIFO, device or socket: never read or replaced
    not_writable,           // an existing file this program may not write
    disk_full,              // no space left, or the user's disk quota is used up
    name_too_long,          // the name, or one of its parts, is longer than allowed
    too_large,              // longer than the caller's bound
    read_only_file_system,  // the file lies on a read-only file system or medium
    other,                  // see the reason
};

struct file_failure
{
    file_problem kind = file_problem::other;
    QString reason;        // the system's own words; empty where the system gave none
    bool partial = false;  // a file rewritten in place failed midway: it may be incomplete
};

// The failure the system's own error number stands for (errno on Unix, GetLastError() on
// Windows), with the system's words.
file_failure system_failure(int error, bool partial = false);

// File names as the system gives them. On Unix a name is bytes: one that is not valid UTF-8
// keeps each stray byte as U+DC80 + byte, and goes back to the system as the same bytes.
QString name_from_system(const QByteArray& bytes);
QByteArray name_for_system(const QString& name);

// The file's bytes, or why they cannot be had.
using file_contents = std::variant<QByteArray, file_failure>;

// Reads the regular file `name` whole. Anything else (a folder, FIFO, device, socket) is
// refused at once, without a blocking open; a file longer than `max_size` bytes is refused
// as too_large after reading at most max_size + 1 bytes.
file_contents read_regular_file(const QString& name, qsizetype max_size);

// The last `max_size` bytes of the regular file `name` (all of it when shorter), refused
// like read_regular_file otherwise; at most max_size bytes are read, wherever the file ends.
file_contents read_file_tail(const QString& name, qsizetype max_size);

// A regular file held open for appending: every append lands at the file's end, whatever
// else appends to it meanwhile, and is on disk when append() returns (append_unflushed()
// leaves it to the system's cache instead). Closed when destroyed.
class append_file
{
public:
    append_file() = default;
    append_file(append_file&& other) noexcept;
    append_file& operator=(append_file&& other) noexcept;
    append_file(const append_file&) = delete;
    append_file& operator=(const append_file&) = delete;
    ~append_file();

    bool is_open() const { return handle_ != -1; }
    // Appends all of `bytes`, then flushes them to disk; why not, otherwise.
    std::optional<file_failure> append(const QByteArray& bytes);
    // Appends all of `bytes` in one write, without waiting for the disk: for a stream of
    // small records where a flush per record costs more than the work it records. What is
    // written survives the program being killed, not a power cut.
    std::optional<file_failure> append_unflushed(const QByteArray& bytes);
    void close();

private:
    friend std::variant<append_file, file_failure> open_append_file(const QString& name);
    explicit append_file(qintptr handle) : handle_(handle) {}

    qintptr handle_ = -1;  // a descriptor on Unix, a HANDLE on Windows
};

// Opens the regular file `name` for appending, creating it when it does not exist (and then
// flushing its folder to disk, so that the new file survives a power cut). Anything else (a
// folder, FIFO, device, socket) is refused at once, without an open that could wait or act
// on a device.
std::variant<append_file, file_failure> open_append_file(const QString& name);

// Writes `bytes` as file `name`, which must be a regular file or not exist yet (a symbolic
// link is followed to the file it names). The file is replaced whole: a temporary file with
// a short random name is written beside it, flushed to disk and renamed over it, and the
// folder itself is flushed, so the old contents stay until the new ones are complete and a
// power cut cannot undo the rename; the replacement is a new file (hard links to the old
// one keep the old contents). An existing file in a folder where no file can be created is
// rewritten in place instead (`partial` on a failure after it was emptied). A file this
// program may not write is refused (not_writable), as is anything that is not a regular
// file. Nothing on success.
std::optional<file_failure> write_regular_file(const QString& name, const QByteArray& bytes);

#ifndef Q_OS_WIN
// Writes all of `bytes` to descriptor `fd`, going on after EINTR; false with errno set on
// any other failure.
bool write_all(int fd, const QByteArray& bytes);

// The folder part of a system path: "." for a bare name, "/" for a name in the root.
QByteArray folder_of(const QByteArray& path);
#endif

}  // namespace lorvane
