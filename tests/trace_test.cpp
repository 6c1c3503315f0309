// The waveform trace, drawn on the simulated dialog's pixels.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "../port/gdi/gdi.h"
#include "../trace/trace.h"
#include "support/program_run.h"

namespace {

const uint32_t kGreen = 0x00FF00, kBlack = 0, kBackground = 0x808080;

// Draws `samples` once on a dialog whose client area is width x height.
class TraceProbe {
public:
    ProgramRun run;

    void Draw(int width, int height, const std::vector<BYTE> &samples, int count)
    {
        DrawWith(width, height, [&samples, count](HWND hwnd) { DrawWaveform(hwnd, samples.data(), count); });
    }

    // Runs `draw` on the dialog, on the program's thread.
    void DrawWith(int width, int height, std::function<void(HWND)> draw)
    {
        run.window.SetClientSize(width, height, kBackground);
        current = this;
        run.At(Ms(10), [this, draw] {
            draw(hwnd);
            EndDialog(hwnd, 0);
        });
        DialogBoxParamA((HINSTANCE)1, "Record", nullptr, Proc, 0);
    }

    int GreenIn(int x0, int x1, int y0, int y1) const
    {
        int n = 0;
        for (int y = y0; y < y1; y++)
            for (int x = x0; x < x1; x++)
                n += run.window.Pixel(x, y) == kGreen;
        return n;
    }

private:
    HWND hwnd = nullptr;
    static TraceProbe *current;
    static INT_PTR CALLBACK Proc(HWND hDlg, UINT, WPARAM, LPARAM)
    {
        current->hwnd = hDlg;
        return TRUE;
    }
};
TraceProbe *TraceProbe::current;

TEST(Trace, SilenceIsOneGreenRowAcrossABlackBand)
{
    TraceProbe probe;
    probe.Draw(353, 300, std::vector<BYTE>(2048, 0x80), 2048);
    for (int x = 0; x < 353; x++) {
        EXPECT_EQ(probe.run.window.Pixel(x, 128), kGreen) << x;
        EXPECT_EQ(probe.run.window.Pixel(x, 127), kBlack) << x;
        EXPECT_EQ(probe.run.window.Pixel(x, 255), kBlack) << x;
        EXPECT_EQ(probe.run.window.Pixel(x, 256), kBackground) << x;  // below the band: untouched
    }
    EXPECT_EQ(probe.GreenIn(0, 353, 0, 256), 353);
    EXPECT_EQ(probe.run.window.drawings, 1);
    EXPECT_FALSE(probe.run.window.drawing);  // the surface was given back
}

// The window system repaints only what the drawing layer says it changed.
TEST(Trace, DrawingReportsWhatItChanged)
{
    TraceProbe probe;
    probe.Draw(353, 240, std::vector<BYTE>(2048, 0x80), 2048);
    const port::SurfaceRect whole = probe.run.window.lastChanged;
    EXPECT_EQ(whole.x, 0);
    EXPECT_EQ(whole.y, 0);
    EXPECT_EQ(whole.width, 353);
    EXPECT_EQ(whole.height, 240);  // the band, cut to the client area

    // Dots and fills anywhere, some outside the client area.
    TraceProbe dots;
    dots.DrawWith(353, 300, [](HWND hwnd) {
        HDC dc = GetDC(hwnd);
        SetPixel(dc, 300, 280, RGB(0, 255, 0));
        SetPixel(dc, 400, 10, RGB(0, 255, 0));  // outside: not drawn
        HBRUSH brush = CreateSolidBrush(RGB(0, 0, 0));
        RECT fill = {20, 270, 40, 290};
        FillRect(dc, &fill, brush);
        RECT outside = {-10, 350, 30, 400};
        FillRect(dc, &outside, brush);
        DeleteObject(brush);
        ReleaseDC(hwnd, dc);
        EXPECT_EQ(SetPixel(dc, 1, 1, RGB(0, 255, 0)), CLR_INVALID) << "drawn after it was released";
    });
    const port::SurfaceRect changed = dots.run.window.lastChanged;
    EXPECT_EQ(changed.x, 20);
    EXPECT_EQ(changed.y, 270);
    EXPECT_EQ(changed.width, 281);
    EXPECT_EQ(changed.height, 20);
    EXPECT_EQ(dots.GreenIn(0, 353, 0, 300), 1);

    // The band cleared and drawn again: what changed is what differs from
    // before. Silence on silence changes nothing; one dot moved up, one pixel.
    TraceProbe again;
    const std::vector<BYTE> silence(2048, 0x80);
    std::vector<BYTE> moved = silence;
    moved[1000] = 10;
    const int column = (int)(1000 * (353.0f / 2048));
    port::SurfaceRect second, third;
    again.DrawWith(353, 300, [&](HWND hwnd) {
        DrawWaveform(hwnd, silence.data(), 2048);
        DrawWaveform(hwnd, silence.data(), 2048);
        second = again.run.window.lastChanged;
        DrawWaveform(hwnd, moved.data(), 2048);
        third = again.run.window.lastChanged;
    });
    EXPECT_EQ(second.width * second.height, 0);
    EXPECT_EQ(third.x, column);
    EXPECT_EQ(third.y, 10);
    EXPECT_EQ(third.width, 1);
    EXPECT_EQ(third.height, 1);
    EXPECT_EQ(again.GreenIn(0, 353, 0, 256), 354);  // the column keeps its other dots on row 128

    // More rows cleared than are kept: still every change reported.
    std::vector<BYTE> ramp(2048);
    for (int i = 0; i < 2048; i++)
        ramp[i] = (BYTE)(i / 8);
    port::SurfaceRect afterRamp;
    TraceProbe many;
    many.DrawWith(353, 300, [&](HWND hwnd) {
        DrawWaveform(hwnd, ramp.data(), 2048);
        DrawWaveform(hwnd, silence.data(), 2048);
        afterRamp = many.run.window.lastChanged;
    });
    EXPECT_EQ(afterRamp.x, 0);
    EXPECT_EQ(afterRamp.y, 0);
    EXPECT_EQ(afterRamp.width, 353);
    EXPECT_EQ(afterRamp.height, 256);
    EXPECT_EQ(many.GreenIn(0, 353, 0, 256), 353);

    // Nothing drawn: nothing to repaint.
    TraceProbe none;
    none.DrawWith(353, 300, [](HWND hwnd) { ReleaseDC(hwnd, GetDC(hwnd)); });
    EXPECT_EQ(none.run.window.drawings, 1);
    EXPECT_EQ(none.run.window.lastChanged.width * none.run.window.lastChanged.height, 0);
}

TEST(Trace, RampFallsFromTopLeftToBottomRight)
{
    std::vector<BYTE> ramp(2048);
    for (int i = 0; i < 2048; i++)
        ramp[i] = (BYTE)(i / 8);
    TraceProbe probe;
    probe.Draw(1024, 256, ramp, 2048);
    // Two samples to a column: column x holds the dots of samples 2x and 2x+1.
    for (int x = 0; x < 1024; x++) {
        EXPECT_EQ(probe.run.window.Pixel(x, x / 4), kGreen) << x;
        EXPECT_EQ(probe.GreenIn(x, x + 1, 0, 256), 1) << x;
    }
    EXPECT_EQ(probe.run.window.Pixel(0, 0), kGreen);
    EXPECT_EQ(probe.run.window.Pixel(1023, 255), kGreen);
}

TEST(Trace, DotsSpreadOverNarrowAndWideWindows)
{
    std::vector<BYTE> silence(2048, 0x80);
    TraceProbe wide;
    wide.Draw(4096, 256, silence, 2048);
    for (int x = 0; x < 4096; x++)
        EXPECT_EQ(wide.run.window.Pixel(x, 128), x % 2 ? kBlack : kGreen) << x;

    // 300 / 2048 in single precision: several samples to a column, every
    // column reached, the last sample at floor(2047 * 300 / 2048).
    std::vector<BYTE> marked(2048, 0x80);
    marked[2047] = 10;
    TraceProbe narrow;
    narrow.Draw(300, 256, marked, 2048);
    EXPECT_EQ(narrow.GreenIn(0, 300, 128, 129), 300);
    EXPECT_EQ(narrow.run.window.Pixel(299, 10), kGreen);
    EXPECT_EQ(narrow.GreenIn(0, 300, 10, 11), 1);
}

TEST(Trace, NoSamplesClearsTheBandOnly)
{
    for (int count : {0, -5}) {
        TraceProbe probe;
        probe.Draw(353, 260, std::vector<BYTE>(2048, 0x80), count);
        EXPECT_EQ(probe.GreenIn(0, 353, 0, 256), 0);
        EXPECT_EQ(probe.run.window.Pixel(200, 100), kBlack);
        EXPECT_EQ(probe.run.window.Pixel(200, 258), kBackground);
    }
}

TEST(Trace, ShortClientAreaShowsTheRowsThatFit)
{
    std::vector<BYTE> samples(2048, 250);
    samples[0] = 100;
    TraceProbe probe;
    probe.Draw(353, 240, samples, 2048);
    EXPECT_EQ(probe.GreenIn(0, 353, 0, 240), 1);
    EXPECT_EQ(probe.run.window.Pixel(0, 100), kGreen);
    EXPECT_EQ(probe.run.window.Pixel(352, 239), kBlack);
}

TEST(Trace, EveryCapturedBlockIsDrawnAndTheLastStaysAfterStop)
{
    ProgramRun run;
    run.window.SetClientSize(353, 260);
    run.window.ClickAt(Ms(100), IDC_RECORD);
    run.window.ClickAt(Ms(1000), IDC_STOP);
    bool checked = false;
    run.At(Ms(1500), [&] {
        // The band shows the last block handed back, which is also the
        // one kept for the next recording.
        checked = true;
        float step = (float)run.window.clientWidth / BLOCK_BYTES;
        for (int i = 0; i < BLOCK_BYTES; i++)
            ASSERT_EQ(run.window.Pixel((int)(i * step), loop.latestBlock[i]), kGreen) << i;
    });
    run.window.CloseAt(Ms(2000));
    EXPECT_EQ(run.Run(), 0);
    EXPECT_TRUE(checked);
    EXPECT_EQ(run.window.drawings, 2 + (int)(Ms(900) / kBlock));
}

// Windows gives a process 10,000 GDI objects, and the trace draws 5.4
// times a second: whatever one drawing keeps runs out within the hour.
TEST(Trace, NoBrushOrDrawingSurfaceOutlivesADrawingOrASession)
{
    for (int count : {2048, 0}) {
        TraceProbe probe;
        probe.Draw(353, 260, std::vector<BYTE>(2048, 0x80), count);
        EXPECT_EQ(port::GdiObjectsAlive(), 0) << count;
        EXPECT_EQ(port::DeviceContextsHeld(), 0) << count;
    }

    ProgramRun run;
    int checks = 0;
    auto check = [&] {
        checks++;
        EXPECT_EQ(port::GdiObjectsAlive(), 0) << run.clock.Now();
        EXPECT_EQ(port::DeviceContextsHeld(), 0) << run.clock.Now();
    };
    run.window.ClickAt(Ms(100), IDC_RECORD);
    run.At(Ms(1000), check);
    run.window.ClickAt(Ms(2000), IDC_STOP);
    run.At(Ms(2500), check);
    run.window.CloseAt(Ms(3000));
    EXPECT_EQ(run.Run(), 0);
    check();
    EXPECT_EQ(checks, 3);
    EXPECT_GT(run.window.drawings, 8);
}

}  // namespace
