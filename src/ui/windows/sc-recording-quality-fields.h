#pragma once

#include "sc-types.h"

#include <QList>
#include <QObject>

#include <map>

class QComboBox;
class QGridLayout;
class QLabel;
class QSettings;
class QWidget;

// The frame rate, quality and encoder rows of the preferences' Recording page. Each video
// format keeps its own choices; the rows show those of the format the page has chosen, and
// keep the choices of every format until they are saved together.
class SCRecordingQualityFields : public QObject
{
    Q_OBJECT

public:
    // Adds three rows to `grid` from `row` on, with the page's field labels.
    SCRecordingQualityFields(QGridLayout *grid, int row, QWidget *page);

    // The graphics card's encoders that work on this machine, offered besides Automatic and
    // Software for the formats that can carry them.
    void setHardwareEncoders(const QList<VideoEncoderChoice> &kinds);

    void load(const QSettings &settings);
    void save(QSettings &settings) const;
    // An audio-only format has neither: the rows are switched off.
    void showFormat(OutputFormat format);

    QComboBox *fpsComboBox() const { return m_fps; }
    QComboBox *qualityComboBox() const { return m_quality; }
    QComboBox *encoderComboBox() const { return m_encoder; }

private:
    struct Choice
    {
        int fps = 30;
        RecordingQuality quality = RecordingQuality::Balanced;
        VideoEncoderChoice encoder = VideoEncoderChoice::Automatic;
    };

    void remember();
    void fillEncoders(OutputFormat format, VideoEncoderChoice chosen);

    QComboBox *m_fps = nullptr;
    QComboBox *m_quality = nullptr;
    QComboBox *m_encoder = nullptr;
    QLabel *m_fpsLabel = nullptr;
    QLabel *m_qualityLabel = nullptr;
    QLabel *m_encoderLabel = nullptr;
    QList<VideoEncoderChoice> m_hardware;
    std::map<OutputFormat, Choice> m_choices;
    OutputFormat m_shown = OutputFormat::MP4;
    bool m_filling = false;
};
