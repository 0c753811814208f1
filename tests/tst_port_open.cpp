// Opening a port that the system refuses: one the user may not open, and one another
// program holds. Both need a second process: the refused open runs as the unprivileged
// user `nobody` (CI runs as root, which may open anything), and the holder is a second
// program with the port open. This program is its own helper:
//
//   tst_port_open --probe-open PATH   a window types PATH, clicks 打开 and reports
//   tst_port_open --hold PATH         holds PATH open through the link until stdin closes
#include "module_peer.h"
#include "window_fixture.h"

#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSocketNotifier>
#include <QStandardPaths>

#include <cstdio>
#include <cstring>

#include <unistd.h>

using namespace lorvane;

namespace {

// What a window showed after one click on 打开.
QJsonObject probe_open(const QString& path)
{
    window_fixture w;
    w.edit(QStringLiteral("chuankou_num"))->setText(path);
    w.click(QStringLiteral("open_comm"));
    QTest::qWait(100);  // a second box, if any, would come now
    return {{QStringLiteral("messages"), QJsonArray::fromStringList(w.messages)},
            {QStringLiteral("open"), w.form->link().is_open()},
            {QStringLiteral("button"), w.button(QStringLiteral("open_comm"))->text()},
            {QStringLiteral("box"), w.edit(QStringLiteral("chuankou_num"))->text()},
            {QStringLiteral("box_enabled"), w.edit(QStringLiteral("chuankou_num"))->isEnabled()},
            {QStringLiteral("caption"), w.form->windowTitle()}};
}

int hold(const QString& path)
{
    serial_link link;
    if (const auto failure = link.open(path)) {
        std::fprintf(stderr, "cannot hold %s: %s\n", qPrintable(path), qPrintable(failure->reason));
        return 1;
    }
    std::printf("held\n");
    std::fflush(stdout);
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [] { QCoreApplication::quit(); });
    return QCoreApplication::exec();
}

// Checks what the probe reported: one box containing `what`, the port closed, the
// window's caption and port box as they were.
void check_refused(const QJsonObject& report, const QString& path, const QStringList& what)
{
    const QJsonArray messages = report[QStringLiteral("messages")].toArray();
    QCOMPARE(messages.size(), 1);
    const QString message = messages[0].toString();
    for (const QString& part : what)
        QVERIFY2(message.contains(part), qPrintable(message));
    QVERIFY2(message.contains(path), qPrintable(message));
    QCOMPARE(report[QStringLiteral("open")].toBool(), false);
    QCOMPARE(report[QStringLiteral("button")].toString(), QStringLiteral("打开"));
    QCOMPARE(report[QStringLiteral("box")].toString(), path);
    QCOMPARE(report[QStringLiteral("box_enabled")].toBool(), true);
    QCOMPARE(report[QStringLiteral("caption")].toString(), QStringLiteral("LorvaneV1.1"));
}

}  // namespace

class tst_port_open : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void port_the_user_may_not_open();
    void port_held_by_another_program();
};

void tst_port_open::port_the_user_may_not_open()
{
    if (::geteuid() != 0)
        QSKIP("runs the open as the user nobody, which needs root");
    const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    QVERIFY2(!setpriv.isEmpty(), "setpriv (util-linux) is missing");
    // The terminal belongs to root, mode 0620: nobody may not open it.
    module_peer peer;
    QProcess probe;
    probe.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    probe.start(setpriv, {QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                          QStringLiteral("--clear-groups"), QCoreApplication::applicationFilePath(),
                          QStringLiteral("--probe-open"), peer.path()});
    QVERIFY(probe.waitForFinished(30000));
    QCOMPARE(probe.exitCode(), 0);
    const QJsonObject report = QJsonDocument::fromJson(probe.readAllStandardOutput()).object();
    check_refused(report, peer.path(),
                  {QStringLiteral("没有权限打开该串口"), QStringLiteral("dialout")});
}

void tst_port_open::port_held_by_another_program()
{
    module_peer peer;
    QProcess holder;
    holder.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    holder.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--hold"), peer.path()});
    QVERIFY(holder.waitForReadyRead(10000));
    QCOMPARE(holder.readLine().trimmed(), QByteArray("held"));

    check_refused(probe_open(peer.path()), peer.path(), {QStringLiteral("串口正被其他程序占用")});

    // Once the other program lets go, the port opens.
    holder.closeWriteChannel();
    QVERIFY(holder.waitForFinished(10000));
    window_fixture w;
    QVERIFY(w.open_port(peer.path()));
    QCOMPARE(w.messages, QStringList{});
}

int main(int argc, char* argv[])
{
    if (argc == 3 &&
        (std::strcmp(argv[1], "--probe-open") == 0 || std::strcmp(argv[1], "--hold") == 0)) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        const QString path = QString::fromLocal8Bit(argv[2]);
        if (std::strcmp(argv[1], "--hold") == 0)
            return hold(path);
        const QByteArray report = QJsonDocument(probe_open(path)).toJson();
        std::fwrite(report.constData(), 1, std::size_t(report.size()), stdout);
        return 0;
    }
    QApplication app(argc, argv);
    tst_port_open test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_port_open.moc"
