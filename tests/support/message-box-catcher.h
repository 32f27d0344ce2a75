#pragma once

#include <QObject>
#include <QStringList>
#include <QTimer>

class QMessageBox;

// Message boxes run their own loop; this closes them and keeps their titles and texts. A box
// with buttons of its own is answered with the button named `answer`, if set.
class MessageBoxCatcher : public QObject
{
public:
    explicit MessageBoxCatcher(QObject *parent = nullptr);

    QStringList titles;
    QStringList texts;
    QString answer;

    // The visible message box with this object name (any, when empty), or none.
    static QMessageBox *visibleBox(const QString &objectName = QString());

private:
    QTimer m_timer;
};
