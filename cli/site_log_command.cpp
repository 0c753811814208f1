// lorvane-cli site log: a site's audit log as people read it, one line per entry, or a check
// of its chain (audit_chain.h) against a head kept from outside the log.
#include "audit_chain.h"
#include "audit_log.h"
#include "cli.h"
#include "config_compare.h"
#include "file_io.h"
#include "json_writer.h"
#include "options.h"
#include "site_commands.h"
#include "site_words.h"

#include <QCommandLineParser>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace lorvane::cli {

namespace {

// Printed a piece at a time: the output never holds the whole log a second time.
constexpr qsizetype PRINT_CHUNK = 64 * 1024;

struct log_command
{
    QString site;
    bool json = false;
    bool verify = false;
    QByteArray head;  // 64 hex digits; empty: none asked for
};

const QString LOG_HELP = QStringLiteral(
    "Shows the audit log of a site (SITE.log), or checks that no line of it was changed.\n"
    "\n"
    "  site log SITE [--json]\n"
    "      one line per entry: time, user@host, bus, module, action and what changed\n"
    "      (--json: the entries as a JSON array)\n"
    "  site log SITE --verify [--head sha256:HEX] [--json]\n"
    "      check that each line's prev is the hash of the line before it; --head (implies\n"
    "      --verify): and that the log still holds the line with that hash, as a check or\n"
    "      write printed it ('log head sha256:HEX')\n"
    "\n"
    "Lines written by versions without the chain have no prev ('unchained'): they are\n"
    "accepted at the start of the log and counted.\n"
    "\n"
    "Exit codes: 0 done, the chain holds; 1 usage error; 2 the log cannot be read, or a line\n"
    "of it is not an entry (without --verify); 5 a line does not hold, or the head is not\n"
    "in the log.");

log_command parse(QCommandLineParser& parser, const QStringList& arguments)
{
    parser.setApplicationDescription(LOG_HELP);
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("log"), QStringLiteral("log"),
                                 QStringLiteral("site log"));
    parser.addPositionalArgument(QStringLiteral("site"), QStringLiteral("the site file"),
                                 QStringLiteral("SITE"));
    parser.addOptions({
        {QStringLiteral("json"), QStringLiteral("print JSON")},
        {QStringLiteral("verify"), QStringLiteral("check the log's chain")},
        {QStringLiteral("head"), QStringLiteral("the head the log must hold"),
         QStringLiteral("sha256:HEX")},
    });
    if (!parser.parse(arguments))
        throw usage_error{parser.errorText()};
    log_command command;
    if (parser.isSet(QStringLiteral("help")))
        return command;
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 2)
        throw usage_error{QStringLiteral("'site log' takes exactly one site file")};
    command.site = positional[1];
    command.json = parser.isSet(QStringLiteral("json"));
    command.verify = parser.isSet(QStringLiteral("verify")) || parser.isSet(QStringLiteral("head"));
    if (parser.isSet(QStringLiteral("head"))) {
        const QString given = parser.value(QStringLiteral("head"));
        const QByteArray hex = given.startsWith(QStringLiteral("sha256:"))
                                   ? given.mid(7).toLatin1().toLower()
                                   : QByteArray();
        if (!is_digest(hex))
            throw usage_error{QStringLiteral("--head takes sha256: and 64 hex digits, as a check "
                                             "or write prints it, not '%1'")
                                  .arg(given)};
        command.head = hex;
    }
    return command;
}

// The 17 records of a logged "before" or "after": each [v1, v2, v3] or null; the whole null.
record_set records_of(const QJsonValue& value)
{
    record_set records{};
    const QJsonArray list = value.toArray();
    for (qsizetype r = 0; r < list.size() && r < RECORD_COUNT; ++r) {
        const QJsonArray v = list[r].toArray();
        if (v.size() != 3)
            continue;
        std::array<std::uint8_t, 3> bytes{};
        bool valid = true;
        for (qsizetype i = 0; i < 3; ++i) {
            const int n = v[i].toInt(-1);
            valid = valid && n >= 0 && n <= 255;
            bytes[std::size_t(i)] = std::uint8_t(valid ? n : 0);
        }
        if (valid)
            records[std::size_t(r)] = record_values{bytes[0], bytes[1], bytes[2]};
    }
    return records;
}

