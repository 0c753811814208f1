// The window and its line at the edges: the port closed or lost while a comparison or a
// module search uses it, the window destroyed under them, and a line that floods the window
// with replies while a box is open.
#include "module_peer.h"
#include "sim_process.h"
#include "window_fixture.h"

#include <QDialog>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>

#include <signal.h>

using namespace lorvane;

namespace {

void press(window_fixture& w, Qt::Key key)
{
    w.form->show();
    w.form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w.form.get()));
    QTest::keyClick(w.form.get(), key, Qt::ControlModifier);
}

QDialog* search_dialog(const window_fixture& w)
{
    return w.form->findChild<QDialog*>(QStringLiteral("scan_dialog"));
}

}  // namespace

class tst_window_line : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void closing_during_a_comparison_ends_it_quietly();
    void search_that_loses_its_port_offers_nothing();
    void search_says_when_it_may_have_missed_a_module();
    void window_destroyed_while_the_line_works();
    void replies_flooding_a_box_are_bounded();
};

void tst_window_line::closing_during_a_comparison_ends_it_quietly()
{
    module_peer peer;
    peer.answering = false;  // a silent module: the comparison waits for its first reply
    window_fixture w;
    QVERIFY(w.open_port(peer.path()));
    press(w, Qt::Key_R);
    QVERIFY(peer.wait_for_requests(1));
    QTest::qWait(200);
    w.click(QStringLiteral("open_comm"));
    QVERIFY(!w.form->link().is_open());
    QTest::qWait(1500);  // past the comparison's reply time-out
    QCOMPARE(w.messages, QStringList());
    QCOMPARE(peer.requests().size(), std::size_t{1});

    // The window is free again: a transfer says the port is closed, as always.
    w.click(QStringLiteral("Command1"));
    QCOMPARE(w.messages, QStringList{QStringLiteral("先打开串口，然后写入")});
}

void tst_window_line::search_that_loses_its_port_offers_nothing()
{
    sim_process sim;
    QVERIFY(sim.start({QStringLiteral("--pace-baud=9600"), QStringLiteral("--address=3,40,200")}));
    window_fixture w;
    QVERIFY(w.open_port(sim.path));
    press(w, Qt::Key_F);
    QDialog* dialog = search_dialog(w);
    QVERIFY(dialog);
    auto* list = dialog->findChild<QListWidget*>(QStringLiteral("scan_modules"));
    QTRY_COMPARE_WITH_TIMEOUT(list->count(), 2, 5000);  // 3 and 40 found, 200 not yet
    QVERIFY(sim.stop_with(SIGKILL));

    QTRY_COMPARE_WITH_TIMEOUT(w.messages.size(), 1, 5000);
    QVERIFY2(w.messages[0].contains(QStringLiteral("已断开")), qPrintable(w.messages[0]));
    const auto* status = dialog->findChild<QLabel*>(QStringLiteral("scan_status"));
    QTRY_VERIFY(status->text().startsWith(QStringLiteral("串口已断开，查找已停止。")));
    QVERIFY2(status->text().contains(QStringLiteral("2 个模块")), qPrintable(status->text()));
    const auto* bar = dialog->findChild<QProgressBar*>(QStringLiteral("scan_progress"));
    QVERIFY(bar->value() < bar->maximum());
    QTest::qWait(300);  // nothing more comes of the scan
    QVERIFY(status->text().startsWith(QStringLiteral("串口已断开，查找已停止。")));

    // Nothing found can be read now.
    QVERIFY(!list->isEnabled());
    list->setCurrentRow(0);
    QTest::keyClick(list, Qt::Key_Return);
    Q_EMIT list->itemActivated(list->item(0));
    QTest::qWait(100);
    QCOMPARE(w.messages.size(), 1);
    QVERIFY(search_dialog(w));
}

