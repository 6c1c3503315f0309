// The PulseAudio backend against a private sound server with virtual
// devices (e2e/sound_rig.sh): the PulseAudio daemon, or PipeWire with its
// PulseAudio service, as LARKSPAN_SOUND_SERVER says; through fake sinks and
// sources.
#include "pulse_audio.h"

#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <math.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include <glib.h>
#include <gtest/gtest.h>

#include "sound_rig.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr unsigned kRate = 11025;

double SecondsSince(Clock::time_point t)
{
    return std::chrono::duration<double>(Clock::now() - t).count();
}

WAVEFORMATEX Format(WORD channels, WORD bits, DWORD rate = kRate)
{
    WAVEFORMATEX f{};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = channels;
    f.nSamplesPerSec = rate;
    f.wBitsPerSample = bits;
    f.nBlockAlign = static_cast<WORD>(channels * bits / 8);
    f.nAvgBytesPerSec = rate * f.nBlockAlign;
    return f;
}

class FakeSink : public port::CaptureSink {
public:
    void Captured(const uint8_t *data, size_t bytes) override
    {
        std::lock_guard<std::mutex> g(mutex);
        if (closed)
            late_calls++;
        const bool stall_now = received.size() < stall_at && received.size() + bytes >= stall_at;
        received.insert(received.end(), data, data + bytes);
        calls++;
        // Holds up the thread that takes the sound, as a loaded machine can.
        if (stall_now)
            std::this_thread::sleep_for(stall);
    }
    size_t Bytes()
    {
        std::lock_guard<std::mutex> g(mutex);
        return received.size();
    }
    bool Holds(const std::vector<uint8_t> &run)
    {
        std::lock_guard<std::mutex> g(mutex);
        return std::search(received.begin(), received.end(), run.begin(), run.end()) != received.end();
    }
    std::mutex mutex;
    std::vector<uint8_t> received;
    // As a device that fills blocks of 2048 bytes, one after another.
    size_t Missing() const override { return 2048 - received.size() % 2048; }
    int calls = 0;
    bool closed = false;  // set by the test once no callback may come
    int late_calls = 0;
    size_t stall_at = SIZE_MAX;
    std::chrono::milliseconds stall{0};
};

// Plays `signal` once, then runs dry; checks what Played claims.
class FakeSource : public port::PlaybackSource {
public:
    explicit FakeSource(std::vector<uint8_t> s = std::vector<uint8_t>(kRate * 10, 0x80))
        : signal(std::move(s))
    {
    }
    size_t Take(uint8_t *out, size_t bytes) override
    {
        std::lock_guard<std::mutex> g(mutex);
        if (closed)
            late_calls++;
        if (taken == 0 && !started)
            start = Clock::now(), started = true;
        size_t n = std::min(bytes, std::min(queued, signal.size()) - taken);
        memcpy(out, signal.data() + taken, n);
        const bool stall_now = taken < stall_at && taken + n >= stall_at;
        taken += n;
        // Holds up the thread that feeds the stream, as a loaded machine can.
        if (stall_now)
            std::this_thread::sleep_for(stall);
        return n;
    }
    void Played(uint64_t bytes) override
    {
        std::lock_guard<std::mutex> g(mutex);
        if (closed)
            late_calls++;
        if (bytes < played || bytes > taken)
            errors.push_back("Played(" + std::to_string(bytes) + ") after " + std::to_string(played) +
                             ", taken " + std::to_string(taken));
        // Nothing can have been heard faster than the sample clock.
        double limit = (SecondsSince(start) + 0.010) * kRate;
        if (static_cast<double>(bytes) > limit)
            errors.push_back("Played(" + std::to_string(bytes) + ") ahead of the clock (" +
                             std::to_string(limit) + ")");
        played = bytes;
    }
    // As a device that hands back blocks of 2048 bytes once played.
    uint64_t NextMark() const override
    {
        const uint64_t next = std::min<uint64_t>((played / 2048 + 1) * 2048, taken);
        return next > played ? next : 0;
    }
    uint64_t PlayedBytes()
    {
        std::lock_guard<std::mutex> g(mutex);
        return played;
    }
    // Forgets the run, as the layer does on Start.
    void Rewind()
    {
        std::lock_guard<std::mutex> g(mutex);
        taken = played = 0;
        started = false;
    }
    std::mutex mutex;
    std::vector<uint8_t> signal;
    size_t taken = 0;
    uint64_t played = 0;
    bool started = false;
    Clock::time_point start;
    std::vector<std::string> errors;
    bool closed = false;
    int late_calls = 0;
    size_t queued = SIZE_MAX;  // how much of the signal Take may give yet
    size_t stall_at = SIZE_MAX;
    std::chrono::milliseconds stall{0};
};

