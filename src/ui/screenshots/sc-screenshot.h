#pragma once

#include <QObject>
#include <QPixmap>
#include <QRect>
#include <QSettings>
#include <QString>

#include <functional>

class QScreen;

// Grabs pixels of the primary screen and writes screenshot files named, placed and encoded
// as the settings say.
class SCScreenshot : public QObject
{
    Q_OBJECT

public:
    explicit SCScreenshot(QObject *parent = nullptr);

    QPixmap captureFullScreen();
    QPixmap captureArea(const QRect &area);
    QPixmap captureWindow(WId windowId);
    // Grabs `area` (global logical coordinates) once the screen has stopped changing, so
    // that windows hidden just before are gone from the picture. `done` gets the picture,
    // or a null one after `error`; it is not called once `context` is gone.
    void captureAreaWhenSettled(const QRect &area, QObject *context,
                                std::function<void(const QPixmap &)> done);

    // The whole desktop from a Wayland desktop's screenshot portal, in its own pixels; null
    // with the reason in grabError() when the desktop gave none.
    QImage desktopPicture();
    QString grabError() const { return m_grabError; }
    // desktopPicture() once windows hidden just before are gone from the screen; `done` is
    // not called once `context` is gone.
    void takeDesktopPictureWhenSettled(QObject *context, std::function<void(const QImage &)> done);
    // The next grab on a Wayland desktop cuts from `picture` instead of asking the desktop
    // again: what the person chose on is what is taken.
    void holdStill(const QImage &picture) { m_still = picture; }
    void dropStill() { m_still = QImage(); }

    // An empty path saves under a generated name in the save folder, never over a file.
    bool saveScreenshot(const QPixmap &pixmap, const QString &filePath);
    QString generateFileName() const;
    // Puts the picture on the clipboard, also as "image/png" for other programs.
    static void copyToClipboard(const QPixmap &pixmap);

    QString getLastSavedPath() const;
    QString getSaveDirectory() const;
    void setSaveDirectory(const QString &directory);

signals:
    void screenshotCaptured(const QPixmap &screenshot);
    void screenshotSaved(const QString &path);
    void error(const QString &errorMessage);

private:
    // `local`: logical pixels of `screen`; a null picture with the reason in m_grabError.
    QPixmap grabScreen(QScreen *screen, const QRect &local);
    QString ensureDirectoryExists(const QString &path) const;
    QString formatSetting() const;
    bool writeNewFile(const QPixmap &pixmap, const QString &directory, const QString &fileName,
                      QString *writtenPath);
    bool writeFile(const QPixmap &pixmap, const QString &path);

    QString m_saveDirectory;
    QString m_lastSavedPath;
    QString m_grabError;
    QImage m_still;
    QSettings m_settings;
};
