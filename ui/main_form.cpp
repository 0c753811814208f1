#include "main_form.h"

#include "capture_action.h"
#include "config_compare.h"
#include "file_access.h"
#include "health_dialog.h"
#include "language.h"
#include "message_box.h"
#include "panel_file.h"
#include "port_list.h"
#include "port_listing.h"
#include "port_texts.h"
#include "scan_dialog.h"
#include "server_trust.h"
#include "site_texts.h"
#include "site_window.h"
#include "window_texts.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QCompleter>
#include <QContextMenuEvent>
#include <QDialog>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEvent>
#include <QFont>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QStandardItemModel>

// The icon lives in this static library; make sure the linker keeps its resources.
static void init_resources()
{
    Q_INIT_RESOURCE(lorvane);
}

namespace lorvane {

namespace {

constexpr int ROW_TOP = 840;    // twips, row 0
constexpr int ROW_PITCH = 360;  // twips between rows

int row_top(int row)
{
    return ROW_TOP + ROW_PITCH * row;
}

// The large face of the port, address and refresh fields: 宋体 15.75 pt, falling back to
// an installed CJK face where 宋体 is absent (as on most Linux desktops).
QFont field_font()
{
    QFont font;
    font.setFamilies({QStringLiteral("宋体"), QStringLiteral("SimSun"),
                      QStringLiteral("Noto Serif CJK SC"), QStringLiteral("Noto Sans CJK SC")});
    font.setPointSizeF(15.75);
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    return font;
}

constexpr qreal STANDARD_POINT_SIZE = 9.0;

QString indexed_name(const char* array, int index)
{
    return QStringLiteral("%1_%2").arg(QLatin1String(array)).arg(index);
}

template <typename W>
W* place(W* widget, const QString& name, int left, int top, int width, int height)
{
    widget->setObjectName(name);
    widget->setGeometry(px(left), px(top), px(width), px(height));
    return widget;
}

QLabel* make_label(QWidget* parent, const QString& name, const QString& text, int left, int top,
                   int width, int height)
{
    auto* label = place(new QLabel(text, parent), name, left, top, width, height);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return label;
}

QLineEdit* make_text_box(QWidget* parent, const QString& name, const QString& text, int left,
                         int top, int width, int height, const QString& accessible)
{
    auto* box = place(new QLineEdit(text, parent), name, left, top, width, height);
    box->setAccessibleName(accessible);
    return box;
}

QPushButton* make_button(QWidget* parent, const QString& name, const QString& caption, int left,
                         int top, int width, int height)
{
    auto* button = place(new QPushButton(caption, parent), name, left, top, width, height);
    // Enter activates the focused button as Space does; outside a dialog this makes no
    // button the window's default.
    button->setAutoDefault(true);
    button->setDefault(false);
    return button;
}

}  // namespace

QFont standard_font()
{
    QFont font;
    font.setFamilies({QStringLiteral("Microsoft YaHei UI"), QStringLiteral("Microsoft YaHei"),
                      QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Source Han Sans SC"),
                      QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("SimSun"),
                      QStringLiteral("Segoe UI"), QStringLiteral("Tahoma")});
    font.setPointSizeF(STANDARD_POINT_SIZE);
    return font;
}

void set_up_application()
{
    init_resources();
    // No display name: on X11 Qt would append it to the window caption.
    QApplication::setApplicationName(QStringLiteral("lorvane"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/lorvane/lorvane.png")));
    QApplication::setFont(standard_font());
}

main_form::main_form(QWidget* parent) : main_form(nullptr, parent) {}

main_form::main_form(std::unique_ptr<serial_device> local_device, QWidget* parent)
    : QWidget(parent), link_(std::move(local_device), this), transfer_(*this, link_),
      check_(link_, {REPLY_TIMEOUT, 0})
{
    init_resources();
    setObjectName(QStringLiteral("main_form"));
    setWindowTitle(WINDOW_CAPTION);
    setWindowIcon(QIcon(QStringLiteral(":/lorvane/lorvane.png")));
    // The layout is absolute; nothing would follow a change of size.
    setFixedSize(CLIENT_WIDTH, CLIENT_HEIGHT);

    create_controls();
    set_focus_order();
    Form_Load();

    // Every handler that may show a box runs through handlers_, one at a time: what
    // arrives while a box is open is handled once the user has confirmed it.
    connect(open_comm, &QPushButton::clicked, this,
            [this] { handlers_.run([this] { open_comm_Click(); }); });
    connect(Command1, &QPushButton::clicked, this,
            [this] { handlers_.run([this] { Command1_Click(); }); });
    connect(Command2, &QPushButton::clicked, this,
            [this] { handlers_.run([this] { Command2_Click(); }); });
    // A network port opens in the background; the window changes only once it has.
    connect(&link_, &serial_link::opened, this, [this] {
        show_port_open();
        const auto certificate = link_.peer_certificate();
        if (!certificate)
            return;
        if (auto warning = expiry_warning_message(link_.port_name(), *certificate,
                                                  QDateTime::currentDateTimeUtc()))
            handlers_.run([this, text = *warning] { show_message(text); });
    });
    connect(&link_, &serial_link::open_failed, this, [this](const port_failure& failure) {
        // Asked here, from the event loop, never inside the socket's handshake.
        handlers_.run_line_event(line_event::port, [this, failure] {
            if (!trust_and_reopen(this, link_, failure))
                show_message(port_failure_message(failure));
        });
    });
    connect(&link_, &serial_link::port_lost, this, [this](const QString& device, port_loss why) {
        show_port_closed();
        handlers_.run_line_event(line_event::port, [this, device, why] {
            show_message(port_lost_message(device, why));
        });
    });
    transfer_.watch_replies(handlers_);
    connect(
        &check_, &module_session::finished, this,
        [this](operation_end end) {
            handlers_.run_line_event(line_event::operation,
                                     [this, end] { show_check_result(end); });
        },
        Qt::QueuedConnection);
    create_actions();
    retranslate();
    forget_kept_operations_on_edit();
    setAcceptDrops(true);

    Command1->setFocus();
}

main_form::~main_form()
{
    // Child windows (the module search) go first: they use the line, which goes with this
    // window's members before QWidget would delete its children.
    for (QDialog* dialog : findChildren<QDialog*>(Qt::FindDirectChildrenOnly))
        delete dialog;
    link_.disconnect(this);
}

void main_form::create_controls()
{
    const QFont big = field_font();

    // Texts come from retranslate(), again at each change of language.
    Label6 = make_label(this, QStringLiteral("Label6"), {}, 360, 240, 735, 255);
    chuankou_num = make_text_box(this, QStringLiteral("chuankou_num"), QStringLiteral("1"), 1200,
                                 120, 855, 375, {});
    chuankou_num->setFont(big);
    // The ports and the servers found are offered in a list that opens only on demand (Down
    // arrow, Alt+Down or F4); any number, name or path can still be typed.
    ports_ = new port_list(chuankou_num);
    chuankou_num->installEventFilter(this);
    open_comm = make_button(this, QStringLiteral("open_comm"), {}, 2160, 120, 615, 375);
    Label1 = make_label(this, QStringLiteral("Label1"), {}, 2880, 240, 1335, 255);
    add = make_text_box(this, QStringLiteral("add"), QStringLiteral("1"), 4200, 120, 855, 375, {});
    add->setFont(big);
    Label3 = make_label(this, QStringLiteral("Label3"), {}, 1200, 600, 615, 255);
    Label4 = make_label(this, QStringLiteral("Label4"), {}, 2160, 600, 735, 255);
    Label5 = make_label(this, QStringLiteral("Label5"), {}, 3360, 600, 495, 255);

    for (int i = 0; i < KEY_COUNT; ++i) {
        const auto n = static_cast<std::size_t>(i);
        Label2[n] = make_label(this, indexed_name("Label2", i), {}, 240, row_top(i), 735, 255);
        Text2[n] =
            make_text_box(this, indexed_name("Text2", i), {}, 1080, row_top(i), 735, 270, {});
        Text3[n] =
            make_text_box(this, indexed_name("Text3", i), {}, 2040, row_top(i), 735, 270, {});
        auto* combo =
            place(new QComboBox(this), indexed_name("Combo1", i), 3120, row_top(i), 1935, 300);
        combo->setEditable(true);
        // Typed text stays as typed: no completion, and Enter adds nothing to the list.
        combo->setCompleter(nullptr);
        combo->setInsertPolicy(QComboBox::NoInsert);
        Combo1[n] = combo;
    }

    Label7 = make_label(this, QStringLiteral("Label7"), {}, 240, 6840, 975, 255);
    Text5 = make_text_box(this, QStringLiteral("Text5"), QStringLiteral("50"), 1200, 6720, 855, 375,
                          {});
    Text5->setFont(big);
    Command1 = make_button(this, QStringLiteral("Command1"), {}, 960, 7320, 1335, 495);
    Command2 = make_button(this, QStringLiteral("Command2"), {}, 2880, 7320, 1335, 495);
}

// Tab order: Command1, add, row 0 (address, line, operation), rows 1..15 (line,
// address, operation), Command2, chuankou_num, Text5, open_comm, back to Command1.
void main_form::set_focus_order()
{
    std::vector<QWidget*> order{Command1, add, Text2[0], Text3[0], Combo1[0]};
    for (std::size_t i = 1; i < KEY_COUNT; ++i) {
        order.push_back(Text3[i]);
        order.push_back(Text2[i]);
        order.push_back(Combo1[i]);
    }
    order.insert(order.end(), {Command2, chuankou_num, Text5, open_comm});
    for (std::size_t i = 0; i + 1 < order.size(); ++i)
        setTabOrder(order[i], order[i + 1]);
}

bool main_form::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == chuankou_num && event->type() == QEvent::FocusIn)
        refresh_port_list();
    if (watched == chuankou_num && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Down || key->key() == Qt::Key_F4) {
            show_port_list();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

// Opens the list of the ports and servers below the box; picking one puts its name in.
void main_form::show_port_list()
{
    ports_->show();
}

// Re-reads the system's ports, so an adapter plugged in while the window is open shows up.
void main_form::refresh_port_list()
{
    ports_->refresh();
}

void main_form::Form_Load()
{
    const auto& texts = operation_texts();
    for (std::size_t i = 0; i < texts.size(); ++i)
        shown_operations_[i] = operation_in_window(texts[i]);
    for (int i = 0; i < KEY_COUNT; ++i) {
        const auto n = static_cast<std::size_t>(i);
        Text2[n]->setText(text_of_byte(DEFAULT_KEY_ADDRESS));
        Text3[n]->setText(QString::number(i + 1));
        for (const QString& text : texts)
            Combo1[n]->addItem(operation_in_window(text));
        Combo1[n]->setEditText(operation_in_window(texts[0]));
    }
}

void main_form::open_comm_Click()
{
    if (link_.is_opening())
        return;  // a network port is still connecting; its outcome shows by itself
    if (!link_.is_open()) {
        // Read afresh at each open: a client certificate or a pin saved meanwhile counts.
        link_.set_network_options(default_network_options());
        if (const auto failure = link_.open(chuankou_num->text())) {
            show_message(port_failure_message(*failure));
            return;
        }
        if (link_.is_open())
            show_port_open();
    } else if (link_.is_open()) {
        link_.close();
        show_port_closed();
    }
}

void main_form::Command1_Click()
{
    if (line_free_for(false))
        transfer_.write_all();
}

void main_form::Command2_Click()
{
    if (line_free_for(false))
        transfer_.read_all();
}

void main_form::create_actions()
{
    const struct
    {
        const char* name;
        const char* text;  // its source text, translated when shown
        QKeySequence shortcut;
        void (main_form::*handler)();
    } actions[] = {
        {"open_file_action", QT_TRANSLATE_NOOP("main_form", "打开配置文件…"),
         QKeySequence(Qt::CTRL | Qt::Key_O), &main_form::open_file_dialog},
        {"save_file_action", QT_TRANSLATE_NOOP("main_form", "保存配置文件…"),
         QKeySequence(Qt::CTRL | Qt::Key_S), &main_form::save_file_dialog},
        {"find_modules_action", QT_TRANSLATE_NOOP("main_form", "查找模块…"),
         QKeySequence(Qt::CTRL | Qt::Key_F), &main_form::find_modules},
        // Ctrl+R: no text box of the window uses it.
        {"check_action", QT_TRANSLATE_NOOP("main_form", "与模块核对"),
         QKeySequence(Qt::CTRL | Qt::Key_R), &main_form::check_against_module},
        {"open_site_action", QT_TRANSLATE_NOOP("main_form", "打开工程…"),
         QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O), &main_form::open_site_dialog},
        {"diagnose_line_action", QT_TRANSLATE_NOOP("main_form", "线路诊断"),
         QKeySequence(Qt::CTRL | Qt::Key_D), &main_form::diagnose_line},
    };
    for (const auto& a : actions) {
        auto* action = new QAction(this);
        action->setObjectName(QLatin1String(a.name));
        action->setProperty(SOURCE_CONTEXT, QByteArray("main_form"));
        action->setProperty(SOURCE_TEXT, QByteArray(a.text));
        action->setShortcut(a.shortcut);
        action->setShortcutContext(Qt::WindowShortcut);
        connect(action, &QAction::triggered, this, [this, handler = a.handler] {
            handlers_.run([this, handler] { (this->*handler)(); });
        });
        addAction(action);  // the shortcut works without any menu on show
        actions_ << action;
    }
    capture_ = std::make_unique<capture_action>(link_, this);
    actions_ << capture_->action();

    auto* separator = new QAction(this);
    separator->setSeparator(true);
    actions_ << separator;
    // Switches at once, and is remembered for the next start.
    language_action_ = new QAction(this);
    language_action_->setObjectName(QStringLiteral("language_action"));
    connect(language_action_, &QAction::triggered, this,
            [this] { handlers_.run([this] { choose_language(); }); });
    actions_ << language_action_;
}

void main_form::contextMenuEvent(QContextMenuEvent* event)
{
    // Only the background and the labels: boxes and lists have menus of their own, and a
    // button is no place for one.
    QWidget* under = childAt(event->pos());
    if (under && !qobject_cast<QLabel*>(under)) {
        event->ignore();
        return;
    }
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("window_menu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addActions(actions_);
    menu->popup(event->globalPos());
}

namespace {

// The one local file a drag carries, or nothing.
QString dropped_file(const QMimeData* data)
{
    if (!data || !data->hasUrls() || data->urls().size() != 1 || !data->urls()[0].isLocalFile())
        return {};
    return data->urls()[0].toLocalFile();
}

}  // namespace

void main_form::dragEnterEvent(QDragEnterEvent* event)
{
    if (!dropped_file(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void main_form::dropEvent(QDropEvent* event)
{
    const QString path = dropped_file(event->mimeData());
    if (path.isEmpty())
        return;
    event->acceptProposedAction();
    handlers_.run([this, path] { open_file(path); });
}

bool main_form::line_free_for(bool transfer_too)
{
    if (check_.busy()) {
        show_message(main_form_tr::tr("正在与模块核对，请等核对结束后再试。"));
        return false;
    }
    if (transfer_too && transfer_.awaiting_reply()) {
        show_message(main_form_tr::tr("正在传输数据，请等传输结束后再试。"));
        return false;
    }
    return true;
}

void main_form::open_file_dialog()
{
    const QString path = file_dialog::open_name(this, translated("main_form", OPEN_FILE_TITLE));
    if (!path.isEmpty())
        open_file(path);
}

bool main_form::open_file(const QString& path)
{
    const auto refuse = [&](const QString& problem) {
        show_message(
            main_form_tr::tr("无法打开配置文件 %1：%2").arg(shown_file_name(path), problem));
        return false;
    };
    // Never blocks: a FIFO, a device or a socket is refused before it is opened.
    const file_contents contents = read_regular_file(path, PANEL_FILE_MAX_SIZE);
    if (const auto* failure = std::get_if<file_failure>(&contents))
        return refuse(file_failure_text(*failure, false));
    const auto parsed = parse_panel_file(std::get<QByteArray>(contents));
    if (const auto* error = std::get_if<panel_file_error>(&parsed))
        return refuse(panel_file_problem_text(*error));
    show_config(std::get<panel_config>(parsed));
    return true;
}

void main_form::show_config(const panel_config& config, const QString& port)
{
    // As a read of that module would put them in.
    add->setText(text_of_byte(config.module_address));
    set_refresh_period(config.refresh_period);
    for (int row = 0; row < KEY_COUNT; ++row) {
        const key_binding& key = config.keys[std::size_t(row)];
        set_key_values(row, key.address, key.line, key.operation);
    }
    if (!port.isEmpty() && !link_.is_open() && !link_.is_opening())
        chuankou_num->setText(port);
}

void main_form::open_site_dialog()
{
    const QString path =
        file_dialog::open_name(this, translated("site_texts", OPEN_SITE_TITLE),
                               translated("site_texts", SITE_FILE_FILTER), QString());
    if (!path.isEmpty())
        open_site(path);
}

bool main_form::open_site(const QString& path)
{
    return site_window::open(*this, path) != nullptr;
}

void main_form::save_file_dialog()
{
    const auto config = transfer_.config_for_write();
    if (!config)
        return;
    const QString path = file_dialog::save_name(this, translated("main_form", SAVE_FILE_TITLE));
    if (path.isEmpty())
        return;
    // Whole or not at all, as lorvane-cli writes its files.
    if (const auto failure = write_regular_file(path, panel_file_text(*config)))
        show_message(main_form_tr::tr("无法保存配置文件 %1：%2")
                         .arg(shown_file_name(path), file_failure_text(*failure, true)));
}

// The line needs to be open and free for the actions that use it; false after telling why.
bool main_form::line_ready()
{
    if (!link_.is_open())
        show_message(translated("window_texts", PORT_CLOSED_MESSAGE));
    return link_.is_open() && line_free_for(true);
}

void main_form::find_modules()
{
    if (!line_ready())
        return;
    auto* dialog = new scan_dialog(link_, this);
    connect(dialog, &scan_dialog::module_chosen, this, [this](int address) {
        add->setText(QString::number(address));
        handlers_.run([this] { Command2_Click(); });
    });
    dialog->start();
}

void main_form::diagnose_line()
{
    if (line_ready())
        (new health_dialog(link_, this))->start();
}

void main_form::check_against_module()
{
    if (!line_ready())
        return;
    const auto config = transfer_.config_for_write();
    if (!config)
        return;
    check_expected_ = *config;
    check_.start_read(config->module_address);
}

void main_form::show_check_result(operation_end end)
{
    switch (end) {
    case operation_end::done: {
        show_message(check_result_text(check_expected_.module_address,
                                       compare_configs(check_expected_, check_.config())));
        return;
    }
    case operation_end::no_reply:
        show_message(no_reply_message(check_.failed_record()));
        return;
    case operation_end::port_lost:    // the lost-port message has said it
    case operation_end::port_closed:  // the user closed it
    case operation_end::stopped:
        return;
    }
}

void main_form::show_port_open()
{
    chuankou_num->setEnabled(false);
    open_comm->setText(translated("main_form", CLOSE_CAPTION));
    if (capture_)
        capture_->port_changed(true);
}

void main_form::show_port_closed()
{
    chuankou_num->setEnabled(true);
    open_comm->setText(translated("main_form", OPEN_CAPTION));
    if (capture_)
        capture_->port_changed(false);
}

QString main_form::module_address_text() const
{
    return add->text();
}

QString main_form::refresh_period_text() const
{
    return Text5->text();
}

void main_form::set_refresh_period_text(const QString& text)
{
    Text5->setText(text);
}

QString main_form::key_address_text(int row) const
{
    return Text2.at(static_cast<std::size_t>(row))->text();
}

QString main_form::key_line_text(int row) const
{
    return Text3.at(static_cast<std::size_t>(row))->text();
}

QString main_form::key_operation_text(int row) const
{
    return operation_from_window(Combo1.at(static_cast<std::size_t>(row))->currentText());
}

void main_form::set_key_texts(int row, const QString& address, const QString& line,
                              const QString& operation)
{
    const auto n = static_cast<std::size_t>(row);
    Text2.at(n)->setText(address);
    Text3.at(n)->setText(line);
    Combo1.at(n)->setEditText(operation_in_window(operation));
    kept_operation_.at(n) = 0;
}

operation_code main_form::key_operation_code(int row) const
{
    const auto n = static_cast<std::size_t>(row);
    const operation_code kept = kept_operation_.at(n);
    return kept != 0 && key_operation_text(row).isEmpty()
               ? kept
               : operation_code_of(key_operation_text(row));
}

void main_form::set_key_values(int row, std::uint8_t address, std::uint8_t line,
                               operation_code operation)
{
    set_key_texts(row, text_of_byte(address), text_of_byte(line), operation_text_of(operation));
    // A code without a text (4..255) shows as the empty text and is kept for the row.
    if (operation_text_of(operation).isEmpty() && operation != 0)
        kept_operation_.at(static_cast<std::size_t>(row)) = operation;
}

void main_form::forget_kept_operations_on_edit()
{
    for (std::size_t n = 0; n < KEY_COUNT; ++n) {
        const auto forget = [this, n] { kept_operation_[n] = 0; };
        // Only what the user does: typing (textEdited) or choosing an entry (activated).
        // setEditText() from the program emits neither.
        connect(Combo1[n]->lineEdit(), &QLineEdit::textEdited, this, forget);
        connect(Combo1[n], &QComboBox::activated, this, forget);
    }
}

void main_form::show_progress(transfer_kind kind, int confirmed)
{
    if (kind == transfer_kind::write) {
        write_progress_ = confirmed;
        Command1->setText(translated("window_texts", WRITE_PROGRESS) + QString::number(confirmed));
    } else {
        read_progress_ = confirmed;
        Command2->setText(translated("window_texts", READ_PROGRESS) + QString::number(confirmed));
    }
}

void main_form::show_done(transfer_kind kind)
{
    // The caption keeps its count until the user has confirmed the message.
    if (kind == transfer_kind::write) {
        show_message(translated("window_texts", WRITE_DONE_MESSAGE));
        write_progress_ = -1;
        Command1->setText(translated("window_texts", WRITE_CAPTION));
    } else {
        show_message(translated("window_texts", READ_DONE_MESSAGE));
        read_progress_ = -1;
        Command2->setText(translated("window_texts", READ_CAPTION));
    }
}

void main_form::warn_port_closed()
{
    show_message(translated("window_texts", PORT_CLOSED_MESSAGE));
}

void main_form::show_record_too_large()
{
    show_message(translated("window_texts", RECORD_TOO_LARGE_MESSAGE));
}

void main_form::show_value_refused(byte_field field, int key)
{
    show_message(bad_byte_message(field, key));
}

void main_form::show_no_reply(transfer_kind, int record)
{
    show_message(no_reply_message(record));
}

void main_form::show_message(const QString& text)
{
    message_box::show(this, text);
}

}  // namespace lorvane