// The streams run inside the waits of the thread that opened them, on its
// default GLib context, as the dialog's do: the tests wait so too.
template <typename Pred>
bool WaitFor(Pred pred, std::chrono::milliseconds limit)
{
    const auto end = Clock::now() + limit;
    while (!pred()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
        if (left.count() <= 0)
            return false;
        GSource *timer = g_timeout_source_new(std::min<long>(left.count(), 10));
        g_source_set_callback(
            timer, [](gpointer) { return G_SOURCE_REMOVE; }, nullptr, nullptr);
        g_source_attach(timer, nullptr);
        g_main_context_iteration(nullptr, TRUE);
        g_source_destroy(timer);
        g_source_unref(timer);
    }
    return true;
}

void Pump(std::chrono::milliseconds time)
{
    WaitFor([] { return false; }, time);
}

// A signal of three tones, none above 1.2 kHz, so that it comes through
// PipeWire's resampling to 48 kHz and back; 8-bit values, loud at its start.
std::vector<uint8_t> Tones(size_t samples)
{
    std::vector<uint8_t> signal(samples);
    for (size_t i = 0; i < samples; ++i) {
        double t = static_cast<double>(i) / kRate;
        double v =
            60 * cos(2 * M_PI * 250 * t) + 40 * cos(2 * M_PI * 620 * t) + 20 * cos(2 * M_PI * 1150 * t);
        signal[i] = static_cast<uint8_t>(lround(128 + v));
    }
    return signal;
}

// PipeWire resamples: what comes through is close, not equal.
bool Resampled()
{
    const char *server = getenv("LARKSPAN_SOUND_SERVER");
    return server && std::string(server) == "pipewire";
}
constexpr double kResampledMisfit = 0.1;

// The worst window of a comparison: its misfit, the samples of `expected`
// it covers and the offset from the onset, in samples, that fit it best.
struct Fit {
    double misfit = 0;
    size_t from = 0, to = 0;
    double offset = 0;
};

std::ostream &operator<<(std::ostream &out, const Fit &f)
{
    char text[128];
    snprintf(text, sizeof text, "misfit %.4f in samples %zu-%zu (%.1f-%.1f ms), at an offset of %+.1f",
             f.misfit, f.from, f.to, f.from * 1000.0 / kRate, f.to * 1000.0 / kRate, f.offset);
    return out << text;
}

