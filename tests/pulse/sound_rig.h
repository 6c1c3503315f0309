// A private sound server with virtual devices for the tests that need one
// (e2e/sound_rig.sh): the PulseAudio daemon or PipeWire, as
// LARKSPAN_SOUND_SERVER says; a test of a server that is not installed here
// is skipped with a line that says so.
#pragma once

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

// Runs a command through the shell and returns its output.
inline std::string Shell(const std::string &command)
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

// A sound server of its own for every test; PULSE_SERVER points at it.
class SoundRigTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (Shell(std::string(PULSE_RIG_SCRIPT) + " which").empty())
            GTEST_SKIP() << (getenv("LARKSPAN_SOUND_SERVER") ? getenv("LARKSPAN_SOUND_SERVER")
                                                             : "no sound server")
                         << " is not installed here";
        const char *tmp = getenv("TMPDIR");
        std::string tmpl = std::string(tmp && tmp[0] ? tmp : "/tmp") + "/larkspan-sound-test.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
        StartServer();
    }
    void TearDown() override
    {
        if (dir_.empty())
            return;
        // A failed test keeps its files and the server's logs for a look.
        if (HasFailure()) {
            StopServer(" keep");
            printf("test's files kept in %s, the sound server's in rig/ there\n", dir_.c_str());
            return;
        }
        StopServer();
        Shell("rm -rf " + dir_);
    }
    void StartServer()
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
    // " keep" leaves the server's files in place.
    void StopServer(const char *keep = "")
    {
        Shell(std::string(PULSE_RIG_SCRIPT) + " stop " + dir_ + "/rig" + keep);
    }
    std::string File(const char *name) const { return dir_ + "/" + name; }

    std::string dir_;
    pid_t pid_ = 0;  // the process that serves the PulseAudio protocol
};
