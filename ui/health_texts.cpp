// The Chinese words of a bus's health: the findings, and the line health part of the HTML
// report of a site run.
#include "health_texts.h"

#include "language.h"
#include "site_texts.h"

#include <QStringList>

namespace lorvane {

namespace {

QString ms_words(double ms)
{
    return QString::number(ms, 'f', 1);
}

}  // namespace

QString finding_words(const health_finding& f)
{
    const QString address = QString::number(f.address.value_or(0));
    switch (f.kind) {
    case finding_kind::shared_address:
        return health_texts_tr::tr(
                   "发往地址 %1 的每个请求都收到乱码，其他地址应答正常：可能有两个模块"
                   "设成了同一地址 %1，也可能该地址的模块有故障。请逐个断开该地址上"
                   "的模块（或断开其电源）后再诊断一次：只剩一个模块时应答恢复正常，"
                   "就是地址重复，请把其中一个改成空闲的地址。")
            .arg(address);
    case finding_kind::idle_noise:
        return health_texts_tr::tr(
                   "总线空闲时仍收到数据，约每秒 %1 字节：线路上有干扰。请检查总线两端"
                   "的终端电阻（各 120 Ω）、偏置电阻、屏蔽层接地以及各设备是否共地。")
            .arg(QString::number(f.figure, 'f', 1));
    case finding_kind::echo:
        return health_texts_tr::tr(
            "串口适配器把自己发出的请求又送了回来（回显）。本程序能识别并略过回显，"
            "但最好关掉它：在适配器的设置中关闭回显（echo），或把 RS-485 "
            "设为发送时不接收。");
    case finding_kind::slow_replies: {
        const QString figures =
            (f.address ? health_texts_tr::tr("地址 %1 的模块应答偏慢").arg(address)
                       : health_texts_tr::tr("应答偏慢")) +
            health_texts_tr::tr("：从请求发完到应答收完，中位用时 %1 毫秒，一次问答比两帧本身的"
                                "线路时间（%2 毫秒）多出 %3 毫秒。")
                .arg(ms_words(f.figure), ms_words(2 * FRAME_LINE_MS),
                     ms_words(f.figure - FRAME_LINE_MS));
        if (f.latency_timer_ms)
            return figures +
                   health_texts_tr::tr("USB 适配器的延迟计时器（latency timer）为 %1 毫秒，"
                                       "请改为 1 毫秒：Linux 下写入 /sys/bus/usb-serial/"
                                       "devices/ttyUSBn/latency_timer，Windows 下在设备"
                                       "管理器中该端口的“高级”设置里修改。")
                       .arg(*f.latency_timer_ms);
        return figures + health_texts_tr::tr("原因可能是 USB 适配器的延迟计时器（latency timer，"
                                             "请设为 1 毫秒），也可能是模块本身的应答延时。");
    }
    case finding_kind::wrong_speed:
        return health_texts_tr::tr("有字节回应请求，却始终组不成完整的帧：模块可能用的是别的波特率"
                                   "（应为 9600 波特、8N1），也可能用的是别的通信协议。请核对模块的"
                                   "通信设置。");
    case finding_kind::no_module:
        return health_texts_tr::tr(
            "总线上没有任何应答。请逐项检查：模块是否通电；A、B 两线是否接反；"
            "所选串口是否正是接这条总线的适配器；查找的地址范围是否包含模块的"
            "地址。");
    case finding_kind::unstable:
        return health_texts_tr::tr(
                   "地址 %1 的模块时答时不答：%2% 的请求超时或收到乱码。请检查该模块的"
                   "接线、接头和电源，以及它所在的那段线路。")
            .arg(address, QString::number(f.figure, 'f', 1));
    }
    return {};
}

QString reply_summary_words(const reply_time_summary& t)
{
    return health_texts_tr::tr("%1 / %2 / %3 / %4 毫秒")
        .arg(ms_words(t.min), ms_words(t.median), ms_words(t.p95), ms_words(t.max));
}

QString chinese_report_words::health_word(health_label label) const
{
    switch (label) {
    case health_label::line_health:
        return health_texts_tr::tr("线路状况");
    case health_label::reply_histogram:
        return health_texts_tr::tr("应答时间分布");
    case health_label::histogram_axis:
        return health_texts_tr::tr("应答时间（毫秒）");
    case health_label::line_counters:
        return health_texts_tr::tr("计数");
    case health_label::findings:
        return health_texts_tr::tr("诊断结果");
    case health_label::no_findings:
        return health_texts_tr::tr("这条线路上没有发现问题。");
    case health_label::no_replies:
        return health_texts_tr::tr("这条总线上没有模块应答。");
    case health_label::samples:
        return health_texts_tr::tr("请求");
    case health_label::timeouts:
        return health_texts_tr::tr("超时");
    case health_label::retries:
        return health_texts_tr::tr("重发");
    case health_label::garbled:
        return health_texts_tr::tr("乱码");
    case health_label::foreign:
        return health_texts_tr::tr("答非所问");
    case health_label::reply_summary:
        return health_texts_tr::tr("应答时间（最短 / 中位 / 95% / 最长）");
    }
    return {};
}

QString chinese_report_words::counter(health_counter counter) const
{
    switch (counter) {
    case health_counter::watched:
        return health_texts_tr::tr("观察时长");
    case health_counter::requests_sent:
        return health_texts_tr::tr("发出的请求");
    case health_counter::received_bytes:
        return health_texts_tr::tr("收到的字节");
    case health_counter::idle_bytes:
        return health_texts_tr::tr("无请求时收到的字节");
    case health_counter::echoed_requests:
        return health_texts_tr::tr("被回显的请求");
    case health_counter::unframed_bytes:
        return health_texts_tr::tr("组不成帧的字节");
    case health_counter::framing_errors:
        return health_texts_tr::tr("帧错误");
    case health_counter::parity_errors:
        return health_texts_tr::tr("校验错误");
    case health_counter::overrun_errors:
        return health_texts_tr::tr("溢出");
    case health_counter::breaks:
        return health_texts_tr::tr("线路中断（break）");
    case health_counter::line_state_notices:
        return health_texts_tr::tr("服务器的线路状态通知");
    case health_counter::line_state_errors:
        return health_texts_tr::tr("服务器报告的错误");
    case health_counter::latency_timer:
        return health_texts_tr::tr("适配器延迟计时器（毫秒）");
    }
    return {};
}

QString chinese_report_words::finding(const health_finding& f) const
{
    return finding_words(f);
}

QString chinese_report_words::reply_summary(const reply_time_summary& times) const
{
    return reply_summary_words(times);
}

QString chinese_report_words::histogram_title(const bus_result& bus) const
{
    return health_texts_tr::tr("%1 的应答时间分布").arg(bus.name);
}

QString chinese_report_words::histogram_description(int replies, double from_ms, double to_ms) const
{
    return health_texts_tr::tr("共 %1 次应答，用时 %2 至 %3 毫秒，按应答时间分段计数。")
        .arg(QString::number(replies), QString::number(from_ms, 'g', 6),
             QString::number(to_ms, 'g', 6));
}

QString chinese_report_words::histogram_bar(double from_ms, double to_ms, int replies) const
{
    return health_texts_tr::tr("%1 至 %2 毫秒：%3 次应答")
        .arg(QString::number(from_ms, 'g', 6), QString::number(to_ms, 'g', 6),
             QString::number(replies));
}

}  // namespace lorvane
