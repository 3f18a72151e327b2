#include "Quorvane/AppModel.h"

#include "SaveTestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {
namespace {

using namespace save_support;

const DisplayResolution unoffered{
    .width = 1280, .height = 720, .pixelWidth = 1280, .pixelHeight = 720};
const std::string unofferedReason
    = "The saved resolution is unavailable on this connection. The current resolution is kept.";

enum class Target { work, evening, defaultProfile };

/// The profile's own resolution for the external monitor.
std::optional<DisplayResolution> ownResolution(const AppModel& model, const UUID& profileID)
{
    const Profile* profile = findProfile(model, profileID);
    if (!profile || !profile->displayPreferences || !profile->displayPreferences->resolutions)
        return std::nullopt;
    return entryOf(*profile->displayPreferences->resolutions, externalID);
}

TEST(ResolutionSaveTest, ASaveThatChangesTheScreenWaitsForItsKeep)
{
    const auto noResolution = std::optional<DisplayResolution>();
    const struct {
        const char* what;
        /// Work (active) has its own resolution; the Default profile's, when given, replaces the
        /// captured 2560 × 1440.
        std::optional<DisplayResolution> workOwn;
        std::optional<DisplayResolution> defaultOwn;
        bool automation;
        bool suspended;
        Target target;
        std::optional<DisplayResolution> requested;
        std::vector<Answer> answers;
        std::string titles;
        /// The target's own resolution once the test was answered.
        std::optional<DisplayResolution> stored;
        /// The display's pending resolution right after the request; the scheduler drops one the
        /// screen already shows.
        std::optional<DisplayResolution> pending;
        DisplayResolution screen;
        std::optional<std::string> error = std::nullopt;
        std::optional<std::string> status = std::nullopt;
    } cases[] = {
        {"the Default profile's removed", noResolution, noResolution, true, false,
            Target::defaultProfile, noResolution, {}, "", external1440, noResolution, external1440},
        {"an invalid one", noResolution, noResolution, true, false, Target::work,
            DisplayResolution{.width = 1920, .height = 1080, .pixelWidth = 960, .pixelHeight = 540},
            {}, "", noResolution, noResolution, external1440},
        {"an inactive profile's", noResolution, noResolution, true, false, Target::evening,
            external1080, {}, "", external1080, noResolution, external1440},
        {"a new one, kept", noResolution, noResolution, true, false, Target::work, external1080,
            {Answer::keep}, "Keep and save resolution", external1080, noResolution, external1080},
        {"a new one, reverted", noResolution, noResolution, true, false, Target::work, external1080,
            {Answer::revert}, "Keep and save resolution", noResolution, noResolution, external1440},
        {"a new one with automation off", noResolution, noResolution, false, false, Target::work,
            external1080, {}, "", external1080, external1080, external1440},
        {"a new one while suspended", noResolution, noResolution, true, true, Target::work,
            external1080, {}, "", external1080, external1080, external1440},
        {"the one on screen", external1080, noResolution, true, false, Target::work, external1440,
            {}, "", external1440, noResolution, external1440},
        {"Work's own removed, the Default's shown first", external1440, external1080, true, false,
            Target::work, noResolution, {Answer::keep}, "Keep and save resolution", noResolution,
            noResolution, external1080},
        {"Work's own removed where the Default's is unavailable", external1440, unoffered, true,
            false, Target::work, noResolution, {}, "", noResolution, unoffered, external1440,
            std::nullopt, unofferedReason},
        {"one the screen does not offer", noResolution, noResolution, true, false, Target::work,
            unoffered, {}, "", noResolution, noResolution, external1440, unofferedReason},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ModeWorld w;
        const UUID work = addWork(*w.model, {}, c.workOwn);
        const UUID evening = addProfile(*w.model, "Evening");
        w.model->configuration.modify([&](Configuration& document) {
            document.automationEnabled = c.automation;
            if (c.defaultOwn)
                document.profiles.edit(0).displayPreferences->resolutions->insert_or_assign(
                    externalID, *c.defaultOwn);
        });
        w.model->persist();
        w.executor.advance(1s);
        w.model->isSuspended.set(c.suspended);
        w.model->pendingResolutions.set({});
        const UUID target = c.target == Target::work ? work
            : c.target == Target::evening            ? evening
                                                     : w.model->configuration->defaultProfileID;

        w.model->requestResolutionSave(c.requested, externalID, target);
        EXPECT_EQ(entryOf(w.model->pendingResolutions.get(), externalID), c.pending);
        if (!c.titles.empty()) {
            EXPECT_EQ(ownResolution(*w.model, target), c.workOwn) << "nothing before the Keep";
        }

        EXPECT_EQ(answerTests(w, c.answers), c.titles);
        EXPECT_EQ(ownResolution(*w.model, target), c.stored);
        EXPECT_EQ(w.externalMode().resolution, c.screen);
        EXPECT_EQ(w.model->actionError.get(), c.error);
        EXPECT_EQ(entryOf(w.model->resolutionStatus.get(), externalID), c.status);
        EXPECT_EQ(configurationIn(w.defaultSettingsFile()), w.model->configuration.get());
    }
}

TEST(ResolutionSaveTest, GuardsAndWhatChangedDuringTheTestSaveNothing)
{
    using Change = std::function<void(AppModel&)>;
    const struct {
        const char* what;
        /// Before the request: it ends without a test, a message or a save.
        Change guard;
        /// While the test of the active profile's new resolution waits for its Keep.
        Change meanwhile;
    } cases[] = {
        {"not loaded", [](AppModel& m) { m.isLoaded.set(false); }, nullptr},
        {"a settings error", [](AppModel& m) { trip(m, Guard::settingsError); }, nullptr},
        {"a test running", [](AppModel& m) { trip(m, Guard::displayTest); }, nullptr},
        {"a mode change in flight", [](AppModel& m) { m.modeBusy.set({builtInID}); }, nullptr},
        {"unloaded during the test", nullptr, [](AppModel& m) { m.isLoaded.set(false); }},
        {"a settings error during the test", nullptr,
            [](AppModel& m) { trip(m, Guard::settingsError); }},
        {"the profile deleted during the test", nullptr,
            [](AppModel& m) {
                m.configuration.modify([](Configuration& document) {
                    document.activeProfileID = document.defaultProfileID;
                    document.profiles.pop_back();
                });
            }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ModeWorld w;
        const UUID work = addWork(*w.model);
        w.model->configuration.modify(
            [](Configuration& document) { document.automationEnabled = true; });
        if (c.guard)
            c.guard(*w.model);

        w.model->requestResolutionSave(external1080, externalID, work);
        if (c.meanwhile) {
            ASSERT_TRUE(w.model->preview.get());
            c.meanwhile(*w.model);
        }
        answerTests(w, {Answer::keep});

        EXPECT_EQ(ownResolution(*w.model, work), std::nullopt);
        EXPECT_EQ(w.model->actionError.get(), std::nullopt);
    }
}

TEST(ResolutionSaveTest, AnEmptiedMapIsNotKept)
{
    ModeWorld w;
    const UUID work = addWork(*w.model, {}, external1080);

    w.model->requestResolutionSave(std::nullopt, externalID, work);

    const Profile* profile = findProfile(*w.model, work);
    ASSERT_TRUE(profile->displayPreferences);
    EXPECT_EQ(profile->displayPreferences->resolutions, std::nullopt);
}

TEST(ResolutionSaveTest, RemovingTheOnlyResolutionForTheDisplaySavesWithoutATest)
{
    ModeWorld w;
    const UUID work = addWork(*w.model, {}, external1080);
    w.model->configuration.modify(
        [](Configuration& document) { document.automationEnabled = true; });
    w.executor.advance(1s);
    // As before the start-up captured the display's resolution for the Default profile.
    w.model->configuration.modify([](Configuration& document) {
        document.profiles.edit(0).displayPreferences->resolutions->erase(externalID);
    });

    // Nothing is left to show: the screen keeps what it has, and nothing is tested or refused.
    w.model->requestResolutionSave(std::nullopt, externalID, work);
    EXPECT_EQ(answerTests(w, {}), "");
    EXPECT_EQ(ownResolution(*w.model, work), std::nullopt);
    EXPECT_EQ(w.model->actionError.get(), std::nullopt);
    EXPECT_EQ(entryOf(w.model->resolutionStatus.get(), externalID), std::nullopt);
}

TEST(ResolutionSaveTest, AnEarlierMessageDoesNotHideATestThatCannotStart)
{
    for (const std::optional<std::string>& earlier :
        {std::optional<std::string>("An earlier action failed."), std::optional<std::string>()}) {
        SCOPED_TRACE(earlier.value_or("none"));
        ModeWorld w;
        const UUID work = addWork(*w.model);
        w.model->configuration.modify(
            [](Configuration& document) { document.automationEnabled = true; });
        // No known connection: the test refuses without a word.
        w.model->hardwareSnapshot.modify(
            [](HardwareSnapshot& s) { s.environments.erase(externalID); });
        w.model->actionError.set(earlier);

        w.model->requestResolutionSave(external1080, externalID, work);

        EXPECT_EQ(w.model->actionError.get(),
            "The display is unavailable. Recheck it and try choosing a resolution again.");
        EXPECT_EQ(ownResolution(*w.model, work), std::nullopt);
    }
}

} // namespace
} // namespace quorvane
