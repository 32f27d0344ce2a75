#pragma once

#include "sc-annotation-document.h"

#include <QColor>
#include <QObject>
#include <QPointF>

#include <functional>

#include <memory>

class QPainter;

// What the pointer does to the marks of a document: draws with the chosen tool, or with
// the select tool picks a mark to move, restyle or delete. Positions are global logical
// coordinates; the window that forwards the events paints `paintOverlay` on top.
class SCAnnotationEditor : public QObject
{
    Q_OBJECT

public:
    using Tool = SCAnnotation::Tool;
    static constexpr int MIN_THICKNESS = 1;
    static constexpr int MAX_THICKNESS = 20;

    explicit SCAnnotationEditor(SCAnnotationDocument *document, QObject *parent = nullptr);

    SCAnnotationDocument *document() const { return m_document; }
    Tool tool() const { return m_tool; }
    QColor color() const { return m_color; }
    int thickness() const { return m_thickness; }
    bool isFilled() const { return m_filled; }
    int selectedIndex() const { return m_selected; }
    bool isDragging() const { return m_drawing || m_moving; }

    void press(const QPointF &pos, Qt::KeyboardModifiers modifiers);
    void move(const QPointF &pos, Qt::KeyboardModifiers modifiers);
    void release(const QPointF &pos, Qt::KeyboardModifiers modifiers);
    // Opens a text mark under `pos` for editing; false when there is none.
    bool doubleClick(const QPointF &pos);
    // One wheel notch up or down.
    void wheel(int steps);
    // Removes the selected mark.
    bool deleteSelected();
    // Ends a text edit started by textEditRequested: `index` -1 adds a new mark.
    void finishText(int index, const QPointF &topLeft, const QString &text);

    // The mark being drawn and the selection's outline.
    void paintOverlay(QPainter &painter) const;

public slots:
    void setTool(SCAnnotation::Tool tool);
    // Also restyles the selected mark, as one step of the history.
    void setColor(const QColor &color);
    void setThickness(int thickness);
    void setFilled(bool filled);

signals:
    void toolChanged(SCAnnotation::Tool tool);
    void colorChanged(const QColor &color);
    void thicknessChanged(int thickness);
    void filledChanged(bool filled);
    // The view needs painting again.
    void updateRequested();
    // A text box is to be opened at `topLeft` for the mark at `index` (-1 for a new one).
    void textEditRequested(int index, const QPointF &topLeft);

private:
    void restyleSelected(const std::function<void(SCAnnotation &)> &restyle, const QString &what);
    void onDocumentChanged();

    SCAnnotationDocument *m_document;
    Tool m_tool = Tool::None;
    QColor m_color = Qt::red;
    int m_thickness = 3;
    bool m_filled = false;
    int m_selected = -1;
    std::unique_ptr<SCAnnotation> m_current;
    bool m_drawing = false;
    bool m_moving = false;
    QPointF m_pressPos;
    QPointF m_lastPos;
};
