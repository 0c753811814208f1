// The window's actions past its buttons, through the public window: configuration files
// (open, refuse, save, never blocking, problems worded in Chinese), operation codes without
// a text kept through files, comparisons and writes, the comparison with a module, the
// module search and the line diagnosis against the simulator, the closed-port messages and
// the context menu.
#include "message_box.h"
#include "module_peer.h"
#include "panel_file.h"
#include "sim_process.h"
#include "window_fixture.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <sys/stat.h>
#include <unistd.h>

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

// The operation of row `row` in sample(): none, the three operations, and codes 4..255.
operation_code sample_operation(int row)
{
    return std::array<operation_code, 8>{0, 1, 2, 3, 4, 7, 200, 255}[std::size_t(row % 8)];
}

panel_config sample()
{
    panel_config config;
    config.module_address = 7;
    config.refresh_period = 120;
    for (int k = 0; k < KEY_COUNT; ++k)
        config.keys[std::size_t(k)] = {std::uint8_t(k + 10), std::uint8_t(k + 1),
                                       sample_operation(k)};
    return config;
}

QByteArray read_file(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Makes `folder` one in which no file can be created, root included (who is not held back
// by permissions, but is by the immutable attribute); false where this machine cannot.
bool lock_folder(const QString& folder, bool locked)
{
    if (::geteuid() == 0) {
        QProcess chattr;
        chattr.start(QStringLiteral("chattr"),
                     {locked ? QStringLiteral("+i") : QStringLiteral("-i"), folder});
        if (!chattr.waitForFinished() || chattr.exitStatus() != QProcess::NormalExit ||
            chattr.exitCode() != 0)
            return false;
    } else if (!QFile::setPermissions(folder,
                                      QFile::ReadOwner | QFile::ExeOwner |
                                          (locked ? QFile::Permissions() : QFile::WriteOwner))) {
        return false;
    }
    QFile probe(folder + QStringLiteral("/probe"));
    return probe.open(QIODevice::WriteOnly) != locked;
}

// The part of a box's text after the file name, which must be all Chinese.
QString problem_of(const QString& message)
{
    return message.mid(message.indexOf(u'：') + 1);
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
    void files_that_cannot_be_opened_or_saved();
    void save_in_place_where_no_file_can_be_made();
    void save_after_a_read_equals_the_module();
    void codes_without_a_text_survive_until_edited();
    void comparison_reads_without_touching_a_field();
    void module_search_selects_and_reads();
    void line_diagnosis_names_what_it_finds();
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
        // Codes 0 and 4..255 empty the text, as a read-back does.
        QCOMPARE(w.key_operation(k)->currentText(), operation_text_of(sample_operation(k)));
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

// Every common cause gets its own Chinese words, at once: a FIFO or a device is refused
// without being opened, so that nothing waits for a writer that never comes.
void tst_window_actions::files_that_cannot_be_opened_or_saved()
{
    QTemporaryDir dir;
    const QString fifo = dir.filePath(QStringLiteral("panel.fifo"));
    QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
    const QString unreadable = write_file(dir, QStringLiteral("secret.json"), "{}");
    QVERIFY(QFile::setPermissions(unreadable, QFileDevice::Permissions()));
    // Root reads any file; a write-only setting of the kernel it may not read either.
    const QString denied =
        ::geteuid() == 0 ? QStringLiteral("/proc/sys/vm/drop_caches") : unreadable;
    const struct
    {
        QString path;
        QString says;
    } opened[] = {
        {dir.filePath(QStringLiteral("absent.json")), QStringLiteral("找不到文件。")},
        {denied, QStringLiteral("没有权限读取该文件。")},
        {dir.path(), QStringLiteral("这是一个文件夹，不是配置文件。")},
        {fifo, QStringLiteral("它不是普通文件（而是设备、管道或套接字），不能作为配置文件。")},
        {QStringLiteral("/dev/zero"),
         QStringLiteral("它不是普通文件（而是设备、管道或套接字），不能作为配置文件。")},
    };
    file_answers files;
    for (const auto& c : opened) {
        window_fixture w;
        QVERIFY(!w.form->open_file(c.path));
        QCOMPARE(w.messages, QStringList{QStringLiteral("无法打开配置文件 %1：%2")
                                             .arg(QFileInfo(c.path).fileName(), c.says)});
        // The same through the file dialog, Ctrl+O.
        files.path = c.path;
        w.messages.clear();
        press(w, Qt::Key_O);
        QCOMPARE(w.messages.size(), 1);
        QCOMPARE(problem_of(w.messages[0]), c.says);
    }

    // Saving: a folder, a file that may not be written, a folder that does not exist.
    const QString kept = write_file(dir, QStringLiteral("kept.json"), "old\n");
    const bool as_root = ::geteuid() == 0;
    QVERIFY(as_root ? QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), kept}) == 0
                    : QFile::setPermissions(kept, QFile::ReadOwner));
    const auto unlock = qScopeGuard([&] {
        if (as_root)
            QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), kept});
    });
    const struct
    {
        QString path;
        QString says;
    } saved[] = {
        {dir.path(), QStringLiteral("这是一个文件夹，不是配置文件。")},
        {kept, QStringLiteral("文件不可写（只读）。")},
        {dir.filePath(QStringLiteral("absent/saved.json")),
         QStringLiteral("找不到文件所在的文件夹。")},
        {fifo, QStringLiteral("它不是普通文件（而是设备、管道或套接字），不能作为配置文件。")},
    };
    window_fixture w;
    for (const auto& c : saved) {
        files.path = c.path;
        w.messages.clear();
        press(w, Qt::Key_S);
        QCOMPARE(w.messages, QStringList{QStringLiteral("无法保存配置文件 %1：%2")
                                             .arg(QFileInfo(c.path).fileName(), c.says)});
    }
    QCOMPARE(read_file(kept), QByteArray("old\n"));
    QCOMPARE(QDir(dir.path())
                 .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
             (QStringList{QStringLiteral("kept.json"), QStringLiteral("panel.fifo"),
                          QStringLiteral("secret.json")}));
}

