// The simulated platform's clock.
#include "virtual_clock.h"

namespace port::sim {

void VirtualClock::At(Ticks when, std::function<void()> action)
{
    events_.push({when < now_ ? now_ : when, order_++, std::move(action)});
}

bool VirtualClock::RunNext()
{
    if (events_.empty())
        return false;
    Event event = events_.top();
    events_.pop();
    now_ = event.when;
    event.action();
    return true;
}

}  // namespace port::sim
