// The window's own words for what the transfers, the engine and the file access report: the
// transfer buttons' captions and messages, a file that cannot be opened or saved, a refused
// configuration file, and the differences a comparison found.
#pragma once

#include "config_compare.h"
#include "file_access.h"
#include "panel_file.h"

#include <QCoreApplication>
#include <QString>

#include <vector>

namespace lorvane {

inline const QString WRITE_CAPTION =
    QStringLiteral(QT_TRANSLATE_NOOP("window_texts", "写入到模块"));
inline const QString READ_CAPTION = QStringLiteral(QT_TRANSLATE_NOOP("window_texts", "从模块读取"));
inline const QString WRITE_PROGRESS = QStringLiteral(QT_TRANSLATE_NOOP("window_texts", "已写入 "));
inline const QString READ_PROGRESS = QStringLiteral(QT_TRANSLATE_NOOP("window_texts", "已读取 "));
inline const QString PORT_CLOSED_MESSAGE =
    QStringLiteral(QT_TRANSLATE_NOOP("window_texts", "先打开串口，然后写入"));
inline const QString RECORD_TOO_LARGE_MESSAGE =
    QStringLiteral(QT_TRANSLATE_NOOP("window_texts", "数据量过大"));
inline const QString WRITE_DONE_MESSAGE =
    QStringLiteral(QT_TRANSLATE_NOOP("window_texts", "全部数据写入完毕"));
inline const QString READ_DONE_MESSAGE =
    QStringLiteral(QT_TRANSLATE_NOOP("window_texts", "全部数据读取完毕"));

// The message shown when no reply came for `record` within the time-out.
QString no_reply_message(int record);

// An operation text of config/ (operation_texts()) in the window's language; any other text
// as it is. operation_from_window() goes back: the source text of a shown one.
QString operation_in_window(const QString& text);
QString operation_from_window(const QString& shown);

// An operation code in a comparison: its text, "（无）" for 0, "（代码 N）" for 4..255.
QString operation_shown(std::uint8_t code);

// "模块自身地址", "刷新周期", "按键3 的地址", "按键3 的线路" (key = 1..16).
QString field_name(byte_field field, int key = 0);

// The message for a field whose text is not a byte, naming the field and the range.
QString bad_byte_message(byte_field field, int key = 0);

// What is wrong with a refused file, in Chinese, naming the member as the command line
// names it and the accepted values.
QString panel_file_problem_text(const panel_file_error& error);

// Why a file could not be opened (`saving` false) or saved, in Chinese; the system's own
// words only where no common cause fits, after the Chinese. `what` is the kind of file a
// folder or a device is not: 工程文件, 报告; empty for 配置文件.
QString file_failure_text(const file_failure& failure, bool saving, const QString& what = {});

// A file name as the boxes show it: a byte of a name that is not UTF-8 as \xNN.
QString shown_file_name(const QString& path);

// The comparison's one message: the module holds what the window shows, or each
// difference on a line of its own ("按键3 线路：窗口 5，模块 7").
QString check_result_text(int module_address, const std::vector<config_difference>& differences);

}  // namespace lorvane
