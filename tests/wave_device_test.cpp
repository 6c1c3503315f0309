// The wave devices' rules, called directly from a probe dialog on the
// simulated platform.
#include <gtest/gtest.h>

#include <string.h>

#include "support/program_run.h"

namespace {

struct Notice {
    UINT message;
    WPARAM wParam;
    WAVEHDR *header;
    DWORD flags;  // the header's flags as the notification arrived
    DWORD bytes;
    Ticks at;
};

// Runs `script` at 10 ms inside a dialog that records every notification,
// and ends the dialog at `end`.
class WaveProbe {
public:
    ProgramRun run;
    HWND hwnd = nullptr;
    std::vector<Notice> notices;
    WAVEFORMATEX format = {WAVE_FORMAT_PCM, 1, 11025, 11025, 1, 8, 0};

    void Run(std::function<void()> script, Ticks end)
    {
        current = this;
        run.At(Ms(10), std::move(script));
        run.At(end, [this] { EndDialog(hwnd, 0); });
        DialogBoxParamA((HINSTANCE)1, "Record", nullptr, Proc, 0);
    }

    std::vector<UINT> Messages() const
    {
        std::vector<UINT> m;
        for (const Notice &n : notices)
            m.push_back(n.message);
        return m;
    }

private:
    static WaveProbe *current;
    static INT_PTR CALLBACK Proc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam)
    {
        current->hwnd = hDlg;
        if (message >= MM_WOM_OPEN && message <= MM_WIM_DATA) {
            WAVEHDR *h = (WAVEHDR *)lParam;
            current->notices.push_back({message, wParam, h, h ? h->dwFlags : 0, h ? h->dwBytesRecorded : 0,
                                        current->run.clock.Now()});
        }
        return TRUE;
    }
};
WaveProbe *WaveProbe::current;

struct Block {
    WAVEHDR header;
    char data[BLOCK_BYTES];
    Block()
    {
        memset(&header, 0, sizeof header);
        memset(data, 0x11, sizeof data);
        header.lpData = data;
        header.dwBufferLength = BLOCK_BYTES;
    }
};

TEST(WaveIn, HeadersComeBackFullInQueueOrderWithTheirNotifications)
{
    WaveProbe probe;
    HWAVEIN in = nullptr;
    Block a, b;
    Ticks started = 0;
    probe.Run(
        [&] {
            ASSERT_EQ(waveInOpen(&in, WAVE_MAPPER, &probe.format, (DWORD_PTR)probe.hwnd, 0, CALLBACK_WINDOW),
                      0u);
            EXPECT_EQ(waveInAddBuffer(in, &a.header, sizeof(WAVEHDR)), (MMRESULT)WAVERR_UNPREPARED);
            EXPECT_EQ(waveInPrepareHeader(in, &a.header, sizeof(WAVEHDR)), 0u);
            EXPECT_EQ(a.header.dwFlags, (DWORD)WHDR_PREPARED);
            EXPECT_EQ(waveInPrepareHeader(in, &b.header, 32 - 1), (MMRESULT)MMSYSERR_INVALPARAM);
            EXPECT_EQ(waveInPrepareHeader(in, &b.header, sizeof(WAVEHDR)), 0u);
            EXPECT_EQ(waveInAddBuffer(in, &a.header, sizeof(WAVEHDR)), 0u);
            EXPECT_EQ(a.header.dwFlags, (DWORD)(WHDR_PREPARED | WHDR_INQUEUE));
            EXPECT_EQ(waveInAddBuffer(in, &a.header, sizeof(WAVEHDR)), (MMRESULT)WAVERR_STILLPLAYING);
            EXPECT_EQ(waveInUnprepareHeader(in, &a.header, sizeof(WAVEHDR)), (MMRESULT)WAVERR_STILLPLAYING);
            EXPECT_EQ(waveInAddBuffer(in, &b.header, sizeof(WAVEHDR)), 0u);
            EXPECT_EQ(waveInClose(in), (MMRESULT)WAVERR_STILLPLAYING);
            started = probe.run.clock.Now();
            EXPECT_EQ(waveInStart(in), 0u);
        },
        Ms(1000));

    std::vector<UINT> expected = {MM_WIM_OPEN, MM_WIM_DATA, MM_WIM_DATA};
    ASSERT_EQ(probe.Messages(), expected);
    EXPECT_EQ(probe.notices[0].wParam, (WPARAM)in);
    EXPECT_EQ(probe.notices[1].header, &a.header);
    EXPECT_EQ(probe.notices[2].header, &b.header);
    EXPECT_EQ(probe.notices[1].at, started + kBlock);
    EXPECT_EQ(probe.notices[2].at, started + 2 * kBlock);
    for (int i = 1; i <= 2; i++) {
        EXPECT_EQ(probe.notices[i].wParam, (WPARAM)in);
        EXPECT_EQ(probe.notices[i].flags, (DWORD)(WHDR_PREPARED | WHDR_DONE));
        EXPECT_EQ(probe.notices[i].bytes, (DWORD)BLOCK_BYTES);
    }
    for (int i = 0; i < BLOCK_BYTES; i++)
        ASSERT_EQ((uint8_t)b.data[i], ProgramRun::Noise(started + kBlock + i));
}

