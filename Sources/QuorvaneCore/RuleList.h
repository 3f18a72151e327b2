// A profile's rules in priority order, shared between copies of a document until one copy changes
// a rule: copying a profile of thousands of rules copies a pointer per chunk of rules, not rules.
#pragma once

#include <algorithm>
#include <cassert>
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
/// The rules sit in chunks of 32 to 128, shared between copies too: a copy of the list costs a
/// pointer per chunk, and a change first copies the one chunk it falls in when that is shared.
/// Reaching a position is O(1). Not for concurrent writes: one list is changed by one thread at a
/// time, while copies of it may live on others.
class RuleList {
    using Shared = std::shared_ptr<const Rule>;
    using Chunk = std::vector<Shared>;
    using SharedChunk = std::shared_ptr<const Chunk>;

public:
    /// Yields `const Rule&`. Refers to its list by address: stays valid through edit(), swap()
    /// and share(), until the list is otherwise changed, moved from or destroyed. Stepping by one
    /// and jumping are O(1).
    class const_iterator {
    public:
        using iterator_category = std::random_access_iterator_tag;
        using iterator_concept = std::random_access_iterator_tag;
        using value_type = Rule;
        using difference_type = std::ptrdiff_t;
        using reference = const Rule&;
        using pointer = const Rule*;

        const_iterator() = default;

        reference operator*() const { return *m_list->sharedAt(m_chunk, m_index); }
        pointer operator->() const { return m_list->sharedAt(m_chunk, m_index).get(); }
        reference operator[](difference_type offset) const { return *(*this + offset); }

        const_iterator& operator++()
        {
            if (++m_index == m_list->m_starts[m_chunk + 1])
                ++m_chunk;
            return *this;
        }
        const_iterator operator++(int)
        {
            const const_iterator old = *this;
            ++*this;
            return old;
        }
        const_iterator& operator--()
        {
            if (m_index == m_list->m_starts[m_chunk])
                --m_chunk;
            --m_index;
            return *this;
        }
        const_iterator operator--(int)
        {
            const const_iterator old = *this;
            --*this;
            return old;
        }
        const_iterator& operator+=(difference_type offset)
        {
            m_index += static_cast<std::size_t>(offset);
            m_chunk = m_list->chunkOf(m_index, m_chunk);
            return *this;
        }
        const_iterator& operator-=(difference_type offset) { return *this += -offset; }
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
            return static_cast<difference_type>(end.m_index - start.m_index);
        }
        bool operator==(const const_iterator& other) const { return m_index == other.m_index; }
        std::strong_ordering operator<=>(const const_iterator& other) const
        {
            return m_index <=> other.m_index;
        }

    private:
        friend class RuleList;
        const_iterator(const RuleList* list, std::size_t index, std::size_t chunk)
            : m_list(list)
            , m_index(index)
            , m_chunk(chunk)
        {
        }

        const RuleList* m_list = nullptr;
        std::size_t m_index = 0;
        // The chunk holding m_index; the chunk count at the end.
        std::size_t m_chunk = 0;
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

    [[nodiscard]] std::size_t size() const noexcept
    {
        return m_starts.empty() ? 0 : m_starts.back();
    }
    [[nodiscard]] bool empty() const noexcept { return m_chunks.empty(); }
    [[nodiscard]] const_iterator begin() const noexcept { return {this, 0, 0}; }
    [[nodiscard]] const_iterator end() const noexcept { return {this, size(), m_chunks.size()}; }
    /// `index` must be below size().
    [[nodiscard]] const Rule& operator[](std::size_t index) const { return *sharedAt(index); }
    /// Throws std::out_of_range past the end.
    [[nodiscard]] const Rule& at(std::size_t index) const;
    [[nodiscard]] const Rule& front() const { return *m_chunks.front()->front(); }
    [[nodiscard]] const Rule& back() const { return *m_chunks.back()->back(); }

    /// The rule at `index` (below size()) to change in place: copied first when another list
    /// shares it. Write through the reference before this list is next copied or changed: a copy
    /// made meanwhile shares the rule and would see the write. Copies its chunk first, up to 128
    /// pointers, when that is shared.
    [[nodiscard]] Rule& edit(std::size_t index);
    [[nodiscard]] Rule& edit(const_iterator position);

    void push_back(Rule rule);
    /// Before the rule at `index`; at size(), last. Copies at most a chunk or two and moves the
    /// others' starts: O(128 + size / 64), as do erase() and move() of one rule.
    void insert(std::size_t index, Rule rule);
    void insert(const_iterator position, Rule rule);
    /// The rules of `rules` before the rule at `index`, shared with `rules` chunk by chunk:
    /// O(128 + size / 64 + rules.size() / 64).
    void insert(std::size_t index, const RuleList& rules);
    void erase(std::size_t index);
    void erase(const_iterator position);
    /// The rules at [first, last): O(128 + size / 64).
    void erase(std::size_t first, std::size_t last);
    /// Removes every rule `remove(rule)` holds for, testing each once in order; returns how many.
    /// Copies only the chunks it removes from.
    template <typename Predicate> std::size_t eraseIf(Predicate remove);
    void clear() noexcept
    {
        m_chunks.clear();
        m_starts.clear();
        m_blocks.clear();
    }
    void reserve(std::size_t count);

