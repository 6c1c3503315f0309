// The checks of invariants.h.
//
// A header is "held" from a successful waveInAddBuffer or waveOutWrite
// until its notification reaches the dialog procedure; until the device
// hands it back (WHDR_DONE, or a reset) neither it nor its block may be
// touched by the program. Capture blocks change only inside the device's
// calls into the layer, so their expected contents are taken afresh after
// each one; anything else that changes them is the program.
#include "invariants.h"

#include <string.h>

#include "../../app/dialog.h"
#include "../../port/user/message_queue.h"
#include "alloc_tracker.h"

namespace {

InvariantChecker *current;

const char kNoDevice[] = "I can't open wave device. Maybe Your SB does not support dual mode.";

std::string MessageName(UINT message, WPARAM wParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return "WM_INITDIALOG";
    case WM_COMMAND:
        return "WM_COMMAND " + std::to_string(LOWORD(wParam));
    case WM_SYSCOMMAND:
        return "WM_SYSCOMMAND";
    case MM_WIM_OPEN:
        return "MM_WIM_OPEN";
    case MM_WIM_DATA:
        return "MM_WIM_DATA";
    case MM_WIM_CLOSE:
        return "MM_WIM_CLOSE";
    case MM_WOM_OPEN:
        return "MM_WOM_OPEN";
    case MM_WOM_DONE:
        return "MM_WOM_DONE";
    case MM_WOM_CLOSE:
        return "MM_WOM_CLOSE";
    }
    return "message " + std::to_string(message);
}

bool StartsWith(const char *text, const char *prefix)
{
    return strncmp(text, prefix, strlen(prefix)) == 0;
}

int NonNull(std::initializer_list<const void *> pointers)
{
    int n = 0;
    for (const void *p : pointers)
        n += p != nullptr;
    return n;
}

}  // namespace

InvariantChecker::InvariantChecker(ProgramRun &run, DLGPROC proc)
    : run_(run), proc_(proc ? proc : RecordDialogProc)
{
    current = this;
    baseBlocks_ = alloc::Live(BLOCK_BYTES);
    baseHeaders_ = alloc::Live(HEADER_BYTES);
    WatchWaveCalls([this](const WaveCall &call) { OnWaveCall(call); });
    run_.audio.beforeCallback = [this] { BeforeDevice(); };
    run_.audio.afterCallback = [this] { AfterDevice(); };
}

InvariantChecker::~InvariantChecker()
{
    WatchWaveCalls(nullptr);
    run_.audio.beforeCallback = nullptr;
    run_.audio.afterCallback = nullptr;
    current = nullptr;
}

INT_PTR InvariantChecker::RunDialog()
{
    INT_PTR result = DialogBoxParamA((HINSTANCE)1, "Record", nullptr, Proc, 0);
    CheckEnd(result);
    return result;
}

void InvariantChecker::Fail(const std::string &what)
{
    if (failures.size() < 20)
        failures.push_back("at tick " + std::to_string(run_.clock.Now()) + ": " + what);
}

void InvariantChecker::Abort(const std::string &why)
{
    Fail(why);
    if (aborted)
        return;
    aborted = true;
    if (hwnd_)
        EndDialog(hwnd_, -1);
}

INT_PTR CALLBACK InvariantChecker::Proc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam)
{
    InvariantChecker &c = *current;
    c.hwnd_ = hDlg;
    c.Before(message, wParam, lParam);
    c.depth_++;
    INT_PTR handled = c.proc_(hDlg, message, wParam, lParam);
    c.depth_--;
    c.After(message, wParam);
    return handled;
}

bool InvariantChecker::OwnHeader(const WAVEHDR *h) const
{
    return h && (h == loop.captureHeader1 || h == loop.captureHeader2 || h == loop.playHeader1 ||
                 h == loop.playHeader2);
}

bool InvariantChecker::OwnBlock(const void *b, bool capture) const
{
    if (!b)
        return false;
    return capture ? b == loop.captureBlock1 || b == loop.captureBlock2
                   : b == loop.playBlock1 || b == loop.playBlock2;
}

int InvariantChecker::HeldByDevice() const
{
    int n = 0;
    for (const auto &entry : held_)
        n += !entry.second.returned;
    return n;
}

