#include "console.h"

#include <cerrno>
#include <cstdio>

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

// Longest message shown whole; a file name or a system text rarely comes near it.
constexpr qsizetype MESSAGE_LIMIT = 2000;

void put(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

bool shown_as_escape(QChar c)
{
    switch (c.category()) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
    case QChar::Other_Surrogate:  // a lone half; whole pairs are passed over before
        return true;
    default:
        return false;
    }
}

}  // namespace

QString one_line(const QString& text)
{
    QString shown;
    shown.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            shown += c;
            shown += text[++i];
            continue;
        }
        if (!shown_as_escape(c)) {
            shown += c;
            continue;
        }
        const char16_t code = c.unicode();
        if (code == u'\n')
            shown += QStringLiteral("\\n");
        else if (code == u'\r')
            shown += QStringLiteral("\\r");
        else if (code == u'\t')
            shown += QStringLiteral("\\t");
        else if (code < 0x100)
            shown += QStringLiteral("\\x%1").arg(int(code), 2, 16, QLatin1Char('0'));
        else if (code >= 0xDC80 && code <= 0xDCFF)  // a byte of a name that is not UTF-8
            shown += QStringLiteral("\\x%1").arg(int(code - 0xDC00), 2, 16, QLatin1Char('0'));
        else
            shown += QStringLiteral("\\u%1").arg(int(code), 4, 16, QLatin1Char('0'));
    }
    if (shown.size() > MESSAGE_LIMIT) {
        const qsizetype keep =
            shown[MESSAGE_LIMIT - 1].isHighSurrogate() ? MESSAGE_LIMIT - 1 : MESSAGE_LIMIT;
        shown = shown.left(keep) + QStringLiteral("... (%1 characters)").arg(shown.size());
    }
    return shown;
}

void console::set(bool quiet, bool trace)
{
    quiet_ = quiet;
    trace_ = trace;
    live_ = !quiet && !trace && LORVANE_ISATTY(LORVANE_FILENO(stderr));
    clock_.start();
}

void console::progress(const QString& text)
{
    if (!live_)
        return;
    put(QStringLiteral("\rlorvane-cli: ") + one_line(text) + QStringLiteral("\x1b[K"));
    progress_shown_ = true;
}

void console::end_progress()
{
    if (!progress_shown_)
        return;
    put(QStringLiteral("\r\x1b[K"));
    progress_shown_ = false;
}

void console::trace(const char* direction, const frame& bytes, const QString& verdict)
{
    trace_bytes(direction,
                QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size())),
                verdict);
}

void console::trace_bytes(const char* direction, const QByteArray& bytes, const QString& verdict)
{
    line(QStringLiteral("trace %1 ms %2 %3%4")
             .arg(double(clock_.nsecsElapsed()) / 1e6, 0, 'f', 3)
             .arg(QLatin1String(direction), QString::fromLatin1(bytes.toHex(' ').toUpper()),
                  verdict.isEmpty() ? QString() : u' ' + verdict));
}

std::optional<QString> console::result(const QByteArray& bytes)
{
    end_progress();
    errno = 0;
    if (std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stdout) ==
            std::size_t(bytes.size()) &&
        std::fflush(stdout) == 0)
        return std::nullopt;
    const int error = errno;
    return error != 0 ? qt_error_string(error) : QStringLiteral("write error");
}

void console::line(const QString& text)
{
    end_progress();
    put(QStringLiteral("lorvane-cli: ") + one_line(text) + u'\n');
}

}  // namespace lorvane::cli
