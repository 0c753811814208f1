#include "capture_option.h"

#include "cli.h"
#include "file_io.h"
#include "options.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRegularExpression>

namespace lorvane::cli {

namespace {

const QString CAPTURE = QStringLiteral("capture");
const QString CAPTURE_LIMIT = QStringLiteral("capture-limit");

// An argument as a shell would need it: quoted when it holds a space or a quote.
QString shown_argument(const QString& argument)
{
    static const QRegularExpression plain(QStringLiteral(R"(\A[^\s'"\\]+\z)"));
    if (plain.match(argument).hasMatch())
        return argument;
    QString quoted = argument;
    quoted.replace(u'\'', QStringLiteral("'\\''"));
    return u'\'' + quoted + u'\'';
}

}  // namespace

QList<QCommandLineOption> capture_option_list()
{
    return {
        {CAPTURE, QStringLiteral("record every byte on the line into FILE (pcapng, for Wireshark)"),
         QStringLiteral("FILE")},
        {CAPTURE_LIMIT,
         QStringLiteral("stop recording before the capture passes MIB MiB, 1..%1 (default %2)")
             .arg(MAX_CAPTURE_LIMIT_MIB)
             .arg(DEFAULT_CAPTURE_LIMIT_MIB),
         QStringLiteral("MIB")},
    };
}

bool is_capture_option(const QString& name)
{
    return name == CAPTURE || name == CAPTURE_LIMIT;
}

std::optional<capture_request> capture_request_of(const QCommandLineParser& parser,
                                                  const QStringList& arguments)
{
    if (!parser.isSet(CAPTURE)) {
        if (parser.isSet(CAPTURE_LIMIT))
            throw usage_error{QStringLiteral("--capture-limit needs --capture FILE")};
        return std::nullopt;
    }
    capture_request request;
    request.file = parser.value(CAPTURE);
    if (request.file.isEmpty())
        throw usage_error{QStringLiteral("--capture needs a file name")};
    if (parser.isSet(CAPTURE_LIMIT))
        request.limit_mib = number_option(parser, CAPTURE_LIMIT, 1, MAX_CAPTURE_LIMIT_MIB);
    QStringList shown;
    for (const QString& argument : arguments.mid(1))
        shown << shown_argument(argument);
    request.command = shown.join(u' ');
    return request;
}

std::variant<std::unique_ptr<line_capture>, int>
open_capture(const std::optional<capture_request>& request)
{
    if (!request)
        return std::unique_ptr<line_capture>();
    const QString tool =
        QCoreApplication::applicationName() + u' ' + QCoreApplication::applicationVersion();
    auto created =
        line_capture::create(request->file, tool + QStringLiteral(": ") + request->command, tool,
                             std::uint64_t(request->limit_mib) * 1024 * 1024);
    if (const auto* failure = std::get_if<file_failure>(&created)) {
        out.error(QStringLiteral("cannot write the capture %1: %2; nothing was sent")
                      .arg(request->file, failure_text(*failure)));
        return EXIT_BAD_FILE;
    }
    auto capture = std::get<std::unique_ptr<line_capture>>(std::move(created));
    QObject::connect(capture.get(), &line_capture::capture_stopped, capture.get(),
                     [file = request->file, limit = request->limit_mib,
                      self = capture.get()](line_capture::stop_reason why) {
                         if (why == line_capture::stop_reason::limit)
                             out.error(QStringLiteral("capture stopped at its %1 MiB limit: %2; "
                                                      "the rest of the run was not recorded")
                                           .arg(limit)
                                           .arg(file));
                         else if (self->failure())
                             out.error(QStringLiteral("cannot write the capture %1: %2; the rest "
                                                      "of the run was not recorded")
                                           .arg(file, failure_text(*self->failure())));
                     });
    return capture;
}

}  // namespace lorvane::cli
