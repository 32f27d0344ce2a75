#include "sc-annotation-text-edit.h"

#include <QFontMetricsF>
#include <QKeyEvent>
#include <QTextDocument>

namespace {

constexpr int MIN_WIDTH = 40;
// Room for the caret at the end of the longest line.
constexpr int CARET_ROOM = 12;

} // namespace

SCAnnotationTextEdit::SCAnnotationTextEdit(int index, const QPointF &topLeft, const QFont &font,
                                           const QColor &color, QWidget *parent)
    : QPlainTextEdit(parent)
    , m_index(index)
    , m_topLeft(topLeft)
{
    setObjectName(QStringLiteral("annotationTextEdit"));
    setFont(font);
    // The typed text sits exactly where the mark will be painted.
    document()->setDocumentMargin(0);
    setFrameShape(QFrame::NoFrame);
    setContentsMargins(0, 0, 0, 0);
    setViewportMargins(0, 0, 0, 0);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setStyleSheet(QStringLiteral("QPlainTextEdit { background: transparent; color: %1;"
                                 " border: 1px dashed rgb(0, 122, 204); }")
                          .arg(color.name()));
    connect(this, &QPlainTextEdit::textChanged, this, &SCAnnotationTextEdit::fitToText);
    fitToText();
}

void SCAnnotationTextEdit::place(const QPoint &parentOrigin)
{
    move((m_topLeft - QPointF(parentOrigin)).toPoint() - QPoint(1, 1));
}

void SCAnnotationTextEdit::fitToText()
{
    const QFontMetricsF metrics(font());
    QSizeF size(0, 0);
    const QStringList lines = toPlainText().split(QLatin1Char('\n'));
    for (const QString &line : lines)
        size.setWidth(qMax(size.width(), metrics.horizontalAdvance(line)));
    size.setHeight(metrics.lineSpacing() * qMax<qsizetype>(1, lines.size()));
    // One pixel of border on each side.
    resize(qMax(MIN_WIDTH, qCeil(size.width()) + CARET_ROOM) + 2, qCeil(size.height()) + 4);
}

void SCAnnotationTextEdit::finish()
{
    if (std::exchange(m_finished, true))
        return;
    emit finished(toPlainText());
}

void SCAnnotationTextEdit::keyPressEvent(QKeyEvent *event)
{
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (event->key() == Qt::Key_Escape || (enter && (event->modifiers() & Qt::ControlModifier))) {
        finish();
        event->accept();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
    // Nothing typed here reaches the selection behind it.
    event->accept();
}

void SCAnnotationTextEdit::focusOutEvent(QFocusEvent *event)
{
    QPlainTextEdit::focusOutEvent(event);
    // A menu or the bar taking focus for a moment does not end the typing.
    if (event->reason() == Qt::MouseFocusReason || event->reason() == Qt::TabFocusReason)
        finish();
}
