// Rules the program keeps however its user and its devices behave, checked
// around every message its dialog procedure is given, every wave call it
// makes and every call a simulated device makes into the layer.
#pragma once

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "program_run.h"

class InvariantChecker {
public:
    // Hooks into the run's wave call log and devices; `proc` is the dialog
    // procedure under test.
    explicit InvariantChecker(ProgramRun &run, DLGPROC proc = nullptr);
    ~InvariantChecker();

    // Shows the program's dialog with the checks around its procedure,
    // then checks how it ended. Returns what the dialog ended with.
    INT_PTR RunDialog();

    // What the program holds when nothing is open and nothing is on the
    // way: the headers and at most the kept latest block.
    void CheckIdle(const char *when);
    // Records a failure and ends the dialog, for a run that went wrong.
    void Abort(const std::string &why);
    void Fail(const std::string &what);

    // The dialog is ended as failed once virtual time passes this, or once
    // this many messages were delivered.
    Ticks deadline = 0;
    long messageLimit = 200000;

    std::vector<std::string> failures;
    bool aborted = false;
    // What happened, so callers can tell that their runs did something.
    int blocksCaptured = 0;
    int blocksPlayed = 0;
    int recordings = 0;           // successful capture opens
    int userCloses = 0;           // close requests from the user
    int failureCloses = 0;        // close requests after a device failure
    int instantDeviceEvents = 0;  // device calls made inside a handler

private:
    struct Held {
        uintptr_t handle;
        bool capture;
        bool returned;               // handed back by the device; its notification is on the way
        WAVEHDR queued;              // the header as it was queued
        std::vector<uint8_t> block;  // what the block must hold
    };

    static INT_PTR CALLBACK Proc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam);
    void Before(UINT message, WPARAM wParam, LPARAM lParam);
    void After(UINT message, WPARAM wParam);
    void OnWaveCall(const WaveCall &call);
    void BeforeDevice();
    void AfterDevice();

    void VerifyHeld(const char *when);
    void CheckAllocations(const char *when);
    void CheckEnd(INT_PTR result);
    bool OwnBlock(const void *block, bool capture) const;
    bool OwnHeader(const WAVEHDR *header) const;
    int HeldByDevice() const;

    ProgramRun &run_;
    DLGPROC proc_;
    HWND hwnd_ = nullptr;
    int depth_ = 0;
    bool closed_ = false;  // the close request was carried out
    bool closeAfterFailure_ = false;
    long delivered_ = 0;
    int baseBlocks_ = 0;
    int baseHeaders_ = 0;
    std::map<const WAVEHDR *, Held> held_;
    std::map<uintptr_t, bool> open_;  // handle -> capture
    std::set<std::pair<uintptr_t, const WAVEHDR *>> prepared_;
};
