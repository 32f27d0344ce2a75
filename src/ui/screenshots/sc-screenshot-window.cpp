#include "sc-screenshot-window.h"

#include "sc-compositor-watcher.h"
#include "sc-screenshot-geometry.h"
#include "sc-screenshot.h"

#include <QApplication>
#include <QFile>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHash>
#include <QIcon>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <QtDebug>

using namespace SCScreenshotGeometry;

namespace {

const QString STYLE_SHEET = QStringLiteral(":/res/style/screenshot-window.qss");
const QColor BORDER_COLOR(0, 122, 204);
const QColor HANDLE_COLOR(255, 255, 255);
constexpr int BUTTON_SIZE = 30;
constexpr int KEYBOARD_GRAB_RETRY_MS = 20;
constexpr int KEYBOARD_GRAB_ATTEMPTS = 100;

QString icon(const QString &name)
{
    return QStringLiteral(":/res/forms/images/%1.svg").arg(name);
}

bool isCompositing()
{
    return SCCompositorWatcher::instance()->isCompositing();
}

} // namespace

SCScreenshotWindow::SCScreenshotWindow(SCScreenshot *screenshot, QWidget *parent)
    : QWidget(parent)
    , m_screenshot(screenshot)
{
    setAttribute(Qt::WA_TranslucentBackground);
    // Past the window manager, which would otherwise frame and place it. Unlike the other
    // overlays this one takes the keyboard (Escape, Return, Ctrl+C).
    setWindowFlags(Qt::WindowStaysOnTopHint | Qt::FramelessWindowHint | Qt::Tool
                   | Qt::NoDropShadowWindowHint | Qt::X11BypassWindowManagerHint);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_MacAlwaysShowToolWindow);
    setAttribute(Qt::WA_StaticContents);
    setMouseTracking(true);

    createButtonBar();
    updateButtonBarPosition();
    loadStyleSheet();

    connect(SCCompositorWatcher::instance(), &SCCompositorWatcher::compositingChanged, this,
            &SCScreenshotWindow::onCompositingChanged);
}

SCScreenshotWindow::~SCScreenshotWindow()
{
    releaseKeyboard();
    m_buttonBar->deleteLater();
}

void SCScreenshotWindow::createButtonBar()
{
    const Qt::WindowFlags flags = Qt::WindowStaysOnTopHint | Qt::FramelessWindowHint | Qt::Tool
            | Qt::NoDropShadowWindowHint | Qt::WindowDoesNotAcceptFocus
            | Qt::X11BypassWindowManagerHint;
    m_buttonBar = new QWidget(nullptr, flags);
    m_buttonBar->setObjectName(QStringLiteral("buttonBackground"));
    m_buttonBar->setAttribute(Qt::WA_ShowWithoutActivating);
    m_buttonBar->setAttribute(Qt::WA_MacAlwaysShowToolWindow);
    m_buttonBar->setAttribute(Qt::WA_StyledBackground);
    m_buttonBar->installEventFilter(this);

    const auto makeButton = [this](const QString &name, const QString &toolTip) {
        auto *button = new QPushButton(m_buttonBar);
        button->setObjectName(name);
        button->setToolTip(toolTip);
        button->setFixedSize(BUTTON_SIZE, BUTTON_SIZE);
        button->setFocusPolicy(Qt::NoFocus);
        button->installEventFilter(this);
        return button;
    };
    m_captureButton = makeButton(QStringLiteral("saveButton"), tr("Capture"));
    const QString copyKey = QKeySequence(QKeySequence::Copy).toString(QKeySequence::NativeText);
    m_copyButton = makeButton(QStringLiteral("copyButton"), tr("Copy (%1)").arg(copyKey));
    m_closeButton = makeButton(QStringLiteral("cancelButton"), tr("Close Window"));
    m_penButton = makeButton(QStringLiteral("drawButton"), tr("Start Drawing"));
    m_penButton->setCheckable(true);
    m_clearButton = makeButton(QStringLiteral("clearButton"), tr("Clear Drawing"));
    for (QPushButton *button :
         {m_captureButton, m_copyButton, m_closeButton, m_penButton, m_clearButton})
        updateButtonIcon(button, false);

    connect(m_captureButton, &QPushButton::clicked, this, &SCScreenshotWindow::saveScreenshot);
    connect(m_copyButton, &QPushButton::clicked, this, &SCScreenshotWindow::copyToClipboard);
    connect(m_closeButton, &QPushButton::clicked, this, &SCScreenshotWindow::cancelScreenshot);
    connect(m_penButton, &QPushButton::clicked, this, &SCScreenshotWindow::drawOnScreenshot);
    connect(m_clearButton, &QPushButton::clicked, this, &SCScreenshotWindow::clearDraw);

    auto *layout = new QHBoxLayout(m_buttonBar);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_captureButton);
    layout->addWidget(m_copyButton);
    layout->addWidget(m_penButton);
    layout->addWidget(m_clearButton);
    layout->addStretch();
    layout->addWidget(m_closeButton);
    m_buttonBar->setFixedHeight(BUTTON_SIZE);
    m_buttonBar->adjustSize();
}