void tst_window_line::search_says_when_it_may_have_missed_a_module()
{
    // A garbled reply at address 9 that no module accounts for, on the first pass only.
    module_peer peer;
    int probes_of_9 = 0;
    peer.on_request = [&](const frame& request) {
        if (request[POS_ADDRESS] == 9 && ++probes_of_9 == 1)
            peer.send_raw({0x22, 0x09, 0xF1, 0x00, 0x5A, 0xA5, 0x3C, 0xC3});
    };
    window_fixture w;
    QVERIFY(w.open_port(peer.path()));
    press(w, Qt::Key_F);
    QDialog* dialog = search_dialog(w);
    QVERIFY(dialog);
    auto* again = dialog->findChild<QPushButton*>(QStringLiteral("scan_again"));
    const auto* status = dialog->findChild<QLabel*>(QStringLiteral("scan_status"));
    QTRY_VERIFY_WITH_TIMEOUT(again->isVisible(), 15000);
    QVERIFY2(status->text().contains(QStringLiteral("找到 1 个模块")), qPrintable(status->text()));
    QVERIFY2(status->text().contains(QStringLiteral("可能漏掉了模块")), qPrintable(status->text()));
    const auto* bar = dialog->findChild<QProgressBar*>(QStringLiteral("scan_progress"));
    QCOMPARE(bar->value(), bar->maximum());

    // One more pass: the module is listed once, and this time no doubt is left.
    const std::size_t before = peer.requests().size();
    again->click();
    QVERIFY(!again->isVisible());
    QTRY_COMPARE_WITH_TIMEOUT(dialog->findChild<QPushButton*>(QStringLiteral("scan_stop"))->text(),
                              QStringLiteral("关闭"), 15000);
    QVERIFY(peer.requests().size() > before + 200);
    QVERIFY(!again->isVisible());
    QCOMPARE(dialog->findChild<QListWidget*>(QStringLiteral("scan_modules"))->count(), 1);
    QCOMPARE(w.messages, QStringList());
}

void tst_window_line::window_destroyed_while_the_line_works()
{
    // As at logout: the application quits while the line is in use. Under the sanitizers
    // any use of what the window already destroyed is a failure.
    {
        sim_process sim;
        QVERIFY(sim.start({QStringLiteral("--pace-baud=9600"), QStringLiteral("--address=3")}));
        window_fixture w;
        QVERIFY(w.open_port(sim.path));
        press(w, Qt::Key_F);
        QVERIFY(search_dialog(w));
        QTest::qWait(300);
        w.form.reset();
        QTest::qWait(100);
    }
    {
        module_peer peer;
        window_fixture w;
        QVERIFY(w.open_port(peer.path()));
        peer.answering = false;
        press(w, Qt::Key_R);
        QVERIFY(peer.wait_for_requests(1));
        w.form.reset();
        peer.send_frame(make_reply(1, FUNC_READ, 0, 50, 0, 0));
        QTest::qWait(1200);  // the comparison's time-out would have come by now
        QCOMPARE(w.messages, QStringList());
    }
}

void tst_window_line::replies_flooding_a_box_are_bounded()
{
    // While the write's completion box is open, the line sends read replies without end;
    // once it is confirmed, only the first of them moves the read chain on.
    module_peer peer;
    window_fixture w;
    QVERIFY(w.open_port(peer.path()));
    std::size_t requests_after_box = 0;
    w.on_message = [&](const QString& text) {
        if (text != QStringLiteral("全部数据写入完毕"))
            return;
        peer.answering = false;
        for (int round = 0; round < 20; ++round) {
            for (int record = 0; record < 16; ++record)
                peer.send_frame(make_reply(1, FUNC_READ, std::uint8_t(record), 9, 9, 2));
            QTest::qWait(5);
        }
        QTest::qWait(100);
        requests_after_box = peer.requests().size();
    };
    w.click(QStringLiteral("Command1"));
    QTRY_COMPARE(w.messages.size(), 1);
    QTest::qWait(200);
    QCOMPARE(requests_after_box, std::size_t{17});
    QCOMPARE(peer.requests().size(), std::size_t{17 + 1});  // one read request, not 320
    QCOMPARE(peer.requests().back()[POS_FUNCTION], FUNC_READ);
}

QTEST_MAIN(tst_window_line)
#include "tst_window_line.moc"
