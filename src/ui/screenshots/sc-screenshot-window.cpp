#include "sc-screenshot-window.h"

#include "sc-annotation-document.h"
#include "sc-annotation-editor.h"
#include "sc-annotation-text-edit.h"
#include "sc-screenshot-geometry.h"
#include "sc-screenshot.h"
#include "sc-settings.h"
#include "sc-text-annotation.h"

#include <QApplication>
#include <QFile>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QTimer>
#include <QUndoStack>
#include <QWindow>
#include <QtDebug>

using namespace SCScreenshotGeometry;

namespace {

const QString STYLE_SHEET = QStringLiteral(":/res/style/screenshot-window.qss");
const QColor BORDER_COLOR(0, 122, 204);
const QColor HANDLE_COLOR(255, 255, 255);
constexpr int KEYBOARD_GRAB_RETRY_MS = 20;
constexpr int KEYBOARD_GRAB_ATTEMPTS = 100;
constexpr int WHEEL_PREVIEW_MS = 700;

} // namespace

SCScreenshotWindow::SCScreenshotWindow(SCScreenshot *screenshot, QWidget *parent)
    : QWidget(parent)
    , m_bar(new SCAnnotationBar)
    , m_document(new SCAnnotationDocument(this))
    , m_editor(new SCAnnotationEditor(m_document, this))
    , m_screenshot(screenshot)
{
    setAttribute(Qt::WA_TranslucentBackground);
    // Past the window manager, which would otherwise frame and place it. Unlike the other
    // overlays this one takes the keyboard.
    setWindowFlags(Qt::WindowStaysOnTopHint | Qt::FramelessWindowHint | Qt::Tool
                   | Qt::NoDropShadowWindowHint | Qt::X11BypassWindowManagerHint);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_StaticContents);
    setMouseTracking(true);

    loadToolSettings();
    connectBar();
    updateButtonBarPosition();
    loadStyleSheet();
}

SCScreenshotWindow::~SCScreenshotWindow()
{
    releaseKeyboard();
    m_bar->deleteLater();
}

void SCScreenshotWindow::loadToolSettings()
{
    const QSettings settings(SCSettings::ORGANIZATION, SCSettings::APPLICATION);
    const QColor color(settings.value(SCSettings::SCREENSHOT_COLOR).toString());
    if (color.isValid())
        m_editor->setColor(color);
    m_editor->setThickness(settings.value(SCSettings::SCREENSHOT_THICKNESS, 3).toInt());
    m_editor->setFilled(settings.value(SCSettings::SCREENSHOT_FILLED, false).toBool());
    m_editor->setTool(
            SCAnnotation::toolFromName(settings.value(SCSettings::SCREENSHOT_TOOL).toString()));
    m_bar->setColor(m_editor->color());
    m_bar->setThickness(m_editor->thickness());
    m_bar->setFilled(m_editor->isFilled());
    m_bar->setTool(m_editor->tool());
}

void SCScreenshotWindow::saveToolSettings() const
{
    QSettings settings(SCSettings::ORGANIZATION, SCSettings::APPLICATION);
    settings.setValue(SCSettings::SCREENSHOT_TOOL, SCAnnotation::toolName(m_editor->tool()));
    settings.setValue(SCSettings::SCREENSHOT_COLOR, m_editor->color().name());
    settings.setValue(SCSettings::SCREENSHOT_THICKNESS, m_editor->thickness());
    settings.setValue(SCSettings::SCREENSHOT_FILLED, m_editor->isFilled());
}

