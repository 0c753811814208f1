// The window's two faces: the English catalogue is whole, an English window shows no Chinese,
// a switch redraws the open windows and keeps what was typed, the choice is remembered and
// ranked below --language and LORVANE_LANGUAGE, Qt's own dialogs follow, and every text of
// the fixed controls fits in both languages.
#include "language.h"
#include "main_form.h"
#include "panel_file.h"
#include "scan_dialog.h"
#include "site_test_files.h"
#include "site_window.h"
#include "window_fixture.h"
#include "window_texts.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QRegularExpression>
#include <QStyleOption>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <QXmlStreamReader>

using namespace lorvane;

namespace {

bool has_cjk(const QString& text)
{
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if ((u >= 0x2E80 && u <= 0x9FFF) || (u >= 0xF900 && u <= 0xFAFF) ||
            (u >= 0xFF00 && u <= 0xFFEF))
            return true;
    }
    return false;
}

// Every text `root` and its children show or give a screen reader.
QStringList texts_of(QWidget* root)
{
    QStringList texts{root->windowTitle()};
    QList<QWidget*> widgets = root->findChildren<QWidget*>();
    widgets.prepend(root);
    for (QWidget* w : widgets) {
        texts << w->toolTip() << w->accessibleName();
        if (auto* label = qobject_cast<QLabel*>(w))
            texts << label->text();
        if (auto* button = qobject_cast<QAbstractButton*>(w))
            texts << button->text();
        if (auto* combo = qobject_cast<QComboBox*>(w)) {
            texts << combo->currentText();
            for (int i = 0; i < combo->count(); ++i)
                texts << combo->itemText(i);
        }
        if (auto* tree = qobject_cast<QTreeWidget*>(w)) {
            for (int c = 0; c < tree->columnCount(); ++c)
                texts << tree->headerItem()->text(c) << tree->headerItem()->toolTip(c);
            for (QTreeWidgetItemIterator it(tree); *it; ++it) {
                for (int c = 0; c < tree->columnCount(); ++c)
                    texts << (*it)->text(c) << (*it)->toolTip(c);
            }
        }
        if (auto* list = qobject_cast<QListWidget*>(w)) {
            for (int i = 0; i < list->count(); ++i)
                texts << list->item(i)->text();
        }
        for (const QAction* action : w->actions())
            texts << action->text();
    }
    texts.removeAll(QString());
    return texts;
}

QStringList chinese_texts(QWidget* root)
{
    QStringList found;
    for (const QString& text : texts_of(root)) {
        if (has_cjk(text))
            found << text;
    }
    return found;
}

int text_width(const QFontMetrics& metrics, const QString& text)
{
    int widest = 0;
    for (QString line : text.split(u'\n'))
        widest = std::max(widest, metrics.horizontalAdvance(line.remove(u'&')));
    return widest;
}

// The controls of `root` whose text is wider than the room their style gives it:
// "NAME: TEXT (N > M px)".
QStringList clipped(QWidget* root)
{
    QStringList found;
    const auto check = [&](QWidget* w, const QString& text, int room) {
        const int need = text_width(QFontMetrics(w->font()), text);
        if (need > room)
            found << QStringLiteral("%1: %2 (%3 > %4 px)")
                         .arg(w->objectName(), text)
                         .arg(need)
                         .arg(room);
    };
    for (QWidget* w : root->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(root))
            continue;
        if (auto* label = qobject_cast<QLabel*>(w); label && !label->wordWrap()) {
            check(label, label->text(), label->contentsRect().width());
        } else if (auto* button = qobject_cast<QPushButton*>(w)) {
            QStyleOptionButton option;
            option.initFrom(button);
            option.text = button->text();
            check(button, button->text(),
                  button->style()
                      ->subElementRect(QStyle::SE_PushButtonContents, &option, button)
                      .width());
        } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
            QStyleOptionComboBox option;
            option.initFrom(combo);
            option.editable = combo->isEditable();
            const int room = combo->style()
                                 ->subControlRect(QStyle::CC_ComboBox, &option,
                                                  QStyle::SC_ComboBoxEditField, combo)
                                 .width();
            for (int i = 0; i < combo->count(); ++i)
                check(combo, combo->itemText(i), room);
        } else if (auto* tree = qobject_cast<QTreeWidget*>(w)) {
            const int margins = 2 * tree->style()->pixelMetric(QStyle::PM_HeaderMargin);
            for (int c = 0; c < tree->columnCount(); ++c)
                check(tree->header(), tree->headerItem()->text(c),
                      tree->header()->sectionSize(c) - margins);
        }
    }
    return found;
}

