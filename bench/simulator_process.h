// lorvane-sim as a child process for the benchmark's sections: started with the given
// arguments, its terminal's path read from its first line, stopped with SIGTERM at the end.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <stdexcept>
#include <string>

namespace lorvane::bench {

// lorvane-sim on its own pseudo-terminal, stopped with SIGTERM at the end.
class simulator_process
{
public:
    simulator_process(const std::string& program, const QStringList& args)
    {
        process_.setProgram(QString::fromStdString(program));
        process_.setArguments(args);
        process_.setStandardErrorFile(QProcess::nullDevice());
        process_.start();
        if (!process_.waitForStarted(5000))
            throw std::runtime_error("cannot start " + program + ": " +
                                     process_.errorString().toStdString());
        while (!process_.canReadLine() && process_.waitForReadyRead(5000)) {
        }
        path_ = QString::fromUtf8(process_.readLine()).trimmed().toStdString();
        if (path_.empty() || path_[0] != '/')
            throw std::runtime_error(program + " did not print its terminal's path");
        // Nothing more comes on stdout; keep its notifier out of the event loop.
        process_.closeReadChannel(QProcess::StandardOutput);
    }
    ~simulator_process()
    {
        process_.terminate();
        if (!process_.waitForFinished(5000)) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }
    simulator_process(const simulator_process&) = delete;
    simulator_process& operator=(const simulator_process&) = delete;

    const std::string& path() const { return path_; }

private:
    QProcess process_;
    std::string path_;
};

}  // namespace lorvane::bench
