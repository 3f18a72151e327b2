#include "Quorvane/Views/MainWindow/RuleCellLabels.h"

#include "Quorvane/AppModel.h"

namespace quorvane {

std::string settingCellText(const Rule& rule, SettingKey key)
{
    const std::optional<SettingValue> value = rule.settings.value(key);
    return value ? value->label() : "Default";
}

RuleConditions shownConditions(const RuleConditions& conditions, const AppModel& model)
{
    RuleConditions shown = conditions;
    if (shown.screen)
        shown.screen->name = model.screenLabel(*shown.screen);
    std::optional<Desktop>& space = shown.space;
    if (space && !(shown.screen && space->displayID == shown.screen->id))
        space->name = model.spaceLabel(*space, model.allSpaces());
    return shown;
}

} // namespace quorvane
