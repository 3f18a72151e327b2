// Answering the Keep/Revert tests that a save request starts, on the simulated Mac.
#pragma once

#include "ModeTestSupport.h"
#include "ProfileRuleTestSupport.h"

#include <string>
#include <vector>

namespace quorvane::save_support {

using namespace mode_support;

enum class Answer { keep, revert };

/// Waits for each test to ask (well inside its 15 seconds), answers it and lets the answer's
/// work run; the titles of the tests that asked, joined by "|". Stops at the first test that
/// does not come.
inline std::string answerTests(ModeWorld& w, const std::vector<Answer>& answers)
{
    std::string titles;
    for (const Answer answer : answers) {
        bool asked = false;
        for (int second = 0; second < 10 && !asked; ++second) {
            w.executor.advance(1s);
            const auto& preview = w.model->preview.get();
            asked = preview && preview->phase == DisplayPreview::Phase::confirming;
        }
        if (!asked)
            break;
        titles += (titles.empty() ? "" : "|") + w.model->preview.get()->confirmationTitle;
        if (answer == Answer::keep)
            w.model->keepPreview();
        else
            w.model->cancelPreview();
    }
    w.executor.advance(10s);
    return titles;
}

/// Adds an active profile "Work" holding `rules`; with `resolution`, its own one for the external
/// monitor.
inline UUID addWork(AppModel& model, std::vector<Rule> rules = {},
    std::optional<DisplayResolution> resolution = std::nullopt)
{
    const UUID work = addProfile(model, "Work", std::move(rules));
    model.configuration.modify([&](Configuration& document) {
        document.activeProfileID = work;
        if (resolution)
            document.profiles.edit(document.profiles.size() - 1).displayPreferences
                = ProfileDisplayPreferences{.resolutions
                    = std::map<std::string, DisplayResolution>{{externalID, *resolution}}};
    });
    return work;
}

} // namespace quorvane::save_support
