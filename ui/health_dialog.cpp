#include "health_dialog.h"

#include "health_texts.h"

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

const QString STOP_CAPTION = QStringLiteral("停止");
const QString CLOSE_CAPTION = QStringLiteral("关闭");

}  // namespace

health_dialog::health_dialog(serial_link& link, QWidget* parent) : QDialog(parent), check_(link)
{
    setObjectName(QStringLiteral("health_dialog"));
    setWindowTitle(HEALTH_DIALOG_TITLE);
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
    modules_->setAccessibleName(QStringLiteral("各模块的应答"));
    modules_->setRootIsDecorated(false);
    modules_->setHeaderLabels({QStringLiteral("地址"), QStringLiteral("请求"),
                               QStringLiteral("超时"), QStringLiteral("乱码"),
                               QStringLiteral("应答时间（最短 / 中位 / 95% / 最长）")});
    modules_->header()->setStretchLastSection(true);
    findings_ = new QListWidget(this);
    findings_->setObjectName(QStringLiteral("health_findings"));
    findings_->setAccessibleName(QStringLiteral("诊断结果"));
    findings_->setWordWrap(true);
    stop_ = new QPushButton(STOP_CAPTION, this);
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
    switch (stage) {
    case health_stage::scanning:
        status_->setText(QStringLiteral("正在查找地址 0 到 255 上的模块……"));
        break;
    case health_stage::sampling:
        status_->setText(QStringLiteral("正在测量各模块的应答（%1 / %2）……").arg(done).arg(total));
        break;
    case health_stage::listening:
        status_->setText(QStringLiteral("正在监听空闲的线路……"));
        break;
    }
    progress_->setRange(0, std::max(1, total));
    progress_->setValue(done);
}

void health_dialog::finished(operation_end end)
{
    stop_->setText(CLOSE_CAPTION);
    switch (end) {
    case operation_end::done:
        progress_->setValue(progress_->maximum());
        show_report(check_.report());
        status_->setText(
            findings_->count() == 0
                ? QStringLiteral("诊断完毕，没有发现问题。")
                : QStringLiteral("诊断完毕，发现 %1 个问题：").arg(findings_->count()));
        break;
    case operation_end::stopped:
        status_->setText(QStringLiteral("诊断已停止，没有结论。"));
        break;
    case operation_end::no_reply:
    case operation_end::port_lost:
    case operation_end::port_closed:
        status_->setText(QStringLiteral("串口已断开，诊断已停止。"));
        break;
    }
    stop_->setFocus();
}

void health_dialog::show_report(const health_report& report)
{
    for (const module_traffic& m : report.measured.modules) {
        const auto summary = m.summary();
        auto* row = new QTreeWidgetItem(
            modules_, {QString::number(m.address), QString::number(m.exchanges),
                       QString::number(m.timeouts), QString::number(m.garbled),
                       summary ? reply_summary_words(*summary) : QStringLiteral("没有应答")});
        for (int column = 0; column < 4; ++column)
            row->setTextAlignment(column, Qt::AlignRight | Qt::AlignVCenter);
    }
    for (const health_finding& f : report.findings)
        findings_->addItem(finding_words(f));
}

}  // namespace lorvane
