#include "serial_link.h"

#include "port_name.h"

#ifdef Q_OS_LINUX
#include <linux/serial.h>
#include <sys/ioctl.h>
#endif

namespace lorvane {

namespace {

// Driver receive buffer of the original line settings; Qt keeps at most this much.
constexpr qint64 RECEIVE_BUFFER_SIZE = 1024;  // bytes

// The open failure explained in the user's language, with the system's own reason.
QString open_failure_message(const QString& device, QSerialPort::SerialPortError error,
                             const QString& reason)
{
    QString what;
    QString hint;
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        what = QStringLiteral("找不到该串口设备");
        hint = QStringLiteral("请检查串口号，以及串口线或 USB 转串口适配器是否已插好。");
        break;
    case QSerialPort::PermissionError:
        what = QStringLiteral("没有权限打开，或串口正被其他程序占用");
        hint = QStringLiteral(
            "在 Linux 上，请把当前用户加入 dialout 组（sudo usermod -aG dialout $USER），"
            "然后重新登录；并确认没有其他程序正在使用该串口。");
        break;
    case QSerialPort::OpenError:
        what = QStringLiteral("串口已被打开");
        break;
    default:
        what = QStringLiteral("无法打开");
        break;
    }
    QString text = QStringLiteral("无法打开串口 %1：%2。\n系统原因：%3").arg(device, what, reason);
    if (!hint.isEmpty())
        text += u'\n' + hint;
    return text;
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

}  // namespace

serial_link::serial_link(QObject* parent) : QObject(parent)
{
    reply_timer_.setSingleShot(true);
    reply_timer_.setInterval(REPLY_TIMEOUT);
    connect(&reply_timer_, &QTimer::timeout, this,
            [this] { Q_EMIT reply_timed_out(awaited_record_); });
    connect(&port_, &QSerialPort::readyRead, this, &serial_link::MSComm1_OnComm);
    connect(&port_, &QSerialPort::errorOccurred, this, &serial_link::on_error);
}

serial_link::~serial_link() = default;

std::optional<QString> serial_link::open(const QString& port_text)
{
    const port_name_result name = system_port_name(port_text);
    if (!name.ok())
        return name.message;

    device_ = name.device;
    port_.setPortName(name.device);
    if (!port_.open(QIODevice::ReadWrite)) {
        const QString message =
            open_failure_message(name.device, port_.error(), port_.errorString());
        port_.clearError();
        return message;
    }
    const bool configured =
        port_.setBaudRate(QSerialPort::Baud9600) && port_.setDataBits(QSerialPort::Data8) &&
        port_.setParity(QSerialPort::NoParity) && port_.setStopBits(QSerialPort::OneStop) &&
        port_.setFlowControl(QSerialPort::NoFlowControl);
    if (!configured) {
        const QString reason = port_.errorString();
        port_.close();
        port_.clearError();
        return QStringLiteral("串口 %1 不支持 9600 波特、8 个数据位、无校验、1 个停止位。\n"
                              "系统原因：%2")
            .arg(name.device, reason);
    }
    port_.setReadBufferSize(RECEIVE_BUFFER_SIZE);
    // Whatever the line delivered before this open belongs to nobody.
    port_.clear(QSerialPort::Input);
    request_low_latency(port_);
    loss_pending_ = false;
    return std::nullopt;
}

void serial_link::close()
{
    reply_timer_.stop();
    if (port_.isOpen())
        port_.close();
    port_.clearError();
}

bool serial_link::is_open() const
{
    return port_.isOpen();
}

QString serial_link::port_name() const
{
    return device_;
}

void serial_link::send_write_request(std::uint8_t address, std::uint8_t record, std::uint8_t value1,
                                     std::uint8_t value2, std::uint8_t value3)
{
    write_request_ = make_request(FUNC_WRITE, address, record, value1, value2, value3);
    transmit(write_request_);
}

void serial_link::send_read_request(std::uint8_t address, std::uint8_t record, std::uint8_t value1,
                                    std::uint8_t value2, std::uint8_t value3)
{
    read_request_ = make_request(FUNC_READ, address, record, value1, value2, value3);
    transmit(read_request_);
}

void serial_link::transmit(const frame& request)
{
    if (!port_.isOpen())
        return;  // a closed port swallows requests silently; the buttons warn themselves
    // Each exchange starts from an empty receive side: both the driver's queue and
    // Qt's own buffer. This is the only resynchronisation of the byte stream.
    port_.clear(QSerialPort::Input);
    port_.write(reinterpret_cast<const char*>(request.data()), static_cast<qint64>(request.size()));
    port_.flush();  // out now, not on the next pass of the event loop
    awaited_record_ = request[POS_RECORD];
    reply_timer_.start();
}

void serial_link::MSComm1_OnComm()
{
    if (collector_.collect(port_) != reply_collector::outcome::accepted)
        return;
    reply_timer_.stop();
    Q_EMIT reply_received(collector_.reply_buffer());
}

void serial_link::on_error(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
    case QSerialPort::ResourceError:
        // Qt may repeat a read error in a tight loop, or stop watching the port after a
        // resource error while it still counts as open. Either way the port is gone.
        // Closing inside the error signal is unsafe, so the close is queued.
        if (port_.isOpen() && !loss_pending_) {
            loss_pending_ = true;
            QMetaObject::invokeMethod(this, &serial_link::drop_lost_port, Qt::QueuedConnection);
        }
        break;
    default:
        // NoError comes with every open; the others belong to calls that report them.
        break;
    }
}

void serial_link::drop_lost_port()
{
    loss_pending_ = false;
    if (!port_.isOpen())
        return;  // the user closed it meanwhile
    close();
    Q_EMIT port_lost(
        QStringLiteral("串口 %1 已断开（设备被拔出或不再可用），串口已关闭。").arg(device_));
}

}  // namespace lorvane
