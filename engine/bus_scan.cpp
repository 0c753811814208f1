#include "bus_scan.h"

#include <algorithm>

namespace lorvane {

namespace {

// One byte at 9600 baud, 8N1: 10 bits.
constexpr std::int64_t BYTE_US = 1'042;
constexpr std::int64_t FRAME_US = 8 * BYTE_US;
// The longest an adapter may hold received bytes (a USB adapter's latency timer), and
// what the system may add on top.
constexpr std::int64_t LATENCY_US = 16'000;
constexpr std::int64_t SLACK_US = 5'000;
// A probe that met a reply on the line was sent while that reply was on it; the junk the
// reply became reaches us at most one frame and the adapter's latency after its end.
constexpr std::int64_t COLLISION_WINDOW_US = 2 * FRAME_US + LATENCY_US + SLACK_US;

int whole_ms(std::int64_t us)
{
    return static_cast<int>(std::max<std::int64_t>(0, (us + 500) / 1000));
}

}  // namespace

bus_scan::bus_scan(serial_link& link, QObject* parent) : QObject(parent), link_(link)
{
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &bus_scan::on_timer);
    connect(&link_, &serial_link::bytes_arrived, this, &bus_scan::on_bytes);
    connect(&link_, &serial_link::port_lost, this, [this] { finish(scan_outcome::port_lost); });
}

bus_scan::~bus_scan()
{
    if (running())
        link_.set_streaming(false);
}

void bus_scan::start(const scan_options& options)
{
    if (running())
        return;
    options_ = options;
    options_.first = std::clamp(options_.first, 0, 255);
    options_.last = std::clamp(options_.last, options_.first, 255);
    phase_ = phase::first_pass;
    found_.clear();
    suspects_.clear();
    probed_at_us_.assign(std::size_t(options_.last - options_.first + 1), std::nullopt);
    next_address_ = options_.first;
    patient_address_ = -1;
    stream_.clear();
    tail_after_junk_ = false;
    // The first probe goes out from the event loop: the caller has returned by then, and a
    // closed port ends the scan with a signal rather than inside start().
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (phase_ != phase::first_pass || next_address_ != options_.first)
                return;  // stopped meanwhile
            if (!link_.is_open()) {
                finish(scan_outcome::port_lost);
                return;
            }
            link_.set_streaming(true);
            clock_.start();
            on_timer();
        },
        Qt::QueuedConnection);
}

void bus_scan::stop()
{
    finish(scan_outcome::stopped);
}

void bus_scan::finish(scan_outcome outcome)
{
    if (!running())
        return;
    phase_ = phase::idle;
    timer_.stop();
    link_.set_streaming(false);
    Q_EMIT finished(outcome);
}

void bus_scan::probe(int address)
{
    probed_at_us_[std::size_t(address - options_.first)] = now_us();
    link_.send_probe(static_cast<std::uint8_t>(address));
}

void bus_scan::on_timer()
{
    switch (phase_) {
    case phase::first_pass: {
        probe(next_address_);
        ++next_address_;
        const int total = options_.last - options_.first + 1;
        Q_EMIT progress(next_address_ - options_.first, total);
        if (!running())
            return;  // stopped by a listener
        if (next_address_ > options_.last) {
            phase_ = phase::listening;
            timer_.start(options_.wait);
            return;
        }
        // On a fixed schedule from the start, so that the timer's whole milliseconds
        // do not add up.
        const std::int64_t due_us = (next_address_ - options_.first) * PROBE_PITCH.count();
        timer_.start(whole_ms(due_us - now_us()));
        return;
    }
    case phase::listening:
        take(stream_.flush(), tail_after_junk_ ? stream_.waiting() : 0);
        tail_after_junk_ = false;
        phase_ = phase::patient;
        next_patient_probe();
        return;
    case phase::patient:
        if (patient_retries_left_ > 0) {
            --patient_retries_left_;
            probe(patient_address_);
            timer_.start(options_.wait);
        } else {
            next_patient_probe();
        }
        return;
    case phase::idle:
        return;
    }
}

void bus_scan::next_patient_probe()
{
    if (!running())
        return;
    if (suspects_.empty()) {
        finish(scan_outcome::done);
        return;
    }
    patient_address_ = *suspects_.begin();
    suspects_.erase(suspects_.begin());
    patient_retries_left_ = options_.retries;
    probe(patient_address_);
    timer_.start(options_.wait);
}

void bus_scan::on_bytes(const QByteArray& bytes)
{
    if (!running())
        return;
    const std::size_t known = tail_after_junk_ ? stream_.waiting() : 0;
    const auto items = stream_.feed(std::span(
        reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::size_t(bytes.size())));
    take(items, known);
    tail_after_junk_ = stream_.waiting() > 0 && !items.empty() &&
                       items.back().what == frame_stream::item::kind::junk;
}

void bus_scan::take(const std::vector<frame_stream::item>& items, std::size_t known_junk)
{
    for (const frame_stream::item& item : items) {
        if (!running())
            return;
        if (item.what == frame_stream::item::kind::junk) {
            const std::size_t seen = &item == &items.front() ? known_junk : 0;
            if (phase_ != phase::patient && item.bytes.size() > seen)
                suspect_around(std::span(item.bytes).subspan(seen));
            continue;
        }
        if (item.what != frame_stream::item::kind::reply)
            continue;  // a request handed back by the adapter
        const frame reply = item.as_frame();
        const int address = reply[POS_ADDRESS];
        if (reply[POS_FUNCTION] != FUNC_READ || reply[POS_RECORD] != 0 ||
            address < options_.first || address > options_.last ||
            !probed_at_us_[std::size_t(address - options_.first)])
            continue;
        const bool known = std::any_of(found_.begin(), found_.end(),
                                       [&](const found_module& m) { return m.address == address; });
        if (known)
            continue;
        found_.push_back({address, reply[POS_VALUE1]});
        suspects_.erase(address);
        Q_EMIT module_found(address, reply[POS_VALUE1]);
        if (phase_ == phase::patient && address == patient_address_) {
            timer_.stop();
            next_patient_probe();
        }
    }
}

// Junk arrived: name the addresses that may have answered, or lost their probe, there.
void bus_scan::suspect_around(std::span<const std::uint8_t> junk)
{
    const std::int64_t now = now_us();
    const auto probed = [&](int address) {
        return address >= options_.first && address <= options_.last &&
               probed_at_us_[std::size_t(address - options_.first)].has_value();
    };
    const auto suspect_probed_within = [&](std::int64_t window_us) {
        for (int address = options_.first; address <= options_.last; ++address) {
            const auto& at = probed_at_us_[std::size_t(address - options_.first)];
            if (at && now - *at <= window_us)
                suspects_.insert(address);
        }
    };
    // A reply garbled part-way still names its module in its first bytes; the probe that
    // garbled it was sent while it was on the line, just before it reached us.
    bool named = false;
    for (std::size_t i = 0; i + 1 < junk.size(); ++i) {
        if (junk[i] == REPLY_HEADER && probed(junk[i + 1])) {
            suspects_.insert(junk[i + 1]);
            named = true;
        }
    }
    // Without a name, any probe whose answer could still be under way.
    suspect_probed_within(
        named ? COLLISION_WINDOW_US
              : std::chrono::duration_cast<std::chrono::microseconds>(options_.wait).count());
}

}  // namespace lorvane
