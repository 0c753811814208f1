// Ctrl-C (and SIGTERM on Unix) as a signal of the event loop, so that a running transfer
// can close the port and end the program in order.
#pragma once

#include <QObject>

namespace lorvane::cli {

class interrupt_watch final : public QObject
{
    Q_OBJECT

public:
    // Takes over the interrupt until destroyed; only one may exist at a time.
    interrupt_watch();
    ~interrupt_watch() override;
    interrupt_watch(const interrupt_watch&) = delete;
    interrupt_watch& operator=(const interrupt_watch&) = delete;

Q_SIGNALS:
    void interrupted();

private:
    struct platform;
    platform* platform_;
};

}  // namespace lorvane::cli
