// lorvane-sim: plays the panel module on a pseudo-terminal so the tool can be run and
// tested without hardware. The first line on stdout is the terminal's path, which is what
// a user enters as the tool's port.

#include "pty.h"
#include "sim_faults.h"
#include "sim_module.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <exception>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace {

using lorvane::frame;

constexpr int EXIT_RUNTIME_ERROR = 1;
constexpr int EXIT_BAD_USAGE = 2;

constexpr std::int64_t NS_PER_MS = 1'000'000;
constexpr std::int64_t NS_PER_S = 1'000'000'000;
constexpr std::int64_t BITS_PER_BYTE = 10;  // start bit, 8 data bits, stop bit (8N1)
// With pacing, stop reading once this much received line time is still to be played out,
// so a flooding client meets back-pressure as it would on a real line.
constexpr std::int64_t RX_BACKLOG_LIMIT_NS = NS_PER_S;
// Pause before polling the master again after it reported a hang-up.
constexpr std::int64_t HANGUP_BACKOFF_NS = 200 * NS_PER_MS;
constexpr std::uint32_t MAX_PACE_BAUD = 4'000'000;

constexpr std::string_view USAGE =
    "Usage: lorvane-sim [options]\n"
    "Plays the 16-key panel module on a pseudo-terminal. The first line printed on\n"
    "stdout is the terminal's path; enter it as the port in Lorvane.\n"
    "\n"
    "Options:\n"
    "  --address N[,N...]   module address(es), 0..255 (default 1); several addresses\n"
    "                       put several modules on the line, each with its own records\n"
    "  --pace-baud B        let bytes take the time they would at B baud, 8N1\n"
    "  --silent-after N     each module answers only its first N requests, then stays\n"
    "                       silent\n"
    "  --echo               hand each request back before its reply, in the same write,\n"
    "                       as an RS-485 adapter without echo suppression does\n"
    "  --faults SEED[,RATE] play a bad line: with probability RATE (default 0.1) a reply\n"
    "                       is dropped, has one byte changed, gets 1-3 garbage bytes in\n"
    "                       front, is split into 2-4 pieces, comes 100-400 ms late, comes\n"
    "                       after an echo of the request (apart or in the same write), or\n"
    "                       comes twice in one write. The same SEED gives the same faults.\n"
    "  --verbose            log every frame received and sent, and every fault, on stderr\n"
    "  --link PATH          also make PATH a symbolic link to the terminal; PATH must\n"
    "                       not exist yet\n"
    "  --help               show this text\n"
    "\n"
    "To see what a bad line does to Lorvane:\n"
    "  lorvane-sim --faults 7,0.2 --verbose\n"
    "then open the printed path in Lorvane and write or read: the log shows each fault,\n"
    "and Lorvane either completes or stops at the damaged reply with one message.\n"
    "\n"
    "Stops cleanly (exit code 0) on SIGINT, SIGTERM or SIGHUP.\n";

struct fault_options
{
    std::uint64_t seed = 0;
    double rate = 0.1;
};

struct options
{
    std::vector<std::uint8_t> addresses;  // empty: the default address only
    std::uint32_t pace_baud = 0;          // 0: no pacing
    std::optional<std::uint64_t> silent_after;
    std::optional<fault_options> faults;
    bool echo = false;
    bool verbose = false;
    bool help = false;
    std::string link;
};

// Parses a whole decimal number within [low, high].
template <typename T> std::optional<T> parse_number(std::string_view text, T low, T high)
{
    T value{};
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc{} || stop != end || value < low || value > high)
        return std::nullopt;
    return value;
}

// "1,7,42": distinct addresses 0..255.
std::optional<std::vector<std::uint8_t>> parse_addresses(std::string_view text)
{
    std::vector<std::uint8_t> addresses;
    for (;;) {
        const auto comma = text.find(',');
        const auto value = parse_number<unsigned>(text.substr(0, comma), 0, 255);
        if (!value)
            return std::nullopt;
        const auto address = static_cast<std::uint8_t>(*value);
        if (std::find(addresses.begin(), addresses.end(), address) != addresses.end())
            return std::nullopt;
        addresses.push_back(address);
        if (comma == text.npos)
            return addresses;
        text.remove_prefix(comma + 1);
    }
}

