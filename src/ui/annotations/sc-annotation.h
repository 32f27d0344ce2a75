#pragma once

#include <QColor>
#include <QPointF>
#include <QRectF>
#include <QString>

#include <memory>

class QImage;
class QPainter;
class QTransform;

// One mark on a screenshot, kept as an object until the picture is saved so that it can be
// moved, restyled, removed and undone. Positions are global logical coordinates: a mark
// stays on what it was drawn on when the selection moves.
class SCAnnotation
{
public:
    enum class Tool {
        None,
        Select,
        Pen,
        Line,
        Arrow,
        Rectangle,
        Ellipse,
        Marker,
        Text,
        Step,
        Pixelate,
        Blur,
    };

    SCAnnotation(const QColor &color, int thickness);
    virtual ~SCAnnotation();

    virtual Tool tool() const = 0;
    virtual std::unique_ptr<SCAnnotation> clone() const = 0;
    // The creating drag has reached `pos`; `constrained` (Shift) keeps squares and circles.
    virtual void dragTo(const QPointF &pos, bool constrained) = 0;
    // Too small to keep once the drag ends.
    virtual bool isEmpty() const = 0;
    // `stepNumber` is the mark's place among the numbered steps, counted from 1.
    virtual void paint(QPainter &painter, int stepNumber) const = 0;
    virtual QRectF boundingRect() const = 0;
    virtual bool contains(const QPointF &pos) const;
    virtual void translate(const QPointF &delta) = 0;
    // A redaction rewrites the pixels under it instead of painting over them.
    virtual bool isRedaction() const;
    // `image` in device pixels; `toDevice` maps global logical coordinates onto it.
    virtual void redact(QImage &image, const QTransform &toDevice) const;
    virtual bool hasFill() const;

    QColor color() const { return m_color; }
    void setColor(const QColor &color) { m_color = color; }
    int thickness() const { return m_thickness; }
    void setThickness(int thickness) { m_thickness = thickness; }
    bool isFilled() const { return m_filled; }
    void setFilled(bool filled) { m_filled = filled; }

    // The tools' stable names, as stored in the settings.
    static QString toolName(Tool tool);
    static Tool toolFromName(const QString &name);
    // A new mark of `tool` started at `pos`; null for the tools that make none.
    static std::unique_ptr<SCAnnotation> create(Tool tool, const QPointF &pos, const QColor &color,
                                                int thickness, bool filled);

protected:
    // How far from a thin mark a click still picks it.
    static constexpr qreal PICK_TOLERANCE = 6;

private:
    QColor m_color;
    int m_thickness;
    bool m_filled = false;
};
