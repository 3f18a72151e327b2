// What dragging a rule carries: written by the rules table's rows, read back by the rows that
// take a drop to reorder and by the sidebar's profiles that take one to copy.
#pragma once

#include "Foundation/UUID.h"
#include "QuorvaneCore/Rules.h"

#include <optional>

class QMimeData;
class QString;

namespace quorvane {

/// The rule's identifier as upper-case text; the caller owns the data.
[[nodiscard]] QMimeData* ruleDragData(const Rule& rule);

/// The rule a dragged text names; absent for any other text.
[[nodiscard]] std::optional<UUID> draggedRuleID(const QString& text);

} // namespace quorvane
