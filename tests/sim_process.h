// One lorvane-sim program (path in LORVANE_SIM) on its own pseudo-terminal, for tests that
// talk to the real simulator; killed if a test leaves it running.
#pragma once

#include <QDeadlineTimer>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <signal.h>

class sim_process
{
public:
    sim_process() = default;
    sim_process(const sim_process&) = delete;
    sim_process& operator=(const sim_process&) = delete;
    ~sim_process()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }

    // Starts the program and reads the terminal path from its first stdout line. Its
    // stderr (the log) stays readable from `process`.
    bool start(const QStringList& arguments)
    {
        process.setProgram(qEnvironmentVariable("LORVANE_SIM"));
        process.setArguments(arguments);
        process.start();
        if (!process.waitForStarted(5000))
            return false;
        QDeadlineTimer deadline(10000);
        while (!process.canReadLine()) {
            if (deadline.hasExpired() ||
                !process.waitForReadyRead(static_cast<int>(deadline.remainingTime())))
                return false;
        }
        path = QString::fromLocal8Bit(process.readLine()).trimmed();
        return !path.isEmpty();
    }

    // Sends a signal and waits for the process to end.
    bool stop_with(int signal_number)
    {
        if (::kill(static_cast<pid_t>(process.processId()), signal_number) != 0)
            return false;
        return process.waitForFinished(5000);
    }

    QProcess process;
    QString path;
};
