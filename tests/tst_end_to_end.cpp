// The tool against the real module simulator program: a random configuration written by
// one window and read back into a fresh one, and a module that falls silent mid-chain.
#include "sim_process.h"
#include "window_fixture.h"

#include <QProcess>
#include <QRandomGenerator>

#include <memory>

using namespace lorvane;

namespace {

const QString WRITE_DONE = QStringLiteral("全部数据写入完毕");
const QString READ_DONE = QStringLiteral("全部数据读取完毕");

}  // namespace

class tst_end_to_end : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void random_configuration_round_trip();
    void module_silent_mid_chain_then_later_transfer();
    void simulator_exits_cleanly();
};

void tst_end_to_end::initTestCase()
{
    QVERIFY2(!qEnvironmentVariable("LORVANE_SIM").isEmpty(), "LORVANE_SIM is not set");
}

void tst_end_to_end::random_configuration_round_trip()
{
    sim_process sim;
    QVERIFY(sim.start({QStringLiteral("--address"), QStringLiteral("37")}));
    QVERIFY2(sim.path.startsWith(u'/'), qPrintable(sim.path));

    auto* random = QRandomGenerator::global();
    const auto byte = [&] { return QString::number(random->bounded(256)); };
    QStringList written;
    {
        window_fixture w;
        w.edit(QStringLiteral("add"))->setText(QStringLiteral("37"));
        w.edit(QStringLiteral("Text5"))->setText(byte());
        for (int row = 0; row < KEY_COUNT; ++row) {
            w.key_address(row)->setText(byte());
            w.key_line(row)->setText(byte());
            w.key_operation(row)->setCurrentIndex(int(random->bounded(3)));
        }
        // One hand-typed text that names no operation travels as code 0 and comes back empty.
        w.key_operation(11)->setEditText(QStringLiteral("自定义"));
        written = w.snapshot();
        QVERIFY(w.open_port(sim.path));
        w.click(QStringLiteral("Command1"));
        QTRY_COMPARE_WITH_TIMEOUT(w.messages, QStringList{WRITE_DONE}, 10000);
        w.click(QStringLiteral("open_comm"));  // closed, as a user would before quitting
    }
    window_fixture fresh;
    fresh.edit(QStringLiteral("add"))->setText(QStringLiteral("37"));
    QVERIFY(fresh.open_port(sim.path));
    fresh.click(QStringLiteral("Command2"));
    QTRY_COMPARE_WITH_TIMEOUT(fresh.messages, QStringList{READ_DONE}, 10000);
    QStringList expected = written;
    expected[4 + 3 * 11 + 2] = QString();  // the hand-typed operation
    QCOMPARE(fresh.snapshot(), expected);
}

void tst_end_to_end::module_silent_mid_chain_then_later_transfer()
{
    sim_process sim;
    QVERIFY(sim.start({QStringLiteral("--silent-after"), QStringLiteral("9")}));
    window_fixture w;
    QVERIFY(w.open_port(sim.path));
    w.click(QStringLiteral("Command1"));
    QTRY_COMPARE_WITH_TIMEOUT(w.messages.size(), 1, 5000);
    QVERIFY2(w.messages[0].startsWith(QStringLiteral("模块没有应答")), qPrintable(w.messages[0]));
    QCOMPARE(w.button(QStringLiteral("Command1"))->text(), QStringLiteral("已写入 9"));
    w.click(QStringLiteral("open_comm"));

    sim_process awake;
    QVERIFY(awake.start({}));
    w.messages.clear();
    QVERIFY(w.open_port(awake.path));
    w.click(QStringLiteral("Command1"));
    QTRY_COMPARE_WITH_TIMEOUT(w.messages, QStringList{WRITE_DONE}, 10000);
    QCOMPARE(w.button(QStringLiteral("Command1"))->text(), QStringLiteral("写入到模块"));
}

void tst_end_to_end::simulator_exits_cleanly()
{
    // While the tool holds the port open, the simulator still stops at once on SIGTERM,
    // and the tool notices the line going away.
    auto sim = std::make_unique<sim_process>();
    QVERIFY(sim->start({}));
    window_fixture w;
    QVERIFY(w.open_port(sim->path));
    sim->process.terminate();
    QVERIFY(sim->process.waitForFinished(5000));
    QCOMPARE(sim->process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim->process.exitCode(), 0);
    QTRY_VERIFY(!w.form->link().is_open());
    QCOMPARE(w.messages.size(), 1);
}

QTEST_MAIN(tst_end_to_end)
#include "tst_end_to_end.moc"