// How closely `heard` holds `expected`, which starts loud after silence:
// the RMS of the difference over the RMS of `expected`, at the best offset
// near the first loud sample, taken in windows of 100 ms (the last one up to
// 200 ms) and the worst window answered, so that a short gap shows; 0 is
// sample for sample. Resampled sound lies a fraction of a sample off, so
// offsets go in tenths of a sample, between samples by linear interpolation.
// Infinity when nothing loud was heard.
Fit Misfit(const std::vector<double> &heard, const std::vector<double> &expected)
{
    size_t onset = 0;
    while (onset < heard.size() && fabs(heard[onset]) < 0.5 * fabs(expected[0]))
        ++onset;
    // Whole windows, the last one taking the remainder: a window of a few
    // samples weighs only how resampling smears the signal's cut-off end. On
    // PipeWire the capture test's last 2 samples (of 5512) misfit 0.11 to 0.12
    // at two of the five sub-sample phases the feeder's stream can have to the
    // capture's (a graph cycle later moves it 0.2 of a sample: 1024 frames at
    // 48 kHz are 235.2 samples here); whole windows misfit 0.025 at most.
    const size_t window = kRate / 10, windows = std::max<size_t>(1, expected.size() / window);
    Fit worst;
    for (size_t w = 0; w < windows; ++w) {
        const size_t from = w * window, to = w + 1 < windows ? from + window : expected.size();
        double signal = 0;
        for (size_t i = from; i < to; ++i)
            signal += expected[i] * expected[i];
        Fit best{INFINITY, from, to, 0};
        for (long tenths = -120; tenths <= 120; ++tenths) {
            const long whole = static_cast<long>(floor(tenths / 10.0));
            const double part = tenths / 10.0 - whole;
            const long start = static_cast<long>(onset) + whole;
            if (start < 0 || start + to + 1 > heard.size())
                continue;
            double error = 0;
            for (size_t i = from; i < to; ++i) {
                const double at = heard[start + i] * (1 - part) + heard[start + i + 1] * part;
                error += (at - expected[i]) * (at - expected[i]);
            }
            if (sqrt(error / signal) < best.misfit)
                best.misfit = sqrt(error / signal), best.offset = tenths / 10.0;
        }
        if (best.misfit >= worst.misfit)
            worst = best;
    }
    return worst;
}

TEST(PulseAudioBackendTest, NoServerFailsAtOnce)
{
    setenv("PULSE_SERVER", "unix:/nonexistent/larkspan/native", 1);
    port::PulseAudioBackend backend;
    FakeSink sink;
    FakeSource source;
    std::unique_ptr<port::AudioStream> stream;
    auto t = Clock::now();
    EXPECT_EQ(backend.OpenCapture(Format(1, 8), &sink, &stream), (MMRESULT)MMSYSERR_BADDEVICEID);
    EXPECT_EQ(backend.OpenPlayback(Format(1, 8), &source, &stream), (MMRESULT)MMSYSERR_BADDEVICEID);
    EXPECT_LT(SecondsSince(t), 1.0);
    EXPECT_EQ(stream, nullptr);
}

// A sound server of its own for every test.
class PulseRigTest : public SoundRigTest {
protected:
    // `meanwhile` runs between the waits, as the program's handlers do.
    void ExpectPlayedWhole(FakeSource &source, std::function<void(port::AudioStream &)> meanwhile = {});
    void ExpectCapturedWhole(FakeSink &sink);

    // Plays s16 mono `left` into bus's left channel, i.e. into the default source.
    void PlayIntoMic(const std::vector<int16_t> &left)
    {
        std::vector<int16_t> frames;
        for (int16_t v : left)
            frames.insert(frames.end(), {v, 0});
        std::ofstream(File("in.raw"), std::ios::binary)
            .write(reinterpret_cast<const char *>(frames.data()), frames.size() * 2);
        // A roomy feeder buffer: a feeder that runs dry under load would
        // put gaps into the signal the tests look for.
        Shell("pacat -d bus --raw --format=s16le --rate=11025 --channels=2 --latency-msec=200 " +
              File("in.raw"));
    }

    port::PulseAudioBackend backend_;
};

