#include "message_box.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

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

namespace {
question_handler& installed_question()
{
    static question_handler h;
    return h;
}
}  // namespace

bool ask(QWidget* parent, const QString& title, const QString& text, const QString& yes,
         const QString& no)
{
    if (installed_question())
        return installed_question()(parent, title, text);
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::NoButton, parent);
    box.setTextFormat(Qt::PlainText);  // the text carries what a server chose to call itself
    QPushButton* accept = box.addButton(yes, QMessageBox::AcceptRole);
    QPushButton* refuse = box.addButton(no, QMessageBox::RejectRole);
    box.setDefaultButton(accept);
    box.setEscapeButton(refuse);
    box.exec();
    return box.clickedButton() == accept;
}

void set_question_handler(question_handler h)
{
    installed_question() = std::move(h);
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
