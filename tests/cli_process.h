// lorvane-cli (path in LORVANE_CLI) as the tests run it: to its end, with the test's event
// loop running meanwhile so that a module inside the test can answer; and the files and
// shells such runs need.
#pragma once

#include <QByteArray>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
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
    QObject::connect(&process, &QProcess::errorOccurred, &loop, [&](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart)
            loop.quit();
    });
    QTimer::singleShot(30000, &loop, [&] { process.kill(); });
    // Should the killed process never be reported finished, the test still goes on (and fails).
    QTimer::singleShot(35000, &loop, &QEventLoop::quit);
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

// A file of the test's own, written whole; its path.
inline QString write_file(const QTemporaryDir& dir, const QString& name, const QByteArray& text)
{
    QFile file(dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        qFatal("cannot write %s", qPrintable(file.fileName()));
    return file.fileName();
}

inline QByteArray read_file(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Runs the program through the shell instead, as `sh -c SCRIPT lorvane-cli ARGUMENTS...`:
// for what QProcess cannot set up (a closed descriptor, a name that is not UTF-8).
inline std::function<void(QProcess&)> through_shell(const char* script)
{
    return [script](QProcess& process) {
        process.setArguments(
            QStringList{QStringLiteral("-c"), QLatin1String(script), process.program()} +
            process.arguments());
        process.setProgram(QStringLiteral("/bin/sh"));
    };
}
