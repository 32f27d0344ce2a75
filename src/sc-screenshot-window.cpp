#include "sc-screenshot-window.h"

#include "sc-compositor-watcher.h"
#include "sc-screenshot.h"
#include "sc-window-shape.h"

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QtDebug>

namespace {

const QString STYLE_SHEET = QStringLiteral(":/res/style/screenshot-window.qss");
const QColor BORDER_COLOR(0, 122, 204);
constexpr int BORDER_WIDTH = 4;
// Inside this many pixels of an edge the frame resizes.
constexpr int HANDLE_SIZE = 10;
constexpr int BUTTON_SIZE = 30;
// The screen below needs a moment to repaint once the window is gone.
constexpr int REPAINT_DELAY_MS = 250;

enum DragMode {
    NoDrag = 0,
    TopLeft = 1,
    TopRight = 2,
    BottomLeft = 3,
    BottomRight = 4,
    LeftEdge = 5,
    RightEdge = 6,
    TopEdge = 7,
    BottomEdge = 8,
    PenStroke = 9,
};

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
    // Past the window manager, whose frame would take the clicks that the input shape lets
    // through. Unlike the other overlays this one takes the keyboard (Escape, Return, Ctrl+C).
    setWindowFlags(Qt::WindowStaysOnTopHint | Qt::FramelessWindowHint | Qt::Tool
                   | Qt::NoDropShadowWindowHint | Qt::X11BypassWindowManagerHint);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_MacAlwaysShowToolWindow);
    setAttribute(Qt::WA_StaticContents);
    setMouseTracking(true);
    setMinimumSize(100, 100);

    createButtonBar();
    updateButtonBarPosition();
    loadStyleSheet();

    connect(SCCompositorWatcher::instance(), &SCCompositorWatcher::compositingChanged, this,
            &SCScreenshotWindow::onCompositingChanged);
}

SCScreenshotWindow::~SCScreenshotWindow()
{
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

    const auto makeButton
            = [this](const QString &name, const QString &iconName, const QString &toolTip) {
                  auto *button = new QPushButton(m_buttonBar);
                  button->setObjectName(name);
                  button->setIcon(QIcon(icon(iconName)));
                  button->setToolTip(toolTip);
                  button->setFixedSize(BUTTON_SIZE, BUTTON_SIZE);
                  button->setFocusPolicy(Qt::NoFocus);
                  button->installEventFilter(this);
                  return button;
              };
    m_captureButton
            = makeButton(QStringLiteral("saveButton"), QStringLiteral("capture"), tr("Capture"));
    m_closeButton = makeButton(QStringLiteral("cancelButton"), QStringLiteral("close"),
                               tr("Close Window"));
    m_penButton
            = makeButton(QStringLiteral("drawButton"), QStringLiteral("pen"), tr("Start Drawing"));
    m_penButton->setCheckable(true);
    m_clearButton = makeButton(QStringLiteral("clearButton"), QStringLiteral("clear"),
                               tr("Clear Drawing"));

    connect(m_captureButton, &QPushButton::clicked, this, &SCScreenshotWindow::saveScreenshot);
    connect(m_closeButton, &QPushButton::clicked, this, &SCScreenshotWindow::cancelScreenshot);
    connect(m_penButton, &QPushButton::clicked, this, &SCScreenshotWindow::drawOnScreenshot);
    connect(m_clearButton, &QPushButton::clicked, this, &SCScreenshotWindow::clearDraw);

    auto *layout = new QHBoxLayout(m_buttonBar);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_captureButton);
    layout->addWidget(m_penButton);
    layout->addWidget(m_clearButton);
    layout->addStretch();
    layout->addWidget(m_closeButton);
    m_buttonBar->setFixedHeight(BUTTON_SIZE);
    m_buttonBar->adjustSize();
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
    m_captureButton->setStyleSheet(style);
    m_closeButton->setStyleSheet(style);
    qDebug() << "Loaded screenshot window stylesheet from:" << STYLE_SHEET;
}

void SCScreenshotWindow::setArea(const QRect &area)
{
    m_area = area;
    setGeometry(area);
    updateButtonBarPosition();
    update();
}

QRect SCScreenshotWindow::getArea() const
{
    return geometry();
}

void SCScreenshotWindow::setFullScreen(bool fullScreen)
{
    m_fullScreen = fullScreen;
    updateButtonBarPosition();
}

