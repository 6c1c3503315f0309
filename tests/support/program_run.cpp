// One run of the whole program on the simulated platform.
#include "program_run.h"

#include <stdlib.h>
#include <string.h>

#include "alloc_tracker.h"

ProgramRun::ProgramRun()
{
    port::ResetLayer();
    memset(&loop, 0, sizeof loop);
    alloc::Reset();
    port::UseBackends(&window, &audio, &sounds);
    WatchWaveCalls([this](const WaveCall &call) { Log(call); });
    audio.signal = Noise;
}

ProgramRun::~ProgramRun()
{
    WatchWaveCalls(nullptr);
    port::ResetLayer();
    BYTE *blocks[] = {loop.captureBlock1, loop.captureBlock2, loop.playBlock1, loop.playBlock2,
                      loop.latestBlock};
    for (BYTE *block : blocks)
        free(block);
    WAVEHDR *headers[] = {loop.captureHeader1, loop.captureHeader2, loop.playHeader1, loop.playHeader2};
    for (WAVEHDR *header : headers)
        free(header);
    memset(&loop, 0, sizeof loop);
    port::UseBackends(nullptr, nullptr);
}

int ProgramRun::Run()
{
    char commandLine[] = "";
    return WinMain((HINSTANCE)1, nullptr, commandLine, 1);
}

void ProgramRun::Log(const WaveCall &call)
{
    calls.push_back({call.name, call.handle, call.header, call.result, clock.Now(), call});
    if (onCall)
        onCall(calls.back());
}

int ProgramRun::Count(const std::string &name, MMRESULT result) const
{
    int n = 0;
    for (const LoggedCall &call : calls)
        if (call.name == name && call.result == result)
            n++;
    return n;
}

int ProgramRun::Count(const std::string &name) const
{
    int n = 0;
    for (const LoggedCall &call : calls)
        if (call.name == name)
            n++;
    return n;
}

uint8_t ProgramRun::Noise(Ticks t)
{
    uint32_t x = (uint32_t)t * 2654435761u;
    uint8_t v = (uint8_t)(x >> 24);
    return v == 0x80 ? 0x81 : v;
}
