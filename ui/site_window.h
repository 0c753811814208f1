// The window of a whole site: its buses, each with the modules its panel files name (and,
// after a check, the modules that answered where no panel was planned), checked and written
// through the engine's site run, with the same audit log as lorvane-cli and a report in
// Chinese. A top-level window of its own beside the main window, which stays usable. While a
// run goes on it holds every bus's port; a bus whose port the main window has open is refused
// before anything is sent.
#pragma once

#include "audit_log.h"
#include "site_file.h"
#include "site_loader.h"
#include "site_run.h"

#include <QPointer>
#include <QWidget>

#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <vector>

class QCheckBox;
class QLabel;
class QPushButton;

namespace lorvane {

class main_form;
class site_tree;

inline const QString SITE_WINDOW_NAME = QStringLiteral("site_window");

// Whether the file at `path` is a site file (valid or not) rather than a panel file.
bool is_site_file(const QString& path);

class site_window final : public QWidget
{
    Q_OBJECT

public:
    // Opens the site file at `path` in a site window beside `main`, or says in one box over
    // `main` why it cannot, and returns null. An idle window of the same file is replaced (the
    // file is read afresh); one that runs comes to the front as it is.
    static site_window* open(main_form& main, const QString& path);

    site_window(main_form& main, const QString& path, const site_plan& plan);
    ~site_window() override;

    // A check or write is under way, until its end is shown.
    bool running() const { return busy_; }
    const QString& path() const { return path_; }

    // The buttons.
    void check();           // 核对(&C)
    void write();           // 写入有差异的模块(&W)
    void save_report();     // 保存报告…(&R)
    void load_into_main();  // 载入主窗口(&L)
    void stop();            // 停止

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void create_controls();
    // F8 / Shift+F8: to the next / previous problem; nothing to go to is said with a beep.
    void go_to_problem(bool forward);
    // The texts that do not depend on a run, in the window's language.
    void show_texts();
    QString first_summary() const;  // "N 条总线，PATH。按“核对”……"
    void show_rows_again();
    // Reads the site file and its panels afresh before a run: false, after the box that says
    // why, when the site is refused now. What changed since the last reading goes on the
    // status line.
    bool reload();
    QString with_reread_note(const QString& text) const;
    void start(site_action action);
    void finished(const site_result& result);
    void update_buttons();
    std::optional<QString> port_held_by_main() const;
    // A bus behind an unknown TLS certificate: the main window's trust box, one at a time and
    // once per server and run, without stopping the other buses.
    void ask_trust(int bus, const server_certificate& certificate);
    // Opens the audit log before anything is sent; false (having said why) when it cannot.
    bool open_log();
    void ask_next_trust();
    void drop_trust_questions(int bus);

    main_form& main_;
    const QString path_;
    site_plan plan_;
    site_digests digests_;            // of the files plan_ was read from
    QString reread_note_;             // which files had changed at the last reading; empty: none
    bool check_current_ = true;       // the files are as the last run read them
    std::unique_ptr<audit_log> log_;  // a check's or a write's, open while it runs
    std::unique_ptr<site_run> run_;
    std::optional<site_result> last_result_;
    site_plan result_plan_;  // the panels and file digests last_result_'s run used, for its report
    site_digests result_digests_;
    bool busy_ = false;
    struct trust_question
    {
        int bus = -1;
        server_certificate certificate;
    };
    std::deque<trust_question> trust_waiting_;  // the buses that wait for the box, in turn
    QPointer<QWidget> trust_box_;               // the box shown now, for trust_bus_
    int trust_bus_ = -1;
    std::map<QString, bool> trust_answers_;  // this run's answers, by server

    site_tree* tree_ = nullptr;
    QLabel* keys_hint_ = nullptr;         // F8 / Shift+F8
    QCheckBox* only_problems_ = nullptr;  // 只看问题 (Ctrl+P)
    QLabel* summary_ = nullptr;
    QLabel* log_head_ = nullptr;  // the audit log's head after the last check or write
    QPushButton* check_ = nullptr;
    QPushButton* write_ = nullptr;
    QPushButton* report_ = nullptr;
    QPushButton* load_ = nullptr;
    QPushButton* stop_ = nullptr;
    QPushButton* close_ = nullptr;
};

}  // namespace lorvane
