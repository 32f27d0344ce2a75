// The main window's menus: preferences, languages, the update check, help and about.

#include "sc-main-window.h"

#include "sc-hardware-encoders.h"
#include "ui_sc-main-window.h"

#include "sc-about-window.h"
#include "sc-desktop-open.h"
#include "sc-file-manager.h"
#include "sc-logger.h"
#include "sc-settings-window.h"
#include "sc-settings.h"
#include "sc-text-fit.h"
#include "sc-translator.h"
#include "sc-types.h"
#include "sc-upgrade-window.h"
#include "sc-version.h"

#include <QActionGroup>
#include <QCoreApplication>
#include <QDir>
#include <QJsonObject>
#include <QMenu>
#include <QMenuBar>
#include <QNetworkAccessManager>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>

namespace {

const QString GUIDE_URL = QStringLiteral("https://www.ombrant.com/vistrel/guide");
const QString FAQ_URL = QStringLiteral("https://www.ombrant.com/vistrel/support");

const QString MENU_STYLE = QStringLiteral(
        "QMenu { background-color: #252526; border: 1px solid #1E1E1E; padding: 5px 0px; "
        "font-size: 11pt; }"
        "QMenu::item { color: #99A1B0; padding: 8px 20px; padding-right: 24px; }"
        "QMenu::item:selected { background-color: #37373D; color: #FFFFFF; }"
        "QMenu::indicator { width: 12px; height: 12px; left: 4px; }"
        "QMenu::indicator:non-exclusive:checked { image: url(:/res/forms/images/check.svg); }"
        "QMenu::right-arrow { image: url(:/res/forms/images/right-arrow.svg); width: 16px; "
        "height: 16px; margin-right: 5px; }");

} // namespace

void SCMainWindow::setupUpgradeCheck()
{
    m_upgradeTimer = new QTimer(this);
    m_upgradeTimer->setSingleShot(true);
    m_upgradeTimer->setInterval(5000);
    connect(m_upgradeTimer, &QTimer::timeout, this, &SCMainWindow::checkForUpgrade);
    m_upgradeTimer->start();
}

void SCMainWindow::checkForUpgrade()
{
    auto *manager = new QNetworkAccessManager(this);
    QNetworkReply *reply = SCUpgradeWindow::requestManifest(manager);
    connect(reply, &QNetworkReply::finished, this, [this, manager, reply] {
        // A silent check: only a newer release is worth a window, a failure only a log line.
        const SCUpgradeWindow::ManifestResult result = SCUpgradeWindow::readManifest(reply);
        const QString version = result.manifest.value(QStringLiteral("win"))
                                        .toObject()
                                        .value(QStringLiteral("version"))
                                        .toString();
        if (result.failure != SCUpgradeWindow::ManifestResult::Failure::None) {
            SCLogger::instance()->info(
                    QStringLiteral("Update check at start failed: %1 (%2)")
                            .arg(SCUpgradeWindow::failureText(result), result.detail));
        } else if (Vistrel::isNewerVersion(version)) {
            SCLogger::instance()->info(QStringLiteral("Newer version available: %1").arg(version));
            openUpgradeWindow(result.manifest);
        } else {
            SCLogger::instance()->info(
                    QStringLiteral("Update check: newest release %1, this version %2 is up to date")
                            .arg(version, Vistrel::version()));
        }
        reply->deleteLater();
        manager->deleteLater();
    });
}

void SCMainWindow::openUpgradeWindow(const QJsonObject &manifest)
{
    auto *window = new SCUpgradeWindow(nullptr, manifest);
    window->setAttribute(Qt::WA_DeleteOnClose);
    showModalOverThis(window);
    makeWindowRecordingTransparent(window);
}

// Only a desktop with a global menu shows a native menu bar; elsewhere the bar would sit
// inside the fixed-size window, so the in-window menu carries the commands alone.
void SCMainWindow::setupNativeMenuBar()
{
    auto *bar = new QMenuBar(this);
    bar->setNativeMenuBar(true);
    if (!bar->isNativeMenuBar()) {
        delete bar;
        return;
    }
    QMenu *app = bar->addMenu(QStringLiteral("Vistrel"));
    QAction *about = app->addAction(tr("About") + QStringLiteral(" Vistrel"));
    about->setMenuRole(QAction::AboutRole);
    connect(about, &QAction::triggered, this, &SCMainWindow::onAboutClicked);
    QAction *preferences = app->addAction(tr("Preferences") + QStringLiteral("..."));
    preferences->setMenuRole(QAction::PreferencesRole);
    connect(preferences, &QAction::triggered, this, &SCMainWindow::onSettingsClicked);

    fillLanguageMenu(bar->addMenu(tr("Language")));

    QMenu *help = bar->addMenu(tr("Help"));
    fillHelpMenu(help);
    help->addSeparator();
    connect(help->addAction(tr("Check for Updates") + QStringLiteral("...")), &QAction::triggered,
            this, [this] { openUpgradeWindow(QJsonObject()); });
    setMenuBar(bar);
}

