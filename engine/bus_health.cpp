#include "bus_health.h"

#include <QTimer>

#include <algorithm>

namespace lorvane {

namespace {

// Fewer junk bytes than this on a quiet line are a glitch (a plug, a power-up), not noise.
constexpr std::uint64_t MIN_NOISE_BYTES = 2;
// Replies whose median counts: fewer say little about a module's pace.
constexpr std::size_t MIN_TIMED_REPLIES = 3;
// How far the median may stay above the two frames' own line time (ms) before it is slow.
constexpr double SLOW_MARGIN_MS = 10.0;

double median_of(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

bool slow(double median_ms)
{
    return median_ms >= FRAME_LINE_MS + SLOW_MARGIN_MS;
}

// Adds the counters of `from` (an earlier stretch of the same line) to `into`.
void add_counters(line_counters& into, const line_counters& from)
{
    into.seconds += from.seconds;
    into.idle_seconds += from.idle_seconds;
    into.received_bytes += from.received_bytes;
    into.requests_sent += from.requests_sent;
    into.idle_bytes += from.idle_bytes;
    into.echoed_requests += from.echoed_requests;
    into.unframed_bytes += from.unframed_bytes;
    into.idle_unframed_bytes += from.idle_unframed_bytes;
    if (from.os_errors) {
        os_line_errors sum = into.os_errors.value_or(os_line_errors{});
        sum.framing += from.os_errors->framing;
        sum.parity += from.os_errors->parity;
        sum.overrun += from.os_errors->overrun;
        sum.breaks += from.os_errors->breaks;
        into.os_errors = sum;
    }
    if (from.line_state_notices)
        into.line_state_notices = into.line_state_notices.value_or(0) + *from.line_state_notices;
    if (from.line_state_errors)
        into.line_state_errors =
            std::uint8_t(into.line_state_errors.value_or(0) | *from.line_state_errors);
    if (!into.latency_timer_ms)
        into.latency_timer_ms = from.latency_timer_ms;
}

}  // namespace

std::vector<health_finding> diagnose(const line_health& health, bool active)
{
    const line_counters& line = health.line;
    std::vector<health_finding> findings;

    // Noise: junk on the quiet line. A health run's listen makes the quiet time a fair
    // base for its rate; another operation's traffic leaves only short gaps, so its rate is
    // taken over the whole time watched.
    const double quiet_s = active && line.idle_seconds > 0 ? line.idle_seconds : line.seconds;
    const double noise_rate = quiet_s > 0 ? double(line.idle_unframed_bytes) / quiet_s : 0;
    const bool noisy = line.idle_unframed_bytes >= MIN_NOISE_BYTES;
    // Junk while requests were out, beyond what that noise explains: bytes answer requests.
    const double busy_s = std::max(0.0, line.seconds - line.idle_seconds);
    const double idle_rate =
        line.idle_seconds > 0 ? double(line.idle_unframed_bytes) / line.idle_seconds : noise_rate;
    const double busy_junk = double(line.unframed_bytes - line.idle_unframed_bytes);
    const bool junk_answers = busy_junk >= double(FRAME_SIZE) && busy_junk > 2 * idle_rate * busy_s;
    const bool any_frame =
        std::any_of(health.modules.begin(), health.modules.end(),
                    [](const module_traffic& m) { return m.confirmed > 0 || m.foreign > 0; });

    // shared_address: every request garbled while another module answers, on a line without
    // noise (noise garbles replies too, and is named first).
    for (const module_traffic& m : health.modules) {
        const bool others_answer =
            std::any_of(health.modules.begin(), health.modules.end(),
                        [&](const auto& o) { return o.address != m.address && o.confirmed > 0; });
        if (m.exchanges >= 2 && m.garbled == m.exchanges && m.confirmed == 0 && others_answer &&
            !noisy)
            findings.push_back({finding_kind::shared_address, m.address, 0, std::nullopt});
    }
    if (noisy)
        findings.push_back({finding_kind::idle_noise, std::nullopt, noise_rate, std::nullopt});
    if (line.echoed_requests > 0)
        findings.push_back(
            {finding_kind::echo, std::nullopt, double(line.echoed_requests), std::nullopt});

    // slow_replies: for the bus when its pooled median is slow (an adapter's timer delays
    // every module), otherwise for each slow module (its own turnaround).
    std::vector<double> pooled;
    for (const module_traffic& m : health.modules)
        pooled.insert(pooled.end(), m.reply_ms.begin(), m.reply_ms.end());
    if (pooled.size() >= MIN_TIMED_REPLIES && slow(median_of(pooled))) {
        findings.push_back(
            {finding_kind::slow_replies, std::nullopt, median_of(pooled), line.latency_timer_ms});
    } else {
        for (const module_traffic& m : health.modules) {
            if (m.reply_ms.size() >= MIN_TIMED_REPLIES && slow(median_of(m.reply_ms)))
                findings.push_back({finding_kind::slow_replies, m.address, median_of(m.reply_ms),
                                    line.latency_timer_ms});
        }
    }

    if (!any_frame && junk_answers)
        findings.push_back({finding_kind::wrong_speed, std::nullopt, busy_junk, std::nullopt});
    if (!any_frame && !junk_answers && line.requests_sent > 0)
        findings.push_back({finding_kind::no_module, std::nullopt, 0, std::nullopt});

    // unstable: answers some requests and not others, more than 5 % of them in trouble.
    for (const module_traffic& m : health.modules) {
        if (m.confirmed > 0 && m.troubled * 100 > 5 * m.exchanges)
            findings.push_back({finding_kind::unstable, m.address, 100.0 * m.troubled / m.exchanges,
                                std::nullopt});
    }
    return findings;
}

// Holds the line for the quiet listen, so that nothing is sent meanwhile.
class health_check::quiet_listen final : public line_operation
{
public:
    explicit quiet_listen(QObject* parent) : line_operation(parent)
    {
        timer_.setSingleShot(true);
        timer_.setTimerType(Qt::PreciseTimer);  // a coarse timer may end it 5 % early
        connect(&timer_, &QTimer::timeout, this, [this] { finish(operation_end::done); });
    }
    void start(serial_link& line, std::chrono::milliseconds length)
    {
        length_ = length;
        submit_to(line);
    }

private:
    void begin() override { timer_.start(length_); }
    item_fate take(const frame_stream::item& item) override
    {
        return fate_of_non_reply(item).value_or(item_fate::unclaimed);
    }
    void ending(operation_end) override { timer_.stop(); }

