// A real network serial server for the tests: ser2net (path in LORVANE_SER2NET) serving one
// serial device on two free loopback ports, one raw and one RFC 2217, and on any more
// accepters a test asks for (TLS ones), from a configuration file written here. Killed if a
// test leaves it running.
#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <vector>

#include <signal.h>

class ser2net_process
{
public:
    ser2net_process() = default;
    ser2net_process(const ser2net_process&) = delete;
    ser2net_process& operator=(const ser2net_process&) = delete;
    ~ser2net_process() { kill(); }

    // Serves `device` with ser2net's own line settings `line` (e.g. "19200n82,rtscts") until
    // a client changes them, on the raw and RFC 2217 ports and on each accepter of `extra`,
    // a gensio accepter with %1 for a free port of its own ("telnet(rfc2217),ssl(key=K,
    // cert=C),tcp,127.0.0.1,%1"; their ports in extra_ports), ssl(clientauth) ones looking
    // up client certificates in `authdir`; true once every port listens.
    bool start(const QString& device, const QString& line = QStringLiteral("9600n81"),
               const QStringList& extra = {}, const QString& authdir = {})
    {
        raw_port = free_port();
        telnet_port = free_port();
        extra_ports.clear();
        const QString config = dir_.filePath(QStringLiteral("ser2net.yaml"));
        QFile file(config);
        const QString connector = QStringLiteral("serialdev,%1,%2,local").arg(device, line);
        QString yaml = QStringLiteral("connection: &raw\n"
                                      "  accepter: tcp,127.0.0.1,%1\n"
                                      "  connector: %3\n"
                                      "connection: &rfc2217\n"
                                      "  accepter: telnet(rfc2217),tcp,127.0.0.1,%2\n"
                                      "  connector: %3\n")
                           .arg(QString::number(raw_port), QString::number(telnet_port), connector);
        for (const QString& accepter : extra) {
            do
                extra_ports.push_back(free_port());
            while (extra_ports.back() == raw_port || extra_ports.back() == telnet_port);
            yaml += QStringLiteral("connection: &extra%1\n  accepter: %2\n  connector: %3\n")
                        .arg(QString::number(extra_ports.size()), accepter.arg(extra_ports.back()),
                             connector);
            QStringList options = extra_options.value(qsizetype(extra_ports.size() - 1));
            if (!authdir.isEmpty())
                options << QStringLiteral("authdir: %1").arg(authdir);
            if (!options.isEmpty())
                yaml += QStringLiteral("  options:\n    ") +
                        options.join(QStringLiteral("\n    ")) + u'\n';
        }
        const QByteArray text = yaml.toUtf8();
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
            return false;
        file.close();
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(qEnvironmentVariable("LORVANE_SER2NET"),
                      {QStringLiteral("-n"), QStringLiteral("-u"), QStringLiteral("-c"), config,
                       QStringLiteral("-P"), dir_.filePath(QStringLiteral("ser2net.pid"))});
        if (!process.waitForStarted(5000))
            return false;
        return QTest::qWaitFor(
            [&] {
                return listening(raw_port) && listening(telnet_port) &&
                       std::all_of(extra_ports.begin(), extra_ports.end(), listening);
            },
            5000);
    }

    QString raw_url() const { return QStringLiteral("tcp://127.0.0.1:%1").arg(raw_port); }
    QString telnet_url() const { return QStringLiteral("rfc2217://127.0.0.1:%1").arg(telnet_port); }

    // The server dies at once, as a crash or a power cut would end it.
    void kill()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        ::kill(static_cast<pid_t>(process.processId()), SIGKILL);
        process.waitForFinished(5000);
    }

    // A loopback port nothing listens on just now.
    static quint16 free_port()
    {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        return probe.serverPort();
    }

    // The options of each accepter of `extra`, one "name: value" each ("mdns: true"), set
    // before start().
    QList<QStringList> extra_options;
    QProcess process;
    quint16 raw_port = 0;
    quint16 telnet_port = 0;
    std::vector<quint16> extra_ports;

private:
    // Whether a socket listens on 127.0.0.1:`port` or on every address, from the kernel's table.
    static bool listening(quint16 port)
    {
        QFile table(QStringLiteral("/proc/net/tcp"));
        if (!table.open(QIODevice::ReadOnly))
            return false;
        const QByteArray local =
            QStringLiteral("0100007F:%1").arg(port, 4, 16, QLatin1Char('0')).toUpper().toLatin1();
        const QByteArray any = "00000000" + local.mid(8);
        for (const QByteArray& line : table.readAll().split('\n')) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (fields.size() > 3 && (fields[1] == local || fields[1] == any) && fields[3] == "0A")
                return true;
        }
        return false;
    }

    QTemporaryDir dir_;
};
