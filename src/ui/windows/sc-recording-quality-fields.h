#pragma once

#include "sc-types.h"

#include <QObject>

#include <map>

class QComboBox;
class QGridLayout;
class QLabel;
class QSettings;
class QWidget;

// The frame rate and quality rows of the preferences' Recording page. Each video format keeps
// its own pair; the rows show the pair of the format the page has chosen, and keep the choices
// of every format until they are saved together.
class SCRecordingQualityFields : public QObject
{
    Q_OBJECT

public:
    // Adds two rows to `grid` from `row` on, with the page's field labels.
    SCRecordingQualityFields(QGridLayout *grid, int row, QWidget *page);

    void load(const QSettings &settings);
    void save(QSettings &settings) const;
    // An audio-only format has neither: the rows are switched off.
    void showFormat(OutputFormat format);

    QComboBox *fpsComboBox() const { return m_fps; }
    QComboBox *qualityComboBox() const { return m_quality; }

private:
    struct Choice
    {
        int fps = 30;
        RecordingQuality quality = RecordingQuality::Balanced;
    };

    void remember();

    QComboBox *m_fps = nullptr;
    QComboBox *m_quality = nullptr;
    QLabel *m_fpsLabel = nullptr;
    QLabel *m_qualityLabel = nullptr;
    std::map<OutputFormat, Choice> m_choices;
    OutputFormat m_shown = OutputFormat::MP4;
    bool m_filling = false;
};
