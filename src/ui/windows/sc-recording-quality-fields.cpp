#include "sc-recording-quality-fields.h"

#include "sc-settings.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QSettings>

namespace {

QLabel *fieldLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setProperty("field", true);
    return label;
}

bool isVideo(OutputFormat format)
{
    return !isAudioOnlyFormat(format);
}

} // namespace

SCRecordingQualityFields::SCRecordingQualityFields(QGridLayout *grid, int row, QWidget *page)
    : QObject(page)
    , m_fps(new QComboBox(page))
    , m_quality(new QComboBox(page))
    , m_encoder(new QComboBox(page))
{
    m_fpsLabel = fieldLabel(tr("Frame Rate"), page);
    m_qualityLabel = fieldLabel(tr("Quality"), page);
    m_encoderLabel = fieldLabel(tr("Encoder"), page);
    m_fps->setObjectName(QStringLiteral("recordingFpsComboBox"));
    m_quality->setObjectName(QStringLiteral("recordingQualityComboBox"));
    m_encoder->setObjectName(QStringLiteral("recordingEncoderComboBox"));
    grid->addWidget(m_fpsLabel, row, 0);
    grid->addWidget(m_fps, row, 1, 1, 2);
    grid->addWidget(m_qualityLabel, row + 1, 0);
    grid->addWidget(m_quality, row + 1, 1, 1, 2);
    grid->addWidget(m_encoderLabel, row + 2, 0);
    grid->addWidget(m_encoder, row + 2, 1, 1, 2);
    for (int i = 0; i < OUTPUT_FORMAT_COUNT; ++i) {
        const auto format = static_cast<OutputFormat>(i);
        if (isVideo(format))
            m_choices[format]
                    = {defaultRecordingFps(format), RecordingQuality::Balanced,
                       formatOffersHardwareEncoder(format) ? VideoEncoderChoice::Automatic
                                                           : VideoEncoderChoice::Software};
    }
    connect(m_fps, &QComboBox::currentIndexChanged, this, &SCRecordingQualityFields::remember);
    connect(m_quality, &QComboBox::currentIndexChanged, this, &SCRecordingQualityFields::remember);
    connect(m_encoder, &QComboBox::currentIndexChanged, this, &SCRecordingQualityFields::remember);
    showFormat(OutputFormat::MP4);
}

void SCRecordingQualityFields::setHardwareEncoders(const QList<VideoEncoderChoice> &kinds)
{
    m_hardware = kinds;
    showFormat(m_shown);
}

void SCRecordingQualityFields::load(const QSettings &settings)
{
    for (auto &[format, choice] : m_choices)
        choice = {SCSettings::recordingFps(settings, format),
                  SCSettings::recordingQuality(settings, format),
                  SCSettings::recordingEncoder(settings, format)};
    showFormat(m_shown);
}

void SCRecordingQualityFields::save(QSettings &settings) const
{
    for (const auto &[format, choice] : m_choices) {
        settings.setValue(SCSettings::recordingFpsKey(format), choice.fps);
        settings.setValue(SCSettings::recordingQualityKey(format),
                          RECORDING_QUALITY_STRINGS.at(choice.quality));
        if (formatOffersHardwareEncoder(format))
            settings.setValue(SCSettings::recordingEncoderKey(format),
                              VIDEO_ENCODER_STRINGS.at(choice.encoder));
    }
}

void SCRecordingQualityFields::showFormat(OutputFormat format)
{
    m_shown = format;
    const bool video = isVideo(format);
    for (QWidget *widget :
         {static_cast<QWidget *>(m_fps), static_cast<QWidget *>(m_quality),
          static_cast<QWidget *>(m_fpsLabel), static_cast<QWidget *>(m_qualityLabel)})
        widget->setEnabled(video);
    const Choice choice = video ? m_choices.at(format) : Choice {};
    m_filling = true;
    m_fps->clear();
    for (int fps : recordingFpsChoices(video ? format : OutputFormat::MP4))
        m_fps->addItem(tr("%1 fps").arg(fps), fps);
    m_fps->setCurrentIndex(m_fps->findData(choice.fps));
    m_quality->clear();
    m_quality->addItem(tr("Small file"), int(RecordingQuality::Small));
    m_quality->addItem(tr("Balanced"), int(RecordingQuality::Balanced));
    m_quality->addItem(tr("High quality"), int(RecordingQuality::High));
    if (formatOffersLossless(format))
        m_quality->addItem(tr("Lossless"), int(RecordingQuality::Lossless));
    m_quality->setCurrentIndex(m_quality->findData(int(choice.quality)));
    fillEncoders(format, choice.encoder);
    m_filling = false;
}

void SCRecordingQualityFields::fillEncoders(OutputFormat format, VideoEncoderChoice chosen)
{
    const bool hardware = formatOffersHardwareEncoder(format);
    m_encoder->setEnabled(hardware);
    m_encoderLabel->setEnabled(hardware);
    m_encoder->clear();
    if (hardware) {
        m_encoder->addItem(tr("Automatic"), int(VideoEncoderChoice::Automatic));
        m_encoder->setItemData(0,
                               tr("The graphics card's encoder where one works, the software "
                                  "one otherwise"),
                               Qt::ToolTipRole);
    }
    m_encoder->addItem(tr("Software"), int(VideoEncoderChoice::Software));
    if (hardware) {
        // A card chosen before and missing now stays chosen: it falls back when recording.
        QList<VideoEncoderChoice> kinds = m_hardware;
        if ((chosen == VideoEncoderChoice::VaApi || chosen == VideoEncoderChoice::Nvenc)
            && !kinds.contains(chosen))
            kinds.append(chosen);
        for (VideoEncoderChoice kind : kinds)
            m_encoder->addItem(kind == VideoEncoderChoice::VaApi ? tr("Hardware (VA-API)")
                                                                 : tr("Hardware (NVENC)"),
                               int(kind));
    }
    m_encoder->setCurrentIndex(qMax(0, m_encoder->findData(int(chosen))));
}

void SCRecordingQualityFields::remember()
{
    if (m_filling || !isVideo(m_shown) || m_fps->currentIndex() < 0 || m_quality->currentIndex() < 0
        || m_encoder->currentIndex() < 0)
        return;
    m_choices[m_shown] = {m_fps->currentData().toInt(),
                          static_cast<RecordingQuality>(m_quality->currentData().toInt()),
                          static_cast<VideoEncoderChoice>(m_encoder->currentData().toInt())};
}
