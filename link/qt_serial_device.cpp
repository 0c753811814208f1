#include "qt_serial_device.h"

#include "port_listing.h"

#include <QFileInfo>
#include <QSerialPortInfo>

#ifdef Q_OS_UNIX
#include <poll.h>
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <linux/serial.h>
#include <sys/ioctl.h>
#endif

namespace lorvane {

namespace {

#ifdef Q_OS_UNIX
// True when the system still serves the open terminal `fd`: no hang-up or error pending.
bool still_there(int fd)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 0) >= 0 && !(p.revents & (POLLHUP | POLLERR | POLLNVAL));
}
#endif

// Driver receive buffer of the original line settings; Qt keeps at most this much.
constexpr qint64 RECEIVE_BUFFER_SIZE = 1024;  // bytes

// QSerialPort reports a device that another program holds and one the user may not open
// alike, as PermissionError. On Windows it is always the first (COM ports are exclusive).
// On Unix, a device the user can read and write is held by someone else: another Qt
// program's lock file, or a program that opened it exclusively.
port_failure_kind permission_kind([[maybe_unused]] const QString& device)
{
#ifdef Q_OS_UNIX
    const QString path = device.startsWith(u'/') ? device : QStringLiteral("/dev/") + device;
    if (::access(path.toLocal8Bit().constData(), R_OK | W_OK) != 0)
        return port_failure_kind::permission;
#endif
    return port_failure_kind::in_use;
}

port_failure_kind failure_kind(QSerialPort::SerialPortError error, const QString& device)
{
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        return port_failure_kind::not_found;
    case QSerialPort::PermissionError:
        return permission_kind(device);
    case QSerialPort::OpenError:
        return port_failure_kind::already_open;
    default:
        return port_failure_kind::other;
    }
}

// Asks a USB serial adapter to pass received bytes on at once instead of holding them
// for its latency timer (16 ms on common adapters). Devices without the setting, such
// as pseudo-terminals, refuse it; that is fine and changes nothing.
void request_low_latency([[maybe_unused]] QSerialPort& port)
{
#ifdef Q_OS_LINUX
    serial_struct serial{};
    const int fd = static_cast<int>(port.handle());
    if (fd >= 0 && ::ioctl(fd, TIOCGSERIAL, &serial) == 0) {
        serial.flags = static_cast<int>(static_cast<unsigned>(serial.flags) | ASYNC_LOW_LATENCY);
        (void)::ioctl(fd, TIOCSSERIAL, &serial);
    }
#endif
}

// The latency timer, in ms, of the USB serial adapter behind `device` (a name such as
// "ttyUSB0" or a path, /dev/serial/by-id/... links included); none for any other device.
std::optional<int> read_latency_timer([[maybe_unused]] const QString& device)
{
#ifdef Q_OS_LINUX
    const QString path = device.startsWith(u'/') ? device : QStringLiteral("/dev/") + device;
    const QString name = QFileInfo(QFileInfo(path).canonicalFilePath()).fileName();
    if (name.isEmpty())
        return std::nullopt;
    const file_contents contents = read_regular_file(
        QStringLiteral("/sys/bus/usb-serial/devices/%1/latency_timer").arg(name), 64);
    if (const auto* text = std::get_if<QByteArray>(&contents)) {
        bool ok = false;
        const int ms = text->trimmed().toInt(&ok);
        if (ok && ms >= 0 && ms <= 255)
            return ms;
    }
#endif
    return std::nullopt;
}

}  // namespace

qt_serial_device::qt_serial_device()
{
    connect(&port_, &QSerialPort::readyRead, this, &serial_device::bytes_received);
    connect(&port_, &QSerialPort::errorOccurred, this, &qt_serial_device::on_error);
}

std::optional<port_failure> qt_serial_device::open(const QString& device)
{
    port_.setPortName(device);
    if (!port_.open(QIODevice::ReadWrite)) {
        const port_failure failure{failure_kind(port_.error(), device), device,
                                   port_.errorString()};
        port_.clearError();
        return failure;
    }
    const bool configured =
        port_.setBaudRate(QSerialPort::Baud9600) && port_.setDataBits(QSerialPort::Data8) &&
        port_.setParity(QSerialPort::NoParity) && port_.setStopBits(QSerialPort::OneStop) &&
        port_.setFlowControl(QSerialPort::NoFlowControl);
    if (!configured) {
        const port_failure failure{port_failure_kind::unsupported_settings, device,
                                   port_.errorString()};
        port_.close();
        port_.clearError();
        return failure;
    }
    port_.setReadBufferSize(RECEIVE_BUFFER_SIZE);
    // Whatever the line delivered before this open belongs to nobody.
    port_.clear(QSerialPort::Input);
    request_low_latency(port_);
    latency_timer_ms_ = read_latency_timer(device);
    return std::nullopt;
}

std::optional<os_line_errors> qt_serial_device::os_errors() const
{
#ifdef Q_OS_LINUX
    serial_icounter_struct counts{};
    const int fd = static_cast<int>(port_.handle());
    if (port_.isOpen() && fd >= 0 && ::ioctl(fd, TIOCGICOUNT, &counts) == 0)
        return os_line_errors{std::uint64_t(counts.frame), std::uint64_t(counts.parity),
                              std::uint64_t(counts.overrun) + std::uint64_t(counts.buf_overrun),
                              std::uint64_t(counts.brk)};
#endif
    return std::nullopt;
}

std::optional<int> qt_serial_device::latency_timer_ms() const
{
    return port_.isOpen() ? latency_timer_ms_ : std::nullopt;
}

void qt_serial_device::close()
{
    if (port_.isOpen())
        port_.close();
    port_.clearError();
}

bool qt_serial_device::is_open() const
{
    return port_.isOpen();
}

void qt_serial_device::discard_input()
{
    // Both the driver's queue and Qt's own buffer.
    port_.clear(QSerialPort::Input);
}

void qt_serial_device::send(const frame& bytes)
{
    port_.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    port_.flush();  // out now, not on the next pass of the event loop
}

void qt_serial_device::on_error(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::ReadError:
#ifdef Q_OS_UNIX
        // Bytes the system announced may have been discarded (a send drops what was received)
        // before Qt read them: it then reads nothing and calls that an error. The port is
        // gone only when the system says so.
        if (port_.isOpen() && still_there(int(port_.handle()))) {
            port_.clearError();
            break;
        }
#endif
        [[fallthrough]];
    case QSerialPort::WriteError:
    case QSerialPort::ResourceError:
        // Qt may repeat a read error in a tight loop, or stop watching the port after a
        // resource error while it still counts as open. Either way the port is gone.
        if (port_.isOpen())
            Q_EMIT failed();
        break;
    default:
        // NoError comes with every open; the others belong to calls that report them.
        break;
    }
}

std::unique_ptr<serial_device> make_serial_device()
{
    return std::make_unique<qt_serial_device>();
}

std::vector<port_entry> system_ports()
{
    std::vector<port_entry> ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        ports.push_back({info.portName(), info.description(), info.manufacturer(),
                         info.serialNumber().trimmed()});
    return ports;
}

}  // namespace lorvane
