// A vector whose copies share their elements: copying it copies one pointer per element, and an
// element is copied only when it is edited while another vector still holds it.
#pragma once

#include <algorithm>
#include <atomic>
#include <compare>
#include <cstddef>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <utility>
#include <vector>

namespace quorvane {

/// Reading is as with a vector of `T`; writing goes through edit() or the vector's own
/// operations, so that no element is changed under another copy's feet. Copies can be handed to
/// another thread: an element still shared is never changed, only replaced.
template <typename T> class CopyOnWriteVector {
    using Items = std::vector<std::shared_ptr<T>>;

public:
    using value_type = T;
    using size_type = std::size_t;
    using difference_type = std::ptrdiff_t;
    using reference = const T&;
    using const_reference = const T&;

    class const_iterator {
    public:
        using iterator_category = std::random_access_iterator_tag;
        using iterator_concept = std::random_access_iterator_tag;
        using value_type = T;
        using difference_type = std::ptrdiff_t;
        using pointer = const T*;
        using reference = const T&;

        const_iterator() = default;

        reference operator*() const { return **m_item; }
        pointer operator->() const { return m_item->get(); }
        reference operator[](difference_type offset) const { return *m_item[offset]; }
        const_iterator& operator++()
        {
            ++m_item;
            return *this;
        }
        const_iterator operator++(int) { return const_iterator(m_item++); }
        const_iterator& operator--()
        {
            --m_item;
            return *this;
        }
        const_iterator operator--(int) { return const_iterator(m_item--); }
        const_iterator& operator+=(difference_type offset)
        {
            m_item += offset;
            return *this;
        }
        const_iterator& operator-=(difference_type offset)
        {
            m_item -= offset;
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
            return end.m_item - start.m_item;
        }
        bool operator==(const const_iterator&) const = default;
        auto operator<=>(const const_iterator&) const = default;

    private:
        friend class CopyOnWriteVector;
        explicit const_iterator(typename Items::const_iterator item)
            : m_item(item)
        {
        }
        typename Items::const_iterator m_item{};
    };
    using iterator = const_iterator;

    /// What editEach() returns; valid until the vector gains or loses elements.
    class Editing {
    public:
        class iterator {
        public:
            T& operator*() const { return **m_item; }
            iterator& operator++()
            {
                ++m_item;
                return *this;
            }
            bool operator==(const iterator&) const = default;

        private:
            friend class Editing;
            explicit iterator(typename Items::iterator item)
                : m_item(item)
            {
            }
            typename Items::iterator m_item;
        };
        [[nodiscard]] iterator begin() const { return iterator(m_items.begin()); }
        [[nodiscard]] iterator end() const { return iterator(m_items.end()); }

    private:
        friend class CopyOnWriteVector;
        explicit Editing(Items& items)
            : m_items(items)
        {
        }
        Items& m_items;
    };

    CopyOnWriteVector() = default;
    CopyOnWriteVector(std::initializer_list<T> elements) { insert(end(), elements); }
    // Implicit, so that a decoded or built vector can be assigned as it is.
    CopyOnWriteVector(std::vector<T> elements)
    {
        m_items.reserve(elements.size());
        for (T& element : elements)
            m_items.push_back(std::make_shared<T>(std::move(element)));
    }

    [[nodiscard]] size_type size() const noexcept { return m_items.size(); }
    [[nodiscard]] bool empty() const noexcept { return m_items.empty(); }
    [[nodiscard]] const_iterator begin() const noexcept { return const_iterator(m_items.begin()); }
    [[nodiscard]] const_iterator end() const noexcept { return const_iterator(m_items.end()); }
    [[nodiscard]] const T& operator[](size_type index) const { return *m_items[index]; }
    [[nodiscard]] const T& at(size_type index) const { return *m_items.at(index); }
    [[nodiscard]] const T& front() const { return *m_items.front(); }
    [[nodiscard]] const T& back() const { return *m_items.back(); }

    /// The element to change in place, first copied when another vector shares it.
    [[nodiscard]] T& edit(size_type index)
    {
        std::shared_ptr<T>& item = m_items.at(index);
        // A count of one cannot rise behind our back: only a copy of this vector could share it.
        if (item.use_count() == 1) {
            // A copy on another thread may have let go of it just now: see its reads before
            // writing.
            std::atomic_thread_fence(std::memory_order_acquire);
        } else {
            item = std::make_shared<T>(std::as_const(*item));
        }
        return *item;
    }
    [[nodiscard]] T& edit(const_iterator position) { return edit(indexOf(position)); }
    /// Every element to change in place, each first copied when another vector shares it; for
    /// a range-for.
    [[nodiscard]] Editing editEach()
    {
        for (std::size_t index = 0; index < size(); ++index)
            (void)edit(index);
        return Editing(m_items);
    }

    /// The element added, to fill in: no other vector holds it yet.
    T& push_back(T element)
    {
        return *m_items.emplace_back(std::make_shared<T>(std::move(element)));
    }
    template <typename... Arguments> T& emplace_back(Arguments&&... arguments)
    {
        return *m_items.emplace_back(std::make_shared<T>(std::forward<Arguments>(arguments)...));
    }
    const_iterator insert(const_iterator position, T element)
    {
        return const_iterator(
            m_items.insert(position.m_item, std::make_shared<T>(std::move(element))));
    }
    const_iterator insert(const_iterator position, std::initializer_list<T> elements)
    {
        Items added;
        added.reserve(elements.size());
        for (const T& element : elements)
            added.push_back(std::make_shared<T>(element));
        return const_iterator(m_items.insert(position.m_item, added.begin(), added.end()));
    }
    const_iterator erase(const_iterator position)
    {
        return const_iterator(m_items.erase(position.m_item));
    }
    const_iterator erase(const_iterator first, const_iterator last)
    {
        return const_iterator(m_items.erase(first.m_item, last.m_item));
    }
    /// Removes every element `remove` holds true for; returns how many.
    template <typename Predicate> size_type eraseIf(Predicate remove)
    {
        return std::erase_if(
            m_items, [&](const std::shared_ptr<T>& item) { return remove(std::as_const(*item)); });
    }
    void pop_back() { m_items.pop_back(); }
    void clear() noexcept { m_items.clear(); }

    /// Whether the two hold the very same element at these places (not merely an equal one).
    [[nodiscard]] bool shares(
        size_type index, const CopyOnWriteVector& other, size_type otherIndex) const
    {
        return m_items[index] == other.m_items[otherIndex];
    }

    friend bool operator==(const CopyOnWriteVector& first, const CopyOnWriteVector& second)
    {
        return std::ranges::equal(first.m_items, second.m_items,
            [](const std::shared_ptr<T>& one, const std::shared_ptr<T>& other) {
                return one == other || *one == *other;
            });
    }

private:
    [[nodiscard]] size_type indexOf(const_iterator position) const
    {
        return static_cast<size_type>(position.m_item - m_items.begin());
    }
    Items m_items;
};

} // namespace quorvane
