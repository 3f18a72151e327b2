// TabOrder.h: Tab follows a view's layout, from top to bottom.
#pragma once

class QWidget;

namespace quorvane {

/// Orders the tab stops of `view` as its layouts place them, depth first, from its first stop on,
/// now and each time the view shows. Qt's chain follows the order in which widgets were made, so
/// controls rebuilt later would come after everything else. A stop is a widget that takes Tab;
/// those outside any layout keep their place.
void followLayout(QWidget& view);

} // namespace quorvane
