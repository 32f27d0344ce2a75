#include "sc-file-delete-dialog.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

namespace {

constexpr int LONGEST_NAME = 60;

QString shortName(const QString &path)
{
    const QString name = QFileInfo(path).fileName();
    if (name.size() <= LONGEST_NAME)
        return name;
    const int half = LONGEST_NAME / 2 - 1;
    return name.left(half) + QChar(0x2026) + name.right(half);
}

} // namespace

SCFileDeleteDialog::Choice SCFileDeleteDialog::ask(const QStringList &paths, const QString &style)
{
    if (paths.isEmpty())
        return Choice::Cancel;
    const bool one = paths.size() == 1;
    QStringList names;
    for (qsizetype i = 0; i < paths.size() && i < LISTED_NAMES; ++i)
        names << shortName(paths.at(i));
    if (paths.size() > LISTED_NAMES)
        names << tr("and %1 more").arg(paths.size() - LISTED_NAMES);

    QMessageBox box;
    box.setIcon(QMessageBox::Question);
    box.setStyleSheet(style);
    box.setWindowTitle(tr("Delete"));
    auto *fromDisk = new QCheckBox(one ? tr("Delete file from disk as well.")
                                       : tr("Delete files from disk as well."));
    box.setCheckBox(fromDisk);
    QPushButton *deleteButton = box.addButton(QString(), QMessageBox::ActionRole);
    deleteButton->setObjectName(QStringLiteral("deleteButton"));
    box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(QMessageBox::Cancel);

    const auto describe = [&](bool disk) {
        const QString count = QString::number(paths.size());
        if (one) {
            box.setText(disk ? tr("Delete \"%1\" from the disk?").arg(names.first())
                             : tr("Remove \"%1\" from the list?").arg(names.first()));
            box.setInformativeText(disk ? tr("This cannot be undone.")
                                        : tr("The file stays on the disk."));
        } else {
            box.setText(disk ? tr("Delete %1 files from the disk?").arg(count)
                             : tr("Remove %1 files from the list?").arg(count));
            box.setInformativeText(
                    names.join(QLatin1Char('\n')) + QStringLiteral("\n\n")
                    + (disk ? tr("This cannot be undone.") : tr("The files stay on the disk.")));
        }
        deleteButton->setText(disk ? tr("Delete from Disk") : tr("Remove from List"));
    };
    describe(false);
    QObject::connect(fromDisk, &QCheckBox::toggled, &box, describe);
    box.exec();
    if (box.clickedButton() != deleteButton)
        return Choice::Cancel;
    return fromDisk->isChecked() ? Choice::DeleteFromDisk : Choice::RemoveFromList;
}
