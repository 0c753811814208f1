// The Chinese words of the HTML report of a site run, as the site window saves it.
#include "language.h"
#include "site_texts.h"
#include "window_texts.h"

#include <QStringList>

namespace lorvane {

QString chinese_report_words::label(report_label label) const
{
    switch (label) {
    case report_label::time:
        return site_report_texts_tr::tr("时间");
    case report_label::user:
        return site_report_texts_tr::tr("用户");
    case report_label::host:
        return site_report_texts_tr::tr("计算机");
    case report_label::tool:
        return site_report_texts_tr::tr("工具");
    case report_label::duration:
        return site_report_texts_tr::tr("用时");
    case report_label::summary:
        return site_report_texts_tr::tr("概况");
    case report_label::port:
        return site_report_texts_tr::tr("串口");
    case report_label::bus_map:
        return site_report_texts_tr::tr("总线地址图：地址 0 至 255");
    case report_label::legend:
        return site_report_texts_tr::tr("图例");
    case report_label::address:
        return site_report_texts_tr::tr("地址");
    case report_label::panel:
        return site_report_texts_tr::tr("配置文件");
    case report_label::status:
        return site_report_texts_tr::tr("状态");
    case report_label::details:
        return site_report_texts_tr::tr("差异");
    case report_label::reply_times:
        return site_report_texts_tr::tr("应答时间（最短 / 中位 / 最长）");
    case report_label::no_panel:
        return site_report_texts_tr::tr("工程中没有");
    case report_label::no_modules:
        return site_report_texts_tr::tr("这条总线上没有模块。");
    case report_label::no_module_at:
        return site_report_texts_tr::tr("无模块");
    case report_label::not_scanned:
        return site_report_texts_tr::tr("未扫描");
    case report_label::open_items:
        return site_report_texts_tr::tr("待处理事项");
    case report_label::bus:
        return site_report_texts_tr::tr("总线");
    case report_label::problem:
        return site_report_texts_tr::tr("问题");
    case report_label::unreachable:
        return translated("site_texts", UNREACHABLE_WORD);
    case report_label::scan_doubt:
        return site_report_texts_tr::tr("扫描存疑");
    case report_label::files:
        return site_report_texts_tr::tr("核对所用的文件（SHA-256）");
    case report_label::site_file:
        return site_report_texts_tr::tr("工程文件");
    case report_label::log_head:
        return site_report_texts_tr::tr("日志头");
    case report_label::as_built:
        return site_report_texts_tr::tr("竣工资料");
    case report_label::module:
        return site_report_texts_tr::tr("模块");
    case report_label::key:
        return site_report_texts_tr::tr("按键");
    case report_label::key_address:
        return site_report_texts_tr::tr("目标地址");
    case report_label::key_line:
        return site_report_texts_tr::tr("线路");
    case report_label::key_operation:
        return site_report_texts_tr::tr("操作");
    case report_label::refresh_period:
        return site_report_texts_tr::tr("刷新周期");
    case report_label::found_in_module:
        return site_report_texts_tr::tr("无（按模块中读到的）");
    }
    return {};
}

QString chinese_report_words::verdict(site_action action, int open) const
{
    if (open > 0)
        return site_report_texts_tr::tr("%1 项待处理").arg(open);
    return action == site_action::adopt
               ? site_report_texts_tr::tr("完成：每个模块都已读取")
               : site_report_texts_tr::tr("完成：每个模块都与配置文件一致");
}

QString chinese_report_words::operation(std::uint8_t code) const
{
    return operation_shown(code);
}

QString chinese_report_words::action(site_action action) const
{
    switch (action) {
    case site_action::check:
        return site_report_texts_tr::tr("工程核对");
    case site_action::write:
        return site_report_texts_tr::tr("工程写入");
    case site_action::adopt:
        return site_report_texts_tr::tr("工程读取");
    }
    return {};
}

QString chinese_report_words::status(module_status status) const
{
    return status_word(status);
}

QString chinese_report_words::language() const
{
    return current_language() == lorvane::language::english ? QStringLiteral("en")
                                                            : QStringLiteral("zh-CN");
}

QString chinese_report_words::count(module_status status) const
{
    return status_word(status);
}

QString chinese_report_words::unreachable_count(int) const
{
    return site_report_texts_tr::tr("条总线无法连接");
}

QString chinese_report_words::site_size(const site_counts& counts) const
{
    return site_report_texts_tr::tr("%1 条总线，计划中 %2 个模块")
        .arg(counts.buses)
        .arg(counts.modules);
}

QString chinese_report_words::bus_outcome(const bus_result& bus) const
{
    if (bus.reachable())
        return site_report_texts_tr::tr("已连接");
    return (bus.failure->kind == bus_failure_kind::port_lost
                ? translated("site_texts", PORT_LOST_WORD)
                : translated("site_texts", UNREACHABLE_WORD)) +
           site_report_texts_tr::tr("：") + bus_failure_words(result_, bus);
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
    return site_report_texts_tr::tr("%1 / %2 / %3 毫秒")
        .arg(t.min_ms, 0, 'f', 1)
        .arg(t.median_ms, 0, 'f', 1)
        .arg(t.max_ms, 0, 'f', 1);
}

QString chinese_report_words::time(const QDateTime& utc) const
{
    const QDateTime local = utc.toLocalTime();
    const int offset = local.offsetFromUtc() / 60;
    return local.toString(site_report_texts_tr::tr("yyyy年M月d日 HH:mm:ss")) +
           site_report_texts_tr::tr("（UTC%1%2:%3）")
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
    return site_report_texts_tr::tr("%1 的总线地址图").arg(bus.name);
}

QString chinese_report_words::map_description(const bus_result& bus) const
{
    QStringList parts;
    for (const module_result& m : bus.modules)
        parts << site_report_texts_tr::tr("地址 %1 %2").arg(m.address).arg(status_word(m.status));
    QString rest;
    if (!bus.scanned_any())
        rest = site_report_texts_tr::tr("其余地址：未扫描。");
    else if (bus.scanned(0) && bus.scanned(255))
        rest = site_report_texts_tr::tr("其余地址：无模块。");
    else
        rest = site_report_texts_tr::tr("地址 %1 至 %2 中的其余地址：无模块；其他地址：未扫描。")
                   .arg(bus.scan_first)
                   .arg(bus.scan_last);
    return site_report_texts_tr::tr("地址 0 至 255，分 16 行，每行 16 个。%1。")
               .arg(parts.isEmpty() ? site_report_texts_tr::tr("没有模块")
                                    : parts.join(site_report_texts_tr::tr("，"))) +
           rest;
}

QString chinese_report_words::cell_title(int address, const module_result& module) const
{
    return module.panel >= 0
               ? site_report_texts_tr::tr("地址 %1：%2（%3）")
                     .arg(QString::number(address), status_word(module.status), module.panel_path)
               : site_report_texts_tr::tr("地址 %1：%2")
                     .arg(QString::number(address), status_word(module.status));
}

}  // namespace lorvane
