#pragma once

#include <QList>

class QComboBox;
class QString;
class QWidget;

// Widths that follow the texts of the language on screen, so that no translation is cut off,
// while the designed sizes stay the least a widget gets.
class SCTextFit
{
public:
    // How much wider `text` is in `widget`'s font when it is drawn bold (weight 600), as
    // checked tabs and active tiles are.
    static int boldExtra(const QWidget *widget, const QString &text);
    // The widest size hint among `widgets`, at least `floor`.
    static int widestHint(const QList<QWidget *> &widgets, int floor);
    // Gives each of `widgets` the widest size hint among them, at least `floor`, so that
    // widgets standing side by side or in a column stay alike.
    static void equalWidths(const QList<QWidget *> &widgets, int floor);
    // Makes `combo` wide enough that each of its entries shows in full, at least `floor`.
    static void fitComboToItems(QComboBox *combo, int floor);
    // A layout hears of a changed size inside a page that is not shown only when the page is
    // shown; this tells every layout from `widget` up to its window now, so that the window's
    // smallest size is right before the user opens that page.
    static void passSizeUp(QWidget *widget);
};
