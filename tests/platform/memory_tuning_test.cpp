#include "platform/memory_tuning.h"

#include <cstdlib>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <gtest/gtest.h>

// A message buffer of a few megabytes must come from the heap, not from a mapping of its own
// that is handed back and faulted in again for every message.
TEST(MemoryTuning, MessageSizedBuffersStayInTheHeap) {
#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__)
    platform::KeepMessageBuffersInTheHeap();
    const auto mapped_before = mallinfo2().hblks;
    void* buffer = std::malloc(4 << 20);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(mallinfo2().hblks, mapped_before);
    std::free(buffer);
#else
    GTEST_SKIP() << "glibc's allocator only";
#endif
}
