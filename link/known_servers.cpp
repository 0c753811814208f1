#include "known_servers.h"

#include "tls_settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace lorvane::known_servers {

namespace {

const QByteArray HEADER =
    "# Servers whose TLS certificates Lorvane trusts: HOST:PORT sha256:FINGERPRINT\n";

struct entry
{
    QString server;
    QByteArray fingerprint;
};

// The server and fingerprint a line names, or nothing for a comment or a line not understood.
std::optional<entry> read_line(const QByteArray& line)
{
    const QList<QByteArray> fields = line.simplified().split(' ');
    if (fields.size() != 2 || fields[0].startsWith('#'))
        return std::nullopt;
    const auto fingerprint = parse_fingerprint(QString::fromLatin1(fields[1]));
    if (!fingerprint)
        return std::nullopt;
    return entry{QString::fromUtf8(fields[0]).toLower(), *fingerprint};
}

// The file's lines; a file that does not exist has none.
result read_all(const QString& path, QList<QByteArray>& lines)
{
    QFile file(path);
    if (!file.exists())
        return {};
    if (!file.open(QIODevice::ReadOnly))
        return {result::status::unreadable, file.errorString(), {}};
    const QByteArray bytes = file.read(MAX_FILE_SIZE + 1);
    if (file.error() != QFileDevice::NoError)
        return {result::status::unreadable, file.errorString(), {}};
    lines = bytes.left(MAX_FILE_SIZE).split('\n');
    if (!lines.isEmpty() && lines.back().isEmpty())
        lines.removeLast();
    if (bytes.size() > MAX_FILE_SIZE)
        return {result::status::too_large, {}, {}};
    return {};
}

}  // namespace

result find(const QString& path, const QString& server)
{
    QList<QByteArray> lines;
    result found = read_all(path, lines);
    if (found.outcome == result::status::unreadable)
        return found;
    found = {};  // a file too large still answers from its first MiB
    for (const QByteArray& line : lines) {
        if (const auto e = read_line(line); e && e->server == server.toLower())
            found.stored = e->fingerprint;
    }
    return found;
}

result store(const QString& path, const QString& server, const QByteArray& fingerprint)
{
    QList<QByteArray> lines;
    result stored = read_all(path, lines);
    if (!stored.ok())
        return stored;
    const QByteArray line =
        server.toLower().toUtf8() + ' ' + fingerprint_text(fingerprint).toLatin1();
    QByteArray text = lines.isEmpty() ? HEADER : QByteArray();
    bool placed = false;
    for (const QByteArray& old : lines) {
        const auto e = read_line(old);
        if (!e || e->server != server.toLower()) {
            text += old + '\n';
        } else if (!placed) {  // the server's first line keeps its place; any later one goes
            stored.stored = e->fingerprint;
            text += line + '\n';
            placed = true;
        }
    }
    if (!placed)
        text += line + '\n';

    QDir().mkpath(QFileInfo(path).absolutePath());  // a folder that cannot be made fails the open
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
        return {result::status::unwritable, file.errorString(), {}};
    return stored;
}

}  // namespace lorvane::known_servers