TEST(WaveIn, ResetHandsBackPartlyFilledBlocksAndCloseRetiresTheHandle)
{
    WaveProbe probe;
    HWAVEIN in = nullptr;
    Block a, b, c;
    probe.Run(
        [&] {
            waveInOpen(&in, WAVE_MAPPER, &probe.format, (DWORD_PTR)probe.hwnd, 0, CALLBACK_WINDOW);
            for (Block *k : {&a, &b}) {
                waveInPrepareHeader(in, &k->header, sizeof(WAVEHDR));
                waveInAddBuffer(in, &k->header, sizeof(WAVEHDR));
            }
            waveInStart(in);
            probe.run.At(probe.run.clock.Now() + 3 * 256 + 1, [&] {
                EXPECT_EQ(waveInReset(in), 0u);
                EXPECT_EQ(waveInClose(in), 0u);
                c.header.dwFlags = 0;
                EXPECT_EQ(waveInPrepareHeader(in, &c.header, sizeof(WAVEHDR)),
                          (MMRESULT)MMSYSERR_INVALHANDLE);
                EXPECT_EQ(c.header.dwFlags, 0u);
                EXPECT_EQ(waveInReset(in), (MMRESULT)MMSYSERR_INVALHANDLE);
                EXPECT_EQ(waveInClose(in), (MMRESULT)MMSYSERR_INVALHANDLE);
                EXPECT_EQ(waveInAddBuffer(in, &a.header, sizeof(WAVEHDR)), (MMRESULT)MMSYSERR_INVALHANDLE);
                // A header already in the wanted state answers zero, whatever the handle.
                EXPECT_EQ(waveInPrepareHeader(in, &a.header, sizeof(WAVEHDR)), 0u);
                EXPECT_EQ(waveInUnprepareHeader(in, &c.header, sizeof(WAVEHDR)), 0u);
                EXPECT_EQ(waveInUnprepareHeader(in, &a.header, sizeof(WAVEHDR)),
                          (MMRESULT)MMSYSERR_INVALHANDLE);
                EXPECT_EQ(a.header.dwFlags, (DWORD)(WHDR_PREPARED | WHDR_DONE));
                EXPECT_EQ(waveInClose(nullptr), (MMRESULT)MMSYSERR_INVALHANDLE);
                EXPECT_EQ(waveOutReset((HWAVEOUT)in), (MMRESULT)MMSYSERR_INVALHANDLE);
            });
        },
        Ms(1000));

    std::vector<UINT> expected = {MM_WIM_OPEN, MM_WIM_DATA, MM_WIM_DATA, MM_WIM_CLOSE};
    ASSERT_EQ(probe.Messages(), expected);
    EXPECT_EQ(probe.notices[1].header, &a.header);
    EXPECT_EQ(probe.notices[1].bytes, 3u * 256);
    EXPECT_EQ(probe.notices[2].header, &b.header);
    EXPECT_EQ(probe.notices[2].bytes, 0u);
    EXPECT_EQ(probe.notices[2].flags, (DWORD)(WHDR_PREPARED | WHDR_DONE));
    EXPECT_EQ(probe.notices[3].wParam, (WPARAM)in);
    EXPECT_EQ(probe.run.audio.streamsOpen, 0);
}

