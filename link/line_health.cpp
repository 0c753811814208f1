#include "line_health.h"

#include "line_operation.h"

#include <algorithm>
#include <cmath>

namespace lorvane {

std::optional<reply_time_summary> module_traffic::summary() const
{
    if (reply_ms.empty())
        return std::nullopt;
    std::vector<double> sorted = reply_ms;
    std::sort(sorted.begin(), sorted.end());
    const std::size_t n = sorted.size();
    const double median = n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
    // Nearest rank: the smallest time that 95 % of the replies do not exceed.
    const auto rank = std::size_t(std::ceil(0.95 * double(n)));
    return reply_time_summary{sorted.front(), median, sorted[std::max<std::size_t>(rank, 1) - 1],
                              sorted.back()};
}

void line_watch::reset()
{
    clock_.start();
    now_ns_ = 0;
    for (std::optional<module_state>& m : modules_)
        m.reset();
    probed_ns_.fill(-1);
    out_.reset();
    scanning_ = false;
    last_request_ = {};
    last_unanswered_ = false;
    idle_since_ns_ = 0;
    idle_ns_ = 0;
    line_ = {};
}

line_watch::module_state& line_watch::module(int address)
{
    std::optional<module_state>& m = modules_[std::size_t(address & 0xFF)];
    if (!m) {
        // Assigned, not emplaced: clang does not take the nested struct as default-constructible
        // here.
        m = module_state{};
        m->traffic.address = address & 0xFF;
    }
    return *m;
}

void line_watch::leave_idle()
{
    if (idle())
        idle_ns_ += clock_.nsecsElapsed() - idle_since_ns_;
}

void line_watch::enter_idle()
{
    if (idle())
        idle_since_ns_ = clock_.nsecsElapsed();
}

void line_watch::request_out(const frame& request, bool scan)
{
    ++line_.requests_sent;
    leave_idle();
    if (out_)
        close_exchange(false);
    const std::int64_t now = clock_.nsecsElapsed();
    if (scan) {
        scanning_ = true;
        probed_ns_[request[POS_ADDRESS]] = now;
        return;
    }
    scanning_ = false;
    // The same request again after it went unanswered: the operation retries it.
    if (last_unanswered_ && request == last_request_)
        ++module(request[POS_ADDRESS]).traffic.retries;
    out_ = exchange{request, now, false};
    last_request_ = request;
    last_unanswered_ = false;
}

void line_watch::chunk_in(std::size_t bytes)
{
    line_.received_bytes += bytes;
    now_ns_ = clock_.nsecsElapsed();
}

void line_watch::item_in(const frame_stream::item& item)
{
    const std::size_t size = item.bytes.size();
    if (item.what == frame_stream::item::kind::junk)
        line_.unframed_bytes += size;
    else if (item.what == frame_stream::item::kind::echo)
        ++line_.echoed_requests;
    if (idle()) {
        line_.idle_bytes += size;
        if (item.what == frame_stream::item::kind::junk)
            line_.idle_unframed_bytes += size;
        return;
    }
    if (item.what == frame_stream::item::kind::echo)
        return;
    if (scanning_) {
        // A probe's answer names its module; what answers no probe, and junk, is no one's.
        if (item.what == frame_stream::item::kind::junk)
            return;
        const frame reply = item.as_frame();
        const std::size_t address = reply[POS_ADDRESS];
        if (reply[POS_FUNCTION] == FUNC_READ && reply[POS_RECORD] == 0 &&
            probed_ns_[address] >= 0) {
            module_state& m = module(int(address));
            ++m.traffic.exchanges;
            ++m.traffic.confirmed;
            add_reply_time(m, probed_ns_[address]);
            probed_ns_[address] = -1;  // one answer per probe
        }
        return;
    }
    module_state& m = module(out_->request[POS_ADDRESS]);
    // As the operations judge it: the reply that answers the request moves things on.
    if (item.what == frame_stream::item::kind::reply &&
        fit_of(item.as_frame(), out_->request) == reply_fit::answers) {
        add_reply_time(m, out_->sent_ns);
        close_exchange(true);
        return;
    }
    if (item.what == frame_stream::item::kind::reply) {
        ++m.traffic.foreign;
        return;
    }
    if (!out_->garbled) {
        out_->garbled = true;
        ++m.traffic.garbled;
    }
}

void line_watch::tail_dropped(std::size_t bytes)
{
    if (bytes == 0)
        return;
    line_.unframed_bytes += bytes;
    if (out_ && !out_->garbled) {
        out_->garbled = true;
        ++module(out_->request[POS_ADDRESS]).traffic.garbled;
    }
}

void line_watch::operation_ended()
{
    leave_idle();
    if (out_)
        close_exchange(false);
    scanning_ = false;
    enter_idle();
}

void line_watch::close_exchange(bool answered)
{
    module_state& m = module(out_->request[POS_ADDRESS]);
    ++m.traffic.exchanges;
    if (answered)
        ++m.traffic.confirmed;
    else
        ++m.traffic.timeouts;
    if (!answered || out_->garbled)
        ++m.traffic.troubled;
    last_unanswered_ = !answered;
    out_.reset();
    enter_idle();
}

void line_watch::add_reply_time(module_state& m, std::int64_t from_ns)
{
    // The request's last byte is taken to leave a frame's line time after its write, but never
    // after the reply's last byte came in: a line with no pace of its own (a pseudo-terminal, a
    // network server's buffer) delivers both at once, and a reply time is never negative.
    const double ms = std::max(0.0, double(now_ns_ - from_ns) / 1e6 - FRAME_LINE_MS);
    std::vector<double>& samples = m.traffic.reply_ms;
    ++m.replies_seen;
    if (samples.size() < MAX_REPLY_SAMPLES) {
        samples.push_back(ms);
        return;
    }
    // Beyond the bound, a fair sample of all replies (reservoir sampling, xorshift64).
    random_ ^= random_ << 13;
    random_ ^= random_ >> 7;
    random_ ^= random_ << 17;
    const std::uint64_t slot = random_ % m.replies_seen;
    if (slot < MAX_REPLY_SAMPLES)
        samples[std::size_t(slot)] = ms;
}

line_health line_watch::snapshot() const
{
    line_health health;
    for (const std::optional<module_state>& m : modules_) {
        if (m)
            health.modules.push_back(m->traffic);
    }
    health.line = line_;
    const std::int64_t now = clock_.nsecsElapsed();
    health.line.seconds = double(now) / 1e9;
    health.line.idle_seconds = double(idle_ns_ + (idle() ? now - idle_since_ns_ : 0)) / 1e9;
    return health;
}

}  // namespace lorvane
