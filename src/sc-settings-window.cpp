#include "sc-settings-window.h"

#include "sc-dialog-title-bar.h"
#include "sc-frameless-window-agent.h"
#include "sc-path-field.h"
#include "sc-settings.h"
#include "sc-types.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDebug>
#include <QDialogButtonBox>
#include <QEvent>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStackedWidget>
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

SCSettingsWindow::~SCSettingsWindow() = default;

void SCSettingsWindow::setupUi()
{
    setObjectName(QStringLiteral("SCSettingsWindow"));
    setWindowTitle(tr("Settings"));
    // A thin frame of its own sets the window off from the main window it covers.
    setContentsMargins(1, 1, 1, 1);

    auto *central = new QWidget(this);
    central->setObjectName(QStringLiteral("centralwidget"));
    auto *rootLayout = new QVBoxLayout(central);
    rootLayout->setContentsMargins(0, 0, 0, 0);
    rootLayout->setSpacing(0);

    // No native title bar here: the window keeps its own close button at the right.
    const SCDialogTitleBar title
            = SCDialogTitleBar::create(tr("Settings"), "settingLabel", central);
    m_titleWidget = title.bar;
    m_settingLabel = title.title;
    m_closeBtn = title.closeButton;
    rootLayout->addWidget(m_titleWidget);

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
                   {"mouseSettingsTab", tr("Mouse"), 2}};
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
    for (const auto &[format, text] : OUTPUT_FORMAT_STRINGS)
        m_recordingFormatComboBox->insertItem(static_cast<int>(format), text);
    grid->addWidget(m_recordingFormatComboBox, 0, 1, 1, 2);
    grid->addWidget(fieldLabel(tr("File Location"), page), 1, 0);
    m_recordingFileLocationLE = new SCPathField(page);
    m_recordingFileLocationLE->setObjectName(QStringLiteral("recordingFileLocationLE"));
    grid->addWidget(m_recordingFileLocationLE, 1, 1);
    auto *change = new QPushButton(tr("Change"), page);
    change->setObjectName(QStringLiteral("changeRecordingFileLocationBtn"));
    connect(change, &QPushButton::clicked, this,
            &SCSettingsWindow::on_changeRecordingFileLocationBtn_clicked);
    grid->addWidget(change, 1, 2);
    grid->setRowStretch(2, 1);
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
    layout->addStretch();
    return page;
}

QWidget *SCSettingsWindow::buildHotkeysPage()
{
    auto *page = new QWidget;
    page->setObjectName(QStringLiteral("hotkeysSettingsPage"));
    auto *grid = new QGridLayout(page);
    grid->addWidget(fieldLabel(tr("Start/Stop Recording"), page), 0, 0);
    m_recordingComboBox = new QComboBox(page);
    m_recordingComboBox->setObjectName(QStringLiteral("recordingComboBox"));
    grid->addWidget(m_recordingComboBox, 0, 1);
    grid->addWidget(fieldLabel(tr("Capture Screenshot"), page), 1, 0);
    m_screenshotComboBox = new QComboBox(page);
    m_screenshotComboBox->setObjectName(QStringLiteral("screenshotComboBox"));
    grid->addWidget(m_screenshotComboBox, 1, 1);
    grid->setRowStretch(2, 1);
    grid->setColumnStretch(1, 1);
    return page;
}

void SCSettingsWindow::setupConnections()
{
    connect(m_tabGroup, &QButtonGroup::idClicked, this, &SCSettingsWindow::onTabChanged);
    connect(m_closeBtn, &QPushButton::clicked, this, &SCSettingsWindow::onCloseClicked);
    connect(m_buttonBox, &QDialogButtonBox::clicked, this, &SCSettingsWindow::onButtonBoxClicked);
    connect(m_recordingComboBox, &QComboBox::currentIndexChanged, this,
            &SCSettingsWindow::onRecordingHotkeyChanged);
    connect(m_screenshotComboBox, &QComboBox::currentIndexChanged, this,
            &SCSettingsWindow::onScreenshotHotkeyChanged);
    // A pointer effect without a pointer makes no sense, so the two follow each other.
    connect(m_showCursorCheckBox, &QCheckBox::stateChanged, this, [this](int state) {
        if (state == Qt::Unchecked)
            m_highlightCursorCheckBox->setChecked(false);
    });
    connect(m_highlightCursorCheckBox, &QCheckBox::stateChanged, this, [this](int state) {
        if (state == Qt::Checked)
            m_showCursorCheckBox->setChecked(true);
    });
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
    m_cache.recordingFormat = m_settings.value(SCSettings::RECORDING_FORMAT).toString();
    m_cache.recordingSaveLocation
            = m_settings.value(SCSettings::RECORDING_SAVE_LOCATION).toString();
    m_cache.screenshotFormat = m_settings.value(SCSettings::SCREENSHOT_FORMAT).toString();
    m_cache.screenshotSaveLocation
            = m_settings.value(SCSettings::SCREENSHOT_SAVE_LOCATION).toString();
    m_cache.showCursor = m_settings.value(SCSettings::MOUSE_SHOW_CURSOR, true).toBool();
    m_cache.showHighlight = m_settings.value(SCSettings::MOUSE_SHOW_HIGHLIGHT, false).toBool();

    initRecordingComboBox();
    initScreenshotComboBox();

    const auto format = OUTPUT_FORMAT_MAP.find(m_cache.recordingFormat);
    m_recordingFormatComboBox->setCurrentIndex(
            format != OUTPUT_FORMAT_MAP.end() ? static_cast<int>(format->second) : 0);
    m_recordingFileLocationLE->setText(m_cache.recordingSaveLocation);
    const auto shotFormat = SCREENSHOT_FORMAT_MAP.find(m_cache.screenshotFormat);
    m_screenshotFormatComboBox->setCurrentIndex(
            shotFormat != SCREENSHOT_FORMAT_MAP.end() ? static_cast<int>(shotFormat->second) : 0);
    m_screenshotFileLocationLE->setText(m_cache.screenshotSaveLocation);
    // Highlight first: its handler would otherwise switch the cursor back on.
    m_highlightCursorCheckBox->setChecked(m_cache.showHighlight);
    m_showCursorCheckBox->setChecked(m_cache.showCursor);
}