// "SEED" or "SEED,RATE", RATE from 0 to 1.
std::optional<fault_options> parse_faults(std::string_view text)
{
    fault_options parsed;
    const auto comma = text.find(',');
    const auto seed = parse_number<std::uint64_t>(text.substr(0, comma), 0,
                                                  std::numeric_limits<std::uint64_t>::max());
    if (!seed)
        return std::nullopt;
    parsed.seed = *seed;
    if (comma != text.npos) {
        const std::string_view rate = text.substr(comma + 1);
        const char* end = rate.data() + rate.size();
        const auto [stop, error] =
            std::from_chars(rate.data(), end, parsed.rate, std::chars_format::fixed);
        if (rate.empty() || error != std::errc{} || stop != end || !(parsed.rate >= 0.0) ||
            parsed.rate > 1.0)
            return std::nullopt;
    }
    return parsed;
}

// Fills `parsed` from the command line; returns an error message, empty on success.
std::string parse_options(int argc, char** argv, options& parsed)
{
    for (int i = 1; i < argc; ++i) {
        std::string_view arg = argv[i];
        std::optional<std::string_view> inline_value;
        if (const auto equals = arg.find('='); arg.starts_with("--") && equals != arg.npos) {
            inline_value = arg.substr(equals + 1);
            arg = arg.substr(0, equals);
        }
        const auto takes_value = [&]() -> std::optional<std::string_view> {
            if (inline_value)
                return inline_value;
            if (i + 1 < argc)
                return std::string_view(argv[++i]);
            return std::nullopt;
        };
        const auto flag = [&](bool& target) {
            if (inline_value)
                return std::string(arg) + " takes no value";
            target = true;
            return std::string();
        };

        if (arg == "--help" || arg == "-h") {
            if (auto error = flag(parsed.help); !error.empty())
                return error;
        } else if (arg == "--verbose") {
            if (auto error = flag(parsed.verbose); !error.empty())
                return error;
        } else if (arg == "--echo") {
            if (auto error = flag(parsed.echo); !error.empty())
                return error;
        } else if (arg == "--address") {
            const auto text = takes_value();
            if (!text)
                return "--address needs a value";
            const auto value = parse_addresses(*text);
            if (!value)
                return "--address takes whole numbers from 0 to 255, each once, separated by "
                       "commas, not '" +
                       std::string(*text) + "'";
            parsed.addresses = *value;
        } else if (arg == "--faults") {
            const auto text = takes_value();
            if (!text)
                return "--faults needs a value";
            const auto value = parse_faults(*text);
            if (!value)
                return "--faults takes SEED or SEED,RATE (a whole number, then a rate from 0 "
                       "to 1), not '" +
                       std::string(*text) + "'";
            parsed.faults = *value;
        } else if (arg == "--pace-baud") {
            const auto text = takes_value();
            if (!text)
                return "--pace-baud needs a value";
            const auto value = parse_number<std::uint32_t>(*text, 1, MAX_PACE_BAUD);
            if (!value)
                return "--pace-baud must be a whole number from 1 to " +
                       std::to_string(MAX_PACE_BAUD) + ", not '" + std::string(*text) + "'";
            parsed.pace_baud = *value;
        } else if (arg == "--silent-after") {
            const auto text = takes_value();
            if (!text)
                return "--silent-after needs a value";
            const auto value =
                parse_number<std::uint64_t>(*text, 0, std::numeric_limits<std::uint64_t>::max());
            if (!value)
                return "--silent-after must be a whole number of at least 0, not '" +
                       std::string(*text) + "'";
            parsed.silent_after = *value;
        } else if (arg == "--link") {
            const auto text = takes_value();
            if (!text || text->empty())
                return "--link needs a path";
            parsed.link = std::string(*text);
        } else {
            return "unknown option '" + std::string(argv[i]) + "'";
        }
    }
    return {};
}

std::int64_t monotonic_ns()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * NS_PER_S + now.tv_nsec;
}

// Sleeps until the absolute monotonic time `when_ns`; a signal may end it early.
void sleep_until(std::int64_t when_ns)
{
    timespec when{};
    when.tv_sec = static_cast<time_t>(when_ns / NS_PER_S);
    when.tv_nsec = static_cast<long>(when_ns % NS_PER_S);
    ::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &when, nullptr);
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

class logger
{
public:
    logger(bool enabled, std::int64_t start_ns) : enabled_(enabled), start_ns_(start_ns) {}
    bool enabled() const { return enabled_; }
    void line(std::string_view text) const
    {
        if (!enabled_)
            return;
        const std::int64_t elapsed_us = (monotonic_ns() - start_ns_) / 1000;
        std::fprintf(stderr, "[%6lld.%03lld ms] %.*s\n", static_cast<long long>(elapsed_us / 1000),
                     static_cast<long long>(elapsed_us % 1000), static_cast<int>(text.size()),
                     text.data());
    }

private:
    bool enabled_;
    std::int64_t start_ns_;
};

