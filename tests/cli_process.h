// lorvane-cli (path in LORVANE_CLI) as the tests run it: to its end, with the test's event
// loop running meanwhile so that a module inside the test can answer.
#pragma once

#include <QByteArray>
#include <QEventLoop>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <optional>

struct cli_result
{
    int code = -1;
    QByteArray out;
    QString err;
};

// Runs lorvane-cli to its end with the event loop running (so a module_peer answers),
// feeding `input` on stdin (none: stdin stays open); `prepare` may change the process
// before it starts, `meanwhile` is called once it has started.
inline cli_result run_cli(const QStringList& arguments,
                          std::optional<QByteArray> input = QByteArray(),
                          const std::function<void(QProcess&)>& meanwhile = {},
                          const std::function<void(QProcess&)>& prepare = {})
{
    QProcess process;
    process.setProgram(qEnvironmentVariable("LORVANE_CLI"));
    process.setArguments(arguments);
    if (prepare)
        prepare(process);
    process.start();
    if (input) {
        process.write(*input);
        process.closeWriteChannel();
    }
    if (meanwhile && process.waitForStarted(5000))
        meanwhile(process);
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(30000, &loop, [&] { process.kill(); });
    if (process.state() != QProcess::NotRunning)
        loop.exec();
    const int code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    if (!process.isReadable())  // both channels went to files
        return {code, {}, {}};
    return {code, process.readAllStandardOutput(),
            QString::fromUtf8(process.readAllStandardError())};
}

inline QString port_of(const QString& path)
{
    return QStringLiteral("--port=") + path;
}
