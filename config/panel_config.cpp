#include "panel_config.h"

namespace lorvane {

const std::array<QString, 3>& operation_texts()
{
    // The second text holds one ASCII space between its halves. Files and the wire keep
    // these texts; the window shows them translated (context operation_texts).
    static const std::array<QString, 3> texts{
        QStringLiteral(QT_TRANSLATE_NOOP("operation_texts", "按下翻转")),
        QStringLiteral(QT_TRANSLATE_NOOP("operation_texts", "按下闭合 抬起断开")),
        QStringLiteral(QT_TRANSLATE_NOOP("operation_texts", "按下点动闭合0.5秒")),
    };
    return texts;
}

operation_code operation_code_of(const QString& text)
{
    const auto& texts = operation_texts();
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if (text == texts[i])
            return static_cast<operation_code>(i + 1);
    }
    return 0;
}

QString operation_text_of(std::uint8_t code)
{
    if (code >= 1 && code <= operation_texts().size())
        return operation_texts()[code - 1u];
    return {};
}

std::optional<std::uint8_t> byte_of_text(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == u' ')
        ++begin;
    while (end > begin && text[end - 1] == u' ')
        --end;
    if (begin == end)
        return std::nullopt;

    unsigned value = 0;
    for (qsizetype i = begin; i < end; ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')  // ASCII digits only: no sign, point, space or letter
            return std::nullopt;
        value = value * 10u + static_cast<unsigned>(c - u'0');
        if (value > 255u)  // stop early, so that long texts cannot overflow
            return std::nullopt;
    }
    return static_cast<std::uint8_t>(value);
}

QString text_of_byte(std::uint8_t value)
{
    return QString::number(value);
}

record_values values_of_record(const panel_config& config, record_no record)
{
    if (record == 0)
        return {config.refresh_period, 0, 0};
    if (is_valid_record(record)) {
        const key_binding& key = config.keys[static_cast<std::size_t>(record - 1)];
        return {key.address, key.line, key.operation};
    }
    return {};
}

void store_record(panel_config& config, record_no record, const record_values& values)
{
    if (record == 0) {
        config.refresh_period = values.value1;
    } else if (is_valid_record(record)) {
        config.keys[static_cast<std::size_t>(record - 1)] = {values.value1, values.value2,
                                                             values.value3};
    }
}

}  // namespace lorvane
