// The window's words for the port: a port text that names no port, a port that could not be
// opened, and a port that went away. The link reports kinds and values; they are worded here.
#pragma once

#include "dnssd_browser.h"
#include "network_port.h"
#include "port_listing.h"
#include "serial_device.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QString>

#include <optional>

namespace lorvane {

// What the port box accepts, for a text that names no port, with examples.
QString port_name_refusal_message();

// A refused network port text: the part that is wrong, what it must be, and an example.
QString network_port_refusal_message(const network_port_result& refused, const QString& text);

// A port that could not be opened (a text that names no port included), naming the device,
// the system's reason and what the user can do about it.
QString port_failure_message(const port_failure& failure);

// A dnssd:NAME port that could not be opened (not found, advertised twice, a stack we do not
// speak, no discovery), naming the service; nothing for the other kinds.
std::optional<QString> dnssd_failure_message(const port_failure& failure);

// A discovered server in the port box's list: its name and kind, "line-3（RFC 2217）".
QString server_entry_text(const dnssd_service& server);
// The list's last entry when discovery cannot run: why there are no servers in it.
QString discovery_missing_text(const discovery_problem& problem);
// The list's only entry while it has nothing else and the servers are being looked for.
inline const QString DISCOVERY_SEARCHING_TEXT =
    QStringLiteral(QT_TRANSLATE_NOOP("port_texts", "（正在查找网络串口服务器…）"));

// A port that went away while open, and why.
QString port_lost_message(const QString& device, port_loss why);

// The trust box for a TLS server's unknown certificate: its title (with 证书), the question
// with the fingerprint, subject and expiry, and its two buttons.
inline const QString TRUST_TITLE =
    QStringLiteral(QT_TRANSLATE_NOOP("port_texts", "未知的服务器证书"));
inline const QString TRUST_BUTTON = QStringLiteral(QT_TRANSLATE_NOOP("port_texts", "信任并保存"));
inline const QString REFUSE_BUTTON = QStringLiteral(QT_TRANSLATE_NOOP("port_texts", "拒绝"));
QString trust_question(const QString& device, const server_certificate& certificate,
                       const QString& known_servers);

// What config/'s opener found wrong with the TLS file of a tls_file failure ("它不是普通文件
// （而是设备、管道或套接字），没有读取"), or nothing where it said no more than the system.
QString tls_file_problem_words(const port_failure& failure);

// A pin that could not be stored among the known servers.
QString trust_store_failure_message(const QString& known_servers, const QString& reason);

// A warning for a trusted certificate that has expired or expires within
// CERTIFICATE_WARNING_DAYS of `now`.
std::optional<QString> expiry_warning_message(const QString& device,
                                              const server_certificate& certificate,
                                              const QDateTime& now);

// A listed port's description with its maker, for the port box's list: "USB Serial（FTDI）".
QString port_description(const port_entry& port);

}  // namespace lorvane
