#include "sc-main-window.h"
#include "ui_sc-main-window.h"

#include "sc-display-choice.h"

#include "area-selector.h"
#include "sc-desktop-open.h"
#include "sc-desktop-session.h"
#include "sc-dialogs.h"
#include "sc-draw-window.h"
#include "sc-file-manager.h"
#include "sc-frameless-window-agent.h"
#include "sc-fullscreen-toolbar.h"
#include "sc-global-hotkey.h"
#include "sc-logger.h"
#include "sc-obs-wrapper.h"
#include "sc-screenshot-countdown.h"
#include "sc-screenshot-window.h"
#include "sc-screenshot.h"
#include "sc-settings-window.h"
#include "sc-settings.h"
#include "sc-translator.h"
#include "sc-types.h"
#include "sc-window-tracker.h"
#include "window-highlighter.h"

#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QIntValidator>
#include <QMessageBox>
#include <QMouseEvent>
#include <QSizeGrip>
#include <QStyle>
#include <QTextStream>
#include <QTimer>
#include <QUrl>

namespace {

const QString IMAGES = QStringLiteral(":/res/forms/images/");
// The maker's page for new users, opened once after the first start.
const QString WELCOME_URL = QStringLiteral("https://www.ombrant.com/vistrel/welcome");

QString readResource(const QString &path, QString *error = nullptr)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        if (error)
            *error = file.errorString();
        return {};
    }
    QTextStream stream(&file);
    return stream.readAll();
}

} // namespace

SCMainWindow::SCMainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::SCMainWindow)
    , m_obs(std::make_unique<ObsWrapper>())
    , m_windowHighlighter(std::make_unique<WindowHighlighter>())
    , m_screenshot(std::make_unique<SCScreenshot>(this))
    , m_areaSelector(std::make_unique<AreaSelector>())
    , m_fileManager(std::make_unique<SCFileManager>())
    , m_settings(SCSettings::ORGANIZATION, SCSettings::APPLICATION)
{
    ui->setupUi(this);
    m_windowTracker = new SCWindowTracker(this);
    connect(m_windowTracker, &SCWindowTracker::moved, this, &SCMainWindow::followPickedWindow);
    connect(m_windowTracker, &SCWindowTracker::closed, this, &SCMainWindow::onFollowedWindowClosed);
    SCDialogs::useDarkDialogs();
    auto *agent = new SCFramelessWindowAgent(this);
    agent->setup(this);
    agent->setTitleBar(ui->titleFrame);
    for (QWidget *button :
         QList<QWidget *> {ui->settingsBtn, ui->menuBtn, ui->minimizeBtn, ui->closeBtn})
        agent->setHitTestVisible(button);
    // Without a system frame there is no edge to drag: a grip in the corner resizes the window.
    m_sizeGrip = new QSizeGrip(this);
    m_sizeGrip->setObjectName(QStringLiteral("sizeGrip"));

    SCLogger::instance()->initialize(QString());

    loadStyleSheet();
    setupDefaultSettings();
    initUIStatus();
    setupUIConnections();
    setupScreenshotDelay();
    initHotkeys();

    if (m_settings.value(SCSettings::GENERAL_FIRST_RUN, true).toBool()) {
        m_settings.setValue(SCSettings::GENERAL_FIRST_RUN, false);
        SCDesktopOpen::openUrl(QUrl(WELCOME_URL), this);
    }

    connect(ui->settingsBtn, &QPushButton::clicked, this, &SCMainWindow::onSettingsClicked);
    connect(ui->menuBtn, &QPushButton::clicked, this, &SCMainWindow::onMenuClicked);
    setupNativeMenuBar();
    setupUpgradeCheck();
}

SCMainWindow::~SCMainWindow()
{
    m_fullscreenToolbar.reset();
    m_fileManager.reset();
    m_recordingAreaSelector.reset();
    m_areaSelector.reset();
    m_screenshot.reset();
    m_windowHighlighter.reset();
    m_obs.reset();
    delete m_drawWindow.data();
    delete m_screenshotWindow.data();
    delete ui;
}

void SCMainWindow::bringToFront()
{
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
}

void SCMainWindow::setTranslator(std::shared_ptr<SCTranslator> translator)
{
    m_translator = std::move(translator);
}

void SCMainWindow::retranslateUi()
{
    ui->retranslateUi(this);
    retranslateCodeTexts();
    if (m_displayChoice)
        m_displayChoice->retranslate();
}

