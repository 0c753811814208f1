// The site window through the public windows: opened by dialog and by path, a refused site
// file, a check against three simulators with every status and a line that echoes, each bus
// naming its problems, 只看问题 and F8 over them, the 配置文件 column, the report it leaves,
// a write with cancel and with confirm and its audit log, the files read afresh for each run,
// 载入主窗口, the ports refused in both directions, closing the window while it writes, and
// a check stopped.
#include "module_peer.h"
#include "panel_file.h"
#include "sim_process.h"
#include "site_file.h"
#include "site_window.h"
#include "window_fixture.h"

#include <QCheckBox>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QXmlStreamReader>

#include <sys/stat.h>

using namespace lorvane;

namespace {

QString write_file(const QString& path, const QByteArray& text)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

QByteArray read_file(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

panel_config panel(std::uint8_t address, const std::function<void(panel_config&)>& change = {})
{
    panel_config config;
    config.module_address = address;
    if (change)
        change(config);
    return config;
}

// A site file in `dir`: buses as (name, port, panels by file name), each panel written beside.
QString site_in(const QTemporaryDir& dir, const QString& name,
                const std::vector<std::tuple<QString, QString, std::vector<panel_config>>>& buses)
{
    site_plan plan;
    plan.name = name;
    for (const auto& [bus, port, panels] : buses) {
        QStringList paths;
        for (const panel_config& p : panels) {
            paths << bus + QStringLiteral("/%1.json").arg(p.module_address);
            write_file(dir.filePath(paths.last()), panel_file_text(p));
        }
        plan.buses.push_back({bus, port, false, paths, {}});
    }
    return write_file(dir.filePath(name + QStringLiteral(".json")), site_file_text(plan));
}

// The window's site window, if one is open.
site_window* site()
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* window = qobject_cast<site_window*>(widget); window && window->isVisible())
            return window;
    }
    return nullptr;
}

QTreeWidget* tree_of(site_window* window)
{
    return window->findChild<QTreeWidget*>(QStringLiteral("site_tree"));
}

QString summary_of(site_window* window)
{
    return window->findChild<QLabel*>(QStringLiteral("site_summary"))->text();
}

// Every row: "address|panel|status|differences", a bus's modules indented under it.
QStringList rows_of(site_window* window)
{
    QStringList rows;
    QTreeWidget* tree = tree_of(window);
    for (int b = 0; b < tree->topLevelItemCount(); ++b) {
        const QTreeWidgetItem* bus = tree->topLevelItem(b);
        rows << QStringList{bus->text(0), bus->text(2)}.join(u'|');
        for (int m = 0; m < bus->childCount(); ++m) {
            const QTreeWidgetItem* row = bus->child(m);
            rows << u' ' + QStringList{row->text(0), row->text(1), row->text(2), row->text(3)}.join(
                               u'|');
        }
    }
    return rows;
}

// The rows shown, a bus's name and its modules' addresses under it.
QStringList shown_rows(site_window* window)
{
    QStringList rows;
    QTreeWidget* tree = tree_of(window);
    for (int b = 0; b < tree->topLevelItemCount(); ++b) {
        const QTreeWidgetItem* bus = tree->topLevelItem(b);
        if (bus->isHidden())
            continue;
        rows << bus->text(0);
        for (int m = 0; m < bus->childCount(); ++m) {
            if (!bus->child(m)->isHidden())
                rows << u' ' + bus->child(m)->text(0);
        }
    }
    return rows;
}

// Presses `key` in the active site window, as the user does, and says which row is current.
QString after_key(site_window* window, int key, Qt::KeyboardModifiers modifiers = {})
{
    window->activateWindow();
    if (!QTest::qWaitForWindowActive(window))
        return QStringLiteral("(not active)");
    QTest::keyClick(window, Qt::Key(key), modifiers);
    const QTreeWidgetItem* current = tree_of(window)->currentItem();
    if (!current)
        return {};
    return current->parent() ? current->parent()->text(0) + u' ' + current->text(0)
                             : current->text(0);
}

