#include "message_box.h"

#include <QMessageBox>

namespace lorvane::message_box {

namespace {
handler& installed()
{
    static handler h;
    return h;
}
}  // namespace

void show(QWidget* parent, const QString& text)
{
    if (installed()) {
        installed()(parent, text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, APPLICATION_TITLE, text, QMessageBox::Ok, parent);
    box.exec();
}

void set_handler(handler h)
{
    installed() = std::move(h);
}

}  // namespace lorvane::message_box
