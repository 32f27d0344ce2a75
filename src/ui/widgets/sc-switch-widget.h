#pragma once

#include <QColor>
#include <QWidget>

class QPropertyAnimation;

// An animated on/off toggle: a rounded track with a round knob.
class SCSwitchWidget : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(bool checked READ isChecked WRITE setChecked NOTIFY checkedChanged)
    Q_PROPERTY(double position READ position WRITE setPosition)
    Q_PROPERTY(QColor activeColor READ activeColor WRITE setActiveColor)
    Q_PROPERTY(QColor inactiveColor READ inactiveColor WRITE setInactiveColor)

public:
    explicit SCSwitchWidget(QWidget *parent = nullptr);

    bool isChecked() const { return m_checked; }
    void setChecked(bool checked);

    double position() const { return m_position; }
    void setPosition(double position);

    QColor activeColor() const { return m_activeColor; }
    void setActiveColor(const QColor &color);
    QColor inactiveColor() const { return m_inactiveColor; }
    void setInactiveColor(const QColor &color);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // Drawing geometry for a widget of `size` at knob position `position`.
    static QRect trackRect(const QSize &size);
    static QRect knobRect(const QSize &size, double position);
    static QColor blend(const QColor &from, const QColor &to, double position);

signals:
    void checkedChanged(bool checked);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    bool m_checked = false;
    double m_position = 0.0;
    QPropertyAnimation *m_animation = nullptr;
    QColor m_activeColor {QStringLiteral("#BC382F")};
    QColor m_inactiveColor {QStringLiteral("#1E1E1E")};
};