void SCScreenshotWindow::show()
{
    if (!isVisible() && !isCompositing()) {
        // The still picture must not hold the area selector or the window picker, which
        // their owner hides right after showing this window.
        if (m_showPending)
            return;
        m_showPending = true;
        QTimer::singleShot(REPAINT_DELAY_MS, this, [this]() {
            if (!m_showPending)
                return;
            m_showPending = false;
            freezeBackground();
            showNow();
        });
        return;
    }
    showNow();
}

void SCScreenshotWindow::showNow()
{
    QWidget::show();
    m_buttonBar->show();
    m_captureButton->show();
    m_closeButton->show();
    m_penButton->show();
    m_clearButton->show();
    updateButtonBarPosition();
    updateInputShape();
    // The bar sits inside a full-screen selection, so it goes on top of it.
    raise();
    m_buttonBar->raise();
    activateWindow();
}

void SCScreenshotWindow::hide()
{
    m_showPending = false;
    m_captureButton->hide();
    m_closeButton->hide();
    m_penButton->hide();
    m_clearButton->hide();
    m_buttonBar->hide();
    QWidget::hide();
}

void SCScreenshotWindow::updateButtonBarPosition()
{
    if (!m_buttonBar)
        return;
    const QRect g = geometry();
    const int barWidth = m_buttonBar->width();
    if (m_fullScreen)
        m_buttonBar->move(g.topRight() + QPoint(-4 - barWidth, 4));
    else
        m_buttonBar->move(g.bottomRight() + QPoint(-barWidth, 2));
    if (isVisible()) {
        m_buttonBar->show();
        m_buttonBar->raise();
    }
}

void SCScreenshotWindow::freezeBackground()
{
    QScreen *screen = QGuiApplication::screenAt(geometry().topLeft());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    m_background = screen->grabWindow(0);
    m_backgroundOrigin = screen->geometry().topLeft();
}

void SCScreenshotWindow::onCompositingChanged(bool compositing)
{
    if (compositing) {
        m_background = QPixmap();
        updateInputShape();
        update();
        return;
    }
    if (!isVisible())
        return;
    // The see-through inside turns black now: take a still picture of the screen without us.
    hide();
    show();
}

void SCScreenshotWindow::updateInputShape()
{
    if (!isVisible())
        return;
    // A see-through inside lets the pointer reach the windows below, except for the pen.
    if (m_drawingMode || !m_background.isNull() || width() <= 2 * HANDLE_SIZE
        || height() <= 2 * HANDLE_SIZE) {
        SCWindowShape::setInputRegion(this, QRegion());
        return;
    }
    SCWindowShape::setInputRegion(this,
                                  QRegion(rect())
                                          - QRegion(rect().adjusted(HANDLE_SIZE, HANDLE_SIZE,
                                                                    -HANDLE_SIZE, -HANDLE_SIZE)));
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
    } else if (m_drawingMode) {
        // Nearly invisible, but the whole selection takes the mouse while the pen is on.
        QRegion region(rect());
        if (m_buttonBar->isVisible())
            region -= QRect(m_buttonBar->geometry().topLeft() - geometry().topLeft(),
                            m_buttonBar->size());
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        for (const QRect &r : region)
            painter.fillRect(r, QColor(0, 0, 0, 1));
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    }

    // Strokes stay visible with the pen off: they are part of the picture.
    paintStrokes(painter);

    QPen border(BORDER_COLOR, BORDER_WIDTH, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(border);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(0, 0, width() - 1, height() - 1);
}

int SCScreenshotWindow::getDragMode(const QPoint &pos) const
{
    if (m_drawingMode)
        return PenStroke;
    const int w = width();
    const int h = height();
    const int s = HANDLE_SIZE;
    if (QRect(0, 0, s, s).contains(pos))
        return TopLeft;
    if (QRect(w - s, 0, s, s).contains(pos))
        return TopRight;
    if (QRect(0, h - s, s, s).contains(pos))
        return BottomLeft;
    if (QRect(w - s, h - s, s, s).contains(pos))
        return BottomRight;
    if (QRect(0, s, s, h - 2 * s).contains(pos))
        return LeftEdge;
    if (QRect(w - s, s, s, h - 2 * s).contains(pos))
        return RightEdge;
    if (QRect(s, 0, w - 2 * s, s).contains(pos))
        return TopEdge;
    if (QRect(s, h - s, w - 2 * s, s).contains(pos))
        return BottomEdge;
    return NoDrag;
}

