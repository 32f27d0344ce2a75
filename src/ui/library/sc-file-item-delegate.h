#pragma once

#include "sc-file-manager.h"

#include <QStyledItemDelegate>

// Paints a library row: dark background, file name, and on hover the folder, trim and delete icons.
class SCFileManager::FileItemDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    explicit FileItemDelegate(QObject *parent = nullptr);
    ~FileItemDelegate() override;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override;

    // The hover icons of a row, shared by painting and click handling.
    static QRect folderIconRect(const QRect &row);
    static QRect deleteIconRect(const QRect &row);
    // Shown on recordings only.
    static QRect trimIconRect(const QRect &row);

private:
    static QPixmap tintedIcon(const QString &resource, const QSize &size);
};
