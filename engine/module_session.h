// One module's whole transfer, for any front end: write all 17 records of a configuration
// held in memory, or read all 17 into one, as an operation on the line. It sends one request
// at a time and moves on only on the reply that answers it (same module, function and record),
// with a reply time-out and retries of its own. It runs on the event loop and reports as
// signals; stop() ends it at any moment. A read never sends a write request.
#pragma once

#include "line_operation.h"
#include "panel_config.h"
#include "serial_link.h"

#include <QElapsedTimer>
#include <QTimer>

#include <chrono>
#include <optional>
#include <vector>

namespace lorvane {

// How a session ended: done, no_reply, port_closed, port_lost or stopped.
using session_outcome = operation_end;

struct session_options
{
    std::chrono::milliseconds timeout{1000};  // for each reply
    int retries = 0;                          // sends of the same request after a time-out
};

class module_session final : public line_operation
{
    Q_OBJECT

public:
    explicit module_session(serial_link& link, const session_options& options = {},
                            QObject* parent = nullptr);

    // Queues writing all 17 records of `config` to module config.module_address, or reading
    // all 17 records of module `address`, behind whatever runs on the line. A start while
    // the session is busy is ignored. Ends with finished(), never from inside the start.
    void start_write(const panel_config& config);
    void start_read(std::uint8_t address);
    // Queues reading the one record `record` (0..16) of module `address`: a short exchange
    // for a test of the line. records() then holds that record alone.
    void start_read_record(std::uint8_t address, int record);

    transfer_kind kind() const { return kind_; }
    // What was written, or what has been read so far (module_address set too).
    const panel_config& config() const { return config_; }
    // A read's records confirmed so far, record 0 first, each as the module sent it: config()
    // keeps only the refresh period of record 0, this its two spare bytes too.
    const std::vector<record_values>& records() const { return records_; }
    // The record whose reply did not come, after session_outcome::no_reply; the record the
    // session was at, after any other end.
    int failed_record() const { return record_; }
    // For each confirmed record, from its request going out (the last time, when it was
    // sent again) to its reply arriving, in ms.
    const std::vector<double>& reply_times_ms() const { return reply_times_ms_; }
    // From the first request out to the last reply in, once every record was confirmed.
    std::optional<double> transfer_ms() const;

Q_SIGNALS:
    // `confirmed` records (1..17) have been answered so far.
    void progress(int confirmed);
    // While running: an accepted reply that does not answer the request on the line, and why.
    void reply_ignored(const lorvane::frame& reply, lorvane::reply_fit why);

private:
    // `only_record`: that record alone; -1: all 17.
    void start(transfer_kind kind, int only_record = -1);
    void begin() override;
    item_fate take(const frame_stream::item& item) override;
    void ending(operation_end end) override;
    void send_record();
    void on_deadline();

    serial_link& link_;
    session_options options_;
    panel_config config_;
    QTimer deadline_;
    QElapsedTimer since_sent_;
    QElapsedTimer since_begun_;
    std::int64_t last_reply_ns_ = -1;  // since_begun_ at the last confirmed reply
    transfer_kind kind_ = transfer_kind::write;
    int record_ = 0;
    int last_record_ = LAST_RECORD;
    int retries_left_ = 0;
    std::vector<double> reply_times_ms_;
    std::vector<record_values> records_;
};

}  // namespace lorvane