void SCScreenshotWindow::updateCursor(const QPoint &pos)
{
    if (m_drawingMode) {
        setCursor(Qt::CrossCursor);
        return;
    }
    switch (getDragMode(pos)) {
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
    default:
        setCursor(Qt::ArrowCursor);
    }
}

void SCScreenshotWindow::mousePressEvent(QMouseEvent *event)
{
    QWidget::mousePressEvent(event);
    // The keyboard may have gone to a window clicked through the inside.
    activateWindow();
    if (event->button() != Qt::LeftButton)
        return;
    m_pressPosition = event->globalPosition().toPoint();
    m_geometryAtPress = geometry();
    if (m_drawingMode) {
        m_dragMode = PenStroke;
        m_currentStroke.clear();
        m_currentStroke << event->position();
    } else {
        m_dragMode = getDragMode(event->position().toPoint());
    }
    m_pressed = true;
}

void SCScreenshotWindow::mouseMoveEvent(QMouseEvent *event)
{
    if (m_pressed && (event->buttons() & Qt::LeftButton)) {
        if (m_drawingMode && m_dragMode == PenStroke) {
            m_currentStroke << event->position();
            update();
            return;
        }
        const QPoint delta = event->globalPosition().toPoint() - m_pressPosition;
        QRect g = m_geometryAtPress;
        switch (m_dragMode) {
        case TopLeft:
            g.setTopLeft(g.topLeft() + delta);
            break;
        case TopRight:
            g.setTopRight(g.topRight() + delta);
            break;
        case BottomLeft:
            g.setBottomLeft(g.bottomLeft() + delta);
            break;
        case BottomRight:
            g.setBottomRight(g.bottomRight() + delta);
            break;
        case LeftEdge:
            g.setLeft(g.left() + delta.x());
            break;
        case RightEdge:
            g.setRight(g.right() + delta.x());
            break;
        case TopEdge:
            g.setTop(g.top() + delta.y());
            break;
        case BottomEdge:
            g.setBottom(g.bottom() + delta.y());
            break;
        default:
            break;
        }
        if (m_dragMode != NoDrag) {
            if (g.width() < minimumWidth()) {
                if (m_dragMode == LeftEdge || m_dragMode == TopLeft || m_dragMode == BottomLeft)
                    g.setLeft(g.right() - minimumWidth() + 1);
                else
                    g.setRight(g.left() + minimumWidth() - 1);
            }
            if (g.height() < minimumHeight()) {
                if (m_dragMode == TopEdge || m_dragMode == TopLeft || m_dragMode == TopRight)
                    g.setTop(g.bottom() - minimumHeight() + 1);
                else
                    g.setBottom(g.top() + minimumHeight() - 1);
            }
            setGeometry(g);
            updateButtonBarPosition();
        }
    } else {
        updateCursor(event->position().toPoint());
    }
    QWidget::mouseMoveEvent(event);
}

void SCScreenshotWindow::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        m_pressed = false;
        if (m_drawingMode && m_dragMode == PenStroke) {
            m_currentStroke << event->position();
            if (m_currentStroke.size() > 1)
                m_strokes.append(m_currentStroke);
            m_currentStroke.clear();
            update();
        } else {
            m_dragMode = NoDrag;
            setCursor(Qt::ArrowCursor);
        }
    }
    QWidget::mouseReleaseEvent(event);
}

void SCScreenshotWindow::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        emit screenshotCancelled();
        hide();
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        saveScreenshot();
        event->accept();
        return;
    }
    if (event->matches(QKeySequence::Copy)) {
        copyToClipboard();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void SCScreenshotWindow::moveEvent(QMoveEvent *event)
{
    QWidget::moveEvent(event);
    updateButtonBarPosition();
    if (!m_background.isNull())
        update();
}

void SCScreenshotWindow::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    updateButtonBarPosition();
    updateInputShape();
}