void SCScreenshotWindow::connectBar()
{
    m_bar->installEventFilter(this);
    connect(m_bar, &SCAnnotationBar::toolChosen, m_editor, &SCAnnotationEditor::setTool);
    connect(m_bar, &SCAnnotationBar::colorChosen, m_editor, &SCAnnotationEditor::setColor);
    connect(m_bar, &SCAnnotationBar::thicknessChosen, m_editor, &SCAnnotationEditor::setThickness);
    connect(m_bar, &SCAnnotationBar::filledToggled, m_editor, &SCAnnotationEditor::setFilled);
    connect(m_bar, &SCAnnotationBar::customColorRequested, this,
            &SCScreenshotWindow::chooseCustomColor);
    connect(m_bar, &SCAnnotationBar::actionTriggered, this, &SCScreenshotWindow::onBarAction);

    connect(m_editor, &SCAnnotationEditor::toolChanged, m_bar, &SCAnnotationBar::setTool);
    connect(m_editor, &SCAnnotationEditor::colorChanged, m_bar, &SCAnnotationBar::setColor);
    connect(m_editor, &SCAnnotationEditor::thicknessChanged, m_bar, &SCAnnotationBar::setThickness);
    connect(m_editor, &SCAnnotationEditor::filledChanged, m_bar, &SCAnnotationBar::setFilled);
    connect(m_editor, &SCAnnotationEditor::toolChanged, this, [this] {
        saveToolSettings();
        updateCursor(QCursor::pos());
    });
    connect(m_editor, &SCAnnotationEditor::colorChanged, this,
            &SCScreenshotWindow::saveToolSettings);
    connect(m_editor, &SCAnnotationEditor::thicknessChanged, this,
            &SCScreenshotWindow::saveToolSettings);
    connect(m_editor, &SCAnnotationEditor::filledChanged, this,
            &SCScreenshotWindow::saveToolSettings);
    connect(m_editor, &SCAnnotationEditor::updateRequested, this, qOverload<>(&QWidget::update));
    connect(m_editor, &SCAnnotationEditor::textEditRequested, this,
            &SCScreenshotWindow::openTextEdit);
    connect(m_document, &SCAnnotationDocument::changed, this,
            &SCScreenshotWindow::invalidateRendering);
    connect(m_document->undoStack(), &QUndoStack::canUndoChanged, m_bar,
            &SCAnnotationBar::setCanUndo);
    connect(m_document->undoStack(), &QUndoStack::canRedoChanged, m_bar,
            &SCAnnotationBar::setCanRedo);
}

void SCScreenshotWindow::loadStyleSheet()
{
    QFile file(STYLE_SHEET);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        qWarning() << "Failed to load screenshot window stylesheet from:" << STYLE_SHEET
                   << "Error:" << file.errorString();
        return;
    }
    const QString style = QString::fromUtf8(file.readAll());
    setStyleSheet(style);
    m_bar->setStyleSheet(style);
}

