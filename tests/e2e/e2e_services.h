// The local services an end-to-end run talks to, on loopback: a relay node
// that also serves the node list (with its normal-group and discovery
// paths; it resolves the address of everybody who has signed in), and a
// group centre with creation keys and a few ready group servers.
#pragma once

#include "driven_app.h"

#include "support/fake_group_center.h"
#include "support/fake_group_server.h"
#include "support/fake_relay.h"
#include "support/fake_relay_groups.h"

#include <memory>
#include <vector>

class E2eServiceHost
{
public:
    // Creation keys the centre accepts, one group each.
    static constexpr const char *kStandardKey = "standard-key-1";
    static constexpr const char *kPremiumKey = "premium-key-1";

    E2eServiceHost();
    ~E2eServiceHost();

    // Starts everything; false (see error()) when a service cannot listen.
    bool start();
    E2eServices services() const;
    QString error() const { return m_error; }

    velmor::fakes::FakeRelay &relay() { return *m_relay; }
    velmor::fakes::FakeRelayGroups &relayGroups() { return *m_relayGroups; }
    velmor::fakes::FakeGroupCenter &center() { return *m_center; }

private:
    std::unique_ptr<velmor::fakes::FakeRelay> m_relay;
    std::unique_ptr<velmor::fakes::FakeRelayGroups> m_relayGroups;
    std::unique_ptr<velmor::fakes::FakeGroupCenter> m_center;
    QString m_error;
};