// Feeds tones into the default source; they must reach the sink whole.
void PulseRigTest::ExpectCapturedWhole(FakeSink &sink)
{
    std::unique_ptr<port::AudioStream> in;
    ASSERT_EQ(backend_.OpenCapture(Format(1, 8), &sink, &in), (MMRESULT)MMSYSERR_NOERROR);
    in->Start();
    auto t = Clock::now();
    // Half a second of tones, in steps of 8-bit quantization.
    std::vector<uint8_t> tones = Tones(kRate / 2);
    std::vector<int16_t> played;
    for (uint8_t v : tones)
        played.push_back(static_cast<int16_t>((v - 128) * 256));
    Pump(300ms);
    // After 50 ms of silence: the server may cut the first milliseconds of a
    // stream (PipeWire a part of its first quantum), the feeder's as well.
    std::vector<int16_t> fed(kRate / 20, 0);
    fed.insert(fed.end(), played.begin(), played.end());
    PlayIntoMic(fed);
    // The tones and a little after them arrive within 1.5 s.
    Pump(1500ms + sink.stall);
    double seconds = SecondsSince(t);
    size_t bytes = sink.Bytes();
    in->Stop();
    // The rate is a figure for the log, not a pass mark: a loaded machine
    // starts the stream late. That the tones arrive whole is the check.
    printf("capture delivered %.0f bytes/s\n", bytes / seconds);
    EXPECT_GT(bytes, 0u);

    std::lock_guard<std::mutex> g(sink.mutex);
    std::vector<double> heard, expected;
    for (uint8_t v : sink.received)
        heard.push_back(v - 128.0);
    for (uint8_t v : tones)
        expected.push_back(v - 128.0);
    const Fit fit = Misfit(heard, expected);
    EXPECT_LE(fit.misfit, Resampled() ? kResampledMisfit : 0) << "capture does not hold the tones: " << fit;
    // What the stream delivered (u8 mono), beside what was fed (in.raw).
    if (HasFailure())
        std::ofstream(File("capture.raw"), std::ios::binary)
            .write(reinterpret_cast<const char *>(sink.received.data()), sink.received.size());
}

TEST_F(PulseRigTest, CaptureDeliversTheSourceIntact)
{
    FakeSink sink;
    ExpectCapturedWhole(sink);
}

// Held up for a second amid the tones: what the server kept meanwhile comes
// whole, with no silence told for a gap the source never had.
TEST_F(PulseRigTest, CaptureRidesOutAStalledTakingThread)
{
    FakeSink sink;
    sink.stall_at = kRate * 8 / 10;
    sink.stall = 1000ms;
    ExpectCapturedWhole(sink);
}

// 50 ms of silence, then a second of tones. The server may cut the first
// milliseconds of a stream as it mixes it in at once (PulseAudio rewinds the
// sink, and its monitor has already passed those on): a program's stream
// starts with silence, as this one does.
std::vector<uint8_t> PlainSignal()
{
    std::vector<uint8_t> signal(kRate / 20, 0x80);
    std::vector<uint8_t> tones = Tones(kRate);
    signal.insert(signal.end(), tones.begin(), tones.end());
    return signal;
}

// Plays the source's signal through the default sink; it must come out
// whole, followed by silence, and Played must follow it.
void PulseRigTest::ExpectPlayedWhole(FakeSource &source, std::function<void(port::AudioStream &)> meanwhile)
{
    const std::vector<uint8_t> &signal = source.signal;
    std::unique_ptr<port::AudioStream> out;
    ASSERT_EQ(backend_.OpenPlayback(Format(1, 8), &source, &out), (MMRESULT)MMSYSERR_NOERROR);
    MonitorRecorder recorder(File("out.raw"));
    Pump(200ms);
    out->Start();
    EXPECT_TRUE(WaitFor(
        [&] {
            if (meanwhile)
                meanwhile(*out);
            return source.PlayedBytes() == signal.size();
        },
        4s))
        << "played " << source.PlayedBytes();
    Pump(300ms);
    out.reset();
    std::vector<int16_t> heard = recorder.Finish();
    {
        std::lock_guard<std::mutex> g(source.mutex);
        for (const std::string &e : source.errors)
            ADD_FAILURE() << e;
    }

    // PipeWire's graph takes whole quanta (21 ms on the rig): the last
    // frames of a stream that runs dry come after a gap, once drained.
    const size_t silence = kRate / 20, tail = Resampled() ? kRate * 3 / 100 : 0;
    std::vector<double> expected, out16(heard.begin(), heard.end());
    for (size_t i = silence; i < signal.size() - tail; ++i)
        expected.push_back((signal[i] - 128) * 256.0);
    const Fit fit = Misfit(out16, expected);
    EXPECT_LE(fit.misfit, Resampled() ? kResampledMisfit : 0) << "the tones did not come out whole: " << fit;
    // Then the underrun plays silence.
    auto loud = [](int16_t v) { return abs(v) > (Resampled() ? 512 : 0); };
    size_t last = heard.size();
    while (last > 0 && !loud(heard[last - 1]))
        --last;
    size_t first = 0;
    while (first < heard.size() && !loud(heard[first]))
        ++first;
    // Resampling smears the edges by a few dozen samples.
    EXPECT_LE(last - first, expected.size() + (Resampled() ? tail + kRate * 3 / 100 : 0))
        << "sound after the signal";
}

