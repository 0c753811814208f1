// The window as the user meets it: start-up values, lists, geometry, fonts, focus order,
// keyboard activation, and opening and closing the port from the window.
#include "module_peer.h"
#include "port_listing.h"
#include "window_fixture.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCompleter>
#include <QKeyEvent>
#include <QLabel>

using namespace lorvane;

class tst_main_form : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void fresh_window_values();
    void operation_lists();
    void geometry_in_logical_pixels();
    void fonts();
    void standard_font_holds_digits_and_chinese();
    void accessible_names();
    void focus_order();
    void enter_and_space_activate_the_focused_button();
    void closed_port_warning_from_both_buttons();
    void open_and_close_from_the_window();
    void refused_port_texts_keep_the_port_closed();
    void open_failure_names_the_port();
    void port_box_offers_the_listed_ports();
};

void tst_main_form::fresh_window_values()
{
    window_fixture w;
    QCOMPARE(w.form->windowTitle(), QStringLiteral("LorvaneV1.1"));
    QCOMPARE(w.edit(QStringLiteral("add"))->text(), QStringLiteral("1"));
    QCOMPARE(w.edit(QStringLiteral("Text5"))->text(), QStringLiteral("50"));
    QCOMPARE(w.edit(QStringLiteral("chuankou_num"))->text(), QStringLiteral("1"));
    QCOMPARE(w.button(QStringLiteral("open_comm"))->text(), QStringLiteral("打开"));
    QCOMPARE(w.button(QStringLiteral("Command1"))->text(), QStringLiteral("写入到模块"));
    QCOMPARE(w.button(QStringLiteral("Command2"))->text(), QStringLiteral("从模块读取"));
    for (int i = 0; i < KEY_COUNT; ++i) {
        QCOMPARE(w.key_address(i)->text(), QStringLiteral("1"));
        QCOMPARE(w.key_line(i)->text(), QString::number(i + 1));
        QCOMPARE(w.key_operation(i)->currentText(), QStringLiteral("按下翻转"));
        QCOMPARE(w.find<QLabel>(QStringLiteral("Label2_%1").arg(i))->text(),
                 QStringLiteral("按键%1：").arg(i + 1));
    }
    QCOMPARE(w.find<QLabel>(QStringLiteral("Label2_15"))->text(), QStringLiteral("按键16："));
    for (const char* name : {"Label6", "Label1", "Label3", "Label4", "Label5", "Label7"})
        QVERIFY(w.form->findChild<QLabel*>(QLatin1String(name)));
    QVERIFY(!w.form->link().is_open());
    QVERIFY(w.edit(QStringLiteral("chuankou_num"))->isEnabled());
}

void tst_main_form::operation_lists()
{
    window_fixture w;
    for (int i = 0; i < KEY_COUNT; ++i) {
        QComboBox* combo = w.key_operation(i);
        QVERIFY(combo->isEditable());
        QCOMPARE(combo->count(), 3);
        QCOMPARE(combo->itemText(0), QStringLiteral("按下翻转"));
        QCOMPARE(combo->itemText(1), QStringLiteral("按下闭合 抬起断开"));
        QCOMPARE(combo->itemText(2), QStringLiteral("按下点动闭合0.5秒"));
    }
    // A text typed by hand stays as typed: no completion, nothing added to the list.
    w.form->show();
    QComboBox* combo = w.key_operation(4);
    combo->setFocus();
    combo->lineEdit()->selectAll();
    // QTest only types Latin-1; deliver the character as an input method would.
    QKeyEvent typed(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QStringLiteral("按"));
    QApplication::sendEvent(combo->lineEdit(), &typed);
    QTest::keyClick(combo->lineEdit(), Qt::Key_Return);
    QCOMPARE(combo->currentText(), QStringLiteral("按"));
    QCOMPARE(combo->count(), 3);
}

void tst_main_form::geometry_in_logical_pixels()
{
    window_fixture w;
    QCOMPARE(w.form->size(), QSize(366, 526));
    QCOMPARE(w.form->minimumSize(), w.form->maximumSize());  // not resizable
    QCOMPARE(w.find<QWidget>(QStringLiteral("chuankou_num"))->geometry(), QRect(80, 8, 57, 25));
    QCOMPARE(w.find<QWidget>(QStringLiteral("add"))->geometry(), QRect(280, 8, 57, 25));
    QCOMPARE(w.find<QWidget>(QStringLiteral("Text2_0"))->geometry(), QRect(72, 56, 49, 18));
    QCOMPARE(w.find<QWidget>(QStringLiteral("Text3_15"))->geometry(), QRect(136, 416, 49, 18));
    QCOMPARE(w.find<QWidget>(QStringLiteral("Combo1_7"))->geometry(), QRect(208, 224, 129, 20));
    QCOMPARE(w.find<QWidget>(QStringLiteral("Command1"))->geometry(), QRect(64, 488, 89, 33));
    QCOMPARE(w.find<QWidget>(QStringLiteral("Command2"))->geometry(), QRect(192, 488, 89, 33));
    // The right edges of the address box and of the operation column line up.
    const QRect add = w.find<QWidget>(QStringLiteral("add"))->geometry();
    QCOMPARE(add.x() + add.width(),
             w.key_operation(0)->geometry().x() + w.key_operation(0)->geometry().width());
    w.form->resize(500, 700);
    QCOMPARE(w.form->size(), QSize(366, 526));
}

