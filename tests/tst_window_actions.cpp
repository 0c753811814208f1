// The window's actions past its buttons, through the public window: configuration files
// (open, refuse, save), the comparison with a module, the module search against the
// simulator, the closed-port messages and the context menu.
#include "message_box.h"
#include "module_peer.h"
#include "panel_file.h"
#include "sim_process.h"
#include "window_fixture.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QDialog>
#include <QFile>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QTemporaryDir>

using namespace lorvane;

namespace {

const QString PORT_CLOSED = QStringLiteral("先打开串口，然后写入");

// Answers the file dialogs with `path`, recording their titles.
struct file_answers
{
    QStringList titles;
    QString path;
    file_answers()
    {
        file_dialog::set_handler(
            [this](QWidget* parent, file_dialog::purpose, const QString& title) {
                if (!parent)
                    qFatal("a file dialog without an owner");
                titles << title;
                return path;
            });
    }
    ~file_answers() { file_dialog::set_handler({}); }
};

QString write_file(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
{
    QFile file(dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write the test file");
    return file.fileName();
}

panel_config sample()
{
    panel_config config;
    config.module_address = 7;
    config.refresh_period = 120;
    for (int k = 0; k < KEY_COUNT; ++k)
        config.keys[std::size_t(k)] = {std::uint8_t(k + 10), std::uint8_t(k + 1),
                                       operation_code(k % 5)};
    return config;
}

void press(window_fixture& w, Qt::Key key)
{
    w.form->show();
    w.form->activateWindow();  // again after a dialog of its own had the focus
    QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
    QTest::keyClick(w.form.get(), key, Qt::ControlModifier);
}

}  // namespace

class tst_window_actions : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void open_fills_the_window_as_a_read_would();
    void invalid_file_changes_nothing();
    void save_after_a_read_equals_the_module();
    void comparison_reads_without_touching_a_field();
    void module_search_selects_and_reads();
    void closed_port_and_menu();
};

void tst_window_actions::open_fills_the_window_as_a_read_would()
{
    QTemporaryDir dir;
    file_answers files;
    files.path = write_file(dir, QStringLiteral("hall.json"), panel_file_text(sample()));
    window_fixture w;
    press(w, Qt::Key_O);
    QCOMPARE(files.titles, QStringList{QStringLiteral("打开配置文件")});
    QVERIFY(w.messages.isEmpty());
    QCOMPARE(w.edit(QStringLiteral("add"))->text(), QStringLiteral("7"));
    QCOMPARE(w.edit(QStringLiteral("Text5"))->text(), QStringLiteral("120"));
    for (int k = 0; k < KEY_COUNT; ++k) {
        QCOMPARE(w.key_address(k)->text(), QString::number(k + 10));
        QCOMPARE(w.key_line(k)->text(), QString::number(k + 1));
        // Codes 0 and 4 empty the text, as a read-back does.
        QCOMPARE(w.key_operation(k)->currentText(), operation_text_of(std::uint8_t(k % 5)));
    }

    // The same file by its path, as `lorvane FILE` opens it, and dropped on the window.
    window_fixture fresh;
    QVERIFY(fresh.form->open_file(files.path));
    QCOMPARE(fresh.snapshot(), w.snapshot());
    window_fixture dropped;
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(files.path)});
    dropped.form->show();
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(dropped.form.get(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(dropped.form.get(), &drop);
    QCOMPARE(dropped.snapshot(), w.snapshot());
}

void tst_window_actions::invalid_file_changes_nothing()
{
    QTemporaryDir dir;
    QByteArray text = panel_file_text(sample());
    text.replace("\"line\": 3", "\"line\": 300");
    const struct
    {
        QString path;
        QString says;
    } cases[] = {
        {write_file(dir, QStringLiteral("bad.json"), text),
         QStringLiteral("成员 keys[2].line 必须是 0 到 255 之间的整数，而不是 300")},
        {write_file(dir, QStringLiteral("junk.json"), "{\"format\""),
         QStringLiteral("不是有效的 JSON 文件")},
        {dir.filePath(QStringLiteral("absent.json")), QStringLiteral("absent.json")},
    };
    for (const auto& c : cases) {
        window_fixture w;
        const QStringList before = w.snapshot();
        QVERIFY(!w.form->open_file(c.path));
        QCOMPARE(w.messages.size(), 1);
        QVERIFY2(w.messages[0].startsWith(QStringLiteral("无法打开配置文件 ")),
                 qPrintable(w.messages[0]));
        QVERIFY2(w.messages[0].contains(c.says), qPrintable(w.messages[0]));
        QCOMPARE(w.snapshot(), before);
    }
}

void tst_window_actions::save_after_a_read_equals_the_module()
{
    module_peer peer(7);
    const panel_config module = sample();
    peer.module().set_record(0, {module.refresh_period, 0, 0});
    for (int k = 1; k <= KEY_COUNT; ++k) {
        const key_binding& key = module.keys[std::size_t(k - 1)];
        peer.module().set_record(std::size_t(k), {key.address, key.line, key.operation});
    }
    QTemporaryDir dir;
    file_answers files;
    files.path = dir.filePath(QStringLiteral("saved.json"));
    window_fixture w;
    QVERIFY(w.open_port(peer.path()));
    w.edit(QStringLiteral("add"))->setText(QStringLiteral("7"));
    w.click(QStringLiteral("Command2"));
    QTRY_COMPARE(w.messages, QStringList{QStringLiteral("全部数据读取完毕")});
    press(w, Qt::Key_S);
    QCOMPARE(files.titles, QStringList{QStringLiteral("保存配置文件")});
    QFile saved(files.path);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    // Codes 4..255 come back as an empty text, which a file holds as "none".
    panel_config expected = module;
    for (key_binding& key : expected.keys)
        key.operation = key.operation > 3 ? 0 : key.operation;
    QCOMPARE(saved.readAll(), panel_file_text(expected));

    // A folder that does not exist: one box, nothing written.
    files.path = dir.filePath(QStringLiteral("absent/saved.json"));
    press(w, Qt::Key_S);
    QCOMPARE(w.messages.size(), 2);
    QVERIFY2(w.messages[1].startsWith(QStringLiteral("无法保存配置文件 saved.json")),
             qPrintable(w.messages[1]));

    // A value that is not a byte: the write's message, no dialog, nothing saved.
    w.key_line(4)->setText(QStringLiteral("x"));
    w.messages.clear();
    press(w, Qt::Key_S);
    QCOMPARE(w.messages, QStringList{QStringLiteral("按键5 的线路必须是 0 到 255 之间的整数")});
    QCOMPARE(files.titles.size(), 2);
}

void tst_window_actions::comparison_reads_without_touching_a_field()
{
    module_peer peer;
    peer.module().set_record(3, {1, 7, 1});
    window_fixture w;
    QVERIFY(w.open_port(peer.path()));
    const QStringList before = w.snapshot();
    press(w, Qt::Key_R);
    QTRY_COMPARE(w.messages.size(), 1);
    QCOMPARE(w.messages[0],
             QStringLiteral("模块 1 中的配置与窗口中有 1 处不同：\n按键3 线路：窗口 3，模块 7"));
    QCOMPARE(w.snapshot(), before);
    QCOMPARE(peer.requests().size(), std::size_t{17});

    w.key_line(2)->setText(QStringLiteral("7"));
    w.messages.clear();
    press(w, Qt::Key_R);
    QTRY_COMPARE(w.messages, QStringList{QStringLiteral("模块 1 中的配置与窗口中的完全一致。")});

    // A module that stops answering: the usual time-out message, still no field touched.
    peer.module().set_silent_after(17 + 17 + 4);
    w.messages.clear();
    const QStringList now = w.snapshot();
    press(w, Qt::Key_R);
    QTRY_COMPARE_WITH_TIMEOUT(w.messages.size(), 1, 3000);
    QVERIFY2(w.messages[0].startsWith(QStringLiteral("模块没有应答")), qPrintable(w.messages[0]));
    QVERIFY(w.messages[0].contains(QStringLiteral("记录 4")));
    QCOMPARE(w.snapshot(), now);
}

void tst_window_actions::module_search_selects_and_reads()
{
    sim_process sim;
    QVERIFY(sim.start({QStringLiteral("--pace-baud=9600"), QStringLiteral("--address=200,3,40")}));
    window_fixture w;
    QVERIFY(w.open_port(sim.path));
    press(w, Qt::Key_F);
    auto* dialog = w.form->findChild<QDialog*>(QStringLiteral("scan_dialog"));
    QVERIFY(dialog);
    QCOMPARE(dialog->windowTitle(), QStringLiteral("查找模块"));
    QVERIFY(dialog->isVisible());
    auto* list = dialog->findChild<QListWidget*>(QStringLiteral("scan_modules"));
    QTRY_COMPARE_WITH_TIMEOUT(dialog->findChild<QPushButton*>(QStringLiteral("scan_stop"))->text(),
                              QStringLiteral("关闭"), 15000);
    QCOMPARE(list->count(), 3);
    QCOMPARE(list->item(0)->text(), QStringLiteral("地址 3，刷新周期 50"));
    QCOMPARE(list->currentRow(), 0);
    QTRY_VERIFY(list->hasFocus());

    QTest::keyClick(list, Qt::Key_Return);
    QTRY_VERIFY(!w.form->findChild<QDialog*>(QStringLiteral("scan_dialog")));
    QCOMPARE(w.edit(QStringLiteral("add"))->text(), QStringLiteral("3"));
    QTRY_COMPARE_WITH_TIMEOUT(w.messages, QStringList{QStringLiteral("全部数据读取完毕")}, 5000);
    QCOMPARE(w.button(QStringLiteral("Command2"))->text(), QStringLiteral("从模块读取"));

    // A double-click reads the module it names, here the second one.
    w.messages.clear();
    press(w, Qt::Key_F);
    dialog = w.form->findChild<QDialog*>(QStringLiteral("scan_dialog"));
    QVERIFY(dialog);
    list = dialog->findChild<QListWidget*>(QStringLiteral("scan_modules"));
    QTRY_COMPARE_WITH_TIMEOUT(list->count(), 3, 15000);
    const QPoint second = list->visualItemRect(list->item(1)).center();
    for (const QEvent::Type type :
         {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonPress,
          QEvent::MouseButtonDblClick, QEvent::MouseButtonRelease}) {
        const bool down = type != QEvent::MouseButtonRelease;
        QMouseEvent event(type, second, list->viewport()->mapToGlobal(second), Qt::LeftButton,
                          down ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(list->viewport(), &event);
    }
    QTRY_VERIFY(!w.form->findChild<QDialog*>(QStringLiteral("scan_dialog")));
    QCOMPARE(w.edit(QStringLiteral("add"))->text(), QStringLiteral("40"));
    QTRY_COMPARE_WITH_TIMEOUT(w.messages, QStringList{QStringLiteral("全部数据读取完毕")}, 5000);
}

void tst_window_actions::closed_port_and_menu()
{
    window_fixture w;
    press(w, Qt::Key_F);
    press(w, Qt::Key_R);
    QCOMPARE(w.messages, (QStringList{PORT_CLOSED, PORT_CLOSED}));
    QVERIFY(!w.form->findChild<QDialog*>(QStringLiteral("scan_dialog")));

    // A right-click on the background opens the five entries in order; one on a button
    // or a box opens nothing of ours.
    const auto menu_at = [&](QWidget* target, QPoint pos) -> QMenu* {
        QContextMenuEvent event(QContextMenuEvent::Mouse, pos, target->mapToGlobal(pos));
        QApplication::sendEvent(target, &event);
        return w.form->findChild<QMenu*>(QStringLiteral("window_menu"));
    };
    QVERIFY(!menu_at(w.button(QStringLiteral("Command1")), QPoint(5, 5)));
    QMenu* menu = menu_at(w.form.get(), QPoint(5, 5));
    QVERIFY(menu);
    QStringList entries;
    for (const QAction* action : menu->actions())
        entries << action->text() + u'\t' + action->shortcut().toString();
    menu->close();
    QCOMPARE(entries,
             (QStringList{QStringLiteral("打开配置文件…\tCtrl+O"),
                          QStringLiteral("保存配置文件…\tCtrl+S"),
                          QStringLiteral("查找模块…\tCtrl+F"), QStringLiteral("与模块核对\tCtrl+R"),
                          QStringLiteral("打开工程…\tCtrl+Shift+O")}));
}

QTEST_MAIN(tst_window_actions)
#include "tst_window_actions.moc"
