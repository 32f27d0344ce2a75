#include "sc-draw-window.h"

#include "sc-compositor-watcher.h"
#include "sc-input-catcher.h"
#include "sc-window-shape.h"

#include <QDebug>
#include <QFile>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSpacerItem>

#include <algorithm>
#include <cmath>

using namespace SCFrameGeometry;

namespace {
const QString STYLE_SHEET = QStringLiteral(":/res/style/draw-window.qss");
const QString IMAGES = QStringLiteral(":/res/forms/images/");
const QSize MINIMUM_SIZE(200, 150);
// Half the side, less one, of the square around each stroke point that the stroke's
// region is made of: about the pen's width of 2.
constexpr int STROKE_MARGIN = 1;

QIcon icon(const QString &name)
{
    return QIcon(IMAGES + name + QStringLiteral(".svg"));
}
} // namespace

DrawWindow::DrawWindow(QWidget *parent)
    : QWidget(parent)
{
    // Past the window manager: it would otherwise place the frame by its own rules and keep
    // the bar from sitting above the screen's top edge.
    const Qt::WindowFlags flags = Qt::WindowStaysOnTopHint | Qt::FramelessWindowHint | Qt::Tool
            | Qt::NoDropShadowWindowHint | Qt::WindowDoesNotAcceptFocus
            | Qt::X11BypassWindowManagerHint;
    setMinimumSize(MINIMUM_SIZE);
    setWindowTitle(QStringLiteral("Drawing Window"));
    setAttribute(Qt::WA_TranslucentBackground);
    setWindowFlags(flags);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_MacAlwaysShowToolWindow);
    setAttribute(Qt::WA_StaticContents);
    setMouseTracking(true);

    m_buttonBar = new QWidget(nullptr, flags);
    m_buttonBar->setObjectName(QStringLiteral("buttonBackground"));
    m_buttonBar->setAttribute(Qt::WA_ShowWithoutActivating);
    m_buttonBar->setAttribute(Qt::WA_MacAlwaysShowToolWindow);
    m_buttonBar->setAttribute(Qt::WA_StyledBackground);
    // The bar never takes the focus; without this Qt shows tooltips only in active windows.
    m_buttonBar->setAttribute(Qt::WA_AlwaysShowToolTips);
    m_buttonBar->installEventFilter(this);
    // Exactly 30 px: the style sheet's border must not make it taller than its buttons.
    m_buttonBar->setFixedHeight(30);
    auto *layout = new QHBoxLayout(m_buttonBar);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->setAlignment(Qt::AlignLeft);

    m_drawToggleButton = makeBarButton(QStringLiteral("drawToggleButton"), QStringLiteral("pen"),
                                       tr("Start Drawing"));
    m_drawToggleButton->setCheckable(true);
    m_clearButton = makeBarButton(QStringLiteral("clearButton"), QStringLiteral("clear"),
                                  tr("Clear Drawing"));
    m_timerLabel = new QLabel(QStringLiteral("00:00:00"), m_buttonBar);
    m_timerLabel->setObjectName(QStringLiteral("timerLabel"));
    m_timerLabel->setAlignment(Qt::AlignCenter);
    // Wider when it says that the recording is paused.
    m_timerLabel->setMinimumWidth(100);
    m_timerLabel->setFixedHeight(30);
    m_pauseButton = makeBarButton(QStringLiteral("pauseButton"), QStringLiteral("pause-recording"),
                                  tr("Pause Recording"));
    m_startButton = makeBarButton(QStringLiteral("startButton"), QStringLiteral("start-recording"),
                                  tr("Start Recording"));
    m_startButton->setCheckable(true);
    m_closeButton = makeBarButton(QStringLiteral("closeButton"), QStringLiteral("close"),
                                  tr("Close Window"));

    layout->addWidget(m_drawToggleButton);
    layout->addWidget(m_clearButton);
    layout->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    layout->addWidget(m_timerLabel);
    layout->addItem(new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum));
    layout->addWidget(m_pauseButton);
    layout->addWidget(m_startButton);
    layout->addWidget(m_closeButton);

    m_buttonBar->show();
    for (QWidget *child :
         {static_cast<QWidget *>(m_drawToggleButton), static_cast<QWidget *>(m_clearButton),
          static_cast<QWidget *>(m_timerLabel), static_cast<QWidget *>(m_startButton),
          static_cast<QWidget *>(m_closeButton)})
        child->show();
    m_pauseButton->hide();

    connect(m_drawToggleButton, &QPushButton::toggled, this, &DrawWindow::onDrawToggled);
    connect(m_clearButton, &QPushButton::clicked, this, &DrawWindow::clearDrawing);
    connect(m_startButton, &QPushButton::clicked, this, &DrawWindow::onStartClicked);
    connect(m_pauseButton, &QPushButton::clicked, this, [this] { emit pauseToggled(!m_paused); });
    connect(m_closeButton, &QPushButton::clicked, this, &DrawWindow::onCloseClicked);

    SCCompositorWatcher *watcher = SCCompositorWatcher::instance();
    m_compositing = watcher->isCompositing();
    connect(watcher, &SCCompositorWatcher::compositingChanged, this, [this](bool compositing) {
        m_compositing = compositing;
        updateShape();
        updateInputCatcher();
        update();
    });
    m_inputCatcher = new SCInputCatcher(this);
    const auto forward = [this](QEvent::Type type, const QPoint &global) {
        const Qt::MouseButtons held
                = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
        const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent event(type, mapFromGlobal(global), global, button, held, Qt::NoModifier);
        if (type == QEvent::MouseButtonPress)
            mousePressEvent(&event);
        else if (type == QEvent::MouseMove)
            mouseMoveEvent(&event);
        else
            mouseReleaseEvent(&event);
    };
    connect(m_inputCatcher, &SCInputCatcher::pressed, this,
            [forward](const QPoint &p) { forward(QEvent::MouseButtonPress, p); });
    connect(m_inputCatcher, &SCInputCatcher::moved, this,
            [forward](const QPoint &p) { forward(QEvent::MouseMove, p); });
    connect(m_inputCatcher, &SCInputCatcher::released, this,
            [forward](const QPoint &p) { forward(QEvent::MouseButtonRelease, p); });

    updateButtonPositions();
    if (QGuiApplication::primaryScreen())
        setGeometry(100, 100, 800, 600);
    // A hidden window gets no resize event, so the bar is placed here as well.
    updateButtonPositions();
    loadStyleSheet();
}