void tst_main_form::fonts()
{
    window_fixture w;
    for (const char* name : {"add", "chuankou_num", "Text5"}) {
        const QFont font = w.edit(QLatin1String(name))->font();
        QCOMPARE(font.pointSizeF(), 15.75);
        QCOMPARE(font.families().value(0), QStringLiteral("宋体"));
        QVERIFY(!font.italic() && !font.underline() && !font.strikeOut());
        QCOMPARE(font.weight(), QFont::Normal);
    }
    QCOMPARE(w.key_address(0)->font(), QApplication::font(w.key_address(0)));
}

void tst_main_form::standard_font_holds_digits_and_chinese()
{
    // The face start-up gives every control but the three large fields: one that draws the
    // digits of the key rows and the Chinese captions itself, not through a fallback.
    const QFont font = standard_font();
    const QFontInfo resolved(font);
    QVERIFY2(font.families().contains(resolved.family()), qPrintable(resolved.family()));
    const QFontMetrics metrics(font);
    for (const QChar c : QStringLiteral("0123456789按键地址线路操作写入到模块从读取刷新周期"))
        QVERIFY2(metrics.inFont(c), qPrintable(QString(c)));
}

void tst_main_form::accessible_names()
{
    window_fixture w;
    QCOMPARE(w.key_address(2)->accessibleName(), QStringLiteral("按键3 地址"));
    QCOMPARE(w.key_line(2)->accessibleName(), QStringLiteral("按键3 线路"));
    QCOMPARE(w.key_operation(2)->accessibleName(), QStringLiteral("按键3 操作"));
    QCOMPARE(w.edit(QStringLiteral("chuankou_num"))->accessibleName(), QStringLiteral("串口号"));
    QCOMPARE(w.edit(QStringLiteral("add"))->accessibleName(), QStringLiteral("模块自身地址"));
    QCOMPARE(w.edit(QStringLiteral("Text5"))->accessibleName(), QStringLiteral("刷新周期"));
}

void tst_main_form::focus_order()
{
    window_fixture w;
    QVERIFY(w.show_active());
    QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("Command1"));

    QStringList expected{QStringLiteral("add"), QStringLiteral("Text2_0"),
                         QStringLiteral("Text3_0"), QStringLiteral("Combo1_0")};
    for (int i = 1; i < KEY_COUNT; ++i)
        expected << QStringLiteral("Text3_%1").arg(i) << QStringLiteral("Text2_%1").arg(i)
                 << QStringLiteral("Combo1_%1").arg(i);
    expected << QStringLiteral("Command2") << QStringLiteral("chuankou_num")
             << QStringLiteral("Text5") << QStringLiteral("open_comm")
             << QStringLiteral("Command1");

    for (const QString& name : expected) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget* focus = QApplication::focusWidget();
        // An editable combo box hands its focus to its line edit.
        if (focus && qobject_cast<QComboBox*>(focus->parentWidget()))
            focus = focus->parentWidget();
        QVERIFY(focus);
        QCOMPARE(focus->objectName(), name);
    }
}

void tst_main_form::enter_and_space_activate_the_focused_button()
{
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space}) {
        window_fixture w;
        QVERIFY(w.show_active());
        QTest::keyClick(QApplication::focusWidget(), key);
        QCOMPARE(w.messages, QStringList{QStringLiteral("先打开串口，然后写入")});
        // No button is the window's default: Enter in a text box clicks nothing.
        w.messages.clear();
        w.edit(QStringLiteral("add"))->setFocus();
        QTest::keyClick(w.edit(QStringLiteral("add")), Qt::Key_Return);
        QVERIFY(w.messages.isEmpty());
    }
}

void tst_main_form::closed_port_warning_from_both_buttons()
{
    window_fixture w;
    w.click(QStringLiteral("Command1"));
    w.click(QStringLiteral("Command2"));
    QCOMPARE(w.messages, (QStringList{QStringLiteral("先打开串口，然后写入"),
                                      QStringLiteral("先打开串口，然后写入")}));
    // Only the warning, even when the window also holds bad values.
    w.messages.clear();
    w.edit(QStringLiteral("add"))->setText(QStringLiteral("x"));
    w.click(QStringLiteral("Command1"));
    QCOMPARE(w.messages, QStringList{QStringLiteral("先打开串口，然后写入")});
}

void tst_main_form::open_and_close_from_the_window()
{
    module_peer peer;
    window_fixture w;
    QVERIFY(w.open_port(peer.path()));
    QCOMPARE(w.button(QStringLiteral("open_comm"))->text(), QStringLiteral("关闭"));
    QVERIFY(!w.edit(QStringLiteral("chuankou_num"))->isEnabled());
    QVERIFY(w.edit(QStringLiteral("add"))->isEnabled());
    QVERIFY(w.button(QStringLiteral("Command1"))->isEnabled());

    w.click(QStringLiteral("open_comm"));
    QVERIFY(!w.form->link().is_open());
    QCOMPARE(w.button(QStringLiteral("open_comm"))->text(), QStringLiteral("打开"));
    QVERIFY(w.edit(QStringLiteral("chuankou_num"))->isEnabled());

    QVERIFY(w.open_port(peer.path()));  // and again
    QVERIFY(w.messages.isEmpty());
}

