#pragma once

#include <QKeySequence>
#include <QString>
#include <QVector>

// Custom keyboard shortcuts in GNOME's settings (the media-keys plugin's
// custom-keybindings), which run a command on a key whatever has the focus: the way to a
// global key on a GNOME desktop whose portal has no GlobalShortcuts. Through gsettings, so
// that the desktop's own settings daemon sees the change at once.
class SCGnomeShortcuts
{
public:
    struct Entry
    {
        // Part of the entry's settings path, so that adding again replaces it.
        QString id;
        QString name;
        QString command;
        QKeySequence key;
    };

    static inline const QString SCHEMA
            = QStringLiteral("org.gnome.settings-daemon.plugins.media-keys");
    static inline const QString ENTRY_SCHEMA
            = QStringLiteral("org.gnome.settings-daemon.plugins.media-keys.custom-keybinding");
    static inline const QString PATH_PREFIX
            = QStringLiteral("/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/");

    // Whether the desktop is GNOME (XDG_CURRENT_DESKTOP names it).
    static bool isGnomeDesktop();
    // Adds or replaces each entry; entries without a key are removed. False with the reason
    // (gsettings' own words) when gsettings is missing or refuses; then nothing is listed that
    // was not written.
    static bool apply(const QVector<Entry> &entries, QString *error);
    // The key in GTK's accelerator words ("<Control><Shift>F9"); empty for none.
    static QString accelerator(const QKeySequence &key);
    // The settings path of an entry.
    static QString pathFor(const QString &id);
    // gsettings' text of a list of strings, and back.
    static QString formatList(const QStringList &items);
    static QStringList parseList(const QString &text);
};
