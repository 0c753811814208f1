#include "site_window.h"

#include "file_access.h"
#include "language.h"
#include "main_form.h"
#include "message_box.h"
#include "port_holders.h"
#include "server_trust.h"
#include "site_ports.h"
#include "site_report.h"
#include "site_texts.h"
#include "site_tree.h"
#include "transfer_sequences.h"
#include "window_texts.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

namespace lorvane {

namespace {

QString native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

// The device a bus's port names now, as a run would open it; nothing when a usb: port's
// adapter is not plugged in (or not alone).
std::optional<QString> device_of(const site_bus& bus)
{
    const auto resolved = resolve_bus_port(bus);
    if (const auto* device = std::get_if<QString>(&resolved))
        return *device;
    return std::nullopt;
}

QPushButton* make_button(QWidget* parent, const char* name, const QString& text)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QLatin1String(name));
    button->setAutoDefault(true);  // Return presses the button that has the focus
    return button;
}

}  // namespace

bool is_site_file(const QString& path)
{
    // Through the one opener: a FIFO or a device is no site file, and is never waited on.
    const file_contents contents = read_regular_file(path, SITE_FILE_MAX_SIZE);
    const auto* bytes = std::get_if<QByteArray>(&contents);
    return bytes && names_site_format(*bytes);
}

site_window* site_window::open(main_form& main, const QString& path)
{
    const QString key = QFileInfo(path).absoluteFilePath();
    site_window* same = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* window = qobject_cast<site_window*>(widget);
        if (window && window->isVisible() && QFileInfo(window->path_).absoluteFilePath() == key)
            same = window;
    }
    if (same && same->running()) {
        same->raise();
        same->activateWindow();
        return same;
    }
    site_digests digests;
    const auto loaded = load_checked_site(path, {}, &digests);
    if (const auto* error = std::get_if<site_file_error>(&loaded)) {
        message_box::show(&main, site_file_message(*error, path));
        return nullptr;
    }
    if (same)
        same->close();
    auto* window = new site_window(main, path, std::get<site_plan>(loaded));
    window->digests_ = digests;
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

site_window::site_window(main_form& main, const QString& path, const site_plan& plan)
    : QWidget(nullptr, Qt::Window), main_(main), path_(path), plan_(plan)
{
    setObjectName(SITE_WINDOW_NAME);
    setAttribute(Qt::WA_DeleteOnClose);
    // The program ends with its main window; this one closes with it (see eventFilter).
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle(site_window_title(plan.name));
    setWindowIcon(main.windowIcon());
    create_controls();
    tree_->fill(planned_result(plan_, site_action::check), path_);
    update_buttons();
    resize(900, 480);

    main.installEventFilter(this);
    connect(&main, &QObject::destroyed, this, [this] { delete this; });
}

site_window::~site_window()
{
    message_box::withdraw(trust_box_);  // unanswered: its bus ends with the run
    // Whatever was under way ends here, logged as a stop would log it.
    if (run_) {
        run_->disconnect(this);
        run_->stop();
    }
}

