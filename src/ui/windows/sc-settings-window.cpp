#include "sc-settings-window.h"

#include "sc-desktop-session.h"
#include "sc-dialog-title-bar.h"
#include "sc-dialogs.h"
#include "sc-frameless-window-agent.h"
#include "sc-global-hotkey.h"
#include "sc-hotkey-commands-panel.h"
#include "sc-hotkey-edit.h"
#include "sc-path-field.h"
#include "sc-recording-quality-fields.h"
#include "sc-screen-share.h"
#include "sc-settings-sound-page.h"
#include "sc-settings.h"
#include "sc-types.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDebug>
#include <QDialogButtonBox>
#include <QEvent>
#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QSystemTrayIcon>
#include <QTextStream>
#include <QVBoxLayout>

namespace {

QLabel *fieldLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setProperty("field", true);
    return label;
}

} // namespace

SCSettingsWindow::SCSettingsWindow(QWidget *parent)
    : QMainWindow(parent)
    , m_tabGroup(new QButtonGroup(this))
    , m_settings(SCSettings::ORGANIZATION, SCSettings::APPLICATION)
{
    setupUi();
    setupConnections();
    loadSettings();
    m_tabGroup->button(0)->setChecked(true);
    onTabChanged(0);
}

void SCSettingsWindow::setHardwareEncoders(const QList<VideoEncoderChoice> &kinds)
{
    m_recordingQuality->setHardwareEncoders(kinds);
}

SCSettingsWindow::~SCSettingsWindow() = default;

void SCSettingsWindow::setupUi()
{
    setObjectName(QStringLiteral("SCSettingsWindow"));
    setWindowTitle(tr("Settings"));
    // A thin frame of its own sets the window off from the main window it covers.
    setContentsMargins(1, 1, 1, 1);

    // No native title bar here: the window keeps its own close button at the right.
    const SCDialogTitleBar title
            = SCDialogTitleBar::createFrame(tr("Settings"), "settingLabel", this);
    QWidget *central = title.central;
    QVBoxLayout *rootLayout = title.column;
    m_titleWidget = title.bar;
    m_settingLabel = title.title;
    m_closeBtn = title.closeButton;

    auto *body = new QWidget(central);
    body->setObjectName(QStringLiteral("bodyWidget"));
    auto *bodyLayout = new QHBoxLayout(body);
    bodyLayout->setContentsMargins(0, 0, 0, 0);
    bodyLayout->setSpacing(0);

    auto *tabs = new QWidget(body);
    tabs->setObjectName(QStringLiteral("tabsWidget"));
    auto *tabsLayout = new QVBoxLayout(tabs);
    tabsLayout->setContentsMargins(0, 10, 0, 10);
    tabsLayout->setSpacing(2);
    const struct
    {
        const char *name;
        QString text;
        int id;
    } tabDefs[] = {{"recordingSettingsTab", tr("Recording"), 0},
                   {"screenshotSettingsTab", tr("Screenshot"), 1},
                   {"hotkeysSettingsTab", tr("Hotkeys"), 3},
                   {"mouseSettingsTab", tr("Mouse"), 2},
                   {"soundSettingsTab", tr("Sound"), 5},
                   {"desktopSettingsTab", tr("General"), 4}};
    for (const auto &def : tabDefs) {
        auto *tab = new QPushButton(def.text, tabs);
        tab->setObjectName(QString::fromLatin1(def.name));
        tab->setCheckable(true);
        tabsLayout->addWidget(tab);
        m_tabGroup->addButton(tab, def.id);
    }
    tabsLayout->addStretch();
    bodyLayout->addWidget(tabs);

    auto *right = new QWidget(body);
    auto *rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(20, 16, 20, 14);
    m_settingsPages = new QStackedWidget(right);
    m_settingsPages->setObjectName(QStringLiteral("settingsPages"));
    m_settingsPages->addWidget(buildRecordingPage());
    m_settingsPages->addWidget(buildScreenshotPage());
    m_settingsPages->addWidget(buildMousePage());
    m_settingsPages->addWidget(buildHotkeysPage());
    m_settingsPages->addWidget(buildDesktopPage());
    m_soundPage = new SCSettingsSoundPage(m_settingsPages);
    m_settingsPages->addWidget(m_soundPage);
    rightLayout->addWidget(m_settingsPages);

    m_buttonBox = new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel, right);
    m_buttonBox->setObjectName(QStringLiteral("buttonBox"));
    m_buttonBox->button(QDialogButtonBox::Save)->setText(tr("Save"));
    m_buttonBox->button(QDialogButtonBox::Cancel)->setText(tr("Cancel"));
    for (QAbstractButton *button : m_buttonBox->buttons())
        button->setIcon(QIcon());
    rightLayout->addWidget(m_buttonBox);
    bodyLayout->addWidget(right, 1);
    rootLayout->addWidget(body, 1);
    setCentralWidget(central);

    auto *agent = new SCFramelessWindowAgent(this);
    agent->setup(this);
    agent->setTitleBar(m_titleWidget);
    agent->setHitTestVisible(m_closeBtn);
    m_titleWidget->installEventFilter(this);

    loadStyleSheet();
    // Long translations widen the tab column and the window instead of being cut off; the
    // checked tab's border takes two pixels more.
    ensurePolished();
    int tabWidth = 130;
    for (QAbstractButton *tab : m_tabGroup->buttons())
        tabWidth = qMax(tabWidth, tab->sizeHint().width() + 2);
    tabs->setFixedWidth(tabWidth);
    setFixedSize(QSize(550, 350).expandedTo(minimumSizeHint()));
}

