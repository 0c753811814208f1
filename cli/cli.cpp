#include "cli.h"

#include "interrupt_watch.h"
#include "module_session.h"
#include "panel_file.h"
#include "port_listing.h"
#include "port_words.h"
#include "serial_link.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QTimer>

#include <cstdio>
#include <map>
#include <optional>
#include <set>
#include <vector>

#ifdef Q_OS_WIN
#include <io.h>
#define LORVANE_ISATTY _isatty
#define LORVANE_FILENO _fileno
#else
#include <unistd.h>
#define LORVANE_ISATTY ::isatty
#define LORVANE_FILENO ::fileno
#endif

namespace lorvane::cli {

namespace {

constexpr int DEFAULT_TIMEOUT_MS = 1000;
constexpr int MAX_TIMEOUT_MS = 600'000;
constexpr int MAX_RETRIES = 100;
constexpr int DEFAULT_SCAN_WAIT_MS = 60;
constexpr int MAX_SCAN_WAIT_MS = 10'000;

// Everything the program says goes to stderr, one line each, prefixed with its name;
// results (files, scan lines, the port list) go to stdout.
class console
{
public:
    void set(bool quiet, bool trace)
    {
        quiet_ = quiet;
        trace_ = trace;
        live_ = !quiet && !trace && LORVANE_ISATTY(LORVANE_FILENO(stderr));
        clock_.start();
    }
    bool tracing() const { return trace_; }

    void error(const QString& text) { line(text); }
    void info(const QString& text)
    {
        if (!quiet_)
            line(text);
    }
    // A progress line, redrawn in place while stderr is a terminal; nothing otherwise.
    void progress(const QString& text)
    {
        if (!live_)
            return;
        const QByteArray bytes =
            (QStringLiteral("\rlorvane-cli: ") + text + QStringLiteral("\x1b[K")).toUtf8();
        std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stderr);
        std::fflush(stderr);
        progress_shown_ = true;
    }
    void trace(const char* direction, const frame& bytes, const char* verdict = "")
    {
        QString hex;
        for (const std::uint8_t byte : bytes)
            hex += QStringLiteral("%1 ").arg(byte, 2, 16, QLatin1Char('0')).toUpper();
        line(QStringLiteral("trace %1 ms %2 %3%4")
                 .arg(double(clock_.nsecsElapsed()) / 1e6, 0, 'f', 3)
                 .arg(QLatin1String(direction), hex.trimmed(), QLatin1String(verdict)));
    }

private:
    void line(const QString& text)
    {
        if (progress_shown_) {
            std::fputs("\r\x1b[K", stderr);
            progress_shown_ = false;
        }
        const QByteArray bytes = (QStringLiteral("lorvane-cli: ") + text + u'\n').toUtf8();
        std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stderr);
        std::fflush(stderr);
    }

    bool quiet_ = false;
    bool trace_ = false;
    bool live_ = false;
    bool progress_shown_ = false;
    QElapsedTimer clock_;
};

console out;

QString record_name(int record)
{
    return record == 0 ? QStringLiteral("record 0 (refresh period)")
                       : QStringLiteral("record %1 (key %1)").arg(record);
}

const QString INTERRUPTED_TEXT = QStringLiteral("interrupted; the port is closed");

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
    int wait_ms = DEFAULT_SCAN_WAIT_MS;
    session_options session;
};

struct usage_error
{
    QString text;
};

// What each command takes besides the common options.
const std::map<QString, std::set<QString>>& command_options()
{
    static const std::map<QString, std::set<QString>> options{
        {QStringLiteral("ports"), {}},
        {QStringLiteral("read"),
         {QStringLiteral("port"), QStringLiteral("address"), QStringLiteral("output")}},
        {QStringLiteral("write"),
         {QStringLiteral("port"), QStringLiteral("address"), QStringLiteral("verify")}},
        {QStringLiteral("verify"), {QStringLiteral("port"), QStringLiteral("address")}},
        {QStringLiteral("scan"),
         {QStringLiteral("port"), QStringLiteral("first"), QStringLiteral("last"),
          QStringLiteral("wait"), QStringLiteral("json")}},
    };
    return options;
}

