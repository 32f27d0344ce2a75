#include "volume-control.h"

#include <QMutexLocker>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

const QColor BACKGROUND(40, 40, 46);
const QColor OUTLINE(30, 30, 30);
const QColor UNLIT(57, 57, 61);
const int MIN_DRAWN_WIDTH = 10;

} // namespace

VolumeControl::VolumeControl(QWidget *parent)
    : QWidget(parent)
{
    m_repaintTimer.setTimerType(Qt::PreciseTimer);
    m_repaintTimer.setInterval(40);
    // The picture changes only with the number of lit segments: an unchanged meter (silence,
    // a source switched off) costs no repaint.
    connect(&m_repaintTimer, &QTimer::timeout, this, [this] {
        if (litSegments() != m_paintedLit)
            update();
    });
    m_repaintTimer.start();
}

void VolumeControl::setChannelCount(int count)
{
    m_channelCount = count > MAX_CHANNELS ? MAX_CHANNELS : count;
}

void VolumeControl::setEnabled(bool enabled)
{
    m_enabled = enabled;
    update();
}

void VolumeControl::setLevels(const float *magnitude, const float *peak, const float *inputPeak)
{
    QMutexLocker locker(&m_levelLock);
    std::copy(magnitude, magnitude + MAX_CHANNELS, m_magnitude);
    std::copy(peak, peak + MAX_CHANNELS, m_peak);
    std::copy(inputPeak, inputPeak + MAX_CHANNELS, m_inputPeak);
}

void VolumeControl::resetLevels()
{
    {
        QMutexLocker locker(&m_levelLock);
        std::fill(std::begin(m_magnitude), std::end(m_magnitude), 0.0f);
        std::fill(std::begin(m_peak), std::end(m_peak), 0.0f);
        std::fill(std::begin(m_inputPeak), std::end(m_inputPeak), 0.0f);
    }
    update();
}

int VolumeControl::segmentCount(int width)
{
    return std::max(0, (width + SEGMENT_GAP) / (2 * SEGMENT_GAP));
}

double VolumeControl::segmentWidth(int width)
{
    const int count = segmentCount(width);
    if (count == 0)
        return 3.0;
    return double(width - (count - 1) * SEGMENT_GAP) / count;
}

int VolumeControl::levelPosition(float magnitude, int width, bool inverting, double minimumLevel)
{
    const long long inner = width - 4;
    const double raw = magnitude * (inner / minimumLevel);
    long long p;
    // Silence reads as -inf dB: clamp instead of an undefined conversion.
    if (std::isnan(raw))
        p = 0;
    else if (raw >= double(std::numeric_limits<int>::max()))
        p = std::numeric_limits<int>::max();
    else if (raw <= double(std::numeric_limits<int>::min()))
        p = std::numeric_limits<int>::min();
    else
        p = static_cast<long long>(raw);
    if (inverting)
        p = inner - p;
    return int(std::clamp<long long>(p, 0, std::max<long long>(0, inner)));
}

int VolumeControl::litCount(float magnitude, int width, bool inverting, double minimumLevel)
{
    if (width <= MIN_DRAWN_WIDTH)
        return 0;
    const int count = segmentCount(width);
    const int p = levelPosition(magnitude, width, inverting, minimumLevel);
    int lit = std::min(p / (2 * SEGMENT_GAP), count);
    if (magnitude <= -60.0f)
        lit = 0;
    else if (magnitude <= -40.0f)
        lit = std::max(1, int(lit * (magnitude + 60.0f) / 20.0f));
    return lit;
}

QColor VolumeControl::segmentColor(int index, int count)
{
    const double t = count > 0 ? double(index) / count : 0.0;
    if (t < 0.5)
        return QColor(89, 103, 242).lighter(int(100 + 40 * t));
    if (t < 0.75)
        return QColor(76, 175, 80).lighter(int(100 + 60 * (t - 0.5)));
    return QColor(255, 152, 0).darker(int(100 + 100 * (t - 0.75)));
}

int VolumeControl::litSegments() const
{
    float magnitude;
    {
        QMutexLocker locker(&m_levelLock);
        if (m_magnitude[0] == 0.0f && m_peak[0] == 0.0f && m_inputPeak[0] == 0.0f)
            return 0;
        magnitude = m_magnitude[0];
    }
    if (!m_enabled)
        return 0;
    return litCount(magnitude, width(), m_inverting, m_minimumLevel);
}

void VolumeControl::paintEvent(QPaintEvent *)
{
    m_paintedLit = litSegments();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRect r = rect();
    const int w = r.width();
    const int h = r.height();

    painter.setPen(Qt::NoPen);
    painter.setBrush(BACKGROUND);
    painter.drawRoundedRect(r, 4, 4);

    painter.setPen(QPen(OUTLINE, 1, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(r.adjusted(0, 0, -1, -1), 4, 4);

    if (w <= MIN_DRAWN_WIDTH)
        return;

    const int count = segmentCount(w);
    const double segment = segmentWidth(w);
    painter.setPen(Qt::NoPen);
    painter.setBrush(UNLIT);
    for (int i = 0; i < count; ++i)
        painter.drawRoundedRect(QRectF(i * (segment + SEGMENT_GAP), 2, segment, h - 3), 1, 1);

    const int lit = m_paintedLit;
    for (int i = 0; i < lit; ++i) {
        painter.setBrush(segmentColor(i, count));
        painter.drawRoundedRect(QRectF(i * (segment + SEGMENT_GAP), 2, segment, h - 3), 1, 1);
    }
}
