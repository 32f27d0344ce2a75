#include "sc-annotation.h"

#include "sc-arrow-annotation.h"
#include "sc-blur-annotation.h"
#include "sc-ellipse-annotation.h"
#include "sc-line-annotation.h"
#include "sc-marker-annotation.h"
#include "sc-pen-annotation.h"
#include "sc-pixelate-annotation.h"
#include "sc-rectangle-annotation.h"
#include "sc-step-annotation.h"
#include "sc-text-annotation.h"

#include <QHash>

namespace {

const QHash<SCAnnotation::Tool, QString> &names()
{
    using Tool = SCAnnotation::Tool;
    static const QHash<Tool, QString> table = {
            {Tool::None, QStringLiteral("none")},
            {Tool::Select, QStringLiteral("select")},
            {Tool::Pen, QStringLiteral("pen")},
            {Tool::Line, QStringLiteral("line")},
            {Tool::Arrow, QStringLiteral("arrow")},
            {Tool::Rectangle, QStringLiteral("rectangle")},
            {Tool::Ellipse, QStringLiteral("ellipse")},
            {Tool::Marker, QStringLiteral("marker")},
            {Tool::Text, QStringLiteral("text")},
            {Tool::Step, QStringLiteral("step")},
            {Tool::Pixelate, QStringLiteral("pixelate")},
            {Tool::Blur, QStringLiteral("blur")},
    };
    return table;
}

} // namespace

SCAnnotation::SCAnnotation(const QColor &color, int thickness)
    : m_color(color)
    , m_thickness(thickness)
{ }

SCAnnotation::~SCAnnotation() = default;

bool SCAnnotation::contains(const QPointF &pos) const
{
    return boundingRect()
            .adjusted(-PICK_TOLERANCE, -PICK_TOLERANCE, PICK_TOLERANCE, PICK_TOLERANCE)
            .contains(pos);
}

bool SCAnnotation::isRedaction() const
{
    return false;
}

void SCAnnotation::redact(QImage &, const QTransform &) const { }

bool SCAnnotation::hasFill() const
{
    return false;
}

QString SCAnnotation::toolName(Tool tool)
{
    return names().value(tool);
}

SCAnnotation::Tool SCAnnotation::toolFromName(const QString &name)
{
    return names().key(name, Tool::None);
}

std::unique_ptr<SCAnnotation> SCAnnotation::create(Tool tool, const QPointF &pos,
                                                   const QColor &color, int thickness, bool filled)
{
    std::unique_ptr<SCAnnotation> annotation;
    switch (tool) {
    case Tool::Pen:
        annotation = std::make_unique<SCPenAnnotation>(pos, color, thickness);
        break;
    case Tool::Marker:
        annotation = std::make_unique<SCMarkerAnnotation>(pos, color, thickness);
        break;
    case Tool::Line:
        annotation = std::make_unique<SCLineAnnotation>(pos, color, thickness);
        break;
    case Tool::Arrow:
        annotation = std::make_unique<SCArrowAnnotation>(pos, color, thickness);
        break;
    case Tool::Rectangle:
        annotation = std::make_unique<SCRectangleAnnotation>(pos, color, thickness);
        break;
    case Tool::Ellipse:
        annotation = std::make_unique<SCEllipseAnnotation>(pos, color, thickness);
        break;
    case Tool::Text:
        annotation = std::make_unique<SCTextAnnotation>(pos, color, thickness);
        break;
    case Tool::Step:
        annotation = std::make_unique<SCStepAnnotation>(pos, color, thickness);
        break;
    case Tool::Pixelate:
        annotation = std::make_unique<SCPixelateAnnotation>(pos, color, thickness);
        break;
    case Tool::Blur:
        annotation = std::make_unique<SCBlurAnnotation>(pos, color, thickness);
        break;
    case Tool::None:
    case Tool::Select:
        return nullptr;
    }
    annotation->setFilled(filled && annotation->hasFill());
    return annotation;
}
