// lorvane-sim: plays the panel module on a pseudo-terminal so the tool can be run and
// tested without hardware. The first line on stdout is the terminal's path, which is what
// a user enters as the tool's port.

#include "pty.h"
#include "sim_line.h"
#include "sim_module.h"
#include "sim_replay.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <variant>
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

constexpr int EXIT_RUNTIME_ERROR = 1;
constexpr int EXIT_BAD_USAGE = 2;

constexpr std::int64_t NS_PER_MS = 1'000'000;
constexpr std::int64_t NS_PER_S = 1'000'000'000;
// With pacing, stop reading once this much received line time is still to be played out,
// so a flooding client meets back-pressure as it would on a real line.
constexpr std::int64_t RX_BACKLOG_LIMIT_NS = NS_PER_S;
// Pause before polling the master again after it reported a hang-up.
constexpr std::int64_t HANGUP_BACKOFF_NS = 200 * NS_PER_MS;
constexpr std::uint32_t MAX_PACE_BAUD = 4'000'000;
constexpr unsigned MAX_LINE_MS = 1000;  // --turnaround and --latency
constexpr double MIN_NOISE_RATE = 0.1;  // --idle-noise, bytes per second
constexpr double MAX_NOISE_RATE = 1000;
constexpr double MIN_SPEED_FACTOR = 0.1;  // --wrong-speed
constexpr double MAX_SPEED_FACTOR = 10;

constexpr std::string_view USAGE =
    "Usage: lorvane-sim [options]\n"
    "Plays the 16-key panel module on a pseudo-terminal. The first line printed on\n"
    "stdout is the terminal's path; enter it as the port in Lorvane.\n"
    "\n"
    "Options:\n"
    "  --address N[,N...]   module address(es), 0..255 (default 1); several addresses\n"
    "                       put several modules on the line, each with its own records\n"
    "  --record0 V1,V2,V3   every module starts with record 0 = (V1, V2, V3), 0..255:\n"
    "                       a refresh period with spare bytes that are not 0\n"
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
    "  --turnaround MS      each module starts its reply MS ms (0..1000, default 0) after\n"
    "                       the request's last byte is through the line; with --echo the\n"
    "                       echo waits with it\n"
    "  --latency MS         hold what reaches the PC until MS ms (0..1000, default 0)\n"
    "                       after its last byte is through the line, then hand it over in\n"
    "                       one write, as a USB adapter's latency timer does\n"
    "  --half-duplex        one two-wire bus for both directions: a request that is on\n"
    "                       the line while a reply is garbles that reply from there on\n"
    "                       and is lost itself. Needs --pace-baud.\n"
    "  --twin A             a second module at address A (one of --address): it answers\n"
    "                       the same requests a fraction of a byte later, so the two\n"
    "                       replies overlap and arrive as 8 garbled bytes, as two modules\n"
    "                       left at the same address do\n"
    "  --idle-noise RATE    random bytes at random moments, RATE a second on average\n"
    "                       (0.1..1000), whenever nothing drives the line, as a bus\n"
    "                       without termination or bias picks up\n"
    "  --wrong-speed FACTOR the modules answer at FACTOR times the line's speed (0.1..10,\n"
    "                       not 1): each reply arrives as about 8/FACTOR garbled bytes\n"
    "                       Turnaround, latency, collisions, twins, noise and wrong speed\n"
    "                       are logged with --verbose.\n"
    "  --replay FILE        play the module side of a line capture (pcapng): the n-th\n"
    "                       request received is answered with what arrived after the\n"
    "                       capture's n-th request, with its delays, until the next one\n"
    "                       (junk, pieces, late replies and silence as they were); after\n"
    "                       the capture's last request, silence. Takes no line options.\n"
    "  --interface N        the capture's interface (bus) to play, from 0 (default 0)\n"
    "  --verbose            log every frame received and sent, and every fault, on stderr;\n"
    "                       with --replay, each request that differs from the captured one\n"
    "                       is logged beside the captured request\n"
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

using lorvane::sim::fault_settings;

