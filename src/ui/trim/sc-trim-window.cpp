#include "sc-trim-window.h"

#include "sc-dialog-title-bar.h"
#include "sc-frameless-window-agent.h"
#include "sc-media-trimmer.h"
#include "sc-multimedia-check.h"
#include "sc-trim-timeline.h"

#include <QAudioOutput>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMediaPlayer>
#include <QProgressBar>
#include <QPushButton>
#include <QTextStream>
#include <QTimeEdit>
#include <QTimer>
#include <QVBoxLayout>
#include <QVideoWidget>

namespace {

const QString TIME_FORMAT = QStringLiteral("hh:mm:ss.zzz");
constexpr int PROGRESS_DELAY_MS = 1000;
constexpr int SNAP_DELAY_MS = 150;

QTime timeOf(qint64 ms)
{
    return QTime(0, 0).addMSecs(int(ms));
}

qint64 msOf(const QTime &time)
{
    return QTime(0, 0).msecsTo(time);
}

} // namespace

SCTrimWindow::SCTrimWindow(const QString &path, QWidget *parent)
    : QMainWindow(parent)
    , m_path(path)
    , m_folder(QFileInfo(path).absolutePath())
    , m_trimmer(new SCMediaTrimmer(this))
    , m_progressDelay(new QTimer(this))
    , m_snapDelay(new QTimer(this))
{
    setObjectName(QStringLiteral("SCTrimWindow"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(tr("Trim") + QStringLiteral(" - ") + QFileInfo(path).fileName());
    setContentsMargins(1, 1, 1, 1);
    m_duration = std::max<qint64>(SCMediaTrimmer::durationMs(path), 0);
    m_copies = SCMediaTrimmer::copiesStreams(path);
    m_video = SCMediaTrimmer::hasVideo(path);

    const SCDialogTitleBar title = SCDialogTitleBar::createFrame(
            tr("Trim") + QStringLiteral(": ") + QFileInfo(path).fileName(), "trimLabel", this);
    m_closeBtn = title.closeButton;
    auto *body = new QWidget(title.central);
    buildBody(body);
    title.column->addWidget(body, 1);
    setCentralWidget(title.central);

    auto *agent = new SCFramelessWindowAgent(this);
    agent->setup(this);
    agent->setTitleBar(title.bar);
    agent->setHitTestVisible(m_closeBtn);
    connect(m_closeBtn, &QPushButton::clicked, this, &QWidget::close);
    loadStyle();
    resize(m_video ? 720 : 560, m_video ? 560 : 300);

    m_progressDelay->setSingleShot(true);
    m_progressDelay->setInterval(PROGRESS_DELAY_MS);
    connect(m_progressDelay, &QTimer::timeout, m_progress, &QWidget::show);
    m_snapDelay->setSingleShot(true);
    m_snapDelay->setInterval(SNAP_DELAY_MS);
    connect(m_snapDelay, &QTimer::timeout, this, &SCTrimWindow::updateSnapNote);
    connect(m_trimmer, &SCMediaTrimmer::progressChanged, m_progress, &QProgressBar::setValue);
    connect(m_trimmer, &SCMediaTrimmer::finished, this, &SCTrimWindow::finish);

    m_timeline->setDuration(m_duration);
    showRange(0, m_duration);
    setUpPlayer();
    if (m_duration <= 0) {
        tell(failureText({SCMediaTrimResult::Failure::Unreadable, {}, 0}), true);
        m_saveButton->setEnabled(false);
    }
}

SCTrimWindow::~SCTrimWindow() = default;

void SCTrimWindow::buildBody(QWidget *body)
{
    auto *layout = new QVBoxLayout(body);
    layout->setContentsMargins(16, 12, 16, 12);
    layout->setSpacing(10);
    if (m_video) {
        m_videoWidget = new QVideoWidget(body);
        m_videoWidget->setObjectName(QStringLiteral("trimPreview"));
        m_videoWidget->setMinimumHeight(200);
        layout->addWidget(m_videoWidget, 1);
    }
    m_timeline = new SCTrimTimeline(body);
    m_timeline->setObjectName(QStringLiteral("trimTimeline"));
    layout->addWidget(m_timeline);
    layout->addWidget(buildTimeRow(body));

    m_exact = new QCheckBox(tr("Exact cut (re-encodes, takes longer)"), body);
    m_exact->setObjectName(QStringLiteral("trimExactCut"));
    layout->addWidget(m_exact);
    m_snapNote = new QLabel(body);
    m_snapNote->setObjectName(QStringLiteral("trimSnapNote"));
    m_snapNote->setWordWrap(true);
    layout->addWidget(m_snapNote);
    if (!m_copies) {
        m_exact->setChecked(true);
        m_exact->setEnabled(false);
        m_snapNote->setText(tr("Files of this type are always re-encoded, so the cut is exact."));
    }
    connect(m_exact, &QCheckBox::toggled, this, &SCTrimWindow::updateSnapNote);

    layout->addWidget(buildSaveRow(body));
    m_progress = new QProgressBar(body);
    m_progress->setObjectName(QStringLiteral("trimProgress"));
    m_progress->setRange(0, 100);
    m_progress->hide();
    layout->addWidget(m_progress);
    m_status = new QLabel(body);
    m_status->setObjectName(QStringLiteral("trimStatus"));
    m_status->setWordWrap(true);
    m_status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_status);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    m_cancelButton = new QPushButton(tr("Close"), body);
    m_cancelButton->setObjectName(QStringLiteral("trimCancelButton"));
    m_saveButton = new QPushButton(tr("Save as New File"), body);
    m_saveButton->setObjectName(QStringLiteral("trimSaveButton"));
    m_saveButton->setDefault(true);
    buttons->addWidget(m_cancelButton);
    buttons->addWidget(m_saveButton);
    layout->addLayout(buttons);
    connect(m_saveButton, &QPushButton::clicked, this, &SCTrimWindow::save);
    connect(m_cancelButton, &QPushButton::clicked, this, [this] {
        if (m_trimmer->isRunning())
            m_trimmer->cancel();
        else
            close();
    });
}

QWidget *SCTrimWindow::buildTimeRow(QWidget *parent)
{
    auto *row = new QWidget(parent);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    m_playButton = new QPushButton(tr("Play"), row);
    m_playButton->setObjectName(QStringLiteral("trimPlayButton"));
    layout->addWidget(m_playButton);
    layout->addStretch();
    const auto timeEdit = [this, row, layout](const QString &label, const char *name) {
        layout->addWidget(new QLabel(label, row));
        auto *edit = new QTimeEdit(row);
        edit->setObjectName(QLatin1String(name));
        edit->setDisplayFormat(TIME_FORMAT);
        edit->setTimeRange(QTime(0, 0), timeOf(m_duration));
        edit->setKeyboardTracking(false);
        layout->addWidget(edit);
        connect(edit, &QTimeEdit::timeChanged, this, &SCTrimWindow::takeEditedTimes);
        return edit;
    };
    m_startEdit = timeEdit(tr("Start"), "trimStartEdit");
    m_endEdit = timeEdit(tr("End"), "trimEndEdit");
    connect(m_playButton, &QPushButton::clicked, this, &SCTrimWindow::togglePlay);
    connect(m_timeline, &SCTrimTimeline::rangeChanged, this, &SCTrimWindow::showRange);
    return row;
}

QWidget *SCTrimWindow::buildSaveRow(QWidget *parent)
{
    auto *row = new QWidget(parent);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new QLabel(tr("New file name"), row));
    m_nameEdit = new QLineEdit(QFileInfo(SCMediaTrimmer::defaultTarget(m_path)).fileName(), row);
    m_nameEdit->setObjectName(QStringLiteral("trimNameEdit"));
    layout->addWidget(m_nameEdit, 1);
    m_chooseButton = new QPushButton(tr("Choose..."), row);
    m_chooseButton->setObjectName(QStringLiteral("trimChooseButton"));
    layout->addWidget(m_chooseButton);
    connect(m_chooseButton, &QPushButton::clicked, this, &SCTrimWindow::chooseTarget);
    return row;
}

