#pragma once

#include <QPlainTextEdit>
#include <QPointF>

// The box in which a text mark is typed, over the spot where the mark will be painted; it
// grows with its text. Ctrl+Enter, Escape or leaving it ends the typing.
class SCAnnotationTextEdit : public QPlainTextEdit
{
    Q_OBJECT

public:
    // `index` is the mark being edited, -1 for a new one; `topLeft` in global coordinates.
    SCAnnotationTextEdit(int index, const QPointF &topLeft, const QFont &font, const QColor &color,
                         QWidget *parent);

    int index() const { return m_index; }
    QPointF topLeft() const { return m_topLeft; }
    // Places the box over `topLeft` in a parent whose top-left is at `parentOrigin`.
    void place(const QPoint &parentOrigin);

signals:
    // Once only.
    void finished(const QString &text);

public slots:
    void finish();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    void fitToText();

    int m_index;
    QPointF m_topLeft;
    bool m_finished = false;
};
