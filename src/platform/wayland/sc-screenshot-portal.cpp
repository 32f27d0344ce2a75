#include "sc-screenshot-portal.h"

#include "sc-portal-request.h"

#include <QEventLoop>
#include <QTimer>
#include <QUrl>

SCScreenshotPortal::SCScreenshotPortal(const QDBusConnection &bus, QObject *parent)
    : QObject(parent)
    , m_bus(bus)
{ }

void SCScreenshotPortal::take()
{
    dropPending();
    m_status = Status::Pending;
    m_detail.clear();
    m_picture = QImage();
    m_pictureFile.clear();
    auto *request = new SCPortalRequest(m_bus, this);
    m_pending = request;
    connect(request, &SCPortalRequest::answered, this, &SCScreenshotPortal::onAnswer);
    connect(request, &SCPortalRequest::failed, this, &SCScreenshotPortal::onFailed);
    // The picture is the program's own to show and edit: no dialog of the desktop's.
    const QVariantMap options {{QStringLiteral("interactive"), false},
                               {QStringLiteral("modal"), false}};
    request->call(INTERFACE, QStringLiteral("Screenshot"), {QString()}, options);
}

SCScreenshotPortal::Status SCScreenshotPortal::takeAndWait(int timeoutMs)
{
    QEventLoop loop;
    bool done = false;
    const QMetaObject::Connection connection
            = connect(this, &SCScreenshotPortal::finished, &loop, [&done, &loop] {
                  done = true;
                  loop.quit();
              });
    QTimer timer;
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    take();
    if (!done) {
        timer.start(timeoutMs);
        loop.exec();
    }
    disconnect(connection);
    if (!done) {
        dropPending();
        finish(Status::Refused,
               QStringLiteral("no answer from the desktop portal within %1 ms").arg(timeoutMs));
    }
    return m_status;
}

void SCScreenshotPortal::onAnswer(uint code, const QVariantMap &results)
{
    if (m_pending)
        m_pending->deleteLater();
    m_pending = nullptr;
    if (code != 0) {
        finish(code == 1 ? Status::Cancelled : Status::Refused,
               QStringLiteral("Screenshot.Screenshot answered %1 (%2)")
                       .arg(code)
                       .arg(code == 1 ? QStringLiteral("cancelled")
                                      : QStringLiteral("ended otherwise")));
        return;
    }
    const QString uri = results.value(QStringLiteral("uri")).toString();
    const QUrl url(uri);
    if (!url.isLocalFile()) {
        finish(Status::Refused,
               QStringLiteral("Screenshot.Screenshot gave no local file: \"%1\"").arg(uri));
        return;
    }
    const QString file = url.toLocalFile();
    QImage picture(file);
    if (picture.isNull()) {
        finish(Status::Refused,
               QStringLiteral("Screenshot.Screenshot gave a file that does not load as a picture: "
                              "%1")
                       .arg(file));
        return;
    }
    m_picture = picture;
    m_pictureFile = file;
    finish(Status::Taken,
           QStringLiteral("Screenshot.Screenshot: %1, %2x%3")
                   .arg(file)
                   .arg(picture.width())
                   .arg(picture.height()));
}

void SCScreenshotPortal::onFailed(const QString &errorName, const QString &message)
{
    if (m_pending)
        m_pending->deleteLater();
    m_pending = nullptr;
    finish(SCPortalRequest::meansMissing(errorName) ? Status::Missing : Status::Refused,
           QStringLiteral("Screenshot.Screenshot: %1: %2").arg(errorName, message));
}

void SCScreenshotPortal::dropPending()
{
    if (!m_pending)
        return;
    disconnect(m_pending, nullptr, this, nullptr);
    m_pending->close();
    m_pending->deleteLater();
    m_pending = nullptr;
}

void SCScreenshotPortal::finish(Status status, const QString &detail)
{
    m_status = status;
    m_detail = detail;
    Q_EMIT finished(status);
}