// PipeWire runs its graph at the smallest latency a node asks for, rounded
// down to a power of two. The program's two streams must leave a desktop's
// quantum, 1024 frames at 48 kHz (21.3 ms), as it is: under 21.3 ms would
// halve it, and 42.7 ms or more double it, which broke the loop.
TEST_F(PulseRigTest, StreamsKeepTheDesktopsQuantum)
{
    if (!Resampled())
        GTEST_SKIP() << "only PipeWire's graph has a quantum";
    FakeSink sink;
    FakeSource source(std::vector<uint8_t>(kRate * 5, 0x80));
    std::unique_ptr<port::AudioStream> in, out;
    ASSERT_EQ(backend_.OpenCapture(Format(1, 8), &sink, &in), (MMRESULT)MMSYSERR_NOERROR);
    ASSERT_EQ(backend_.OpenPlayback(Format(1, 8), &source, &out), (MMRESULT)MMSYSERR_NOERROR);
    in->Start();
    out->Start();
    ASSERT_TRUE(WaitFor([&] { return sink.Bytes() > 0; }, 2s));
    // node.latency = "256/11025" in each of the program's streams.
    const std::string latencies = Shell("pactl list sink-inputs; pactl list source-outputs");
    double least = 1e9;
    int streams = 0;
    size_t at = 0;
    while ((at = latencies.find("node.latency = \"", at)) != std::string::npos) {
        at += 16;
        unsigned num = 0, denom = 0;
        const size_t block = latencies.rfind("#", at);
        if (sscanf(latencies.c_str() + at, "%u/%u", &num, &denom) == 2 && denom != 0 &&
            latencies.find("Larkspan", block) < latencies.find("#", at)) {
            least = std::min(least, 1000.0 * num / denom);
            streams++;
        }
    }
    EXPECT_EQ(streams, 2) << latencies;
    EXPECT_GE(least, 1000.0 * 1024 / 48000) << latencies;
    EXPECT_LT(least, 1000.0 * 2048 / 48000) << latencies;
    in->Stop();
    out->Stop();
}

TEST_F(PulseRigTest, PlaybackComesOutIntactAndPlayedFollowsTheSink)
{
    FakeSource source(PlainSignal());
    ExpectPlayedWhole(source);
}

// What the program has queued plays on while the thread feeding the server
// is held up for 150 ms, as a device plays the blocks it holds: no gap, and
// so no lasting shift between capture and playback.
TEST_F(PulseRigTest, PlaybackRidesOutAStalledFeedingThread)
{
    FakeSource source(PlainSignal());
    source.stall_at = kRate / 2;
    source.stall = 150ms;
    ExpectPlayedWhole(source);
}

