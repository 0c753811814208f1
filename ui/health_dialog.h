// 线路诊断: the short active test of the open port's bus (a scan, reads of record 0 of every
// module found, a quiet listen) under a progress bar, then each module with its reply times
// and errors, and the findings in words with what to do. Closing it stops the test.
#pragma once

#include "bus_health.h"

#include <QDialog>

#include <optional>

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
    void changeEvent(QEvent* event) override;

private:
    void show_progress(health_stage stage, int done, int total);
    void finished(operation_end end);
    void show_report(const health_report& report);
    // Every text of the dialog for its state, in the window's language.
    void show_texts();

    health_check check_;
    QLabel* status_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QTreeWidget* modules_ = nullptr;
    QListWidget* findings_ = nullptr;
    QPushButton* stop_ = nullptr;
    health_stage stage_ = health_stage::scanning;  // and its counts, while the check runs
    int done_ = 0;
    int total_ = 256;
    std::optional<operation_end> ended_;  // how the check ended; none while it runs
};

}  // namespace lorvane
