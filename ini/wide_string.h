// ini::WideString: the wide string of the INI document's records, one pointer in size.
//
// A loaded document holds one record per line with four strings each, most of them empty, so the
// size of a string decides how much memory a load touches. This string is a single pointer to a
// block holding the length and the characters; an empty string holds no block at all. A block
// either comes from an arena (a std::pmr::memory_resource that outlives the string and frees its
// blocks all at once) or from the heap, owned by the string.
//
// Copies always get a heap block of their own, so a copy outlives the arena of its source. A move
// hands a heap block over, but copies an arena block to the heap: a string moved out of a document
// never points into that document's arena. Only Adopt hands an arena block over as it is, for the
// owner of the arena. The characters never change once built; assigning replaces the whole block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory_resource>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

namespace ini {

class WideString {
public:
    using value_type = char16_t;
    using size_type = std::size_t;
    using const_iterator = const char16_t*;

    WideString() noexcept = default;
    WideString(std::u16string_view text) : WideString(Build(text.size(), nullptr, Copier{text})) {}
    WideString(const char16_t* text) : WideString(std::u16string_view(text)) {}
    WideString(const std::u16string& text) : WideString(std::u16string_view(text)) {}
    WideString(const WideString& other) : WideString(other.view()) {}
    // Copying an arena block allocates; exhausted memory ends the program here, as anywhere else.
    WideString(WideString&& other) noexcept
        : block(other.InArena() ? WideString(other.view()).Detach() : std::exchange(other.block, 0)) {}
    WideString& operator=(const WideString& other) {
        if (this != &other)
            *this = WideString(other);
        return *this;
    }
    WideString& operator=(WideString&& other) noexcept {
        if (this != &other)
            Adopt(WideString(std::move(other)));
        return *this;
    }
    ~WideString() { Release(); }

    // Takes other's block as it is, an arena block included. Only for the owner of the arena, which
    // keeps the arena alive as long as this string.
    void Adopt(WideString&& other) noexcept {
        if (this == &other)
            return;
        Release();
        block = std::exchange(other.block, 0);
    }

    // A string of length characters that fill(char16_t* characters) writes, every one of them. Its
    // block comes from arena, or from the heap when arena is null.
    template <typename Fill>
    static WideString Build(std::size_t length, std::pmr::memory_resource* arena, Fill&& fill) {
        if (length == 0)
            return WideString();
        const std::size_t bytes = sizeof(Header) + length * sizeof(char16_t);
        void* memory = arena != nullptr ? arena->allocate(bytes, alignof(Header)) : ::operator new(bytes);
        auto* header = ::new (memory) Header{length};
        fill(reinterpret_cast<char16_t*>(header + 1));
        const std::uintptr_t owner = arena != nullptr ? 0 : kOwnsBlock;
        return WideString(TaggedBlock{reinterpret_cast<std::uintptr_t>(header) | owner});
    }

    std::size_t size() const noexcept { return block == 0 ? 0 : GetHeader()->length; }
    std::size_t length() const noexcept { return size(); }
    bool empty() const noexcept { return block == 0; }
    const char16_t* data() const noexcept {
        return block == 0 ? u"" : reinterpret_cast<const char16_t*>(GetHeader() + 1);
    }
    const_iterator begin() const noexcept { return data(); }
    const_iterator end() const noexcept { return data() + size(); }
    // Index, front and back need a character there.
    char16_t operator[](std::size_t index) const noexcept { return data()[index]; }
    char16_t front() const noexcept { return data()[0]; }
    char16_t back() const noexcept { return data()[size() - 1]; }

    std::u16string_view view() const noexcept { return std::u16string_view(data(), size()); }
    operator std::u16string_view() const noexcept { return view(); }

    void clear() noexcept { Release(); }
    // Exchanges the texts by moves, so an arena block never changes hands.
    void swap(WideString& other) noexcept {
        WideString held(std::move(other));
        other = std::move(*this);
        *this = std::move(held);
    }

    // Equal characters, whatever string or literal holds the other side. Taking the other side as it
    // is, not converted, leaves one best match for every pairing, the reversed ones included.
    template <typename Text>
    requires std::is_convertible_v<const Text&, std::u16string_view>
    friend bool operator==(const WideString& a, const Text& b) noexcept {
        return a.view() == std::u16string_view(b);
    }

private:
    struct Header {
        std::size_t length;
    };
    // Set in block when the heap block belongs to the string; blocks are aligned, so bit 0 is free.
    static constexpr std::uintptr_t kOwnsBlock = 1;

    struct Copier {
        std::u16string_view text;
        void operator()(char16_t* characters) const {
            std::memcpy(characters, text.data(), text.size() * sizeof(char16_t));
        }
    };

    struct TaggedBlock {
        std::uintptr_t block;
    };
    explicit WideString(TaggedBlock tagged) noexcept : block(tagged.block) {}

    bool InArena() const noexcept { return block != 0 && (block & kOwnsBlock) == 0; }
    std::uintptr_t Detach() noexcept { return std::exchange(block, 0); }

    const Header* GetHeader() const noexcept { return reinterpret_cast<const Header*>(block & ~kOwnsBlock); }

    void Release() noexcept {
        if ((block & kOwnsBlock) != 0)
            ::operator delete(reinterpret_cast<void*>(block & ~kOwnsBlock));
        block = 0;
    }

    std::uintptr_t block = 0;  // the Header, tagged with kOwnsBlock; 0 for the empty string
};

}  // namespace ini
