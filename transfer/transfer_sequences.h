// Moving the configuration between window and module: one record at a time, and the
// whole 17-record write and read chains that the module's replies drive.
//
// The chains keep no position of their own: the record and function bytes of each accepted
// reply say where to go on, so a second click restarts from record 0, and write and read
// chains may interleave. What they do keep is for telling the user the truth: in the
// window each kind of chain (write, read) waits for the reply to its latest request with
// its own deadline, and a request whose time-out was reported stays stopped.
#pragma once

#include "frame.h"
#include "panel_config.h"
#include "panel_view.h"

#include <QString>
#include <QTimer>

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>

namespace lorvane {

class handler_gate;
class serial_link;

// How long a sent request waits for its reply before the user is told. A reply at
// 9600 baud takes about 17 ms for the round trip; 1 s leaves room for slow modules.
inline constexpr std::chrono::milliseconds REPLY_TIMEOUT{1000};

enum class transfer_kind { write, read };

// What a front end hears of a running transfer, as events: the window shows captions
// and messages through panel_view; other front ends listen here instead of reading texts.
// Each event comes after the view has been told.
class transfer_events
{
public:
    virtual ~transfer_events() = default;
    // The module confirmed `record`; the request for the next one has gone out, unless
    // a value of it was refused.
    virtual void record_confirmed(transfer_kind, int /*record*/) {}
    // The module confirmed record 16: the transfer is complete.
    virtual void transfer_completed(transfer_kind) {}
    // A value to be sent is not a byte (key 1..16 for key fields); nothing went out for it.
    virtual void value_refused(byte_field, int /*key*/) {}
};

inline const QString WRITE_CAPTION = QStringLiteral("写入到模块");
inline const QString READ_CAPTION = QStringLiteral("从模块读取");
inline const QString WRITE_PROGRESS = QStringLiteral("已写入 ");
inline const QString READ_PROGRESS = QStringLiteral("已读取 ");
inline const QString PORT_CLOSED_MESSAGE = QStringLiteral("先打开串口，然后写入");
inline const QString RECORD_TOO_LARGE_MESSAGE = QStringLiteral("数据量过大");
inline const QString WRITE_DONE_MESSAGE = QStringLiteral("全部数据写入完毕");
inline const QString READ_DONE_MESSAGE = QStringLiteral("全部数据读取完毕");

// The message shown when no reply came for `record` within the time-out.
QString no_reply_message(int record);

// The module-address test for a reply: `add` as a 32-bit integer, its remainder modulo
// 256 keeping the sign, equal to the reply's address byte. Non-integers never match.
bool address_matches(const QString& module_address_text, std::uint8_t reply_address);

class transfer_sequences
{
public:
    // `events`, when given, hears of every outcome (see transfer_events).
    transfer_sequences(panel_view& view, serial_link& link, transfer_events* events = nullptr);

    // "写入到模块" and "从模块读取": warn about a closed port, otherwise check every
    // value the transfer will send and, if all are bytes, send record 0.
    void write_all();
    void read_all();

    // Sends the write (read) request for `record` with the values the window holds
    // now. Returns false when nothing went out because a value is not a byte (the user
    // was told) or `record` is out of range (told above 16, silent below 0).
    bool write_record(record_no record);
    bool read_record(record_no record);

    // Puts the values of a read reply for `record` into the window.
    void apply_record(record_no record, std::uint8_t value1, std::uint8_t value2,
                      std::uint8_t value3);

    // Reacts to one accepted reply: advances the write or read chain it belongs to. Only
    // such a reply ends the wait for its kind of chain; any other leaves it running.
    void handle_reply(const frame& reply);

    // The window's values as a configuration, each checked as a write checks it: nothing
    // when one is not a byte (the user was told, as a write tells).
    std::optional<panel_config> config_for_write();

    // Makes every request these chains send wait for its reply (the window does; the
    // engine's sessions keep their own deadlines and retries). After REPLY_TIMEOUT without a reply
    // that moves its chain on, the user is told once through the view, run through `gate`; the late
    // reply to that very request is then ignored, so the chain stays stopped until that request is
    // sent again. Closing the port ends every wait silently.
    void watch_replies(handler_gate& gate);

    // True while a request of either kind waits for its reply.
    bool awaiting_reply() const;

private:
    // The wait of one kind of chain for the reply to its latest request.
    struct reply_wait
    {
        QTimer deadline;
        int record = 0;        // of the request waited for
        bool waiting = false;  // cleared by a reply that moves the chain on, or the close
        std::optional<int> stopped_record;  // a request whose time-out the user was told
    };
    reply_wait& wait_of(transfer_kind kind) { return waits_[kind == transfer_kind::write ? 0 : 1]; }
    void wait_for_reply(transfer_kind kind, int record);
    void on_deadline(transfer_kind kind);
    void end_wait(transfer_kind kind);
    // False for the late reply to a request whose time-out stopped its chain.
    bool may_move_on(transfer_kind kind, int record);

    // False for a record that cannot be sent; above 16 the user is told.
    bool record_in_range(record_no record);
    std::optional<std::uint8_t> module_address();
    std::optional<std::uint8_t> field_byte(const QString& text, byte_field field, int key);
    bool values_valid_for_write_all();

    panel_view& view_;
    serial_link& link_;
    transfer_events no_events_;
    transfer_events& events_;
    std::array<reply_wait, 2> waits_;  // write, read
    handler_gate* gate_ = nullptr;
};

}  // namespace lorvane
