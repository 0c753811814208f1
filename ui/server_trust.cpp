#include "server_trust.h"

#include "known_servers.h"
#include "language.h"
#include "message_box.h"
#include "port_texts.h"
#include "serial_link.h"

namespace lorvane {

namespace {

// Stores the pin the user trusted; false after one box saying why it could not be stored.
bool store_pin(QWidget* parent, const server_certificate& certificate, const QString& known_servers)
{
    const known_servers::result stored =
        known_servers::store(known_servers, certificate.server, certificate.fingerprint);
    if (stored.ok())
        return true;
    QString why = stored.reason;
    if (stored.outcome == known_servers::result::status::too_large)
        why = server_trust_tr::tr("文件超过 %1 MiB").arg(known_servers::MAX_FILE_SIZE >> 20);
    else if (stored.outcome == known_servers::result::status::locked)
        why = server_trust_tr::tr("另一个程序正在写入该文件，%1 秒内没有结束")
                  .arg(known_servers::LOCK_WAIT_MS / 1000);
    else if (stored.problem == file_problem::not_regular)
        why = server_trust_tr::tr("它不是普通文件（而是设备、管道或套接字）");
    else if (stored.problem == file_problem::is_folder)
        why = server_trust_tr::tr("这是一个文件夹，不是文件");
    message_box::show(parent, trust_store_failure_message(known_servers, why));
    return false;
}

}  // namespace

bool trust_unknown_server(QWidget* parent, const port_failure& failure,
                          const QString& known_servers)
{
    if (!failure.certificate)
        return false;
    const server_certificate& certificate = *failure.certificate;
    if (!message_box::ask(parent, translated("port_texts", TRUST_TITLE),
                          trust_question(failure.device, certificate, known_servers),
                          translated("port_texts", TRUST_BUTTON),
                          translated("port_texts", REFUSE_BUTTON)))
        return false;
    return store_pin(parent, certificate, known_servers);
}

QWidget* trust_unknown_server_later(QWidget* parent, const port_failure& failure,
                                    const QString& known_servers,
                                    std::function<void(bool trusted)> answered)
{
    if (!failure.certificate) {
        answered(false);
        return nullptr;
    }
    const server_certificate certificate = *failure.certificate;
    return message_box::ask_later(
        parent, translated("port_texts", TRUST_TITLE),
        trust_question(failure.device, certificate, known_servers),
        translated("port_texts", TRUST_BUTTON), translated("port_texts", REFUSE_BUTTON),
        [parent, certificate, known_servers, answered = std::move(answered)](bool yes) {
            answered(yes && store_pin(parent, certificate, known_servers));
        });
}

bool trust_and_reopen(QWidget* parent, serial_link& link, const port_failure& failure)
{
    if (failure.kind != port_failure_kind::certificate_unknown || !failure.certificate)
        return false;
    const network_options options = default_network_options();
    if (!trust_unknown_server(parent, failure, options.known_servers) || link.is_open() ||
        link.is_opening())
        return true;
    link.set_network_options(options);
    if (const auto again = link.open(failure.device))
        message_box::show(parent, port_failure_message(*again));
    return true;
}

}  // namespace lorvane
