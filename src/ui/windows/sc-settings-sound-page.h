#pragma once

#include <QSettings>
#include <QStringList>
#include <QWidget>

class QComboBox;
class QLabel;
class QSlider;
class VolumeControl;

// The preferences' Sound page: the sound server's device and the gain of the microphone and
// of the system sound, each with a live level meter. Choices are stored at once and reported,
// so that they reach the sources while the page is open.
class SCSettingsSoundPage : public QWidget
{
    Q_OBJECT

public:
    enum Source { Microphone = 0, SystemSound = 1 };

    explicit SCSettingsSoundPage(QWidget *parent = nullptr);

    // The devices the sound server offers, ids beside their names; "default" comes first
    // whether or not the list holds it.
    void setDevices(Source source, const QStringList &names, const QStringList &ids);
    QComboBox *deviceCombo(Source source) const { return m_lines[source].device; }
    QSlider *gainSlider(Source source) const { return m_lines[source].gain; }
    VolumeControl *meter(Source source) const { return m_lines[source].meter; }

Q_SIGNALS:
    void deviceChosen(int source, const QString &deviceId);
    void gainChanged(int source, int percent);

private:
    struct Line
    {
        QComboBox *device = nullptr;
        QSlider *gain = nullptr;
        QLabel *gainText = nullptr;
        VolumeControl *meter = nullptr;
    };
    void buildLine(Source source, const QString &title, QWidget *page);

    QSettings m_settings;
    Line m_lines[2];
};
