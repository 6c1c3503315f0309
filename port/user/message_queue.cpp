// The dialog's message queue.
#include "message_queue.h"

#include "platform.h"

namespace port {

void MessageQueue::Post(const Message &message)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        posted_.push_back(message);
    }
    Window().Wake();
}

bool MessageQueue::TakePosted(Message *message)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (posted_.empty())
        return false;
    *message = posted_.front();
    posted_.pop_front();
    return true;
}

bool MessageQueue::HasPosted()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return !posted_.empty();
}

void MessageQueue::PushInput(const InputEvent &event)
{
    std::lock_guard<std::mutex> lock(mutex_);
    input_.push_back(event);
}

bool MessageQueue::TakeInput(InputEvent *event)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (input_.empty())
        return false;
    *event = input_.front();
    input_.pop_front();
    return true;
}

void MessageQueue::Clear()
{
    std::lock_guard<std::mutex> lock(mutex_);
    posted_.clear();
    input_.clear();
}

MessageQueue &Queue()
{
    static MessageQueue queue;
    return queue;
}

}  // namespace port
