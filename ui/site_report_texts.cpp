// The Chinese words of the HTML report of a site run, as the site window saves it.
#include "site_texts.h"
#include "window_texts.h"

#include <QStringList>

namespace lorvane {

QString chinese_report_words::label(report_label label) const
{
    switch (label) {
    case report_label::time:
        return QStringLiteral("时间");
    case report_label::user:
        return QStringLiteral("用户");
    case report_label::host:
        return QStringLiteral("计算机");
    case report_label::tool:
        return QStringLiteral("工具");
    case report_label::duration:
        return QStringLiteral("用时");
    case report_label::summary:
        return QStringLiteral("概况");
    case report_label::port:
        return QStringLiteral("串口");
    case report_label::bus_map:
        return QStringLiteral("总线地址图：地址 0 至 255");
    case report_label::legend:
        return QStringLiteral("图例");
    case report_label::address:
        return QStringLiteral("地址");
    case report_label::panel:
        return QStringLiteral("配置文件");
    case report_label::status:
        return QStringLiteral("状态");
    case report_label::details:
        return QStringLiteral("差异");
    case report_label::reply_times:
        return QStringLiteral("应答时间（最短 / 中位 / 最长）");
    case report_label::no_panel:
        return QStringLiteral("工程中没有");
    case report_label::no_modules:
        return QStringLiteral("这条总线上没有模块。");
    case report_label::no_module_at:
        return QStringLiteral("无模块");
    case report_label::not_scanned:
        return QStringLiteral("未扫描");
    case report_label::open_items:
        return QStringLiteral("待处理事项");
    case report_label::bus:
        return QStringLiteral("总线");
    case report_label::problem:
        return QStringLiteral("问题");
    case report_label::unreachable:
        return UNREACHABLE_WORD;
    case report_label::scan_doubt:
        return QStringLiteral("扫描存疑");
    case report_label::files:
        return QStringLiteral("核对所用的文件（SHA-256）");
    case report_label::site_file:
        return QStringLiteral("工程文件");
    case report_label::log_head:
        return QStringLiteral("日志头");
    case report_label::as_built:
        return QStringLiteral("竣工资料");
    case report_label::module:
        return QStringLiteral("模块");
    case report_label::key:
        return QStringLiteral("按键");
    case report_label::key_address:
        return QStringLiteral("目标地址");
    case report_label::key_line:
        return QStringLiteral("线路");
    case report_label::key_operation:
        return QStringLiteral("操作");
    case report_label::refresh_period:
        return QStringLiteral("刷新周期");
    case report_label::found_in_module:
        return QStringLiteral("无（按模块中读到的）");
    }
    return {};
}

QString chinese_report_words::verdict(site_action action, int open) const
{
    if (open > 0)
        return QStringLiteral("%1 项待处理").arg(open);
    return action == site_action::adopt ? QStringLiteral("完成：每个模块都已读取")
                                        : QStringLiteral("完成：每个模块都与配置文件一致");
}

QString chinese_report_words::operation(std::uint8_t code) const
{
    return operation_shown(code);
}

QString chinese_report_words::action(site_action action) const
{
    switch (action) {
    case site_action::check:
        return QStringLiteral("工程核对");
    case site_action::write:
        return QStringLiteral("工程写入");
    case site_action::adopt:
        return QStringLiteral("工程读取");
    }
    return {};
}

QString chinese_report_words::status(module_status status) const
{
    return status_word(status);
}

QString chinese_report_words::count(module_status status) const
{
    return status_word(status);
}

QString chinese_report_words::unreachable_count(int) const
{
    return QStringLiteral("条总线无法连接");
}

QString chinese_report_words::site_size(const site_counts& counts) const
{
    return QStringLiteral("%1 条总线，计划中 %2 个模块").arg(counts.buses).arg(counts.modules);
}

QString chinese_report_words::bus_outcome(const bus_result& bus) const
{
    if (bus.reachable())
        return QStringLiteral("已连接");
    return (bus.failure->kind == bus_failure_kind::port_lost ? PORT_LOST_WORD : UNREACHABLE_WORD) +
           QStringLiteral("：") + bus_failure_words(result_, bus);
}

QString chinese_report_words::scan_warning(const bus_result& bus) const
{
    return scan_doubt_words(bus);
}

QString chinese_report_words::difference(const config_difference& d, module_status status) const
{
    return difference_words(d, status);
}

QString chinese_report_words::detail(const module_result& module) const
{
    return module_detail_words(module);
}

QString chinese_report_words::reply_times(const lorvane::reply_times& t) const
{
    return QStringLiteral("%1 / %2 / %3 毫秒")
        .arg(t.min_ms, 0, 'f', 1)
        .arg(t.median_ms, 0, 'f', 1)
        .arg(t.max_ms, 0, 'f', 1);
}

QString chinese_report_words::time(const QDateTime& utc) const
{
    const QDateTime local = utc.toLocalTime();
    const int offset = local.offsetFromUtc() / 60;
    return local.toString(QStringLiteral("yyyy年M月d日 HH:mm:ss")) +
           QStringLiteral("（UTC%1%2:%3）")
               .arg(QChar(offset < 0 ? u'-' : u'+'))
               .arg(std::abs(offset) / 60, 2, 10, QLatin1Char('0'))
               .arg(std::abs(offset) % 60, 2, 10, QLatin1Char('0'));
}

QString chinese_report_words::duration(double seconds) const
{
    return seconds_words(seconds);
}

QString chinese_report_words::map_title(const bus_result& bus) const
{
    return QStringLiteral("%1 的总线地址图").arg(bus.name);
}

QString chinese_report_words::map_description(const bus_result& bus) const
{
    QStringList parts;
    for (const module_result& m : bus.modules)
        parts << QStringLiteral("地址 %1 %2").arg(m.address).arg(status_word(m.status));
    QString rest;
    if (!bus.scanned_any())
        rest = QStringLiteral("其余地址：未扫描。");
    else if (bus.scanned(0) && bus.scanned(255))
        rest = QStringLiteral("其余地址：无模块。");
    else
        rest = QStringLiteral("地址 %1 至 %2 中的其余地址：无模块；其他地址：未扫描。")
                   .arg(bus.scan_first)
                   .arg(bus.scan_last);
    return QStringLiteral("地址 0 至 255，分 16 行，每行 16 个。%1。")
               .arg(parts.isEmpty() ? QStringLiteral("没有模块")
                                    : parts.join(QStringLiteral("，"))) +
           rest;
}

QString chinese_report_words::cell_title(int address, const module_result& module) const
{
    return module.panel >= 0
               ? QStringLiteral("地址 %1：%2（%3）")
                     .arg(QString::number(address), status_word(module.status), module.panel_path)
               : QStringLiteral("地址 %1：%2")
                     .arg(QString::number(address), status_word(module.status));
}

}  // namespace lorvane
