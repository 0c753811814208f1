// The tool's one window: port row, 16 key rows, refresh period and the two transfer
// buttons, each control at a fixed place. The window only shows values and forwards
// clicks; the logic lives in the transfer and link layers.
#pragma once

#include "handler_gate.h"
#include "panel_view.h"
#include "serial_link.h"
#include "transfer_sequences.h"

#include <QFont>
#include <QWidget>

#include <array>

class QComboBox;
class QCompleter;
class QStandardItemModel;
class QLabel;
class QLineEdit;
class QPushButton;

namespace lorvane {

inline const QString WINDOW_CAPTION = QStringLiteral("LorvaneV1.1");
inline const QString OPEN_CAPTION = QStringLiteral("打开");
inline const QString CLOSE_CAPTION = QStringLiteral("关闭");

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

private:
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
    void set_write_caption(const QString& caption) override;
    void set_read_caption(const QString& caption) override;
    void show_message(const QString& text) override;

    serial_link link_;                         // MSComm1
    QStandardItemModel* port_list_ = nullptr;  // the ports offered in chuankou_num
    QCompleter* port_picker_ = nullptr;        // their list, shown on demand
    handler_gate handlers_;                    // clicks, replies, time-outs: one at a time
    transfer_sequences transfer_;

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
};

}  // namespace lorvane
