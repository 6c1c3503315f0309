// Pacing on the virtual clock: when a played block may go back, against
// what capture has heard.
#include <gtest/gtest.h>

#include "../port/sim/virtual_clock.h"
#include "../port/winmm/wave_pacing.h"

namespace {

using port::sim::kSampleRate;
using port::sim::Ms;
using port::sim::Ticks;

// Playback 8-bit and capture 16-bit, both mono at 11025 samples a second
// and started at 0: a tick is a byte played and two bytes heard, so a
// comparison of bytes rather than times shows.
class PacingTest : public testing::Test {
protected:
    port::sim::VirtualClock clock;
    port::StreamClock capture{0, 2 * kSampleRate};
    port::StreamClock playback{0, kSampleRate};
    port::Pacing pacing;

    void SetUp() override { pacing.Follow(&capture); }
    // Capture reports at `at` that it has heard up to `heard`.
    void Deliver(Ticks at, Ticks heard)
    {
        clock.At(at, [this, heard] { capture.bytes = 2 * heard; });
    }
    // Capture in chunks of 256 samples over (from, to], each `late` after it was heard.
    void OnTime(Ticks from, Ticks to, Ticks late = 0)
    {
        for (Ticks t = from + 256; t <= to; t += 256)
            Deliver(t + late, t);
    }
    // The first tick the block that ends at `end`, with `after` more queued
    // behind it, may go back; playback reports every tick from its end on.
    Ticks HandedBack(Ticks end, Ticks after)
    {
        Ticks back = -1;
        for (Ticks t = end; t <= end + after; t++)
            clock.At(t, [this, t, end, after, &back] {
                playback.bytes = t;
                if (back < 0 && pacing.MayHandBack(playback, end, end + after))
                    back = t;
            });
        while (clock.RunNext()) {
        }
        return back;
    }
};

TEST_F(PacingTest, BlockThatEndsWithACaptureBlockGoesBackJustAfterIt)
{
    OnTime(0, 8192, Ms(40));
    EXPECT_EQ(HandedBack(2048, 2048), 2048 + Ms(40));
}

TEST_F(PacingTest, CaptureBurstAfterAStallLetsTheWaitingBlockGo)
{
    OnTime(0, 1024);
    Deliver(3000, 4352);  // all it heard while held up, at once
    EXPECT_EQ(HandedBack(2048, 4096), 3000);
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
    OnTime(0, 1024);
    clock.At(2300, [&] { EXPECT_FALSE(pacing.Drop(&other)); });
    clock.At(2500, [&] { EXPECT_TRUE(pacing.Drop(&capture)); });
    EXPECT_EQ(HandedBack(2048, 4096), 2500);
    EXPECT_FALSE(pacing.Follows(&capture));
}

}  // namespace
