#pragma once

// Shared by the platform tests: windows of another process, xdotool input, screen grabs.

#include "desktop-input.h"

#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QRect>
#include <QScreen>
#include <QtTest>

#include <memory>

// Runs `platform-test-window` and reads what it reports, one line at a time.
class TestWindowProcess
{
public:
    ~TestWindowProcess()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }

    bool start(const QStringList &arguments)
    {
        if (!waitForWindowManager())
            return false;
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStringLiteral(PLATFORM_TEST_WINDOW), arguments);
        return m_process.waitForStarted(10000);
    }

    // The first unread line starting with `prefix`, waiting up to `timeoutMs`.
    QString waitForLine(const QString &prefix, int timeoutMs = 10000)
    {
        QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            readLines();
            for (int i = 0; i < m_lines.size(); ++i) {
                if (m_lines.at(i).startsWith(prefix))
                    return m_lines.takeAt(i);
            }
            if (deadline.hasExpired() || m_process.state() != QProcess::Running)
                return QString();
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            m_process.waitForReadyRead(20);
        }
    }

    // Unread lines starting with `prefix`, without waiting.
    int pending(const QString &prefix)
    {
        readLines();
        int n = 0;
        for (const QString &line : std::as_const(m_lines))
            n += line.startsWith(prefix) ? 1 : 0;
        return n;
    }

    // "ready fx fy fw fh cx cy cw ch id": waits for the window to be framed and placed.
    bool waitReady()
    {
        const QStringList parts
                = waitForLine(QStringLiteral("ready "), 35000).split(QLatin1Char(' '));
        if (parts.size() != 10)
            return false;
        auto rect = [&](int i) {
            return QRect(parts[i].toInt(), parts[i + 1].toInt(), parts[i + 2].toInt(),
                         parts[i + 3].toInt());
        };
        m_frame = rect(1);
        m_client = rect(5);
        m_id = parts[9].toULongLong();
        return true;
    }

    QRect frame() const { return m_frame; }
    QRect client() const { return m_client; }
    WId id() const { return m_id; }

private:
    void readLines()
    {
        while (m_process.canReadLine())
            m_lines.append(QString::fromUtf8(m_process.readLine()).trimmed());
    }

    QProcess m_process;
    QStringList m_lines;
    QRect m_frame;
    QRect m_client;
    WId m_id = 0;
};

inline QImage grabScreen()
{
    return QGuiApplication::primaryScreen()->grabWindow(0).toImage();
}
