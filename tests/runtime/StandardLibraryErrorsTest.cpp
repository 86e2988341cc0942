// What the handlers of the DLLs see when a container is misused: a request too large to
// count is still std::bad_alloc (the C calls answer kDNSNoMemoryErr, the COM ones
// E_OUTOFMEMORY), any other misuse is an exception that is not.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace {

enum class Seen { kOutOfMemory, kOtherError, kNothing };

template <typename Misuse>
Seen WhatHandlersSee(Misuse misuse) {
    try {
        misuse();
    } catch (const std::bad_alloc&) {
        return Seen::kOutOfMemory;
    } catch (const std::exception& error) {
        EXPECT_NE(std::string(error.what()), "");
        return Seen::kOtherError;
    }
    return Seen::kNothing;
}

// Sizes the compiler cannot see, so it neither warns of them nor folds the calls away.
volatile size_t g_zero = 0;
const char* volatile g_null = nullptr;

TEST(StandardLibraryErrors, KeepTheOutOfMemoryReportsApart) {
    std::vector<int> numbers(1 + g_zero);
    std::allocator<int> allocator;
    // Past the most an allocation may hold, then past what a size can count.
    const size_t tooMany = PTRDIFF_MAX / sizeof(int) + 1;
    EXPECT_EQ(WhatHandlersSee([&] { (void)allocator.allocate(tooMany + g_zero); }),
              Seen::kOutOfMemory);
    EXPECT_EQ(WhatHandlersSee([&] { (void)allocator.allocate(SIZE_MAX - g_zero); }),
              Seen::kOutOfMemory);
    EXPECT_EQ(WhatHandlersSee([&] { numbers.reserve(numbers.max_size() + 1 + g_zero); }),
              Seen::kOtherError);
    EXPECT_EQ(WhatHandlersSee([&] { (void)numbers.at(1 + g_zero); }), Seen::kOtherError);
    EXPECT_EQ(WhatHandlersSee([&] { std::string text(g_null); }), Seen::kOtherError);
    EXPECT_EQ(WhatHandlersSee([&] { (void)std::string("ab").substr(3 + g_zero); }),
              Seen::kOtherError);
}

}  // namespace
