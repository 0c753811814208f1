// The servers whose TLS certificates the user trusts, pinned by SHA-256 fingerprint as ssh
// pins host keys, in one file shared by the window and lorvane-cli (known_servers in the
// configuration folder). One server a line, "HOST:PORT sha256:HEX"; blank lines and lines
// starting with '#' are comments and are kept, as are lines this version cannot read.
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace lorvane::known_servers {

// A known_servers file holds a few lines; one larger than this is neither read past it nor
// rewritten.
inline constexpr qint64 MAX_FILE_SIZE = 1024 * 1024;

struct result
{
    enum class status { done, unreadable, too_large, unwritable };
    status outcome = status::done;
    QString reason;                    // unreadable, unwritable: the system's words
    std::optional<QByteArray> stored;  // find: the fingerprint stored for the server;
                                       // store: the one it replaced
    bool ok() const { return outcome == status::done; }
};

// The fingerprint stored for `server` ("HOST:PORT") in file `path`; none when the file or the
// line is missing. A file that exists but cannot be read is `unreadable`.
result find(const QString& path, const QString& server);

// Stores `fingerprint` for `server` in file `path`, in place of the one stored before (in
// `stored`), creating the file and its folder as needed. The file is replaced whole or left
// as it was.
result store(const QString& path, const QString& server, const QByteArray& fingerprint);

}  // namespace lorvane::known_servers
