#include "json_text.h"

#include <algorithm>

#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>

namespace lorvane {

QByteArray json_quoted(const QString& text)
{
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

QString shown_text(const QString& text)
{
    if (text.size() <= SHOWN_TEXT_LIMIT)
        return text;
    const qsizetype keep =
        text[SHOWN_TEXT_LIMIT - 1].isHighSurrogate() ? SHOWN_TEXT_LIMIT - 1 : SHOWN_TEXT_LIMIT;
    return text.left(keep) + QStringLiteral("... (%1 characters)").arg(text.size());
}

namespace {

// Thrown inside the walk only, at the first member given twice.
struct repeated
{
    QString member;
};

class literal_walk
{
public:
    literal_walk(const QByteArray& json, QHash<QString, QString>& fractions)
        : text_(json), fractions_(fractions)
    {
        value({});
    }

private:
    char peek() const { return pos_ < text_.size() ? text_[pos_] : '\0'; }
    void skip_space()
    {
        while (peek() == ' ' || peek() == '\t' || peek() == '\n' || peek() == '\r')
            ++pos_;
    }

    void skip_word()
    {
        while (peek() >= 'a' && peek() <= 'z')
            ++pos_;
    }

    void value(const QString& path)
    {
        skip_space();
        const char c = peek();
        if (c == '{')
            object(path);
        else if (c == '[')
            array(path);
        else if (c == '"')
            string();
        else if (c == '-' || (c >= '0' && c <= '9'))
            number(path);
        else
            skip_word();  // true, false, null
    }

    void object(const QString& path)
    {
        ++pos_;  // {
        QSet<QString> names;
        skip_space();
        while (peek() == '"') {
            const QString name = string();
            const QString member =
                path.isEmpty() ? shown_text(name) : path + u'.' + shown_text(name);
            if (names.contains(name))
                throw repeated{member};
            names.insert(name);
            skip_space();
            ++pos_;  // :
            value(member);
            skip_space();
            if (peek() == ',')
                ++pos_;
            skip_space();
        }
        ++pos_;  // }
    }

    void array(const QString& path)
    {
        ++pos_;  // [
        skip_space();
        for (int index = 0; pos_ < text_.size() && peek() != ']'; ++index) {
            value(QStringLiteral("%1[%2]").arg(path).arg(index));
            skip_space();
            if (peek() == ',')
                ++pos_;
            skip_space();
        }
        ++pos_;  // ]
    }

    QString string()
    {
        ++pos_;  // opening quote
        QString decoded;
        qsizetype run = pos_;
        while (pos_ < text_.size() && peek() != '"') {
            if (peek() != '\\') {
                ++pos_;
                continue;
            }
            decoded += QString::fromUtf8(text_.mid(run, pos_ - run));
            const char escaped = pos_ + 1 < text_.size() ? text_[pos_ + 1] : '\0';
            pos_ += 2;
            switch (escaped) {
            case 'b':
                decoded += u'\b';
                break;
            case 'f':
                decoded += u'\f';
                break;
            case 'n':
                decoded += u'\n';
                break;
            case 'r':
                decoded += u'\r';
                break;
            case 't':
                decoded += u'\t';
                break;
            case 'u':
                decoded += QChar(char16_t(text_.mid(pos_, 4).toUShort(nullptr, 16)));
                pos_ += 4;
                break;
            default:  // " \ /
                decoded += QLatin1Char(escaped);
            }
            run = pos_;
        }
        decoded += QString::fromUtf8(text_.mid(run, pos_ - run));
        ++pos_;  // closing quote
        return decoded;
    }

    void number(const QString& path)
    {
        const qsizetype start = pos_;
        while (peek() == '-' || peek() == '+' || peek() == '.' || peek() == 'e' || peek() == 'E' ||
               (peek() >= '0' && peek() <= '9'))
            ++pos_;
        const QByteArray literal = text_.mid(start, pos_ - start);
        if (!whole(literal))
            fractions_.insert(path, QString::fromLatin1(literal));
    }

    // Whether the decimal number `literal` (JSON syntax) is whole, exactly as written.
    static bool whole(const QByteArray& literal)
    {
        qsizetype exponent_at = literal.indexOf('e');
        if (exponent_at < 0)
            exponent_at = literal.indexOf('E');
        const QByteArray mantissa = exponent_at < 0 ? literal : literal.left(exponent_at);
        qint64 exponent = 0;
        if (exponent_at >= 0) {
            const QByteArray text = literal.mid(exponent_at + 1);
            bool ok = false;
            exponent = text.toLongLong(&ok);
            if (!ok)  // beyond any double: huge (whole) or tiny (not whole unless zero)
                exponent = text.startsWith('-') ? -(qint64(1) << 40) : qint64(1) << 40;
        }
        const qsizetype dot = mantissa.indexOf('.');
        const QByteArray fraction = dot < 0 ? QByteArray() : mantissa.mid(dot + 1);
        QByteArray digits = (dot < 0 ? mantissa : mantissa.left(dot)) + fraction;
        digits.replace('-', QByteArray());
        // The value is digits x 10^-scale: whole when the last `scale` digits are zeros.
        const qint64 scale = qint64(fraction.size()) - exponent;
        qsizetype zeros = 0;
        while (zeros < digits.size() && digits[digits.size() - 1 - zeros] == '0')
            ++zeros;
        return zeros == digits.size() || scale <= qint64(zeros);
    }

    const QByteArray& text_;
    QHash<QString, QString>& fractions_;
    qsizetype pos_ = 0;
};

}  // namespace

json_place json_place_of(const QByteArray& json, qsizetype offset)
{
    json_place place;
    const qsizetype end = std::min(offset, json.size());
    for (qsizetype i = 0; i < end; ++i) {
        const auto byte = static_cast<unsigned char>(json[i]);
        if (byte == '\n') {
            ++place.line;
            place.column = 1;
        } else if ((byte & 0xC0) != 0x80) {  // not a UTF-8 continuation byte
            ++place.column;
        }
    }
    return place;
}

json_literal_scan::json_literal_scan(const QByteArray& json)
{
    try {
        literal_walk(json, fractions);
    } catch (const repeated& r) {
        repeated_member = r.member;
    }
}

QString shown_json(const QJsonValue& value, const std::optional<QString>& as_written,
                   const QString& absent)
{
    switch (value.type()) {
    case QJsonValue::String:
        return u'"' + shown_text(value.toString()) + u'"';
    case QJsonValue::Double:
        return as_written.value_or(QString::number(value.toDouble(), 'g', 17));
    case QJsonValue::Bool:
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QJsonValue::Null:
        return QStringLiteral("null");
    case QJsonValue::Array:
        return QStringLiteral("an array");
    case QJsonValue::Object:
        return QStringLiteral("an object");
    default:
        return absent;
    }
}

}  // namespace lorvane
