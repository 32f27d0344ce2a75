#pragma once

#include <QDBusConnection>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariantMap>

class SCPortalRequest;

// A picture of the whole screen through the desktop portal (org.freedesktop.portal.Screenshot),
// without the desktop's own dialog. The desktop writes a PNG and names it; it is loaded here.
// Status and detail are for the program to phrase and log; nothing here is shown as it is.
class SCScreenshotPortal : public QObject
{
    Q_OBJECT

public:
    static inline const QString INTERFACE = QStringLiteral("org.freedesktop.portal.Screenshot");

    enum class Status {
        Idle, // nothing asked
        Pending, // waiting for the desktop
        Taken, // picture() holds it
        Cancelled, // the user said no
        Refused, // the desktop said no, failed, gave no readable picture, or did not answer
        Missing // no screenshot portal on this bus
    };
    Q_ENUM(Status)

    explicit SCScreenshotPortal(const QDBusConnection &bus = QDBusConnection::sessionBus(),
                                QObject *parent = nullptr);

    // Asks for a picture; ends in finished(). A request still pending is dropped first.
    void take();
    // take() and a local event loop until finished() or the timeout, which drops the request
    // and counts as Refused.
    Status takeAndWait(int timeoutMs);

    Status status() const { return m_status; }
    // What happened, for the log: the portal's code, the D-Bus error or the unreadable file.
    QString detail() const { return m_detail; }
    QImage picture() const { return m_picture; }
    // Where the desktop put the picture; the file stays the caller's to keep or remove.
    QString pictureFile() const { return m_pictureFile; }

Q_SIGNALS:
    void finished(SCScreenshotPortal::Status status);

private:
    void onAnswer(uint code, const QVariantMap &results);
    void onFailed(const QString &errorName, const QString &message);
    void dropPending();
    void finish(Status status, const QString &detail);

    QDBusConnection m_bus;
    Status m_status = Status::Idle;
    QString m_detail;
    QImage m_picture;
    QString m_pictureFile;
    QPointer<SCPortalRequest> m_pending;
};
