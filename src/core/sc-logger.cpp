#include "sc-logger.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>

SCLogger *SCLogger::m_instance = nullptr;

namespace {
const QString SEPARATOR = QStringLiteral(" - ");
constexpr QIODevice::OpenMode LOG_MODE = QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text;

QString runLogFileName()
{
    return QStringLiteral("/screen-recorder_")
            + QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss"))
            + QStringLiteral(".log");
}
} // namespace

SCLogger::SCLogger(QObject *parent)
    : QObject(parent)
{ }

SCLogger::~SCLogger()
{
    QMutexLocker locker(&m_mutex);
    if (m_logFile.isOpen()) {
        m_logStream.flush();
        m_logFile.close();
    }
}

SCLogger *SCLogger::instance()
{
    // The first call happens on the main thread during start-up, before any other thread.
    if (!m_instance)
        m_instance = new SCLogger(QCoreApplication::instance());
    return m_instance;
}

QString SCLogger::defaultLogDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)
            + QStringLiteral("/logs");
}

QString SCLogger::timestamp()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}

bool SCLogger::initialize(const QString &path)
{
    QMutexLocker locker(&m_mutex);
    if (m_initialized)
        return true;

    if (path.isEmpty()) {
        const QString dir = defaultLogDirectory();
        QDir logDir(dir);
        if (!logDir.exists())
            logDir.mkpath(QStringLiteral("."));
        m_logFilePath = dir + runLogFileName();
    } else {
        m_logFilePath = path;
    }

    const QDir parent = QFileInfo(m_logFilePath).dir();
    if (!parent.exists())
        parent.mkpath(QStringLiteral("."));

    m_logFile.setFileName(m_logFilePath);
    if (!m_logFile.open(LOG_MODE)) {
        qCritical() << "Failed to open log file:" << m_logFilePath;
        m_logFilePath.clear();
        return false;
    }

    m_logStream.setDevice(&m_logFile);
    const QString now = timestamp();
    m_logStream << now << SEPARATOR << "=== Application Started ===" << '\n';
    m_logStream << now << SEPARATOR << "Log file initialized: " << m_logFilePath << '\n';
    m_logStream.flush();
    m_initialized = true;
    return true;
}

void SCLogger::writeToLog(const QString &line)
{
    QMutexLocker locker(&m_mutex);
    if (!m_initialized) {
        qWarning() << "Logger not initialized, cannot write:" << line;
        return;
    }
    if (!m_logFile.isOpen()) {
        if (!m_logFile.open(LOG_MODE)) {
            qCritical() << "Failed to open log file:" << m_logFilePath;
            return;
        }
        m_logStream.setDevice(&m_logFile);
    }
    // The timestamp is taken under the lock so that the file's times never go backwards.
    m_logStream << timestamp() << SEPARATOR << line << '\n';
    m_logStream.flush();
}

void SCLogger::debug(const QString &message)
{
    writeToLog(QStringLiteral("Debug: %1").arg(message));
    QMessageLogger().debug().noquote() << "[DEBUG]" << message;
}

void SCLogger::info(const QString &message)
{
    writeToLog(QStringLiteral("Info: %1").arg(message));
    QMessageLogger().info().noquote() << "[INFO]" << message;
}

void SCLogger::warning(const QString &message)
{
    writeToLog(QStringLiteral("Warning: %1").arg(message));
    QMessageLogger().warning().noquote() << "[WARNING]" << message;
}

void SCLogger::error(const QString &message)
{
    writeToLog(QStringLiteral("Error: %1").arg(message));
    QMessageLogger().critical().noquote() << "[ERROR]" << message;
}

void SCLogger::critical(const QString &message)
{
    writeToLog(QStringLiteral("Critical: %1").arg(message));
    QMessageLogger().critical().noquote() << "[CRITICAL]" << message;
}

QString SCLogger::logFilePath() const
{
    QMutexLocker locker(&m_mutex);
    return m_logFilePath;
}

bool SCLogger::openLogDirectory()
{
    const QString dir = defaultLogDirectory();
    QDir logDir(dir);
    if (!logDir.exists())
        logDir.mkpath(QStringLiteral("."));
    return QDesktopServices::openUrl(QUrl::fromLocalFile(dir));
}

void SCLogger::logToConsole(const QString &message)
{
    QMessageLogger().debug().noquote() << message;
}
