#pragma once

#include "sc-logger.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>

// Settings and the log live in a private home; the log is what the camera window reports
// through, so the tests read it.
class CameraTestHome
{
public:
    CameraTestHome()
    {
        qputenv("HOME", m_home.path().toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", m_home.filePath(QStringLiteral("config")).toLocal8Bit());
        qputenv("XDG_DATA_HOME", m_home.filePath(QStringLiteral("data")).toLocal8Bit());
    }
    bool openLog() { return SCLogger::instance()->initialize(m_home.filePath("test.log")); }
    QString log() const
    {
        QFile file(m_home.filePath("test.log"));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
    int count(const QString &text) const { return log().count(text); }

private:
    QTemporaryDir m_home;
};

// Message boxes run their own loop; this closes them and keeps their texts.
class MessageBoxCatcher : public QObject
{
public:
    QStringList texts;
    explicit MessageBoxCatcher(QObject *parent)
        : QObject(parent)
    {
        m_timer.setInterval(50);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            for (QWidget *w : QApplication::topLevelWidgets()) {
                if (auto *box = qobject_cast<QMessageBox *>(w); box && box->isVisible()) {
                    texts << box->windowTitle() + QLatin1Char('/') + box->text();
                    box->done(QMessageBox::Ok);
                }
            }
        });
        m_timer.start();
    }

private:
    QTimer m_timer;
};
