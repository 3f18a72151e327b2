#include "Quorvane/Views/TerminationHandler.h"

#include "Quorvane/Views/QtApplicationShell.h"
#include "QuorvaneTests/AppModelTestSupport.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <array>
#include <csignal>

namespace quorvane {
namespace {

struct Termination {
    int calls = 0;
    TerminationHandler handler{[this] { ++calls; }};
};

TEST(TerminationHandlerTest, AnswersAtOnceOnlyWithoutAModelOrOnceTheQuitIsPrepared)
{
    struct Case {
        const char* name;
        bool hasModel;
        bool modelGone;
        bool prepared;
        TerminationReply reply;
        int terminations;
    };
    const Case cases[] = {
        {"no model yet", false, false, false, TerminationReply::now, 1},
        {"model gone", true, true, false, TerminationReply::now, 1},
        {"quit prepared", true, false, true, TerminationReply::now, 1},
        {"running", true, false, false, TerminationReply::later, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ModelWorld world;
        Termination termination;
        std::shared_ptr<AppModel> model = world.idleModel();
        if (c.hasModel)
            termination.handler.setModel(model);
        model->terminationPrepared.set(c.prepared);
        if (c.modelGone)
            model.reset();

        EXPECT_EQ(termination.handler.requestTermination(), c.reply);
        EXPECT_EQ(termination.calls, c.terminations);
        if (model) {
            EXPECT_EQ(*model->isQuitting, c.reply == TerminationReply::later);
        }
        world.executor.advance(std::chrono::seconds(10)); // the quit task lets go of the model
    }
}

TEST(TerminationHandlerTest, DeferredRequestIsConfirmedOnceWhenTheQuitIsPrepared)
{
    ModelWorld world;
    Termination termination;
    const auto model = world.idleModel();
    termination.handler.setModel(model);

    EXPECT_EQ(termination.handler.requestTermination(), TerminationReply::later);
    EXPECT_EQ(termination.handler.requestTermination(), TerminationReply::later);
    EXPECT_EQ(termination.calls, 0);
    model->terminationPrepared.set(true);
    EXPECT_EQ(termination.calls, 1);
    // The quit's own request that follows ends nothing twice.
    EXPECT_EQ(termination.handler.requestTermination(), TerminationReply::now);
    EXPECT_EQ(termination.calls, 1);
    world.executor.advance(std::chrono::seconds(10));
}

TEST(TerminationHandlerTest, PreparedQuitThatNobodyAskedToDeferWaitsForItsOwnRequest)
{
    ModelWorld world;
    Termination termination;
    const auto model = world.idleModel();
    termination.handler.setModel(model);

    model->terminationPrepared.set(true); // a quit from the menu, its request not yet made
    EXPECT_EQ(termination.calls, 0);
    EXPECT_EQ(termination.handler.requestTermination(), TerminationReply::now);
    EXPECT_EQ(termination.calls, 1);
}

TEST(TerminationHandlerTest, SessionRequestRunsTheWholeQuitBeforeEnding)
{
    ModelWorld world;
    Termination termination;
    QtApplicationShell shell(termination.handler);
    const AppEnvironment environment{.executor = world.executor,
        .platform = world.mac.platform(),
        .launch = world.launch,
        .loginItems = world.loginItems,
        .shell = shell,
        .applicationCatalog = world.applicationCatalog,
        .openPanel = world.openPanel};
    // On a file of its own: the demo's new folder is gone once it has quit.
    const auto model = AppModel::create(environment,
        {.simulation = true,
            .settingsURL = world.home.path() / "settings.json",
            .startAutomatically = true});
    termination.handler.setModel(model);
    world.executor.runUntilIdle();
    model->persist();

    EXPECT_EQ(termination.handler.requestTermination(), TerminationReply::later);
    EXPECT_EQ(termination.calls, 0);
    world.executor.advance(std::chrono::seconds(10));
    EXPECT_TRUE(*model->terminationPrepared);
    EXPECT_EQ(termination.calls, 1);
    ASSERT_TRUE(model->saveTask.get());
    EXPECT_TRUE(model->saveTask.get()->isFinished());
    EXPECT_TRUE(contentsOf(model->settingsURL));
}

TEST(TerminationSignalsTest, EachSignalLeavesOneByteUntilTheDefaultIsBack)
{
    const std::optional<int> pipe = catchTerminationSignals();
    ASSERT_TRUE(pipe);
    EXPECT_EQ(catchTerminationSignals(), pipe) << "caught once, however often asked";
    for (const int signal : {SIGTERM, SIGINT, SIGHUP})
        ASSERT_EQ(std::raise(signal), 0);
    std::array<char, 16> bytes{};
    EXPECT_EQ(::read(*pipe, bytes.data(), bytes.size()), 3);
    releaseTerminationSignals();
    EXPECT_EXIT(std::raise(SIGTERM), testing::KilledBySignal(SIGTERM), "");
}

} // namespace
} // namespace quorvane