void SCMainWindow::loadStyleSheet()
{
    const QString path = QStringLiteral(":/res/style/main-window-macos.qss");
    QString error;
    const QString style = readResource(path, &error);
    if (style.isEmpty()) {
        SCLogger::instance()->warning(
                QStringLiteral("Failed to load stylesheet from: %1 Error: %2").arg(path, error));
        return;
    }
    setStyleSheet(style);
    SCLogger::instance()->debug(QStringLiteral("Loaded stylesheet from: %1").arg(path));
}

QString SCMainWindow::loadMessageBoxStyle() const
{
    return readResource(QStringLiteral(":/res/style/message-box.qss"));
}

void SCMainWindow::showWarning(const QString &title, const QString &text)
{
    // The same message again (a hotkey pressed while it is open) raises the one on screen.
    if (m_openDialog && m_openDialog->text() == text) {
        m_openDialog->raise();
        return;
    }
    QMessageBox box(QMessageBox::Warning, title, text);
    box.setStyleSheet(loadMessageBoxStyle());
    const QPointer<QMessageBox> previous = m_openDialog;
    m_openDialog = &box;
    box.exec();
    m_openDialog = previous;
}

void SCMainWindow::setupDefaultSettings()
{
    SCSettings::applyDefaults(m_settings);
}

void SCMainWindow::initUIStatus()
{
    const QString format = m_settings.value(SCSettings::RECORDING_FORMAT).toString();
    const auto outputFormat = OUTPUT_FORMAT_MAP.find(format);
    if (outputFormat != OUTPUT_FORMAT_MAP.end()) {
        ui->recordFormatComboBox->setCurrentIndex(static_cast<int>(outputFormat->second));
    } else {
        SCLogger::instance()->warning(
                QStringLiteral("Unknown recording format \"%1\" in the settings, using MP4")
                        .arg(format));
        ui->recordFormatComboBox->setCurrentIndex(static_cast<int>(OutputFormat::MP4));
    }
    // Physical pixels; a typed minus sign or letter would only make a size the engine refuses.
    for (QLineEdit *edit : {ui->widthLineEdit, ui->heightLineEdit})
        edit->setValidator(new QIntValidator(1, 16384, edit));
    ui->saveLocationLineEdit->setText(
            m_settings.value(SCSettings::RECORDING_SAVE_LOCATION).toString());
    ui->saveLocationLineEdit->setReadOnly(true);

    const auto shotFormat = SCREENSHOT_FORMAT_MAP.find(
            m_settings.value(SCSettings::SCREENSHOT_FORMAT).toString());
    ui->screenshotFormatComboBox->setCurrentIndex(
            shotFormat != SCREENSHOT_FORMAT_MAP.end() ? static_cast<int>(shotFormat->second) : 0);
    ui->screenshotFileLocationLineEdit->setText(
            m_settings.value(SCSettings::SCREENSHOT_SAVE_LOCATION).toString());
    ui->screenshotFileLocationLineEdit->setReadOnly(true);

    ui->mouseSwitch->setChecked(m_settings.value(SCSettings::MOUSE_SHOW_HIGHLIGHT).toBool());
    if (SCDesktopSession::isWayland()) {
        ui->mouseSwitch->setChecked(false);
        ui->mouseSwitch->setEnabled(false);
        ui->mouseSwitch->setToolTip(SCSettingsWindow::pointerEffectsUnavailableText());
    }

    ui->deleteFilesBtn->hide();
    retranslateCodeTexts();

    ui->recordingTab->setChecked(true);
    ui->screenshotTab->setChecked(false);
    ui->fileTab->setChecked(false);
    ui->mainFunctionPages->setCurrentIndex(2);

    for (QPushButton *tab : {ui->videoTab, ui->audioTab, ui->imageTab})
        tab->setCheckable(true);
    ui->videoTab->setChecked(true);
    updateFileTable(QStringLiteral("video"));

    const QList<QWidget *> filtered = {ui->titleFrame,
                                       ui->fullScreenWidget,
                                       ui->selectRegionWidget,
                                       ui->selectWindowWidget,
                                       ui->fullScreenShotWidget,
                                       ui->selectRegionShotWidget,
                                       ui->selectWindowShotWidget,
                                       ui->recordingControlWidget,
                                       ui->closeBtn,
                                       ui->minimizeBtn,
                                       ui->settingsBtn,
                                       ui->menuBtn};
    for (QWidget *widget : filtered)
        widget->installEventFilter(this);
}