void InvariantChecker::Before(UINT message, WPARAM wParam, LPARAM lParam)
{
    std::string name = MessageName(message, wParam);
    delivered_++;
    if (closed_)
        Fail(name + " delivered after the close request was carried out");
    if (!aborted && (delivered_ > messageLimit || (deadline > 0 && run_.clock.Now() > deadline)))
        Abort("still running at the deadline");
    VerifyHeld(("before " + name).c_str());

    if (message == MM_WIM_DATA || message == MM_WOM_DONE) {
        bool capture = message == MM_WIM_DATA;
        const WAVEHDR *h = (const WAVEHDR *)lParam;
        auto it = held_.find(h);
        if (it == held_.end() || it->second.handle != (uintptr_t)wParam || it->second.capture != capture) {
            Fail(name + " for a header its device was not given");
        } else {
            if (!it->second.returned)
                Fail(name + " for a header its device still holds");
            held_.erase(it);
        }
        // The handler is about to read and write this block.
        if (!OwnHeader(h) || !OwnBlock(h->lpData, capture))
            Fail(name + " hands the program a header or block it has already let go");
        (capture ? blocksCaptured : blocksPlayed)++;
    }
    if (message == WM_SYSCOMMAND && LOWORD(wParam) == SC_CLOSE) {
        // At the top level it is the user's close box or Alt+F4; from
        // inside a handler only the device failure report may close.
        if (depth_ == 0) {
            userCloses++;
        } else if (!run_.window.messageBoxes.empty() && run_.window.messageBoxes.back().text == kNoDevice) {
            failureCloses++;
        } else {
            Fail("the program asked itself to close without reporting a device failure");
        }
    }
}

void InvariantChecker::After(UINT message, WPARAM wParam)
{
    std::string name = "after " + MessageName(message, wParam);
    if (message == WM_SYSCOMMAND && LOWORD(wParam) == SC_CLOSE && loop.closeRequested)
        closed_ = true;
    if (closed_) {
        if (HeldByDevice() > 0)
            Fail(name + ": the close left headers queued on a device");
        CheckAllocations(name.c_str());
        return;
    }
    VerifyHeld(name.c_str());
    CheckAllocations(name.c_str());
    if ((int)open_.size() != run_.audio.streamsOpen)
        Fail(name + ": " + std::to_string(open_.size()) + " devices open but " +
             std::to_string(run_.audio.streamsOpen) + " streams");
    if (depth_ == 0 && open_.empty() && !port::Queue().HasPosted())
        CheckIdle(name.c_str());
}

void InvariantChecker::BeforeDevice()
{
    if (!aborted && deadline > 0 && run_.clock.Now() > deadline)
        Abort("devices still running at the deadline");
    if (depth_ > 0)
        instantDeviceEvents++;
    VerifyHeld("before a device call");
}

void InvariantChecker::AfterDevice()
{
    for (auto &entry : held_) {
        Held &held = entry.second;
        if (held.returned)
            continue;
        const WAVEHDR *h = entry.first;
        if ((h->dwFlags & WHDR_DONE) && !(h->dwFlags & WHDR_INQUEUE)) {
            held.returned = true;
        } else if (held.capture) {
            memcpy(held.block.data(), held.queued.lpData, held.block.size());
        }
    }
}

void InvariantChecker::VerifyHeld(const char *when)
{
    std::set<const void *> blocks;
    for (auto it = held_.begin(); it != held_.end();) {
        Held &held = it->second;
        const WAVEHDR *h = it->first;
        if (held.returned) {
            ++it;
            continue;
        }
        std::string where = std::string(when) + (held.capture ? ": capture" : ": playback");
        // Nothing below may be read once the program has let go of it.
        if (!OwnHeader(h) || !OwnBlock(held.queued.lpData, held.capture)) {
            Fail(where + " header or block released while its device holds it");
            it = held_.erase(it);
            continue;
        }
        if (held.queued.lpData == (LPSTR)loop.latestBlock || !blocks.insert(held.queued.lpData).second)
            Fail(where + " block queued is also in use elsewhere");
        if (h->lpData != held.queued.lpData || h->dwBufferLength != held.queued.dwBufferLength ||
            h->dwUser != held.queued.dwUser || h->dwLoops != held.queued.dwLoops ||
            h->lpNext != held.queued.lpNext)
            Fail(where + " header rewritten while its device holds it");
        if ((h->dwFlags & (WHDR_PREPARED | WHDR_INQUEUE)) != (WHDR_PREPARED | WHDR_INQUEUE))
            Fail(where + " header flags changed while its device holds it");
        if (memcmp(held.block.data(), held.queued.lpData, held.block.size()) != 0) {
            Fail(where + " block written while its device holds it");
            memcpy(held.block.data(), held.queued.lpData, held.block.size());
        }
        ++it;
    }
}