void SCScreenshotWindow::updateButtonIcon(QPushButton *button, bool hovered)
{
    static const QHash<QString, QString> names = {
            {QStringLiteral("saveButton"), QStringLiteral("capture")},
            {QStringLiteral("copyButton"), QStringLiteral("copy")},
            {QStringLiteral("cancelButton"), QStringLiteral("close")},
            {QStringLiteral("drawButton"), QStringLiteral("pen")},
            {QStringLiteral("clearButton"), QStringLiteral("clear")},
    };
    // The pen stays lit while it is on.
    const bool white = hovered || (button == m_penButton && m_drawingMode);
    const QString name = names.value(button->objectName());
    button->setIcon(QIcon(icon(white ? name + QStringLiteral("-white") : name)));
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
    m_buttonBar->setStyleSheet(style);
    qDebug() << "Loaded screenshot window stylesheet from:" << STYLE_SHEET;
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
    if (isVisible() || isCompositing() || !m_screenshot) {
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
        m_background = screen;
        m_backgroundOrigin = screenGeometry().topLeft();
        showNow();
    });
}

void SCScreenshotWindow::showNow()
{
    QWidget::show();
    m_buttonBar->show();
    updateButtonBarPosition();
    // The bar sits inside a full-screen selection, so it goes on top of it.
    raise();
    m_buttonBar->raise();
    activateWindow();
    // The window manager may hand the focus elsewhere as the main window steps aside, and
    // a click on the window picker's choice focuses that window: Escape, Return and Ctrl+C
    // must still reach the selection.
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
    m_buttonBar->hide();
    QWidget::hide();
}

void SCScreenshotWindow::updateButtonBarPosition()
{
    if (!m_buttonBar)
        return;
    m_buttonBar->move(barPosition(m_area, m_buttonBar->size(), screenGeometry(), m_fullScreen));
    if (isVisible()) {
        m_buttonBar->show();
        m_buttonBar->raise();
    }
}

void SCScreenshotWindow::onCompositingChanged(bool compositing)
{
    if (compositing) {
        m_background = QPixmap();
        update();
        return;
    }
    if (!isVisible())
        return;
    // The see-through inside turns black now: take a still picture of the screen without us.
    hide();
    show();
}

void SCScreenshotWindow::paintStrokes(QPainter &painter) const
{
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(m_penColor, m_penWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    const auto draw = [&painter](const QPolygonF &stroke) {
        // A click without movement would be a line of no length, which paints nothing.
        if (stroke.boundingRect().isNull() && stroke.first() == stroke.last())
            painter.drawPoint(stroke.first());
        else
            painter.drawPolyline(stroke);
    };
    for (const QPolygonF &stroke : m_strokes) {
        if (stroke.size() > 1)
            draw(stroke);
    }
    if (m_currentStroke.size() >= 2)
        draw(m_currentStroke);
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
        const qreal ratio = m_background.devicePixelRatio();
        const QPoint offset = geometry().topLeft() - m_backgroundOrigin;
        const QRectF source(offset.x() * ratio, offset.y() * ratio, width() * ratio,
                            height() * ratio);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawPixmap(QRectF(rect()), m_background, source);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    }
    // Everything below is placed in global coordinates.
    painter.translate(-geometry().topLeft());
    // Strokes stay visible with the pen off: they are part of the picture.
    paintStrokes(painter);
    paintFrame(painter);
}

