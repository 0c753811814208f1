#include "messages.h"

#include "panel_file.h"

namespace lorvane::cli {

QString record_name(int record)
{
    return record == 0 ? QStringLiteral("record 0 (refresh period)")
                       : QStringLiteral("record %1 (key %1)").arg(record);
}

QString trace_verdict(const frame_stream::item& item, item_fate fate, const frame& request)
{
    const auto hex = [](std::uint8_t byte) {
        return QStringLiteral("%1").arg(byte, 2, 16, QLatin1Char('0')).toUpper();
    };
    const auto function_name = [&hex](std::uint8_t function) {
        return function == FUNC_WRITE  ? QStringLiteral("write")
               : function == FUNC_READ ? QStringLiteral("read")
                                       : QStringLiteral("function %1").arg(hex(function));
    };
    const frame block = item.as_frame();
    switch (fate) {
    case item_fate::accepted:
        return QStringLiteral("accepted");
    case item_fate::other_address:
        return QStringLiteral("ignored (from address %1; the request went to %2)")
            .arg(block[POS_ADDRESS])
            .arg(request[POS_ADDRESS]);
    case item_fate::other_function:
        return QStringLiteral("ignored (a %1 reply; the request is a %2)")
            .arg(function_name(block[POS_FUNCTION]), function_name(request[POS_FUNCTION]));
    case item_fate::other_record:
        return QStringLiteral("ignored (for record %1; the request is for record %2)")
            .arg(block[POS_RECORD])
            .arg(request[POS_RECORD]);
    case item_fate::out_of_step:
        return QStringLiteral("ignored (out of step with the 8-byte blocks of its exchange)");
    case item_fate::unclaimed:
        return QStringLiteral("ignored (no request waits for a reply)");
    case item_fate::echo:
        return QStringLiteral("rejected (header %1, not %2)")
            .arg(hex(block[POS_HEADER]), hex(REPLY_HEADER));
    case item_fate::junk:
        if (item.bytes.size() == FRAME_SIZE && block[POS_HEADER] == REPLY_HEADER)
            return QStringLiteral("rejected (checksum %1, not %2)")
                .arg(hex(block[POS_CHECKSUM]), hex(frame_checksum(block)));
        return QStringLiteral("rejected (no frame in these bytes)");
    }
    return {};
}

QStringList differences(const std::vector<config_difference>& found)
{
    QStringList lines;
    for (const config_difference& d : found) {
        const char* field = d.field == config_field::refresh_period ? "refresh_period"
                            : d.field == config_field::key_address  ? "address"
                            : d.field == config_field::key_line     ? "line"
                                                                    : "operation";
        const bool operation = d.field == config_field::key_operation;
        lines << QStringLiteral("%1, %2: expected %3, found %4")
                     .arg(record_name(d.record), QLatin1String(field),
                          operation ? operation_name(d.expected) : QString::number(d.expected),
                          operation ? operation_name(d.found) : QString::number(d.found));
    }
    return lines;
}

}  // namespace lorvane::cli