QWidget *SCSettingsWindow::buildRecordingPage()
{
    auto *page = new QWidget;
    page->setObjectName(QStringLiteral("recorderSettingsPage"));
    auto *grid = new QGridLayout(page);
    grid->addWidget(fieldLabel(tr("Format"), page), 0, 0);
    m_recordingFormatComboBox = new QComboBox(page);
    m_recordingFormatComboBox->setObjectName(QStringLiteral("recordingFormatComboBox"));
    for (const auto &entry : OUTPUT_FORMAT_STRINGS)
        m_recordingFormatComboBox->insertItem(static_cast<int>(entry.first),
                                              outputFormatDisplayName(entry.first));
    grid->addWidget(m_recordingFormatComboBox, 0, 1, 1, 2);
    // The rate and quality rows follow the format chosen here.
    m_recordingQuality = new SCRecordingQualityFields(grid, 2, page);
    connect(m_recordingFormatComboBox, &QComboBox::currentIndexChanged, m_recordingQuality,
            [this](int index) {
                if (index >= 0)
                    m_recordingQuality->showFormat(static_cast<OutputFormat>(index));
            });
    grid->addWidget(fieldLabel(tr("File Location"), page), 1, 0);
    m_recordingFileLocationLE = new SCPathField(page);
    m_recordingFileLocationLE->setObjectName(QStringLiteral("recordingFileLocationLE"));
    grid->addWidget(m_recordingFileLocationLE, 1, 1);
    auto *change = new QPushButton(tr("Change"), page);
    change->setObjectName(QStringLiteral("changeRecordingFileLocationBtn"));
    connect(change, &QPushButton::clicked, this,
            &SCSettingsWindow::on_changeRecordingFileLocationBtn_clicked);
    grid->addWidget(change, 1, 2);
    grid->setRowStretch(5, 1);
    grid->setColumnStretch(1, 1);
    return page;
}