TEST(WaveOut, BlocksAreDoneWhenPlayedAndResetHandsTheRestBack)
{
    WaveProbe probe;
    HWAVEOUT out = nullptr;
    Block a, b, c;
    memset(a.data, 0x20, BLOCK_BYTES);
    memset(b.data, 0x30, BLOCK_BYTES);
    Ticks started = 0;
    probe.Run(
        [&] {
            ASSERT_EQ(
                waveOutOpen(&out, WAVE_MAPPER, &probe.format, (DWORD_PTR)probe.hwnd, 0, CALLBACK_WINDOW), 0u);
            EXPECT_EQ(waveOutWrite(out, &a.header, sizeof(WAVEHDR)), (MMRESULT)WAVERR_UNPREPARED);
            for (Block *k : {&a, &b, &c}) {
                waveOutPrepareHeader(out, &k->header, sizeof(WAVEHDR));
                EXPECT_EQ(waveOutWrite(out, &k->header, sizeof(WAVEHDR)), 0u);
            }
            started = probe.run.clock.Now();
            probe.run.At(started + kBlock + 512, [&] {
                EXPECT_EQ(waveOutClose(out), (MMRESULT)WAVERR_STILLPLAYING);
                EXPECT_EQ(waveOutReset(out), 0u);
                EXPECT_EQ(waveOutUnprepareHeader(out, &c.header, sizeof(WAVEHDR)), 0u);
                EXPECT_EQ(c.header.dwFlags, (DWORD)WHDR_DONE);
                EXPECT_EQ(waveOutClose(out), 0u);
            });
        },
        Ms(1000));

    std::vector<UINT> expected = {MM_WOM_OPEN, MM_WOM_DONE, MM_WOM_DONE, MM_WOM_DONE, MM_WOM_CLOSE};
    ASSERT_EQ(probe.Messages(), expected);
    EXPECT_EQ(probe.notices[1].header, &a.header);
    EXPECT_EQ(probe.notices[1].at, started + kBlock);
    EXPECT_EQ(probe.notices[2].header, &b.header);
    EXPECT_EQ(probe.notices[3].header, &c.header);
    EXPECT_EQ(probe.notices[2].at, started + kBlock + 512);
    EXPECT_EQ(probe.run.audio.Played(started), 0x20);
    EXPECT_EQ(probe.run.audio.Played(started + kBlock), 0x30);
    EXPECT_EQ(probe.run.audio.Played(started + kBlock + 512), -1);  // stopped at the reset
}

// Opens both devices for the probe's dialog, queues `capture` and starts
// it, then writes `playback`; `spare` capture blocks are only prepared.
// Answers when playback started.
Ticks StartDuplex(WaveProbe &probe, HWAVEIN *in, HWAVEOUT *out, std::initializer_list<Block *> capture,
                  std::initializer_list<Block *> playback, std::initializer_list<Block *> spare = {})
{
    waveInOpen(in, WAVE_MAPPER, &probe.format, (DWORD_PTR)probe.hwnd, 0, CALLBACK_WINDOW);
    waveOutOpen(out, WAVE_MAPPER, &probe.format, (DWORD_PTR)probe.hwnd, 0, CALLBACK_WINDOW);
    for (Block *k : spare)
        waveInPrepareHeader(*in, &k->header, sizeof(WAVEHDR));
    for (Block *k : capture) {
        waveInPrepareHeader(*in, &k->header, sizeof(WAVEHDR));
        waveInAddBuffer(*in, &k->header, sizeof(WAVEHDR));
    }
    waveInStart(*in);
    for (Block *k : playback) {
        waveOutPrepareHeader(*out, &k->header, sizeof(WAVEHDR));
        waveOutWrite(*out, &k->header, sizeof(WAVEHDR));
    }
    return probe.run.clock.Now();
}

// With capture running, a played block comes back only once capture has
// filled a block since the last one came back, so the two devices keep
// step as on one sound card; but only while what is queued after it plays
// for 70 ms more, so devices that really drift apart still play on.
TEST(WaveDuplex, PlaybackWaitsForCaptureToCatchUpButNotForLong)
{
    WaveProbe probe;
    probe.run.audio.captureLatency = Ms(40);  // capture reaches the layer late
    HWAVEIN in = nullptr;
    HWAVEOUT out = nullptr;
    Block c1, c2, p1, p2, p3, p4;
    Ticks started = 0;
    probe.Run(
        [&] {
            started = StartDuplex(probe, &in, &out, {&c1, &c2}, {&p1, &p2, &p3, &p4});
            // Then capture falls far behind, as on a clock of its own.
            probe.run.At(started + 2 * kBlock + Ms(50), [&] { probe.run.audio.captureLatency = Ms(400); });
            probe.run.At(started + 4 * kBlock + Ms(20), [&] {
                waveInReset(in);
                waveOutReset(out);
            });
        },
        Ms(2000));

    std::vector<Notice> dones, datas;
    for (const Notice &n : probe.notices) {
        if (n.message == MM_WOM_DONE)
            dones.push_back(n);
        if (n.message == MM_WIM_DATA)
            datas.push_back(n);
    }
    ASSERT_GE(dones.size(), 3u);
    ASSERT_GE(datas.size(), 2u);
    // The first two played blocks wait for the capture block that ends with
    // them, and come right after it.
    for (int k = 0; k < 2; k++) {
        EXPECT_EQ(datas[k].at, started + (k + 1) * kBlock + Ms(40)) << k;
        EXPECT_EQ(dones[k].at, datas[k].at) << k;
    }
    auto place = [&](const WAVEHDR *header) {
        for (size_t i = 0; i < probe.notices.size(); i++)
            if (probe.notices[i].header == header)
                return i;
        return probe.notices.size();
    };
    EXPECT_GT(place(&p1.header), place(&c1.header));
    EXPECT_GT(place(&p2.header), place(&c2.header));
    // The third waits until 70 ms of the fourth are left to play.
    EXPECT_EQ(dones[2].header, &p3.header);
    EXPECT_GE(dones[2].at, started + 4 * kBlock - Ms(70));
    EXPECT_LE(dones[2].at, started + 4 * kBlock - Ms(70) + probe.run.audio.chunk);
}

