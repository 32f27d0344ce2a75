#pragma once

#include "sc-annotation.h"

#include <QColor>
#include <QHash>
#include <QWidget>

class QLabel;
class QPushButton;
class QSlider;

// The button bar of the screenshot selection: the drawing tools, colour and thickness, the
// history, and what to do with the picture. A window of its own, kept beside the selection
// by the overlay; it reports choices and leaves them to the overlay.
class SCAnnotationBar : public QWidget
{
    Q_OBJECT

public:
    using Tool = SCAnnotation::Tool;
    enum class Action { Save, SaveAs, Copy, Pin, CopyText, Cancel, Undo, Redo, Clear };
    static constexpr int BUTTON_SIZE = 30;

    explicit SCAnnotationBar(QWidget *parent = nullptr);

    // The one-letter key of each tool.
    static Tool toolForKey(int key);
    // The eight colours of the palette.
    static QList<QColor> palette();

    QPushButton *toolButton(Tool tool) const;
    QPushButton *actionButton(Action action) const;

public slots:
    void setTool(SCAnnotation::Tool tool);
    void setColor(const QColor &color);
    void setThickness(int thickness);
    void setFilled(bool filled);
    void setCanUndo(bool canUndo);
    void setCanRedo(bool canRedo);

signals:
    // Tool::None when the chosen tool is clicked again.
    void toolChosen(SCAnnotation::Tool tool);
    void colorChosen(const QColor &color);
    // The palette's "Custom" entry: the overlay opens the dialog, which it must step aside for.
    void customColorRequested();
    void thicknessChosen(int thickness);
    void filledToggled(bool filled);
    void actionTriggered(SCAnnotationBar::Action action);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QPushButton *makeButton(const QString &name, const QString &icon, const QString &toolTip);
    void updateIcon(QPushButton *button);
    void updatePreview();
    void showPalette();

    QHash<Tool, QPushButton *> m_toolButtons;
    QHash<Action, QPushButton *> m_actionButtons;
    QHash<QPushButton *, QString> m_icons;
    QPushButton *m_filledButton = nullptr;
    QPushButton *m_colorButton = nullptr;
    QSlider *m_thicknessSlider = nullptr;
    QLabel *m_preview = nullptr;
    Tool m_tool = Tool::None;
    QColor m_color = Qt::red;
    int m_thickness = 3;
};
