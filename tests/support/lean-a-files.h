#pragma once

#include <QAbstractButton>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMessageBox>
#include <QtTest>

// Small file and dialog helpers shared by the library, main window and preferences tests.

inline QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Writes `content`, making the folders on the way; with `modified`, dates the file.
inline void writeFile(const QString &path, const QByteArray &content,
                      const QDateTime &modified = {})
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(content), content.size());
    file.flush();
    if (modified.isValid())
        QVERIFY(file.setFileTime(modified, QFileDevice::FileModificationTime));
}

// Every log file below `folder`, one after the other: a program run writes its own.
inline QString logsUnder(const QString &folder, const QString &pattern = QStringLiteral("*.log"))
{
    QString text;
    QDirIterator it(folder, {pattern}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        text += QString::fromUtf8(readAll(it.next()));
    return text;
}

inline QAbstractButton *buttonNamed(const QMessageBox *box, const QString &text)
{
    for (QAbstractButton *button : box->buttons()) {
        if (button->text() == text)
            return button;
    }
    return nullptr;
}
