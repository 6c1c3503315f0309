// Event sounds on libcanberra's PulseAudio driver, from one thread that
// keeps a context while sounds play and drops it (and with it the server
// connection) once they are done.
#include "canberra/canberra_sounds.h"

#include "identity.h"

#include <windows.h>

#include <canberra.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace port {

namespace {

// How long MessageBeep waits for the sound to start: a server that answers
// at all answers well within it.
constexpr auto kStartWait = std::chrono::milliseconds(500);
// How long the program's end waits for a stuck thread before leaving it.
constexpr auto kEndWait = std::chrono::milliseconds(300);

}  // namespace

struct CanberraEventSounds::Player {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::pair<uint64_t, const char *>> requests;  // ticket, event id
    uint64_t nextTicket = 1;
    uint64_t answered = 0;  // tickets up to this one have their answer
    bool lastPlays = false;
    int finished = 0;  // sounds that ended since the thread last looked
    bool stop = false;
    bool ended = false;

    static void OnFinished(ca_context *, uint32_t, int, void *userdata);
    void Run();
};

void CanberraEventSounds::Player::OnFinished(ca_context *, uint32_t, int, void *userdata)
{
    Player *player = static_cast<Player *>(userdata);
    std::lock_guard<std::mutex> lock(player->mutex);
    player->finished++;
    player->changed.notify_all();
}

namespace {

// libcanberra's context: made for the first sound, dropped once none plays
// (and with it the server connection).
class Context {
public:
    Context() = default;
    Context(const Context &) = delete;
    Context &operator=(const Context &) = delete;
    ~Context() { Drop(); }

    // Starts the theme's sound `eventId`; false if it does not play.
    // `finished` is told when it ends.
    bool Play(const char *eventId, ca_finish_callback_t finished, void *userdata)
    {
        if (!context_)
            context_ = Open();
        if (!context_)
            return false;
        ca_proplist *properties = nullptr;
        ca_proplist_create(&properties);
        ca_proplist_sets(properties, CA_PROP_EVENT_ID, eventId);
        ca_proplist_sets(properties, CA_PROP_EVENT_DESCRIPTION, "Warning");
        const bool plays = ca_context_play_full(context_, 0, properties, finished, userdata) == CA_SUCCESS;
        ca_proplist_destroy(properties);
        return plays;
    }

    void Drop()
    {
        if (context_)
            ca_context_destroy(context_);
        context_ = nullptr;
    }

private:
    static ca_context *Open()
    {
        ca_context *context = nullptr;
        if (ca_context_create(&context) != CA_SUCCESS)
            return nullptr;
        // Only the sound server: where there is none, the caller rings the bell.
        if (ca_context_set_driver(context, "pulse") != CA_SUCCESS ||
            ca_context_change_props(context, CA_PROP_APPLICATION_NAME, kProgramName, CA_PROP_APPLICATION_ID,
                                    kProgramId, CA_PROP_APPLICATION_ICON_NAME, kProgramId,
                                    nullptr) != CA_SUCCESS ||
            ca_context_open(context) != CA_SUCCESS) {
            ca_context_destroy(context);
            return nullptr;
        }
        return context;
    }

    ca_context *context_ = nullptr;
};

// Lets go of a held lock for as long as it lives: libcanberra is called
// without it, since it may wait on the server.
class Unlocked {
public:
    explicit Unlocked(std::unique_lock<std::mutex> &lock) : lock_(lock) { lock_.unlock(); }
    ~Unlocked() { lock_.lock(); }
    Unlocked(const Unlocked &) = delete;
    Unlocked &operator=(const Unlocked &) = delete;

private:
    std::unique_lock<std::mutex> &lock_;
};

}  // namespace

void CanberraEventSounds::Player::Run()
{
    Context context;
    int playing = 0;  // sounds started and not yet finished
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        changed.wait(lock, [this] { return stop || !requests.empty() || finished > 0; });
        if (stop)
            break;
        playing -= finished;
        finished = 0;
        while (!requests.empty()) {
            const auto request = requests.front();
            requests.pop_front();
            bool plays;
            {
                Unlocked unlocked(lock);
                plays = context.Play(request.second, OnFinished, this);
                // A context whose server went away stays useless: the next
                // sound gets a fresh one.
                if (!plays && playing == 0)
                    context.Drop();
            }
            playing += plays;
            answered = request.first;
            lastPlays = plays;
            changed.notify_all();
        }
        if (playing <= 0) {
            Unlocked unlocked(lock);
            context.Drop();
            playing = 0;
        }
    }
    {
        Unlocked unlocked(lock);
        context.Drop();
    }
    ended = true;
    changed.notify_all();
}

CanberraEventSounds::CanberraEventSounds() : player_(std::make_shared<Player>()) {}

CanberraEventSounds::~CanberraEventSounds()
{
    if (!thread_.joinable())
        return;
    bool ended;
    {
        std::unique_lock<std::mutex> lock(player_->mutex);
        player_->stop = true;
        player_->changed.notify_all();
        ended = player_->changed.wait_for(lock, kEndWait, [this] { return player_->ended; });
    }
    // A thread stuck on a server that does not answer is left behind; it
    // holds its own reference to what it uses.
    if (ended)
        thread_.join();
    else
        thread_.detach();
}

const char *CanberraEventSounds::EventId(unsigned type)
{
    // The program warns and asks nothing else.
    return (type & MB_ICONMASK) == MB_ICONEXCLAMATION ? "dialog-warning" : "bell";
}

bool CanberraEventSounds::Play(unsigned type)
{
    // The thread comes with the first sound: most runs never beep.
    if (!thread_.joinable()) {
        std::shared_ptr<Player> player = player_;
        thread_ = std::thread([player] { player->Run(); });
    }
    std::unique_lock<std::mutex> lock(player_->mutex);
    const uint64_t ticket = player_->nextTicket++;
    player_->requests.emplace_back(ticket, EventId(type));
    player_->changed.notify_all();
    if (!player_->changed.wait_for(lock, kStartWait, [&] { return player_->answered >= ticket; }))
        return false;
    return player_->answered == ticket && player_->lastPlays;
}

}  // namespace port
