// One run of the whole program, WinMain to exit, on the simulated platform.
#pragma once

#include <string>
#include <vector>

#include "../../port/platform.h"
#include "../../port/sim/sim_audio.h"
#include "../../port/sim/sim_sounds.h"
#include "../../port/sim/sim_window.h"
#include "../../res/resource.h"
#include "../../sound/loop.h"
#include "wave_calls.h"

using port::sim::Ms;
using port::sim::Ticks;

constexpr Ticks kBlock = BLOCK_BYTES;  // one block lasts as many ticks as it has samples

struct LoggedCall {
    std::string name;
    uintptr_t handle;
    const WAVEHDR *header;
    MMRESULT result;
    Ticks at;
    WaveCall wave;  // the arguments, as the layer saw them
};

class ProgramRun {
public:
    port::sim::VirtualClock clock;
    port::sim::SimWindow window{clock};
    port::sim::SimAudio audio{clock};
    port::sim::SimEventSounds sounds{clock};
    std::vector<LoggedCall> calls;

    ProgramRun();
    // Releases what the program still held at its end, as process exit would.
    ~ProgramRun();

    // Runs WinMain and returns the exit status.
    int Run();
    // Notes a wave call in `calls`, then tells onCall, which may look at
    // the program's state as the call is made.
    void Log(const WaveCall &call);
    std::function<void(const LoggedCall &)> onCall;
    // Schedules `check` to run on the program's thread at `when`.
    void At(Ticks when, std::function<void()> check) { clock.At(when, std::move(check)); }

    int Count(const std::string &name, MMRESULT result) const;
    int Count(const std::string &name) const;
    // A signal that never repeats within a few seconds and is never silence.
    static uint8_t Noise(Ticks t);
};
