#include "ModelFixtures.h"
#include "QuorvaneCore/RuleList.h"
#include "QuorvaneCore/Rules.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <string>

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