struct options
{
    std::vector<std::uint8_t> addresses;  // empty: the default address only
    std::uint32_t pace_baud = 0;          // 0: no pacing
    std::optional<std::uint64_t> silent_after;
    std::optional<fault_settings> faults;
    unsigned turnaround_ms = 0;
    unsigned latency_ms = 0;
    bool echo = false;
    bool half_duplex = false;
    bool verbose = false;
    bool help = false;
    std::string link;
    std::optional<lorvane::sim::record_values> record0;
    std::optional<std::uint8_t> twin;
    double idle_noise_rate = 0;
    double wrong_speed = 1;
    QString replay;  // empty: no replay
    std::uint32_t interface = 0;
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

// "50,7,255": one record's three value bytes.
std::optional<lorvane::sim::record_values> parse_record(std::string_view text)
{
    lorvane::sim::record_values values{};
    for (std::size_t i = 0; i < values.size(); ++i) {
        const auto comma = text.find(',');
        if ((comma == text.npos) != (i + 1 == values.size()))
            return std::nullopt;
        const auto value = parse_number<unsigned>(text.substr(0, comma), 0, 255);
        if (!value)
            return std::nullopt;
        values[i] = static_cast<std::uint8_t>(*value);
        text.remove_prefix(comma == text.npos ? text.size() : comma + 1);
    }
    return values;
}

// A decimal number such as "0.5" or "20" within [low, high].
std::optional<double> parse_decimal(std::string_view text, double low, double high)
{
    double value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value, std::chars_format::fixed);
    if (text.empty() || error != std::errc{} || stop != end || !(value >= low) || value > high)
        return std::nullopt;
    return value;
}

