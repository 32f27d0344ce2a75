#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP into a Qt signal on the GUI thread, so that a session
// logout or a Ctrl+C ends the run through the normal exit path (log closed, shared block
// released) instead of killing the process mid-way. SIGUSR1 is a second start asking this
// instance to show itself.
class SCUnixSignalWatcher : public QObject
{
    Q_OBJECT

public:
    explicit SCUnixSignalWatcher(QObject *parent = nullptr);
    ~SCUnixSignalWatcher() override;

Q_SIGNALS:
    void terminationRequested(int signal);
    void activationRequested();

private:
    static void handler(int signal);
    void onReadable();

    QSocketNotifier *m_notifier = nullptr;
};
