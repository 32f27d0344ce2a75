#pragma once

#include <QKeySequence>
#include <QKeySequenceEdit>

// Records one key combination for a global hotkey, such as Ctrl+Shift+R: the first key
// pressed with its modifiers ends the recording. Backspace, Delete or the clear button set
// it to none; Esc is left to the window. The owner checks each choice and keeps or refuses it.
class SCHotkeyEdit : public QKeySequenceEdit
{
    Q_OBJECT

public:
    explicit SCHotkeyEdit(QWidget *parent = nullptr);

    // What the settings store holds: "None", or the combination in Qt's portable form.
    QString hotkeyText() const;
    // Shows a stored value and keeps it as the one to return to.
    void setHotkeyText(const QString &text);

    // The owner took the last choice, or refused it and the edit goes back to the kept one.
    void keepChoice();
    void revert();

    static QKeySequence fromHotkeyText(const QString &text);

Q_SIGNALS:
    // An empty sequence means none.
    void hotkeyChosen(const QKeySequence &sequence);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    void display(const QKeySequence &sequence);
    void choose(const QKeySequence &sequence);

    QKeySequence m_kept;
    bool m_showing = false;
};
