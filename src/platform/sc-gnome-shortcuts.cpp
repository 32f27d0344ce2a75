#include "sc-gnome-shortcuts.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStandardPaths>

namespace {

constexpr int GSETTINGS_TIMEOUT_MS = 10000;

bool gsettings(const QStringList &arguments, QString *output, QString *error)
{
    const QString program = QStandardPaths::findExecutable(QStringLiteral("gsettings"));
    if (program.isEmpty()) {
        *error = QStringLiteral("gsettings is not installed");
        return false;
    }
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(GSETTINGS_TIMEOUT_MS)) {
        process.kill();
        process.waitForFinished();
        *error = QStringLiteral("gsettings did not answer");
        return false;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        *error = QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
        if (error->isEmpty())
            *error = QStringLiteral("gsettings ended with %1").arg(process.exitCode());
        return false;
    }
    if (output)
        *output = QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
    return true;
}

// A GVariant string literal: single quotes, with quotes and backslashes escaped.
QString quoted(const QString &text)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    escaped.replace(QLatin1Char('\''), QStringLiteral("\\'"));
    return QLatin1Char('\'') + escaped + QLatin1Char('\'');
}

} // namespace

bool SCGnomeShortcuts::isGnomeDesktop()
{
    const QString desktops = qEnvironmentVariable("XDG_CURRENT_DESKTOP");
    return desktops.split(QLatin1Char(':')).contains(QStringLiteral("GNOME"), Qt::CaseInsensitive);
}

QString SCGnomeShortcuts::accelerator(const QKeySequence &key)
{
    if (key.isEmpty())
        return QString();
    const QKeyCombination combination = key[0];
    QString text;
    const Qt::KeyboardModifiers modifiers = combination.keyboardModifiers();
    if (modifiers & Qt::ControlModifier)
        text += QStringLiteral("<Control>");
    if (modifiers & Qt::AltModifier)
        text += QStringLiteral("<Alt>");
    if (modifiers & Qt::ShiftModifier)
        text += QStringLiteral("<Shift>");
    if (modifiers & Qt::MetaModifier)
        text += QStringLiteral("<Super>");
    QString name = QKeySequence(combination.key()).toString(QKeySequence::PortableText);
    if (name.size() == 1)
        name = name.toLower();
    return text + name;
}

QString SCGnomeShortcuts::pathFor(const QString &id)
{
    return PATH_PREFIX + QStringLiteral("vistrel-") + id + QLatin1Char('/');
}

QString SCGnomeShortcuts::formatList(const QStringList &items)
{
    if (items.isEmpty())
        return QStringLiteral("@as []");
    QStringList parts;
    for (const QString &item : items)
        parts << quoted(item);
    return QLatin1Char('[') + parts.join(QStringLiteral(", ")) + QLatin1Char(']');
}

QStringList SCGnomeShortcuts::parseList(const QString &text)
{
    // Paths have no quotes in them; anything else in the list is kept as gsettings wrote it.
    QStringList items;
    static const QRegularExpression item(QStringLiteral("'((?:[^'\\\\]|\\\\.)*)'"));
    for (auto it = item.globalMatch(text); it.hasNext();)
        items << it.next().captured(1);
    return items;
}

bool SCGnomeShortcuts::apply(const QVector<Entry> &entries, QString *error)
{
    QString reason;
    QString listText;
    if (!gsettings({QStringLiteral("get"), SCHEMA, QStringLiteral("custom-keybindings")}, &listText,
                   &reason)) {
        if (error)
            *error = reason;
        return false;
    }
    QStringList paths = parseList(listText);
    for (const Entry &entry : entries) {
        const QString path = pathFor(entry.id);
        const QString accel = accelerator(entry.key);
        if (accel.isEmpty()) {
            paths.removeAll(path);
            continue;
        }
        const QString schema = ENTRY_SCHEMA + QLatin1Char(':') + path;
        const bool written = gsettings({QStringLiteral("set"), schema, QStringLiteral("name"),
                                        quoted(entry.name)},
                                       nullptr, &reason)
                && gsettings({QStringLiteral("set"), schema, QStringLiteral("command"),
                              quoted(entry.command)},
                             nullptr, &reason)
                && gsettings({QStringLiteral("set"), schema, QStringLiteral("binding"),
                              quoted(accel)},
                             nullptr, &reason);
        if (!written) {
            if (error)
                *error = reason;
            return false;
        }
        if (!paths.contains(path))
            paths << path;
    }
    if (!gsettings({QStringLiteral("set"), SCHEMA, QStringLiteral("custom-keybindings"),
                    formatList(paths)},
                   nullptr, &reason)) {
        if (error)
            *error = reason;
        return false;
    }
    return true;
}
