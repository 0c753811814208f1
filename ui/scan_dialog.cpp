#include "scan_dialog.h"

#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace lorvane {

namespace {

constexpr int ADDRESS_ROLE = Qt::UserRole;
const QString STOP_CAPTION = QStringLiteral("停止");
const QString CLOSE_CAPTION = QStringLiteral("关闭");

}  // namespace

scan_dialog::scan_dialog(serial_link& link, QWidget* parent) : QDialog(parent), scan_(link)
{
    setObjectName(QStringLiteral("scan_dialog"));
    setWindowTitle(SCAN_DIALOG_TITLE);
    setWindowModality(Qt::WindowModal);
    setAttribute(Qt::WA_DeleteOnClose);

    status_ = new QLabel(QStringLiteral("正在查找地址 0 到 255 上的模块……"), this);
    status_->setObjectName(QStringLiteral("scan_status"));
    status_->setTextFormat(Qt::PlainText);
    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("scan_progress"));
    progress_->setRange(0, 256);
    progress_->setValue(0);
    modules_ = new QListWidget(this);
    modules_->setObjectName(QStringLiteral("scan_modules"));
    modules_->setAccessibleName(QStringLiteral("找到的模块"));
    stop_ = new QPushButton(STOP_CAPTION, this);
    stop_->setObjectName(QStringLiteral("scan_stop"));
    // Return belongs to the list (it reads the selected module), never to this button.
    stop_->setAutoDefault(false);
    stop_->setDefault(false);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(status_);
    layout->addWidget(progress_);
    layout->addWidget(modules_);
    layout->addWidget(stop_, 0, Qt::AlignRight);
    resize(320, 300);

    connect(stop_, &QPushButton::clicked, this, [this] {
        if (scan_.running())
            scan_.stop();
        else
            reject();
    });
    connect(&scan_, &bus_scan::progress, this,
            [this](int probed, int total) { progress_->setValue(probed * 256 / total); });
    connect(&scan_, &bus_scan::module_found, this, &scan_dialog::add_module);
    connect(&scan_, &bus_scan::finished, this, &scan_dialog::scan_finished);
    connect(modules_, &QListWidget::itemActivated, this, &scan_dialog::choose);
}

void scan_dialog::start()
{
    open();
    scan_.start({});
}

void scan_dialog::done(int result)
{
    scan_.stop();  // closing the dialog (Esc, the title bar) ends the scan
    QDialog::done(result);
}

void scan_dialog::add_module(int address, int refresh_period)
{
    // Kept in address order, whatever order the modules answered in.
    int row = 0;
    while (row < modules_->count() && modules_->item(row)->data(ADDRESS_ROLE).toInt() < address)
        ++row;
    auto* item = new QListWidgetItem(
        QStringLiteral("地址 %1，刷新周期 %2").arg(address).arg(refresh_period));
    item->setData(ADDRESS_ROLE, address);
    modules_->insertItem(row, item);
}

void scan_dialog::scan_finished(scan_outcome outcome)
{
    progress_->setValue(progress_->maximum());
    stop_->setText(CLOSE_CAPTION);
    const int count = modules_->count();
    switch (outcome) {
    case scan_outcome::done:
        status_->setText(
            count == 0 ? QStringLiteral("没有找到模块。请检查接线和模块电源。")
                       : QStringLiteral("找到 %1 个模块。按回车键或双击读取所选模块。").arg(count));
        break;
    case scan_outcome::stopped:
        status_->setText(QStringLiteral("查找已停止，找到 %1 个模块。").arg(count));
        break;
    case scan_outcome::port_lost:
        status_->setText(QStringLiteral("串口已断开，查找已停止。"));
        break;
    }
    if (count > 0) {
        modules_->setCurrentRow(0);
        modules_->setFocus();
    }
}

void scan_dialog::choose(QListWidgetItem* item)
{
    if (!item)
        return;
    const int address = item->data(ADDRESS_ROLE).toInt();
    scan_.stop();  // a module picked while the scan runs: the line is needed for the read
    accept();
    Q_EMIT module_chosen(address);
}

}  // namespace lorvane
