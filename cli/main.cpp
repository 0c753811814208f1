// lorvane-cli: the command-line companion of the window; needs no display.
#include "cli.h"

#include <QCoreApplication>

#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#endif

int main(int argc, char* argv[])
{
#ifdef Q_OS_WIN
    // Files pass through stdin and stdout byte for byte, without CR-LF translation.
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("lorvane-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(LORVANE_VERSION));
    return lorvane::cli::run(QCoreApplication::arguments());
}