DrawWindow::~DrawWindow()
{
    m_buttonBar->deleteLater();
}

QPushButton *DrawWindow::makeBarButton(const QString &name, const QString &iconName,
                                       const QString &tip)
{
    auto *button = new QPushButton(m_buttonBar);
    button->setObjectName(name);
    button->setIcon(icon(iconName));
    button->setToolTip(tip);
    button->setFixedSize(30, 30);
    button->setAttribute(Qt::WA_Hover);
    button->installEventFilter(this);
    return button;
}

void DrawWindow::loadStyleSheet()
{
    QFile file(STYLE_SHEET);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        qWarning() << "Failed to load draw window stylesheet from:" << STYLE_SHEET;
        qWarning() << "Error:" << file.errorString();
        return;
    }
    const QString style = QString::fromUtf8(file.readAll());
    setStyleSheet(style);
    m_buttonBar->setStyleSheet(style);
    for (QWidget *child :
         {static_cast<QWidget *>(m_drawToggleButton), static_cast<QWidget *>(m_clearButton),
          static_cast<QWidget *>(m_timerLabel), static_cast<QWidget *>(m_startButton),
          static_cast<QWidget *>(m_pauseButton), static_cast<QWidget *>(m_closeButton)})
        child->setStyleSheet(style);
    qDebug() << "Loaded draw window stylesheet from:" << STYLE_SHEET;
}

void DrawWindow::show()
{
    QWidget::show();
    m_buttonBar->show();
    for (QObject *child : m_buttonBar->children())
        if (auto *w = qobject_cast<QWidget *>(child))
            w->show();
    m_pauseButton->setVisible(m_isRecording);
    updateButtonPositions();
    updateInputCatcher();
}

