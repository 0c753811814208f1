// The serial port under the link, as one narrow interface: open a device at 9600 baud,
// 8N1, no flow control; discard what was received; send 8 bytes; hand over what arrives.
// The implementation over QSerialPort serves Linux, and Windows wherever Qt SerialPort
// is available; a Win32 one serves Windows builds without it; a third one reaches a serial
// port behind a network serial server over TCP, plain or inside TLS.
#pragma once

#include "file_access.h"
#include "frame.h"
#include "line_health.h"

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class QIODevice;

namespace lorvane {

// Why a port could not be opened. Front ends word it for their users; the link only
// classifies.
enum class port_failure_kind {
    bad_name,              // the text names no port
    not_found,             // no such device
    permission,            // the user may not open it (Linux: not in the dialout group)
    in_use,                // another program holds it
    already_open,          // this program holds it already
    in_use_here,           // another part of this program holds it (a site run, a window)
    unsupported_settings,  // opened, but 9600 8N1 cannot be set
    host_not_found,        // network: the server's name does not resolve
    connection_refused,    // network: nothing listens on that port
    timed_out,             // network: no answer to the connection in time
    settings_refused,      // network: the server refused the line settings (or never confirmed)
    closed_during_setup,   // network: the server closed the connection during the RFC 2217 setup
    flooded,               // network: the server sent more than it read of our answers
    tls_unavailable,       // TLS: this build or system has no TLS backend
    tls_file,              // TLS: a local file (CA, client certificate or key, known servers)
                           // cannot be read; `file` names it
    tls_file_invalid,      // TLS: a CA, client certificate or key file holds no certificate
                           // or key that can serve (or is far too large); `file` names it
    tls_not_spoken,        // TLS: the server did not answer the handshake as a TLS server
    tls_expected,          // a plain URL at a port that speaks TLS
    certificate_unknown,   // TLS: neither verified for this host nor pinned; `certificate`
    certificate_changed,   // TLS: not the certificate stored for this server; `certificate`
    client_certificate_refused,  // TLS: the server closed right after the handshake: it wants
                                 // a (different) client certificate; `file` is the one offered
    service_not_found,           // dnssd:NAME: no server advertised that name within the wait
    service_ambiguous,           // dnssd:NAME: several servers advertise that name; `hosts`
    service_unsupported,         // dnssd:NAME: its stack names no kind of server we speak; `stack`
    discovery_unavailable,       // dnssd:NAME: this build or system has no DNS-SD service
    discovery_no_daemon,         // dnssd:NAME: the Avahi daemon is not running
    discovery_failed,            // dnssd:NAME: the DNS-SD service reported an error; `reason`
    other,
};

// A TLS server's certificate as the user checks it.
struct server_certificate
{
    QString server;          // "HOST:PORT", as stored among the known servers
    QByteArray fingerprint;  // SHA-256 of the certificate (DER), 32 bytes
    QString subject;         // "CN=box-ser2net, O=..."
    QDateTime expires;       // UTC
    QByteArray stored;       // certificate_changed: the fingerprint stored for the server

    friend bool operator==(const server_certificate&, const server_certificate&) = default;
};

struct port_failure
{
    port_failure() = default;
    port_failure(port_failure_kind k, const QString& d, const QString& r = {})
        : kind(k), device(d), reason(r)
    {
    }

    port_failure_kind kind = port_failure_kind::other;
    QString device;  // as the user named it, or the device it maps to
    QString reason;  // the system's own words, may be empty
    QString file;    // tls_file: the file at fault; client_certificate_refused: the one offered
    std::optional<file_problem> file_fault;  // tls_file: what config/'s opener found wrong
                                             // with `file` (not_regular: a FIFO, a device)
    QString server_text;  // in_use, closed_during_setup: what the server said before it closed
    std::optional<server_certificate> certificate;  // certificate_unknown, certificate_changed
    QStringList hosts;  // service_ambiguous: the hosts advertising the name
    QString stack;      // service_unsupported: the gensio stack advertised

    friend bool operator==(const port_failure&, const port_failure&) = default;
};

// Why an open port was lost.
enum class port_loss {
    gone,          // the device or the connection went away
    flooded,       // the server sent more than it read of our answers (bounded output)
    tls_expected,  // a plain connection closed at our first request by a server that speaks TLS
};

class serial_device : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;
    ~serial_device() override = default;

    // Opens `device` (a system name such as "COM3" or "ttyUSB0", a path, or for the network
    // device a server's URL) for reading and writing and sets 9600 baud, 8 data bits, no
    // parity, 1 stop bit, no flow control. Bytes received before the open are dropped. On
    // failure the device stays closed. A local device settles at once; a network device is
    // left opening, and opened() or open_failed() follows from the event loop.
    virtual std::optional<port_failure> open(const QString& device) = 0;
    // Closes the device, or gives up an open still under way (no outcome is reported then).
    virtual void close() = 0;
    virtual bool is_open() const = 0;
    virtual bool is_opening() const { return false; }

    // Drops every byte received so far: the driver's queue and any buffer of our own.
    virtual void discard_input() = 0;
    // Hands the 8 bytes to the driver in one write, now.
    virtual void send(const frame& bytes) = 0;
    // The bytes received and not yet read, for the line's owner and its frame cutter.
    virtual QIODevice& input() = 0;

    // What the system or the server says about the line, where it says it (none otherwise):
    // the OS error counters of a local port since its open; the USB adapter's latency timer
    // in ms; RFC 2217 NOTIFY-LINESTATE notices since the open and their error bits, or-ed.
    virtual std::optional<os_line_errors> os_errors() const { return std::nullopt; }
    virtual std::optional<int> latency_timer_ms() const { return std::nullopt; }
    struct line_state_notes
    {
        std::uint64_t notices = 0;
        std::uint8_t errors = 0;
    };
    virtual std::optional<line_state_notes> line_state() const { return std::nullopt; }

Q_SIGNALS:
    // The outcome of an open that was left opening.
    void opened();
    void open_failed(const lorvane::port_failure& failure);
    // More bytes are waiting in input().
    void bytes_received();
    // The open device stopped working (adapter unplugged, far end gone), and why. May come
    // more than once and from inside the device's own handling: close it later, not here.
    void failed(lorvane::port_loss why = lorvane::port_loss::gone);
};

// The device of this build: QSerialPort where Qt SerialPort is available, Win32 otherwise.
std::unique_ptr<serial_device> make_serial_device();

}  // namespace lorvane