QWidget *SCSettingsWindow::buildScreenshotPage()
{
    auto *page = new QWidget;
    page->setObjectName(QStringLiteral("screenshotSettingsPage"));
    auto *grid = new QGridLayout(page);
    grid->addWidget(fieldLabel(tr("Format"), page), 0, 0);
    m_screenshotFormatComboBox = new QComboBox(page);
    m_screenshotFormatComboBox->setObjectName(QStringLiteral("screenshotFormatComboBox"));
    for (const auto &[format, text] : SCREENSHOT_FORMAT_STRINGS)
        m_screenshotFormatComboBox->insertItem(static_cast<int>(format), text);
    grid->addWidget(m_screenshotFormatComboBox, 0, 1, 1, 2);
    grid->addWidget(fieldLabel(tr("File Location"), page), 1, 0);
    m_screenshotFileLocationLE = new SCPathField(page);
    m_screenshotFileLocationLE->setObjectName(QStringLiteral("screenshotFileLocationLE"));
    grid->addWidget(m_screenshotFileLocationLE, 1, 1);
    auto *change = new QPushButton(tr("Change"), page);
    change->setObjectName(QStringLiteral("changeScreenshotFileLocationBtn"));
    connect(change, &QPushButton::clicked, this,
            &SCSettingsWindow::on_changeScreenshotFileLocationBtn_clicked);
    grid->addWidget(change, 1, 2);
    grid->setRowStretch(2, 1);
    grid->setColumnStretch(1, 1);
    return page;
}

QWidget *SCSettingsWindow::buildMousePage()
{
    auto *page = new QWidget;
    page->setObjectName(QStringLiteral("mouseSettingsPage"));
    auto *layout = new QVBoxLayout(page);
    m_showCursorCheckBox = new QCheckBox(tr("Capture Mouse Cursor"), page);
    m_showCursorCheckBox->setObjectName(QStringLiteral("showCursorCheckBox"));
    m_highlightCursorCheckBox = new QCheckBox(tr("Add Mouse Effect"), page);
    m_highlightCursorCheckBox->setObjectName(QStringLiteral("highlightCursorCheckBox"));
    layout->addWidget(m_showCursorCheckBox);
    layout->addWidget(m_highlightCursorCheckBox);
    if (SCDesktopSession::isWayland()) {
        m_highlightCursorCheckBox->setEnabled(false);
        m_highlightCursorCheckBox->setToolTip(pointerEffectsUnavailableText());
    }
    layout->addStretch();
    return page;
}

QWidget *SCSettingsWindow::buildHotkeysPage()
{
    auto *page = new QWidget;
    page->setObjectName(QStringLiteral("hotkeysSettingsPage"));
    auto *grid = new QGridLayout(page);
    int row = 0;
    const auto addEdit = [&](SCHotkeyEdit *&edit, const char *name) {
        edit = new SCHotkeyEdit(page);
        edit->setObjectName(QString::fromLatin1(name));
        grid->addWidget(fieldLabel(hotkeyAction(edit), page), row, 0);
        grid->addWidget(edit, row++, 1);
        connect(edit, &SCHotkeyEdit::hotkeyChosen, this,
                [this, edit](const QKeySequence &sequence) { checkHotkeyChoice(edit, sequence); });
    };
    addEdit(m_recordingHotkeyEdit, "recordingHotkeyEdit");
    addEdit(m_pauseHotkeyEdit, "pauseHotkeyEdit");
    addEdit(m_screenshotHotkeyEdit, "screenshotHotkeyEdit");
    addEdit(m_fullScreenshotHotkeyEdit, "fullScreenshotHotkeyEdit");
    m_hotkeyProblemLabel = new QLabel(page);
    m_hotkeyProblemLabel->setObjectName(QStringLiteral("hotkeyProblemLabel"));
    m_hotkeyProblemLabel->setWordWrap(true);
    m_hotkeyProblemLabel->hide();
    grid->addWidget(m_hotkeyProblemLabel, row++, 0, 1, 2);
    if (SCDesktopSession::isWayland()) {
        m_hotkeyCommands
                = new SCHotkeyCommandsPanel(SCHotkeyCommandsPanel::desktopBindsKeys(), page);
        grid->addWidget(m_hotkeyCommands, row++, 0, 1, 2);
    }
    grid->setRowStretch(row, 1);
    grid->setColumnStretch(1, 1);
    return page;
}