void DrawWindow::hide()
{
    QWidget::hide();
    m_buttonBar->hide();
    updateInputCatcher();
}

void DrawWindow::resizeContent(int width, int height)
{
    resize(width + 2 * m_borderWidth, height + 2 * m_borderWidth);
    updateButtonPositions();
    emitGeometry(false);
}

void DrawWindow::setRecordingState(bool isRecording)
{
    // The pen is for the recording: it goes off with it, strokes and all.
    if (m_isRecording && !isRecording && m_drawToggleButton->isChecked()) {
        m_drawToggleButton->setChecked(false);
        clearDrawing();
    }
    m_isRecording = isRecording;
    if (!isRecording)
        m_paused = false;
    m_startButton->setIcon(icon(isRecording ? QStringLiteral("stop-recording")
                                            : QStringLiteral("start-recording")));
    m_startButton->setToolTip(isRecording ? tr("Stop Recording") : tr("Start Recording"));
    applyPauseLook();
    update();
}

void DrawWindow::setPausedState(bool paused)
{
    m_paused = paused && m_isRecording;
    applyPauseLook();
}

void DrawWindow::applyPauseLook()
{
    m_pauseButton->setVisible(m_isRecording);
    m_pauseButton->setIcon(
            icon(m_paused ? QStringLiteral("start-recording") : QStringLiteral("pause-recording")));
    m_pauseButton->setToolTip(m_paused ? tr("Resume Recording") : tr("Pause Recording"));
    m_timerLabel->setText(m_paused ? tr("Paused %1").arg(m_time) : m_time);
}

void DrawWindow::updateTimerLabel(const QString &text)
{
    m_time = text;
    applyPauseLook();
}

DragMode DrawWindow::getDragMode(const QPoint &pos) const
{
    return dragModeAt(size(), pos, m_drawingMode);
}

QRect DrawWindow::getInnerRect() const
{
    return innerRect(size());
}

QRegion DrawWindow::paintedRegion() const
{
    QRegion region = QRegion(rect())
            - QRegion(rect().adjusted(m_borderWidth, m_borderWidth, -m_borderWidth,
                                      -m_borderWidth));
    if (m_drawingMode)
        region += m_strokeRegion;
    return region;
}

void DrawWindow::clearDrawing()
{
    m_strokes.clear();
    m_currentStroke.clear();
    m_strokeInProgress = false;
    m_strokeRegion = QRegion();
    updateShape();
    update();
}

void DrawWindow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (m_drawingMode) {
        // Nearly invisible, yet it makes the whole surface take the mouse.
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillRect(rect(), QColor(0, 0, 0, 1));
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    }

    QPen border(QColor(0, 122, 204), m_borderWidth);
    border.setJoinStyle(Qt::MiterJoin);
    painter.setPen(border);
    painter.setBrush(Qt::NoBrush);
    const qreal inset = m_borderWidth / 2.0;
    painter.drawRect(QRectF(rect()).adjusted(inset, inset, -inset, -inset));

    if (m_drawingMode && m_compositing) {
        painter.setPen(QPen(Qt::red, 2));
        for (const QPolygonF &stroke : std::as_const(m_strokes))
            painter.drawPolyline(stroke);
        if (!m_currentStroke.isEmpty())
            painter.drawPolyline(m_currentStroke);
    } else if (m_drawingMode) {
        // The window is cut to the strokes' region: fill it whole, since antialiased or
        // unpainted pixels inside it would show black.
        for (const QRect &r : m_strokeRegion)
            painter.fillRect(r, Qt::red);
    }

    updateInputShape();
}

void DrawWindow::updateInputShape()
{
    if (testAttribute(Qt::WA_WState_Created))
        qt_mac_set_window_region_transparent_for_mouse(winId(), getInnerRect(), !m_drawingMode);
}

