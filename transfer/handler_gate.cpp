#include "handler_gate.h"

namespace lorvane {

void handler_gate::run(std::function<void()> handler)
{
    waiting_.push_back(std::move(handler));
    if (running_)
        return;  // the running handler's caller drains the queue when it returns
    running_ = true;
    while (!waiting_.empty()) {
        const std::function<void()> next = std::move(waiting_.front());
        waiting_.pop_front();
        next();
    }
    running_ = false;
}

}  // namespace lorvane