// As the program plays: two blocks queued at a time, and each one more once
// a block has come back. What is queued while the stream runs must reach
// the server in time: the server's own requests are read only at the next
// wake, a block later.
TEST_F(PulseRigTest, BlocksQueuedAsOthersComeBackPlayWithoutAGap)
{
    FakeSource source(PlainSignal());
    source.queued = 2 * 2048;
    ExpectPlayedWhole(source, [&](port::AudioStream &out) {
        if (source.queued < source.signal.size() && source.PlayedBytes() + 2048 >= source.queued) {
            source.queued += 2048;
            out.Queued();
        }
    });
}

TEST_F(PulseRigTest, StopEndsTheRunAndStartBeginsAnother)
{
    FakeSink sink;
    FakeSource source;
    std::unique_ptr<port::AudioStream> in, out;
    ASSERT_EQ(backend_.OpenCapture(Format(1, 8), &sink, &in), (MMRESULT)MMSYSERR_NOERROR);
    ASSERT_EQ(backend_.OpenPlayback(Format(1, 8), &source, &out), (MMRESULT)MMSYSERR_NOERROR);
    for (int run = 0; run < 2; ++run) {
        in->Start();
        out->Start();
        EXPECT_TRUE(WaitFor([&] { return sink.Bytes() > 2048 && source.PlayedBytes() > 2048; }, 2s))
            << "run " << run;
        in->Stop();
        out->Stop();
        {
            std::lock_guard<std::mutex> g1(sink.mutex), g2(source.mutex);
            sink.closed = source.closed = true;
        }
        Pump(300ms);
        std::lock_guard<std::mutex> g1(sink.mutex), g2(source.mutex);
        EXPECT_EQ(sink.late_calls, 0) << "run " << run;
        EXPECT_EQ(source.late_calls, 0) << "run " << run;
        for (const std::string &e : source.errors)
            ADD_FAILURE() << "run " << run << ": " << e;
        sink.closed = source.closed = false;
        sink.received.clear();
        source.taken = source.played = 0;
        source.started = false;
    }
}

TEST_F(PulseRigTest, DestroyingRunningStreamsEndsCallbacks)
{
    FakeSink sink;
    FakeSource source;
    std::unique_ptr<port::AudioStream> in, out;
    ASSERT_EQ(backend_.OpenCapture(Format(1, 8), &sink, &in), (MMRESULT)MMSYSERR_NOERROR);
    ASSERT_EQ(backend_.OpenPlayback(Format(1, 8), &source, &out), (MMRESULT)MMSYSERR_NOERROR);
    in->Start();
    out->Start();
    EXPECT_TRUE(WaitFor([&] { return sink.Bytes() > 0 && source.PlayedBytes() > 0; }, 2s))
        << "captured " << sink.Bytes() << " bytes, played " << source.PlayedBytes();
    in.reset();
    out.reset();
    {
        std::lock_guard<std::mutex> g1(sink.mutex), g2(source.mutex);
        sink.closed = source.closed = true;
    }
    Pump(200ms);
    std::lock_guard<std::mutex> g1(sink.mutex), g2(source.mutex);
    EXPECT_EQ(sink.late_calls + source.late_calls, 0);
}