void DrawWindow::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        m_dragAnchor = event->globalPosition().toPoint();
        m_dragMode = getDragMode(event->position().toPoint());
        m_geometryAtPress = geometry();
        if (m_dragMode == Draw && m_drawingMode) {
            m_strokeInProgress = true;
            m_currentStroke = QPolygonF({event->position()});
            addStrokeSegment(event->position(), event->position());
        }
        update();
    } else if (event->button() == Qt::RightButton) {
        // Closing only the frame would strand its bar on screen and leave the owner
        // unaware; a right click closes the frame the way its close button does.
        onCloseClicked();
    }
}

QRect DrawWindow::availableGeometry(bool *ok) const
{
    QScreen *screen = this->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    *ok = screen != nullptr;
    return screen ? screen->availableGeometry() : QRect();
}

void DrawWindow::mouseMoveEvent(QMouseEvent *event)
{
    if (m_dragMode == NoDrag) {
        updateCursor(event->position().toPoint());
        return;
    }
    if (!(event->buttons() & Qt::LeftButton))
        return;
    bool haveScreen = false;
    const QRect available = availableGeometry(&haveScreen);
    if (!haveScreen)
        return;
    const QPoint delta = event->globalPosition().toPoint() - m_dragAnchor;

    if (m_dragMode == Draw) {
        if (m_drawingMode && m_strokeInProgress) {
            const QPointF last
                    = m_currentStroke.isEmpty() ? event->position() : m_currentStroke.last();
            m_currentStroke << event->position();
            addStrokeSegment(last, event->position());
            updateShape();
            update();
        }
    } else if (m_dragMode == Move) {
        const int barHeight = m_buttonBar ? m_buttonBar->height() : 0;
        move(moved(m_geometryAtPress, delta, available, barHeight));
    } else if (isResize(m_dragMode)) {
        setGeometry(resized(m_dragMode, m_geometryAtPress, delta, m_lockRatio, minimumSize()));
    }
    updateButtonPositions();
}

void DrawWindow::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    if (m_strokeInProgress && m_drawingMode) {
        const QPointF last = m_currentStroke.isEmpty() ? event->position() : m_currentStroke.last();
        m_currentStroke << event->position();
        addStrokeSegment(last, event->position());
        m_strokes.append(m_currentStroke);
        m_currentStroke.clear();
        m_strokeInProgress = false;
        updateShape();
    }
    if (isResize(m_dragMode) || m_dragMode == Move)
        emitGeometry(false);
    m_dragMode = NoDrag;
    updateCursor(event->position().toPoint());
    update();
}

void DrawWindow::moveEvent(QMoveEvent *event)
{
    QWidget::moveEvent(event);
    updateButtonPositions();
    updateInputCatcher();
}

void DrawWindow::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    updateButtonPositions();
    updateShape();
    updateInputShape();
    updateInputCatcher();
}

void DrawWindow::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    // However the frame was hidden (close() included), its bar and the pen's input window
    // must not stay behind on screen.
    m_buttonBar->hide();
    updateInputCatcher();
}

void DrawWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    updateShape();
}

bool DrawWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_buttonBar) {
        switch (event->type()) {
        case QEvent::MouseButtonPress: {
            auto *e = static_cast<QMouseEvent *>(event);
            if (e->button() == Qt::LeftButton) {
                m_barDragging = true;
                m_dragAnchor = e->globalPosition().toPoint() - frameGeometry().topLeft();
            }
            break;
        }
        case QEvent::MouseMove:
            if (m_barDragging) {
                auto *e = static_cast<QMouseEvent *>(event);
                bool haveScreen = false;
                const QRect available = availableGeometry(&haveScreen);
                if (haveScreen) {
                    move(barDragged(e->globalPosition().toPoint() - m_dragAnchor, size(),
                                    available));
                    updateButtonPositions();
                }
                emitGeometry(true);
                return true;
            }
            break;
        case QEvent::MouseButtonRelease:
            if (m_barDragging && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
                m_barDragging = false;
                emitGeometry(false);
            }
            break;
        default:
            break;
        }
        return QWidget::eventFilter(watched, event);
    }

    if (event->type() == QEvent::HoverEnter || event->type() == QEvent::HoverLeave) {
        const bool enter = event->type() == QEvent::HoverEnter;
        const QString suffix = enter ? QStringLiteral("-white") : QString();
        if (watched == m_closeButton)
            m_closeButton->setIcon(icon(QStringLiteral("close") + suffix));
        else if (watched == m_clearButton)
            m_clearButton->setIcon(icon(QStringLiteral("clear") + suffix));
        else if (watched == m_drawToggleButton && !m_drawToggleButton->isChecked())
            m_drawToggleButton->setIcon(icon(QStringLiteral("pen") + suffix));
    }
    return QWidget::eventFilter(watched, event);
}

