#include "scan_dialog.h"

#include <QHBoxLayout>
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
    status_->setWordWrap(true);
    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("scan_progress"));
    progress_->setRange(0, 256);
    progress_->setValue(0);
    modules_ = new QListWidget(this);
    modules_->setObjectName(QStringLiteral("scan_modules"));
    modules_->setAccessibleName(QStringLiteral("找到的模块"));
    again_ = new QPushButton(QStringLiteral("再查一遍"), this);
    again_->setObjectName(QStringLiteral("scan_again"));
    again_->setAutoDefault(false);
    again_->setVisible(false);
    stop_ = new QPushButton(STOP_CAPTION, this);
    stop_->setObjectName(QStringLiteral("scan_stop"));
    // Return belongs to the list (it reads the selected module), never to these buttons.
    stop_->setAutoDefault(false);
    stop_->setDefault(false);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(again_);
    buttons->addWidget(stop_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(status_);
    layout->addWidget(progress_);
    layout->addWidget(modules_);
    layout->addLayout(buttons);
    resize(320, 300);

    connect(stop_, &QPushButton::clicked, this, [this] {
        if (scan_.busy())
            scan_.stop();
        else
            reject();
    });
    // One more pass, with a second probe of every suspect and of every silent address.
    connect(again_, &QPushButton::clicked, this, [this] {
        scan_options options;
        options.retries = 1;
        begin_scan(options);
    });
    connect(&scan_, &bus_scan::progress, this, [this](int done, int total) {
        progress_->setRange(0, std::max(1, total));
        progress_->setValue(done);
    });
    connect(&scan_, &bus_scan::module_found, this, &scan_dialog::add_module);
    connect(&scan_, &bus_scan::finished, this, &scan_dialog::scan_finished);
    connect(modules_, &QListWidget::itemActivated, this, &scan_dialog::choose);
}

void scan_dialog::start()
{
    open();
    begin_scan({});
}

void scan_dialog::begin_scan(const scan_options& options)
{
    again_->setVisible(false);
    stop_->setText(STOP_CAPTION);
    status_->setText(QStringLiteral("正在查找地址 0 到 255 上的模块……"));
    progress_->setValue(0);
    scan_.start(options);
}

void scan_dialog::done(int result)
{
    scan_.stop();  // closing the dialog (Esc, the title bar) ends the scan
    QDialog::done(result);
}

void scan_dialog::add_module(int address, int refresh_period)
{
    // Kept in address order, whatever order the modules answered in; a second pass names
    // each module once.
    int row = 0;
    while (row < modules_->count() && modules_->item(row)->data(ADDRESS_ROLE).toInt() < address)
        ++row;
    if (row < modules_->count() && modules_->item(row)->data(ADDRESS_ROLE).toInt() == address)
        return;
    auto* item = new QListWidgetItem(
        QStringLiteral("地址 %1，刷新周期 %2").arg(address).arg(refresh_period));
    item->setData(ADDRESS_ROLE, address);
    modules_->insertItem(row, item);
}

void scan_dialog::scan_finished(operation_end end)
{
    stop_->setText(CLOSE_CAPTION);
    const int count = modules_->count();
    QString doubt;
    if (scan_.noisy())
        doubt = QStringLiteral(
                    "线路上杂波很多：第二轮查找在 %1 个可疑地址未查完时停止，可能漏掉了模块。"
                    "请检查接线、终端电阻和屏蔽。")
                    .arg(scan_.unchecked());
    else if (scan_.garbled() > 0)
        doubt = QStringLiteral("有 %1 个应答在传输中损坏，可能漏掉了模块；可点“再查一遍”。")
                    .arg(scan_.garbled());
    switch (end) {
    case operation_end::done:
        progress_->setValue(progress_->maximum());
        status_->setText(
            (count == 0
                 ? QStringLiteral("没有找到模块。请检查接线和模块电源。")
                 : QStringLiteral("找到 %1 个模块。按回车键或双击读取所选模块。").arg(count)) +
            (doubt.isEmpty() ? QString() : u'\n' + doubt));
        again_->setVisible(!doubt.isEmpty());
        break;
    case operation_end::stopped:
        status_->setText(QStringLiteral("查找已停止，找到 %1 个模块。").arg(count));
        break;
    case operation_end::no_reply:
    case operation_end::port_lost:
    case operation_end::port_closed:
        // The port is gone: nothing found can be read now.
        port_gone_ = true;
        status_->setText(QStringLiteral("串口已断开，查找已停止。此前找到 %1 个模块。").arg(count));
        modules_->setEnabled(false);
        stop_->setFocus();
        return;
    }
    if (count > 0) {
        modules_->setCurrentRow(0);
        modules_->setFocus();
    }
}

void scan_dialog::choose(QListWidgetItem* item)
{
    if (!item || port_gone_)
        return;
    const int address = item->data(ADDRESS_ROLE).toInt();
    scan_.stop();  // a module picked while the scan runs: the line is needed for the read
    accept();
    Q_EMIT module_chosen(address);
}

}  // namespace lorvane
