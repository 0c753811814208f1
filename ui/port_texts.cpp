#include "port_texts.h"

#include "network_serial_device.h"
#include "port_name.h"

namespace lorvane {

namespace {

const QString URL_FORMS = QStringLiteral("tcp://主机:端口 或 rfc2217://主机:端口");
const QString URL_EXAMPLE = QStringLiteral("tcp://192.168.1.50:4001");

}  // namespace

QString port_name_refusal_message()
{
    return QStringLiteral("串口号必须是 1 到 %1 之间的整数，或串口设备名（例如 COM3、ttyUSB0、"
                          "/dev/ttyUSB0）")
        .arg(MAX_PORT_NUMBER);
}

QString network_port_refusal_message(const network_port_result& refused, const QString& text)
{
    const QString url = text.trimmed();
    switch (refused.fault) {
    case url_fault::scheme:
        return QStringLiteral("网络串口地址 %1 的协议“%2”不可用：地址应为 %3（例如 %4）")
            .arg(url, refused.part, URL_FORMS, URL_EXAMPLE);
    case url_fault::host:
        return QStringLiteral("网络串口地址 %1 的主机“%2”无效：主机应为主机名、IPv4 地址，"
                              "或写在方括号内的 IPv6 地址（例如 %3、tcp://[::1]:4001）")
            .arg(url, refused.part, URL_EXAMPLE);
    case url_fault::port:
        break;
    }
    if (refused.part.isEmpty())
        return QStringLiteral("网络串口地址 %1 缺少端口号：端口号必须是 1 到 %2 之间的整数"
                              "（例如 %3）")
            .arg(url, QString::number(MAX_TCP_PORT), URL_EXAMPLE);
    return QStringLiteral("网络串口地址 %1 的端口号必须是 1 到 %2 之间的整数，不能是“%3”")
        .arg(url, QString::number(MAX_TCP_PORT), refused.part);
}

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
    if (failure.kind == port_failure_kind::in_use_here)
        return QStringLiteral("%1 %2 正由工程窗口使用：核对或写入结束后，工程窗口会释放它。\n"
                              "请等核对或写入结束，或在工程窗口中点“停止”，然后重试。")
            .arg(is_network_port_text(failure.device) ? QStringLiteral("网络串口")
                                                      : QStringLiteral("串口"),
                 failure.device);
    if (failure.kind == port_failure_kind::bad_name)
        return is_network_port_text(failure.device)
                   ? network_port_refusal_message(parse_network_port(failure.device),
                                                  failure.device)
                   : port_name_refusal_message();
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

QString port_description(const port_entry& port)
{
    if (port.manufacturer.isEmpty() || port.description.contains(port.manufacturer))
        return port.description;
    if (port.description.isEmpty())
        return port.manufacturer;
    return port.description + QStringLiteral("（") + port.manufacturer + QStringLiteral("）");
}

}  // namespace lorvane