bool SCScreenshotWindow::eventFilter(QObject *watched, QEvent *event)
{
    const bool onBar = watched == m_buttonBar;
    const bool onButton = watched == m_captureButton || watched == m_closeButton
            || watched == m_penButton || watched == m_clearButton;
    if (!onBar && !onButton)
        return QWidget::eventFilter(watched, event);

    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::LeftButton) {
            m_pressPosition = mouse->globalPosition().toPoint();
            activateWindow();
            if (onBar)
                m_geometryAtPress = geometry();
        }
        break;
    }
    case QEvent::MouseMove: {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (onBar && (mouse->buttons() & Qt::LeftButton)) {
            move(m_geometryAtPress.topLeft() + mouse->globalPosition().toPoint() - m_pressPosition);
            return true;
        }
        break;
    }
    case QEvent::Enter:
    case QEvent::HoverEnter:
        if (watched == m_captureButton)
            m_captureButton->setIcon(QIcon(icon(QStringLiteral("capture-white"))));
        else if (watched == m_clearButton)
            m_clearButton->setIcon(QIcon(icon(QStringLiteral("clear-white"))));
        else if (watched == m_closeButton)
            m_closeButton->setIcon(QIcon(icon(QStringLiteral("close-white"))));
        else if (watched == m_penButton && !m_penButton->isChecked())
            m_penButton->setIcon(QIcon(icon(QStringLiteral("pen-white"))));
        break;
    case QEvent::Leave:
    case QEvent::HoverLeave:
        if (watched == m_captureButton)
            m_captureButton->setIcon(QIcon(icon(QStringLiteral("capture"))));
        else if (watched == m_clearButton)
            m_clearButton->setIcon(QIcon(icon(QStringLiteral("clear"))));
        else if (watched == m_closeButton)
            m_closeButton->setIcon(QIcon(icon(QStringLiteral("close"))));
        else if (watched == m_penButton && !m_penButton->isChecked())
            m_penButton->setIcon(QIcon(icon(QStringLiteral("pen"))));
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
    m_penButton->setIcon(
            QIcon(icon(m_drawingMode ? QStringLiteral("pen-white") : QStringLiteral("pen"))));
    updateInputShape();
    update();
}

void SCScreenshotWindow::clearDraw()
{
    m_strokes.clear();
    m_currentStroke.clear();
    update();
}

QRect SCScreenshotWindow::captureRect() const
{
    return geometry().adjusted(BORDER_WIDTH, BORDER_WIDTH, -BORDER_WIDTH, -BORDER_WIDTH);
}

QPixmap SCScreenshotWindow::grabSelection()
{
    const QRect r = captureRect();
    QPixmap pixmap;
    if (!m_background.isNull()) {
        // The still picture is what the user sees; the bar never covers it.
        const qreal ratio = m_background.devicePixelRatio();
        const QRect local = r.translated(-m_backgroundOrigin);
        pixmap = m_background.copy(QRect((local.topLeft() * ratio), local.size() * ratio));
        pixmap.setDevicePixelRatio(ratio);
    } else {
        QScreen *screen = QGuiApplication::screenAt(geometry().topLeft());
        if (!screen)
            screen = QGuiApplication::primaryScreen();
        if (!screen)
            return QPixmap();
        const QRect local = r.translated(-screen->geometry().topLeft());
        pixmap = screen->grabWindow(0, local.x(), local.y(), local.width(), local.height());
    }
    if (pixmap.isNull())
        return pixmap;
    // The strokes go in whether or not the screen has shown their latest points yet.
    QPainter painter(&pixmap);
    painter.translate(-BORDER_WIDTH, -BORDER_WIDTH);
    painter.setClipRect(QRect(BORDER_WIDTH, BORDER_WIDTH, r.width(), r.height()));
    paintStrokes(painter);
    return pixmap;
}

void SCScreenshotWindow::saveScreenshot()
{
    const QPixmap pixmap = grabSelection();
    if (pixmap.isNull() || !m_screenshot)
        return;
    if (m_screenshot->saveScreenshot(pixmap, QString())) {
        hide();
        emit screenshotSaved(m_screenshot->getLastSavedPath());
    }
}

void SCScreenshotWindow::cancelScreenshot()
{
    emit screenshotCancelled();
    hide();
}

void SCScreenshotWindow::copyToClipboard()
{
    const QPixmap pixmap = grabSelection();
    if (pixmap.isNull())
        return;
    QGuiApplication::clipboard()->setPixmap(pixmap);
    hide();
    emit screenshotCopied();
}
