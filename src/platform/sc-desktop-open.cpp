#include "sc-desktop-open.h"

#include "sc-logger.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QWindow>

namespace {

// Qt says why an open failed only on the console: what it says on the GUI thread during one
// hand-over is collected for the log, and still passed on.
QStringList *g_collected = nullptr;
QtMessageHandler g_previous = nullptr;

void collect(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (g_collected && QThread::currentThread() == QCoreApplication::instance()->thread())
        g_collected->append(message);
    if (g_previous)
        g_previous(type, context, message);
    else
        fprintf(stderr, "%s\n", qPrintable(message));
}

QString messageBoxStyle()
{
    QFile file(QStringLiteral(":/res/style/message-box.qss"));
    return file.open(QIODevice::ReadOnly | QIODevice::Text) ? QString::fromUtf8(file.readAll())
                                                            : QString();
}

} // namespace

bool SCDesktopOpen::openUrl(const QUrl &url, QWidget *parent)
{
    const QString shown = url.toDisplayString();
    return handOver(url, shown, tr("No web browser could be started to show %1.").arg(shown),
                    parent);
}

bool SCDesktopOpen::openFile(const QString &path, QWidget *parent)
{
    const QString shown = QDir::toNativeSeparators(path);
    if (!QFileInfo::exists(path)) {
        SCLogger::instance()->warning(
                QStringLiteral("Could not open %1: it does not exist").arg(path));
        tell(tr("Cannot Open"), tr("The file \"%1\" does not exist any more.").arg(shown), parent);
        return false;
    }
    return handOver(QUrl::fromLocalFile(path), path,
                    tr("No program could be started to open \"%1\".").arg(shown), parent);
}

bool SCDesktopOpen::openFolder(const QString &path, QWidget *parent)
{
    const QString shown = QDir::toNativeSeparators(path);
    if (!QDir().mkpath(path)) {
        SCLogger::instance()->warning(
                QStringLiteral("Could not open folder %1: it cannot be created").arg(path));
        tell(tr("Cannot Open"),
             tr("The folder \"%1\" does not exist and cannot be created.").arg(shown), parent);
        return false;
    }
    return handOver(QUrl::fromLocalFile(path), path,
                    tr("No file manager could be started to show the folder \"%1\".").arg(shown),
                    parent);
}

bool SCDesktopOpen::handOver(const QUrl &url, const QString &what, const QString &failure,
                             QWidget *parent)
{
    QStringList said;
    g_collected = &said;
    g_previous = qInstallMessageHandler(collect);
    const bool opened = QDesktopServices::openUrl(url);
    qInstallMessageHandler(g_previous);
    g_collected = nullptr;
    if (opened)
        return true;

    const bool noOpener = QStandardPaths::findExecutable(QStringLiteral("xdg-open")).isEmpty();
    QString reason = said.join(QStringLiteral("; "));
    if (reason.isEmpty())
        reason = QStringLiteral("the desktop did not take it");
    if (noOpener)
        reason += QStringLiteral(" (no xdg-open on the PATH)");
    SCLogger::instance()->warning(QStringLiteral("Could not open %1: %2").arg(what, reason));

    QString text = failure;
    if (noOpener)
        text += QStringLiteral("\n\n")
                + tr("The desktop's opener xdg-open (package xdg-utils) is not installed.");
    tell(tr("Cannot Open"), text, parent);
    return false;
}

void SCDesktopOpen::tell(const QString &title, const QString &text, QWidget *parent)
{
    static QPointer<QMessageBox> current;
    const QPointer<QWidget> over = parent ? parent->window() : nullptr;
    // Later, so that a click handler or a constructor is never held up by the message.
    QTimer::singleShot(0, QCoreApplication::instance(), [title, text, over] {
        if (current)
            current->close();
        auto *box = new QMessageBox(QMessageBox::Warning, title, text);
        box->setObjectName(MESSAGE_NAME);
        box->setAttribute(Qt::WA_DeleteOnClose);
        // A leftover message must not keep the program running once its window is closed.
        box->setAttribute(Qt::WA_QuitOnClose, false);
        box->setStyleSheet(messageBoxStyle());
        box->setTextInteractionFlags(Qt::TextSelectableByMouse);
        // Without a parent, so that the window's own style sheet does not reach into it. Over
        // the window once the window manager has placed it, else in the middle of the screen.
        box->show();
        if (over && over->isVisible() && over->windowHandle() && over->windowHandle()->isExposed())
            box->move(over->geometry().center() - box->rect().center());
        current = box;
    });
}