// What a logged write changed: the records read back against those first read, where both
// are known.
QStringList changes_of(const QJsonObject& entry)
{
    const record_set before = records_of(entry.value(QLatin1String("before")));
    const record_set after = records_of(entry.value(QLatin1String("after")));
    panel_config was;
    panel_config is;
    for (int r = 0; r < RECORD_COUNT; ++r) {
        if (before[std::size_t(r)] && after[std::size_t(r)]) {
            store_record(was, r, *before[std::size_t(r)]);
            store_record(is, r, *after[std::size_t(r)]);
        }
    }
    QStringList words;
    for (const config_difference& d : compare_configs(was, is))
        words << change_words(d);
    return words;
}

// One entry as people read it.
QString entry_words(const QJsonObject& entry)
{
    const auto text = [&](const char* name) { return entry.value(QLatin1String(name)).toString(); };
    const QString action = text("action");
    QString line = QStringLiteral("%1  %2@%3  ").arg(text("time"), text("user"), text("host"));
    if (action == QStringLiteral("run")) {
        const QJsonObject counts = entry.value(QLatin1String("counts")).toObject();
        QStringList parts;
        for (auto it = counts.begin(); it != counts.end(); ++it) {
            if (it.value().toInt() > 0)
                parts << QStringLiteral("%1 %2").arg(it.value().toInt()).arg(it.key());
        }
        line += QStringLiteral("%1 %2: %3 modules")
                    .arg(text("of"), entry.value(QLatin1String("stopped")).toBool()
                                         ? QStringLiteral("(stopped)")
                                         : QStringLiteral("run"))
                    .arg(entry.value(QLatin1String("modules")).toInt());
        if (!parts.isEmpty())
            line += QStringLiteral(" (") + parts.join(QStringLiteral(", ")) + u')';
        const int unreachable = entry.value(QLatin1String("unreachable")).toInt();
        line += QStringLiteral(", %1 of %2 buses unreachable")
                    .arg(unreachable)
                    .arg(entry.value(QLatin1String("buses")).toInt());
        return line;
    }
    line += QStringLiteral("%1  module %2  %3")
                .arg(text("bus"))
                .arg(entry.value(QLatin1String("module")).toInt())
                .arg(action);
    if (action != QStringLiteral("begun")) {
        const QStringList changes = changes_of(entry);
        line += changes.isEmpty() ? QStringLiteral(": nothing changed")
                                  : QStringLiteral(": ") + changes.join(QStringLiteral("; "));
    }
    const QJsonObject stopped = entry.value(QLatin1String("stopped_at")).toObject();
    if (!stopped.isEmpty())
        line += QStringLiteral(" (stopped at the %1 of record %2)")
                    .arg(stopped.value(QLatin1String("step")).toString())
                    .arg(stopped.value(QLatin1String("record")).toInt());
    return line;
}

// Prints `bytes` once enough has gathered (or `last`); false when stdout would not take it.
bool flush(QByteArray& bytes, bool last)
{
    if (!last && bytes.size() < PRINT_CHUNK)
        return true;
    if (const auto error = out.result(bytes)) {
        out.error(QStringLiteral("cannot write to standard output: %1").arg(*error));
        return false;
    }
    bytes.clear();
    return true;
}

int show(const QByteArray& log, const log_command& command, const QString& path)
{
    QByteArray printed = command.json ? QByteArray("[") : QByteArray();
    int number = 0;
    for (qsizetype start = 0; start < log.size();) {
        qsizetype end = log.indexOf('\n', start);
        if (end < 0)
            end = log.size();
        const QByteArray line = QByteArray::fromRawData(log.constData() + start, end - start);
        start = end + 1;
        ++number;
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(line, &error);
        if (error.error != QJsonParseError::NoError || !document.isObject()) {
            flush(printed, true);
            out.error(QStringLiteral("line %1 of %2 is not a log entry (%3); 'lorvane-cli site "
                                     "log --verify' checks the whole log")
                          .arg(number)
                          .arg(path, error.error != QJsonParseError::NoError
                                         ? error.errorString()
                                         : QStringLiteral("not a JSON object")));
            return EXIT_BAD_FILE;
        }
        if (command.json)
            printed += (number > 1 ? ",\n" : "\n") + line;
        else
            printed += one_line(entry_words(document.object())).toUtf8() + '\n';
        if (!flush(printed, false))
            return EXIT_BAD_FILE;
    }
    if (command.json)
        printed += number > 0 ? "\n]\n" : "]\n";
    return flush(printed, true) ? EXIT_DONE : EXIT_BAD_FILE;
}

