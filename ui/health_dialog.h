// 线路诊断: the short active test of the open port's bus (a scan, reads of record 0 of every
// module found, a quiet listen) under a progress bar, then each module with its reply times
// and errors, and the findings in words with what to do. Closing it stops the test.
#pragma once

#include "bus_health.h"

#include <QDialog>

class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QTreeWidget;

namespace lorvane {

class health_dialog final : public QDialog
{
    Q_OBJECT

public:
    health_dialog(serial_link& link, QWidget* parent);

    // Shows the dialog above its window (window-modal, not blocking) and starts the test.
    void start();

protected:
    void done(int result) override;

private:
    void show_progress(health_stage stage, int done, int total);
    void finished(operation_end end);
    void show_report(const health_report& report);

    health_check check_;
    QLabel* status_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QTreeWidget* modules_ = nullptr;
    QListWidget* findings_ = nullptr;
    QPushButton* stop_ = nullptr;
};

}  // namespace lorvane
