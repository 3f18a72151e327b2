// The small pictures the windows use, drawn rather than loaded so that no image file ships and
// they take the colour of the text beside them.
#pragma once

#include <QColor>
#include <QIcon>

#include <string_view>

namespace quorvane {

/// The picture named `symbol`: "rectangle.stack", "lock.rectangle.stack", "plus", "display.2",
/// "slider.horizontal.3", "checkmark.circle.fill", "xmark", "ellipsis", "line.3.horizontal",
/// "chevron.up", "chevron.down", "exclamationmark.triangle", "exclamationmark.circle", "folder"
/// or "square.grid.2x2"; an empty icon for any other name.
[[nodiscard]] QIcon symbolIcon(std::string_view symbol, const QColor& colour);

} // namespace quorvane
