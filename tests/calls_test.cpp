// What the program asks of the platform, call by call: the device and
// format of every open, every header as it is prepared, the order of the
// calls each command and handler makes, and what the dialog procedure
// answers for every kind of message.
#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <set>

#include "../app/dialog.h"
#include "support/alloc_tracker.h"
#include "support/program_run.h"

namespace {

// The dialog procedure as the platform sees it: every message, what it
// carried and what the procedure answered, nested sends included.
struct Delivery {
    UINT message;
    WPARAM wParam;
    INT_PTR answer;
};
HWND dialogWindow;
std::vector<Delivery> *deliveries;

INT_PTR CALLBACK WatchedProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam)
{
    dialogWindow = hDlg;
    INT_PTR answer = RecordDialogProc(hDlg, message, wParam, lParam);
    deliveries->push_back({message, wParam, answer});
    return answer;
}

// Runs the program's dialog, with its procedure watched, on the platform
// `run` has set up.
std::vector<Delivery> RunWatched(ProgramRun &)
{
    std::vector<Delivery> seen;
    deliveries = &seen;
    DialogBoxParamA((HINSTANCE)1, "Record", nullptr, WatchedProc, 0);
    deliveries = nullptr;
    return seen;
}

TEST(Opens, BothDevicesThroughTheWaveMapperInTheLoopFormat)
{
    ProgramRun run;
    bool toDialog = true;
    run.onCall = [&](const LoggedCall &call) {
        // The notifications go to the dialog itself, not to one of its controls.
        if (call.name == "waveInOpen" || call.name == "waveOutOpen")
            toDialog = toDialog && IsWindow((HWND)call.wave.callback) &&
                       GetDlgItem((HWND)call.wave.callback, IDC_RECORD) != nullptr;
    };
    run.window.ClickAt(Ms(100), IDC_RECORD);
    run.window.ClickAt(Ms(1000), IDC_STOP);
    run.window.ClickAt(Ms(1500), IDC_RECORD);
    run.window.CloseAt(Ms(2500));
    EXPECT_EQ(run.Run(), 0);

    std::vector<std::string> opens;
    for (const LoggedCall &call : run.calls) {
        if (call.name != "waveInOpen" && call.name != "waveOutOpen")
            continue;
        opens.push_back(call.name);
        SCOPED_TRACE(call.name + " at " + std::to_string(call.at));
        const WAVEFORMATEX &f = call.wave.format;
        EXPECT_EQ(call.wave.deviceId, WAVE_MAPPER);
        EXPECT_EQ(f.wFormatTag, WAVE_FORMAT_PCM);
        EXPECT_EQ(f.nChannels, 1);
        EXPECT_EQ(f.nSamplesPerSec, 11025u);
        EXPECT_EQ(f.nAvgBytesPerSec, 11025u);
        EXPECT_EQ(f.nBlockAlign, 1);
        EXPECT_EQ(f.wBitsPerSample, 8);
        EXPECT_EQ(f.cbSize, 0);
        EXPECT_EQ(call.wave.instance, 0u);
        EXPECT_EQ(call.wave.flags, (DWORD)CALLBACK_WINDOW);
        EXPECT_EQ(call.result, 0u);
    }
    EXPECT_TRUE(toDialog);
    EXPECT_EQ(opens, (std::vector<std::string>{"waveInOpen", "waveOutOpen", "waveInOpen", "waveOutOpen"}));
}

// Every field of a header as the program must hand it to a prepare.
void ExpectFreshHeader(const WAVEHDR &h, const void *block)
{
    EXPECT_EQ(h.lpData, (LPSTR)block);
    EXPECT_EQ(h.dwBufferLength, (DWORD)BLOCK_BYTES);
    EXPECT_EQ(h.dwBytesRecorded, 0u);
    EXPECT_EQ(h.dwUser, 0u);
    EXPECT_EQ(h.dwFlags, 0u);
    EXPECT_EQ(h.dwLoops, 1u);
    EXPECT_EQ(h.lpNext, nullptr);
    EXPECT_EQ(h.reserved, 0u);
}

// Which of the program's headers `h` is right now, and the block it must describe.
std::string HeaderName(const WAVEHDR *h)
{
    return h == nullptr               ? "-"
           : h == loop.captureHeader1 ? "c1"
           : h == loop.captureHeader2 ? "c2"
           : h == loop.playHeader1    ? "p1"
           : h == loop.playHeader2    ? "p2"
                                      : "?";
}

