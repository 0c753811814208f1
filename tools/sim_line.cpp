#include "sim_line.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

namespace lorvane::sim {

namespace {

constexpr std::int64_t NS_PER_MS = 1'000'000;
constexpr std::int64_t NS_PER_S = 1'000'000'000;
constexpr std::int64_t BITS_PER_BYTE = 10;  // start bit, 8 data bits, stop bit (8N1)
// Mixed into the --faults seed (or used alone without one) for the garbage of collisions,
// so that garbling draws from a sequence of its own and leaves the faults' sequence as it was.
constexpr std::uint64_t GARBAGE_SEED = 0x6A09E667F3BCC908ULL;
// Mixed in the same way for idle noise, a sequence of its own again.
constexpr std::uint64_t NOISE_SEED = 0xBB67AE8584CAA73BULL;
// More rounds than a garbled run of bytes ever needs to stop looking like a reply.
constexpr int MAX_GARBLE_ROUNDS = 64;

std::string ms_text(std::int64_t ns)
{
    if (ns % NS_PER_MS == 0)
        return std::to_string(ns / NS_PER_MS) + " ms";
    char text[32];
    std::snprintf(text, sizeof text, "%.3f ms", static_cast<double>(ns) / NS_PER_MS);
    return text;
}

// A value for a garbled byte: not `original`, not `current` (so that a redraw changes
// something), and never the reply header, so that garbage cannot begin a reply.
std::uint8_t garbage_for(std::uint8_t original, std::uint8_t current, fault_random& random)
{
    for (;;) {
        const auto value =
            static_cast<std::uint8_t>(original ^ static_cast<std::uint8_t>(1 + random.below(255)));
        if (value != REPLY_HEADER && value != current)
            return value;
    }
}

// A random byte that is never the reply header, so noise and garbage cannot begin a reply.
std::uint8_t stray_byte(fault_random& random)
{
    auto byte = static_cast<std::uint8_t>(random.below(255));
    if (byte >= REPLY_HEADER)
        ++byte;
    return byte;
}

}  // namespace

std::int64_t byte_time_ns(std::uint32_t baud) noexcept
{
    if (baud == 0)
        return 0;
    return (BITS_PER_BYTE * NS_PER_S + baud - 1) / baud;
}

std::string hex(std::span<const std::uint8_t> bytes)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text;
    for (const std::uint8_t byte : bytes) {
        if (!text.empty())
            text += ' ';
        text += digits[byte >> 4];
        text += digits[byte & 0x0F];
    }
    return text;
}

void garble(std::span<std::uint8_t> bytes, std::span<const std::uint8_t> original, std::size_t from,
            fault_random& random)
{
    for (std::size_t i = from; i < bytes.size(); ++i) {
        if (bytes[i] == original[i])
            bytes[i] = garbage_for(original[i], original[i], random);
    }
    // Garbage is never a header, so a reply could only be read from a header before `from`;
    // the last byte of such a window is garbage, and drawing it again breaks the checksum.
    for (int round = 0; round < MAX_GARBLE_ROUNDS; ++round) {
        bool clean = true;
        for (std::size_t start = from >= FRAME_SIZE - 1 ? from - (FRAME_SIZE - 1) : 0;
             start < from && start + FRAME_SIZE <= bytes.size(); ++start) {
            frame window{};
            std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(start), FRAME_SIZE,
                        window.begin());
            if (!reply_accepted(window))
                continue;
            std::uint8_t& last = bytes[start + FRAME_SIZE - 1];
            last = garbage_for(original[start + FRAME_SIZE - 1], last, random);
            clean = false;
        }
        if (clean)
            return;
    }
}

sim_line::sim_line(const line_settings& settings, logger log)
    : settings_(settings), log_(std::move(log)),
      garbage_(settings.faults ? settings.faults->seed ^ GARBAGE_SEED : GARBAGE_SEED),
      noise_(settings.faults ? settings.faults->seed ^ NOISE_SEED : NOISE_SEED)
{
    if (settings_.addresses.empty())
        settings_.addresses.push_back(DEFAULT_MODULE_ADDRESS);
    for (const std::uint8_t address : settings_.addresses) {
        modules_.emplace_back(address);
        modules_.back().set_silent_after(settings_.silent_after);
        if (settings_.record0)
            modules_.back().set_record(0, *settings_.record0);
    }
    if (settings_.faults)
        faults_.emplace(settings_.faults->seed, settings_.faults->rate);
}

