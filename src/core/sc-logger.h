#pragma once

#include <QFile>
#include <QMutex>
#include <QObject>
#include <QTextStream>

// The program's single log sink: one timestamped line per message in a per-run file,
// echoed to the console. Any thread may log.
class SCLogger : public QObject
{
    Q_OBJECT

public:
    static SCLogger *instance();
    static QString defaultLogDirectory();

    bool initialize(const QString &path);

    void debug(const QString &message);
    void info(const QString &message);
    void warning(const QString &message);
    void error(const QString &message);
    void critical(const QString &message);

    void writeToLog(const QString &line);
    QString logFilePath() const;
    bool openLogDirectory();
    void logToConsole(const QString &message);

    ~SCLogger() override;

private:
    explicit SCLogger(QObject *parent);
    static QString timestamp();

    QFile m_logFile;
    QTextStream m_logStream;
    QString m_logFilePath;
    mutable QMutex m_mutex;
    bool m_initialized = false;

    static SCLogger *m_instance;
};
