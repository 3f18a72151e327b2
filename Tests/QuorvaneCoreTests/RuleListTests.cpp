#include "ModelFixtures.h"
#include "QuorvaneCore/RuleList.h"
#include "QuorvaneCore/Rules.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

using namespace quorvane;

namespace {

static_assert(std::ranges::random_access_range<const RuleList>);
static_assert(std::ranges::sized_range<RuleList>);

Rule ruleNamed(std::uint8_t number, std::string name)
{
    return {.id = uuidNumber(number), .name = std::move(name), .settings = {.brightness = 0.5}};
}

/// "A B C": the names in order.
std::string names(const RuleList& rules)
{
    std::string joined;
    for (const Rule& rule : rules)
        joined += (joined.empty() ? "" : " ") + rule.name;
    return joined;
}

RuleList abcd()
{
    return {ruleNamed(1, "A"), ruleNamed(2, "B"), ruleNamed(3, "C"), ruleNamed(4, "D")};
}

/// "r0042" for 42.
Rule numbered(int number)
{
    char name[16];
    std::snprintf(name, sizeof name, "r%04d", number);
    return ruleNamed(static_cast<std::uint8_t>(number), name);
}

/// Rules numbered from `start` up to `end`: enough of them to fill several chunks.
std::vector<Rule> numbered(int start, int end)
{
    std::vector<Rule> rules;
    for (int number = start; number < end; ++number)
        rules.push_back(numbered(number));
    return rules;
}

/// A plain vector taking the list's writes, to check the list against.
struct Model {
    std::vector<Rule> rules;

    [[nodiscard]] std::size_t size() const { return rules.size(); }
    auto at(std::size_t index) { return rules.begin() + static_cast<std::ptrdiff_t>(index); }
    Rule& edit(std::size_t index) { return rules[index]; }
    void insert(std::size_t index, const Rule& rule) { rules.insert(at(index), rule); }
    void erase(std::size_t index) { rules.erase(at(index)); }
    void erase(std::size_t first, std::size_t last) { rules.erase(at(first), at(last)); }
    void move(std::size_t from, std::size_t to)
    {
        const Rule moved = rules[from];
        erase(from);
        insert(to, moved);
    }
    void swap(std::size_t first, std::size_t second) { std::swap(rules[first], rules[second]); }
};

/// Empty when `rules` reads as `expected` forward, backward, by index and by jumps from both
/// ends; rules are told apart by name.
std::string mismatch(const RuleList& rules, const std::vector<Rule>& expected)
{
    if (rules.size() != expected.size())
        return "size " + std::to_string(rules.size()) + ", not " + std::to_string(expected.size());
    const auto sameName
        = [](const Rule& rule, const Rule& other) { return rule.name == other.name; };
    if (!std::equal(rules.begin(), rules.end(), expected.begin(), sameName))
        return "forward";
    if (!std::equal(
            expected.rbegin(), expected.rend(), std::make_reverse_iterator(rules.end()), sameName))
        return "backward";
    for (std::size_t index = 0; index < expected.size(); ++index) {
        const auto offset = static_cast<std::ptrdiff_t>(index);
        const std::string& name = expected[index].name;
        if (rules[index].name != name || (rules.begin() + offset)->name != name
            || (rules.end() - offset)[-1].name != expected[expected.size() - 1 - index].name)
            return "at " + std::to_string(index);
    }
    return {};
}

} // namespace

