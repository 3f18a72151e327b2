#include "ModelFixtures.h"
#include "QuorvaneCore/ResolvedPlan.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

using namespace quorvane;
using namespace std::chrono_literals;

TEST(ControlCapabilityTest, RejectionChecksAvailabilityThenValidityThenChoices)
{
    const SettingValue adaptive = SettingValue::refresh(RefreshPreference::adaptive());
    const SettingValue sixtyHertz = SettingValue::refresh(RefreshPreference::fixed(60'000));
    const ControlCapability any{.available = true};
    const ControlCapability choices{.available = true, .choices = {sixtyHertz}};
    const SettingValue tooHigh = SettingValue::percent(7);
    EXPECT_EQ(ControlCapability{}.rejection(tooHigh, SettingKey::contrast), "Control unavailable");
    EXPECT_EQ(ControlCapability{.reason = "Gone"}.rejection(tooHigh, SettingKey::contrast), "Gone");
    EXPECT_EQ(any.rejection(tooHigh, SettingKey::contrast), "Invalid value");
    EXPECT_EQ(any.rejection(SettingValue::percent(1), SettingKey::contrast), std::nullopt);
    EXPECT_EQ(choices.rejection(tooHigh, SettingKey::refreshRate), "Invalid value");
    EXPECT_EQ(choices.rejection(adaptive, SettingKey::refreshRate),
        "Value unavailable in this display mode");
    EXPECT_EQ(choices.rejection(sixtyHertz, SettingKey::refreshRate), std::nullopt);
}

TEST(ManualHoldTest, EndsExactlyAtItsExpiry)
{
    const ManualHold timed{.value = SettingValue::percent(0.3), .expiresAt = Date{} + 1h};
    EXPECT_TRUE(timed.isActive(Date{} + 1h - 1ns));
    EXPECT_FALSE(timed.isActive(Date{} + 1h));
    EXPECT_TRUE(ManualHold{.value = SettingValue::percent(0.3)}.isActive(Date::max()));
}

TEST(ResolvedPlanTest, LabelsSayWhatARuleDecided)
{
    const ControlKey key = controlOf("A", SettingKey::brightness);
    const auto label = [](RuleEvaluation evaluation) { return evaluation.label(); };
    EXPECT_EQ(label({.matches = true, .contributions = {key, key}}), "Active · 2 settings");
    EXPECT_EQ(label({.contributions = {key}, .reasons = {"x"}}), "Partial · 1 setting");
    EXPECT_EQ(label({.reasons = {"Invalid value", "Gone"}}), "Invalid value; Gone");
    EXPECT_EQ(label({.matches = true}), "Overridden by higher priority");
    EXPECT_EQ(label({}), "Not matching");
}

namespace {

/// An evaluation told apart by its one reason.
RuleEvaluation saying(std::string reason) { return {.reasons = {std::move(reason)}}; }

/// The reason of the evaluation found, or "none".
std::string reasonOf(const RuleEvaluation* evaluation)
{
    return evaluation ? evaluation->reasons.front() : "none";
}

/// Ids 0 to count - 1 spread over two bytes, so that many of them share their last byte.
UUID wideNumber(std::size_t number)
{
    UUID::Bytes bytes{};
    bytes[7] = static_cast<std::uint8_t>(number / 256);
    bytes[15] = static_cast<std::uint8_t>(number % 256);
    return UUID(bytes);
}

} // namespace

TEST(RuleEvaluationsTest, ARepeatedIdFindsItsLastEntry)
{
    const RuleEvaluations evaluations{{uuidNumber(1), saying("first 1")},
        {uuidNumber(2), saying("only 2")}, {uuidNumber(1), saying("second 1")},
        {uuidNumber(1), saying("third 1")}, {uuidNumber(3), saying("only 3")}};
    struct Case {
        std::uint8_t id;
        std::string_view reason;
    };
    const Case cases[] = {{1, "third 1"}, {2, "only 2"}, {3, "only 3"}, {4, "none"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "#" << int(c.id));
        EXPECT_EQ(reasonOf(evaluations.find(uuidNumber(c.id))), c.reason);
    }
    EXPECT_EQ(evaluations.at(uuidNumber(1)).reasons.front(), "third 1");
    EXPECT_EQ(evaluations.size(), 5u);
}

TEST(RuleEvaluationsTest, EachRuleIsFoundAmongManyAndARepeatAtTheFarEndStillCounts)
{
    std::vector<RuleEvaluations::Entry> entries;
    for (std::size_t number = 0; number < 3000; ++number)
        entries.push_back({wideNumber(number), saying(std::to_string(number))});
    const RuleEvaluations distinct(entries);
    for (const std::size_t row : {0u, 1u, 255u, 256u, 1499u, 2999u})
        EXPECT_EQ(reasonOf(distinct.find(wideNumber(row))), std::to_string(row));

    entries.push_back({wideNumber(7), saying("7 again")});
    const RuleEvaluations repeated(std::move(entries));
    EXPECT_EQ(reasonOf(repeated.find(wideNumber(7))), "7 again");
    EXPECT_EQ(reasonOf(repeated.find(wideNumber(8))), "8");
}

TEST(RuleEvaluationsTest, AnEmptyListFindsNothingAndEqualityFollowsTheRowOrder)
{
    const RuleEvaluations empty;
    EXPECT_EQ(empty.find(UUID()), nullptr);
    EXPECT_FALSE(empty.contains(UUID()));
    EXPECT_THROW((void)empty.at(UUID()), std::out_of_range);
    EXPECT_EQ(empty, RuleEvaluations(std::vector<RuleEvaluations::Entry>()));

    const RuleEvaluations ordered{{uuidNumber(1), saying("a")}, {uuidNumber(2), saying("b")}};
    EXPECT_EQ(
        ordered, (RuleEvaluations{{uuidNumber(1), saying("a")}, {uuidNumber(2), saying("b")}}));
    EXPECT_NE(
        ordered, (RuleEvaluations{{uuidNumber(2), saying("b")}, {uuidNumber(1), saying("a")}}));
    EXPECT_NE(
        ordered, (RuleEvaluations{{uuidNumber(1), saying("a")}, {uuidNumber(2), saying("c")}}));
    EXPECT_NE(ordered, empty);
}

TEST(RuleEvaluationsTest, TheLastEntryOfAnIdRepeatedAnywhereIsFoundInShortAndLongLists)
{
    struct Case {
        std::string_view name;
        std::vector<std::uint8_t> ids;
    };
    const Case cases[] = {
        {"two entries", {1, 1}},
        {"one between", {1, 2, 1}},
        {"two between", {2, 1, 3, 1}},
        {"apart in a longer list", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 1}},
        {"at both ends of a list that grows the table", {9, 1, 2, 3, 4, 5, 6, 7, 8, 10, 11, 12, 9}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<RuleEvaluations::Entry> entries;
        for (std::size_t row = 0; row < c.ids.size(); ++row)
            entries.push_back({uuidNumber(c.ids[row]), saying(std::to_string(row))});
        const RuleEvaluations evaluations(std::move(entries));
        const std::string last = std::to_string(c.ids.size() - 1);
        EXPECT_EQ(reasonOf(evaluations.find(uuidNumber(c.ids.back()))), last);
    }
}

namespace {

/// Entries named "0" to "count - 1", split into parts of the given sizes.
RuleEvaluations inParts(const std::vector<std::size_t>& sizes)
{
    std::vector<std::shared_ptr<const RuleEvaluations::Part>> parts;
    std::size_t number = 0;
    for (const std::size_t size : sizes) {
        RuleEvaluations::Part part;
        for (std::size_t index = 0; index < size; ++index, ++number)
            part.push_back({wideNumber(number), saying(std::to_string(number))});
        parts.push_back(std::make_shared<const RuleEvaluations::Part>(std::move(part)));
    }
    return RuleEvaluations(std::move(parts));
}

/// The reasons in the order the list yields them, joined: "0 1 2".
std::string order(const RuleEvaluations& evaluations)
{
    std::string joined;
    for (const auto& [id, evaluation] : evaluations)
        joined += (joined.empty() ? "" : " ") + evaluation.reasons.front();
    return joined;
}

} // namespace

TEST(RuleEvaluationsTest, PartsReadAsOneListHoweverTheEntriesAreSplit)
{
    const RuleEvaluations whole = inParts({5});
    for (const auto& sizes : std::vector<std::vector<std::size_t>>{
             {1, 4}, {4, 1}, {2, 0, 3}, {0, 1, 1, 1, 1, 1, 0}, {3, 2}}) {
        const RuleEvaluations split = inParts(sizes);
        EXPECT_EQ(split.size(), 5u);
        EXPECT_EQ(order(split), "0 1 2 3 4");
        for (std::size_t index = 0; index < 5; ++index)
            EXPECT_EQ(split[index].evaluation.reasons.front(), std::to_string(index));
        EXPECT_EQ(split, whole);
        EXPECT_EQ(whole, split);
    }
    EXPECT_TRUE(inParts({0, 0}).empty());
    EXPECT_TRUE(whole.deciding().empty());
    EXPECT_EQ(inParts({0, 0}), RuleEvaluations());
    EXPECT_NE(inParts({2, 2}), whole);
    EXPECT_NE(whole, inParts({2, 2}));
}

TEST(RuleEvaluationsTest, AChangeThroughOneListNeverShowsInAnotherSharingItsPart)
{
    const RuleEvaluations original = inParts({2, 3});
    RuleEvaluations changed = original;
    changed.evaluationAt(3).reasons = {"changed"};
    EXPECT_EQ(order(original), "0 1 2 3 4");
    EXPECT_EQ(order(changed), "0 1 2 changed 4");
    EXPECT_NE(changed, original);

    // A part of its own is changed in place, and the change is seen at once.
    changed.evaluationAt(4).reasons = {"again"};
    changed.evaluationAt(0).reasons = {"first"};
    EXPECT_EQ(order(changed), "first 1 2 changed again");
    EXPECT_EQ(order(original), "0 1 2 3 4");
    EXPECT_EQ(reasonOf(changed.find(wideNumber(4))), "again");
}

TEST(RuleEvaluationsTest, TheDecidingEntriesAreFoundInEveryPart)
{
    std::vector<std::shared_ptr<const RuleEvaluations::Part>> parts;
    const ControlKey key = controlOf("a", SettingKey::brightness);
    for (const std::vector<bool>& decides :
        std::vector<std::vector<bool>>{{true, false}, {}, {false, false, true}, {true}}) {
        RuleEvaluations::Part part;
        for (const bool decided : decides)
            part.push_back({UUID::random(),
                {.matches = true,
                    .contributions = decided ? std::vector{key} : std::vector<ControlKey>{}}});
        parts.push_back(std::make_shared<const RuleEvaluations::Part>(std::move(part)));
    }
    EXPECT_EQ(RuleEvaluations(parts).deciding(), (std::vector<std::size_t>{0, 4, 5}));
}

TEST(RuleEvaluationsTest, APartSharedAtAnotherPlaceIsComparedEntryByEntry)
{
    const auto part = [](std::vector<std::size_t> numbers) {
        RuleEvaluations::Part entries;
        for (const std::size_t number : numbers)
            entries.push_back({wideNumber(number), saying(std::to_string(number))});
        return std::make_shared<const RuleEvaluations::Part>(std::move(entries));
    };
    const auto shared = part({0, 1});
    // "0 1 0 1" against "0 0 1 1": the shared part starts one entry later in the second list.
    const RuleEvaluations twice({shared, shared});
    const RuleEvaluations between({part({0}), shared, part({1})});
    EXPECT_NE(twice, between);
    EXPECT_NE(between, twice);
    EXPECT_EQ(twice, RuleEvaluations({part({0, 1, 0}), part({1})}));
}
