// Asks the wave devices a fixed series of questions and prints what they
// answer, so that runs on Windows (or Wine) and on the Linux layer can be
// compared line by line. Uses only what Larkspan itself uses: the "Record"
// dialog as the notification window, posted messages to move on, and the
// wave functions. There is no timer: each step waits for the notifications
// its calls must bring, and playback is the clock where one is needed.
//
// Output is normalised so that it does not depend on timing or addresses:
// handles print as "in"/"out", headers by name, and dwBytesRecorded as
// "0" (nothing recorded), "full" (the whole buffer) or "partial" (anything
// between).
//
// Queueing a block that is already queued is left out: the documentation
// does not say what it answers, and Wine accepts it and loses the block
// queued behind it.
#include <stdio.h>
#include <string.h>

#include <windows.h>
#include <mmsystem.h>

namespace {

const UINT kNext = WM_APP + 1;
const DWORD kBlock = 2048;
// Long enough that the short playback block below ends well inside it.
const DWORD kLongBlock = 8192;
const DWORD kShortBlock = 1024;

struct Block {
    const char *name;
    DWORD length;
    WAVEHDR header;
    char data[kLongBlock];
};

Block in1 = {"in1", kBlock, {}, {}};
Block in2 = {"in2", kBlock, {}, {}};
Block inLong = {"in-long", kLongBlock, {}, {}};
Block out1 = {"out1", kBlock, {}, {}};
Block out2 = {"out2", kBlock, {}, {}};
Block outShort = {"out-short", kShortBlock, {}, {}};
Block *const kInBlocks[] = {&in1, &in2, &inLong};
Block *const kOutBlocks[] = {&out1, &out2, &outShort};

HWND dialog;
HWAVEIN hIn;
HWAVEOUT hOut;
WAVEFORMATEX format;
int step;
int awaited;  // notifications the current step still waits for

void Line(const char *text)
{
    fputs(text, stdout);
    fputc('\n', stdout);
    fflush(stdout);
}

const char *ResultName(MMRESULT r)
{
    switch (r) {
    case MMSYSERR_NOERROR:
        return "MMSYSERR_NOERROR";
    case MMSYSERR_ERROR:
        return "MMSYSERR_ERROR";
    case MMSYSERR_BADDEVICEID:
        return "MMSYSERR_BADDEVICEID";
    case MMSYSERR_ALLOCATED:
        return "MMSYSERR_ALLOCATED";
    case MMSYSERR_INVALHANDLE:
        return "MMSYSERR_INVALHANDLE";
    case MMSYSERR_NODRIVER:
        return "MMSYSERR_NODRIVER";
    case MMSYSERR_NOMEM:
        return "MMSYSERR_NOMEM";
    case MMSYSERR_NOTSUPPORTED:
        return "MMSYSERR_NOTSUPPORTED";
    case MMSYSERR_INVALFLAG:
        return "MMSYSERR_INVALFLAG";
    case MMSYSERR_INVALPARAM:
        return "MMSYSERR_INVALPARAM";
    case WAVERR_BADFORMAT:
        return "WAVERR_BADFORMAT";
    case WAVERR_STILLPLAYING:
        return "WAVERR_STILLPLAYING";
    case WAVERR_UNPREPARED:
        return "WAVERR_UNPREPARED";
    }
    return "?";
}

MMRESULT Result(const char *call, MMRESULT r)
{
    printf("  %s = %u %s\n", call, r, ResultName(r));
    fflush(stdout);
    return r;
}

const char *Flags(DWORD flags)
{
    static char text[64];
    text[0] = '\0';
    if (flags & WHDR_PREPARED)
        strcat(text, "|PREPARED");
    if (flags & WHDR_INQUEUE)
        strcat(text, "|INQUEUE");
    if (flags & WHDR_DONE)
        strcat(text, "|DONE");
    DWORD other = flags & ~(DWORD)(WHDR_PREPARED | WHDR_INQUEUE | WHDR_DONE);
    if (other)
        sprintf(text + strlen(text), "|0x%lx", (unsigned long)other);
    return text[0] ? text + 1 : "-";
}

// Sizes are normalised; timing decides the exact count of a partial block.
const char *Recorded(const WAVEHDR *h)
{
    if (h->dwBytesRecorded == 0)
        return "0";
    if (h->dwBytesRecorded == h->dwBufferLength)
        return "full";
    return h->dwBytesRecorded < h->dwBufferLength ? "partial" : "more than the buffer";
}

void PrintFlags(Block *const *blocks)
{
    printf("  flags");
    for (int i = 0; i < 3; i++)
        printf(" %s=%s", blocks[i]->name, Flags(blocks[i]->header.dwFlags));
    printf("\n");
    fflush(stdout);
}

const char *HeaderName(LPARAM lParam)
{
    if (lParam == 0)
        return "0";
    for (Block *b : kInBlocks)
        if ((LPARAM)&b->header == lParam)
            return b->name;
    for (Block *b : kOutBlocks)
        if ((LPARAM)&b->header == lParam)
            return b->name;
    return "unknown";
}

const char *DeviceName(WPARAM wParam)
{
    if (wParam != 0 && wParam == (WPARAM)hIn)
        return "in";
    if (wParam != 0 && wParam == (WPARAM)hOut)
        return "out";
    return "unknown";
}

void Notification(UINT message, WPARAM wParam, LPARAM lParam)
{
    static const char *const kNames[] = {"MM_WOM_OPEN", "MM_WOM_CLOSE", "MM_WOM_DONE",
                                         "MM_WIM_OPEN", "MM_WIM_CLOSE", "MM_WIM_DATA"};
    printf("  notice %s %s %s", kNames[message - MM_WOM_OPEN], DeviceName(wParam), HeaderName(lParam));
    const WAVEHDR *h = (const WAVEHDR *)lParam;
    if (h)
        printf(" flags=%s", Flags(h->dwFlags));
    if (h && message == MM_WIM_DATA)
        printf(" recorded=%s", Recorded(h));
    printf("\n");
    fflush(stdout);
}

const UINT kSize = sizeof(WAVEHDR);

MMRESULT InPrepare(Block &b)
{
    return waveInPrepareHeader(hIn, &b.header, kSize);
}
MMRESULT InUnprepare(Block &b)
{
    return waveInUnprepareHeader(hIn, &b.header, kSize);
}
MMRESULT InAdd(Block &b)
{
    return waveInAddBuffer(hIn, &b.header, kSize);
}
MMRESULT OutPrepare(Block &b)
{
    return waveOutPrepareHeader(hOut, &b.header, kSize);
}
MMRESULT OutUnprepare(Block &b)
{
    return waveOutUnprepareHeader(hOut, &b.header, kSize);
}
MMRESULT OutWrite(Block &b)
{
    return waveOutWrite(hOut, &b.header, kSize);
}

bool Ok(MMRESULT r)
{
    return r == MMSYSERR_NOERROR;
}

MMRESULT OpenIn()
{
    return Result("waveInOpen",
                  waveInOpen(&hIn, WAVE_MAPPER, &format, (DWORD_PTR)dialog, 0, CALLBACK_WINDOW));
}

MMRESULT OpenOut()
{
    return Result("waveOutOpen",
                  waveOutOpen(&hOut, WAVE_MAPPER, &format, (DWORD_PTR)dialog, 0, CALLBACK_WINDOW));
}

// Each step makes its calls and answers how many notifications they must
// bring: one per block handed back and per open or close, only for calls
// that succeeded, so a device that answers differently cannot stall the run.
// Answers -1 when the run is over.
int Step(int n)
{
    switch (n) {
    case 0: {
        Line("step 0: format queries");
        Result("waveInOpen query", waveInOpen(NULL, WAVE_MAPPER, &format, 0, 0, WAVE_FORMAT_QUERY));
        Result("waveOutOpen query", waveOutOpen(NULL, WAVE_MAPPER, &format, 0, 0, WAVE_FORMAT_QUERY));
        WAVEFORMATEX odd = format;
        odd.wBitsPerSample = 12;
        Result("waveInOpen query 12-bit", waveInOpen(NULL, WAVE_MAPPER, &odd, 0, 0, WAVE_FORMAT_QUERY));
        Result("waveOutOpen query 12-bit", waveOutOpen(NULL, WAVE_MAPPER, &odd, 0, 0, WAVE_FORMAT_QUERY));
        odd = format;
        odd.wFormatTag = 0x7777;
        Result("waveInOpen query unknown tag", waveInOpen(NULL, WAVE_MAPPER, &odd, 0, 0, WAVE_FORMAT_QUERY));
        Result("waveOutOpen query unknown tag",
               waveOutOpen(NULL, WAVE_MAPPER, &odd, 0, 0, WAVE_FORMAT_QUERY));
        return 0;
    }
    case 1:
        Line("step 1: open capture");
        return Ok(OpenIn()) ? 1 : 0;
    case 2:
        Line("step 2: open playback");
        return Ok(OpenOut()) ? 1 : 0;
    case 3:
        Line("step 3: capture: queue a block that is not prepared");
        Result("waveInAddBuffer in1", InAdd(in1));
        PrintFlags(kInBlocks);
        return 0;
    case 4:
        Line("step 4: capture: prepare");
        Result("waveInPrepareHeader in1", InPrepare(in1));
        Result("waveInPrepareHeader in2", InPrepare(in2));
        Result("waveInPrepareHeader in-long", InPrepare(inLong));
        Result("waveInPrepareHeader in1 again", InPrepare(in1));
        PrintFlags(kInBlocks);
        return 0;
    case 5:
        Line("step 5: capture: queue two blocks, not started");
        Result("waveInAddBuffer in1", InAdd(in1));
        Result("waveInAddBuffer in2", InAdd(in2));
        Result("waveInUnprepareHeader in1 while queued", InUnprepare(in1));
        PrintFlags(kInBlocks);
        return 0;
    case 6:
        Line("step 6: capture: reset before start hands both blocks back");
        return Ok(Result("waveInReset", waveInReset(hIn))) ? 2 : 0;
    case 7: {
        PrintFlags(kInBlocks);
        Line("step 7: capture: queue two blocks and start; both come back full");
        int queued = Ok(Result("waveInAddBuffer in1", InAdd(in1)));
        queued += Ok(Result("waveInAddBuffer in2", InAdd(in2)));
        PrintFlags(kInBlocks);
        return Ok(Result("waveInStart", waveInStart(hIn))) ? queued : 0;
    }
    case 8:
        PrintFlags(kInBlocks);
        Line("step 8: capture: start and reset with nothing queued");
        Result("waveInStart", waveInStart(hIn));
        Result("waveInReset", waveInReset(hIn));
        return 0;
    case 9:
        // Playback of the short block is the clock: when it is done, the
        // long capture block has recorded some but not all of its length.
        Line("step 9: capture: start with a long block; play a short one meanwhile");
        Result("waveInAddBuffer in-long", InAdd(inLong));
        Result("waveInStart", waveInStart(hIn));
        Result("waveOutPrepareHeader out-short", OutPrepare(outShort));
        return Ok(Result("waveOutWrite out-short", OutWrite(outShort))) ? 1 : 0;
    case 10:
        Line("step 10: capture: reset part-way through the long block");
        PrintFlags(kInBlocks);
        return Ok(Result("waveInReset", waveInReset(hIn))) ? 1 : 0;
    case 11:
        // in1 stays prepared, to be offered to the closed handle below.
        Line("step 11: capture: unprepare all but in1");
        Result("waveInUnprepareHeader in2", InUnprepare(in2));
        Result("waveInUnprepareHeader in-long", InUnprepare(inLong));
        Result("waveInUnprepareHeader in2 again", InUnprepare(in2));
        PrintFlags(kInBlocks);
        return 0;
    case 12:
        Line("step 12: capture: close");
        return Ok(Result("waveInClose", waveInClose(hIn))) ? 1 : 0;
    case 13:
        // Each call is otherwise valid, so only the handle can be wrong;
        // except the two the documentation says answer zero in any case.
        Line("step 13: capture: calls on the closed handle");
        Result("waveInPrepareHeader in2", InPrepare(in2));
        Result("waveInAddBuffer in1", InAdd(in1));
        Result("waveInStart", waveInStart(hIn));
        Result("waveInReset", waveInReset(hIn));
        Result("waveInUnprepareHeader in1", InUnprepare(in1));
        Result("waveInClose", waveInClose(hIn));
        Result("waveInPrepareHeader in1, prepared", InPrepare(in1));
        Result("waveInUnprepareHeader in2, not prepared", InUnprepare(in2));
        PrintFlags(kInBlocks);
        return 0;
    case 14:
        Line("step 14: playback: write a block that is not prepared");
        Result("waveOutWrite out1", OutWrite(out1));
        PrintFlags(kOutBlocks);
        return 0;
    case 15:
        Line("step 15: playback: prepare");
        Result("waveOutPrepareHeader out1", OutPrepare(out1));
        Result("waveOutPrepareHeader out2", OutPrepare(out2));
        Result("waveOutPrepareHeader out-short again", OutPrepare(outShort));
        PrintFlags(kOutBlocks);
        return 0;
    case 16: {
        Line("step 16: playback: play two blocks; both come back done");
        int queued = Ok(Result("waveOutWrite out1", OutWrite(out1)));
        queued += Ok(Result("waveOutWrite out2", OutWrite(out2)));
        Result("waveOutUnprepareHeader out1 while queued", OutUnprepare(out1));
        PrintFlags(kOutBlocks);
        return queued;
    }
    case 17:
        PrintFlags(kOutBlocks);
        Line("step 17: playback: reset with nothing queued");
        Result("waveOutReset", waveOutReset(hOut));
        return 0;
    case 18: {
        Line("step 18: playback: reset hands two queued blocks back");
        int queued = Ok(Result("waveOutWrite out1", OutWrite(out1)));
        queued += Ok(Result("waveOutWrite out2", OutWrite(out2)));
        return Ok(Result("waveOutReset", waveOutReset(hOut))) ? queued : 0;
    }
    case 19:
        Line("step 19: playback: unprepare all but out1");
        Result("waveOutUnprepareHeader out2", OutUnprepare(out2));
        Result("waveOutUnprepareHeader out-short", OutUnprepare(outShort));
        Result("waveOutUnprepareHeader out2 again", OutUnprepare(out2));
        PrintFlags(kOutBlocks);
        return 0;
    case 20:
        Line("step 20: playback: close");
        return Ok(Result("waveOutClose", waveOutClose(hOut))) ? 1 : 0;
    case 21:
        Line("step 21: playback: calls on the closed handle");
        Result("waveOutPrepareHeader out2", OutPrepare(out2));
        Result("waveOutWrite out1", OutWrite(out1));
        Result("waveOutReset", waveOutReset(hOut));
        Result("waveOutUnprepareHeader out1", OutUnprepare(out1));
        Result("waveOutClose", waveOutClose(hOut));
        Result("waveOutPrepareHeader out1, prepared", OutPrepare(out1));
        Result("waveOutUnprepareHeader out2, not prepared", OutUnprepare(out2));
        PrintFlags(kOutBlocks);
        return 0;
    case 22:
        Line("step 22: capture: open again");
        return Ok(OpenIn()) ? 1 : 0;
    case 23:
        Line("step 23: capture: close with a block queued");
        Result("waveInPrepareHeader in2", InPrepare(in2));
        Result("waveInAddBuffer in2", InAdd(in2));
        return Ok(Result("waveInClose", waveInClose(hIn))) ? 1 : 0;
    case 24:
        PrintFlags(kInBlocks);
        Line("step 24: capture: reset");
        return Ok(Result("waveInReset", waveInReset(hIn))) ? 1 : 0;
    case 25:
        Line("step 25: capture: unprepare and close");
        Result("waveInUnprepareHeader in2", InUnprepare(in2));
        PrintFlags(kInBlocks);
        return Ok(Result("waveInClose", waveInClose(hIn))) ? 1 : 0;
    case 26:
        Line("step 26: playback: open again");
        return Ok(OpenOut()) ? 1 : 0;
    case 27:
        Line("step 27: playback: close with a block queued");
        Result("waveOutPrepareHeader out2", OutPrepare(out2));
        Result("waveOutWrite out2", OutWrite(out2));
        return Ok(Result("waveOutClose", waveOutClose(hOut))) ? 1 : 0;
    case 28:
        PrintFlags(kOutBlocks);
        Line("step 28: playback: reset");
        return Ok(Result("waveOutReset", waveOutReset(hOut))) ? 1 : 0;
    case 29:
        Line("step 29: playback: unprepare and close");
        Result("waveOutUnprepareHeader out2", OutUnprepare(out2));
        PrintFlags(kOutBlocks);
        return Ok(Result("waveOutClose", waveOutClose(hOut))) ? 1 : 0;
    }
    Line("end");
    return -1;
}

void Next()
{
    int wanted = Step(step++);
    if (wanted < 0) {
        EndDialog(dialog, 0);
        return;
    }
    awaited = wanted;
    if (awaited == 0)
        PostMessageA(dialog, kNext, 0, 0);
}

INT_PTR CALLBACK Proc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        dialog = hDlg;
        PostMessageA(hDlg, kNext, 0, 0);
        return TRUE;
    case kNext:
        Next();
        return TRUE;
    case MM_WOM_OPEN:
    case MM_WOM_CLOSE:
    case MM_WOM_DONE:
    case MM_WIM_OPEN:
    case MM_WIM_CLOSE:
    case MM_WIM_DATA:
        Notification(message, wParam, lParam);
        // Extra notifications are printed but move nothing on.
        if (awaited > 0 && --awaited == 0)
            PostMessageA(hDlg, kNext, 0, 0);
        return TRUE;
    case WM_SYSCOMMAND:
        if (LOWORD(wParam) == SC_CLOSE)
            EndDialog(hDlg, 1);
        return TRUE;
    }
    return FALSE;
}

}  // namespace

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int)
{
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 1;
    format.nSamplesPerSec = 11025;
    format.nAvgBytesPerSec = 11025;
    format.nBlockAlign = 1;
    format.wBitsPerSample = 8;
    format.cbSize = 0;
    for (Block *b : kInBlocks) {
        b->header.lpData = b->data;
        b->header.dwBufferLength = b->length;
    }
    // Playback plays silence.
    for (Block *b : kOutBlocks) {
        memset(b->data, 0x80, b->length);
        b->header.lpData = b->data;
        b->header.dwBufferLength = b->length;
    }
    INT_PTR ended = DialogBoxParamA(hInstance, "Record", NULL, Proc, 0);
    return ended == 0 ? 0 : 1;
}