TEST_F(PulseRigTest, StoppedServerFailsOpensInTime)
{
    FakeSink sink;
    FakeSource source;
    std::unique_ptr<port::AudioStream> in, out;
    // One stream keeps the connection; the other open must not hang on it.
    ASSERT_EQ(backend_.OpenCapture(Format(1, 8), &sink, &in), (MMRESULT)MMSYSERR_NOERROR);
    in->Start();
    ASSERT_EQ(kill(pid_, SIGSTOP), 0);
    auto t = Clock::now();
    EXPECT_EQ(backend_.OpenPlayback(Format(1, 8), &source, &out), (MMRESULT)MMSYSERR_BADDEVICEID);
    double on_connection = SecondsSince(t);
    t = Clock::now();
    in->Stop();
    in.reset();
    double closing = SecondsSince(t);
    // A fresh connection to the stopped server.
    t = Clock::now();
    EXPECT_EQ(backend_.OpenCapture(Format(1, 8), &sink, &in), (MMRESULT)MMSYSERR_BADDEVICEID);
    double fresh = SecondsSince(t);
    kill(pid_, SIGCONT);
    printf(
        "open on a stopped server failed after %.2f s (open connection) and %.2f s (new); close took %.3f "
        "s\n",
        on_connection, fresh, closing);
    EXPECT_LT(on_connection, 6.0);
    EXPECT_LT(fresh, 6.0);
    EXPECT_LT(closing, 1.0);
    // Once it answers again, opening works.
    EXPECT_EQ(backend_.OpenCapture(Format(1, 8), &sink, &in), (MMRESULT)MMSYSERR_NOERROR);
}

// The server stopped for 2 s: the time capture heard nothing is told as
// silence, and what a server hands over late on top of that (the
// PulseAudio daemon: all its source recorded meanwhile) is dropped, so that
// capture keeps its place in time.
TEST_F(PulseRigTest, StoppedServerCaptureKeepsTime)
{
    FakeSink sink;
    std::unique_ptr<port::AudioStream> in;
    ASSERT_EQ(backend_.OpenCapture(Format(1, 8), &sink, &in), (MMRESULT)MMSYSERR_NOERROR);
    in->Start();
    const auto t = Clock::now();
    Pump(500ms);
    ASSERT_EQ(kill(pid_, SIGSTOP), 0);
    Pump(2s);
    kill(pid_, SIGCONT);
    Pump(1500ms);
    // Read when a block is due, a fragment (256 frames) later: up to two
    // blocks behind the clock; ahead of it by no more than a fragment and
    // the 0.1 % a source may run fast.
    const double clock = SecondsSince(t) * kRate, heard = (double)sink.Bytes();
    EXPECT_LE(heard, clock * 1.001 + 256);
    EXPECT_GE(heard, clock - 2 * 2048);
    in->Stop();
}

TEST_F(PulseRigTest, KilledServerKeepsTimeAndTheStreamsComeBackOnANewOne)
{
    FakeSink sink;
    FakeSource source(std::vector<uint8_t>(kRate * 30, 0x80));
    std::unique_ptr<port::AudioStream> in, out;
    ASSERT_EQ(backend_.OpenCapture(Format(1, 8), &sink, &in), (MMRESULT)MMSYSERR_NOERROR);
    ASSERT_EQ(backend_.OpenPlayback(Format(1, 8), &source, &out), (MMRESULT)MMSYSERR_NOERROR);
    in->Start();
    out->Start();
    EXPECT_TRUE(WaitFor([&] { return sink.Bytes() > 0 && source.PlayedBytes() > 0; }, 2s));
    ASSERT_EQ(kill(pid_, SIGKILL), 0);
    Pump(300ms);
    // With no server, playback goes on by the system's clock.
    const uint64_t played = source.PlayedBytes();
    const auto t = Clock::now();
    Pump(2s);
    // Played is told at the 2048-byte marks, so each end of the span may lag
    // by up to a block: the count is within a block of the clock's.
    const double expected = SecondsSince(t) * kRate;
    EXPECT_NEAR((double)(source.PlayedBytes() - played), expected, 2048 + 0.02 * expected);

    StopServer();
    StartServer();
    // The same streams open again on the new server by themselves.
    const size_t captured = sink.Bytes();
    EXPECT_TRUE(WaitFor([&] { return sink.Bytes() > captured + kRate; }, 3s));
    EXPECT_TRUE(WaitFor(
        [&] { return Shell("pactl list sink-inputs | grep -c 'media.name = \"Larkspan playback'") == "1\n"; },
        2s));
    EXPECT_TRUE(source.errors.empty()) << source.errors.front();
    in->Stop();
    out->Stop();
}

}  // namespace
