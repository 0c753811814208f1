// Runs the window's event handlers one at a time. A handler may show a modal message box,
// and the box's own event loop goes on delivering the port's replies, time-outs and other
// events; each of those waits here, in arrival order, and runs once the handler that
// showed the box has returned (the user confirmed it), with the effect it would have had.
//
// What the line sends is bounded here: while a handler runs, at most one event of each kind
// of line event waits. A later one of the same kind is dropped, as the first would discard
// it anyway (a reply handled sends the next request, and a send discards what came before).
#pragma once

#include <deque>
#include <functional>

namespace lorvane {

// The kinds of event that come from the line or its timers rather than from the user.
enum class line_event {
    write_reply,     // a write reply from the line
    read_reply,      // a read reply
    other_reply,     // a reply of another function
    write_deadline,  // the write chain's reply time-out
    read_deadline,   // the read chain's reply time-out
    port,            // the port opened, failed to open or went away
    operation,       // an operation of the engine finished
};

class handler_gate
{
public:
    // Runs `handler` now, or, while another handler is still running, after it and after
    // every handler that was waiting before this one.
    void run(std::function<void()> handler);
    // The same for an event from the line; while one of kind `kind` already waits, this one
    // is dropped.
    void run_line_event(line_event kind, std::function<void()> handler);

private:
    struct entry
    {
        std::function<void()> handler;
        bool from_line = false;
        line_event kind = line_event::port;
    };
    void drain();

    std::deque<entry> waiting_;
    bool running_ = false;
};

}  // namespace lorvane