void SCMainWindow::setupUIConnections()
{
    connect(ui->minimizeBtn, &QPushButton::clicked, this,
            [this] { setWindowState(windowState() | Qt::WindowMinimized); });
    connect(ui->closeBtn, &QPushButton::clicked, this, &QWidget::close);
    for (QPushButton *tab : {ui->recordingTab, ui->screenshotTab, ui->fileTab})
        connect(tab, &QPushButton::clicked, this, &SCMainWindow::onSidebarTabClicked);
    connect(ui->changeLocationBtn, &QPushButton::clicked, this,
            &SCMainWindow::onChangeLocationClicked);
    connect(ui->changeScreenshotFileLocationBtn, &QPushButton::clicked, this,
            &SCMainWindow::onChangeScreenshotLocationClicked);

    connect(ui->screenSwitch, &SCSwitchWidget::checkedChanged, this,
            &SCMainWindow::onScreenSwitchChanged);
    connect(ui->speakerSwitch, &SCSwitchWidget::checkedChanged, this,
            &SCMainWindow::onSpeakerSwitchChanged);
    connect(ui->micSwitch, &SCSwitchWidget::checkedChanged, this,
            &SCMainWindow::onMicSwitchChanged);
    connect(ui->webcamSwitch, &SCSwitchWidget::checkedChanged, this,
            &SCMainWindow::onWebcamSwitchChanged);
    connect(ui->mouseSwitch, &SCSwitchWidget::checkedChanged, this,
            &SCMainWindow::onMouseSwitchChanged);
    connect(ui->lockRadioBtn, &QRadioButton::toggled, this, &SCMainWindow::onLockToggled);
    connect(ui->recordFormatComboBox, &QComboBox::currentIndexChanged, this,
            &SCMainWindow::onRecordFormatChanged);
    connect(ui->screenshotFormatComboBox, &QComboBox::currentIndexChanged, this, [this](int index) {
        m_settings.setValue(SCSettings::SCREENSHOT_FORMAT,
                            SCREENSHOT_FORMAT_STRINGS.at(static_cast<ScreenshotFormat>(index)));
    });
    connect(ui->ratioComboBox, &QComboBox::currentTextChanged, this,
            &SCMainWindow::onRatioSelectionChanged);
    connect(m_screenshot.get(), &SCScreenshot::error, this, &SCMainWindow::handleScreenshotError);

    connect(ui->videoTab, &QPushButton::clicked, this, &SCMainWindow::onVideoTabClicked);
    connect(ui->audioTab, &QPushButton::clicked, this, &SCMainWindow::onAudioTabClicked);
    connect(ui->imageTab, &QPushButton::clicked, this, &SCMainWindow::onImageTabClicked);
    connect(ui->openTypeFolderBtn, &QPushButton::clicked, this,
            &SCMainWindow::onOpenTypeFolderClicked);
    connect(ui->fileOrderBtn, &QPushButton::clicked, m_fileManager.get(),
            &SCFileManager::reverseFileOrder);
    m_fileManager->setOrderButton(ui->fileOrderBtn);
    connect(ui->deleteFilesBtn, &QPushButton::clicked, this,
            [this] { m_fileManager->deleteSelectedFiles(ui->fileListView); });
    connect(ui->openFolderBtn, &QPushButton::clicked, this, [this] {
        if (!ui->saveLocationLineEdit->text().isEmpty())
            SCDesktopOpen::openFolder(ui->saveLocationLineEdit->text(), this);
    });
    connect(ui->openScreenshotFileLocationBtn, &QPushButton::clicked, this, [this] {
        if (!ui->screenshotFileLocationLineEdit->text().isEmpty())
            SCDesktopOpen::openFolder(ui->screenshotFileLocationLineEdit->text(), this);
    });
    connect(ui->widthLineEdit, &QLineEdit::textChanged, this, &SCMainWindow::onWidthEdited);
    connect(ui->heightLineEdit, &QLineEdit::textChanged, this, &SCMainWindow::onHeightEdited);
}

void SCMainWindow::centerChildWindow(QWidget *child)
{
    if (!child)
        return;
    const QPoint center = geometry().center();
    child->move(center.x() - child->width() / 2, center.y() - child->height() / 2);
}

// The X server has no way to leave a window out of a capture.
void SCMainWindow::makeWindowRecordingTransparent(QWidget *) { }
void SCMainWindow::makeWindowRecordingVisible(QWidget *) { }