QRect SCScreenshotWindow::screenGeometry() const
{
    QScreen *screen = QGuiApplication::screenAt(m_area.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry() : m_area;
}

void SCScreenshotWindow::setArea(const QRect &area)
{
    m_area = area;
    setGeometry(windowRect(area, screenGeometry()));
    updateButtonBarPosition();
    update();
}

QRect SCScreenshotWindow::getArea() const
{
    return m_area;
}

void SCScreenshotWindow::setFullScreen(bool fullScreen)
{
    m_fullScreen = fullScreen;
    updateButtonBarPosition();
}

void SCScreenshotWindow::show()
{
    if (isVisible() || !m_background.isNull() || !m_screenshot) {
        showNow();
        return;
    }
    // The still picture must not hold the area selector, the window picker or the main
    // window, which go away right after this window is asked to show.
    if (m_showPending)
        return;
    m_showPending = true;
    m_screenshot->captureAreaWhenSettled(screenGeometry(), this, [this](const QPixmap &screen) {
        if (!m_showPending)
            return;
        m_showPending = false;
        m_background = screen.toImage();
        m_backgroundOrigin = screenGeometry().topLeft();
        invalidateRendering();
        showNow();
    });
}

void SCScreenshotWindow::showNow()
{
    m_aside = false;
    QWidget::show();
    m_bar->show();
    updateButtonBarPosition();
    // The bar sits inside a full-screen selection, so it goes on top of it.
    raise();
    m_bar->raise();
    activateWindow();
    // The window manager may hand the focus elsewhere as the main window steps aside, and
    // a click on the window picker's choice focuses that window: the keys must still reach
    // the selection.
    m_grabAttempts = 0;
    QTimer::singleShot(0, this, &SCScreenshotWindow::grabKeyboardWhenMapped);
}

void SCScreenshotWindow::grabKeyboardWhenMapped()
{
    if (!isVisible() || !windowHandle() || m_keyboardGrabbed)
        return;
    if (windowHandle()->setKeyboardGrabEnabled(true)) {
        m_keyboardGrabbed = true;
        qApp->installEventFilter(this);
        return;
    }
    if (++m_grabAttempts < KEYBOARD_GRAB_ATTEMPTS)
        QTimer::singleShot(KEYBOARD_GRAB_RETRY_MS, this,
                           &SCScreenshotWindow::grabKeyboardWhenMapped);
    else
        qWarning() << "SCScreenshotWindow: the keyboard could not be grabbed";
}

void SCScreenshotWindow::releaseKeyboard()
{
    if (m_keyboardGrabbed) {
        qApp->removeEventFilter(this);
        if (windowHandle())
            windowHandle()->setKeyboardGrabEnabled(false);
    }
    m_keyboardGrabbed = false;
}

bool SCScreenshotWindow::hasKeyboard() const
{
    return m_keyboardGrabbed;
}

void SCScreenshotWindow::hide()
{
    m_showPending = false;
    releaseKeyboard();
    m_bar->hide();
    QWidget::hide();
}

void SCScreenshotWindow::updateButtonBarPosition()
{
    m_bar->move(barPosition(m_area, m_bar->size(), screenGeometry(), m_fullScreen));
    if (isVisible()) {
        m_bar->show();
        m_bar->raise();
    }
}

void SCScreenshotWindow::invalidateRendering()
{
    m_rendered = QImage();
    update();
}

const QImage &SCScreenshotWindow::renderedBackground() const
{
    if (m_rendered.isNull()) {
        // The mark being typed is shown by its text box instead.
        const int hidden = m_textEdit ? m_textEdit->index() : -1;
        m_rendered = m_document->render(m_background, m_backgroundOrigin, hidden);
    }
    return m_rendered;
}

void SCScreenshotWindow::paintFrame(QPainter &painter) const
{
    painter.setRenderHint(QPainter::Antialiasing, false);
    const QRect window = geometry();
    const QRect frame = frameRect(m_area, window);
    const QRegion band = QRegion(frame)
            - QRegion(frame.adjusted(BORDER_WIDTH, BORDER_WIDTH, -BORDER_WIDTH, -BORDER_WIDTH));
    for (const QRect &r : band)
        painter.fillRect(r, BORDER_COLOR);
    for (const QRect &handle : handleRects(m_area, window)) {
        painter.fillRect(handle, BORDER_COLOR);
        painter.fillRect(handle.adjusted(1, 1, -1, -1), HANDLE_COLOR);
    }
}

void SCScreenshotWindow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    if (!m_background.isNull()) {
        const QImage &picture = renderedBackground();
        const qreal ratio = picture.devicePixelRatio();
        const QPoint offset = geometry().topLeft() - m_backgroundOrigin;
        const QRectF source(offset.x() * ratio, offset.y() * ratio, width() * ratio,
                            height() * ratio);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(QRectF(rect()), picture, source);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    }
    // Everything below is placed in global coordinates.
    painter.translate(-geometry().topLeft());
    if (m_background.isNull())
        m_document->paint(painter);
    m_editor->paintOverlay(painter);
    if (!m_wheelPreview.isNull()) {
        // The new thickness, at the pointer.
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(Qt::white, 1));
        painter.setBrush(m_editor->color());
        const qreal r = m_editor->thickness() / 2.0 + 0.5;
        painter.drawEllipse(m_wheelPreview, r, r);
    }
    paintFrame(painter);
    if (!m_message.isEmpty()) {
        painter.resetTransform();
        QFont font = painter.font();
        font.setPixelSize(14);
        painter.setFont(font);
        const QRect box
                = painter.fontMetrics()
                          .boundingRect(m_message)
                          .adjusted(-10, -6, 10, 6)
                          .translated(m_area.topLeft() - geometry().topLeft() + QPoint(20, 30));
        painter.fillRect(box, QColor(0x28, 0x28, 0x2E, 230));
        painter.setPen(Qt::white);
        painter.drawText(box, Qt::AlignCenter, m_message);
    }
}

void SCScreenshotWindow::showMessage(const QString &text)
{
    m_message = text;
    update();
    QTimer::singleShot(2500, this, [this, text] {
        if (m_message == text) {
            m_message.clear();
            update();
        }
    });
}

