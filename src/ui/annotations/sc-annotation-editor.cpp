#include "sc-annotation-editor.h"

#include "sc-text-annotation.h"

#include <QPainter>

SCAnnotationEditor::SCAnnotationEditor(SCAnnotationDocument *document, QObject *parent)
    : QObject(parent)
    , m_document(document)
{
    connect(m_document, &SCAnnotationDocument::changed, this,
            &SCAnnotationEditor::onDocumentChanged);
}

void SCAnnotationEditor::onDocumentChanged()
{
    // An undo may take the selected mark away.
    if (m_selected >= m_document->count())
        m_selected = -1;
    emit updateRequested();
}

void SCAnnotationEditor::setTool(SCAnnotation::Tool tool)
{
    if (tool == m_tool)
        return;
    m_tool = tool;
    m_current.reset();
    m_drawing = m_moving = false;
    if (tool != Tool::Select)
        m_selected = -1;
    emit toolChanged(tool);
    emit updateRequested();
}

void SCAnnotationEditor::restyleSelected(const std::function<void(SCAnnotation &)> &restyle,
                                         const QString &what)
{
    const SCAnnotation *selected = m_document->at(m_selected);
    if (!selected)
        return;
    std::unique_ptr<SCAnnotation> copy = selected->clone();
    restyle(*copy);
    m_document->replace(m_selected, std::move(copy), what);
}

void SCAnnotationEditor::setColor(const QColor &color)
{
    if (!color.isValid())
        return;
    restyleSelected([&color](SCAnnotation &a) { a.setColor(color); }, QStringLiteral("colour"));
    if (color != m_color) {
        m_color = color;
        emit colorChanged(color);
    }
}

void SCAnnotationEditor::setThickness(int thickness)
{
    thickness = qBound(MIN_THICKNESS, thickness, MAX_THICKNESS);
    if (const SCAnnotation *selected = m_document->at(m_selected);
        selected && selected->thickness() != thickness)
        restyleSelected([thickness](SCAnnotation &a) { a.setThickness(thickness); },
                        QStringLiteral("thickness"));
    if (thickness != m_thickness) {
        m_thickness = thickness;
        emit thicknessChanged(thickness);
    }
}

void SCAnnotationEditor::setFilled(bool filled)
{
    if (const SCAnnotation *selected = m_document->at(m_selected);
        selected && selected->hasFill() && selected->isFilled() != filled)
        restyleSelected([filled](SCAnnotation &a) { a.setFilled(filled); }, QStringLiteral("fill"));
    if (filled != m_filled) {
        m_filled = filled;
        emit filledChanged(filled);
    }
}

void SCAnnotationEditor::press(const QPointF &pos, Qt::KeyboardModifiers)
{
    m_pressPos = m_lastPos = pos;
    if (m_tool == Tool::Select) {
        m_selected = m_document->annotationAt(pos);
        m_moving = m_selected >= 0;
        if (m_moving)
            m_current = m_document->at(m_selected)->clone();
        emit updateRequested();
        return;
    }
    if (m_tool == Tool::Text) {
        // A click on a text opens it again; elsewhere a new one starts.
        int index = m_document->annotationAt(pos);
        if (const SCAnnotation *hit = m_document->at(index); hit && hit->tool() == Tool::Text)
            emit textEditRequested(index, static_cast<const SCTextAnnotation *>(hit)->topLeft());
        else
            emit textEditRequested(-1, pos);
        return;
    }
    m_current = SCAnnotation::create(m_tool, pos, m_color, m_thickness, m_filled);
    m_drawing = m_current != nullptr;
    emit updateRequested();
}

void SCAnnotationEditor::move(const QPointF &pos, Qt::KeyboardModifiers modifiers)
{
    if (m_drawing && m_current) {
        m_current->dragTo(pos, modifiers & Qt::ShiftModifier);
    } else if (m_moving && m_current) {
        m_current->translate(pos - m_lastPos);
    } else {
        return;
    }
    m_lastPos = pos;
    emit updateRequested();
}

void SCAnnotationEditor::release(const QPointF &pos, Qt::KeyboardModifiers modifiers)
{
    if (m_drawing && m_current) {
        m_current->dragTo(pos, modifiers & Qt::ShiftModifier);
        m_drawing = false;
        if (!m_current->isEmpty())
            m_document->add(std::move(m_current));
        m_current.reset();
    } else if (m_moving && m_current) {
        m_current->translate(pos - m_lastPos);
        m_moving = false;
        // A click without a drag only selects.
        if (pos != m_pressPos)
            m_document->replace(m_selected, std::move(m_current), QStringLiteral("move"));
        m_current.reset();
    }
    emit updateRequested();
}

bool SCAnnotationEditor::doubleClick(const QPointF &pos)
{
    const int index = m_document->annotationAt(pos);
    const SCAnnotation *hit = m_document->at(index);
    if (!hit || hit->tool() != Tool::Text)
        return false;
    m_current.reset();
    m_drawing = m_moving = false;
    emit textEditRequested(index, static_cast<const SCTextAnnotation *>(hit)->topLeft());
    return true;
}

void SCAnnotationEditor::finishText(int index, const QPointF &topLeft, const QString &text)
{
    const SCAnnotation *old = m_document->at(index);
    if (old && old->tool() == Tool::Text) {
        const auto *oldText = static_cast<const SCTextAnnotation *>(old);
        if (oldText->text() == text)
            return;
        if (text.trimmed().isEmpty()) {
            m_document->remove(index);
            return;
        }
        auto edited = std::make_unique<SCTextAnnotation>(*oldText);
        edited->setText(text);
        m_document->replace(index, std::move(edited), QStringLiteral("edit"));
        return;
    }
    if (text.trimmed().isEmpty())
        return;
    auto added = std::make_unique<SCTextAnnotation>(topLeft, m_color, m_thickness);
    added->setText(text);
    m_document->add(std::move(added));
}

void SCAnnotationEditor::wheel(int steps)
{
    setThickness(m_thickness + steps);
}

bool SCAnnotationEditor::deleteSelected()
{
    if (!m_document->at(m_selected))
        return false;
    m_document->remove(std::exchange(m_selected, -1));
    return true;
}

void SCAnnotationEditor::paintOverlay(QPainter &painter) const
{
    if (m_current) {
        painter.save();
        m_current->paint(painter, m_document->stepNumber(m_document->count() - 1) + 1);
        painter.restore();
    }
    const SCAnnotation *selected
            = m_moving && m_current ? m_current.get() : m_document->at(m_selected);
    if (m_tool == Tool::Select && selected) {
        painter.save();
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setBrush(Qt::NoBrush);
        const QRectF box = selected->boundingRect().adjusted(-3, -3, 3, 3);
        painter.setPen(QPen(Qt::white, 1));
        painter.drawRect(box);
        painter.setPen(QPen(QColor(0, 122, 204), 1, Qt::DashLine));
        painter.drawRect(box);
        painter.restore();
    }
}
