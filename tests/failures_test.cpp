// What the program does when memory or a sound device cannot be had.
#include <gtest/gtest.h>

#include "support/alloc_tracker.h"
#include "support/invariants.h"
#include "support/program_run.h"

namespace {

const char kNoMemory[] = "Can not allocate memory!";
const char kNoDevice[] = "I can't open wave device. Maybe Your SB does not support dual mode.";

// One warning sound, the desktop's and not the bell, as the box shows.
void ExpectOneWarning(const ProgramRun &run, const char *text)
{
    EXPECT_TRUE(run.window.beeps.empty());
    ASSERT_EQ(run.sounds.played.size(), 1u);
    EXPECT_EQ(run.sounds.played[0].type, (unsigned)MB_ICONEXCLAMATION);
    ASSERT_EQ(run.window.messageBoxes.size(), 1u);
    EXPECT_EQ(run.sounds.played[0].at, run.window.messageBoxes[0].shownAt);
    EXPECT_LT(run.sounds.played[0].order, run.window.messageBoxes[0].order);  // the sound first
    EXPECT_EQ(run.window.messageBoxes[0].text, text);
    EXPECT_EQ(run.window.messageBoxes[0].caption, "Vazozo1");
    EXPECT_EQ(run.window.messageBoxes[0].type, (unsigned)MB_ICONEXCLAMATION);
}

class BlockAllocationFails : public testing::TestWithParam<int> {};

TEST_P(BlockAllocationFails, ReleasesTheOthersAndOpensNothing)
{
    ProgramRun run;
    alloc::FailNth(BLOCK_BYTES, GetParam());
    run.window.ClickAt(Ms(100), IDC_RECORD);
    run.At(Ms(1000), [&] {
        EXPECT_EQ(alloc::Requests(BLOCK_BYTES), 5);
        EXPECT_EQ(alloc::Live(BLOCK_BYTES), 0);
        EXPECT_EQ(loop.captureBlock1, nullptr);
        EXPECT_EQ(loop.captureBlock2, nullptr);
        EXPECT_EQ(loop.playBlock1, nullptr);
        EXPECT_EQ(loop.playBlock2, nullptr);
        EXPECT_EQ(loop.latestBlock, nullptr);
        // The buttons stay as Record set them; Stop is the way back.
        EXPECT_FALSE(run.window.enabled[IDC_RECORD]);
        EXPECT_TRUE(run.window.enabled[IDC_STOP]);
    });
    run.window.ClickAt(Ms(1500), IDC_STOP);
    run.At(Ms(1600), [&] {
        EXPECT_TRUE(run.window.enabled[IDC_RECORD]);
        EXPECT_FALSE(run.window.enabled[IDC_STOP]);
    });
    run.window.CloseAt(Ms(2000));
    EXPECT_EQ(run.Run(), 0);

    ExpectOneWarning(run, kNoMemory);
    EXPECT_EQ(run.audio.captureOpens + run.audio.playbackOpens, 0);
    EXPECT_EQ(alloc::Live(sizeof(WAVEHDR)), 0);
    EXPECT_EQ(alloc::DoubleFrees(), 0);
}

INSTANTIATE_TEST_SUITE_P(EachOfTheFive, BlockAllocationFails, testing::Range(1, 6));

TEST(Failures, MissingHeaderIsReportedInsteadOfWrittenThrough)
{
    ProgramRun run;
    alloc::FailNth(sizeof(WAVEHDR), 3);  // playHeader1
    run.window.ClickAt(Ms(100), IDC_RECORD);
    run.window.CloseAt(Ms(2000));
    EXPECT_EQ(run.Run(), 0);
    ExpectOneWarning(run, kNoMemory);
    EXPECT_EQ(run.audio.captureOpens, 0);
    EXPECT_EQ(alloc::Live(BLOCK_BYTES), 0);
    EXPECT_EQ(alloc::Live(sizeof(WAVEHDR)), 0);
}

// The device failure report ends the program there and then: its close
// request runs inside the Record command, not after whatever was posted.
void ExpectClosedByTheReport(ProgramRun &run)
{
    InvariantChecker check(run);
    EXPECT_EQ(check.RunDialog(), 0);  // no close scripted: the program ends by itself
    for (const std::string &failure : check.failures)
        ADD_FAILURE() << failure;
    EXPECT_EQ(check.failureCloses, 1);
    EXPECT_EQ(check.userCloses, 0);
}

TEST(Failures, CaptureDeviceThatWillNotOpenEndsTheProgram)
{
    ProgramRun run;
    run.audio.captureOpenResult = MMSYSERR_BADDEVICEID;
    run.window.ClickAt(Ms(100), IDC_RECORD);
    ExpectClosedByTheReport(run);
    ExpectOneWarning(run, kNoDevice);
    EXPECT_EQ(run.audio.playbackOpens, 0);
    EXPECT_TRUE(run.window.destroyed);
    EXPECT_EQ(loop.captureBlock1, nullptr);
    EXPECT_EQ(loop.captureBlock2, nullptr);
    EXPECT_EQ(loop.latestBlock, nullptr);
}

// With no sound server there is no event sound to play: the display's bell.
TEST(Failures, NoSoundServerRingsTheBellInstead)
{
    ProgramRun run;
    run.audio.captureOpenResult = MMSYSERR_BADDEVICEID;
    run.sounds.server = false;
    run.window.ClickAt(Ms(100), IDC_RECORD);
    EXPECT_EQ(run.Run(), 0);
    EXPECT_TRUE(run.sounds.played.empty());
    ASSERT_EQ(run.window.beeps.size(), 1u);
    EXPECT_EQ(run.window.beeps[0].type, (unsigned)MB_ICONEXCLAMATION);
    ASSERT_EQ(run.window.messageBoxes.size(), 1u);
    EXPECT_EQ(run.window.beeps[0].at, run.window.messageBoxes[0].shownAt);
}

TEST(Failures, PlaybackDeviceThatWillNotOpenNeverGetsCaptureGoing)
{
    ProgramRun run;
    run.audio.playbackOpenResult = MMSYSERR_ALLOCATED;
    run.window.ClickAt(Ms(100), IDC_RECORD);
    ExpectClosedByTheReport(run);
    ExpectOneWarning(run, kNoDevice);
    EXPECT_EQ(loop.playBlock1, nullptr);
    EXPECT_EQ(loop.playBlock2, nullptr);
    // Capture's open notification arrived while the message was shown, and
    // none of the unprepared headers reached the device.
    EXPECT_EQ(run.Count("waveInClose", MMSYSERR_NOERROR), 1);
    EXPECT_GE(run.Count("waveInAddBuffer"), 2);
    EXPECT_EQ(run.Count("waveInAddBuffer", MMSYSERR_NOERROR), 0);
    EXPECT_EQ(run.Count("waveInStart", MMSYSERR_NOERROR), 0);
    EXPECT_EQ(run.audio.streamsOpen, 0);
}

TEST(Failures, PlaybackFailureInALaterRecordingQueuesNoStaleHeader)
{
    ProgramRun run;
    run.window.ClickAt(Ms(100), IDC_RECORD);
    run.window.ClickAt(Ms(1500), IDC_STOP);
    run.At(Ms(2000), [&] { run.audio.playbackOpenResult = MMSYSERR_NODRIVER; });
    run.window.ClickAt(Ms(2500), IDC_RECORD);
    EXPECT_EQ(run.Run(), 0);
    ExpectOneWarning(run, kNoDevice);
    int queuedLater = 0;
    for (const LoggedCall &call : run.calls)
        if (call.name == "waveInAddBuffer" && call.result == MMSYSERR_NOERROR && call.at >= Ms(2500))
            queuedLater++;
    EXPECT_EQ(queuedLater, 0);
    EXPECT_EQ(alloc::DoubleFrees(), 0);
}

TEST(Failures, ExitStatusIsZeroEvenWhenTheDialogCannotBeShown)
{
    ProgramRun run;
    run.window.refuseDialog = true;
    EXPECT_EQ(run.Run(), 0);
    EXPECT_FALSE(run.window.created);
}

}  // namespace
