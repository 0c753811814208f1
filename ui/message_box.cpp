#include "message_box.h"

#include <QFileDialog>
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

namespace lorvane::file_dialog {

namespace {
handler& installed()
{
    static handler h;
    return h;
}

const QString FILTER = QStringLiteral("配置文件 (*.json);;所有文件 (*)");

QString ask(QWidget* parent, purpose what, const QString& title)
{
    if (installed())
        return installed()(parent, what, title);
    return what == purpose::open ? QFileDialog::getOpenFileName(parent, title, {}, FILTER)
                                 : QFileDialog::getSaveFileName(parent, title, {}, FILTER);
}
}  // namespace

QString open_name(QWidget* parent, const QString& title)
{
    return ask(parent, purpose::open, title);
}

QString save_name(QWidget* parent, const QString& title)
{
    return ask(parent, purpose::save, title);
}

void set_handler(handler h)
{
    installed() = std::move(h);
}

}  // namespace lorvane::file_dialog