// Sound lost while no capture block was queued moves where capture blocks
// end against played ones: a played block then waits for the capture block
// filled after it, however far after its end that one ends.
TEST(WaveDuplex, AfterSoundLostPlaybackWaitsForTheNextCaptureBlock)
{
    for (Ticks lost : {256, 1792}) {
        SCOPED_TRACE(lost);
        WaveProbe probe;
        HWAVEIN in = nullptr;
        HWAVEOUT out = nullptr;
        Block c1, c2, p1, p2, p3, p4;
        Ticks started = 0;
        probe.Run(
            [&] {
                started = StartDuplex(probe, &in, &out, {&c1}, {&p1, &p2, &p3, &p4}, {&c2});
                // The chunks heard over [kBlock, kBlock + lost) find no block.
                probe.run.At(started + kBlock + lost + 1,
                             [&] { waveInAddBuffer(in, &c2.header, sizeof(WAVEHDR)); });
                probe.run.At(started + 4 * kBlock, [&] {
                    waveInReset(in);
                    waveOutReset(out);
                });
            },
            Ms(1000));

        Ticks c2Full = -1, p2Back = -1;
        size_t c2At = 0, p2At = 0;
        for (size_t i = 0; i < probe.notices.size(); i++) {
            const Notice &n = probe.notices[i];
            if (n.header == &c2.header && n.message == MM_WIM_DATA && n.bytes == BLOCK_BYTES)
                c2Full = n.at, c2At = i;
            if (n.header == &p2.header && n.message == MM_WOM_DONE)
                p2Back = n.at, p2At = i;
        }
        ASSERT_GE(c2Full, 0);
        EXPECT_EQ(c2Full, started + 2 * kBlock + lost);
        EXPECT_EQ(p2Back, c2Full);
        EXPECT_GT(p2At, c2At);
    }
}

TEST(WaveOpen, FailedOrBadOpensLeaveNoDeviceAndPostNothing)
{
    WaveProbe probe;
    probe.run.audio.captureOpenResult = MMSYSERR_BADDEVICEID;
    HWAVEIN in = (HWAVEIN)0x1234;
    HWAVEOUT out = nullptr;
    probe.Run(
        [&] {
            EXPECT_EQ(waveInOpen(&in, WAVE_MAPPER, &probe.format, (DWORD_PTR)probe.hwnd, 0, CALLBACK_WINDOW),
                      (MMRESULT)MMSYSERR_BADDEVICEID);
            EXPECT_EQ(in, (HWAVEIN)0x1234);
            WAVEFORMATEX odd = probe.format;
            odd.nBlockAlign = 2;
            EXPECT_EQ(waveOutOpen(&out, WAVE_MAPPER, &odd, (DWORD_PTR)probe.hwnd, 0, CALLBACK_WINDOW),
                      (MMRESULT)WAVERR_BADFORMAT);
            EXPECT_EQ(waveOutOpen(&out, 5, &probe.format, (DWORD_PTR)probe.hwnd, 0, CALLBACK_WINDOW),
                      (MMRESULT)MMSYSERR_BADDEVICEID);
            EXPECT_EQ(waveOutOpen(&out, WAVE_MAPPER, &probe.format, 0, 0, CALLBACK_FUNCTION),
                      (MMRESULT)MMSYSERR_INVALFLAG);
        },
        Ms(100));
    EXPECT_TRUE(probe.notices.empty());
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(probe.run.audio.streamsOpen, 0);
}

}  // namespace
