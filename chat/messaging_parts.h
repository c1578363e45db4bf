// The feature parts behind the façade's messaging members: the inbox and
// its acknowledgements, the outbox, and the two push sockets. Built by the
// façade with its ChatHost; each part is its own class and file.
#pragma once

#include "chat/ack_queue.h"
#include "chat/inbox.h"
#include "chat/outbox.h"
#include "chat/push_channels.h"

namespace velmor::chat {

struct MessagingParts
{
    explicit MessagingParts(ChatHost &host) : acks(host), inbox(host, acks), outbox(host), push(host) {}

    AckQueue acks;
    Inbox inbox;
    Outbox outbox;
    PushChannels push;
};

} // namespace velmor::chat