int number_option(const QCommandLineParser& parser, const QString& name, int low, int high)
{
    const QString text = parser.value(name);
    const std::optional<int> value = [&]() -> std::optional<int> {
        if (text.isEmpty() || text.size() > 9)
            return std::nullopt;
        for (const QChar c : text) {
            if (c < u'0' || c > u'9')
                return std::nullopt;
        }
        const int n = text.toInt();
        return n >= low && n <= high ? std::optional(n) : std::nullopt;
    }();
    if (!value)
        throw usage_error{QStringLiteral("--%1 must be a whole number from %2 to %3, not '%4'")
                              .arg(name)
                              .arg(low)
                              .arg(high)
                              .arg(text)};
    return *value;
}

// Connects the link's frames to the trace, when asked for.
void trace_link(serial_link& link)
{
    if (!out.tracing())
        return;
    QObject::connect(&link, &serial_link::frame_sent,
                     [](const frame& request) { out.trace("TX", request); });
    QObject::connect(&link, &serial_link::frame_received, [](const frame& block, bool accepted) {
        out.trace("RX", block, accepted ? " accepted" : " rejected");
    });
}

// Opens the port (traced when asked for), waiting for a network port to connect; on
// failure or Ctrl-C meanwhile, the exit code after telling why.
std::optional<int> open_port(serial_link& link, const QString& port, interrupt_watch& interrupts)
{
    trace_link(link);
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
        out.error(INTERRUPTED_TEXT);
        return EXIT_INTERRUPTED;
    }
    if (failure) {
        out.error(failure_text(*failure));
        return failure->kind == port_failure_kind::bad_name ? EXIT_USAGE : EXIT_PORT;
    }
    return std::nullopt;
}

// The exit code of a transfer that did not complete, after telling why.
int report(outcome result, const module_session& session, const serial_link& link,
           std::uint8_t address, transfer_kind kind, const session_options& options)
{
    switch (result) {
    case outcome::done:
        return EXIT_DONE;
    case outcome::no_reply: {
        const QString retried = options.retries == 0
                                    ? QString()
                                    : QStringLiteral(", sent %1 times").arg(options.retries + 1);
        out.error(QStringLiteral("module %1 did not answer the %2 request for %3 within %4 ms%5")
                      .arg(address)
                      .arg(kind == transfer_kind::write ? QStringLiteral("write")
                                                        : QStringLiteral("read"),
                           record_name(session.failed_record()))
                      .arg(options.timeout.count())
                      .arg(retried));
        return EXIT_NO_REPLY;
    }
    case outcome::port_lost:
        out.error(lost_port_text(link));
        return EXIT_PORT;
    case outcome::interrupted:
        out.error(INTERRUPTED_TEXT);
        return EXIT_INTERRUPTED;
    }
    return EXIT_PORT;
}

std::function<void(int)> progress_of(std::uint8_t address, const char* doing)
{
    return [address, doing](int confirmed) {
        out.progress(QStringLiteral("module %1: %2 record %3/%4")
                         .arg(address)
                         .arg(QLatin1String(doing))
                         .arg(confirmed)
                         .arg(RECORD_COUNT));
    };
}

// The differences between what a module should hold and what it holds, one line each.
QStringList differences(const panel_config& expected, const panel_config& found)
{
    QStringList lines;
    const auto differ = [&](int record, const char* field, const QString& want,
                            const QString& got) {
        if (want != got)
            lines << QStringLiteral("%1, %2: expected %3, found %4")
                         .arg(record_name(record), QLatin1String(field), want, got);
    };
    differ(0, "refresh_period", QString::number(expected.refresh_period),
           QString::number(found.refresh_period));
    for (int k = 1; k <= KEY_COUNT; ++k) {
        const key_binding& want = expected.keys[std::size_t(k - 1)];
        const key_binding& got = found.keys[std::size_t(k - 1)];
        differ(k, "address", QString::number(want.address), QString::number(got.address));
        differ(k, "line", QString::number(want.line), QString::number(got.line));
        differ(k, "operation", operation_name(want.operation), operation_name(got.operation));
    }
    return lines;
}

