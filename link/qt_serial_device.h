// The serial device over QSerialPort: the only place that knows its types and errors.
#pragma once

#include "serial_device.h"

#include <QSerialPort>

namespace lorvane {

class qt_serial_device final : public serial_device
{
    Q_OBJECT

public:
    qt_serial_device();

    std::optional<port_failure> open(const QString& device) override;
    void close() override;
    bool is_open() const override;
    void discard_input() override;
    void send(const frame& bytes) override;
    QIODevice& input() override { return port_; }
    // Linux: the driver's counters (TIOCGICOUNT), where the device keeps them (a USB adapter
    // or a UART does; a pseudo-terminal does not).
    std::optional<os_line_errors> os_errors() const override;
    // Linux: a USB serial adapter's latency timer, from sysfs.
    std::optional<int> latency_timer_ms() const override;

private:
    void on_error(QSerialPort::SerialPortError error);

    QSerialPort port_;
    std::optional<int> latency_timer_ms_;  // read at the open: it does not change meanwhile
};

}  // namespace lorvane
