// Runs the window's event handlers one at a time. A handler may show a modal message box,
// and the box's own event loop goes on delivering the port's replies, time-outs and other
// events; each of those waits here, in arrival order, and runs once the handler that
// showed the box has returned (the user confirmed it), with the effect it would have had.
#pragma once

#include <deque>
#include <functional>

namespace lorvane {

class handler_gate
{
public:
    // Runs `handler` now, or, while another handler is still running, after it and after
    // every handler that was waiting before this one.
    void run(std::function<void()> handler);

private:
    std::deque<std::function<void()>> waiting_;
    bool running_ = false;
};

}  // namespace lorvane
