#include "health_dialog.h"

#include "health_texts.h"
#include "language.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace lorvane {

namespace {

// Read when shown, so that it follows the window's language.
QString STOP_CAPTION()
{
    return health_dialog_tr::tr("停止");
}
// Read when shown, so that it follows the window's language.
QString CLOSE_CAPTION()
{
    return health_dialog_tr::tr("关闭");
}

}  // namespace

health_dialog::health_dialog(serial_link& link, QWidget* parent) : QDialog(parent), check_(link)
{
    setObjectName(QStringLiteral("health_dialog"));
    setWindowModality(Qt::WindowModal);
    setAttribute(Qt::WA_DeleteOnClose);

    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("health_status"));
    status_->setTextFormat(Qt::PlainText);
    status_->setWordWrap(true);
    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("health_progress"));
    progress_->setRange(0, 256);
    progress_->setValue(0);
    modules_ = new QTreeWidget(this);
    modules_->setObjectName(QStringLiteral("health_modules"));
    modules_->setRootIsDecorated(false);
    modules_->setColumnCount(5);
    modules_->header()->setStretchLastSection(true);
    findings_ = new QListWidget(this);
    findings_->setObjectName(QStringLiteral("health_findings"));
    findings_->setWordWrap(true);
    stop_ = new QPushButton(this);
    stop_->setObjectName(QStringLiteral("health_stop"));

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(stop_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(status_);
    layout->addWidget(progress_);
    layout->addWidget(modules_, 2);
    layout->addWidget(findings_, 3);
    layout->addLayout(buttons);
    resize(560, 460);

    connect(stop_, &QPushButton::clicked, this, [this] {
        if (check_.busy())
            check_.stop();
        else
            reject();
    });
    connect(&check_, &health_check::progress, this, &health_dialog::show_progress);
    connect(&check_, &health_check::finished, this, &health_dialog::finished);
    show_texts();
}

void health_dialog::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange)
        show_texts();
    QDialog::changeEvent(event);
}

void health_dialog::show_texts()
{
    setWindowTitle(translated("health_texts", HEALTH_DIALOG_TITLE));
    modules_->setAccessibleName(health_dialog_tr::tr("各模块的应答"));
    modules_->setHeaderLabels({health_dialog_tr::tr("地址"), health_dialog_tr::tr("请求"),
                               health_dialog_tr::tr("超时"), health_dialog_tr::tr("乱码"),
                               health_dialog_tr::tr("应答时间（最短 / 中位 / 95% / 最长）")});
    findings_->setAccessibleName(health_dialog_tr::tr("诊断结果"));
    stop_->setText(ended_ ? CLOSE_CAPTION() : STOP_CAPTION());
    if (!ended_) {
        switch (stage_) {
        case health_stage::scanning:
            status_->setText(health_dialog_tr::tr("正在查找地址 0 到 255 上的模块……"));
            break;
        case health_stage::sampling:
            status_->setText(
                health_dialog_tr::tr("正在测量各模块的应答（%1 / %2）……").arg(done_).arg(total_));
            break;
        case health_stage::listening:
            status_->setText(health_dialog_tr::tr("正在监听空闲的线路……"));
            break;
        }
        return;
    }
    switch (*ended_) {
    case operation_end::done:
        modules_->clear();
        findings_->clear();
        show_report(check_.report());
        status_->setText(
            findings_->count() == 0
                ? health_dialog_tr::tr("诊断完毕，没有发现问题。")
                : health_dialog_tr::tr("诊断完毕，发现 %1 个问题：").arg(findings_->count()));
        break;
    case operation_end::stopped:
        status_->setText(health_dialog_tr::tr("诊断已停止，没有结论。"));
        break;
    case operation_end::no_reply:
    case operation_end::port_lost:
    case operation_end::port_closed:
        status_->setText(health_dialog_tr::tr("串口已断开，诊断已停止。"));
        break;
    }
}

void health_dialog::start()
{
    open();
    show_progress(health_stage::scanning, 0, 256);
    check_.start({});
}

void health_dialog::done(int result)
{
    check_.stop();  // closing the dialog (Esc, the title bar) ends the test
    QDialog::done(result);
}

void health_dialog::show_progress(health_stage stage, int done, int total)
{
    stage_ = stage;
    done_ = done;
    total_ = total;
    show_texts();
    progress_->setRange(0, std::max(1, total));
    progress_->setValue(done);
}

void health_dialog::finished(operation_end end)
{
    ended_ = end;
    if (end == operation_end::done)
        progress_->setValue(progress_->maximum());
    show_texts();
    stop_->setFocus();
}

void health_dialog::show_report(const health_report& report)
{
    for (const module_traffic& m : report.measured.modules) {
        const auto summary = m.summary();
        auto* row = new QTreeWidgetItem(
            modules_, {QString::number(m.address), QString::number(m.exchanges),
                       QString::number(m.timeouts), QString::number(m.garbled),
                       summary ? reply_summary_words(*summary) : health_dialog_tr::tr("没有应答")});
        for (int column = 0; column < 4; ++column)
            row->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
    }
    for (const health_finding& f : report.findings)
        findings_->addItem(finding_words(f));
}

}  // namespace lorvane