void sim_line::receive(std::int64_t now, std::span<const std::uint8_t> bytes)
{
    const std::int64_t byte_ns = settings_.byte_ns;
    const std::uint64_t discarded_before = framer_.discarded();
    for (const std::uint8_t byte : bytes) {
        // Each byte is on the line for one byte time from when it arrived or the byte before
        // it was through, whichever is later.
        const std::int64_t start = std::max(now, rx_line_free_ns_);
        rx_line_free_ns_ = start + byte_ns;
        if (settings_.half_duplex) {
            const std::uint64_t offset = framer_.fed();
            rx_run* last = runs_.empty() ? nullptr : &runs_.back();
            if (last != nullptr &&
                last->start_ns + static_cast<std::int64_t>(last->count) * byte_ns == start &&
                last->first_offset + last->count == offset)
                ++last->count;
            else
                runs_.push_back({offset, start, 1});
            for (pending_plan& plan : plans_)
                collide(plan, {offset, start, 1});
        }
        if (auto request = framer_.push(byte, rx_line_free_ns_))
            requests_.push_back({*request, request->last_stamp});
    }
    if (const std::uint64_t skipped = framer_.discarded() - discarded_before; skipped > 0)
        log_("skipped " + std::to_string(skipped) + " byte(s) out of step");
    forget_old(now);
}

void sim_line::advance(std::int64_t now, const writer& write)
{
    answer_due_requests(now);
    send_due_bytes(now, write);
    send_noise(now, write);
    forget_old(now);
}

std::optional<std::int64_t> sim_line::next_due() const
{
    std::optional<std::int64_t> due;
    if (!requests_.empty())
        due = requests_.front().complete_ns;
    if (!plans_.empty() && plans_.front().sent < plans_.front().bytes.size()) {
        const std::int64_t send = delivery_ns(plans_.front(), plans_.front().sent);
        due = due ? std::min(*due, send) : send;
    }
    if (next_noise_ns_)
        due = due ? std::min(*due, *next_noise_ns_) : *next_noise_ns_;
    return due;
}

// Noise arrives as a Poisson process: the gaps between its bytes are drawn exponentially.
// A moment that falls while a request or a reply drives the line brings no byte, as the
// driver holds the line then.
void sim_line::send_noise(std::int64_t now, const writer& write)
{
    const double rate = settings_.idle_noise_rate;
    if (!(rate > 0))
        return;
    const auto gap_ns = [&] {
        const double seconds = -std::log(1.0 - noise_.unit()) / rate;
        return std::max<std::int64_t>(1, std::llround(seconds * NS_PER_S));
    };
    if (!next_noise_ns_) {
        next_noise_ns_ = now + gap_ns();
        return;
    }
    for (; *next_noise_ns_ <= now; *next_noise_ns_ += gap_ns()) {
        const std::uint8_t byte = stray_byte(noise_);
        if (line_driven(*next_noise_ns_))
            continue;
        const std::string failure = write(std::span(&byte, 1));
        log_("noise " + hex(std::span(&byte, 1)) +
             (failure.empty() ? "" : "  dropped: " + failure));
    }
}

bool sim_line::line_driven(std::int64_t now) const
{
    const bool sending = std::any_of(plans_.begin(), plans_.end(), [](const pending_plan& plan) {
        return plan.sent < plan.bytes.size();
    });
    return sending || !requests_.empty() || rx_line_free_ns_ > now || tx_line_free_ns_ > now;
}

// A UART at the line's speed sees a reply sent at FACTOR times that speed as about
// 8 / FACTOR bytes: start bits where there are none, framing errors, never the header.
reply_plan sim_line::wrong_speed_plan(const frame& request, const frame& reply)
{
    const auto count =
        std::max<long>(1, std::lround(static_cast<double>(FRAME_SIZE) / settings_.wrong_speed));
    std::vector<std::uint8_t> bytes;
    if (settings_.echo)
        bytes.assign(request.begin(), request.end());
    for (long i = 0; i < count; ++i)
        bytes.push_back(stray_byte(garbage_));
    log_("wrong speed on " + hex(reply) + ": arrives as " + std::to_string(count) +
         " garbled byte(s)");
    return {std::nullopt, {}, {{0, std::move(bytes)}}};
}

