// 查找模块: scans addresses 0..255 with the engine's bus scan, lists each module as it is
// found (address and refresh period) under a progress bar, and hands back the module the
// user picks with Return or a double-click. Closing it stops the scan. When garbled replies
// were left unexplained it says so and offers one more pass (再查一遍).
#pragma once

#include "bus_scan.h"

#include <QDialog>

#include <optional>

class QLabel;
class QListWidget;
class QListWidgetItem;
class QProgressBar;
class QPushButton;

namespace lorvane {

inline const QString SCAN_DIALOG_TITLE =
    QStringLiteral(QT_TRANSLATE_NOOP("scan_dialog", "查找模块"));

class scan_dialog final : public QDialog
{
    Q_OBJECT

public:
    scan_dialog(serial_link& link, QWidget* parent);

    // Shows the dialog above its window (window-modal, not blocking) and starts the scan.
    void start();

Q_SIGNALS:
    // The user picked the module at `address`; the dialog has closed.
    void module_chosen(int address);

protected:
    void done(int result) override;
    void changeEvent(QEvent* event) override;

private:
    void begin_scan(const scan_options& options);
    void add_module(int address, int refresh_period);
    void scan_finished(operation_end end);
    void choose(QListWidgetItem* item);
    // Every text of the dialog for its state, in the window's language.
    void show_texts();

    bus_scan scan_;
    QLabel* status_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QListWidget* modules_ = nullptr;
    QPushButton* again_ = nullptr;
    QPushButton* stop_ = nullptr;
    bool port_gone_ = false;
    std::optional<operation_end> ended_;  // how the last scan ended; none while it runs
};

}  // namespace lorvane
