// The main window's two faces: every text put again in the window's language, and the
// menu's choice of the other one.
#include "language.h"
#include "main_form.h"
#include "port_list.h"
#include "window_texts.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace lorvane {

void main_form::retranslate()
{
    Label6->setText(main_form_tr::tr("串口号："));
    chuankou_num->setAccessibleName(main_form_tr::tr("串口号"));
    Label1->setText(main_form_tr::tr("模块自身地址："));
    add->setAccessibleName(main_form_tr::tr("模块自身地址"));
    Label3->setText(main_form_tr::tr("地址"));
    Label4->setText(main_form_tr::tr("线路"));
    Label5->setText(main_form_tr::tr("操作"));
    for (int i = 0; i < KEY_COUNT; ++i) {
        const auto n = static_cast<std::size_t>(i);
        const QString key = main_form_tr::tr("按键%1").arg(i + 1);
        Label2[n]->setText(key + main_form_tr::tr("："));
        Text2[n]->setAccessibleName(key + main_form_tr::tr(" 地址"));
        Text3[n]->setAccessibleName(key + main_form_tr::tr(" 线路"));
        Combo1[n]->setAccessibleName(key + main_form_tr::tr(" 操作"));
    }
    Label7->setText(main_form_tr::tr("刷新周期："));
    Text5->setAccessibleName(main_form_tr::tr("刷新周期"));
    open_comm->setText(translated("main_form", link_.is_open() ? CLOSE_CAPTION : OPEN_CAPTION));
    // A transfer under way keeps its count.
    Command1->setText(write_progress_ < 0 ? translated("window_texts", WRITE_CAPTION)
                                          : translated("window_texts", WRITE_PROGRESS) +
                                                QString::number(write_progress_));
    Command2->setText(read_progress_ < 0 ? translated("window_texts", READ_CAPTION)
                                         : translated("window_texts", READ_PROGRESS) +
                                               QString::number(read_progress_));
    if (!chuankou_num->toolTip().isEmpty())  // none until the box is first entered
        ports_->refresh();
    show_operation_texts();
    for (QAction* action : actions_) {
        const QByteArray source = action->property(SOURCE_TEXT).toByteArray();
        if (!source.isEmpty())
            action->setText(QCoreApplication::translate(
                action->property(SOURCE_CONTEXT).toByteArray().constData(), source.constData()));
    }
    // The entry names the other language, in that language.
    if (language_action_)
        language_action_->setText(current_language() == language::chinese
                                      ? QStringLiteral("English")
                                      : QStringLiteral("中文"));
}

// The three operation texts in the window's language in every row's list; a row showing one
// of them shows it in the new language, any other text stays as typed.
void main_form::show_operation_texts()
{
    std::array<QString, 3> now;
    for (std::size_t i = 0; i < now.size(); ++i)
        now[i] = operation_in_window(operation_texts()[i]);
    for (QComboBox* combo : Combo1) {
        QString text = combo->currentText();
        for (std::size_t i = 0; i < now.size(); ++i) {
            if (text == shown_operations_[i])
                text = now[i];
        }
        for (int i = 0; i < combo->count() && i < int(now.size()); ++i)
            combo->setItemText(i, now[std::size_t(i)]);
        combo->setEditText(text);  // a new text of the current entry would replace what was typed
    }
    shown_operations_ = now;
}

void main_form::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange)
        retranslate();
    QWidget::changeEvent(event);
}

void main_form::choose_language()
{
    const language other =
        current_language() == language::chinese ? language::english : language::chinese;
    set_language(other);
    if (const auto failure = remember_language(other))
        show_message(main_form_tr::tr("无法记住所选的语言（%1）：%2")
                         .arg(QDir::toNativeSeparators(settings_file()),
                              file_failure_text(*failure, true, main_form_tr::tr("设置文件"))));
}

}  // namespace lorvane
