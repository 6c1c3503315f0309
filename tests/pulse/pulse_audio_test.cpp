// The PulseAudio backend against a private daemon with virtual devices
// (e2e/sound_rig.sh), through fake sinks and sources.
#include "pulse_audio.h"

#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

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

// Runs a command through the shell and returns its output.
std::string Shell(const std::string &command)
{
    std::string out;
    FILE *p = popen(command.c_str(), "r");
    if (!p)
        return out;
    char buf[256];
    while (fgets(buf, sizeof buf, p))
        out += buf;
    pclose(p);
    return out;
}

// Raw s16 stereo frames of bus.monitor, recorded by parec in the background.
class MonitorRecorder {
public:
    explicit MonitorRecorder(std::string path) : path_(std::move(path))
    {
        pid_ = fork();
        if (pid_ == 0) {
            execlp("parec", "parec", "-d", "bus.monitor", "--raw", "--format=s16le", "--rate=11025",
                   "--channels=2", "--latency-msec=5", path_.c_str(), (char *)nullptr);
            _exit(127);
        }
    }
    // Stops recording and returns the right (output) channel.
    std::vector<int16_t> Finish()
    {
        kill(pid_, SIGINT);
        waitpid(pid_, nullptr, 0);
        std::ifstream in(path_, std::ios::binary);
        std::vector<int16_t> right;
        int16_t frame[2];
        while (in.read(reinterpret_cast<char *>(frame), sizeof frame))
            right.push_back(frame[1]);
        return right;
    }

private:
    std::string path_;
    pid_t pid_;
};

