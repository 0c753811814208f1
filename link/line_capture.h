// A capture of what a run's lines carry, in one pcapng file that any packet analyser opens:
// one interface per port, one packet per write and per chunk received, with its direction
// and its time in nanoseconds. The file begins whole (its section header written as a new
// file, never over a FIFO or device), then every block is appended in one write as it
// happens, so that a program killed midway leaves a file that reads up to its last block.
// Nothing is queued: memory stays the same however much the line sends. The capture stops
// for good at its size limit or at the first failed write, and says so once.
#pragma once

#include "file_access.h"
#include "pcapng.h"

#include <QByteArrayView>
#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <variant>

namespace lorvane {

class line_capture final : public QObject
{
    Q_OBJECT

public:
    enum class stop_reason : std::uint8_t {
        none,          // still recording
        limit,         // the next block would have made the file longer than the limit
        write_failed,  // a write failed (see failure()); the file ends at the last whole block
    };

    // Creates capture file `name` with its section header (`comment`: the tool, its version
    // and the command; `application`: the tool and its version), to grow to at most
    // `limit_bytes` bytes. Why not, when the file cannot be created; nothing is left then
    // but what the file opener leaves on a failure.
    static std::variant<std::unique_ptr<line_capture>, file_failure>
    create(const QString& name, const QString& comment, const QString& application,
           std::uint64_t limit_bytes);
    ~line_capture() override;

    // Adds an interface for the port `port` names (as the user gave it) and returns its
    // index, which record() takes.
    std::uint32_t add_interface(const QString& port);
    // Records `bytes` on interface `interface` at `time_ns` (nanoseconds since 1970). Nothing
    // once stopped; an empty chunk is not recorded.
    void record(std::uint32_t interface, pcapng::direction way, std::int64_t time_ns,
                QByteArrayView bytes);

    // Nanoseconds since 1970 now, as record() takes them.
    static std::int64_t now_ns();

    QString file_name() const { return name_; }
    std::uint64_t limit() const { return limit_; }
    std::uint64_t size() const { return size_; }  // bytes in the file so far
    std::uint64_t packets() const { return packets_; }
    stop_reason stopped() const { return stopped_; }
    // The failed write's reason, when stopped() is write_failed.
    const std::optional<file_failure>& failure() const { return failure_; }

Q_SIGNALS:
    // The capture has stopped (stopped() says why); emitted once, from inside the record()
    // or add_interface() that stopped it.
    void capture_stopped(lorvane::line_capture::stop_reason why);

private:
    line_capture(const QString& name, append_file file, std::uint64_t size, std::uint64_t limit);
    // Appends one whole block, or stops the capture; false when nothing was written.
    bool append(const QByteArray& block);
    void stop(stop_reason why);

    QString name_;
    append_file file_;
    std::uint64_t size_ = 0;  // bytes, the section header included
    std::uint64_t limit_ = 0;
    std::uint64_t packets_ = 0;
    std::uint32_t interfaces_ = 0;
    stop_reason stopped_ = stop_reason::none;
    std::optional<file_failure> failure_;
};

}  // namespace lorvane