// Write end of the self-pipe; the signal handler only writes the signal number to it.
int signal_pipe_write = -1;

void on_stop_signal(int number)
{
    const int saved_errno = errno;
    const auto byte = static_cast<unsigned char>(number);
    [[maybe_unused]] const ssize_t ignored = ::write(signal_pipe_write, &byte, 1);
    errno = saved_errno;
}

// Creates the self-pipe and routes SIGINT, SIGTERM and SIGHUP to it; returns the read end.
int install_signal_pipe()
{
    int ends[2];
    if (::pipe(ends) != 0)
        throw std::system_error(errno, std::generic_category(), "pipe");
    for (const int fd : ends) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    signal_pipe_write = ends[1];

    struct sigaction action
    {
    };
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : {SIGINT, SIGTERM, SIGHUP}) {
        if (::sigaction(number, &action, nullptr) != 0)
            throw std::system_error(errno, std::generic_category(), "sigaction");
    }
    // A reader of our stdout or stderr going away must not kill us.
    struct sigaction ignore
    {
    };
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGPIPE, &ignore, nullptr);
    return ends[0];
}

// Makes `path` a symbolic link to `target`. Whatever already stands at `path` (a file, a
// folder, another link, even a dangling one) is the user's and is left alone: the call fails.
std::string create_link(const std::string& path, const std::string& target)
{
    if (::symlink(target.c_str(), path.c_str()) == 0)
        return {};
    if (errno == EEXIST)
        return "cannot create link " + path +
               ": something already exists there; remove it "
               "or choose another path";
    return "cannot create link " + path + ": " + std::strerror(errno);
}

// Removes the link at `path` if it still points to `target` (another simulator may have
// taken the name over since).
void remove_link(const std::string& path, const std::string& target)
{
    std::vector<char> buffer(target.size() + 2);
    const ssize_t length = ::readlink(path.c_str(), buffer.data(), buffer.size());
    if (length >= 0 && std::string_view(buffer.data(), static_cast<std::size_t>(length)) == target)
        ::unlink(path.c_str());
}

// One byte's time on the line at `baud`, 8N1, rounded up so that paced exchanges never take
// less than the real line would; 0 (no pacing) when baud is 0.
std::int64_t byte_time_ns(std::uint32_t baud)
{
    if (baud == 0)
        return 0;
    return (BITS_PER_BYTE * NS_PER_S + baud - 1) / baud;
}

// A request that has arrived, waiting for the moment its last byte is through the line.
struct pending_request
{
    lorvane::sim::received_request request;
    std::int64_t complete_ns;
};

// Bytes on their way out in one write (a reply, or a piece of one); byte i is due at
// start_ns + (i + 1) * byte_ns.
struct pending_reply
{
    std::vector<std::uint8_t> bytes;
    std::int64_t start_ns;
    std::size_t sent = 0;
};

class simulator
{
public:
    simulator(const options& opts, lorvane::pty_pair& line, int signal_fd, const logger& log)
        : line_(line), signal_fd_(signal_fd), log_(log), byte_ns_(byte_time_ns(opts.pace_baud)),
          echo_(opts.echo)
    {
        for (const std::uint8_t address : opts.addresses) {
            modules_.emplace_back(address);
            modules_.back().set_silent_after(opts.silent_after);
        }
        if (opts.faults)
            faults_.emplace(opts.faults->seed, opts.faults->rate);
    }

