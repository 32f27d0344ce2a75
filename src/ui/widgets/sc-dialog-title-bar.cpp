#include "sc-dialog-title-bar.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

const QString CLOSE_ICON = QStringLiteral(":/res/forms/images/close.svg");
const QString CLOSE_ICON_HOVER = QStringLiteral(":/res/forms/images/close-white.svg");

class CloseIconHover : public QObject
{
public:
    using QObject::QObject;

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *button = static_cast<QPushButton *>(watched);
        if (event->type() == QEvent::Enter)
            button->setIcon(QIcon(CLOSE_ICON_HOVER));
        else if (event->type() == QEvent::Leave)
            button->setIcon(QIcon(CLOSE_ICON));
        return false;
    }
};

} // namespace

SCDialogTitleBar SCDialogTitleBar::create(const QString &text, const QString &titleObjectName,
                                          QWidget *parent)
{
    SCDialogTitleBar parts;
    parts.bar = new QWidget(parent);
    parts.bar->setObjectName(QStringLiteral("titleWidget"));
    parts.bar->setFixedHeight(36);
    auto *layout = new QHBoxLayout(parts.bar);
    layout->setContentsMargins(10, 0, 8, 0);
    parts.title = new QLabel(text, parts.bar);
    parts.title->setObjectName(titleObjectName);
    parts.closeButton = new QPushButton(parts.bar);
    parts.closeButton->setObjectName(QStringLiteral("closeBtn"));
    parts.closeButton->setIcon(QIcon(CLOSE_ICON));
    parts.closeButton->setToolTip(QObject::tr("Close Window"));
    parts.closeButton->setFixedSize(20, 20);
    parts.closeButton->installEventFilter(new CloseIconHover(parts.closeButton));
    // The spacing balances the close button, so the title sits in the middle of the window.
    layout->addSpacing(20);
    layout->addStretch();
    layout->addWidget(parts.title);
    layout->addStretch();
    layout->addWidget(parts.closeButton);
    return parts;
}

SCDialogTitleBar SCDialogTitleBar::createFrame(const QString &text, const QString &titleObjectName,
                                               QWidget *window)
{
    auto *central = new QWidget(window);
    central->setObjectName(QStringLiteral("centralwidget"));
    auto *column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    SCDialogTitleBar parts = create(text, titleObjectName, central);
    column->addWidget(parts.bar);
    parts.central = central;
    parts.column = column;
    return parts;
}
