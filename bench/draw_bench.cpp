// The cost of one DrawWaveform call on the Linux layer: the program's own
// trace drawing on the Qt dialog's real drawing surface, put on the screen
// as the layer does after every block. Runs on whatever Qt platform the
// environment gives (offscreen, or xcb under a display).
//
//   draw_bench [--benchmark_* options]
//
// The benchmarks run inside the dialog's WM_INITDIALOG, with the window
// resized to each client width in turn.
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <vector>

#include <QApplication>
#include <QWidget>

#include <benchmark/benchmark.h>
#include <windows.h>

#include "platform.h"
#include "qt/qt_window.h"
#include "trace/trace.h"

namespace {

constexpr int kBlockBytes = 2048;

port::QtWindowBackend *window;
HWND dialog;

constexpr int kBlocks = 8;

// Consecutive blocks of a 440 Hz tone at 11025 Hz, as the program captures
// them: every block moves the dots, as a live signal does.
std::vector<std::vector<BYTE>> ToneBlocks()
{
    std::vector<std::vector<BYTE>> blocks(kBlocks, std::vector<BYTE>(kBlockBytes));
    for (int b = 0; b < kBlocks; b++) {
        for (int i = 0; i < kBlockBytes; i++) {
            blocks[b][i] = (BYTE)(128 + 100 * sin(2 * M_PI * 440 * (b * kBlockBytes + i) / 11025.0));
        }
    }
    return blocks;
}

// Blocks of silence: the dots stay on the middle row.
std::vector<std::vector<BYTE>> SilentBlocks()
{
    return std::vector<std::vector<BYTE>>(kBlocks, std::vector<BYTE>(kBlockBytes, 0x80));
}

void Draw(benchmark::State &state, const std::vector<std::vector<BYTE>> &blocks)
{
    const int width = (int)state.range(0);
    QWidget *widget = window->DialogWidget();
    widget->resize(width, widget->height());
    QCoreApplication::processEvents();
    RECT client;
    GetClientRect(dialog, &client);
    if (client.right != width) {
        char message[80];
        snprintf(message, sizeof message, "client area is %ld pixels wide, not %d", (long)client.right,
                 width);
        state.SkipWithError(message);
        return;
    }
    int next = 0;
    for (auto _ : state) {
        DrawWaveform(dialog, blocks[next].data(), kBlockBytes);
        next = (next + 1) % kBlocks;
    }
    // What piled up meanwhile (expose events under a display) is handled
    // between runs, as the program's message loop would.
    QCoreApplication::processEvents();
    state.counters["height"] = client.bottom;
    state.SetItemsProcessed(state.iterations() * kBlockBytes);
}

void BM_DrawWaveform(benchmark::State &state)
{
    Draw(state, ToneBlocks());
}
BENCHMARK(BM_DrawWaveform)->Arg(353)->Arg(1024)->Arg(4096)->Unit(benchmark::kMicrosecond);

void BM_DrawWaveformSilence(benchmark::State &state)
{
    Draw(state, SilentBlocks());
}
BENCHMARK(BM_DrawWaveformSilence)->Arg(353)->Arg(1024)->Arg(4096)->Unit(benchmark::kMicrosecond);

// For scale: only the black band DrawWaveform asks for, cleared in plain
// memory with memset, with nothing put on the screen.
void BM_BandFillAlone(benchmark::State &state)
{
    const size_t width = (size_t)state.range(0);
    std::vector<uint32_t> band(width * TRACE_HEIGHT, 0x123456);
    for (auto _ : state) {
        memset(band.data(), 0, band.size() * sizeof(uint32_t));
        benchmark::DoNotOptimize(band.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_BandFillAlone)->Arg(353)->Arg(1024)->Arg(4096)->Unit(benchmark::kMicrosecond);

INT_PTR CALLBACK BenchDialog(HWND hwnd, UINT message, WPARAM, LPARAM)
{
    if (message == WM_INITDIALOG) {
        dialog = hwnd;
        benchmark::RunSpecifiedBenchmarks();
        EndDialog(hwnd, 0);
    }
    return FALSE;
}

}  // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    char name[] = "draw_bench";
    char *qtArgv[] = {name, nullptr};
    int qtArgc = 1;
    QApplication application(qtArgc, qtArgv);
    fprintf(stderr, "Qt platform: %s\n", qPrintable(QGuiApplication::platformName()));

    port::QtWindowBackend backend;
    window = &backend;
    port::UseBackends(&backend, nullptr);
    if (DialogBoxParamA(nullptr, "Record", nullptr, BenchDialog, 0) != 0) {
        fprintf(stderr, "draw_bench: the dialog did not open\n");
        return 1;
    }
    benchmark::Shutdown();
    return 0;
}
