#pragma once

#include "sc-frame-geometry.h"

#include <QList>
#include <QPolygonF>
#include <QRegion>
#include <QWidget>

class QLabel;
class QPushButton;
class SCInputCatcher;

// The frame around the region being recorded: a blue border whose inside lets the mouse
// through, a button bar on top that moves it, and a pen for strokes that get recorded.
class DrawWindow : public QWidget
{
    Q_OBJECT

public:
    explicit DrawWindow(QWidget *parent = nullptr);
    ~DrawWindow() override;

    Q_INVOKABLE void hide();
    Q_INVOKABLE void show();
    Q_INVOKABLE int borderWidth() const { return m_borderWidth; }
    Q_INVOKABLE bool lockRatio() const { return m_lockRatio; }
    Q_INVOKABLE void setLockRatio(bool lock) { m_lockRatio = lock; }
    Q_INVOKABLE void resizeContent(int width, int height);

    void setRecordingState(bool isRecording);
    void setPausedState(bool paused);
    void updateTimerLabel(const QString &text);

    SCFrameGeometry::DragMode getDragMode(const QPoint &pos) const;
    QRect getInnerRect() const;

    // Strokes drawn so far, in frame coordinates.
    const QList<QPolygonF> &strokes() const { return m_strokes; }
    bool isDrawing() const { return m_drawingMode; }
    // What the frame paints: border ring, and the strokes while the pen is on.
    QRegion paintedRegion() const;
    QWidget *buttonBar() const { return m_buttonBar; }

signals:
    void windowGeometryChanged(bool isMoving, QPoint topLeft, QPoint bottomRight);
    void startRecording();
    void stopRecording();
    void pauseToggled(bool pause);
    void hideDrawWindow();

public slots:
    void clearDrawing();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
    void onDrawToggled(bool on);
    void onStartClicked();
    void onCloseClicked();

private:
    QPushButton *makeBarButton(const QString &name, const QString &icon, const QString &tip);
    void loadStyleSheet();
    void updateButtonPositions();
    void updateCursor(const QPoint &pos);
    void emitGeometry(bool isMoving);
    void stopFromButton();
    void applyPauseLook();
    void addStrokeSegment(const QPointF &from, const QPointF &to);
    void updateShape();
    void updateInputShape();
    void updateInputCatcher();
    QRect availableGeometry(bool *ok) const;

    bool m_strokeInProgress = false;
    bool m_drawingMode = false;
    QList<QPolygonF> m_strokes;
    QPolygonF m_currentStroke;
    int m_dragMode = SCFrameGeometry::NoDrag;
    QPoint m_dragAnchor;
    QPushButton *m_drawToggleButton = nullptr;
    QPushButton *m_clearButton = nullptr;
    QPushButton *m_closeButton = nullptr;
    QPushButton *m_startButton = nullptr;
    QPushButton *m_pauseButton = nullptr;
    QWidget *m_buttonBar = nullptr;
    bool m_barDragging = false;
    QRect m_geometryAtPress;
    bool m_lockRatio = false;
    QLabel *m_timerLabel = nullptr;
    int m_borderWidth = 4;
    bool m_isRecording = false;
    bool m_paused = false;
    QString m_time = QStringLiteral("00:00:00");

    // Without a compositing manager the frame is cut to what it paints, and a window that
    // paints nothing takes the pen's input over the see-through inside.
    bool m_compositing = true;
    QRegion m_strokeRegion;
    SCInputCatcher *m_inputCatcher = nullptr;
};
