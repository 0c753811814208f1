// One module's whole transfer, for any front end: write all 17 records of a configuration
// held in memory, or read them into one, driven by the same chain code as the window's
// buttons (transfer_sequences), with a reply time-out and retries of its own. It runs on
// the event loop and reports as signals; stop() ends it at any moment.
#pragma once

#include "panel_config.h"
#include "panel_view.h"
#include "serial_link.h"
#include "transfer_sequences.h"

#include <QObject>
#include <QTimer>

#include <chrono>

namespace lorvane {

enum class session_outcome { done, no_reply, port_lost, stopped };

struct session_options
{
    std::chrono::milliseconds timeout{1000};  // for each reply
    int retries = 0;                          // sends of the same request after a time-out
};

// How a reply that passed the checksum and header test stands to the request on the line:
// only one that answers it moves a session on; the others are ignored.
enum class reply_fit { answers, other_address, other_function, other_record };
reply_fit fit_of(const frame& reply, const frame& request);

class module_session final : public QObject, private panel_view, private transfer_events
{
    Q_OBJECT

public:
    explicit module_session(serial_link& link, const session_options& options = {},
                            QObject* parent = nullptr);

    // Starts writing all 17 records of `config` to module config.module_address, or
    // reading all 17 records of module `address`. A session runs one transfer at a time:
    // a start while one runs is ignored. Ends with finished().
    void start_write(const panel_config& config);
    void start_read(std::uint8_t address);
    // Ends a running transfer with session_outcome::stopped; nothing more is sent.
    void stop();

    bool running() const { return running_; }
    transfer_kind kind() const { return kind_; }
    // What was written, or what has been read so far (module_address set too).
    const panel_config& config() const { return config_; }
    // The record whose reply did not come, after session_outcome::no_reply.
    int failed_record() const { return awaited_record_; }

Q_SIGNALS:
    // `confirmed` records (1..17) have been answered so far.
    void progress(int confirmed);
    // While running: an accepted reply that does not answer the request on the line, and why.
    void reply_ignored(const lorvane::frame& reply, lorvane::reply_fit why);
    // The transfer is over; emitted once per start, never from inside start_*().
    void finished(lorvane::session_outcome outcome);

private:
    void start(transfer_kind kind);
    void finish(session_outcome outcome);
    void on_sent(const frame& request);
    void on_reply(const frame& reply);
    void on_deadline();

    // panel_view over config_: bytes in, bytes out; captions and messages belong to the
    // window, front ends hear the signals above.
    QString module_address_text() const override;
    QString refresh_period_text() const override;
    void set_refresh_period_text(const QString& text) override;
    QString key_address_text(int row) const override;
    QString key_line_text(int row) const override;
    QString key_operation_text(int row) const override;
    void set_key_texts(int row, const QString& address, const QString& line,
                       const QString& operation) override;
    void set_write_caption(const QString&) override {}
    void set_read_caption(const QString&) override {}
    void show_message(const QString&) override {}
    operation_code key_operation_code(int row) const override;
    void set_refresh_period(std::uint8_t value) override;
    void set_key_values(int row, std::uint8_t address, std::uint8_t line,
                        operation_code operation) override;

    // transfer_events
    void record_confirmed(transfer_kind kind, int record) override;
    void transfer_completed(transfer_kind kind) override;

    serial_link& link_;
    session_options options_;
    transfer_sequences transfer_;
    panel_config config_;
    QTimer deadline_;
    transfer_kind kind_ = transfer_kind::write;
    bool running_ = false;
    int awaited_record_ = 0;
    int retries_left_ = 0;
    bool resending_ = false;  // the next send is a retry of the last request
};

}  // namespace lorvane
