#pragma once

class QHBoxLayout;

namespace Helpers {

// Rebuilds a title bar layout holding "titleWidget" and "menuWidget" so that the title
// sits in the middle of the bar, balanced against the menu on the right.
void centerTitleWidget(QHBoxLayout *layout);

} // namespace Helpers