void SCMainWindow::onSidebarTabClicked()
{
    auto *sender = qobject_cast<QPushButton *>(QObject::sender());
    if (!sender)
        return;
    for (QPushButton *tab : {ui->recordingTab, ui->screenshotTab, ui->fileTab})
        tab->setChecked(tab == sender);

    if (sender == ui->recordingTab) {
        ui->mainFunctionPages->setCurrentIndex(2);
        if (m_screenshotWindow)
            m_screenshotWindow->hide();
        // The frame belongs to a chosen region or window of a video recording; nothing shows
        // for the whole screen until a recording runs.
        if (m_drawWindow && m_screenEnabled
            && (m_recordingMode == Window || m_recordingMode == Region)) {
            m_drawWindow->show();
            m_drawWindow->raise();
            m_drawWindow->activateWindow();
        }
    } else if (sender == ui->screenshotTab) {
        ui->mainFunctionPages->setCurrentIndex(0);
        if (m_drawWindow && !m_isRecording)
            m_drawWindow->hide();
    } else {
        ui->mainFunctionPages->setCurrentIndex(1);
    }
}

void SCMainWindow::onRecordingTabClicked()
{
    if (auto *button = qobject_cast<QPushButton *>(sender()))
        button->setChecked(true);
}

void SCMainWindow::onVideoTabClicked()
{
    ui->videoTab->setChecked(true);
    ui->audioTab->setChecked(false);
    ui->imageTab->setChecked(false);
    updateFileTable(QStringLiteral("video"));
}

void SCMainWindow::onAudioTabClicked()
{
    ui->videoTab->setChecked(false);
    ui->audioTab->setChecked(true);
    ui->imageTab->setChecked(false);
    updateFileTable(QStringLiteral("audio"));
}

void SCMainWindow::onImageTabClicked()
{
    ui->videoTab->setChecked(false);
    ui->audioTab->setChecked(false);
    ui->imageTab->setChecked(true);
    updateFileTable(QStringLiteral("screenshot"));
}

void SCMainWindow::updateFileTable(const QString &type)
{
    if (m_fileManager)
        m_fileManager->updateListView(ui->fileListView, type);
    if (QItemSelectionModel *selection = ui->fileListView->selectionModel()) {
        disconnect(selection, &QItemSelectionModel::selectionChanged, this, nullptr);
        connect(selection, &QItemSelectionModel::selectionChanged, this, [this, selection] {
            ui->deleteFilesBtn->setVisible(selection->selectedIndexes().size() > 1);
        });
        ui->deleteFilesBtn->setVisible(selection->selectedIndexes().size() > 1);
    }
    ui->fileListView->viewport()->update();
}

void SCMainWindow::showFilesPage(const QString &type)
{
    ui->recordingTab->setChecked(false);
    ui->screenshotTab->setChecked(false);
    ui->fileTab->setChecked(true);
    ui->mainFunctionPages->setCurrentIndex(1);
    SCLogger::instance()->info(QStringLiteral("Showing the Files page (%1)").arg(type));
    if (type == QLatin1String("audio"))
        onAudioTabClicked();
    else if (type == QLatin1String("screenshot"))
        onImageTabClicked();
    else
        onVideoTabClicked();
    m_fileManager->selectNewestEntry();
}

void SCMainWindow::onOpenTypeFolderClicked()
{
    const QString key = ui->imageTab->isChecked() ? SCSettings::SCREENSHOT_SAVE_LOCATION
                                                  : SCSettings::RECORDING_SAVE_LOCATION;
    SCDesktopOpen::openFolder(m_settings.value(key).toString(), this);
}

void SCMainWindow::onChangeLocationClicked()
{
    // A folder that cannot be written is refused here, not found out at record time.
    const QString folder = SCDialogs::chooseSaveFolder(this, tr("Choose Save Location"),
                                                       ui->saveLocationLineEdit->text());
    if (folder.isEmpty())
        return;
    ui->saveLocationLineEdit->setText(folder);
    m_settings.setValue(SCSettings::RECORDING_SAVE_LOCATION, folder);
}

void SCMainWindow::onChangeScreenshotLocationClicked()
{
    // A folder that cannot be written is refused here, not found out at record time.
    const QString folder = SCDialogs::chooseSaveFolder(this, tr("Choose Screenshot Save Location"),
                                                       ui->screenshotFileLocationLineEdit->text());
    if (folder.isEmpty())
        return;
    ui->screenshotFileLocationLineEdit->setText(folder);
    m_settings.setValue(SCSettings::SCREENSHOT_SAVE_LOCATION, folder);
}

void SCMainWindow::onSaveLocationClicked()
{
    SCLogger::instance()->info(QStringLiteral("Save location clicked"));
    const QString folder
            = QFileDialog::getExistingDirectory(this, tr("Select Save Location"), m_saveLocation);
    if (folder.isEmpty())
        return;
    m_saveLocation = folder;
    ui->saveLocationLineEdit->setText(folder);
}

