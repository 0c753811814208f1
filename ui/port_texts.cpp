#include "port_texts.h"

#include "known_servers.h"
#include "language.h"
#include "network_serial_device.h"
#include "port_name.h"
#include "tls_settings.h"

#include <QDir>

namespace lorvane {

namespace {

// Read when shown, so that it follows the window's language.
QString URL_FORMS()
{
    return port_texts_tr::tr(
        "tcp://主机:端口、rfc2217://主机:端口，或在 TLS 之内的 tcp+tls://、rfc2217+tls://");
}
const QString URL_EXAMPLE = QStringLiteral("tcp://192.168.1.50:4001");

}  // namespace

QString port_name_refusal_message()
{
    return port_texts_tr::tr("串口号必须是 1 到 %1 之间的整数，或串口设备名（例如 COM3、ttyUSB0、"
                             "/dev/ttyUSB0）")
        .arg(MAX_PORT_NUMBER);
}

QString network_port_refusal_message(const network_port_result& refused, const QString& text)
{
    const QString url = text.trimmed();
    switch (refused.fault) {
    case url_fault::scheme:
        return port_texts_tr::tr("网络串口地址 %1 的协议“%2”不可用：地址应为 %3（例如 %4）")
            .arg(url, refused.part, URL_FORMS(), URL_EXAMPLE);
    case url_fault::host:
        return port_texts_tr::tr("网络串口地址 %1 的主机“%2”无效：主机应为主机名、IPv4 地址，"
                                 "或写在方括号内的 IPv6 地址（例如 %3、tcp://[::1]:4001）")
            .arg(url, refused.part, URL_EXAMPLE);
    case url_fault::port:
        break;
    }
    if (refused.part.isEmpty())
        return port_texts_tr::tr("网络串口地址 %1 缺少端口号：端口号必须是 1 到 %2 之间的整数"
                                 "（例如 %3）")
            .arg(url, QString::number(MAX_TCP_PORT), URL_EXAMPLE);
    return port_texts_tr::tr("网络串口地址 %1 的端口号必须是 1 到 %2 之间的整数，不能是“%3”")
        .arg(url, QString::number(MAX_TCP_PORT), refused.part);
}

namespace {

QString date_of(const QDateTime& time)
{
    return time.date().toString(Qt::ISODate);
}

// "指纹：sha256:…\n主体：CN=…\n有效期至：2026-12-09"
QString certificate_lines(const server_certificate& c)
{
    return port_texts_tr::tr("指纹：%1\n主体：%2\n有效期至：%3")
        .arg(fingerprint_text(c.fingerprint), c.subject, date_of(c.expires));
}

QString known_servers_shown()
{
    return QDir::toNativeSeparators(default_network_options().known_servers);
}

// The words for the TLS kinds of a network port that could not be opened; empty for others.
QString tls_failure_what(const port_failure& failure, QString& hint)
{
    switch (failure.kind) {
    case port_failure_kind::tls_unavailable:
        hint = port_texts_tr::tr("本机的 Qt 没有可用的 TLS 支持；在 Windows 上，程序旁应有 "
                                 "tls\\qschannelbackend.dll。");
        return port_texts_tr::tr("无法使用 TLS");
    case port_failure_kind::tls_file:
        if (const QString problem = tls_file_problem_words(failure); !problem.isEmpty()) {
            hint = port_texts_tr::tr("请在该位置放一个普通文件，或删除它。");
            return port_texts_tr::tr("无法读取文件 %1：%2")
                .arg(QDir::toNativeSeparators(failure.file), problem);
        }
        hint = port_texts_tr::tr("请检查该文件是否存在、能否读取。");
        return port_texts_tr::tr("无法读取文件 %1").arg(QDir::toNativeSeparators(failure.file));
    case port_failure_kind::tls_file_invalid:
        hint = port_texts_tr::tr("证书须为 PEM 或 DER 格式；私钥须为不带密码的 EC、RSA 或 DSA "
                                 "密钥，并与证书配对。");
        return port_texts_tr::tr("文件 %1 中没有可用的证书或私钥")
            .arg(QDir::toNativeSeparators(failure.file));
    case port_failure_kind::tls_not_spoken:
        hint = port_texts_tr::tr("该端口可能不使用 TLS：请改用 %1。")
                   .arg(url_with_tls(failure.device, false));
        return port_texts_tr::tr("服务器没有以 TLS 应答（%1 秒内没有完成 TLS 握手，或应答的不是 "
                                 "TLS）")
            .arg(OPEN_TIMEOUT_MS / 1000);
    case port_failure_kind::tls_expected:
        hint = port_texts_tr::tr("请改用 %1。").arg(url_with_tls(failure.device, true));
        return port_texts_tr::tr("服务器在该端口上使用 TLS");
    case port_failure_kind::certificate_unknown:
        hint = failure.certificate ? certificate_lines(*failure.certificate) : QString();
        return port_texts_tr::tr("服务器的证书不受信任，未发送任何数据");
    case port_failure_kind::certificate_changed:
        if (!failure.certificate)
            return port_texts_tr::tr("服务器的证书已更改，未发送任何数据");
        hint = port_texts_tr::tr("本机为 %1 保存的指纹：%2\n服务器现在的证书：\n%3\n"
                                 "这可能是对连接的攻击。如果确认服务器有意更换了证书，请在服务器上"
                                 "核对新指纹，然后在 %4 中删除 %1 这一行再重试（会再次询问），"
                                 "或运行 lorvane-cli trust %1 %5。")
                   .arg(failure.certificate->server, fingerprint_text(failure.certificate->stored),
                        certificate_lines(*failure.certificate), known_servers_shown(),
                        fingerprint_text(failure.certificate->fingerprint));
        return port_texts_tr::tr("服务器的证书已更改，未发送任何数据");
    case port_failure_kind::client_certificate_refused:
        if (failure.file.isEmpty()) {
            hint = port_texts_tr::tr("请把客户端证书和私钥保存为 %1 中的 client.crt 和 client.key。"
                                     "证书的 CN 须为服务器上的用户名，并已放入服务器的 "
                                     "authdir/<CN>/allowed_certs。")
                       .arg(QDir::toNativeSeparators(configuration_folder()));
            return port_texts_tr::tr("服务器在 TLS 握手后立即关闭了连接：它要求客户端证书");
        }
        hint = port_texts_tr::tr("证书的 CN 须为服务器上的用户名，并已放入服务器的 "
                                 "authdir/<CN>/allowed_certs（之后须运行 openssl rehash）。");
        return port_texts_tr::tr("服务器在 TLS 握手后立即关闭了连接：它不接受客户端证书 %1，"
                                 "需要另一个证书")
            .arg(QDir::toNativeSeparators(failure.file));
    default:
        return {};
    }
}

// "\n服务器说：“Port already in use”", or nothing when the server said nothing.
QString server_said(const port_failure& failure)
{
    return failure.server_text.isEmpty()
               ? QString()
               : port_texts_tr::tr("\n服务器说：“%1”").arg(failure.server_text);
}

// The words for a network port that could not be opened, or an empty text for a kind that
// a network port shares with a local one.
QString network_failure_what(const port_failure& failure, QString& hint)
{
    switch (failure.kind) {
    case port_failure_kind::host_not_found:
        hint = port_texts_tr::tr("请检查地址中的主机名，以及本机的网络和域名解析设置。");
        return port_texts_tr::tr("找不到服务器主机");
    case port_failure_kind::connection_refused:
        hint = port_texts_tr::tr("请检查端口号，以及串口服务器是否在运行、该端口是否已启用。");
        return port_texts_tr::tr("服务器拒绝连接");
    case port_failure_kind::timed_out:
        hint = port_texts_tr::tr("请检查主机地址、网络连接和防火墙。");
        return port_texts_tr::tr("%1 秒内没有连上服务器").arg(OPEN_TIMEOUT_MS / 1000);
    case port_failure_kind::settings_refused:
        hint =
            port_texts_tr::tr("请确认服务器的这个端口工作在 RFC 2217 模式；若它是原始 TCP "
                              "模式，请改用 tcp:// 地址，并在服务器上把串口设为 9600 波特、8N1。");
        return port_texts_tr::tr("服务器不接受 RFC 2217 串口设置（9600 波特、8 个数据位、无校验、"
                                 "1 个停止位、无流控），或在 %1 秒内没有确认")
            .arg(OPEN_TIMEOUT_MS / 1000);
    case port_failure_kind::in_use:
        hint = port_texts_tr::tr("服务器接受连接后立即关闭了它：该串口可能正被另一个客户端使用。"
                                 "请断开另一个连接，然后重试。") +
               server_said(failure);
        return port_texts_tr::tr("串口正被其他程序占用");
    case port_failure_kind::closed_during_setup:
        hint = port_texts_tr::tr("该串口可能正被另一个客户端使用，或服务器无法打开它的串口设备。") +
               server_said(failure);
        return port_texts_tr::tr("服务器在 RFC 2217 设置过程中关闭了连接");
    case port_failure_kind::flooded:
        hint = port_texts_tr::tr("连接已关闭。请检查服务器。");
        return port_texts_tr::tr("服务器发送 Telnet 请求却不读取应答（待发送的数据超过 %1 KiB）")
            .arg(MAX_PENDING_OUTPUT / 1024);
    default:
        return tls_failure_what(failure, hint);
    }
}

}  // namespace

namespace {

QString kind_words(service_kind kind)
{
    switch (kind) {
    case service_kind::raw:
        return port_texts_tr::tr("原始 TCP");
    case service_kind::rfc2217:
        return QStringLiteral("RFC 2217");
    case service_kind::tcp_tls:
        return port_texts_tr::tr("TCP，TLS 加密");
    case service_kind::rfc2217_tls:
        return port_texts_tr::tr("RFC 2217，TLS 加密");
    case service_kind::unsupported:
        break;
    }
    return port_texts_tr::tr("不支持");
}

QString discovery_words(const discovery_problem& problem)
{
    switch (problem.fault) {
    case discovery_fault::unavailable:
        return port_texts_tr::tr("本系统不支持服务发现（DNS-SD）");
    case discovery_fault::no_daemon:
        return port_texts_tr::tr("Avahi 服务（avahi-daemon）没有运行");
    case discovery_fault::failed:
        break;
    }
    return problem.reason.isEmpty() ? port_texts_tr::tr("服务发现出错")
                                    : port_texts_tr::tr("服务发现出错：") + problem.reason;
}

}  // namespace

QString server_entry_text(const dnssd_service& server)
{
    return port_texts_tr::tr("%1（%2）").arg(server.name, kind_words(server.kind()));
}

QString discovery_missing_text(const discovery_problem& problem)
{
    return port_texts_tr::tr("（没有网络串口服务器：%1）").arg(discovery_words(problem));
}

std::optional<QString> dnssd_failure_message(const port_failure& failure)
{
    const QString& port = failure.device;
    switch (failure.kind) {
    case port_failure_kind::service_not_found:
        return port_texts_tr::tr("无法打开 %1：%2 秒内没有找到以这个名字发布的网络串口服务器。\n"
                                 "请检查名字，以及服务器是否已开启、是否在同一网络中；串口号的"
                                 "列表（按 ↓ 键）列出找到的服务器。")
            .arg(port, QString::number(DNSSD_LOOKUP_MS / 1000));
    case port_failure_kind::service_ambiguous:
        return port_texts_tr::tr("无法打开 %1：有 %2 台服务器以这个名字发布（主机 %3）。\n"
                                 "请给其中一台改名，或直接输入它的地址。")
            .arg(port, QString::number(failure.hosts.size()),
                 failure.hosts.join(port_texts_tr::tr("、")));
    case port_failure_kind::service_unsupported:
        return port_texts_tr::tr("无法打开 %1：服务器发布的协议栈“%2”本程序不支持（支持 tcp、"
                                 "telnet(rfc2217),tcp，以及在 ssl 之内的这两种）。")
            .arg(port, failure.stack);
    case port_failure_kind::discovery_unavailable:
        return port_texts_tr::tr("无法打开 %1：%2。")
            .arg(port, discovery_words({discovery_fault::unavailable, {}}));
    case port_failure_kind::discovery_no_daemon:
        return port_texts_tr::tr("无法打开 %1：%2，无法查找网络串口服务器。\n请启动 avahi-daemon"
                                 "（sudo systemctl start avahi-daemon）。")
            .arg(port, discovery_words({discovery_fault::no_daemon, {}}));
    case port_failure_kind::discovery_failed:
        return port_texts_tr::tr("无法打开 %1：%2。")
            .arg(port, discovery_words({discovery_fault::failed, failure.reason}));
    default:
        return std::nullopt;
    }
}

QString port_failure_message(const port_failure& failure)
{
    if (const auto text = dnssd_failure_message(failure))
        return *text;
    if (failure.kind == port_failure_kind::in_use_here)
        return port_texts_tr::tr("%1 %2 正由工程窗口使用：核对或写入结束后，工程窗口会释放它。\n"
                                 "请等核对或写入结束，或在工程窗口中点“停止”，然后重试。")
            .arg(is_network_port_text(failure.device) ? port_texts_tr::tr("网络串口")
                                                      : port_texts_tr::tr("串口"),
                 failure.device);
    if (failure.kind == port_failure_kind::bad_name && is_dnssd_port_text(failure.device))
        return port_texts_tr::tr("串口号 %1 无效：网络串口服务器应写成 dnssd:名字，名字为 1 到 %2 "
                                 "个字节（例如 dnssd:line-1）")
            .arg(failure.device.trimmed(), QString::number(DNSSD_NAME_MAX_BYTES));
    if (failure.kind == port_failure_kind::bad_name)
        return is_network_port_text(failure.device)
                   ? network_port_refusal_message(parse_network_port(failure.device),
                                                  failure.device)
                   : port_name_refusal_message();
    if (is_network_port_text(failure.device)) {
        QString hint;
        const QString what = network_failure_what(failure, hint);
        if (!what.isEmpty()) {
            QString text = port_texts_tr::tr("无法打开网络串口 %1：%2。").arg(failure.device, what);
            if (!failure.reason.isEmpty())
                text += port_texts_tr::tr("\n系统原因：") + failure.reason;
            return text + u'\n' + hint;
        }
    }
    if (failure.kind == port_failure_kind::unsupported_settings)
        return port_texts_tr::tr("串口 %1 不支持 9600 波特、8 个数据位、无校验、1 个停止位。\n"
                                 "系统原因：%2")
            .arg(failure.device, failure.reason);

    QString what;
    QString hint;
    switch (failure.kind) {
    case port_failure_kind::not_found:
        what = port_texts_tr::tr("找不到该串口设备");
        hint = port_texts_tr::tr("请检查串口号，以及串口线或 USB 转串口适配器是否已插好。");
        break;
    case port_failure_kind::permission:
        what = port_texts_tr::tr("没有权限打开该串口");
        hint = port_texts_tr::tr("在 Linux 上，请把当前用户加入 dialout 组（sudo usermod -aG "
                                 "dialout $USER），然后重新登录。");
        break;
    case port_failure_kind::in_use:
        what = port_texts_tr::tr("串口正被其他程序占用");
        hint = HOST_PLATFORM == port_platform::windows
                   ? port_texts_tr::tr("请关闭正在使用该串口的其他程序（例如串口调试助手或另一个 "
                                       "Lorvane），然后重试；在设备管理器中可以确认端口号。")
                   : port_texts_tr::tr("请关闭正在使用该串口的其他程序（例如串口终端、另一个 "
                                       "Lorvane 或 ModemManager），然后重试。");
        break;
    case port_failure_kind::already_open:
        what = port_texts_tr::tr("串口已被打开");
        break;
    default:
        what = port_texts_tr::tr("无法打开");
        break;
    }
    QString text = port_texts_tr::tr("无法打开串口 %1：%2。\n系统原因：%3")
                       .arg(failure.device, what, failure.reason);
    if (!hint.isEmpty())
        text += u'\n' + hint;
    return text;
}

QString port_lost_message(const QString& device, port_loss why)
{
    if (why == port_loss::flooded)
        return port_texts_tr::tr(
                   "网络串口 %1 的服务器不读取发给它的数据（待发送的数据超过 %2 KiB），"
                   "连接已关闭，串口已关闭。")
            .arg(device, QString::number(MAX_PENDING_OUTPUT / 1024));
    if (why == port_loss::tls_expected)
        return port_texts_tr::tr("网络串口 %1 的服务器在收到第一个请求时关闭了连接：它在该端口上"
                                 "使用 TLS，请改用 %2。串口已关闭。")
            .arg(device, url_with_tls(device, true));
    if (is_network_port_text(device) || is_dnssd_port_text(device))
        return port_texts_tr::tr(
                   "网络串口 %1 的连接已断开（服务器关闭了连接或网络中断），串口已关闭。")
            .arg(device);
    return port_texts_tr::tr("串口 %1 已断开（设备被拔出或不再可用），串口已关闭。").arg(device);
}

QString trust_question(const QString& device, const server_certificate& certificate,
                       const QString& known_servers)
{
    return port_texts_tr::tr("网络串口 %1 的服务器出示的证书既未经受信任的证书机构为该主机认证，"
                             "也未被本机记住：\n\n%2\n\n请在服务器上核对指纹（openssl x509 "
                             "-noout -fingerprint -sha256 -in 证书文件）。是否信任该服务器？\n"
                             "“%3”会把指纹记入 %4，以后不再询问；“%5”则不连接。")
        .arg(device, certificate_lines(certificate), translated("port_texts", TRUST_BUTTON),
             QDir::toNativeSeparators(known_servers), translated("port_texts", REFUSE_BUTTON));
}

QString tls_file_problem_words(const port_failure& failure)
{
    if (!failure.file_fault)
        return {};
    switch (*failure.file_fault) {
    case file_problem::not_regular:
        return port_texts_tr::tr("它不是普通文件（而是设备、管道或套接字），没有读取");
    case file_problem::is_folder:
        return port_texts_tr::tr("这是一个文件夹，不是普通文件");
    case file_problem::too_large:
        return port_texts_tr::tr("文件超过 %1 MiB").arg(known_servers::MAX_FILE_SIZE >> 20);
    default:
        return {};
    }
}

QString trust_store_failure_message(const QString& known_servers, const QString& reason)
{
    return port_texts_tr::tr("无法把证书指纹记入 %1：%2。串口没有打开。")
        .arg(QDir::toNativeSeparators(known_servers), reason);
}

std::optional<QString> expiry_warning_message(const QString& device,
                                              const server_certificate& certificate,
                                              const QDateTime& now)
{
    const qint64 days = now.daysTo(certificate.expires);
    if (days > CERTIFICATE_WARNING_DAYS)
        return std::nullopt;
    if (certificate.expires < now)
        return port_texts_tr::tr("网络串口 %1 的服务器证书已于 %2 过期。请在服务器上更新证书，"
                                 "然后重新信任新证书。")
            .arg(device, date_of(certificate.expires));
    return port_texts_tr::tr("网络串口 %1 的服务器证书将于 %2 到期（还有 %3 天）。请在此之前在"
                             "服务器上更新证书，然后重新信任新证书。")
        .arg(device, date_of(certificate.expires))
        .arg(days);
}

QString port_description(const port_entry& port)
{
    if (port.manufacturer.isEmpty() || port.description.contains(port.manufacturer))
        return port.description;
    if (port.description.isEmpty())
        return port.manufacturer;
    return port.description + port_texts_tr::tr("（") + port.manufacturer + port_texts_tr::tr("）");
}

}  // namespace lorvane
