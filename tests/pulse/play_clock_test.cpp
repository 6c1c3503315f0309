// The play clock on made-up timing reports: steady playing, a server that
// is held up, a stream that runs dry, a server that takes only part of the
// queue (as PipeWire's ~275 ms), a new run, and when it will get where.
#include "play_clock.h"

#include <gtest/gtest.h>

namespace {

using port::pulse::PlayClock;

constexpr uint32_t kRate = 11025;
constexpr int64_t kMs = 1000;
constexpr int64_t kCoast = 70 * kMs;

int64_t Frames(int64_t us)
{
    return us * kRate / 1000000;
}

// A server that plays a stream at the rate from `start`, its sink holding
// `sinkLatency` of it, and asks for more or reports every `interval`.
struct Server {
    PlayClock &clock;
    int64_t start = 0;
    int64_t sinkLatency = 10 * kMs;
    uint64_t written = 0;

    // What it has taken by `at`: up to `sinkLatency` ahead of what is out.
    uint64_t Taken(int64_t at) const
    {
        int64_t taken = Frames(at - start + sinkLatency);
        return std::min<uint64_t>(taken > 0 ? taken : 0, written);
    }
    void Write(uint64_t frames)
    {
        written += frames;
        clock.Wrote(frames, start);
    }
    void Report(int64_t at, bool playing = true) { clock.Report(at, Taken(at), sinkLatency, playing); }
};

TEST(PlayClock, FollowsTheSinkBetweenReports)
{
    PlayClock clock(kRate, kCoast);
    Server server{clock};
    server.Write(kRate * 2);
    EXPECT_EQ(clock.Frames(0), 0u) << "nothing is out before a report";
    uint64_t before = 0;
    for (int64_t at = 0; at <= 1000 * kMs; at += 25 * kMs) {
        server.Report(at);
        // Halfway to the next report the clock has run on by itself.
        for (int64_t now : {at, at + 12 * kMs}) {
            uint64_t out = clock.Frames(now);
            EXPECT_NEAR((double)out, (double)Frames(now), 2.0) << "at " << now / kMs << " ms";
            EXPECT_GE(out, before);
            before = out;
        }
    }
}

TEST(PlayClock, StopsSoonAfterTheServerFallsSilentAndNeverGoesBack)
{
    PlayClock clock(kRate, kCoast);
    Server server{clock};
    server.Write(kRate * 5);
    for (int64_t at = 0; at <= 500 * kMs; at += 25 * kMs)
        server.Report(at);
    // Held up from 500 ms to 900 ms: no reports, no requests. Capture stops
    // with it, so a clock that ran on would hand back blocks ahead of it.
    const uint64_t held = clock.Frames(500 * kMs + kCoast);
    EXPECT_NEAR((double)held, (double)Frames(500 * kMs + kCoast), 2.0);
    EXPECT_EQ(clock.Frames(700 * kMs), held);
    // Its sink suspended meanwhile, a report that says it does not play:
    // where it would be had it gone on is still the last playing report's.
    clock.Report(800 * kMs, server.Taken(500 * kMs), 0, false);
    EXPECT_EQ(clock.Frames(900 * kMs), held);
    EXPECT_NEAR((double)clock.PlayingLine(900 * kMs), (double)Frames(900 * kMs), 2.0);
    // It comes back having played on in the meantime: the clock catches up.
    server.Report(900 * kMs);
    EXPECT_NEAR((double)clock.Frames(900 * kMs), (double)Frames(900 * kMs), 2.0);
    // A report that says less (the server's sink was reset, or the report
    // left before the last one) never takes back what was answered.
    const uint64_t answered = clock.Frames(910 * kMs);
    clock.Report(910 * kMs, Frames(100 * kMs), 0, true);
    EXPECT_EQ(clock.Frames(910 * kMs), answered);
    clock.Report(800 * kMs, Frames(2000 * kMs), 0, true);  // older than the one in hand
    EXPECT_LT(clock.Frames(915 * kMs), (uint64_t)Frames(1000 * kMs));
}

TEST(PlayClock, RequestsKeepItRunningBetweenRareReports)
{
    PlayClock clock(kRate, kCoast);
    Server server{clock};
    server.Write(kRate * 5);
    server.Report(0);
    // Reports come about once a second; the server's requests for data say
    // it is alive in between.
    for (int64_t at = 25 * kMs; at <= 900 * kMs; at += 25 * kMs)
        clock.Heard(at);
    EXPECT_NEAR((double)clock.Frames(900 * kMs), (double)Frames(900 * kMs), 2.0);
}

TEST(PlayClock, AStreamThatRunsDryEndsOneSinkLatencyLaterAndWaitsThere)
{
    PlayClock clock(kRate, kCoast);
    Server server{clock};
    server.sinkLatency = 20 * kMs;
    server.Write(Frames(300 * kMs));
    for (int64_t at = 0; at <= 275 * kMs; at += 25 * kMs)
        server.Report(at);
    // At 280 ms the server has taken everything and the stream stops.
    server.Report(280 * kMs, false);
    EXPECT_LT(clock.Frames(290 * kMs), server.written);
    EXPECT_EQ(clock.Frames(300 * kMs), server.written) << "the sink played out what it held";
    // Data written after the dry spell is not counted until the server says
    // it plays again, however long the clock runs on.
    server.Write(Frames(200 * kMs));
    EXPECT_EQ(clock.Frames(400 * kMs), Frames(300 * kMs));
    server.start = 400 * kMs - 300 * kMs;  // played on from 400 ms
    server.Report(410 * kMs);
    EXPECT_NEAR((double)clock.Frames(450 * kMs), (double)Frames(350 * kMs), 2.0);
    for (int64_t at = 425 * kMs; at <= 2000 * kMs; at += 25 * kMs)
        server.Report(at, server.Taken(at) < server.written);
    EXPECT_EQ(clock.Frames(3000 * kMs), server.written) << "all of it, and never more";
}

// PipeWire takes about 275 ms of a stream at most, in pieces as it asks for
// them, and reports a sink latency that stays the same even once the stream
// has run dry. The clock goes by what was taken and played, not by what the
// layer has queued or written.
TEST(PlayClock, FollowsAServerThatTakesOnlyPartOfTheQueue)
{
    PlayClock clock(kRate, kCoast);
    Server server{clock};
    server.sinkLatency = 8 * kMs;
    const uint64_t cap = Frames(275 * kMs);
    const uint64_t queued = Frames(1000 * kMs);  // the layer's whole queue
    for (int64_t at = 0; at <= 1400 * kMs; at += 25 * kMs) {
        uint64_t room = server.Taken(at) + cap - server.written;
        uint64_t more = std::min(room, queued - server.written);
        if (more)
            server.Write(more);
        bool playing = server.Taken(at) < server.written;
        server.Report(at, playing);
        uint64_t out = clock.Frames(at);
        EXPECT_LE(out, server.written);
        // Once dry, the report no longer says how much of the sink's last
        // latency is out: the clock waits that long rather than guess.
        const int64_t truth = std::min<int64_t>(Frames(at), queued);
        const int64_t slack = playing ? 2 : Frames(server.sinkLatency) + 1;
        EXPECT_LE((int64_t)out, truth + 2) << "at " << at / kMs << " ms";
        EXPECT_GE((int64_t)out, truth - slack) << "at " << at / kMs << " ms";
    }
    EXPECT_EQ(clock.Frames(1500 * kMs), queued);
}

// PipeWire at its 1024-frame quantum: at first a report counts a quantum
// as taken that its sink latency leaves out. But a sink whose clock runs a
// little fast of the system's is followed: ten minutes at 210 ppm put it
// 126 ms ahead.
TEST(PlayClock, NeverRunsAheadOfTheSampleClockButFollowsAFastSink)
{
    PlayClock clock(kRate, kCoast);
    Server server{clock, 0, 0};
    server.Write(kRate);
    clock.Report(50 * kMs, Frames(50 * kMs + 21 * kMs), 0, true);
    EXPECT_LE(clock.Frames(50 * kMs), (uint64_t)Frames(50 * kMs));
    // Nor does the line a stream that lost its server plays on from, but
    // for the 0.1 % a sink may run fast.
    EXPECT_LE(clock.PlayingLine(60 * kMs), (uint64_t)Frames(60 * kMs * 1001 / 1000));

    PlayClock fast(kRate, kCoast);
    fast.Wrote(Frames(700000 * kMs), 0);
    const int64_t at = 600000 * kMs;
    const uint64_t played = Frames(at + at / 1000000 * 210);
    fast.Report(at, played, 0, true);
    EXPECT_EQ(fast.Frames(at), played);
    EXPECT_NEAR((double)(fast.TimeAt(played + Frames(50 * kMs)) - at), 50.0 * kMs, 1.0 * kMs);
}

TEST(PlayClock, ResetStartsANewRunFromNothing)
{
    PlayClock clock(kRate, kCoast);
    Server server{clock};
    server.Write(kRate);
    server.Report(500 * kMs);
    ASSERT_GT(clock.Frames(500 * kMs), 0u);
    clock.Reset();
    EXPECT_EQ(clock.Frames(600 * kMs), 0u) << "nothing written, nothing reported";
    // The new run's stream counts from zero again.
    Server again{clock, 600 * kMs};
    again.Write(kRate);
    again.Report(700 * kMs);
    EXPECT_NEAR((double)clock.Frames(700 * kMs), (double)Frames(100 * kMs), 2.0);
}

// The streams sleep until the clock gets to the next block's end: TimeAt
// must be the first microsecond at which Frames answers that much,
// or kNever when no time will do, on every kind of report above.
TEST(PlayClock, TimeAtIsWhenFramesFirstGetsThere)
{
    auto expectTimes = [](const PlayClock &clock, int64_t now, const char *what) {
        for (uint64_t target = 1; target < 20000; target += 37) {
            PlayClock probe = clock;
            const int64_t at = probe.TimeAt(target);
            if (at == PlayClock::kNever) {
                EXPECT_LT(probe.Frames(now + 60000 * kMs), target) << what << ", " << target;
                continue;
            }
            PlayClock before = clock, then = clock;
            EXPECT_GE(then.Frames(at), target) << what << ", " << target;
            if (at > now) {
                EXPECT_LT(before.Frames(at - 1), target) << what << ", " << target;
            }
        }
    };
    PlayClock clock(kRate, kCoast);
    EXPECT_EQ(clock.TimeAt(1), PlayClock::kNever) << "nothing written";
    Server server{clock, 5 * kMs, 12 * kMs};
    server.Write(Frames(1000 * kMs));
    EXPECT_EQ(clock.TimeAt(1), PlayClock::kNever) << "no report yet";
    server.Report(40 * kMs);
    expectTimes(clock, 40 * kMs, "playing");
    clock.Heard(300 * kMs);
    expectTimes(clock, 300 * kMs, "coasting up to its limit");
    server.Report(400 * kMs, false);
    expectTimes(clock, 400 * kMs, "stopped");
    PlayClock late(kRate, kCoast);
    late.Wrote(kRate, 0);
    late.Report(100 * kMs, Frames(60 * kMs), 20 * kMs, true);
    expectTimes(late, 100 * kMs, "started well after the first write");
    PlayClock early(kRate, kCoast);
    Server first{early, 0, 0};
    first.Write(kRate);
    early.Report(50 * kMs, Frames(71 * kMs), 0, true);
    expectTimes(early, 50 * kMs, "held back by the sample clock");
}

}  // namespace
