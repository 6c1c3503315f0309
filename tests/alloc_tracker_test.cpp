// The heap the program gets in the tests: reading past a block, or a block
// already freed, stops the test at that very read.
#include <gtest/gtest.h>

#include <stdlib.h>

#include "support/alloc_tracker.h"

namespace {

// Read through a pointer the compiler cannot follow, as a fault in the
// program would read.
unsigned char *volatile hidden;

int ReadAt(void *block, size_t offset)
{
    hidden = (unsigned char *)block;
    return ((volatile unsigned char *)hidden)[offset];
}

TEST(AllocTrackerDeathTest, ReadingPastABlockOrAfterItsReleaseCrashes)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    void *block = malloc(2048);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(ReadAt(block, 0), alloc::kGarbage);
    EXPECT_EQ(ReadAt(block, 2047), alloc::kGarbage);
    EXPECT_DEATH(ReadAt(block, 2048), "byte 2048 of a block of 2048 bytes");

    void *header = calloc(1, 48);
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(ReadAt(header, 47), 0);
    EXPECT_DEATH(ReadAt(header, 48), "byte 48 of a block of 48 bytes");

    hidden = (unsigned char *)block;
    free(block);
    EXPECT_DEATH(ReadAt(hidden, 100), "a block after it was freed");
    free(header);
}

}  // namespace
