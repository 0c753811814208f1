#include "window_texts.h"

#include "language.h"
#include "transfer_sequences.h"

#include <QFileInfo>
#include <QStringList>

#include <chrono>

namespace lorvane {

namespace {

// Read when shown, so that it follows the window's language.
QString BYTE_RANGE()
{
    return window_texts_tr::tr("必须是 0 到 255 之间的整数");
}
// Read when shown, so that it follows the window's language.
QString OPERATION_RANGE()
{
    return window_texts_tr::tr(
        "必须是 \"none\"、\"toggle\"、\"momentary\"、\"pulse\"、窗口中的一种操作文字，"
        "或 0 到 255 之间的整数");
}

QString member(const panel_file_error& error)
{
    return window_texts_tr::tr("成员 %1").arg(error.field);
}

// What the member accepts, judged by its name.
QString accepted_of(const QString& field)
{
    if (field.endsWith(QStringLiteral(".operation")))
        return OPERATION_RANGE();
    if (field.endsWith(QStringLiteral(".key")))
        return window_texts_tr::tr("必须是 1 到 16 之间的整数");
    if (field == QStringLiteral("format"))
        return window_texts_tr::tr("必须是 \"%1\"").arg(PANEL_FILE_FORMAT);
    if (field == QStringLiteral("keys"))
        return window_texts_tr::tr("必须是包含 16 项的数组，按键 1 到 16 各一项");
    return BYTE_RANGE();
}

QString found(const panel_file_error& error)
{
    const QString value = error.kind == panel_file_problem::not_16_keys && error.entries >= 0
                              ? window_texts_tr::tr("%1 项").arg(error.entries)
                              : error.value;
    return value.isEmpty() ? QString() : window_texts_tr::tr("，而不是 %1").arg(value);
}

QString difference_text(const config_difference& d)
{
    const QString key = window_texts_tr::tr("按键%1").arg(d.record);
    switch (d.field) {
    case config_field::refresh_period:
        return window_texts_tr::tr("刷新周期：窗口 %1，模块 %2").arg(d.expected).arg(d.found);
    case config_field::key_address:
        return window_texts_tr::tr("%1 地址：窗口 %2，模块 %3")
            .arg(key)
            .arg(d.expected)
            .arg(d.found);
    case config_field::key_line:
        return window_texts_tr::tr("%1 线路：窗口 %2，模块 %3")
            .arg(key)
            .arg(d.expected)
            .arg(d.found);
    case config_field::key_operation:
        return window_texts_tr::tr("%1 操作：窗口 %2，模块 %3")
            .arg(key, operation_shown(d.expected), operation_shown(d.found));
    }
    return {};
}

}  // namespace

QString operation_in_window(const QString& text)
{
    if (operation_code_of(text) == 0)
        return text;
    return translated("operation_texts", text);
}

QString operation_from_window(const QString& shown)
{
    for (const QString& text : operation_texts()) {
        if (shown == operation_in_window(text))
            return text;
    }
    return shown;
}

QString operation_shown(std::uint8_t code)
{
    const QString text = operation_in_window(operation_text_of(code));
    if (!text.isEmpty())
        return text;
    return code == 0 ? window_texts_tr::tr("（无）") : window_texts_tr::tr("（代码 %1）").arg(code);
}

QString no_reply_message(int record)
{
    const QString what = record == 0 ? window_texts_tr::tr("刷新周期（记录 0）")
                                     : window_texts_tr::tr("按键%1（记录 %1）").arg(record);
    return window_texts_tr::tr("模块没有应答：等待%1的应答已超过 %2 秒，传输已停止。\n"
                               "请检查模块地址、接线和模块电源，然后重试。")
        .arg(what)
        .arg(std::chrono::duration<double>(REPLY_TIMEOUT).count());
}

QString field_name(byte_field field, int key)
{
    switch (field) {
    case byte_field::module_address:
        return window_texts_tr::tr("模块自身地址");
    case byte_field::refresh_period:
        return window_texts_tr::tr("刷新周期");
    case byte_field::key_address:
        return window_texts_tr::tr("按键%1 的地址").arg(key);
    case byte_field::key_line:
        return window_texts_tr::tr("按键%1 的线路").arg(key);
    }
    return {};
}

QString bad_byte_message(byte_field field, int key)
{
    return window_texts_tr::tr("%1必须是 0 到 255 之间的整数").arg(field_name(field, key));
}

QString panel_file_problem_text(const panel_file_error& error)
{
    switch (error.kind) {
    case panel_file_problem::not_json:
        return window_texts_tr::tr("不是有效的 JSON 文件（%1）。")
            .arg(window_texts_tr::tr("%1，第 %2 行第 %3 列（第 %4 字节）处")
                     .arg(error.value)
                     .arg(error.at.line)
                     .arg(error.at.column)
                     .arg(error.offset));
    case panel_file_problem::not_an_object:
        return error.field.isEmpty()
                   ? window_texts_tr::tr("文件必须包含一个 JSON 对象。")
                   : window_texts_tr::tr("%1 必须是一个对象%2。").arg(member(error), found(error));
    case panel_file_problem::unknown_member:
        return window_texts_tr::tr("%1 不是配置文件的成员。").arg(member(error));
    case panel_file_problem::given_twice:
        return window_texts_tr::tr("%1 出现了两次；每个成员只能出现一次。").arg(member(error));
    case panel_file_problem::missing:
        return window_texts_tr::tr("缺少%1；它%2。").arg(member(error), accepted_of(error.field));
    case panel_file_problem::key_twice:
        return window_texts_tr::tr("%1 第二次给出了按键 %2；按键 1 到 16 各只能出现一次。")
            .arg(member(error), error.value);
    case panel_file_problem::too_large:
        return window_texts_tr::tr("文件过大（配置文件不超过 %1 KiB）。")
            .arg(PANEL_FILE_MAX_SIZE / 1024);
    case panel_file_problem::wrong_format:
    case panel_file_problem::not_a_byte:
    case panel_file_problem::not_a_key:
    case panel_file_problem::not_16_keys:
    case panel_file_problem::bad_operation:
        return window_texts_tr::tr("%1 %2%3。")
            .arg(member(error), accepted_of(error.field), found(error));
    case panel_file_problem::other:
        break;
    }
    return error.field.isEmpty() ? error.problem : member(error) + u' ' + error.problem;
}

QString file_failure_text(const file_failure& failure, bool saving, const QString& what)
{
    const QString kind = what.isEmpty() ? window_texts_tr::tr("配置文件") : what;
    QString text;
    switch (failure.kind) {
    case file_problem::not_found:
        text = saving ? window_texts_tr::tr("找不到文件所在的文件夹。")
                      : window_texts_tr::tr("找不到文件。");
        break;
    case file_problem::permission_denied:
        text = saving ? window_texts_tr::tr("没有权限写入该文件或其所在的文件夹。")
                      : window_texts_tr::tr("没有权限读取该文件。");
        break;
    case file_problem::is_folder:
        text = window_texts_tr::tr("这是一个文件夹，不是%1。").arg(kind);
        break;
    case file_problem::not_regular:
        text =
            window_texts_tr::tr("它不是普通文件（而是设备、管道或套接字），不能作为%1。").arg(kind);
        break;
    case file_problem::not_writable:
        text = window_texts_tr::tr("文件不可写（只读）。");
        break;
    case file_problem::disk_full:
        text = window_texts_tr::tr("磁盘已满（或已用完磁盘配额）。");
        break;
    case file_problem::name_too_long:
        text = window_texts_tr::tr("文件名太长。");
        break;
    case file_problem::too_large:
        return panel_file_problem_text({{}, {}, panel_file_problem::too_large, {}, {}, 0, -1});
    case file_problem::read_only_file_system:
        text = window_texts_tr::tr("文件所在的磁盘或文件系统是只读的。");
        break;
    case file_problem::other:
        text = saving ? window_texts_tr::tr("写入文件时出错（系统原因：%1）。").arg(failure.reason)
                      : window_texts_tr::tr("读取文件时出错（系统原因：%1）。").arg(failure.reason);
        break;
    }
    if (failure.partial)
        text += window_texts_tr::tr("文件可能已不完整。");
    return text;
}

QString shown_file_name(const QString& path)
{
    const QString name = QFileInfo(path).fileName();
    QString shown;
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = name[i].unicode();
        const bool stray_byte =
            c >= 0xDC80 && c <= 0xDCFF && (i == 0 || !name[i - 1].isHighSurrogate());
        shown += stray_byte ? QStringLiteral("\\x%1").arg(int(c - 0xDC00), 2, 16, QLatin1Char('0'))
                            : QString(name[i]);
    }
    return shown;
}

QString check_result_text(int module_address, const std::vector<config_difference>& differences)
{
    if (differences.empty())
        return window_texts_tr::tr("模块 %1 中的配置与窗口中的完全一致。").arg(module_address);
    QStringList lines{window_texts_tr::tr("模块 %1 中的配置与窗口中有 %2 处不同：")
                          .arg(module_address)
                          .arg(differences.size())};
    for (const config_difference& d : differences)
        lines << difference_text(d);
    return lines.join(u'\n');
}

}  // namespace lorvane
