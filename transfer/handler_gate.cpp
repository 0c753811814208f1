#include "handler_gate.h"

#include <algorithm>

namespace lorvane {

void handler_gate::run(std::function<void()> handler)
{
    waiting_.push_back({std::move(handler), false, line_event::port});
    drain();
}

void handler_gate::run_line_event(line_event kind, std::function<void()> handler)
{
    const bool same_waits = std::any_of(waiting_.begin(), waiting_.end(), [&](const entry& e) {
        return e.from_line && e.kind == kind;
    });
    if (same_waits)
        return;
    waiting_.push_back({std::move(handler), true, kind});
    drain();
}

void handler_gate::drain()
{
    if (running_)
        return;  // the running handler's caller drains the queue when it returns
    running_ = true;
    while (!waiting_.empty()) {
        const std::function<void()> next = std::move(waiting_.front().handler);
        waiting_.pop_front();
        next();
    }
    running_ = false;
}

}  // namespace lorvane
