// One module's write and read transfers for the command line, driven by the window's own
// chain code (transfer_sequences) over a configuration held in memory. Each call runs
// its chain to the end in a local event loop and returns how it ended.
#pragma once

#include "interrupt_watch.h"
#include "panel_config.h"
#include "panel_view.h"
#include "serial_link.h"
#include "transfer_sequences.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>

class QEventLoop;

namespace lorvane::cli {

enum class outcome { done, no_reply, port_lost, interrupted };

// How a reply that passed the checksum and header test stands to the request on the line:
// only one that answers it moves a transfer (or a scan) on; the others are ignored.
enum class reply_fit { answers, other_address, other_function, other_record };
reply_fit fit_of(const frame& reply, const frame& request);

struct session_options
{
    std::chrono::milliseconds timeout{1000};  // for each reply
    int retries = 0;                          // sends of the same request after a time-out
};

class module_session final : public QObject, private panel_view, private transfer_events
{
    Q_OBJECT

public:
    // `progress` hears the number of records confirmed so far (1..17); an interrupt from
    // `interrupts` ends a running transfer with outcome::interrupted.
    module_session(serial_link& link, const session_options& options, interrupt_watch& interrupts,
                   std::function<void(int confirmed)> progress = {});

    // Writes all 17 records of `config` to module config.module_address.
    outcome write(const panel_config& config);
    // Reads all 17 records of module `address` into `config` (module_address set too).
    outcome read(std::uint8_t address, panel_config& config);

    // The record whose reply did not come, after outcome::no_reply.
    int failed_record() const { return awaited_record_; }

private:
    void interrupt();
    outcome run(const std::function<void()>& first_request);
    void finish(outcome result);
    void on_sent(const frame& request);
    void on_reply(const frame& reply);
    void on_deadline();

    // panel_view over config_: bytes in, bytes out; captions and messages belong to the
    // window, the command line hears the events below.
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
    std::function<void(int)> progress_;
    transfer_sequences transfer_;
    panel_config config_;
    QTimer deadline_;
    QEventLoop* loop_ = nullptr;
    outcome result_ = outcome::done;
    int awaited_record_ = 0;
    int retries_left_ = 0;
    bool resending_ = false;  // the next send is a retry of the last request
};

}  // namespace lorvane::cli
