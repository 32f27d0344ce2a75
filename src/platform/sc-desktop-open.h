#pragma once

#include <QCoreApplication>
#include <QString>

class QUrl;
class QWidget;

// Web pages, files and folders handed to the desktop's own programs. When the desktop takes
// none of them (no browser, no file manager, no xdg-open), the person is told in a short
// message over `parent`'s window and the reason goes to the log: a click never does nothing.
class SCDesktopOpen
{
    Q_DECLARE_TR_FUNCTIONS(SCDesktopOpen)

public:
    // Object name of the message, so that it can be found.
    static inline const QString MESSAGE_NAME = QStringLiteral("desktopOpenMessage");

    // Returns whether the desktop took the page.
    static bool openUrl(const QUrl &url, QWidget *parent);
    // A missing file is reported instead of being handed on.
    static bool openFile(const QString &path, QWidget *parent);
    // A missing folder is created first, as the program does before saving into it.
    static bool openFolder(const QString &path, QWidget *parent);

    // A short styled message over `parent`'s window, shown once the event loop runs; it
    // replaces an earlier one that is still open, so that repeated clicks do not stack boxes.
    static void tell(const QString &title, const QString &text, QWidget *parent);

private:
    static bool handOver(const QUrl &url, const QString &what, const QString &failure,
                         QWidget *parent);
};