    /// Moves the rule at `from` so that it ends up at `to`, the rules between shifting by one;
    /// both below size(). Moves pointers: the rule stays shared.
    void move(std::size_t from, std::size_t to);
    /// Exchanges the rules at the two positions, both below size(); copies their chunks when
    /// shared.
    void swap(std::size_t first, std::size_t second);
    /// The rules at [first, last), shared with this list: O(128 + (last - first) / 64).
    [[nodiscard]] RuleList slice(std::size_t first, std::size_t last) const;
    /// Makes the rule at `index` the very rule `rules` holds at `sourceIndex`, shared. Throws
    /// std::out_of_range when either index is.
    void share(std::size_t index, const RuleList& rules, std::size_t sourceIndex);

    /// Whether the rule at `index` is the same object, not merely an equal rule, as the one at
    /// `olderIndex` of `older`: true means unchanged since `older` was taken, at the cost of a
    /// pointer compare after finding both. Both indices must be in range.
    [[nodiscard]] bool sharesRule(
        std::size_t index, const RuleList& older, std::size_t olderIndex) const noexcept
    {
        return sharedAt(index) == older.sharedAt(olderIndex);
    }

    /// Consecutive rules the list holds as one chunk. While a list holding a chunk lives, the
    /// chunk never changes: a list changing a rule in a shared chunk first copies it, under
    /// another identity. So an identity a kept copy also holds means the very same rules.
    struct Stretch {
        const void* identity;
        std::size_t start;
        std::size_t size;
    };
    [[nodiscard]] std::size_t stretchCount() const noexcept { return m_chunks.size(); }
    /// `index` below stretchCount(); the stretches cover the list in order.
    [[nodiscard]] Stretch stretch(std::size_t index) const noexcept
    {
        return {m_chunks[index].get(), m_starts[index], chunkLength(index)};
    }

    /// Equal sizes and equal rules position by position; a shared rule, or a chunk shared at the
    /// same position, is equal without being compared.
    friend bool operator==(const RuleList& first, const RuleList& second);

private:
    /// The chunk holding `index`, below size(): O(1), as chunks are at least half a block long.
    [[nodiscard]] std::size_t chunkOf(std::size_t index) const noexcept
    {
        std::size_t chunk = m_blocks[index / blockLength];
        while (m_starts[chunk + 1] <= index)
            ++chunk;
        return chunk;
    }
    /// The chunk holding `index`, the chunk count at size(); `guess` is tried first.
    [[nodiscard]] std::size_t chunkOf(std::size_t index, std::size_t guess) const noexcept
    {
        if (index >= size())
            return m_chunks.size();
        if (guess < m_chunks.size() && m_starts[guess] <= index && index < m_starts[guess + 1])
            return guess;
        return chunkOf(index);
    }
    [[nodiscard]] const Shared& sharedAt(std::size_t chunk, std::size_t index) const noexcept
    {
        return (*m_chunks[chunk])[index - m_starts[chunk]];
    }
    [[nodiscard]] const Shared& sharedAt(std::size_t index) const noexcept
    {
        return sharedAt(chunkOf(index), index);
    }
    [[nodiscard]] std::size_t chunkLength(std::size_t chunk) const noexcept
    {
        return m_starts[chunk + 1] - m_starts[chunk];
    }

    Chunk& ownChunk(std::size_t chunk);
    Shared& ownSlot(std::size_t index);
    void appendChunk(Chunk rules);
    void insertShared(std::size_t index, Shared rule);
    Shared take(std::size_t index);
    std::size_t splitAt(std::size_t index);
    void split(std::size_t chunk, std::size_t length);
    void merge(std::size_t chunk);
    void removeChunk(std::size_t chunk);
    void resized(std::size_t chunk, std::size_t by);
    void reindex();
    void indexFrom(std::size_t chunk);
    void mergeShortChunks();
    [[nodiscard]] bool isWellFormed() const;

    static constexpr std::size_t blockLength = 64;

    std::vector<SharedChunk> m_chunks;
    // Where each chunk starts, then the size: chunk c holds [m_starts[c], m_starts[c + 1]). Empty
    // with no chunks. Plain numbers, so that copying the list copies them in one go.
    std::vector<std::size_t> m_starts;
    // The chunk holding each multiple of blockLength: finds a position without a search.
    std::vector<std::size_t> m_blocks;
};

template <typename Predicate> std::size_t RuleList::eraseIf(Predicate remove)
{
    const std::size_t before = size();
    bool hasRemoved = false;
    for (std::size_t chunk = 0; chunk < m_chunks.size(); ++chunk) {
        const Chunk& rules = *m_chunks[chunk];
        const auto first
            = std::ranges::find_if(rules, [&remove](const Shared& rule) { return remove(*rule); });
        if (first == rules.end())
            continue;
        const auto position = first - rules.begin();
        Chunk& owned = ownChunk(chunk);
        auto kept = owned.begin() + position;
        for (auto rule = kept + 1; rule != owned.end(); ++rule) {
            if (!remove(**rule))
                *kept++ = std::move(*rule);
        }
        owned.erase(kept, owned.end());
        hasRemoved = true;
    }
    if (hasRemoved) {
        reindex();
        mergeShortChunks();
    }
    assert(isWellFormed() && "chunks, starts and blocks agree");
    return before - size();
}

} // namespace quorvane
