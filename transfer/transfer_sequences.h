// Moving the configuration between window and module: one record at a time, and the whole
// 17-record write and read chains that the module's replies drive.
//
// The chains keep no position of their own: the record and function bytes of each accepted
// reply say where to go on, so a second click restarts from record 0, and write and read
// chains may interleave. What they do keep is for telling the user the truth: each kind of
// chain (write, read) waits for the reply to its latest request with its own deadline, and a
// request whose time-out was reported stays stopped. On the line the chains are one operation
// of its owner: they hold the line while a reply is awaited, and take replies that arrive while
// no other operation holds it; a comparison or a scan never hears them, nor they it.
#pragma once

#include "frame.h"
#include "panel_config.h"
#include "panel_view.h"

#include <QString>
#include <QTimer>

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

namespace lorvane {

class chain_line;
class handler_gate;
class serial_link;

// How long a sent request waits for its reply before the user is told. A reply at
// 9600 baud takes about 17 ms for the round trip; 1 s leaves room for slow modules.
inline constexpr std::chrono::milliseconds REPLY_TIMEOUT{1000};

// The module-address test for a reply: `add` as a 32-bit integer, its remainder modulo
// 256 keeping the sign, equal to the reply's address byte. Non-integers never match.
bool address_matches(const QString& module_address_text, std::uint8_t reply_address);

class transfer_sequences
{
public:
    transfer_sequences(panel_view& view, serial_link& link);
    ~transfer_sequences();
    transfer_sequences(const transfer_sequences&) = delete;
    transfer_sequences& operator=(const transfer_sequences&) = delete;

    // The write and read buttons: warn about a closed port, otherwise check every value the
    // transfer will send and, if all are bytes, send record 0.
    void write_all();
    void read_all();

    // Fills the write (read) request for `record` with the values the window holds now, and
    // sends it if the port is open and no other operation holds the line. Returns false when
    // nothing was built because a value is not a byte (the user was told) or `record` is out
    // of range (told above 16, silent below 0).
    bool write_record(record_no record);
    bool read_record(record_no record);

    // Puts the values of a read reply for `record` into the window.
    void apply_record(record_no record, std::uint8_t value1, std::uint8_t value2,
                      std::uint8_t value3);

    // Reacts to one accepted reply: advances the write or read chain it belongs to. Only
    // such a reply ends the wait for its kind of chain; any other leaves it running. Returns
    // whether it moved a chain on.
    bool handle_reply(const frame& reply);

    // The window's values as a configuration, each checked as a write checks it: nothing
    // when one is not a byte (the user was told, as a write tells).
    std::optional<panel_config> config_for_write();

    // Starts taking the line's replies, each handled through `gate` from the event loop, and
    // makes every request wait for its reply: after REPLY_TIMEOUT without a reply that moves
    // its chain on, the user is told once, through `gate`; the late reply to that very request
    // is then ignored, so the chain stays stopped until that request is sent again. Closing
    // the port ends every wait silently.
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

    // Sends `request` while the chains hold the line (taking it if it is free).
    bool transmit(const frame& request);
    // A reply from the line, handled later through the gate unless it is out of step.
    void queue_reply(const frame& reply, bool in_step, std::uint64_t generation,
                     std::uint64_t chunk);
    void take_queued_reply(const frame& reply, std::uint64_t generation, std::uint64_t chunk);
    // Lets go of the line once no request waits for its reply.
    void release_line();

    // False for a record that cannot be sent; above 16 the user is told.
    bool record_in_range(record_no record);
    std::optional<std::uint8_t> module_address();
    std::optional<std::uint8_t> field_byte(const QString& text, byte_field field, int key);
    bool values_valid_for_write_all();

    panel_view& view_;
    serial_link& link_;
    std::unique_ptr<chain_line> line_;
    std::array<reply_wait, 2> waits_;  // write, read
    handler_gate* gate_ = nullptr;
    // The chunk of received bytes whose reply last moved a chain on: like a receive event
    // that reads one reply, the replies behind it in that chunk are not taken.
    std::optional<std::uint64_t> acted_chunk_;
};

}  // namespace lorvane
