#include "site_commands.h"

#include "capture_option.h"
#include "cli.h"
#include "console.h"
#include "file_io.h"
#include "health_words.h"
#include "interrupt_watch.h"
#include "options.h"
#include "servers_command.h"
#include "site_json.h"
#include "site_ports.h"
#include "site_run.h"
#include "site_words.h"
#include "tls_commands.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QRegularExpression>

#include <map>
#include <set>

namespace lorvane::cli {

namespace {

constexpr qint64 PROGRESS_PERIOD_MS = 100;

// The command line of `lorvane-cli site ...`, once checked.
struct site_command
{
    site_action action = site_action::check;
    QString target;  // SITE, or adopt's DIR
    bool json = false;
    bool scan = true;
    bool all = false;
    bool problems_only = false;  // only the lines of buses and modules with something to say
    QString report;
    bool all_rows = false;  // the report: every bus whole, a row for every module
    bool as_built = false;  // the report: with the as-built appendix
    std::vector<port_override> port_of;
    std::vector<port_override> buses;  // adopt: --bus NAME=PORT
    std::optional<int> discover_ms;    // adopt --discover: how long to look for servers
    session_options session;
    network_options network;  // every bus inside TLS: as read opens its URL
    std::optional<capture_request> capture;
};

const std::map<QString, std::pair<site_action, std::set<QString>>>& actions()
{
    static const std::map<QString, std::pair<site_action, std::set<QString>>> known{
        {QStringLiteral("check"),
         {site_action::check,
          {QStringLiteral("no-scan"), QStringLiteral("json"), QStringLiteral("report"),
           QStringLiteral("port-of"), QStringLiteral("problems-only"), QStringLiteral("all-rows"),
           QStringLiteral("as-built")}}},
        {QStringLiteral("write"),
         {site_action::write,
          {QStringLiteral("all"), QStringLiteral("json"), QStringLiteral("report"),
           QStringLiteral("port-of"), QStringLiteral("problems-only"), QStringLiteral("all-rows"),
           QStringLiteral("as-built")}}},
        {QStringLiteral("adopt"),
         {site_action::adopt,
          {QStringLiteral("bus"), QStringLiteral("discover"), QStringLiteral("wait")}}},
    };
    return known;
}

// "NAME=PORT" pairs of a repeatable option, each bus named once.
std::vector<port_override> pairs_of(const QCommandLineParser& parser, const QString& option)
{
    std::vector<port_override> pairs;
    std::set<QString> names;
    for (const QString& value : parser.values(option)) {
        const qsizetype equals = value.indexOf(u'=');
        if (equals <= 0 || equals == value.size() - 1)
            throw usage_error{QStringLiteral("--%1 takes BUS=PORT, not '%2'").arg(option, value)};
        const QString bus = value.left(equals);
        if (!names.insert(bus.toCaseFolded()).second)
            throw usage_error{QStringLiteral("--%1 names the bus '%2' twice").arg(option, bus)};
        pairs.push_back({bus, value.mid(equals + 1)});
    }
    return pairs;
}

const QString HELP = QStringLiteral(
    "Checks, writes and adopts every bus of a building from one site file, all buses at once.\n"
    "\n"
    "  site check SITE [--no-scan] [--json|--problems-only] [--report FILE [--all-rows]\n"
    "             [--as-built]] [--port-of BUS=PORT]...\n"
    "      scan each bus, read every module its panels name and compare: same, different,\n"
    "      failed (answered, then fell silent), missing (never answered), unexpected\n"
    "      (answered the scan, no panel names it)\n"
    "  site write SITE [--all] [--json|--problems-only] [--report FILE [--all-rows]\n"
    "             [--as-built]] [--port-of BUS=PORT]...\n"
    "      write each module that does not hold its panel (--all: every module) and read it\n"
    "      back: unchanged, written, failed, missing; each write is logged in SITE.log\n"
    "  site adopt DIR [--bus NAME=PORT]... [--discover [--wait MS]]\n"
    "      scan each bus, read every module found, write DIR/site.json and one panel file\n"
    "      per module (DIR must not exist or be empty); --discover adds one bus per serial\n"
    "      server found on the network (as 'lorvane-cli servers' lists them) with a\n"
    "      supported stack, named after its service, port dnssd:NAME\n"
    "  site log SITE [--json] [--verify] [--head sha256:HEX]\n"
    "      show SITE.log, or check that no line of it was edited, removed, inserted or\n"
    "      moved ('lorvane-cli site log --help')\n"
    "\n"
    "--problems-only prints only the lines of buses and modules with something to say, then\n"
    "the summary. The report opens with its verdict and the open items; a bus with nothing to\n"
    "say is drawn compactly (--all-rows: every bus whole, a row for every module); --as-built\n"
    "adds every module's 16 keys, refresh period and panel file.\n"
    "\n"
    "Each check and write appends to SITE.log (every module written, then the run's counts)\n"
    "and prints the log's head last: 'log head sha256:HEX'.\n"
    "\n"
    "Buses inside TLS (tcp+tls://, rfc2217+tls://) are opened as 'lorvane-cli read' opens them:\n"
    "the fingerprints stored with 'lorvane-cli trust HOST:PORT FINGERPRINT' first, then the\n"
    "system's authorities and --ca; --ca, --client-cert and --client-key serve every such bus.\n"
    "\n"
    "Every action takes --capture FILE.pcapng: every bus's bytes are recorded into FILE, one\n"
    "interface per bus, for Wireshark, up to --capture-limit MIB (default 64).\n"
    "\n"
    "Exit codes: 0 done; 1 usage error; 2 the site file, a panel file, the log or the report\n"
    "cannot be read or written, or DIR is not empty; 3 a bus was unreachable; 4 a module is\n"
    "missing or failed; 5 check: a module is different or unexpected; 130\n"
    "interrupted (Ctrl-C); 143 terminated (SIGTERM).");

site_command parse(QCommandLineParser& parser, const QStringList& arguments)
{
    parser.setApplicationDescription(HELP);
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("action"), QStringLiteral("check, write or adopt"),
                                 QStringLiteral("site check|write|adopt"));
    parser.addPositionalArgument(QStringLiteral("site"),
                                 QStringLiteral("the site file (adopt: the folder to write)"),
                                 QStringLiteral("SITE|DIR"));
    parser.addOptions({
        {QStringLiteral("no-scan"), QStringLiteral("check: read the listed modules only")},
        {QStringLiteral("all"), QStringLiteral("write: write every module, same or not")},
        {QStringLiteral("json"), QStringLiteral("check, write: print one JSON document")},
        {QStringLiteral("report"), QStringLiteral("check, write: save an HTML report as FILE"),
         QStringLiteral("FILE")},
        {QStringLiteral("problems-only"),
         QStringLiteral("check, write: print only the lines with something to say")},
        {QStringLiteral("all-rows"),
         QStringLiteral("check, write: the report draws every bus whole, every module's row")},
        {QStringLiteral("as-built"),
         QStringLiteral("check, write: the report adds every module's keys (as built)")},
        {QStringLiteral("port-of"),
         QStringLiteral("check, write: use PORT for bus BUS in this run (repeatable)"),
         QStringLiteral("BUS=PORT")},
        {QStringLiteral("bus"), QStringLiteral("adopt: a bus and its port (repeatable)"),
         QStringLiteral("NAME=PORT")},
        {QStringLiteral("discover"),
         QStringLiteral("adopt: one bus more per serial server found on the network, named after "
                        "it, port dnssd:NAME")},
        {QStringLiteral("wait"),
         QStringLiteral("adopt --discover: how long to look, in ms (default %1)")
             .arg(DEFAULT_DISCOVERY_WAIT_MS),
         QStringLiteral("MS")},
        {QStringLiteral("timeout"), QStringLiteral("reply time-out (default 1000)"),
         QStringLiteral("MS")},
        {QStringLiteral("retries"),
         QStringLiteral("send a request again up to N times after a time-out (default 0)"),
         QStringLiteral("N")},
        {QStringLiteral("quiet"), QStringLiteral("say nothing but errors and results")},
    });
    parser.addOptions(capture_option_list());
    parser.addOptions(tls_file_option_list());
    if (!parser.parse(arguments)) {
        if (parser.unknownOptionNames().contains(QStringLiteral("trust")))
            throw usage_error{QStringLiteral("the site commands take no --trust; to trust a bus's "
                                             "server, store its fingerprint first with "
                                             "'lorvane-cli trust HOST:PORT FINGERPRINT'")};
        throw usage_error{parser.errorText()};
    }
    site_command command;
    if (parser.isSet(QStringLiteral("help")))
        return command;
    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        throw usage_error{QStringLiteral("'site' needs check, write or adopt")};
    const auto known = actions().find(positional[0]);
    if (known == actions().end())
        throw usage_error{QStringLiteral("unknown site action '%1'").arg(positional[0])};
    if (positional.size() != 2)
        throw usage_error{QStringLiteral("'site %1' takes exactly one %2")
                              .arg(positional[0], known->second.first == site_action::adopt
                                                      ? QStringLiteral("folder")
                                                      : QStringLiteral("site file"))};
    const std::set<QString> common{QStringLiteral("timeout"), QStringLiteral("retries"),
                                   QStringLiteral("quiet")};
    for (const QString& name : parser.optionNames()) {
        if (!known->second.second.contains(name) && !common.contains(name) &&
            !is_tls_file_option(name) && !is_capture_option(name))
            throw usage_error{
                QStringLiteral("--%1 is not an option of 'site %2'").arg(name, positional[0])};
    }
    command.action = known->second.first;
    command.target = positional[1];
    command.json = parser.isSet(QStringLiteral("json"));
    command.scan = !parser.isSet(QStringLiteral("no-scan"));
    command.all = parser.isSet(QStringLiteral("all"));
    command.report = parser.value(QStringLiteral("report"));
    if (parser.isSet(QStringLiteral("report")) && command.report.isEmpty())
        throw usage_error{QStringLiteral("--report needs a file name")};
    command.problems_only = parser.isSet(QStringLiteral("problems-only"));
    command.all_rows = parser.isSet(QStringLiteral("all-rows"));
    command.as_built = parser.isSet(QStringLiteral("as-built"));
    if (command.problems_only && command.json)
        throw usage_error{QStringLiteral("--problems-only shortens the printed lines; --json "
                                         "always prints the whole document, so give one of them")};
    for (const QString& shape : {QStringLiteral("all-rows"), QStringLiteral("as-built")}) {
        if (parser.isSet(shape) && command.report.isEmpty())
            throw usage_error{
                QStringLiteral("--%1 shapes the report; give it with --report FILE").arg(shape)};
    }
    command.port_of = pairs_of(parser, QStringLiteral("port-of"));
    command.buses = pairs_of(parser, QStringLiteral("bus"));
    if (parser.isSet(QStringLiteral("discover")))
        command.discover_ms =
            parser.isSet(QStringLiteral("wait"))
                ? number_option(parser, QStringLiteral("wait"), 1, MAX_DISCOVERY_WAIT_MS)
                : DEFAULT_DISCOVERY_WAIT_MS;
    else if (parser.isSet(QStringLiteral("wait")))
        throw usage_error{QStringLiteral("--wait goes with --discover")};
    if (command.action == site_action::adopt && command.buses.empty() && !command.discover_ms)
        throw usage_error{
            QStringLiteral("'site adopt' needs at least one --bus NAME=PORT, or --discover")};
    command.session.timeout = std::chrono::milliseconds(
        parser.isSet(QStringLiteral("timeout"))
            ? number_option(parser, QStringLiteral("timeout"), 1, MAX_TIMEOUT_MS)
            : DEFAULT_TIMEOUT_MS);
    if (parser.isSet(QStringLiteral("retries")))
        command.session.retries = number_option(parser, QStringLiteral("retries"), 0, MAX_RETRIES);
    // Built once, by the code read uses, and applied to every bus inside TLS.
    auto network = network_options_of(parser);
    if (const auto* error = std::get_if<QString>(&network))
        throw usage_error{*error};
    command.network = std::get<network_options>(std::move(network));
    // The comment names the command as given: `lorvane-cli site ...`.
    command.capture = capture_request_of(
        parser, QStringList{arguments.value(0), QStringLiteral("site")} + arguments.mid(1));
    out.set(parser.isSet(QStringLiteral("quiet")), false);
    return command;
}

// Runs `plan` to its end, showing one progress line for the whole site; Ctrl-C or SIGTERM
// stops every bus at once.
site_result run(const site_plan& plan, const site_run_options& options, audit_log* log,
                interrupt_watch& interrupts, const site_digests& digests = {})
{
    site_run site(plan, options);
    if (log)
        site.set_audit_log(log, audit_identity::of_this_process(), digests);
    int planned = 0;
    for (const site_bus& bus : plan.buses)
        planned += int(bus.panels.size());
    int done = 0;
    std::map<int, int> scanning;  // bus -> addresses probed
    QElapsedTimer shown;          // a terminal needs no more than ten lines a second
    const auto show = [&] {
        if (shown.isValid() && shown.elapsed() < PROGRESS_PERIOD_MS)
            return;
        shown.start();
        QString line = options.action == site_action::adopt
                           ? QStringLiteral("site %1: %2 read")
                                 .arg(plan.name, counted(done, "module", "modules"))
                           : QStringLiteral("site %1: %2/%3 modules done")
                                 .arg(plan.name, QString::number(done), QString::number(planned));
        if (!scanning.empty()) {
            int least = 256;
            for (const auto& [bus, probed] : scanning)
                least = std::min(least, probed);
            line += QStringLiteral("; scanning %1 (%2/256)")
                        .arg(counted(int(scanning.size()), "bus", "buses"), QString::number(least));
        }
        out.progress(line);
    };
    QObject::connect(&site, &site_run::scan_progress, [&](int bus, int probed, int) {
        scanning[bus] = probed;
        show();
    });
    QObject::connect(&site, &site_run::module_started, [&](int bus, int, transfer_step) {
        scanning.erase(bus);
        show();
    });
    QObject::connect(&site, &site_run::module_done, [&](int, const module_result& m) {
        done += m.panel >= 0 || options.action == site_action::adopt ? 1 : 0;
        show();
    });
    QObject::connect(&site, &site_run::bus_done, [&](int bus, const bus_result&) {
        scanning.erase(bus);
        show();
    });
    QEventLoop loop;
    QObject::connect(&site, &site_run::finished, &loop, &QEventLoop::quit);
    QObject::connect(&interrupts, &interrupt_watch::interrupted, &site, &site_run::stop);
    site.start();
    loop.exec();
    out.end_progress();
    return site.result();
}

int exit_code_of(const site_result& result)
{
    const site_counts counts = count_site(result);
    if (counts.unreachable > 0)
        return EXIT_PORT;
    if (counts[module_status::missing] > 0 || counts[module_status::failed] > 0)
        return EXIT_NO_REPLY;
    if (counts[module_status::different] > 0 || counts[module_status::unexpected] > 0)
        return EXIT_DIFFERENT;
    return EXIT_DONE;
}

// The lines of a result: one per module, grouped by bus (an unreachable bus says why first,
// a bus without modules says so, what its line showed comes last), then the summary. With
// `problems_only`, only the lines of buses and modules with something to say.
QByteArray result_lines(const site_result& result, const session_options& options,
                        bool problems_only = false)
{
    QString text;
    for (const bus_result& bus : result.buses) {
        if (problems_only && !bus_worth_a_line(bus) && !bus.modules.empty())
            continue;
        if (!bus.reachable())
            text += one_line(QStringLiteral("%1: unreachable: %2")
                                 .arg(bus.name, bus_failure_text(result, bus))) +
                    u'\n';
        else if (bus.modules.empty())  // no panels, and none found: still a bus of the site
            text += one_line(QStringLiteral("%1: no modules on this bus").arg(bus.name)) + u'\n';
        if (const QString doubt = scan_doubt_line(bus, options); !doubt.isEmpty())
            text += one_line(doubt) + u'\n';
        for (const module_result& m : bus.modules) {
            if (!problems_only || module_worth_a_line(bus, m))
                text += one_line(module_line(result.action, bus, m, options)) + u'\n';
        }
        if (bus.health) {
            for (const health_finding& f : bus.health->findings)
                text +=
                    one_line(QStringLiteral("%1: line health: %2").arg(bus.name, finding_text(f))) +
                    u'\n';
        }
    }
    return (text + one_line(summary_line(result)) + u'\n').toUtf8();
}

// A site file, loaded with its panels, or the exit code after telling why not.
std::variant<site_plan, int> load(const site_command& command, site_digests* digests = nullptr)
{
    auto loaded = load_checked_site(command.target, command.port_of, digests);
    if (auto* error = std::get_if<site_file_error>(&loaded)) {
        const bool usage = error->from_command_line;
        out.error(site_error_text(*error, command.target) +
                  (usage ? QString() : QStringLiteral("; nothing was sent")));
        if (usage)
            out.error(QStringLiteral("try 'lorvane-cli site --help'"));
        return usage ? EXIT_USAGE : EXIT_BAD_FILE;
    }
    return std::get<site_plan>(std::move(loaded));
}

int command_check_or_write(const site_command& command, interrupt_watch& interrupts)
{
    site_digests digests;  // of the files the run uses, for the log
    auto loaded = load(command, &digests);
    if (const int* code = std::get_if<int>(&loaded))
        return *code;
    const site_plan plan = std::get<site_plan>(std::move(loaded));

    // Everything that could stop the command is opened before the first byte goes out.
    report_file report;
    if (!command.report.isEmpty()) {
        if (const auto reason = report.open(command.report)) {
            out.error(QStringLiteral("cannot write the report %1: %2; nothing was sent")
                          .arg(command.report, *reason));
            return EXIT_BAD_FILE;
        }
    }
    audit_log log;
    const QString log_path = audit_log_path(command.target);
    {  // a check leaves its trace in the log too
        if (const auto failure = log.open(log_path)) {
            report.cancel();
            out.error(QStringLiteral("cannot open the audit log %1 for appending: %2; nothing "
                                     "was sent")
                          .arg(log_path, failure_text(*failure)));
            return EXIT_BAD_FILE;
        }
    }

    auto capture = open_capture(command.capture);
    if (const int* code = std::get_if<int>(&capture)) {
        report.cancel();
        return *code;
    }
    site_run_options options;
    options.capture = std::get<std::unique_ptr<line_capture>>(capture).get();
    options.action = command.action;
    options.scan = command.scan;
    options.write_all = command.all;
    options.session = command.session;
    options.scan_range.retries = command.session.retries;
    options.network = command.network;
    const site_result result = run(plan, options, &log, interrupts, digests);

    QByteArray printed = command.json
                             ? site_json(result, command.session)
                             : result_lines(result, command.session, command.problems_only);
    if (!command.json && !result.log_head.isEmpty())
        printed += "log head sha256:" + result.log_head + '\n';
    if (const auto error = out.result(printed)) {
        out.error(QStringLiteral("cannot write the results to standard output: %1").arg(*error));
        return EXIT_BAD_FILE;
    }
    int code = exit_code_of(result);
    if (!command.report.isEmpty()) {
        english_report_words words(command.session);
        words.set_result(&result);
        const audit_identity who = audit_identity::of_this_process();
        const report_facts facts{result.started,
                                 who.user,
                                 who.host,
                                 QCoreApplication::applicationName() + u' ' +
                                     QCoreApplication::applicationVersion(),
                                 QFileInfo(command.target).fileName(),
                                 digests};
        report_options shape;
        shape.all_rows = command.all_rows;
        shape.as_built = command.as_built ? &plan : nullptr;
        if (const auto reason = report.commit(site_report_html(result, facts, words, shape))) {
            out.error(
                QStringLiteral("cannot write the report %1: %2").arg(command.report, *reason));
            code = EXIT_BAD_FILE;
        } else {
            out.info(QStringLiteral("report saved as %1").arg(command.report));
        }
    }
    if (result.log_failure) {
        out.error(QStringLiteral("cannot append to the audit log %1: %2; the run was stopped")
                      .arg(log_path, *result.log_failure));
        code = EXIT_BAD_FILE;
    }
    if (result.stopped && !result.log_failure)
        return interrupted_exit(interrupts, left_after_stop(result, log_path));
    return code;
}

// Whether Windows keeps `name` for a device (CON, PRN, AUX, NUL, COM1-9, LPT1-9), whatever its
// case and whatever follows a dot ("aux.east" is AUX too): no file or folder can have it there.
bool windows_reserved_name(const QString& name)
{
    static const QRegularExpression device(
        QStringLiteral(R"(\A(con|prn|aux|nul|com[1-9]|lpt[1-9])(\..*)?\z)"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    return device.match(name).hasMatch();
}

// A folder name for bus `name`: its letters and digits, other characters as '-', unique
// among `taken` whatever the case, and never a name Windows keeps for a device.
QString folder_for(const QString& name, std::set<QString>& taken)
{
    QString folder;
    for (const QChar c : name) {
        if (c.isLetterOrNumber() || c == u'_' || c == u'.')
            folder += c.toLower();
        else if (!folder.endsWith(u'-'))
            folder += u'-';
    }
    while (folder.startsWith(u'-') || folder.startsWith(u'.'))
        folder.remove(0, 1);
    while (folder.endsWith(u'-') || folder.endsWith(u'.'))
        folder.chop(1);
    if (folder.isEmpty() || windows_reserved_name(folder))
        folder = QStringLiteral("bus-") + folder;
    if (folder.endsWith(u'-'))
        folder.chop(1);
    QString unique = folder;
    for (int n = 2; taken.contains(unique.toCaseFolded()); ++n)
        unique = folder + QStringLiteral("-%1").arg(n);
    taken.insert(unique.toCaseFolded());
    return unique;
}

bool is_empty_or_absent(const QString& dir)
{
    const QFileInfo info(dir);
    if (!info.exists() && !info.isSymLink())
        return true;
    return info.isDir() &&
           QDir(dir).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

int command_adopt(const site_command& command, interrupt_watch& interrupts)
{
    const QString& dir = command.target;
    const QString refused =
        QStringLiteral("%1 is not an empty folder; adopt writes only into a new or empty folder, "
                       "and nothing in it was changed")
            .arg(dir);
    // The target must be new or empty, and a name Windows can hold: checked before the run and
    // again before anything is written.
    const auto target_refused = [&]() {
        if (!is_empty_or_absent(dir)) {
            out.error(refused);
            return true;
        }
        const QString last = QFileInfo(QDir::cleanPath(dir)).fileName();
        if (!windows_reserved_name(last))
            return false;
        out.error(QStringLiteral("%1: Windows keeps the name %2 for a device, so the site could "
                                 "not be opened there; choose another folder name (nothing was "
                                 "written)")
                      .arg(dir, last));
        return true;
    };
    if (target_refused())
        return EXIT_BAD_FILE;
    site_plan plan;
    plan.name = QFileInfo(QDir::cleanPath(QDir(dir).absolutePath())).fileName();
    if (plan.name.isEmpty())
        plan.name = QStringLiteral("site");
    std::set<QString> names;
    for (const port_override& bus : command.buses) {
        if (bus.bus.trimmed().isEmpty() || !names.insert(bus.bus.toCaseFolded()).second)
            throw usage_error{QStringLiteral("--bus '%1=%2': each bus needs a name of its own")
                                  .arg(bus.bus, bus.port)};
        plan.buses.push_back({bus.bus, bus.port, true, {}, {}});
    }
    if (command.discover_ms) {
        auto found = discover_servers(*command.discover_ms, interrupts);
        if (const int* code = std::get_if<int>(&found))
            return *code;
        for (const dnssd_service& server : std::get<std::vector<dnssd_service>>(found)) {
            if (!server.url() || !names.insert(server.name.toCaseFolded()).second)
                continue;  // not supported, a --bus of that name, or a name advertised twice
            plan.buses.push_back(
                {server.name, QStringLiteral("dnssd:") + server.name, true, {}, {}});
        }
        if (plan.buses.empty()) {
            out.error(QStringLiteral("no serial server with a supported stack was found within %1 "
                                     "ms ('lorvane-cli servers' lists what answers); nothing was "
                                     "written to %2")
                          .arg(*command.discover_ms)
                          .arg(dir));
            return EXIT_PORT;
        }
    }
    if (int(plan.buses.size()) > SITE_MAX_BUSES)
        throw usage_error{QStringLiteral("at most %1 buses").arg(SITE_MAX_BUSES)};
    if (const auto error = check_site_ports(plan)) {
        const port_override& bus = command.buses[std::size_t(error->bus)];
        throw usage_error{
            QStringLiteral("--bus '%1=%2': %3")
                .arg(bus.bus, bus.port,
                     error->kind == site_problem::port_twice
                         ? QStringLiteral("the port of another --bus too")
                         : QStringLiteral("names no port; give a number 1..256, a device name, a "
                                          "path, tcp://HOST:PORT, rfc2217://HOST:PORT, "
                                          "usb:SERIAL or dnssd:NAME"))};
    }

    auto capture = open_capture(command.capture);
    if (const int* code = std::get_if<int>(&capture))
        return *code;
    site_run_options options;
    options.capture = std::get<std::unique_ptr<line_capture>>(capture).get();
    options.action = site_action::adopt;
    options.session = command.session;
    options.scan_range.retries = command.session.retries;
    options.network = command.network;
    const site_result result = run(plan, options, nullptr, interrupts);
    if (const auto error = out.result(result_lines(result, command.session))) {
        out.error(QStringLiteral("cannot write the results to standard output: %1").arg(*error));
        return EXIT_BAD_FILE;
    }
    const QString nothing = QStringLiteral("nothing was written to %1").arg(dir);
    if (result.stopped)
        return interrupted_exit(interrupts, nothing);
    if (const int code = exit_code_of(result); code != EXIT_DONE) {
        out.error(nothing + QStringLiteral(": every bus must be reached and every module read"));
        return code;
    }

    // The files: DIR/site.json, and DIR/<bus folder>/module-<address>.json per module.
    std::vector<std::pair<QString, QByteArray>> files;  // relative path, text
    std::set<QString> taken{QStringLiteral("site.json")};
    for (std::size_t b = 0; b < result.buses.size(); ++b) {
        const QString folder = folder_for(plan.buses[b].name, taken);
        for (const module_result& m : result.buses[b].modules) {
            const QString path = QStringLiteral("%1/module-%2.json")
                                     .arg(folder)
                                     .arg(m.address, 3, 10, QLatin1Char('0'));
            plan.buses[b].panel_paths << path;
            files.emplace_back(path, panel_file_text(*m.before));
        }
    }
    files.emplace_back(QStringLiteral("site.json"), site_file_text(plan));
    if (target_refused())
        return EXIT_BAD_FILE;
    const bool created = !QFileInfo::exists(dir);
    std::vector<QString> made;  // folders and files, in the order made
    const auto undo = [&] {
        for (auto it = made.rbegin(); it != made.rend(); ++it) {
            if (!QFile::remove(*it))
                QDir().rmdir(*it);
        }
        if (created)
            QDir().rmdir(dir);
    };
    if (created && !QDir().mkpath(dir)) {
        out.error(QStringLiteral("cannot make the folder %1").arg(dir));
        return EXIT_BAD_FILE;
    }
    for (const auto& [relative, text] : files) {
        const QString path = QDir(dir).filePath(relative);
        const QString folder = QFileInfo(path).path();
        if (!QFileInfo::exists(folder)) {
            if (!QDir().mkdir(folder)) {
                undo();
                out.error(QStringLiteral("cannot make the folder %1; %2").arg(folder, nothing));
                return EXIT_BAD_FILE;
            }
            made.push_back(folder);
        }
        const io_result written = write_output(path, text, interrupts);
        if (written.result != io_result::status::done) {
            undo();
            out.error(QStringLiteral("cannot write %1: %2; %3")
                          .arg(path, failure_text(written.failure), nothing));
            return EXIT_BAD_FILE;
        }
        made.push_back(path);
    }
    out.info(QStringLiteral("wrote %1 and %2; 'lorvane-cli site check %1' compares the site "
                            "with them")
                 .arg(QDir(dir).filePath(QStringLiteral("site.json")),
                      counted(int(files.size()) - 1, "panel file", "panel files")));
    return EXIT_DONE;
}

}  // namespace

int run_site(const QStringList& arguments)
{
    if (arguments.value(2) == QStringLiteral("log"))
        return run_site_log(arguments);
    QCommandLineParser parser;
    site_command command;
    const QStringList own = QStringList{arguments.value(0)} + arguments.mid(2);
    try {
        command = parse(parser, own);
    } catch (const usage_error& error) {
        out.error(error.text);
        out.error(QStringLiteral("try 'lorvane-cli site --help'"));
        return EXIT_USAGE;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        const QByteArray help = parser.helpText().toUtf8();
        return out.result(help) ? EXIT_BAD_FILE : EXIT_DONE;
    }
    interrupt_watch interrupts;
    try {
        return command.action == site_action::adopt ? command_adopt(command, interrupts)
                                                    : command_check_or_write(command, interrupts);
    } catch (const usage_error& error) {
        out.error(error.text);
        out.error(QStringLiteral("try 'lorvane-cli site --help'"));
        return EXIT_USAGE;
    }
}

}  // namespace lorvane::cli