void SCTrimWindow::loadStyle()
{
    QString style;
    for (const char *name : {":/res/style/about-window-macos.qss", ":/res/style/trim-window.qss"}) {
        QFile file(QString::fromLatin1(name));
        if (file.open(QIODevice::ReadOnly | QIODevice::Text))
            style += QTextStream(&file).readAll() + QLatin1Char('\n');
    }
    setStyleSheet(style.replace(QStringLiteral("#SCAboutWindow"), QStringLiteral("#SCTrimWindow"))
                          .replace(QStringLiteral("#aboutLabel"), QStringLiteral("#trimLabel")));
}

// Without a multimedia backend Qt would abort on the first player: the times and the cut
// work all the same.
void SCTrimWindow::setUpPlayer()
{
    if (!SCMultimediaCheck::backendUsable()) {
        m_playButton->setEnabled(false);
        m_playButton->setToolTip(tr("No media playback is available on this system."));
        return;
    }
    m_player = new QMediaPlayer(this);
    m_player->setAudioOutput(new QAudioOutput(this));
    if (m_videoWidget)
        m_player->setVideoOutput(m_videoWidget);
    connect(m_player, &QMediaPlayer::positionChanged, this, [this](qint64 position) {
        m_timeline->setPosition(position);
        if (m_player->playbackState() == QMediaPlayer::PlayingState
            && position >= m_timeline->end())
            m_player->pause();
    });
    connect(m_player, &QMediaPlayer::playbackStateChanged, this,
            [this](QMediaPlayer::PlaybackState state) {
                m_playButton->setText(state == QMediaPlayer::PlayingState ? tr("Pause")
                                                                          : tr("Play"));
            });
    connect(m_timeline, &SCTrimTimeline::seekRequested, m_player, &QMediaPlayer::setPosition);
    // Paused at once, the preview shows the first picture instead of a black box.
    connect(m_player, &QMediaPlayer::mediaStatusChanged, this,
            [this](QMediaPlayer::MediaStatus status) {
                if (status == QMediaPlayer::LoadedMedia
                    && m_player->playbackState() == QMediaPlayer::StoppedState)
                    m_player->pause();
            });
    m_player->setSource(QUrl::fromLocalFile(m_path));
}

