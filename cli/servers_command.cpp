#include "servers_command.h"

#include "cli.h"
#include "interrupt_watch.h"
#include "options.h"

#include <QCommandLineParser>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

namespace lorvane::cli {

namespace {

const QString HELP = QStringLiteral(
    "Lists the serial servers that advertise themselves on the network by DNS-SD\n"
    "(_iostream._tcp, as ser2net does with 'mdns: true'), sorted by name: the name, the\n"
    "host as advertised, its address and port, the URL to give as --port (or dnssd:NAME),\n"
    "the advertised gensio stack and the USB adapter's attributes where published. Stacks\n"
    "other than tcp, telnet(rfc2217),tcp and the same inside ssl(...) are not supported.\n"
    "\n"
    "Linux asks the Avahi daemon (avahi-daemon); Windows 10 1903 and later its own DNS-SD\n"
    "service.\n"
    "\n"
    "Exit codes: 0 done (also when nothing was found); 1 usage error; 2 the results cannot\n"
    "be written; 3 discovery is not available or the Avahi daemon is not running; 130\n"
    "interrupted (Ctrl-C); 143 terminated (SIGTERM).");

QString kind_word(service_kind kind)
{
    switch (kind) {
    case service_kind::raw:
        return QStringLiteral("raw");
    case service_kind::rfc2217:
        return QStringLiteral("rfc2217");
    case service_kind::tcp_tls:
        return QStringLiteral("tcp+tls");
    case service_kind::rfc2217_tls:
        return QStringLiteral("rfc2217+tls");
    case service_kind::unsupported:
        break;
    }
    return QStringLiteral("unsupported");
}

QString address_and_port(const dnssd_service& s)
{
    return (s.address.contains(u':') ? u'[' + s.address + u']' : s.address) + u':' +
           QString::number(s.port);
}

QByteArray text_lines(const std::vector<dnssd_service>& services)
{
    QString text;
    for (const dnssd_service& s : services) {
        QStringList usb;
        for (auto it = s.usb.begin(); it != s.usb.end(); ++it)
            usb << it.key() + u'=' + it.value();
        text += QStringLiteral("%1  %2  host %3, %4, stack %5%6\n")
                    .arg(one_line(s.name), s.url().value_or(QStringLiteral("not supported")),
                         one_line(s.host), address_and_port(s),
                         s.stack.isEmpty() ? QStringLiteral("(none)") : one_line(s.stack),
                         usb.isEmpty() ? QString()
                                       : QStringLiteral(", usb ") + one_line(usb.join(u' ')));
    }
    return text.toUtf8();
}

QByteArray json_document(const std::vector<dnssd_service>& services)
{
    QJsonArray all;
    for (const dnssd_service& s : services) {
        QJsonObject o{{QStringLiteral("name"), s.name},
                      {QStringLiteral("host"), s.host},
                      {QStringLiteral("address"), s.address},
                      {QStringLiteral("port"), int(s.port)},
                      {QStringLiteral("url"), s.url() ? QJsonValue(*s.url()) : QJsonValue()},
                      {QStringLiteral("kind"), kind_word(s.kind())},
                      {QStringLiteral("stack"), s.stack}};
        if (!s.usb.isEmpty()) {
            QJsonObject usb;
            for (auto it = s.usb.begin(); it != s.usb.end(); ++it)
                usb.insert(it.key(), it.value());
            o.insert(QStringLiteral("usb"), usb);
        }
        all.append(o);
    }
    return QJsonDocument(all).toJson(QJsonDocument::Indented);
}

}  // namespace

QString discovery_problem_text(const discovery_problem& problem)
{
    switch (problem.fault) {
    case discovery_fault::unavailable:
        return QStringLiteral("discovery is not available on this system");
    case discovery_fault::no_daemon:
        return QStringLiteral("cannot look for servers: the Avahi daemon is not running; start "
                              "avahi-daemon (sudo systemctl start avahi-daemon)%1")
            .arg(problem.reason.isEmpty() ? QString()
                                          : QStringLiteral(" (Avahi: %1)").arg(problem.reason));
    case discovery_fault::failed:
        break;
    }
    return QStringLiteral("cannot look for servers: the DNS-SD service failed%1")
        .arg(problem.reason.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(problem.reason));
}

std::optional<QString> dnssd_failure_text(const port_failure& failure)
{
    const QString& port = failure.device;
    switch (failure.kind) {
    case port_failure_kind::service_not_found:
        return QStringLiteral("cannot open %1: no server advertises that name (none found within "
                              "%2 s); 'lorvane-cli servers' lists the servers found")
            .arg(one_line(port), QString::number(DNSSD_LOOKUP_MS / 1000));
    case port_failure_kind::service_ambiguous:
        return QStringLiteral("cannot open %1: %2 servers advertise that name, on the hosts %3; "
                              "rename one, or give its URL ('lorvane-cli servers' lists them)")
            .arg(one_line(port), QString::number(failure.hosts.size()),
                 one_line(failure.hosts.join(QStringLiteral(", "))));
    case port_failure_kind::service_unsupported:
        return QStringLiteral("cannot open %1: the server advertises the stack '%2', which this "
                              "program does not speak (it speaks tcp, telnet(rfc2217),tcp and "
                              "both inside ssl)")
            .arg(one_line(port), one_line(failure.stack));
    case port_failure_kind::discovery_unavailable:
        return QStringLiteral("cannot open %1: %2")
            .arg(one_line(port), discovery_problem_text({discovery_fault::unavailable, {}}));
    case port_failure_kind::discovery_no_daemon:
        return QStringLiteral("cannot open %1: %2")
            .arg(one_line(port),
                 discovery_problem_text({discovery_fault::no_daemon, failure.reason}));
    case port_failure_kind::discovery_failed:
        return QStringLiteral("cannot open %1: %2")
            .arg(one_line(port), discovery_problem_text({discovery_fault::failed, failure.reason}));
    default:
        return std::nullopt;
    }
}

std::variant<std::vector<dnssd_service>, int> discover_servers(int wait_ms,
                                                               interrupt_watch& interrupts)
{
    dnssd_browser browser;
    QEventLoop loop;
    QTimer wait;
    wait.setSingleShot(true);
    QObject::connect(&wait, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&browser, &dnssd_browser::failed, &loop, &QEventLoop::quit);
    bool interrupted = false;
    QObject::connect(&interrupts, &interrupt_watch::interrupted, &loop, [&] {
        interrupted = true;
        loop.quit();
    });
    browser.start();
    wait.start(wait_ms);
    loop.exec();
    if (interrupted)
        return interrupted_exit(interrupts, QStringLiteral("the discovery was stopped"));
    if (const auto problem = browser.problem()) {
        out.error(discovery_problem_text(*problem));
        return EXIT_PORT;
    }
    return browser.services();
}

int run_servers(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(HELP);
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("servers"), QStringLiteral("the command"),
                                 QStringLiteral("servers"));
    parser.addOptions({
        {QStringLiteral("wait"),
         QStringLiteral("how long to look, in ms (default %1)").arg(DEFAULT_DISCOVERY_WAIT_MS),
         QStringLiteral("MS")},
        {QStringLiteral("json"), QStringLiteral("print JSON")},
        {QStringLiteral("quiet"), QStringLiteral("say nothing but errors and results")},
    });
    int wait_ms = DEFAULT_DISCOVERY_WAIT_MS;
    try {
        if (!parser.parse(arguments))
            throw usage_error{parser.errorText()};
        if (parser.isSet(QStringLiteral("help")))
            return out.result(parser.helpText().toUtf8()) ? EXIT_BAD_FILE : EXIT_DONE;
        if (parser.positionalArguments().size() != 1)
            throw usage_error{QStringLiteral("'servers' takes no file")};
        if (parser.isSet(QStringLiteral("wait")))
            wait_ms = number_option(parser, QStringLiteral("wait"), 1, MAX_DISCOVERY_WAIT_MS);
    } catch (const usage_error& error) {
        out.error(error.text);
        out.error(QStringLiteral("try 'lorvane-cli servers --help'"));
        return EXIT_USAGE;
    }
    out.set(parser.isSet(QStringLiteral("quiet")), false);
    interrupt_watch interrupts;
    auto found = discover_servers(wait_ms, interrupts);
    if (const int* code = std::get_if<int>(&found))
        return *code;
    const auto& services = std::get<std::vector<dnssd_service>>(found);
    const bool json = parser.isSet(QStringLiteral("json"));
    if (services.empty() && !json)
        out.info(QStringLiteral("no serial servers found within %1 ms").arg(wait_ms));
    if (const auto error = out.result(json ? json_document(services) : text_lines(services))) {
        out.error(QStringLiteral("cannot write the results to standard output: %1").arg(*error));
        return EXIT_BAD_FILE;
    }
    return EXIT_DONE;
}

}  // namespace lorvane::cli
