// The desktop's warning sound through libcanberra, on a private sound
// server (tests/pulse/sound_rig.h): it plays on the server as an event
// sound, and a server that is not there or does not answer leaves the
// caller to the bell at once.
#include "canberra/canberra_sounds.h"

#include <windows.h>

#include <chrono>
#include <thread>

#include <glib.h>

#include <gtest/gtest.h>

#include "sound_rig.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

double SecondsSince(Clock::time_point t)
{
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// The dialog's thread waiting for events, as it does while the message box
// is up.
void RunDialogThread(std::chrono::milliseconds span)
{
    const auto end = Clock::now() + span;
    while (Clock::now() < end)
        if (!g_main_context_iteration(nullptr, FALSE))
            std::this_thread::sleep_for(10ms);
}

class EventSoundTest : public SoundRigTest {};

TEST_F(EventSoundTest, TheWarningPlaysOnTheServerAsAnEventSound)
{
    MonitorRecorder recorder(File("out.raw"));
    std::this_thread::sleep_for(200ms);
    {
        port::CanberraEventSounds sounds;
        auto t = Clock::now();
        EXPECT_TRUE(sounds.Play(MB_ICONEXCLAMATION));
        EXPECT_LT(SecondsSince(t), 0.6);
        // Play answers once the server has the sound: it lists it at once.
        std::string inputs = Shell("pactl list sink-inputs");
        EXPECT_NE(inputs.find("event.id = \"dialog-warning\""), std::string::npos) << inputs;
        EXPECT_NE(inputs.find("media.role = \"event\""), std::string::npos) << inputs;
        EXPECT_NE(inputs.find("application.name = \"Larkspan\""), std::string::npos) << inputs;
        EXPECT_NE(inputs.find("application.icon_name = \"org.example.Larkspan\""), std::string::npos)
            << inputs;
        // Done playing, the sound leaves no stream and no connection behind:
        // an idle program holds nothing on the server.
        RunDialogThread(1500ms);
        EXPECT_EQ(Shell("pactl list sink-inputs | grep -c 'application.name = \"Larkspan\"' || true"), "0\n");
        EXPECT_EQ(Shell("pactl list clients | grep -c 'application.name = \"Larkspan\"' || true"), "0\n");
    }
    std::vector<int16_t> heard = recorder.Finish();
    int loudest = 0;
    for (int16_t v : heard)
        loudest = std::max(loudest, abs(v));
    EXPECT_GT(loudest, 1000) << "the sound did not reach the sink";
}

TEST_F(EventSoundTest, AServerThatIsGoneOrHeldUpLeavesTheCallerToTheBell)
{
    {
        setenv("PULSE_SERVER", "unix:/nonexistent/larkspan/native", 1);
        port::CanberraEventSounds sounds;
        auto t = Clock::now();
        EXPECT_FALSE(sounds.Play(MB_ICONEXCLAMATION));
        EXPECT_LT(SecondsSince(t), 0.5);
    }
    StopServer();
    StartServer();
    ASSERT_EQ(kill(pid_, SIGSTOP), 0);
    auto t = Clock::now();
    {
        port::CanberraEventSounds sounds;
        EXPECT_FALSE(sounds.Play(MB_ICONEXCLAMATION));
    }
    // The server is asked for 0.3 s.
    EXPECT_LT(SecondsSince(t), 0.6);
    kill(pid_, SIGCONT);
}

TEST(EventSoundNames, EachBeepHasItsSoundFromTheTheme)
{
    EXPECT_STREQ(port::CanberraEventSounds::EventId(MB_ICONEXCLAMATION), "dialog-warning");
    EXPECT_STREQ(port::CanberraEventSounds::EventId(MB_OK), "bell");
    // Other style bits do not change the sound.
    EXPECT_STREQ(port::CanberraEventSounds::EventId(MB_ICONEXCLAMATION | 0x4000), "dialog-warning");
}

}  // namespace