void SCTrimWindow::togglePlay()
{
    if (!m_player)
        return;
    if (m_player->playbackState() == QMediaPlayer::PlayingState) {
        m_player->pause();
        return;
    }
    const qint64 position = m_player->position();
    if (position < m_timeline->start() || position >= m_timeline->end() - 50)
        m_player->setPosition(m_timeline->start());
    m_player->play();
}

void SCTrimWindow::showRange(qint64 start, qint64 end)
{
    const QSignalBlocker blockStart(m_startEdit);
    const QSignalBlocker blockEnd(m_endEdit);
    m_startEdit->setTime(timeOf(start));
    m_endEdit->setTime(timeOf(end));
    m_snapDelay->start();
}

void SCTrimWindow::takeEditedTimes()
{
    m_timeline->setRange(msOf(m_startEdit->time()), msOf(m_endEdit->time()));
    // The time line may have kept the end after the start: the boxes show what counts.
    showRange(m_timeline->start(), m_timeline->end());
    if (m_player && m_player->playbackState() != QMediaPlayer::PlayingState)
        m_player->setPosition(m_timeline->start());
}

void SCTrimWindow::updateSnapNote()
{
    if (!m_copies)
        return;
    const qint64 start = m_timeline->start();
    const qint64 snap = m_exact->isChecked() || !m_video
            ? -1
            : SCMediaTrimmer::keyframeAtOrBefore(m_path, start);
    m_timeline->setSnapMark(snap);
    if (m_exact->isChecked())
        m_snapNote->setText(tr("The new file starts exactly at the start time."));
    else if (!m_video)
        m_snapNote->setText(tr("The sound is copied as it is, without re-encoding."));
    else if (snap >= 0 && snap < start)
        m_snapNote->setText(tr("Without re-encoding, the cut snaps to the keyframe before the "
                               "start: the new file begins at %1.")
                                    .arg(timeOf(snap).toString(TIME_FORMAT)));
    else
        m_snapNote->setText(tr("Without re-encoding, the cut snaps to the keyframe before the "
                               "start; here the start is a keyframe."));
}

QString SCTrimWindow::targetPath() const
{
    QString name = m_nameEdit->text().trimmed();
    const QString suffix = QFileInfo(m_path).suffix();
    if (!name.isEmpty() && QFileInfo(name).suffix().isEmpty())
        name += QLatin1Char('.') + suffix;
    return name.isEmpty() ? QString() : QDir(m_folder).absoluteFilePath(name);
}

