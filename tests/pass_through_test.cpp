// Whole recordings on the simulated platform: what comes out of the
// speaker, the stop handshake, and what the program holds afterwards.
#include <gtest/gtest.h>

#include "support/alloc_tracker.h"
#include "support/program_run.h"

namespace {

// The first instant the speaker played anything at or after `from`.
Ticks FirstPlayed(const ProgramRun &run, Ticks from)
{
    for (Ticks t = from; t < (Ticks)run.audio.tape.size(); t++)
        if (run.audio.Played(t) >= 0)
            return t;
    return -1;
}

// The delay with which the tape repeats the microphone over [from, to),
// or -1 if no single delay explains all of it.
Ticks DelayOver(const ProgramRun &run, Ticks from, Ticks to)
{
    for (Ticks d = 0; d <= 4 * kBlock; d++) {
        bool all = true;
        for (Ticks t = from; t < to && all; t++)
            all = run.audio.Played(t) == ProgramRun::Noise(t - d);
        if (all)
            return d;
    }
    return -1;
}

bool SilentOver(const ProgramRun &run, Ticks from, Ticks to)
{
    for (Ticks t = from; t < to; t++)
        if (run.audio.Played(t) != 0x80)
            return false;
    return true;
}

TEST(PassThrough, PlaysTheInputAfterTwoBlocksOfSilence)
{
    ProgramRun run;
    run.window.ClickAt(Ms(100), IDC_RECORD);
    run.window.ClickAt(Ms(5000), IDC_STOP);
    run.window.CloseAt(Ms(6000));
    EXPECT_EQ(run.Run(), 0);

    Ticks start = FirstPlayed(run, 0);
    ASSERT_EQ(start, Ms(100));
    EXPECT_TRUE(SilentOver(run, start, start + 2 * kBlock));
    Ticks delay = DelayOver(run, start + 2 * kBlock, Ms(4900));
    EXPECT_GE(delay, 2 * kBlock);
    EXPECT_LE(delay, 3 * kBlock);
    EXPECT_EQ(run.audio.underruns, 0);
    EXPECT_TRUE(run.window.destroyed);
}

TEST(PassThrough, LateCaptureGivesThreeBlocksAndNeverHeapGarbage)
{
    // Capture reaches the program so late that the layer hands playback's
    // first block back before it (it waits only while the second block has
    // 70 ms more to play), so the first refill comes from the hand-over
    // block before any capture.
    ProgramRun run;
    run.audio.captureLatency = Ms(130);
    run.window.ClickAt(Ms(100), IDC_RECORD);
    run.window.ClickAt(Ms(4000), IDC_STOP);
    run.window.CloseAt(Ms(5000));
    EXPECT_EQ(run.Run(), 0);

    Ticks start = FirstPlayed(run, 0);
    EXPECT_TRUE(SilentOver(run, start, start + 3 * kBlock));
    EXPECT_EQ(DelayOver(run, start + 3 * kBlock, Ms(3900)), 3 * kBlock);
}

TEST(PassThrough, ASourceThatStopsSendingPlaysSilenceNotItsLastBlockAgain)
{
    ProgramRun run;
    run.audio.captureSilentFrom = Ms(2000);
    run.audio.captureSilentTo = Ms(3500);
    run.window.ClickAt(Ms(100), IDC_RECORD);
    run.window.ClickAt(Ms(6000), IDC_STOP);
    run.window.CloseAt(Ms(7000));
    EXPECT_EQ(run.Run(), 0);

    const Ticks start = FirstPlayed(run, 0);
    const Ticks delay = DelayOver(run, start + 2 * kBlock, Ms(2000));
    ASSERT_GE(delay, 2 * kBlock);
    // Every sample is the input at that delay, or silence, or the block
    // the source stopped in, played once more (its last block again, when
    // its source stops halfway through the next).
    Ticks silent = 0, again = 0;
    for (Ticks t = Ms(2000); t < Ms(5900); t++) {
        if (run.audio.Played(t) == 0x80)
            silent++;
        else if (run.audio.Played(t) != ProgramRun::Noise(t - delay) &&
                 run.audio.Played(t) == ProgramRun::Noise(t - delay - kBlock))
            again++;
        else
            EXPECT_EQ(run.audio.Played(t), ProgramRun::Noise(t - delay)) << "at " << t;
    }
    EXPECT_LE(again, kBlock);
    EXPECT_GE(silent, Ms(1500) - kBlock);
    EXPECT_LE(silent, Ms(1500) + 2 * kBlock);
    // Sound comes back at the delay it had.
    EXPECT_EQ(DelayOver(run, Ms(3500) + delay + kBlock, Ms(5900)), delay);
}

TEST(PassThrough, StopClosesEachDeviceOnceAndReleasesTheBlocks)
{
    ProgramRun run;
    run.window.ClickAt(Ms(100), IDC_RECORD);
    run.window.ClickAt(Ms(2000), IDC_STOP);
    bool checked = false;
    run.At(Ms(2500), [&] {
        checked = true;
        EXPECT_EQ(run.Count("waveInClose", MMSYSERR_NOERROR), 1);
        EXPECT_EQ(run.Count("waveOutClose", MMSYSERR_NOERROR), 1);
        EXPECT_EQ(run.audio.streamsOpen, 0);
        // Only the hand-over block stays, for the next recording.
        EXPECT_EQ(alloc::Live(BLOCK_BYTES), 1);
        EXPECT_EQ(loop.captureBlock1, nullptr);
        EXPECT_EQ(loop.playBlock2, nullptr);
        EXPECT_TRUE(run.window.enabled[IDC_RECORD]);
        EXPECT_FALSE(run.window.enabled[IDC_STOP]);
    });
    run.window.CloseAt(Ms(3000));
    EXPECT_EQ(run.Run(), 0);
    EXPECT_TRUE(checked);
    EXPECT_EQ(alloc::Live(BLOCK_BYTES), 0);
    EXPECT_EQ(alloc::Live(sizeof(WAVEHDR)), 0);
    EXPECT_EQ(alloc::DoubleFrees(), 0);
    // Nothing played after the stop.
    EXPECT_EQ(FirstPlayed(run, Ms(2000) + kBlock), -1);
}

TEST(PassThrough, RecordAgainUsesFreshBlocksAndRewrittenHeaders)
{
    ProgramRun run;
    run.window.ClickAt(Ms(100), IDC_RECORD);
    run.window.ClickAt(Ms(2000), IDC_STOP);
    run.At(Ms(2500), [&] {
        // Leave marks an old recording could have left in the headers.
        loop.captureHeader1->dwUser = 77;
        loop.playHeader2->lpNext = loop.playHeader1;
        loop.playHeader2->dwFlags |= WHDR_DONE;
    });
    run.window.ClickAt(Ms(3000), IDC_RECORD);
    run.At(Ms(3000) + 1, [&] {
        EXPECT_EQ(loop.captureHeader1->dwUser, 0u);
        EXPECT_EQ(loop.captureHeader1->lpData, (LPSTR)loop.captureBlock1);
        EXPECT_EQ(loop.playHeader2->lpData, (LPSTR)loop.playBlock2);
        EXPECT_EQ(loop.playHeader2->lpNext, nullptr);
        EXPECT_EQ(loop.playHeader2->dwLoops, 1u);
        EXPECT_EQ(loop.playHeader2->dwBufferLength, (DWORD)BLOCK_BYTES);
    });
    run.window.ClickAt(Ms(6000), IDC_STOP);
    run.window.CloseAt(Ms(7000));
    EXPECT_EQ(run.Run(), 0);

    EXPECT_EQ(run.audio.captureOpens, 2);
    EXPECT_EQ(alloc::Requests(BLOCK_BYTES), 10);
    EXPECT_EQ(run.Count("waveInClose", MMSYSERR_NOERROR), 2);
    EXPECT_EQ(run.Count("waveOutClose", MMSYSERR_NOERROR), 2);
    EXPECT_EQ(alloc::Live(BLOCK_BYTES), 0);  // no hand-over block left behind
    Ticks second = FirstPlayed(run, Ms(3000));
    EXPECT_EQ(second, Ms(3000));
    EXPECT_TRUE(SilentOver(run, second, second + 2 * kBlock));
    EXPECT_EQ(DelayOver(run, second + 2 * kBlock, Ms(5900)), 2 * kBlock);
}

TEST(PassThrough, StopPressedTheMomentItIsEnabled)
{
    // The user presses Stop while the devices' open notifications still
    // wait: they are handled first, then the stop handshake runs.
    ProgramRun run;
    run.window.onEnable = [&](int id, bool enable) {
        if (id == IDC_STOP && enable && run.audio.captureOpens == 0)
            run.window.ClickNow(IDC_STOP);
    };
    run.window.ClickAt(Ms(100), IDC_RECORD);
    bool checked = false;
    run.At(Ms(1000), [&] {
        checked = true;
        EXPECT_EQ(run.Count("waveInAddBuffer", MMSYSERR_NOERROR), 2);
        EXPECT_EQ(run.Count("waveInClose", MMSYSERR_NOERROR), 1);
        EXPECT_EQ(run.Count("waveOutClose", MMSYSERR_NOERROR), 1);
        EXPECT_EQ(run.audio.streamsOpen, 0);
        EXPECT_EQ(alloc::Live(BLOCK_BYTES), 1);
    });
    run.window.CloseAt(Ms(2000));
    EXPECT_EQ(run.Run(), 0);
    EXPECT_TRUE(checked);
}

TEST(PassThrough, PlaybackBlockReturnedAsStopIsTakenDoesNotKeepPlaybackOpen)
{
    // A playback block comes back at the very instant Stop is taken, ahead
    // of the blocks the resets hand back.
    ProgramRun run;
    run.audio.captureLatency = 100;
    Ticks stopAt = Ms(100) + 6 * kBlock;
    run.window.onEnable = [&](int id, bool enable) {
        if (id == IDC_STOP && !enable)
            run.clock.RunDue();
    };
    run.window.ClickAt(Ms(100), IDC_RECORD);
    run.window.ClickAt(stopAt, IDC_STOP);
    bool checked = false;
    run.At(stopAt + Ms(500), [&] {
        checked = true;
        EXPECT_EQ(run.Count("waveOutClose", MMSYSERR_NOERROR), 1);
        EXPECT_EQ(run.audio.streamsOpen, 0);
        EXPECT_EQ(loop.playBlock1, nullptr);
    });
    run.window.CloseAt(stopAt + Ms(1000));
    EXPECT_EQ(run.Run(), 0);
    EXPECT_TRUE(checked);
    EXPECT_EQ(FirstPlayed(run, stopAt + kBlock), -1);
}

TEST(PassThrough, ClosingWhileRunningEndsAtOnce)
{
    ProgramRun run;
    run.window.ClickAt(Ms(100), IDC_RECORD);
    run.window.CloseAt(Ms(1500));
    EXPECT_EQ(run.Run(), 0);
    EXPECT_TRUE(run.window.destroyed);
    EXPECT_EQ(run.clock.Now(), Ms(1500));
    EXPECT_EQ(run.Count("waveInReset", MMSYSERR_NOERROR), 1);
    EXPECT_EQ(run.Count("waveOutReset", MMSYSERR_NOERROR), 1);
    // The close request closes both devices itself, and nothing was
    // delivered after it: no handler made a wave call of its own.
    EXPECT_EQ(run.Count("waveInClose", MMSYSERR_NOERROR), 1);
    EXPECT_EQ(run.Count("waveOutClose", MMSYSERR_NOERROR), 1);
    EXPECT_EQ(run.Count("waveInClose") + run.Count("waveOutClose"), 2);
    EXPECT_EQ(run.calls.back().name, "waveOutClose");
    EXPECT_EQ(loop.captureHeader1, nullptr);
    EXPECT_EQ(loop.latestBlock, nullptr);
    EXPECT_EQ(alloc::Live(sizeof(WAVEHDR)), 0);
}

}  // namespace