    // Serves the line until a stop signal arrives; returns the signal number.
    int run()
    {
        for (;;) {
            const std::int64_t now = monotonic_ns();
            answer_due_requests(now);
            send_due_bytes(now);

            // Decide what to wait for and how long.
            std::optional<std::int64_t> deadline;
            const auto consider = [&](std::int64_t when) {
                deadline = deadline ? std::min(*deadline, when) : when;
            };
            if (!requests_.empty())
                consider(requests_.front().complete_ns);
            if (!replies_.empty())
                consider(byte_due(replies_.front(), replies_.front().sent));
            bool read_master = true;
            if (now < quiet_until_ns_) {
                read_master = false;
                consider(quiet_until_ns_);
            }
            if (byte_ns_ > 0 && rx_line_free_ns_ - now > RX_BACKLOG_LIMIT_NS) {
                read_master = false;
                consider(rx_line_free_ns_ - RX_BACKLOG_LIMIT_NS);
            }

            int timeout_ms = -1;
            if (deadline) {
                const std::int64_t left = *deadline - now;
                if (left < NS_PER_MS) {
                    // poll() counts in whole ms; sleep the last stretch on the clock itself so
                    // bytes leave on their slot.
                    if (left > 0)
                        sleep_until(*deadline);
                    timeout_ms = 0;
                } else {
                    timeout_ms = static_cast<int>(
                        std::min<std::int64_t>(left / NS_PER_MS, std::numeric_limits<int>::max()));
                }
            }

            pollfd fds[2] = {{signal_fd_, POLLIN, 0},
                             {read_master ? line_.master_fd() : -1, POLLIN, 0}};
            const int ready = ::poll(fds, 2, timeout_ms);
            if (ready < 0) {
                if (errno == EINTR)
                    continue;
                throw std::system_error(errno, std::generic_category(), "poll");
            }
            if (fds[0].revents & POLLIN) {
                unsigned char number = 0;
                if (::read(signal_fd_, &number, 1) == 1)
                    return number;
            }
            if (fds[1].revents & POLLNVAL)
                throw std::system_error(EBADF, std::generic_category(), "pseudo-terminal master");
            if (fds[1].revents & (POLLIN | POLLHUP | POLLERR))
                receive(monotonic_ns(), fds[1].revents);
        }
    }

private:
    std::int64_t byte_due(const pending_reply& reply, std::size_t index) const
    {
        return reply.start_ns + static_cast<std::int64_t>(index + 1) * byte_ns_;
    }

    void receive(std::int64_t now, short revents)
    {
        const std::vector<std::uint8_t> bytes = line_.read_some(0);
        if (bytes.empty() && (revents & (POLLHUP | POLLERR))) {
            // The master reports a hang-up when no slave is open. The pty_pair holds a slave
            // fd, so this should not occur; if it does, look again only after a pause
            // instead of spinning on poll().
            quiet_until_ns_ = now + HANGUP_BACKOFF_NS;
            log_.line("line reports hang-up; pausing reads");
            return;
        }
        const std::uint64_t discarded_before = framer_.discarded();
        for (const std::uint8_t byte : bytes) {
            // Each byte is through the line one byte time after both it arrived and the
            // byte before it was through.
            rx_line_free_ns_ = std::max(now, rx_line_free_ns_) + byte_ns_;
            if (auto request = framer_.push(byte, rx_line_free_ns_))
                requests_.push_back({*request, request->last_stamp});
        }
        if (const std::uint64_t skipped = framer_.discarded() - discarded_before; skipped > 0)
            log_.line("skipped " + std::to_string(skipped) + " byte(s) out of step");
    }

    void answer_due_requests(std::int64_t now)
    {
        while (!requests_.empty() && requests_.front().complete_ns <= now) {
            const pending_request pending = requests_.front();
            requests_.pop_front();
            const frame& request = pending.request.bytes;
            lorvane::sim::sim_module& module = module_for(request);
            const lorvane::sim::request_verdict verdict = module.check(request);
            log_.line("rx " + hex(request) + "  (" +
                      std::string(lorvane::sim::verdict_text(verdict)) + ")");
            const std::optional<frame> reply = module.answer(request);
            if (!reply) {
                if (echo_)  // the adapter echoes what the PC sends, answered or not
                    schedule(pending.complete_ns,
                             {std::nullopt, {}, {{0, {request.begin(), request.end()}}}});
                continue;
            }
            lorvane::sim::reply_plan plan = faults_
                                                ? faults_->plan(request, *reply, echo_)
                                                : lorvane::sim::plain_reply(request, *reply, echo_);
            if (plan.fault)
                log_.line("fault " + std::string(lorvane::sim::fault_name(*plan.fault)) + " on " +
                          hex(*reply) + (plan.detail.empty() ? "" : ": " + plan.detail));
            schedule(pending.complete_ns, plan);
        }
    }

    // The module addressed by `request`, or the first one (which then ignores it).
    lorvane::sim::sim_module& module_for(const frame& request)
    {
        for (auto& module : modules_) {
            if (module.address() == request[lorvane::POS_ADDRESS])
                return module;
        }
        return modules_.front();
    }

    // Queues the pieces of a plan. The first starts once the request is through (`ready_ns`)
    // and its delay has passed; each later one its delay after the one before. None starts
    // before the line is free of earlier output.
    void schedule(std::int64_t ready_ns, const lorvane::sim::reply_plan& plan)
    {
        std::int64_t at = ready_ns;
        for (const auto& piece : plan.pieces) {
            at = std::max(at + piece.delay_ns, tx_line_free_ns_);
            if (piece.bytes.empty())
                continue;
            tx_line_free_ns_ = at + static_cast<std::int64_t>(piece.bytes.size()) * byte_ns_;
            replies_.push_back({piece.bytes, at});
            at = tx_line_free_ns_;
        }
    }

