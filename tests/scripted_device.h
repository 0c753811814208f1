// A serial device whose far end the test scripts: bytes delivered at chosen moments, a close,
// a loss. It lets the link's owner, the engine's sessions and the scan be tested exactly and
// fast where a real line cannot produce a case on demand (two replies in one chunk, junk at a
// given time after a probe).
#pragma once

#include "serial_device.h"

#include <QBuffer>
#include <QTimer>

#include <functional>
#include <vector>

class scripted_device final : public lorvane::serial_device
{
public:
    scripted_device() { input_.open(QIODevice::ReadWrite | QIODevice::Unbuffered); }

    std::optional<lorvane::port_failure> open(const QString&) override
    {
        open_ = true;
        input_.buffer().clear();
        input_.seek(0);
        return std::nullopt;
    }
    void close() override { open_ = false; }
    bool is_open() const override { return open_; }
    void discard_input() override
    {
        input_.buffer().clear();
        input_.seek(0);
    }
    void send(const lorvane::frame& bytes) override
    {
        sent.push_back(bytes);
        if (on_send)
            on_send(bytes);
    }
    QIODevice& input() override { return input_; }

    // Everything sent so far, in order.
    std::vector<lorvane::frame> sent;
    // Called for each frame sent, after it was recorded.
    std::function<void(const lorvane::frame&)> on_send;

    // The far end's bytes arrive now, in one chunk.
    void deliver(const std::vector<std::uint8_t>& bytes)
    {
        if (!open_)
            return;
        const qint64 at = input_.pos();
        input_.buffer().append(reinterpret_cast<const char*>(bytes.data()),
                               qsizetype(bytes.size()));
        input_.seek(at);
        Q_EMIT bytes_received();
    }
    void deliver(const lorvane::frame& f)
    {
        deliver(std::vector<std::uint8_t>(f.begin(), f.end()));
    }
    // ... or `ms` from now, from the event loop.
    void deliver_in(int ms, const std::vector<std::uint8_t>& bytes)
    {
        QTimer::singleShot(ms, this, [this, bytes] { deliver(bytes); });
    }
    // The device stops working (adapter unplugged, server gone).
    void lose() { Q_EMIT failed(); }

private:
    QBuffer input_;
    bool open_ = false;
};
