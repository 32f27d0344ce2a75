#include "sc-display-choice.h"

#include "sc-logger.h"
#include "sc-settings.h"

#include <QGuiApplication>
#include <QScreen>

#include <cmath>

SCDisplayChoice::SCDisplayChoice(QWidget *parent)
    : QComboBox(parent)
{
    setObjectName(QStringLiteral("displayComboBox"));
    setSizeAdjustPolicy(QComboBox::AdjustToContents);
    connect(this, &QComboBox::activated, this, &SCDisplayChoice::onActivated);
    auto changed = [this] {
        refill();
        emit displayChanged();
    };
    connect(qApp, &QGuiApplication::screenAdded, this, changed);
    connect(qApp, &QGuiApplication::screenRemoved, this, changed);
    connect(qApp, &QGuiApplication::primaryScreenChanged, this, changed);
    refill();
}

SCCaptureSpace SCDisplayChoice::screenSpace(const QScreen *screen)
{
    if (!screen)
        return {};
    // Qt keeps a screen's origin in device pixels and scales only its size.
    const QRect g = screen->geometry();
    const qreal ratio = screen->devicePixelRatio();
    return {g,
            QRect(g.topLeft(),
                  QSize(int(std::lround(g.width() * ratio)), int(std::lround(g.height() * ratio)))),
            ratio};
}

SCCaptureSpace SCDisplayChoice::allScreensSpace()
{
    SCCaptureSpace all;
    for (const QScreen *screen : QGuiApplication::screens()) {
        const SCCaptureSpace one = screenSpace(screen);
        all.logical = all.logical.united(one.logical);
        all.device = all.device.united(one.device);
        // Only a full-screen recording takes the box, whole: its crop needs no ratio.
        all.ratio = std::max(all.ratio, one.ratio);
    }
    return all;
}

SCCaptureSpace SCDisplayChoice::spaceFor(const QRect &area)
{
    for (const QScreen *screen : QGuiApplication::screens())
        if (screen->geometry().contains(area))
            return screenSpace(screen);
    if (QGuiApplication::screens().size() > 1)
        return allScreensSpace();
    return screenSpace(QGuiApplication::primaryScreen());
}

SCCaptureSpace SCDisplayChoice::fullScreenSpace() const
{
    const QString chosen = m_settings.value(SCSettings::RECORDING_DISPLAY).toString();
    if (chosen == ALL_MONITORS)
        return allScreensSpace();
    for (const QScreen *screen : QGuiApplication::screens())
        if (!chosen.isEmpty() && screen->name() == chosen)
            return screenSpace(screen);
    if (!chosen.isEmpty() && chosen != m_reportedMissing) {
        SCLogger::instance()->warning(
                QStringLiteral("The chosen monitor \"%1\" is not connected; full-screen "
                               "recordings take the primary one")
                        .arg(chosen));
        m_reportedMissing = chosen;
    }
    return screenSpace(QGuiApplication::primaryScreen());
}

void SCDisplayChoice::refill()
{
    const QSignalBlocker blocker(this);
    clear();
    const QList<QScreen *> screens = QGuiApplication::screens();
    for (const QScreen *screen : screens) {
        const SCCaptureSpace space = screenSpace(screen);
        addItem(QStringLiteral("%1 (%2x%3)")
                        .arg(screen->name())
                        .arg(space.device.width())
                        .arg(space.device.height()),
                screen->name());
    }
    addItem(tr("All monitors"), ALL_MONITORS);
    const QString chosen = m_settings.value(SCSettings::RECORDING_DISPLAY).toString();
    int index = findData(chosen);
    if (index < 0)
        index = std::max(0, int(screens.indexOf(QGuiApplication::primaryScreen())));
    else
        m_reportedMissing.clear();
    setCurrentIndex(index);
    setVisible(screens.size() > 1);
}

void SCDisplayChoice::retranslate()
{
    setItemText(count() - 1, tr("All monitors"));
    setToolTip(tr("Monitor recorded in full screen"));
}

void SCDisplayChoice::onActivated(int index)
{
    m_settings.setValue(SCSettings::RECORDING_DISPLAY, itemData(index).toString());
    m_reportedMissing.clear();
    SCLogger::instance()->info(
            QStringLiteral("Full-screen recordings take %1").arg(itemData(index).toString()));
    emit displayChanged();
}