void site_window::create_controls()
{
    tree_ = new site_tree(this);
    connect(tree_, &QTreeWidget::currentItemChanged, this, &site_window::update_buttons);
    // Above the tree, where a filter is looked for; the buttons below keep their places.
    only_problems_ = new QCheckBox(this);  // its texts come from show_texts()
    only_problems_->setObjectName(QStringLiteral("site_only_problems"));
    connect(only_problems_, &QCheckBox::toggled, tree_, &site_tree::show_only_problems);
    connect(new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_P), this), &QShortcut::activated,
            only_problems_, &QCheckBox::toggle);
    connect(new QShortcut(QKeySequence(Qt::Key_F8), this), &QShortcut::activated, this,
            [this] { go_to_problem(true); });
    connect(new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F8), this), &QShortcut::activated, this,
            [this] { go_to_problem(false); });
    keys_hint_ = new QLabel(this);
    keys_hint_->setEnabled(false);  // a hint, drawn dimmed

    summary_ = new QLabel(this);
    summary_->setObjectName(QStringLiteral("site_summary"));
    summary_->setTextFormat(Qt::PlainText);
    summary_->setWordWrap(true);
    summary_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // What an owner copies to check the log later: selectable, hidden until a run is over.
    log_head_ = new QLabel(this);
    log_head_->setObjectName(QStringLiteral("log_head"));
    log_head_->setTextFormat(Qt::PlainText);
    log_head_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    log_head_->hide();

    // Their texts come from show_texts().
    check_ = make_button(this, "site_check", {});
    write_ = make_button(this, "site_write", {});
    report_ = make_button(this, "site_report", {});
    load_ = make_button(this, "site_load", {});
    stop_ = make_button(this, "site_stop", {});
    close_ = make_button(this, "site_close", {});
    connect(check_, &QPushButton::clicked, this, &site_window::check);
    connect(write_, &QPushButton::clicked, this, &site_window::write);
    connect(report_, &QPushButton::clicked, this, &site_window::save_report);
    connect(load_, &QPushButton::clicked, this, &site_window::load_into_main);
    connect(stop_, &QPushButton::clicked, this, &site_window::stop);
    connect(close_, &QPushButton::clicked, this, &QWidget::close);

    auto* buttons = new QHBoxLayout;
    for (QPushButton* button : {check_, write_, report_, load_})
        buttons->addWidget(button);
    buttons->addStretch();
    buttons->addWidget(stop_);
    buttons->addWidget(close_);
    auto* filter = new QHBoxLayout;
    filter->addWidget(only_problems_);
    filter->addSpacing(12);
    filter->addWidget(keys_hint_);
    filter->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(filter);
    layout->addWidget(tree_);
    layout->addWidget(summary_);
    layout->addWidget(log_head_);
    layout->addLayout(buttons);
    show_texts();
    summary_->setText(first_summary());
}

QString site_window::first_summary() const
{
    return site_window_tr::tr("%1 条总线，%2。按“核对”读取每个模块，与配置文件比较。")
        .arg(QString::number(plan_.buses.size()), native(path_));
}

void site_window::show_texts()
{
    setWindowTitle(site_window_title(plan_.name));
    tree_->show_texts();
    only_problems_->setText(translated("site_texts", ONLY_PROBLEMS_TEXT));
    only_problems_->setToolTip(translated("site_texts", ONLY_PROBLEMS_TIP));
    keys_hint_->setText(translated("site_texts", PROBLEM_KEYS_HINT));
    check_->setText(site_window_tr::tr("核对(&C)"));
    write_->setText(site_window_tr::tr("写入有差异的模块(&W)"));
    report_->setText(site_window_tr::tr("保存报告…(&R)"));
    load_->setText(site_window_tr::tr("载入主窗口(&L)"));
    stop_->setText(site_window_tr::tr("停止"));
    close_->setText(site_window_tr::tr("关闭"));
}

// A change of language redraws the fixed texts at once, and the rows and the summary of a
// finished run; a run under way words its rows anew as it reports them.
void site_window::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange && tree_) {
        show_texts();
        // A run under way words its rows and its summary anew as it reports them.
        if (!running())
            show_rows_again();
    }
    QWidget::changeEvent(event);
}

// The rows and the summary as they stand between runs, in the window's language: the last
// run's outcome while the files are as it read them, else the plan.
void site_window::show_rows_again()
{
    if (!last_result_ || !run_ || !check_current_) {
        tree_->fill(planned_result(plan_, site_action::check), path_);
        if (!last_result_ && reread_note_.isEmpty())
            summary_->setText(first_summary());
        return;
    }
    tree_->fill(*last_result_, path_);
    for (int b = 0; b < int(last_result_->buses.size()); ++b) {
        const bus_result& bus = last_result_->buses[std::size_t(b)];
        for (const module_result& m : bus.modules)
            tree_->show_module(b, bus, m);
        tree_->show_bus_done(b, *last_result_, bus);
    }
    summary_->setText(with_reread_note(site_summary(*last_result_)));
    log_head_->setText(site_window_tr::tr("日志头 sha256:") +
                       QString::fromLatin1(last_result_->log_head));
    tree_->select_first_module();
}

