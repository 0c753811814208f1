#include "message_box.h"
#include "language.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

namespace lorvane {

namespace {

// A modal box with two buttons: `yes` the default (Return), `no` the escape button (Esc, or
// closing the box). True when the user chose `yes`.
bool two_button_box(QWidget* parent, const QString& title, const QString& text, const QString& yes,
                    const QString& no, Qt::TextFormat format)
{
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::NoButton, parent);
    box.setTextFormat(format);
    QPushButton* accept = box.addButton(yes, QMessageBox::AcceptRole);
    QPushButton* refuse = box.addButton(no, QMessageBox::RejectRole);
    box.setDefaultButton(accept);
    box.setEscapeButton(refuse);
    box.exec();
    return box.clickedButton() == accept;
}

}  // namespace

namespace message_box {

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

void set_question_handler(question_handler h)
{
    installed_question() = std::move(h);
}

bool ask(QWidget* parent, const QString& title, const QString& text, const QString& yes,
         const QString& no)
{
    if (installed_question())
        return installed_question()(parent, text);
    // Plain text: it carries what a server chose to call itself.
    return two_button_box(parent, title, text, yes, no, Qt::PlainText);
}

QWidget* ask_later(QWidget* parent, const QString& title, const QString& text, const QString& yes,
                   const QString& no, std::function<void(bool yes)> answered)
{
    auto* box = new QMessageBox(QMessageBox::NoIcon, title, text, QMessageBox::NoButton, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setTextFormat(Qt::PlainText);  // it carries what a server chose to call itself
    QPushButton* accept = box->addButton(yes, QMessageBox::AcceptRole);
    QPushButton* refuse = box->addButton(no, QMessageBox::RejectRole);
    box->setDefaultButton(accept);
    box->setEscapeButton(refuse);
    // A button, Esc or closing the box answers, once.
    QObject::connect(box, &QDialog::finished, box, [box, accept, answered = std::move(answered)] {
        const bool chosen = box->clickedButton() == accept;
        const std::function<void(bool)> call = answered;  // outlives the connection it ends
        box->disconnect();
        call(chosen);
    });
    box->open();
    return box;
}

void withdraw(QWidget* box)
{
    if (!box)
        return;
    box->disconnect();
    box->close();
}

}  // namespace message_box

namespace confirm_box {

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
    return two_button_box(parent, APPLICATION_TITLE, text, confirm, message_box_tr::tr("取消"),
                          Qt::AutoText);
}

void set_handler(handler h)
{
    installed() = std::move(h);
}

}  // namespace confirm_box
}  // namespace lorvane

namespace lorvane::file_dialog {

namespace {
handler& installed()
{
    static handler h;
    return h;
}

// Read when shown, so that it follows the window's language.
QString FILTER()
{
    return message_box_tr::tr("配置文件 (*.json);;所有文件 (*)");
}

QString ask(QWidget* parent, purpose what, const QString& title)
{
    if (installed())
        return installed()(parent, what, title);
    return what == purpose::open ? QFileDialog::getOpenFileName(parent, title, {}, FILTER())
                                 : QFileDialog::getSaveFileName(parent, title, {}, FILTER());
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
