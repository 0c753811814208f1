#include "serial_link.h"

#include "network_port.h"
#include "network_serial_device.h"
#include "port_name.h"

#include <QIODevice>

namespace lorvane {

namespace {

// The words for a network port that could not be opened, or an empty text for a kind that
// a network port shares with a local one.
QString network_failure_what(port_failure_kind kind, QString& hint)
{
    switch (kind) {
    case port_failure_kind::host_not_found:
        hint = QStringLiteral("请检查地址中的主机名，以及本机的网络和域名解析设置。");
        return QStringLiteral("找不到服务器主机");
    case port_failure_kind::connection_refused:
        hint = QStringLiteral("请检查端口号，以及串口服务器是否在运行、该端口是否已启用。");
        return QStringLiteral("服务器拒绝连接");
    case port_failure_kind::timed_out:
        hint = QStringLiteral("请检查主机地址、网络连接和防火墙。");
        return QStringLiteral("%1 秒内没有连上服务器").arg(OPEN_TIMEOUT_MS / 1000);
    case port_failure_kind::settings_refused:
        hint = QStringLiteral("请确认服务器的这个端口工作在 RFC 2217 模式；若它是原始 TCP "
                              "模式，请改用 tcp:// 地址，并在服务器上把串口设为 9600 波特、8N1。");
        return QStringLiteral("服务器不接受 RFC 2217 串口设置（9600 波特、8 个数据位、无校验、"
                              "1 个停止位、无流控），或在 %1 秒内没有确认")
            .arg(OPEN_TIMEOUT_MS / 1000);
    case port_failure_kind::in_use:
        hint = QStringLiteral("服务器接受连接后立即关闭了它：该串口可能正被另一个客户端使用。"
                              "请断开另一个连接，然后重试。");
        return QStringLiteral("串口正被其他程序占用");
    default:
        return {};
    }
}

}  // namespace

QString port_failure_message(const port_failure& failure)
{
    if (failure.kind == port_failure_kind::bad_name)
        return failure.reason.isEmpty() ? port_name_refusal_message() : failure.reason;
    if (is_network_port_text(failure.device)) {
        QString hint;
        const QString what = network_failure_what(failure.kind, hint);
        if (!what.isEmpty()) {
            QString text = QStringLiteral("无法打开网络串口 %1：%2。").arg(failure.device, what);
            if (!failure.reason.isEmpty())
                text += QStringLiteral("\n系统原因：") + failure.reason;
            return text + u'\n' + hint;
        }
    }
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
    if (is_network_port_text(device))
        return QStringLiteral(
                   "网络串口 %1 的连接已断开（服务器关闭了连接或网络中断），串口已关闭。")
            .arg(device);
    return QStringLiteral("串口 %1 已断开（设备被拔出或不再可用），串口已关闭。").arg(device);
}

serial_link::serial_link(QObject* parent)
    : QObject(parent), local_(make_serial_device()),
      network_(std::make_unique<network_serial_device>()), port_(local_.get())
{
    for (serial_device* device : {local_.get(), network_.get()}) {
        connect(device, &serial_device::bytes_received, this, &serial_link::MSComm1_OnComm);
        connect(device, &serial_device::failed, this, &serial_link::on_device_failed);
        connect(device, &serial_device::opened, this, [this] {
            loss_pending_ = false;
            Q_EMIT opened();
        });
        connect(device, &serial_device::open_failed, this,
                [this](const port_failure& failure) { Q_EMIT open_failed(failure); });
    }
}

serial_link::~serial_link() = default;

// The device for the next open: the system's serial device, or the network device. The
// current one stays while it is open or opening, so that it reports itself as already open.
void serial_link::use_device(bool network)
{
    if (!port_->is_open() && !port_->is_opening())
        port_ = network ? network_.get() : local_.get();
}

std::optional<port_failure> serial_link::open(const QString& port_text)
{
    const QString text = port_text.trimmed();
    if (is_network_port_text(text)) {
        const network_port_result url = parse_network_port(text);
        if (!url.ok())
            return port_failure{port_failure_kind::bad_name, text,
                                network_port_refusal_message(url, text)};
        use_device(true);
        device_ = text;
    } else {
        const port_name_result name = system_port_name(port_text);
        if (!name.ok())
            return port_failure{port_failure_kind::bad_name, text, name.message};
        use_device(false);
        device_ = name.device;
    }
    if (auto failure = port_->open(device_))
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

bool serial_link::is_opening() const
{
    return port_->is_opening();
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
    transmit(read_request_, keep_input::yes);
}

void serial_link::transmit(const frame& request, keep_input keep)
{
    last_request_ = request;
    if (!port_->is_open())
        return;  // a closed port swallows requests silently; the buttons warn themselves
    // Each exchange starts from an empty receive side. This is the only
    // resynchronisation of the byte stream; the scan keeps what came, late replies too.
    if (keep == keep_input::no)
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
