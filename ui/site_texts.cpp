#include "site_texts.h"

#include "language.h"
#include "network_port.h"
#include "panel_file.h"
#include "port_name.h"
#include "port_texts.h"
#include "tls_settings.h"
#include "transfer_sequences.h"
#include "window_texts.h"

#include <QFileInfo>
#include <QStringList>

#include <chrono>

namespace lorvane {

namespace {

// Read when shown, so that it follows the window's language.
QString LIST_SEPARATOR()
{
    return site_texts_tr::tr("，");
}

// A value the site file's parser quotes from the file, in Chinese where it is a kind of value.
QString value_words(const QString& value)
{
    if (value == QStringLiteral("an array"))
        return site_texts_tr::tr("数组");
    if (value == QStringLiteral("an object"))
        return site_texts_tr::tr("对象");
    return value;
}

QString member(const QString& path)
{
    return site_texts_tr::tr("成员 %1").arg(path);
}

QString known_members(const QString& path)
{
    return path.startsWith(QStringLiteral("buses[")) ? site_texts_tr::tr("name、port、panels")
                                                     : site_texts_tr::tr("format、name、buses");
}

QString field_words(const config_difference& d)
{
    const QString key = site_texts_tr::tr("按键%1").arg(d.record);
    switch (d.field) {
    case config_field::refresh_period:
        return site_texts_tr::tr("刷新周期");
    case config_field::key_address:
        return key + site_texts_tr::tr(" 地址");
    case config_field::key_line:
        return key + site_texts_tr::tr(" 线路");
    case config_field::key_operation:
        return key + site_texts_tr::tr(" 操作");
    }
    return {};
}

QString value_of(const config_difference& d, std::uint8_t value)
{
    return d.field == config_field::key_operation ? operation_shown(value) : QString::number(value);
}

// "记录 0（刷新周期）", "记录 3（按键3）".
QString record_words(int record)
{
    return record == 0 ? site_texts_tr::tr("记录 0（刷新周期）")
                       : site_texts_tr::tr("记录 %1（按键%1）").arg(record);
}

QString step_words(transfer_step step)
{
    switch (step) {
    case transfer_step::first_read:
        return site_texts_tr::tr("读取");
    case transfer_step::write:
        return site_texts_tr::tr("写入");
    case transfer_step::read_back:
        return site_texts_tr::tr("读回");
    }
    return {};
}

}  // namespace

QString seconds_words(double seconds)
{
    if (seconds < 60)
        return site_texts_tr::tr("%1 秒").arg(seconds, 0, 'f', 1);
    const int whole = int(seconds + 0.5);
    return site_texts_tr::tr("%1 分 %2 秒").arg(whole / 60).arg(whole % 60);
}

namespace {

// The few words for a port that could not be opened; the box of the main window says more.
QString port_failure_words(const port_failure& failure)
{
    if (const auto text = dnssd_failure_message(failure))
        return text->section(u'\n', 0, 0);
    QString what;
    switch (failure.kind) {
    case port_failure_kind::bad_name:
        what = site_texts_tr::tr("串口名无效");
        break;
    case port_failure_kind::not_found:
        what = site_texts_tr::tr("找不到该串口设备");
        break;
    case port_failure_kind::permission:
        what = site_texts_tr::tr("没有权限打开该串口");
        break;
    case port_failure_kind::in_use:
        what = site_texts_tr::tr("串口正被其他程序占用");
        break;
    case port_failure_kind::already_open:
    case port_failure_kind::in_use_here:
        what = site_texts_tr::tr("本程序的另一个窗口正在使用该串口");
        break;
    case port_failure_kind::unsupported_settings:
        what = site_texts_tr::tr("串口不支持 9600 波特、8N1");
        break;
    case port_failure_kind::host_not_found:
        what = site_texts_tr::tr("找不到服务器主机");
        break;
    case port_failure_kind::connection_refused:
        what = site_texts_tr::tr("服务器拒绝连接");
        break;
    case port_failure_kind::timed_out:
        what = site_texts_tr::tr("没有按时连上服务器");
        break;
    case port_failure_kind::settings_refused:
        what = site_texts_tr::tr("服务器不接受 RFC 2217 串口设置");
        break;
    case port_failure_kind::closed_during_setup:
        what = site_texts_tr::tr("服务器在设置串口时关闭了连接");
        break;
    case port_failure_kind::flooded:
        what = site_texts_tr::tr("服务器发送的数据过多");
        break;
    case port_failure_kind::tls_unavailable:
        what = site_texts_tr::tr("本机不支持 TLS");
        break;
    case port_failure_kind::tls_file:
        what = site_texts_tr::tr("无法读取 TLS 文件 %1").arg(failure.file);
        if (const QString problem = tls_file_problem_words(failure); !problem.isEmpty())
            return what + site_texts_tr::tr("：") + problem;
        break;
    case port_failure_kind::tls_file_invalid:
        what = site_texts_tr::tr("TLS 文件 %1 无效").arg(failure.file);
        break;
    case port_failure_kind::tls_not_spoken:
        what = site_texts_tr::tr("服务器的这个端口不使用 TLS");
        break;
    case port_failure_kind::tls_expected:
        what = site_texts_tr::tr("服务器的这个端口要求 TLS");
        break;
    case port_failure_kind::certificate_unknown:
        what =
            failure.certificate
                ? site_texts_tr::tr("服务器证书未受信任，没有发送任何数据（指纹 %1；信任后重试）")
                      .arg(fingerprint_text(failure.certificate->fingerprint))
                : site_texts_tr::tr("服务器证书未受信任，没有发送任何数据");
        break;
    case port_failure_kind::certificate_changed:
        what = site_texts_tr::tr("服务器证书已更改，与保存的指纹不符，可能是对连接的攻击；没有发送"
                                 "任何数据");
        break;
    case port_failure_kind::client_certificate_refused:
        what = site_texts_tr::tr("服务器要求（另一个）客户端证书");
        break;
    case port_failure_kind::service_not_found:  // worded above
    case port_failure_kind::service_ambiguous:
    case port_failure_kind::service_unsupported:
    case port_failure_kind::discovery_unavailable:
    case port_failure_kind::discovery_no_daemon:
    case port_failure_kind::discovery_failed:
    case port_failure_kind::other:
        what = site_texts_tr::tr("无法打开");
        break;
    }
    if (!failure.reason.isEmpty())
        what += site_texts_tr::tr("（系统原因：%1）").arg(failure.reason);
    return what;
}

// What the file opener said of a site file or panel file it refused; the system's reason
// alone for an error made without one.
file_failure opener_failure(const site_file_error& e)
{
    return e.failure.value_or(file_failure{file_problem::other, e.reason, false});
}

int count_of(const bus_result& bus, module_status status)
{
    int n = 0;
    for (const module_result& m : bus.modules)
        n += m.status == status ? 1 : 0;
    return n;
}

// "3 个相同，1 个不同" for `statuses`, leaving out those of no module.
QString counts_words(const site_counts& counts, const std::vector<module_status>& statuses)
{
    QStringList parts;
    for (const module_status status : statuses) {
        if (counts[status] > 0)
            parts << site_texts_tr::tr("%1 个%2").arg(counts[status]).arg(status_word(status));
    }
    return parts.join(LIST_SEPARATOR());
}

QString bus_and_port(const site_bus& bus)
{
    return site_texts_tr::tr("%1（%2）").arg(bus.name, bus.port);
}

}  // namespace

QString site_window_title(const QString& site)
{
    return site_texts_tr::tr("工程：") + site;
}

QString site_file_message(const site_file_error& e, const QString& site_path)
{
    const QString at = member(e.member);
    const QString value = value_words(e.value);
    QString problem;
    switch (e.kind) {
    case site_problem::too_large:
        problem =
            site_texts_tr::tr("文件过大（工程文件不超过 %1 KiB）。").arg(SITE_FILE_MAX_SIZE / 1024);
        break;
    case site_problem::unreadable:
    case site_problem::not_a_file:
        problem = file_failure_text(opener_failure(e), false, site_texts_tr::tr("工程文件"));
        break;
    case site_problem::not_json:
        problem = site_texts_tr::tr("不是有效的 JSON 文件（%1）。").arg(value);
        break;
    case site_problem::not_an_object:
        problem = e.member.isEmpty()
                      ? site_texts_tr::tr("文件必须包含一个 JSON 对象。")
                      : site_texts_tr::tr("%1 必须是一个对象，而不是 %2。").arg(at, value);
        break;
    case site_problem::unknown_member:
        problem = site_texts_tr::tr("%1 不是工程文件的成员（可用的成员：%2）。")
                      .arg(at, known_members(e.member));
        break;
    case site_problem::given_twice:
        problem = site_texts_tr::tr("%1 出现了两次；每个成员只能出现一次。").arg(at);
        break;
    case site_problem::wrong_format:
        problem =
            site_texts_tr::tr("%1 必须是 \"%2\"，而不是 %3。").arg(at, SITE_FILE_FORMAT, value);
        break;
    case site_problem::missing:
        problem = site_texts_tr::tr("缺少%1。").arg(at);
        break;
    case site_problem::not_a_text:
        problem = site_texts_tr::tr("%1 必须是字符串，而不是 %2。").arg(at, value);
        break;
    case site_problem::not_a_list:
        problem = site_texts_tr::tr("%1 必须是数组，而不是 %2。").arg(at, value);
        break;
    case site_problem::no_buses:
        problem = site_texts_tr::tr("%1 必须列出 1 到 %2 条总线，而不是一条也没有。")
                      .arg(at, QString::number(SITE_MAX_BUSES));
        break;
    case site_problem::too_many_buses:
        problem = site_texts_tr::tr("%1 列出了 %2 条总线；一个工程最多 %3 条。")
                      .arg(at, QString::number(e.number), QString::number(SITE_MAX_BUSES));
        break;
    case site_problem::empty_name:
        problem = site_texts_tr::tr("%1 不能为空。").arg(at);
        break;
    case site_problem::name_twice:
        problem = site_texts_tr::tr("%1 再次使用了总线名 %2（%3 已用过）；每条总线的名字必须不同，"
                                    "不区分大小写。")
                      .arg(at, value, member(e.other_member));
        break;
    case site_problem::bad_panel_path:
        problem =
            site_texts_tr::tr("%1 必须是配置文件的路径（相对于工程文件所在的文件夹），而不是 %2。")
                .arg(at, value);
        break;
    case site_problem::panel_twice:
        problem = site_texts_tr::tr("%1 再次给出了配置文件 %2（%3 已给出）。")
                      .arg(at, value, member(e.other_member));
        break;
    case site_problem::bad_port:
        problem =
            site_texts_tr::tr("%1 的串口 %2 无效：串口应为 1 到 %3 之间的整数、串口设备名（例如 "
                              "COM3、ttyUSB0）、路径（例如 /dev/ttyUSB0）、tcp://主机:端口、"
                              "rfc2217://主机:端口，或 usb:序列号。")
                .arg(at, value, QString::number(MAX_PORT_NUMBER));
        break;
    case site_problem::panel_two_buses:
        problem = site_texts_tr::tr("总线 %1 的%2 给出的配置文件 %3 也由总线 %4 的%5 给出；"
                                    "一个配置文件只描述一条总线上的一个模块。")
                      .arg(e.bus_name, at, value, e.other_bus_name, member(e.other_member));
        break;
    case site_problem::port_twice:
        problem = site_texts_tr::tr("总线 %1 的%2 %3 与总线 %4 的%5 %6 是同一个设备；"
                                    "每条总线必须有自己的串口。")
                      .arg(e.bus_name, at, value, e.other_bus_name, member(e.other_member),
                           value_words(e.other_value));
        break;
    case site_problem::unknown_bus:
        problem = site_texts_tr::tr("工程中没有名为 %1 的总线。").arg(value);
        break;
    case site_problem::panel_unreadable:
    case site_problem::panel_not_a_file:
        problem = site_texts_tr::tr("无法读取配置文件 %1（%2）：%3")
                      .arg(e.file, at, file_failure_text(opener_failure(e), false));
        break;
    case site_problem::panel_too_large:
        problem = site_texts_tr::tr("配置文件 %1（%2）过大（配置文件不超过 %3 KiB）。")
                      .arg(e.file, at, QString::number(PANEL_FILE_MAX_SIZE / 1024));
        break;
    case site_problem::panel_invalid:
        problem = site_texts_tr::tr("配置文件 %1（%2）有误：%3")
                      .arg(e.file, at, e.panel ? panel_file_problem_text(*e.panel) : QString());
        break;
    case site_problem::address_twice:
        problem =
            site_texts_tr::tr("配置文件 %1 和 %2 的模块自身地址都是 %3（总线 %4）；同一条总线上"
                              "每个模块只能有一个配置文件。")
                .arg(e.other_file, e.file, QString::number(e.number), value);
        break;
    }
    return site_texts_tr::tr("无法打开工程文件 %1：%2")
        .arg(QFileInfo(site_path).fileName(), problem);
}

QString status_word(module_status status)
{
    switch (status) {
    case module_status::same:
        return site_texts_tr::tr("相同");
    case module_status::different:
        return site_texts_tr::tr("不同");
    case module_status::missing:
        return site_texts_tr::tr("无应答");
    case module_status::unexpected:
        return site_texts_tr::tr("未登记");
    case module_status::unchanged:
        return site_texts_tr::tr("未改动");
    case module_status::written:
        return site_texts_tr::tr("已写入");
    case module_status::failed:
        return site_texts_tr::tr("失败");
    case module_status::interrupted:
        return site_texts_tr::tr("已中断");
    case module_status::not_reached:
        return site_texts_tr::tr("未进行");
    case module_status::read:
        return site_texts_tr::tr("已读取");
    }
    return {};
}

QString difference_words(const config_difference& d, module_status status)
{
    if (status == module_status::written)
        return site_texts_tr::tr("%1：原为 %2，改为 %3")
            .arg(field_words(d), value_of(d, d.found), value_of(d, d.expected));
    return site_texts_tr::tr("%1：计划 %2，实际 %3")
        .arg(field_words(d), value_of(d, d.expected), value_of(d, d.found));
}

QString module_detail_words(const module_result& m)
{
    const QString within = site_texts_tr::tr("%1 秒内没有应答")
                               .arg(std::chrono::duration<double>(REPLY_TIMEOUT).count());
    switch (m.status) {
    case module_status::missing:
        return site_texts_tr::tr("读取%1时，%2").arg(record_words(m.stopped_record), within);
    case module_status::unexpected:
        return m.refresh_period ? site_texts_tr::tr("刷新周期 %1").arg(*m.refresh_period)
                                : QString();
    case module_status::failed:
        if (m.fault == module_fault::read_back_differs)
            return site_texts_tr::tr("读回的配置与配置文件不同");
        return (m.stopped_step == transfer_step::first_read && m.stopped_record == 0
                    ? site_texts_tr::tr("扫描时有应答，之后")
                    : QString()) +
               site_texts_tr::tr("%1%2时，%3")
                   .arg(step_words(m.stopped_step), record_words(m.stopped_record), within);
    case module_status::interrupted:
        switch (m.stopped_step) {
        case transfer_step::first_read:
            return site_texts_tr::tr("在读取%1时停止，尚未写入任何数据")
                .arg(record_words(m.stopped_record));
        case transfer_step::write:
            return site_texts_tr::tr(
                       "在写入%1时被打断：部分记录可能已是配置文件的值，其余仍是原来的值")
                .arg(record_words(m.stopped_record));
        case transfer_step::read_back:
            return site_texts_tr::tr("已写入，在读回%1时停止：未经校验")
                .arg(record_words(m.stopped_record));
        }
        return {};
    default:
        return {};
    }
}

QString module_difference_column(const module_result& m)
{
    QStringList parts;
    if (differences_found(m)) {
        for (const config_difference& d : m.differences)
            parts << difference_words(d, m.status);
    } else if (m.status == module_status::written) {
        for (const config_difference& d : m.changes)
            parts << difference_words(d, m.status);
    }
    if (const QString detail = module_detail_words(m); !detail.isEmpty())
        parts.prepend(detail);
    return parts.join(site_texts_tr::tr("；"));
}

QString reply_time_words(const reply_times& t)
{
    return site_texts_tr::tr("%1 ms（%2–%3）")
        .arg(t.median_ms, 0, 'f', 1)
        .arg(t.min_ms, 0, 'f', 1)
        .arg(t.max_ms, 0, 'f', 1);
}

QString bus_failure_words(const site_result& result, const bus_result& bus)
{
    if (!bus.failure)
        return {};
    const bus_failure& f = *bus.failure;
    switch (f.kind) {
    case bus_failure_kind::cannot_open:
        return port_failure_words(f.port);
    case bus_failure_kind::usb_not_plugged:
        return site_texts_tr::tr("没有插入序列号为 %1 的 USB 适配器").arg(f.serial);
    case bus_failure_kind::usb_ambiguous:
        return site_texts_tr::tr("有 %1 个适配器的序列号都是 %2（%3）；请在工程文件中改用串口名")
            .arg(QString::number(f.devices.size()), f.serial,
                 f.devices.join(site_texts_tr::tr("、")));
    case bus_failure_kind::port_shared: {
        const QString other = f.other_bus >= 0 && f.other_bus < int(result.buses.size())
                                  ? result.buses[std::size_t(f.other_bus)].name
                                  : QString();
        return site_texts_tr::tr("%1 就是 %2，也是总线 %3 的串口")
            .arg(bus.port, f.devices.value(0), other);
    }
    case bus_failure_kind::port_lost:
        return port_lost_message(bus.device, f.loss);
    }
    return {};
}

QString site_summary(const site_result& result)
{
    const site_counts counts = count_site(result);
    QString head;
    switch (result.action) {
    case site_action::check:
        head = result.stopped ? site_texts_tr::tr("核对已停止") : site_texts_tr::tr("核对完毕");
        break;
    case site_action::write:
        head = result.stopped ? site_texts_tr::tr("写入已停止") : site_texts_tr::tr("写入完毕");
        break;
    case site_action::adopt:
        head = result.stopped ? site_texts_tr::tr("读取已停止") : site_texts_tr::tr("读取完毕");
        break;
    }
    QString buses = site_texts_tr::tr("%1 条总线").arg(counts.buses);
    if (counts.unreachable > 0)
        buses += site_texts_tr::tr("（%1 条无法连接）").arg(counts.unreachable);
    QString line = site_texts_tr::tr("%1：%2，%3 个模块").arg(head, buses).arg(counts.modules);
    if (const QString parts = counts_words(counts, summary_statuses(result.action));
        !parts.isEmpty())
        line += site_texts_tr::tr("：") + parts;
    return line + site_texts_tr::tr("（%1）").arg(seconds_words(result.seconds));
}

QString bus_counts(const bus_result& bus)
{
    site_counts counts;
    for (int s = 0; s < MODULE_STATUS_COUNT; ++s)
        counts.by_status[std::size_t(s)] = count_of(bus, module_status(s));
    std::vector<module_status> all;
    for (int s = 0; s < MODULE_STATUS_COUNT; ++s)
        all.push_back(module_status(s));
    return counts_words(counts, all);
}

QString bus_status_words(int problems, bool stopped)
{
    const QString named = site_texts_tr::tr("%1 个问题").arg(problems);
    if (stopped)
        return problems > 0 ? site_texts_tr::tr("已停止，") + named : site_texts_tr::tr("已停止");
    return problems > 0 ? named : site_texts_tr::tr("完成");
}

QString files_changed_words(const QString& site_file, const QStringList& panel_paths)
{
    QString what;
    if (!site_file.isEmpty())
        what = panel_paths.isEmpty() ? site_texts_tr::tr("工程文件")
                                     : site_texts_tr::tr("工程文件和配置文件");
    else
        what = site_texts_tr::tr("配置文件");
    QStringList names = panel_paths;
    if (!site_file.isEmpty())
        names.prepend(site_file);
    return what + site_texts_tr::tr("已改变，已重新读取：") + names.join(site_texts_tr::tr("、"));
}

QString close_in_main_window_first(const QString& port)
{
    return site_texts_tr::tr("先在主窗口中关闭串口 ") + port;
}

QString write_question(const site_plan& plan, const site_result* last_check,
                       const QString& log_path)
{
    const QString after =
        site_texts_tr::tr("\n\n写入前会先读取每个模块，已与配置文件一致的模块不会写入。"
                          "\n每个写入的模块都记入审计日志 %1。")
            .arg(log_path);
    QStringList lines;
    int total = 0;
    if (last_check) {
        for (std::size_t b = 0; b < last_check->buses.size() && b < plan.buses.size(); ++b) {
            QStringList addresses;
            for (const module_result& m : last_check->buses[b].modules) {
                if (m.status == module_status::different)
                    addresses << QString::number(m.address);
            }
            if (addresses.isEmpty())
                continue;
            total += int(addresses.size());
            lines << site_texts_tr::tr("  %1：%2 个，地址 %3")
                         .arg(bus_and_port(plan.buses[b]), QString::number(addresses.size()),
                              addresses.join(site_texts_tr::tr("、")));
        }
    }
    if (total > 0)
        return site_texts_tr::tr("将写入上次核对中有差异的 %1 个模块，在 %2 条总线上：\n")
                   .arg(total)
                   .arg(lines.size()) +
               lines.join(u'\n') + after;

    int modules = 0;
    for (const site_bus& bus : plan.buses) {
        modules += int(bus.panels.size());
        lines << site_texts_tr::tr("  %1：%2 个模块")
                     .arg(bus_and_port(bus), QString::number(bus.panels.size()));
    }
    return (last_check ? site_texts_tr::tr("上次核对没有发现有差异的模块。")
                       : site_texts_tr::tr("尚未核对，还不知道哪些模块有差异。")) +
           site_texts_tr::tr("将读取 %1 条总线上的 %2 个模块，只写入与配置文件不同的模块：\n")
               .arg(plan.buses.size())
               .arg(modules) +
           lines.join(u'\n') + after;
}

QString write_stopped_message(const site_result& result, const QString& log_path)
{
    QStringList cut;        // "总线 东：模块 7（记录 5（按键5））"
    QStringList unchecked;  // written, stopped in the read-back
    int not_begun = 0;
    int named = 0;
    int logged = 0;
    for (const bus_result& bus : result.buses) {
        for (const module_result& m : bus.modules) {
            if (m.panel < 0)
                continue;
            if (stopped_before_write(m)) {
                ++not_begun;
                continue;
            }
            if (m.status != module_status::interrupted)
                continue;
            const QString who = site_texts_tr::tr("总线 ") + bus.name +
                                site_texts_tr::tr(" 的模块 ") + QString::number(m.address) +
                                site_texts_tr::tr("（") + record_words(m.stopped_record) +
                                site_texts_tr::tr("）");
            (cut_off_in_write(m) ? cut : unchecked) << who;
            ++named;
            logged += m.logged ? 1 : 0;
        }
    }
    QString text =
        site_texts_tr::tr("关闭工程窗口时写入还没有完成，写入已停止。\n已写入 %1 个模块。")
            .arg(count_site(result)[module_status::written]);
    if (!cut.isEmpty())
        text += site_texts_tr::tr("\n%1 个模块在写入中途被打断，可能只写入了部分记录：")
                    .arg(cut.size()) +
                cut.join(LIST_SEPARATOR()) + site_texts_tr::tr("。");
    if (!unchecked.isEmpty())
        text += site_texts_tr::tr("\n%1 个模块已写入，但读回时被打断，未经校验：")
                    .arg(unchecked.size()) +
                unchecked.join(LIST_SEPARATOR()) + site_texts_tr::tr("。");
    if (named > 0 && logged == named)
        text += site_texts_tr::tr("\n已在审计日志 ") + log_path +
                site_texts_tr::tr(" 中记为 interrupted。");
    else if (logged > 0)
        text += site_texts_tr::tr("\n其中 %1 个已在审计日志 ").arg(logged) + log_path +
                site_texts_tr::tr(" 中记为 interrupted。");
    if (not_begun > 0)
        text += site_texts_tr::tr("\n%1 个模块在写入任何数据之前停止，没有写入。").arg(not_begun);
    return text + site_texts_tr::tr("\n请重新打开工程，核对后再写入。");
}

QString scan_doubt_words(const bus_result& bus)
{
    if (!bus.doubt)
        return {};
    if (bus.doubt->noisy)
        return site_texts_tr::tr(
                   "线路干扰严重：扫描复查时还有 %1 个可疑地址未查就停止了，可能漏掉了"
                   "模块（请检查接线、终端电阻和屏蔽）")
            .arg(bus.doubt->unchecked);
    return site_texts_tr::tr("扫描时有 %1 个应答出现乱码，可能漏掉了模块").arg(bus.doubt->garbled);
}

QString log_open_failed_message(const QString& log_path, const QString& reason)
{
    return site_texts_tr::tr("无法打开审计日志 %1：%2\n没有发送任何数据，没有写入任何模块。")
        .arg(log_path, reason);
}

QString log_failed_message(const QString& log_path, const QString& reason)
{
    return site_texts_tr::tr("无法写入审计日志 %1：%2\n写入已全部停止。").arg(log_path, reason);
}

QString report_failed_message(const QString& path, const QString& reason)
{
    return site_texts_tr::tr("无法保存报告 %1：%2").arg(QFileInfo(path).fileName(), reason);
}

QString report_file_name(const site_result& result)
{
    QString name = result.site;
    for (QChar& c : name) {
        if (QStringLiteral("/\\:*?\"<>|").contains(c) || c.unicode() < 0x20)
            c = u'-';
    }
    const QString kind = result.action == site_action::write ? site_texts_tr::tr("写入报告")
                                                             : site_texts_tr::tr("核对报告");
    return QStringLiteral("%1 %2 %3.html")
        .arg(name.trimmed(), kind,
             result.started.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HHmm")));
}

}  // namespace lorvane
