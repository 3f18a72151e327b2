#include "Quorvane/Observable.h"

#include "Concurrency/Spawn.h"
#include "TestSupport/RunToEnd.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quorvane {
namespace {

Task<void> nothing() { co_return; }

/// Counts the notifications of one field.
template <typename Field> struct Counter {
    explicit Counter(const Field& field)
        : subscription(field.observe([this] { ++count; }))
    {
    }
    int count = 0;
    Subscription subscription;
};

TEST(ObservableTest, NotifiesOnlyWritesThatChangeTheValue)
{
    Observable<std::map<std::string, int>> field;
    Counter counter(field);
    struct Step {
        const char* what;
        std::map<std::string, int> value;
        bool inPlace;
        int expectedCount;
    };
    const Step steps[] = {
        {"equal value", {}, false, 0},
        {"new value", {{"a", 1}}, false, 1},
        {"same again", {{"a", 1}}, false, 1},
        {"in place, no change", {{"a", 1}}, true, 1},
        {"in place, changed", {{"a", 2}}, true, 2},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        if (step.inPlace)
            field.modify([&](auto& map) { map = step.value; });
        else
            field.set(step.value);
        EXPECT_EQ(counter.count, step.expectedCount);
    }
    EXPECT_EQ(field->at("a"), 2);
}

TEST(ObservableTest, ReplaceStoresAnEqualValueSilentlyAndNotifiesAChange)
{
    // Equal by value, told apart by the address of their shared data.
    struct Shared {
        std::shared_ptr<const int> data;
        bool operator==(const Shared& other) const { return *data == *other.data; }
    };
    const auto seven = std::make_shared<const int>(7);
    Observable<Shared> field(Shared{std::make_shared<const int>(7)});
    Counter counter(field);

    field.replace({seven});
    EXPECT_EQ(field->data, seven);
    EXPECT_EQ(counter.count, 0);

    field.replace({std::make_shared<const int>(8)});
    EXPECT_EQ(*field->data, 8);
    EXPECT_EQ(counter.count, 1);
}

TEST(ObservableTest, UpdateChangesInPlaceAndNotifiesWhatItSaysItChanged)
{
    Observable<std::vector<int>> field(std::vector<int>{1, 2});
    Counter counter(field);
    const int* stored = field->data();
    std::vector<int> seenByObserver;
    const Subscription reading = field.observe([&] { seenByObserver = field.get(); });

    field.update([](std::vector<int>& value) {
        value[0] = 7;
        return true;
    });
    EXPECT_EQ(seenByObserver, (std::vector<int>{7, 2}));
    EXPECT_EQ(counter.count, 1);
    // The same storage: nothing was copied, so references into the value still hold.
    EXPECT_EQ(field->data(), stored);

    // A change that reports none is kept, but no one hears of it.
    field.update([](std::vector<int>& value) {
        value[1] = 9;
        return false;
    });
    EXPECT_EQ(field.get(), (std::vector<int>{7, 9}));
    EXPECT_EQ(counter.count, 1);
}

TEST(ObservableTest, TaskHandlesCompareByIdentity)
{
    ManualExecutor executor;
    const TaskHandle first = spawn(executor, nothing());
    const TaskHandle second = spawn(executor, nothing());
    executor.runUntilIdle();

    Observable<std::optional<TaskHandle>> field;
    Counter counter(field);
    field.set(std::nullopt);
    EXPECT_EQ(counter.count, 0) << "both absent are equal";
    field.set(first);
    field.set(first);
    EXPECT_EQ(counter.count, 1) << "the same task is no change";
    field.set(second);
    EXPECT_EQ(counter.count, 2) << "another finished task is a change";
}

TEST(ObservableTest, EndedSubscriptionsHearNothing)
{
    Observable<int> field;
    std::vector<std::string> heard;
    Subscription subscription = field.observe([&] { heard.push_back("moved"); });
    Subscription moved = std::move(subscription);
    subscription.reset(); // the moved-from one owns nothing
    Subscription replaced = field.observe([&] { heard.push_back("replaced"); });
    replaced = field.observe([&] { heard.push_back("replacement"); });
    field.set(1);
    moved.reset();
    replaced = Subscription();
    field.set(2);
    EXPECT_EQ(heard, (std::vector<std::string>{"moved", "replacement"}));
}

TEST(ObservableTest, ObserverThatEndsAnotherStopsItBeforeItsTurn)
{
    Observable<int> field;
    std::vector<std::string> calls;
    Subscription second;
    const Subscription first = field.observe([&] {
        calls.push_back("first");
        second.reset();
    });
    second = field.observe([&] { calls.push_back("second"); });
    std::optional<Subscription> late;
    const Subscription third = field.observe([&] {
        calls.push_back("third");
        if (!late)
            late = field.observe([&] { calls.push_back("late"); });
    });

    field.set(1);
    EXPECT_EQ(calls, (std::vector<std::string>{"first", "third"}));
    field.set(2);
    EXPECT_EQ(calls, (std::vector<std::string>{"first", "third", "first", "third", "late"}));
}

TEST(ObservableTest, SubscriptionMayOutliveItsField)
{
    Subscription subscription;
    {
        Observable<int> field;
        subscription = field.observe([] {});
    }
    subscription.reset(); // must not touch the destroyed field
}

TEST(ObservableTest, FieldMayDieInsideItsOwnObserver)
{
    auto field = std::make_unique<Observable<int>>();
    int laterCalls = 0;
    const Subscription first = field->observe([&] { field.reset(); });
    const Subscription second = field->observe([&] { ++laterCalls; });
    field->set(1);
    EXPECT_FALSE(field);
    EXPECT_EQ(laterCalls, 0);
}

} // namespace
} // namespace quorvane