void sim_line::answer_due_requests(std::int64_t now)
{
    while (!requests_.empty() && requests_.front().complete_ns <= now) {
        const pending_request pending = requests_.front();
        requests_.pop_front();
        const frame& request = pending.request.bytes;
        if (collided(pending.request)) {
            // Its bytes were garbled on the bus: no module heard it, and no adapter echo.
            log_("rx " + hex(request) + "  (lost: it collided with a reply on the line)");
            continue;
        }
        sim_module& module = module_for(request);
        const request_verdict verdict = module.check(request);
        log_("rx " + hex(request) + "  (" + std::string(verdict_text(verdict)) + ")");
        // The turnaround holds everything that answers the request, the echo included.
        const std::int64_t ready = pending.complete_ns + settings_.turnaround_ns;
        std::optional<frame> reply = module.answer(request);
        if (!reply) {
            if (settings_.echo)  // the adapter echoes what the PC sends, answered or not
                schedule(ready, {std::nullopt, {}, {{0, {request.begin(), request.end()}}}});
            continue;
        }
        if (settings_.wrong_speed != 1) {
            schedule(ready, wrong_speed_plan(request, *reply));
            continue;
        }
        if (settings_.twin == module.address()) {
            // Both drive the bus from the first byte on, a fraction of a byte apart.
            const frame alone = *reply;
            garble(*reply, alone, 0, garbage_);
            log_("twin at address " + std::to_string(module.address()) + " answers " + hex(alone) +
                 " too: both arrive garbled as " + hex(*reply));
        }
        const reply_plan plan = faults_ ? faults_->plan(request, *reply, settings_.echo)
                                        : plain_reply(request, *reply, settings_.echo);
        if (plan.fault)
            log_("fault " + std::string(fault_name(*plan.fault)) + " on " + hex(*reply) +
                 (plan.detail.empty() ? "" : ": " + plan.detail));
        if (settings_.turnaround_ns > 0)
            log_("turnaround on " + hex(*reply) + ": starts " + ms_text(settings_.turnaround_ns) +
                 " after the request's last byte");
        schedule(ready, plan);
    }
}

// The module addressed by `request`, or the first one (which then ignores it).
sim_module& sim_line::module_for(const frame& request)
{
    for (auto& module : modules_) {
        if (module.address() == request[POS_ADDRESS])
            return module;
    }
    return modules_.front();
}

// Queues the pieces of a plan. The first starts once the request is through and the
// turnaround has passed (`ready_ns`) and its delay after that; each later one its delay
// after the one before. None starts before the line is free of earlier output.
void sim_line::schedule(std::int64_t ready_ns, const reply_plan& plan)
{
    // With --echo every plan begins with the request handed back.
    const std::size_t echo_bytes = settings_.echo ? FRAME_SIZE : 0;
    pending_plan queued;
    std::int64_t at = ready_ns;
    for (const auto& part : plan.pieces) {
        at = std::max(at + part.delay_ns, tx_line_free_ns_);
        if (part.bytes.empty())
            continue;
        const std::size_t begin = queued.bytes.size();
        queued.bytes.insert(queued.bytes.end(), part.bytes.begin(), part.bytes.end());
        const std::size_t end = queued.bytes.size();
        const std::size_t bus_begin = std::clamp(echo_bytes, begin, end);
        queued.pieces.push_back({begin, bus_begin, end, at});
        tx_line_free_ns_ = at + static_cast<std::int64_t>(end - bus_begin) * settings_.byte_ns;
        at = tx_line_free_ns_;
    }
    if (queued.bytes.empty())
        return;
    queued.original = queued.bytes;
    queued.garbled_from = queued.bytes.size();
    if (settings_.half_duplex) {
        // Requests that are already on the line, or are still coming in, when this starts.
        for (const rx_run& run : runs_)
            collide(queued, run);
    }
    plans_.push_back(std::move(queued));
}

