#include "cli.h"

#include "bus_scan.h"
#include "capture_option.h"
#include "config_compare.h"
#include "console.h"
#include "file_io.h"
#include "health_command.h"
#include "interrupt_watch.h"
#include "messages.h"
#include "module_session.h"
#include "network_port.h"
#include "options.h"
#include "panel_file.h"
#include "port_listing.h"
#include "port_name.h"
#include "port_words.h"
#include "serial_link.h"
#include "servers_command.h"
#include "site_commands.h"
#include "tls_commands.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <map>
#include <optional>
#include <set>
#include <vector>

namespace lorvane::cli {

namespace {

constexpr int MAX_SCAN_WAIT_MS = 10'000;

const QString PORT_CLOSED_TEXT = QStringLiteral("the port is closed");

// How a file is named in messages.
QString shown_name(const QString& name)
{
    return name == QStringLiteral("-") ? QStringLiteral("standard input") : name;
}

// The command line, once checked: which command, its files, and every option's value.
struct command_line
{
    QString command;
    QStringList files;
    QString port;
    std::optional<std::uint8_t> address;
    QString output;
    bool verify = false;
    bool json = false;
    int first = 0;
    int last = 255;
    int wait_ms = int(DEFAULT_SCAN_WAIT.count());
    int samples = 20;  // health: reads of record 0 per module
    session_options session;
    network_options network;
    std::optional<capture_request> capture;
};

// What each command takes besides the common options.
const std::map<QString, std::set<QString>>& command_options()
{
    static const std::map<QString, std::set<QString>> options{
        {QStringLiteral("ports"), {}},
        {QStringLiteral("trust"), {}},
        {QStringLiteral("read"),
         {QStringLiteral("port"), QStringLiteral("address"), QStringLiteral("output"),
          QStringLiteral("timeout")}},
        {QStringLiteral("write"),
         {QStringLiteral("port"), QStringLiteral("address"), QStringLiteral("verify"),
          QStringLiteral("timeout")}},
        {QStringLiteral("verify"),
         {QStringLiteral("port"), QStringLiteral("address"), QStringLiteral("timeout")}},
        {QStringLiteral("scan"),
         {QStringLiteral("port"), QStringLiteral("first"), QStringLiteral("last"),
          QStringLiteral("wait"), QStringLiteral("json")}},
        {QStringLiteral("health"),
         {QStringLiteral("port"), QStringLiteral("first"), QStringLiteral("last"),
          QStringLiteral("wait"), QStringLiteral("timeout"), QStringLiteral("samples"),
          QStringLiteral("json")}},
    };
    return options;
}

// Connects the link's frames to the trace, when asked for. The scan's bytes are shown as
// they came, not cut into frames; everything else as the frames cut from them.
void trace_link(serial_link& link, bool raw_bytes)
{
    if (!out.tracing())
        return;
    QObject::connect(&link, &serial_link::frame_sent,
                     [](const frame& request) { out.trace("TX", request); });
    if (raw_bytes) {
        QObject::connect(&link, &serial_link::bytes_received,
                         [](const QByteArray& bytes) { out.trace_bytes("RX", bytes); });
        return;
    }
    QObject::connect(&link, &serial_link::item_received,
                     [](const frame_stream::item& item, item_fate fate, const frame& request) {
                         const QByteArray bytes(reinterpret_cast<const char*>(item.bytes.data()),
                                                qsizetype(item.bytes.size()));
                         out.trace_bytes("RX", bytes, trace_verdict(item, fate, request));
                     });
}

// The line of a command, and its capture when asked for (destroyed after the link).
struct command_link
{
    std::unique_ptr<line_capture> capture;
    serial_link link;
};

// Creates the capture file when asked for, then opens the port (traced when asked for),
// waiting for a network port to connect; on failure or Ctrl-C meanwhile, the exit code after
// telling why.
std::optional<int> open_port(command_link& held, const command_line& args,
                             interrupt_watch& interrupts, bool raw_trace = false)
{
    auto capture = open_capture(args.capture);
    if (const int* code = std::get_if<int>(&capture))
        return *code;
    held.capture = std::get<std::unique_ptr<line_capture>>(std::move(capture));
    serial_link& link = held.link;
    if (held.capture)
        link.set_capture(held.capture.get(), held.capture->add_interface(args.port));
    const QString& port = args.port;
    trace_link(link, raw_trace);
    link.set_network_options(args.network);
    std::optional<port_failure> failure = link.open(port);
    bool interrupted = false;
    if (!failure && link.is_opening()) {
        QEventLoop loop;
        QObject::connect(&link, &serial_link::opened, &loop, &QEventLoop::quit);
        QObject::connect(&link, &serial_link::open_failed, &loop, [&](const port_failure& f) {
            failure = f;
            loop.quit();
        });
        QObject::connect(&interrupts, &interrupt_watch::interrupted, &loop, [&] {
            interrupted = true;
            loop.quit();
        });
        loop.exec();
    }
    if (interrupted) {
        link.close();
        return interrupted_exit(interrupts, PORT_CLOSED_TEXT);
    }
    if (failure) {
        for (const QString& line : failure_text(*failure).split(u'\n'))
            out.error(line);
        if (failure->kind == port_failure_kind::tls_file ||
            failure->kind == port_failure_kind::tls_file_invalid)
            return EXIT_BAD_FILE;  // a CA, client certificate, key or known_servers file
        return failure->kind == port_failure_kind::bad_name ? EXIT_USAGE : EXIT_PORT;
    }
    if (const auto certificate = link.peer_certificate()) {
        if (const auto warning = expiry_warning(*certificate, QDateTime::currentDateTimeUtc()))
            out.info(*warning);
    }
    return std::nullopt;
}

// Runs one transfer of `session` (begun by `start`) to its end in this program's own event
// loop, showing its progress; Ctrl-C or SIGTERM stops it.
session_outcome run_transfer(module_session& session, interrupt_watch& interrupts,
                             const char* doing, std::uint8_t address,
                             const std::function<void()>& start)
{
    QEventLoop loop;
    session_outcome result = session_outcome::done;
    QObject::connect(&session, &module_session::finished, &loop, [&](session_outcome outcome) {
        result = outcome;
        loop.quit();
    });
    QObject::connect(&session, &module_session::progress, &loop, [&](int confirmed) {
        out.progress(QStringLiteral("module %1: %2 record %3/%4")
                         .arg(address)
                         .arg(QLatin1String(doing))
                         .arg(confirmed)
                         .arg(RECORD_COUNT));
    });
    QObject::connect(&interrupts, &interrupt_watch::interrupted, &loop, [&] { session.stop(); });
    start();
    loop.exec();
    return result;
}

// The exit code of a transfer that did not complete, after telling why.
int report(session_outcome result, const module_session& session, const serial_link& link,
           std::uint8_t address, const session_options& options, const interrupt_watch& interrupts)
{
    switch (result) {
    case session_outcome::done:
        return EXIT_DONE;
    case session_outcome::no_reply: {
        const QString retried = options.retries == 0
                                    ? QString()
                                    : QStringLiteral(", sent %1 times").arg(options.retries + 1);
        out.error(QStringLiteral("module %1 did not answer the %2 request for %3 within %4 ms%5")
                      .arg(address)
                      .arg(session.kind() == transfer_kind::write ? QStringLiteral("write")
                                                                  : QStringLiteral("read"),
                           record_name(session.failed_record()))
                      .arg(options.timeout.count())
                      .arg(retried));
        return EXIT_NO_REPLY;
    }
    case session_outcome::port_lost:
    case session_outcome::port_closed:
        out.error(lost_port_text(link));
        return EXIT_PORT;
    case session_outcome::stopped:
        return interrupted_exit(interrupts, PORT_CLOSED_TEXT);
    }
    return EXIT_PORT;
}

// A configuration file, or the exit code after telling what is wrong with it.
std::variant<panel_config, int> load(const QString& name, interrupt_watch& interrupts)
{
    const io_result input = read_input(name, interrupts);
    switch (input.result) {
    case io_result::status::done:
        break;
    case io_result::status::interrupted:
        return interrupted_exit(interrupts, QStringLiteral("nothing was sent"));
    case io_result::status::too_large:
        out.error(QStringLiteral("%1 is larger than %2 KiB, which no panel file is (one takes a "
                                 "few KiB); nothing was sent")
                      .arg(shown_name(name))
                      .arg(MAX_INPUT_BYTES / 1024));
        return EXIT_BAD_FILE;
    case io_result::status::failed:
        out.error(QStringLiteral("cannot read %1: %2")
                      .arg(shown_name(name), failure_text(input.failure)));
        return EXIT_BAD_FILE;
    }
    const auto parsed = parse_panel_file(input.bytes);
    if (const auto* error = std::get_if<panel_file_error>(&parsed)) {
        out.error(
            error->field.isEmpty()
                ? QStringLiteral("%1: %2").arg(shown_name(name), error->problem)
                : QStringLiteral("%1: %2 %3").arg(shown_name(name), error->field, error->problem));
        return EXIT_BAD_FILE;
    }
    return std::get<panel_config>(parsed);
}

// Writes results to stdout; EXIT_DONE, or the exit code after telling why not.
int print_result(const QByteArray& bytes)
{
    if (const auto error = out.result(bytes)) {
        out.error(QStringLiteral("cannot write the results to standard output: %1").arg(*error));
        return EXIT_BAD_FILE;
    }
    return EXIT_DONE;
}

int command_ports()
{
    const std::vector<port_entry> ports = available_ports();
    QByteArray lines;
    for (const port_entry& port : ports) {
        QString description = port.description;
        if (!port.manufacturer.isEmpty() && !description.contains(port.manufacturer))
            description += (description.isEmpty() ? QString() : QStringLiteral(" (")) +
                           port.manufacturer +
                           (description.isEmpty() ? QString() : QStringLiteral(")"));
        QString line = one_line(port.name);
        if (!description.isEmpty() || !port.serial_number.isEmpty())
            line += u'\t' + one_line(description);
        if (!port.serial_number.isEmpty())  // as a site file names the adapter
            line += QStringLiteral("\tusb:") + one_line(port.serial_number);
        lines += line.toUtf8() + '\n';
    }
    if (const int code = print_result(lines))
        return code;
    if (ports.empty())
        out.info(QStringLiteral("the system lists no serial ports"));
    return EXIT_DONE;
}

int command_read(const command_line& args, interrupt_watch& interrupts)
{
    command_link held;
    if (const auto failed = open_port(held, args, interrupts))
        return *failed;
    serial_link& link = held.link;
    const std::uint8_t address = args.address.value_or(DEFAULT_MODULE_ADDRESS);
    module_session session(link, args.session);
    const session_outcome result =
        run_transfer(session, interrupts, "reading", address, [&] { session.start_read(address); });
    link.close();
    if (result != session_outcome::done)
        return report(result, session, link, address, args.session, interrupts);

    const QByteArray text = panel_file_text(session.config());
    if (args.output.isEmpty() || args.output == QStringLiteral("-")) {
        if (const int code = print_result(text))
            return code;
    } else {
        out.end_progress();
        const io_result written = write_output(args.output, text, interrupts);
        if (written.result == io_result::status::interrupted)
            return interrupted_exit(interrupts,
                                    QStringLiteral("%1 was not written").arg(args.output));
        if (written.result != io_result::status::done) {
            out.error(QStringLiteral("cannot write %1: %2%3")
                          .arg(args.output, failure_text(written.failure),
                               written.failure.partial
                                   ? QStringLiteral("; it may now be incomplete")
                                   : QString()));
            return EXIT_BAD_FILE;
        }
    }
    out.info(QStringLiteral("module %1: 17 records read").arg(address));
    return EXIT_DONE;
}

// Reads module `address` back and lists how it differs from `expected`.
int verify_module(serial_link& link, const panel_config& expected, std::uint8_t address,
                  const session_options& options, interrupt_watch& interrupts, const char* doing)
{
    module_session session(link, options);
    const session_outcome result =
        run_transfer(session, interrupts, doing, address, [&] { session.start_read(address); });
    if (result != session_outcome::done)
        return report(result, session, link, address, options, interrupts);
    const QStringList lines = differences(compare_configs(expected, session.config()));
    for (const QString& line : lines)
        out.error(QStringLiteral("module %1 differs: %2").arg(address).arg(line));
    return lines.isEmpty() ? EXIT_DONE : EXIT_DIFFERENT;
}

int command_write(const command_line& args, interrupt_watch& interrupts)
{
    if (args.files.isEmpty())
        throw usage_error{QStringLiteral("write needs at least one configuration file")};
    if (args.address && args.files.size() > 1)
        throw usage_error{QStringLiteral("--address names one module; give one file with it")};
    if (args.files.count(QStringLiteral("-")) > 1)
        throw usage_error{QStringLiteral("'-' (standard input) can be given once only")};
    // Every value of every file is checked before the first byte goes out.
    std::vector<panel_config> configs;
    for (const QString& name : args.files) {
        auto loaded = load(name, interrupts);
        if (const int* code = std::get_if<int>(&loaded))
            return *code;
        configs.push_back(std::get<panel_config>(loaded));
        if (args.address)
            configs.back().module_address = *args.address;
    }

    command_link held;
    if (const auto failed = open_port(held, args, interrupts))
        return *failed;
    serial_link& link = held.link;
    for (std::size_t i = 0; i < configs.size(); ++i) {
        const panel_config& config = configs[i];
        const std::uint8_t address = config.module_address;
        module_session writer(link, args.session);
        const session_outcome result = run_transfer(writer, interrupts, "writing", address,
                                                    [&] { writer.start_write(config); });
        if (result != session_outcome::done)
            return report(result, writer, link, address, args.session, interrupts);
        if (args.verify) {
            if (const int code =
                    verify_module(link, config, address, args.session, interrupts, "verifying"))
                return code;
        }
        out.info(QStringLiteral("module %1: 17 records written%2 (%3)")
                     .arg(address)
                     .arg(args.verify ? QStringLiteral(" and verified") : QString(),
                          args.files[qsizetype(i)]));
    }
    return EXIT_DONE;
}

int command_verify(const command_line& args, interrupt_watch& interrupts)
{
    if (args.files.size() != 1)
        throw usage_error{QStringLiteral("verify needs exactly one configuration file")};
    auto loaded = load(args.files[0], interrupts);
    if (const int* code = std::get_if<int>(&loaded))
        return *code;
    const panel_config expected = std::get<panel_config>(loaded);
    const std::uint8_t address = args.address.value_or(expected.module_address);

    command_link held;
    if (const auto failed = open_port(held, args, interrupts))
        return *failed;
    serial_link& link = held.link;
    const int code = verify_module(link, expected, address, args.session, interrupts, "reading");
    if (code == EXIT_DONE)
        out.info(QStringLiteral("module %1 holds what %2 says").arg(address).arg(args.files[0]));
    return code;
}

int command_scan(const command_line& args, interrupt_watch& interrupts)
{
    command_link held;
    if (const auto failed = open_port(held, args, interrupts, true))
        return *failed;
    serial_link& link = held.link;

    bus_scan scan(link);
    QEventLoop loop;
    scan_outcome result = scan_outcome::done;
    QObject::connect(&scan, &bus_scan::finished, &loop, [&](scan_outcome outcome) {
        result = outcome;
        loop.quit();
    });
    QObject::connect(&scan, &bus_scan::progress, &loop, [&](int done, int total) {
        out.progress(QStringLiteral("%1 address %2 (%3/%4, %5 found)")
                         .arg(scan.second_look() ? QStringLiteral("second look at")
                                                 : QStringLiteral("scanning"))
                         .arg(scan.current_address())
                         .arg(done)
                         .arg(total)
                         .arg(scan.found().size()));
    });
    QObject::connect(&interrupts, &interrupt_watch::interrupted, &loop, [&] { scan.stop(); });
    scan.start(
        {args.first, args.last, std::chrono::milliseconds(args.wait_ms), args.session.retries});
    loop.exec();
    link.close();
    if (result == scan_outcome::port_lost || result == scan_outcome::port_closed) {
        out.error(lost_port_text(link));
        return EXIT_PORT;
    }
    if (result == scan_outcome::stopped)
        return interrupted_exit(interrupts, PORT_CLOSED_TEXT);

    std::vector<found_module> found = scan.found();
    std::sort(found.begin(), found.end(),
              [](const found_module& a, const found_module& b) { return a.address < b.address; });
    QByteArray text;
    if (args.json) {
        QJsonArray modules;
        for (const found_module& m : found)
            modules.append(QJsonObject{{QStringLiteral("address"), m.address},
                                       {QStringLiteral("refresh_period"), m.refresh_period}});
        text = QJsonDocument(modules).toJson(QJsonDocument::Compact) + '\n';
    } else {
        for (const found_module& m : found)
            text += QStringLiteral("address %1, refresh period %2\n")
                        .arg(m.address)
                        .arg(m.refresh_period)
                        .toUtf8();
    }
    if (const int code = print_result(text))
        return code;
    // Doubt is never kept quiet: a module may have been missed.
    if (scan.noisy())
        out.error(QStringLiteral("warning: the line is noisy: the second look stopped with %1 "
                                 "suspect address(es) unchecked; a module may have been missed "
                                 "(check the wiring, termination and shielding)")
                      .arg(scan.unchecked()));
    else if (scan.garbled() > 0)
        out.error(QStringLiteral("warning: %1 replies arrived garbled; a module may have been "
                                 "missed (try --retries %2)")
                      .arg(scan.garbled())
                      .arg(args.session.retries + 1));
    out.info(QStringLiteral("%1 module(s) found at addresses %2..%3")
                 .arg(found.size())
                 .arg(args.first)
                 .arg(args.last));
    return EXIT_DONE;
}

int command_health(const command_line& args, interrupt_watch& interrupts)
{
    command_link held;
    if (const auto failed = open_port(held, args, interrupts, true))
        return *failed;
    serial_link& link = held.link;
    health_options options;
    options.first = args.first;
    options.last = args.last;
    options.samples = args.samples;
    options.scan_wait = std::chrono::milliseconds(args.wait_ms);
    options.timeout = args.session.timeout;
    return cli::command_health(link, args.port, options, args.json, interrupts, print_result);
}

command_line parse(QCommandLineParser& parser, const QStringList& arguments)
{
    parser.setApplicationDescription(QStringLiteral(
        "Reads, writes, verifies and finds 16-key panel modules on a serial line.\n"
        "\n"
        "Commands:\n"
        "  ports                                    list the system's serial ports\n"
        "  read   --port P [--address N] [--output FILE]\n"
        "                                           save module N (default 1) as a file\n"
        "  write  --port P [--address N] [--verify] FILE...\n"
        "                                           write each file to the module it names\n"
        "  verify --port P [--address N] FILE       compare a module with a file\n"
        "  scan   --port P [--first N] [--last N] [--wait MS] [--json]\n"
        "                                           find the modules on the line\n"
        "  health --port P [--first N] [--last N] [--samples K] [--json]\n"
        "                                           test the bus and say what is wrong\n"
        "  site   check|write|adopt ...             every bus of a building from one site\n"
        "                                           file ('lorvane-cli site --help')\n"
        "  trust  HOST:PORT sha256:HEX              trust a TLS server's certificate from now\n"
        "                                           on (stored in known_servers)\n"
        "  servers [--wait MS] [--json]             list the serial servers found on the\n"
        "                                           network ('lorvane-cli servers --help')\n"
        "\n"
        "TLS servers are trusted when their certificate verifies for the host, or by its\n"
        "pinned fingerprint (--trust, or stored with trust); client.crt and client.key in\n"
        "the configuration folder are offered when a server asks for a client certificate.\n"
        "\n"
        "Every command with --port takes --capture FILE.pcapng: every byte on the line is\n"
        "recorded, for Wireshark, up to --capture-limit MIB (default 64).\n"
        "\n"
        "FILE '-' is standard input; --output - is standard output. Exit codes: 0 done,\n"
        "1 usage error, 2 a file cannot be read or written or is invalid (results that\n"
        "cannot be written to standard output too), 3 port cannot be opened or was lost,\n"
        "4 module did not answer, 5 verify found differences, 6 health has findings,\n"
        "130 interrupted (Ctrl-C), "
        "143 terminated (SIGTERM)."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(
        QStringLiteral("command"),
        QStringLiteral("ports, read, write, verify, scan, health or trust"));
    parser.addPositionalArgument(QStringLiteral("files"),
                                 QStringLiteral("configuration files (write, verify)"),
                                 QStringLiteral("[FILE...]"));
    parser.addOptions({
        {QStringLiteral("port"),
         QStringLiteral("serial port: a number n (the n-th port), a device name, a path, or a "
                        "network serial server, tcp://HOST:PORT or rfc2217://HOST:PORT (inside "
                        "TLS: tcp+tls://, rfc2217+tls://), or dnssd:NAME as it advertises itself"),
         QStringLiteral("P")},
        {QStringLiteral("address"), QStringLiteral("module address 0..255"), QStringLiteral("N")},
        {QStringLiteral("output"),
         QStringLiteral("read: save the file as FILE, not on stdout ('-': stdout)"),
         QStringLiteral("FILE")},
        {QStringLiteral("verify"), QStringLiteral("write: read each module back and compare")},
        {QStringLiteral("first"), QStringLiteral("scan: first address (default 0)"),
         QStringLiteral("N")},
        {QStringLiteral("last"), QStringLiteral("scan: last address (default 255)"),
         QStringLiteral("N")},
        {QStringLiteral("wait"),
         QStringLiteral("scan: how long each address is given to answer, in the pass and in "
                        "the second look (default 155)"),
         QStringLiteral("MS")},
        {QStringLiteral("json"), QStringLiteral("scan, health: print JSON")},
        {QStringLiteral("samples"),
         QStringLiteral("health: reads of record 0 per module found, 1..1000 (default 20)"),
         QStringLiteral("K")},
        {QStringLiteral("timeout"),
         QStringLiteral("read, write, verify: reply time-out (default 1000)"),
         QStringLiteral("MS")},
        {QStringLiteral("retries"),
         QStringLiteral("send a request again up to N times after a time-out (default 0)"),
         QStringLiteral("N")},
        {QStringLiteral("trace"), QStringLiteral("show every frame on stderr")},
        {QStringLiteral("quiet"), QStringLiteral("say nothing but errors")},
    });
    parser.addOptions(capture_option_list());
    parser.addOptions(tls_option_list());
    if (!parser.parse(arguments))
        throw usage_error{parser.errorText()};

    command_line args;
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all")) ||
        parser.isSet(QStringLiteral("version")))
        return args;
    QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        throw usage_error{QStringLiteral("no command given")};
    args.command = positional.takeFirst();
    const auto known = command_options().find(args.command);
    if (known == command_options().end())
        throw usage_error{QStringLiteral("unknown command '%1'").arg(args.command)};
    const std::set<QString> common{QStringLiteral("retries"), QStringLiteral("trace"),
                                   QStringLiteral("quiet")};
    for (const QString& name : parser.optionNames()) {
        if (known->second.contains(name) || common.contains(name) ||
            (known->second.contains(QStringLiteral("port")) &&
             (is_tls_option(name) || is_capture_option(name))))
            continue;
        const QString hint =
            args.command == QStringLiteral("scan") && name == QStringLiteral("timeout")
                ? QStringLiteral("; scan's second look waits --wait MS for each answer")
                : QString();
        throw usage_error{
            QStringLiteral("--%1 is not an option of '%2'%3").arg(name, args.command, hint)};
    }
    args.files = positional;
    if (!args.files.isEmpty() && args.command != QStringLiteral("write") &&
        args.command != QStringLiteral("verify") && args.command != QStringLiteral("trust"))
        throw usage_error{QStringLiteral("'%1' takes no file").arg(args.command)};
    if (known->second.contains(QStringLiteral("port"))) {
        if (!parser.isSet(QStringLiteral("port")))
            throw usage_error{QStringLiteral("'%1' needs --port").arg(args.command)};
        args.port = parser.value(QStringLiteral("port"));
        const bool names_a_port = is_dnssd_port_text(args.port) ? bool(dnssd_port_name(args.port))
                                  : is_network_port_text(args.port)
                                      ? parse_network_port(args.port).ok()
                                      : system_port_name(args.port).ok();
        if (!names_a_port)
            throw usage_error{failure_text({port_failure_kind::bad_name, args.port, {}})};
        auto network = network_options_of(parser, args.port);
        if (const auto* error = std::get_if<QString>(&network))
            throw usage_error{*error};
        args.network = std::get<network_options>(network);
        args.capture = capture_request_of(parser, arguments);
    }
    if (parser.isSet(QStringLiteral("address")))
        args.address = std::uint8_t(number_option(parser, QStringLiteral("address"), 0, 255));
    args.output = parser.value(QStringLiteral("output"));
    if (parser.isSet(QStringLiteral("output")) && args.output.isEmpty())
        throw usage_error{QStringLiteral("--output needs a file name ('-' for standard output)")};
    args.verify = parser.isSet(QStringLiteral("verify"));
    args.json = parser.isSet(QStringLiteral("json"));
    if (parser.isSet(QStringLiteral("first")))
        args.first = number_option(parser, QStringLiteral("first"), 0, 255);
    if (parser.isSet(QStringLiteral("last")))
        args.last = number_option(parser, QStringLiteral("last"), 0, 255);
    if (args.first > args.last)
        throw usage_error{
            QStringLiteral("--first (%1) is above --last (%2)").arg(args.first).arg(args.last)};
    if (parser.isSet(QStringLiteral("samples")))
        args.samples = number_option(parser, QStringLiteral("samples"), 1, 1000);
    if (parser.isSet(QStringLiteral("wait")))
        args.wait_ms = number_option(parser, QStringLiteral("wait"), 1, MAX_SCAN_WAIT_MS);
    args.session.timeout = std::chrono::milliseconds(
        parser.isSet(QStringLiteral("timeout"))
            ? number_option(parser, QStringLiteral("timeout"), 1, MAX_TIMEOUT_MS)
            : DEFAULT_TIMEOUT_MS);
    if (parser.isSet(QStringLiteral("retries")))
        args.session.retries = number_option(parser, QStringLiteral("retries"), 0, MAX_RETRIES);
    out.set(parser.isSet(QStringLiteral("quiet")), parser.isSet(QStringLiteral("trace")));
    return args;
}

}  // namespace

int run(const QStringList& arguments)
{
    if (arguments.size() > 1 && arguments[1] == QStringLiteral("site"))
        return run_site(arguments);  // its own commands and options
    if (arguments.size() > 1 && arguments[1] == QStringLiteral("servers"))
        return run_servers(arguments);
    QCommandLineParser parser;
    command_line args;
    try {
        args = parse(parser, arguments);
    } catch (const usage_error& error) {
        out.error(error.text);
        out.error(QStringLiteral("try 'lorvane-cli --help'"));
        return EXIT_USAGE;
    }
    // This program has no generic Qt options to add, so --help-all shows what --help does.
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all")))
        return print_result(parser.helpText().toUtf8());
    if (parser.isSet(QStringLiteral("version")))
        return print_result((QCoreApplication::applicationName() + u' ' +
                             QCoreApplication::applicationVersion() + u'\n')
                                .toUtf8());

    interrupt_watch interrupts;
    const auto command = [&] {
        if (args.command == QStringLiteral("ports"))
            return command_ports();
        if (args.command == QStringLiteral("trust"))
            return command_trust(args.files, out);
        if (args.command == QStringLiteral("read"))
            return command_read(args, interrupts);
        if (args.command == QStringLiteral("write"))
            return command_write(args, interrupts);
        if (args.command == QStringLiteral("verify"))
            return command_verify(args, interrupts);
        if (args.command == QStringLiteral("health"))
            return command_health(args, interrupts);
        return command_scan(args, interrupts);
    };
    try {
        const int code = command();
        out.end_progress();
        return code;
    } catch (const usage_error& error) {
        out.error(error.text);
        out.error(QStringLiteral("try 'lorvane-cli --help'"));
        return EXIT_USAGE;
    }
}

}  // namespace lorvane::cli