class FakeSink : public port::CaptureSink {
public:
    void Captured(const uint8_t *data, size_t bytes) override
    {
        std::lock_guard<std::mutex> g(mutex);
        if (closed)
            late_calls++;
        received.insert(received.end(), data, data + bytes);
        calls++;
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
    int calls = 0;
    bool closed = false;  // set by the test once no callback may come
    int late_calls = 0;
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
        size_t n = std::min(bytes, signal.size() - taken);
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
    size_t stall_at = SIZE_MAX;
    std::chrono::milliseconds stall{0};
};

template <typename Pred>
bool WaitFor(Pred pred, std::chrono::milliseconds limit)
{
    auto end = Clock::now() + limit;
    while (Clock::now() < end) {
        if (pred())
            return true;
        std::this_thread::sleep_for(10ms);
    }
    return pred();
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

TEST(PulseAudioBackendTest, RejectsFormatsItCannotCarry)
{
    setenv("PULSE_SERVER", "unix:/nonexistent/larkspan/native", 1);
    port::PulseAudioBackend backend;
    FakeSink sink;
    std::unique_ptr<port::AudioStream> stream;
    WAVEFORMATEX bad[5] = {Format(1, 24), Format(3, 16), Format(1, 8), Format(2, 16), Format(1, 8, 0)};
    bad[2].wFormatTag = 3;   // IEEE float
    bad[3].nBlockAlign = 2;  // inconsistent with two 16-bit channels
    for (const WAVEFORMATEX &f : bad)
        EXPECT_EQ(backend.OpenCapture(f, &sink, &stream), (MMRESULT)WAVERR_BADFORMAT)
            << f.nChannels << "x" << f.wBitsPerSample << " tag " << f.wFormatTag;
}

// A daemon of its own for every test.
class PulseRigTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (system("command -v pulseaudio >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "pulseaudio is not installed";
        const char *tmp = getenv("TMPDIR");
        std::string tmpl =
            std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") + "/larkspan-pulse-test.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
        StartDaemon();
    }
    void TearDown() override
    {
        if (dir_.empty())
            return;
        StopDaemon();
        Shell("rm -rf " + dir_);
    }
    void StartDaemon()
    {
        std::string env = Shell(std::string(PULSE_RIG_SCRIPT) + " start " + dir_ + "/rig");
        auto value = [&](const std::string &name) {
            size_t at = env.find("export " + name + "=");
            if (at == std::string::npos)
                return std::string();
            at += name.size() + 8;
            return env.substr(at, env.find('\n', at) - at);
        };
        ASSERT_FALSE(value("PULSE_SERVER").empty()) << env;
        setenv("PULSE_SERVER", value("PULSE_SERVER").c_str(), 1);
        pid_ = std::stoi(value("PULSE_RIG_PID"));
    }
    void StopDaemon() { Shell(std::string(PULSE_RIG_SCRIPT) + " stop " + dir_ + "/rig"); }
    std::string File(const char *name) const { return dir_ + "/" + name; }
    void ExpectPlayedWhole(FakeSource &source);

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
    std::string dir_;
    pid_t pid_ = 0;
};

TEST_F(PulseRigTest, CaptureDeliversTheSourceIntact)
{
    FakeSink sink8, sink16;
    std::unique_ptr<port::AudioStream> in8, in16;
    ASSERT_EQ(backend_.OpenCapture(Format(1, 8), &sink8, &in8), (MMRESULT)MMSYSERR_NOERROR);
    ASSERT_EQ(backend_.OpenCapture(Format(1, 16), &sink16, &in16), (MMRESULT)MMSYSERR_NOERROR);
    in8->Start();
    in16->Start();
    auto t = Clock::now();
    // Half a second of a ramp, in steps of 8-bit quantization.
    std::vector<int16_t> ramp;
    for (int i = 0; i < 5500; ++i)
        ramp.push_back(static_cast<int16_t>((i % 250 - 125) * 256));
    std::this_thread::sleep_for(300ms);
    PlayIntoMic(ramp);
    std::vector<uint8_t> expect8;
    for (int16_t v : ramp)
        expect8.push_back(static_cast<uint8_t>((v >> 8) + 128));
    // Wait for the ramp's end to arrive, or give up after 3 s.
    for (int i = 0; i < 60 && !sink8.Holds(expect8); i++)
        std::this_thread::sleep_for(50ms);
    double seconds = SecondsSince(t);
    size_t bytes = sink8.Bytes();
    in8->Stop();
    in16->Stop();
    // The rate is a figure for the log, not a pass mark: a loaded machine
    // starts the stream late. That the ramp arrives whole is the check.
    printf("capture delivered %.0f bytes/s\n", bytes / seconds);
    EXPECT_GT(bytes, 0u);

    std::lock_guard<std::mutex> g8(sink8.mutex), g16(sink16.mutex);
    auto at = std::search(sink8.received.begin(), sink8.received.end(), expect8.begin(), expect8.end());
    EXPECT_NE(at, sink8.received.end()) << "8-bit capture does not hold the ramp";
    const uint8_t *raw = reinterpret_cast<const uint8_t *>(ramp.data());
    auto at16 = std::search(sink16.received.begin(), sink16.received.end(), raw, raw + ramp.size() * 2);
    EXPECT_NE(at16, sink16.received.end()) << "16-bit capture does not hold the ramp";
}

// One second of a signal that is never silence, so its start is plain.
std::vector<uint8_t> PlainSignal()
{
    std::vector<uint8_t> signal(kRate);
    for (size_t i = 0; i < signal.size(); ++i) {
        uint8_t v = static_cast<uint8_t>(i * 37 + (i >> 7));
        signal[i] = v == 128 ? 129 : v;
    }
    return signal;
}

// Plays the source's signal through the default sink; it must come out
// whole, sample for sample, followed by silence, and Played must follow it.
void PulseRigTest::ExpectPlayedWhole(FakeSource &source)
{
    const std::vector<uint8_t> &signal = source.signal;
    std::unique_ptr<port::AudioStream> out;
    ASSERT_EQ(backend_.OpenPlayback(Format(1, 8), &source, &out), (MMRESULT)MMSYSERR_NOERROR);
    MonitorRecorder recorder(File("out.raw"));
    std::this_thread::sleep_for(200ms);
    out->Start();
    EXPECT_TRUE(WaitFor([&] { return source.PlayedBytes() == signal.size(); }, 4s))
        << "played " << source.PlayedBytes();
    std::this_thread::sleep_for(300ms);
    out.reset();
    std::vector<int16_t> heard = recorder.Finish();
    {
        std::lock_guard<std::mutex> g(source.mutex);
        for (const std::string &e : source.errors)
            ADD_FAILURE() << e;
    }

    auto first = std::find_if(heard.begin(), heard.end(), [](int16_t v) { return v != 0; });
    ASSERT_GE(heard.end() - first, (long)signal.size()) << "signal did not come out whole";
    size_t wrong = 0;
    for (size_t i = 0; i < signal.size(); ++i)
        wrong += first[i] != (signal[i] - 128) * 256;
    EXPECT_EQ(wrong, 0u);
    // Then the underrun plays silence.
    EXPECT_TRUE(std::all_of(first + signal.size(), heard.end(), [](int16_t v) { return v == 0; }));
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
        std::this_thread::sleep_for(300ms);
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
    EXPECT_TRUE(WaitFor([&] { return sink.Bytes() > 0 && source.PlayedBytes() > 0; }, 2s));
    in.reset();
    out.reset();
    {
        std::lock_guard<std::mutex> g1(sink.mutex), g2(source.mutex);
        sink.closed = source.closed = true;
    }
    std::this_thread::sleep_for(200ms);
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

TEST_F(PulseRigTest, KilledServerStopsCallbacksAndReopenReconnects)
{
    FakeSink sink;
    FakeSource source;
    std::unique_ptr<port::AudioStream> in, out;
    ASSERT_EQ(backend_.OpenCapture(Format(1, 8), &sink, &in), (MMRESULT)MMSYSERR_NOERROR);
    ASSERT_EQ(backend_.OpenPlayback(Format(1, 8), &source, &out), (MMRESULT)MMSYSERR_NOERROR);
    in->Start();
    out->Start();
    EXPECT_TRUE(WaitFor([&] { return sink.Bytes() > 0 && source.PlayedBytes() > 0; }, 2s));
    ASSERT_EQ(kill(pid_, SIGKILL), 0);
    std::this_thread::sleep_for(300ms);
    size_t captured = sink.Bytes();
    uint64_t played = source.PlayedBytes();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(sink.Bytes(), captured);
    EXPECT_EQ(source.PlayedBytes(), played);
    auto t = Clock::now();
    in->Stop();
    out->Stop();
    in.reset();
    out.reset();
    EXPECT_LT(SecondsSince(t), 1.0);

    StopDaemon();
    StartDaemon();
    FakeSink again;
    ASSERT_EQ(backend_.OpenCapture(Format(1, 8), &again, &in), (MMRESULT)MMSYSERR_NOERROR);
    in->Start();
    EXPECT_TRUE(WaitFor([&] { return again.Bytes() > 1000; }, 2s));
}

}  // namespace
