// Start-up: the application and its one window; the program ends when it is closed.
// `lorvane FILE` starts with that configuration file opened; `lorvane SITE.json` with the
// main window and that site's window over it.
#include "main_form.h"
#include "site_window.h"

#include <QApplication>
#include <QStringList>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    lorvane::set_up_application();

    lorvane::main_form window;
    window.show();
    if (const QStringList arguments = QApplication::arguments(); arguments.size() > 1) {
        // Once the window is up, so that a box about a bad file has its owner on screen.
        const QString path = arguments[1];
        QMetaObject::invokeMethod(
            &window,
            [&window, path] {
                if (lorvane::is_site_file(path))
                    window.open_site(path);
                else
                    window.open_file(path);
            },
            Qt::QueuedConnection);
    }
    return QApplication::exec();
}