// The keys as the edits hold them now: a desktop shortcut made from the page gets what the
// person sees, saved or not.
void SCSettingsWindow::showHotkeyCommands()
{
    if (!m_hotkeyCommands)
        return;
    const QHash<QString, SCHotkeyEdit *> edits {
            {SCSettings::HOTKEYS_RECORDING, m_recordingHotkeyEdit},
            {SCSettings::HOTKEYS_PAUSE, m_pauseHotkeyEdit},
            {SCSettings::HOTKEYS_SCREENSHOT, m_screenshotHotkeyEdit},
            {SCSettings::HOTKEYS_FULL_SCREENSHOT, m_fullScreenshotHotkeyEdit}};
    QHash<QString, QKeySequence> keys;
    for (auto it = edits.cbegin(); it != edits.cend(); ++it)
        keys.insert(it.key(), it.value()->keySequence());
    m_hotkeyCommands->setKeys(keys);
}

QString SCSettingsWindow::hotkeyAction(const SCHotkeyEdit *edit) const
{
    if (edit && edit == m_recordingHotkeyEdit)
        return tr("Start/Stop Recording");
    if (edit && edit == m_pauseHotkeyEdit)
        return tr("Pause/Resume Recording");
    if (edit && edit == m_screenshotHotkeyEdit)
        return tr("Capture Screenshot");
    if (edit && edit == m_fullScreenshotHotkeyEdit)
        return tr("Full-Screen Screenshot");
    return QString();
}

QWidget *SCSettingsWindow::buildDesktopPage()
{
    auto *page = new QWidget;
    page->setObjectName(QStringLiteral("desktopSettingsPage"));
    auto *layout = new QVBoxLayout(page);
    m_trayIconCheckBox = new QCheckBox(tr("Show icon in the system tray"), page);
    m_trayIconCheckBox->setObjectName(QStringLiteral("trayIconCheckBox"));
    m_closeToTrayCheckBox = new QCheckBox(tr("Close the window to the tray"), page);
    m_closeToTrayCheckBox->setObjectName(QStringLiteral("closeToTrayCheckBox"));
    // Without a tray the window closes as usual; the person should know why.
    m_noTrayLabel = new QLabel(tr("No system tray is running on this desktop now, so closing "
                                  "the window quits Vistrel."),
                               page);
    m_noTrayLabel->setObjectName(QStringLiteral("noTrayLabel"));
    m_noTrayLabel->setWordWrap(true);
    m_noTrayLabel->setVisible(!QSystemTrayIcon::isSystemTrayAvailable());
    m_notificationsCheckBox = new QCheckBox(tr("Show notifications"), page);
    m_notificationsCheckBox->setObjectName(QStringLiteral("notificationsCheckBox"));
    layout->addWidget(m_trayIconCheckBox);
    layout->addWidget(m_closeToTrayCheckBox);
    layout->addWidget(m_noTrayLabel);
    layout->addWidget(m_notificationsCheckBox);
    if (SCDesktopSession::isWayland()) {
        // The desktop remembers what it let the program share; this makes it ask again.
        auto *forget = new QPushButton(tr("Forget screen-sharing permission"), page);
        forget->setObjectName(QStringLiteral("forgetSharingButton"));
        forget->setToolTip(tr("The next recording asks the desktop again which screen or "
                              "window to share."));
        forget->setEnabled(SCScreenShare::hasPermissions());
        connect(forget, &QPushButton::clicked, this, [forget]() {
            SCScreenShare::forgetPermissions();
            forget->setEnabled(false);
        });
        layout->addWidget(forget, 0, Qt::AlignLeft);
    }
    layout->addStretch();
    return page;
}

