// A profile's rules in priority order, shared between copies of a document until one copy changes
// a rule: copying a profile of thousands of rules copies pointers, not rules.
#pragma once

#include <compare>
#include <cstddef>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <vector>

namespace quorvane {

struct Rule;

/// Reads like a vector of rules; writes go through edit(), which first gives this list its own
/// copy of the one rule it returns, so a change never shows in another list sharing that rule.
/// A copy of the list costs a pointer per rule. Not for concurrent writes: one list is changed by
/// one thread at a time, while copies of it may live on others.
class RuleList {
    using Shared = std::shared_ptr<const Rule>;

public:
    /// Yields `const Rule&`; stays valid until the list's size changes.
    class const_iterator {
    public:
        using iterator_category = std::random_access_iterator_tag;
        using iterator_concept = std::random_access_iterator_tag;
        using value_type = Rule;
        using difference_type = std::ptrdiff_t;
        using reference = const Rule&;
        using pointer = const Rule*;

        const_iterator() = default;

        reference operator*() const { return **m_position; }
        pointer operator->() const { return m_position->get(); }
        reference operator[](difference_type offset) const { return *m_position[offset]; }

        const_iterator& operator++()
        {
            ++m_position;
            return *this;
        }
        const_iterator operator++(int) { return const_iterator(m_position++); }
        const_iterator& operator--()
        {
            --m_position;
            return *this;
        }
        const_iterator operator--(int) { return const_iterator(m_position--); }
        const_iterator& operator+=(difference_type offset)
        {
            m_position += offset;
            return *this;
        }
        const_iterator& operator-=(difference_type offset)
        {
            m_position -= offset;
            return *this;
        }
        friend const_iterator operator+(const_iterator position, difference_type offset)
        {
            return position += offset;
        }
        friend const_iterator operator+(difference_type offset, const_iterator position)
        {
            return position += offset;
        }
        friend const_iterator operator-(const_iterator position, difference_type offset)
        {
            return position -= offset;
        }
        friend difference_type operator-(const const_iterator& end, const const_iterator& start)
        {
            return end.m_position - start.m_position;
        }
        bool operator==(const const_iterator& other) const
        {
            return m_position == other.m_position;
        }
        std::strong_ordering operator<=>(const const_iterator& other) const
        {
            return (m_position - other.m_position) <=> 0;
        }

    private:
        friend class RuleList;
        using Base = std::vector<Shared>::const_iterator;
        explicit const_iterator(Base position)
            : m_position(position)
        {
        }

        Base m_position{};
    };
    using iterator = const_iterator;
    using value_type = Rule;
    using size_type = std::size_t;
    using difference_type = std::ptrdiff_t;
    using reference = const Rule&;
    using const_reference = const Rule&;

    RuleList() = default;
    // Implicit, so that decoders and tests fill a profile from a plain vector or a braced list.
    RuleList(std::vector<Rule> rules);
    RuleList(std::initializer_list<Rule> rules);

    [[nodiscard]] std::size_t size() const noexcept { return m_rules.size(); }
    [[nodiscard]] bool empty() const noexcept { return m_rules.empty(); }
    [[nodiscard]] const_iterator begin() const noexcept { return const_iterator(m_rules.begin()); }
    [[nodiscard]] const_iterator end() const noexcept { return const_iterator(m_rules.end()); }
    /// `index` must be below size().
    [[nodiscard]] const Rule& operator[](std::size_t index) const { return *m_rules[index]; }
    /// Throws std::out_of_range past the end.
    [[nodiscard]] const Rule& at(std::size_t index) const { return *m_rules.at(index); }
    [[nodiscard]] const Rule& front() const { return *m_rules.front(); }
    [[nodiscard]] const Rule& back() const { return *m_rules.back(); }

    /// The rule at `index` (below size()) to change in place: copied first when another list
    /// shares it. Write through the reference before this list is next copied or changed: a copy
    /// made meanwhile shares the rule and would see the write.
    [[nodiscard]] Rule& edit(std::size_t index);
    [[nodiscard]] Rule& edit(const_iterator position);

    void push_back(Rule rule);
    /// Before the rule at `index`; at size(), last.
    void insert(std::size_t index, Rule rule);
    void insert(const_iterator position, Rule rule);
    /// The rules of `rules` before the rule at `index`, shared with `rules`.
    void insert(std::size_t index, const RuleList& rules);
    void erase(std::size_t index);
    void erase(const_iterator position);
    /// The rules at [first, last).
    void erase(std::size_t first, std::size_t last);
    /// Removes every rule `remove(rule)` holds for; returns how many.
    template <typename Predicate> std::size_t eraseIf(Predicate remove);
    void clear() noexcept { m_rules.clear(); }
    void reserve(std::size_t count) { m_rules.reserve(count); }

    /// Moves the rule at `from` so that it ends up at `to`, the rules between shifting by one;
    /// both below size(). Moves pointers: the rule stays shared.
    void move(std::size_t from, std::size_t to);
    /// Exchanges the rules at the two positions, both below size().
    void swap(std::size_t first, std::size_t second) noexcept;
    /// The rules at [first, last), shared with this list.
    [[nodiscard]] RuleList slice(std::size_t first, std::size_t last) const;
    /// Makes the rule at `index` the very rule `rules` holds at `sourceIndex`, shared.
    void share(std::size_t index, const RuleList& rules, std::size_t sourceIndex);

    /// Whether the rule at `index` is the same object, not merely an equal rule, as the one at
    /// `olderIndex` of `older`: true means unchanged since `older` was taken, at the cost of a
    /// pointer compare. Both indices must be in range.
    [[nodiscard]] bool sharesRule(
        std::size_t index, const RuleList& older, std::size_t olderIndex) const noexcept
    {
        return m_rules[index] == older.m_rules[olderIndex];
    }

    /// Equal sizes and equal rules position by position; a shared rule is equal without being
    /// compared.
    friend bool operator==(const RuleList& first, const RuleList& second);

private:
    std::vector<Shared> m_rules;
};

template <typename Predicate> std::size_t RuleList::eraseIf(Predicate remove)
{
    return std::erase_if(m_rules, [&remove](const Shared& rule) { return remove(*rule); });
}

} // namespace quorvane