    QTimer timer_;
    std::chrono::milliseconds length_{0};
};

health_check::health_check(serial_link& link, QObject* parent)
    : QObject(parent), link_(link), scan_(link), listen_(std::make_unique<quiet_listen>(this))
{
    connect(&scan_, &bus_scan::finished, this, &health_check::on_scan_finished);
    connect(&scan_, &bus_scan::progress, this,
            [this](int done, int total) { Q_EMIT progress(health_stage::scanning, done, total); });
    connect(listen_.get(), &line_operation::finished, this, &health_check::on_listen_finished);
    connect(&link_, &serial_link::item_received, this,
            [this](const frame_stream::item& item, item_fate, const frame&) {
                if (item.what == frame_stream::item::kind::junk)
                    junk_seen_ = true;
            });
}

health_check::~health_check() = default;

bool health_check::busy() const
{
    return busy_;
}

const health_report& health_check::report() const
{
    return report_;
}

void health_check::start(const health_options& options)
{
    if (busy_)
        return;
    busy_ = true;
    options_ = options;
    options_.samples = std::max(1, options_.samples);
    report_ = {};
    scan_line_ = {};
    addresses_.clear();
    found_count_ = 0;
    dropped_.clear();
    index_ = 0;
    reads_done_ = 0;
    steps_done_ = 0;
    reader_ = std::make_unique<module_session>(link_, session_options{options_.timeout, 0});
    suspect_reader_ =
        std::make_unique<module_session>(link_, session_options{options_.scan_wait, 0});
    for (module_session* reader : {reader_.get(), suspect_reader_.get()})
        connect(reader, &module_session::finished, this, &health_check::on_read_finished);
    link_.reset_health();
    scan_.start(scan_options{options_.first, options_.last, options_.scan_wait, 0, false});
}

void health_check::stop()
{
    if (!busy_)
        return;
    end_with(operation_end::stopped);
}

void health_check::end_with(operation_end end)
{
    busy_ = false;
    // Each stops silently: their finished() handlers see the check no longer busy.
    scan_.stop();
    if (reader_)
        reader_->stop();
    if (suspect_reader_)
        suspect_reader_->stop();
    listen_->stop();
    report_.measured = link_.health();
    add_counters(report_.measured.line, scan_line_);
    // The suspects dropped at a silent read were nobody: they leave no module behind.
    std::erase_if(report_.measured.modules, [this](const module_traffic& m) {
        return std::find(addresses_.begin(), addresses_.end(), m.address) == addresses_.end() ||
               std::find(dropped_.begin(), dropped_.end(), m.address) != dropped_.end();
    });
    report_.findings = diagnose(report_.measured, true);
    Q_EMIT finished(end);
}

void health_check::on_scan_finished(operation_end end)
{
    if (!busy_)
        return;
    if (end != operation_end::done) {
        end_with(end);
        return;
    }
    // The scan's probes say nothing per module that the reads will not say better; its line
    // counters (junk that formed no reply, echoes) are kept.
    scan_line_ = link_.health().line;
    link_.reset_health();
    for (const found_module& m : scan_.found())
        addresses_.push_back(m.address);
    std::sort(addresses_.begin(), addresses_.end());
    found_count_ = addresses_.size();
    std::vector<int> suspects = scan_.unanswered_suspects();
    if (suspects.size() > MAX_HEALTH_SUSPECTS)
        suspects.resize(MAX_HEALTH_SUSPECTS);
    addresses_.insert(addresses_.end(), suspects.begin(), suspects.end());
    next_read();
}

void health_check::next_read()
{
    const int total = int(addresses_.size()) * options_.samples;
    if (reads_done_ >= options_.samples || dropped(index_)) {
        ++index_;
        reads_done_ = 0;
    }
    if (index_ >= addresses_.size()) {
        Q_EMIT progress(health_stage::listening, 0, 1);
        listen_->start(link_, options_.listen);
        return;
    }
    Q_EMIT progress(health_stage::sampling, steps_done_, total);
    junk_seen_ = false;
    module_session& reader = index_ < found_count_ ? *reader_ : *suspect_reader_;
    reader.start_read_record(std::uint8_t(addresses_[index_]), 0);
}

bool health_check::dropped(std::size_t index) const
{
    return index < addresses_.size() &&
           std::find(dropped_.begin(), dropped_.end(), addresses_[index]) != dropped_.end();
}

void health_check::on_read_finished(operation_end end)
{
    if (!busy_)
        return;
    if (end != operation_end::done && end != operation_end::no_reply) {
        end_with(end);
        return;
    }
    ++reads_done_;
    ++steps_done_;
    if (index_ >= found_count_ && end == operation_end::no_reply && !junk_seen_) {
        // A suspect that answers with silence is nobody: its other reads are skipped.
        steps_done_ += options_.samples - reads_done_;
        dropped_.push_back(addresses_[index_]);
    }
    next_read();
}

void health_check::on_listen_finished(operation_end end)
{
    if (!busy_)
        return;
    if (end == operation_end::done)
        Q_EMIT progress(health_stage::listening, 1, 1);
    end_with(end);
}

}  // namespace lorvane
