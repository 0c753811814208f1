// The servers whose TLS certificates the user trusts, pinned by SHA-256 fingerprint as ssh
// pins host keys, in one file shared by the window and lorvane-cli (known_servers in the
// configuration folder). One server a line, "HOST:PORT sha256:HEX"; blank lines and lines
// starting with '#' are comments and are kept, as are lines this version cannot read.
#pragma once

#include "file_access.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace lorvane::known_servers {

// A known_servers file holds a few lines; one larger than this is neither read past it nor
// rewritten.
inline constexpr qint64 MAX_FILE_SIZE = 1024 * 1024;
// How long a store waits for another writer (a trust run, a window) to finish with the file.
inline constexpr int LOCK_WAIT_MS = 10000;

struct result
{
    enum class status { done, unreadable, too_large, unwritable, locked };
    status outcome = status::done;
    QString reason;                       // unreadable, unwritable: the system's words
    std::optional<file_problem> problem;  // unreadable, unwritable: what config/ found wrong
                                          // (not_regular: a FIFO or a device, never opened)
    std::optional<QByteArray> stored;     // find: the fingerprint stored for the server;
                                          // store: the one it replaced
    bool ok() const { return outcome == status::done; }
};

// The fingerprint stored for `server` ("HOST:PORT") in file `path`; none when the file or the
// line is missing. A file that exists but cannot be read (a FIFO, a device or a folder is
// refused at once, never waited on) is `unreadable`; one larger than MAX_FILE_SIZE,
// `too_large`.
result find(const QString& path, const QString& server);

// Stores `fingerprint` for `server` in file `path`, in place of the one stored before (in
// `stored`), creating the file and its folder as needed. Many writers at once (trust runs,
// windows) keep every entry: the file is locked (path + ".lock") and read afresh under the
// lock, then replaced whole or left as it was. A lock that another writer holds for longer
// than LOCK_WAIT_MS, or that cannot be made, is `locked`.
result store(const QString& path, const QString& server, const QByteArray& fingerprint);

}  // namespace lorvane::known_servers
