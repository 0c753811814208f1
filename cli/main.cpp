// lorvane-cli: the command-line companion of the window; needs no display.
#include "cli.h"
#include "file_access.h"

#include <QCoreApplication>

#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

int main(int argc, char* argv[])
{
#ifdef Q_OS_WIN
    // Files pass through stdin and stdout byte for byte, without CR-LF translation.
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
#else
    // A standard descriptor the caller closed (`>&-`) would be handed to the next file this
    // program opens, the serial port among them, and results would go there. Each is filled
    // with /dev/null opened the other way round, so that using it fails and is reported.
    for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (::fcntl(fd, F_GETFD) == -1)
            ::open("/dev/null", fd == STDIN_FILENO ? O_WRONLY : O_RDONLY);
    }
    // Arguments as the system gives them: a file name need not be UTF-8.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << lorvane::name_from_system(QByteArray(argv[i]));
#endif
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("lorvane-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(LORVANE_VERSION));
#ifdef Q_OS_WIN
    const QStringList arguments = QCoreApplication::arguments();
#endif
    return lorvane::cli::run(arguments);
}
