// The serial line to the panel module and its one owner: opening and closing the port, and
// running the operations that use it (a module's transfer, a comparison, a scan, the window's
// chains) one at a time, in the order they were submitted. Received bytes are cut into frames
// here, once, and every item goes to the operation running when it arrived; a reply that
// arrives while none runs is offered to whoever listens (the window's chains take such
// replies). Closing or losing the port finishes the running operation and every queued one,
// once each; nothing is ever sent into a closed port. How long to wait for a reply is each
// operation's business. Users of the link see port texts, frames, kinds and signals only.
#pragma once

#include "frame.h"
#include "frame_stream.h"
#include "line_capture.h"
#include "line_health.h"
#include "line_operation.h"
#include "serial_device.h"
#include "tls_settings.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>

namespace lorvane {

class network_serial_device;

class serial_link : public QObject
{
    Q_OBJECT

public:
    explicit serial_link(QObject* parent = nullptr);
    // With the device to use instead of the system's serial ports (null for the usual one): a
    // test scripts what the line delivers.
    explicit serial_link(std::unique_ptr<serial_device> local, QObject* parent = nullptr);
    ~serial_link() override;

    // Opens the port that `port_text` names at 9600 baud, 8N1, no flow control: a local
    // serial port, or one behind a network serial server (tcp://HOST:PORT,
    // rfc2217://HOST:PORT, and both inside TLS: tcp+tls://, rfc2217+tls://). Returns why when the
    // text names no port or the port cannot be opened; it then stays closed. A local port is open
    // on return; a network port is left opening (is_opening()), and opened() or open_failed()
    // follows from the event loop.
    std::optional<port_failure> open(const QString& port_text);

    // Closes the port if it is open: the running operation and every queued one finish with
    // port_closed, then closed() tells the listeners.
    void close();

    // The port's own open flag, read afresh: the only record of the port state.
    bool is_open() const;
    // True while a network port is being opened.
    bool is_opening() const;

    // The device of the port last opened (or tried), as the user named it.
    QString port_name() const;

    // Starts `operation` at once if the port is open and no operation runs or waits; false
    // otherwise. For the window's chains, which send as the user clicks.
    bool claim(line_operation& operation);
    // The operation that holds the line now, if any.
    line_operation* running() const { return running_.data(); }
    // True when no operation runs or waits.
    bool idle() const { return !running_ && queue_.empty(); }

    // How TLS servers are trusted and which client certificate is offered, from the next
    // open of a network port on.
    void set_network_options(const network_options& options);
    // The certificate of the TLS server the open network port is connected to.
    std::optional<server_certificate> peer_certificate() const;
    // Why the port was lost last: known to the operations that port_lost finishes, before
    // port_lost() itself is emitted.
    port_loss last_loss() const { return loss_; }

    // Counts the discards of what was received (each send that starts an exchange, and each
    // open or close). A reply handled later than it arrived still counts only while this
    // has not moved on: a send since then has discarded it.
    std::uint64_t input_generation() const { return generation_; }
    // Counts the chunks of bytes received: items with the same count arrived together.
    std::uint64_t input_chunk() const { return chunk_; }

    // What the line saw since the last open or reset_health(): per module and per bus, with
    // the device's own counters (OS errors as differences from that moment) read now.
    line_health health() const;
    void reset_health();

    // Records every byte of this line from now on into `capture` as its interface
    // `interface` (line_capture::add_interface): each request as it goes out, each chunk as
    // it arrives, before it is cut into frames. Null stops recording; so does the capture
    // being destroyed.
    void set_capture(line_capture* capture, std::uint32_t interface = 0);
    line_capture* capture() const { return capture_.data(); }

Q_SIGNALS:
    // The outcome of an open left opening: the port is open now, or it stays closed.
    void opened();
    void open_failed(const lorvane::port_failure& failure);
    // The open port failed (adapter unplugged, far end gone, a server that floods us), and
    // why; every operation has been finished with port_lost and the port closed.
    void port_lost(const QString& device, lorvane::port_loss why);
    // The port was closed, by close() or after it failed; no reply can come any more.
    void closed();

    // Every request that went out on the line, for tracing.
    void frame_sent(const lorvane::frame& request);
    // Every chunk of bytes as it arrived, before it is cut into frames (the scan's trace).
    void bytes_received(const QByteArray& bytes);
    // Every item cut from them and what became of it; `request` is the request of the
    // operation that judged it (all zero when none ran).
    void item_received(const lorvane::frame_stream::item& item, lorvane::item_fate fate,
                       const lorvane::frame& request);
    // A reply that passed the checksum and header test while no operation ran. `in_step`
    // tells whether it began at an 8-byte step of its exchange; `generation` and `chunk` are
    // input_generation() and input_chunk() at its arrival.
    void unclaimed_reply(const lorvane::frame& reply, bool in_step, std::uint64_t generation,
                         std::uint64_t chunk);

private:
    friend class line_operation;

    void use_device(bool network);
    void on_bytes_received();
    void on_device_failed(port_loss why);
    void drop_lost_port();
    // Closes the port, frees it for the other links of this program, discards what was
    // received and finishes every operation with `end`; the caller then says what happened.
    void shut_port(operation_end end);
    // Drops the bytes received so far and moves input_generation() on.
    void reset_input();
    // Finishes the running and every queued operation with `end`, once each.
    void finish_all(operation_end end);
    void start_next();
    void schedule_next();

    // For operations.
    void enqueue(line_operation& operation);
    // Takes `operation` off the line (it ended or is going away); the next one starts.
    void withdraw(line_operation& operation);
    bool transmit(line_operation& operation, const frame& request, bool discard);

    std::unique_ptr<serial_device> local_;            // the system's serial ports
    std::unique_ptr<network_serial_device> network_;  // ports behind network serial servers
    serial_device* port_;                             // the one last opened (or tried)
    frame_stream stream_;
    line_watch watch_;
    std::optional<os_line_errors> os_base_;  // the device's OS counters at the last reset
    std::optional<serial_device::line_state_notes> notes_base_;
    QPointer<line_operation> running_;
    QPointer<line_capture> capture_;
    std::uint32_t capture_interface_ = 0;
    std::deque<QPointer<line_operation>> queue_;
    QString device_;  // the name as the user gave it; "/dev/pts/7" stays whole
    std::uint64_t generation_ = 0;
    std::uint64_t chunk_ = 0;
    bool start_pending_ = false;        // start_next() is queued on the event loop
    bool loss_pending_ = false;         // a close of a failed port is queued; say it once
    port_loss loss_ = port_loss::gone;  // why, for that close
};

}  // namespace lorvane
