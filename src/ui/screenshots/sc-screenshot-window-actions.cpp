// What the selection's picture becomes: a file, the clipboard, a pinned window or text.

#include "sc-screenshot-window.h"

#include "sc-annotation-document.h"
#include "sc-annotation-editor.h"
#include "sc-pin-window.h"
#include "sc-screenshot.h"
#include "sc-text-recognizer.h"

#include <QClipboard>
#include <QColorDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPushButton>
#include <QUndoStack>
#include <QtDebug>

namespace {

// Words of the recognised text shown in the note.
constexpr int NOTE_WORDS = 6;

} // namespace

QPixmap SCScreenshotWindow::composedPicture() const
{
    if (m_background.isNull())
        return QPixmap();
    const qreal ratio = m_background.devicePixelRatio();
    const QRect local = m_area.translated(-m_backgroundOrigin);
    QImage picture = m_background.copy(
            QRect(QPointF(local.topLeft() * ratio).toPoint(), local.size() * ratio));
    picture.setDevicePixelRatio(ratio);
    return QPixmap::fromImage(m_document->render(picture, m_area.topLeft()));
}

void SCScreenshotWindow::captureSelection(std::function<void(const QPixmap &)> done)
{
    if (m_capturing)
        return;
    // The mark being typed goes in.
    finishTextEdit();
    // Without a picture the selection stays for another try; the failure has been reported.
    const auto deliver = [this, done](const QPixmap &picture) {
        if (!picture.isNull())
            done(picture);
        else if (!isVisible())
            show();
    };
    if (!m_background.isNull()) {
        deliver(composedPicture());
        return;
    }
    if (!m_screenshot)
        return;
    // Without a still picture the screen is read now; the bar, and over a full-screen
    // selection the frame too, would be in it.
    m_capturing = true;
    releaseKeyboard();
    m_bar->hide();
    QWidget::hide();
    m_screenshot->captureAreaWhenSettled(m_area, this, [this, deliver](const QPixmap &screen) {
        m_capturing = false;
        deliver(screen.isNull() ? screen
                                : QPixmap::fromImage(
                                        m_document->render(screen.toImage(), m_area.topLeft())));
    });
}

void SCScreenshotWindow::onBarAction(SCAnnotationBar::Action action)
{
    using Action = SCAnnotationBar::Action;
    switch (action) {
    case Action::Save:
        saveScreenshot();
        break;
    case Action::SaveAs:
        saveScreenshotAs();
        break;
    case Action::Copy:
        copyToClipboard();
        break;
    case Action::Pin:
        pinScreenshot();
        break;
    case Action::CopyText:
        copyText();
        break;
    case Action::Cancel:
        cancelScreenshot();
        break;
    case Action::Undo:
        finishTextEdit();
        m_document->undoStack()->undo();
        break;
    case Action::Redo:
        finishTextEdit();
        m_document->undoStack()->redo();
        break;
    case Action::Clear:
        clearDraw();
        break;
    }
}

void SCScreenshotWindow::withSelectionAside(const std::function<void()> &dialog)
{
    m_aside = true;
    releaseKeyboard();
    m_bar->hide();
    QWidget::hide();
    dialog();
    // The dialog's action may have closed the selection for good.
    if (m_aside)
        showNow();
}

void SCScreenshotWindow::chooseCustomColor()
{
    withSelectionAside([this] {
        const QColor color = QColorDialog::getColor(m_editor->color(), nullptr, tr("Colour"));
        if (color.isValid())
            m_editor->setColor(color);
    });
}

void SCScreenshotWindow::saveScreenshot()
{
    if (!m_screenshot)
        return;
    captureSelection([this](const QPixmap &picture) {
        if (m_screenshot->saveScreenshot(picture, QString())) {
            hide();
            emit screenshotSaved(m_screenshot->getLastSavedPath());
            return;
        }
        // The failure has been reported; the selection stays for another try.
        if (!isVisible())
            show();
    });
}

void SCScreenshotWindow::saveScreenshotAs()
{
    if (!m_screenshot)
        return;
    captureSelection([this](const QPixmap &picture) {
        withSelectionAside([this, picture] {
            const QString suggested = m_screenshot->getSaveDirectory() + QLatin1Char('/')
                    + m_screenshot->generateFileName();
            const QString path
                    = QFileDialog::getSaveFileName(nullptr, tr("Save Screenshot As"), suggested,
                                                   tr("Images (*.png *.jpg *.jpeg)"));
            if (path.isEmpty())
                return;
            QString file = path;
            if (QFileInfo(file).suffix().isEmpty())
                file += QLatin1Char('.') + QFileInfo(suggested).suffix();
            if (!m_screenshot->saveScreenshot(picture, file))
                return;
            m_aside = false;
            hide();
            emit screenshotSaved(m_screenshot->getLastSavedPath());
        });
    });
}

void SCScreenshotWindow::cancelScreenshot()
{
    emit screenshotCancelled();
    hide();
}

void SCScreenshotWindow::copyToClipboard()
{
    captureSelection([this](const QPixmap &picture) {
        SCScreenshot::copyToClipboard(picture);
        hide();
        emit screenshotCopied();
    });
}

void SCScreenshotWindow::pinScreenshot()
{
    captureSelection([this](const QPixmap &picture) {
        // Lives on by itself, closed by the person.
        auto *pin = new SCPinWindow(picture, m_area.topLeft());
        pin->show();
        hide();
        emit screenshotPinned();
    });
}

void SCScreenshotWindow::copyText()
{
    if (!m_recognizer) {
        m_recognizer = new SCTextRecognizer(this);
        // Either answer ends the wait.
        for (auto signal : {&SCTextRecognizer::finished, &SCTextRecognizer::failed})
            connect(m_recognizer, signal, this, [this] {
                unsetCursor();
                m_bar->actionButton(SCAnnotationBar::Action::CopyText)->setEnabled(true);
            });
        connect(m_recognizer, &SCTextRecognizer::finished, this, [this](const QString &text) {
            if (text.isEmpty()) {
                showMessage(tr("No text found in the selection"));
                return;
            }
            QGuiApplication::clipboard()->setText(text);
            hide();
            emit textCopied(text.simplified().section(QLatin1Char(' '), 0, NOTE_WORDS - 1));
        });
        connect(m_recognizer, &SCTextRecognizer::failed, this, [this](const QString &reason) {
            qWarning() << "Text recognition failed:" << reason;
            showMessage(tr("The text could not be recognised"));
        });
    }
    if (m_recognizer->isBusy())
        return;
    captureSelection([this](const QPixmap &picture) {
        if (!isVisible())
            show();
        setCursor(Qt::BusyCursor);
        m_bar->actionButton(SCAnnotationBar::Action::CopyText)->setEnabled(false);
        showMessage(tr("Recognising text..."));
        m_recognizer->recognize(picture.toImage());
    });
}