void SCMainWindow::onMenuClicked()
{
    auto *menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("mainMenu"));
    menu->setStyleSheet(MENU_STYLE);
    connect(menu->addAction(tr("Preferences")), &QAction::triggered, this,
            &SCMainWindow::onSettingsClicked);

    QMenu *languages = menu->addMenu(tr("Language"));
    languages->setObjectName(QStringLiteral("languageMenu"));
    languages->setStyleSheet(MENU_STYLE);
    fillLanguageMenu(languages);
    menu->addSeparator();
    connect(menu->addAction(tr("Check for Updates")), &QAction::triggered, this,
            [this] { openUpgradeWindow(QJsonObject()); });

    QMenu *help = menu->addMenu(tr("Help"));
    help->setStyleSheet(MENU_STYLE);
    fillHelpMenu(help);
    connect(menu->addAction(tr("About")), &QAction::triggered, this, &SCMainWindow::onAboutClicked);

    connect(menu, &QMenu::aboutToHide, menu, &QObject::deleteLater);
    menu->popup(ui->menuBtn->mapToGlobal(QPoint(0, ui->menuBtn->height())));
}

// The nine languages, the stored one checked; the menu bar and the pop-up share them.
void SCMainWindow::fillLanguageMenu(QMenu *languages)
{
    auto *group = new QActionGroup(languages);
    group->setExclusive(true);
    const QString stored = m_settings.value(SCSettings::GENERAL_LANGUAGE).toString();
    for (const auto &[language, name] : LANGUAGE_NAME_STRINGS) {
        const QString code = LANGUAGE_STRINGS.at(language);
        QAction *action = languages->addAction(name);
        action->setCheckable(true);
        action->setChecked(code == stored);
        action->setData(code);
        group->addAction(action);
        connect(action, &QAction::triggered, this, [this, code] { chooseLanguage(code); });
    }
}

void SCMainWindow::fillHelpMenu(QMenu *help)
{
    connect(help->addAction(tr("Guide")), &QAction::triggered, this,
            [this] { openHelpPage(GUIDE_URL); });
    connect(help->addAction(tr("FAQ")), &QAction::triggered, this,
            [this] { openHelpPage(FAQ_URL); });
    connect(help->addAction(tr("Open Log Folder")), &QAction::triggered, this,
            &SCMainWindow::openLogFolder);
}

void SCMainWindow::openHelpPage(const QString &url)
{
    SCDesktopOpen::openUrl(QUrl(url), this);
}

void SCMainWindow::openLogFolder()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)
            + QStringLiteral("/logs");
    SCDesktopOpen::openFolder(folder, this);
}

void SCMainWindow::showModalOverThis(QWidget *window)
{
    // Modal to this window only: an application-wide one would also block the screenshot
    // selector and the overlays that a hotkey or a command opens meanwhile, leaving them on
    // the screen without a way out.
    window->winId();
    if (window->windowHandle() && windowHandle()) {
        window->windowHandle()->setTransientParent(windowHandle());
        window->setWindowModality(Qt::WindowModal);
    } else {
        window->setWindowModality(Qt::ApplicationModal);
    }
    window->show();
    centerChildWindow(window);
}

void SCMainWindow::onSettingsClicked()
{
    auto *window = new SCSettingsWindow(nullptr);
    window->setAttribute(Qt::WA_DeleteOnClose);
    connect(window, &SCSettingsWindow::updateSettings, this, [this] {
        initUIStatus();
        initHotkeys();
        onLanguageChanged(m_settings.value(SCSettings::GENERAL_LANGUAGE).toString());
    });
    connectSoundPage(window);
    window->setHardwareEncoders(SCHardwareEncoders::available());
    showModalOverThis(window);
}

void SCMainWindow::onAboutClicked()
{
    auto *window = new SCAboutWindow(nullptr);
    window->setAttribute(Qt::WA_DeleteOnClose);
    showModalOverThis(window);
}

void SCMainWindow::chooseLanguage(const QString &localeCode)
{
    m_settings.setValue(SCSettings::GENERAL_LANGUAGE, localeCode);
    onLanguageChanged(localeCode);
}

