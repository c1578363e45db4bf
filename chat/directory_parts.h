// The parts behind the façade's discovery, notification and normal-group
// members, built together by the controller (setUpDirectory).
#pragma once

#include "chat/discovery_flow.h"
#include "chat/group_operations.h"
#include "chat/join_requests.h"

namespace velmor::chat {

struct DirectoryParts
{
    DirectoryParts(ChatHost &host, QObject *parent)
        : discovery(host, parent), requests(host, parent), groups(host, parent)
    {
    }

    // What stop() forgets: the shown result and the list.
    void clear()
    {
        discovery.forget();
        requests.clear();
    }

    DiscoveryFlow discovery;
    JoinRequestDesk requests;
    GroupOperations groups;
};

} // namespace velmor::chat
