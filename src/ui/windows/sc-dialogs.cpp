#include "sc-dialogs.h"

#include "sc-logger.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPalette>
#include <QTemporaryFile>
#include <QTextStream>

namespace {

QPalette darkPalette()
{
    QPalette palette;
    const QColor window(0x25, 0x25, 0x26);
    const QColor base(0x1e, 0x1e, 0x22);
    const QColor text(0xd0, 0xd4, 0xdc);
    const QColor button(0x37, 0x37, 0x3d);
    const QColor dim(0x6a, 0x6f, 0x78);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, QColor(0x28, 0x28, 0x2e));
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::PlaceholderText, dim);
    palette.setColor(QPalette::Button, button);
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::BrightText, Qt::white);
    palette.setColor(QPalette::Highlight, QColor(0xbc, 0x38, 0x2f));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::ToolTipBase, window);
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::Link, QColor(0xf3, 0x56, 0x27));
    // The bevels of frames, headers and scroll bars.
    palette.setColor(QPalette::Light, QColor(0x55, 0x55, 0x5c));
    palette.setColor(QPalette::Midlight, QColor(0x47, 0x47, 0x4d));
    palette.setColor(QPalette::Mid, QColor(0x30, 0x30, 0x35));
    palette.setColor(QPalette::Dark, QColor(0x1a, 0x1a, 0x1d));
    palette.setColor(QPalette::Shadow, Qt::black);
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(QPalette::Disabled, role, dim);
    return palette;
}

} // namespace

void SCDialogs::useDarkDialogs()
{
    const QPalette palette = darkPalette();
    for (const char *dialog : {"QMessageBox", "QFileDialog", "QInputDialog"})
        QApplication::setPalette(palette, dialog);
}

QString SCDialogs::messageBoxStyle()
{
    QFile file(QStringLiteral(":/res/style/message-box.qss"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QTextStream(&file).readAll();
}

void SCDialogs::warn(QWidget *parent, const QString &title, const QString &text)
{
    useDarkDialogs();
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok, parent);
    box.setStyleSheet(messageBoxStyle());
    box.exec();
}

bool SCDialogs::isWritableFolder(const QString &folder, QString *reason)
{
    const QFileInfo info(folder);
    if (folder.isEmpty() || !info.isDir()) {
        *reason = tr("The save folder \"%1\" is not a folder.").arg(folder);
        return false;
    }
    QTemporaryFile probe(folder + QStringLiteral("/.vistrel-XXXXXX"));
    if (!probe.open()) {
        *reason = tr("Vistrel cannot write to the save folder \"%1\".").arg(folder);
        return false;
    }
    return true;
}

QString SCDialogs::chooseSaveFolder(QWidget *parent, const QString &title, const QString &start)
{
    useDarkDialogs();
    QFileDialog dialog(parent, title, start);
    dialog.setFileMode(QFileDialog::Directory);
    // Qt's own dialog: the desktop's may be light and knows nothing of the program's look.
    dialog.setOptions(QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks
                      | QFileDialog::DontUseNativeDialog);
    // Words are enough on its buttons; the style's pictures do not fit the program's look.
    dialog.setStyleSheet(
            QStringLiteral("QDialogButtonBox { dialogbuttonbox-buttons-have-icons: 0; }"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    const QString folder = dialog.selectedFiles().constFirst();
    QString reason;
    if (!isWritableFolder(folder, &reason)) {
        SCLogger::instance()->warning(QStringLiteral("Save folder refused: %1").arg(reason));
        warn(parent, tr("Folder Not Usable"),
             reason + QLatin1Char('\n') + tr("Choose another folder."));
        return {};
    }
    return folder;
}
