#pragma once

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QSet>

class QWidget;
class QMouseEvent;

// Makes a top-level widget frameless and lets the user move it by its own title bar.
class SCFramelessWindowAgent : public QObject
{
    Q_OBJECT

public:
    explicit SCFramelessWindowAgent(QWidget *parent);

    bool setup(QWidget *window);
    void setTitleBar(QWidget *titleBar);
    QWidget *titleBar() const;
    // Children marked visible keep their own clicks instead of starting a move.
    void setHitTestVisible(QWidget *child, bool visible = true);
    bool isHitTestVisible(QWidget *child) const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool isDragArea(const QPoint &globalPos) const;

    QPointer<QWidget> m_window;
    QPointer<QWidget> m_titleBar;
    QSet<QWidget *> m_hitTestVisible;
    bool m_manualMove = false;
    QPoint m_pressOffset;
};
