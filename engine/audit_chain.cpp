#include "audit_chain.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace lorvane {

QByteArray line_digest(QByteArrayView line)
{
    return QCryptographicHash::hash(line, QCryptographicHash::Sha256).toHex();
}

QByteArray first_prev()
{
    return QByteArray(64, '0');
}

bool is_digest(QByteArrayView text)
{
    if (text.size() != 64)
        return false;
    for (const char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

std::variant<log_end, file_failure> read_log_end(const QString& path)
{
    // One byte more than the longest line, so that the break before it is in the tail too.
    auto tail = read_file_tail(path, AUDIT_LINE_MAX_SIZE + 1);
    if (auto* failure = std::get_if<file_failure>(&tail)) {
        if (failure->kind == file_problem::not_found)
            return log_end{first_prev(), false};
        return *failure;
    }
    QByteArray& bytes = std::get<QByteArray>(tail);
    log_end end{first_prev(), false};
    if (bytes.isEmpty())
        return end;
    end.needs_break = !bytes.endsWith('\n');
    if (!end.needs_break)
        bytes.chop(1);
    const qsizetype previous_break = bytes.lastIndexOf('\n');
    if (previous_break < 0 && bytes.size() > AUDIT_LINE_MAX_SIZE)
        return file_failure{file_problem::too_large, {}, false};
    end.head = line_digest(QByteArrayView(bytes).sliced(previous_break + 1));
    return end;
}

chain_check check_chain(QByteArrayView bytes, QByteArrayView head)
{
    chain_check check;
    check.head = first_prev();
    bool chained = false;
    qsizetype start = 0;
    while (start < bytes.size()) {
        qsizetype end = bytes.indexOf('\n', start);
        if (end < 0)
            end = bytes.size();
        const QByteArrayView line = bytes.sliced(start, end - start);
        start = end + 1;
        ++check.lines;
        QJsonParseError error{};
        const QJsonDocument document =
            QJsonDocument::fromJson(QByteArray::fromRawData(line.data(), line.size()), &error);
        if (error.error != QJsonParseError::NoError || !document.isObject()) {
            check.problem = chain_problem::not_an_object;
            check.line = check.lines;
            return check;
        }
        const QJsonObject entry = document.object();
        const auto prev = entry.constFind(QLatin1String("prev"));
        if (prev == entry.constEnd()) {
            if (chained) {
                check.problem = chain_problem::unchained_later;
                check.line = check.lines;
                return check;
            }
            ++check.unchained;
        } else {
            chained = true;
            if (prev->toString().toLatin1() != check.head) {
                check.problem = chain_problem::prev_mismatch;
                check.line = check.lines;
                return check;
            }
        }
        check.head = line_digest(line);
        if (!head.isEmpty() && check.head_line == 0 && check.head == head)
            check.head_line = check.lines;
    }
    if (!head.isEmpty() && check.head_line == 0) {
        check.problem = chain_problem::head_not_found;
        check.line = check.lines;
    }
    return check;
}

}  // namespace lorvane