void SCScreenshotWindow::updateCursor(const QPoint &globalPos)
{
    const int mode = dragModeAt(m_area, globalPos);
    const SCAnnotation::Tool tool = m_editor->tool();
    if (tool != SCAnnotation::Tool::None && !isResize(mode)) {
        if (tool == SCAnnotation::Tool::Select)
            setCursor(m_document->annotationAt(globalPos) >= 0 ? Qt::SizeAllCursor
                                                               : Qt::ArrowCursor);
        else
            setCursor(tool == SCAnnotation::Tool::Text ? Qt::IBeamCursor : Qt::CrossCursor);
        return;
    }
    switch (mode) {
    case TopLeft:
    case BottomRight:
        setCursor(Qt::SizeFDiagCursor);
        break;
    case TopRight:
    case BottomLeft:
        setCursor(Qt::SizeBDiagCursor);
        break;
    case LeftEdge:
    case RightEdge:
        setCursor(Qt::SizeHorCursor);
        break;
    case TopEdge:
    case BottomEdge:
        setCursor(Qt::SizeVerCursor);
        break;
    case Move:
        setCursor(Qt::SizeAllCursor);
        break;
    default:
        setCursor(Qt::ArrowCursor);
    }
}

void SCScreenshotWindow::startDrag(int mode, const QPoint &globalPos)
{
    m_dragMode = mode;
    m_pressPosition = globalPos;
    m_areaAtPress = m_area;
    m_boundsAtPress = screenGeometry();
}

void SCScreenshotWindow::dragTo(const QPoint &globalPos)
{
    // A selection made smaller than the minimum stays as small until it is enlarged.
    const QSize minimum(qMin(MINIMUM_SIZE, m_areaAtPress.width()),
                        qMin(MINIMUM_SIZE, m_areaAtPress.height()));
    setArea(dragged(m_dragMode, m_areaAtPress, globalPos - m_pressPosition, m_boundsAtPress,
                    minimum));
}

void SCScreenshotWindow::mousePressEvent(QMouseEvent *event)
{
    QWidget::mousePressEvent(event);
    // The keyboard belongs to the selection while it is open.
    activateWindow();
    if (m_textEdit) {
        // A click beside the text box ends the typing.
        finishTextEdit();
        return;
    }
    if (event->button() != Qt::LeftButton)
        return;
    const QPointF global = event->globalPosition();
    const int mode = dragModeAt(m_area, global.toPoint());
    const SCAnnotation::Tool tool = m_editor->tool();
    const bool onMark = tool == SCAnnotation::Tool::Select && m_document->annotationAt(global) >= 0;
    // The frame can still be resized from its edges whatever the tool; the tools draw
    // inside it.
    if (tool == SCAnnotation::Tool::None || isResize(mode)
        || (tool == SCAnnotation::Tool::Select && !onMark)) {
        // A click beside every mark also ends the choice of one.
        if (tool == SCAnnotation::Tool::Select)
            m_editor->press(global, event->modifiers());
        startDrag(mode, global.toPoint());
    } else if (mode != NoDrag) {
        m_editing = true;
        m_editor->press(global, event->modifiers());
    }
    m_pressed = true;
}

void SCScreenshotWindow::mouseMoveEvent(QMouseEvent *event)
{
    const QPointF global = event->globalPosition();
    if (m_pressed && (event->buttons() & Qt::LeftButton)) {
        if (m_editing)
            m_editor->move(global, event->modifiers());
        else if (m_dragMode != NoDrag)
            dragTo(global.toPoint());
    } else {
        updateCursor(global.toPoint());
    }
    QWidget::mouseMoveEvent(event);
}

void SCScreenshotWindow::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && m_pressed) {
        m_pressed = false;
        if (std::exchange(m_editing, false))
            m_editor->release(event->globalPosition(), event->modifiers());
        m_dragMode = NoDrag;
        updateCursor(event->globalPosition().toPoint());
    }
    QWidget::mouseReleaseEvent(event);
}

void SCScreenshotWindow::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && !m_textEdit
        && m_editor->doubleClick(event->globalPosition()))
        return;
    // Otherwise a second press like the first.
    mousePressEvent(event);
}

void SCScreenshotWindow::wheelEvent(QWheelEvent *event)
{
    if (m_editor->tool() == SCAnnotation::Tool::None) {
        QWidget::wheelEvent(event);
        return;
    }
    const int steps = event->angleDelta().y() / 120;
    if (steps == 0)
        return;
    m_editor->wheel(steps);
    m_wheelPreview = event->globalPosition();
    update();
    const QPointF shown = m_wheelPreview;
    QTimer::singleShot(WHEEL_PREVIEW_MS, this, [this, shown] {
        if (m_wheelPreview == shown) {
            m_wheelPreview = QPointF();
            update();
        }
    });
    event->accept();
}

