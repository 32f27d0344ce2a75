#include "sc-command-line.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("SCCommandLine", text);
}

struct Command
{
    const char *name;
    SCCommandLine::Action action;
};

const Command COMMANDS[] = {
        {"toggle-recording", SCCommandLine::Action::ToggleRecording},
        {"start-recording", SCCommandLine::Action::StartRecording},
        {"stop-recording", SCCommandLine::Action::StopRecording},
        {"pause-recording", SCCommandLine::Action::PauseRecording},
        {"toggle-pause", SCCommandLine::Action::TogglePause},
        {"resume-recording", SCCommandLine::Action::ResumeRecording},
        {"screenshot", SCCommandLine::Action::Screenshot},
        {"show", SCCommandLine::Action::Show},
        {"quit", SCCommandLine::Action::Quit},
        {"version", SCCommandLine::Action::Version},
};

} // namespace

SCCommandLine::SCCommandLine()
{
    m_parser.setApplicationDescription(tr("Records the screen, a region or a window with sound, "
                                          "and takes screenshots. With a command, the running "
                                          "Vistrel carries it out (it is started if needed)."));
    m_parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    m_parser.addHelpOption();
    m_parser.addOptions({
            {"toggle-recording", tr("Start a recording, or stop the one that runs.")},
            {"start-recording", tr("Start a recording; prints the file it goes to.")},
            {"area", tr("What to record: full, region, window or last-region."), tr("area")},
            {"region", tr("The region to record, in logical pixels."), tr("X,Y,WxH")},
            {"format", tr("The file format: MP4, AVI, FLV, GIF, MP3, AAC, FLAC, MKV or WebM."),
             tr("format")},
            {"no-countdown", tr("Start at once, without the countdown.")},
            {"stop-recording", tr("Stop the recording; prints the finished file.")},
            {"pause-recording", tr("Pause the recording.")},
            {"resume-recording", tr("Resume a paused recording.")},
            {"toggle-pause", tr("Pause the recording, or resume it when it is paused.")},
            {"screenshot",
             tr("Take a screenshot of the full screen, a region, a window or the last region "
                "(full, region, window, last-region); prints the saved file."),
             tr("mode")},
            {"clipboard", tr("Put the screenshot on the clipboard.")},
            {"output", tr("Save the screenshot as this file."), tr("file")},
            {"delay", tr("Wait this many seconds before the screenshot."), tr("seconds")},
            {"show", tr("Show the Vistrel window.")},
            {"quit", tr("Quit Vistrel; a running recording is finished first.")},
            {{"v", "version"}, tr("Print the version.")},
    });
}

bool SCCommandLine::fail(const QString &error)
{
    m_error = error;
    return false;
}

bool SCCommandLine::parse(const QStringList &arguments)
{
    m_action = Action::Start;
    m_recordingOptions.clear();
    m_screenshotOptions.clear();
    m_screenshotMode.clear();
    m_error.clear();
    if (!m_parser.parse(arguments))
        return fail(m_parser.errorText());
    if (!m_parser.positionalArguments().isEmpty())
        return fail(tr("Unexpected argument: %1").arg(m_parser.positionalArguments().first()));
    if (m_parser.isSet(QStringLiteral("help"))) {
        m_action = Action::Help;
        return true;
    }

    QStringList given;
    for (const Command &command : COMMANDS) {
        if (m_parser.isSet(QLatin1String(command.name))) {
            given << QLatin1String("--") + QLatin1String(command.name);
            m_action = command.action;
        }
    }
    if (given.size() > 1)
        return fail(tr("Only one command at a time: %1").arg(given.join(QLatin1String(", "))));

    const auto onlyWith = [this](const QStringList &options, Action action, const char *command) {
        for (const QString &option : options) {
            if (m_parser.isSet(option) && m_action != action)
                return fail(tr("--%1 goes with --%2").arg(option, QLatin1String(command)));
        }
        return true;
    };
    if (!onlyWith({"area", "region", "format", "no-countdown"}, Action::StartRecording,
                  "start-recording")
        || !onlyWith({"clipboard", "output", "delay"}, Action::Screenshot, "screenshot"))
        return false;

    if (m_action == Action::StartRecording) {
        for (const char *name : {"area", "region", "format"}) {
            if (m_parser.isSet(QLatin1String(name)))
                m_recordingOptions.insert(QLatin1String(name), m_parser.value(QLatin1String(name)));
        }
        if (m_parser.isSet(QStringLiteral("no-countdown")))
            m_recordingOptions.insert(QStringLiteral("countdown"), false);
    } else if (m_action == Action::Screenshot) {
        m_screenshotMode = m_parser.value(QStringLiteral("screenshot"));
        if (m_parser.isSet(QStringLiteral("clipboard")))
            m_screenshotOptions.insert(QStringLiteral("clipboard"), true);
        // Checked where the bus's callers are checked too.
        if (m_parser.isSet(QStringLiteral("delay")))
            m_screenshotOptions.insert(QStringLiteral("delay"),
                                       m_parser.value(QStringLiteral("delay")));
        // The running program has another working folder: the path goes as an absolute one.
        if (m_parser.isSet(QStringLiteral("output"))) {
            const QString output = m_parser.value(QStringLiteral("output"));
            if (output.isEmpty())
                return fail(tr("--output needs a file name"));
            m_screenshotOptions.insert(QStringLiteral("path"),
                                       QFileInfo(output).absoluteFilePath());
        }
    }
    return true;
}

bool SCCommandLine::needsRunningInstance() const
{
    switch (m_action) {
    case Action::StopRecording:
    case Action::PauseRecording:
    case Action::ResumeRecording:
    case Action::TogglePause:
    case Action::Quit:
        return true;
    default:
        return false;
    }
}
