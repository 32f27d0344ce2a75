#pragma once

#include <QString>
#include <QTemporaryDir>

// A private home for one test program: settings, library and log live there, so that nothing
// of the person's own home is read or changed. The log is how the program reports, so the
// tests read it.
class TestHome
{
public:
    TestHome();

    QString path() const { return m_home.path(); }
    QString filePath(const QString &name) const { return m_home.filePath(name); }
    QString configDir() const { return filePath(QStringLiteral("config")); }
    QString dataDir() const { return filePath(QStringLiteral("data")); }

    // Starts the program's logger on a file in this home.
    bool openLog();
    QString log() const;
    int count(const QString &text) const { return log().count(text); }

private:
    QTemporaryDir m_home;
};
