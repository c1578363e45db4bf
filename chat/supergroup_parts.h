// The super-group parts of the chat controller, built together because they
// call one another: the sync of one group (open, pull, read state, role,
// name and avatar), its information and administration, the user's list of
// groups with their realtime clients, the realtime events, and creation,
// capacity and joining.
#pragma once

#include "chat/supergroup_admin.h"
#include "chat/supergroup_creation.h"
#include "chat/supergroup_events.h"
#include "chat/supergroup_roster.h"
#include "chat/supergroup_sync.h"

namespace velmor::chat {

struct SuperGroupParts
{
    explicit SuperGroupParts(ChatHost &host)
        : sync(host)
        , admin(host, sync)
        , events(host, sync)
        , roster(host, sync, events)
        , creation(host, roster)
    {
    }

    SuperGroupSync sync;
    SuperGroupAdmin admin;
    SuperGroupEvents events;
    SuperGroupRoster roster;
    SuperGroupCreation creation;
};

} // namespace velmor::chat
