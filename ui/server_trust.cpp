#include "server_trust.h"

#include "known_servers.h"
#include "message_box.h"
#include "port_texts.h"
#include "serial_link.h"

namespace lorvane {

bool trust_unknown_server(QWidget* parent, const port_failure& failure,
                          const QString& known_servers)
{
    if (!failure.certificate)
        return false;
    const server_certificate& certificate = *failure.certificate;
    if (!message_box::ask(parent, TRUST_TITLE,
                          trust_question(failure.device, certificate, known_servers), TRUST_BUTTON,
                          REFUSE_BUTTON))
        return false;
    const known_servers::result stored =
        known_servers::store(known_servers, certificate.server, certificate.fingerprint);
    if (stored.ok())
        return true;
    message_box::show(
        parent, trust_store_failure_message(
                    known_servers,
                    stored.outcome == known_servers::result::status::too_large
                        ? QStringLiteral("文件超过 %1 MiB").arg(known_servers::MAX_FILE_SIZE >> 20)
                        : stored.reason));
    return false;
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