// A configuration file, or the exit code after telling what is wrong with it.
std::variant<panel_config, int> load(const QString& name)
{
    QFile file;
    const bool opened = name == QStringLiteral("-")
                            ? file.open(stdin, QIODevice::ReadOnly)
                            : (file.setFileName(name), file.open(QIODevice::ReadOnly));
    if (!opened) {
        out.error(QStringLiteral("cannot read %1: %2").arg(name, file.errorString()));
        return EXIT_BAD_FILE;
    }
    const auto parsed = parse_panel_file(file.readAll());
    if (const auto* error = std::get_if<panel_file_error>(&parsed)) {
        out.error(error->field.isEmpty()
                      ? QStringLiteral("%1: %2").arg(name, error->problem)
                      : QStringLiteral("%1: %2 %3").arg(name, error->field, error->problem));
        return EXIT_BAD_FILE;
    }
    return std::get<panel_config>(parsed);
}

int command_ports()
{
    const std::vector<port_entry> ports = available_ports();
    for (const port_entry& port : ports) {
        const QByteArray line =
            (port.description.isEmpty() ? port.name : port.name + u'\t' + port.description)
                .toUtf8() +
            '\n';
        std::fwrite(line.constData(), 1, std::size_t(line.size()), stdout);
    }
    if (ports.empty())
        out.info(QStringLiteral("the system lists no serial ports"));
    return EXIT_DONE;
}

int command_read(const command_line& args, interrupt_watch& interrupts)
{
    serial_link link;
    if (const auto failed = open_port(link, args.port, interrupts))
        return *failed;
    const std::uint8_t address = args.address.value_or(DEFAULT_MODULE_ADDRESS);
    module_session session(link, args.session, interrupts, progress_of(address, "reading"));
    panel_config config;
    const outcome result = session.read(address, config);
    link.close();
    if (result != outcome::done)
        return report(result, session, link, address, transfer_kind::read, args.session);

    const QByteArray text = panel_file_text(config);
    if (args.output.isEmpty()) {
        std::fwrite(text.constData(), 1, std::size_t(text.size()), stdout);
        std::fflush(stdout);
    } else {
        QSaveFile file(args.output);
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
            out.error(QStringLiteral("cannot write %1: %2").arg(args.output, file.errorString()));
            return EXIT_BAD_FILE;
        }
    }
    out.info(QStringLiteral("module %1: 17 records read").arg(address));
    return EXIT_DONE;
}