QString SCSettingsWindow::pointerEffectsUnavailableText()
{
    return tr("Wayland desktops do not tell programs where the pointer is or when it clicks, "
              "so the pointer cannot be highlighted.");
}

void SCSettingsWindow::setupConnections()
{
    connect(m_tabGroup, &QButtonGroup::idClicked, this, &SCSettingsWindow::onTabChanged);
    connect(m_closeBtn, &QPushButton::clicked, this, &SCSettingsWindow::onCloseClicked);
    connect(m_buttonBox, &QDialogButtonBox::clicked, this, &SCSettingsWindow::onButtonBoxClicked);
    // A pointer effect without a pointer makes no sense, so the two follow each other.
    connect(m_showCursorCheckBox, &QCheckBox::stateChanged, this, [this](int state) {
        if (state == Qt::Unchecked)
            m_highlightCursorCheckBox->setChecked(false);
    });
    connect(m_highlightCursorCheckBox, &QCheckBox::stateChanged, this, [this](int state) {
        if (state == Qt::Checked)
            m_showCursorCheckBox->setChecked(true);
    });
    // Without the icon there is no tray to close the window to.
    connect(m_trayIconCheckBox, &QCheckBox::toggled, m_closeToTrayCheckBox, &QCheckBox::setEnabled);
}

void SCSettingsWindow::loadStyleSheet()
{
    const QString path = QStringLiteral(":/res/style/settings-window-macos.qss");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        qWarning() << "Failed to load stylesheet from:" << path << "Error:" << file.errorString();
        return;
    }
    setStyleSheet(QTextStream(&file).readAll());
    qDebug() << "Loaded stylesheet from:" << path;
}

void SCSettingsWindow::loadSettings()
{
    m_cache.language = m_settings.value(SCSettings::GENERAL_LANGUAGE).toString();
    m_cache.recordingHotkey = m_settings.value(SCSettings::HOTKEYS_RECORDING).toString();
    m_cache.screenshotHotkey = m_settings.value(SCSettings::HOTKEYS_SCREENSHOT).toString();
    m_cache.pauseHotkey = m_settings.value(SCSettings::HOTKEYS_PAUSE).toString();
    m_cache.fullScreenshotHotkey = m_settings.value(SCSettings::HOTKEYS_FULL_SCREENSHOT).toString();
    m_cache.recordingFormat = m_settings.value(SCSettings::RECORDING_FORMAT).toString();
    m_cache.recordingSaveLocation
            = m_settings.value(SCSettings::RECORDING_SAVE_LOCATION).toString();
    m_cache.screenshotFormat = m_settings.value(SCSettings::SCREENSHOT_FORMAT).toString();
    m_cache.screenshotSaveLocation
            = m_settings.value(SCSettings::SCREENSHOT_SAVE_LOCATION).toString();
    m_cache.showCursor = m_settings.value(SCSettings::MOUSE_SHOW_CURSOR, true).toBool();
    m_cache.showHighlight = m_settings.value(SCSettings::MOUSE_SHOW_HIGHLIGHT, false).toBool();
    m_cache.trayIcon = m_settings.value(SCSettings::DESKTOP_TRAY_ICON, true).toBool();
    m_cache.closeToTray = m_settings.value(SCSettings::DESKTOP_CLOSE_TO_TRAY, false).toBool();
    m_cache.notifications = m_settings.value(SCSettings::DESKTOP_NOTIFICATIONS, true).toBool();

    m_recordingHotkeyEdit->setHotkeyText(m_cache.recordingHotkey);
    m_screenshotHotkeyEdit->setHotkeyText(m_cache.screenshotHotkey);
    m_pauseHotkeyEdit->setHotkeyText(m_cache.pauseHotkey);
    m_fullScreenshotHotkeyEdit->setHotkeyText(m_cache.fullScreenshotHotkey);
    showHotkeyCommands();

    m_recordingQuality->load(m_settings);
    const auto format = OUTPUT_FORMAT_MAP.find(m_cache.recordingFormat);
    m_recordingFormatComboBox->setCurrentIndex(
            format != OUTPUT_FORMAT_MAP.end() ? static_cast<int>(format->second) : 0);
    m_recordingQuality->showFormat(
            static_cast<OutputFormat>(qMax(0, m_recordingFormatComboBox->currentIndex())));
    m_recordingFileLocationLE->setText(m_cache.recordingSaveLocation);
    const auto shotFormat = SCREENSHOT_FORMAT_MAP.find(m_cache.screenshotFormat);
    m_screenshotFormatComboBox->setCurrentIndex(
            shotFormat != SCREENSHOT_FORMAT_MAP.end() ? static_cast<int>(shotFormat->second) : 0);
    m_screenshotFileLocationLE->setText(m_cache.screenshotSaveLocation);
    // Highlight first: its handler would otherwise switch the cursor back on.
    m_highlightCursorCheckBox->setChecked(m_cache.showHighlight);
    m_showCursorCheckBox->setChecked(m_cache.showCursor);
    m_trayIconCheckBox->setChecked(m_cache.trayIcon);
    m_closeToTrayCheckBox->setChecked(m_cache.closeToTray);
    m_closeToTrayCheckBox->setEnabled(m_cache.trayIcon);
    m_notificationsCheckBox->setChecked(m_cache.notifications);
}

