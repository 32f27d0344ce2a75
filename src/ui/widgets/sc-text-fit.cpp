#include "sc-text-fit.h"

#include <QComboBox>
#include <QFontMetrics>
#include <QLayout>
#include <QStyleOptionComboBox>
#include <QWidget>

int SCTextFit::boldExtra(const QWidget *widget, const QString &text)
{
    QFont bold = widget->font();
    bold.setWeight(QFont::DemiBold);
    return qMax(0,
                QFontMetrics(bold).horizontalAdvance(text)
                        - widget->fontMetrics().horizontalAdvance(text));
}

int SCTextFit::widestHint(const QList<QWidget *> &widgets, int floor)
{
    int widest = floor;
    for (QWidget *widget : widgets) {
        widget->ensurePolished();
        widest = qMax(widest, widget->sizeHint().width());
    }
    return widest;
}

void SCTextFit::equalWidths(const QList<QWidget *> &widgets, int floor)
{
    // Measured without the widths set last time, which would only ever grow.
    for (QWidget *widget : widgets)
        widget->setMinimumWidth(0);
    const int width = widestHint(widgets, floor);
    for (QWidget *widget : widgets)
        widget->setMinimumWidth(width);
}

void SCTextFit::fitComboToItems(QComboBox *combo, int floor)
{
    combo->ensurePolished();
    QStyleOptionComboBox option;
    option.initFrom(combo);
    option.editable = combo->isEditable();
    option.frame = combo->hasFrame();
    option.rect = QRect(0, 0, 1000, combo->height());
    // What the frame, padding and arrow take, whatever the width.
    const int chrome = 1000
            - combo->style()
                      ->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField,
                                       combo)
                      .width();
    int widest = 0;
    for (int i = 0; i < combo->count(); ++i)
        widest = qMax(widest, combo->fontMetrics().horizontalAdvance(combo->itemText(i)));
    // The label is drawn a pixel in from each side of its field.
    combo->setMinimumWidth(qMax(floor, widest + chrome + 2));
}

void SCTextFit::passSizeUp(QWidget *widget)
{
    for (QWidget *w = widget; w; w = w->parentWidget()) {
        w->updateGeometry();
        if (QLayout *layout = w->layout())
            layout->invalidate();
        if (w->isWindow())
            break;
    }
}
