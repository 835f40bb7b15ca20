// CArray: the growable array that holds its elements by value and owns them. TYPE is the element
// type, ARG_TYPE the type in which elements are handed to Add (TYPE itself, or a const reference
// to it). A thin layer over std::vector: indices are plain integers, as the INI document numbers
// its sections and entries.
//
// A move moves each element into storage of its own, so an element that keeps its text in its
// document's arena copies it out (see ini::WideString) and a moved array never points into an
// arena. Adopt hands the storage over whole, for the owner of such an arena.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

template <typename TYPE, typename ARG_TYPE>
class CArray {
public:
    using Iterator = typename std::vector<TYPE>::iterator;
    using ConstIterator = typename std::vector<TYPE>::const_iterator;

    CArray() = default;
    CArray(const CArray&) = default;
    CArray& operator=(const CArray&) = default;
    // Allocating the new storage may fail only when memory is exhausted, which ends the program.
    CArray(CArray&& other) noexcept { MoveElementsFrom(other); }
    CArray& operator=(CArray&& other) noexcept {
        if (this != &other) {
            items.clear();
            MoveElementsFrom(other);
        }
        return *this;
    }
    ~CArray() = default;

    // Takes other's storage and elements as they are; other is left empty.
    void Adopt(CArray&& other) noexcept {
        if (this != &other)
            items = std::move(other.items);
    }

    std::ptrdiff_t GetSize() const { return static_cast<std::ptrdiff_t>(items.size()); }
    std::ptrdiff_t GetCount() const { return GetSize(); }
    bool IsEmpty() const { return items.empty(); }

    // Index must lie in [0, GetSize()).
    TYPE& operator[](std::ptrdiff_t index) { return items[static_cast<std::size_t>(index)]; }
    const TYPE& operator[](std::ptrdiff_t index) const { return items[static_cast<std::size_t>(index)]; }
    const TYPE& GetAt(std::ptrdiff_t index) const { return (*this)[index]; }
    TYPE& ElementAt(std::ptrdiff_t index) { return (*this)[index]; }

    // Appends a copy of the element (moved in when TYPE is passed by value) and returns its index.
    std::ptrdiff_t Add(ARG_TYPE newElement) {
        items.push_back(std::move(newElement));
        return GetSize() - 1;
    }

    // Appends a default-constructed element and returns it, to be filled in place.
    TYPE& AddNew() { return items.emplace_back(); }

    // Drops every element; the storage is kept for reuse.
    void RemoveAll() { items.clear(); }

    // Makes room for count elements so that adding up to that many never moves the others.
    void Reserve(std::ptrdiff_t count) { items.reserve(static_cast<std::size_t>(count)); }

    Iterator begin() { return items.begin(); }
    Iterator end() { return items.end(); }
    ConstIterator begin() const { return items.begin(); }
    ConstIterator end() const { return items.end(); }

private:
    void MoveElementsFrom(CArray& other) {
        items.reserve(other.items.size());
        for (TYPE& item : other.items)
            items.push_back(std::move(item));
        other.items.clear();
    }

    std::vector<TYPE> items;
};
