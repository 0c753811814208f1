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

private:
    void on_error(QSerialPort::SerialPortError error);

    QSerialPort port_;
};

}  // namespace lorvane
