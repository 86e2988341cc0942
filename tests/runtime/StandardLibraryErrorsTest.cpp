// A request too large to count is std::bad_alloc (out of memory); other misuse is not.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace {

enum class Seen { kNoMemory, kOtherError, kNothing };

template <typename Misuse>
Seen WhatHandlersSee(Misuse misuse) {
    try {
        misuse();
    } catch (const std::bad_alloc&) {
        return Seen::kNoMemory;
    } catch (const std::exception& error) {
        EXPECT_NE(std::string(error.what()), "");
        return Seen::kOtherError;
    }
    return Seen::kNothing;
}

// Hidden from the compiler, so it neither warns of the sizes nor folds the calls away.
volatile size_t g_zero = 0;
const char* volatile g_null = nullptr;

TEST(StandardLibraryErrors, KeepTheOutOfMemoryReportsApart) {
    std::allocator<int> ints;
    std::vector<int> numbers(1 + g_zero);
    const size_t pastMost = PTRDIFF_MAX / sizeof(int) + 1;
    EXPECT_EQ(WhatHandlersSee([&] { (void)ints.allocate(pastMost + g_zero); }), Seen::kNoMemory);
    EXPECT_EQ(WhatHandlersSee([&] { (void)ints.allocate(SIZE_MAX - g_zero); }), Seen::kNoMemory);
    EXPECT_EQ(WhatHandlersSee([&] { numbers.reserve(pastMost + g_zero); }), Seen::kOtherError);
    EXPECT_EQ(WhatHandlersSee([&] { (void)numbers.at(1 + g_zero); }), Seen::kOtherError);
    EXPECT_EQ(WhatHandlersSee([&] { std::string text(g_null); }), Seen::kOtherError);
}

}  // namespace
