// The dialog's message queue.
#include "message_queue.h"

namespace port {

void MessageQueue::Post(const Message &message)
{
    posted_.push_back(message);
}

bool MessageQueue::TakePosted(Message *message)
{
    if (posted_.empty())
        return false;
    *message = posted_.front();
    posted_.pop_front();
    return true;
}

bool MessageQueue::HasPosted()
{
    return !posted_.empty();
}

void MessageQueue::PushInput(const InputEvent &event)
{
    input_.push_back(event);
}

bool MessageQueue::TakeInput(InputEvent *event)
{
    if (input_.empty())
        return false;
    *event = input_.front();
    input_.pop_front();
    return true;
}

void MessageQueue::Clear()
{
    posted_.clear();
    input_.clear();
}

MessageQueue &Queue()
{
    static MessageQueue queue;
    return queue;
}

}  // namespace port