void SCSettingsWindow::checkHotkeyChoice(SCHotkeyEdit *edit, const QKeySequence &sequence)
{
    const SCHotkeyEdit *other = nullptr;
    for (const SCHotkeyEdit *candidate : {m_recordingHotkeyEdit, m_pauseHotkeyEdit,
                                          m_screenshotHotkeyEdit, m_fullScreenshotHotkeyEdit}) {
        if (candidate != edit && !sequence.isEmpty() && candidate->keySequence() == sequence)
            other = candidate;
    }
    QString problem;
    const QString text = sequence.toString(QKeySequence::NativeText);
    if (!sequence.isEmpty()) {
        const QKeyCombination combination = sequence[0];
        const Qt::KeyboardModifiers modifiers = combination.keyboardModifiers();
        const bool printable
                = combination.key() >= Qt::Key_Space && combination.key() <= Qt::Key_ydiaeresis;
        QString grabError;
        if (other) {
            problem = tr("%1 is already the hotkey for \"%2\".").arg(text, hotkeyAction(other));
        } else if (printable
                   && !(modifiers & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))) {
            problem = tr("%1 alone would take this key away from every other program: add Ctrl, "
                         "Alt or Super.")
                              .arg(text);
        } else if (!SCGlobalHotkey::canRegister(sequence, &grabError)
                   && grabError != SCGlobalHotkey::tr("Global hotkeys need an X11 session.")) {
            // Without an X server nothing can be tried; the main window says so when it starts.
            problem = grabError;
        }
    }
    m_hotkeyProblemLabel->setText(problem);
    m_hotkeyProblemLabel->setVisible(!problem.isEmpty());
    if (!problem.isEmpty()) {
        qDebug() << "Hotkey refused:" << problem;
        edit->revert();
        return;
    }
    edit->keepChoice();
    showHotkeyCommands();
}

void SCSettingsWindow::onTabChanged(int index)
{
    m_settingsPages->setCurrentIndex(index);
}

void SCSettingsWindow::onCloseClicked()
{
    close();
}

