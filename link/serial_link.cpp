#include "serial_link.h"

#include "port_name.h"

#include <QIODevice>

namespace lorvane {

QString port_failure_message(const port_failure& failure)
{
    if (failure.kind == port_failure_kind::bad_name)
        return port_name_refusal_message();
    if (failure.kind == port_failure_kind::unsupported_settings)
        return QStringLiteral("串口 %1 不支持 9600 波特、8 个数据位、无校验、1 个停止位。\n"
                              "系统原因：%2")
            .arg(failure.device, failure.reason);

    QString what;
    QString hint;
    switch (failure.kind) {
    case port_failure_kind::not_found:
        what = QStringLiteral("找不到该串口设备");
        hint = QStringLiteral("请检查串口号，以及串口线或 USB 转串口适配器是否已插好。");
        break;
    case port_failure_kind::permission:
        what = QStringLiteral("没有权限打开该串口");
        hint = QStringLiteral("在 Linux 上，请把当前用户加入 dialout 组（sudo usermod -aG "
                              "dialout $USER），然后重新登录。");
        break;
    case port_failure_kind::in_use:
        what = QStringLiteral("串口正被其他程序占用");
        hint = HOST_PLATFORM == port_platform::windows
                   ? QStringLiteral("请关闭正在使用该串口的其他程序（例如串口调试助手或另一个 "
                                    "Lorvane），然后重试；在设备管理器中可以确认端口号。")
                   : QStringLiteral("请关闭正在使用该串口的其他程序（例如串口终端、另一个 "
                                    "Lorvane 或 ModemManager），然后重试。");
        break;
    case port_failure_kind::already_open:
        what = QStringLiteral("串口已被打开");
        break;
    default:
        what = QStringLiteral("无法打开");
        break;
    }
    QString text = QStringLiteral("无法打开串口 %1：%2。\n系统原因：%3")
                       .arg(failure.device, what, failure.reason);
    if (!hint.isEmpty())
        text += u'\n' + hint;
    return text;
}

QString port_lost_message(const QString& device)
{
    return QStringLiteral("串口 %1 已断开（设备被拔出或不再可用），串口已关闭。").arg(device);
}

serial_link::serial_link(QObject* parent) : QObject(parent), port_(make_serial_device())
{
    connect(port_.get(), &serial_device::bytes_received, this, &serial_link::MSComm1_OnComm);
    connect(port_.get(), &serial_device::failed, this, &serial_link::on_device_failed);
}

serial_link::~serial_link() = default;

std::optional<port_failure> serial_link::open(const QString& port_text)
{
    const port_name_result name = system_port_name(port_text);
    if (!name.ok())
        return port_failure{port_failure_kind::bad_name, port_text.trimmed(), name.message};

    device_ = name.device;
    if (auto failure = port_->open(name.device))
        return failure;
    loss_pending_ = false;
    return std::nullopt;
}

void serial_link::close()
{
    const bool was_open = port_->is_open();
    port_->close();
    if (was_open)
        Q_EMIT closed();
}

bool serial_link::is_open() const
{
    return port_->is_open();
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

void serial_link::resend_last_request()
{
    transmit(last_request_);
}

void serial_link::set_streaming(bool on)
{
    streaming_ = on;
    if (on && port_->is_open())
        port_->discard_input();
}

void serial_link::send_probe(std::uint8_t address)
{
    read_request_ = make_request(FUNC_READ, address, 0, 0, 0, 0);
    last_request_ = read_request_;
    if (!port_->is_open())
        return;
    port_->send(read_request_);
    Q_EMIT frame_sent(read_request_);
}

void serial_link::transmit(const frame& request)
{
    last_request_ = request;
    if (!port_->is_open())
        return;  // a closed port swallows requests silently; the buttons warn themselves
    // Each exchange starts from an empty receive side. This is the only
    // resynchronisation of the byte stream.
    port_->discard_input();
    port_->send(request);
    Q_EMIT frame_sent(request);
}

void serial_link::MSComm1_OnComm()
{
    if (streaming_) {
        const QByteArray bytes = port_->input().readAll();
        if (!bytes.isEmpty())
            Q_EMIT bytes_arrived(bytes);
        return;
    }
    const auto outcome = collector_.collect(
        port_->input(), [this](const frame& block, bool ok) { Q_EMIT frame_received(block, ok); });
    if (outcome != reply_collector::outcome::accepted)
        return;
    Q_EMIT reply_received(collector_.reply_buffer());
}

void serial_link::on_device_failed()
{
    // Closing inside the device's own error handling is unsafe, so the close is queued.
    if (port_->is_open() && !loss_pending_) {
        loss_pending_ = true;
        QMetaObject::invokeMethod(this, &serial_link::drop_lost_port, Qt::QueuedConnection);
    }
}

void serial_link::drop_lost_port()
{
    loss_pending_ = false;
    if (!port_->is_open())
        return;  // the user closed it meanwhile
    close();
    Q_EMIT port_lost(device_);
}

}  // namespace lorvane
