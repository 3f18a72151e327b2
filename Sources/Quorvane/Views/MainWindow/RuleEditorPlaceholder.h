// The rule editor column until the editor itself is built: the rule's name and a Close button.
#pragma once

#include "Quorvane/RuleDraft.h"

#include <QWidget>

#include <functional>

namespace quorvane {

class AppModel;

class RuleEditorPlaceholder final : public QWidget {
public:
    RuleEditorPlaceholder(
        AppModel& model, const RuleDraft& draft, std::function<void()> close, QWidget* parent);
};

} // namespace quorvane