// Reads module `address` back and lists how it differs from `expected`.
int verify_module(module_session& session, serial_link& link, const panel_config& expected,
                  std::uint8_t address, const session_options& options)
{
    panel_config found;
    const outcome result = session.read(address, found);
    if (result != outcome::done)
        return report(result, session, link, address, transfer_kind::read, options);
    const QStringList lines = differences(expected, found);
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
        auto loaded = load(name);
        if (const int* code = std::get_if<int>(&loaded))
            return *code;
        configs.push_back(std::get<panel_config>(loaded));
        if (args.address)
            configs.back().module_address = *args.address;
    }

    serial_link link;
    if (const auto failed = open_port(link, args.port, interrupts))
        return *failed;
    for (std::size_t i = 0; i < configs.size(); ++i) {
        const panel_config& config = configs[i];
        const std::uint8_t address = config.module_address;
        module_session writer(link, args.session, interrupts, progress_of(address, "writing"));
        const outcome result = writer.write(config);
        if (result != outcome::done)
            return report(result, writer, link, address, transfer_kind::write, args.session);
        if (args.verify) {
            module_session reader(link, args.session, interrupts,
                                  progress_of(address, "verifying"));
            if (const int code = verify_module(reader, link, config, address, args.session))
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
    auto loaded = load(args.files[0]);
    if (const int* code = std::get_if<int>(&loaded))
        return *code;
    const panel_config expected = std::get<panel_config>(loaded);
    const std::uint8_t address = args.address.value_or(expected.module_address);

    serial_link link;
    if (const auto failed = open_port(link, args.port, interrupts))
        return *failed;
    module_session reader(link, args.session, interrupts, progress_of(address, "reading"));
    const int code = verify_module(reader, link, expected, address, args.session);
    if (code == EXIT_DONE)
        out.info(QStringLiteral("module %1 holds what %2 says").arg(address).arg(args.files[0]));
    return code;
}

int command_scan(const command_line& args, interrupt_watch& interrupts)
{
    serial_link link;
    if (const auto failed = open_port(link, args.port, interrupts))
        return *failed;

    struct found_module
    {
        int address;
        int refresh_period;
    };
    std::vector<found_module> found;
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);  // a wait of 20 ms means 20 ms, not 21
    int address = args.first;
    int retries_left = 0;
    bool interrupted = false;
    bool lost = false;
    std::optional<int> refresh;
    QObject::connect(&deadline, &QTimer::timeout, &loop, [&] {
        if (retries_left-- > 0) {
            link.resend_last_request();
            deadline.start(args.wait_ms);
        } else {
            loop.quit();
        }
    });
    QObject::connect(&link, &serial_link::reply_received, &loop, [&](const frame& reply) {
        if (reply[POS_ADDRESS] == address && reply[POS_FUNCTION] == FUNC_READ &&
            reply[POS_RECORD] == 0) {
            refresh = reply[POS_VALUE1];
            loop.quit();
        }
    });
    QObject::connect(&link, &serial_link::port_lost, &loop, [&] {
        lost = true;
        loop.quit();
    });
    QObject::connect(&interrupts, &interrupt_watch::interrupted, &loop, [&] {
        interrupted = true;
        loop.quit();
    });
    for (; address <= args.last && !interrupted && !lost; ++address) {
        out.progress(
            QStringLiteral("scanning address %1 (%2 found)").arg(address).arg(found.size()));
        refresh.reset();
        retries_left = args.session.retries;
        link.send_read_request(std::uint8_t(address), 0, 0, 0, 0);
        deadline.start(args.wait_ms);
        loop.exec();
        deadline.stop();
        if (refresh)
            found.push_back({address, *refresh});
    }
    link.close();
    if (lost) {
        out.error(lost_port_text(link));
        return EXIT_PORT;
    }
    if (interrupted) {
        out.error(INTERRUPTED_TEXT);
        return EXIT_INTERRUPTED;
    }

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
    std::fwrite(text.constData(), 1, std::size_t(text.size()), stdout);
    std::fflush(stdout);
    out.info(QStringLiteral("%1 module(s) found at addresses %2..%3")
                 .arg(found.size())
                 .arg(args.first)
                 .arg(args.last));
    return EXIT_DONE;
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
        "\n"
        "FILE '-' is standard input. Exit codes: 0 done, 1 usage error, 2 invalid file,\n"
        "3 port cannot be opened or was lost, 4 module did not answer, 5 verify found\n"
        "differences, 130 interrupted (Ctrl-C)."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("command"),
                                 QStringLiteral("ports, read, write, verify or scan"));
    parser.addPositionalArgument(QStringLiteral("files"),
                                 QStringLiteral("configuration files (write, verify)"),
                                 QStringLiteral("[FILE...]"));
    parser.addOptions({
        {QStringLiteral("port"),
         QStringLiteral("serial port: a number n (the n-th port), a device name, a path, or a "
                        "network serial server, tcp://HOST:PORT or rfc2217://HOST:PORT"),
         QStringLiteral("P")},
        {QStringLiteral("address"), QStringLiteral("module address 0..255"), QStringLiteral("N")},
        {QStringLiteral("output"), QStringLiteral("read: write the file here, not to stdout"),
         QStringLiteral("FILE")},
        {QStringLiteral("verify"), QStringLiteral("write: read each module back and compare")},
        {QStringLiteral("first"), QStringLiteral("scan: first address (default 0)"),
         QStringLiteral("N")},
        {QStringLiteral("last"), QStringLiteral("scan: last address (default 255)"),
         QStringLiteral("N")},
        {QStringLiteral("wait"),
         QStringLiteral("scan: how long each address may take to answer (default 60)"),
         QStringLiteral("MS")},
        {QStringLiteral("json"), QStringLiteral("scan: print a JSON array")},
        {QStringLiteral("timeout"), QStringLiteral("reply time-out (default 1000)"),
         QStringLiteral("MS")},
        {QStringLiteral("retries"),
         QStringLiteral("send a request again up to N times after a time-out (default 0)"),
         QStringLiteral("N")},
        {QStringLiteral("trace"), QStringLiteral("show every frame on stderr")},
        {QStringLiteral("quiet"), QStringLiteral("say nothing but errors")},
    });
    if (!parser.parse(arguments))
        throw usage_error{parser.errorText()};

    command_line args;
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("version")))
        return args;
    QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        throw usage_error{QStringLiteral("no command given")};
    args.command = positional.takeFirst();
    const auto known = command_options().find(args.command);
    if (known == command_options().end())
        throw usage_error{QStringLiteral("unknown command '%1'").arg(args.command)};
    const std::set<QString> common{QStringLiteral("timeout"), QStringLiteral("retries"),
                                   QStringLiteral("trace"), QStringLiteral("quiet")};
    for (const QString& name : parser.optionNames()) {
        if (!known->second.contains(name) && !common.contains(name))
            throw usage_error{
                QStringLiteral("--%1 is not an option of '%2'").arg(name, args.command)};
    }
    args.files = positional;
    if (!args.files.isEmpty() && args.command != QStringLiteral("write") &&
        args.command != QStringLiteral("verify"))
        throw usage_error{QStringLiteral("'%1' takes no file").arg(args.command)};
    if (known->second.contains(QStringLiteral("port"))) {
        if (!parser.isSet(QStringLiteral("port")))
            throw usage_error{QStringLiteral("'%1' needs --port").arg(args.command)};
        args.port = parser.value(QStringLiteral("port"));
    }
    if (parser.isSet(QStringLiteral("address")))
        args.address = std::uint8_t(number_option(parser, QStringLiteral("address"), 0, 255));
    args.output = parser.value(QStringLiteral("output"));
    args.verify = parser.isSet(QStringLiteral("verify"));
    args.json = parser.isSet(QStringLiteral("json"));
    if (parser.isSet(QStringLiteral("first")))
        args.first = number_option(parser, QStringLiteral("first"), 0, 255);
    if (parser.isSet(QStringLiteral("last")))
        args.last = number_option(parser, QStringLiteral("last"), 0, 255);
    if (args.first > args.last)
        throw usage_error{
            QStringLiteral("--first (%1) is above --last (%2)").arg(args.first).arg(args.last)};
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
    QCommandLineParser parser;
    command_line args;
    try {
        args = parse(parser, arguments);
    } catch (const usage_error& error) {
        out.error(error.text);
        out.error(QStringLiteral("try 'lorvane-cli --help'"));
        return EXIT_USAGE;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        const QByteArray help = parser.helpText().toUtf8();
        std::fwrite(help.constData(), 1, std::size_t(help.size()), stdout);
        return EXIT_DONE;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        const QByteArray version = (QCoreApplication::applicationName() + u' ' +
                                    QCoreApplication::applicationVersion() + u'\n')
                                       .toUtf8();
        std::fwrite(version.constData(), 1, std::size_t(version.size()), stdout);
        return EXIT_DONE;
    }

    interrupt_watch interrupts;
    try {
        if (args.command == QStringLiteral("ports"))
            return command_ports();
        if (args.command == QStringLiteral("read"))
            return command_read(args, interrupts);
        if (args.command == QStringLiteral("write"))
            return command_write(args, interrupts);
        if (args.command == QStringLiteral("verify"))
            return command_verify(args, interrupts);
        return command_scan(args, interrupts);
    } catch (const usage_error& error) {
        out.error(error.text);
        out.error(QStringLiteral("try 'lorvane-cli --help'"));
        return EXIT_USAGE;
    }
}

}  // namespace lorvane::cli