const void *BlockOf(const WAVEHDR *h)
{
    return h == loop.captureHeader1   ? loop.captureBlock1
           : h == loop.captureHeader2 ? loop.captureBlock2
           : h == loop.playHeader1    ? loop.playBlock1
           : h == loop.playHeader2    ? loop.playBlock2
                                      : nullptr;
}

bool IsPrepare(const std::string &name)
{
    return name == "waveInPrepareHeader" || name == "waveOutPrepareHeader";
}

TEST(Prepares, EveryHeaderIsWrittenInFullJustBeforeItsPrepare)
{
    ProgramRun run;
    std::vector<std::string> names;    // of each call's header, as the call is made
    std::vector<const void *> blocks;  // the block that header must describe then
    run.onCall = [&](const LoggedCall &call) {
        names.push_back(HeaderName(call.header));
        blocks.push_back(BlockOf(call.header));
    };
    run.window.ClickAt(Ms(100), IDC_RECORD);
    run.window.ClickAt(Ms(1000), IDC_STOP);
    run.At(Ms(1200), [&] {
        // Everything an earlier recording, or anyone, could have left behind.
        for (WAVEHDR *h : {loop.captureHeader1, loop.captureHeader2, loop.playHeader1, loop.playHeader2}) {
            h->lpData = (LPSTR)loop.latestBlock;
            h->dwBufferLength = 1;
            h->dwBytesRecorded = 7;
            h->dwUser = 77;
            h->dwFlags = WHDR_DONE | WHDR_BEGINLOOP;
            h->dwLoops = 9;
            h->lpNext = loop.playHeader1;
            h->reserved = 5;
        }
    });
    run.window.ClickAt(Ms(1500), IDC_RECORD);
    run.window.ClickAt(Ms(2500), IDC_STOP);
    run.window.CloseAt(Ms(3000));
    EXPECT_EQ(run.Run(), 0);

    int prepares = 0;
    for (size_t i = 0; i < run.calls.size(); i++) {
        const LoggedCall &call = run.calls[i];
        if (call.header) {
            EXPECT_EQ(call.wave.headerSize, HEADER_BYTES) << call.name;
        }
        if (!IsPrepare(call.name))
            continue;
        SCOPED_TRACE(call.name + " of " + names[i] + " at " + std::to_string(call.at));
        prepares++;
        ASSERT_NE(blocks[i], nullptr);
        ExpectFreshHeader(call.wave.fields, blocks[i]);
        EXPECT_EQ(call.result, 0u);
    }
    EXPECT_EQ(prepares, 8);
    // Right after the two opens, in order, each header on its own device.
    for (Ticks at : {Ms(100), Ms(1500)}) {
        size_t first = 0;
        while (first < run.calls.size() && run.calls[first].at < at)
            first++;
        ASSERT_LE(first + 6, run.calls.size());
        std::vector<std::string> sequence;
        for (size_t i = first; i < first + 6; i++)
            sequence.push_back(run.calls[i].name + " " + names[i]);
        EXPECT_EQ(sequence, (std::vector<std::string>{"waveInOpen -", "waveOutOpen -",
                                                      "waveInPrepareHeader c1", "waveInPrepareHeader c2",
                                                      "waveOutPrepareHeader p1", "waveOutPrepareHeader p2"}));
        EXPECT_EQ(run.calls[first + 2].handle, run.calls[first].handle);
        EXPECT_EQ(run.calls[first + 3].handle, run.calls[first].handle);
        EXPECT_EQ(run.calls[first + 4].handle, run.calls[first + 1].handle);
        EXPECT_EQ(run.calls[first + 5].handle, run.calls[first + 1].handle);
    }
}

TEST(Headers, StartZeroedSoAFailedFirstRecordUnpreparesNothingUnwritten)
{
    // Playback will not open on the first Record: capture is closed again,
    // and its close handler unprepares headers no Record has filled.
    ProgramRun run;
    run.audio.playbackOpenResult = MMSYSERR_ALLOCATED;
    bool checked = false;
    run.At(1, [&] {
        checked = true;
        EXPECT_EQ(alloc::Requests(HEADER_BYTES), 4);
        for (const WAVEHDR *h :
             {loop.captureHeader1, loop.captureHeader2, loop.playHeader1, loop.playHeader2}) {
            ASSERT_NE(h, nullptr);
            const unsigned char *bytes = (const unsigned char *)h;
            EXPECT_EQ(std::count(bytes, bytes + HEADER_BYTES, 0), (long)HEADER_BYTES);
        }
    });
    run.window.ClickAt(Ms(100), IDC_RECORD);
    EXPECT_EQ(run.Run(), 0);
    EXPECT_TRUE(checked);

    const WAVEHDR zero = {};
    int unprepares = 0;
    for (const LoggedCall &call : run.calls)
        if (call.name == "waveInUnprepareHeader" || call.name == "waveOutUnprepareHeader") {
            unprepares++;
            EXPECT_EQ(memcmp(&call.wave.fields, &zero, sizeof zero), 0) << call.name;
        }
    EXPECT_EQ(unprepares, 2);
}