void site_window::go_to_problem(bool forward)
{
    if (!tree_->go_to_problem(forward))
        QApplication::beep();
}

std::optional<QString> site_window::port_held_by_main() const
{
    const serial_link& line = main_.link();
    if (!line.is_open() && !line.is_opening())
        return std::nullopt;
    const QString held = device_identity(line.port_name()).value_or(line.port_name());
    for (const site_bus& bus : plan_.buses) {
        const auto device = device_of(bus);
        if (device && device_identity(*device).value_or(*device) == held)
            return line.port_name();
    }
    return std::nullopt;
}

bool site_window::reload()
{
    site_digests digests;
    auto loaded = load_checked_site(path_, {}, &digests);
    if (const auto* error = std::get_if<site_file_error>(&loaded)) {
        message_box::show(this, site_file_message(*error, path_));
        return false;
    }
    const bool site_changed = digests.site != digests_.site;
    QStringList panels_changed;
    for (const auto& [panel, digest] : digests.panels) {
        const auto before = digests_.panels.find(panel);
        if (before != digests_.panels.end() && before->second != digest)
            panels_changed << panel;
    }
    digests_ = std::move(digests);
    plan_ = std::get<site_plan>(std::move(loaded));
    if (!site_changed && panels_changed.isEmpty()) {
        reread_note_.clear();
        return true;
    }
    reread_note_ =
        files_changed_words(site_changed ? shown_file_name(path_) : QString(), panels_changed);
    // The last check found what the modules held against the files as they were.
    check_current_ = false;
    setWindowTitle(site_window_title(plan_.name));
    tree_->fill(planned_result(plan_, site_action::check), path_);
    summary_->setText(reread_note_);
    update_buttons();
    return true;
}

void site_window::check()
{
    if (running() || !reload())
        return;
    if (const auto port = port_held_by_main()) {
        message_box::show(this, close_in_main_window_first(*port));
        return;
    }
    if (!open_log())  // a check leaves its trace in the log too
        return;
    start(site_action::check);
}

bool site_window::open_log()
{
    const QString log_path = audit_log_path(path_);
    log_ = std::make_unique<audit_log>();
    if (const auto failure = log_->open(log_path)) {
        log_.reset();
        message_box::show(this,
                          log_open_failed_message(
                              native(log_path),
                              file_failure_text(*failure, true, site_window_tr::tr("审计日志"))));
        return false;
    }
    return true;
}

void site_window::write()
{
    if (running() || !reload())
        return;
    if (const auto port = port_held_by_main()) {
        message_box::show(this, close_in_main_window_first(*port));
        return;
    }
    const QString log_path = audit_log_path(path_);
    const site_result* last_check =
        last_result_ && last_result_->action == site_action::check && check_current_
            ? &*last_result_
            : nullptr;
    if (!confirm_box::ask(this, write_question(plan_, last_check, native(log_path)),
                          site_window_tr::tr("写入")))
        return;
    // Opened before anything is sent: a log that cannot take the lines stops the write here.
    if (!open_log())
        return;
    start(site_action::write);
}

