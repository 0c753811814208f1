// A fresh main window with its message boxes answered by the test: each message is
// recorded, and an optional hook may look at the window while the "box" is up.
#pragma once

#include "main_form.h"
#include "message_box.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <QTest>

#include <functional>
#include <memory>

struct window_fixture
{
    std::unique_ptr<lorvane::main_form> form = std::make_unique<lorvane::main_form>();
    QStringList messages;
    std::function<void(const QString&)> on_message;

    window_fixture()
    {
        lorvane::message_box::set_handler([this](QWidget*, const QString& text) {
            messages << text;
            if (on_message)
                on_message(text);
        });
    }
    ~window_fixture() { lorvane::message_box::set_handler({}); }
    window_fixture(const window_fixture&) = delete;
    window_fixture& operator=(const window_fixture&) = delete;

    template <typename W> W* find(const QString& name) const
    {
        auto* w = form->findChild<W*>(name);
        if (!w)
            qFatal("no control named %s", qPrintable(name));
        return w;
    }
    QLineEdit* edit(const QString& name) const { return find<QLineEdit>(name); }
    QLineEdit* key_address(int row) const { return edit(QStringLiteral("Text2_%1").arg(row)); }
    QLineEdit* key_line(int row) const { return edit(QStringLiteral("Text3_%1").arg(row)); }
    QComboBox* key_operation(int row) const
    {
        return find<QComboBox>(QStringLiteral("Combo1_%1").arg(row));
    }
    QPushButton* button(const QString& name) const { return find<QPushButton>(name); }

    // Shows the window as the active one, for tests that type into it; false when it never
    // became active.
    bool show_active()
    {
        form->show();
        QApplication::setActiveWindow(form.get());
        return QTest::qWaitForWindowActive(form.get());
    }

    // Types `path` into the port box and clicks "打开"; true when the port opened.
    bool open_port(const QString& path)
    {
        edit(QStringLiteral("chuankou_num"))->setText(path);
        QTest::mouseClick(button(QStringLiteral("open_comm")), Qt::LeftButton);
        return form->link().is_open();
    }
    void click(const QString& name) { QTest::mouseClick(button(name), Qt::LeftButton); }

    // Every value the user can edit, in a fixed order, to compare whole windows.
    QStringList snapshot() const
    {
        QStringList values{
            edit(QStringLiteral("add"))->text(), edit(QStringLiteral("Text5"))->text(),
            button(QStringLiteral("Command1"))->text(), button(QStringLiteral("Command2"))->text()};
        for (int row = 0; row < lorvane::KEY_COUNT; ++row)
            values << key_address(row)->text() << key_line(row)->text()
                   << key_operation(row)->currentText();
        return values;
    }
};
