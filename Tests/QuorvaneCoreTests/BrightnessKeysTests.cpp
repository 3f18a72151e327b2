#include "QuorvaneCore/BrightnessKeys.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <variant>

using namespace quorvane;

namespace {

constexpr auto up = BrightnessKeyDirection::up;
constexpr auto down = BrightnessKeyDirection::down;
using Encoding = BrightnessKeyEvent::Encoding;
using Action = BrightnessKeyAdjustmentQueue::Action;

// A system-defined event's data word: key type in bits 16-31, key state in bits 8-15.
constexpr std::int64_t auxiliaryData(std::int64_t keyType, std::int64_t keyState)
{
    return keyType << 16 | keyState << 8;
}

} // namespace

TEST(BrightnessKeyStepTest, AdjustingClampsToTheUnitRange)
{
    EXPECT_DOUBLE_EQ(adjusting(BrightnessKeyStep::five, 0.98, up), 1.0);
    EXPECT_DOUBLE_EQ(adjusting(BrightnessKeyStep::ten, 0.04, down), 0.0);
    EXPECT_DOUBLE_EQ(adjusting(BrightnessKeyStep::three, 0.5, down), 0.47);
}

TEST(BrightnessKeyStepTest, RawValuesOutsideTheCasesGiveNothing)
{
    EXPECT_EQ(brightnessKeyStep(10), BrightnessKeyStep::ten);
    EXPECT_FALSE(brightnessKeyStep(4));
    EXPECT_EQ(brightnessKeyDirection(-1), down);
    EXPECT_FALSE(brightnessKeyDirection(0));
}