bool SCMainWindow::handleTitleFrameEvent(QEvent *event)
{
    // Moving is the frameless agent's job (the window manager's own move); this keeps the
    // press so that a manual move has a starting point where the agent cannot move.
    if (event->type() == QEvent::MouseButtonPress) {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::LeftButton)
            m_lastTitleDragPosition = mouse->globalPosition().toPoint();
    }
    return false;
}

void SCMainWindow::setTilePropertyAndRepolish(QWidget *tile, const char *name, bool value)
{
    tile->setProperty(name, value);
    tile->style()->unpolish(tile);
    tile->style()->polish(tile);
    tile->update();
}

bool SCMainWindow::handleTileEvent(QWidget *tile, QEvent *event)
{
    const bool recordTile = tile == ui->fullScreenWidget || tile == ui->selectRegionWidget
            || tile == ui->selectWindowWidget;
    const bool shotTile = tile == ui->fullScreenShotWidget || tile == ui->selectRegionShotWidget
            || tile == ui->selectWindowShotWidget;
    const bool recordButton = tile == ui->recordingControlWidget;

    switch (event->type()) {
    case QEvent::Enter:
        setTilePropertyAndRepolish(tile, "hovered", true);
        if (recordButton)
            ui->recordingLabel->setStyleSheet(QStringLiteral("color: #FFFFFF;"));
        return true;
    case QEvent::Leave:
        setTilePropertyAndRepolish(tile, "hovered", false);
        if (recordButton)
            ui->recordingLabel->setStyleSheet(QStringLiteral("color: #f2f2f2;"));
        return true;
    case QEvent::MouseButtonPress:
        setTilePropertyAndRepolish(tile, "pressed", true);
        return true;
    case QEvent::MouseButtonRelease: {
        setTilePropertyAndRepolish(tile, "pressed", false);
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (recordButton) {
            if (!m_obs || !m_obs->isRecordingStart())
                startRecording(false);
            else
                stopRecording();
        } else if (mouse->button() == Qt::LeftButton) {
            if (recordTile)
                onModeTileReleased(tile);
            else if (shotTile)
                onScreenshotTileReleased(tile);
        } else if (recordTile) {
            highlightActiveRecordingMode(tile);
            if (tile == ui->fullScreenWidget)
                onFullScreenClicked();
            else if (tile == ui->selectRegionWidget)
                onSelectRegionClicked();
            else
                selectWindowForRecording();
        }
        return true;
    }
    default:
        return false;
    }
}

bool SCMainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ui->titleFrame)
        return handleTitleFrameEvent(event);

    static const QHash<QString, QString> hoverIcons = {
            {QStringLiteral("closeBtn"), QStringLiteral("close")},
            {QStringLiteral("minimizeBtn"), QStringLiteral("minimize")},
            {QStringLiteral("settingsBtn"), QStringLiteral("settings")},
            {QStringLiteral("menuBtn"), QStringLiteral("menu")},
    };
    if (auto *button = qobject_cast<QPushButton *>(watched);
        button && hoverIcons.contains(button->objectName())) {
        const QString base = IMAGES + hoverIcons.value(button->objectName());
        if (event->type() == QEvent::Enter)
            button->setIcon(QIcon(base + QStringLiteral("-white.svg")));
        else if (event->type() == QEvent::Leave)
            button->setIcon(QIcon(base + QStringLiteral(".svg")));
        return QMainWindow::eventFilter(watched, event);
    }

    if (auto *widget = qobject_cast<QWidget *>(watched)) {
        static const QStringList tiles = {
                QStringLiteral("fullScreenWidget"),       QStringLiteral("selectRegionWidget"),
                QStringLiteral("selectWindowWidget"),     QStringLiteral("fullScreenShotWidget"),
                QStringLiteral("selectRegionShotWidget"), QStringLiteral("selectWindowShotWidget"),
                QStringLiteral("recordingControlWidget")};
        if (tiles.contains(widget->objectName()) && handleTileEvent(widget, event))
            return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void SCMainWindow::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    m_sizeGrip->resize(m_sizeGrip->sizeHint());
    m_sizeGrip->move(width() - m_sizeGrip->width(), height() - m_sizeGrip->height());
    m_sizeGrip->raise();
}

void SCMainWindow::paintEvent(QPaintEvent *event)
{
    QMainWindow::paintEvent(event);
    if (!m_painted) {
        m_painted = true;
        emit firstPainted();
    }
}

void SCMainWindow::closeEvent(QCloseEvent *event)
{
    if (m_screenshotWindow)
        m_screenshotWindow->hide();
    event->accept();
}
