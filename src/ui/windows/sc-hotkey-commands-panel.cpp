#include "sc-hotkey-commands-panel.h"

#include "sc-global-shortcuts-portal.h"
#include "sc-gnome-shortcuts.h"
#include "sc-hotkey-actions.h"
#include "sc-logger.h"

#include <QClipboard>
#include <QDBusConnection>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

SCHotkeyCommandsPanel::SCHotkeyCommandsPanel(bool desktopBindsKeys, QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("hotkeyCommandsPanel"));
    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(0, 8, 0, 0);
    auto *status = new QLabel(this);
    status->setObjectName(QStringLiteral("hotkeyDesktopStatus"));
    status->setWordWrap(true);
    grid->addWidget(status, 0, 0, 1, 3);
    if (desktopBindsKeys) {
        status->setText(tr("The desktop delivers these hotkeys to Vistrel wherever you are. It "
                           "may ask you to confirm them, and its keyboard settings can change "
                           "them."));
        return;
    }
    status->setText(tr("This desktop does not let programs set hotkeys of their own: these work "
                       "only while a Vistrel window has the focus. For keys that work "
                       "everywhere, bind these commands in the desktop's keyboard settings:"));
    int row = 1;
    const QString program = SCHotkeyActions::program();
    for (const SCHotkeyAction &action : SCHotkeyActions::all()) {
        auto *command = new QLineEdit(SCHotkeyActions::command(action, program), this);
        command->setObjectName(QStringLiteral("hotkeyCommand-") + action.id);
        command->setReadOnly(true);
        command->setCursorPosition(0);
        auto *copy = new QPushButton(tr("Copy command"), this);
        copy->setObjectName(QStringLiteral("copyCommand-") + action.id);
        connect(copy, &QPushButton::clicked, this,
                [command] { QGuiApplication::clipboard()->setText(command->text()); });
        grid->addWidget(new QLabel(SCHotkeyActions::label(action), this), row, 0);
        grid->addWidget(command, row, 1);
        grid->addWidget(copy, row++, 2);
    }
    grid->setColumnStretch(1, 1);
    if (!SCGnomeShortcuts::isGnomeDesktop())
        return;
    m_gnomeButton = new QPushButton(tr("Add to GNOME Keyboard Shortcuts"), this);
    m_gnomeButton->setObjectName(QStringLiteral("addGnomeShortcuts"));
    connect(m_gnomeButton, &QPushButton::clicked, this, &SCHotkeyCommandsPanel::addToGnome);
    grid->addWidget(m_gnomeButton, row++, 0, 1, 3, Qt::AlignLeft);
    m_gnomeResult = new QLabel(this);
    m_gnomeResult->setObjectName(QStringLiteral("gnomeShortcutsResult"));
    m_gnomeResult->setWordWrap(true);
    m_gnomeResult->hide();
    grid->addWidget(m_gnomeResult, row, 0, 1, 3);
}

bool SCHotkeyCommandsPanel::desktopBindsKeys()
{
    return SCGlobalShortcutsPortal::available(QDBusConnection::sessionBus(), nullptr);
}

void SCHotkeyCommandsPanel::setKeys(const QHash<QString, QKeySequence> &keys)
{
    m_keys = keys;
}

void SCHotkeyCommandsPanel::addToGnome()
{
    const auto answer = QMessageBox::question(
            this, tr("Add Keyboard Shortcuts"),
            tr("Add the commands above to GNOME's keyboard shortcuts, with the keys chosen on "
               "this page? Shortcuts that Vistrel added before are replaced."));
    if (answer != QMessageBox::Yes)
        return;
    QVector<SCGnomeShortcuts::Entry> entries;
    const QString program = SCHotkeyActions::program();
    for (const SCHotkeyAction &action : SCHotkeyActions::all()) {
        entries.append({action.id, QStringLiteral("Vistrel: ") + SCHotkeyActions::label(action),
                        SCHotkeyActions::command(action, program),
                        m_keys.value(action.settingsKey)});
    }
    QString error;
    const bool added = SCGnomeShortcuts::apply(entries, &error);
    if (added) {
        SCLogger::instance()->info(QStringLiteral("Hotkey commands added to GNOME's shortcuts"));
        m_gnomeResult->setText(tr("Added to GNOME's keyboard shortcuts."));
    } else {
        SCLogger::instance()->warning(
                QStringLiteral("GNOME's shortcuts could not be changed: %1").arg(error));
        m_gnomeResult->setText(
                tr("GNOME's keyboard shortcuts could not be changed: %1").arg(error));
    }
    m_gnomeResult->show();
}
