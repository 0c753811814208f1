#include "bus_scan.h"

#include <algorithm>

namespace lorvane {

namespace {

int whole_ms(std::int64_t us)
{
    return static_cast<int>(std::max<std::int64_t>(0, (us + 500) / 1000));
}

bool contains(const std::vector<int>& list, int value)
{
    return std::find(list.begin(), list.end(), value) != list.end();
}

}  // namespace

bool bus_scan::junk_record::suspects(int address) const
{
    return contains(named, address) ||
           std::any_of(window.begin(), window.end(),
                       [&](const auto& w) { return w.second == address; });
}

bool bus_scan::junk_record::spared() const
{
    return resolved() && owner_probed_us.has_value();
}

std::vector<int> bus_scan::junk_record::candidates() const
{
    std::vector<int> list;
    if (spared()) {
        // A probe that met the owner's reply went out after the owner's probe and before
        // the reply was through, which was before it reached us.
        for (const auto& [at, address] : window) {
            if (at > *owner_probed_us && at <= arrived_us)
                list.push_back(address);
        }
        return list;
    }
    list = named;
    for (const auto& entry : window) {
        if (!contains(list, entry.second))
            list.push_back(entry.second);
    }
    return list;
}

bus_scan::bus_scan(serial_link& link, QObject* parent) : line_operation(parent), link_(link)
{
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &bus_scan::on_timer);
}

void bus_scan::start(const scan_options& options)
{
    if (busy())
        return;
    options_ = options;
    options_.first = std::clamp(options_.first, 0, 255);
    options_.last = std::clamp(options_.last, options_.first, 255);
    options_.retries = std::max(0, options_.retries);
    phase_ = phase::idle;
    submit_to(link_);
}

void bus_scan::begin()
{
    found_.clear();
    junk_.clear();
    looked_at_.clear();
    probed_again_.clear();
    probed_at_us_.assign(std::size_t(options_.last - options_.first + 1), std::nullopt);
    passes_left_ = options_.retries;
    pass_index_ = -1;
    done_ = 0;
    pass_total_ = 0;
    noisy_ = false;
    unchecked_ = 0;
    known_tail_ = 0;
    first_item_of_chunk_ = true;
    chunk_had_items_ = false;
    clock_.start();
    std::vector<int> all;
    for (int address = options_.first; address <= options_.last; ++address)
        all.push_back(address);
    start_pass(std::move(all));
}

void bus_scan::ending(operation_end)
{
    timer_.stop();
    phase_ = phase::idle;
}

int bus_scan::garbled() const
{
    int count = 0;
    for (const junk_record& record : junk_)
        count += std::max(0, record.replies - record.found);
    return count;
}

std::vector<int> bus_scan::unanswered_suspects() const
{
    std::vector<int> list;
    for (const int address : looked_at_) {
        if (!known(address))
            list.push_back(address);
    }
    return list;
}

bool bus_scan::known(int address) const
{
    return std::any_of(found_.begin(), found_.end(),
                       [&](const found_module& m) { return m.address == address; });
}

bool bus_scan::probed(int address) const
{
    return address >= options_.first && address <= options_.last &&
           probed_at_us_[std::size_t(address - options_.first)].has_value();
}

void bus_scan::probe(int address)
{
    probed_at_us_[std::size_t(address - options_.first)] = now_us();
    current_address_ = address;
    ++done_;
    send(make_request(FUNC_READ, static_cast<std::uint8_t>(address), 0, 0, 0, 0), input_mode::keep);
}

void bus_scan::report_progress()
{
    if (!running())
        return;  // stopped by a listener of the probe: nothing is said after the end
    const int pass_left = int(pass_.size() - pass_next_);
    Q_EMIT progress(done_, done_ + pass_left + suspects_left());
}

void bus_scan::start_pass(std::vector<int> addresses)
{
    phase_ = phase::pass;
    ++pass_index_;
    pass_ = std::move(addresses);
    pass_next_ = 0;
    pass_started_us_ = now_us();
    on_timer();
}