void SCScreenshotWindow::updateCursor(const QPoint &globalPos)
{
    if (m_drawingMode) {
        setCursor(Qt::CrossCursor);
        return;
    }
    switch (dragModeAt(m_area, globalPos)) {
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
    if (event->button() != Qt::LeftButton)
        return;
    const QPoint global = event->globalPosition().toPoint();
    if (m_drawingMode) {
        startDrag(PenStroke, global);
        m_currentStroke.clear();
        m_currentStroke << event->globalPosition();
    } else {
        startDrag(dragModeAt(m_area, global), global);
    }
    m_pressed = true;
}

void SCScreenshotWindow::mouseMoveEvent(QMouseEvent *event)
{
    if (m_pressed && (event->buttons() & Qt::LeftButton)) {
        if (m_dragMode == PenStroke) {
            m_currentStroke << event->globalPosition();
            update();
            return;
        }
        if (m_dragMode != NoDrag)
            dragTo(event->globalPosition().toPoint());
    } else {
        updateCursor(event->globalPosition().toPoint());
    }
    QWidget::mouseMoveEvent(event);
}

void SCScreenshotWindow::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        m_pressed = false;
        if (m_dragMode == PenStroke) {
            m_currentStroke << event->globalPosition();
            if (m_currentStroke.size() > 1)
                m_strokes.append(m_currentStroke);
            m_currentStroke.clear();
            update();
        } else {
            m_dragMode = NoDrag;
            updateCursor(event->globalPosition().toPoint());
        }
    }
    QWidget::mouseReleaseEvent(event);
}

bool SCScreenshotWindow::handleKey(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape)
        cancelScreenshot();
    else if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        saveScreenshot();
    else if (event->matches(QKeySequence::Copy))
        copyToClipboard();
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
    if (!m_background.isNull())
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
    auto *button = qobject_cast<QPushButton *>(watched);
    const bool onBar = watched == m_buttonBar;
    if (!onBar && !(button && button->parentWidget() == m_buttonBar))
        return QWidget::eventFilter(watched, event);

    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::LeftButton) {
            activateWindow();
            startDrag(onBar ? Move : NoDrag, mouse->globalPosition().toPoint());
        }
        break;
    }
    case QEvent::MouseMove: {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (onBar && m_dragMode == Move && (mouse->buttons() & Qt::LeftButton)) {
            dragTo(mouse->globalPosition().toPoint());
            return true;
        }
        break;
    }
    case QEvent::MouseButtonRelease:
        if (onBar)
            m_dragMode = NoDrag;
        break;
    case QEvent::Enter:
    case QEvent::HoverEnter:
        if (button)
            updateButtonIcon(button, true);
        break;
    case QEvent::Leave:
    case QEvent::HoverLeave:
        if (button)
            updateButtonIcon(button, false);
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void SCScreenshotWindow::drawOnScreenshot()
{
    m_drawingMode = !m_drawingMode;
    m_penButton->setChecked(m_drawingMode);
    setCursor(m_drawingMode ? Qt::CrossCursor : Qt::ArrowCursor);
    updateButtonIcon(m_penButton, m_penButton->underMouse());
    update();
}

void SCScreenshotWindow::clearDraw()
{
    m_strokes.clear();
    m_currentStroke.clear();
    update();
}

QPixmap SCScreenshotWindow::withStrokes(QPixmap picture) const
{
    if (picture.isNull())
        return picture;
    // The strokes go in whether or not the screen has shown their latest points yet.
    QPainter painter(&picture);
    painter.translate(-m_area.topLeft());
    painter.setClipRect(m_area);
    paintStrokes(painter);
    return picture;
}

void SCScreenshotWindow::captureSelection(std::function<void(const QPixmap &)> done)
{
    if (m_capturing)
        return;
    if (!m_background.isNull()) {
        // The still picture was taken before any of our windows showed.
        const qreal ratio = m_background.devicePixelRatio();
        const QRect local = m_area.translated(-m_backgroundOrigin);
        QPixmap picture = m_background.copy(
                QRect(QPointF(local.topLeft() * ratio).toPoint(), local.size() * ratio));
        picture.setDevicePixelRatio(ratio);
        done(withStrokes(picture));
        return;
    }
    if (!m_screenshot)
        return;
    // The bar, and over a full-screen selection the frame too, would be in the picture.
    m_capturing = true;
    releaseKeyboard();
    m_buttonBar->hide();
    QWidget::hide();
    m_screenshot->captureAreaWhenSettled(m_area, this, [this, done](const QPixmap &screen) {
        m_capturing = false;
        done(withStrokes(screen));
    });
}

void SCScreenshotWindow::saveScreenshot()
{
    if (!m_screenshot)
        return;
    captureSelection([this](const QPixmap &picture) {
        if (!picture.isNull() && m_screenshot->saveScreenshot(picture, QString())) {
            hide();
            emit screenshotSaved(m_screenshot->getLastSavedPath());
            return;
        }
        // The failure has been reported; the selection stays for another try.
        if (!isVisible())
            show();
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
        if (picture.isNull()) {
            if (!isVisible())
                show();
            return;
        }
        SCScreenshot::copyToClipboard(picture);
        hide();
        emit screenshotCopied();
    });
}
