#include "sc-annotation-document.h"

#include "sc-annotation-change.h"

#include <QPainter>
#include <QTransform>

SCAnnotationDocument::SCAnnotationDocument(QObject *parent)
    : QObject(parent)
{ }

const SCAnnotation *SCAnnotationDocument::at(int index) const
{
    return index >= 0 && index < count() ? m_annotations.at(index).get() : nullptr;
}

void SCAnnotationDocument::change(const Annotations &after, const QString &what)
{
    m_undoStack.push(new SCAnnotationChange(this, m_annotations, after, what));
}

void SCAnnotationDocument::add(std::unique_ptr<SCAnnotation> annotation)
{
    if (!annotation)
        return;
    Annotations after = m_annotations;
    after.append(std::shared_ptr<const SCAnnotation>(std::move(annotation)));
    change(after, QStringLiteral("add"));
}

void SCAnnotationDocument::replace(int index, std::unique_ptr<SCAnnotation> annotation,
                                   const QString &what)
{
    if (!at(index) || !annotation)
        return;
    Annotations after = m_annotations;
    after[index] = std::shared_ptr<const SCAnnotation>(std::move(annotation));
    change(after, what);
}

void SCAnnotationDocument::remove(int index)
{
    if (!at(index))
        return;
    Annotations after = m_annotations;
    after.removeAt(index);
    change(after, QStringLiteral("remove"));
}

void SCAnnotationDocument::clear()
{
    if (!m_annotations.isEmpty())
        change(Annotations(), QStringLiteral("clear"));
}

void SCAnnotationDocument::setAnnotations(const Annotations &annotations)
{
    m_annotations = annotations;
    emit changed();
}

int SCAnnotationDocument::annotationAt(const QPointF &pos) const
{
    for (int i = count() - 1; i >= 0; --i) {
        if (m_annotations.at(i)->contains(pos))
            return i;
    }
    return -1;
}

int SCAnnotationDocument::stepNumber(int index) const
{
    int number = 0;
    for (int i = 0; i <= index && i < count(); ++i) {
        if (m_annotations.at(i)->tool() == SCAnnotation::Tool::Step)
            ++number;
    }
    return number;
}

QImage SCAnnotationDocument::render(const QImage &picture, const QPointF &origin, int hidden) const
{
    const qreal ratio = picture.devicePixelRatio();
    QImage image = picture.convertToFormat(
            picture.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    // Worked on in device pixels throughout; the ratio goes back on at the end.
    image.setDevicePixelRatio(1);
    const QTransform toDevice
            = QTransform::fromScale(ratio, ratio).translate(-origin.x(), -origin.y());
    auto painter = std::make_unique<QPainter>(&image);
    for (int i = 0; i < count(); ++i) {
        const SCAnnotation *annotation = m_annotations.at(i).get();
        if (i == hidden)
            continue;
        if (annotation->isRedaction()) {
            painter.reset();
            annotation->redact(image, toDevice);
            painter = std::make_unique<QPainter>(&image);
            continue;
        }
        painter->save();
        painter->setTransform(toDevice);
        annotation->paint(*painter, stepNumber(i));
        painter->restore();
    }
    painter.reset();
    image.setDevicePixelRatio(ratio);
    return image;
}

void SCAnnotationDocument::paint(QPainter &painter) const
{
    for (int i = 0; i < count(); ++i) {
        painter.save();
        m_annotations.at(i)->paint(painter, stepNumber(i));
        painter.restore();
    }
}
