#include "QuorvaneCore/RuleList.h"

#include "QuorvaneCore/Rules.h"

#include <algorithm>
#include <atomic>
#include <cassert>

namespace quorvane {
namespace {

std::ptrdiff_t offset(std::size_t index) { return static_cast<std::ptrdiff_t>(index); }

} // namespace

RuleList::RuleList(std::vector<Rule> rules)
{
    m_rules.reserve(rules.size());
    for (Rule& rule : rules)
        m_rules.push_back(std::make_shared<Rule>(std::move(rule)));
}

RuleList::RuleList(std::initializer_list<Rule> rules)
{
    m_rules.reserve(rules.size());
    for (const Rule& rule : rules)
        m_rules.push_back(std::make_shared<Rule>(rule));
}

Rule& RuleList::edit(std::size_t index)
{
    assert(index < m_rules.size() && "an edited rule is in the list");
    Shared& rule = m_rules[index];
    if (rule.use_count() == 1) {
        // A copy on another thread may have let go of it just now: see its reads before writing.
        std::atomic_thread_fence(std::memory_order_acquire);
    } else {
        rule = std::make_shared<Rule>(*rule);
    }
    // Every rule is made as a non-const Rule; const only keeps shared ones from being changed.
    return const_cast<Rule&>(*rule);
}

Rule& RuleList::edit(const_iterator position)
{
    return edit(static_cast<std::size_t>(position.m_position - m_rules.cbegin()));
}

void RuleList::push_back(Rule rule) { m_rules.push_back(std::make_shared<Rule>(std::move(rule))); }

void RuleList::insert(std::size_t index, Rule rule)
{
    assert(index <= m_rules.size() && "a rule is inserted within the list");
    m_rules.insert(m_rules.begin() + offset(index), std::make_shared<Rule>(std::move(rule)));
}

void RuleList::insert(const_iterator position, Rule rule)
{
    m_rules.insert(position.m_position, std::make_shared<Rule>(std::move(rule)));
}

void RuleList::insert(std::size_t index, const RuleList& rules)
{
    assert(index <= m_rules.size() && "rules are inserted within the list");
    m_rules.insert(m_rules.begin() + offset(index), rules.m_rules.begin(), rules.m_rules.end());
}

void RuleList::erase(std::size_t index)
{
    assert(index < m_rules.size() && "an erased rule is in the list");
    m_rules.erase(m_rules.begin() + offset(index));
}

void RuleList::erase(const_iterator position) { m_rules.erase(position.m_position); }

void RuleList::erase(std::size_t first, std::size_t last)
{
    assert(first <= last && last <= m_rules.size() && "erased rules are in the list");
    m_rules.erase(m_rules.begin() + offset(first), m_rules.begin() + offset(last));
}

void RuleList::move(std::size_t from, std::size_t to)
{
    assert(from < m_rules.size() && to < m_rules.size() && "a moved rule stays in the list");
    const auto start = m_rules.begin();
    if (from < to)
        std::rotate(start + offset(from), start + offset(from) + 1, start + offset(to) + 1);
    else if (to < from)
        std::rotate(start + offset(to), start + offset(from), start + offset(from) + 1);
}

void RuleList::swap(std::size_t first, std::size_t second) noexcept
{
    m_rules[first].swap(m_rules[second]);
}

RuleList RuleList::slice(std::size_t first, std::size_t last) const
{
    assert(first <= last && last <= m_rules.size() && "a slice lies within the list");
    RuleList sliced;
    sliced.m_rules.assign(m_rules.begin() + offset(first), m_rules.begin() + offset(last));
    return sliced;
}

void RuleList::share(std::size_t index, const RuleList& rules, std::size_t sourceIndex)
{
    m_rules.at(index) = rules.m_rules.at(sourceIndex);
}

bool operator==(const RuleList& first, const RuleList& second)
{
    return std::ranges::equal(first.m_rules, second.m_rules,
        [](const RuleList::Shared& one, const RuleList::Shared& other) {
            return one == other || *one == *other;
        });
}

} // namespace quorvane
