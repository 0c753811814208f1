// Start-up: the application and its one window; the program ends when it is closed.
// `lorvane FILE` starts with that configuration file opened; `lorvane SITE.json` with the
// main window and that site's window over it. `--language en|zh` (or LORVANE_LANGUAGE)
// chooses the window's language.
#include "file_access.h"
#include "language.h"
#include "main_form.h"
#include "message_box.h"
#include "site_window.h"

#include <QApplication>
#include <QStringList>

#include <cstdio>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);  // takes its own options (-style …) out of argv
    lorvane::set_up_application();
#ifdef Q_OS_WIN
    QStringList arguments = QApplication::arguments();  // from the wide command line
#else
    // Arguments as the system gives them: a file name need not be UTF-8.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << lorvane::name_from_system(QByteArray(argv[i]));
#endif
    const lorvane::start_language start = lorvane::language_at_start(arguments);
    if (!start.problem.isEmpty()) {
        // On the terminal, and in a box for a program started from a desktop, which has none.
        std::fprintf(stderr, "%s\n", start.problem.toLocal8Bit().constData());
        lorvane::message_box::show(nullptr, start.problem);
        return 1;  // a usage error, as lorvane-cli has it
    }
    lorvane::set_language(start.chosen);

    lorvane::main_form window;
    window.show();
    if (arguments.size() > 1) {
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
