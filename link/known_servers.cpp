#include "known_servers.h"

#include "tls_settings.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QRandomGenerator>
#include <QThread>

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

// The failure for a file that config/'s opener refused.
result failed(result::status outcome, const file_failure& failure)
{
    result r{outcome, failure.reason, failure.kind, {}};
    if (r.reason.isEmpty() && failure.kind == file_problem::not_regular)
        r.reason = QStringLiteral("not a regular file");
    return r;
}

// The file's lines; a file that does not exist has none. Read through the one opener of
// config/: a FIFO, a device or a folder is refused at once.
result read_all(const QString& path, QList<QByteArray>& lines)
{
    const file_contents contents = read_regular_file(path, MAX_FILE_SIZE);
    if (const auto* failure = std::get_if<file_failure>(&contents)) {
        if (failure->kind == file_problem::not_found)
            return {};
        if (failure->kind == file_problem::too_large)
            return {result::status::too_large, {}, {}, {}};
        return failed(result::status::unreadable, *failure);
    }
    lines = std::get<QByteArray>(contents).split('\n');
    if (!lines.isEmpty() && lines.back().isEmpty())
        lines.removeLast();
    return {};
}

// Takes `lock` within LOCK_WAIT_MS. Not QLockFile::tryLock(timeout): its waits double from
// 100 ms, so writers that start together wake together, one wins and the rest wait on, and
// a dozen of them run out of time. Short waits of random length let each in soon.
bool take(QLockFile& lock)
{
    const QDeadlineTimer deadline(LOCK_WAIT_MS);
    while (!lock.tryLock(0)) {
        if (lock.error() != QLockFile::LockFailedError || deadline.hasExpired())
            return false;
        QThread::msleep(5 + QRandomGenerator::global()->bounded(20u));
    }
    return true;
}

}  // namespace

result find(const QString& path, const QString& server)
{
    QList<QByteArray> lines;
    result found = read_all(path, lines);
    if (!found.ok())
        return found;
    for (const QByteArray& line : lines) {
        if (const auto e = read_line(line); e && e->server == server.toLower())
            found.stored = e->fingerprint;
    }
    return found;
}

result store(const QString& path, const QString& server, const QByteArray& fingerprint)
{
    QDir().mkpath(QFileInfo(path).absolutePath());  // a folder that cannot be made fails the lock
    // One writer at a time, each reading what the last one wrote: without the lock two runs
    // that read the same old file would each write it back with their own entry only.
    QLockFile lock(path + QStringLiteral(".lock"));
    if (!take(lock)) {
        QString why;
        switch (lock.error()) {
        case QLockFile::LockFailedError:
            why = QStringLiteral("another program held it for more than %1 s")
                      .arg(LOCK_WAIT_MS / 1000);
            break;
        case QLockFile::PermissionError:
            why = QStringLiteral("no permission to make %1").arg(lock.fileName());
            break;
        default:
            why = QStringLiteral("cannot make %1").arg(lock.fileName());
            break;
        }
        return {result::status::locked, why, {}, {}};
    }
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
    if (const auto failure = write_regular_file(path, text))
        return failed(result::status::unwritable, *failure);
    return stored;
}

}  // namespace lorvane::known_servers
