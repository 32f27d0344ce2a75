#include "sc-hotkey-actions.h"

#include "sc-settings.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>

const QVector<SCHotkeyAction> &SCHotkeyActions::all()
{
    static const QVector<SCHotkeyAction> actions = {
            {QStringLiteral("toggle-recording"),
             SCSettings::HOTKEYS_RECORDING,
             {QStringLiteral("--toggle-recording")},
             QT_TRANSLATE_NOOP("SCHotkeyActions", "Start/Stop Recording")},
            {QStringLiteral("toggle-pause"),
             SCSettings::HOTKEYS_PAUSE,
             {QStringLiteral("--toggle-pause")},
             QT_TRANSLATE_NOOP("SCHotkeyActions", "Pause/Resume Recording")},
            {QStringLiteral("screenshot-region"),
             SCSettings::HOTKEYS_SCREENSHOT,
             {QStringLiteral("--screenshot"), QStringLiteral("region")},
             QT_TRANSLATE_NOOP("SCHotkeyActions", "Capture Screenshot")},
            {QStringLiteral("screenshot-full"),
             SCSettings::HOTKEYS_FULL_SCREENSHOT,
             {QStringLiteral("--screenshot"), QStringLiteral("full")},
             QT_TRANSLATE_NOOP("SCHotkeyActions", "Full-Screen Screenshot")},
    };
    return actions;
}

const SCHotkeyAction *SCHotkeyActions::find(const QString &id)
{
    for (const SCHotkeyAction &action : all()) {
        if (action.id == id)
            return &action;
    }
    return nullptr;
}

QString SCHotkeyActions::label(const SCHotkeyAction &action)
{
    return QCoreApplication::translate("SCHotkeyActions", action.name);
}

QString SCHotkeyActions::program()
{
    const QString self = QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath();
    const QString onPath = QStandardPaths::findExecutable(QStringLiteral("vistrel"));
    if (!onPath.isEmpty() && QFileInfo(onPath).canonicalFilePath() == self)
        return QStringLiteral("vistrel");
    return self.isEmpty() ? QStringLiteral("vistrel") : self;
}

QString SCHotkeyActions::shellQuoted(const QString &word)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_./=,:+-]+$"));
    if (plain.match(word).hasMatch())
        return word;
    QString quoted = word;
    quoted.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

QString SCHotkeyActions::command(const SCHotkeyAction &action, const QString &executable)
{
    QStringList words {shellQuoted(executable)};
    for (const QString &argument : action.arguments)
        words << shellQuoted(argument);
    return words.join(QLatin1Char(' '));
}
