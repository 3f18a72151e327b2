// ControlStatusLine.h: the line under a display control that says where its value comes from and
// what became of the model's last command to it.
#pragma once

#include "QuorvaneCore/ControlKey.h"

#include <string>
#include <vector>

class QLabel;
class QWidget;

namespace quorvane {

class AppModel;

/// The parts joined with " · ", as every status line is. An empty part, or one that repeats an
/// earlier part, is left out: a change made outside is both a control's source and its status.
[[nodiscard]] std::string statusLine(const std::vector<std::string>& parts);

/// The model's status of the control; empty while the model holds none.
[[nodiscard]] std::string statusOf(const AppModel& model, const ControlKey& key);

/// A secondary label for a status line. A long line wraps inside the room it is given rather
/// than being cut or widening the popover, and shows as plain text: an error's description is
/// never markup.
[[nodiscard]] QLabel* newStatusLabel(QWidget* parent);

} // namespace quorvane