void SCMainWindow::onLanguageChanged(const QString &localeCode)
{
    if (!m_translator) {
        SCLogger::instance()->warning(QStringLiteral("No translator to switch languages with"));
        return;
    }
    // An unknown or empty code keeps the language on screen.
    if (!localeCode.isEmpty() && !m_translator->load(localeCode)) {
        SCLogger::instance()->warning(
                QStringLiteral("No translation for \"%1\"; language unchanged").arg(localeCode));
        return;
    }
    QCoreApplication::removeTranslator(m_translator.get());
    QCoreApplication::installTranslator(m_translator.get());
    retranslateUi();
    if (m_recordingMode == FullScreen) {
        highlightActiveRecordingMode(ui->fullScreenWidget);
        onFullScreenClicked();
    }
}

// Texts that the form does not hold, set again after each language switch.
void SCMainWindow::retranslateCodeTexts()
{
    ui->deleteFilesBtn->setToolTip(tr("Delete Selected Files"));
    m_fileManager->retranslate();
    ui->openTypeFolderBtn->setToolTip(tr("Open Folder"));
    ui->openFolderBtn->setToolTip(tr("Open Folder"));
    ui->openScreenshotFileLocationBtn->setToolTip(tr("Open Folder"));
    ui->settingsBtn->setToolTip(tr("Settings"));
    ui->menuBtn->setToolTip(tr("Menu"));
    updateRepeatRegionButton();
    ui->recordFormatComboBox->setItemData(
            static_cast<int>(OutputFormat::GIF),
            tr("GIF records 15 pictures a second unless the preferences say otherwise: a palette "
               "of its own for every picture costs more than a video picture."),
            Qt::ToolTipRole);
    if (m_isRecording)
        ui->recordingLabel->setText(tr("Stop Recording"));
    fitWidthsToTexts();
}

// Translations differ in length: the widths the layout was drawn with are the least, and
// grow where a language needs more. The window's smallest size follows through the layout.
void SCMainWindow::fitWidthsToTexts()
{
    ensurePolished();
    // A checked tab and an active tile are drawn bold: room for that from the start, so that
    // nothing moves when the user clicks.
    int tabs = 0;
    for (QPushButton *tab : {ui->recordingTab, ui->screenshotTab, ui->fileTab})
        tabs = qMax(tabs, tab->sizeHint().width() + SCTextFit::boldExtra(tab, tab->text()));
    const QMargins sidebar = ui->sidebarLayout->contentsMargins();
    ui->sidebarFrame->setFixedWidth(qMax(120, tabs + sidebar.left() + sidebar.right()));

    const auto fitTiles = [](const QList<QLabel *> &labels, int floor) {
        int widest = floor;
        for (QLabel *label : labels) {
            QWidget *tile = label->parentWidget();
            tile->setMinimumWidth(0);
            const QMargins margins = tile->layout()->contentsMargins();
            widest = qMax(widest,
                          label->sizeHint().width() + SCTextFit::boldExtra(label, label->text())
                                  + margins.left() + margins.right() + 2);
        }
        for (QLabel *label : labels)
            label->parentWidget()->setMinimumWidth(widest);
    };
    fitTiles({ui->fullScreenWidgetLabel, ui->selectRegionWidgetLabel, ui->selectWindowWidgetLabel},
             112);
    // The screenshot tiles wrap their labels onto a second line instead.
    SCTextFit::equalWidths({ui->filenameLabel, ui->label_2}, 80);
    SCTextFit::equalWidths(
            {ui->formatLabel, ui->screenshotDelayLabel, ui->screenshotFileLocationLabel}, 100);
    SCTextFit::equalWidths({ui->changeLocationBtn}, 60);
    SCTextFit::equalWidths({ui->changeScreenshotFileLocationBtn}, 70);

    // The record button keeps one width whatever state it names.
    const QMargins record = ui->recordingControlLayout->contentsMargins();
    int recordText = 0;
    for (const QString &text : {tr("Start Recording"), tr("Stop Recording"), tr("Pause Recording")})
        recordText = qMax(recordText, ui->recordingLabel->fontMetrics().horizontalAdvance(text));
    ui->recordingControlWidget->setMinimumWidth(qMax(164,
                                                     record.left() + ui->recordingIcon->width()
                                                             + ui->recordingControlLayout->spacing()
                                                             + recordText + record.right() + 2));
    SCTextFit::fitComboToItems(ui->ratioComboBox, 96);
    for (QWidget *changed :
         QList<QWidget *> {ui->sidebarFrame, ui->screenModes, ui->screenshotModes,
                           ui->recordingControlWidget, ui->ratioComboBox})
        SCTextFit::passSizeUp(changed);
}