// The calls of one command and the handlers it sets going, with the
// button changes among them, from the instant `at` on.
struct Sequence {
    std::vector<std::string> events;
    void Watch(ProgramRun &run, Ticks from)
    {
        run.window.onEnable = [this, &run, from](int id, bool enable) {
            if (run.clock.Now() >= from)
                events.push_back(std::string(enable ? "enable " : "disable ") + std::to_string(id));
        };
        run.onCall = [this, &run, from](const LoggedCall &call) {
            if (run.clock.Now() < from)
                return;
            std::string e = call.name + " " + HeaderName(call.header);
            bool capture = call.name.compare(0, 6, "waveIn") == 0;
            if (call.handle != (uintptr_t)(capture ? (void *)loop.hWaveIn : (void *)loop.hWaveOut))
                e += " on another device";
            if (call.result)
                e += " fails";
            // Unprepared while its block is still held, never after.
            if (call.name.find("Unprepare") != std::string::npos && BlockOf(call.header) == nullptr)
                e += " after its block went";
            events.push_back(e);
        };
    }
};

TEST(CallOrder, RecordSwitchesTheButtonsThenOpensAndTheOpenHandlersQueueAndStart)
{
    ProgramRun run;
    Sequence seq;
    seq.Watch(run, Ms(100));
    run.window.ClickAt(Ms(100), IDC_RECORD);
    run.At(Ms(101), [&] {
        EXPECT_EQ(seq.events,
                  (std::vector<std::string>{"disable 1000", "enable 1001", "waveInOpen -", "waveOutOpen -",
                                            "waveInPrepareHeader c1", "waveInPrepareHeader c2",
                                            "waveOutPrepareHeader p1", "waveOutPrepareHeader p2",
                                            "waveInAddBuffer c1", "waveInAddBuffer c2", "waveInStart -",
                                            "waveOutWrite p1", "waveOutWrite p2"}));
        seq.events.clear();
    });
    run.window.CloseAt(Ms(1000));
    EXPECT_EQ(run.Run(), 0);
}

TEST(CallOrder, StopResetsCaptureFirstAndTheFirstCaptureBlockBackClosesBoth)
{
    ProgramRun run;
    Sequence seq;
    seq.Watch(run, Ms(1000));
    run.window.ClickAt(Ms(100), IDC_RECORD);
    run.window.ClickAt(Ms(1000), IDC_STOP);
    bool checked = false;
    run.At(Ms(1001), [&] {
        checked = true;
        // The second block back finds both devices closed; the playback
        // blocks back are not queued again after a Stop. The headers are
        // unprepared once their device has closed, which it refuses.
        EXPECT_EQ(seq.events,
                  (std::vector<std::string>{
                      "enable 1000", "disable 1001", "waveInReset -", "waveOutReset -", "waveInClose -",
                      "waveOutClose -", "waveInClose - fails", "waveOutClose - fails",
                      "waveInUnprepareHeader c1 fails", "waveInUnprepareHeader c2 fails",
                      "waveOutUnprepareHeader p1 fails", "waveOutUnprepareHeader p2 fails"}));
        EXPECT_EQ(loop.captureBlock1, nullptr);
        EXPECT_EQ(loop.playBlock2, nullptr);
    });
    run.window.CloseAt(Ms(2000));
    EXPECT_EQ(run.Run(), 0);
    EXPECT_TRUE(checked);
}

TEST(CallOrder, CloseRequestResetsAndClosesBothThenReleasesInOrderAndEnds)
{
    ProgramRun run;
    Sequence seq;
    seq.Watch(run, Ms(1500));
    std::vector<void *> held;
    run.window.ClickAt(Ms(100), IDC_RECORD);
    run.At(Ms(1400), [&] {
        held = {loop.captureHeader1, loop.captureHeader2, loop.playHeader1, loop.playHeader2,
                loop.latestBlock};
    });
    run.window.CloseAt(Ms(1500));
    EXPECT_EQ(run.Run(), 0);
    // Closed, so no device is left open when the program exits.
    EXPECT_EQ(seq.events, (std::vector<std::string>{"waveInReset -", "waveOutReset -", "waveInClose -",
                                                    "waveOutClose -"}));
    std::vector<void *> released = alloc::Releases();
    ASSERT_GE(released.size(), 5u);
    EXPECT_EQ(std::vector<void *>(released.end() - 5, released.end()), held);
}

