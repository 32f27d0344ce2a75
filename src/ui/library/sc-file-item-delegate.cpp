#include "sc-file-item-delegate.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QIcon>
#include <QPainter>
#include <QToolTip>

namespace {

const QColor ROW_COLOR(QStringLiteral("#28282E"));
const QColor ACTIVE_ROW_COLOR(QStringLiteral("#37373D"));
const QColor TEXT_COLOR(QStringLiteral("#99A1B0"));
const QColor ACTIVE_TEXT_COLOR(QStringLiteral("#FFFFFF"));
const QColor ICON_COLOR(QStringLiteral("#99A1B0"));
const QColor SEPARATOR_COLOR(QStringLiteral("#222222"));

constexpr int ROW_HEIGHT = 32;

} // namespace

SCFileManager::FileItemDelegate::FileItemDelegate(QObject *parent)
    : QStyledItemDelegate(parent)
{ }

SCFileManager::FileItemDelegate::~FileItemDelegate() = default;

QRect SCFileManager::FileItemDelegate::folderIconRect(const QRect &row)
{
    return QRect(QPoint(row.right() - 46, row.top() + 7),
                 QPoint(row.right() - 46 + 17, row.bottom() - 7));
}

QRect SCFileManager::FileItemDelegate::deleteIconRect(const QRect &row)
{
    return QRect(QPoint(row.right() - 20, row.top() + 8),
                 QPoint(row.right() - 20 + 15, row.bottom() - 8));
}

QRect SCFileManager::FileItemDelegate::trimIconRect(const QRect &row)
{
    return QRect(QPoint(row.right() - 72, row.top() + 8),
                 QPoint(row.right() - 72 + 16, row.bottom() - 8));
}

QPixmap SCFileManager::FileItemDelegate::tintedIcon(const QString &resource, const QSize &size)
{
    QPixmap pixmap = QIcon(resource).pixmap(size, QIcon::Normal, QIcon::Off);
    QPainter painter(&pixmap);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(pixmap.rect(), ICON_COLOR);
    return pixmap;
}

void SCFileManager::FileItemDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                                            const QModelIndex &index) const
{
    painter->save();
    const QRect row = option.rect;
    const bool selected = option.state & QStyle::State_Selected;
    const bool hovered = option.state & QStyle::State_MouseOver;

    painter->fillRect(row, ROW_COLOR);
    if (selected || hovered)
        painter->fillRect(row, ACTIVE_ROW_COLOR);

    QRect textRect = row;
    textRect.setLeft(row.left() + 8);
    const bool trimmable = index.data(TrimmableRole).toBool();
    textRect.setRight(row.right() - (trimmable ? 76 : 48));
    painter->setPen(selected || hovered ? ACTIVE_TEXT_COLOR : TEXT_COLOR);
    painter->drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft,
                      index.data(Qt::DisplayRole).toString());

    if (hovered) {
        const QRect folder = folderIconRect(row);
        const QRect remove = deleteIconRect(row);
        painter->drawPixmap(
                folder, tintedIcon(QStringLiteral(":/res/forms/images/folder.svg"), folder.size()));
        painter->drawPixmap(
                remove, tintedIcon(QStringLiteral(":/res/forms/images/delete.svg"), remove.size()));
        if (trimmable) {
            const QRect trim = trimIconRect(row);
            painter->drawPixmap(
                    trim, tintedIcon(QStringLiteral(":/res/forms/images/trim.svg"), trim.size()));
        }
    }

    painter->setPen(SEPARATOR_COLOR);
    painter->drawLine(row.bottomLeft(), row.bottomRight());
    painter->restore();
}

QSize SCFileManager::FileItemDelegate::sizeHint(const QStyleOptionViewItem &option,
                                                const QModelIndex &) const
{
    return QSize(option.rect.width(), ROW_HEIGHT);
}

bool SCFileManager::FileItemDelegate::helpEvent(QHelpEvent *event, QAbstractItemView *view,
                                                const QStyleOptionViewItem &option,
                                                const QModelIndex &index)
{
    if (event && view && event->type() == QEvent::ToolTip) {
        const QRect folder = folderIconRect(option.rect);
        const QRect remove = deleteIconRect(option.rect);
        if (folder.contains(event->pos())) {
            QToolTip::showText(event->globalPos(), tr("Show in Folder"), view->viewport(), folder);
            return true;
        }
        if (index.data(TrimmableRole).toBool()
            && trimIconRect(option.rect).contains(event->pos())) {
            QToolTip::showText(event->globalPos(), tr("Trim"), view->viewport(),
                               trimIconRect(option.rect));
            return true;
        }
        if (remove.contains(event->pos())) {
            QToolTip::showText(event->globalPos(), tr("Delete"), view->viewport(), remove);
            return true;
        }
        QToolTip::hideText();
    }
    return QStyledItemDelegate::helpEvent(event, view, option, index);
}
