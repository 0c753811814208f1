// Start-up: the application and its one window; the program ends when it is closed.
#include "main_form.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    lorvane::set_up_application();

    lorvane::main_form window;
    window.show();
    return QApplication::exec();
}