TEST(Dispatch, EveryRowAnswersAsTheTableSays)
{
    ProgramRun run;
    run.window.ClickAt(Ms(100), IDC_RECORD);
    run.window.ClickAt(Ms(1000), IDC_STOP);
    run.window.KeyAt(Ms(1200), VK_ESCAPE);  // IDCANCEL: no button of ours
    run.At(Ms(1300), [&] {
        SendMessageA(dialogWindow, WM_SYSCOMMAND, SC_MOVE, 0);
        // Not SC_CLOSE exactly: not the close request.
        SendMessageA(dialogWindow, WM_SYSCOMMAND, SC_CLOSE | 1, 0);
        PostMessageA(dialogWindow, WM_APP, 0, 0);
    });
    // Only the control id counts, not the notification code above it.
    run.At(Ms(1500), [&] { SendMessageA(dialogWindow, WM_COMMAND, MAKEWPARAM(IDC_RECORD, 1), 0); });
    run.At(Ms(2500), [&] { SendMessageA(dialogWindow, WM_COMMAND, MAKEWPARAM(IDC_STOP, 1), 0); });
    run.window.CloseAt(Ms(3000));
    std::vector<Delivery> seen = RunWatched(run);

    EXPECT_EQ(run.clock.Now(), Ms(3000));
    EXPECT_EQ(run.audio.captureOpens, 2);
    EXPECT_EQ(run.Count("waveInClose", MMSYSERR_NOERROR), 2);
    std::set<std::string> rows;
    for (const Delivery &d : seen) {
        std::string row;
        INT_PTR expected = TRUE;
        switch (d.message) {
        case WM_COMMAND:
            row = LOWORD(d.wParam) == IDC_RECORD ? "Record"
                  : LOWORD(d.wParam) == IDC_STOP ? "Stop"
                                                 : "other command";
            expected = row != "other command";
            break;
        case WM_SYSCOMMAND:
            row = d.wParam == SC_CLOSE ? "close" : "other system command";
            expected = d.wParam == SC_CLOSE;
            break;
        case WM_INITDIALOG:
        case MM_WOM_OPEN:
        case MM_WOM_CLOSE:
        case MM_WOM_DONE:
        case MM_WIM_OPEN:
        case MM_WIM_CLOSE:
        case MM_WIM_DATA:
            row = std::to_string(d.message);
            break;
        default:
            row = "other message";
            expected = FALSE;
        }
        rows.insert(row);
        EXPECT_EQ(d.answer, expected) << row << " " << d.wParam;
    }
    EXPECT_EQ(rows.size(), 13u);
}

// Record is handled even when it fails for want of memory or a device.
TEST(Dispatch, RecordThatFailsStillAnswersTrue)
{
    for (int failure = 0; failure < 3; failure++) {
        SCOPED_TRACE(failure);
        ProgramRun run;
        if (failure == 0)
            alloc::FailNth(BLOCK_BYTES, 1);
        else if (failure == 1)
            run.audio.captureOpenResult = MMSYSERR_BADDEVICEID;
        else
            run.audio.playbackOpenResult = MMSYSERR_ALLOCATED;
        run.window.ClickAt(Ms(100), IDC_RECORD);
        if (failure == 0)
            run.window.CloseAt(Ms(1000));  // the device failures end the program themselves
        int records = 0;
        for (const Delivery &d : RunWatched(run))
            if (d.message == WM_COMMAND && LOWORD(d.wParam) == IDC_RECORD) {
                records++;
                EXPECT_EQ(d.answer, TRUE);
            }
        EXPECT_EQ(records, 1);
    }
}

TEST(Dispatch, SystemCommandsOtherThanCloseReachTheWindowSystem)
{
    ProgramRun run;
    const unsigned commands[] = {SC_MOVE, SC_SIZE | WMSZ_BOTTOMRIGHT, SC_KEYMENU};
    run.At(Ms(100), [&] {
        for (unsigned c : commands)
            SendMessageA(dialogWindow, WM_SYSCOMMAND, c, 0);
        PostMessageA(dialogWindow, WM_SYSCOMMAND, SC_MOVE, 0);
    });
    run.window.CloseAt(Ms(500));
    RunWatched(run);
    std::vector<unsigned> expected(std::begin(commands), std::end(commands));
    expected.push_back(SC_MOVE);
    EXPECT_EQ(run.window.systemCommands, expected);
    EXPECT_EQ(run.clock.Now(), Ms(500));  // none of them closed the dialog
}

}  // namespace
