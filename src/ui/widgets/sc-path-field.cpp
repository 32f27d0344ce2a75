#include "sc-path-field.h"

#include <QPainter>
#include <QStyleOptionFrame>

namespace {

// QLineEdit keeps this much room on each side of its text.
constexpr int TEXT_MARGIN = 2;

} // namespace

SCPathField::SCPathField(QWidget *parent)
    : QLineEdit(parent)
{
    setReadOnly(true);
    connect(this, &QLineEdit::textChanged, this, [this](const QString &path) {
        setToolTip(path);
        update();
    });
}

QRect SCPathField::textArea() const
{
    QStyleOptionFrame option;
    initStyleOption(&option);
    return style()
            ->subElementRect(QStyle::SE_LineEditContents, &option, this)
            .marginsRemoved(textMargins())
            .adjusted(TEXT_MARGIN, 0, -TEXT_MARGIN, 0);
}

QString SCPathField::shownText() const
{
    return fontMetrics().elidedText(text(), Qt::ElideMiddle, textArea().width());
}

void SCPathField::paintEvent(QPaintEvent *event)
{
    // An editable field scrolls its text like any other; only the shown path is shortened.
    if (!isReadOnly()) {
        QLineEdit::paintEvent(event);
        return;
    }
    QPainter painter(this);
    QStyleOptionFrame option;
    initStyleOption(&option);
    style()->drawPrimitive(QStyle::PE_PanelLineEdit, &option, &painter, this);
    painter.setPen(palette().color(QPalette::Active, QPalette::Text));
    painter.drawText(textArea(), Qt::AlignVCenter | Qt::AlignLeft, shownText());
}
