// The dialog's message loop and keyboard, with the real dialog procedure
// and with a probe procedure.
#include <gtest/gtest.h>

#include "../app/dialog.h"
#include "../port/user/message_queue.h"
#include "support/program_run.h"

namespace {

TEST(Keyboard, EscapeAndOtherCommandsChangeNothing)
{
    ProgramRun run;
    run.window.KeyAt(Ms(100), VK_ESCAPE);
    run.window.ClickAt(Ms(200), IDC_RECORD);
    run.window.KeyAt(Ms(1000), VK_ESCAPE);
    run.At(Ms(1100), [&] {
        EXPECT_FALSE(run.window.destroyed);
        EXPECT_FALSE(run.window.enabled[IDC_RECORD]);
        EXPECT_TRUE(run.window.enabled[IDC_STOP]);
        EXPECT_EQ(run.audio.streamsOpen, 2);
        // Commands the dialog has no button for are not its business.
        EXPECT_FALSE(RecordDialogProc(nullptr, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0));
    });
    run.window.CloseAt(Ms(2000));
    EXPECT_EQ(run.Run(), 0);
    EXPECT_EQ(run.clock.Now(), Ms(2000));
    EXPECT_EQ(run.audio.underruns, 0);  // the recording ran on through the Escapes
}

TEST(Keyboard, TabSpaceAndEnterPressTheFocusedButton)
{
    ProgramRun run;
    run.At(Ms(50), [&] { EXPECT_EQ(run.window.focus, IDC_RECORD); });
    run.window.KeyAt(Ms(100), VK_RETURN);  // Record has the focus after start-up
    run.At(Ms(150), [&] {
        EXPECT_EQ(run.audio.captureOpens, 1);
        // Record was disabled under the focus, which passed on to Stop,
        // enabled by the same click.
        EXPECT_EQ(run.window.focus, IDC_STOP);
    });
    run.window.KeyAt(Ms(200), VK_TAB);  // Record is disabled: the focus stays
    run.At(Ms(250), [&] { EXPECT_EQ(run.window.focus, IDC_STOP); });
    run.window.KeyAt(Ms(1000), VK_SPACE);
    run.At(Ms(1500), [&] {
        EXPECT_EQ(run.Count("waveInClose", MMSYSERR_NOERROR), 1);
        EXPECT_TRUE(run.window.enabled[IDC_RECORD]);
        EXPECT_EQ(run.window.focus, IDC_RECORD);  // and back, past the end
    });
    run.window.KeyAt(Ms(1600), VK_RETURN);
    run.At(Ms(1700), [&] { EXPECT_EQ(run.audio.captureOpens, 2); });
    run.window.KeyAt(Ms(1800), VK_TAB, port::kShift);
    run.window.KeyAt(Ms(1900), VK_SPACE);
    run.At(Ms(2000), [&] { EXPECT_EQ(run.Count("waveInClose", MMSYSERR_NOERROR), 2); });
    run.window.KeyAt(Ms(3000), VK_F4, port::kAlt);
    EXPECT_EQ(run.Run(), 0);
    EXPECT_EQ(run.clock.Now(), Ms(3000));
}

TEST(Keyboard, ADoubleClickOnRecordStartsOneRecording)
{
    ProgramRun run;
    run.At(Ms(100), [&] {
        run.window.ClickNow(IDC_RECORD);
        run.window.ClickNow(IDC_RECORD);  // queued before the first is handled
    });
    run.window.CloseAt(Ms(1000));
    EXPECT_EQ(run.Run(), 0);
    EXPECT_EQ(run.audio.captureOpens, 1);
}

// A probe procedure: records what reaches it and acts on a script.
struct Probe {
    std::vector<UINT> received;
    std::function<void(HWND, UINT)> onMessage;
};
Probe *probe;

INT_PTR CALLBACK ProbeProc(HWND hDlg, UINT message, WPARAM, LPARAM)
{
    probe->received.push_back(message);
    if (probe->onMessage)
        probe->onMessage(hDlg, message);
    return TRUE;
}

TEST(MessageLoop, PostedMessagesComeInOrderBeforeInputAndNotAfterEndDialog)
{
    ProgramRun run;
    Probe p;
    probe = &p;
    p.onMessage = [&](HWND hDlg, UINT message) {
        if (message == WM_INITDIALOG) {
            run.At(Ms(10), [&run, hDlg] {
                run.window.ClickNow(IDC_RECORD);
                PostMessageA(hDlg, WM_APP, 0, 0);
                PostMessageA(hDlg, WM_APP + 1, 0, 0);
            });
        }
        if (message == WM_COMMAND) {
            PostMessageA(hDlg, WM_APP + 2, 0, 0);
            EndDialog(hDlg, 7);
            PostMessageA(hDlg, WM_APP + 3, 0, 0);
        }
    };
    HWND dialog = nullptr;
    p.onMessage = [&, script = p.onMessage](HWND hDlg, UINT message) {
        dialog = hDlg;
        script(hDlg, message);
    };
    EXPECT_EQ(DialogBoxParamA((HINSTANCE)1, "RECORD", nullptr, ProbeProc, 0), 7);
    std::vector<UINT> expected = {WM_INITDIALOG, WM_APP, WM_APP + 1, WM_COMMAND};
    EXPECT_EQ(p.received, expected);
    // The window is gone: posting to it fails, sending reaches nobody.
    EXPECT_FALSE(PostMessageA(dialog, WM_APP, 0, 0));
    EXPECT_EQ(SendMessageA(dialog, WM_APP, 0, 0), 0);
    EXPECT_EQ(p.received.size(), expected.size());
}

TEST(MessageLoop, MessageBoxKeepsDeliveringPostedMessagesButNotInput)
{
    ProgramRun run;
    Probe p;
    probe = &p;
    run.window.messageBoxDelay = Ms(500);
    p.onMessage = [&](HWND hDlg, UINT message) {
        if (message == WM_INITDIALOG) {
            run.At(Ms(10), [&run, hDlg] { PostMessageA(hDlg, WM_APP, 0, 0); });
            run.At(Ms(100), [&run, hDlg] { PostMessageA(hDlg, WM_APP + 1, 0, 0); });
            run.window.ClickAt(Ms(200), IDC_RECORD);  // lost: the box is open
            run.window.CloseAt(Ms(1000));
        }
        if (message == WM_APP) {
            MessageBoxA(hDlg, "text", "title", MB_ICONEXCLAMATION);
            EXPECT_EQ(run.clock.Now(), Ms(510));
        }
        if (message == WM_SYSCOMMAND)
            EndDialog(hDlg, 0);
    };
    DialogBoxParamA((HINSTANCE)1, "Record", nullptr, ProbeProc, 0);
    std::vector<UINT> expected = {WM_INITDIALOG, WM_APP, WM_APP + 1, WM_SYSCOMMAND};
    EXPECT_EQ(p.received, expected);
}

TEST(MessageLoop, UnknownTemplateOrSecondDialogFails)
{
    ProgramRun run;
    EXPECT_EQ(DialogBoxParamA((HINSTANCE)1, "Nothing", nullptr, ProbeProc, 0), -1);
    EXPECT_FALSE(run.window.created);

    // While one dialog runs, a second one is refused and the first goes on.
    Probe p;
    probe = &p;
    INT_PTR second = 0;
    int windowsMade = 0;
    p.onMessage = [&](HWND hDlg, UINT message) {
        if (message != WM_INITDIALOG)
            return;
        if (++windowsMade > 1) {
            EndDialog(hDlg, 5);  // a second one that did open: let it go at once
            return;
        }
        run.At(Ms(10), [&run, &second, hDlg] {
            second = DialogBoxParamA((HINSTANCE)1, "Record", nullptr, ProbeProc, 0);
            PostMessageA(hDlg, WM_APP, 0, 0);
        });
        run.At(Ms(20), [hDlg] { EndDialog(hDlg, 3); });
    };
    EXPECT_EQ(DialogBoxParamA((HINSTANCE)1, "Record", nullptr, ProbeProc, 0), 3);
    EXPECT_EQ(second, -1);
    EXPECT_EQ(windowsMade, 1);
    EXPECT_EQ(p.received, (std::vector<UINT>{WM_INITDIALOG, WM_APP}));
}

}  // namespace
