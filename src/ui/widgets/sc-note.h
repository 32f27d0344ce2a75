#pragma once

#include <QPointer>
#include <QWidget>

class QLabel;
class QTimer;

// A short message at the bottom of a window, or of the screen when that window is not
// shown, gone after a few seconds. It never takes the focus; a click on it emits
// `clicked()` and closes it. It also goes when its window is hidden or minimized, so that
// it is never part of a recording that starts then.
class SCNote : public QWidget
{
    Q_OBJECT

public:
    static constexpr int DEFAULT_DURATION_MS = 3000;

    explicit SCNote(QWidget *parent = nullptr);

    // `anchor` may be null or hidden: the note then sits at the bottom of the screen.
    void showMessage(const QString &text, QWidget *anchor, int durationMs = DEFAULT_DURATION_MS);
    QString text() const;

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void loadStyleSheet();
    void place();

    QLabel *m_label = nullptr;
    QTimer *m_timer = nullptr;
    QPointer<QWidget> m_anchor;
};
