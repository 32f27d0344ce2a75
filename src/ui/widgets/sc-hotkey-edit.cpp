#include "sc-hotkey-edit.h"

#include "sc-settings.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>

namespace {

bool isModifierKey(int key)
{
    switch (key) {
    case Qt::Key_Control:
    case Qt::Key_Shift:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
    case Qt::Key_CapsLock:
    case Qt::Key_NumLock:
    case Qt::Key_unknown:
        return true;
    default:
        return false;
    }
}

constexpr Qt::KeyboardModifiers HOTKEY_MODIFIERS
        = Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier | Qt::MetaModifier;

} // namespace

SCHotkeyEdit::SCHotkeyEdit(QWidget *parent)
    : QKeySequenceEdit(parent)
{
    setClearButtonEnabled(true);
    setToolTip(tr("Click here and press the key combination, such as Ctrl+Shift+R. Backspace "
                  "or the clear button sets no hotkey."));
    // The clear button is the only way the base class changes the sequence on its own.
    connect(this, &QKeySequenceEdit::keySequenceChanged, this,
            [this](const QKeySequence &sequence) {
                if (m_showing)
                    return;
                display(sequence);
                emit hotkeyChosen(sequence);
            });
    display(QKeySequence());
}

QKeySequence SCHotkeyEdit::fromHotkeyText(const QString &text)
{
    if (text.isEmpty() || text == SCSettings::NO_HOTKEY)
        return {};
    return QKeySequence::fromString(text, QKeySequence::PortableText);
}

QString SCHotkeyEdit::hotkeyText() const
{
    return keySequence().isEmpty() ? SCSettings::NO_HOTKEY
                                   : keySequence().toString(QKeySequence::PortableText);
}

void SCHotkeyEdit::setHotkeyText(const QString &text)
{
    m_kept = fromHotkeyText(text);
    display(m_kept);
}

void SCHotkeyEdit::keepChoice()
{
    m_kept = keySequence();
}

void SCHotkeyEdit::revert()
{
    display(m_kept);
}

void SCHotkeyEdit::display(const QKeySequence &sequence)
{
    m_showing = true;
    setKeySequence(sequence);
    m_showing = false;
    if (auto *field = findChild<QLineEdit *>()) {
        field->setPlaceholderText(tr("None"));
        field->setText(sequence.toString(QKeySequence::NativeText));
    }
}

void SCHotkeyEdit::choose(const QKeySequence &sequence)
{
    display(sequence);
    emit hotkeyChosen(sequence);
}

void SCHotkeyEdit::keyPressEvent(QKeyEvent *event)
{
    const int key = event->key();
    const Qt::KeyboardModifiers modifiers = event->modifiers() & HOTKEY_MODIFIERS;
    if (key == Qt::Key_Escape && !modifiers) {
        // Closing the window is what Esc does everywhere else in it.
        display(keySequence());
        event->ignore();
        return;
    }
    event->accept();
    if ((key == Qt::Key_Backspace || key == Qt::Key_Delete) && !modifiers) {
        choose(QKeySequence());
        return;
    }
    auto *field = findChild<QLineEdit *>();
    if (isModifierKey(key)) {
        // Held modifiers show what the combination will start with.
        display(keySequence());
        if (field && modifiers) {
            const QString withKey = QKeySequence(QKeyCombination(modifiers, Qt::Key_A))
                                            .toString(QKeySequence::NativeText);
            field->setText(withKey.left(withKey.size() - 1) + QStringLiteral("…"));
        }
        return;
    }
    choose(QKeySequence(QKeyCombination(modifiers, Qt::Key(key))));
}

void SCHotkeyEdit::keyReleaseEvent(QKeyEvent *event)
{
    // Letting go of the modifiers alone takes back their preview.
    if (isModifierKey(event->key()) && !(event->modifiers() & HOTKEY_MODIFIERS))
        display(keySequence());
    event->accept();
}

void SCHotkeyEdit::focusOutEvent(QFocusEvent *event)
{
    display(keySequence());
    QKeySequenceEdit::focusOutEvent(event);
}
