#include "QuorvaneCore/BrightnessKeys.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <tuple>

using namespace quorvane;
using enum BrightnessKeyDirection;
using enum BrightnessKeyEvent::Encoding;
using Event = BrightnessKeyEvent;
using Action = BrightnessKeyAdjustmentQueue::Action;

TEST(BrightnessKeyStepTest, AdjustsWithinTheUnitRangeAndKnowsOnlyItsOwnRawValues)
{
    EXPECT_DOUBLE_EQ(adjusting(BrightnessKeyStep::five, 0.98, up), 1.0);
    EXPECT_DOUBLE_EQ(adjusting(BrightnessKeyStep::ten, 0.04, down), 0.0);
    EXPECT_DOUBLE_EQ(adjusting(BrightnessKeyStep::three, 0.5, down), 0.47);
    EXPECT_EQ(brightnessKeyStep(10), BrightnessKeyStep::ten);
    EXPECT_FALSE(brightnessKeyStep(4));
    EXPECT_EQ(brightnessKeyDirection(-1), down);
    EXPECT_FALSE(brightnessKeyDirection(0));
}

TEST(BrightnessKeyEventTest, DecodesOnlyTheBrightnessKeys)
{
    // A system-defined event's data word: key type in bits 16-31, key state in bits 8-15.
    const std::tuple<std::string, std::optional<Event>, std::optional<Event>> cases[] = {
        {"up pressed", Event::auxiliary(8, 0x2'0A'00), Event{up, true, auxiliary}},
        {"up released", Event::auxiliary(8, 0x2'0B'00), Event{up, false, auxiliary}},
        {"down pressed", Event::auxiliary(8, 0x3'0A'00), Event{down, true, auxiliary}},
        {"low byte and upper word (all ones) ignored",
            Event::auxiliary(8, 0x2'0A'7F - 0x1'0000'0000), Event{up, true, auxiliary}},
        {"another media key", Event::auxiliary(8, 0x1'0A'00), std::nullopt},
        {"key type 0x0102", Event::auxiliary(8, 0x102'0A'00), std::nullopt},
        {"state 0x0C", Event::auxiliary(8, 0x2'0C'00), std::nullopt},
        {"state 0x1A", Event::auxiliary(8, 0x2'1A'00), std::nullopt},
        {"subtype 7", Event::auxiliary(7, 0x2'0A'00), std::nullopt},
        {"key code 144", Event::keyboard(144, true), Event{up, true, keyboard}},
        {"key code 145", Event::keyboard(145, false), Event{down, false, keyboard}},
        {"key code 107", Event::keyboard(107, true), std::nullopt},
    };
    for (const auto& [name, decoded, expected] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(decoded, expected);
    }
}

TEST(BrightnessKeyRouterTest, KeyUpFollowsItsOwnKeyDown)
{
    BrightnessKeyRouter router;
    const auto consume = [&](Event event, bool modified, bool accepts = true) {
        return router.shouldConsume(event, modified, [=](auto) { return accepts; });
    };
    EXPECT_FALSE(consume({up, true, keyboard}, true)); // modified: passed on
    EXPECT_FALSE(consume({up, false, keyboard}, true)); // and so is its key-up
    EXPECT_FALSE(consume({up, true, keyboard}, false, false)); // refused
    EXPECT_FALSE(consume({up, false, keyboard}, false));
    EXPECT_TRUE(consume({up, true, keyboard}, false)); // accepted
    EXPECT_FALSE(consume({up, false, auxiliary}, false)); // the other form of the same key
    EXPECT_TRUE(consume({up, false, keyboard}, true)); // swallowed even with a modifier held
    EXPECT_FALSE(consume({up, false, keyboard}, false)); // a second key-up is not
    EXPECT_TRUE(consume({down, true, auxiliary}, false));
    router.reset();
    EXPECT_FALSE(consume({down, false, auxiliary}, false));
}

TEST(BrightnessKeyAdjustmentQueueTest, OneReadAbsorbsABurstThenTheTargetMovesDirectly)
{
    BrightnessKeyAdjustmentQueue queue;
    EXPECT_EQ(queue.enqueue(up, BrightnessKeyStep::ten), Action::readCurrent());
    queue.completed(0.5); // an earlier apply ending while the read is under way
    EXPECT_EQ(queue.enqueue(up, BrightnessKeyStep::five), Action::queued());
    EXPECT_EQ(queue.resolve(0.5), 0.65);
    EXPECT_EQ(queue.enqueue(up, BrightnessKeyStep::five), Action::apply(0.65 + 0.05)); // ≈ 0.7

    // The first apply finishing after the target moved on changes nothing; the last one ends it.
    queue.completed(0.65);
    EXPECT_NE(queue.enqueue(down, BrightnessKeyStep::one), Action::readCurrent());
    queue.completed(*queue.target());
    EXPECT_EQ(queue.enqueue(up, BrightnessKeyStep::ten), Action::readCurrent());
    EXPECT_EQ(queue.enqueue(down, BrightnessKeyStep::five), Action::queued());
    EXPECT_EQ(queue.resolve(0.95), 0.95); // clamped to 1.0 before the step down
}

TEST(BrightnessKeyAdjustmentQueueTest, AnEmptyOrImpossibleReadDropsThePresses)
{
    for (const double current : {1.2, -0.01, std::numeric_limits<double>::quiet_NaN()}) {
        SCOPED_TRACE(current);
        BrightnessKeyAdjustmentQueue queue;
        (void)queue.enqueue(up, BrightnessKeyStep::five);
        EXPECT_FALSE(queue.resolve(current));
        EXPECT_FALSE(queue.resolve(0.5));
        EXPECT_EQ(queue.enqueue(up, BrightnessKeyStep::five), Action::readCurrent());
    }
    // The ends of the range are brightness all the same.
    for (const auto& [current, direction, target] :
        {std::tuple{0.0, up, 0.05}, {1.0, down, 0.95}}) {
        BrightnessKeyAdjustmentQueue queue;
        (void)queue.enqueue(direction, BrightnessKeyStep::five);
        EXPECT_DOUBLE_EQ(queue.resolve(current).value_or(-1), target);
    }
}
