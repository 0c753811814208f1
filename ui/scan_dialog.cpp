#include "scan_dialog.h"
#include "language.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace lorvane {

namespace {

constexpr int ADDRESS_ROLE = Qt::UserRole;
constexpr int PERIOD_ROLE = Qt::UserRole + 1;  // the module's refresh period
// Read when shown, so that it follows the window's language.
QString STOP_CAPTION()
{
    return scan_dialog_tr::tr("停止");
}
// Read when shown, so that it follows the window's language.
QString CLOSE_CAPTION()
{
    return scan_dialog_tr::tr("关闭");
}

}  // namespace

scan_dialog::scan_dialog(serial_link& link, QWidget* parent) : QDialog(parent), scan_(link)
{
    setObjectName(QStringLiteral("scan_dialog"));
    setWindowModality(Qt::WindowModal);
    setAttribute(Qt::WA_DeleteOnClose);

    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("scan_status"));
    status_->setTextFormat(Qt::PlainText);
    status_->setWordWrap(true);
    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("scan_progress"));
    progress_->setRange(0, 256);
    progress_->setValue(0);
    modules_ = new QListWidget(this);
    modules_->setObjectName(QStringLiteral("scan_modules"));
    again_ = new QPushButton(this);
    again_->setObjectName(QStringLiteral("scan_again"));
    again_->setAutoDefault(false);
    again_->setVisible(false);
    stop_ = new QPushButton(this);
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
    show_texts();
}

void scan_dialog::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange)
        show_texts();
    QDialog::changeEvent(event);
}

void scan_dialog::show_texts()
{
    setWindowTitle(translated("scan_dialog", SCAN_DIALOG_TITLE));
    modules_->setAccessibleName(scan_dialog_tr::tr("找到的模块"));
    again_->setText(scan_dialog_tr::tr("再查一遍"));
    stop_->setText(ended_ ? CLOSE_CAPTION() : STOP_CAPTION());
    for (int row = 0; row < modules_->count(); ++row) {
        QListWidgetItem* item = modules_->item(row);
        item->setText(scan_dialog_tr::tr("地址 %1，刷新周期 %2")
                          .arg(item->data(ADDRESS_ROLE).toInt())
                          .arg(item->data(PERIOD_ROLE).toInt()));
    }
    const int count = modules_->count();
    if (!ended_) {
        status_->setText(scan_dialog_tr::tr("正在查找地址 0 到 255 上的模块……"));
        return;
    }
    switch (*ended_) {
    case operation_end::done: {
        QString doubt;
        if (scan_.noisy())
            doubt = scan_dialog_tr::tr("线路上杂波很多：第二轮查找在 %1 个可疑地址未查完时停止，"
                                       "可能漏掉了模块。请检查接线、终端电阻和屏蔽。")
                        .arg(scan_.unchecked());
        else if (scan_.garbled() > 0)
            doubt = scan_dialog_tr::tr("有 %1 个应答在传输中损坏，可能漏掉了模块；可点“再查一遍”。")
                        .arg(scan_.garbled());
        status_->setText(
            (count == 0
                 ? scan_dialog_tr::tr("没有找到模块。请检查接线和模块电源。")
                 : scan_dialog_tr::tr("找到 %1 个模块。按回车键或双击读取所选模块。").arg(count)) +
            (doubt.isEmpty() ? QString() : u'\n' + doubt));
        return;
    }
    case operation_end::stopped:
        status_->setText(scan_dialog_tr::tr("查找已停止，找到 %1 个模块。").arg(count));
        return;
    case operation_end::no_reply:
    case operation_end::port_lost:
    case operation_end::port_closed:
        status_->setText(
            scan_dialog_tr::tr("串口已断开，查找已停止。此前找到 %1 个模块。").arg(count));
        return;
    }
}

void scan_dialog::start()
{
    open();
    begin_scan({});
}

void scan_dialog::begin_scan(const scan_options& options)
{
    again_->setVisible(false);
    ended_.reset();
    show_texts();
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
        scan_dialog_tr::tr("地址 %1，刷新周期 %2").arg(address).arg(refresh_period));
    item->setData(ADDRESS_ROLE, address);
    item->setData(PERIOD_ROLE, refresh_period);
    modules_->insertItem(row, item);
}

void scan_dialog::scan_finished(operation_end end)
{
    ended_ = end;
    show_texts();
    const int count = modules_->count();
    switch (end) {
    case operation_end::done:
        progress_->setValue(progress_->maximum());
        again_->setVisible(scan_.noisy() || scan_.garbled() > 0);
        break;
    case operation_end::stopped:
        break;
    case operation_end::no_reply:
    case operation_end::port_lost:
    case operation_end::port_closed:
        // The port is gone: nothing found can be read now.
        port_gone_ = true;
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