void DrawWindow::onDrawToggled(bool on)
{
    m_drawingMode = on;
    // At once, not at the next paint: the very next press must already go to the pen.
    updateInputShape();
    setCursor(on ? Qt::CrossCursor : Qt::ArrowCursor);
    updateButtonPositions();
    updateShape();
    updateInputCatcher();
    update();
    m_drawToggleButton->setIcon(icon(on ? QStringLiteral("pen-white") : QStringLiteral("pen")));
}

void DrawWindow::stopFromButton()
{
    m_startButton->setIcon(icon(QStringLiteral("start-recording")));
    m_startButton->setToolTip(tr("Start Recording"));
    m_isRecording = false;
    m_paused = false;
    applyPauseLook();
    emit stopRecording();
}

void DrawWindow::onStartClicked()
{
    if (m_isRecording) {
        stopFromButton();
        return;
    }
    m_startButton->setIcon(icon(QStringLiteral("stop-recording")));
    m_startButton->setToolTip(tr("Stop Recording"));
    m_isRecording = true;
    emit startRecording();
}

void DrawWindow::onCloseClicked()
{
    if (m_isRecording)
        stopFromButton();
    m_drawToggleButton->setChecked(false);
    clearDrawing();
    emit hideDrawWindow();
    hide();
}

void DrawWindow::updateButtonPositions()
{
    if (!m_buttonBar)
        return;
    bool haveScreen = false;
    const QRect screen = availableGeometry(&haveScreen);
    // A narrow frame still gets every button; wider than the screen, the bar would put its
    // buttons out of reach.
    const int wanted = std::max(width(), m_buttonBar->layout()->minimumSize().width());
    m_buttonBar->setFixedWidth(haveScreen ? std::min(wanted, screen.width()) : wanted);
    m_buttonBar->move(barPosition(geometry(), m_buttonBar->size(), haveScreen ? screen : QRect()));
}

void DrawWindow::updateCursor(const QPoint &pos)
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
    case Left:
    case Right:
        setCursor(Qt::SizeHorCursor);
        break;
    case Top:
    case Bottom:
        setCursor(Qt::SizeVerCursor);
        break;
    case Move:
        setCursor(Qt::SizeAllCursor);
        break;
    default:
        setCursor(Qt::ArrowCursor);
        break;
    }
}

void DrawWindow::emitGeometry(bool isMoving)
{
    const QRect g = geometry();
    const QPoint inset(m_borderWidth, m_borderWidth);
    emit windowGeometryChanged(isMoving, g.topLeft() + inset, g.bottomRight() - inset);
}

void DrawWindow::addStrokeSegment(const QPointF &from, const QPointF &to)
{
    const QPointF d = to - from;
    const int steps = std::max(1, int(std::ceil(std::max(std::abs(d.x()), std::abs(d.y())))));
    for (int i = 0; i <= steps; ++i) {
        const QPoint p = (from + d * (double(i) / steps)).toPoint();
        m_strokeRegion += QRect(p.x() - STROKE_MARGIN, p.y() - STROKE_MARGIN, 2 * STROKE_MARGIN + 1,
                                2 * STROKE_MARGIN + 1);
    }
}

void DrawWindow::updateShape()
{
    if (!testAttribute(Qt::WA_WState_Created))
        return;
    SCWindowShape::setVisibleRegion(this, m_compositing ? QRegion() : paintedRegion());
}

void DrawWindow::updateInputCatcher()
{
    const bool needed = m_drawingMode && !m_compositing && isVisible();
    m_inputCatcher->setGeometry(geometry());
    m_inputCatcher->setVisible(needed);
    if (needed)
        m_inputCatcher->raise();
}
