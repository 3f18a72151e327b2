#include "QuorvaneCore/RuleList.h"

#include "QuorvaneCore/Rules.h"

#include <atomic>
#include <cassert>
#include <iterator>
#include <stdexcept>
#include <utility>

namespace quorvane {
namespace {

// A list filled at once has chunks of filledChunk rules; one growing past longestChunk splits in
// two, one shrinking below shortestChunk joins a neighbour. Long enough that copying a list of
// 10,000 rules touches a couple of hundred pointers, short enough that the first change after a
// copy copies little.
constexpr std::size_t filledChunk = 64;
constexpr std::size_t longestChunk = 2 * filledChunk;
constexpr std::size_t shortestChunk = filledChunk / 2;

std::ptrdiff_t offset(std::size_t index) { return static_cast<std::ptrdiff_t>(index); }

/// The object `shared` points to, first copied when another pointer shares it. Every rule and
/// chunk is made non-const; const only keeps shared ones from being changed.
template <typename T> T& own(std::shared_ptr<const T>& shared)
{
    if (shared.use_count() == 1) {
        // A copy on another thread may have let go of it just now: see its reads before writing.
        std::atomic_thread_fence(std::memory_order_acquire);
    } else {
        shared = std::make_shared<T>(*shared);
    }
    return const_cast<T&>(*shared);
}

} // namespace

RuleList::RuleList(std::vector<Rule> rules)
{
    reserve(rules.size());
    Chunk chunk;
    for (Rule& rule : rules) {
        chunk.push_back(std::make_shared<Rule>(std::move(rule)));
        if (chunk.size() == filledChunk)
            appendChunk(std::exchange(chunk, {}));
    }
    appendChunk(std::move(chunk));
    mergeShortChunks();
    assert(isWellFormed() && "chunks, starts and blocks agree");
}

RuleList::RuleList(std::initializer_list<Rule> rules)
    : RuleList(std::vector<Rule>(rules))
{
}

const Rule& RuleList::at(std::size_t index) const
{
    if (index >= size())
        throw std::out_of_range("RuleList::at: index past the end");
    return (*this)[index];
}

Rule& RuleList::edit(std::size_t index)
{
    assert(index < size() && "an edited rule is in the list");
    return own(ownSlot(index));
}

Rule& RuleList::edit(const_iterator position) { return edit(position.m_index); }

void RuleList::push_back(Rule rule)
{
    insertShared(size(), std::make_shared<Rule>(std::move(rule)));
}

void RuleList::insert(std::size_t index, Rule rule)
{
    assert(index <= size() && "a rule is inserted within the list");
    insertShared(index, std::make_shared<Rule>(std::move(rule)));
}

void RuleList::insert(const_iterator position, Rule rule)
{
    insert(position.m_index, std::move(rule));
}

void RuleList::insert(std::size_t index, const RuleList& rules)
{
    assert(index <= size() && "rules are inserted within the list");
    if (rules.empty())
        return;
    if (&rules == this) {
        const RuleList copy = rules;
        insert(index, copy);
        return;
    }
    const std::size_t chunk = splitAt(index);
    m_chunks.insert(m_chunks.begin() + offset(chunk), rules.m_chunks.begin(), rules.m_chunks.end());
    reindex();
    mergeShortChunks();
    assert(isWellFormed() && "chunks, starts and blocks agree");
}

void RuleList::erase(std::size_t index)
{
    assert(index < size() && "an erased rule is in the list");
    take(index);
}

void RuleList::erase(const_iterator position) { erase(position.m_index); }

void RuleList::erase(std::size_t first, std::size_t last)
{
    assert(first <= last && last <= size() && "erased rules are in the list");
    if (first == last)
        return;
    const std::size_t start = splitAt(first);
    const std::size_t end = splitAt(last);
    m_chunks.erase(m_chunks.begin() + offset(start), m_chunks.begin() + offset(end));
    reindex();
    mergeShortChunks();
    assert(isWellFormed() && "chunks, starts and blocks agree");
}

void RuleList::reserve(std::size_t count)
{
    m_chunks.reserve(count / filledChunk + 1);
    m_starts.reserve(count / filledChunk + 2);
    m_blocks.reserve(count / blockLength + 1);
}

void RuleList::move(std::size_t from, std::size_t to)
{
    assert(from < size() && to < size() && "a moved rule stays in the list");
    if (from == to)
        return;
    const std::size_t chunk = chunkOf(from);
    if (to < m_starts[chunk] || m_starts[chunk + 1] <= to) {
        insertShared(to, take(from));
        return;
    }
    Chunk& rules = ownChunk(chunk);
    const auto at
        = [&](std::size_t index) { return rules.begin() + offset(index - m_starts[chunk]); };
    if (from < to)
        std::rotate(at(from), at(from) + 1, at(to) + 1);
    else
        std::rotate(at(to), at(from), at(from) + 1);
}

void RuleList::swap(std::size_t first, std::size_t second)
{
    assert(first < size() && second < size() && "swapped rules are in the list");
    // The first slot stays put: owning the second chunk replaces at most that chunk's pointer.
    ownSlot(first).swap(ownSlot(second));
}

RuleList RuleList::slice(std::size_t first, std::size_t last) const
{
    assert(first <= last && last <= size() && "a slice lies within the list");
    RuleList sliced;
    if (first == last)
        return sliced;
    const std::size_t firstChunk = chunkOf(first);
    const std::size_t endChunk = chunkOf(last - 1) + 1;
    sliced.m_chunks.assign(
        m_chunks.begin() + offset(firstChunk), m_chunks.begin() + offset(endChunk));
    sliced.reindex();
    const std::size_t start = m_starts[firstChunk];
    sliced.erase(last - start, sliced.size());
    sliced.erase(0, first - start);
    return sliced;
}

void RuleList::share(std::size_t index, const RuleList& rules, std::size_t sourceIndex)
{
    if (index >= size() || sourceIndex >= rules.size())
        throw std::out_of_range("RuleList::share: index past the end");
    // Taken first: `rules` may be this list, and owning the chunk may copy it.
    Shared rule = rules.sharedAt(sourceIndex);
    ownSlot(index) = std::move(rule);
}

bool operator==(const RuleList& first, const RuleList& second)
{
    if (first.size() != second.size())
        return false;
    auto one = first.m_chunks.begin();
    auto other = second.m_chunks.begin();
    std::size_t oneIndex = 0;
    std::size_t otherIndex = 0;
    // Equal sizes and no empty chunks: both run out of chunks together.
    while (one != first.m_chunks.end()) {
        if (oneIndex == 0 && otherIndex == 0 && *one == *other) {
            ++one;
            ++other;
            continue;
        }
        const RuleList::Shared& rule = (**one)[oneIndex];
        const RuleList::Shared& otherRule = (**other)[otherIndex];
        if (rule != otherRule && !(*rule == *otherRule))
            return false;
        if (++oneIndex == (*one)->size()) {
            ++one;
            oneIndex = 0;
        }
        if (++otherIndex == (*other)->size()) {
            ++other;
            otherIndex = 0;
        }
    }
    return true;
}

RuleList::Chunk& RuleList::ownChunk(std::size_t chunk) { return own(m_chunks[chunk]); }

/// The pointer at `index`, in a chunk of this list's own.
RuleList::Shared& RuleList::ownSlot(std::size_t index)
{
    const std::size_t chunk = chunkOf(index);
    return ownChunk(chunk)[index - m_starts[chunk]];
}

/// `rules` as a new last chunk; nothing when empty.
void RuleList::appendChunk(Chunk rules)
{
    if (rules.empty())
        return;
    if (m_starts.empty())
        m_starts.push_back(0);
    m_starts.push_back(m_starts.back() + rules.size());
    m_chunks.push_back(std::make_shared<Chunk>(std::move(rules)));
    indexFrom(m_chunks.size() - 1);
}

void RuleList::insertShared(std::size_t index, Shared rule)
{
    if (m_chunks.empty()) {
        Chunk rules;
        rules.push_back(std::move(rule));
        appendChunk(std::move(rules));
        return;
    }
    // Last goes to the end of the last chunk; elsewhere, before the rule now at `index`.
    const std::size_t chunk = index == size() ? m_chunks.size() - 1 : chunkOf(index);
    Chunk& rules = ownChunk(chunk);
    rules.insert(rules.begin() + offset(index - m_starts[chunk]), std::move(rule));
    resized(chunk, 1);
    if (rules.size() > longestChunk)
        split(chunk, rules.size() / 2);
    assert(isWellFormed() && "chunks, starts and blocks agree");
}

/// Removes the rule at `index`, below size(), and hands it back.
RuleList::Shared RuleList::take(std::size_t index)
{
    const std::size_t chunk = chunkOf(index);
    Chunk& rules = ownChunk(chunk);
    const auto position = rules.begin() + offset(index - m_starts[chunk]);
    Shared taken = std::move(*position);
    rules.erase(position);
    resized(chunk, static_cast<std::size_t>(-1));
    mergeShortChunks();
    assert(isWellFormed() && "chunks, starts and blocks agree");
    return taken;
}

/// Makes `index` (up to size()) the start of a chunk; returns that chunk, the chunk count at
/// size().
std::size_t RuleList::splitAt(std::size_t index)
{
    if (index == size())
        return m_chunks.size();
    const std::size_t chunk = chunkOf(index);
    if (m_starts[chunk] == index)
        return chunk;
    split(chunk, index - m_starts[chunk]);
    return chunk + 1;
}

/// Moves the rules of `chunk` past its first `length` into a new chunk after it.
void RuleList::split(std::size_t chunk, std::size_t length)
{
    Chunk& rules = ownChunk(chunk);
    const auto middle = rules.begin() + offset(length);
    auto tail = std::make_shared<Chunk>(
        std::make_move_iterator(middle), std::make_move_iterator(rules.end()));
    rules.erase(middle, rules.end());
    m_chunks.insert(m_chunks.begin() + offset(chunk) + 1, std::move(tail));
    m_starts.insert(m_starts.begin() + offset(chunk) + 1, m_starts[chunk] + length);
    indexFrom(chunk);
}

/// Joins the chunk after `chunk` to it, splitting the result again when too long.
void RuleList::merge(std::size_t chunk)
{
    Chunk& rules = ownChunk(chunk);
    const Chunk& next = *m_chunks[chunk + 1];
    rules.insert(rules.end(), next.begin(), next.end());
    removeChunk(chunk + 1);
    if (rules.size() > longestChunk)
        split(chunk, rules.size() / 2);
}

/// Drops `chunk` from the list, its rules now empty or joined to the chunk before.
void RuleList::removeChunk(std::size_t chunk)
{
    m_chunks.erase(m_chunks.begin() + offset(chunk));
    m_starts.erase(m_starts.begin() + offset(chunk));
    if (m_chunks.empty())
        m_starts.clear();
    indexFrom(chunk == 0 ? 0 : chunk - 1);
}

/// Counts `by` more rules in `chunk`; unsigned wrap-around makes -1 one fewer.
void RuleList::resized(std::size_t chunk, std::size_t by)
{
    for (auto start = m_starts.begin() + offset(chunk) + 1; start != m_starts.end(); ++start)
        *start += by;
    indexFrom(chunk);
}

/// Recounts the starts from the chunks.
void RuleList::reindex()
{
    m_starts.clear();
    if (m_chunks.empty()) {
        m_blocks.clear();
        return;
    }
    m_starts.reserve(m_chunks.size() + 1);
    m_starts.push_back(0);
    for (const SharedChunk& chunk : m_chunks)
        m_starts.push_back(m_starts.back() + chunk->size());
    indexFrom(0);
}

/// Points the blocks from the start of `chunk` on at their chunks again. The chunks before it
/// and its start must be as they were.
void RuleList::indexFrom(std::size_t chunk)
{
    m_blocks.resize((size() + blockLength - 1) / blockLength);
    if (chunk >= m_chunks.size())
        return;
    for (std::size_t block = (m_starts[chunk] + blockLength - 1) / blockLength;
         block < m_blocks.size(); ++block) {
        while (m_starts[chunk + 1] <= block * blockLength)
            ++chunk;
        m_blocks[block] = chunk;
    }
}

/// Drops empty chunks and joins short ones to a neighbour, so that copies stay cheap. Reads only
/// the starts, and copies only the chunks it joins.
void RuleList::mergeShortChunks()
{
    for (std::size_t chunk = m_chunks.size(); chunk-- > 0;) {
        const std::size_t length = chunkLength(chunk);
        if (length == 0)
            removeChunk(chunk);
        else if (length < shortestChunk && m_chunks.size() > 1)
            merge(chunk == 0 ? 0 : chunk - 1);
    }
}

bool RuleList::isWellFormed() const
{
    if (m_chunks.empty())
        return m_starts.empty() && m_blocks.empty();
    if (m_starts.size() != m_chunks.size() + 1 || m_starts.front() != 0)
        return false;
    for (std::size_t chunk = 0; chunk < m_chunks.size(); ++chunk) {
        const std::size_t length = chunkLength(chunk);
        if (length != m_chunks[chunk]->size() || length == 0 || length > longestChunk
            || (length < shortestChunk && m_chunks.size() > 1))
            return false;
    }
    if (m_blocks.size() != (size() + blockLength - 1) / blockLength)
        return false;
    for (std::size_t block = 0; block < m_blocks.size(); ++block) {
        const std::size_t chunk = m_blocks[block];
        if (chunk >= m_chunks.size() || m_starts[chunk] > block * blockLength
            || m_starts[chunk + 1] <= block * blockLength)
            return false;
    }
    return true;
}

} // namespace quorvane
