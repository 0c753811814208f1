#include "server_trust.h"

#include "known_servers.h"
#include "message_box.h"
#include "port_texts.h"

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
    message_box::show(parent,
                      trust_store_failure_message(
                          known_servers, stored.outcome == known_servers::result::status::too_large
                                             ? QStringLiteral("文件超过 1 MiB")
                                             : stored.reason));
    return false;
}

}  // namespace lorvane
