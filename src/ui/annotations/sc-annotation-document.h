#pragma once

#include "sc-annotation.h"

#include <QImage>
#include <QObject>
#include <QUndoStack>
#include <QVector>

#include <memory>

// The marks of one screenshot, bottom to top, with the undo history of every change. A
// change replaces marks by new ones, so the history holds each state whole.
class SCAnnotationDocument : public QObject
{
    Q_OBJECT

public:
    using Annotations = QVector<std::shared_ptr<const SCAnnotation>>;

    explicit SCAnnotationDocument(QObject *parent = nullptr);

    const Annotations &annotations() const { return m_annotations; }
    int count() const { return int(m_annotations.size()); }
    const SCAnnotation *at(int index) const;
    QUndoStack *undoStack() { return &m_undoStack; }

    void add(std::unique_ptr<SCAnnotation> annotation);
    void replace(int index, std::unique_ptr<SCAnnotation> annotation, const QString &what);
    void remove(int index);
    void clear();

    // The topmost mark under `pos`, or -1.
    int annotationAt(const QPointF &pos) const;
    // The number a step at `index` shows: its place among the steps.
    int stepNumber(int index) const;
    // `picture` with the marks: painted in device pixels at its device pixel ratio, its
    // top-left at `origin` (global logical coordinates). A redaction rewrites the picture as
    // it is at its turn, with the marks below it. The mark at `hidden` is left out.
    QImage render(const QImage &picture, const QPointF &origin, int hidden = -1) const;
    // The marks without redactions, for a live view over the picture.
    void paint(QPainter &painter) const;

    // Called by the history only.
    void setAnnotations(const Annotations &annotations);

signals:
    void changed();

private:
    void change(const Annotations &after, const QString &what);

    Annotations m_annotations;
    QUndoStack m_undoStack;
};
