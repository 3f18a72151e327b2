#include "Foundation/CopyOnWriteVector.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace quorvane;

namespace {

using Names = CopyOnWriteVector<std::string>;

std::vector<std::string> contents(const Names& names) { return {names.begin(), names.end()}; }

} // namespace

TEST(CopyOnWriteVectorTest, AnEditedElementIsCopiedOnlyWhileAnotherVectorHoldsIt)
{
    Names names{"Work", "Evening", "Gaming"};
    const std::string* evening = &names[1];

    // Alone, an element changes in place.
    names.edit(1) += " late";
    EXPECT_EQ(&names[1], evening);

    const Names saved = names;
    EXPECT_TRUE(names.shares(1, saved, 1));
    names.edit(1) = "Night";
    names.edit(names.begin() + 2) = "Games";
    EXPECT_EQ(contents(saved), (std::vector<std::string>{"Work", "Evening late", "Gaming"}));
    EXPECT_EQ(contents(names), (std::vector<std::string>{"Work", "Night", "Games"}));
    EXPECT_EQ(&saved[1], evening) << "the copy keeps the element it shared";
    EXPECT_TRUE(names.shares(0, saved, 0)) << "an element not edited stays shared";
    EXPECT_FALSE(names.shares(1, saved, 1));

    // Every element at once: the shared ones are copied, the others stay where they are.
    const std::string* night = &names[1];
    for (std::string& name : names.editEach())
        name += "!";
    EXPECT_EQ(contents(names), (std::vector<std::string>{"Work!", "Night!", "Games!"}));
    EXPECT_EQ(saved[0], "Work");
    EXPECT_EQ(&names[1], night);
}

TEST(CopyOnWriteVectorTest, ChangesToTheListLeaveItsCopiesAlone)
{
    Names names = std::vector<std::string>{"A", "B", "C", "D"};
    const Names saved = names;
    names.push_back("E");
    names.insert(names.begin() + 1, "A2");
    names.insert(names.begin(), {"Z", "Y"});
    names.erase(names.begin() + 4);
    EXPECT_EQ(names.eraseIf([](const std::string& name) { return name.size() > 1; }), 1U);
    EXPECT_EQ(contents(names), (std::vector<std::string>{"Z", "Y", "A", "C", "D", "E"}));
    names.erase(names.begin(), names.begin() + 2);
    names.pop_back();
    EXPECT_EQ(contents(names), (std::vector<std::string>{"A", "C", "D"}));
    EXPECT_EQ(contents(saved), (std::vector<std::string>{"A", "B", "C", "D"}));
    EXPECT_EQ(names.emplace_back(3, 'x'), "xxx");
    EXPECT_EQ(names.back(), "xxx");
    EXPECT_EQ(names.front(), "A");
    EXPECT_THROW((void)names.at(4), std::out_of_range);
    EXPECT_THROW((void)names.edit(4), std::out_of_range);
}

TEST(CopyOnWriteVectorTest, VectorsAreEqualByTheirElementsWhetherSharedOrNot)
{
    const Names names{"Work", "Evening"};
    Names copy = names;
    EXPECT_EQ(copy, names);
    copy.edit(0) = "Work"; // copied, equal
    EXPECT_FALSE(copy.shares(0, names, 0));
    EXPECT_EQ(copy, names);
    copy.edit(1) = "Night";
    EXPECT_NE(copy, names);
    EXPECT_NE(copy, (Names{"Work"}));
    EXPECT_EQ(Names{}, Names{});
    const auto found = std::ranges::find(names, "Evening");
    EXPECT_EQ(found - names.begin(), 1);
}