TEST(RuleListTest, AChangeThroughOneCopyNeverShowsInTheOther)
{
    struct Case {
        std::string_view name;
        std::function<void(RuleList&)> change;
        std::string_view changed;
    };
    const Case cases[] = {
        {"edit", [](RuleList& rules) { rules.edit(1).name = "b"; }, "A b C D"},
        {"edit by position", [](RuleList& rules) { rules.edit(rules.begin() + 3).name = "d"; },
            "A B C d"},
        {"insert", [](RuleList& rules) { rules.insert(1, ruleNamed(5, "E")); }, "A E B C D"},
        {"insert last", [](RuleList& rules) { rules.insert(rules.end(), ruleNamed(5, "E")); },
            "A B C D E"},
        {"insert last by index", [](RuleList& rules) { rules.insert(4, ruleNamed(5, "E")); },
            "A B C D E"},
        {"push_back", [](RuleList& rules) { rules.push_back(ruleNamed(5, "E")); }, "A B C D E"},
        {"erase one", [](RuleList& rules) { rules.erase(0); }, "B C D"},
        {"erase a range", [](RuleList& rules) { rules.erase(1, 3); }, "A D"},
        {"erase to the end", [](RuleList& rules) { rules.erase(2, 4); }, "A B"},
        {"erase an empty range", [](RuleList& rules) { rules.erase(4, 4); }, "A B C D"},
        {"erase where",
            [](RuleList& rules) { rules.eraseIf([](const Rule& r) { return r.name < "C"; }); },
            "C D"},
        {"move down", [](RuleList& rules) { rules.move(0, 2); }, "B C A D"},
        {"move up", [](RuleList& rules) { rules.move(3, 1); }, "A D B C"},
        {"move in place", [](RuleList& rules) { rules.move(2, 2); }, "A B C D"},
        {"swap", [](RuleList& rules) { rules.swap(0, 3); }, "D B C A"},
        {"clear", [](RuleList& rules) { rules.clear(); }, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const RuleList original = abcd();
        RuleList copy = original;
        c.change(copy);
        EXPECT_EQ(names(copy), c.changed);
        EXPECT_EQ(names(original), "A B C D");
        EXPECT_EQ(original, abcd());
    }
}

TEST(RuleListTest, AnEditCopiesOnlyTheRuleItChangesAndOnlyWhileItIsShared)
{
    RuleList rules = abcd();
    const RuleList older = rules;
    for (std::size_t index = 0; index < rules.size(); ++index)
        EXPECT_TRUE(rules.sharesRule(index, older, index));

    Rule& edited = rules.edit(2);
    edited.isEnabled = false;
    EXPECT_FALSE(rules.sharesRule(2, older, 2));
    EXPECT_TRUE(older[2].isEnabled);
    EXPECT_TRUE(rules.sharesRule(1, older, 1) && rules.sharesRule(3, older, 3));
    EXPECT_EQ(&rules.edit(2), &edited) << "a rule no other list holds is changed in place";

    // A copy taken after the first edit shares the edited rule again.
    const RuleList later = rules;
    rules.edit(2).name = "c";
    EXPECT_EQ(later[2].name, "C");
    EXPECT_FALSE(later[2].isEnabled);
}

TEST(RuleListTest, MovesSlicesAndSharedInsertionsKeepTheRulesShared)
{
    const RuleList original = abcd();
    RuleList moved = original;
    moved.move(0, 3);
    EXPECT_TRUE(moved.sharesRule(3, original, 0));
    moved.swap(0, 1);
    EXPECT_TRUE(moved.sharesRule(0, original, 2));

    const RuleList middle = original.slice(1, 3);
    EXPECT_EQ(names(middle), "B C");
    EXPECT_TRUE(middle.sharesRule(0, original, 1));
    EXPECT_EQ(names(original.slice(2, 4)), "C D");
    EXPECT_TRUE(original.slice(4, 4).empty());

    RuleList grown{ruleNamed(9, "Z")};
    grown.insert(1, middle);
    EXPECT_EQ(names(grown), "Z B C");
    EXPECT_TRUE(grown.sharesRule(2, original, 2));

    grown.share(0, original, 3);
    EXPECT_EQ(names(grown), "D B C");
    EXPECT_TRUE(grown.sharesRule(0, original, 3));
    grown.edit(0).name = "d";
    EXPECT_EQ(original[3].name, "D");
}

TEST(RuleListTest, ListsAreEqualByTheirRulesWhereverTheRulesLive)
{
    const RuleList rules = abcd();
    EXPECT_EQ(rules, abcd()) << "equal rules, none shared";
    EXPECT_EQ(RuleList(std::vector<Rule>(rules.begin(), rules.end())), rules);

    RuleList changed = rules;
    changed.edit(3).settings.brightness = 0.6;
    EXPECT_NE(changed, rules);
    changed.edit(3).settings.brightness = 0.5;
    EXPECT_EQ(changed, rules) << "changed back: another object, an equal rule";

    RuleList shorter = rules;
    shorter.erase(3);
    EXPECT_NE(shorter, rules);
    EXPECT_NE(rules, shorter);
    EXPECT_EQ(RuleList{}, RuleList(std::vector<Rule>{}));

    RuleList reordered = rules;
    reordered.swap(1, 2);
    EXPECT_NE(reordered, rules);
}

TEST(RuleListTest, ReadsLikeAVectorOfRules)
{
    const RuleList rules = abcd();
    EXPECT_EQ(std::ranges::find(rules, uuidNumber(3), &Rule::id) - rules.begin(), 2);
    EXPECT_EQ(std::ranges::find(rules, uuidNumber(7), &Rule::id), rules.end());
    EXPECT_EQ(std::ranges::count_if(rules, [](const Rule& rule) { return rule.name > "B"; }), 2);
    EXPECT_EQ((rules.end() - 1)->name, "D");
    EXPECT_EQ(rules.begin()[1].name, "B");
    std::string backwards;
    for (auto position = rules.end(); position != rules.begin();)
        backwards += (--position)->name;
    EXPECT_EQ(backwards, "DCBA");
    EXPECT_THROW((void)rules.at(4), std::out_of_range);
}

TEST(RuleListTest, ChangesAtChunkBoundariesAndEndsMatchAVector)
{
    const Model plain{numbered(0, 300)};
    const RuleList original = plain.rules;
    const Rule added = ruleNamed(9, "new");
    struct Change {
        std::string_view name;
        std::function<void(RuleList&, std::size_t)> list;
        std::function<void(Model&, std::size_t)> model;
    };
    const auto change = [](std::string_view name, const auto& apply) {
        return Change{name, apply, apply};
    };
    const Change changes[] = {
        change("edit", [](auto& rules, std::size_t index) { rules.edit(index).name += "'"; }),
        change("insert", [&](auto& rules, std::size_t index) { rules.insert(index, added); }),
        change("insert after",
            [&](auto& rules, std::size_t index) { rules.insert(index + 1, added); }),
        change("erase", [](auto& rules, std::size_t index) { rules.erase(index); }),
        change("move down one",
            [](auto& rules, std::size_t index) {
                rules.move(index, std::min(index + 1, std::size_t{299}));
            }),
        change("move up one",
            [](auto& rules, std::size_t index) {
                rules.move(std::min(index + 1, std::size_t{299}), index);
            }),
    };
    for (const Change& change : changes) {
        for (const std::size_t index : {0, 1, 63, 64, 65, 127, 128, 255, 256, 298, 299}) {
            SCOPED_TRACE(std::string(change.name) + " at " + std::to_string(index));
            RuleList rules = original;
            Model expected = plain;
            change.list(rules, index);
            change.model(expected, index);
            ASSERT_EQ(mismatch(rules, expected.rules), "");
            ASSERT_EQ(mismatch(original, plain.rules), "");
            EXPECT_EQ(rules, RuleList(expected.rules));
        }
    }

    // Whole chunks emptied at once, then the last rule of all.
    RuleList emptied = original;
    EXPECT_EQ(emptied.eraseIf([](const Rule& rule) { return rule.name < "r0200"; }), 200);
    EXPECT_EQ(mismatch(emptied, numbered(200, 300)), "");
    emptied.erase(0, 99);
    emptied.erase(emptied.begin());
    EXPECT_TRUE(emptied.empty() && emptied.begin() == emptied.end());

    RuleList doubled = original;
    doubled.insert(150, doubled);
    Model twice = plain;
    twice.rules.insert(twice.at(150), plain.rules.begin(), plain.rules.end());
    EXPECT_EQ(mismatch(doubled, twice.rules), "");
    doubled.erase(0, doubled.size());
    EXPECT_TRUE(doubled.empty());
}

TEST(RuleListTest, ManyChunksChangeLikeAVectorWhileEveryCopyKeepsItsRules)
{
    for (const unsigned seed : {1u, 2u, 3u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 random(seed);
        const auto pick = [&random](std::size_t last) {
            return std::uniform_int_distribution<std::size_t>(0, last)(random);
        };
        Model model{numbered(0, 300)};
        RuleList rules = model.rules;
        RuleList kept = rules;
        Model keptModel = model;
        int next = 300;
        for (int step = 0; step < 250; ++step) {
            SCOPED_TRACE("step " + std::to_string(step));
            const std::size_t size = rules.size();
            if (step % 40 == 0 && size >= 150) {
                kept = rules;
                keptModel = model;
            }
            const RuleList before = rules;
            const std::vector<Rule> beforeRules = model.rules;
            const auto both = [&](const auto& change) {
                change(rules);
                change(model);
            };
            const std::size_t index = pick(size == 0 ? 0 : size - 1);
            const std::size_t other = pick(size == 0 ? 0 : size - 1);
            const std::size_t neighbour = index + 1 < size ? index + 1 : index - 1;
            const std::size_t count = std::min(pick(150), size - index);
            // A short list gets enough rules at one place to split the chunk there.
            switch (size < 150 ? 0 : pick(7)) {
            case 0:
                for (std::size_t place = pick(size), end = place + 70; place < end; ++place) {
                    const Rule added = numbered(next++);
                    both([&](auto& list) { list.insert(place, added); });
                }
                break;
            case 1:
                both([&](auto& list) { list.edit(index).name += "'"; });
                break;
            case 2: // one at a time, enough to empty a chunk
                for (std::size_t erased = 0; erased < count / 2; ++erased)
                    both([&](auto& list) { list.erase(index); });
                break;
            case 3:
                both([&](auto& list) { list.move(index, step % 3 == 0 ? other : neighbour); });
                break;
            case 4:
                both([&](auto& list) { list.swap(index, other); });
                break;
            case 5:
                both([&](auto& list) { list.erase(index, index + count); });
                break;
            case 6: {
                const std::size_t first = pick(kept.size() - 1);
                const std::size_t end = first + std::min(pick(150), kept.size() - first);
                rules.insert(index, kept.slice(first, end));
                model.rules.insert(model.at(index), keptModel.at(first), keptModel.at(end));
                break;
            }
            default: {
                const auto remove = [modulus = pick(20) + 3](const Rule& rule) {
                    return std::stoi(rule.name.substr(1)) % modulus == 0;
                };
                EXPECT_EQ(rules.eraseIf(remove), std::erase_if(model.rules, remove));
                const std::size_t target = pick(rules.size() - 1);
                const std::size_t source = pick(kept.size() - 1);
                rules.share(target, kept, source);
                model.rules[target] = keptModel.rules[source];
            }
            }
            ASSERT_EQ(mismatch(rules, model.rules), "");
            ASSERT_TRUE(std::ranges::equal(before, beforeRules));
            ASSERT_TRUE(std::ranges::equal(kept, keptModel.rules));
            ASSERT_EQ(rules == before, model.rules == beforeRules);
            if (step % 10 == 0) {
                ASSERT_EQ(rules, RuleList(model.rules)) << "equal however the two are chunked";
            }
        }
    }
}

TEST(RuleListTest, IteratorsJumpAndStepAcrossChunks)
{
    const std::vector<Rule> plain = numbered(0, 300);
    RuleList rules;
    for (auto rule = plain.rbegin(); rule != plain.rend(); ++rule)
        rules.insert(0, *rule); // grown at the front: chunks split unevenly
    ASSERT_EQ(mismatch(rules, plain), "");

    const std::ptrdiff_t positions[] = {0, 1, 63, 64, 65, 127, 128, 129, 200, 299, 300};
    for (const std::ptrdiff_t from : positions) {
        for (const std::ptrdiff_t to : positions) {
            SCOPED_TRACE(std::to_string(from) + " to " + std::to_string(to));
            const auto start = rules.begin() + from;
            auto jumped = start;
            jumped += to - from;
            EXPECT_EQ(jumped - start, to - from);
            EXPECT_EQ(jumped, rules.end() - (300 - to));
            EXPECT_EQ(start < jumped, from < to);
            if (to < 300) {
                EXPECT_EQ(jumped->name, plain[static_cast<std::size_t>(to)].name);
                EXPECT_EQ(start[to - from].name, plain[static_cast<std::size_t>(to)].name);
            }
            // Steps after a jump find their way from the chunk the jump landed in.
            if (to > 0) {
                EXPECT_EQ((--jumped)->name, plain[static_cast<std::size_t>(to - 1)].name);
            }
        }
    }
    const auto found = std::ranges::lower_bound(rules, std::string("r0150"), {}, &Rule::name);
    EXPECT_EQ(found - rules.begin(), 150);
    EXPECT_EQ(std::ranges::find(rules, "r0299", &Rule::name), rules.end() - 1);
    EXPECT_EQ(rules.at(299).name, "r0299");
}

TEST(RuleListTest, AChunkSharedAtAnotherPlaceIsComparedRuleByRule)
{
    std::vector<Rule> plain(300, ruleNamed(1, "x"));
    plain[150].name = "y";
    const RuleList rules = plain;
    RuleList shifted = rules;
    // Its last rule to the front: the chunks in between stay shared, one place further on.
    shifted.move(299, 0);
    EXPECT_NE(shifted, rules);
    EXPECT_NE(rules, shifted);
    shifted.move(0, 299);
    EXPECT_EQ(shifted, rules);
}
