// Growable arrays of holders (P, PC, PFrail) and other values.
#pragma once

#include <zelm/Exception.h>
#include <zelm/String.h>

#include <algorithm>
#include <cstddef>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace zelm {

// An ordered sequence addressed by index. Removing an element moves the
// following ones down; the storage keeps its capacity.
template <class T> class TSimpleArray {
public:
    using iterator = typename std::vector<T>::iterator;
    using const_iterator = typename std::vector<T>::const_iterator;

    TSimpleArray() = default;
    TSimpleArray(std::initializer_list<T> items) : m_items(items) {}

    int getCount() const noexcept { return static_cast<int>(m_items.size()); }
    bool isEmpty() const noexcept { return m_items.empty(); }

    const T& get(int index) const { return m_items.at(checked(index)); }
    T& get(int index) { return m_items.at(checked(index)); }
    const T& operator[](int index) const { return get(index); }
    T& operator[](int index) { return get(index); }

    void add(T item) { m_items.push_back(std::move(item)); }
    void insert(int index, T item) {
        if (index < 0 || index > getCount()) {
            throwIndexError(index, "TSimpleArray::insert");
        }
        m_items.insert(m_items.begin() + index, std::move(item));
    }
    void set(int index, T item) { m_items.at(checked(index)) = std::move(item); }
    void remove(int index) { m_items.erase(m_items.begin() + checked(index)); }
    void clear() noexcept { m_items.clear(); }
    void reserve(int capacity) { m_items.reserve(static_cast<std::size_t>(std::max(capacity, 0))); }

    // Index of the first element equal to item, -1 when none is.
    template <class U> int indexOf(const U& item) const {
        auto found = std::find(m_items.begin(), m_items.end(), item);
        return found == m_items.end() ? -1 : static_cast<int>(found - m_items.begin());
    }

    iterator begin() noexcept { return m_items.begin(); }
    iterator end() noexcept { return m_items.end(); }
    const_iterator begin() const noexcept { return m_items.begin(); }
    const_iterator end() const noexcept { return m_items.end(); }

protected:
    std::vector<T>& items() noexcept { return m_items; }

private:
    [[noreturn]] static void throwIndexError(int index, const char* method) {
        throw CInvalidArgError(
            String::fromUTF8("index '" + std::to_string(index) + "' out of range"), String(method));
    }
    std::size_t checked(int index) const {
        if (index < 0 || index >= getCount()) {
            throwIndexError(index, "TSimpleArray::get");
        }
        return static_cast<std::size_t>(index);
    }

    std::vector<T> m_items;
};

// A TSimpleArray that gives its storage back when it is cleared and drops its
// elements last to first, so that holders release their objects in the
// reverse order of insertion.
template <class T> class TCleaningSimpleArray : public TSimpleArray<T> {
public:
    using TSimpleArray<T>::TSimpleArray;
    TCleaningSimpleArray() = default;
    TCleaningSimpleArray(const TCleaningSimpleArray&) = default;
    TCleaningSimpleArray(TCleaningSimpleArray&&) noexcept = default;
    TCleaningSimpleArray& operator=(const TCleaningSimpleArray&) = default;
    TCleaningSimpleArray& operator=(TCleaningSimpleArray&&) noexcept = default;
    ~TCleaningSimpleArray() { clear(); }

    void clear() noexcept {
        auto& items = this->items();
        while (!items.empty()) {
            items.pop_back();
        }
        items.shrink_to_fit();
    }
};

} // namespace zelm