void site_window::start(site_action action)
{
    site_run_options options;
    options.action = action;
    options.scan = action == site_action::check;
    options.session = {REPLY_TIMEOUT, 0};
    // Read afresh at each run, as the main window does at each open: a pin or a client
    // certificate saved meanwhile counts. A bus behind an unknown certificate asks.
    options.network = default_network_options();
    options.ask_trust = true;
    trust_answers_.clear();
    run_ = std::make_unique<site_run>(plan_, options);
    run_->set_audit_log(log_.get(), audit_identity::of_this_process(), digests_);
    tree_->fill(run_->result(), path_);
    const QString working = action == site_action::check ? site_window_tr::tr("正在核对")
                                                         : site_window_tr::tr("正在写入");
    for (int bus = 0; bus < int(plan_.buses.size()); ++bus)
        tree_->show_bus_status(bus, site_window_tr::tr("正在打开串口"));

    site_run* run = run_.get();
    connect(run, &site_run::bus_opened, this,
            [this, working](int bus) { tree_->show_bus_status(bus, working); });
    connect(run, &site_run::scan_progress, this, [this](int bus, int probed, int total) {
        tree_->show_bus_progress(bus, probed, total, site_window_tr::tr("扫描 %v/%m"));
    });
    connect(run, &site_run::module_started, this, [this](int bus, int address, transfer_step step) {
        tree_->show_bus_progress(bus, tree_->modules_done(bus),
                                 int(plan_.buses[std::size_t(bus)].panels.size()),
                                 site_window_tr::tr("模块 %v/%m"));
        tree_->show_step(bus, address, step);
    });
    connect(run, &site_run::module_progress, this, [this](int bus, int address, int confirmed) {
        tree_->show_records(bus, address, confirmed);
    });
    connect(run, &site_run::module_done, this, [this](int bus, const module_result& m) {
        tree_->show_module(bus, run_->result().buses[std::size_t(bus)], m);
        if (m.panel >= 0) {
            tree_->count_module_done(bus);
        }
    });
    connect(run, &site_run::certificate_unknown, this, &site_window::ask_trust);
    connect(run, &site_run::bus_done, this, [this](int bus, const bus_result& result) {
        drop_trust_questions(bus);  // stopped while it waited: no box asks for it any more
        for (const module_result& m : result.modules)
            tree_->show_module(bus, result, m);
        tree_->show_bus_done(bus, run_->result(), result);
    });
    connect(run, &site_run::finished, this, &site_window::finished);

    summary_->setText(with_reread_note(working + site_window_tr::tr("……")));
    busy_ = true;
    run->start();
    update_buttons();
}

void site_window::ask_trust(int bus, const server_certificate& certificate)
{
    // Once per server and run: a server answered already gets the same answer.
    if (const auto answer = trust_answers_.find(certificate.server);
        answer != trust_answers_.end()) {
        run_->answer_trust(bus, answer->second);
        return;
    }
    tree_->show_bus_status(bus, site_window_tr::tr("等待确认证书"));
    trust_waiting_.push_back({bus, certificate});
    ask_next_trust();
}

void site_window::ask_next_trust()
{
    if (trust_box_ || trust_waiting_.empty() || !run_)
        return;
    const trust_question next = trust_waiting_.front();
    trust_waiting_.pop_front();
    if (const auto answer = trust_answers_.find(next.certificate.server);
        answer != trust_answers_.end()) {
        run_->answer_trust(next.bus, answer->second);
        ask_next_trust();
        return;
    }
    port_failure failure(port_failure_kind::certificate_unknown,
                         run_->result().buses[std::size_t(next.bus)].device);
    failure.certificate = next.certificate;
    trust_bus_ = next.bus;
    site_run* run = run_.get();
    trust_box_ = trust_unknown_server_later(this, failure, default_network_options().known_servers,
                                            [this, run, next](bool trusted) {
                                                trust_box_ = nullptr;
                                                trust_bus_ = -1;
                                                if (run != run_.get())
                                                    return;  // a box of a run that is over
                                                trust_answers_[next.certificate.server] = trusted;
                                                run->answer_trust(next.bus, trusted);
                                                ask_next_trust();
                                            });
}

void site_window::drop_trust_questions(int bus)
{
    std::erase_if(trust_waiting_, [bus](const trust_question& q) { return q.bus == bus; });
    if (trust_bus_ == bus && trust_box_) {
        message_box::withdraw(trust_box_);
        trust_box_ = nullptr;
        trust_bus_ = -1;
        ask_next_trust();
    }
}

void site_window::finished(const site_result& result)
{
    busy_ = false;
    log_.reset();  // the run logs nothing more; other programs may move the file now
    last_result_ = result;
    result_plan_ = plan_;
    result_digests_ = digests_;
    check_current_ = true;
    summary_->setText(with_reread_note(site_summary(result)));
    log_head_->setText(site_window_tr::tr("日志头 sha256:") + QString::fromLatin1(result.log_head));
    log_head_->setVisible(!result.log_head.isEmpty());
    tree_->select_first_module();
    update_buttons();
    tree_->setFocus();
    if (result.log_failure)
        message_box::show(this,
                          log_failed_message(native(audit_log_path(path_)), *result.log_failure));
}

