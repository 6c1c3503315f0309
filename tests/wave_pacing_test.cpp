// Pacing on the virtual clock: when a played block may go back, against
// what capture has filled.
#include <gtest/gtest.h>

#include "../port/sim/virtual_clock.h"
#include "../port/winmm/wave_pacing.h"

namespace {

using port::sim::kSampleRate;
using port::sim::Ms;
using port::sim::Ticks;

// Playback 8-bit mono at 11025 samples a second, so that a tick is a byte
// played, and capture filling blocks when the tests say.
class PacingTest : public testing::Test {
protected:
    port::sim::VirtualClock clock;
    port::StreamClock capture{0, 2 * kSampleRate};
    port::StreamClock playback{0, kSampleRate};
    port::Pacing pacing;

    void SetUp() override { pacing.Follow(&capture); }
    // Capture fills a block at `at`.
    void Filled(Ticks at)
    {
        clock.At(at, [this] { capture.blocks++; });
    }
    // The first tick the block that ends at `end`, with `after` more queued
    // behind it, may go back (and goes); playback reports every tick from
    // its end on. The clock runs to the end of what is queued.
    Ticks HandedBack(Ticks end, Ticks after)
    {
        Ticks back = -1;
        for (Ticks t = end; t <= end + after; t++)
            clock.At(t, [this, t, end, after, &back] {
                playback.bytes = t;
                if (back < 0 && pacing.MayHandBack(playback, end + after)) {
                    back = t;
                    pacing.HandedBack();
                }
            });
        while (clock.Now() < end + after && clock.RunNext()) {
        }
        return back;
    }
};

TEST_F(PacingTest, BlockThatEndsWithACaptureBlockGoesBackJustAfterIt)
{
    Filled(2048 + Ms(40));
    EXPECT_EQ(HandedBack(2048, 2048), 2048 + Ms(40));
}

// However the two streams lie against each other (a server that comes back
// places its new streams afresh), and however late a capture block comes,
// within the wait, each played block goes back after one filled since the
// last went back: never before it, and no capture block is skipped.
TEST_F(PacingTest, EachPlayedBlockWaitsForACaptureBlockFilledSinceTheLastWentBack)
{
    for (Ticks k = 1; k <= 6; k++)
        Filled(k * 2048 - 500 + (k == 3 ? 550 : 0));  // ahead, the third in a late burst
    for (Ticks k = 1; k <= 6; k++)
        EXPECT_EQ(HandedBack(k * 2048, 2048), k * 2048 + (k == 3 ? 50 : 0)) << k;
}

TEST_F(PacingTest, CaptureBurstAfterAStallLetsOneWaitingBlockGo)
{
    Filled(3000);
    Filled(3000);  // all it heard while held up, at once
    EXPECT_EQ(HandedBack(2048, 4096), 3000);
    // The next waits for a block filled after that, or as long as it may.
    EXPECT_EQ(HandedBack(6144, 2048), 8192 - 771);
}

// With capture gone quiet, a played block waits only while what is queued
// after it plays for more than 70 ms (771 bytes at 11025 a second).
TEST_F(PacingTest, WaitsNoLongerThanTheRestPlaysFor70Ms)
{
    EXPECT_EQ(Ms(70), 772);
    EXPECT_EQ(HandedBack(2048, 2048), 4096 - 771);
    EXPECT_EQ(HandedBack(6144, 771), 6144);
    EXPECT_EQ(HandedBack(8192, 772), 8193);
}

TEST_F(PacingTest, CaptureClosedWhilePlaybackWaitsLetsTheBlockGo)
{
    port::StreamClock other{0, 2 * kSampleRate};
    clock.At(2300, [&] { EXPECT_FALSE(pacing.Drop(&other)); });
    clock.At(2500, [&] { EXPECT_TRUE(pacing.Drop(&capture)); });
    EXPECT_EQ(HandedBack(2048, 4096), 2500);
    EXPECT_FALSE(pacing.Follows(&capture));
}

}  // namespace