// A file that may be written in a folder where nothing may be created (root included) is
// rewritten in place, as lorvane-cli does.
void tst_window_actions::save_in_place_where_no_file_can_be_made()
{
    QTemporaryDir dir;
    const QString kept = write_file(dir, QStringLiteral("panel.json"), "old\n");
    if (!lock_folder(dir.path(), true))
        QSKIP("this machine cannot make a folder read-only for this user (chattr +i as root)");
    const auto unlock = qScopeGuard([&] { lock_folder(dir.path(), false); });
    file_answers files;
    files.path = kept;
    window_fixture w;
    press(w, Qt::Key_S);
    QCOMPARE(w.messages, QStringList());
    QCOMPARE(read_file(kept), panel_file_text(panel_config{}));
    QCOMPARE(QDir(dir.path())
                 .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("panel.json")});
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
    // Codes 4..255 show as an empty text and are saved as they were read.
    QCOMPARE(read_file(files.path), panel_file_text(module));

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

// A code 4..255 read from a module or a file stays with its row (shown as the empty text)
// for a save, a comparison and a write, until the user edits or chooses that operation.
void tst_window_actions::codes_without_a_text_survive_until_edited()
{
    QTemporaryDir dir;
    file_answers files;
    files.path = write_file(dir, QStringLiteral("codes.json"), panel_file_text(sample()));
    window_fixture w;
    press(w, Qt::Key_O);
    files.path = dir.filePath(QStringLiteral("again.json"));
    press(w, Qt::Key_S);
    QCOMPARE(read_file(files.path), panel_file_text(sample()));

    module_peer peer(7);
    QVERIFY(w.open_port(peer.path()));
    w.click(QStringLiteral("Command1"));
    QTRY_COMPARE(w.messages, QStringList{QStringLiteral("全部数据写入完毕")});
    for (int k = 1; k <= KEY_COUNT; ++k)
        QCOMPARE(peer.module().record(std::size_t(k))[2], sample_operation(k - 1));
    w.messages.clear();
    press(w, Qt::Key_R);
    QTRY_COMPARE(w.messages, QStringList{QStringLiteral("模块 7 中的配置与窗口中的完全一致。")});

    // Typing into key 8's box (code 255) and erasing again leaves a hand-made empty text:
    // code 0. Choosing an entry for key 7 (code 200) replaces it. Key 6 keeps its code 7.
    QComboBox* typed = w.key_operation(7);
    QVERIFY(typed->currentText().isEmpty());
    QTest::keyClicks(typed->lineEdit(), QStringLiteral("x"));
    QTest::keyClick(typed->lineEdit(), Qt::Key_Backspace);
    QVERIFY(typed->currentText().isEmpty());
    QComboBox* chosen = w.key_operation(6);
    QTest::keyClick(chosen, Qt::Key_Down);
    QCOMPARE(chosen->currentText(), operation_text_of(2));
    peer.clear_requests();
    w.messages.clear();
    w.click(QStringLiteral("Command1"));
    QTRY_COMPARE(w.messages, QStringList{QStringLiteral("全部数据写入完毕")});
    QCOMPARE(peer.requests()[8][POS_VALUE3], 0);
    QCOMPARE(peer.requests()[7][POS_VALUE3], 2);
    QCOMPARE(peer.requests()[6][POS_VALUE3], 7);
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

// Ctrl+D tests the open port's bus: the modules with their replies, then the findings in
// Chinese; its button stops a test under way, and closing the dialog leaves the line free.
void tst_window_actions::line_diagnosis_names_what_it_finds()
{
    sim_process sim;
    QVERIFY(sim.start({QStringLiteral("--address=3,40"), QStringLiteral("--echo")}));
    window_fixture w;
    QVERIFY(w.open_port(sim.path));
    press(w, Qt::Key_D);
    auto* dialog = w.form->findChild<QDialog*>(QStringLiteral("health_dialog"));
    QVERIFY(dialog && dialog->isVisible());
    QCOMPARE(dialog->windowTitle(), QStringLiteral("线路诊断"));
    auto* stop = dialog->findChild<QPushButton*>(QStringLiteral("health_stop"));
    QTRY_COMPARE_WITH_TIMEOUT(stop->text(), QStringLiteral("关闭"), 30000);
    const auto* modules = dialog->findChild<QTreeWidget*>(QStringLiteral("health_modules"));
    QCOMPARE(modules->topLevelItemCount(), 2);
    QCOMPARE(modules->topLevelItem(1)->text(0), QStringLiteral("40"));
    QCOMPARE(modules->topLevelItem(1)->text(2), QStringLiteral("0"));  // no time-out
    QVERIFY(modules->topLevelItem(1)->text(4).endsWith(QStringLiteral(" 毫秒")));
    const auto* findings = dialog->findChild<QListWidget*>(QStringLiteral("health_findings"));
    QCOMPARE(findings->count(), 1);
    QVERIFY2(findings->item(0)->text().startsWith(QStringLiteral("串口适配器把自己发出的请求")),
             qPrintable(findings->item(0)->text()));
    QCOMPARE(dialog->findChild<QLabel*>(QStringLiteral("health_status"))->text(),
             QStringLiteral("诊断完毕，发现 1 个问题："));
    stop->click();
    QTRY_VERIFY(!w.form->findChild<QDialog*>(QStringLiteral("health_dialog")));

    // Stopped during its scan, then closed: nothing concluded, and the line serves a read.
    press(w, Qt::Key_D);
    dialog = w.form->findChild<QDialog*>(QStringLiteral("health_dialog"));
    QVERIFY(dialog);
    stop = dialog->findChild<QPushButton*>(QStringLiteral("health_stop"));
    QTest::qWait(300);
    stop->click();
    QTRY_COMPARE(stop->text(), QStringLiteral("关闭"));
    QCOMPARE(dialog->findChild<QLabel*>(QStringLiteral("health_status"))->text(),
             QStringLiteral("诊断已停止，没有结论。"));
    QCOMPARE(dialog->findChild<QListWidget*>(QStringLiteral("health_findings"))->count(), 0);
    dialog->close();
    QTRY_VERIFY(!w.form->findChild<QDialog*>(QStringLiteral("health_dialog")));
    w.edit(QStringLiteral("add"))->setText(QStringLiteral("3"));
    w.click(QStringLiteral("Command2"));
    QTRY_COMPARE_WITH_TIMEOUT(w.messages, QStringList{QStringLiteral("全部数据读取完毕")}, 5000);
}

void tst_window_actions::closed_port_and_menu()
{
    window_fixture w;
    press(w, Qt::Key_F);
    press(w, Qt::Key_R);
    press(w, Qt::Key_D);
    QCOMPARE(w.messages, (QStringList{PORT_CLOSED, PORT_CLOSED, PORT_CLOSED}));
    QVERIFY(!w.form->findChild<QDialog*>(QStringLiteral("scan_dialog")));
    QVERIFY(!w.form->findChild<QDialog*>(QStringLiteral("health_dialog")));

    // A right-click on the background opens the seven entries in order, then a separator and
    // the other language; one on a button or a box opens nothing of ours.
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
                          QStringLiteral("打开工程…\tCtrl+Shift+O"),
                          QStringLiteral("线路诊断\tCtrl+D"), QStringLiteral("录制线路…\t"),
                          QStringLiteral("\t"), QStringLiteral("English\t")}));
}

QTEST_MAIN(tst_window_actions)
#include "tst_window_actions.moc"