// Presses Alt+`key` in the site window, as the user does for a button's mnemonic, and
// waits for the button's click.
void press(site_window* window, Qt::Key key)
{
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
    QTest::keyClick(window, key, Qt::AltModifier);
    // A mnemonic presses its button for a moment, then clicks it.
    const QList<QPushButton*> buttons = window->findChildren<QPushButton*>();
    QTRY_VERIFY(
        std::none_of(buttons.begin(), buttons.end(), [](QPushButton* b) { return b->isDown(); }));
}

// Answers the file dialogs with `path` and the confirmation box with `yes`, recording both.
struct answers
{
    QStringList titles;
    QString path;
    QStringList questions;
    bool yes = true;
    QStringList asked;      // the two-button boxes' questions
    bool as_built = false;  // the answer to 保存报告…'s question
    answers()
    {
        message_box::set_question_handler([this](QWidget*, const QString& text) {
            asked << text;
            return as_built;
        });
        file_dialog::set_handler(
            [this](QWidget* parent, file_dialog::purpose, const QString& title) {
                if (!parent)
                    qFatal("a file dialog without an owner");
                titles << title;
                return path;
            });
        confirm_box::set_handler([this](QWidget*, const QString& text) {
            questions << text;
            return yes;
        });
    }
    ~answers()
    {
        file_dialog::set_handler({});
        confirm_box::set_handler({});
        message_box::set_question_handler({});
    }
};

bool finished(site_window* window, int timeout_ms = 30000)
{
    QDeadlineTimer deadline(timeout_ms);
    while (window->running() && !deadline.hasExpired())
        QTest::qWait(20);
    return !window->running();
}

}  // namespace

class tst_site_window : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void open_by_dialog_and_path_or_refuse();
    void check_every_status_problems_report_and_load();
    void write_with_cancel_and_confirm();
    void files_read_afresh_for_each_run();
    void ports_refused_both_ways();
    void closing_during_a_write();
};

