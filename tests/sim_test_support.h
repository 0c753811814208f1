// What the simulator's tests share: byte conversions, the tool's default records, framing
// in chunks, a client port on a pseudo-terminal, and playing a line on the test's clock.
#pragma once

#include "pty.h"
#include "sim_faults.h"
#include "sim_line.h"
#include "sim_module.h"
#include "sim_process.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QString>
#include <QTest>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace sim_test {

using namespace lorvane;
using namespace lorvane::sim;

// Generous waits for things that must happen, short ones for things that must not.
inline constexpr int REPLY_TIMEOUT_MS = 5000;
inline constexpr int SILENCE_WINDOW_MS = 300;

inline QByteArray to_bytes(std::span<const std::uint8_t> bytes)
{
    return QByteArray(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<qsizetype>(bytes.size()));
}

inline std::span<const std::uint8_t> as_span(const QByteArray& bytes)
{
    return {reinterpret_cast<const std::uint8_t*>(bytes.constData()),
            static_cast<std::size_t>(bytes.size())};
}

inline frame to_frame(const QByteArray& bytes)
{
    frame result{};
    std::copy_n(as_span(bytes).begin(), std::min(result.size(), as_span(bytes).size()),
                result.begin());
    return result;
}

inline QByteArray hex_bytes(const char* text)
{
    return QByteArray::fromHex(QByteArray(text));
}

// The tool's defaults, written out from the protocol rather than taken from the module.
inline record_values expected_default(std::size_t index)
{
    if (index == 0)
        return {50, 0, 0};
    return {1, static_cast<std::uint8_t>(index), 1};
}

inline QByteArray reply_with(std::uint8_t address, std::uint8_t function, std::uint8_t index,
                             const record_values& values)
{
    return to_bytes(make_reply(address, function, index, values[0], values[1], values[2]));
}

inline QByteArray read_request(std::uint8_t address, std::uint8_t index)
{
    return to_bytes(make_request(FUNC_READ, address, index, 0, 0, 0));
}

// The reply the module gives, or an empty array when it stays silent.
inline QByteArray ask(sim_module& module, const QByteArray& request)
{
    const std::optional<frame> reply = module.answer(to_frame(request));
    return reply ? to_bytes(*reply) : QByteArray();
}

// What a framer finds in a stream fed as the given chunks; chunk k carries stamp k.
inline std::vector<received_request> frame_in_chunks(const QByteArray& stream,
                                                     const std::vector<qsizetype>& cuts)
{
    request_framer framer;
    std::vector<received_request> found;
    qsizetype start = 0;
    std::int64_t stamp = 0;
    std::vector<qsizetype> ends = cuts;
    ends.push_back(stream.size());
    for (const qsizetype end : ends) {
        const QByteArray chunk = stream.mid(start, end - start);
        for (const auto& request : framer.feed(as_span(chunk), stamp))
            found.push_back(request);
        start = end;
        ++stamp;
    }
    return found;
}

// Chunk index (as stamped by frame_in_chunks) holding byte `offset` of the stream.
inline std::int64_t chunk_of(std::uint64_t offset, const std::vector<qsizetype>& cuts)
{
    return std::count_if(cuts.begin(), cuts.end(), [offset](qsizetype cut) {
        return static_cast<std::uint64_t>(cut) <= offset;
    });
}

inline std::unique_ptr<tty_port> open_port(const QString& path)
{
    return std::make_unique<tty_port>(path.toStdString());
}

inline QByteArray exchange(tty_port& port, const QByteArray& request,
                           std::size_t reply_size = FRAME_SIZE)
{
    port.write_all(as_span(request));
    return to_bytes(port.read_exact(reply_size, REPLY_TIMEOUT_MS));
}

// The simulator's log so far, read until it holds `count` lines with `marker` or a generous
// time has passed, so that a test does not stop it before it has dealt with all it was sent.
inline QString log_until(sim_process& sim, QLatin1String marker, qsizetype count)
{
    sim.process.setReadChannel(QProcess::StandardError);
    QString log;
    QDeadlineTimer deadline(REPLY_TIMEOUT_MS);
    for (;;) {
        log += QString::fromLocal8Bit(sim.process.readAllStandardError());
        if (log.count(marker) >= count || deadline.hasExpired())
            return log;
        sim.process.waitForReadyRead(static_cast<int>(deadline.remainingTime()));
    }
}

constexpr std::int64_t MS = 1'000'000;  // ns

// One write a sim_line made, and when.
struct delivery
{
    std::int64_t at_ns;
    QByteArray bytes;
};

// Runs `line` on the test's clock up to `until_ns`, stepping from one due moment to the next,
// and appends what it writes to `out`.
inline void play_until(sim_line& line, std::int64_t until_ns, std::vector<delivery>& out)
{
    for (std::optional<std::int64_t> due = line.next_due(); due && *due <= until_ns;
         due = line.next_due()) {
        line.advance(*due, [&](std::span<const std::uint8_t> bytes) {
            out.push_back({*due, to_bytes(bytes)});
            return std::string();
        });
    }
}

inline QByteArray all_bytes(const std::vector<delivery>& deliveries)
{
    QByteArray bytes;
    for (const auto& d : deliveries)
        bytes += d.bytes;
    return bytes;
}

inline bool accepted_reply(const QByteArray& bytes)
{
    return bytes.size() == FRAME_SIZE && reply_accepted(to_frame(bytes));
}

}  // namespace sim_test