const char* problem_json(chain_problem problem)
{
    switch (problem) {
    case chain_problem::none:
        return "none";
    case chain_problem::not_an_object:
        return "not_an_object";
    case chain_problem::prev_mismatch:
        return "prev_mismatch";
    case chain_problem::unchained_later:
        return "unchained_later";
    case chain_problem::head_not_found:
        return "head_not_found";
    }
    return "";
}

QString problem_words(const chain_check& check, const QByteArray& head)
{
    switch (check.problem) {
    case chain_problem::none:
        return {};
    case chain_problem::not_an_object:
        return QStringLiteral("line %1 is not a JSON object: edited, or cut off while written")
            .arg(check.line);
    case chain_problem::prev_mismatch:
        return QStringLiteral("line %1 does not chain to the line before it: a line was edited, "
                              "removed, inserted or moved there")
            .arg(check.line);
    case chain_problem::unchained_later:
        return QStringLiteral("line %1 has no prev after chained lines: it was inserted")
            .arg(check.line);
    case chain_problem::head_not_found:
        return QStringLiteral("no line of the log has the head sha256:%1: the log was cut short "
                              "or replaced (%2 lines)")
            .arg(QString::fromLatin1(head))
            .arg(check.lines);
    }
    return {};
}

int verify(const QByteArray& log, const log_command& command)
{
    const chain_check check = check_chain(log, command.head);
    const bool holds = check.problem == chain_problem::none;
    QByteArray printed;
    if (command.json) {
        json_object result;
        result.add("intact", holds)
            .add("lines", check.lines)
            .add("unchained", check.unchained)
            .add("head", QStringLiteral("sha256:") + QString::fromLatin1(check.head));
        if (!command.head.isEmpty())
            result.add("head_line", check.head_line);
        if (!holds)
            result.add("problem", QString::fromLatin1(problem_json(check.problem)))
                .add("line", check.line);
        printed = result.text() + '\n';
    } else if (holds) {
        QString words = QStringLiteral("chain intact: %1 lines").arg(check.lines);
        if (check.unchained > 0)
            words += QStringLiteral(" (%1 unchained, from before the chain)").arg(check.unchained);
        words += QStringLiteral(", head sha256:") + QString::fromLatin1(check.head);
        if (check.head_line > 0)
            words += QStringLiteral("; sha256:%1 is line %2")
                         .arg(QString::fromLatin1(command.head))
                         .arg(check.head_line);
        printed = words.toUtf8() + '\n';
    } else {
        printed =
            (QStringLiteral("chain broken: ") + problem_words(check, command.head)).toUtf8() + '\n';
    }
    if (!flush(printed, true))
        return EXIT_BAD_FILE;
    return holds ? EXIT_DONE : EXIT_LOG_ALTERED;
}

}  // namespace

int run_site_log(const QStringList& arguments)
{
    QCommandLineParser parser;
    log_command command;
    const QStringList own = QStringList{arguments.value(0)} + arguments.mid(2);
    try {
        command = parse(parser, own);
    } catch (const usage_error& error) {
        out.error(error.text);
        out.error(QStringLiteral("try 'lorvane-cli site log --help'"));
        return EXIT_USAGE;
    }
    if (parser.isSet(QStringLiteral("help")))
        return out.result(parser.helpText().toUtf8()) ? EXIT_BAD_FILE : EXIT_DONE;
    const QString path = audit_log_path(command.site);
    auto read = read_regular_file(path, AUDIT_LOG_MAX_SIZE);
    if (const auto* failure = std::get_if<file_failure>(&read)) {
        out.error(QStringLiteral("cannot read the audit log %1: %2")
                      .arg(path, failure->kind == file_problem::too_large
                                     ? QStringLiteral("larger than %1 GiB")
                                           .arg(AUDIT_LOG_MAX_SIZE / (1024 * 1024 * 1024))
                                     : failure_text(*failure)));
        return EXIT_BAD_FILE;
    }
    const QByteArray& log = std::get<QByteArray>(read);
    return command.verify ? verify(log, command) : show(log, command, path);
}

}  // namespace lorvane::cli
