#include "sc-helpers.h"

#include <QHBoxLayout>
#include <QWidget>

namespace Helpers {

void centerTitleWidget(QHBoxLayout *layout)
{
    if (!layout)
        return;
    QWidget *titleWidget = nullptr;
    QWidget *menuWidget = nullptr;
    for (int i = 0; i < layout->count(); ++i) {
        QWidget *widget = layout->itemAt(i)->widget();
        if (!widget)
            continue;
        if (widget->objectName() == QLatin1String("titleWidget"))
            titleWidget = widget;
        else if (widget->objectName() == QLatin1String("menuWidget"))
            menuWidget = widget;
    }
    if (!titleWidget || !menuWidget)
        return;

    // Only the layout items go; the widgets stay with their parent.
    while (QLayoutItem *item = layout->takeAt(0))
        delete item;

    auto *balance = new QWidget(titleWidget->parentWidget());
    balance->setFixedWidth(menuWidget->sizeHint().width());
    layout->addWidget(balance);
    layout->addStretch(2);
    layout->addWidget(titleWidget);
    layout->addStretch(2);
    layout->addWidget(menuWidget);
}

} // namespace Helpers
