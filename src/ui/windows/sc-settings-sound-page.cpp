#include "sc-settings-sound-page.h"

#include "sc-settings.h"
#include "volume-control.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QSlider>
#include <QVBoxLayout>

namespace {

const QString DEFAULT_DEVICE = QStringLiteral("default");
constexpr int MAX_GAIN_PERCENT = 200;

const QString &deviceKey(int source)
{
    return source == SCSettingsSoundPage::Microphone ? SCSettings::RECORDING_MIC_DEVICE
                                                     : SCSettings::RECORDING_SPEAKER_DEVICE;
}

const QString &gainKey(int source)
{
    return source == SCSettingsSoundPage::Microphone ? SCSettings::RECORDING_MIC_GAIN
                                                     : SCSettings::RECORDING_SPEAKER_GAIN;
}

} // namespace

SCSettingsSoundPage::SCSettingsSoundPage(QWidget *parent)
    : QWidget(parent)
    , m_settings(SCSettings::ORGANIZATION, SCSettings::APPLICATION)
{
    setObjectName(QStringLiteral("soundSettingsPage"));
    auto *layout = new QVBoxLayout(this);
    buildLine(Microphone, tr("Microphone"), this);
    buildLine(SystemSound, tr("System sound"), this);
    layout->addStretch();
}

void SCSettingsSoundPage::buildLine(Source source, const QString &title, QWidget *page)
{
    Line &line = m_lines[source];
    const QString prefix = source == Microphone ? QStringLiteral("mic") : QStringLiteral("speaker");
    auto *box = new QWidget(page);
    auto *grid = new QGridLayout(box);
    grid->setContentsMargins(0, 0, 0, 8);
    auto *heading = new QLabel(title, box);
    heading->setStyleSheet(QStringLiteral("font-weight: 600;"));
    grid->addWidget(heading, 0, 0, 1, 3);

    line.device = new QComboBox(box);
    line.device->setObjectName(prefix + QStringLiteral("DeviceComboBox"));
    grid->addWidget(new QLabel(tr("Device"), box), 1, 0);
    grid->addWidget(line.device, 1, 1, 1, 2);

    line.gain = new QSlider(Qt::Horizontal, box);
    line.gain->setObjectName(prefix + QStringLiteral("GainSlider"));
    line.gain->setRange(0, MAX_GAIN_PERCENT);
    line.gain->setValue(m_settings.value(gainKey(source), 100).toInt());
    line.gainText = new QLabel(box);
    line.gainText->setMinimumWidth(44);
    line.gainText->setText(QStringLiteral("%1 %").arg(line.gain->value()));
    grid->addWidget(new QLabel(tr("Gain"), box), 2, 0);
    grid->addWidget(line.gain, 2, 1);
    grid->addWidget(line.gainText, 2, 2);

    line.meter = new VolumeControl(box);
    line.meter->setObjectName(prefix + QStringLiteral("LevelMeter"));
    line.meter->setMinimumHeight(12);
    grid->addWidget(new QLabel(tr("Level"), box), 3, 0);
    grid->addWidget(line.meter, 3, 1, 1, 2);
    grid->setColumnStretch(1, 1);
    layout()->addWidget(box);

    connect(line.gain, &QSlider::valueChanged, this, [this, source](int percent) {
        m_lines[source].gainText->setText(QStringLiteral("%1 %").arg(percent));
        m_settings.setValue(gainKey(source), percent);
        emit gainChanged(source, percent);
    });
    connect(line.device, &QComboBox::activated, this, [this, source](int index) {
        const QString id = m_lines[source].device->itemData(index).toString();
        m_settings.setValue(deviceKey(source), id);
        emit deviceChosen(source, id);
    });
}

void SCSettingsSoundPage::setDevices(Source source, const QStringList &names,
                                     const QStringList &ids)
{
    QComboBox *combo = m_lines[source].device;
    const QSignalBlocker blocker(combo);
    combo->clear();
    combo->addItem(tr("Default"), DEFAULT_DEVICE);
    for (int i = 0; i < names.size() && i < ids.size(); ++i)
        if (ids.at(i) != DEFAULT_DEVICE)
            combo->addItem(names.at(i), ids.at(i));
    const QString saved = m_settings.value(deviceKey(source), DEFAULT_DEVICE).toString();
    const int index = combo->findData(saved);
    // A saved device that is not there now stays saved; the default is what is recorded.
    combo->setCurrentIndex(std::max(0, index));
}
