// The module's end of a real pseudo-terminal, inside the test's own event loop: it
// records every request the tool sends and answers through the simulator's module logic.
// Tests can silence it, reshape or corrupt its replies, inject raw bytes, or hang up.
#pragma once

#include "frame.h"
#include "pty.h"
#include "sim_module.h"

#include <QObject>
#include <QString>

#include <functional>
#include <vector>

class QSocketNotifier;

class module_peer : public QObject
{
    Q_OBJECT

public:
    explicit module_peer(std::uint8_t address = 1);
    ~module_peer() override;

    // The path to type into the port box.
    QString path() const;
    // The module's end of the line; its line settings are the tool's end's.
    int master_fd() const { return pty_.master_fd(); }

    lorvane::sim::sim_module& module() { return module_; }

    // Every accepted request seen so far, in order.
    const std::vector<lorvane::frame>& requests() const { return requests_; }
    void clear_requests() { requests_.clear(); }
    // Raw bytes seen so far (requests and anything else).
    const std::vector<std::uint8_t>& raw() const { return raw_; }

    // Called for each request before it is answered.
    std::function<void(const lorvane::frame& request)> on_request;
    // Turns a reply into the bytes actually sent; default: the reply unchanged.
    std::function<std::vector<std::uint8_t>(const lorvane::frame& reply)> shape_reply;
    bool answering = true;

    // Writes bytes as the module would (garbage, hand-made replies).
    void send_raw(const std::vector<std::uint8_t>& bytes);
    void send_frame(const lorvane::frame& f);
    // The far end goes away: the tool sees a hang-up on its port.
    void hang_up();

    // Runs the event loop until `count` requests have been seen (or the timeout).
    bool wait_for_requests(std::size_t count, int timeout_ms = 5000);

private:
    void on_readable();

    lorvane::pty_pair pty_;
    lorvane::sim::sim_module module_;
    lorvane::sim::request_framer framer_;
    QSocketNotifier* notifier_ = nullptr;
    std::vector<lorvane::frame> requests_;
    std::vector<std::uint8_t> raw_;
};

// Hex text of a frame, "55 01 F0 00 32 00 00 78", for readable failures.
QString hex(const lorvane::frame& f);