void sim_line::collide(pending_plan& plan, const rx_run& run)
{
    const std::int64_t byte_ns = settings_.byte_ns;
    if (byte_ns <= 0)
        return;
    const std::int64_t run_end = run.start_ns + static_cast<std::int64_t>(run.count) * byte_ns;
    std::optional<std::size_t> first_hit;
    for (const piece& part : plan.pieces) {
        const std::int64_t bus_end =
            part.start_ns + static_cast<std::int64_t>(part.end - part.bus_begin) * byte_ns;
        const std::int64_t from = std::max(part.start_ns, run.start_ns);
        const std::int64_t to = std::min(bus_end, run_end);
        if (from >= to)
            continue;
        const std::size_t hit =
            part.bus_begin + static_cast<std::size_t>((from - part.start_ns) / byte_ns);
        if (!first_hit)
            first_hit = hit;
        const auto first_rx = static_cast<std::uint64_t>((from - run.start_ns) / byte_ns);
        const auto end_rx = static_cast<std::uint64_t>((to - run.start_ns + byte_ns - 1) / byte_ns);
        for (std::uint64_t j = first_rx; j < end_rx; ++j)
            collided_offsets_.insert(run.first_offset + j);
    }
    if (!first_hit)
        return;
    const std::size_t from = std::max(*first_hit, plan.sent);
    if (from >= plan.garbled_from)
        return;
    log_("collision on " + hex(plan.original) + ": a request was on the line with its byte " +
         std::to_string(from) + "; bytes " + std::to_string(from) + ".." +
         std::to_string(plan.bytes.size() - 1) + " garbled, the request is lost");
    garble(plan.bytes, plan.original, from, garbage_);
    plan.garbled_from = from;
}

bool sim_line::collided(const received_request& request) const
{
    const auto at = collided_offsets_.lower_bound(request.offset);
    return at != collided_offsets_.end() && *at < request.offset + FRAME_SIZE;
}

// Drops what no later reply or request can still touch.
void sim_line::forget_old(std::int64_t now)
{
    if (!settings_.half_duplex)
        return;
    // A reply yet to be scheduled starts no sooner than the oldest waiting request is
    // through, or than now for requests still to come.
    std::int64_t horizon = now;
    if (!requests_.empty())
        horizon = std::min(horizon, requests_.front().complete_ns);
    while (!runs_.empty() &&
           runs_.front().start_ns +
                   static_cast<std::int64_t>(runs_.front().count) * settings_.byte_ns <=
               horizon)
        runs_.pop_front();
    std::uint64_t oldest = framer_.fed() - framer_.buffered();
    if (!requests_.empty())
        oldest = std::min(oldest, requests_.front().request.offset);
    collided_offsets_.erase(collided_offsets_.begin(), collided_offsets_.lower_bound(oldest));
}

const sim_line::piece& sim_line::piece_at(const pending_plan& plan, std::size_t index) const
{
    for (const piece& part : plan.pieces) {
        if (index < part.end)
            return part;
    }
    return plan.pieces.back();
}

// When byte `index` of `plan` is handed to the tool: at the end of its own byte time (an
// echo at the start of its piece), or with a latency timer that long after the last byte
// of its piece.
std::int64_t sim_line::delivery_ns(const pending_plan& plan, std::size_t index) const
{
    const piece& part = piece_at(plan, index);
    const std::int64_t byte_ns = settings_.byte_ns;
    if (settings_.latency_ns > 0)
        return part.start_ns + static_cast<std::int64_t>(part.end - part.bus_begin) * byte_ns +
               settings_.latency_ns;
    if (index < part.bus_begin)
        return part.start_ns;
    return part.start_ns + static_cast<std::int64_t>(index - part.bus_begin + 1) * byte_ns;
}

void sim_line::send_due_bytes(std::int64_t now, const writer& write)
{
    while (!plans_.empty()) {
        pending_plan& plan = plans_.front();
        if (plan.sent >= plan.bytes.size()) {
            plans_.pop_front();
            continue;
        }
        const piece part = piece_at(plan, plan.sent);
        std::size_t due = plan.sent;
        while (due < part.end && delivery_ns(plan, due) <= now)
            ++due;
        if (due == plan.sent)
            return;
        const auto bytes = std::span<const std::uint8_t>(plan.bytes);
        const auto piece_bytes = bytes.subspan(part.begin, part.end - part.begin);
        const std::string failure = write(bytes.subspan(plan.sent, due - plan.sent));
        if (!failure.empty()) {
            // A real line does not wait for its listener: bytes nobody takes are lost.
            // Here that means the client has left 4 KiB or so unread.
            log_("tx " + hex(piece_bytes) + "  dropped: " + failure);
            plan.sent = part.end;
            continue;
        }
        if (settings_.latency_ns > 0)
            log_("latency on " + hex(piece_bytes) + ": held " + ms_text(settings_.latency_ns) +
                 " after its last byte, handed over in one write");
        plan.sent = due;
        if (plan.sent < part.end)
            return;
        log_("tx " + hex(piece_bytes) + (part.end > plan.garbled_from ? "  (garbled)" : ""));
    }
}

}  // namespace lorvane::sim
