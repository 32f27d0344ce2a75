#include "sc-switch-widget.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPropertyAnimation>

#include <algorithm>
#include <cmath>

namespace {
constexpr int MAX_KNOB = 10;
}

SCSwitchWidget::SCSwitchWidget(QWidget *parent)
    : QWidget(parent)
{
    m_animation = new QPropertyAnimation(this, "position", this);
    m_animation->setDuration(150);
    m_animation->setEasingCurve(QEasingCurve::InOutExpo);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
}

void SCSwitchWidget::setChecked(bool checked)
{
    if (checked == m_checked)
        return;
    m_checked = checked;
    // Starting from the current position lets a quick second toggle reverse smoothly.
    m_animation->stop();
    m_animation->setStartValue(m_position);
    m_animation->setEndValue(checked ? 1.0 : 0.0);
    m_animation->start();
    emit checkedChanged(checked);
    update();
}

void SCSwitchWidget::setPosition(double position)
{
    if (position == m_position)
        return;
    m_position = position;
    update();
}

void SCSwitchWidget::setActiveColor(const QColor &color)
{
    if (color == m_activeColor)
        return;
    m_activeColor = color;
    update();
}

void SCSwitchWidget::setInactiveColor(const QColor &color)
{
    if (color == m_inactiveColor)
        return;
    m_inactiveColor = color;
    update();
}

QSize SCSwitchWidget::sizeHint() const
{
    return {25, 12};
}

QSize SCSwitchWidget::minimumSizeHint() const
{
    return {25, 12};
}

QRect SCSwitchWidget::trackRect(const QSize &size)
{
    const int knob = std::min(size.height(), MAX_KNOB);
    const int track = static_cast<int>(knob * 0.8);
    return {2, (size.height() - track) / 2, size.width() - 4, track};
}

QRect SCSwitchWidget::knobRect(const QSize &size, double position)
{
    const int knob = std::min(size.height(), MAX_KNOB);
    const int x = static_cast<int>(2 + position * (size.width() - 4 - knob));
    const int y = std::max(0, std::min((size.height() - knob) / 2, size.height() - knob));
    return {x, y, knob, knob};
}

QColor SCSwitchWidget::blend(const QColor &from, const QColor &to, double position)
{
    const auto mix = [position](int a, int b) {
        return static_cast<int>(a * (1.0 - position) + b * position);
    };
    return QColor(mix(from.red(), to.red()), mix(from.green(), to.green()),
                  mix(from.blue(), to.blue()), 255);
}

void SCSwitchWidget::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);

    const QRect track = trackRect(size());
    const double radius = track.height() / 2;
    painter.setBrush(blend(m_inactiveColor, m_activeColor, m_position));
    painter.drawRoundedRect(track, radius, radius, Qt::AbsoluteSize);

    painter.setBrush(blend(QColor(0xAA, 0xAA, 0xAA), QColor(0xFF, 0xFF, 0xFF), m_position));
    painter.drawEllipse(knobRect(size(), m_position));
}

void SCSwitchWidget::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

void SCSwitchWidget::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        setChecked(!isChecked());
        event->accept();
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

void SCSwitchWidget::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    update();
}