void bus_scan::on_timer()
{
    switch (phase_) {
    case phase::pass: {
        probe(pass_[pass_next_]);
        ++pass_next_;
        report_progress();
        if (!running())
            return;  // stopped by a listener
        if (pass_next_ == pass_.size()) {
            phase_ = phase::listening;
            timer_.start(options_.wait);
            return;
        }
        // On a fixed schedule from the pass's start, so that the timer's whole
        // milliseconds do not add up.
        const std::int64_t due_us =
            pass_started_us_ + std::int64_t(pass_next_) * PROBE_PITCH.count();
        timer_.start(whole_ms(due_us - now_us()));
        return;
    }
    case phase::listening: {
        // What still waits at the stream's tail will not become a frame any more.
        const std::size_t known = known_tail_;
        known_tail_ = 0;
        for (const frame_stream::item& item : flush_input()) {
            const std::size_t seen = std::min(known, item.bytes.size());
            if (item.bytes.size() > seen)
                take_junk(std::span(item.bytes).subspan(seen));
        }
        phase_ = phase::patient;
        // A line that is mostly noise: the second look may take as long as the pass did, or
        // as a pass over every address would, whichever is longer. The bound is on its end:
        // the last probe is sent early enough that its waits (one, then one per retry) and a
        // wait's margin for the timer's lateness fit within it, so that a line of junk alone
        // costs less than two passes.
        const auto wait_us =
            std::chrono::duration_cast<std::chrono::microseconds>(options_.wait).count();
        const std::int64_t full_pass_us = 256 * PROBE_PITCH.count() + wait_us;
        const std::int64_t budget_us = std::max(now_us() - pass_started_us_, full_pass_us);
        patient_deadline_us_ = now_us() + budget_us - (2 + options_.retries) * wait_us;
        next_patient_probe();
        return;
    }
    case phase::patient:
        if (patient_retries_left_ > 0 && !known(patient_address_)) {
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

// The next suspect to look at, taking the junk in the order it came. Junk a module it named
// has accounted for needs no look: its lost probes go into a pass of their own.
std::optional<int> bus_scan::next_suspect() const
{
    for (const junk_record& record : junk_) {
        if (record.spared())
            continue;
        for (const int address : record.candidates()) {
            if (!known(address) && !looked_at_.contains(address))
                return address;
        }
    }
    return std::nullopt;
}

// The probes that may have been lost under replies now accounted for, not yet probed again.
std::vector<int> bus_scan::lost_probes() const
{
    std::set<int> lost;
    for (const junk_record& record : junk_) {
        if (!record.spared())
            continue;
        for (const int address : record.candidates()) {
            if (!known(address) && !looked_at_.contains(address) &&
                !probed_again_.contains(address))
                lost.insert(address);
        }
    }
    return {lost.begin(), lost.end()};
}

int bus_scan::suspects_left() const
{
    std::set<int> left;
    for (const junk_record& record : junk_) {
        for (const int address : record.candidates()) {
            if (!known(address) && !looked_at_.contains(address) &&
                !(record.spared() && probed_again_.contains(address)))
                left.insert(address);
        }
    }
    return int(left.size());
}

void bus_scan::next_patient_probe()
{
    if (!running())
        return;
    const std::optional<int> next = next_suspect();
    if (!next) {
        end_of_round();
        return;
    }
    if (now_us() > patient_deadline_us_) {
        noisy_ = true;
        unchecked_ = suspects_left();
        finish(operation_end::done);
        return;
    }
    patient_address_ = *next;
    looked_at_.insert(patient_address_);
    patient_retries_left_ = options_.retries;
    probe(patient_address_);
    report_progress();
    if (running())
        timer_.start(options_.wait);
}

void bus_scan::end_of_round()
{
    patient_address_ = -1;
    // The probes lost under replies of modules now found go out once more, back to back:
    // on a two-wire line one reply can swallow only one probe, so most of them stay silent
    // and a pass costs them a pitch each instead of a whole wait.
    if (std::vector<int> lost = lost_probes(); !lost.empty()) {
        probed_again_.insert(lost.begin(), lost.end());
        start_pass(std::move(lost));
        return;
    }
    if (passes_left_ > 0 && (!options_.passes_on_doubt_only || garbled() > 0)) {
        --passes_left_;
        // Another pass over the addresses that stayed silent and had no second look.
        std::vector<int> silent;
        for (int address = options_.first; address <= options_.last; ++address) {
            if (!known(address) && !looked_at_.contains(address))
                silent.push_back(address);
        }
        if (!silent.empty()) {
            start_pass(std::move(silent));
            return;
        }
    }
    finish(operation_end::done);
}

item_fate bus_scan::take(const frame_stream::item& item)
{
    const bool first = first_item_of_chunk_;
    first_item_of_chunk_ = false;
    chunk_had_items_ = true;
    last_item_was_junk_ = item.what == frame_stream::item::kind::junk;
    switch (item.what) {
    case frame_stream::item::kind::echo:
        return item_fate::echo;  // a request handed back by the adapter
    case frame_stream::item::kind::junk: {
        const std::size_t seen = first ? std::min(known_tail_, item.bytes.size()) : 0;
        if (item.bytes.size() > seen)
            take_junk(std::span(item.bytes).subspan(seen));
        return item_fate::junk;
    }
    case frame_stream::item::kind::reply:
        break;
    }
    const frame reply = item.as_frame();
    const int address = reply[POS_ADDRESS];
    if (reply[POS_FUNCTION] != FUNC_READ)
        return item_fate::other_function;
    if (reply[POS_RECORD] != 0)
        return item_fate::other_record;
    if (!probed(address))
        return item_fate::other_address;
    take_reply(reply);
    return item_fate::accepted;
}

void bus_scan::chunk_taken()
{
    // The tail now waiting came right behind junk: it has been accounted for with it.
    if (chunk_had_items_)
        known_tail_ = last_item_was_junk_ ? input_waiting() : 0;
    first_item_of_chunk_ = true;
    chunk_had_items_ = false;
}

void bus_scan::take_reply(const frame& reply)
{
    const int address = reply[POS_ADDRESS];
    if (known(address))
        return;
    found_.push_back({address, reply[POS_VALUE1]});
    // The junk this module's reply may have been: only junk that came before this pass's
    // reply could be it (a clean reply in the same pass is that probe's one answer).
    for (junk_record& record : junk_) {
        const bool later = phase_ == phase::patient || record.pass < pass_index_;
        if (!later || record.known_before.contains(address) || !record.suspects(address))
            continue;
        ++record.found;
        if (contains(record.named, address) && !record.owner_probed_us) {
            for (const auto& [at, suspect] : record.window) {
                if (suspect == address)
                    record.owner_probed_us = at;
            }
        }
    }
    Q_EMIT module_found(address, reply[POS_VALUE1]);
    if (running() && phase_ == phase::patient && address == patient_address_) {
        timer_.stop();
        next_patient_probe();
    }
}

// Junk arrived: name the addresses that may have answered, or lost their probe, there.
void bus_scan::take_junk(std::span<const std::uint8_t> junk)
{
    if (junk.empty())
        return;
    junk_record record;
    record.replies = std::max<int>(1, int((junk.size() + FRAME_SIZE - 1) / FRAME_SIZE));
    record.pass = phase_ == phase::patient ? -1 : pass_index_;
    for (const found_module& m : found_)
        record.known_before.insert(m.address);
    if (phase_ == phase::patient) {
        // During a second look only one probe is out: a garbled reply of that address (or
        // noise). It stays doubt unless the address is found after all.
        if (patient_address_ >= 0)
            record.window.emplace_back(now_us(), patient_address_);
        junk_.push_back(std::move(record));
        return;
    }
    const std::int64_t now = now_us();
    record.arrived_us = now;
    // A reply garbled part-way still names its module in its first bytes.
    for (std::size_t i = 0; i + 1 < junk.size(); ++i) {
        const int named = junk[i + 1];
        if (junk[i] == REPLY_HEADER && probed(named) && !known(named) &&
            !contains(record.named, named))
            record.named.push_back(named);
    }
    // Any probe whose answer could still have been under way, newest first.
    const auto wait_us =
        std::chrono::duration_cast<std::chrono::microseconds>(options_.wait).count();
    for (int address = options_.first; address <= options_.last; ++address) {
        const auto& at = probed_at_us_[std::size_t(address - options_.first)];
        if (at && now - *at <= wait_us && !known(address))
            record.window.emplace_back(*at, address);
    }
    std::sort(record.window.begin(), record.window.end(), std::greater<>());
    junk_.push_back(std::move(record));
}

}  // namespace lorvane