bool SCScreenshotWindow::handleKey(QKeyEvent *event)
{
    // Typed text belongs to the text box.
    if (m_textEdit)
        return false;
    const int key = event->key();
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    const bool ctrlShift = modifiers == (Qt::ControlModifier | Qt::ShiftModifier);
    if (key == Qt::Key_Escape)
        cancelScreenshot();
    else if (key == Qt::Key_Return || key == Qt::Key_Enter || event->matches(QKeySequence::Save))
        saveScreenshot();
    else if (ctrlShift && key == Qt::Key_S)
        saveScreenshotAs();
    else if (event->matches(QKeySequence::Copy))
        copyToClipboard();
    else if (event->matches(QKeySequence::Undo))
        m_document->undoStack()->undo();
    else if (event->matches(QKeySequence::Redo) || (ctrlShift && key == Qt::Key_Z)
             || (modifiers == Qt::ControlModifier && key == Qt::Key_Y))
        m_document->undoStack()->redo();
    else if ((key == Qt::Key_Delete || key == Qt::Key_Backspace) && modifiers == Qt::NoModifier)
        m_editor->deleteSelected();
    else if (const SCAnnotation::Tool tool = SCAnnotationBar::toolForKey(key);
             tool != SCAnnotation::Tool::None && modifiers == Qt::NoModifier)
        m_editor->setTool(m_editor->tool() == tool ? SCAnnotation::Tool::None : tool);
    else
        return false;
    event->accept();
    return true;
}

void SCScreenshotWindow::keyPressEvent(QKeyEvent *event)
{
    if (!handleKey(event))
        QWidget::keyPressEvent(event);
}

void SCScreenshotWindow::moveEvent(QMoveEvent *event)
{
    QWidget::moveEvent(event);
    if (m_textEdit)
        m_textEdit->place(geometry().topLeft());
    update();
}

bool SCScreenshotWindow::eventFilter(QObject *watched, QEvent *event)
{
    // Held by the selection, the keyboard sends every key here, but Qt hands them on to
    // whichever window of the program has the focus, which the window manager may have
    // given to another one as the main window stepped aside.
    if (event->type() == QEvent::KeyPress && m_keyboardGrabbed && watched != windowHandle()
        && qobject_cast<QWindow *>(watched))
        return handleKey(static_cast<QKeyEvent *>(event));
    if (watched != m_bar)
        return QWidget::eventFilter(watched, event);
    // The bar's own background drags the selection.
    const auto *mouse = static_cast<QMouseEvent *>(event);
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        if (mouse->button() == Qt::LeftButton) {
            activateWindow();
            startDrag(Move, mouse->globalPosition().toPoint());
        }
        break;
    case QEvent::MouseMove:
        if (m_dragMode == Move && (mouse->buttons() & Qt::LeftButton)) {
            dragTo(mouse->globalPosition().toPoint());
            return true;
        }
        break;
    case QEvent::MouseButtonRelease:
        m_dragMode = NoDrag;
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void SCScreenshotWindow::drawOnScreenshot()
{
    const bool pen = m_editor->tool() == SCAnnotation::Tool::Pen;
    m_editor->setTool(pen ? SCAnnotation::Tool::None : SCAnnotation::Tool::Pen);
}

void SCScreenshotWindow::clearDraw()
{
    finishTextEdit();
    m_document->clear();
}

void SCScreenshotWindow::openTextEdit(int index, const QPointF &topLeft)
{
    finishTextEdit();
    const auto *old = dynamic_cast<const SCTextAnnotation *>(m_document->at(index));
    const int thickness = old ? old->thickness() : m_editor->thickness();
    const QColor color = old ? old->color() : m_editor->color();
    m_textEdit = new SCAnnotationTextEdit(index, topLeft, SCTextAnnotation::fontFor(thickness),
                                          color, this);
    if (old)
        m_textEdit->setPlainText(old->text());
    m_textEdit->place(geometry().topLeft());
    connect(m_textEdit, &SCAnnotationTextEdit::finished, this, [this](const QString &text) {
        SCAnnotationTextEdit *edit = m_textEdit;
        if (!edit)
            return;
        m_textEdit = nullptr;
        edit->hide();
        edit->deleteLater();
        m_editor->finishText(edit->index(), edit->topLeft(), text);
        invalidateRendering();
        setFocus();
    });
    m_textEdit->show();
    m_textEdit->setFocus();
    invalidateRendering();
}

void SCScreenshotWindow::finishTextEdit()
{
    if (m_textEdit)
        m_textEdit->finish();
}
