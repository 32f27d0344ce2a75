#pragma once

#include <QHash>
#include <QKeySequence>
#include <QWidget>

class QLabel;
class QPushButton;

// The hotkeys page's part for Wayland desktops: whether the desktop delivers our hotkeys, and
// where it does not, the command for each action to bind in its keyboard settings, with a
// button that copies it and, on GNOME, one that adds them all there.
class SCHotkeyCommandsPanel : public QWidget
{
    Q_OBJECT

public:
    explicit SCHotkeyCommandsPanel(bool desktopBindsKeys, QWidget *parent = nullptr);

    // Whether the desktop's portal takes hotkeys from programs.
    static bool desktopBindsKeys();
    // The key of each action, by its settings key; what the GNOME button binds.
    void setKeys(const QHash<QString, QKeySequence> &keys);

private:
    void addToGnome();

    QHash<QString, QKeySequence> m_keys;
    QPushButton *m_gnomeButton = nullptr;
    QLabel *m_gnomeResult = nullptr;
};