// The site window of a one-bus site with one module, over `w`'s main window.
site_window* open_site_window(window_fixture& w, const QTemporaryDir& dir)
{
    write_file(dir.filePath(QStringLiteral("east/3.json")), panel_file_text(panel(3)));
    const QString path =
        write_file(dir.filePath(QStringLiteral("Tower.json")),
                   site_text(QStringLiteral("Tower"), {{QStringLiteral("east"),
                                                        QStringLiteral("/dev/ttyLorvaneMissing"),
                                                        {QStringLiteral("east/3.json")}}}));
    if (!w.form->open_site(path))
        return nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* window = qobject_cast<site_window*>(widget); window && window->isVisible())
            return window;
    }
    return nullptr;
}

// Fails with the texts found, one a line.
#define expect_none(found)                                                                         \
    do {                                                                                           \
        const QStringList texts_found = found;                                                     \
        QVERIFY2(texts_found.isEmpty(), qPrintable(texts_found.join(u'\n')));                      \
    } while (false)

QMenu* window_menu(window_fixture& w)
{
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                            w.form->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(w.form.get(), &event);
    return w.form->findChild<QMenu*>(QStringLiteral("window_menu"));
}

QLabel* label(window_fixture& w, const char* name)
{
    return w.find<QLabel>(QLatin1String(name));
}

}  // namespace

class tst_language : public QObject
{
    Q_OBJECT

