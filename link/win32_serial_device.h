// The serial device over the Win32 communications API, for Windows builds without Qt
// SerialPort: CreateFileW on \\.\COMn, the line set through the DCB, and one overlapped
// ReadFile always pending, whose COMMTIMEOUTS make it complete as soon as bytes arrive.
// Completion is signalled through an event that QWinEventNotifier watches, so the event
// loop never polls and no comm-event wait (WaitCommEvent) is needed.
#pragma once

#include "serial_device.h"

#include <QByteArray>
#include <QIODevice>

#include <array>

#include <windows.h>

class QWinEventNotifier;

namespace lorvane {

// Bytes received and not yet read, as a sequential QIODevice for the line's owner.
class byte_queue final : public QIODevice
{
public:
    byte_queue() { open(QIODevice::ReadOnly | QIODevice::Unbuffered); }
    void append(const char* data, qint64 size) { bytes_.append(data, size); }
    void clear() { bytes_.clear(); }
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override { return bytes_.size() + QIODevice::bytesAvailable(); }

protected:
    qint64 readData(char* data, qint64 max_size) override;
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray bytes_;
};

class win32_serial_device final : public serial_device
{
    Q_OBJECT

public:
    win32_serial_device();
    ~win32_serial_device() override;

    std::optional<port_failure> open(const QString& device) override;
    void close() override;
    bool is_open() const override { return handle_ != INVALID_HANDLE_VALUE; }
    void discard_input() override;
    void send(const frame& bytes) override;
    QIODevice& input() override { return received_; }
    // The driver's error flags (ClearCommError) counted since the open: each read that
    // completes, and each call here, collects and clears them.
    std::optional<os_line_errors> os_errors() const override;

private:
    // Collects the driver's error flags since the last call into errors_.
    void count_errors() const;
    // Starts the next overlapped read; false when the device refused it.
    bool start_read();
    // The pending read completed (its event is set): takes its bytes and starts the next.
    void on_read_done();
    // Cancels the pending read, waits for it and drops whatever it had taken.
    void abort_read();

    HANDLE handle_ = INVALID_HANDLE_VALUE;
    HANDLE read_event_ = nullptr;   // manual reset, owned
    HANDLE write_event_ = nullptr;  // manual reset, owned
    OVERLAPPED read_overlapped_{};
    bool read_pending_ = false;
    std::array<char, 512> read_buffer_{};
    QWinEventNotifier* read_notifier_ = nullptr;
    byte_queue received_;
    mutable os_line_errors errors_;
};

}  // namespace lorvane