QString site_window::with_reread_note(const QString& text) const
{
    return reread_note_.isEmpty() ? text : text + u'\n' + reread_note_;
}

void site_window::stop()
{
    if (run_ && run_->running())
        run_->stop();
}

void site_window::save_report()
{
    if (running() || !last_result_)
        return;
    const QString start = QFileInfo(path_).absoluteDir().filePath(report_file_name(*last_result_));
    const QString path = file_dialog::save_name(this, translated("site_texts", SAVE_REPORT_TITLE),
                                                translated("site_texts", REPORT_FILE_FILTER), start,
                                                QStringLiteral("html"));
    if (path.isEmpty())
        return;
    report_options shape;
    if (message_box::ask(this, APPLICATION_TITLE, translated("site_texts", AS_BUILT_QUESTION),
                         translated("site_texts", AS_BUILT_YES),
                         translated("site_texts", AS_BUILT_NO)))
        shape.as_built = &result_plan_;
    const audit_identity who = audit_identity::of_this_process();
    const report_facts facts{last_result_->started,
                             who.user,
                             who.host,
                             QStringLiteral("Lorvane ") + QStringLiteral(LORVANE_VERSION),
                             QFileInfo(path_).fileName(),
                             result_digests_};
    const chinese_report_words words(*last_result_);
    // Whole or not at all, as the main window saves a panel file, and worded as it words a
    // file that cannot be saved.
    if (const auto failure =
            write_regular_file(path, site_report_html(*last_result_, facts, words, shape))) {
        message_box::show(this,
                          report_failed_message(
                              path, file_failure_text(*failure, true, site_window_tr::tr("报告"))));
        return;
    }
    summary_->setText(site_summary(*last_result_) + site_window_tr::tr("\n报告已保存：") +
                      native(path));
}

void site_window::load_into_main()
{
    const auto place = tree_->current_place();
    if (!place)
        return;
    const site_bus& plan = plan_.buses[std::size_t(place->bus)];
    for (const panel_config& panel : plan.panels) {
        if (panel.module_address != place->address)
            continue;
        main_.show_config(panel, device_of(plan).value_or(QString()));
        if (main_.isMinimized())
            main_.showNormal();
        main_.show();
        main_.raise();
        main_.activateWindow();
        return;
    }
}

void site_window::update_buttons()
{
    const bool busy = running();
    check_->setEnabled(!busy);
    write_->setEnabled(!busy);
    report_->setEnabled(!busy && last_result_.has_value());
    stop_->setEnabled(busy);
    const auto place = tree_->current_place();
    bool planned = false;
    if (place && place->address >= 0) {
        const auto& panels = plan_.buses[std::size_t(place->bus)].panels;
        planned = std::any_of(panels.begin(), panels.end(), [&](const panel_config& p) {
            return p.module_address == place->address;
        });
    }
    load_->setEnabled(planned);
}

void site_window::closeEvent(QCloseEvent* event)
{
    if (run_ && run_->running()) {
        const bool writing = run_->result().action == site_action::write;
        run_->stop();  // every bus ends now; the modules cut off are logged
        if (writing)
            message_box::show(this,
                              write_stopped_message(run_->result(), native(audit_log_path(path_))));
    }
    event->accept();
}

void site_window::keyPressEvent(QKeyEvent* event)
{
    // Esc stops a run, as Ctrl-C does on the command line; at rest it closes the window.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        if (running())
            stop();
        else
            close();
        return;
    }
    QWidget::keyPressEvent(event);
}

bool site_window::eventFilter(QObject* watched, QEvent* event)
{
    // Closing the main window ends the program: this window closes first, stopping its run.
    if (watched == &main_ && event->type() == QEvent::Close)
        close();
    return QWidget::eventFilter(watched, event);
}

}  // namespace lorvane
