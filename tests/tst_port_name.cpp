// Which device the text of the port-number box names, on both kinds of system.
#include "port_name.h"

#include <QTest>

using namespace lorvane;

class tst_port_name : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void mapping_data();
    void mapping();
};

void tst_port_name::mapping_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("windows");
    QTest::addColumn<QString>("device");  // empty: refused
    const bool lin = false;
    const bool win = true;
    QTest::newRow("1 linux") << QStringLiteral("1") << lin << QStringLiteral("/dev/ttyS0");
    QTest::newRow("3 linux") << QStringLiteral("3") << lin << QStringLiteral("/dev/ttyS2");
    QTest::newRow("3 windows") << QStringLiteral("3") << win << QStringLiteral("COM3");
    QTest::newRow("leading zero") << QStringLiteral("03") << win << QStringLiteral("COM3");
    QTest::newRow("spaces") << QStringLiteral(" 2 ") << lin << QStringLiteral("/dev/ttyS1");
    QTest::newRow("256") << QStringLiteral("256") << win << QStringLiteral("COM256");
    QTest::newRow("COM12 windows") << QStringLiteral("COM12") << win << QStringLiteral("COM12");
    QTest::newRow("ttyUSB0") << QStringLiteral("ttyUSB0") << lin << QStringLiteral("ttyUSB0");
    QTest::newRow("path") << QStringLiteral("/dev/ttyUSB0") << lin
                          << QStringLiteral("/dev/ttyUSB0");
    QTest::newRow("pts") << QStringLiteral("/dev/pts/7") << lin << QStringLiteral("/dev/pts/7");
    QTest::newRow("windows device path")
        << QStringLiteral("\\\\.\\COM20") << win << QStringLiteral("\\\\.\\COM20");
    QTest::newRow("empty") << QString() << lin << QString();
    QTest::newRow("blank") << QStringLiteral("   ") << win << QString();
    QTest::newRow("zero") << QStringLiteral("0") << lin << QString();
    QTest::newRow("257") << QStringLiteral("257") << win << QString();
    QTest::newRow("negative") << QStringLiteral("-1") << lin << QString();
    QTest::newRow("fraction") << QStringLiteral("1.5") << lin << QString();
    QTest::newRow("inner space") << QStringLiteral("tty USB0") << lin << QString();
    QTest::newRow("chinese") << QStringLiteral("串口") << lin << QString();
    QTest::newRow("slash alone") << QStringLiteral("/") << lin << QString();
    QTest::newRow("unix path on windows") << QStringLiteral("/dev/ttyS0") << win << QString();
}

void tst_port_name::mapping()
{
    QFETCH(QString, text);
    QFETCH(bool, windows);
    QFETCH(QString, device);
    const auto result =
        system_port_name(text, windows ? port_platform::windows : port_platform::linux_like);
    QCOMPARE(result.device, device);
    QCOMPARE(result.ok(), !device.isEmpty());
    if (!result.ok())
        QVERIFY(result.message.contains(QStringLiteral("串口号")));
}

QTEST_APPLESS_MAIN(tst_port_name)
#include "tst_port_name.moc"
