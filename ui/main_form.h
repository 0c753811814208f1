// The tool's one window: port row, 16 key rows, refresh period and the two transfer
// buttons, each control at a fixed place. The window only shows values and forwards
// clicks; the logic lives in the transfer and link layers.
#pragma once

#include "handler_gate.h"
#include "module_session.h"
#include "panel_view.h"
#include "serial_link.h"
#include "transfer_sequences.h"

#include <QFont>
#include <QWidget>

#include <array>
#include <memory>

class QAction;
class QComboBox;
class QCompleter;
class QStandardItemModel;
class QLabel;
class QLineEdit;
class QPushButton;

namespace lorvane {

class capture_action;
class port_list;

inline const QString WINDOW_CAPTION = QStringLiteral("LorvaneV1.1");
inline const QString OPEN_CAPTION = QStringLiteral(QT_TRANSLATE_NOOP("main_form", "打开"));
inline const QString CLOSE_CAPTION = QStringLiteral(QT_TRANSLATE_NOOP("main_form", "关闭"));
inline const QString OPEN_FILE_TITLE =
    QStringLiteral(QT_TRANSLATE_NOOP("main_form", "打开配置文件"));
inline const QString SAVE_FILE_TITLE =
    QStringLiteral(QT_TRANSLATE_NOOP("main_form", "保存配置文件"));

// Window geometry is kept in twips (1/20 pt) as the layout was drawn; 15 twips make one
// logical pixel, and Qt scales logical pixels for high-DPI screens itself.
constexpr int px(int twips)
{
    return twips / 15;
}

// The window's standard font, for every control but the three large fields: 9 pt in the
// first installed of a list of faces that hold both the digits and the Chinese texts. The
// platform's own default face is not safe to rely on: where it is missing (a Windows
// installation without its UI face, as under Wine) Qt falls back to whatever face it finds
// first, and one such face (a math face) left every digit in the key rows' boxes unseen.
QFont standard_font();

// The application-wide settings of start-up: name, icon and the standard font. Call it
// once the QApplication exists and before the window is made.
void set_up_application();

inline constexpr int CLIENT_WIDTH = px(5490);   // 366 logical pixels
inline constexpr int CLIENT_HEIGHT = px(7890);  // 526 logical pixels

class main_form : public QWidget, private panel_view
{
    Q_OBJECT

public:
    explicit main_form(QWidget* parent = nullptr);
    // With the serial device to use instead of the system's, for a test or a fuzzer that
    // scripts what the line delivers.
    explicit main_form(std::unique_ptr<serial_device> local_device, QWidget* parent = nullptr);
    ~main_form() override;

    serial_link& link() { return link_; }
    transfer_sequences& transfer() { return transfer_; }

    // Puts the start-up values into the key rows and fills the operation lists.
    void Form_Load();

    // Button handlers.
    void open_comm_Click();
    void Command1_Click();
    void Command2_Click();

    void show_port_open();
    void show_port_closed();

    // The actions past the buttons, each with its shortcut and an entry in the
    // context menu of the window's background.
    void open_file_dialog();      // 打开配置文件…, Ctrl+O
    void save_file_dialog();      // 保存配置文件…, Ctrl+S
    void find_modules();          // 查找模块…, Ctrl+F
    void check_against_module();  // 与模块核对, Ctrl+R
    void open_site_dialog();      // 打开工程…, Ctrl+Shift+O
    void diagnose_line();         // 线路诊断, Ctrl+D

    // Fills the window from a configuration file as a read of that module would; on a
    // file that cannot be read or is invalid, one box says why and nothing changes.
    bool open_file(const QString& path);

    // Shows `config` in the fields as a read of that module would; with `port`, 串口号 gets
    // it too while the port is closed.
    void show_config(const panel_config& config, const QString& port = {});

    // Opens the site file at `path` in a site window beside this one; on a file that cannot
    // be read or is invalid, one box says why.
    bool open_site(const QString& path);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void changeEvent(QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void create_actions();
    // Puts every text of the window in the current language, keeping what the user typed.
    void retranslate();
    void show_operation_texts();
    void choose_language();  // the menu's English / 中文
    // False, after telling the user, while a comparison or a transfer of the window
    // still uses the line.
    bool line_free_for(bool transfer_too);
    bool line_ready();
    void show_check_result(operation_end end);
    void create_controls();
    void set_focus_order();
    void refresh_port_list();
    void show_port_list();
    bool eventFilter(QObject* watched, QEvent* event) override;

    // panel_view
    QString module_address_text() const override;
    QString refresh_period_text() const override;
    void set_refresh_period_text(const QString& text) override;
    QString key_address_text(int row) const override;
    QString key_line_text(int row) const override;
    QString key_operation_text(int row) const override;
    void set_key_texts(int row, const QString& address, const QString& line,
                       const QString& operation) override;
    void show_progress(transfer_kind kind, int confirmed) override;
    void show_done(transfer_kind kind) override;
    void warn_port_closed() override;
    void show_record_too_large() override;
    void show_value_refused(byte_field field, int key) override;
    void show_no_reply(transfer_kind kind, int record) override;
    void show_message(const QString& text);
    // A row whose code (4..255) has no text shows the empty text and keeps the code, for
    // saving, comparing and writing, until the user edits or chooses that row's operation.
    operation_code key_operation_code(int row) const override;
    void set_key_values(int row, std::uint8_t address, std::uint8_t line,
                        operation_code operation) override;
    void forget_kept_operations_on_edit();

    serial_link link_;            // MSComm1
    port_list* ports_ = nullptr;  // the ports offered in chuankou_num
    handler_gate handlers_;       // clicks, replies, time-outs: one at a time
    transfer_sequences transfer_;
    module_session check_;                     // 与模块核对 reads through the engine
    panel_config check_expected_;              // what the window showed when it began
    QList<QAction*> actions_;                  // in context-menu order
    QAction* language_action_ = nullptr;       // English / 中文, the last entry
    std::unique_ptr<capture_action> capture_;  // 录制线路…, gone before the line

    QLabel* Label6 = nullptr;
    QLineEdit* chuankou_num = nullptr;
    QPushButton* open_comm = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* add = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label7 = nullptr;
    QLineEdit* Text5 = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;
    // Control arrays: member i belongs to the row of key i+1.
    std::array<QLabel*, KEY_COUNT> Label2{};
    std::array<QLineEdit*, KEY_COUNT> Text2{};
    std::array<QLineEdit*, KEY_COUNT> Text3{};
    std::array<QComboBox*, KEY_COUNT> Combo1{};
    // Per row: the code 4..255 a read or a file put in with an empty text; 0 for none.
    std::array<operation_code, KEY_COUNT> kept_operation_{};
    // The operation texts as the lists show them now, in the window's language.
    std::array<QString, 3> shown_operations_;
    // The count a transfer's caption shows; -1 while it shows its name.
    int write_progress_ = -1;
    int read_progress_ = -1;
};

}  // namespace lorvane
