#include "tls_settings.h"

#include "file_access.h"

#include <QDir>
#include <QFileInfo>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>

namespace lorvane {

namespace {

// A certificate bundle or key is a few KiB (a whole system bundle about 200 KiB); anything
// larger is not one, and is not read into memory.
constexpr qint64 MAX_TLS_FILE = 1024 * 1024;

// A file that holds nothing that can serve, or is far too large to be one.
port_failure invalid_file(const QString& file)
{
    port_failure failure;
    failure.kind = port_failure_kind::tls_file_invalid;
    failure.file = file;
    return failure;
}

// The file's bytes, or the failure that names it: read through the one opener of config/,
// which refuses a FIFO, a device or a folder at once instead of waiting on it.
std::variant<QByteArray, port_failure> read_small_file(const QString& name)
{
    file_contents contents = read_regular_file(name, MAX_TLS_FILE);
    if (auto* bytes = std::get_if<QByteArray>(&contents))
        return std::move(*bytes);
    const file_failure& failed = std::get<file_failure>(contents);
    if (failed.kind == file_problem::too_large)
        return invalid_file(name);
    return tls_file_failure(name, failed);
}

QList<QSslCertificate> certificates_in(const QByteArray& bytes)
{
    QList<QSslCertificate> found = QSslCertificate::fromData(bytes, QSsl::Pem);
    if (found.isEmpty())
        found = QSslCertificate::fromData(bytes, QSsl::Der);
    return found;
}

}  // namespace

port_failure tls_file_failure(const QString& file, const file_failure& failed)
{
    port_failure failure;
    failure.kind = port_failure_kind::tls_file;
    failure.file = file;
    failure.reason = failed.reason;
    failure.file_fault = failed.kind;
    return failure;
}

QString configuration_folder()
{
#ifdef Q_OS_WIN
    const QString base = QDir::fromNativeSeparators(qEnvironmentVariable("APPDATA"));
#else
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
#endif
    return base + QStringLiteral("/lorvane");
}

network_options default_network_options()
{
    const QString folder = configuration_folder();
    network_options options;
    options.known_servers = folder + QStringLiteral("/known_servers");
    if (QFileInfo::exists(folder + QStringLiteral("/client.crt"))) {
        options.client_certificate = folder + QStringLiteral("/client.crt");
        options.client_key = folder + QStringLiteral("/client.key");
    }
    return options;
}

QString fingerprint_text(const QByteArray& fingerprint)
{
    return QStringLiteral("sha256:") + QString::fromLatin1(fingerprint.toHex());
}

std::optional<QByteArray> parse_fingerprint(const QString& text)
{
    // "sha256:" as lorvane-cli prints it, optional: openssl prints the bytes alone, in upper
    // case and separated by colons ("AA:BB:...").
    const QString prefix = QStringLiteral("sha256:");
    QString digits = text.trimmed();
    if (digits.startsWith(prefix, Qt::CaseInsensitive))
        digits = digits.mid(prefix.size());
    if (digits.size() == FINGERPRINT_SIZE * 3 - 1) {  // "ab:cd:...", as many tools print it
        for (qsizetype i = 2; i < digits.size(); i += 3) {
            if (digits[i] != u':')
                return std::nullopt;
        }
        digits.remove(u':');
    }
    if (digits.size() != FINGERPRINT_SIZE * 2)
        return std::nullopt;
    for (const QChar c : digits) {
        if (!c.isDigit() && !(c.toLower() >= u'a' && c.toLower() <= u'f'))
            return std::nullopt;
    }
    return QByteArray::fromHex(digits.toLatin1());
}

server_certificate certificate_info(const QSslCertificate& certificate, const QString& server)
{
    server_certificate info;
    info.server = server;
    info.fingerprint = certificate.digest(QCryptographicHash::Sha256);
    QStringList parts;
    for (const QByteArray& attribute : certificate.subjectInfoAttributes()) {
        for (const QString& value : certificate.subjectInfo(attribute))
            parts << QString::fromLatin1(attribute) + u'=' + value;
    }
    info.subject = parts.join(QStringLiteral(", "));
    info.expires = certificate.expiryDate().toUTC();
    return info;
}

std::variant<QSslConfiguration, port_failure> tls_configuration(const network_options& options)
{
    if (!QSslSocket::supportsSsl()) {
        port_failure failure;
        failure.kind = port_failure_kind::tls_unavailable;
        return failure;
    }
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setPeerVerifyMode(QSslSocket::VerifyPeer);
    if (!options.ca_file.isEmpty()) {
        auto bytes = read_small_file(options.ca_file);
        if (auto* failure = std::get_if<port_failure>(&bytes))
            return *failure;
        const QList<QSslCertificate> authorities = certificates_in(std::get<QByteArray>(bytes));
        if (authorities.isEmpty())
            return invalid_file(options.ca_file);
        configuration.addCaCertificates(authorities);
    }
    if (options.client_certificate.isEmpty())
        return configuration;

    auto certificate_bytes = read_small_file(options.client_certificate);
    if (auto* failure = std::get_if<port_failure>(&certificate_bytes))
        return *failure;
    const QList<QSslCertificate> chain = certificates_in(std::get<QByteArray>(certificate_bytes));
    if (chain.isEmpty())
        return invalid_file(options.client_certificate);
    auto key_bytes = read_small_file(options.client_key);
    if (auto* failure = std::get_if<port_failure>(&key_bytes))
        return *failure;
    QSslKey key;
    for (const QSsl::KeyAlgorithm algorithm : {QSsl::Ec, QSsl::Rsa, QSsl::Dsa}) {
        for (const QSsl::EncodingFormat format : {QSsl::Pem, QSsl::Der}) {
            if (key.isNull())
                key = QSslKey(std::get<QByteArray>(key_bytes), algorithm, format, QSsl::PrivateKey);
        }
    }
    if (key.isNull())
        return invalid_file(options.client_key);
    configuration.setLocalCertificateChain(chain);
    configuration.setPrivateKey(key);
    return configuration;
}

}  // namespace lorvane
