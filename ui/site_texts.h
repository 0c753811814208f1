// The window's words for a whole site: a refused site file, each module's status and
// differences, a bus that could not be reached, the summary of a run, the questions and
// messages of the site window, and the Chinese words of the HTML report.
#pragma once

#include "site_file.h"
#include "site_report.h"
#include "site_result.h"

#include <QCoreApplication>
#include <QString>

namespace lorvane {

inline const QString OPEN_SITE_TITLE =
    QStringLiteral(QT_TRANSLATE_NOOP("site_texts", "打开工程文件"));
inline const QString SAVE_REPORT_TITLE =
    QStringLiteral(QT_TRANSLATE_NOOP("site_texts", "保存报告"));
inline const QString SITE_FILE_FILTER =
    QStringLiteral(QT_TRANSLATE_NOOP("site_texts", "工程文件 (*.json);;所有文件 (*)"));
inline const QString REPORT_FILE_FILTER =
    QStringLiteral(QT_TRANSLATE_NOOP("site_texts", "HTML 报告 (*.html);;所有文件 (*)"));
// The question (in a box titled APPLICATION_TITLE) after the report's file name: add the
// as-built appendix (every module's keys)?
inline const QString AS_BUILT_QUESTION = QStringLiteral(QT_TRANSLATE_NOOP(
    "site_texts", "报告中是否附上竣工资料（每个模块的 16 个按键、刷新周期和配置文件）？"));
inline const QString AS_BUILT_YES = QStringLiteral(QT_TRANSLATE_NOOP("site_texts", "附上竣工资料"));
inline const QString AS_BUILT_NO = QStringLiteral(QT_TRANSLATE_NOOP("site_texts", "只保存报告"));
// The filter of the site window's tree, and the keys that go from one problem to the next.
inline const QString ONLY_PROBLEMS_TEXT =
    QStringLiteral(QT_TRANSLATE_NOOP("site_texts", "只看问题 (Ctrl+P)"));
inline const QString ONLY_PROBLEMS_TIP = QStringLiteral(QT_TRANSLATE_NOOP(
    "site_texts",
    "只显示有问题或已写入的总线和模块：不同、失败、无应答、未登记、未完成、线路警告、已写入"));
inline const QString PROBLEM_KEYS_HINT =
    QStringLiteral(QT_TRANSLATE_NOOP("site_texts", "F8 下一个问题，Shift+F8 上一个问题"));
// The status of a bus whose port could not be opened, and of the modules on it.
inline const QString UNREACHABLE_WORD =
    QStringLiteral(QT_TRANSLATE_NOOP("site_texts", "串口无法打开"));
inline const QString PORT_LOST_WORD = QStringLiteral(QT_TRANSLATE_NOOP("site_texts", "串口已断开"));

// "4.2 秒", "2 分 5 秒".
QString seconds_words(double seconds);

// "工程：NAME", the site window's title.
QString site_window_title(const QString& site);

// The one box for a site file that cannot be opened, in the words of the panel file's boxes:
// "无法打开工程文件 site.json：成员 buses[1].port ……".
QString site_file_message(const site_file_error& error, const QString& site_path);

// 相同, 不同, 无应答, 未登记, 未改动, 已写入, 失败, 已中断, 未进行, 已读取.
QString status_word(module_status status);

// One difference of a module: "按键3 线路：计划 5，实际 7"; after a write (status written),
// what it changed: "按键3 线路：原为 7，改为 5".
QString difference_words(const config_difference& difference, module_status status);

// What else there is to say about a module: where it stopped, an unexpected one's refresh
// period; empty when nothing.
QString module_detail_words(const module_result& module);

// All of it for the tree's 差异 column: the differences found, then the detail.
QString module_difference_column(const module_result& module);

// "43.0 ms（42.1–45.2）": the median reply time with the least and the greatest.
QString reply_time_words(const reply_times& times);

// Why bus `bus` of `result` could not be reached, or went away, in a few words.
QString bus_failure_words(const site_result& result, const bus_result& bus);

// "核对完毕：2 条总线，5 个模块：3 个相同，1 个不同，1 个无应答（6.1 秒）".
QString site_summary(const site_result& result);

// The counts of one bus's modules by status: "3 个相同，1 个不同".
QString bus_counts(const bus_result& bus);

// A bus's status at its end: "2 个问题", 完成 only when it has none; "已停止，2 个问题" or
// 已停止 for a run that was stopped.
QString bus_status_words(int problems, bool stopped);

// The status line's note that files had changed when a run read them afresh: the site file
// (its shown name; empty when it had not changed) and the panel files, by their paths in the
// site file. "配置文件已改变，已重新读取：east/3.json、east/9.json".
QString files_changed_words(const QString& site_file, const QStringList& panel_paths);

// "先在主窗口中关闭串口 PORT".
QString close_in_main_window_first(const QString& port);

// The confirmation before a write of `plan`: how many modules on which buses will be written,
// by the last check when there is one (null otherwise), and where each write is logged.
QString write_question(const site_plan& plan, const site_result* last_check,
                       const QString& log_path);

// The box after a write was stopped by closing the site window: what was written, each module
// cut off with its record (said to be logged in `log_path` only when the log names it), and
// how many were stopped before anything was written.
QString write_stopped_message(const site_result& result, const QString& log_path);

// What the bus's scan left in doubt: a module may have been missed; empty when nothing.
QString scan_doubt_words(const bus_result& bus);

// The audit log could not be opened before a write, or appended to during one.
QString log_open_failed_message(const QString& log_path, const QString& reason);
QString log_failed_message(const QString& log_path, const QString& reason);

// A report that could not be written.
QString report_failed_message(const QString& path, const QString& reason);

// The report's file name to suggest: "NAME 核对报告 2025-03-04 0912.html".
QString report_file_name(const site_result& result);

class chinese_report_words final : public site_report_words
{
public:
    explicit chinese_report_words(const site_result& result) : result_(result) {}

    QString language() const override;  // the window's: zh-CN or en
    QString label(report_label label) const override;
    QString action(site_action action) const override;
    QString status(module_status status) const override;
    QString count(module_status status) const override;
    QString verdict(site_action action, int open) const override;
    QString operation(std::uint8_t code) const override;
    QString unreachable_count(int n) const override;
    QString site_size(const site_counts& counts) const override;
    QString bus_outcome(const bus_result& bus) const override;
    QString scan_warning(const bus_result& bus) const override;
    QString difference(const config_difference& difference, module_status status) const override;
    QString detail(const module_result& module) const override;
    QString reply_times(const lorvane::reply_times& times) const override;
    QString time(const QDateTime& utc) const override;
    QString duration(double seconds) const override;
    QString map_title(const bus_result& bus) const override;
    QString map_description(const bus_result& bus) const override;
    QString cell_title(int address, const module_result& module) const override;
    // The line health's words (health_texts.cpp).
    QString health_word(health_label label) const override;
    QString counter(health_counter counter) const override;
    QString finding(const health_finding& finding) const override;
    QString reply_summary(const reply_time_summary& times) const override;
    QString histogram_title(const bus_result& bus) const override;
    QString histogram_description(int replies, double from_ms, double to_ms) const override;
    QString histogram_bar(double from_ms, double to_ms, int replies) const override;

private:
    const site_result& result_;
};

}  // namespace lorvane
