#pragma once

#include <QCommandLineParser>
#include <QStringList>
#include <QVariantMap>

// The program's command line. Its texts are translated when a translator is installed before
// the parser is made.
class SCCommandLine
{
public:
    enum class Action {
        Start, // no command: start the program or bring the running one forward
        ToggleRecording,
        StartRecording,
        StopRecording,
        PauseRecording,
        TogglePause,
        ResumeRecording,
        Screenshot,
        Show,
        Quit,
        Version,
        Help,
    };

    SCCommandLine();

    // False when the arguments (the program's name first) cannot be understood; see errorText().
    bool parse(const QStringList &arguments);
    QString errorText() const { return m_error; }
    QString helpText() const { return m_parser.helpText(); }

    Action action() const { return m_action; }
    // Options of the control interface's StartRecording / TakeScreenshot calls.
    QVariantMap recordingOptions() const { return m_recordingOptions; }
    QString screenshotMode() const { return m_screenshotMode; }
    QVariantMap screenshotOptions() const { return m_screenshotOptions; }

    // Commands that only make sense for a running program: they never start one.
    bool needsRunningInstance() const;

private:
    bool fail(const QString &error);

    QCommandLineParser m_parser;
    Action m_action = Action::Start;
    QVariantMap m_recordingOptions;
    QString m_screenshotMode;
    QVariantMap m_screenshotOptions;
    QString m_error;
};