void SCTrimWindow::chooseTarget()
{
    const QString suffix = QFileInfo(m_path).suffix();
    const QString chosen = QFileDialog::getSaveFileName(
            this, tr("Save as New File"), targetPath(),
            QStringLiteral("%1 (*.%2)").arg(suffix.toUpper(), suffix));
    if (chosen.isEmpty())
        return;
    m_folder = QFileInfo(chosen).absolutePath();
    m_nameEdit->setText(QFileInfo(chosen).fileName());
    m_confirmed = targetPath();
}

void SCTrimWindow::save()
{
    const QString target = targetPath();
    const QFileInfo info(target);
    if (target.isEmpty()) {
        tell(tr("Enter a name for the new file."), true);
        return;
    }
    if (info.suffix().compare(QFileInfo(m_path).suffix(), Qt::CaseInsensitive) != 0) {
        tell(tr("The new file keeps the type of the original (.%1).")
                     .arg(QFileInfo(m_path).suffix()),
             true);
        return;
    }
    if (info.absoluteFilePath() == QFileInfo(m_path).absoluteFilePath()
        || (info.exists() && target != m_confirmed)) {
        tell(tr("A file named \"%1\" already exists. Choose another name.").arg(info.fileName()),
             true);
        return;
    }
    if (m_player)
        m_player->pause();
    setBusy(true);
    tell(tr("Saving..."), false);
    m_trimmer->start(
            {m_path, target, m_timeline->start(), m_timeline->end(), m_exact->isChecked()});
}

void SCTrimWindow::finish(const SCMediaTrimResult &result)
{
    setBusy(false);
    const QString target = targetPath();
    if (!result.ok()) {
        tell(failureText(result), result.failure != SCMediaTrimResult::Failure::Cancelled);
        return;
    }
    tell(tr("Saved as \"%1\".").arg(QDir::toNativeSeparators(target)), false);
    m_confirmed.clear();
    m_nameEdit->setText(QFileInfo(SCMediaTrimmer::defaultTarget(m_path)).fileName());
    m_folder = QFileInfo(m_path).absolutePath();
    emit saved(target);
}

void SCTrimWindow::setBusy(bool busy)
{
    const QList<QWidget *> inputs
            = {m_saveButton, m_timeline, m_startEdit, m_endEdit, m_nameEdit, m_chooseButton};
    for (QWidget *widget : inputs)
        widget->setEnabled(!busy);
    m_exact->setEnabled(!busy && m_copies);
    m_cancelButton->setText(busy ? tr("Cancel") : tr("Close"));
    m_progress->setValue(0);
    if (busy) {
        m_progressDelay->start();
    } else {
        m_progressDelay->stop();
        m_progress->hide();
    }
}

void SCTrimWindow::tell(const QString &text, bool problem)
{
    m_status->setProperty("problem", problem);
    m_status->setStyleSheet(problem ? QStringLiteral("color: #F0A050;") : QString());
    m_status->setText(text);
}

QString SCTrimWindow::failureText(const SCMediaTrimResult &result) const
{
    using Failure = SCMediaTrimResult::Failure;
    switch (result.failure) {
    case Failure::None:
        return {};
    case Failure::Unreadable:
        return tr("The file \"%1\" cannot be read: it may be damaged or not a recording.")
                .arg(QFileInfo(m_path).fileName());
    case Failure::Unsupported:
        return tr("This file cannot be cut: its format is not supported.");
    case Failure::DiskFull:
        return tr("The disk is full. Nothing was saved: free some space and try again.");
    case Failure::NotWritable:
        return tr("The new file cannot be written there. Choose another folder or name.");
    case Failure::Cancelled:
        return tr("Cancelled. Nothing was saved.");
    case Failure::Failed:
        break;
    }
    return tr("The file could not be cut (%1). Nothing was saved.").arg(result.detail);
}

void SCTrimWindow::closeEvent(QCloseEvent *event)
{
    // The cut ends before the window goes: its partial file is removed by then.
    m_trimmer->cancel();
    if (m_player)
        m_player->stop();
    QMainWindow::closeEvent(event);
}