// Esc leaves the preferences as Cancel does; a hotkey field lets it through.
void SCSettingsWindow::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape && !event->modifiers()) {
        close();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void SCSettingsWindow::onButtonBoxClicked(QAbstractButton *button)
{
    if (m_buttonBox->standardButton(button) == QDialogButtonBox::Save)
        saveSettings();
    close();
}

void SCSettingsWindow::on_changeRecordingFileLocationBtn_clicked()
{
    const QString folder = SCDialogs::chooseSaveFolder(this, tr("Choose Save Location"),
                                                       m_recordingFileLocationLE->text());
    if (folder.isEmpty())
        return;
    m_recordingFileLocationLE->setText(folder);
    m_settings.setValue(SCSettings::RECORDING_SAVE_LOCATION, folder);
}

void SCSettingsWindow::on_changeScreenshotFileLocationBtn_clicked()
{
    const QString folder = SCDialogs::chooseSaveFolder(this, tr("Choose Screenshot Save Location"),
                                                       m_screenshotFileLocationLE->text());
    if (folder.isEmpty())
        return;
    m_screenshotFileLocationLE->setText(folder);
    m_settings.setValue(SCSettings::SCREENSHOT_SAVE_LOCATION, folder);
}

void SCSettingsWindow::saveSettings()
{
    m_cache.recordingHotkey = m_recordingHotkeyEdit->hotkeyText();
    m_cache.screenshotHotkey = m_screenshotHotkeyEdit->hotkeyText();
    m_cache.pauseHotkey = m_pauseHotkeyEdit->hotkeyText();
    m_cache.fullScreenshotHotkey = m_fullScreenshotHotkeyEdit->hotkeyText();
    m_cache.recordingFormat = OUTPUT_FORMAT_STRINGS.at(
            static_cast<OutputFormat>(m_recordingFormatComboBox->currentIndex()));
    m_cache.recordingSaveLocation = m_recordingFileLocationLE->text();
    m_cache.screenshotFormat = SCREENSHOT_FORMAT_STRINGS.at(
            static_cast<ScreenshotFormat>(m_screenshotFormatComboBox->currentIndex()));
    m_cache.screenshotSaveLocation = m_screenshotFileLocationLE->text();
    m_cache.showCursor = m_showCursorCheckBox->isChecked();
    m_cache.showHighlight = m_highlightCursorCheckBox->isChecked();
    m_cache.trayIcon = m_trayIconCheckBox->isChecked();
    m_cache.closeToTray = m_closeToTrayCheckBox->isChecked();
    m_cache.notifications = m_notificationsCheckBox->isChecked();

    m_settings.setValue(SCSettings::HOTKEYS_RECORDING, m_cache.recordingHotkey);
    m_settings.setValue(SCSettings::HOTKEYS_SCREENSHOT, m_cache.screenshotHotkey);
    m_settings.setValue(SCSettings::HOTKEYS_PAUSE, m_cache.pauseHotkey);
    m_settings.setValue(SCSettings::HOTKEYS_FULL_SCREENSHOT, m_cache.fullScreenshotHotkey);
    m_settings.setValue(SCSettings::RECORDING_FORMAT, m_cache.recordingFormat);
    m_settings.setValue(SCSettings::RECORDING_SAVE_LOCATION, m_cache.recordingSaveLocation);
    m_recordingQuality->save(m_settings);
    m_settings.setValue(SCSettings::SCREENSHOT_FORMAT, m_cache.screenshotFormat);
    m_settings.setValue(SCSettings::SCREENSHOT_SAVE_LOCATION, m_cache.screenshotSaveLocation);
    m_settings.setValue(SCSettings::MOUSE_SHOW_CURSOR, m_cache.showCursor);
    m_settings.setValue(SCSettings::MOUSE_SHOW_HIGHLIGHT, m_cache.showHighlight);
    m_settings.setValue(SCSettings::DESKTOP_TRAY_ICON, m_cache.trayIcon);
    m_settings.setValue(SCSettings::DESKTOP_CLOSE_TO_TRAY, m_cache.closeToTray);
    m_settings.setValue(SCSettings::DESKTOP_NOTIFICATIONS, m_cache.notifications);
    m_settings.sync();
    emit updateSettings();
}