void SCSettingsWindow::resetAvailableHotkeys()
{
    m_availableHotkeys.clear();
    for (int i = 1; i <= 10; ++i)
        m_availableHotkeys << QStringLiteral("F%1").arg(i);
}

void SCSettingsWindow::fillHotkeyComboBox(QComboBox *combo, const QString &current,
                                          const QString &taken)
{
    const QSignalBlocker blocker(combo);
    resetAvailableHotkeys();
    combo->clear();
    combo->addItem(tr("None"));
    if (taken != SCSettings::NO_HOTKEY)
        m_availableHotkeys.removeAll(taken);
    combo->addItems(m_availableHotkeys);
    if (current != SCSettings::NO_HOTKEY) {
        const int index = combo->findText(current, Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (index >= 0)
            combo->setCurrentIndex(index);
    }
}

void SCSettingsWindow::initRecordingComboBox()
{
    fillHotkeyComboBox(m_recordingComboBox, m_cache.recordingHotkey, m_cache.screenshotHotkey);
}

void SCSettingsWindow::initScreenshotComboBox()
{
    fillHotkeyComboBox(m_screenshotComboBox, m_cache.screenshotHotkey, m_cache.recordingHotkey);
}

// Index 0 is the translated "None"; the store always holds the untranslated word.
static QString hotkeyAt(QComboBox *combo, int index)
{
    return index <= 0 ? SCSettings::NO_HOTKEY : combo->itemText(index);
}

void SCSettingsWindow::onRecordingHotkeyChanged(int index)
{
    m_cache.recordingHotkey = hotkeyAt(m_recordingComboBox, index);
    initRecordingComboBox();
    initScreenshotComboBox();
}

void SCSettingsWindow::onScreenshotHotkeyChanged(int index)
{
    m_cache.screenshotHotkey = hotkeyAt(m_screenshotComboBox, index);
    initScreenshotComboBox();
    initRecordingComboBox();
}

void SCSettingsWindow::onTabChanged(int index)
{
    m_settingsPages->setCurrentIndex(index);
}

void SCSettingsWindow::onCloseClicked()
{
    close();
}

void SCSettingsWindow::onButtonBoxClicked(QAbstractButton *button)
{
    if (m_buttonBox->standardButton(button) == QDialogButtonBox::Save)
        saveSettings();
    close();
}

void SCSettingsWindow::on_changeRecordingFileLocationBtn_clicked()
{
    const QString folder = QFileDialog::getExistingDirectory(
            this, tr("Choose Save Location"), m_recordingFileLocationLE->text(),
            QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
    if (folder.isEmpty())
        return;
    m_recordingFileLocationLE->setText(folder);
    m_settings.setValue(SCSettings::RECORDING_SAVE_LOCATION, folder);
}

void SCSettingsWindow::on_changeScreenshotFileLocationBtn_clicked()
{
    const QString folder = QFileDialog::getExistingDirectory(
            this, tr("Choose Screenshot Save Location"), m_screenshotFileLocationLE->text(),
            QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
    if (folder.isEmpty())
        return;
    m_screenshotFileLocationLE->setText(folder);
    m_settings.setValue(SCSettings::SCREENSHOT_SAVE_LOCATION, folder);
}

void SCSettingsWindow::saveSettings()
{
    m_cache.recordingHotkey = hotkeyAt(m_recordingComboBox, m_recordingComboBox->currentIndex());
    m_cache.screenshotHotkey = hotkeyAt(m_screenshotComboBox, m_screenshotComboBox->currentIndex());
    m_cache.recordingFormat = OUTPUT_FORMAT_STRINGS.at(
            static_cast<OutputFormat>(m_recordingFormatComboBox->currentIndex()));
    m_cache.recordingSaveLocation = m_recordingFileLocationLE->text();
    m_cache.screenshotFormat = SCREENSHOT_FORMAT_STRINGS.at(
            static_cast<ScreenshotFormat>(m_screenshotFormatComboBox->currentIndex()));
    m_cache.screenshotSaveLocation = m_screenshotFileLocationLE->text();
    m_cache.showCursor = m_showCursorCheckBox->isChecked();
    m_cache.showHighlight = m_highlightCursorCheckBox->isChecked();

    m_settings.setValue(SCSettings::HOTKEYS_RECORDING, m_cache.recordingHotkey);
    m_settings.setValue(SCSettings::HOTKEYS_SCREENSHOT, m_cache.screenshotHotkey);
    m_settings.setValue(SCSettings::RECORDING_FORMAT, m_cache.recordingFormat);
    m_settings.setValue(SCSettings::RECORDING_SAVE_LOCATION, m_cache.recordingSaveLocation);
    m_settings.setValue(SCSettings::SCREENSHOT_FORMAT, m_cache.screenshotFormat);
    m_settings.setValue(SCSettings::SCREENSHOT_SAVE_LOCATION, m_cache.screenshotSaveLocation);
    m_settings.setValue(SCSettings::MOUSE_SHOW_CURSOR, m_cache.showCursor);
    m_settings.setValue(SCSettings::MOUSE_SHOW_HIGHLIGHT, m_cache.showHighlight);
    m_settings.sync();
    emit updateSettings();
}