    QTemporaryDir config_;  // the configuration folder of every test here

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(config_.isValid());
        qputenv("XDG_CONFIG_HOME", config_.path().toUtf8());
        qunsetenv("LORVANE_LANGUAGE");
        set_up_application();
    }
    void init()
    {
        set_language(language::chinese);
        QFile::remove(settings_file());
        qunsetenv("LORVANE_LANGUAGE");
    }

    void catalogue_whole()
    {
        QFile file(QStringLiteral(LORVANE_TS_FILE));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QXmlStreamReader xml(&file);
        QString context, source;
        int messages = 0;
        QStringList bad;
        const QRegularExpression placeholder(QStringLiteral("%\\d"));
        const auto placeholders = [&](const QString& text) {
            QStringList found;
            for (const auto& m : placeholder.globalMatch(text))
                found << m.captured();
            found.sort();
            found.removeDuplicates();
            return found;
        };
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement)
                continue;
            if (xml.name() == QStringLiteral("name")) {
                context = xml.readElementText();
            } else if (xml.name() == QStringLiteral("source")) {
                source = xml.readElementText();
            } else if (xml.name() == QStringLiteral("translation")) {
                ++messages;
                const QString type = xml.attributes().value(QStringLiteral("type")).toString();
                const QString english = xml.readElementText();
                if (!type.isEmpty() || english.trimmed().isEmpty() || has_cjk(english) ||
                    placeholders(english) != placeholders(source))
                    bad << context + u'/' + source + QStringLiteral(" -> ") + english +
                               (type.isEmpty() ? QString() : u' ' + type);
            }
        }
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        QVERIFY(messages > 400);
        QVERIFY2(bad.isEmpty(), qPrintable(bad.join(u'\n')));
        // The built program carries it.
        set_language(language::english);
        QCOMPARE(translated("window_texts", WRITE_CAPTION), QStringLiteral("Write"));
    }

    // The English window, a box, the search dialog and the site window show no Chinese; the
    // menu's last entry offers 中文.
    void english_face()
    {
        QStringList args{QStringLiteral("lorvane"), QStringLiteral("--language"),
                         QStringLiteral("en")};
        const start_language start = language_at_start(args);
        QVERIFY(start.problem.isEmpty());
        set_language(start.chosen);
        window_fixture w;
        expect_none(chinese_texts(w.form.get()));
        QCOMPARE(label(w, "Label6")->text(), QStringLiteral("Port:"));
        QCOMPARE(w.key_operation(0)->currentText(), QStringLiteral("toggle"));

        w.click(QStringLiteral("Command1"));  // the port is closed
        QCOMPARE(w.messages, QStringList{QStringLiteral("Open the port first")});
        // A refused file is worded in English to the end, the parser's place included.
        QTemporaryDir files;
        w.messages.clear();
        QVERIFY(!w.form->open_file(
            write_file(files.filePath(QStringLiteral("cut.json")), QByteArray("{\n\"format\""))));
        QVERIFY(!w.form->open_file(
            write_file(files.filePath(QStringLiteral("few.json")),
                       QByteArray(R"({"format": "lorvane-panel/1", "module_address": 1, )"
                                  R"("refresh_period": 50, "keys": [{}, {}]})"))));
        QCOMPARE(w.messages.size(), 2);
        QVERIFY2(w.messages[0].contains(QStringLiteral(" at line 2, column ")) &&
                     w.messages[1].contains(QStringLiteral(", not 2 entries.")),
                 qPrintable(w.messages.join(u'\n')));
        expect_none(w.messages.filter(QRegularExpression(QStringLiteral("[\\x{3000}-\\x{9fff}]"))));

        QMenu* menu = window_menu(w);
        QVERIFY(menu);
        QStringList entries;
        for (const QAction* action : menu->actions())
            entries << action->text();
        menu->close();
        QCOMPARE(entries.size(), 9);  // seven actions, a separator, the language
        QCOMPARE(entries.takeLast(), QStringLiteral("中文"));
        QCOMPARE(entries.filter(QRegularExpression(QStringLiteral("[\\x{3000}-\\x{9fff}]"))),
                 QStringList());

        auto* search = new scan_dialog(w.form->link(), w.form.get());
        search->show();
        expect_none(chinese_texts(search));
        QCOMPARE(search->windowTitle(), QStringLiteral("Find modules"));
        delete search;

        QTemporaryDir dir;
        site_window* site = open_site_window(w, dir);
        QVERIFY(site);
        expect_none(chinese_texts(site));
        QCOMPARE(site->windowTitle(), QStringLiteral("Site: Tower"));
        delete site;
    }

    // The menu's entry switches every open window at once, keeps what was typed, and the
    // operations shown keep their meaning; back in Chinese the window is as it was.
    void switch_keeps_values()
    {
        window_fixture w;
        w.edit(QStringLiteral("add"))->setText(QStringLiteral("17"));
        w.edit(QStringLiteral("Text5"))->setText(QStringLiteral("80"));
        w.key_address(2)->setText(QStringLiteral("33"));
        w.key_operation(1)->setCurrentIndex(2);                // 按下点动闭合0.5秒, code 3
        w.key_operation(3)->setEditText(QStringLiteral("x"));  // typed, not an operation
        const auto config = w.form->transfer().config_for_write();
        QVERIFY(config);
        auto* search = new scan_dialog(w.form->link(), w.form.get());
        search->show();
        QTemporaryDir dir;
        site_window* site = open_site_window(w, dir);
        QVERIFY(site);
        const QStringList chinese = texts_of(w.form.get());  // the search dialog's too
        const QStringList site_chinese = texts_of(site);

        QAction* language_entry = w.form->findChild<QAction*>(QStringLiteral("language_action"));
        QVERIFY(language_entry);
        QCOMPARE(language_entry->text(), QStringLiteral("English"));
        language_entry->trigger();
        QCOMPARE(current_language(), language::english);
        // The windows hear of it from the event loop, right after the menu's handler.
        QTRY_COMPARE(label(w, "Label1")->text(), QStringLiteral("Module:"));
        QCOMPARE(w.button(QStringLiteral("Command2"))->text(), QStringLiteral("Read"));
        QCOMPARE(language_entry->text(), QStringLiteral("中文"));
        QCOMPARE(search->windowTitle(), QStringLiteral("Find modules"));
        QCOMPARE(site->findChild<QPushButton*>(QStringLiteral("site_check"))->text(),
                 QStringLiteral("&Check"));
        expect_none(chinese_texts(w.form.get()));
        expect_none(chinese_texts(search));
        expect_none(chinese_texts(site));
        QCOMPARE(w.edit(QStringLiteral("add"))->text(), QStringLiteral("17"));
        QCOMPARE(w.key_address(2)->text(), QStringLiteral("33"));
        QCOMPARE(w.key_operation(1)->currentText(), QStringLiteral("pulse 0.5 s"));
        QCOMPARE(w.key_operation(3)->currentText(), QStringLiteral("x"));
        QVERIFY(w.form->transfer().config_for_write() == config);

        language_entry->trigger();
        QTRY_COMPARE(texts_of(w.form.get()), chinese);
        QCOMPARE(texts_of(site), site_chinese);
        QCOMPARE(w.key_operation(1)->currentText(), QStringLiteral("按下点动闭合0.5秒"));
        QVERIFY(w.form->transfer().config_for_write() == config);
        delete site;
    }

    // A finished check's rows and summary are worded again in the other language, and its
    // report is written in it.
    void site_check_redrawn()
    {
        window_fixture w;
        QTemporaryDir dir;
        site_window* site = open_site_window(w, dir);
        QVERIFY(site);
        auto* tree = site->findChild<QTreeWidget*>(QStringLiteral("site_tree"));
        QTest::mouseClick(site->findChild<QPushButton*>(QStringLiteral("site_check")),
                          Qt::LeftButton);
        QTRY_COMPARE(tree->topLevelItem(0)->text(2), QStringLiteral("串口无法打开"));
        QTRY_VERIFY(site->findChild<QPushButton*>(QStringLiteral("site_check"))->isEnabled());
        w.form->findChild<QAction*>(QStringLiteral("language_action"))->trigger();
        QTRY_COMPARE(tree->topLevelItem(0)->text(2), QStringLiteral("port not opened"));
        // The system's reason stays as Qt worded it during the run.
        QVERIFY2(tree->topLevelItem(0)->text(3).startsWith(QStringLiteral("no such serial device")),
                 qPrintable(tree->topLevelItem(0)->text(3)));
        QVERIFY2(site->findChild<QLabel*>(QStringLiteral("site_summary"))
                     ->text()
                     .startsWith(QStringLiteral("Check done: 1 bus(es) (1 not reached)")),
                 qPrintable(site->findChild<QLabel*>(QStringLiteral("site_summary"))->text()));

        const QString report = dir.filePath(QStringLiteral("report.html"));
        file_dialog::set_handler(
            [&](QWidget*, file_dialog::purpose, const QString&) { return report; });
        QString question;  // the as-built choice, asked in English too
        message_box::set_question_handler([&](QWidget*, const QString& text) {
            question = text;
            return false;
        });
        QTest::mouseClick(site->findChild<QPushButton*>(QStringLiteral("site_report")),
                          Qt::LeftButton);
        file_dialog::set_handler({});
        message_box::set_question_handler({});
        QVERIFY2(question.startsWith(QStringLiteral("Add the as-built pages")),
                 qPrintable(question));
        QFile html(report);
        QVERIFY(html.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(html.readAll());
        QVERIFY(text.contains(QStringLiteral("<html lang=\"en\">")));
        QVERIFY(text.contains(QStringLiteral("Site check")));
        QVERIFY2(!text.contains(QStringLiteral("工程核对")), qPrintable(text.left(2000)));
        delete site;
    }

    // The menu's choice outlives the program; --language and LORVANE_LANGUAGE rank above it,
    // nothing chosen is Chinese, and a bad value names the option and what it accepts.
    void remembered_choice()
    {
        QStringList args{QStringLiteral("lorvane"), QStringLiteral("panel.json")};
        QCOMPARE(language_at_start(args).chosen, language::chinese);
        {
            window_fixture w;
            w.form->findChild<QAction*>(QStringLiteral("language_action"))->trigger();
            QCOMPARE(w.messages, QStringList());
        }
        QFile file(settings_file());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("language=en\n"));
        set_language(language::chinese);
        QCOMPARE(language_at_start(args).chosen, language::english);
        QCOMPARE(args, (QStringList{QStringLiteral("lorvane"), QStringLiteral("panel.json")}));

        qputenv("LORVANE_LANGUAGE", "zh");
        QCOMPARE(language_at_start(args).chosen, language::chinese);
        QStringList given{QStringLiteral("lorvane"), QStringLiteral("--language=en"),
                          QStringLiteral("panel.json")};
        QCOMPARE(language_at_start(given).chosen, language::english);
        QCOMPARE(given, args);  // the option is taken out; the file stays

        for (const QStringList& bad :
             {QStringList{QStringLiteral("lorvane"), QStringLiteral("--language"),
                          QStringLiteral("fr")},
              QStringList{QStringLiteral("lorvane"), QStringLiteral("--language")}}) {
            QStringList a = bad;
            const QString problem = language_at_start(a).problem;
            QVERIFY2(problem.contains(QStringLiteral("--language")) &&
                         problem.contains(QStringLiteral("en (English) or zh (Chinese)")),
                     qPrintable(problem));
        }
        qputenv("LORVANE_LANGUAGE", "EN");
        const QString problem = language_at_start(args).problem;
        QVERIFY2(problem.contains(QStringLiteral("LORVANE_LANGUAGE \"EN\"")), qPrintable(problem));
    }

    // Qt's own dialogs speak the window's language.
    void qt_dialogs()
    {
        const auto buttons_of = [] {
            QFileDialog dialog(nullptr, QStringLiteral("x"));
            dialog.setOption(QFileDialog::DontUseNativeDialog);
            QStringList texts;
            for (const QAbstractButton* b : dialog.findChild<QDialogButtonBox*>()->buttons())
                texts << b->text();
            return texts;
        };
        const QStringList chinese = buttons_of();
        QVERIFY2(chinese.filter(QStringLiteral("取消")).size() == 1,
                 qPrintable(chinese.join(u'|')));
        set_language(language::english);
        const QStringList english = buttons_of();
        QVERIFY2(english.contains(QStringLiteral("Cancel")), qPrintable(english.join(u'|')));
    }

    // Every text of the fixed controls fits, in both languages: the main window, the search
    // dialog and the site window.
    void texts_fit_data()
    {
        QTest::addColumn<language>("face");
        QTest::newRow("zh") << language::chinese;
        QTest::newRow("en") << language::english;
    }
    void texts_fit()
    {
        QFETCH(language, face);
        set_language(face);
        window_fixture w;
        w.form->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.form.get()));
        QCOMPARE(w.form->size(), QSize(CLIENT_WIDTH, CLIENT_HEIGHT));
        expect_none(clipped(w.form.get()));

        auto* search = new scan_dialog(w.form->link(), w.form.get());
        search->show();
        expect_none(clipped(search));

        QTemporaryDir dir;
        site_window* site = open_site_window(w, dir);
        QVERIFY(site);
        QVERIFY(QTest::qWaitForWindowExposed(site));
        expect_none(clipped(site));
        delete site;
    }
};

QTEST_MAIN(tst_language)
#include "tst_language.moc"