void tst_main_form::refused_port_texts_keep_the_port_closed()
{
    for (const QString& text : {QString(), QStringLiteral("0"), QStringLiteral("abc def"),
                                QStringLiteral("-3"), QStringLiteral("1.5")}) {
        window_fixture w;
        QVERIFY(!w.open_port(text));
        QCOMPARE(w.messages.size(), 1);
        QVERIFY2(w.messages[0].startsWith(QStringLiteral("串口号必须是 1 到 256 之间的整数")),
                 qPrintable(w.messages[0]));
        QCOMPARE(w.button(QStringLiteral("open_comm"))->text(), QStringLiteral("打开"));
        QCOMPARE(w.edit(QStringLiteral("chuankou_num"))->text(), text);
        QVERIFY(w.edit(QStringLiteral("chuankou_num"))->isEnabled());
    }
}

void tst_main_form::open_failure_names_the_port()
{
    window_fixture w;
    QVERIFY(!w.open_port(QStringLiteral("/dev/ttyLorvaneMissing7")));
    QCOMPARE(w.messages.size(), 1);
    QVERIFY2(w.messages[0].startsWith(
                 QStringLiteral("无法打开串口 /dev/ttyLorvaneMissing7：找不到该串口设备")),
             qPrintable(w.messages[0]));
    QVERIFY(w.messages[0].contains(QStringLiteral("系统原因：")));
    QCOMPARE(w.button(QStringLiteral("open_comm"))->text(), QStringLiteral("打开"));
    QVERIFY(w.edit(QStringLiteral("chuankou_num"))->isEnabled());
    QCOMPARE(w.edit(QStringLiteral("chuankou_num"))->text(),
             QStringLiteral("/dev/ttyLorvaneMissing7"));
}

void tst_main_form::port_box_offers_the_listed_ports()
{
    module_peer peer;
    const std::vector<port_entry> listed{{QStringLiteral("ttyLorvaneA"), QStringLiteral("A"), {}},
                                         {peer.path(), QStringLiteral("测试串口"), {}}};
    set_port_source([&] { return listed; });
    window_fixture w;
    QVERIFY(w.show_active());
    QLineEdit* box = w.edit(QStringLiteral("chuankou_num"));
    auto* picker = w.form->findChild<QCompleter*>();
    QVERIFY(picker);
    QCOMPARE(picker->model()->rowCount(), 0);  // read only when the box is entered

    // Typing a listed port's name and clicking 打开 once opens it.
    QTest::mouseClick(box, Qt::LeftButton);
    QTRY_VERIFY(box->hasFocus());
    box->selectAll();
    QTest::keyClicks(box, peer.path());
    QCOMPARE(picker->model()->rowCount(), 2);
    // Through the window, as the platform delivers it, so that an open popup sees it first.
    QPushButton* open = w.button(QStringLiteral("open_comm"));
    QTest::mouseClick(w.form->windowHandle(), Qt::LeftButton, {},
                      open->mapTo(w.form.get(), open->rect().center()));
    QVERIFY(w.form->link().is_open());
    QCOMPARE(w.messages, QStringList{});
    w.click(QStringLiteral("open_comm"));
    QVERIFY(!w.form->link().is_open());

    // On demand, Down opens the whole list with each port's description; Enter picks one.
    box->setText(QStringLiteral("1"));
    box->setFocus();
    QTest::keyClick(box, Qt::Key_Down);
    QTRY_VERIFY(picker->popup()->isVisible());
    // Below the ports, why no servers are listed: the tests' system bus has no Avahi daemon.
    QTRY_COMPARE(picker->completionCount(), 3);
    const QModelIndex why = picker->model()->index(2, 0);
    QVERIFY2(why.data().toString().contains(QStringLiteral("avahi-daemon")),
             qPrintable(why.data().toString()));
    QVERIFY(!(why.flags() & Qt::ItemIsEnabled));
    QCOMPARE(picker->model()->index(1, 0).data(Qt::ToolTipRole).toString(),
             QStringLiteral("测试串口"));
    QTest::keyClick(picker->popup(), Qt::Key_Down);
    QTest::keyClick(picker->popup(), Qt::Key_Down);
    QTest::keyClick(picker->popup(), Qt::Key_Return);
    QTRY_VERIFY(!picker->popup()->isVisible());
    QCOMPARE(box->text(), peer.path());
    QVERIFY(box->toolTip().contains(QStringLiteral("ttyLorvaneA：A")));

    // The system's own list never offers pseudo-terminals.
    set_port_source({});
    for (const port_entry& port : available_ports())
        QVERIFY2(!port.name.startsWith(QStringLiteral("pts")), qPrintable(port.name));
}

QTEST_MAIN(tst_main_form)
#include "tst_main_form.moc"