void InvariantChecker::CheckAllocations(const char *when)
{
    std::string where = when;
    if (alloc::DoubleFrees() > 0)
        Fail(where + ": a block or header was released twice");
    int blocks = alloc::Live(BLOCK_BYTES) - baseBlocks_;
    int heldBlocks =
        NonNull({loop.captureBlock1, loop.captureBlock2, loop.playBlock1, loop.playBlock2, loop.latestBlock});
    if (blocks != heldBlocks)
        Fail(where + ": " + std::to_string(blocks) + " blocks allocated, the program holds " +
             std::to_string(heldBlocks));
    int headers = alloc::Live(HEADER_BYTES) - baseHeaders_;
    int heldHeaders = NonNull({loop.captureHeader1, loop.captureHeader2, loop.playHeader1, loop.playHeader2});
    if (headers != heldHeaders)
        Fail(where + ": " + std::to_string(headers) + " headers allocated, the program holds " +
             std::to_string(heldHeaders));
}

void InvariantChecker::CheckIdle(const char *when)
{
    std::string where = std::string(when) + ", at idle";
    if (!open_.empty() || run_.audio.streamsOpen != 0)
        Fail(where + ": a device is still open");
    if (!held_.empty())
        Fail(where + ": a notification never arrived");
    if (loop.captureBlock1 || loop.captureBlock2 || loop.playBlock1 || loop.playBlock2)
        Fail(where + ": capture or playback blocks still held");
    CheckAllocations(where.c_str());
    if (!run_.window.enabled[IDC_RECORD] && !run_.window.enabled[IDC_STOP])
        Fail(where + ": both buttons disabled");
}

void InvariantChecker::CheckEnd(INT_PTR result)
{
    if (aborted)
        return;
    if (result != 0)
        Fail("the dialog ended with " + std::to_string(result));
    if (!closed_)
        Fail("the program ended without carrying out a close request");
    if (HeldByDevice() > 0)
        Fail("the program ended while its devices held headers");
    if (loop.captureHeader1 || loop.captureHeader2 || loop.playHeader1 || loop.playHeader2 ||
        loop.latestBlock)
        Fail("the close request left headers or the latest block unreleased");
    CheckAllocations("at the end");
}

void InvariantChecker::OnWaveCall(const WaveCall &call)
{
    run_.Log(call);
    if (call.result != MMSYSERR_NOERROR)
        return;
    const char *name = call.name;
    bool capture = StartsWith(name, "waveIn");
    const char *op = name + (capture ? 6 : 7);
    WAVEHDR *h = (WAVEHDR *)call.header;

    if (strcmp(op, "Open") == 0) {
        open_[call.handle] = capture;
        if (capture)
            recordings++;
    } else if (strcmp(op, "Close") == 0) {
        open_.erase(call.handle);
        for (auto it = prepared_.begin(); it != prepared_.end();)
            it = it->first == call.handle ? prepared_.erase(it) : std::next(it);
        for (const auto &entry : held_)
            if (entry.second.handle == call.handle && !entry.second.returned)
                Fail(std::string(name) + " succeeded with a header still queued");
    } else if (strcmp(op, "PrepareHeader") == 0) {
        prepared_.insert({call.handle, h});
    } else if (strcmp(op, "UnprepareHeader") == 0) {
        prepared_.erase({call.handle, h});
    } else if (strcmp(op, "AddBuffer") == 0 || strcmp(op, "Write") == 0) {
        if (!prepared_.count({call.handle, h}))
            Fail(std::string(name) + " queued a header not prepared on that handle");
        auto it = held_.find(h);
        if (it != held_.end())
            Fail(std::string(name) + (it->second.returned ? " queued a header again before its notification"
                                                          : " queued a header its device already holds"));
        if (!OwnHeader(h) || !OwnBlock(h->lpData, capture)) {
            Fail(std::string(name) + " queued a header or block the program does not hold");
            return;
        }
        Held held{call.handle, capture, false, *h, {}};
        held.block.assign((const uint8_t *)h->lpData, (const uint8_t *)h->lpData + h->dwBufferLength);
        held_[h] = std::move(held);
    } else if (strcmp(op, "Reset") == 0) {
        // Every block the device held is handed back before the call returns.
        for (auto &entry : held_) {
            Held &held = entry.second;
            if (held.handle != call.handle || held.returned)
                continue;
            if (!(entry.first->dwFlags & WHDR_DONE) || (entry.first->dwFlags & WHDR_INQUEUE))
                Fail(std::string(name) + " did not hand a header back");
            held.returned = true;
        }
    }
}