// "SEED" or "SEED,RATE", RATE from 0 to 1.
std::optional<fault_settings> parse_faults(std::string_view text)
{
    fault_settings parsed;
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
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);

    // --help prints USAGE, which ends with an example QCommandLineParser's own text has no
    // place for; the options need no descriptions here.
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, {});
    const QCommandLineOption verbose(QStringLiteral("verbose"), {});
    const QCommandLineOption echo(QStringLiteral("echo"), {});
    const QCommandLineOption half_duplex(QStringLiteral("half-duplex"), {});
    const QCommandLineOption address(QStringLiteral("address"), {}, QStringLiteral("N"));
    const QCommandLineOption faults(QStringLiteral("faults"), {}, QStringLiteral("SEED"));
    const QCommandLineOption pace_baud(QStringLiteral("pace-baud"), {}, QStringLiteral("B"));
    const QCommandLineOption silent_after(QStringLiteral("silent-after"), {}, QStringLiteral("N"));
    const QCommandLineOption turnaround(QStringLiteral("turnaround"), {}, QStringLiteral("MS"));
    const QCommandLineOption latency(QStringLiteral("latency"), {}, QStringLiteral("MS"));
    const QCommandLineOption link(QStringLiteral("link"), {}, QStringLiteral("PATH"));
    const QCommandLineOption record0(QStringLiteral("record0"), {}, QStringLiteral("V1,V2,V3"));
    const QCommandLineOption twin(QStringLiteral("twin"), {}, QStringLiteral("A"));
    const QCommandLineOption idle_noise(QStringLiteral("idle-noise"), {}, QStringLiteral("RATE"));
    const QCommandLineOption wrong_speed(QStringLiteral("wrong-speed"), {},
                                         QStringLiteral("FACTOR"));
    const QCommandLineOption replay(QStringLiteral("replay"), {}, QStringLiteral("FILE"));
    const QCommandLineOption interface(QStringLiteral("interface"), {}, QStringLiteral("N"));
    QCommandLineParser parser;
    parser.addOptions({help, verbose, echo, half_duplex, address, faults, pace_baud, silent_after,
                       turnaround, latency, link, record0, twin, idle_noise, wrong_speed, replay,
                       interface});
    if (!parser.parse(arguments))
        return parser.errorText().toStdString();
    if (const QStringList extra = parser.positionalArguments(); !extra.isEmpty())
        return "unexpected argument '" + extra.front().toStdString() + "'";

    parsed.help = parser.isSet(help);
    parsed.verbose = parser.isSet(verbose);
    parsed.echo = parser.isSet(echo);
    parsed.half_duplex = parser.isSet(half_duplex);
    const auto text_of = [&](const QCommandLineOption& option) {
        return parser.value(option).toStdString();
    };
    if (parser.isSet(address)) {
        const std::string text = text_of(address);
        const auto value = parse_addresses(text);
        if (!value)
            return "--address takes whole numbers from 0 to 255, each once, separated by "
                   "commas, not '" +
                   text + "'";
        parsed.addresses = *value;
    }
    if (parser.isSet(record0)) {
        const std::string text = text_of(record0);
        const auto values = parse_record(text);
        if (!values)
            return "--record0 takes three whole numbers from 0 to 255 separated by commas, not '" +
                   text + "'";
        parsed.record0 = *values;
    }
    if (parser.isSet(faults)) {
        const std::string text = text_of(faults);
        const auto value = parse_faults(text);
        if (!value)
            return "--faults takes SEED or SEED,RATE (a whole number, then a rate from 0 to 1), "
                   "not '" +
                   text + "'";
        parsed.faults = *value;
    }
    if (parser.isSet(pace_baud)) {
        const std::string text = text_of(pace_baud);
        const auto value = parse_number<std::uint32_t>(text, 1, MAX_PACE_BAUD);
        if (!value)
            return "--pace-baud must be a whole number from 1 to " + std::to_string(MAX_PACE_BAUD) +
                   ", not '" + text + "'";
        parsed.pace_baud = *value;
    }
    if (parser.isSet(silent_after)) {
        const std::string text = text_of(silent_after);
        const auto value =
            parse_number<std::uint64_t>(text, 0, std::numeric_limits<std::uint64_t>::max());
        if (!value)
            return "--silent-after must be a whole number of at least 0, not '" + text + "'";
        parsed.silent_after = *value;
    }
    for (const auto& [option, target] :
         {std::pair{&turnaround, &parsed.turnaround_ms}, std::pair{&latency, &parsed.latency_ms}}) {
        if (!parser.isSet(*option))
            continue;
        const std::string text = text_of(*option);
        const auto value = parse_number<unsigned>(text, 0, MAX_LINE_MS);
        if (!value)
            return "--" + option->names().front().toStdString() +
                   " must be a whole number of ms from 0 to " + std::to_string(MAX_LINE_MS) +
                   ", not '" + text + "'";
        *target = *value;
    }
    if (parser.isSet(twin)) {
        const std::string text = text_of(twin);
        const auto value = parse_number<unsigned>(text, 0, 255);
        const std::vector<std::uint8_t> present =
            parsed.addresses.empty() ? std::vector{lorvane::sim::DEFAULT_MODULE_ADDRESS}
                                     : parsed.addresses;
        if (!value || std::find(present.begin(), present.end(), *value) == present.end())
            return "--twin takes one of the modules' addresses (--address, default 1), not '" +
                   text + "'";
        parsed.twin = static_cast<std::uint8_t>(*value);
    }
    if (parser.isSet(idle_noise)) {
        const std::string text = text_of(idle_noise);
        const auto value = parse_decimal(text, MIN_NOISE_RATE, MAX_NOISE_RATE);
        if (!value)
            return "--idle-noise takes bytes per second from 0.1 to 1000, not '" + text + "'";
        parsed.idle_noise_rate = *value;
    }
    if (parser.isSet(wrong_speed)) {
        const std::string text = text_of(wrong_speed);
        const auto value = parse_decimal(text, MIN_SPEED_FACTOR, MAX_SPEED_FACTOR);
        if (!value || *value == 1)
            return "--wrong-speed takes a factor of the line's speed from 0.1 to 10 other than 1, "
                   "not '" +
                   text + "'";
        parsed.wrong_speed = *value;
    }
    if (parsed.half_duplex && parsed.pace_baud == 0)
        return "--half-duplex needs --pace-baud: without pacing bytes take no time on the line, "
               "so a request and a reply can never overlap";
    if (parser.isSet(replay)) {
        parsed.replay = parser.value(replay);
        if (parsed.replay.isEmpty())
            return "--replay needs a capture file";
        // The capture holds the line as it was: options that shape a line of our own have
        // nothing to act on.
        for (const QCommandLineOption* shaping :
             {&echo, &half_duplex, &address, &faults, &pace_baud, &silent_after, &turnaround,
              &latency, &record0, &twin, &idle_noise, &wrong_speed}) {
            if (parser.isSet(*shaping))
                return "--replay plays the line as it was captured and takes no --" +
                       shaping->names().front().toStdString();
        }
    }
    if (parser.isSet(interface)) {
        const std::string text = text_of(interface);
        const auto value =
            parse_number<std::uint32_t>(text, 0, std::numeric_limits<std::uint32_t>::max());
        if (!value)
            return "--interface must be a whole number of at least 0, not '" + text + "'";
        if (parsed.replay.isEmpty())
            return "--interface chooses the capture's interface for --replay; give --replay FILE";
        parsed.interface = *value;
    }
    if (parser.isSet(link)) {
        const std::string text = parser.value(link).toLocal8Bit().toStdString();
        if (text.empty())
            return "--link needs a path";
        parsed.link = text;
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

lorvane::sim::line_settings line_settings_of(const options& opts)
{
    lorvane::sim::line_settings settings;
    settings.addresses = opts.addresses;
    settings.silent_after = opts.silent_after;
    settings.faults = opts.faults;
    settings.echo = opts.echo;
    settings.byte_ns = lorvane::sim::byte_time_ns(opts.pace_baud);
    settings.turnaround_ns = static_cast<std::int64_t>(opts.turnaround_ms) * NS_PER_MS;
    settings.latency_ns = static_cast<std::int64_t>(opts.latency_ms) * NS_PER_MS;
    settings.half_duplex = opts.half_duplex;
    settings.record0 = opts.record0;
    settings.twin = opts.twin;
    settings.idle_noise_rate = opts.idle_noise_rate;
    settings.wrong_speed = opts.wrong_speed;
    return settings;
}

// Serves the line on the pseudo-terminal: the line model (sim_line, or replay_line playing
// a capture) decides what happens when, this waits for it and moves the bytes.
template <typename Line> class simulator
{
public:
    simulator(Line& bus, bool paced, lorvane::pty_pair& line, int signal_fd, const logger& log)
        : line_(line), signal_fd_(signal_fd), log_(log), paced_(paced), bus_(bus)
    {
    }

    // Serves the line until a stop signal arrives; returns the signal number.
    int run()
    {
        const auto write = [this](std::span<const std::uint8_t> chunk) -> std::string {
            try {
                if (line_.write_some(chunk) < chunk.size())
                    return "client not reading";
            } catch (const std::system_error& error) {
                return error.what();
            }
            return {};
        };
        for (;;) {
            const std::int64_t now = monotonic_ns();
            bus_.advance(now, write);

            // Decide what to wait for and how long.
            std::optional<std::int64_t> deadline = bus_.next_due();
            const auto consider = [&](std::int64_t when) {
                deadline = deadline ? std::min(*deadline, when) : when;
            };
            bool read_master = true;
            if (now < quiet_until_ns_) {
                read_master = false;
                consider(quiet_until_ns_);
            }
            if (paced_ && bus_.rx_line_free() - now > RX_BACKLOG_LIMIT_NS) {
                read_master = false;
                consider(bus_.rx_line_free() - RX_BACKLOG_LIMIT_NS);
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
        bus_.receive(now, bytes);
    }

    lorvane::pty_pair& line_;
    int signal_fd_;
    const logger& log_;
    bool paced_;
    Line& bus_;
    std::int64_t quiet_until_ns_ = 0;  // no reads before this (after a hang-up)
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
    std::optional<lorvane::sim::replay_script> script;
    if (!opts.replay.isEmpty()) {
        auto loaded = lorvane::sim::load_replay(opts.replay, opts.interface);
        if (const auto* error = std::get_if<std::string>(&loaded)) {
            std::fprintf(stderr, "lorvane-sim: %s\n", error->c_str());
            return EXIT_RUNTIME_ERROR;
        }
        script = std::move(std::get<lorvane::sim::replay_script>(loaded));
        if (script->truncated)
            std::fprintf(stderr,
                         "lorvane-sim: %s ends inside a block (a capture cut off); "
                         "replaying what comes before it\n",
                         opts.replay.toLocal8Bit().constData());
    }

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
        const logger log(opts.verbose, monotonic_ns());
        const auto log_line = [&log](const std::string& text) { log.line(text); };
        int stopped_by = 0;
        if (script) {
            std::fprintf(stderr,
                         "lorvane-sim: replaying interface %u (%s) of %s, %zu requests, on "
                         "%s%s; enter that path as the port in Lorvane. Stop with Ctrl+C.\n",
                         opts.interface, script->interface_name.toLocal8Bit().constData(),
                         opts.replay.toLocal8Bit().constData(), script->exchanges.size(),
                         line.slave_path().c_str(), also.c_str());
            lorvane::sim::replay_line bus(std::move(*script), log_line);
            simulator sim(bus, false, line, signal_fd, log);
            stopped_by = sim.run();
        } else {
            std::fprintf(stderr,
                         "lorvane-sim: %s at address %s on %s%s; enter that path as the port "
                         "in Lorvane. Stop with Ctrl+C.\n",
                         opts.addresses.size() == 1 ? "module" : "modules", addresses.c_str(),
                         line.slave_path().c_str(), also.c_str());
            lorvane::sim::sim_line bus(line_settings_of(opts), log_line);
            simulator sim(bus, opts.pace_baud > 0, line, signal_fd, log);
            stopped_by = sim.run();
        }
        log.line("stopping on signal " + std::to_string(stopped_by));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "lorvane-sim: %s\n", error.what());
        return EXIT_RUNTIME_ERROR;
    }
    return 0;
}
