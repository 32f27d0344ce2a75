#pragma once

#include <QDBusContext>
#include <QDBusMessage>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QVariantMap>

class SCMainWindow;
struct SCRecordingRequest;

// The running program's control interface on the session bus. Calls that take time (a start
// after its countdown, a stop until the file is whole, a screenshot the person selects) are
// answered when they are done; every call goes through the main window's own request paths.
// The same methods serve commands given to a program that was started with them.
class SCControlService : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.ombrant.Vistrel1")
    Q_PROPERTY(QString State READ state)

public:
    static inline const QString SERVICE = QStringLiteral("org.ombrant.Vistrel");
    static inline const QString PATH = QStringLiteral("/org/ombrant/Vistrel");
    static inline const QString INTERFACE = QStringLiteral("org.ombrant.Vistrel1");

    explicit SCControlService(SCMainWindow *window, QObject *parent = nullptr);

    // Puts the object and the name on the session bus; false (and a log line) when either
    // cannot be had.
    bool registerOnBus();
    QString state() const;

public Q_SLOTS:
    QString StartRecording(const QVariantMap &options);
    QString StopRecording();
    void ToggleRecording();
    void PauseRecording();
    void ResumeRecording();
    void TogglePause();
    QString TakeScreenshot(const QString &mode, const QVariantMap &options);
    void Show();
    void Quit();

Q_SIGNALS:
    void RecordingStarted(const QString &path);
    void RecordingFinished(const QString &path);
    void RecordingFailed(const QString &reason);
    void ScreenshotSaved(const QString &path);

private:
    // A caller waiting for an outcome; local calls have no message and are only logged.
    struct Pending
    {
        QDBusMessage message;
        bool fromBus = false;
        bool returnsPath = true;
    };

    Pending takeCall(bool returnsPath = true);
    void answer(QList<Pending> &waiting, const QString &path);
    void refuse(QList<Pending> &waiting, const QString &errorName, const QString &message);
    void refuseCall(const QString &errorName, const QString &message);
    // Runs what needs the engine once it is up: a command can arrive before it is.
    void whenEngineReady(const std::function<void()> &call);
    void startRecording(const SCRecordingRequest &request, Pending call);
    void stopRecording(Pending call);
    void setPaused(bool pause);
    void announceState(const QString &state);

    QPointer<SCMainWindow> m_window;
    QList<Pending> m_waitingForStart;
    QList<Pending> m_waitingForStop;
    QList<Pending> m_waitingForScreenshot;
};
