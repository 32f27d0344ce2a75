#pragma once

#include <QRect>
#include <QRegion>
#include <QtGui/qwindowdefs.h>

class QWidget;

// X11 window shapes. Regions are in the widget's logical coordinates.
namespace SCWindowShape {

// Only `region` takes the mouse; elsewhere clicks go to the window below.
// A null region restores the whole window.
void setInputRegion(QWidget *window, const QRegion &region);

// Only `region` is drawn on screen; elsewhere the screen below shows through, which is how
// an overlay stays see-through on an X server without compositing manager.
// A null region restores the whole window.
void setVisibleRegion(QWidget *window, const QRegion &region);

} // namespace SCWindowShape

// Lets clicks inside `rect` (window-local) pass to the window below when `transparent`.
void qt_mac_set_window_region_transparent_for_mouse(WId window, const QRect &rect,
                                                    bool transparent);
