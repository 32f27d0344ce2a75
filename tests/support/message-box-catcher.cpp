#include "message-box-catcher.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>

MessageBoxCatcher::MessageBoxCatcher(QObject *parent)
    : QObject(parent)
{
    m_timer.setInterval(50);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            auto *box = qobject_cast<QMessageBox *>(widget);
            if (!box || !box->isVisible())
                continue;
            titles << box->windowTitle();
            texts << box->text();
            QAbstractButton *chosen = nullptr;
            for (QAbstractButton *button : box->buttons()) {
                if (!answer.isEmpty() && button->text() == answer)
                    chosen = button;
            }
            if (chosen)
                chosen->click();
            else
                box->done(QMessageBox::Ok);
        }
    });
    m_timer.start();
}

QMessageBox *MessageBoxCatcher::visibleBox(const QString &objectName)
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        auto *box = qobject_cast<QMessageBox *>(widget);
        if (box && box->isVisible() && (objectName.isEmpty() || box->objectName() == objectName))
            return box;
    }
    return nullptr;
}
