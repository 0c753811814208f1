// Start-up: the application and its one window; the program ends when it is closed.
#include "main_form.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    // No display name: on X11 Qt would append it to the window caption.
    QApplication::setApplicationName(QStringLiteral("lorvane"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/lorvane/lorvane.png")));

    lorvane::main_form window;
    window.show();
    return QApplication::exec();
}
