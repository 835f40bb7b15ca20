#include "ini/wide_string.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <memory_resource>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

using ini::WideString;

// An arena over a buffer the test can see: Scribble overwrites everything handed out, as reusing
// the memory after the arena is gone would.
class VisibleArena : public std::pmr::memory_resource {
public:
    std::size_t Used() const { return used; }
    void Scribble() { std::memset(buffer.data(), 0xFF, buffer.size()); }

private:
    void* do_allocate(std::size_t bytes, std::size_t alignment) override {
        used = (used + alignment - 1) / alignment * alignment;
        void* memory = buffer.data() + used;
        used += bytes;
        EXPECT_LE(used, buffer.size());
        return memory;
    }
    void do_deallocate(void*, std::size_t, std::size_t) override {}
    bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override {
        return this == &other;
    }

    std::vector<unsigned char> buffer = std::vector<unsigned char>(4096);
    std::size_t used = 0;
};

WideString BuildIn(std::pmr::memory_resource* arena, std::u16string_view text) {
    return WideString::Build(text.size(), arena, [text](char16_t* characters) {
        for (const char16_t c : text)
            *characters++ = c;
    });
}

TEST(WideString, EmptyStringsHoldNoCharacters) {
    const WideString none;
    const WideString fromLiteral(u"");
    VisibleArena arena;
    const WideString built = BuildIn(&arena, u"");
    for (const WideString* s : {&none, &fromLiteral, &built}) {
        EXPECT_TRUE(s->empty());
        EXPECT_EQ(s->size(), 0u);
        EXPECT_EQ(s->view(), u"");
        EXPECT_NE(s->data(), nullptr);
    }
    EXPECT_EQ(arena.Used(), 0u);
}

TEST(WideString, ComparesWithEveryFormOfWideText) {
    const WideString text(u"K\u00FC=\0x");
    EXPECT_EQ(text.size(), 3u);
    EXPECT_TRUE(text == u"K\u00FC=");
    EXPECT_TRUE(u"K\u00FC=" == text);
    EXPECT_TRUE(text == std::u16string(u"K\u00FC="));
    EXPECT_TRUE(std::u16string(u"K\u00FC=") == text);
    EXPECT_TRUE(text == std::u16string_view(u"K\u00FC="));
    EXPECT_TRUE(text == WideString(u"K\u00FC="));
    EXPECT_FALSE(text == u"k\u00FC=");
    EXPECT_FALSE(text == u"K\u00FC");
    EXPECT_TRUE(text != u"K\u00FC= ");

    const std::u16string withZero(u"a\0b", 3);
    const WideString zero(withZero);
    EXPECT_EQ(zero.size(), 3u);
    EXPECT_EQ(zero.view(), withZero);
    EXPECT_EQ(zero[1], u'\0');
    EXPECT_EQ(zero.front(), u'a');
    EXPECT_EQ(zero.back(), u'b');
    EXPECT_EQ(std::u16string(zero.begin(), zero.end()), withZero);
}

TEST(WideString, CopiesOutliveTheArenaOfTheirSource) {
    WideString copied;
    WideString assigned(u"old");
    {
        VisibleArena arena;
        const WideString inArena = BuildIn(&arena, u"a value of some length");
        EXPECT_GE(arena.Used(), inArena.size() * sizeof(char16_t));
        copied = WideString(inArena);
        assigned = inArena;
        EXPECT_EQ(inArena, u"a value of some length");
        arena.Scribble();
        EXPECT_NE(inArena, u"a value of some length");
    }
    EXPECT_EQ(copied, u"a value of some length");
    EXPECT_EQ(assigned, u"a value of some length");
}

TEST(WideString, MovesHandHeapCharactersOverAndCopyArenaCharactersOut) {
    WideString source(u"moved text");
    const char16_t* characters = source.data();
    WideString target(std::move(source));
    EXPECT_EQ(target.data(), characters);
    EXPECT_EQ(target, u"moved text");

    WideString other(u"heap text");
    other = std::move(target);
    EXPECT_EQ(other, u"moved text");
    EXPECT_EQ(other.data(), characters);

    other.clear();
    EXPECT_TRUE(other.empty());

    WideString constructed;
    WideString assigned(u"old");
    WideString swapped(u"swapped");
    {
        VisibleArena arena;
        WideString inArena = BuildIn(&arena, u"arena text");
        WideString assignedFrom = BuildIn(&arena, u"assigned text");
        WideString swappedWith = BuildIn(&arena, u"swapped text");
        constructed = WideString(std::move(inArena));
        assigned = std::move(assignedFrom);
        swapped.swap(swappedWith);
        EXPECT_EQ(swappedWith, u"swapped");
        arena.Scribble();
    }
    EXPECT_EQ(constructed, u"arena text");
    EXPECT_EQ(assigned, u"assigned text");
    EXPECT_EQ(swapped, u"swapped text");
}

TEST(WideString, AssigningToItselfKeepsTheText) {
    WideString text(u"self");
    const WideString& alias = text;
    text = alias;
    EXPECT_EQ(text, u"self");
    text.swap(text);
    EXPECT_EQ(text, u"self");
}

}  // namespace