void tst_site_window::open_by_dialog_and_path_or_refuse()
{
    QTemporaryDir dir;
    const QString path =
        site_in(dir, QStringLiteral("Tower"),
                {{QStringLiteral("east"), QStringLiteral("/dev/ttyS7"), {panel(3), panel(9)}},
                 {QStringLiteral("west"), QStringLiteral("tcp://gw:4001"), {}}});
    window_fixture w;
    answers a;
    a.path = path;
    w.form->show();
    QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
    QTest::keyClick(w.form.get(), Qt::Key_O, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(a.titles, QStringList{QStringLiteral("打开工程文件")});
    site_window* opened = site();
    QVERIFY(opened);
    QCOMPARE(opened->windowTitle(), QStringLiteral("工程：Tower"));
    QVERIFY(opened->isWindow() && !opened->isModal() && !QApplication::activeModalWidget());
    QCOMPARE(rows_of(opened),
             (QStringList{QStringLiteral("east|"), QStringLiteral(" 3|east/3.json||"),
                          QStringLiteral(" 9|east/9.json||"), QStringLiteral("west|")}));
    QVERIFY(w.open_port(QStringLiteral("/dev/ttyLorvaneMissing")) ==
            false);  // the main window works

    // By its path, as `lorvane SITE.json` opens it: the idle window of that file is replaced.
    QVERIFY(is_site_file(path));
    QVERIFY(!is_site_file(dir.filePath(QStringLiteral("east/3.json"))));
    w.messages.clear();
    QVERIFY(w.form->open_site(path));
    const auto windows = [] {
        const QWidgetList all = QApplication::topLevelWidgets();
        return std::count_if(all.begin(), all.end(),
                             [](QWidget* t) { return qobject_cast<site_window*>(t) != nullptr; });
    };
    QTRY_COMPARE(windows(), 1);
    QVERIFY(w.messages.isEmpty());

    // A refused site gets one box naming the file and the culprit, and no window.
    site()->close();
    QByteArray bad_panel = panel_file_text(panel(4));
    bad_panel.replace("\"line\": 4,", "\"line\": 300,");
    write_file(dir.filePath(QStringLiteral("bad/4.json")), bad_panel);
    write_file(dir.filePath(QStringLiteral("x/%1.json")), panel_file_text(panel(4)));
    write_file(dir.filePath(QStringLiteral("x/%2.json")), panel_file_text(panel(4)));
    const struct
    {
        QByteArray text;
        QString says;
    } refused[] = {
        {R"({"format": "lorvane-site/1", "name": "X", "buses": [{"name": "a", "port": "tcp://h:0", "panels": []}]})",
         QStringLiteral("无法打开工程文件 bad.json：成员 buses[0].port 的串口 tcp://h:0 无效")},
        {R"({"format": "lorvane-site/1", "name": "X", "buses": [{"name": "a", "port": "COM3", "panels": ["bad/4.json"]}]})",
         QStringLiteral(
             "无法打开工程文件 bad.json：配置文件 bad/4.json（成员 buses[0].panels[0]）有误：成员 "
             "keys[3].line 必须是 0 到 255 之间的整数，而不是 300。")},
        {R"({"format": "lorvane-site/1", "name": "X", "buses": [{"name": "a", "port": "COM3", "panels": ["x/%1.json", "x/%2.json"]}]})",
         QStringLiteral(
             "无法打开工程文件 bad.json：配置文件 x/%1.json 和 x/%2.json 的模块自身地址都是 "
             "4（总线 a）")},
        {R"({"format": "lorvane-site/1", "name": "X", "buses": [{"name": "a", "port": "COM3", "panels": ["absent.json"]}]})",
         QStringLiteral("无法打开工程文件 bad.json：无法读取配置文件 absent.json（成员 "
                        "buses[0].panels[0]）：找不到文件。")},
        {R"({"format": "lorvane-site/1", "name": "X", "buses": [{"name": "a", "port": "COM3", "panels": ["x"]}]})",
         QStringLiteral("无法打开工程文件 bad.json：无法读取配置文件 x（成员 "
                        "buses[0].panels[0]）：这是一个文件夹，不是配置文件。")},
    };
    for (const auto& [text, says] : refused) {
        w.messages.clear();
        QVERIFY(!w.form->open_site(write_file(dir.filePath(QStringLiteral("bad.json")), text)));
        QCOMPARE(w.messages.size(), 1);
        QVERIFY2(w.messages[0].startsWith(says), qPrintable(w.messages[0]));
        QTRY_VERIFY(!site());
    }
}

void tst_site_window::check_every_status_problems_report_and_load()
{
    sim_process a;
    QVERIFY(a.start({QStringLiteral("--address=1,2,3")}));
    sim_process b;
    QVERIFY(b.start({QStringLiteral("--address=5")}));
    sim_process d;  // holds its panel, behind an adapter that echoes: a finding of its line
    QVERIFY(d.start({QStringLiteral("--address=7"), QStringLiteral("--echo")}));
    QTemporaryDir dir;
    const panel_config two = panel(2, [](panel_config& c) {
        c.keys[2].line = 9;
        c.keys[15].operation = 3;
    });
    const QString path =
        site_in(dir, QStringLiteral("Check"),
                {{QStringLiteral("A"), a.path, {panel(1), two, panel(4)}},
                 {QStringLiteral("B"), b.path, {panel(5)}},
                 {QStringLiteral("C"), QStringLiteral("/dev/ttyLorvaneMissing"), {panel(6)}},
                 {QStringLiteral("D"), d.path, {panel(7)}}});
    window_fixture w;
    answers answer;
    QVERIFY(w.form->open_site(path));
    site_window* window = site();
    press(window, Qt::Key_C);
    QVERIFY(window->running());
    QVERIFY(finished(window));
    QCOMPARE(rows_of(window),
             (QStringList{
                 QStringLiteral("A|3 个问题"), QStringLiteral(" 1|A/1.json|相同|"),
                 QStringLiteral(" 2|A/2.json|不同|按键3 线路：计划 9，实际 3；按键16 操作：计划 "
                                "按下点动闭合0.5秒，实际 按下翻转"),
                 QStringLiteral(" 4|A/4.json|无应答|读取记录 0（刷新周期）时，1 秒内没有应答"),
                 QStringLiteral(" 3||未登记|刷新周期 50"), QStringLiteral("B|完成"),
                 QStringLiteral(" 5|B/5.json|相同|"), QStringLiteral("C|串口无法打开"),
                 QStringLiteral(" 6|C/6.json|串口无法打开|"), QStringLiteral("D|1 个问题"),
                 QStringLiteral(" 7|D/7.json|相同|")}));
    QVERIFY(tree_of(window)->topLevelItem(3)->text(3).contains(QStringLiteral("回显")));
    QVERIFY2(summary_of(window).startsWith(
                 QStringLiteral("核对完毕：4 条总线（1 条无法连接），6 个模块：3 个相同，1 "
                                "个不同，1 个无应答，1 个未登记，1 个未进行（")),
             qPrintable(summary_of(window)));
    QTreeWidget* tree = tree_of(window);
    QCOMPARE(tree->currentItem()->text(1), QStringLiteral("A/1.json"));
    QVERIFY(tree->currentItem()->text(4).endsWith(u'）'));  // its reply times
    // The panel column: the whole name, with the file's full path in its tooltip, and wider
    // with the window.
    QCOMPARE(tree->currentItem()->toolTip(1),
             QDir::toNativeSeparators(dir.filePath(QStringLiteral("A/1.json"))));
    const int panel_width = tree->header()->sectionSize(1);
    window->resize(window->width() + 300, window->height());
    QTRY_VERIFY(tree->header()->sectionSize(1) > panel_width + 100);

    // F8 and Shift+F8 go round the rows with something to say, in the tree's order: the
    // unreachable bus's own row too.
    const QStringList problems{QStringLiteral("A 2"), QStringLiteral("A 4"), QStringLiteral("A 3"),
                               QStringLiteral("C"),   QStringLiteral("C 6"), QStringLiteral("D")};
    for (const QString& expected : problems + QStringList{problems[0]})
        QCOMPARE(after_key(window, Qt::Key_F8), expected);
    QCOMPARE(after_key(window, Qt::Key_F8, Qt::ShiftModifier), problems[5]);
    QCOMPARE(after_key(window, Qt::Key_F8, Qt::ShiftModifier), problems[4]);
    // 只看问题 (Ctrl+P) hides the rows with nothing to say, the all-well bus B with its
    // module, and shows them again; F8 goes the same way through what is left.
    tree->setCurrentItem(tree->topLevelItem(0)->child(0));
    auto* only = window->findChild<QCheckBox*>(QStringLiteral("site_only_problems"));
    QVERIFY(only && only->isVisible() && !only->isChecked());
    after_key(window, Qt::Key_P, Qt::ControlModifier);
    QVERIFY(only->isChecked());
    QCOMPARE(shown_rows(window),
             (QStringList{QStringLiteral("A"), QStringLiteral(" 2"), QStringLiteral(" 4"),
                          QStringLiteral(" 3"), QStringLiteral("C"), QStringLiteral(" 6"),
                          QStringLiteral("D")}));
    QCOMPARE(tree->currentItem()->text(0), QStringLiteral("2"));  // module 1 went out of sight
    QCOMPARE(after_key(window, Qt::Key_F8), problems[1]);
    QCOMPARE(after_key(window, Qt::Key_F8, Qt::ShiftModifier), problems[0]);
    QTest::mouseClick(only, Qt::LeftButton);
    QVERIFY(!only->isChecked());
    QCOMPARE(shown_rows(window).size(), rows_of(window).size());

    // Write's question counts what the check found different; cancelled, nothing is sent.
    answer.yes = false;
    press(window, Qt::Key_W);
    QCOMPARE(answer.questions.size(), 1);
    QVERIFY2(answer.questions[0].startsWith(
                 QStringLiteral(
                     "将写入上次核对中有差异的 1 个模块，在 1 条总线上：\n  A（%1）：1 个，地址 2")
                     .arg(a.path)),
             qPrintable(answer.questions[0]));
    QVERIFY(!window->running());
    // The check left its run line in the log, and the window shows the log's head.
    const QByteArray check_log = read_file(path + QStringLiteral(".log"));
    QCOMPARE(check_log.count('\n'), 1);
    QVERIFY(check_log.contains("\"action\":\"run\",\"of\":\"check\""));
    QCOMPARE(window->findChild<QLabel*>(QStringLiteral("log_head"))->text(),
             QStringLiteral("日志头 sha256:") +
                 QString::fromLatin1(
                     QCryptographicHash::hash(check_log.chopped(1), QCryptographicHash::Sha256)
                         .toHex()));

    // The report: Chinese, self-contained, every module.
    answer.path = dir.filePath(QStringLiteral("report"));
    press(window, Qt::Key_R);
    QCOMPARE(answer.titles, QStringList{QStringLiteral("保存报告")});
    const QByteArray html = read_file(answer.path);
    QVERIFY(html.contains("<html lang=\"zh-CN\">"));
    QXmlStreamReader reader(html);
    QString text;
    while (!reader.atEnd()) {
        reader.readNext();
        for (const QXmlStreamAttribute& attribute : reader.attributes())  // links within it only
            QVERIFY(attribute.name() != u"src" &&
                    (attribute.name() != u"href" || attribute.value().startsWith(u'#')));
        QVERIFY(!reader.isStartElement() || reader.name() != u"script");
        if (reader.isCharacters())
            text += reader.text().toString() + u'|';
    }
    QVERIFY2(!reader.hasError(), qPrintable(reader.errorString()));
    for (const QString& expected :
         {QStringLiteral("工程核对|Check"),
          QStringLiteral("2|A/2.json|不同|按键3 线路：计划 9，实际 3|"),
          QStringLiteral("4|A/4.json|无应答|"), QStringLiteral("3|工程中没有|未登记|刷新周期 50|"),
          QStringLiteral("串口无法打开：找不到该串口设备")})
        QVERIFY2(text.contains(expected), qPrintable(expected + u'\n' + text));

    QVERIFY(!html.contains("class=\"as-built\""));
    // With the as-built appendix: every module of a panel with its 16 keys, and the site file's
    // digest as its own bytes give it.
    QCOMPARE(answer.asked.size(), 1);
    QVERIFY(answer.asked[0].contains(QStringLiteral("竣工资料")));
    answer.as_built = true;
    answer.path = dir.filePath(QStringLiteral("built.html"));
    press(window, Qt::Key_R);
    const QByteArray built = read_file(answer.path);
    QCOMPARE(built.count("<article class=\"built\""), 6);  // D's module too
    QCOMPARE(built.count("<td class=\"key\">"), 6 * 16);
    QVERIFY(built.contains(
        QCryptographicHash::hash(read_file(path), QCryptographicHash::Sha256).toHex()));

    // A report that cannot be saved says why in Chinese, as the main window says it.
    answer.path = dir.filePath(QStringLiteral("absent/report.html"));
    press(window, Qt::Key_R);
    QCOMPARE(w.messages,
             QStringList{QStringLiteral("无法保存报告 report.html：找不到文件所在的文件夹。")});
    w.messages.clear();

    // 载入主窗口: module 2's panel in the main window's fields, its bus's port in 串口号.
    tree->setCurrentItem(tree->topLevelItem(0)->child(1));
    press(window, Qt::Key_L);
    QTRY_COMPARE(QApplication::activeWindow(), w.form.get());
    window_fixture expected;
    expected.form->show_config(two);
    QCOMPARE(w.snapshot(), expected.snapshot());
    QCOMPARE(w.edit(QStringLiteral("add"))->text(), QStringLiteral("2"));
    QCOMPARE(w.edit(QStringLiteral("chuankou_num"))->text(), a.path);
    QVERIFY(w.messages.isEmpty());
}

void tst_site_window::write_with_cancel_and_confirm()
{
    sim_process one;
    QVERIFY(one.start({QStringLiteral("--address=1,2,3"), QStringLiteral("--verbose")}));
    sim_process two;  // answers its first read, then the first 3 records of the write only
    QVERIFY(two.start({QStringLiteral("--address=7"), QStringLiteral("--silent-after=20")}));
    QTemporaryDir dir;
    const QString path =
        site_in(dir, QStringLiteral("W"),
                {{QStringLiteral("one"),
                  one.path,
                  {panel(1), panel(2, [](panel_config& c) { c.keys[3].line = 9; }),
                   panel(3, [](panel_config& c) { c.refresh_period = 99; }), panel(4)}},
                 {QStringLiteral("two"), two.path, {panel(7, [](panel_config& c) {
                      c.refresh_period = 77;
                  })}}});
    window_fixture w;
    answers answer;
    QVERIFY(w.form->open_site(path));
    site_window* window = site();

    answer.yes = false;
    press(window, Qt::Key_W);
    QCOMPARE(answer.questions.size(), 1);
    QVERIFY2(answer.questions[0].startsWith(
                 QStringLiteral("尚未核对，还不知道哪些模块有差异。将读取 2 条总线上的 5 "
                                "个模块，只写入与配置文件不同的模块")),
             qPrintable(answer.questions[0]));
    QTest::qWait(200);
    QVERIFY(!one.process.readAllStandardError().contains(" rx "));

    answer.yes = true;
    press(window, Qt::Key_W);
    QVERIFY(finished(window));
    QCOMPARE(rows_of(window),
             (QStringList{
                 QStringLiteral("one|1 个问题"), QStringLiteral(" 1|one/1.json|未改动|"),
                 QStringLiteral(" 2|one/2.json|已写入|按键4 线路：原为 4，改为 9"),
                 QStringLiteral(" 3|one/3.json|已写入|刷新周期：原为 50，改为 99"),
                 QStringLiteral(" 4|one/4.json|无应答|读取记录 0（刷新周期）时，1 秒内没有应答"),
                 QStringLiteral("two|1 个问题"),
                 QStringLiteral(" 7|two/7.json|失败|写入记录 3（按键3）时，1 秒内没有应答")}));
    QCOMPARE(tree_of(window)->currentItem()->text(1), QStringLiteral("one/1.json"));
    // Written modules have something to say (what changed), as in --problems-only.
    after_key(window, Qt::Key_P, Qt::ControlModifier);
    QCOMPARE(shown_rows(window),
             (QStringList{QStringLiteral("one"), QStringLiteral(" 2"), QStringLiteral(" 3"),
                          QStringLiteral(" 4"), QStringLiteral("two"), QStringLiteral(" 7")}));
    after_key(window, Qt::Key_P, Qt::ControlModifier);
    // The same log as lorvane-cli's: a line as each module's write begins, one with its outcome.
    QStringList actions;
    for (const QByteArray& line : read_file(path + QStringLiteral(".log")).split('\n')) {
        static const QRegularExpression action(
            QStringLiteral(R"re("module":(\d+),.*"action":"(\w+)")re"));
        if (const auto match = action.match(QString::fromUtf8(line)); match.hasMatch())
            actions << match.captured(1) + u' ' + match.captured(2);
    }
    actions.sort();
    QCOMPARE(actions, (QStringList{QStringLiteral("2 begun"), QStringLiteral("2 written"),
                                   QStringLiteral("3 begun"), QStringLiteral("3 written"),
                                   QStringLiteral("7 begun"), QStringLiteral("7 failed")}));
}

void tst_site_window::files_read_afresh_for_each_run()
{
    sim_process sim;
    QVERIFY(sim.start({QStringLiteral("--address=1")}));
    QTemporaryDir dir;
    // Placeholders in a bus name and a panel path come through every text as they stand.
    const QString bus = QStringLiteral("A %1 %2");
    const QString panel_path = bus + QStringLiteral("/1.json");
    const QString path = site_in(dir, QStringLiteral("R"), {{bus, sim.path, {panel(1)}}});
    window_fixture w;
    answers answer;
    QVERIFY(w.form->open_site(path));
    site_window* window = site();
    press(window, Qt::Key_C);
    QVERIFY(finished(window));
    QCOMPARE(rows_of(window),
             (QStringList{bus + QStringLiteral("|完成"),
                          QStringLiteral(" 1|") + panel_path + QStringLiteral("|相同|")}));
    QVERIFY(!summary_of(window).contains(QStringLiteral("已改变")));

    // The panel edited between two checks: the second compares against the new one, and says so.
    write_file(dir.filePath(panel_path),
               panel_file_text(panel(1, [](panel_config& c) { c.refresh_period = 77; })));
    press(window, Qt::Key_C);
    QVERIFY(finished(window));
    QCOMPARE(rows_of(window)[1], QStringLiteral(" 1|") + panel_path +
                                     QStringLiteral("|不同|刷新周期：计划 77，实际 50"));
    QVERIFY2(
        summary_of(window).endsWith(QStringLiteral("\n配置文件已改变，已重新读取：") + panel_path),
        qPrintable(summary_of(window)));
    answer.yes = false;
    press(window, Qt::Key_W);
    QCOMPARE(answer.questions.size(), 1);
    QVERIFY2(answer.questions[0].contains(
                 QStringLiteral("\n  %1（%2）：1 个，地址 1\n").arg(bus, sim.path)),
             qPrintable(answer.questions[0]));

    // A panel file gone by the next check: one box in Chinese naming it, and nothing runs.
    QVERIFY(QFile::remove(dir.filePath(panel_path)));
    w.messages.clear();
    press(window, Qt::Key_C);
    QVERIFY(!window->running());
    QCOMPARE(w.messages,
             QStringList{QStringLiteral("无法打开工程文件 R.json：无法读取配置文件 %1（成员 "
                                        "buses[0].panels[0]）：找不到文件。")
                             .arg(panel_path)});
}

void tst_site_window::ports_refused_both_ways()
{
    module_peer peer;
    QTemporaryDir dir;
    const QString path =
        site_in(dir, QStringLiteral("P"), {{QStringLiteral("bus"), peer.path(), {panel(1)}}});
    window_fixture w;
    answers answer;
    QVERIFY(w.form->open_site(path));
    site_window* window = site();

    // The main window has the port: the site refuses with one box and sends nothing.
    QVERIFY(w.open_port(peer.path()));
    press(window, Qt::Key_C);
    press(window, Qt::Key_W);
    QCOMPARE(w.messages, QStringList(2, QStringLiteral("先在主窗口中关闭串口 ") + peer.path()));
    QVERIFY(answer.questions.isEmpty());
    QVERIFY(!window->running());
    QTest::qWait(50);
    QVERIFY(peer.raw().empty());

    // A running site has the port: the main window is refused, and gets it once the run ends.
    w.click(QStringLiteral("open_comm"));
    QVERIFY(!w.form->link().is_open());
    w.messages.clear();
    press(window, Qt::Key_C);
    QVERIFY(peer.wait_for_requests(1));
    QVERIFY(!w.open_port(peer.path()));
    QCOMPARE(w.messages.size(), 1);
    QVERIFY2(w.messages[0].startsWith(QStringLiteral("串口 %1 正由工程窗口使用").arg(peer.path())),
             qPrintable(w.messages[0]));
    QVERIFY(finished(window));
    QVERIFY(w.open_port(peer.path()));

    // A FIFO where the log goes: refused at once, with one box naming it; nothing is sent.
    w.click(QStringLiteral("open_comm"));
    QFile::remove(path + QStringLiteral(".log"));  // the checks' lines
    QCOMPARE(::mkfifo(qPrintable(path + QStringLiteral(".log")), 0600), 0);
    const std::size_t sent = peer.raw().size();
    w.messages.clear();
    press(window, Qt::Key_W);
    QCOMPARE(w.messages.size(), 1);
    QVERIFY2(w.messages[0].startsWith(
                 QStringLiteral("无法打开审计日志 %1.log：它不是普通文件").arg(path)),
             qPrintable(w.messages[0]));
    QVERIFY(!window->running());
    QTest::qWait(50);
    QCOMPARE(peer.raw().size(), sent);
}

void tst_site_window::closing_during_a_write()
{
    sim_process sim;
    QVERIFY(sim.start({QStringLiteral("--address=1,2"), QStringLiteral("--pace-baud=9600"),
                       QStringLiteral("--verbose")}));
    QTemporaryDir dir;
    const auto changed = [](std::uint8_t address) {
        return panel(address, [](panel_config& c) { c.refresh_period = 60; });
    };
    const QString path = site_in(dir, QStringLiteral("Z"),
                                 {{QStringLiteral("bus"), sim.path, {changed(1), changed(2)}}});
    window_fixture w;
    answers answer;

    // Closed during a check: it stops, without a word.
    QVERIFY(w.form->open_site(path));
    QString seen;
    const auto sim_saw = [&](const QString& text) {
        seen += QString::fromUtf8(sim.process.readAllStandardError());
        return seen.contains(text);
    };
    press(site(), Qt::Key_C);
    QTRY_VERIFY(sim_saw(QStringLiteral(" rx ")));
    site()->close();
    QTRY_VERIFY(!site());
    QVERIFY(w.messages.isEmpty());

    // Closed during a write: every bus stops at once, and a box says what was left.
    QVERIFY(w.form->open_site(path));
    press(site(), Qt::Key_W);
    QTRY_VERIFY_WITH_TIMEOUT(sim_saw(QStringLiteral("rx 55 01 F0 05")), 10000);
    site()->close();
    QTRY_VERIFY(!site());
    QCOMPARE(w.messages.size(), 1);
    QVERIFY2(w.messages[0].startsWith(QStringLiteral(
                 "关闭工程窗口时写入还没有完成，写入已停止。\n已写入 0 "
                 "个模块。\n1 个模块在写入中途被打断，可能只写入了部分记录：总线 bus "
                 "的模块 1（记录 ")),
             qPrintable(w.messages[0]));
    QVERIFY(w.messages[0].contains(QStringLiteral("中记为 interrupted。\n1 "
                                                  "个模块在写入任何数据之前停止，没有写入。")));
    const QList<QByteArray> log = read_file(path + QStringLiteral(".log")).split('\n');
    // The module's last line, then the stopped run's own.
    QVERIFY(log.size() >= 3 && log[log.size() - 3].contains("\"action\":\"interrupted\""));
    QVERIFY(log[log.size() - 2].contains("\"action\":\"run\",\"of\":\"write\",\"stopped\":true"));
    QTest::qWait(300);  // what went out before the close has arrived by now
    sim_saw({});
    seen.clear();
    QTest::qWait(500);
    QVERIFY(!sim_saw(QStringLiteral(" rx ")));  // nothing after the close
    QVERIFY(w.open_port(sim.path));             // and the port is free

    // Stopped (Esc) during a check: the bus says so, and names the modules it left unchecked.
    w.click(QStringLiteral("open_comm"));
    QVERIFY(w.form->open_site(path));
    press(site(), Qt::Key_C);
    QTRY_VERIFY(sim_saw(QStringLiteral(" rx ")));
    QTest::keyClick(site(), Qt::Key_Escape);
    QVERIFY(finished(site()));
    // Its silence so far is no finding of its line: the scan may not have reached them yet.
    QCOMPARE(rows_of(site())[0], QStringLiteral("bus|已停止，2 个问题"));
}

QTEST_MAIN(tst_site_window)
#include "tst_site_window.moc"