    void send_due_bytes(std::int64_t now)
    {
        while (!replies_.empty()) {
            pending_reply& reply = replies_.front();
            std::size_t due = reply.sent;
            while (due < reply.bytes.size() && byte_due(reply, due) <= now)
                ++due;
            if (due == reply.sent)
                return;
            const auto chunk =
                std::span<const std::uint8_t>(reply.bytes).subspan(reply.sent, due - reply.sent);
            std::size_t written = 0;
            std::string failure;
            try {
                written = line_.write_some(chunk);
            } catch (const std::system_error& error) {
                failure = error.what();
            }
            if (written < chunk.size()) {
                // A real line does not wait for its listener: bytes nobody takes are lost.
                // Here that means the client has left 4 KiB or so unread.
                log_.line("tx " + hex(reply.bytes) + "  dropped: " +
                          (failure.empty() ? std::string("client not reading") : failure));
                replies_.pop_front();
                continue;
            }
            reply.sent = due;
            if (reply.sent < reply.bytes.size())
                return;
            log_.line("tx " + hex(reply.bytes));
            replies_.pop_front();
        }
    }

    std::vector<lorvane::sim::sim_module> modules_;
    std::optional<lorvane::sim::fault_injector> faults_;
    lorvane::sim::request_framer framer_;
    lorvane::pty_pair& line_;
    int signal_fd_;
    const logger& log_;
    std::int64_t byte_ns_;              // one byte's line time; 0 without pacing
    bool echo_;                         // requests come back before their replies
    std::int64_t rx_line_free_ns_ = 0;  // when the last received byte is through the line
    std::int64_t tx_line_free_ns_ = 0;  // when the last scheduled reply byte is out
    std::int64_t quiet_until_ns_ = 0;   // no reads before this (after a hang-up)
    std::deque<pending_request> requests_;
    std::deque<pending_reply> replies_;
};

}  // namespace

int main(int argc, char** argv)
{
    options opts;
    if (const std::string error = parse_options(argc, argv, opts); !error.empty()) {
        std::fprintf(stderr, "lorvane-sim: %s\nTry 'lorvane-sim --help'.\n", error.c_str());
        return EXIT_BAD_USAGE;
    }
    if (opts.help) {
        std::fwrite(USAGE.data(), 1, USAGE.size(), stdout);
        return 0;
    }
    if (opts.addresses.empty())
        opts.addresses.push_back(lorvane::sim::DEFAULT_MODULE_ADDRESS);

#ifdef __linux__
    // Paced bytes are timed to their slots (1.04 ms a byte at 9600 baud); the default 50 us
    // timer slack would make every reply byte late by up to that much.
    if (opts.pace_baud > 0)
        (void)::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
#endif

    try {
        const int signal_fd = install_signal_pipe();
        lorvane::pty_pair line;

        // Removes the link again however this block is left.
        struct link_guard
        {
            std::string path, target;
            ~link_guard()
            {
                if (!path.empty())
                    remove_link(path, target);
            }
        } link;
        if (!opts.link.empty()) {
            if (const std::string error = create_link(opts.link, line.slave_path());
                !error.empty()) {
                std::fprintf(stderr, "lorvane-sim: %s\n", error.c_str());
                return EXIT_RUNTIME_ERROR;
            }
            link.path = opts.link;
            link.target = line.slave_path();
        }

        std::printf("%s\n", line.slave_path().c_str());
        std::fflush(stdout);
        const std::string also = link.path.empty() ? std::string() : " (also " + link.path + ")";
        std::string addresses;
        for (const std::uint8_t address : opts.addresses)
            addresses += (addresses.empty() ? "" : ", ") + std::to_string(address);
        std::fprintf(stderr,
                     "lorvane-sim: %s at address %s on %s%s; enter that path as the port "
                     "in Lorvane. Stop with Ctrl+C.\n",
                     opts.addresses.size() == 1 ? "module" : "modules", addresses.c_str(),
                     line.slave_path().c_str(), also.c_str());

        const logger log(opts.verbose, monotonic_ns());
        simulator sim(opts, line, signal_fd, log);
        const int stopped_by = sim.run();
        log.line("stopping on signal " + std::to_string(stopped_by));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "lorvane-sim: %s\n", error.what());
        return EXIT_RUNTIME_ERROR;
    }
    return 0;
}