TEST(BrightnessKeyEventTest, DecodesOnlyBrightnessKeysFromSystemDefinedEvents)
{
    struct Case {
        std::string name;
        std::int64_t subtype;
        std::int64_t data;
        std::optional<BrightnessKeyEvent> event;
    };
    const BrightnessKeyEvent upPressed{
        .direction = up, .isDown = true, .encoding = Encoding::auxiliary};
    const BrightnessKeyEvent upReleased{
        .direction = up, .isDown = false, .encoding = Encoding::auxiliary};
    const BrightnessKeyEvent downPressed{
        .direction = down, .isDown = true, .encoding = Encoding::auxiliary};
    const Case cases[] = {
        {"up pressed", 8, auxiliaryData(2, 0x0A), upPressed},
        {"up released", 8, auxiliaryData(2, 0x0B), upReleased},
        {"down pressed", 8, auxiliaryData(3, 0x0A), downPressed},
        {"low byte and upper word ignored", 8,
            auxiliaryData(2, 0x0A) | 0x7F | (std::int64_t{1} << 40), upPressed},
        {"negative word", 8, auxiliaryData(2, 0x0A) | std::numeric_limits<std::int64_t>::min(),
            upPressed},
        {"another media key", 8, auxiliaryData(1, 0x0A), std::nullopt},
        {"key type 0x0102", 8, auxiliaryData(0x0102, 0x0A), std::nullopt},
        {"state 0x0C", 8, auxiliaryData(2, 0x0C), std::nullopt},
        {"state 0x1A", 8, auxiliaryData(2, 0x1A), std::nullopt},
        {"subtype 7", 7, auxiliaryData(2, 0x0A), std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(BrightnessKeyEvent::auxiliary(c.subtype, c.data), c.event);
    }
}

TEST(BrightnessKeyEventTest, DecodesKeyCodes144And145)
{
    EXPECT_EQ(BrightnessKeyEvent::keyboard(144, true),
        (BrightnessKeyEvent{.direction = up, .isDown = true, .encoding = Encoding::keyboard}));
    EXPECT_EQ(BrightnessKeyEvent::keyboard(145, false),
        (BrightnessKeyEvent{.direction = down, .isDown = false, .encoding = Encoding::keyboard}));
    EXPECT_FALSE(BrightnessKeyEvent::keyboard(107, true));
}

TEST(BrightnessKeyRouterTest, KeyUpFollowsItsOwnKeyDown)
{
    const auto press = [](Encoding encoding, bool isDown) {
        return BrightnessKeyEvent{.direction = up, .isDown = isDown, .encoding = encoding};
    };
    int askedCount = 0;
    const auto acceptAll = [&](BrightnessKeyDirection) {
        ++askedCount;
        return true;
    };
    const auto refuseAll = [](BrightnessKeyDirection) { return false; };
    BrightnessKeyRouter router;

    // Modified: passed on without asking, and so is its key-up even without the modifier.
    EXPECT_FALSE(router.shouldConsume(press(Encoding::keyboard, true), true, acceptAll));
    EXPECT_EQ(askedCount, 0);
    EXPECT_FALSE(router.shouldConsume(press(Encoding::keyboard, false), false, acceptAll));

    // Refused: passed on both ways.
    EXPECT_FALSE(router.shouldConsume(press(Encoding::keyboard, true), false, refuseAll));
    EXPECT_FALSE(router.shouldConsume(press(Encoding::keyboard, false), false, acceptAll));

    // Accepted: the first key-up is swallowed even with a modifier held by then, a second is not.
    EXPECT_TRUE(router.shouldConsume(press(Encoding::keyboard, true), false, acceptAll));
    EXPECT_FALSE(router.shouldConsume(press(Encoding::auxiliary, false), false, acceptAll));
    EXPECT_TRUE(router.shouldConsume(press(Encoding::keyboard, false), true, acceptAll));
    EXPECT_FALSE(router.shouldConsume(press(Encoding::keyboard, false), false, acceptAll));
    EXPECT_TRUE(router.captured().empty());

    EXPECT_TRUE(router.shouldConsume(press(Encoding::auxiliary, true), false, acceptAll));
    router.reset();
    EXPECT_FALSE(router.shouldConsume(press(Encoding::auxiliary, false), false, acceptAll));
}

TEST(BrightnessKeyAdjustmentQueueTest, OneReadAbsorbsABurstThenTheTargetMovesDirectly)
{
    BrightnessKeyAdjustmentQueue queue;
    EXPECT_EQ(queue.enqueue(up, BrightnessKeyStep::ten), Action::readCurrent());
    EXPECT_EQ(queue.enqueue(up, BrightnessKeyStep::five), Action::queued());

    const std::optional<double> resolved = queue.resolve(0.5);
    ASSERT_TRUE(resolved);
    EXPECT_DOUBLE_EQ(*resolved, 0.65);
    EXPECT_TRUE(queue.pending().empty());
    EXPECT_EQ(queue.target(), resolved);

    const Action action = queue.enqueue(up, BrightnessKeyStep::five);
    const auto* apply = std::get_if<Action::Apply>(&action.value);
    ASSERT_TRUE(apply);
    EXPECT_DOUBLE_EQ(apply->target, 0.7);

    // The first apply finishing after the target moved on changes nothing.
    queue.completed(*resolved);
    EXPECT_EQ(queue.target(), apply->target);
    queue.completed(apply->target);
    EXPECT_FALSE(queue.target());
    EXPECT_EQ(queue.enqueue(down, BrightnessKeyStep::one), Action::readCurrent());
}

TEST(BrightnessKeyAdjustmentQueueTest, ClampsAfterEveryPendingPress)
{
    BrightnessKeyAdjustmentQueue queue;
    (void)queue.enqueue(up, BrightnessKeyStep::ten);
    (void)queue.enqueue(down, BrightnessKeyStep::five);
    const std::optional<double> resolved = queue.resolve(0.95);
    ASSERT_TRUE(resolved);
    EXPECT_DOUBLE_EQ(*resolved, 0.95); // 0.95 + 0.10 stops at 1.0 before the step down
}

TEST(BrightnessKeyAdjustmentQueueTest, ReadsOutsideTheUnitRangeDropThePresses)
{
    const double reads[] = {1.2, -0.01, std::numeric_limits<double>::quiet_NaN()};
    for (const double current : reads) {
        SCOPED_TRACE(current);
        BrightnessKeyAdjustmentQueue queue;
        (void)queue.enqueue(up, BrightnessKeyStep::five);
        EXPECT_FALSE(queue.resolve(current));
        EXPECT_TRUE(queue.pending().empty());
        EXPECT_EQ(queue.enqueue(up, BrightnessKeyStep::five), Action::readCurrent());
    }
}
