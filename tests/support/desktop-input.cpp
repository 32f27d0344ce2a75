#include "desktop-input.h"

#include <QCursor>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QTest>

bool xdotool(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    if (!process.waitForFinished(10000))
        return false;
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

QString xdotoolOutput(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    if (!process.waitForFinished(10000) || process.exitCode() != 0)
        return QString();
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

bool movePointer(int x, int y)
{
    if (!xdotool({"mousemove", QString::number(x), QString::number(y)}))
        return false;
    return QTest::qWaitFor([&] { return QCursor::pos() == QPoint(x, y); }, 5000);
}

bool dragPointer(const QPoint &from, const QPoint &to, int steps)
{
    QStringList args {"mousemove", QString::number(from.x()), QString::number(from.y()),
                      "mousedown", "1"};
    for (int i = 1; i <= steps; ++i) {
        const QPoint p = from + (to - from) * i / steps;
        args << "sleep"
             << "0.03"
             << "mousemove" << QString::number(p.x()) << QString::number(p.y());
    }
    args << "sleep"
         << "0.05"
         << "mouseup"
         << "1";
    return xdotool(args);
}

bool clickAt(const QPoint &point)
{
    return xdotool(
            {"mousemove", QString::number(point.x()), QString::number(point.y()), "click", "1"});
}

QColor screenPixel(const QPoint &point)
{
    QScreen *screen = QGuiApplication::primaryScreen();
    return screen->grabWindow(0, point.x(), point.y(), 1, 1).toImage().pixelColor(0, 0);
}

bool waitForWindowManager(int timeoutMs)
{
    // It announces itself with _NET_SUPPORTING_WM_CHECK once it redirects map requests.
    const bool running = QTest::qWaitFor(
            [] {
                QProcess xprop;
                xprop.start(QStringLiteral("xprop"),
                            {QStringLiteral("-root"), QStringLiteral("_NET_SUPPORTING_WM_CHECK")});
                xprop.waitForFinished(5000);
                return xprop.readAllStandardOutput().contains("window id #");
            },
            timeoutMs);
    if (!running) {
        QFile log(qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/openbox.log"));
        if (log.open(QIODevice::ReadOnly))
            qWarning("no window manager; its log: %s", log.readAll().constData());
        else
            qWarning("no window manager");
    }
    return running;
}
