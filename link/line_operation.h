// One piece of work on the serial line: a module's transfer, a comparison, a scan, the
// window's chains. The line's owner (serial_link) runs one operation at a time, in the order
// they were submitted. An operation keeps its own request, hears only what arrives while it
// runs, and finishes exactly once: done, no reply, port closed, port lost or stopped. After
// that it sends and says nothing until it is submitted again.
#pragma once

#include "frame.h"
#include "frame_stream.h"

#include <QObject>

#include <optional>
#include <vector>

namespace lorvane {

class serial_link;

// How an operation ended.
enum class operation_end {
    done,         // it did what it was for
    no_reply,     // a request got no reply in time (after any retries)
    port_closed,  // the port was closed (or never open) before it was done
    port_lost,    // the port went away under it (adapter unplugged, server gone)
    stopped,      // stop() was called
};

// How a reply that passed the checksum and header test stands to the request on the line.
enum class reply_fit { answers, other_address, other_function, other_record };
reply_fit fit_of(const frame& reply, const frame& request);

// What became of one item the line received, as the running operation judged it; for
// tracing. Echoes and junk keep their own kinds.
enum class item_fate {
    accepted,        // a reply that answers the request on the line and moves things on (the
                     // window's chains: taken, to be judged when its handler runs)
    other_address,   // a valid reply, but from another module
    other_function,  // ... for another function
    other_record,    // ... for another record
    out_of_step,     // a valid reply that does not begin at an 8-byte step of its exchange
    unclaimed,       // a valid reply while no operation ran
    echo,            // a request handed back by the adapter
    junk,            // bytes that form no frame
};

// The fate of an item that is no reply (an echo or junk); nothing for a reply, which the
// operation judges.
std::optional<item_fate> fate_of_non_reply(const frame_stream::item& item);

class line_operation : public QObject
{
    Q_OBJECT

public:
    enum class state { idle, queued, running, finished };

    ~line_operation() override;

    bool running() const { return state_ == state::running; }
    // Queued or running: it has not finished yet.
    bool busy() const { return state_ == state::queued || state_ == state::running; }
    // The request this operation sent last (all zero before the first).
    const frame& request() const { return request_; }

    // Ends the operation with operation_end::stopped if it is queued or running; nothing more
    // is sent for it.
    void stop();

Q_SIGNALS:
    // Exactly once per submission. Listeners may submit again, but must not delete the
    // operation from here (deleteLater() is fine).
    void finished(lorvane::operation_end end);

protected:
    explicit line_operation(QObject* parent = nullptr);

    // The line is this operation's now: send the first request.
    virtual void begin() = 0;
    // One item that arrived while this operation runs, in the order received; returns what
    // became of it. A send from here discards the items behind it in the same chunk, as it
    // discards everything received so far.
    virtual item_fate take(const frame_stream::item& item) = 0;
    // Called after the items of one chunk of received bytes have been taken.
    virtual void chunk_taken() {}
    // The operation is ending (for any reason): stop timers. Called before finished().
    virtual void ending(operation_end) {}

    enum class input_mode {
        discard,  // drop everything received so far first: the exchange starts clean
        keep,     // keep it (the scan, where a late reply still counts)
    };
    // Sends `request` if this operation runs on an open port; returns whether it went out.
    bool send(const frame& request, input_mode mode = input_mode::discard);
    // The bytes still waiting to become a frame, as junk: no more are coming for them.
    std::vector<frame_stream::item> flush_input();
    // Bytes waiting at the stream's tail for more to complete a frame.
    std::size_t input_waiting() const;
    // Ends the operation with `end` if it is queued or running.
    void finish(operation_end end);

    serial_link* line() const { return line_; }
    // Runs this operation on `line`: queued behind the ones submitted before it, started from
    // the event loop. On a closed port it finishes with port_closed, also from the event loop.
    void submit_to(serial_link& line);

private:
    friend class serial_link;

    serial_link* line_ = nullptr;  // while busy; the line clears it if it goes first
    state state_ = state::idle;
    frame request_{};
};

}  // namespace lorvane
