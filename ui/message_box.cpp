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

namespace lorvane::confirm_box {

namespace {
handler& installed()
{
    static handler h;
    return h;
}
}  // namespace

bool ask(QWidget* parent, const QString& text, const QString& confirm)
{
    if (installed())
        return installed()(parent, text);
    QMessageBox box(QMessageBox::NoIcon, APPLICATION_TITLE, text, QMessageBox::NoButton, parent);
    QPushButton* yes = box.addButton(confirm, QMessageBox::AcceptRole);
    QPushButton* no = box.addButton(QStringLiteral("取消"), QMessageBox::RejectRole);
    box.setDefaultButton(yes);
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() == yes;
}

void set_handler(handler h)
{
    installed() = std::move(h);
}

}  // namespace lorvane::confirm_box

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

QString open_name(QWidget* parent, const QString& title, const QString& filter,
                  const QString& start)
{
    if (installed())
        return installed()(parent, purpose::open, title);
    return QFileDialog::getOpenFileName(parent, title, start, filter);
}

QString save_name(QWidget* parent, const QString& title, const QString& filter,
                  const QString& start, const QString& suffix)
{
    if (installed())
        return installed()(parent, purpose::save, title);
    QFileDialog dialog(parent, title, start, filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(suffix);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

void set_handler(handler h)
{
    installed() = std::move(h);
}

}  // namespace lorvane::file_dialog
